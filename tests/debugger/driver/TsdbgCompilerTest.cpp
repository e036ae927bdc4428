// Tests of the phased compiler and the decorated dump tree.
#include <gtest/gtest.h>

#include "debugger/driver/TsdbgCompiler.h"
#include "debugger/driver/TsdbgSource.h"
#include "debugger/driver/TsdbgTreeLines.h"
#include "support/Strings.h"

using namespace ts;

namespace {

const char16_t* const kModel =
    u"(word) % ID+\r\n"
    u"1? key + word = k\r\n"
    u"value = x\r\n"
    u"  inner = i\r\n";

struct Compiled {
    std::unique_ptr<TTsTreeNode> source;
    TTsdbgCompiler compiler;
    std::unique_ptr<TTsTreeNode> tree;
};

std::unique_ptr<Compiled> CompileAt(std::u16string_view text, uint8_t index) {
    auto c = std::make_unique<Compiled>();
    c->source = ReadModelText(text, TModelReader::Native);
    c->compiler.SetPhase(static_cast<uint8_t>(index + 1));
    c->compiler.Compile(*c->source);
    c->tree = BuildResultTree(c->compiler, c->compiler.CurrentPhase);
    return c;
}

}  // namespace

TEST(TsdbgCompiler, EnteringPhases) {
    TTsdbgCompiler c;
    c.SetPhase(2);
    EXPECT_EQ(c.CurrentPhase, 2);
    c.CurrentPhase = -1;
    EXPECT_FALSE(c.TryEnterPhase(1));  // phases are entered in order
    EXPECT_TRUE(c.TryEnterPhase(0));
    EXPECT_FALSE(c.TryEnterPhase(0));
    EXPECT_TRUE(c.TryEnterPhase(1));
    EXPECT_EQ(c.CurrentPhase, 1);
    EXPECT_FALSE(c.TryEnterPhase(2));  // beyond LastPhase
    c.SetPhase(0);
    c.CurrentPhase = -1;
    EXPECT_FALSE(c.TryEnterPhase(0));
    EXPECT_EQ(PhaseName(1), u"Merge");
    EXPECT_EQ(PhaseName(-1), u"-");
}

TEST(TsdbgCompiler, PhasesDecideWhatTheTreeShows) {
    auto loaded = CompileAt(kModel, 0);
    auto merged = CompileAt(kModel, 1);
    EXPECT_EQ(loaded->compiler.CurrentPhase, 1);
    EXPECT_EQ(merged->compiler.CurrentPhase, 2);

    // Loading only: every model line is a node, IDs in pre-order, the
    // off-context definition still in place, no implicit nodes.
    const WideString loadedText = LinesToText(RenderTree(*loaded->tree));
    std::vector<TTreeLine> lines = RenderTree(*loaded->tree);
    std::vector<WideString> nodes;
    for (const TTreeLine& l : lines)
        if (l.IsNode) nodes.push_back(l.Text);
    EXPECT_EQ(nodes, (std::vector<WideString>{u"#0 <unnamed>", u"#1 word", u"#2 key", u"#3 value", u"#4 inner"}));
    EXPECT_NE(loadedText.find(u"Is Off Context = True"), WideString::npos);
    EXPECT_EQ(loadedText.find(u"implicit"), WideString::npos);

    // Merging adds what no line declared (the root's implicit END) and the
    // child-summary flags.
    const WideString mergedText = LinesToText(RenderTree(*merged->tree));
    EXPECT_NE(mergedText.find(u"source = implicit"), WideString::npos);
    EXPECT_NE(mergedText.find(u"Is Cyclic? = True"), WideString::npos);
}

TEST(TsdbgCompiler, ChildSummaryFlagsDecorateTheDump) {
    auto c = CompileAt(u"a = x\r\n  1 b = y\r\n  .c = z\r\n  END = ;\r\n", 1);
    const TTsTreeNode* a = c->tree->FirstChild(u"a");
    ASSERT_NE(a, nullptr);
    const TTsmNodeInfo& info = *c->compiler.Table[static_cast<size_t>(a->Props().Get(u"ID").Value.Int)];
    EXPECT_EQ(a->Props().Find(HasOrderedProp) != nullptr, info.ChildSummary.HasOrdered);
    EXPECT_EQ(a->Props().Find(IsCyclicProp) != nullptr, info.ChildSummary.IsCyclic);
    EXPECT_EQ(a->Props().Find(OnlyENDsProp) != nullptr, info.ChildSummary.OnlyENDs);
    EXPECT_EQ(a->Props().Find(HasOnceProp) != nullptr, info.ChildSummary.HasOnce);
    EXPECT_TRUE(info.ChildSummary.HasOrdered);
    EXPECT_TRUE(info.ChildSummary.HasOnce);
    EXPECT_TRUE(info.ChildSummary.IsCyclic);
    // A flag that is false adds nothing; the leaf has no children at all.
    const TTsTreeNode* b = a->FirstChild(u"b");
    ASSERT_NE(b, nullptr);
    for (std::u16string_view p : {HasOrderedProp, IsCyclicProp, OnlyENDsProp, HasOnceProp})
        EXPECT_EQ(b->Props().Find(p), nullptr);
}

TEST(TsdbgCompiler, ErrorsKeepThePhaseTheyArose) {
    TTsdbgCompiler c;
    auto tree = ReadModelText(u"a ! \r\n", TModelReader::Native);
    c.SetPhase(2);
    EXPECT_THROW(c.Compile(*tree), ETsmEmptyNegatedCondition);
    EXPECT_EQ(c.CurrentPhase, 0);
}
