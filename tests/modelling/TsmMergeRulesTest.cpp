// The model's merge rules, seen through the compiled table and its dump.
#include <gtest/gtest.h>

#include "tests/modelling/TsmTestSupport.h"

using namespace ts;
using namespace ts::test;

namespace {

int CountEnds(const Compiled& c, TMmID id) {
    int n = 0;
    for (TMmID child : c[id]->Props.Children)
        if (c[child]->Props.NodeClass == &TTsmEnd::Class) ++n;
    return n;
}

}  // namespace

TEST(TsmMergeRules, OverlayReplacesAnEarlierChildOfAnotherOriginAndMergesProperties) {
    Compiled c = CompileModel(
        "(@item) = i\n"
        "  A = a\n"
        "  2? B \"bpath\" = b\n"
        "main = m\n"
        "  @item = j\n"
        "    .^ @B = B2\n"
        "    @A\n"
        "  C = c\n"
        "  @C = c2\n");
    // In the inheriting node the own @B takes the inherited B's place: its
    // own condition and flags, the path and order of B. The own @A has no
    // condition of its own and takes A's. Under main, C and @C come from
    // the same origin and stay apart.
    EXPECT_EQ(Outline(*c.compiler),
              "#0\n"
              "  item#1 off {= i}\n"
              "    A#2 {= a}\n"
              "    B#3 opt order=2 \"bpath\" {= b}\n"
              "    #10 End\n"
              "  main#4 {= m}\n"
              "    item#5 inh {= j}\n"
              "      A#14 inh {= a}\n"
              "      B#13 opt tent once inh order=2 \"bpath\" {= B2}\n"
              "      #15 End\n"
              "    C#8 {= c}\n"
              "    C#9 inh {= c2}\n");
    // The overlaid nodes and the own children they were made from are gone.
    for (TMmID gone : {6, 7}) EXPECT_EQ(c[gone], nullptr) << gone;
}

TEST(TsmMergeRules, MergeReferencesSetNonConsumingOnEveryChildTaken) {
    Compiled c = CompileModel(
        "(@src) = s\n"
        "  a... = a\n"
        "  b = b\n"
        "plain + src = p\n"
        "nc + src... = n\n"
        "src + src... + (@left) = l\n");
    const std::string out = Outline(*c.compiler, 0, false);
    // A plain reference makes even a child written non-consuming consuming;
    // "..." on the reference makes them all non-consuming, left merges too.
    EXPECT_NE(out.find("  plain {= p}\n    a {= a}\n    b {= b}\n"), std::string::npos) << out;
    EXPECT_NE(out.find("  nc {= n}\n    a nc {= a}\n    b nc {= b}\n"), std::string::npos) << out;
    EXPECT_NE(out.find("  left off {= l}\n    a {= a}\n    b {= b}\n    a nc {= a}\n    b nc {= b}\n"),
              std::string::npos)
        << out;
    // The definition keeps its own marks.
    EXPECT_NE(out.find("  src off {= s}\n    a nc {= a}\n    b {= b}\n"), std::string::npos) << out;
}

TEST(TsmMergeRules, MergeListTextIsSplitExactlyAtEachNul) {
    auto tree = ReadModel("(@a) = a\n  x = x\n(@b) = b\n  y = y\nt = t\n");
    TTsTreeNode* t = tree->ChildByIndex(2);
    ASSERT_EQ(t->Name(), u"t");
    t->Props().SetValue(u"mMergesL", TTsValue::FromStr(WideString(u"a\0.b", 4)));
    TTsmCompiler compiler;
    compiler.Compile(*tree);
    EXPECT_NE(Outline(compiler).find("  t#5 {= t}\n    x#7 {= x}\n    y#9 nc {= y}\n"), std::string::npos)
        << Outline(compiler);

    // An empty item is a reference with an empty name, which the finder refuses.
    auto bad = ReadModel("t = t\n");
    bad->ChildByIndex(0)->Props().SetValue(u"mMergesR", TTsValue::FromStr(WideString(u"\0a", 2)));
    TTsmCompiler failing;
    EXPECT_THROW(failing.Compile(*bad), EMmBadFinder);
}

