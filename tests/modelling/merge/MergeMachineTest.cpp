// The merge machine: inheritance and merge lookup, assembling children,
// overlays, back-references, clean-up, limits, errors and the owner's hooks.
#include <gtest/gtest.h>
#include <pthread.h>

#include <string_view>

#include "library/modelling/merge/MergeMachine.h"
#include "support/Strings.h"
#include "tests/TestSupport.h"

using namespace ts;
using namespace ts::test;

namespace {

// Defines nodes tersely. Flags: i = inheriting, p = prepending, o = off-context.
struct Model {
    TMergeMachine& m;

    TMmID Node(TMmID parent, const WideString& name, std::string_view flags = "",
               std::initializer_list<const char16_t*> right = {}, std::initializer_list<const char16_t*> left = {}) {
        TMmNode* n = m.CreateDefinedNode();
        n->Parent = parent;
        n->Name = name;
        n->IsInheriting = flags.find('i') != flags.npos;
        n->IsPrepending = flags.find('p') != flags.npos;
        n->IsOffContext = flags.find('o') != flags.npos;
        for (auto [names, list] : {std::pair{right, &n->RightMerges}, std::pair{left, &n->LeftMerges}})
            for (const char16_t* target : names) {
                auto ref = std::make_unique<TMmNode>();
                ref->Name = target;
                list->Add(std::move(ref));
            }
        return n->ID;
    }
    // Plain children f0, f1, ... that only make a level wide.
    void Pad(TMmID parent, int count) {
        for (int i = 0; i < count; ++i) Node(parent, u"f" + IntToStr(i));
    }
};

const TMmNode& M(const TMergeMachine& m, TMmID id) { return m.Merged[id]; }

// The merged children's names, blank-separated.
WideString Names(const TMergeMachine& m, TMmID id, int max = 1000) {
    WideString s;
    const TMmIdList& c = M(m, id).Children;
    for (int i = 0; i < c.Count() && i < max; ++i) s += (i ? u" " : u"") + M(m, c.ID(i)).Name;
    return s;
}

WideString Tags(const TMergeMachine& m, TMmID id) {
    WideString s;
    const TMmIdList& c = M(m, id).Children;
    for (int i = 0; i < c.Count(); ++i) s += (i ? u" " : u"") + IntToStr(c.Tag(i));
    return s;
}

// Restores the module's creation hook after a test installs one.
struct HookGuard {
    ~HookGuard() { MergeMachineErrorHook() = nullptr; }
};

}  // namespace

TEST(MergeMachine, RefusesWhatCannotBeMerged) {
    TMergeMachine none;
    EXPECT_EQ(MessageOf<EMmNoneDefined>([&] { none.Merge(); }), u"No Defined nodes are found on Merge.");
    EXPECT_EQ(MessageOf<EMergeMachine>([&] { none.MergeNode(42); }), u"Unknown node ID to merge (42).");

    TMergeMachine rootless;
    Model{rootless}.Node(3, u"r");
    EXPECT_EQ(MessageOf<EMmDefinedNoRoot>([&] { rootless.Merge(); }),
              u"First Defined node must be root (Parent = -1) but it has Parent = 3.");

    TMergeMachine badParent;
    Model{badParent}.Node(-1, u"r");
    Model{badParent}.Node(9, u"a");
    EXPECT_EQ(MessageOf<EMergeMachine>([&] { badParent.Merge(); }), u"Defined node 1 has unknown Parent = 9.");

    TMergeMachine twice;
    Model t{twice};
    TMmID r = t.Node(-1, u"r");
    t.Node(r, u"a");
    t.Node(r, u"b");
    twice.Merge();
    EXPECT_EQ(Names(twice, 0), u"a b");
    EXPECT_EQ(MessageOf<EMergeMachine>([&] { twice.Merge(); }), u"TMergeMachine.Merge can be called just once.");
}

