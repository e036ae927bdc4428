// The embedded canonical models and their header skipping.
#include "library/text/CanonicalModels.h"

#include <gtest/gtest.h>

#include "library/core/TsBase.h"
#include "library/core/TsNodes.h"
#include "support/Resources.h"
#include "support/Strings.h"

using namespace ts;

namespace {
int64_t StartOf(const std::string& text) {
    TStringStream s(text);
    s.SetPosition(5);
    SkipCanonicalHeader(s);
    return s.Position();
}
}  // namespace

TEST(CanonicalModels, ResourcesCarryTheProductAddressAndLineFeedsOnly) {
    for (std::u16string_view name : {u"TsmModel", u"tsmscript"}) {
        const TEmbeddedResource* r = FindResource(name);
        ASSERT_NE(r, nullptr);
        std::string_view data = r->Data;
        std::string_view first = data.substr(0, data.find('\n'));
        ASSERT_GE(first.size(), TsProductWebAddress.size());
        EXPECT_EQ(Utf8ToWide(first.substr(first.size() - TsProductWebAddress.size())), TsProductWebAddress);
        EXPECT_EQ(first.substr(0, 15), "Tessarine 0.79 ");
        EXPECT_EQ(data.find('\r'), std::string_view::npos);
        EXPECT_EQ(data.back(), '\n');
    }
}

TEST(CanonicalModels, HeaderSkippingStartsAfterTheTitleLine) {
    EXPECT_EQ(StartOf("Tessarine 0.79 | x\n\n== Model ==\nabc\n"), 32);
    // The first "==" that ends a line counts, not the first "==".
    EXPECT_EQ(StartOf("Tessarine 1.0\n== a == b ==\nmodel"), 27);
    // Not a header: no digit, no blank, other word, or no title line.
    EXPECT_EQ(StartOf("Tessarine x.79\n== Model ==\nabc"), 0);
    EXPECT_EQ(StartOf("Tessarine\t0.79\n== Model ==\nabc"), 0);
    EXPECT_EQ(StartOf("tessarine 0.79\n== Model ==\nabc"), 0);
    EXPECT_EQ(StartOf("Tessarine 0.79 | no title\nabc ==\r\n"), 0);
    EXPECT_EQ(StartOf("Tessarine 0"), 0);
    EXPECT_EQ(StartOf(""), 0);
    // Only the first 1024 bytes are searched.
    EXPECT_EQ(StartOf("Tessarine 0.79" + std::string(1007, ' ') + "==\n"), 1024);
    EXPECT_EQ(StartOf("Tessarine 0.79" + std::string(1008, ' ') + "==\n"), 0);

    auto model = OpenCanonicalModel(u"Model");
    EXPECT_EQ(model->Description(), u"<ResourceStream>");
    std::string rest = model->ReadToEnd();
    EXPECT_EQ(rest.substr(0, 9), "(merge)\n ");
    auto script = OpenCanonicalModel(u"Script");
    EXPECT_EQ(script->ReadToEnd().substr(0, 10), "(version)\n");
    EXPECT_THROW(OpenCanonicalModel(u"Tree"), EResNotFound);
}

namespace {
// Every non-blank, non-comment line after the header is one node.
int ModelLineCount(std::u16string_view kind) {
    std::string text = OpenCanonicalModel(kind)->ReadToEnd();
    int count = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        const WideString line = Trim(Utf8ToWide(text.substr(pos, end - pos)));
        if (!line.empty() && line[0] != u';') ++count;
        pos = end + 1;
    }
    return count;
}

int NodeCount(const TTsTreeNode& node) {
    int n = 0;
    for (int i = 0; i < node.ChildCount(); ++i) n += 1 + NodeCount(*node.ChildByIndex(i));
    return n;
}

WideString Prop(const TTsTreeNode& node, std::u16string_view name) {
    TTsProperty* p = node.Props().Find(name);
    return p ? p->Value.Str : WideString(u"<none>");
}
bool Flag(const TTsTreeNode& node, std::u16string_view name) { return node.Props().Get(name).Value.Bool; }
}  // namespace

