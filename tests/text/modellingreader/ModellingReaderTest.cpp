// The modelling reader against the native reader: both canonical models,
// a corpus of model texts in the common language, and each point where the
// two readers are meant to differ.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "library/text/CanonicalModels.h"
#include "library/text/modellingreader/TsmModellingStreamer.h"
#include "support/Strings.h"

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
    const char* items[] = {"name", "Name2", "a_b", "@name", "+name", "+NAME", "NAME", "END", "WARN", "name...",
                           "(def)", "(@def)", "(def...)", "a + b", "a + b...", "a + (c...) + d", "(a) + b",
                           "x + y + z", "\"quoted\"", "\"dir\\leaf\"", "\"dir/leaf_1\"", "\"quoted\"...", "name?"};
    const char* paths[] = {"", " \"p\\q\"", " \"\\abs\\x_1\"", " \"with space\""};
    const char* conds[] = {"",      " % SP* ID+", " = text", " =",        " _ (",      " x 0D0A",
                           " ? eof", " != ^",      " !% DIG", " % [^\"]+", " = a b  c", " ? 1 2 ="};
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
}