TEST(TsmMergeRules, ImplicitEndAfterOrderedOrOnceChildren) {
    Compiled c = CompileModel(
        "ord = o\n"
        "  1 a = a\n"
        "  2 b = b\n"
        "once = x\n"
        "  . a = a\n"
        "  b = b\n"
        "ended = e\n"
        "  1 a = a\n"
        "  END = z\n"
        "plain = p\n"
        "  a = a\n");
    for (TMmID id : {1, 4}) {
        ASSERT_EQ(c[id]->Props.Children.size(), 3u);
        const TTsmNodeInfo* end = c[c[id]->Props.Children.back()];
        EXPECT_EQ(end->Props.NodeClass, &TTsmEnd::Class);
        EXPECT_TRUE(end->Props.IsImplicit());
        EXPECT_EQ(end->Props.Source.DumpText(false), u"s8 implicit");
        EXPECT_EQ(end->Props.Parent, id);
        EXPECT_EQ(end->SourceTree, nullptr);
        EXPECT_TRUE(c[id]->ChildSummary.IsCyclic);
    }
    EXPECT_TRUE(c[1]->ChildSummary.HasOrdered);
    EXPECT_FALSE(c[1]->ChildSummary.HasOnce);
    EXPECT_TRUE(c[4]->ChildSummary.HasOnce);
    // An END of its own, or no order at all: nothing is added.
    EXPECT_EQ(c[7]->Props.Children.size(), 2u);
    EXPECT_TRUE(c[7]->ChildSummary.IsCyclic);
    EXPECT_FALSE(c[7]->ChildSummary.OnlyENDs);
    EXPECT_EQ(c[10]->Props.Children.size(), 1u);
    EXPECT_FALSE(c[10]->ChildSummary.IsCyclic);
}

TEST(TsmMergeRules, ImplicitAnyAfterOnlyTerminalChildren) {
    Compiled c = CompileModel(
        "fails = f\n"
        "  FAIL \"bad\" = q\n"
        "  WARN \"careful\" = w\n"
        "kids = k\n"
        "  FAIL \"bad\" = q\n"
        "    c = c\n");
    const std::string out = Outline(*c.compiler);
    EXPECT_NE(out.find("  fails#1 {= f}\n    FAIL#2 Fail \"bad\" {= q}\n    WARN#3 Warn \"careful\" {= w}\n"
                       "    #7 {% ANY}\n"),
              std::string::npos)
        << out;
    EXPECT_TRUE(c[1]->ChildSummary.OnlyENDs);
    EXPECT_TRUE(c[1]->ChildSummary.IsCyclic);
    // A message node with children of its own does not end the loop, even
    // though its children are merged after its parent.
    EXPECT_EQ(c[4]->Props.Children.size(), 1u);
    EXPECT_FALSE(c[4]->ChildSummary.IsCyclic);
    EXPECT_FALSE(c[4]->ChildSummary.OnlyENDs);
}

TEST(TsmMergeRules, MessageChildrenThatMergesFillDoNotEndTheLoop) {
    // The FAIL nodes have no lines of their own below them; their merge
    // references bring children only when they are merged, after their
    // parent. A FAIL with children does not end its parent's loop, so the
    // ordered node still needs its END and the other node no ANY.
    Compiled c = CompileModel(
        "(@d) = d\n"
        "  y = y\n"
        "ord = o\n"
        "  1 a = a\n"
        "  FAIL + d = f\n"
        "msgs = m\n"
        "  FAIL + d = f\n"
        "  WARN = w\n"
        "bare = b\n"
        "  1 a = a\n"
        "  FAIL = f\n");
    const TTsmNodeInfo& ord = *c[3];
    ASSERT_EQ(ord.Props.Children.size(), 3u);
    EXPECT_EQ(c[ord.Props.Children[1]]->Props.Children.size(), 1u);
    const TTsmProps& end = c[ord.Props.Children[2]]->Props;
    EXPECT_TRUE(end.IsImplicit());
    EXPECT_EQ(end.NodeClass, &TTsmEnd::Class);
    EXPECT_EQ(end.Parent, 3);
    EXPECT_TRUE(ord.ChildSummary.IsCyclic);
    EXPECT_TRUE(ord.ChildSummary.HasOrdered);

    const TTsmNodeInfo& msgs = *c[6];
    ASSERT_EQ(msgs.Props.Children.size(), 2u);
    EXPECT_TRUE(msgs.ChildSummary.IsCyclic);  // the WARN without children
    EXPECT_FALSE(msgs.ChildSummary.OnlyENDs);

    // A FAIL that stays without children still ends the loop: no END added.
    const TTsmNodeInfo& bare = *c[9];
    EXPECT_EQ(bare.Props.Children.size(), 2u);
    EXPECT_TRUE(bare.ChildSummary.IsCyclic);
    EXPECT_EQ(CountEnds(c, 9), 0);
}

