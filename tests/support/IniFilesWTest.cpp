#include <gtest/gtest.h>

#include "support/IniFilesW.h"

using namespace ts;

TEST(MemIniFileW, OrderCaseAndReplacement) {
    TMemIniFileW ini;
    ini.WriteString(u"tsn", u"Name", u"1");
    ini.WriteString(u"Colors", u"fg", u"red");
    ini.WriteString(u"TSN", u"name", u"2");  // same section and key, other case
    ini.WriteString(u"tsn", u"\u00c9t\u00e9", u"multi\nline");
    EXPECT_EQ(ini.ReadSections(), (std::vector<WideString>{u"tsn", u"Colors"}));
    EXPECT_EQ(ini.ReadSection(u"tsn"), (std::vector<WideString>{u"Name", u"\u00c9t\u00e9"}));
    EXPECT_EQ(ini.ReadString(u"tsn", u"NAME", u"?"), u"2");
    EXPECT_EQ(ini.ReadString(u"tsn", u"\u00c9t\u00e9", u"?"), u"multi\nline");
    EXPECT_EQ(ini.ReadString(u"none", u"x", u"def"), u"def");
    EXPECT_TRUE(ini.ValueExists(u"colors", u"FG"));

    ini.DeleteKey(u"tsn", u"name");
    EXPECT_EQ(ini.ReadSection(u"tsn"), (std::vector<WideString>{u"\u00c9t\u00e9"}));
    EXPECT_EQ(ini.ReadString(u"tsn", u"\u00c9t\u00e9", u"?"), u"multi\nline");
    ini.EraseSection(u"TSN");
    EXPECT_FALSE(ini.SectionExists(u"tsn"));
    EXPECT_EQ(ini.ReadString(u"colors", u"fg", u"?"), u"red");
}

TEST(MemIniFileW, TextRoundTrip) {
    TMemIniFileW ini;
    ini.SetText(u"; comment\r\n[a]\r\nx = 1\r\n\r\n[b]\ny=two words\nbad line\n[a]\nz=3");
    EXPECT_EQ(ini.ReadSections(), (std::vector<WideString>{u"a", u"b"}));
    EXPECT_EQ(ini.ReadSection(u"a"), (std::vector<WideString>{u"x", u"z"}));
    EXPECT_EQ(ini.ReadString(u"b", u"y", u""), u"two words");
    TMemIniFileW copy;
    copy.SetText(ini.GetText());
    EXPECT_EQ(copy.GetText(), ini.GetText());
}
