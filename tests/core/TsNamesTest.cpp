// Names stored once: the pool's sharing and bound, names that own their text,
// and the trees and threads that share pooled names.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "library/core/TsNames.h"
#include "library/core/TsNodes.h"
#include "support/Strings.h"

using namespace ts;

namespace {

TEST(TsNamePool, EqualTextsShareOneEntryUntilTheBound) {
    TTsNamePool pool(3, 100);
    TTsName a(u"source", pool), b(WideString(u"source"), pool);
    EXPECT_FALSE(a.IsOwned());
    EXPECT_EQ(&a.Str(), &b.Str());
    EXPECT_EQ(pool.Count(), 1u);

    TTsName c(u"startGlobal", pool), d(u"x", pool);
    EXPECT_EQ(pool.Count(), 3u);
    EXPECT_EQ(pool.Units(), 6u + 11u + 1u);
    // Full: a new name owns its text, known names are still shared.
    TTsName e(u"innerGlobal", pool);
    EXPECT_TRUE(e.IsOwned());
    EXPECT_EQ(e.Str(), u"innerGlobal");
    EXPECT_EQ(pool.Count(), 3u);
    TTsName f(u"startGlobal", pool);
    EXPECT_EQ(&f.Str(), &c.Str());
}

TEST(TsNamePool, UnitsAndLongNamesAreBoundedToo) {
    TTsNamePool pool(100, 10);
    TTsName a(u"abcdefgh", pool);
    EXPECT_FALSE(a.IsOwned());
    TTsName b(u"xyz", pool);  // 8 + 3 > 10
    EXPECT_TRUE(b.IsOwned());
    TTsName c(u"xy", pool);
    EXPECT_FALSE(c.IsOwned());

    TTsNamePool roomy;
    WideString longName(TTsNamePool::MaxNameLength + 1, u'n');
    TTsName d(longName, roomy);
    EXPECT_TRUE(d.IsOwned());
    EXPECT_EQ(d.Str(), longName);
    EXPECT_EQ(roomy.Count(), 0u);
    EXPECT_EQ(TTsName(longName.substr(1), roomy).IsOwned(), false);

    // Empty names need no pool at all.
    TTsName empty(u"", pool);
    EXPECT_FALSE(empty.IsOwned());
    EXPECT_TRUE(empty.empty());
    EXPECT_EQ(&empty.Str(), &TTsName().Str());
}

TEST(TsName, CopiesAndMovesOfOwnedAndPooledNames) {
    TTsNamePool pool(1, 100);
    TTsName pooled(u"pooled", pool), owned(u"owned", pool);
    ASSERT_FALSE(pooled.IsOwned());
    ASSERT_TRUE(owned.IsOwned());

    TTsName pooledCopy(pooled), ownedCopy(owned);
    EXPECT_EQ(&pooledCopy.Str(), &pooled.Str());
    EXPECT_TRUE(ownedCopy.IsOwned());
    EXPECT_EQ(&ownedCopy.Str(), &owned.Str());  // shared, counted
    EXPECT_EQ(ownedCopy, owned);
    {
        TTsName first(u"short-lived", pool);
        ASSERT_TRUE(first.IsOwned());
        TTsName survivor(first);
        first = pooled;  // the first holder lets go
        EXPECT_EQ(survivor.Str(), u"short-lived");
    }

    const WideString* text = &owned.Str();
    TTsName moved(std::move(owned));
    EXPECT_EQ(&moved.Str(), text);
    EXPECT_TRUE(owned.empty());  // a moved-from name is empty, not dangling

    moved = pooled;
    EXPECT_EQ(&moved.Str(), &pooled.Str());
    pooledCopy = ownedCopy;
    EXPECT_TRUE(pooledCopy.IsOwned());
    EXPECT_EQ(pooledCopy.Str(), u"owned");
    pooledCopy = pooledCopy;
    EXPECT_EQ(pooledCopy.Str(), u"owned");
    ownedCopy = TTsName(u"pooled", pool);
    EXPECT_FALSE(ownedCopy.IsOwned());
    EXPECT_EQ(ownedCopy, pooled);
    EXPECT_FALSE(ownedCopy == TTsName(u"other", pool));
}

// Names of the shared pool compare by address; names of a pool of one's
// own, owned names and the empty name must still equal them by text, and
// lookups by name must find entries keyed by any of them.
TEST(TsName, EveryKindOfNameComparesByText) {
    TTsNamePool own(1, 100), full(1, 100);
    const TTsName filler(u"filler", full);
    const TTsName shared(u"text"), ownPooled(u"text", own), ownedHere(u"text", full);
    ASSERT_FALSE(ownPooled.IsOwned());
    ASSERT_TRUE(ownedHere.IsOwned());
    EXPECT_FALSE(ownPooled.IsCanonical());
    const WideString longText(TTsNamePool::MaxNameLength + 1, u'x');
    const TTsName longA(longText), longB(longText), other(u"texts");
    EXPECT_TRUE(shared == ownPooled && ownPooled == shared && shared == ownedHere && ownPooled == ownedHere);
    EXPECT_TRUE(longA == longB);
    EXPECT_FALSE(shared == other || ownPooled == other || longA == shared);
    EXPECT_TRUE(TTsName() == TTsName(u"", own));
    EXPECT_FALSE(TTsName() == shared);
    EXPECT_EQ(ownPooled.Str(), u"text");

    // Short (scanned) and long (hashed) collections.
    for (int filler : {2, 20}) {
        TTsProperties props;
        for (int i = 0; i < filler; ++i) props.SetValue(u"f" + IntToStr(i), TTsValue::FromInt(i));
        TTsProperty* a = props.SetValue(ownPooled, TTsValue::FromInt(-1));
        TTsProperty* b = props.SetValue(longA, TTsValue::FromInt(-2));
        EXPECT_EQ(props.Find(shared), a) << filler;
        EXPECT_EQ(props.Find(ownedHere), a) << filler;
        EXPECT_EQ(props.Find(longB), b) << filler;
        EXPECT_EQ(props.Find(other), nullptr) << filler;
        EXPECT_EQ(props.Count(), filler + 2);
    }
}

TEST(TsName, TreesShareTheirNamesWithTheirEntries) {
    // Other tests of this program may have filled the shared pool (a
    // hundred thousand distinct keys do): names are then owned. Either way
    // an entry's key is its node's or property's own text.
    const bool nodePooled = !TTsName(u"record").IsOwned(), propPooled = !TTsName(u"startGlobal").IsOwned();
    TTsTreeNode a(u"root"), b(u"root");
    TTsTreeNode* x = a.AddChild(u"record");
    TTsTreeNode* y = b.AddChild(u"record");
    TTsProperty* p = x->Props().SetValue(u"startGlobal", TTsValue::FromInt(1));
    TTsProperty* q = y->Props().SetValue(u"startGlobal", TTsValue::FromInt(2));
    EXPECT_EQ(x->Name(), y->Name());
    EXPECT_EQ(p->Name(), q->Name());
    EXPECT_EQ(x->Props().Key(0), p->Name());
    EXPECT_EQ(a.Children().Key(0).data(), x->Name().data());
    EXPECT_EQ(x->Props().Key(0).data(), p->Name().data());
    // Pooled: one text for both trees.
    EXPECT_TRUE(!nodePooled || &x->Name() == &y->Name());
    EXPECT_TRUE(!propPooled || &p->Name() == &q->Name());

    // Too long to pool: owned, and still one text for a name made again at
    // once (the thread remembers it), which outlives the node that made it.
    const WideString longName(TTsNamePool::MaxNameLength + 1, u'L');
    TTsTreeNode* l1 = a.AddChild(longName);
    TTsTreeNode* l2 = b.AddChild(longName);
    EXPECT_EQ(&l1->Name(), &l2->Name());
    l1->Destroy();
    EXPECT_EQ(l2->Name(), longName);
    EXPECT_EQ(b.LastChild(longName), l2);

    // A rename takes a name of its own and keeps the entry's key in step.
    x->SetName(u"renamed");
    EXPECT_EQ(a.Children().Key(0), u"renamed");
    EXPECT_EQ(y->Name(), u"record");
    EXPECT_EQ(a.FirstChild(u"renamed"), x);
}

TEST(TsName, TwoThreadsBuildTreesWithTheSameAndTheirOwnNames) {
    // Names both threads use and names only one does, made at once: each
    // tree must come out whole and every equal name shared.
    auto build = [](int thread, std::vector<const WideString*>& shared, std::unique_ptr<TTsTreeNode>& root) {
        root = std::make_unique<TTsTreeNode>(u"root");
        for (int i = 0; i < 2000; ++i) {
            TTsTreeNode* node = root->AddChild(u"threadNode" + IntToStr(i % 50));
            node->Props().SetValue(u"sharedProperty", TTsValue::FromInt(i));
            node->Props().SetValue(u"t" + IntToStr(thread) + u"only" + IntToStr(i % 300), TTsValue::FromInt(thread));
        }
        for (int i = 0; i < 50; ++i) shared.push_back(&root->ChildByIndex(i)->Name());
        shared.push_back(&root->ChildByIndex(0)->Props().Find(u"sharedProperty")->Name());
    };
    std::vector<const WideString*> first, second;
    std::unique_ptr<TTsTreeNode> one, two;
    std::thread t1([&] { build(1, first, one); });
    std::thread t2([&] { build(2, second, two); });
    t1.join();
    t2.join();
    // Shared texts, unless the pool was full (other tests of this program
    // may have filled it); then each name has a text of its own.
    ASSERT_EQ(first.size(), second.size());
    for (size_t i = 0; i < first.size(); ++i) {
        ASSERT_EQ(*first[i], *second[i]);
        ASSERT_EQ(first[i] == second[i], !TTsName(*first[i]).IsOwned()) << i;
    }
    for (const auto* root : {one.get(), two.get()}) {
        ASSERT_EQ(root->ChildCount(), 2000);
        for (int i = 0; i < 2000; ++i) {
            const TTsTreeNode* node = root->ChildByIndex(i);
            ASSERT_EQ(node->Name(), u"threadNode" + IntToStr(i % 50));
            ASSERT_EQ(node->Props().Get(u"sharedProperty").Value.Int, i);
        }
    }
    EXPECT_EQ(one->ChildByIndex(7)->Props().Find(u"t1only7")->Value.Int, 1);
    EXPECT_EQ(two->ChildByIndex(7)->Props().Find(u"t1only7"), nullptr);
}

}  // namespace
