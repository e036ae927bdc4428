// Tests of simple patterns: parsing (checked through item dumps), matching
// over memory and plain streams, choices, the cache and the class table.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "library/expressions/rpn/Simpat.h"
#include "support/Strings.h"

using namespace ts;

namespace {

// A stream that is not a memory stream, so the matcher takes its Read/Seek path.
class TPlainStream : public TStream {
    TS_CLASS(TPlainStream)
public:
    explicit TPlainStream(std::string data) : data_(std::move(data)) {}
    int64_t Read(void* buffer, int64_t count) override {
        int64_t n = std::min<int64_t>(count, static_cast<int64_t>(data_.size()) - pos_);
        if (n <= 0) return 0;
        std::memcpy(buffer, data_.data() + pos_, static_cast<size_t>(n));
        pos_ += n;
        return n;
    }
    int64_t Write(const void*, int64_t) override { return 0; }
    int64_t Seek(int64_t offset, TSeekOrigin origin) override {
        int64_t base = origin == TSeekOrigin::soBeginning ? 0
                       : origin == TSeekOrigin::soCurrent ? pos_
                                                          : static_cast<int64_t>(data_.size());
        pos_ = base + offset;
        return pos_;
    }

private:
    std::string data_;
    int64_t pos_ = 0;
};

// A plain stream that counts its reads.
class TCountingStream : public TPlainStream {
public:
    using TPlainStream::TPlainStream;
    int64_t Read(void* buffer, int64_t count) override {
        ++reads;
        return TPlainStream::Read(buffer, count);
    }
    int reads = 0;
};

// Bytes consumed by a match at offset 0, or -1 for no match; checks that
// both stream kinds agree and that a failure leaves the position alone.
int Consumed(std::u16string_view pattern, std::string input, std::string_view nl = "\n") {
    TStringStream mem(input);
    TPlainStream plain(input);
    bool a = MatchSimplePattern(pattern, mem, nl);
    bool b = MatchSimplePattern(pattern, plain, nl);
    EXPECT_EQ(a, b) << WideToUtf8(pattern);
    EXPECT_EQ(mem.Position(), plain.Position()) << WideToUtf8(pattern);
    if (!a) {
        EXPECT_EQ(mem.Position(), 0) << WideToUtf8(pattern);
        return -1;
    }
    return static_cast<int>(mem.Position());
}

std::string Dump(std::u16string_view choice) { return ParseSimpatChoice(WideToUtf8(choice))->Dump(); }

}  // namespace

TEST(Simpat, ClassesAndRepeats) {
    EXPECT_EQ(Consumed(u"SP* ID+", "  abc1 x"), 6);
    EXPECT_EQ(Consumed(u"SP* ID+", "abc"), 3);
    EXPECT_EQ(Consumed(u"SP* ID+", "  -"), -1);
    EXPECT_EQ(Consumed(u"DIG DIG? DIG?", "1234"), 3);
    EXPECT_EQ(Consumed(u"DIG DIG? DIG?", "1x"), 1);
    EXPECT_EQ(Consumed(u"DIG DIG? DIG?", "x1"), -1);
    EXPECT_EQ(Consumed(u"[^\"]+", "abc\"d"), 3);
    EXPECT_EQ(Consumed(u"[^\"]+", "\"x"), -1);
    EXPECT_EQ(Consumed(u"HEX+ LAT", "0aF9b"), -1);  // greedy HEX took the letters LAT needed
    EXPECT_EQ(Consumed(u"HEX+ LAT", "0aF9z1"), 5);
    EXPECT_EQ(Consumed(u"CTL ANY", "\x01\xff"), 2);
    // A repeat never gives back.
    EXPECT_EQ(Consumed(u"ANY* x", "abx"), -1);
    EXPECT_EQ(Consumed(u"a*b", "aaab"), 4);
    EXPECT_EQ(Consumed(u"a*b", "b"), 1);
    EXPECT_EQ(Consumed(u"a*b", "aaa"), -1);
    EXPECT_EQ(Dump(u"a*b"), "* 'a' 'b'");
    EXPECT_EQ(Dump(u"ab+cd"), "'a' + 'b' 'cd'");
    // A marker applies only to the item written directly before it.
    EXPECT_EQ(Dump(u"SP *"), "[ 09 20] '*'");
    EXPECT_EQ(Consumed(u"SP *", " *"), 2);
    EXPECT_EQ(Dump(u"a**"), "* 'a' '*'");
    EXPECT_EQ(Dump(u"*a"), "'*a'");
    // Single-byte classes are literals and join with their neighbours.
    EXPECT_EQ(Dump(u"CR LF x"), "'\\x0D\\x0Ax'");
    EXPECT_EQ(Consumed(u"CR LF", "\r\n"), 2);
}

