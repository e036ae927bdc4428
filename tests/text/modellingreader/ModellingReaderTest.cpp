// The modelling reader against the native reader: both canonical models,
// a corpus of model texts in the common language, and each point where the
// two readers are meant to differ.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "library/modelling/TsmNodes.h"
#include "library/text/CanonicalModels.h"
#include "library/text/TsNativeReader.h"
#include "library/text/modellingreader/TsmModellingStreamer.h"
#include "support/Strings.h"
#include "tests/TestSupport.h"

using namespace ts;
using ::testing::HasSubstr;

namespace {

std::unique_ptr<TTsTreeNode> ReadNative(const std::string& text) {
    TTsmNativeStreamer r;
    return r.Read(std::make_unique<TStringStream>(text), u"m.txt");
}

std::unique_ptr<TTsTreeNode> ReadModelling(const std::string& text, TTsErrorEvent onError = nullptr) {
    TTsmModellingStreamer r;
    r.OnError = std::move(onError);
    return r.Read(std::make_unique<TStringStream>(text), u"m.txt");
}

// The whole tree, one line per node: depth, name and every property.
void DumpInto(const TTsTreeNode& node, int depth, std::string& out) {
    out += std::string(static_cast<size_t>(depth) * 2, ' ') + "[" + WideToUtf8(node.Name()) + "]";
    const TTsProperties& props = node.Props();
    for (int i = 0; i < props.Count(); ++i) {
        const TTsProperty& p = *props.ByIndex(i);
        WideString v = p.Value.DumpText();
        for (char16_t& c : v)
            if (c == 0) c = u'|';
        out += " " + WideToUtf8(p.Name()) + "=" + WideToUtf8(v);
    }
    out += "\n";
    for (int i = 0; i < node.ChildCount(); ++i) DumpInto(*node.ChildByIndex(i), depth + 1, out);
}

std::string Dump(const TTsTreeNode& root) {
    std::string out;
    DumpInto(root, 0, out);
    return out;
}

std::string CrLf(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

std::string CanonicalText(std::u16string_view kind) { return OpenCanonicalModel(kind)->ReadToEnd(); }

}  // namespace

TEST(ModellingReader, ReadsBothCanonicalModelsAsTheNativeReaderDoes) {
    for (std::u16string_view kind : {u"Model", u"Script"}) {
        const std::string text = CanonicalText(kind);
        EXPECT_EQ(Dump(*ReadModelling(text)), Dump(*ReadNative(text))) << WideToUtf8(kind);
    }
}

namespace {

// Model lines that both readers accept alike: every item list with every
// order prefix, every path and every condition (pairwise rather than all
// combinations, which would only repeat the same paths through the model).
std::vector<std::string> GeneratedLines() {
    const char* orders[] = {"", "1 ", "12 ", "0 ", "03 ", ". ", "1? ", "2^ ", ".? ", ".^ ", "0? ", "999 "};
    const char* items[] = {"name",           "Name2",         "a_b",       "@name",      "+name",
                           "+NAME",          "NAME",          "END",       "WARN",       "name...",
                           "(def)",          "(@def)",        "(def...)",  "a + b",      "a + b...",
                           "a + (c...) + d", "(a) + b",       "x + y + z", "\"quoted\"", "\"dir\\leaf\"",
                           "\"dir/leaf_1\"", "\"quoted\"...", "name?"};
    const char* paths[] = {"", " \"p\\q\"", " \"\\abs\\x_1\"", " \"with space\""};
    // Blanks after a condition operator (" = ", " !=  ") read as no value.
    const char* conds[] = {"",        " % SP* ID+", " = text",   " =",       " _ (", " x 0D0A", " ? eof",  " != ^",
                           " !% DIG", " % [^\"]+",  " = a b  c", " ? 1 2 =", " = ",  " !=  ",   " = x \t", " ?  "};
    std::vector<std::string> lines;
    auto add = [&lines](const std::string& order, const std::string& item, const std::string& path,
                        const std::string& cond) {
        bool offContext = item[0] == '(' || item.find(" (") != std::string::npos;
        bool quoted = item[0] == '"';
        bool nonConsuming = item.find("...") != std::string::npos;
        bool asks = item.back() == '?';
        // Where the readers are meant to differ, or both fail.
        if (!path.empty() && (offContext || quoted || asks)) return;
        if (nonConsuming && !cond.empty() && cond[1] == '!') return;
        if (asks && !cond.empty()) return;
        lines.push_back(order + item + path + cond);
    };
    for (const char* i : items) {
        for (const char* o : orders) add(o, i, "", " % SP* ID+");
        for (const char* o : orders) add(o, i, " \"p\\q\"", "");
        for (const char* p : paths) add("", i, p, "");
        for (const char* p : paths) add("1? ", i, p, " = x");
        for (const char* c : conds) add("", i, "", c);
        for (const char* c : conds) add(".^ ", i, " \"p\"", c);
    }
    // Lines without items.
    for (const char* o : orders)
        for (const char* c : {"% SP+", "= x", "? eof", "!= ^", "% SP+ + SP+"}) lines.push_back(std::string(o) + c);
    return lines;
}

// Reads the lines as one text with both readers and reports each line
// whose node differs.
std::string CompareLines(const std::vector<std::string>& lines, const std::string& lineBreak) {
    std::string text;
    for (const std::string& l : lines) text += l + lineBreak;
    auto native = ReadNative(text);
    auto modelling = ReadModelling(text);
    std::string report;
    if (native->ChildCount() != modelling->ChildCount())
        report += "node counts differ: " + std::to_string(native->ChildCount()) + " vs " +
                  std::to_string(modelling->ChildCount()) + "\n";
    for (int i = 0; i < native->ChildCount() && i < modelling->ChildCount(); ++i) {
        std::string a, b;
        DumpInto(*native->ChildByIndex(i), 0, a);
        DumpInto(*modelling->ChildByIndex(i), 0, b);
        if (a != b) report += "line '" + lines[static_cast<size_t>(i)] + "':\n  native    " + a + "  modelling " + b;
    }
    return report;
}

}  // namespace

TEST(ModellingReader, GeneratedLinesReadAsTheNativeReaderReadsThem) {
    const std::vector<std::string> lines = GeneratedLines();
    ASSERT_GT(lines.size(), 500u);
    EXPECT_EQ(CompareLines(lines, "\n"), "");

    // The same lines nested three deep, between comments (indented or not),
    // empty lines and lines of blanks only, with CR LF breaks.
    std::string text;
    for (size_t k = 0; k < lines.size(); ++k) {
        const std::string indent((k % 3) * 2, ' ');
        if (k % 5 == 0) text += indent + "; comment " + lines[k] + "\r\n";
        if (k % 7 == 0) text += "\r\n";
        if (k % 13 == 0) text += indent + "  \r\n";
        if (k % 17 == 0) text += " \t \r\n";
        if (k % 11 == 0) text += ";\r\n";
        text += indent + lines[k] + "\r\n";
    }
    const std::string native = Dump(*ReadNative(text));
    EXPECT_EQ(Dump(*ReadModelling(text)), native);
}

// ---- Where the readers differ ---------------------------------------------------------

namespace {

// The only node of a one-line text, as the dump shows it.
std::string NodeOf(const TTsTreeNode& root) {
    if (root.ChildCount() != 1) return "<" + std::to_string(root.ChildCount()) + " nodes>";
    std::string out;
    DumpInto(*root.ChildByIndex(0), 0, out);
    return out;
}

template <class E>
std::string ModellingError(const std::string& text, std::source_location where = std::source_location::current()) {
    return WideToUtf8(test::MessageOf<E>([&] { ReadModelling(text); }, where));
}

std::string NativeReason(const std::string& text, std::source_location where = std::source_location::current()) {
    std::optional<ETsBadTextStreaming> e = test::ThrownError<ETsBadTextStreaming>([&] { ReadNative(text); }, where);
    return e ? WideToUtf8(e->Reason) : std::string();
}

// Reads with a handler that collects the reports instead of ending the read.
struct Reported {
    std::unique_ptr<TTsTreeNode> root;
    std::vector<std::string> reports;
};
Reported ReadReported(const std::string& text) {
    Reported r;
    r.root = ReadModelling(text, [&r](TTsObject&, Exception& e) { r.reports.push_back(WideToUtf8(e.Message())); });
    return r;
}

}  // namespace

TEST(ModellingReaderDiffers, TabsAreNotReplaced) {
    // The native reader makes a tab two spaces.
    auto native = ReadNative("a\n\tb\n");
    ASSERT_EQ(native->ChildCount(), 1);
    EXPECT_EQ(native->ChildByIndex(0)->ChildByIndex(0)->Name(), u"b");
    EXPECT_EQ(NativeReason("a\n\t\tb\n"), "wrong indentation - got more than 2 spaces (4)");
    // The modelling reader counts a tab as one blank of the indentation.
    auto modelling = ReadModelling("a\n\t\tb\n");
    ASSERT_EQ(modelling->ChildCount(), 1);
    EXPECT_EQ(modelling->ChildByIndex(0)->ChildByIndex(0)->Name(), u"b");
    EXPECT_THROW(ReadModelling("a\n\tb\n"), ETsmWarning);
}

TEST(ModellingReaderDiffers, OddIndentationIsAWarning) {
    EXPECT_EQ(NativeReason("a\n   b\n"), "wrong indentation - must be even to 2, got 3 spaces");
    EXPECT_EQ(ModellingError<ETsmWarning>("a\n   b\n"),
              "Indentation space count must be even to 2. (TTsmWarn node message), input: @3 b <eof>.");
    // With a handler the warning is only reported, the odd blank skipped and
    // the rest of the line read: once the warning ended the line, which left
    // a nameless node that matched anything.
    for (const std::string odd : {"   ", "     ", "\t"}) {
        const std::string text = "a\n  x\n" + odd + "b = x\n  c\nd\n";
        Reported r = ReadReported(text);
        EXPECT_EQ(r.reports.size(), 1u) << text;
        const size_t blanks = static_cast<size_t>(std::count(odd.begin(), odd.end(), ' '));
        const std::string even = "a\n  x\n" + std::string(blanks / 2 * 2, ' ') + "b = x\n  c\nd\n";
        EXPECT_EQ(Dump(*r.root), Dump(*ReadNative(even))) << text;
    }
    // At the first line too.
    Reported first = ReadReported(" a = x\n");
    EXPECT_EQ(first.reports.size(), 1u);
    EXPECT_EQ(Dump(*first.root), Dump(*ReadNative("a = x\n")));
}

TEST(ModellingReaderDiffers, OrderDigits) {
    // Up to three digits, after an optional resetter "0".
    EXPECT_EQ(NodeOf(*ReadModelling("0123 a = x\n")), NodeOf(*ReadNative("0123 a = x\n")));
    EXPECT_THAT(NodeOf(*ReadNative("1234 a\n")), HasSubstr("mOrder= i1234"));
    EXPECT_THROW(ReadModelling("1234 a\n"), ETsmMismatch);
    // The native reader's integer syntax goes further.
    EXPECT_THAT(NodeOf(*ReadNative("0x1F a\n")), HasSubstr("mOrder= i31"));
    EXPECT_THROW(ReadModelling("0x1F a\n"), ETsmMismatch);
}

TEST(ModellingReaderDiffers, OrderSuffixes) {
    // One suffix reads the same in both.
    for (const char* line : {"1^ a = x\n", "1? a = x\n", ".^ a = x\n"})
        EXPECT_EQ(NodeOf(*ReadModelling(line)), NodeOf(*ReadNative(line))) << line;
    // Both, "^" first: the native reader takes the last one only; the
    // modelling reader sets both flags.
    for (const char* order : {"1", "0", ".", "07"}) {
        const std::string both = std::string(order) + "^? a = x\n";
        EXPECT_EQ(NodeOf(*ReadNative(both)), NodeOf(*ReadNative(std::string(order) + "? a = x\n"))) << both;
        std::string expected = NodeOf(*ReadNative(std::string(order) + "? a = x\n"));
        const std::string off = "mIsTentative= bFALSE";
        ASSERT_NE(expected.find(off), std::string::npos);
        expected.replace(expected.find(off), off.size(), "mIsTentative= bTRUE");
        EXPECT_EQ(NodeOf(*ReadModelling(both)), expected) << both;
    }
    // The other order is not the language's.
    EXPECT_THROW(ReadModelling("1?^ a = x\n"), ETsmMismatch);
}

TEST(ModellingReaderDiffers, QuotedNamesAndPaths) {
    // A quoted name may hold blanks.
    EXPECT_EQ(NativeReason("\"a b\" = x\n"), "no matching apostrophe in \"name\"");
    EXPECT_THAT(NodeOf(*ReadModelling("\"a b\" = x\n")), HasSubstr("mPath= s3 a b"));
    // A doubled double quote ends the native reader's path; the modelling
    // reader keeps both quotes inside it.
    const std::string native = NodeOf(*ReadNative("n \"a\"\"b\" = x\n"));
    EXPECT_THAT(native, HasSubstr("mCond= s7 \"b\" = x"));
    EXPECT_THAT(native, HasSubstr("mPath= s1 a "));
    const std::string modelling = NodeOf(*ReadModelling("n \"a\"\"b\" = x\n"));
    EXPECT_THAT(modelling, HasSubstr("mPath= s4 a\"\"b"));
    EXPECT_THAT(modelling, HasSubstr("mCond= s3 = x"));
}

TEST(ModellingReaderDiffers, OffContextItemWithAPath) {
    EXPECT_THAT(NodeOf(*ReadNative("(def) \"p\"\n")), HasSubstr("mPath= s1 p"));
    EXPECT_THAT(ModellingError<ETsmError>("(def) \"p\"\n"),
                HasSubstr("Off-context nodes cannot have tree positions (paths). (TTsmFail node message)"));
}

TEST(ModellingReaderDiffers, InheritingMarkOnUpperCaseNameWithPath) {
    EXPECT_THAT(NodeOf(*ReadNative("@NAME \"p\"\n")), HasSubstr("mIsInheriting= bTRUE"));
    EXPECT_THAT(NodeOf(*ReadModelling("@NAME \"p\"\n")), HasSubstr("mIsInheriting= bFALSE"));
    // Without a path the mark holds in both.
    EXPECT_EQ(NodeOf(*ReadModelling("@NAME = x\n")), NodeOf(*ReadNative("@NAME = x\n")));
}

TEST(ModellingReaderDiffers, NonConsumingWithNegatedCondition) {
    const std::string warning =
        "Non-consuming context specifier (...) is redundant when a negative condition (!) is used. "
        "(TTsmWarn node message), input: @";
    EXPECT_THAT(NodeOf(*ReadNative("a... != x\n")), HasSubstr("mIsNonConsuming= bTRUE"));
    EXPECT_THAT(ModellingError<ETsmWarning>("a... != x\n"), HasSubstr(warning));
    // With a handler the line reads as the native reader reads it; an
    // off-context definition warns alike.
    for (const char* line : {"a... != x\n", "(def...) !% DIG\n", "1? \"p\\q\"... != x\n"}) {
        Reported r = ReadReported(line);
        ASSERT_EQ(r.reports.size(), 1u) << line;
        EXPECT_THAT(r.reports[0], HasSubstr(warning));
        EXPECT_EQ(NodeOf(*r.root), NodeOf(*ReadNative(line))) << line;
    }
    // Not for a consuming node, nor for a non-consuming merge or condition.
    for (const char* line : {"a != x\n", "a + b... != x\n", "a... = x\n", "a...\n"})
        EXPECT_EQ(ReadReported(line).reports, std::vector<std::string>{}) << line;
}

// Lines that once read wrongly, each against the native reader.
TEST(ModellingReader, BlankLinesAndBlanksAfterAnOperatorReadAsTheNativeReaderReadsThem) {
    // A line of blanks only is blank, not a nameless node shadowing "b".
    for (const char* text : {"a = x\n  \nb = y\n", "a\n  b\n    \n  c\n", "\t\na\n", "a\n \t \n"}) {
        EXPECT_EQ(Dump(*ReadModelling(text)), Dump(*ReadNative(text))) << text;
        EXPECT_EQ(Dump(*ReadModelling(CrLf(text))), Dump(*ReadNative(CrLf(text)))) << text;
    }
    // "A = " is "A =": an empty exact text.
    for (const char* line : {"A = \n", "A =  \n", "A != \n", "1 \"p\" = \n", "(d) =\t\n"})
        EXPECT_EQ(NodeOf(*ReadModelling(line)), NodeOf(*ReadNative(line))) << line;
    EXPECT_THAT(NodeOf(*ReadModelling("A = \n")), HasSubstr("mCond= s1 ="));
}

TEST(ModellingReaderDiffers, MalformedInputIsAMismatch) {
    EXPECT_EQ(NativeReason("a \"p\n"), "unterminated \"node path\"");
    EXPECT_THAT(ModellingError<ETsmNoMatchingNode>("a \"p\n"), HasSubstr("No child nodes match the input."));
    EXPECT_EQ(NativeReason("(a = x\n"), "no closing bracket for '(off-context)'");
    EXPECT_THAT(ModellingError<ETsmMismatch>("(a = x\n"), HasSubstr("input: @"));
}

TEST(ModellingReader, ExampleModelsReadAsTheNativeReaderReadsThem) {
    int seen = 0;
    for (const auto& entry : std::filesystem::directory_iterator(std::string(TS_SOURCE_DIR) + "/examples")) {
        if (entry.path().extension() != ".txt") continue;
        const std::string text = LoadFileBytes(Utf8ToWide(entry.path().string()));
        for (const std::string& t : {text, CrLf(text)}) {
            const std::string native = Dump(*ReadNative(t));
            EXPECT_EQ(Dump(*ReadModelling(t)), native) << entry.path();
            EXPECT_GT(native.size(), 200u);
        }
        ++seen;
    }
    EXPECT_GE(seen, 3);
}

TEST(ModellingReader, ReadsCanBeCancelled) {
    TTsmModellingStreamer r;
    TTsmCancelToken token = r.CancelToken;
    token.Cancel();
    EXPECT_THROW(r.Read(std::make_unique<TStringStream>("a = x\n")), ETsmCancelled);
}

TEST(ModellingReader, ArbitraryTextEndsInAReadOrAnError) {
    // Lines made of the language's own characters in random order: every
    // read either builds a tree or fails with one of the library's errors.
    const std::string alphabet = " \t\"()+@.^?!=%_x;0123456789aZ\\/[]$";
    uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
    int errors = 0;
    for (int round = 0; round < 150; ++round) {
        std::string text;
        for (int line = 0; line < 3; ++line) {
            const uint32_t len = next() % 24;
            for (uint32_t i = 0; i < len; ++i) text += alphabet[(next() >> 8) % alphabet.size()];
            text += (next() & 1) ? "\r\n" : "\n";
        }
        try {
            ReadModelling(text, [](TTsObject&, Exception&) {});
        } catch (const ETessarine&) {
            ++errors;
        } catch (const EConvertError&) {
            ++errors;
        }
    }
    EXPECT_GT(errors, 0);
}

TEST(ModellingReader, BothReadersBoundTheLineLengthAlike) {
    const size_t max = TTsmTextStreamer::MaxLineLength;
    auto model = [](size_t commentLength, const std::string& lineBreak) {
        return "a = x" + lineBreak + ";" + std::string(commentLength - 1, 'c') + lineBreak + "b = y" + lineBreak;
    };
    for (const std::string lineBreak : {"\n", "\r\n", "\r"}) {
        SCOPED_TRACE(testing::PrintToString(lineBreak));
        const std::string atLimit = model(max, lineBreak);
        EXPECT_EQ(Dump(*ReadModelling(atLimit)), Dump(*ReadNative(atLimit)));
        EXPECT_EQ(ReadNative(atLimit)->ChildCount(), 2);

        const std::string past = model(max + 1, lineBreak);
        for (auto read : {&ReadNative, +[](const std::string& t) { return ReadModelling(t); }}) {
            std::optional<ETsBadTextStreaming> e = test::ThrownError<ETsBadTextStreaming>([&] { read(past); });
            ASSERT_TRUE(e);
            EXPECT_EQ(e->Reason, u"line too long - 65537 characters, at most 65536");
            EXPECT_EQ(e->LineNumber, 2);
        }
    }
}
