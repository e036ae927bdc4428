// The native text model reader: one line's parts, item processing, node
// building and the properties written for each node.
#include <gtest/gtest.h>

#include "ReaderTestUtil.h"

using namespace ts;
using namespace ts::test;

namespace {
const WideString kNone = u"<none>";
// Merge list texts separate entries by U+0000.
WideString Z(std::u16string_view a, std::u16string_view b) { return WideString(a) + u'\0' + WideString(b); }
}  // namespace

TEST(NativeReader, EmptyTextsAndComments) {
    for (const char* text : {"", "\r\n\r\n", "; only a comment", "\n  \n; c\n   ; odd comment\n\t;tabbed\n"}) {
        auto root = ReadModel(text);
        EXPECT_EQ(root->Name(), u"");
        EXPECT_EQ(root->ChildCount(), 0) << text;
    }
    // A ";" after content belongs to the condition.
    auto line = ReadLine("a ; not a comment");
    EXPECT_EQ(line->Name(), u"a");
    EXPECT_EQ(Str(*line, u"mCond"), u"; not a comment");
}

TEST(NativeReader, IndentationBuildsTheTree) {
    auto root = ReadModel("a\n  b\n    c\n  d\n\n    ; comment at any depth\ne\n  f\n    g\nh\n");
    ASSERT_EQ(root->ChildCount(), 3);
    const TTsTreeNode& a = *root->ChildByIndex(0);
    ASSERT_EQ(a.ChildCount(), 2);
    EXPECT_EQ(a.ChildByIndex(0)->Name(), u"b");
    EXPECT_EQ(a.ChildByIndex(0)->ChildByIndex(0)->Name(), u"c");
    EXPECT_EQ(a.ChildByIndex(1)->Name(), u"d");
    EXPECT_EQ(a.ChildByIndex(1)->ChildCount(), 0);
    // Climbing two levels at once.
    EXPECT_EQ(root->ChildByIndex(1)->ChildByIndex(0)->ChildByIndex(0)->Name(), u"g");
    EXPECT_EQ(root->ChildByIndex(2)->Name(), u"h");
    EXPECT_EQ(Int(*root->ChildByIndex(2), u"source"), 9);

    // A tab is two spaces of indentation.
    auto tabbed = ReadModel("a\n\tb\n\t  c");
    EXPECT_EQ(tabbed->ChildByIndex(0)->ChildByIndex(0)->ChildByIndex(0)->Name(), u"c");

    EXPECT_EQ(ReasonOf("  a"), u"wrong indentation - got more than 0 spaces (2)");
    EXPECT_EQ(ReasonOf("a\n  b\n      c"), u"wrong indentation - got more than 4 spaces (6)");
    EXPECT_EQ(ReasonOf("a\n   b"), u"wrong indentation - must be even to 2, got 3 spaces");
    EXPECT_EQ(ReasonOf("a\n \tb"), u"wrong indentation - must be even to 2, got 3 spaces");
    EXPECT_EQ(ReasonOf(" ;a\n b"), u"wrong indentation - must be even to 2, got 1 spaces");
}

TEST(NativeReader, NestingDepthIsBounded) {
    auto nested = [](int levels) {
        std::string text;
        for (int i = 0; i < levels; ++i) text += std::string(static_cast<size_t>(2 * i), ' ') + "n\n";
        return text;
    };
    auto deepest = ReadModel(nested(MaxModelLevel + 1));
    const TTsTreeNode* node = deepest.get();
    int depth = 0;
    while (node->ChildCount() > 0) {
        node = node->ChildByIndex(0);
        ++depth;
    }
    EXPECT_EQ(depth, MaxModelLevel + 1);
    try {
        ReadModel(nested(MaxModelLevel + 2));
        FAIL();
    } catch (const ETsBadTextStreaming& e) {
        EXPECT_EQ(e.Reason, u"wrong indentation - 1001");
        EXPECT_EQ(e.LineNumber, MaxModelLevel + 2);
    }
    // A first line that is deep at once fails on its level, not on the jump.
    EXPECT_EQ(ReasonOf(std::string(4000, ' ') + "x"), u"wrong indentation - 2000");
}