TEST(Simpat, ClassNamesAndUnions) {
    // A class name is recognised only at the start or after a blank.
    EXPECT_EQ(Dump(u"xSP"), "'xSP'");
    EXPECT_EQ(Consumed(u"Tessarine SP+", "Tessarine  x"), 11);
    EXPECT_EQ(Dump(u"Tessarine SP+"), "'Tessarine' + [ 09 20]");
    EXPECT_EQ(Dump(u"DIG_LAT+"), "+ [ 30-39 41-5A 61-7A]");
    EXPECT_EQ(Consumed(u"DIG_LAT+", "a1B-"), 3);
    // An unknown or missing name after "_" spoils the whole union.
    EXPECT_EQ(Dump(u"DIG_x"), "'DIG_x'");
    EXPECT_EQ(Dump(u"DIG_FOO"), "'DIG_FOO'");
    EXPECT_EQ(Dump(u"DIG_"), "'DIG_'");
    // Special names end a union.
    EXPECT_EQ(Dump(u"NL_SP"), "[ NL EOF] '_SP'");
    EXPECT_EQ(Consumed(u"NL_SP", "\n_SP"), 4);
    EXPECT_EQ(Dump(u"DIG_EOLN"), "[ 30-39 NL]");
    EXPECT_EQ(Dump(u"EOF"), "[ EOF]");

    EXPECT_EQ(Consumed(u"NL", "\r\nx", "\r\n"), 2);
    EXPECT_EQ(Consumed(u"NL", "", "\r\n"), 0);
    EXPECT_EQ(Consumed(u"NL", "\rx", "\r\n"), -1);
    EXPECT_EQ(Consumed(u"EOLN", "", "\r\n"), -1);
    EXPECT_EQ(Consumed(u"EOLN", "\n", "\n"), 1);
    EXPECT_EQ(Consumed(u"x EOF", "x"), 1);
    EXPECT_EQ(Consumed(u"x EOF", "xy"), -1);
    EXPECT_EQ(Consumed(u"[^NL]*", "ab\r\ncd", "\r\n"), 2);
    EXPECT_EQ(Consumed(u"[^NL]*", "\r\n", "\r\n"), 0);
    EXPECT_EQ(Consumed(u"[^NL]*", "", "\r\n"), 0);
    EXPECT_EQ(Consumed(u"[^NL]* NL", "ab\r", "\r\n"), 3);  // a lone CR is not the line break
}

TEST(Simpat, ZeroWidthRepeatsEnd) {
    EXPECT_EQ(Consumed(u"EOF*", ""), 0);
    EXPECT_EQ(Consumed(u"NL+", ""), 0);
    EXPECT_EQ(Consumed(u"x NL*", "x\n\n\n"), 4);
    // Empty line-break bytes match nothing rather than everywhere.
    EXPECT_EQ(Consumed(u"EOLN* x", "x", ""), 1);
    EXPECT_EQ(Consumed(u"EOLN", "x", ""), -1);
    EXPECT_EQ(Consumed(u"[^EOLN]+", "ab", ""), 2);
}

