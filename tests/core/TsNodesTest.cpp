// Tree nodes and properties: child order and lookups, moves and their
// failures, ownership hand-overs, listener events, paths, descriptions,
// deep and wide trees.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "library/core/TsNodes.h"
#include "support/Strings.h"
#include "tests/TestSupport.h"

using namespace ts;
using namespace ts::test;

namespace {

WideString Names(const TTsTreeNode& n) {
    WideString s;
    for (int i = 0; i < n.ChildCount(); ++i) s += (i ? u"," : u"") + n.ChildByIndex(i)->Name();
    return s;
}

// Logs "event:first,second" for every notification of a node.
void Watch(TTsTreeNode& node, std::vector<WideString>& log) {
    for (const char16_t* ev : {u"ad", u"rm", u"skey"}) {
        WideString name = ev;
        node.Listeners().Subscribe(ev, {&log, 0}, [&log, name, &node](TObject& sender, TTsArgs args, TTsValue&) {
            EXPECT_EQ(&sender, &node);
            auto text = [](const TTsArg& a) {
                if (a.Type() == vtWideString) return a.AsStr();
                return a.AsObj() ? static_cast<TTsTreeNode*>(a.AsObj())->Name() : WideString(u"nil");
            };
            log.push_back(name + u":" + text(args[0]) + u"," + text(args[1]));
            return false;
        });
    }
}

class TMyNode : public TTsTreeNode {
    TS_CLASS(TMyNode)
public:
    using TTsTreeNode::TTsTreeNode;
    std::unique_ptr<TTsTreeNode> NewNode(WideString name) override {
        return std::make_unique<TMyNode>(std::move(name));
    }
    WideString DescribeSelf() const override { return u"[" + Name() + u"]"; }
};

}  // namespace

TEST(TsTreeNode, ChildrenKeepOrderAndAreFoundByName) {
    auto root = std::make_unique<TTsTreeNode>(u"r");
    TTsTreeNode* a1 = root->AddChild(u"a");
    TTsTreeNode* b = root->AddChild(u"b");
    TTsTreeNode* a2 = root->AddChild(u"a");
    EXPECT_EQ(a1->Parent(), root.get());
    EXPECT_EQ(root->FirstChild(u"a"), a1);
    EXPECT_EQ(root->LastChild(u"a"), a2);
    EXPECT_EQ(root->FirstChild(u"zz"), nullptr);
    EXPECT_EQ(root->ChildCount(u"a"), 2);
    EXPECT_EQ(root->ChildCount(), 3);
    EXPECT_EQ(a2->IndexInParent(), 2);
    EXPECT_EQ(root->IndexInParent(), -1);

    TTsHashFind st;
    std::vector<TTsTreeNode*> seen;
    for (TTsTreeNode* n = root->FindChildren(u"a", st); n; n = root->NextChild(st)) seen.push_back(n);
    EXPECT_EQ(seen, (std::vector<TTsTreeNode*>{a1, a2}));
    root->FindChildren(u"*", st);
    root->AddChild(u"c");
    EXPECT_THROW(root->NextChild(st), ETsHashChangedBetweenFind);

    // Renaming keeps the position and moves the node between name groups.
    b->SetName(u"a");
    EXPECT_EQ(Names(*root), u"a,a,a,c");
    EXPECT_EQ(b->IndexInParent(), 1);
    EXPECT_EQ(root->ChildCount(u"a"), 3);
    EXPECT_EQ(root->ChildCount(u"b"), 0);
    a1->SetName(u"z");
    EXPECT_EQ(root->FirstChild(u"a"), b);
    EXPECT_EQ(root->FirstChild(u"z"), a1);

    // A derived class makes its own kind of children.
    TMyNode mine(u"m");
    EXPECT_EQ(mine.AddChild(u"x")->ClassName(), u"TMyNode");
}

