// Node paths: parent prefixes, FirstOnPath, enumeration and creation by the
// finders, and selector formulas with their precedence rule.
#include <gtest/gtest.h>

#include <climits>

#include "library/core/TsNodePaths.h"
#include "support/Strings.h"
#include "tests/TestSupport.h"

using namespace ts;
using namespace ts::test;

namespace {

// r -> a -> b -> c
struct Chain {
    std::unique_ptr<TTsTreeNode> r = std::make_unique<TTsTreeNode>(u"r");
    TTsTreeNode* a = r->AddChild(u"a");
    TTsTreeNode* b = a->AddChild(u"b");
    TTsTreeNode* c = b->AddChild(u"c");
};

std::vector<TTsTreeNode*> All(TTsNodeFinder& f) {
    std::vector<TTsTreeNode*> out;
    for (TTsTreeNode* n; (n = f.Next());) out.push_back(n);
    return out;
}

}  // namespace

TEST(TsNodePaths, ParentPrefixesClimbByCountOrFromTheRoot) {
    Chain t;
    EXPECT_EQ(ResolveParentPrefix(t.c, u""), t.c);
    EXPECT_EQ(ResolveParentPrefix(t.c, u"."), t.b);
    EXPECT_EQ(ResolveParentPrefix(t.c, u".."), t.a);
    EXPECT_EQ(ResolveParentPrefix(t.c, u"......"), t.r.get());  // beyond the root
    EXPECT_EQ(ResolveParentPrefix(t.c, u"\\"), t.r.get());
    EXPECT_EQ(ResolveParentPrefix(t.c, u"//"), t.a);
    EXPECT_EQ(ResolveParentPrefix(t.c, u"\\\\\\"), t.b);
    EXPECT_EQ(ResolveParentPrefix(t.c, u"\\\\\\\\"), t.c);  // deeper than the node: itself
    EXPECT_EQ(ResolveParentPrefix(t.r.get(), u"."), t.r.get());
    EXPECT_EQ(ResolveParentPrefix(t.r.get(), u"/"), t.r.get());
    EXPECT_EQ(MessageOf<ETsInvalidParentPath>([&] { ResolveParentPrefix(t.c, u"../"); }),
              u"Node parent path must consist of either '.', '\\' or '/' or be empty - however, '../' was given.");
    EXPECT_THROW(ResolveParentPrefix(t.c, u"\\/"), ETsInvalidParentPath);

    // The same selection over a list of values, nearest first.
    EXPECT_EQ(SelectByParentPrefix(u".", 3), 0);
    EXPECT_EQ(SelectByParentPrefix(u"..", 3), 1);
    EXPECT_EQ(SelectByParentPrefix(u".....", 3), 2);
    EXPECT_EQ(SelectByParentPrefix(u"\\", 3), 2);
    EXPECT_EQ(SelectByParentPrefix(u"//", 3), 1);
    EXPECT_EQ(SelectByParentPrefix(u"////", 3), -1);
    EXPECT_EQ(SelectByParentPrefix(u".", 0), -1);

    WideString attr;
    EXPECT_EQ(SplitNodePathAttr(u"a/b$startGlobal$x", &attr), u"a/b");
    EXPECT_EQ(attr, u"startGlobal$x");
    SplitNodePathAttr(u"a$", &attr);
    EXPECT_EQ(attr, u"inner");
}

TEST(TsNodePaths, FirstOnPathSearchesDepthFirst) {
    auto r = std::make_unique<TTsTreeNode>(u"r");
    TTsTreeNode* a1 = r->AddChild(u"a");
    a1->AddChild(u"x");
    TTsTreeNode* b = r->AddChild(u"b");
    TTsTreeNode* a2 = r->AddChild(u"a");
    TTsTreeNode* y = a2->AddChild(u"y");
    TTsTreeNode* z = y->AddChild(u"z");

    EXPECT_EQ(b->FirstOnPath(u""), b);
    EXPECT_EQ(b->FirstOnPath(u".a"), a1);
    EXPECT_EQ(z->FirstOnPath(u"\\"), r.get());
    EXPECT_EQ(r->FirstOnPath(u"a/y"), y);  // the first "a" has no "y": the second is tried
    EXPECT_EQ(r->FirstOnPath(u"a\\y/z"), z);
    EXPECT_EQ(r->FirstOnPath(u"a/q"), nullptr);
    EXPECT_EQ(r->FirstOnPath(u"a/.b"), b);  // a tail may climb again
    EXPECT_EQ(z->FirstOnPath(u"\\b"), b);
    EXPECT_EQ(MessageOf<ETsEmptyNodePathSegment>([&] { r->FirstOnPath(u"a/"); }),
              u"TTsTreeNode path 'a/' contains an empty segment.");
    EXPECT_EQ(MessageOf<ETsFirstOnPathWithExpr>([&] { r->FirstOnPath(u"a[1]"); }),
              u"TTsTreeNode.FirstOnPath cannot be used on paths with '[expressions]' - like on 'a[1]'.");
    EXPECT_THROW(r->FirstOnPath(u"../a"), ETsInvalidParentPath);
}

