// Charset name lookup and code page conversion.
#include <gtest/gtest.h>

#include "library/script/charset/Charsets.h"
#include "support/Exception.h"

using namespace ts;

TEST(Charsets, NamesMatchInAnyCaseAndAliasesResolveThroughTargets) {
    EXPECT_EQ(CodepageOfCharset("koi8-r"), 20866);
    EXPECT_EQ(CodepageOfCharset("KOI8-R"), 20866);
    EXPECT_EQ(CodepageOfCharset("Koi8-R"), 20866);
    EXPECT_EQ(CodepageOfCharset("UTF-8"), CpUtf8);
    EXPECT_EQ(CodepageOfCharset("windows-1251"), 1251);
    // cp866 holds the code page; ibm866 only points at it.
    EXPECT_EQ(CodepageOfCharset("IBM866"), 866);
    EXPECT_EQ(CodepageOfCharset("x-CP1250"), 1250);
    EXPECT_EQ(CodepageOfCharset("Latin1"), 28591);
    // Two hops: cp936 -> gbk -> gb2312.
    EXPECT_EQ(CodepageOfCharset("CP936"), 936);
    EXPECT_EQ(CodepageOfCharset("utf-16be"), 1201);
    EXPECT_EQ(CodepageOfCharset("ks_c_5601"), 949);
    EXPECT_EQ(CodepageOfCharset("iso-8859-15"), 28605);

    EXPECT_EQ(CodepageOfCharset(""), CpUnknown);
    EXPECT_EQ(CodepageOfCharset("koi8-r "), CpUnknown);
    EXPECT_EQ(CodepageOfCharset("klingon"), CpUnknown);
    EXPECT_EQ(CodepageOfCharset(std::string_view("utf-8\0x", 7)), CpUnknown);
}

TEST(Charsets, EveryNamedCodepageThatIcuKnowsConverts) {
    // A table typo (a code page with no converter) shows up here.
    for (const char* name :
         {"utf-8",       "unicode",     "utf-16be",     "us-ascii",     "iso-8859-1",    "iso-8859-2",   "iso-8859-5",
          "iso-8859-15", "windows-874", "windows-1250", "windows-1251", "windows-1252",  "windows-1258", "koi8-r",
          "koi8-u",      "ibm866",      "ibm437",       "ibm850",       "shift_jis",     "euc-jp",       "gb2312",
          "gbk",         "gb18030",     "big5",         "euc-kr",       "ks_c_5601-1987"}) {
        int32_t cp = CodepageOfCharset(name);
        ASSERT_NE(cp, CpUnknown) << name;
        EXPECT_TRUE(IsCodepageSupported(cp)) << name;
        EXPECT_EQ(BytesToWide(cp, WideToBytes(cp, u"Tessarine 0.79", -1, true)), u"Tessarine 0.79") << name;
    }
    EXPECT_FALSE(IsCodepageSupported(CpUnknown));
    EXPECT_TRUE(IsCodepageSupported(CpUtf16Bytes));
}

TEST(Charsets, DecodingSingleAndMultiByteCodepages) {
    // "Привет" in three Cyrillic code pages.
    const WideString privet = u"\u041F\u0440\u0438\u0432\u0435\u0442";
    EXPECT_EQ(BytesToWide(20866, "\xF0\xD2\xC9\xD7\xC5\xD4"), privet);
    EXPECT_EQ(BytesToWide(1251, "\xCF\xF0\xE8\xE2\xE5\xF2"), privet);
    EXPECT_EQ(BytesToWide(866, "\x8F\xE0\xA8\xA2\xA5\xE2"), privet);
    EXPECT_EQ(WideToBytes(20866, privet), "\xF0\xD2\xC9\xD7\xC5\xD4");
    EXPECT_EQ(BytesToWide(CpUtf8, "\xE2\x82\xAC\xF0\x9F\x98\x80"), u"\u20AC\U0001F600");
    EXPECT_EQ(BytesToWide(932, "\x93\xFA\x96\x7B"), u"\u65E5\u672C");

    // Zero-terminated conversion; undecodable bytes are replaced, not dropped.
    EXPECT_EQ(BytesToWide(1252, std::string_view("ab\0cd", 5)), u"ab");
    EXPECT_EQ(BytesToWide(CpUtf8,
                          "a\xFF"
                          "b"),
              u"a\uFFFD"
              "b");
    EXPECT_EQ(BytesToWide(1252, ""), u"");
    // A buffer size counts the terminating zero.
    EXPECT_EQ(BytesToWide(1252, "abcdef", 4), u"abc");
    EXPECT_EQ(WideToBytes(1252, u"abcdef", 3), "ab");
    EXPECT_EQ(BytesToWide(1252, "abcdef", 0), u"");

    EXPECT_THROW(BytesToWide(CpUnknown, "abc"), EConvertError);
    EXPECT_THROW(WideToBytes(12345, u"abc"), EConvertError);
}

