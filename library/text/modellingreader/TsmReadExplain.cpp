// Explaining a failed read of a model text.
#include "library/text/modellingreader/TsmReadExplain.h"

#include <algorithm>
#include <vector>

#include "library/text/CanonicalModels.h"

namespace ts {

namespace {

const TTsmNodeInfo* Record(const TTsmCompiler& compiler, TMmID id) {
    if (id < 0 || static_cast<size_t>(id) >= compiler.Table.size()) return nullptr;
    return compiler.Table[static_cast<size_t>(id)].get();
}

WideString Segment(const TTsmCompiler& compiler, const TTsmProps& props) {
    bool shared = props.Name.empty();
    if (!shared) {
        if (const TTsmNodeInfo* parent = Record(compiler, props.Parent)) {
            for (TMmID sibling : parent->Props.Children) {
                const TTsmNodeInfo* s = Record(compiler, sibling);
                if (sibling != props.ID && s && s->Props.Name == props.Name) shared = true;
            }
        }
    }
    if (!shared) return props.Name;
    return props.Name + u"{" + (props.Cond.IsSet() ? compiler.ConditionText(props.Cond) : WideString()) + u"}";
}

// Whether path ends with tail at a segment's start.
bool PathEndsWith(std::u16string_view path, std::u16string_view tail) {
    if (tail.empty() || !path.ends_with(tail)) return false;
    return path.size() == tail.size() || path[path.size() - tail.size() - 1] == u'/';
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

// The word that stands before the place on its line: what the author wrote
// last, so the message can say where it stopped making sense.
WideString LastWord(std::u16string_view text) {
    const size_t lineStart = text.find_last_of(u"\r\n");
    if (lineStart != std::u16string_view::npos) text.remove_prefix(lineStart + 1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    size_t start = text.size();
    while (start > 0 && !IsBlank(text[start - 1])) --start;
    constexpr size_t kMaxWord = 24;
    WideString word(text.substr(start));
    if (word.size() > kMaxWord) word = u"..." + word.substr(word.size() - kMaxWord);
    return word;
}

WideString Quoted(std::u16string_view word) {
    const char16_t quote = word.find(u'"') == std::u16string_view::npos ? u'"' : u'\'';
    return quote + WideString(word) + quote;
}

}  // namespace

const TTsmReadExplanation* ReadErrorExplanation(const std::exception& error) {
    const auto* e = dynamic_cast<const ETessarine*>(&error);
    return e ? dynamic_cast<const TTsmReadExplanation*>(e->Extra.get()) : nullptr;
}

WideString CanonicalNodePath(const TTsmCompiler& compiler, TMmID id) {
    WideString path;
    // The root has no parent and takes no part; a bound keeps a broken
    // parent chain from looping.
    for (size_t depth = 0; depth < compiler.Table.size(); ++depth) {
        const TTsmNodeInfo* info = Record(compiler, id);
        if (!info || info->Props.Parent == MmNoID) break;
        path = path.empty() ? Segment(compiler, info->Props) : Segment(compiler, info->Props) + u"/" + path;
        id = info->Props.Parent;
    }
    return path;
}

std::u16string_view CanonicalRoleOf(std::u16string_view path) {
    std::u16string_view best;
    size_t bestLength = 0;
    bool found = false;
    for (const TCanonicalRole& role : CanonicalModelRoles()) {
        if (!PathEndsWith(path, role.Path) || (found && role.Path.size() <= bestLength)) continue;
        best = role.Phrase;
        bestLength = role.Path.size();
        found = true;
    }
    return best;
}

TTsmReadExplanation ExplainFarthestFailure(const TTsmCompiler& compiler, const TTsmFarthestFailure& farthest,
                                           std::u16string_view textBefore) {
    TTsmReadExplanation out;
    out.Offset = farthest.Offset;
    std::vector<std::u16string_view> phrases;
    for (const TTsmFarthestFailure::TTried& tried : farthest.Tried) {
        const std::u16string_view phrase = CanonicalRoleOf(CanonicalNodePath(compiler, tried.ID));
        if (!phrase.empty() && std::find(phrases.begin(), phrases.end(), phrase) == phrases.end())
            phrases.push_back(phrase);
    }
    if (phrases.empty()) return out;
    out.Text = phrases.size() == 1 ? u"expected " : u"expected one of: ";
    for (size_t i = 0; i < phrases.size(); ++i) out.Text += (i ? u", " : u"") + WideString(phrases[i]);
    // After a list the word is set apart, so that it is not read as part
    // of the list's last phrase.
    const WideString after = LastWord(textBefore);
    if (!after.empty())
        out.Text += phrases.size() == 1 ? u" after " + Quoted(after) : u" (after " + Quoted(after) + u")";
    return out;
}

}  // namespace ts