TEST(TsTreeNode, FailedMovesLeaveTheTreeAlone) {
    auto root = std::make_unique<TTsTreeNode>(u"r");
    TTsTreeNode* a = root->AddChild(u"a");
    TTsTreeNode* b = a->AddChild(u"b");
    TTsTreeNode* c = b->AddChild(u"c");
    TTsTreeNode* d = root->AddChild(u"d");
    auto intact = [&] {
        EXPECT_EQ(Names(*root), u"a,d");
        EXPECT_EQ(Names(*a), u"b");
        EXPECT_EQ(Names(*b), u"c");
        EXPECT_EQ(c->Parent(), b);
        EXPECT_EQ(a->Parent(), root.get());
    };

    EXPECT_EQ(MessageOf<ETsMakingLoopingTree>([&] { a->Move(c, nullptr, -1); }),
              u"Attempted to create recursive tree by moving TTsTreeNode from TTsTreeNode to TTsTreeNode.");
    EXPECT_EQ(MessageOf<ETsMakingNodeSelfChild>([&] { a->MoveTo(a); }),
              u"Attempted to move TTsTreeNode to its own children.");
    EXPECT_EQ(MessageOf<ETsMakingNodeParentNil>([&] { a->MoveTo(nullptr); }),
              u"Attempted to move TTsTreeNode to nil parent.");
    EXPECT_THROW(root->MoveTo(c), ETsMakingLoopingTree);
    intact();

    b->MoveTo(a);  // the only child moving in place: nothing happens
    EXPECT_EQ(MessageOf<ETsBrokenNodeRelationship>([&] { b->Move(a, b, 0); }),
              u"Parent TTsTreeNode is indicated to contain the TTsTreeNode but it turned out to be not so.");
    EXPECT_THROW(a->Move(root.get(), c, 0), ETsBrokenNodeRelationship);  // c is no child of root
    intact();

    auto lone = std::make_unique<TTsTreeNode>(u"x");
    EXPECT_EQ(MessageOf<ETsRootNodeOwned>([&] { lone->MoveTo(d); }),
              u"Cannot move root TTsTreeNode: it belongs to whoever holds it.");
    EXPECT_EQ(MessageOf<ETsRootNodeOwned>([&] { root->Destroy(); }),
              u"Cannot destroy root TTsTreeNode: it belongs to whoever holds it.");
    EXPECT_THROW(lone->Detach(), ETsRootNodeOwned);
    intact();
}

TEST(TsTreeNode, MovesPlaceNodesAndNotifyListeners) {
    std::vector<WideString> log;  // outlives the tree, whose end it hears
    auto root = std::make_unique<TTsTreeNode>(u"r");
    TTsTreeNode* p1 = root->AddChild(u"p1");
    TTsTreeNode* p2 = root->AddChild(u"p2");
    TTsTreeNode* x = p1->AddChild(u"x");
    TTsTreeNode* y = p1->AddChild(u"y");
    p1->AddChild(u"z");
    Watch(*y, log);

    y->MoveTo(p2);
    EXPECT_EQ(log, (std::vector<WideString>{u"rm:nil,p1", u"ad:p2,nil"}));
    EXPECT_EQ(Names(*p1), u"x,z");
    EXPECT_EQ(y->Parent(), p2);
    y->Move(p1, x, 0);
    EXPECT_EQ(Names(*p1), u"x,y,z");
    y->Move(p1, x, 1);
    EXPECT_EQ(Names(*p1), u"y,x,z");
    y->Move(p1, nullptr, 99);
    EXPECT_EQ(Names(*p1), u"x,z,y");
    y->Move(p1, nullptr, 1);
    EXPECT_EQ(Names(*p1), u"x,y,z");
    EXPECT_EQ(y->IndexInParent(), 1);
    EXPECT_EQ(p1->FirstChild(u"y"), y);

    log.clear();
    y->SetName(u"w");
    EXPECT_EQ(log, (std::vector<WideString>{u"skey:y,w"}));
    EXPECT_EQ(y->Ancestors(), (std::vector<TTsTreeNode*>{p1, root.get()}));
    EXPECT_TRUE(root->Ancestors().empty());
}