TEST(CanonicalModels, TextModelDefinitionReadsWithTheNativeReader) {
    auto root = ReadCanonicalModel(u"Model");
    EXPECT_EQ(NodeCount(*root), ModelLineCount(u"Model"));
    ASSERT_EQ(root->ChildCount(), 5);
    const TTsTreeNode& merge = *root->ChildByIndex(0);
    EXPECT_EQ(merge.Name(), u"merge");
    EXPECT_TRUE(Flag(merge, u"mIsOffContext"));
    EXPECT_TRUE(Flag(merge, u"mIsInheriting"));
    const TTsValue& source = merge.Props().Get(u"source").Value;
    EXPECT_EQ(source.Int, 0);
    EXPECT_EQ(source.Str, u"<ResourceStream>");
    ASSERT_EQ(merge.ChildCount(), 2);
    EXPECT_EQ(merge.ChildByIndex(1)->Name(), u"");
    EXPECT_EQ(Prop(*merge.ChildByIndex(1), u"mCond"), u"% SP+ + SP+");

    EXPECT_EQ(root->ChildByIndex(3)->Name(), u"END");
    EXPECT_EQ(Prop(*root->ChildByIndex(3), u"mCond"), u"? eof");
    const TTsTreeNode& lineRoot = *root->ChildByIndex(4);
    EXPECT_EQ(lineRoot.Name(), u"LINE");
    EXPECT_FALSE(Flag(lineRoot, u"mIsInheriting"));
    const TTsTreeNode* line = lineRoot.FirstChild(u"line");
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(Prop(*line, u"mPath"), u"line");
    EXPECT_EQ(Prop(*lineRoot.ChildByIndex(0), u"mCond"), u"? eof");

    const TTsTreeNode* path = line->FirstChild(u"path");
    ASSERT_NE(path, nullptr);
    EXPECT_EQ(Prop(*path, u"mCond"), u"= \"");
    const TTsTreeNode* fail = path->FirstChild(u"FAIL");
    ASSERT_NE(fail, nullptr);
    EXPECT_EQ(Prop(*fail, u"mPath"), u"Off-context nodes cannot have tree positions (paths).");
    EXPECT_EQ(Prop(*fail, u"mCond"), u"? .isOffContext? has");
    EXPECT_TRUE(Flag(*fail, u"mIsOnce"));
    EXPECT_TRUE(Flag(*fail, u"mIsOptional"));

    const TTsTreeNode* rightMerges = line->ChildByIndex(4);
    EXPECT_EQ(rightMerges->Name(), u"merge");
    EXPECT_EQ(Prop(*rightMerges, u"mPath"), u"rightMerges");
    EXPECT_TRUE(Flag(*rightMerges, u"mIsInheriting"));
}

TEST(CanonicalModels, ScriptModelReadsWithTheNativeReader) {
    auto root = ReadCanonicalModel(u"Script");
    EXPECT_EQ(NodeCount(*root), ModelLineCount(u"Script"));
    ASSERT_EQ(root->ChildCount(), 4);
    const TTsTreeNode& versionOp = *root->ChildByIndex(1);
    EXPECT_EQ(versionOp.Name(), u"versionOp");
    EXPECT_TRUE(Flag(versionOp, u"mIsNonConsuming"));
    ASSERT_EQ(versionOp.ChildCount(), 7);
    EXPECT_EQ(versionOp.ChildCount(u"notEq"), 2);
    EXPECT_EQ(Prop(*versionOp.ChildByIndex(6), u"mCond"), u"= <>");

    const TTsTreeNode& header = *root->ChildByIndex(2);
    EXPECT_EQ(header.Name(), u"header");
    EXPECT_EQ(header.Props().Get(u"mOrder").Value.Int, 1);
    EXPECT_EQ(Prop(header, u"mCond"), u"% Tessarine SP+");

    const TTsTreeNode& sections = *root->ChildByIndex(3);
    EXPECT_EQ(Prop(sections, u"mCond"), u"% NL");
    ASSERT_EQ(sections.ChildCount(), 6);
    const TTsTreeNode& subsection = *sections.ChildByIndex(3);
    EXPECT_EQ(subsection.Name(), u"header");
    EXPECT_EQ(Prop(subsection, u"mPath"), u"subsection");
    EXPECT_EQ(Prop(subsection, u"mCond"), u"= ===");
    EXPECT_EQ(subsection.ChildByIndex(0)->ChildByIndex(0)->Name(), u"END");
    EXPECT_TRUE(Flag(*subsection.ChildByIndex(0)->ChildByIndex(0), u"mIsInheriting"));
}
