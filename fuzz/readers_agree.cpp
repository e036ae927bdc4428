// Both readers over the same model text, which must give the same tree. The
// data does not become the text directly: each line is built from pieces of
// the language both readers share (order prefixes, items, paths, conditions,
// indentation of two blanks per level), chosen by the data's bytes, and the
// combinations the readers are meant to read differently are left out.
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz/FuzzCommon.h"
#include "library/core/TsTreeWalk.h"
#include "library/text/TsNativeReader.h"
#include "library/text/modellingreader/TsmModellingStreamer.h"
#include "support/Strings.h"

namespace {

using namespace ts;

const char* const kOrders[] = {"", "1 ", "12 ", "0 ", "03 ", ". ", "1? ", "2^ ", ".? ", ".^ ", "0? ", "999 "};
const char* const kItems[] = {
    "name",          "Name2",          "a_b",     "@name",     "+name",      "+NAME",         "NAME",
    "END",           "WARN",           "name...", "(def)",     "(@def)",     "(def...)",      "a + b",
    "a + b...",      "a + (c...) + d", "(a) + b", "x + y + z", "\"quoted\"", "\"dir\\leaf\"", "\"dir/leaf_1\"",
    "\"quoted\"...", "name?",          ""};
const char* const kPaths[] = {"", " \"p\\q\"", " \"\\abs\\x_1\"", " \"with space\""};
const char* const kConds[] = {
    "",          " % SP* ID+", " = text",  " =",  " _ (",  " x 0D0A", " ? eof", " != ^",       " !% DIG",
    " % [^\"]+", " = a b  c",  " ? 1 2 =", " = ", " !=  ", " = x \t", " ?  ",   " % SP+ + SP+"};

template <typename T, size_t N>
const T& Pick(const T (&list)[N], uint8_t b) {
    return list[b % N];
}

// One line of the shared language, or none when the pieces would make one
// the readers are meant to differ on (or one without item and condition).
bool BuildLine(const uint8_t* p, std::string& line) {
    const std::string order = Pick(kOrders, p[0]), item = Pick(kItems, p[1]), path = Pick(kPaths, p[2]);
    const std::string cond = Pick(kConds, p[3]);
    if (item.empty()) {
        if (cond.empty() || !path.empty()) return false;
        line = order + cond.substr(1);
        return true;
    }
    const bool offContext = item[0] == '(' || item.find(" (") != std::string::npos;
    const bool quoted = item[0] == '"';
    const bool nonConsuming = item.find("...") != std::string::npos;
    const bool asks = item.back() == '?';
    if (!path.empty() && (offContext || quoted || asks)) return false;
    if (nonConsuming && !cond.empty() && cond[1] == '!') return false;
    if (asks && !cond.empty()) return false;
    line = order + item + path + cond;
    return true;
}

// The whole tree, one line per node: depth, name and every property.
void Dump(const TTsTreeNode& root, std::string& out) {
    for (auto [node, depth] : PreOrder(root)) {
        out += std::string(static_cast<size_t>(depth) * 2, ' ') + "[" + WideToUtf8(node->Name()) + "]";
        const TTsProperties& props = node->Props();
        for (int i = 0; i < props.Count(); ++i) {
            const TTsProperty& p = *props.ByIndex(i);
            out += " " + WideToUtf8(p.Name()) + "=" + WideToUtf8(p.Value.DumpText());
        }
        out += "\n";
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || fuzz::TooLong(size)) return 0;
    // The first byte picks the line break; each line takes five bytes: its
    // indentation step and its four pieces.
    const std::string lineBreak = data[0] % 2 ? "\r\n" : "\n";
    std::string text, line;
    size_t depth = 0;
    for (size_t i = 1; i + 5 <= size; i += 5) {
        const uint8_t step = data[i];
        // Down one level at most, up any number of levels.
        if (step % 4 == 0)
            ++depth;
        else if (step % 4 == 1 && depth > 0)
            depth -= std::min<size_t>(depth, step / 4 % 4 + 1);
        if (text.empty()) depth = 0;
        if (step & 0x80) {
            // Blank lines and comments, which neither reader turns into nodes.
            text += (step & 0x40 ? std::string("  ") : std::string()) + (step & 0x20 ? "; note" : "") + lineBreak;
        }
        if (!BuildLine(data + i + 1, line)) continue;
        text += std::string(depth * 2, ' ') + line + lineBreak;
    }
    std::unique_ptr<TTsTreeNode> native, modelling;
    try {
        native = TTsmNativeStreamer().Read(std::make_unique<TStringStream>(text), u"m.txt");
    } catch (const Exception&) {
    }
    try {
        modelling = TTsmModellingStreamer().Read(std::make_unique<TStringStream>(text), u"m.txt");
    } catch (const Exception&) {
    }
    if (!native && !modelling) return 0;
    if (!native || !modelling) {
        fprintf(stderr, "only the %s reader read:\n%s", native ? "native" : "modelling", text.c_str());
        __builtin_trap();
    }
    std::string a, b;
    Dump(*native, a);
    Dump(*modelling, b);
    if (a != b) {
        fprintf(stderr, "trees differ for:\n%s\nnative:\n%s\nmodelling:\n%s", text.c_str(), a.c_str(), b.c_str());
        __builtin_trap();
    }
    return 0;
}