TEST(TsTreeNode, BadNamesAndThrowingListenersLeaveNoHalfAttachedNode) {
    auto root = std::make_unique<TTsTreeNode>(u"r");
    const WideString bad =
        u"a\x01"
        u"b";
    int32_t seq = root->Children().Seq();
    EXPECT_THROW(root->AddChild(bad), ETsHashBadKey);
    EXPECT_EQ(root->ChildCount(), 0);
    EXPECT_EQ(root->Children().Seq(), seq);

    auto stray = std::make_unique<TTsTreeNode>(bad);  // a root may carry any name
    EXPECT_THROW(root->AdoptChild(std::move(stray)), ETsHashBadKey);
    ASSERT_NE(stray, nullptr);  // still the caller's
    EXPECT_TRUE(stray->IsRoot());
    stray->SetName(u"fine");
    EXPECT_EQ(root->AdoptChild(std::move(stray))->Name(), u"fine");
    EXPECT_EQ(stray, nullptr);

    TTsTreeNode* kid = root->FirstChild(u"fine");
    EXPECT_THROW(kid->SetName(bad), ETsHashBadKey);
    EXPECT_EQ(kid->Name(), u"fine");
    EXPECT_EQ(root->FirstChild(u"fine"), kid);

    // A listener failing while the node leaves its parent: the node goes back
    // to where it was.
    TTsTreeNode* p1 = root->AddChild(u"p1");
    TTsTreeNode* p2 = root->AddChild(u"p2");
    p1->AddChild(u"x");
    TTsTreeNode* y = p1->AddChild(u"y");
    p1->AddChild(u"z");
    y->Listeners().Subscribe(u"rm", {nullptr, 1},
                             [](TObject&, TTsArgs, TTsValue&) -> bool { throw EInvalidOperation(u"no leaving"); });
    EXPECT_THROW(y->MoveTo(p2), EInvalidOperation);
    EXPECT_EQ(y->Parent(), p1);
    EXPECT_EQ(Names(*p1), u"x,y,z");
    EXPECT_EQ(p2->ChildCount(), 0);
    EXPECT_EQ(y->IndexInParent(), 1);
    EXPECT_THROW(y->Detach(), EInvalidOperation);
    EXPECT_EQ(Names(*p1), u"x,y,z");
}

namespace {
class TCounted : public TTsTreeNode {
    TS_CLASS(TCounted)
public:
    TCounted(WideString name, int* freed) : TTsTreeNode(std::move(name)), freed_(freed) {}
    ~TCounted() override { ++*freed_; }
    std::unique_ptr<TTsTreeNode> NewNode(WideString name) override {
        return std::make_unique<TCounted>(std::move(name), freed_);
    }

private:
    int* freed_;
};
}  // namespace

TEST(TsTreeNode, OwnershipHandOvers) {
    int freed = 0;
    std::vector<WideString> log;
    {
        auto root = std::make_unique<TCounted>(u"r", &freed);
        TTsTreeNode* a = root->AddChild(u"a");
        TTsTreeNode* b = root->AddChild(u"b");
        a->AddChild(u"a1")->AddChild(u"a11");
        root->AddChild(u"c");

        a->Destroy();  // with its subtree
        EXPECT_EQ(freed, 3);
        EXPECT_EQ(Names(*root), u"b,c");

        std::unique_ptr<TTsTreeNode> held = b->Detach();
        EXPECT_EQ(held.get(), b);
        EXPECT_TRUE(b->IsRoot());
        EXPECT_EQ(Names(*root), u"c");
        root->AdoptChild(std::move(held), root->FirstChild(u"c"), 1);
        EXPECT_EQ(Names(*root), u"b,c");
        EXPECT_EQ(freed, 3);

        b->AddChild(u"b1");
        b->AddChild(u"b2");
        b->DeleteChildren();
        EXPECT_EQ(freed, 5);
        EXPECT_EQ(b->ChildCount(), 0);

        Watch(*root->FirstChild(u"c"), log);
        root->FirstChild(u"c")->AddChild(u"c1");
    }
    EXPECT_EQ(freed, 9);                                     // and r, b, c, c1
    EXPECT_EQ(log, (std::vector<WideString>{u"rm:nil,r"}));  // heard while its parent went
}

