// The streamer framework: capabilities, single use, source names, decoding,
// line cutting and counting, and the reader error's layout.
#include <gtest/gtest.h>

#include "ReaderTestUtil.h"
#include "library/text/TsNativeReader.h"
#include "library/text/TsStreamers.h"
#include "support/Resources.h"

using namespace ts;
using namespace ts::test;

namespace {
// Grants nothing, as the base class does.
class TBareStreamer : public TTsStreamer {
    TS_CLASS(TBareStreamer)
public:
    using TTsStreamer::TTsStreamer;
};
}  // namespace

TEST(Streamers, CapabilitiesAndSingleUse) {
    EXPECT_EQ(CapabilitiesText(0), u"<none>");
    EXPECT_EQ(CapabilitiesText(CapabilitySet(lsUnambiguous) | CapabilitySet(lsRead) | CapabilitySet(lsChecksum)),
              u"lsRead, lsChecksum, lsUnambiguous");

    TBareStreamer bare;
    try {
        bare.Read(std::make_unique<TStringStream>("a"));
        FAIL() << "a streamer without lsRead read";
    } catch (const ETsUncapableStreamer& e) {
        EXPECT_EQ(e.Message(), u"TBareStreamer is not capable of lsRead, only of <none>.");
        EXPECT_EQ(e.Streamer, &bare);
    }

    TTsmNativeStreamer once;
    EXPECT_EQ(once.Capabilities(), CapabilitySet(lsRead));
    auto root = once.Read(std::make_unique<TStringStream>("a"));
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->ChildCount(), 1);
    try {
        once.Read(std::make_unique<TStringStream>("b"));
        FAIL() << "a streamer read twice";
    } catch (const ETsReusingStreamer& e) {
        EXPECT_EQ(e.Message(),
                  u"TTsmNativeStreamer is not reusable for reading - create new streamer for each operation.");
    }

    // A failed read used the streamer up too, and a given root is never touched.
    TTsmNativeStreamer failed;
    EXPECT_THROW(failed.Read(std::make_unique<TStringStream>(" a")), ETsBadTextStreaming);
    EXPECT_THROW(failed.Read(std::make_unique<TStringStream>("a")), ETsReusingStreamer);
    TTsTreeNode given(u"given");
    TTsmNativeStreamer withRoot(&given);
    EXPECT_THROW(withRoot.Read(std::make_unique<TStringStream>("a")), ETsReusingStreamer);
    EXPECT_EQ(given.ChildCount(), 0);
    EXPECT_THROW(TTsmNativeStreamer().Read(nullptr), EInvalidArgument);
    try {
        TTsmNativeStreamer::ReadFrom(std::make_unique<TStringStream>(" a"));
        FAIL();
    } catch (const ETsBadTextStreaming& e) {
        EXPECT_EQ(e.Streamer, nullptr);
        EXPECT_EQ(e.Message().substr(0, 46), u"Problem parsing string with TTsmNativeStreamer");
    }
}

TEST(Streamers, SourceNamesAndStartPosition) {
    auto named = ReadModel("a", u"given.txt");
    EXPECT_EQ(named->ChildByIndex(0)->Props().Get(u"source").Value.Str, u"given.txt");

    auto unnamed = TTsmNativeStreamer::ReadFrom(std::make_unique<TStringStream>("a"));
    const TTsValue& source = unnamed->ChildByIndex(0)->Props().Get(u"source").Value;
    EXPECT_EQ(source.Str, u"<StringStream>");
    EXPECT_EQ(source.Kinds, vkInt | vkString);

    const WideString file = Utf8ToWide(testing::TempDir()) + u"streamer source.txt";
    SaveFileBytes(file, "a\n");
    auto fromFile = TTsmNativeStreamer::ReadFrom(std::make_unique<TFileStreamW>(file, TFileMode::fmOpenRead));
    EXPECT_EQ(Str(*fromFile->ChildByIndex(0), u"source"), file);
    DeleteFileW(file);

    // Reading starts at the stream's position; lines count from there.
    auto stream = std::make_unique<TStringStream>("skipped\nx\n\ny");
    stream->SetPosition(8);
    TTsmNativeStreamer streamer;
    auto rest = streamer.Read(std::move(stream));
    EXPECT_EQ(streamer.StartPos(), 8);
    ASSERT_EQ(rest->ChildCount(), 2);
    EXPECT_EQ(rest->ChildByIndex(0)->Name(), u"x");
    EXPECT_EQ(Int(*rest->ChildByIndex(1), u"source"), 2);
}