TEST(MergeMachine, InheritsFromADefinitionAndOverlaysAcrossOrigins) {
    for (int pad : {0, 40}) {  // narrow levels are scanned, wide ones indexed
        TMergeMachine m;
        Model d{m};
        TMmID r = d.Node(-1, u"r");
        TMmID def = d.Node(r, u"def", "o");
        TMmID a = d.Node(def, u"a");
        TMmID b = d.Node(def, u"b");
        d.Pad(r, pad);
        TMmID n = d.Node(r, u"def", "i");
        TMmID ownB = d.Node(n, u"b", "i");
        d.Node(n, u"c");
        d.Pad(n, pad);
        m.Merge();

        EXPECT_EQ(M(m, n).Ancestor, def);
        EXPECT_EQ(Names(m, n, 3), u"a b c");
        EXPECT_EQ(M(m, n).Children.Count(), 3 + pad);
        const TMmNode& inheritedA = M(m, M(m, n).Children.ID(0));
        EXPECT_EQ(inheritedA.Parent, n);
        EXPECT_TRUE(inheritedA.CopiedFrom.Contains(a));
        // The own inheriting b took the inherited b's place and origin.
        const TMmNode& overlay = M(m, M(m, n).Children.ID(1));
        EXPECT_EQ(M(m, n).Children.Tag(1), 1);
        EXPECT_TRUE(overlay.CopiedFrom.Contains(ownB));
        ASSERT_EQ(overlay.Overlays.Count(), 1);
        EXPECT_TRUE(m.Merged.Items(overlay.Overlays.ID(0)) == nullptr);  // unreachable now, removed
        EXPECT_FALSE(overlay.IsInheriting);                              // took the plain b's flag
        EXPECT_EQ(m.Merged.Items(ownB), nullptr);
        EXPECT_EQ(M(m, b).Name, u"b");  // the definition itself stays
    }
}

TEST(MergeMachine, OverlayNeedsExactlyOneEarlierChildOfAnotherOrigin) {
    for (int pad : {0, 40}) {
        // Same origin: both kept, the inheriting one inherits its sibling.
        TMergeMachine same;
        Model s{same};
        TMmID r = s.Node(-1, u"r");
        TMmID n = s.Node(r, u"n");
        s.Pad(n, pad);
        TMmID plainB = s.Node(n, u"b");
        s.Node(plainB, u"x");
        TMmID inhB = s.Node(n, u"b", "i");
        same.Merge();
        EXPECT_EQ(M(same, n).Children.Count(), pad + 2);
        EXPECT_EQ(M(same, inhB).Ancestor, plainB);
        EXPECT_EQ(Names(same, inhB), u"x");

        // A plain child is never overlaid by an off-context namesake.
        TMergeMachine offc;
        Model o{offc};
        r = o.Node(-1, u"r");
        TMmID def = o.Node(r, u"N", "o");
        o.Node(def, u"b");
        n = o.Node(r, u"N", "i");
        o.Pad(n, pad);
        o.Node(n, u"b", "o");
        offc.Merge();
        EXPECT_EQ(M(offc, n).Children.Count(), pad + 2);

        // Two candidates from two other origins.
        TMergeMachine amb;
        Model x{amb};
        r = x.Node(-1, u"r");
        TMmID l = x.Node(r, u"L", "o");
        x.Node(l, u"b");
        def = x.Node(r, u"N", "o");
        x.Node(def, u"b");
        n = x.Node(r, u"N", "i", {}, {u"L"});
        x.Pad(n, pad);
        x.Node(n, u"b", "i");
        EXPECT_EQ(MessageOf<EMmManyOverlayTargets>([&] { amb.Merge(); }),
                  u"Ambiguous overlay target among children of 'N'.");
    }
}

TEST(MergeMachine, OverlaidChildrenStayAnOriginApartFromInheritedOnes) {
    // w's own children join the definition's; its inheriting v must still
    // overlay the v inherited from the outer w, another origin.
    TMergeMachine m;
    Model d{m};
    TMmID r = d.Node(-1, u"r");
    TMmID p = d.Node(r, u"P", "o");
    TMmID w = d.Node(p, u"w", "o");
    d.Node(w, u"u");
    TMmID n = d.Node(r, u"P", "i");
    TMmID ownW = d.Node(n, u"w", "oi");
    d.Node(ownW, u"v", "i");
    TMmID outer = d.Node(r, u"w", "o");
    d.Node(outer, u"v");
    m.Merge();
    TMmID joined = M(m, n).Children.ID(0);
    EXPECT_EQ(M(m, joined).Ancestor, outer);
    EXPECT_EQ(Names(m, joined), u"v u");
    EXPECT_EQ(Tags(m, joined), u"2 0");
}

