// Offsets to lines and columns, and the caret report.
#include <gtest/gtest.h>

#include "library/script/charset/Charsets.h"
#include "library/text/TsTextLocation.h"
#include "support/Strings.h"

using namespace ts;

namespace {

std::string At(std::string_view bytes, int64_t offset, int32_t cp = CpUtf8) {
    const TTsTextLocation w = LocateOffset(bytes, offset, cp);
    return std::to_string(w.Line) + ":" + std::to_string(w.Column) + " [" + WideToUtf8(w.LineText) + "]";
}

}  // namespace

TEST(TextLocation, OffsetsCountLinesOverEveryBreakStyle) {
    // The same place of "abc/de/fgh" with LF, CR LF and CR breaks.
    EXPECT_EQ(At("abc\nde\nfgh", 8), "3:2 [fgh]");
    EXPECT_EQ(At("abc\r\nde\r\nfgh", 10), "3:2 [fgh]");
    EXPECT_EQ(At("abc\rde\rfgh", 8), "3:2 [fgh]");
    // First and last character; the end of a line; past the end.
    EXPECT_EQ(At("abc\nde", 0), "1:1 [abc]");
    EXPECT_EQ(At("abc\nde", 3), "1:4 [abc]");
    EXPECT_EQ(At("abc\nde", 5), "2:2 [de]");
    EXPECT_EQ(At("abc\nde", 99), "2:3 [de]");
    // After a final break the place is the empty line that follows.
    EXPECT_EQ(At("abc\n", 4), "2:1 []");
    // Blank lines count.
    EXPECT_EQ(At("\n\n\nx", 3), "4:1 [x]");
}

TEST(TextLocation, ColumnsCountCharactersOfTheCodePage) {
    // "ключ=" in UTF-8: two bytes a letter; "=" is the fifth character.
    EXPECT_EQ(At("ключ=1", 8), "1:5 [ключ=1]");
    // The same text in KOI8-R: one byte a letter.
    const RawByteString koi = WideToBytes(CodepageOfCharset("koi8-r"), u"ключ=1");
    EXPECT_EQ(At(koi, 4, CodepageOfCharset("koi8-r")), "1:5 [ключ=1]");
    // A character outside the basic plane is one column, not two.
    EXPECT_EQ(At("\xF0\x9F\x98\x80x", 4), "1:2 [\xF0\x9F\x98\x80x]");
}

TEST(TextLocation, LinesOfWideText) {
    const TTsTextLocation w = LocateLine(u"one\r\ntwo\r\nthree", 3, 4);
    EXPECT_EQ(w.Line, 3);
    EXPECT_EQ(w.Column, 4);
    EXPECT_EQ(w.LineText, u"three");
    // A column beyond the line stops just past its end; none means 1.
    EXPECT_EQ(LocateLine(u"one\ntwo", 2, 40).Column, 4);
    EXPECT_EQ(LocateLine(u"one\ntwo", 2, 0).Column, 1);
    // A line beyond the text is empty.
    EXPECT_EQ(LocateLine(u"one", 5, 1).LineText, u"");
}

TEST(TextLocation, CaretKeepsTabsSoThatItLinesUp) {
    const TTsTextLocation w = LocateOffset("\tkey =\t\tv\n", 8, CpUtf8);
    EXPECT_EQ(WideToUtf8(LocatedMessage(u"conf.txt", w, u"here")),
              "conf.txt:1:9: here\n"
              "\tkey =\t\tv\n"
              "\t     \t\t^\n");
    EXPECT_EQ(WideToUtf8(LocatedMessage(u"a", LocateOffset("", 0, CpUtf8), u"m")), "a:1:1: m\n\n^\n");
}

// Over a stream, a place is the one found in the same bytes in memory: for
// every offset of a text with each kind of line break, in order, backwards
// and past the end, and the stream's position stays where it was.
TEST(TextLocation, StreamLocatorAgreesWithTheBytes) {
    const std::string text = "first\r\nsecond\rthird\n\nl\xC3\xA4st";
    TStringStream stream{RawByteString(text)};
    stream.Seek(3, TSeekOrigin::soBeginning);
    TTsStreamLocator locator(stream);
    auto same = [&](int64_t offset) {
        const TTsTextLocation a = locator.Locate(offset, 65001);
        const TTsTextLocation b = LocateOffset(text, offset, 65001);
        EXPECT_EQ(a.Line, b.Line) << offset;
        EXPECT_EQ(a.Column, b.Column) << offset;
        EXPECT_EQ(a.LineText, b.LineText) << offset;
    };
    for (int64_t i = 0; i <= static_cast<int64_t>(text.size()) + 2; ++i)
        if (i != 6) same(i);  // between CR and LF
    for (int64_t i : {20, 2, 27, 0, 14}) same(i);
    EXPECT_EQ(stream.Position(), 3);
    EXPECT_EQ(locator.Locate(22, 65001).Line, 5);
}
