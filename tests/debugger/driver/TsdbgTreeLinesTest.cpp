// Tests of the tree dump lines: humanised names, labels, markers, colours,
// Props grouping and double-click targets.
#include <gtest/gtest.h>

#include "debugger/driver/TsdbgNames.h"
#include "debugger/driver/TsdbgTreeLines.h"
#include "support/Strings.h"

using namespace ts;

namespace {

TTsTreeNode* AddDumpNode(TTsTreeNode& parent, const WideString& name, int id, int parentId) {
    TTsTreeNode* n = parent.AddChild(name);
    n->Props().SetValue(u"ID", TTsValue::FromInt(id));
    n->Props().SetValue(u"Parent", TTsValue::FromInt(parentId));
    return n;
}

WideString Texts(const std::vector<TTreeLine>& lines) { return LinesToText(lines); }

}  // namespace

TEST(TsdbgNames, HumanisedNames) {
    EXPECT_EQ(HumaniseName(u"ETsmDoubleCompile"), u"Double Compile");
    EXPECT_EQ(HumaniseName(u"EMmNoAncestor"), u"No Ancestor");
    EXPECT_EQ(HumaniseName(u"ETsBadTextStreaming"), u"Bad Text Streaming");
    EXPECT_EQ(HumaniseName(u"HasOrdered?"), u"Has Ordered?");
    EXPECT_EQ(HumaniseName(u"OnlyENDs?"), u"Only ENDs?");
    EXPECT_EQ(HumaniseName(u"IsNonConsuming"), u"Is Non Consuming");
    // The last character never gets a blank; nor do runs of capitals.
    EXPECT_EQ(HumaniseName(u"MergesL"), u"MergesL");
    EXPECT_EQ(HumaniseName(u"ID"), u"ID");
    EXPECT_EQ(HumaniseName(u"aB"), u"aB");
    EXPECT_EQ(HumaniseName(u"aBc"), u"a Bc");
    // A prefix goes only before a capital: these are words, not prefixes.
    EXPECT_EQ(HumaniseName(u"Exception"), u"Exception");
    EXPECT_EQ(HumaniseName(u"EConvertError"), u"Convert Error");
    EXPECT_EQ(HumaniseName(u"Tsunami"), u"Tsunami");
    EXPECT_EQ(HumaniseName(u"E"), u"E");
    EXPECT_EQ(HumaniseName(u""), u"");
}

TEST(TsdbgTreeLines, ValueTexts) {
    EXPECT_EQ(ValueText(TTsValue::FromStr(u"a b")), u"a b");
    EXPECT_EQ(ValueText(TTsValue::FromInt(-12)), u"-12");
    EXPECT_EQ(ValueText(TTsValue::FromFloat(3.0)), u"3");
    EXPECT_EQ(ValueText(TTsValue::FromFloat(2.5)), u"2.5");
    EXPECT_EQ(ValueText(TTsValue::FromBool(true)), u"True");
    EXPECT_EQ(ValueText(TTsValue::FromRaw(std::string("\x00\xAB\x10", 3))), u"00 AB 10");
    EXPECT_EQ(ValueText(TTsValue()), u"<nil>");
    // A "source" value is a line index with the source name: the name shows.
    TTsValue source = TTsValue::FromInt(4);
    source.Str = u"<StringStream>";
    source.Kinds |= vkString;
    EXPECT_EQ(ValueText(source), u"<StringStream>");
}

TEST(TsdbgTreeLines, LabelsMarkersAndColours) {
    TTsTreeNode root;
    root.Props().SetValue(u"ID", TTsValue::FromInt(0));
    TTsTreeNode* own = AddDumpNode(root, u"item", 1, 0);
    own->Props().SetValue(u"mPath", TTsValue::FromStr(u"a\\b"));
    TTsTreeNode* moved = AddDumpNode(root, u"", 7, 3);
    TTsTreeNode* implicit = AddDumpNode(root, u"END", 8, 3);
    implicit->Props().SetValue(u"source", TTsValue::FromStr(u"implicit"));
    TTsTreeNode* cycle = AddDumpNode(*own, u"*1", 1, 0);
    TTsTreeNode* noParentProp = own->AddChild(u"  spaced  ");
    noParentProp->Props().SetValue(u"ID", TTsValue::FromInt(9));

    std::vector<TTreeLine> lines = RenderTree(root);
    auto lineOf = [&](const TTsTreeNode* n) -> const TTreeLine& {
        for (const TTreeLine& l : lines)
            if (l.Node == n) return l;
        throw std::runtime_error("no line");
    };
    EXPECT_EQ(lineOf(&root).Text, u"#0 <unnamed>");
    EXPECT_EQ(lineOf(own).Text, u"#1 item \"a\\b\"");
    EXPECT_EQ(lineOf(own).Colour, TTreeLineColour::Default);
    EXPECT_EQ(lineOf(moved).Text, u"*7 <unnamed>");
    EXPECT_EQ(lineOf(moved).Marker, u'*');
    EXPECT_EQ(lineOf(moved).Colour, TTreeLineColour::Grey);
    // Implicit beats grey.
    EXPECT_EQ(lineOf(implicit).Text, u"*8 END");
    EXPECT_EQ(lineOf(implicit).Colour, TTreeLineColour::Maroon);
    // Where a cycle closes, the node is shown away from its definition.
    EXPECT_EQ(lineOf(cycle).Text, u"*1 *1");
    EXPECT_EQ(lineOf(cycle).Colour, TTreeLineColour::Grey);
    EXPECT_EQ(lineOf(noParentProp).Text, u"#9   spaced");
    for (const TTreeLine& l : lines) EXPECT_EQ(l.IsNode, l.Node != nullptr);
}