TEST(TsNodePaths, FirstOnPathCopesWithHostilePaths) {
    // Thirty same-named siblings and a path that keeps climbing back: a plain
    // depth-first search would try 30^40 combinations.
    auto r = std::make_unique<TTsTreeNode>(u"r");
    for (int i = 0; i < 30; ++i) r->AddChild(u"a");
    WideString path = u"a";
    for (int i = 0; i < 40; ++i) path += u"/.a";
    EXPECT_EQ(r->FirstOnPath(path + u"/.zz"), nullptr);
    EXPECT_EQ(r->FirstOnPath(path), r->FirstChild(u"a"));

    // A path as long as a very deep tree.
    TTsTreeNode* deepest = r.get();
    const int depth = 50000;
    for (int i = 0; i < depth; ++i) deepest = deepest->AddChild(u"d");
    WideString deepPath = u"d";
    for (int i = 1; i < depth; ++i) deepPath += u"/d";
    EXPECT_EQ(r->FirstOnPath(deepPath), deepest);
    EXPECT_EQ(r->FirstOnPath(deepPath + u"/d"), nullptr);
}

TEST(TsNodeFinder, EnumeratesEveryMatchOnceAndRewinds) {
    auto r = std::make_unique<TTsTreeNode>(u"r");
    TTsTreeNode* a1 = r->AddChild(u"a");
    TTsTreeNode* c1 = a1->AddChild(u"c");
    TTsTreeNode* c2 = a1->AddChild(u"c");
    TTsTreeNode* b = r->AddChild(u"b");
    TTsTreeNode* a2 = r->AddChild(u"a");
    a2->AddChild(u"d");
    TTsTreeNode* c3 = a2->AddChild(u"c");

    TTsNodeFinder f(r.get(), u"a\\c");
    EXPECT_EQ(All(f), (std::vector<TTsTreeNode*>{c1, c2, c3}));
    EXPECT_TRUE(f.Done());
    EXPECT_EQ(f.Next(), nullptr);
    EXPECT_EQ(f.Attr(), u"inner");

    f.Rewind(u"a");
    EXPECT_EQ(All(f), (std::vector<TTsTreeNode*>{a1, a2}));
    f.Rewind(u"", b);
    EXPECT_EQ(All(f), (std::vector<TTsTreeNode*>{b}));
    f.Rewind(u".a/c$startGlobal");
    EXPECT_EQ(f.Attr(), u"startGlobal");
    EXPECT_EQ(All(f), (std::vector<TTsTreeNode*>{c1, c2, c3}));
    f.Rewind(u"a/zz");
    EXPECT_EQ(f.Next(), nullptr);

    f.Rewind(u"a", r.get());
    EXPECT_EQ(f.Next(), a1);
    r->AddChild(u"a");
    EXPECT_THROW(f.Next(), ETsHashChangedBetweenFind);  // no changes while enumerating
    f.Rewind(u"a/c");
    EXPECT_EQ(f.Next(), c1);
    a1->Destroy();  // the kept match is gone: noticed, not touched
    EXPECT_THROW(f.Next(), ETsHashChangedBetweenFind);

    TTsNodeFinder idle;
    EXPECT_EQ(MessageOf<ETsNodeFinderNotInitialized>([&] { idle.Next(); }),
              u"Attempted to use TTsNodeFinder without initializing it with Rewind.");
    EXPECT_THROW(idle.Rewind(u"a"), ETsNodeFinderNotInitialized);
    EXPECT_EQ(idle.Describe(), u"<TTsNodeFinder $" + AddressText(&idle) + u">");
}