TEST(Streamers, LineBreakDetection) {
    EXPECT_EQ(TTsTextStreamer::DetectLineBreak(u"a\r\nb\nc"), u"\r\n");
    EXPECT_EQ(TTsTextStreamer::DetectLineBreak(u"a\nb\r\nc"), u"\n");
    EXPECT_EQ(TTsTextStreamer::DetectLineBreak(u"a\rb"), u"\r");
    EXPECT_EQ(TTsTextStreamer::DetectLineBreak(u"ab"), u"\n");
    EXPECT_EQ(TTsTextStreamer::DetectLineBreak(u""), u"\n");
    // The search starts at the second character.
    EXPECT_EQ(TTsTextStreamer::DetectLineBreak(u"\nab"), u"\n");
    EXPECT_EQ(TTsTextStreamer::DetectLineBreak(u"\nab\rc"), u"\r");
    EXPECT_EQ(TTsTextStreamer::DetectLineBreak(u"\r\nab"), u"\r\n");

    // A stream's rest answers by the same rule, also where a break spans
    // two of its reads, and is left where it was.
    const std::string padding(4095, 'x');
    const std::pair<std::string, std::u16string_view> streams[] = {{"a\r\nb\nc", u"\r\n"},
                                                                   {"a\nb\r\nc", u"\n"},
                                                                   {"a\rb", u"\r"},
                                                                   {"", u"\n"},
                                                                   {"\nab\rc", u"\r"},
                                                                   {padding + "\r\nb", u"\r\n"},
                                                                   {padding + "\n\r", u"\n"},
                                                                   {"y" + padding + "\r", u"\r"},
                                                                   {"\r" + padding + "\r\n", u"\r\n"}};
    for (const auto& [bytes, expected] : streams) {
        TStringStream stream("<<" + bytes);
        stream.Seek(2, TSeekOrigin::soBeginning);
        EXPECT_EQ(TTsTextStreamer::DetectLineBreak(stream), expected) << bytes.size() << " bytes";
        EXPECT_EQ(stream.Position(), 2);
    }

    // All three breaks give the same tree; so does a text that starts with its only LF.
    for (const char* text : {"a\r\n  b\r\n\r\nc", "a\n  b\n\nc", "a\r  b\r\rc", "\na\n  b\n\nc"}) {
        auto root = ReadModel(text);
        ASSERT_EQ(root->ChildCount(), 2) << text;
        EXPECT_EQ(root->ChildByIndex(0)->Name(), u"a");
        ASSERT_EQ(root->ChildByIndex(0)->ChildCount(), 1);
        EXPECT_EQ(root->ChildByIndex(0)->ChildByIndex(0)->Name(), u"b");
        EXPECT_EQ(root->ChildByIndex(1)->Name(), u"c");
        EXPECT_EQ(Int(*root->ChildByIndex(1), u"source") - Int(*root->ChildByIndex(0), u"source"), 3) << text;
    }

    // A line break set by the caller is kept, not detected.
    TTsmNativeStreamer streamer;
    streamer.Options.LineBreak = u"|";
    auto root = streamer.Read(std::make_unique<TStringStream>("a|b = c\nd"));
    ASSERT_EQ(root->ChildCount(), 2);
    EXPECT_EQ(root->ChildByIndex(1)->Name(), u"b");
    EXPECT_EQ(Str(*root->ChildByIndex(1), u"mCond"), u"= c\nd");
}

TEST(Streamers, BlankLinesAreSkippedButCounted) {
    auto root = ReadModel("a\n\n   \n\t\n \t \nb   \t");
    ASSERT_EQ(root->ChildCount(), 2);
    EXPECT_EQ(Int(*root->ChildByIndex(0), u"source"), 0);
    EXPECT_EQ(Int(*root->ChildByIndex(1), u"source"), 5);
    EXPECT_EQ(root->ChildByIndex(1)->Name(), u"b");
    EXPECT_EQ(Str(*root->ChildByIndex(1), u"mCond"), u"<none>");

    try {
        ReadModel("a\n\n \t\n   b");
        FAIL();
    } catch (const ETsBadTextStreaming& e) {
        EXPECT_EQ(e.LineNumber, 4);
        EXPECT_EQ(e.Reason, u"wrong indentation - must be even to 2, got 3 spaces");
    }
}