TEST(TsmMergeRules, ImplicitChildrenAreNeverTakenOver) {
    Compiled c = CompileModel(
        "(@base) = b\n"
        "  1 a = a\n"
        "  2 b = b\n"
        "(@msgs) = m\n"
        "  FAIL \"x\" = x\n"
        "user + base = u\n"
        "heir + msgs = h\n"
        "main = m\n"
        "  @base = i\n");
    // Each node computes its own END or ANY: exactly one, never a copy.
    for (TMmID id : {1, 6, 9}) {
        ASSERT_NE(c[id], nullptr);
        EXPECT_EQ(CountEnds(c, id), 1) << id;
        EXPECT_EQ(c[id]->Props.Children.size(), 3u) << id;
        EXPECT_EQ(c[c[id]->Props.Children.back()]->Props.Parent, id);
    }
    ASSERT_EQ(c[7]->Props.Children.size(), 2u);
    const TTsmProps& any = c[c[7]->Props.Children[1]]->Props;
    EXPECT_TRUE(any.IsImplicit());
    EXPECT_EQ(any.Parent, 7);
}

TEST(TsmMergeRules, FinderErrorsNameTheNodeBeingMerged) {
    EXPECT_EQ(CompileError<EMmManySinkPoints>("top = t\n"
                                              "  (@x) = 1\n"
                                              "  (@x) = 2\n"
                                              "  mid = m\n"
                                              "    @x = 3\n"),
              "Multiple possible inheritance targets for node 'x' among children of parent 'top'. "
              "Node: <StringStream>:5");
    EXPECT_EQ(CompileError<EMmAmbiguousFind>("x = p\n"
                                             "  x = s\n"
                                             "  y + x = q\n"),
              "Ambiguous node merge reference 'x': both parent and sibling of the same name exist. "
              "Use '(off-context)' for definite reference. Node: <StringStream>:3");
    EXPECT_EQ(CompileError<EMmNoMergeNode>("a = a\n  b + nowhere = b\n"),
              "Cannot locate node 'nowhere' to merge 'b' with. Node: <StringStream>:2");
    EXPECT_EQ(CompileError<EMmNoAncestor>("a = a\n  @b = b\n"),
              "Cannot find ancestor of inheriting node 'b'. Node: <StringStream>:2");
    // One at the parent's level and one higher: the nearer one wins.
    Compiled c = CompileModel(
        "(@x) = far\n"
        "top = t\n"
        "  (@x) = near\n"
        "  @x = 3\n");
    EXPECT_EQ(c[c[2]->Props.Children[1]]->Props.Cond.Value.Str, u"3");
    EXPECT_NE(Outline(*c.compiler).find("    x#4 inh {= 3}\n"), std::string::npos);
}

TEST(TsmMergeRules, MergeListsThatReachEachOtherAreRecursive) {
    EXPECT_EQ(CompileError<EMmRecursiveMerging>("top = t\n"
                                                "  a + b = 1\n"
                                                "  b + a = 2\n"),
              "Recursive node merges: a #2 > b #3 >> a #2. Node: <StringStream>:3");
    // A merge list naming an enclosing node that is already merged is fine.
    EXPECT_NO_THROW(CompileModel("top = t\n  k = k\n  a = a\n    b + top = b\n"));
}