TEST(MergeMachine, MergeListsAndInheritanceOrderChildren) {
    for (bool prepending : {false, true}) {
        TMergeMachine m;
        Model d{m};
        TMmID r = d.Node(-1, u"r");
        TMmID l = d.Node(r, u"L", "o");
        TMmID lChild = d.Node(l, u"l");
        d.Node(d.Node(r, u"R", "o"), u"r");
        d.Node(d.Node(r, u"N", "o"), u"i");
        TMmID n = d.Node(r, u"N", prepending ? "ip" : "i", {u"R"}, {u"L"});
        d.Node(n, u"o");
        m.Merge();
        EXPECT_EQ(Names(m, n), prepending ? u"l o i r" : u"l i o r");
        EXPECT_EQ(Tags(m, n), prepending ? u"2 0 1 3" : u"2 1 0 3");
        for (int i = 0; i < M(m, n).Children.Count(); ++i) EXPECT_EQ(M(m, M(m, n).Children.ID(i)).Parent, n);
        EXPECT_TRUE(M(m, M(m, n).Children.ID(0)).CopiedFrom.Contains(lChild));
    }

    // Unknown and empty merge names.
    TMergeMachine missing;
    Model x{missing};
    x.Node(x.Node(-1, u"r"), u"a", "", {u"zzz"});
    EXPECT_EQ(MessageOf<EMmNoMergeNode>([&] { missing.Merge(); }), u"Cannot locate node 'zzz' to merge 'a' with.");
    TMergeMachine empty;
    Model e{empty};
    e.Node(e.Node(-1, u"r"), u"a", "", {u""});
    EXPECT_EQ(MessageOf<EMmBadFinder>([&] { empty.Merge(); }), u"FName given to TMmFinder is empty.");
}

TEST(MergeMachine, LeftMergesFitIntoTheOriginTagsAndCopiesIntoTheLimit) {
    for (int refs : {253, 254, 0}) {
        TMergeMachine m;
        if (refs == 0) {  // 253 references again, under a tight limit on nodes
            refs = 253;
            m.MaxMergedNodes = 100;
        }
        Model d{m};
        TMmID r = d.Node(-1, u"r");
        d.Node(d.Node(r, u"t", "o"), u"k");
        TMmID n = d.Node(r, u"n");
        for (int i = 0; i < refs; ++i) {
            auto ref = std::make_unique<TMmNode>();
            ref->Name = u"t";
            m.Defined[n].LeftMerges.Add(std::move(ref));
        }
        if (m.MaxMergedNodes) {
            EXPECT_EQ(MessageOf<EMergeMachine>([&] { m.Merge(); }),
                      u"Merging would make more than 100 nodes; the model's merges expand too far.");
        } else if (refs == 253) {
            m.Merge();
            EXPECT_EQ(M(m, n).Children.Count(), 253);
            EXPECT_EQ(M(m, n).Children.Tag(0), 2);
            EXPECT_EQ(M(m, n).Children.Tag(252), 254);
        } else {
            EXPECT_EQ(MessageOf<EOverflow>([&] { m.Merge(); }), u"Origins pool exceeded when adding node merges.");
        }
    }
}

TEST(MergeMachine, FinderPrefersTheNearestSinkPointAndRefusesTwo) {
    for (int pad : {0, 40}) {
        TMergeMachine m;
        Model d{m};
        TMmID r = d.Node(-1, u"r");
        d.Node(r, u"x", "o");
        TMmID p = d.Node(r, u"p");
        d.Pad(p, pad);
        TMmID nearX = d.Node(p, u"x", "o");
        TMmID inh = d.Node(d.Node(p, u"q"), u"x", "i");
        m.Merge();
        EXPECT_EQ(M(m, inh).Ancestor, nearX);

        TMergeMachine two;
        Model t{two};
        r = t.Node(-1, u"r");
        p = t.Node(r, u"p");
        t.Node(p, u"x", "o");
        t.Pad(p, pad);
        t.Node(p, u"x", "o");
        t.Node(t.Node(p, u"q"), u"x", "i");
        EXPECT_EQ(MessageOf<EMmManySinkPoints>([&] { two.Merge(); }),
                  u"Multiple possible inheritance targets for node 'x' among children of parent 'p'.");
    }
}