TEST(TsTreeNode, PathsAndDescriptions) {
    auto root = std::make_unique<TTsTreeNode>();
    TTsTreeNode* a = root->AddChild(u"a");
    TTsTreeNode* b = a->AddChild(u"b");
    EXPECT_EQ(b->PathFrom(nullptr, u"\\"), u"\\a\\b");
    EXPECT_EQ(b->PathFrom(root.get(), u"/"), u"a/b");
    EXPECT_EQ(b->PathFrom(a, u"/"), u"b");
    EXPECT_EQ(b->PathFrom(b, u"/"), u"/");
    EXPECT_EQ(root->PathFrom(nullptr, u"/"), u"/");
    TTsTreeNode other;
    EXPECT_EQ(MessageOf<ETsNodeNotPartOfPath>([&] { b->PathFrom(&other, u"/"); }),
              u"Parents of TTsTreeNode do not contain required TTsTreeNode.");
    EXPECT_THROW(a->PathFrom(b, u"/"), ETsNodeNotPartOfPath);

    TTsValue src = TTsValue::FromInt(12);
    src.Str = u"a.tsn";
    src.Kinds |= vkString;
    b->Props().SetValue(u"source", src);
    b->Listeners().Subscribe(u"ad", {nullptr, 0}, [](TObject&, TTsArgs, TTsValue&) { return false; });
    auto obj = [](const TObject* o) { return u"<" + WideString(o->ClassName()) + u" $" + AddressText(o) + u">"; };
    EXPECT_EQ(b->Describe(), obj(b) + u" b l1 p1 <12@a.tsn c0 child of...\r\n" + obj(a) +
                                 u" a l0 p0 c1 child of...\r\n" + obj(root.get()) + u"  l0 p0 c1 ROOT!");

    TMyNode mine(u"m");
    EXPECT_EQ(mine.AddChild(u"x")->Describe(), u"[x] child of...\r\n[m] ROOT!");
}

TEST(TsTreeNode, DeepAndWideTrees) {
    const int n = 100000;
    {
        auto root = std::make_unique<TTsTreeNode>(u"r");
        TTsTreeNode* deepest = root.get();
        for (int i = 0; i < n; ++i) deepest = deepest->AddChild(u"d");
        WideString d = deepest->Describe();
        EXPECT_EQ(std::count(d.begin(), d.end(), u'\n'), n);
        EXPECT_TRUE(d.ends_with(u"> r l0 p0 c1 ROOT!"));
        EXPECT_EQ(deepest->PathFrom(nullptr, u"/").size(), 1 + 2 * static_cast<size_t>(n));
        EXPECT_THROW(root->MoveTo(deepest), ETsMakingLoopingTree);
    }  // freed without recursion

    auto wide = std::make_unique<TTsTreeNode>(u"w");
    for (int i = 0; i < n; ++i) {
        WideString name = u"n" + IntToStr(i);
        TTsTreeNode* c = wide->AddChild(name);
        ASSERT_EQ(wide->FirstChild(name), c);
    }
    TTsTreeNode* mid = wide->FirstChild(u"n50000");
    EXPECT_EQ(mid->IndexInParent(), 50000);
    mid->Destroy();
    EXPECT_EQ(wide->FirstChild(u"n50000"), nullptr);
    EXPECT_EQ(wide->FirstChild(u"n50001")->IndexInParent(), 50000);
    EXPECT_EQ(wide->ChildCount(), n - 1);
}

