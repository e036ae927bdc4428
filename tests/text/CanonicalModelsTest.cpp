// The embedded canonical models and their header skipping.
#include <gtest/gtest.h>

#include "ReaderTestUtil.h"
#include "library/core/TsBase.h"
#include "library/text/CanonicalModels.h"
#include "support/Resources.h"
#include "support/Strings.h"

using namespace ts;
using namespace ts::test;

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
    for (size_t pos = 0, end; pos < text.size(); pos = end + 1) {
        end = std::min(text.find('\n', pos), text.size());
        const WideString line = Trim(Utf8ToWide(text.substr(pos, end - pos)));
        if (!line.empty() && line[0] != u';') ++count;
    }
    return count;
}

int NodeCount(const TTsTreeNode& node) {
    int n = 0;
    for (int i = 0; i < node.ChildCount(); ++i) n += 1 + NodeCount(*node.ChildByIndex(i));
    return n;
}
}  // namespace

TEST(CanonicalModels, BothReadWithTheNativeReader) {
    auto model = ReadCanonicalModel(u"Model");
    EXPECT_EQ(NodeCount(*model), ModelLineCount(u"Model"));
    ASSERT_EQ(model->ChildCount(), 5);
    const TTsTreeNode& merge = *model->ChildByIndex(0);
    EXPECT_EQ(merge.Name(), u"merge");
    EXPECT_EQ(Flags(merge), "XI");
    EXPECT_EQ(Int(merge, u"source"), 0);
    EXPECT_EQ(Str(merge, u"source"), u"<ResourceStream>");
    EXPECT_EQ(Str(*merge.ChildByIndex(1), u"mCond"), u"% SP+ + SP+");
    const TTsTreeNode& lineRoot = *model->ChildByIndex(4);
    EXPECT_EQ(lineRoot.Name(), u"LINE");
    EXPECT_EQ(Flags(lineRoot), "");
    const TTsTreeNode* line = lineRoot.FirstChild(u"line");
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(Str(*line->ChildByIndex(4), u"mPath"), u"rightMerges");
    EXPECT_EQ(Flags(*line->ChildByIndex(4)), "O1I");
    const TTsTreeNode* fail = line->FirstChild(u"path")->FirstChild(u"FAIL");
    ASSERT_NE(fail, nullptr);
    EXPECT_EQ(Str(*fail, u"mPath"), u"Off-context nodes cannot have tree positions (paths).");
    EXPECT_EQ(Str(*fail, u"mCond"), u"? .isOffContext? has");

    auto script = ReadCanonicalModel(u"Script");
    EXPECT_EQ(NodeCount(*script), ModelLineCount(u"Script"));
    ASSERT_EQ(script->ChildCount(), 4);
    const TTsTreeNode& versionOp = *script->ChildByIndex(1);
    EXPECT_EQ(Flags(versionOp), "XIN");
    EXPECT_EQ(versionOp.ChildCount(u"notEq"), 2);
    // "<>" is tried before "<", "!=" last.
    EXPECT_EQ(Str(*versionOp.ChildByIndex(2), u"mCond"), u"= <>");
    EXPECT_EQ(Str(*versionOp.ChildByIndex(6), u"mCond"), u"= !=");
    EXPECT_EQ(Int(*script->ChildByIndex(2), u"mOrder"), 1);
    EXPECT_EQ(Str(*script->ChildByIndex(2), u"mCond"), u"% Tessarine SP+");
    const TTsTreeNode& subsection = *script->ChildByIndex(3)->ChildByIndex(3);
    EXPECT_EQ(subsection.Name(), u"header");
    EXPECT_EQ(Str(subsection, u"mPath"), u"subsection");
    EXPECT_EQ(Flags(*subsection.ChildByIndex(0)->ChildByIndex(0)), "I");  // "@END"
}