TEST(MergeMachine, FinderRefusesAParentAndASiblingOfTheSameName) {
    for (int pad : {0, 40}) {
        for (std::string_view kind : {"merge", "inheritance"}) {
            TMergeMachine m;
            Model d{m};
            TMmID x = d.Node(d.Node(-1, u"r"), u"x");
            d.Pad(x, pad);
            if (kind == "merge")
                d.Node(x, u"s", "", {u"x"});
            else
                d.Node(x, u"x", "i");
            TMmID sibling = d.Node(x, u"x");
            EXPECT_EQ(MessageOf<EMmAmbiguousFind>([&] { m.Merge(); }),
                      u"Ambiguous node " + Utf8ToWide(kind) +
                          u" reference 'x': both parent and sibling of the same name exist. Use '(off-context)' "
                          u"for definite reference.");
            // Off-context, the sibling is the definite target.
            TMergeMachine definite;
            Model e{definite};
            x = e.Node(e.Node(-1, u"r"), u"x");
            e.Pad(x, pad);
            TMmID from = kind == "merge" ? e.Node(x, u"s", "", {u"x"}) : e.Node(x, u"x", "i");
            sibling = e.Node(x, u"x", "o");
            e.Node(sibling, u"k");
            definite.Merge();
            EXPECT_EQ(Names(definite, from), u"k");
        }
    }
}

TEST(MergeMachine, MissingAncestorIsReportedAndCanBeForgiven) {
    TMergeMachine raised;
    Model d{raised};
    d.Node(d.Node(-1, u"r", "i"), u"a");
    EXPECT_EQ(MessageOf<EMmNoAncestor>([&] { raised.Merge(); }), u"Cannot find ancestor of inheriting node 'r'.");

    TMergeMachine forgiven;
    Model f{forgiven};
    TMmID r = f.Node(-1, u"r", "i");
    f.Node(f.Node(r, u"a"), u"zz", "i");
    f.Node(r, u"def", "oi");  // off-context: no ancestor, no report
    std::vector<WideString> reports;
    forgiven.OnError = [&](TMergeMachine& machine, Exception& e) {
        EXPECT_EQ(&machine, &forgiven);
        EXPECT_NE(dynamic_cast<EMmNoAncestor*>(&e), nullptr);
        reports.push_back(e.Message());
    };
    forgiven.Merge();
    EXPECT_EQ(reports, (std::vector<WideString>{u"Cannot find ancestor of inheriting node 'r'.",
                                                u"Cannot find ancestor of inheriting node 'zz'."}));
    EXPECT_EQ(Names(forgiven, 0), u"a def");
    EXPECT_TRUE(M(forgiven, 2).IsMerged);
}

TEST(MergeMachine, RecursiveMergesAreRefusedButEnclosingTargetsAreNot) {
    TMergeMachine m;
    Model d{m};
    TMmID r = d.Node(-1, u"r");
    d.Node(r, u"a", "", {u"b"});
    d.Node(r, u"b", "", {u"a"});
    EXPECT_EQ(MessageOf<EMmRecursiveMerging>([&] { m.Merge(); }), u"Recursive node merges: a #1 > b #2 >> a #1.");

    // Two off-context namesakes: the inheriting one inherits the other, whose
    // merge reference leads back to the first while it is still being merged.
    TMergeMachine back;
    Model b{back};
    r = b.Node(-1, u"r");
    b.Node(r, u"x", "oi");
    b.Node(r, u"x", "o", {u"x"});
    EXPECT_EQ(MessageOf<EMmRecursiveMerging>([&] { back.Merge(); }), u"Recursive node merges: x #1 > x #2 >> x #1.");

    // c takes over its enclosing p, whose child is c itself: the copy made of
    // c recognises itself and becomes its own child, staying in its place.
    TMergeMachine e;
    Model x{e};
    TMmID p = x.Node(x.Node(-1, u"r"), u"p");
    TMmID c = x.Node(p, u"c", "", {u"p"});
    e.Merge();
    ASSERT_EQ(M(e, c).Children.Count(), 1);
    TMmID copy = M(e, c).Children.ID(0);
    EXPECT_EQ(M(e, copy).Parent, c);
    ASSERT_EQ(M(e, copy).Children.Count(), 1);
    EXPECT_EQ(M(e, copy).Children.ID(0), copy);
    EXPECT_EQ(M(e, copy).Parent, c);  // not moved under itself
}

