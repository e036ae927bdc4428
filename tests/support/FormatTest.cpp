#include <gtest/gtest.h>

#include "support/Exception.h"
#include "support/Format.h"
#include "support/Streams.h"
#include "support/Strings.h"

using namespace ts;

namespace {
class TSample : public TObject {
    TS_CLASS(TSample)
};
}  // namespace

TEST(Format, DirectivesOfTheMessages) {
    EXPECT_EQ(Format(u"#%-2d %s", {3, u"key"}), u"#3  key");
    EXPECT_EQ(Format(u"$%.2X", {1}), u"$01");
    EXPECT_EQ(Format(u"%.4X|%x", {0xAB, 255}), u"00AB|FF");
    EXPECT_EQ(Format(u"%d%%", {-5}), u"-5%");
    EXPECT_EQ(Format(u"%5s|%-5s|", {u"ab", u"cd"}), u"   ab|cd   |");
    EXPECT_EQ(Format(u"%.3s", {u"abcdef"}), u"abc");
    EXPECT_EQ(Format(u"%g", {1.5}), u"1.5");
    EXPECT_EQ(Format(u"%s", {std::string("\xc3\xa9")}), u"\u00e9");
}

TEST(Format, ObjectsPrintAsClassNames) {
    TSample s;
    const TSample* none = nullptr;
    EXPECT_EQ(Format(u"%s and %s", {&s, none}), u"TSample and <nil object>");
}

TEST(Format, MissingArgumentOrBadDirectiveIsAConvertError) {
    EXPECT_THROW(Format(u"%s %s", {u"one"}), EConvertError);
    EXPECT_THROW(Format(u"%q", {1}), EConvertError);
    EXPECT_THROW(Format(u"ends with %", {}), EConvertError);
}

TEST(Strings, FloatTextsFollowThePlatform) {
    EXPECT_EQ(FloatToStr(0.1), u"0.1");
    EXPECT_EQ(FloatToStr(1e20), u"1E20");
    EXPECT_EQ(FloatToStr(-1.5e-7), u"-1.5E-7");
    EXPECT_EQ(FloatToStr(123456789012345.0), u"123456789012345");
    EXPECT_EQ(FloatToStr(2.0), u"2");
}

TEST(Strings, Utf8RoundTripAndBadBytes) {
    WideString w = u"a\u00e9\u4e2d\U0001F600";
    EXPECT_EQ(Utf8ToWide(WideToUtf8(w)), w);
    EXPECT_EQ(Utf8ToWide("\xff"
                         "a\xc3"),
              u"\uFFFDa\uFFFD");
    EXPECT_EQ(Utf8ToWide("\xc0\x80"), u"\uFFFD\uFFFD");  // overlong NUL
}

TEST(Strings, IntegerParsing) {
    EXPECT_EQ(TryStrToInt(u"-12"), -12);
    EXPECT_EQ(TryStrToInt(u"$FF"), 255);
    EXPECT_EQ(TryStrToInt(u"0x10"), 16);
    EXPECT_EQ(TryStrToInt(u"2147483647"), 2147483647);
    EXPECT_EQ(TryStrToInt(u"-2147483648"), INT32_MIN);
    EXPECT_FALSE(TryStrToInt(u"2147483648"));
    EXPECT_FALSE(TryStrToInt(u""));
    EXPECT_FALSE(TryStrToInt(u"1x"));
}

TEST(Strings, UnicodeCaseMapping) {
    EXPECT_EQ(UpperCaseW(u"stra\u00dfe \u043a\u043e\u0438"), u"STRASSE \u041a\u041e\u0418");
    EXPECT_TRUE(SameTextW(u"\u041a\u043e\u0438", u"\u043a\u041e\u0418"));
    EXPECT_TRUE(SameTextAscii(u"KOI8-r", u"koi8-R"));
}

TEST(Streams, MemoryStreamSeeksAndGrows) {
    TStringStream s("hello");
    EXPECT_EQ(s.Description(), u"<StringStream>");
    char buf[3];
    s.Seek(-3, TSeekOrigin::soEnd);
    s.ReadBuffer(buf, 3);
    EXPECT_EQ(std::string(buf, 3), "llo");
    EXPECT_THROW(s.ReadBuffer(buf, 1), EReadError);
    s.WriteBytes("!!");
    EXPECT_EQ(s.DataString(), "hello!!");
    s.SetPosition(1);
    EXPECT_EQ(s.ReadToEnd(), "ello!!");
}

TEST(Streams, FileStreamWithWideNameAndErrors) {
    WideString name = Utf8ToWide(::testing::TempDir()) + u"ts_\u00e9_file.bin";
    SaveFileBytes(name, std::string("a\0b", 3));
    EXPECT_TRUE(FileExistsW(name));
    EXPECT_EQ(LoadFileBytes(name), std::string("a\0b", 3));
    {
        TFileStreamW f(name, TFileMode::fmOpenRead);
        EXPECT_EQ(f.Description(), name);
        EXPECT_EQ(f.Size(), 3);
    }
    EXPECT_TRUE(DeleteFileW(name));
    try {
        TFileStreamW f(name, TFileMode::fmOpenRead);
        FAIL();
    } catch (const EFOpenError& e) {
        EXPECT_NE(e.Message().find(u"Cannot open file \"" + name + u"\"."), WideString::npos);
    }
}

TEST(Exception, RaiseKeepsTheClassOfACopy) {
    std::unique_ptr<Exception> held = EConvertError(u"bad").Clone();
    EXPECT_THROW(held->Raise(), EConvertError);
    EXPECT_EQ(held->ClassName(), u"EConvertError");
    EXPECT_STREQ(held->what(), "bad");
}