TEST(NativeReader, OrderPrefix) {
    struct Case {
        const char* line;
        int32_t order;
        const char* flags;
        const char16_t* name;
    };
    const Case cases[] = {
        {"1 a = x", 1, "", u"a"},
        {"0 a = x", 0, "R", u"a"},
        {"012 a = x", 12, "R", u"a"},
        {"12x a = x", 12, "", u"a"},
        {"5^ a = x", 5, "T", u"a"},
        {"5? a = x", 5, "O", u"a"},
        {"5?^ a = x", 5, "T", u"a"},
        {".? a = x", 0, "O1", u"a"},
        {". a = x", 0, "1", u"a"},
        {".5 a = x", 0, "1", u"a"},
        {"^ a = x", 0, "T", u"a"},
        {"0x1F a = x", 31, "R", u"a"},
        {"0$10 a = x", 16, "R", u"a"},
        {"7", 7, "", u""},
        {"9a", 9, "", u""},
        {"99999999999 a = x", 999999999, "", u"a"},
    };
    for (const Case& c : cases) {
        auto line = ReadLine(c.line);
        EXPECT_EQ(Int(*line, u"mOrder"), c.order) << c.line;
        EXPECT_EQ(Flags(*line), c.flags) << c.line;
        EXPECT_EQ(line->Name(), c.name) << c.line;
    }

    auto nameless = ReadLine("0? % SP+ + SP+");
    EXPECT_EQ(nameless->Name(), u"");
    EXPECT_EQ(Flags(*nameless), "RO");
    EXPECT_EQ(Int(*nameless, u"mOrder"), 0);
    EXPECT_EQ(Str(*nameless, u"mCond"), u"% SP+ + SP+");
    EXPECT_EQ(Str(*nameless, u"mMergesR"), kNone);
}

TEST(NativeReader, ItemListDetection) {
    struct Case {
        const char* line;
        const char16_t* name;
        const char16_t* cond;
    };
    const Case cases[] = {
        {"abc", u"abc", kNone.c_str()},
        {"_a", u"", u"_a"},
        {"a_b = 1", u"a_b", u"= 1"},
        {"(_a)", u"_a", kNone.c_str()},
        {"+_a", u"_a", kNone.c_str()},
        {"(+@x)", u"", u"(+@x)"},  // the fourth character is never looked at
        {"@+x", u"x", kNone.c_str()},
        {"\"x\" = 1", u"x", u"= 1"},
        {"= \"x\"", u"", u"= \"x\""},
        {"% a", u"", u"% a"},
        {"@", u"", u"@"},
        {"(.)", u"", u"(.)"},
        {"END... % SP+ +", u"END", u"% SP+ +"},
    };
    for (const Case& c : cases) {
        auto line = ReadLine(c.line);
        EXPECT_EQ(line->Name(), c.name) << c.line;
        EXPECT_EQ(Str(*line, u"mCond"), c.cond) << c.line;
    }
    // A lone double quote is no item, but it opens a path that never closes.
    EXPECT_EQ(ReasonOf("\""), u"unterminated \"node path\"");
}

TEST(NativeReader, MergeLists) {
    auto merged = ReadLine("a + b + (c...) + d");
    EXPECT_EQ(merged->Name(), u"c");
    EXPECT_EQ(Flags(*merged), "XIN");
    EXPECT_EQ(Str(*merged, u"mMergesL"), Z(u"a", u"b"));
    EXPECT_EQ(Str(*merged, u"mMergesR"), u"d");

    auto nonConsuming = ReadLine("a... + b... + c = x");
    EXPECT_EQ(nonConsuming->Name(), u"a");
    EXPECT_EQ(Flags(*nonConsuming), "N");
    EXPECT_EQ(Str(*nonConsuming, u"mMergesR"), Z(u".b", u"c"));
    EXPECT_EQ(Str(*nonConsuming, u"mMergesL"), kNone);
    EXPECT_EQ(Str(*nonConsuming, u"mCond"), u"= x");

    // "+" must stand alone to continue the list.
    auto glued = ReadLine("a +b");
    EXPECT_EQ(Str(*glued, u"mMergesR"), kNone);
    EXPECT_EQ(Str(*glued, u"mCond"), u"+b");

    // "name?" ends the list: the "?" and the rest are the condition.
    auto question = ReadLine("name? + b");
    EXPECT_EQ(question->Name(), u"name");
    EXPECT_EQ(Str(*question, u"mCond"), u"? + b");
    EXPECT_EQ(Str(*question, u"mMergesR"), kNone);
    EXPECT_EQ(Str(*ReadLine("name? text"), u"mCond"), u"? text");

    // At most 256 items; what follows stays in the condition.
    std::string line = "m0";
    for (int i = 1; i < 300; ++i) line += " + m" + std::to_string(i);
    auto many = ReadLine(line);
    WideString rights = Str(*many, u"mMergesR");
    EXPECT_EQ(std::count(rights.begin(), rights.end(), u'\0'), 254);
    EXPECT_EQ(rights.substr(rights.rfind(u'\0') + 1), u"m255");
    EXPECT_EQ(Str(*many, u"mCond").substr(0, 12), u"+ m256 + m25");
}

