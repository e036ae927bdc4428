// Tests of running a model over input: the tree form, positions and spans.
#include <gtest/gtest.h>

#include "debugger/driver/TsdbgRun.h"
#include "library/script/charset/Charsets.h"
#include "support/Strings.h"

using namespace ts;

namespace {

std::unique_ptr<TModelRun> RunOver(std::u16string_view model, std::string input, int32_t codepage = SystemCodepage) {
    TModelRunRequest request;
    request.ModelText = WideString(model);
    request.Input = std::move(input);
    request.Codepage = codepage;
    request.LineBreak = u"\n";
    return RunModel(std::move(request));
}

constexpr std::u16string_view kWords =
    u"END? eof\n"
    u"\"word\" =\n"
    u"  1 \"head\" % LAT\n"
    u"  2 \"tail\" % LAT*\n"
    u"  3 % SP* NL?\n";

}  // namespace

TEST(ModelRun, TreeFormEscapesAndCutsTexts) {
    const std::unique_ptr<TModelRun> run =
        RunOver(u"\"line\" % [^NL]* NL\n", "tab\there \"quoted\" \\ " + std::string(60, 'x') + "\n");
    ASSERT_FALSE(run->Error);
    // One line per node: control characters, quotes and backslashes escaped,
    // the text cut after 60 characters.
    EXPECT_EQ(run->TreeText(), u"<unnamed> = \"tab\\there \\\"quoted\\\" \\\\ " + WideString(40, u'x') +
                                   u"...\"\n  line = \"tab\\there \\\"quoted\\\" \\\\ " + WideString(40, u'x') +
                                   u"...\"\n");
}

TEST(ModelRun, KeepsWhatAFailedRunBuiltAndWhereItFailed) {
    const std::unique_ptr<TModelRun> run = RunOver(kWords, "ab cd 12");
    ASSERT_TRUE(run->Error);
    EXPECT_EQ(run->ErrorStage, TRunStage::Input);
    EXPECT_FALSE(run->Succeeded());
    ASSERT_TRUE(run->Partial);
    EXPECT_NE(run->TreeText().find(u"word = \"cd \""), WideString::npos) << WideToUtf8(run->TreeText());
    EXPECT_EQ(run->FarthestOffset, 6);
    EXPECT_NE(run->Chain.find(u"'word'"), WideString::npos);

    const std::unique_ptr<TModelRun> bad = RunOver(u"END? eof\n\"a\" =\n  2 $ :\n", "x");
    EXPECT_EQ(bad->ErrorStage, TRunStage::Model);
    EXPECT_FALSE(bad->ResultRoot());
}

TEST(ModelRun, ACancelledRunEndsAsCancelled) {
    TModelRunRequest request;
    request.ModelText = WideString(kWords);
    request.Input = "ab cd";
    request.Cancel.Cancel();
    const std::unique_ptr<TModelRun> run = RunModel(std::move(request));
    EXPECT_TRUE(run->Cancelled());
    EXPECT_TRUE(run->Error);
}

TEST(ModelRun, InputLinesPlaceOffsetsByLineAndColumn) {
    // a é (2 bytes) 😀 (4 bytes: two UTF-16 units) b, CR LF, then a line after a lone CR.
    const TInputLines lines(
        "a\xC3\xA9\xF0\x9F\x98\x80"
        "b\r\nxy\rz",
        CpUtf8);
    ASSERT_EQ(lines.LineCount(), 3);
    auto place = [&](int64_t offset) {
        const TInputLines::TPlace p = lines.PlaceOf(offset);
        return std::to_string(p.Line) + ":" + std::to_string(p.Column);
    };
    EXPECT_EQ(place(0), "0:0");
    EXPECT_EQ(place(1), "0:1");
    EXPECT_EQ(place(3), "0:2");
    EXPECT_EQ(place(7), "0:4");
    EXPECT_EQ(place(9), "0:5");  // inside the line break: the line's end
    EXPECT_EQ(place(10), "1:0");
    EXPECT_EQ(place(13), "2:0");
    EXPECT_EQ(place(99), "2:1");
    EXPECT_EQ(lines.OffsetOf({0, 2}), 3);
    EXPECT_EQ(lines.OffsetOf({0, 4}), 7);
    EXPECT_EQ(lines.OffsetOf({0, 50}), 8);  // clamped to the line
    EXPECT_EQ(lines.OffsetOf({1, 1}), 11);
    EXPECT_EQ(lines.OffsetOf({7, 0}), 13);
    // An 8-bit code page: one character a byte.
    const TInputLines koi("\xF0\xD2\nx", CodepageOfCharset("koi8-r"));
    EXPECT_EQ(koi.PlaceOf(1).Column, 1);
    EXPECT_EQ(koi.OffsetOf({1, 1}), 4);
}

TEST(ModelRun, TheDeepestNodeHoldsAnOffset) {
    const std::unique_ptr<TModelRun> run = RunOver(kWords, "ab cd\nef");
    ASSERT_TRUE(run->Succeeded()) << WideToUtf8(run->Error ? run->Error->Message() : u"");
    const TTsTreeNode& root = *run->ResultRoot();
    auto nameAt = [&](int64_t offset) {
        const TTsTreeNode* n = DeepestNodeAt(root, offset);
        return n ? n->Name() : WideString(u"-");
    };
    EXPECT_EQ(nameAt(0), u"head");
    EXPECT_EQ(nameAt(1), u"tail");
    EXPECT_EQ(nameAt(2), u"word");  // the blank belongs to the word, not to a part
    EXPECT_EQ(nameAt(3), u"head");
    EXPECT_EQ(nameAt(7), u"tail");
    EXPECT_EQ(nameAt(8), u"-");  // past the input
    // Spans are global offsets into the input.
    const TTsTreeNode* second = DeepestNodeAt(root, 3);
    ASSERT_TRUE(second);
    ASSERT_TRUE(NodeSpan(*second, TsmStartGlobalProp));
    EXPECT_EQ(NodeSpan(*second, TsmStartGlobalProp)->Offset, 3);
    EXPECT_EQ(NodeSpan(*second, TsmStartGlobalProp)->Length, 1);
}
