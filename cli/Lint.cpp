// The checks of LintModel. Layout checks look at the raw lines; the others
// read the text with the modelling reader (as the debugger does), look at the
// tree it gives, and at the compiled table where merging decides the answer.
#include "cli/Lint.h"

#include <algorithm>
#include <map>
#include <set>

#include "debugger/driver/TsdbgSource.h"
#include "library/core/TsTreeWalk.h"
#include "library/expressions/TsExpressions.h"
#include "library/expressions/rpn/RPNit.h"
#include "library/modelling/TsmCompiler.h"
#include "library/text/modellingreader/TsmModellingStreamer.h"
#include "support/Strings.h"

namespace ts::cli {

namespace {

// The classes a simple pattern knows by name.
const std::vector<WideString> kClasses = {u"ANY", u"SP",  u"CR", u"LF", u"CTL",  u"DIG",
                                          u"LAT", u"HEX", u"ID", u"NL", u"EOLN", u"EOF"};

bool IsUpperOrDigit(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9'); }
bool IsWordChar(char16_t c) { return IsUpperOrDigit(c) || (c >= u'a' && c <= u'z') || c == u'_'; }

size_t Distance(std::u16string_view a, std::u16string_view b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diag = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diag + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diag = up;
        }
    }
    return row[b.size()];
}

// The names nearest to word (at most two edits, at most three names), as
// "A, B or C"; empty when none is near.
WideString Nearest(std::u16string_view word, const std::vector<WideString>& names) {
    std::vector<std::pair<size_t, WideString>> near;
    for (const WideString& n : names) {
        const size_t d = Distance(word, n);
        if (d <= 2 && d < std::max(word.size(), n.size())) near.push_back({d, n});
    }
    std::stable_sort(near.begin(), near.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    if (near.size() > 3) near.resize(3);
    WideString out;
    for (size_t i = 0; i < near.size(); ++i) {
        if (i) out += i + 1 == near.size() ? u" or " : u", ";
        out += near[i].second;
    }
    return out;
}

// Pieces of s between any of the separator characters.
std::vector<WideString> SplitAny(std::u16string_view s, std::u16string_view seps) {
    std::vector<WideString> out;
    size_t start = 0;
    for (size_t i = 0; i <= s.size(); ++i)
        if (i == s.size() || seps.find(s[i]) != std::u16string_view::npos) {
            out.emplace_back(s.substr(start, i - start));
            start = i + 1;
        }
    return out;
}

// Pieces of s between occurrences of sep.
std::vector<WideString> SplitOn(std::u16string_view s, std::u16string_view sep) {
    std::vector<WideString> out;
    size_t start = 0;
    while (true) {
        const size_t at = s.find(sep, start);
        out.emplace_back(s.substr(start, at == std::u16string_view::npos ? s.npos : at - start));
        if (at == std::u16string_view::npos) return out;
        start = at + sep.size();
    }
}

int LeadingInt(std::u16string_view s) {
    int v = 0;
    for (char16_t c : s) {
        if (c < u'0' || c > u'9' || v > 100000000) break;
        v = v * 10 + (c - u'0');
    }
    return v;
}

std::vector<WideString> SplitLines(std::u16string_view text) {
    std::vector<WideString> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(u"\r\n", start);
        if (end == std::u16string_view::npos) {
            if (start < text.size()) lines.emplace_back(text.substr(start));
            break;
        }
        lines.emplace_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

class TLinter {
public:
    explicit TLinter(std::u16string_view text) : lines_(SplitLines(text)) {}

    // sourceName names the text in `source` values and messages (empty: the stream's).
    std::vector<TLintFinding> Run(std::u16string_view text, std::u16string_view sourceName);

private:
    void Add(int lineIndex, size_t column0, WideString message, WideString hint) {
        findings_.push_back({lineIndex + 1, static_cast<int>(column0) + 1, std::move(message), std::move(hint)});
    }
    const WideString& LineAt(int index) const {
        static const WideString none;
        return index >= 0 && static_cast<size_t>(index) < lines_.size() ? lines_[static_cast<size_t>(index)] : none;
    }
    static int LineOf(const TTsValue& source) { return source.Has(vkInt) ? source.Int : -1; }
    // Where a node's condition starts in its line.
    size_t CondColumn(int line, std::u16string_view cond) const {
        const size_t at = LineAt(line).rfind(cond);
        return at == WideString::npos ? 0 : at;
    }
    size_t NameColumn(int line) const {
        const WideString& l = LineAt(line);
        const size_t at = l.find_first_not_of(u" \t");
        return at == WideString::npos ? 0 : at;
    }

    void CheckLayout();
    void CheckQuotedNameAsks();
    void CheckTree(const TTsTreeNode& root);
    void CheckPattern(int line, size_t column, std::u16string_view pattern);
    void CheckExpression(int line, size_t column, std::u16string_view expr, const TTsmCompiler& compiler);
    void CheckCompiled(const TTsmCompiler& compiler);

    std::vector<WideString> lines_;
    std::vector<TLintFinding> findings_;
    std::set<WideString> elementNames_;  // every segment of every node's path
    std::vector<const TTsTreeNode*> nodes_;
    std::set<int> askedLines_;  // lines with a quoted name before "?"
    std::set<int> mergeLines_;  // lines with a merge that reaches nothing
};

void TLinter::CheckLayout() {
    for (size_t i = 0; i < lines_.size(); ++i) {
        const WideString& l = lines_[i];
        const int li = static_cast<int>(i);
        const size_t content = l.find_first_not_of(u" \t");
        const size_t tab = l.find(u'\t');
        if (tab != WideString::npos && (content == WideString::npos || tab < content))
            Add(li, tab, u"tab in the indentation", u"indent with two blanks per level");
        if (content != WideString::npos && content % 2 == 1 && tab == WideString::npos && l[content] != u';')
            Add(li, 0, u"odd indentation of " + IntToStr(static_cast<int>(content)) + u" blanks",
                u"indent with two blanks per level");
        if (!l.empty() && (l.back() == u' ' || l.back() == u'\t')) {
            const size_t last = l.find_last_not_of(u" \t");
            Add(li, last == WideString::npos ? 0 : last + 1, u"trailing blanks", u"remove them");
        }
    }
}

// "x"? % ... : the "?" ends the name and the line's condition becomes an
// expression, not an optional node.
void TLinter::CheckQuotedNameAsks() {
    for (size_t i = 0; i < lines_.size(); ++i) {
        const WideString& l = lines_[i];
        size_t p = l.find_first_not_of(u" \t");
        if (p == WideString::npos || l[p] == u';') continue;
        if (l[p] == u'.' || l[p] == u'^' || (l[p] >= u'0' && l[p] <= u'9')) {
            p = l.find(u' ', p);
            if (p == WideString::npos) continue;
            p = l.find_first_not_of(u' ', p);
            if (p == WideString::npos) continue;
        }
        if (l[p] != u'"') continue;
        const size_t close = l.find(u'"', p + 1);
        if (close == WideString::npos || close + 2 >= l.size() || l[close + 1] != u'?' || l[close + 2] != u' ')
            continue;
        const size_t cond = l.find_first_not_of(u' ', close + 2);
        if (cond == WideString::npos) continue;
        const char16_t op = l[cond] == u'!' && cond + 1 < l.size() ? l[cond + 1] : l[cond];
        if (WideString(u"=_x%").find(op) == WideString::npos) continue;
        const WideString name = l.substr(p, close + 1 - p);
        askedLines_.insert(static_cast<int>(i));
        Add(static_cast<int>(i), close + 1,
            name + u"? followed by a matcher reads as the expression condition \"? " + l.substr(cond) + u"\"",
            u"for an optional node put \"?\" in the order prefix: .? " + name + u" " + l.substr(cond));
    }
}

// Words in capitals where a class may start that are not a class union:
// the pattern takes them as literal text.
void TLinter::CheckPattern(int line, size_t column, std::u16string_view pattern) {
    for (size_t i = 0; i < pattern.size(); ++i) {
        const bool atStart = i == 0 || pattern[i - 1] <= u' ' || pattern[i - 1] == u'|' || (pattern[i - 1] == u'[') ||
                             (i >= 2 && pattern[i - 1] == u'^' && pattern[i - 2] == u'[');
        if (!atStart || !(pattern[i] >= u'A' && pattern[i] <= u'Z')) continue;
        size_t end = i;
        while (end < pattern.size() && (IsUpperOrDigit(pattern[end]) || pattern[end] == u'_')) ++end;
        const std::u16string_view word = pattern.substr(i, end - i);
        // A lower-case letter right after makes it a word of text, as "Tessarine".
        if (end < pattern.size() && pattern[end] >= u'a' && pattern[end] <= u'z') continue;
        // The union reads name by name; the first unknown name spoils all of it.
        size_t start = 0;
        while (start <= word.size()) {
            size_t us = word.find(u'_', start);
            const std::u16string_view name =
                word.substr(start, us == std::u16string_view::npos ? word.npos : us - start);
            const bool known = std::find(kClasses.begin(), kClasses.end(), name) != kClasses.end();
            const bool special = name == u"NL" || name == u"EOLN" || name == u"EOF";
            if (!known) {
                if (name.size() >= 2 && !(name.size() == word.size() && name.size() == 1)) {
                    const WideString nearest = Nearest(name, kClasses);
                    Add(line, column + i + start,
                        WideString(name) + u": not a class, read as the text \"" + WideString(word) + u"\"" +
                            (nearest.empty() ? WideString() : u"; did you mean " + nearest + u"?"),
                        u"the classes are ANY, SP, CR, LF, CTL, DIG, LAT, HEX, ID, NL, EOLN and EOF");
                }
                break;
            }
            if (special || us == std::u16string_view::npos) break;
            start = us + 1;
        }
        i = end;
    }
}

void TLinter::CheckExpression(int line, size_t column, std::u16string_view expr, const TTsmCompiler& compiler) {
    std::shared_ptr<const TCompiledRPN> compiled;
    try {
        compiled = RpnCompile(expr);
    } catch (const Exception& e) {
        Add(line, column, u"the expression does not compile: " + e.Message(), u"see the expression language");
        return;
    }
    std::vector<WideString> functions;
    for (const WideString& n : SplitOn(compiler.Functions->NamesText(), u", ")) functions.push_back(n);
    for (size_t k = 0; k < compiled->Count(); ++k) {
        const auto* var = dynamic_cast<const TRpnVariable*>(&(*compiled)[k]);
        if (!var) continue;
        const WideString& name = var->Name();
        if (name.empty() || name == u"$") continue;
        const size_t at = expr.find(name);
        const size_t col = column + (at == std::u16string_view::npos ? 0 : at);
        if (std::all_of(name.begin(), name.end(), IsWordChar)) {
            if (std::find(functions.begin(), functions.end(), name) != functions.end()) continue;
            const WideString nearest = Nearest(name, functions);
            Add(line, col, u"unknown function '" + name + u"'",
                nearest.empty() ? WideString(u"see the function list in docs/LANGUAGE.md")
                                : u"did you mean " + nearest + u"?");
            continue;
        }
        if (name.size() <= 2 && WideString(u"+-*/<>=!").find(name[0]) != WideString::npos) continue;
        // A node reference: every element it names must be one that some
        // node's path can create.
        WideString path = name.substr(0, name.find(u'$'));
        if (!path.empty() && path.back() == u'?') path.pop_back();
        const size_t prefix = path.find_first_not_of(u".\\/");
        if (prefix == WideString::npos) continue;
        for (WideString seg : SplitAny(path.substr(prefix), u"/\\")) {
            if (!seg.empty() && seg[0] == u'+') seg.erase(0, 1);
            seg = seg.substr(0, seg.find(u'['));
            if (seg.empty() || elementNames_.count(seg)) continue;
            Add(line, col, u"the reference '" + name + u"' names '" + seg + u"', which no node's path creates",
                u"name an element that a node with a path (\"name\" or a quoted path) makes");
            break;
        }
    }
}

void TLinter::CheckTree(const TTsTreeNode& root) {
    for (auto [n, depth] : PreOrder(root))
        if (depth > 0) nodes_.push_back(n);
    std::sort(nodes_.begin(), nodes_.end(), [](const TTsTreeNode* a, const TTsTreeNode* b) {
        return LineOf(a->Props().Find(u"source")->Value) < LineOf(b->Props().Find(u"source")->Value);
    });
    auto text = [](const TTsTreeNode* n, std::u16string_view prop) {
        const TTsProperty* p = n->Props().Find(prop);
        return p ? p->Value.Str : WideString();
    };
    auto flag = [](const TTsTreeNode* n, std::u16string_view prop) {
        const TTsProperty* p = n->Props().Find(prop);
        return p && p->Value.Has(vkBool) && p->Value.Bool;
    };
    std::set<WideString> names;
    for (const TTsTreeNode* n : nodes_) {
        names.insert(n->Name());
        const WideString path = text(n, u"mPath");
        if (path.empty() || n->Name() == u"FAIL" || n->Name() == u"WARN") continue;
        for (WideString seg : SplitAny(path, u"/\\")) {
            if (!seg.empty() && seg[0] == u'+') seg.erase(0, 1);
            elementNames_.insert(seg.substr(0, seg.find(u'[')));
        }
    }
    // Merges and inheritance: which names something refers to.
    std::map<WideString, int> referenced;
    for (const TTsTreeNode* n : nodes_) {
        const int line = LineOf(n->Props().Find(u"source")->Value);
        if (flag(n, u"mIsInheriting") && !flag(n, u"mIsOffContext")) ++referenced[n->Name()];
        for (const char16_t* prop : {u"mMergesL", u"mMergesR"}) {
            for (WideString ref : SplitAny(text(n, prop), std::u16string_view(u"\0", 1))) {
                if (!ref.empty() && ref[0] == u'.') ref.erase(0, 1);
                if (ref.empty()) continue;
                ++referenced[ref];
                if (!names.count(ref)) {
                    mergeLines_.insert(line);
                    const size_t at = LineAt(line).find(ref);
                    Add(line, at == WideString::npos ? NameColumn(line) : at,
                        u"the merge '" + ref + u"' reaches nothing: no node is named so",
                        u"define (" + ref + u") or correct the name");
                }
            }
        }
    }
    for (const TTsTreeNode* n : nodes_) {
        if (!flag(n, u"mIsOffContext")) continue;
        // An inheriting definition of the same name counts as a use.
        bool used = referenced.count(n->Name()) != 0;
        for (const TTsTreeNode* m : nodes_)
            if (m != n && m->Name() == n->Name() && flag(m, u"mIsInheriting")) used = true;
        if (used) continue;
        const int line = LineOf(n->Props().Find(u"source")->Value);
        Add(line, NameColumn(line), u"the definition (" + n->Name() + u") is never referenced",
            u"merge it with \"+ " + n->Name() + u"\", inherit it with a node named " + n->Name() + u", or remove it");
    }
}

// Can this condition text hold without consuming input?
bool MayMatchEmpty(std::u16string_view cond) {
    WideString c = Trim(cond);
    if (c.empty() || c[0] == u'!') return true;  // a negated test never consumes
    const char16_t op = c[0];
    WideString value = Trim(std::u16string_view(c).substr(1));
    if (op == u'=') return value.empty();
    if (op != u'%') return false;  // expressions: unknown; the others consume
    // A choice may match empty when every word of it is repeated by * or ?
    // or only tests the end.
    size_t start = 0;
    while (true) {
        size_t bar = value.find(u'|', start);
        while (bar != WideString::npos && bar + 1 < value.size() && value[bar + 1] == u'|')
            bar = value.find(u'|', bar + 2);
        const WideString choice = Trim(value.substr(start, bar == WideString::npos ? WideString::npos : bar - start));
        bool empty = true;
        for (const WideString& w : SplitAny(choice, u" \t"))
            if (!w.empty() && w.back() != u'*' && w.back() != u'?' && w != u"EOF") empty = false;
        if (empty) return true;
        if (bar == WideString::npos) return false;
        start = bar + 1;
    }
}

void TLinter::CheckCompiled(const TTsmCompiler& compiler) {
    std::set<std::pair<int, WideString>> seen;
    auto add = [&](int line, size_t col, WideString msg, WideString hint) {
        if (line < 0 || !seen.insert({line, msg}).second) return;
        Add(line, col, std::move(msg), std::move(hint));
    };
    auto condText = [&](const TTsmProps& p) {
        const TTsTreeNode* n = nullptr;
        for (const TTsTreeNode* t : nodes_)
            if (LineOf(t->Props().Find(u"source")->Value) == LineOf(p.Source)) n = t;
        const TTsProperty* c = n ? n->Props().Find(u"mCond") : nullptr;
        return c ? c->Value.Str : WideString();
    };
    auto label = [](const TTsmProps& p) { return p.Name.empty() ? WideString(u"<unnamed>") : p.Name; };
    for (const auto& info : compiler.Table) {
        if (!info) continue;
        const TTsmProps& parent = info->Props;
        std::vector<const TTsmProps*> kids;
        for (TMmID id : parent.Children) {
            if (id < 0 || static_cast<size_t>(id) >= compiler.Table.size() || !compiler.Table[static_cast<size_t>(id)])
                continue;
            const TTsmProps& k = compiler.Table[static_cast<size_t>(id)]->Props;
            if (!k.IsOffContext) kids.push_back(&k);
        }
        const bool cyclic = info->ChildSummary.IsCyclic;
        const TTsmProps* shadow = nullptr;
        const TTsmProps* firstOrdered = nullptr;
        for (const TTsmProps* k : kids) {
            const int line = LineOf(k->Source);
            if (shadow && !k->IsImplicit()) {
                add(line, NameColumn(line),
                    u"'" + label(*k) + u"' is never tried: '" + label(*shadow) + u"' (line " +
                        IntToStr(LineOf(shadow->Source) + 1) + u") before it always matches",
                    u"give '" + label(*shadow) + u"' a condition, or move this line above it");
                continue;
            }
            if (k->Order == 1 && firstOrdered && !k->IsImplicit())
                add(line, NameColumn(line),
                    u"'" + label(*k) + u"' is never tried: it has order 1, and '" + label(*firstOrdered) + u"' (line " +
                        IntToStr(LineOf(firstOrdered->Source) + 1) + u") must match before it is reached",
                    u"give it order " + IntToStr(firstOrdered->Order + 1) + u", or make '" + label(*firstOrdered) +
                        u"' optional");
            const bool always = !k->Cond.IsSet() || (condText(*k) == u"=" && !k->Cond.Negated);
            if (!cyclic && always && !k->IsTentative && !k->IsResetter && !k->IsImplicit()) shadow = k;
            if (k->Order > 0 && !k->IsOptional && !k->IsTentative && !k->IsResetter && !firstOrdered) firstOrdered = k;
            // In a loop every success restarts at the first child: a child
            // that can succeed on nothing succeeds again and again.
            if (cyclic && !k->IsTerminal() && !k->IsOnce && k->Order == 0 && !k->IsImplicit() && k->Children.empty() &&
                (k->IsNonConsuming || MayMatchEmpty(condText(*k))) && !(k->Cond.IsSet() && condText(*k)[0] == u'?'))
                add(line, NameColumn(line),
                    u"'" + label(*k) + u"' can succeed without consuming input in the loop of '" + label(parent) +
                        u"'; the run stops there with no progress",
                    u"make its condition consume something, or mark it once (.)");
        }
    }
}

std::vector<TLintFinding> TLinter::Run(std::u16string_view text, std::u16string_view sourceName) {
    CheckLayout();
    CheckQuotedNameAsks();
    // The reader's warnings (odd indentation, "..." with "!") do not end the
    // read; the layout checks report the odd indentation with its line.
    TTsmModellingStreamer reader;
    reader.Options.Codepage = SystemCodepage;
    reader.OnError = [](TTsObject&, Exception&) {};
    std::unique_ptr<TTsTreeNode> tree = reader.Read(std::make_unique<TStringStream>(MemoTextToBytes(text)), sourceName);
    CheckTree(*tree);
    TTsmCompiler compiler;
    compiler.Options.Codepage = SystemCodepage;
    for (const TTsTreeNode* n : nodes_) {
        const TTsProperty* c = n->Props().Find(u"mCond");
        if (!c) continue;
        const int line = LineOf(n->Props().Find(u"source")->Value);
        const size_t col = CondColumn(line, c->Value.Str);
        WideString cond = Trim(c->Value.Str);
        size_t op = cond[0] == u'!' ? 1 : 0;
        if (op >= cond.size()) continue;  // the compiler reports it
        const size_t valueAt = cond.find_first_not_of(u" \t", op + 1);
        const WideString value = valueAt == WideString::npos ? WideString() : cond.substr(valueAt);
        if (cond[op] == u'%') CheckPattern(line, col + valueAt, value);
        // "x"? % ... already has its finding; the expression it makes is
        // that mistake, not a second one.
        if (cond[op] == u'?' && !askedLines_.count(line)) CheckExpression(line, col + valueAt, value, compiler);
    }
    try {
        compiler.Compile(*tree);
        CheckCompiled(compiler);
    } catch (const Exception& e) {
        const WideString message = e.Message();
        int line = 0;
        // Compile errors end in the node text "<source>:LINE".
        const size_t colon = message.rfind(u':');
        if (colon != WideString::npos)
            line = std::max(0, LeadingInt(std::u16string_view(message).substr(colon + 1)) - 1);
        // The merge finding of that line already says why.
        if (!mergeLines_.count(line))
            Add(line, NameColumn(line), u"the model does not compile: " + message, u"see docs/LANGUAGE.md");
    }
    std::stable_sort(findings_.begin(), findings_.end(), [](const TLintFinding& a, const TLintFinding& b) {
        return a.Line != b.Line ? a.Line < b.Line : a.Column < b.Column;
    });
    return findings_;
}

}  // namespace

std::vector<TLintFinding> LintModel(std::u16string_view text, std::u16string_view sourceName) {
    return TLinter(text).Run(text, sourceName);
}

}  // namespace ts::cli