TEST(NativeReader, OffContextAndInheritance) {
    struct Case {
        const char* line;
        const char16_t* name;
        const char* flags;
    };
    const Case cases[] = {
        {"(c)", u"c", "XI"},
        {"(@c)", u"c", "X"},
        {"(c) = x", u"c", "XI"},
        {"(@c) = x", u"c", "X"},
        {"x + (@+c) = x", u"c", "XIP"},
        {"(@+c) = x", u"", ""},  // "(@+" fills the three characters: no items
        {"(@C) + x", u"C", "X"},
        {"name", u"name", "I"},
        {"name = x", u"name", ""},
        {"+name = x", u"name", "IP"},
        {"NAME", u"NAME", ""},
        {"+NAME", u"NAME", "P"},
        {"@NAME = x", u"NAME", "I"},
        {"field \"a\\b\"", u"field", "I"},
        {"field \"a\\b\" = x", u"field", "I"},
        {"FIELD \"a\\b\"", u"FIELD", ""},
        {"\"x\\field\"", u"field", "I"},
        {"\"x\\field\" = 1", u"field", ""},
        {"\u00e9t\u00e9 = x", u"", ""},  // not an item: non-ASCII letters do not start one
        {"a\u00e9 \"p\" = x", u"a\u00e9", "I"},
        {"A\u00c9 \"p\" = x", u"A\u00c9", ""},
    };
    for (const Case& c : cases) {
        TTsmNativeStreamer streamer;
        streamer.Options.Codepage = 65001;
        auto root = streamer.Read(std::make_unique<TStringStream>(c.line));
        ASSERT_EQ(root->ChildCount(), 1) << c.line;
        EXPECT_EQ(root->ChildByIndex(0)->Name(), c.name) << c.line;
        EXPECT_EQ(Flags(*root->ChildByIndex(0)), c.flags) << c.line;
    }

    auto first = ReadLine("(a) + b");
    EXPECT_EQ(Str(*first, u"mMergesL"), kNone);
    EXPECT_EQ(Str(*first, u"mMergesR"), u"b");
    // Only the first bracketed item is the node; a later one is a merge as written.
    auto second = ReadLine("x + (y) + (z)");
    EXPECT_EQ(second->Name(), u"y");
    EXPECT_EQ(Str(*second, u"mMergesL"), u"x");
    EXPECT_EQ(Str(*second, u"mMergesR"), u"(z)");

    EXPECT_EQ(ReasonOf("(x"), u"no closing bracket for '(off-context)'");
    EXPECT_EQ(ReasonOf("a + (x)..."), u"no closing bracket for '(off-context)'");
    EXPECT_EQ(ReasonOf("x + (...)"), u"empty item name");
    EXPECT_EQ(ReasonOf("a + (+)"), u"empty item name");
    EXPECT_EQ(ReasonOf("x + (+...) = x"), u"empty item name");
}