TEST(Simpat, SetsAndEscapes) {
    EXPECT_EQ(Dump(u"[]"), "'[]'");
    EXPECT_EQ(Dump(u"[^]"), "'[^]'");
    EXPECT_EQ(Dump(u"[ab"), "'[ab'");
    EXPECT_EQ(Dump(u"[a]"), "[ 61]");
    EXPECT_EQ(Dump(u"[ a]"), "'[a]'");  // a blank after "[" is no set, and blanks only separate
    // A reversed range adds only its start; a trailing "-" is literal.
    EXPECT_EQ(Consumed(u"[z-a]+", "zza"), 2);
    EXPECT_EQ(Consumed(u"[z-a]", "a"), -1);
    EXPECT_EQ(Consumed(u"[a-]+", "a-a-b"), 4);
    EXPECT_EQ(Consumed(u"[\\]]", "]"), 1);
    EXPECT_EQ(Dump(u"[a-c-e]"), "[ 2D 61-63 65]");
    EXPECT_EQ(Dump(u"[^DIGx]"), "[^ 30-39 78]");
    EXPECT_EQ(Dump(u"[xDIG]"), "[ 44 47 49 78]");  // names only at the first position
    EXPECT_EQ(Dump(u"[\\x41-\\x43\\65]"), "[ 41-43]");
    EXPECT_EQ(Dump(u"[\\x4a]"), "[ 34 5C 61 78]");  // malformed hex: the "\" itself

    EXPECT_EQ(Dump(u"\\x41"), "'A'");
    EXPECT_EQ(Dump(u"\\x4a"), "'\\x5Cx4a'");
    EXPECT_EQ(Consumed(u"\\x4a", "\\x4a"), 4);
    EXPECT_EQ(Dump(u"\\65"), "'A'");
    EXPECT_EQ(Dump(u"\\0"), "'\\x00'");
    EXPECT_EQ(Dump(u"\\q"), "'\\x5Cq'");
    EXPECT_EQ(Dump(u"\\65+"), "+ 'A'");
    // Decimal escapes stop before a digit that would pass 255.
    EXPECT_EQ(Dump(u"\\255"), "'\\xFF'");
    EXPECT_EQ(Dump(u"\\256"), "'\\x196'");
    EXPECT_EQ(Dump(u"\\999"), "'c9'");  // 99, then a literal 9
    EXPECT_EQ(Dump(u"[\\300]"), "[ 1E 30]");
    EXPECT_EQ(Consumed(u"\\300",
                       "\x1e"
                       "0"),
              2);

    // Non-ASCII characters are their UTF-8 bytes, repeated as a whole.
    EXPECT_EQ(Consumed(u"\u00e9+", "\xc3\xa9\xc3\xa9x"), 4);
}

// A "[" that never closes is literal; finding that out must not rescan the
// rest of the choice for every such "[".
TEST(Simpat, UnclosedSetsAreParsedInOnePass) {
    for (size_t n : {size_t{1000}, size_t{16384}}) {
        for (const char* tail : {"", "x", "a]"}) {
            const std::string choice = std::string(n, '[') + tail;
            size_t steps = 0;
            auto items = ParseSimpatChoice(choice, steps);
            EXPECT_LE(steps, 8 * choice.size()) << n << " " << tail;
            // A closing "]" makes the first "[" a set of the rest.
            EXPECT_EQ(items->Dump(), std::strcmp(tail, "a]") == 0 ? "[ 5B 61]" : "'" + choice + "'");
        }
    }
    // What an unclosed or empty set means is unchanged by where it stands.
    EXPECT_EQ(Dump(u"[][a]"), "'[]' [ 61]");
    EXPECT_EQ(Dump(u"[^][^a]"), "'[^]' [^ 61]");
    EXPECT_EQ(Dump(u"[a [b]"), "[ 20 5B 61-62]");
    EXPECT_EQ(Dump(u"[a\\] [b"), "'[a\\x5C][b'");
    EXPECT_EQ(Dump(u"[a\\]]"), "[ 5D 61]");
    EXPECT_EQ(Dump(u"[x [y [z\\x4"), "'[x[y[z\\x5Cx4'");
    EXPECT_EQ(Consumed(u"[ab [c [\\]]+", "c[]ab"), 5);
}

TEST(Simpat, StreamsAreReadInBlocks) {
    // A file is such a stream: one read per byte would be one system call
    // per byte of input.
    std::string line(5000, 'a');
    line += "\nrest";
    TCountingStream s(line);
    ASSERT_TRUE(MatchSimplePattern(u"[^NL]* NL", s, "\n"));
    EXPECT_EQ(s.Position(), 5001);
    EXPECT_LT(s.reads, 20);
    // Reading ahead must not move the stream past the match, nor away from
    // its start after a failure.
    s.reads = 0;
    EXPECT_FALSE(MatchSimplePattern(u"LAT+ DIG", s, "\n"));
    EXPECT_EQ(s.Position(), 5001);
    EXPECT_TRUE(MatchSimplePattern(u"LAT LAT", s, "\n"));
    EXPECT_EQ(s.Position(), 5003);
    EXPECT_LT(s.reads, 10);
}