TEST(MergeMachine, InheritingFromAnEnclosingNamesakeClosesACycle) {
    // Copy chains an owner filled in itself are searched whole; the result is the same.
    for (bool ownChains : {false, true}) {
        TMergeMachine m;
        Model d{m};
        TMmID r = d.Node(-1, u"r");
        if (ownChains) m.Defined[r].CopiedFrom.Add(77);
        TMmID outer = d.Node(r, u"x");
        TMmID inner = d.Node(outer, u"x", "i");
        m.Merge();
        EXPECT_EQ(M(m, inner).Ancestor, outer);
        ASSERT_EQ(M(m, inner).Children.Count(), 1);
        TMmID copy = M(m, inner).Children.ID(0);
        EXPECT_NE(copy, inner);
        EXPECT_TRUE(M(m, copy).CopiedFrom.Contains(inner));
        EXPECT_EQ(M(m, copy).Ancestor, inner);
        ASSERT_EQ(M(m, copy).Children.Count(), 1);
        EXPECT_EQ(M(m, copy).Children.ID(0), inner);  // the cycle
        EXPECT_EQ(m.Merged.Count(), 4);               // clean-up kept every node of the cycle
    }
}

TEST(MergeMachine, RemoveUnusedKeepsAllReferencedOrReachable) {
    struct Expect {
        uint8_t mode;
        std::vector<TMmID> deleted;
    };
    // 5 is dropped by the overlay, 7 never reached, 9 replaced by the overlay.
    for (const Expect& x : {Expect{0, {}}, Expect{1, {7}}, Expect{2, {9, 7, 5}}}) {
        struct Recording : TMergeMachine {
            std::vector<TMmID> deleted;
            void DeleteNode(TMmID id) override {
                deleted.push_back(id);
                TMergeMachine::DeleteNode(id);
            }
        } m;
        m.CleanupMode = x.mode;
        Model d{m};
        TMmID r = d.Node(-1, u"r");
        TMmID def = d.Node(r, u"def", "o");
        d.Node(def, u"a");
        d.Node(def, u"b");
        TMmID n = d.Node(r, u"def", "i");
        d.Node(n, u"b", "i");
        d.Node(n, u"c");
        d.Node(-1, u"orphan");
        m.Merge();
        EXPECT_EQ(m.deleted, x.deleted) << "mode " << int(x.mode);
        EXPECT_EQ(m.Merged.Count(), 11);
        EXPECT_EQ(Names(m, n), u"a b c");
    }
}

TEST(MergeMachine, ModelsThatExpandWithoutEndAreStopped) {
    // Each level of this recursion copies the last copy once more: copy
    // chains grow with depth, quadratically in all.
    auto define = [](TMergeMachine& m) {
        Model d{m};
        TMmID p = d.Node(d.Node(d.Node(-1, u"c"), u"a"), u"c", "i");
        p = d.Node(p, u"c", "o");
        d.Node(p, u"c", "io");
        d.Node(p, u"c", "", {}, {u"c"});
    };
    TMergeMachine m;
    m.MaxMergedNodes = 1000;
    m.MaxCopyGenerations = 1000;
    define(m);
    EXPECT_EQ(MessageOf<EMergeMachine>([&] { m.Merge(); }),
              u"Merging would keep more than 16000 copy-chain entries; the model's merges expand too far.");
    EXPECT_LT(m.Merged.Count(), 1000);

    // Under the default limits the copies of copies end it first: 6 defined
    // nodes allow 4 * 6 + 64 generations.
    TMergeMachine deep;
    define(deep);
    EXPECT_EQ(MessageOf<EMergeMachine>([&] { deep.Merge(); }),
              u"Merging would copy a node through more than 88 generations of copies; the model's merges keep "
              u"opening levels.");
    EXPECT_LT(deep.Merged.Count(), 1000);
}