TEST(NativeReader, QuotedNamesAndPaths) {
    auto quoted = ReadLine("\"x\\y\"");
    EXPECT_EQ(quoted->Name(), u"y");
    EXPECT_EQ(Str(*quoted, u"mPath"), u"x\\y");
    EXPECT_EQ(ReasonOf("\"x\\\""), u"\"path\" contains none of a-z, A-Z, 0-9 or '_'");

    auto path = ReadLine("a \" p q \"   = 1");
    EXPECT_EQ(path->Name(), u"a");
    EXPECT_EQ(Str(*path, u"mPath"), u"p q");
    EXPECT_EQ(Str(*path, u"mCond"), u"= 1");
    EXPECT_EQ(Flags(*path), "I");
    // The first closing quote ends the path.
    auto early = ReadLine("a \"p\"q\" = 1");
    EXPECT_EQ(Str(*early, u"mPath"), u"p");
    EXPECT_EQ(Str(*early, u"mCond"), u"q\" = 1");
    EXPECT_EQ(Str(*ReadLine("a \"\" = 1"), u"mPath"), kNone);

    auto warn = ReadLine("WARN \"Indentation space count must be even to 2.\" % SP");
    EXPECT_EQ(warn->Name(), u"WARN");
    EXPECT_EQ(Str(*warn, u"mPath"), u"Indentation space count must be even to 2.");
    EXPECT_EQ(Str(*warn, u"mCond"), u"% SP");
    EXPECT_EQ(Flags(*warn), "");

    auto fail = ReadLine(".? FAIL \"No (paths).\"? .isOffContext? has");
    EXPECT_EQ(Str(*fail, u"mPath"), u"No (paths).");
    EXPECT_EQ(Str(*fail, u"mCond"), u"? .isOffContext? has");

    EXPECT_EQ(ReasonOf("a \"unterminated"), u"unterminated \"node path\"");
    EXPECT_EQ(ReasonOf("\"a b\""), u"no matching apostrophe in \"name\"");
    EXPECT_EQ(ReasonOf("\"a\" \"b\""), u"defining item's \"path\" twice");
    EXPECT_EQ(ReasonOf("@\"a\\\" = 1"), u"\"path\" contains none of a-z, A-Z, 0-9 or '_'");
}

TEST(NativeReader, PropertiesOfALine) {
    auto full = ReadModel("\n\n2^ x + +p... + q \" a\\b \" = c ", u"src.txt");
    const TTsTreeNode& node = *full->ChildByIndex(0);
    EXPECT_EQ(node.Name(), u"x");
    const TTsValue& source = node.Props().Get(u"source").Value;
    EXPECT_EQ(source.Kinds, vkInt | vkString);
    EXPECT_EQ(source.Int, 2);
    EXPECT_EQ(source.Str, u"src.txt");
    EXPECT_EQ(Str(node, u"mPath"), u"a\\b");
    EXPECT_EQ(Str(node, u"mCond"), u"= c");
    EXPECT_EQ(Str(node, u"mMergesR"), Z(u".+p", u"q"));
    EXPECT_EQ(Int(node, u"mOrder"), 2);
    EXPECT_EQ(Flags(node), "TI");
    EXPECT_EQ(node.Props().Count(), 13);
    for (std::u16string_view flag : {u"mIsResetter", u"mIsOptional", u"mIsTentative", u"mIsOnce", u"mIsOffContext",
                                     u"mIsInheriting", u"mIsPrepending", u"mIsNonConsuming"})
        EXPECT_EQ(node.Props().Get(flag).Value.Kinds, vkBool) << WideToUtf8(flag);
    EXPECT_EQ(node.Props().Get(u"mOrder").Value.Kinds, vkInt);
    EXPECT_EQ(node.Props().Get(u"mCond").Value.Kinds, vkString);

    // A condition alone adds only itself to the source, the order and the eight flags.
    auto bare = ReadLine("% x");
    EXPECT_EQ(bare->Props().Count(), 11);
    EXPECT_FALSE(bare->Props().Find(u"mPath"));
    EXPECT_FALSE(bare->Props().Find(u"mMergesL"));
}

TEST(NativeReader, BadCharactersInNamesAreReaderErrors) {
    // U+0001 cannot be a child's key; the reader still answers with its own error.
    try {
        ReadModel(
            "ok\na\x01"
            "b");
        FAIL();
    } catch (const ETsBadTextStreaming& e) {
        EXPECT_EQ(e.LineNumber, 2);
    }
    // Control characters elsewhere are plain text.
    auto line = ReadLine("a = \x02x");
    EXPECT_EQ(Str(*line, u"mCond"), u"= \x02x");
}