TEST(TsProperties, SetFindAndReplace) {
    TTsTreeNode node(u"n");
    TTsProperties& props = node.Props();
    EXPECT_EQ(MessageOf<ETsAddingNullProperty>([&] { props.SetValue(u"p", TTsValue()); }),
              u"Attempted to add a null property 'p' to TTsProperties.");
    EXPECT_EQ(props.Count(), 0);
    EXPECT_EQ(MessageOf<ETsUnownedProperty>([&] { TTsProperty orphan(nullptr, u"x"); }),
              u"TTsProperty is not attached to any TTsProperties object.");

    props.SetValue(u"b", TTsValue::FromInt(1));
    props.SetValue(u"a", TTsValue::FromStr(u"x"));
    TTsProperty* second = props.SetValue(u"b", TTsValue::FromInt(2));
    EXPECT_EQ(props.Count(), 2);
    EXPECT_EQ(props.Find(u"b"), second);
    EXPECT_EQ(props.Get(u"b").Value.Int, 2);
    EXPECT_EQ(&second->Owner(), &props);
    EXPECT_EQ(props.ByIndex(0)->Name(), u"a");
    EXPECT_TRUE(props.HasKind(u"a", vkString | vkRaw));
    EXPECT_FALSE(props.HasKind(u"a", vkInt));
    EXPECT_FALSE(props.HasKind(u"q", vkInt));
    EXPECT_EQ(props.Find(u"B"), nullptr);
    EXPECT_EQ(MessageOf<ETsNoProperty>([&] { props.Get(u"zz"); }), u"Property 'zz' is undefined on TTsProperties.");
    EXPECT_THROW(props.SetValue(u"a\x01", TTsValue::FromInt(1)), ETsHashBadKey);

    // Replacing a property: listeners see both, the old one still alive.
    WideString seen;
    props.Listeners().Subscribe(u"sobj", {&seen, 0}, [&seen](TObject&, TTsArgs args, TTsValue&) {
        seen = static_cast<TTsProperty*>(args[3].AsObj())->Value.DumpText(false) + u" -> " +
               static_cast<TTsProperty*>(args[2].AsObj())->Value.DumpText(false);
        return false;
    });
    second = props.SetValue(u"b", TTsValue::FromInt(3));
    EXPECT_EQ(seen, u"i2 -> i3");
    props.Listeners().Unsubscribe(u"sobj", {&seen, 0});
    second = props.SetValue(u"b", TTsValue::FromInt(2));

    WideString addr = AddressText(second);
    EXPECT_EQ(second->Describe(), u"<TTsProperty $" + addr + u"> b: i2");
    EXPECT_EQ(props.ItemText(1, u"\r\n"), u"#1  b = TTsProperty$" + addr + u"  <TTsProperty $" + addr + u"> b: i2");

    // A "thn" listener may answer for names that are not stored.
    TTsProperty virt(&props, u"virtual");
    virt.Value = TTsValue::FromBool(true);
    props.Listeners().Subscribe(u"thn", {&virt, 0}, [&virt](TObject&, TTsArgs args, TTsValue& result) {
        if (args[0].AsStr() == u"virtual") result = TTsValue::FromObj(&virt);
        return false;
    });
    EXPECT_EQ(props.Find(u"virtual"), &virt);
    EXPECT_TRUE(props.HasKind(u"virtual", vkBool));
    EXPECT_EQ(props.Find(u"nothing"), nullptr);
    EXPECT_EQ(props.Count(), 2);
}

TEST(TsProperties, ManyNamesInAnyOrderStayFindable) {
    TTsProperties props;
    const int n = 2000;
    for (int i = 0; i < n; ++i) {
        int k = (i * 7919) % n;  // a permutation: inserts land everywhere
        WideString name = u"p" + IntToStr(k);
        props.SetValue(name, TTsValue::FromInt(k));
        ASSERT_EQ(props.Get(name).Value.Int, k);
    }
    EXPECT_EQ(props.Count(), n);
    for (int k = 0; k < n; ++k) ASSERT_EQ(props.Find(u"p" + IntToStr(k))->Value.Int, k);
    for (int i = 1; i < n; ++i) ASSERT_LT(props.ByIndex(i - 1)->Name(), props.ByIndex(i)->Name());
}

// A collection with its own property class must still get its factory's
// properties, and lookups must tell properties from other objects.
TEST(TsProperties, DerivedFactoriesAndForeignEntries) {
    // Bigger than a plain property and more strictly aligned: it cannot
    // live in a plain property's slot.
    class TTaggedProperty : public TTsProperty {
    public:
        using TTsProperty::TTsProperty;
        long double Extra = 1.5L;
        WideString Tag = u"a tag too long to be held in place";
    };
    class TTaggedProperties : public TTsProperties {
    public:
        std::unique_ptr<TTsProperty> NewProperty(const WideString& name) override {
            return std::make_unique<TTaggedProperty>(this, name);
        }
    };
    TTaggedProperties tagged;
    TTsProperty* p = tagged.SetValue(u"longerThanInline", TTsValue::FromInt(4));
    EXPECT_NE(dynamic_cast<TTaggedProperty*>(p), nullptr);
    EXPECT_EQ(p->Name(), u"longerThanInline");
    EXPECT_EQ(tagged.Find(u"longerThanInline"), p);
    EXPECT_EQ(tagged.ByIndex(0), p);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % alignof(TTaggedProperty), 0u);
    EXPECT_EQ(static_cast<TTaggedProperty*>(p)->Extra, 1.5L);

    TTsProperties props;
    props.Add(u"alien", {}, std::make_unique<TTsObject>());
    props.SetValue(u"startGlobal", TTsValue::FromInt(1));
    EXPECT_EQ(props.Find(u"alien"), nullptr);
    EXPECT_EQ(props.ByIndex(0), nullptr);
    EXPECT_EQ(props.ByIndex(1)->Name(), u"startGlobal");
    EXPECT_EQ(props.Get(u"startGlobal").Value.Int, 1);
}