// A chain of merges n0 + n1, n1 + n2, ... copies the last node's child once
// per merge: a chain of length L copies it through L generations.
TEST(MergeMachine, CopyGenerationsAreBounded) {
    auto chain = [](TMergeMachine& m, int length) {
        Model d{m};
        TMmID r = d.Node(-1, u"r");
        for (int i = 0; i < length; ++i) d.Node(r, u"n" + IntToStr(i), "", {(u"n" + IntToStr(i + 1)).c_str()});
        d.Node(d.Node(r, u"n" + IntToStr(length)), u"leaf");
    };
    TMergeMachine atLimit;
    atLimit.MaxCopyGenerations = 5;
    chain(atLimit, 5);
    atLimit.Merge();
    EXPECT_EQ(Names(atLimit, 1), u"leaf");
    EXPECT_EQ(M(atLimit, M(atLimit, 1).Children.ID(0)).CopiedFrom.Count(), 5);

    TMergeMachine onePast;
    onePast.MaxCopyGenerations = 5;
    chain(onePast, 6);
    EXPECT_EQ(MessageOf<EMergeMachine>([&] { onePast.Merge(); }),
              u"Merging would copy a node through more than 5 generations of copies; the model's merges keep opening "
              u"levels.");

    // The default grows with the model: every finite chain fits.
    TMergeMachine long_;
    chain(long_, 2000);
    long_.Merge();
    EXPECT_EQ(M(long_, M(long_, 1).Children.ID(0)).CopiedFrom.Count(), 2000);
}

TEST(MergeMachine, DeepModelsEndInAnErrorNotACrash) {
    auto chain = [](TMergeMachine& m, int depth) {
        Model d{m};
        TMmID p = d.Node(-1, u"r");
        for (int i = 1; i < depth; ++i) p = d.Node(p, u"n");
    };
    TMergeMachine deep;
    chain(deep, 5000);
    EXPECT_EQ(MessageOf<EListError>([&] { deep.Merge(); }), u"Too deep TMmIdStack.");
    TMergeMachine fits;
    chain(fits, 1000);
    fits.Merge();
    EXPECT_EQ(fits.Merged.Count(), 1000);

    // A chain of merge references nests just the same.
    auto merges = [](TMergeMachine& m, int length) {
        Model d{m};
        TMmID r = d.Node(-1, u"r");
        for (int i = 0; i < length; ++i) {
            WideString next = u"n" + IntToStr(i + 1);
            TMmNode& n = m.Defined[d.Node(r, u"n" + IntToStr(i))];
            if (i + 1 < length) {
                auto ref = std::make_unique<TMmNode>();
                ref->Name = next;
                n.RightMerges.Add(std::move(ref));
            }
        }
    };
    TMergeMachine longMerges;
    merges(longMerges, 5000);
    EXPECT_EQ(MessageOf<EListError>([&] { longMerges.Merge(); }), u"Too deep TMmIdStack.");
    TMergeMachine shortMerges;
    merges(shortMerges, 300);
    shortMerges.Merge();

    // On a thread with a small stack the limit comes from the stack itself.
    struct Run {
        int depth;
        bool fails;
        WideString result;
    };
    auto onThread = [&](size_t stackSize, int depth, bool fails) {
        Run run{depth, fails, {}};
        pthread_attr_t attr;
        pthread_attr_init(&attr);
        pthread_attr_setstacksize(&attr, stackSize);
        pthread_t t;
        auto body = [](void* arg) -> void* {
            Run& run = *static_cast<Run*>(arg);
            TMergeMachine m;
            Model d{m};
            TMmID p = d.Node(-1, u"r");
            for (int i = 1; i < run.depth; ++i) p = d.Node(p, u"n");
            if (run.fails)
                run.result = MessageOf<EListError>([&] { m.Merge(); });
            else
                EXPECT_NO_THROW(m.Merge());
            return nullptr;
        };
        EXPECT_EQ(pthread_create(&t, &attr, body, &run), 0);
        pthread_join(t, nullptr);
        pthread_attr_destroy(&attr);
        return run.result;
    };
    EXPECT_EQ(onThread(256 * 1024, 4000, true), u"Too deep TMmIdStack.");
    onThread(64 * 1024 * 1024, 4000, false);
}

