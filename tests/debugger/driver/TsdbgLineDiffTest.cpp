// Tests of the line diff: minimal against a plain LCS table, and the marks of
// a known pair of dumps.
#include <gtest/gtest.h>

#include <random>

#include "debugger/driver/TsdbgLineDiff.h"

using namespace ts;

namespace {

size_t LcsLength(const std::vector<WideString>& a, const std::vector<WideString>& b) {
    std::vector<std::vector<size_t>> t(a.size() + 1, std::vector<size_t>(b.size() + 1, 0));
    for (size_t i = 1; i <= a.size(); ++i)
        for (size_t j = 1; j <= b.size(); ++j)
            t[i][j] = a[i - 1] == b[j - 1] ? t[i - 1][j - 1] + 1 : std::max(t[i - 1][j], t[i][j - 1]);
    return t[a.size()][b.size()];
}

std::vector<WideString> Kept(const std::vector<WideString>& lines, const std::vector<bool>& changed) {
    std::vector<WideString> out;
    for (size_t i = 0; i < lines.size(); ++i)
        if (!changed[i]) out.push_back(lines[i]);
    return out;
}

std::vector<int> ChangedIndexes(const std::vector<bool>& changed) {
    std::vector<int> out;
    for (size_t i = 0; i < changed.size(); ++i)
        if (changed[i]) out.push_back(static_cast<int>(i));
    return out;
}

}  // namespace

TEST(TsdbgLineDiff, SplitsAtEveryKindOfBreak) {
    EXPECT_TRUE(SplitLines(u"").empty());
    EXPECT_EQ(SplitLines(u"a"), std::vector<WideString>{u"a"});
    EXPECT_EQ(SplitLines(u"a\r\n"), std::vector<WideString>{u"a"});
    EXPECT_EQ(SplitLines(u"a\r\nb\nc\rd"), (std::vector<WideString>{u"a", u"b", u"c", u"d"}));
    EXPECT_EQ(SplitLines(u"\n\r\n\r"), (std::vector<WideString>{u"", u"", u""}));
    EXPECT_EQ(SplitLines(u"a\n\nb"), (std::vector<WideString>{u"a", u"", u"b"}));
}

TEST(TsdbgLineDiff, KnownDumpsAreMarkedOnBothSides) {
    const WideString expected =
        u"root\r\n"
        u"  a = 1\r\n"
        u"    x\r\n"
        u"  b = 2\r\n"
        u"  c = 3\r\n";
    const WideString got =
        u"root\n"
        u"  inserted\n"
        u"  a = 1\n"
        u"    x\n"
        u"  c = 3\n"
        u"  c = 3 \n";  // a trailing blank makes a line different
    const TLineDiff d = DiffTexts(expected, got);
    EXPECT_EQ(ChangedIndexes(d.ChangedA), std::vector<int>{3});
    EXPECT_EQ(ChangedIndexes(d.ChangedB), (std::vector<int>{1, 5}));

    // A position compare would mark every line after the insertion; the diff
    // marks only the inserted line.
    const TLineDiff shifted = DiffTexts(u"a\nb\nc\nd\n", u"new\na\nb\nc\nd\n");
    EXPECT_EQ(ChangedIndexes(shifted.ChangedA), std::vector<int>{});
    EXPECT_EQ(ChangedIndexes(shifted.ChangedB), std::vector<int>{0});

    const TLineDiff empty = DiffTexts(u"", u"a\nb");
    EXPECT_TRUE(empty.ChangedA.empty());
    EXPECT_EQ(ChangedIndexes(empty.ChangedB), (std::vector<int>{0, 1}));
    const TLineDiff disjoint = DiffTexts(u"a\nb", u"c\nd\ne");
    EXPECT_EQ(ChangedIndexes(disjoint.ChangedA), (std::vector<int>{0, 1}));
    EXPECT_EQ(ChangedIndexes(disjoint.ChangedB), (std::vector<int>{0, 1, 2}));
}

TEST(TsdbgLineDiff, KeepsALongestCommonSubsequence) {
    std::mt19937 rng(17);
    for (int round = 0; round < 3000; ++round) {
        // Few distinct lines make many matches and many equally long choices.
        const int alphabet = 1 + round % 5;
        std::uniform_int_distribution<int> len(0, 14), letter(0, alphabet - 1);
        auto make = [&] {
            std::vector<WideString> v(len(rng));
            for (WideString& s : v) s = WideString(1, static_cast<char16_t>(u'a' + letter(rng)));
            return v;
        };
        const std::vector<WideString> a = make(), b = make();
        const TLineDiff d = DiffLines(a, b);
        ASSERT_EQ(d.ChangedA.size(), a.size());
        ASSERT_EQ(d.ChangedB.size(), b.size());
        const std::vector<WideString> keptA = Kept(a, d.ChangedA), keptB = Kept(b, d.ChangedB);
        ASSERT_EQ(keptA, keptB) << "round " << round;
        ASSERT_EQ(keptA.size(), LcsLength(a, b)) << "round " << round;
    }
}

TEST(TsdbgLineDiff, LargeTextsThatDifferThroughout) {
    std::vector<WideString> a, b;
    for (int i = 0; i < 20000; ++i) {
        a.push_back(u"line " + WideString(1, static_cast<char16_t>(u'0' + i % 7)));
        b.push_back(u"line " + WideString(1, static_cast<char16_t>(u'0' + i % 5)));
    }
    const TLineDiff d = DiffLines(a, b);
    EXPECT_EQ(Kept(a, d.ChangedA), Kept(b, d.ChangedB));
    EXPECT_GT(Kept(a, d.ChangedA).size(), 10000u);
}