TEST(Simpat, Choices) {
    EXPECT_EQ(Consumed(u"a||b", "a|b"), 3);
    EXPECT_EQ(Consumed(u"a|||b", "b"), 1);  // "a|" or "b"
    EXPECT_EQ(Consumed(u"a|||b", "a|"), 2);
    EXPECT_EQ(Consumed(u"SP+|", "  x"), 2);
    EXPECT_EQ(Consumed(u"SP+|", "x"), 0);
    EXPECT_EQ(Consumed(u"SP+|EOF", ""), 0);
    EXPECT_EQ(Consumed(u"SP+|EOF", "x"), -1);
    EXPECT_EQ(Consumed(u"", "x"), 0);
    EXPECT_EQ(Consumed(u"ab|a", "ac"), 1);  // a failed choice is put back
    EXPECT_EQ(Consumed(u"x|y|z|w|v|u|t|s|r|q", "q"), 1);

    try {
        TStringStream s("x");
        MatchSimplePattern(u"|x", s, "\n");
        ADD_FAILURE() << "no exception";
    } catch (const ESimpatHasEmptyChoice& e) {
        EXPECT_EQ(e.Message(), u"Simple Pattern \"|x\" contains empty choice(s) - only allowed when in last position.");
    }
    // The whole pattern is checked before anything matches.
    TStringStream s("a");
    EXPECT_THROW(MatchSimplePattern(u"a| |b", s, "\n"), ESimpatHasEmptyChoice);
    EXPECT_THROW(TSimpatPattern(u"a||b|  |c"), ESimpatHasEmptyChoice);

    TSimpatPattern p(u" a | b || c |");
    ASSERT_EQ(p.ChoiceCount(), 3u);
    EXPECT_EQ(p.Choice(0).Text(), u"a");
    EXPECT_EQ(p.Choice(1).Text(), u"b | c");
    EXPECT_TRUE(p.Choice(2).IsEmpty());
    // Blanks inside a choice only separate items.
    TStringStream in("zzb|c");
    in.SetPosition(2);
    EXPECT_TRUE(p.Match(in));
    EXPECT_EQ(in.Position(), 5);
    TSimpatPattern q(u"EOLN");
    q.SetNL("\r\n");
    TStringStream crlf("\r\n");
    EXPECT_TRUE(q.Match(crlf));
    EXPECT_EQ(crlf.Position(), 2);
    TStringStream mid("ab");
    mid.SetPosition(1);
    EXPECT_FALSE(TSimpatPattern(u"a").Match(mid));
    EXPECT_EQ(mid.Position(), 1);
}

TEST(Simpat, ChoiceTextsAreParsedOnce) {
    size_t before = SimpatCacheSize();
    TStringStream s("q");
    MatchSimplePattern(u"  qq7 DIG  ", s, "\n");
    MatchSimplePattern(u"qq7 DIG|qq8x", s, "\n");
    TLinearSimpat direct(u"qq7 DIG");
    EXPECT_EQ(SimpatCacheSize(), before + 2);
    TLinearSimpat again(u" qq7 DIG ");
    EXPECT_EQ(&direct.Items(), &again.Items());
}

TEST(Simpat, TheCacheIsBoundedAndListsOutliveIt) {
    TLinearSimpat held(u"held DIG+");
    TStringStream s("held42");
    TSimpatInput in(s);
    TSimpatContext ctx{&in, "\n", nullptr, nullptr};
    // More distinct texts than the cache keeps, through both ways in.
    for (size_t i = 0; i <= SimpatCacheLimit; ++i) {
        TStringStream x("z");
        MatchSimplePattern(u"k" + IntToStr(static_cast<int32_t>(i)), x, "\n");
        EXPECT_LE(SimpatCacheSize(), SimpatCacheLimit);
    }
    EXPECT_TRUE(held.Match(ctx));
    EXPECT_EQ(in.Pos(), 6);
    TStringStream again("k7");
    EXPECT_TRUE(MatchSimplePattern(u"k7", again, "\n"));
}

TEST(Simpat, PatternsUpToTheLongestAllowed) {
    // A literal of the longest length matches; one more character is refused
    // by both ways of building a pattern.
    const WideString longest(SimpatMaxLength, u'a');
    TStringStream s(std::string(SimpatMaxLength, 'a'));
    EXPECT_TRUE(MatchSimplePattern(longest, s, "\n"));
    EXPECT_EQ(s.Position(), static_cast<int64_t>(SimpatMaxLength));
    TStringStream t("a");
    try {
        MatchSimplePattern(longest + u"a", t, "\n");
        ADD_FAILURE() << "a pattern past the limit was parsed";
    } catch (const ESimpatTooLong& e) {
        EXPECT_EQ(e.Message(), u"Simple Pattern of 65537 characters is longer than the 65536 a pattern may have.");
    }
    EXPECT_THROW(TSimpatPattern(longest + u"|b"), ESimpatTooLong);
}