TEST(TsNodeFinder, PathSetupErrors) {
    TTsTreeNode r(u"r");
    TTsNodeFinder f(&r, u"a");
    auto setup = [&](const char16_t* path) { return MessageOf<ETsNodeFind>([&] { f.Rewind(path); }); };
    EXPECT_EQ(setup(u"a\\+b"), u"TTsNodeFinder path 'a\\+b' cannot have last segment appending ('+node').");
    EXPECT_EQ(setup(u"a\\"), u"TTsNodeFinder path 'a\\' contains an empty segment.");
    EXPECT_EQ(setup(u"a//b"), u"TTsNodeFinder path 'a//b' contains an empty segment.");
    EXPECT_EQ(setup(u"+[1]"), u"TTsNodeFinder path '+[1]' contains an empty segment.");
    EXPECT_EQ(setup(u"a[]"), u"TTsNodeFinder path 'a[]' contains empty expression ('node[expr]').");
    EXPECT_THROW(f.Rewind(u"a[1"), ETsEmptyNodePathExpression);
    EXPECT_THROW(f.Rewind(u"a[1]b"), ETsEmptyNodePathExpression);
    EXPECT_EQ(f.Next(), nullptr);  // a failed setup enumerates nothing
    f.Rewind(u"");
    EXPECT_EQ(MessageOf<ETsEmptyNodePathSegment>([&] { f.Make(); }),
              u"Attempted to search for empty TTsNodeFinder path.");
    f.Rewind(u"..");
    EXPECT_THROW(f.Make(), ETsEmptyNodePathSegment);
}

TEST(TsNodeFinder, SelectorsGoToHandlersAndMakeReusesMarkedSegments) {
    auto r = std::make_unique<TTsTreeNode>(u"r");
    TTsTreeNode* a1 = r->AddChild(u"a");
    TTsTreeNode* a2 = r->AddChild(u"a");
    a2->Props().SetValue(u"k", TTsValue::FromStr(u"yes"));

    TTsNodeFinder f(r.get(), u"a[k]");
    EXPECT_EQ(MessageOf<ETsNodeFindNoTester>([&] { f.Next(); }),
              u"TTsNodeFinder has no assigned OnTest to test expression of path 'a[k]'.");
    f.OnTest = [](TTsNodeFinder& finder, int segment, TTsTreeNode* node) {
        return node->Props().Find(finder.Segment(segment).Expr) != nullptr;
    };
    f.Rewind(u"a[k]");
    EXPECT_EQ(All(f), (std::vector<TTsTreeNode*>{a2}));

    f.Rewind(u"+a\\b");
    TTsTreeNode* b1 = f.Make();
    EXPECT_EQ(b1->Parent(), a2);  // the last "a" is reused
    EXPECT_NE(f.Make(), b1);      // "b" is always new
    EXPECT_EQ(a2->ChildCount(u"b"), 2);
    f.Rewind(u"a\\b");
    TTsTreeNode* fresh = f.Make();
    EXPECT_EQ(r->ChildCount(u"a"), 3);
    EXPECT_EQ(fresh->Parent(), r->LastChild(u"a"));

    f.Rewind(u"a[k]\\x");
    EXPECT_EQ(MessageOf<ETsNodeFindNoCreator>([&] { f.Make(); }),
              u"TTsNodeFinder has no assigned OnCreate to create node with an expression on path 'a[k]\\x'.");
    f.OnCreate = [&](TTsNodeFinder&, int, TTsTreeNode*) { return a1; };
    EXPECT_EQ(f.Make()->Parent(), a1);
    f.Rewind(u"q[k]");  // nothing named q yet: no handler needed, appended
    EXPECT_EQ(f.Make()->Name(), u"q");
}