TEST(TsdbgTreeLines, PropertyLinesAndPropsGrouping) {
    TTsTreeNode root;
    root.Props().SetValue(u"ID", TTsValue::FromInt(0));
    root.Props().SetValue(u"Children", TTsValue::FromStr(u"1 2"));
    root.Props().SetValue(u"mIsOnce", TTsValue::FromBool(false));
    root.Props().SetValue(u"HasOrdered?", TTsValue::FromBool(true));
    root.Props().SetValue(u"mCond", TTsValue::FromStr(u"% SP"));
    // One line only: directly under the node, even with children.
    TTsTreeNode* one = AddDumpNode(root, u"one", 1, 0);
    one->Props().SetValue(u"mIsOptional", TTsValue::FromBool(false));
    AddDumpNode(*one, u"leaf", 3, 1)->Props().SetValue(u"mOrder", TTsValue::FromInt(2));
    // No children: every line directly under the node.
    TTsTreeNode* two = AddDumpNode(root, u"two", 2, 0);
    two->Props().SetValue(u"mIsTentative", TTsValue::FromBool(true));
    two->Props().SetValue(u"", TTsValue::FromInt(5));

    EXPECT_EQ(Texts(RenderTree(root)),
              u"#0 <unnamed>\n"
              u"  Props\n"
              u"    Children = 1 2\n"
              u"    Has Ordered? = True\n"
              u"    Cond = % SP\n"
              u"  #1 one\n"
              u"    Parent = 0\n"
              u"    #3 leaf\n"
              u"      Parent = 1\n"
              u"      Order = 2\n"
              u"  #2 two\n"
              u"    <unnamed> = 5\n"
              u"    Parent = 0\n"
              u"    Is Tentative = True\n");

    std::vector<TTreeLine> lines = RenderTree(root);
    for (const TTreeLine& l : lines) {
        const bool flag = l.Text == u"Has Ordered? = True";
        EXPECT_EQ(l.Colour == TTreeLineColour::Maroon, flag) << WideToUtf8(l.Text);
    }
}

TEST(TsdbgTreeLines, DoubleClickTargets) {
    EXPECT_EQ(ReferencedID(u"Parent = 5"), 5);
    EXPECT_EQ(ReferencedID(u"Children = 12 13"), 12);
    EXPECT_EQ(ReferencedID(u"Cond = % SP"), std::nullopt);
    EXPECT_EQ(ReferencedID(u"Order = -1"), std::nullopt);
    EXPECT_EQ(ReferencedID(u"#4 name"), std::nullopt);
    EXPECT_EQ(ReferencedID(u"7"), 7);
    EXPECT_EQ(ReferencedID(u""), std::nullopt);

    TTsTreeNode root;
    root.Props().SetValue(u"ID", TTsValue::FromInt(0));
    TTsTreeNode* a = AddDumpNode(root, u"a", 1, 0);
    TTsTreeNode* deep = AddDumpNode(*a, u"b", 5, 1);
    AddDumpNode(root, u"c", 5, 0);
    EXPECT_EQ(FindNodeByID(root, 5), deep);  // pre-order: the first one
    EXPECT_EQ(FindNodeByID(root, 0), &root);
    EXPECT_EQ(FindNodeByID(root, 6), nullptr);
}

TEST(TsdbgTreeLines, DeepTreesRenderWithoutRecursion) {
    auto root = std::make_unique<TTsTreeNode>();
    root->Props().SetValue(u"ID", TTsValue::FromInt(0));
    TTsTreeNode* n = root.get();
    const int depth = 20000;
    for (int i = 1; i <= depth; ++i) n = AddDumpNode(*n, u"n", i, i - 1);
    std::vector<TTreeLine> lines = RenderTree(*root);
    ASSERT_EQ(lines.size(), 2u * depth + 1);
    EXPECT_EQ(lines.back().Depth, depth + 1);
    EXPECT_EQ(lines.back().Text, u"Parent = " + IntToStr(depth - 1));
    EXPECT_EQ(FindNodeByID(*root, depth), n);
}