// Replacing one property frees it alone: the others keep their place and
// their pointers, in a short scanned collection and in a long hashed one.
TEST(TsProperties, ReplaceKeepsTheOthersInShortAndLongCollections) {
    for (int n : {5, 40}) {
        TTsProperties props;
        std::vector<TTsProperty*> held;
        for (int i = n - 1; i >= 0; --i) held.push_back(props.SetValue(u"name" + IntToStr(i), TTsValue::FromInt(i)));
        std::reverse(held.begin(), held.end());  // held[i] is "name" + i
        int freedAt = -1;
        props.Listeners().Subscribe(u"sobj", {&freedAt, 0}, [&freedAt](TObject&, TTsArgs args, TTsValue&) {
            freedAt = args[1].AsInt();
            return false;
        });
        const int k = n / 2;
        TTsProperty* fresh = props.SetValue(u"name" + IntToStr(k), TTsValue::FromStr(u"new"));
        EXPECT_EQ(props.Count(), n);
        EXPECT_EQ(props.Find(u"name" + IntToStr(k)), fresh);
        EXPECT_EQ(props.IndexOfObject(fresh), freedAt);
        for (int i = 0; i < n; ++i) {
            if (i == k) continue;
            ASSERT_EQ(props.Find(u"name" + IntToStr(i)), held[static_cast<size_t>(i)]) << n;
            ASSERT_EQ(held[static_cast<size_t>(i)]->Value.Int, i);
        }
        for (int i = 1; i < n; ++i) ASSERT_LT(props.ByIndex(i - 1)->Name(), props.ByIndex(i)->Name());
        EXPECT_EQ(props.ByIndex(freedAt)->Value.Str, u"new");
        // A name alike but for its end is another property.
        EXPECT_EQ(props.Find(u"name"), nullptr);
        props.SetValue(u"name", TTsValue::FromBool(true));
        EXPECT_EQ(props.ByIndex(0)->Name(), u"name");
        EXPECT_EQ(props.Count(), n + 1);
    }
}

// A node's properties share blocks of slots. A property taken out outlives
// the collection and its block; a property replaced over and over reuses
// its slots instead of using up new ones; room reserved and then overrun
// still gives every property its own place.
TEST(TsProperties, SlotsOutliveTheirCollectionAndAreReused) {
    std::unique_ptr<TObject> taken;
    {
        auto node = std::make_unique<TTsTreeNode>(u"n");
        for (int i = 0; i < 5; ++i)
            node->Props().SetValue(u"p" + IntToStr(i), TTsValue::FromStr(u"value " + IntToStr(i)));
        const int at = node->Props().IndexOf(u"p3");
        taken = node->Props().Extract(at);
        EXPECT_EQ(node->Props().Count(), 4);
    }
    auto* prop = dynamic_cast<TTsProperty*>(taken.get());
    ASSERT_NE(prop, nullptr);
    EXPECT_EQ(prop->Name(), u"p3");
    EXPECT_EQ(prop->Value.Str, u"value 3");
    taken.reset();

    TTsProperties props;
    props.SetValue(u"kept", TTsValue::FromInt(0));
    std::set<const void*> places;
    for (int i = 0; i < 1000; ++i) places.insert(props.SetValue(u"churn", TTsValue::FromInt(i)));
    EXPECT_LE(places.size(), 3u);
    EXPECT_EQ(props.Get(u"churn").Value.Int, 999);
    EXPECT_EQ(props.Get(u"kept").Value.Int, 0);

    TTsProperties reserved;
    reserved.Reserve(3);
    std::vector<TTsProperty*> made;
    for (int i = 0; i < 40; ++i) {
        made.push_back(reserved.SetValue(u"r" + IntToStr(i), TTsValue::FromInt(i)));
        if (i == 10) reserved.Reserve(12);  // less than there is: nothing to do
    }
    EXPECT_EQ(std::set<TTsProperty*>(made.begin(), made.end()).size(), made.size());
    for (int i = 0; i < 40; ++i) ASSERT_EQ(reserved.Get(u"r" + IntToStr(i)).Value.Int, i);
}