TEST(TsFormulaFinder, FormulasAndPrecedence) {
    TTsTreeNode r(u"r");
    TTsNodeFormulaFinder f(&r, u"a");
    f.N = 3;
    EXPECT_EQ(f.Evaluate(u"n*2+1"), 7);
    EXPECT_EQ(f.Evaluate(u"2*n+1"), 7);
    EXPECT_EQ(f.Evaluate(u" N + 1 "), 4);
    EXPECT_EQ(f.Evaluate(u"10-3-2"), 5);  // left to right
    EXPECT_EQ(f.Evaluate(u"7/2"), 3);
    EXPECT_EQ(f.Evaluate(u"0-7+0"), -7);
    EXPECT_EQ(f.Evaluate(u"2147483647+1"), INT_MIN);  // wraps, as 32-bit arithmetic does
    EXPECT_EQ(MessageOf<ETsBadNodeFindFormulaPrecedence>([&] { f.Evaluate(u"n+1*2"); }),
              u"* operator in TTsNodeFormulaFinder formula 'n+1*2' of path 'a' must go before +.");
    EXPECT_EQ(MessageOf<ETsBadNodeFindFormulaPrecedence>([&] { f.Evaluate(u"1-n/2"); }),
              u"/ operator in TTsNodeFormulaFinder formula '1-n/2' of path 'a' must go before -.");
    EXPECT_EQ(MessageOf<ETsBadNodeFindFormulaOperand>([&] { f.Evaluate(u"x"); }),
              u"Non-numeric operand 'x' in TTsNodeFormulaFinder formula 'x' of path 'a'.");
    EXPECT_THROW(f.Evaluate(u"99999999999"), ETsBadNodeFindFormulaOperand);
    EXPECT_EQ(MessageOf<ETsEmptyNodeFindFormulaOperand>([&] { f.Evaluate(u"1+"); }),
              u"Empty operand in TTsNodeFormulaFinder formula '1+' of path 'a'.");
    EXPECT_THROW(f.Evaluate(u"-1"), ETsEmptyNodeFindFormulaOperand);
    EXPECT_EQ(MessageOf<ETsBadNodeFindFormula>([&] { f.Evaluate(u"  "); }),
              u"Cannot parse TTsNodeFormulaFinder formula '  ' of path 'a'.");
    EXPECT_THROW(f.Evaluate(u"n/0"), ETsNodeFindFormulaDivByZero);
    EXPECT_THROW(f.Evaluate(u"xn"), ETsInvalidParentPath);

    f.ShiftN({5, 8, 13}, true);
    EXPECT_EQ(f.N, 5);
    EXPECT_EQ(f.Evaluate(u".n"), 8);
    EXPECT_EQ(f.Evaluate(u"..n"), 13);
    EXPECT_EQ(f.Evaluate(u"....N"), 13);
    EXPECT_EQ(f.Evaluate(u"\\n"), 13);
    EXPECT_EQ(f.Evaluate(u"\\\\n"), 8);
    EXPECT_EQ(f.Evaluate(u"\\\\\\n"), 5);
    EXPECT_THROW(f.Evaluate(u"//n"), ETsEmptyNodeFindFormulaOperand);  // "/" divides
    EXPECT_EQ(f.Evaluate(u".n*2+..n"), 29);
    EXPECT_EQ(f.OperandValue(u" ..n ", u"..n"), 13);
    EXPECT_THROW(f.Evaluate(u".\\n"), ETsInvalidParentPath);
    EXPECT_EQ(f.Describe(), u"<TTsNodeFormulaFinder $" + AddressText(&f) + u"> n = 5, .8, ..13");
    EXPECT_EQ(MessageOf<ETsEmptyFinderStack>([&] { f.ShiftN({}, true); }),
              u"TTsNodeFormulaFinder was given empty Stack to shift N from.");
    EXPECT_EQ(f.Stack.size(), 2u);  // left as it was
    f.ShiftN({}, false);
    EXPECT_EQ(f.Evaluate(u".n"), 5);  // no enclosing level: n itself
}

TEST(TsFormulaFinder, SelectorsCountCandidatesPerParent) {
    auto r = std::make_unique<TTsTreeNode>(u"r");
    TTsTreeNode* a1 = r->AddChild(u"a");
    r->AddChild(u"b");
    TTsTreeNode* a2 = r->AddChild(u"a");
    TTsTreeNode* c11 = a1->AddChild(u"c");
    TTsTreeNode* c12 = a1->AddChild(u"c");
    TTsTreeNode* c21 = a2->AddChild(u"c");

    TTsNodeFormulaFinder f(r.get(), u"a[1]");
    EXPECT_EQ(All(f), (std::vector<TTsTreeNode*>{a2}));
    f.N = 0;
    f.Rewind(u"a[n]");
    EXPECT_EQ(All(f), (std::vector<TTsTreeNode*>{a1}));
    // The counter starts afresh under every parent.
    f.Rewind(u"a\\c[0]");
    EXPECT_EQ(All(f), (std::vector<TTsTreeNode*>{c11, c21}));
    f.Rewind(u"a\\c[n+1]");
    EXPECT_EQ(All(f), (std::vector<TTsTreeNode*>{c12}));
    f.Rewind(u"a[x]");
    EXPECT_THROW(f.Next(), ETsBadNodeFindFormulaOperand);

    // Make: a selector picks among existing same-named siblings, else appends.
    f.Rewind(u"a[0]\\c");
    EXPECT_EQ(f.Make()->Parent(), a1);
    f.Rewind(u"a[1]\\+c\\d");
    EXPECT_EQ(f.Make()->Parent(), c21);
    f.Rewind(u"a[5]\\c");
    TTsTreeNode* made = f.Make();
    EXPECT_EQ(r->ChildCount(u"a"), 3);
    EXPECT_EQ(made->Parent(), r->LastChild(u"a"));
    EXPECT_EQ(a1->ChildCount(u"c"), 3);
}