TEST(MergeMachine, CreationHookSeesTheNodeBeingMerged) {
    HookGuard guard;
    int calls = 0;
    MergeMachineErrorHook() = [&](EMergeMachine& e) {
        ++calls;
        const TMergeMachine* m = e.Machine();
        if (m && m->CurrentNode() >= 0) e.SetMessage(e.Message() + u" Node: " + m->Merged[m->CurrentNode()].Name);
    };
    TMergeMachine none;
    EXPECT_EQ(MessageOf<EMergeMachine>([&] { none.Merge(); }), u"No Defined nodes are found on Merge.");

    TMergeMachine m;
    Model d{m};
    TMmID x = d.Node(d.Node(-1, u"r"), u"x");
    d.Node(x, u"s", "", {u"x"});
    d.Node(x, u"x");
    try {
        m.Merge();
        FAIL();
    } catch (const EMmAmbiguousFind& e) {
        EXPECT_EQ(e.Message(),
                  u"Ambiguous node merge reference 'x': both parent and sibling of the same name exist. Use "
                  u"'(off-context)' for definite reference. Node: s");
        // The search is kept although the finder is gone.
        EXPECT_EQ(e.FinderClass(), u"TMmFinder");
        EXPECT_EQ(e.Kind(), TMmFinder::fkMerge);
        EXPECT_EQ(e.FName(), u"x");
        EXPECT_EQ(e.StartParent(), x);
        EXPECT_EQ(e.Machine(), &m);
    }
    EXPECT_EQ(calls, 2);
}

TEST(MergeMachine, HooksThatBreakTheOrderOfMergingAreCaught) {
    // Merging a child before its parent counts as merged: its lookup fails.
    struct Eager : TMergeMachine {
        void NodeMerged(TMmID id) override {
            if (id == 1) MergeNode(Merged[1].Children.ID(0));
        }
    } eager;
    Model d{eager};
    d.Node(d.Node(d.Node(-1, u"r"), u"p"), u"x", "i");
    EXPECT_EQ(MessageOf<EMmFindingNonMergedParent>([&] { eager.Merge(); }),
              u"Tried to find a node among children of non-merged parent 'p'.");

    struct Leaky : TMergeMachine {
        void NodeMerged(TMmID id) override { Stack.Push(id); }
    } leaky;
    Model{leaky}.Node(-1, u"r");
    EXPECT_EQ(MessageOf<EMergeMachine>([&] { leaky.Merge(); }), u"Broken stack after merging node 0.");
}

TEST(MergeMachine, DerivedMachineKeepsItsOwnRecords) {
    // An owner that filters "implicit" children, copies every child taken
    // through a merge, and appends an implicit child to each node with children.
    struct Owner : TMergeMachine {
        std::vector<std::pair<TMmID, TMmID>> inherited;
        std::vector<TMmID> taken;
        TObject implicitData;
        bool CanTakeChild(TMmID, TMmID child) override { return Merged[child].Name != u"implicit"; }
        void Inherited(TMmID id, TMmID from) override { inherited.emplace_back(id, from); }
        TMmID TakeMergedChild(TMmID child, const TMmNode& ref) override {
            taken.push_back(child);
            TMmNode* copy = CopyNode(Merged[child]);
            copy->Name += u"." + ref.Name;
            return copy->ID;
        }
        void NodeMerged(TMmID id) override {
            if (Merged[id].Children.IsEmpty() || Merged[id].Name == u"implicit") return;
            TMmNode* n = NewMergedNode();
            n->Name = u"implicit";
            n->Parent = id;
            n->Data = &implicitData;
            Merged[id].Children.Add(n->ID, 0);
        }
    } m;
    TObject defData;
    Model d{m};
    TMmID r = d.Node(-1, u"r");
    TMmID def = d.Node(r, u"T", "o");
    m.Defined[def].Data = &defData;
    TMmID k = d.Node(def, u"k");
    m.Defined[k].Data = &defData;
    TMmID n = d.Node(r, u"T", "i");
    TMmID user = d.Node(r, u"u", "", {u"T"});
    m.Merge();

    EXPECT_EQ(Names(m, def), u"k implicit");
    EXPECT_EQ(Names(m, n), u"k implicit");  // its own, not the definition's
    EXPECT_NE(M(m, n).Children.ID(1), M(m, def).Children.ID(1));
    EXPECT_EQ(Names(m, user), u"k.T implicit");
    EXPECT_EQ(m.inherited, (std::vector<std::pair<TMmID, TMmID>>{{n, def}}));
    ASSERT_EQ(m.taken.size(), 1u);
    const TMmNode& viaMerge = M(m, M(m, user).Children.ID(0));
    EXPECT_EQ(viaMerge.Parent, user);
    EXPECT_TRUE(viaMerge.CopiedFrom.Contains(k) && viaMerge.CopiedFrom.Contains(m.taken[0]));
    EXPECT_EQ(viaMerge.Data, &defData);
    EXPECT_EQ(m.Merged.Items(m.taken[0]), nullptr);  // the intermediate copy is unreachable
}