TEST(Simpat, ClassTableAndRangeBytes) {
    TSimpatClassTable t;
    TSimpatRangeBytes one;
    one.Set('q');
    t.Add(u"quote1", one);
    EXPECT_NE(t.Find("QUOTE1"), nullptr);
    EXPECT_EQ(t.Find("quote1"), nullptr);
    try {
        t.Add(u"A-B", one);
        ADD_FAILURE() << "no exception";
    } catch (const ESimpatBadCharClass& e) {
        EXPECT_EQ(e.Message(),
                  u"Simple Pattern's character class names must consist of A-Z and 0-9 symbols - 'A-B' name given.");
    }
    TLinearSimpat owner(u"x");
    try {
        t.Add(u"NONE", TSimpatRangeBytes(), &owner);
        ADD_FAILURE() << "no exception";
    } catch (const ESimpatEmptyCharClass& e) {
        EXPECT_EQ(e.Message(), u"Attempted to create character class 'NONE' that matches nothing.");
        EXPECT_EQ(e.Choice(), &owner);
    }
    EXPECT_THROW(t.Add(u"", one), ESimpatBadCharClass);
    EXPECT_EQ(TSimpatClassTable::Standard().Count(), 9u);

    TSimpatRangeBytes r;
    r.SetRange(5, 5);
    EXPECT_FALSE(r.IsNonEmpty());
    EXPECT_EQ(r.FirstByte(), -1);
    r.SetRange(200, 201);
    EXPECT_FALSE(r.IsSingleByte());
    r.Set(200, false);
    EXPECT_TRUE(r.IsSingleByte());
    EXPECT_EQ(r.FirstByte(), 201);
    r.FillAll();
    EXPECT_TRUE(r.All);
    r.Set(0, false);
    EXPECT_FALSE(r.All);
    EXPECT_TRUE(r.Has(255));
    TSimpatRangeBytes e;
    e.Eof = true;
    EXPECT_TRUE(e.IsNonEmpty());
    EXPECT_FALSE(e.IsSingleByte());
    TSimpatRangeBytes neg;
    neg.Invert();
    r.Merge(neg);
    EXPECT_FALSE(r.Negated);  // negation is not merged
}

namespace {

// The matching loop written out plainly, one item step at a time and over a
// plain stream: the library's shortcuts (in-place memory reads, whole runs
// of a class at once) must agree with it.
int ReferenceConsumed(std::u16string_view pattern, const std::string& input, std::string_view nl) {
    TSimpatPattern p(pattern);
    for (size_t c = 0; c < p.ChoiceCount(); ++c) {
        TPlainStream stream(input);
        TSimpatInput in(stream);
        TSimpatContext ctx{&in, nl, &p, &p.Choice(c)};
        const TSimpatItemList& items = p.Choice(c).Items();
        bool ok = true;
        for (size_t i = 0; ok && i < items.Count(); ++i) {
            const TSimpatRepeat* rep = items[i].AsRepeat();
            if (!rep) {
                int64_t at = in.Pos();
                ok = items[i].Match(ctx);
                if (!ok) in.SetPos(at);
                continue;
            }
            const TSimpatItem& target = items[++i];
            for (int count = 0; rep->CanTryMore(count); ++count) {
                int64_t at = in.Pos();
                if (!target.Match(ctx)) {
                    in.SetPos(at);
                    ok = rep->IsSatisfied(count);
                    break;
                }
                if (target.StopRepeat(ctx, count) || in.Pos() == at) {
                    ok = rep->IsSatisfied(count + 1);
                    break;
                }
            }
        }
        if (ok) return static_cast<int>(in.Pos());
    }
    return -1;
}

}  // namespace

TEST(Simpat, AgreesWithPlainLoop) {
    const std::u16string_view patterns[] = {
        u"SP* ID+",        u"[^\"]+",   u"DIG? DIG? a", u"ANY* x",           u"ANY+",        u"a*b",
        u"[^NL]* NL",      u"NL+ a",    u"[a-]+ ]",     u"LAT_SP* EOF",      u"[^ab]? b+|a", u"CTL+|SP+|",
        u"[^SP]* SP? ID*", u"\\97+ b?", u"[^NL_DIG]+",  u"EOLN* [^a]+ EOF?", u"a||+",
    };
    const char alphabet[] = "ab1 _\"\r\n-]|";
    std::mt19937 rng(12345);
    for (int round = 0; round < 3000; ++round) {
        std::string input(rng() % 13, ' ');
        for (char& ch : input) ch = alphabet[rng() % (sizeof alphabet - 1)];
        std::string_view nl = round % 3 == 0 ? "\r\n" : round % 3 == 1 ? "\n" : "";
        for (auto pattern : patterns) {
            int want = ReferenceConsumed(pattern, input, nl);
            ASSERT_EQ(Consumed(pattern, input, nl), want) << WideToUtf8(pattern) << " on '" << input << "'";
        }
    }
}