TEST(TsmMergeRules, BackReferencesMakeTheGraphCyclicAndTheDumpClosesIt) {
    // Inheriting from the enclosing namesake: the copy of the node itself
    // becomes a reference back to it.
    Compiled inherit = CompileModel("x = a\n  @x = b\n");
    EXPECT_EQ(Outline(*inherit.compiler),
              "#0\n"
              "  x#1 {= a}\n"
              "    x#2 inh {= b}\n"
              "      x#3 inh {= b}\n"
              "        x#2 inh {= b}\n"
              "          x#3 inh {= b}\n"
              "            *2 inh {= b}\n");
    EXPECT_EQ(inherit[3]->Props.Children, TTsmIdArray{2});

    // A merge reference to an enclosing node: the cycle closes on the first
    // copy instead of copying itself one level deeper on every merge.
    Compiled expr = CompileModel(
        "expr = e\n"
        "  atom = a\n"
        "  group + expr = g\n");
    const TTsmNodeInfo* group = expr[3];
    ASSERT_EQ(group->Props.Children.size(), 2u);
    const TMmID inner = group->Props.Children[1];
    EXPECT_EQ(expr[inner]->Props.Name, u"group");
    EXPECT_EQ(expr[inner]->Props.Children.back(), inner);
    const std::string out = Outline(*expr.compiler);
    EXPECT_NE(out.find("*" + std::to_string(inner) + " {= g}\n"), std::string::npos) << out;

    // With a non-consuming reference the copies carry the mark, and the
    // cycle still closes.
    Compiled nc = CompileModel(
        "expr = e\n"
        "  atom = a\n"
        "  group + expr... = g\n");
    const TMmID ncInner = nc[3]->Props.Children[1];
    EXPECT_TRUE(nc[ncInner]->Props.IsNonConsuming);
    EXPECT_FALSE(nc[3]->Props.IsNonConsuming);
    EXPECT_EQ(nc[ncInner]->Props.Children.back(), ncInner);
}

TEST(TsmMergeRules, LeftMergeListsHold253References) {
    auto model = [](int refs) {
        std::string line;
        for (int i = 0; i < refs; ++i) line += "t + ";
        return "top = t\n  (@t)\n    k = 1\n  " + line + "(@n) = z\n";
    };
    Compiled c = CompileModel(model(253));
    EXPECT_EQ(c[4]->Props.Children.size(), 253u);
    EXPECT_EQ(c.compiler->Machine->Merged[4].Children.Tag(252), 254);
    auto tree = ReadModel(model(254));
    TTsmCompiler compiler;
    try {
        compiler.Compile(*tree);
        ADD_FAILURE() << "254 references were accepted";
    } catch (const EOverflow& e) {
        EXPECT_EQ(e.Message(), u"Origins pool exceeded when adding node merges.");
    }
}

TEST(TsmMergeRules, NodesWithoutRecordsAreRefused) {
    TTsmCompiler compiler;
    TTsmMergeMachine machine(compiler);
    machine.Defined.Add(std::make_unique<TMmNode>());
    try {
        machine.Merge();
        ADD_FAILURE() << "merged a node without a record";
    } catch (const ETsmNoNodeInfo& e) {
        EXPECT_EQ(e.Message(), u"TMmNode has no assigned compilation info.");
    }

    // Found while a node is merged, the error names that node.
    TTsmMergeMachine named(compiler);
    TTsValue source = TTsValue::FromStr(u"m.txt");
    source.Int = 4;
    source.Kinds |= vkInt;
    named.InfoOf(*named.CreateDefinedNode()).Props.Source = source;
    named.Defined.Add(std::make_unique<TMmNode>())->Parent = 0;
    try {
        named.Merge();
        ADD_FAILURE() << "merged a child without a record";
    } catch (const ETsmNoNodeInfo& e) {
        EXPECT_EQ(e.Message(), u"TMmNode has no assigned compilation info. Node: m.txt:5");
    }
}