TEST(Charsets, Utf16BytesAreCopiedExactly) {
    // Zero units and a lone surrogate survive: nothing is converted.
    const WideString text = WideString(u"a") + char16_t(0) + u"\u041F\U0001F600\uFFFF" + char16_t(0xDC00) + u"z";
    RawByteString bytes = WideToBytes(CpUtf16Bytes, text, -1, true);
    ASSERT_EQ(bytes.size(), text.size() * 2);
    EXPECT_EQ(bytes.substr(0, 6), std::string("a\0\0\0\x1F\x04", 6));
    EXPECT_EQ(BytesToWide(CpUtf16Bytes, bytes), text);
    // An odd trailing byte is not half a character.
    EXPECT_EQ(BytesToWide(CpUtf16Bytes, std::string("a\0b", 3)), u"a");
    EXPECT_EQ(BytesToWide(CpUtf16Bytes, bytes, 3), text.substr(0, 2));
    EXPECT_EQ(WideToBytes(CpUtf16Bytes, text, 4), std::string("a\0\0", 3));
    // Every other code page stops at the first zero.
    EXPECT_EQ(WideToBytes(CpUtf8, text), "a");
}

TEST(Charsets, LosslessErrorOnlyWhenRequired) {
    const WideString text = u"Cena: 5\u20AC \u041F";  // the euro is in 1252, the Cyrillic letter is not
    EXPECT_EQ(WideToBytes(1252, text), "Cena: 5\x80 ?");
    try {
        WideToBytes(1252, text, -1, true);
        FAIL() << "expected EConvertError";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), u"Codepage 1252 cannot represent all symbols of given string 'Cena: 5\u20AC \u041F'.");
    }
    EXPECT_NO_THROW(WideToBytes(1251, text, -1, true));
    EXPECT_EQ(WideToBytes(20127, u"\u00E9t\u00E9"), "?t?");

    // The message quotes the first 50 characters only.
    const WideString longText = WideString(60, u'x') + u"\u0416";
    try {
        WideToBytes(28591, longText, -1, true);
        FAIL() << "expected EConvertError";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(),
                  u"Codepage 28591 cannot represent all symbols of given string '" + WideString(50, u'x') + u"'.");
    }
    // A lone surrogate has no UTF-8 form.
    EXPECT_THROW(WideToBytes(CpUtf8, WideString(u"a") + char16_t(0xD800), -1, true), EConvertError);
    EXPECT_EQ(WideToBytes(CpUtf8, WideString(u"a") + char16_t(0xD800) + u"b"), "a?b");
}

TEST(Charsets, ReusedConvertersCarryNoStateBetweenCalls) {
    // A sequence cut in the middle of a double-byte character must not leak
    // into the next conversion with the same code page.
    std::string cut = "\x82";  // first byte of a Shift_JIS character
    WideString first = BytesToWide(932, cut);
    EXPECT_EQ(BytesToWide(932, "\x82\xa0"), u"\u3042");
    EXPECT_EQ(BytesToWide(932, cut), first);
    // A lossless failure leaves the converter usable, and a lossy call after it
    // still replaces without raising.
    EXPECT_THROW(WideToBytes(1251, u"\u4e2d", -1, true), EConvertError);
    EXPECT_EQ(WideToBytes(1251, u"\u4e2d\u0416"), "?\xc6");
    EXPECT_EQ(WideToBytes(1251, u"\u0416", -1, true), "\xc6");
    // More code pages than the converters kept open.
    for (int cp : {1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258, 866, 20866, 28591})
        EXPECT_EQ(BytesToWide(cp, "abc"), u"abc") << cp;
    EXPECT_EQ(BytesToWide(20866, "\xeb"), u"\u041a");
}