TEST(Streamers, DecodingFollowsTheOptionsCodepage) {
    TTsmNativeStreamer defaults;
    EXPECT_EQ(defaults.Options.Codepage, 1250);
    EXPECT_EQ(defaults.Options.LineBreak, u"");
    auto cp1250 = defaults.Read(std::make_unique<TStringStream>("a = \xCF\xF0"));
    EXPECT_EQ(Str(*cp1250->ChildByIndex(0), u"mCond"), u"= \u010E\u0111");

    TTsmNativeStreamer cyrillic;
    cyrillic.Options.Codepage = 1251;
    auto cp1251 = cyrillic.Read(std::make_unique<TStringStream>("a = \xCF\xF0"));
    EXPECT_EQ(Str(*cp1251->ChildByIndex(0), u"mCond"), u"= \u041F\u0440");

    TTsmNativeStreamer utf16;
    utf16.Options.Codepage = -2;
    auto wide = utf16.Read(std::make_unique<TStringStream>(std::string("a\0\n\0 \0 \0b\0", 10)));
    ASSERT_EQ(wide->ChildCount(), 1);
    EXPECT_EQ(wide->ChildByIndex(0)->ChildByIndex(0)->Name(), u"b");

    // Decoding stops at the first zero byte.
    auto cut = ReadModel(std::string("a\nb\0\nc", 6));
    EXPECT_EQ(cut->ChildCount(), 2);
}

TEST(Streamers, ErrorMessageLayout) {
    EXPECT_EQ(MessageOf("a\nb\nc\nd\n   abc"),
              u"Problem parsing string with TTsmNativeStreamer (wrong indentation - must be even to 2, got 3 spaces) "
              u"on line 5; text nearby: '   abc'.");
    // Twenty characters are shown in full; more are cut with "...".
    EXPECT_EQ(MessageOf(" 123456789abcdefghij"),
              u"Problem parsing string with TTsmNativeStreamer (wrong indentation - must be even to 2, got 1 spaces) "
              u"on line 1; text nearby: ' 123456789abcdefghij'.");
    EXPECT_EQ(MessageOf(" 123456789abcdefghijk"),
              u"Problem parsing string with TTsmNativeStreamer (wrong indentation - must be even to 2, got 1 spaces) "
              u"on line 1; text nearby: ' 123456789abcdefghij...'.");

    const std::u16string_view line = u"0123456789abcdefghijklmnopqrstuvwxyz";  // 36 characters
    EXPECT_EQ(ETsBadTextStreaming::PositionText(line, 0), u"");
    EXPECT_EQ(ETsBadTextStreaming::PositionText(line, 12), u", 'b'");
    EXPECT_EQ(ETsBadTextStreaming::PositionText(line, 36), u", 'z'");
    EXPECT_EQ(ETsBadTextStreaming::PositionText(line, 37), u", <end>");
    EXPECT_EQ(ETsBadTextStreaming::NearbyText(line, 12), u"123456789a*ERROR*bcdefghijklmnopqrstu...");
    EXPECT_EQ(ETsBadTextStreaming::NearbyText(line, 3), u"01*ERROR*23456789abcdefghijkl...");
    EXPECT_EQ(ETsBadTextStreaming::NearbyText(line, 17), u"6789abcdef*ERROR*ghijklmnopqrstuvwxyz");
    EXPECT_EQ(ETsBadTextStreaming::NearbyText(line, 40), u"qrstuvwxyz*ERROR*");

    TTsmNativeStreamer streamer;
    try {
        streamer.Read(std::make_unique<TStringStream>("a\n  b\n      c"));
        FAIL();
    } catch (const ETsBadTextStreaming& e) {
        EXPECT_EQ(e.Streamer, &streamer);
        EXPECT_EQ(e.LineNumber, 3);
        EXPECT_EQ(streamer.LineIndex(), 2);
        EXPECT_EQ(streamer.Line(), u"      c");
        EXPECT_EQ(e.Message(),
                  u"Problem parsing string with TTsmNativeStreamer (wrong indentation - got more than "
                  u"4 spaces (6)) on line 3; text nearby: '      c'.");
    }
}
