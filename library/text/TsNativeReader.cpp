// The native text model reader: a line's order, flags, items, path and
// condition, read by hand.
#include "library/text/TsNativeReader.h"

#include <bitset>

#include "support/Strings.h"

namespace ts {

namespace {

bool IsAsciiDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool IsAsciiAlnum(char16_t c) { return IsAsciiDigit(c) || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
bool IsIdentChar(char16_t c) { return IsAsciiAlnum(c) || c == u'_'; }

bool StartsWith(std::u16string_view s, char16_t c) { return !s.empty() && s.front() == c; }
bool EndsWith(std::u16string_view s, std::u16string_view tail) {
    return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

// The platform's Val for an integer: decimal, or hexadecimal after "$", "x"
// or "0x"; the value of what was read before the first bad character (or
// before the digit that would overflow).
int32_t IntegerPrefix(std::u16string_view s) {
    size_t i = 0;
    while (i < s.size() && s[i] == u' ') ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) negative = s[i++] == u'-';
    bool hex = false;
    if (i < s.size() && (s[i] == u'$' || s[i] == u'x' || s[i] == u'X')) {
        hex = true;
        ++i;
    } else if (i + 1 < s.size() && s[i] == u'0' && (s[i + 1] == u'x' || s[i + 1] == u'X')) {
        hex = true;
        i += 2;
    }
    const uint64_t limit = hex ? 0xFFFFFFFFu : (negative ? 0x80000000u : 0x7FFFFFFFu);
    uint64_t v = 0;
    for (; i < s.size(); ++i) {
        char16_t c = s[i];
        unsigned d;
        if (IsAsciiDigit(c))
            d = c - u'0';
        else if (hex && c >= u'a' && c <= u'f')
            d = c - u'a' + 10;
        else if (hex && c >= u'A' && c <= u'F')
            d = c - u'A' + 10;
        else
            break;
        uint64_t next = v * (hex ? 16 : 10) + d;
        if (next > limit) break;
        v = next;
    }
    int64_t value =
        hex ? static_cast<int64_t>(static_cast<int32_t>(static_cast<uint32_t>(v))) : static_cast<int64_t>(v);
    return static_cast<int32_t>(negative ? -value : value);
}

}  // namespace

const TTsStreamerClassInfo TTsmNativeStreamer::Class = {
    {TTsmNativeStreamer::StaticClassName(), nullptr},
    [](TTsTreeNode* root) -> std::unique_ptr<TTsStreamer> { return std::make_unique<TTsmNativeStreamer>(root); }};

bool TTsmNativeStreamer::ParseLine() {
    Props.Clear();
    if (line_.find(u'\t') != WideString::npos) {
        WideString expanded;
        expanded.reserve(line_.size() + 8);
        for (char16_t c : line_) {
            if (c == u'\t')
                expanded += u"  ";
            else
                expanded += c;
        }
        line_ = std::move(expanded);
    }
    std::u16string_view rest = TrimLeftView(line_);
    if (StartsWith(rest, u';')) return true;

    size_t indent = line_.size() - rest.size();
    if (indent % 2 != 0)
        Fail(u"wrong indentation - must be even to 2, got " + IntToStr(static_cast<int64_t>(indent)) + u" spaces");
    Props.Level = static_cast<int32_t>(std::min<size_t>(indent / 2, INT32_MAX));

    // One space-delimited token off the front; the rest loses its leading blanks.
    auto takeToken = [&rest]() {
        size_t space = rest.find(u' ');
        std::u16string_view token = rest.substr(0, space);
        rest = space == std::u16string_view::npos ? std::u16string_view() : TrimLeftView(rest.substr(space + 1));
        return token;
    };

    if (!rest.empty() && (rest[0] == u'.' || rest[0] == u'^' || IsAsciiDigit(rest[0]))) {
        std::u16string_view token = takeToken();
        if (EndsWith(token, u"^")) {
            Props.IsTentative = true;
            token.remove_suffix(1);
        } else if (EndsWith(token, u"?")) {
            Props.IsOptional = true;
            token.remove_suffix(1);
        }
        if (StartsWith(token, u'.')) {
            Props.IsOnce = true;
        } else {
            if (StartsWith(token, u'0')) {
                Props.IsResetter = true;
                token.remove_prefix(1);
            }
            Props.Order = IntegerPrefix(token);
        }
    }

    // An item list starts within the first three characters, after any of "(+@".
    bool hasItems = false;
    for (size_t i = 0; i < 3 && i < rest.size(); ++i) {
        char16_t c = rest[i];
        if (IsAsciiAlnum(c) || (c == u'_' && i > 0) || (c == u'"' && i + 1 < rest.size())) {
            hasItems = true;
            break;
        }
        if (c != u'(' && c != u'+' && c != u'@') break;
    }

    items_.clear();
    bool questionCond = false;  // "name?" hands its "?" to the condition
    if (hasItems) {
        items_.push_back(takeToken());
        if (EndsWith(items_.front(), u"?")) {
            items_.front().remove_suffix(1);
            questionCond = true;
        } else {
            while (items_.size() < MaxItems && !items_.back().empty() && rest.size() >= 2 && rest[0] == u'+' &&
                   rest[1] == u' ') {
                takeToken();
                items_.push_back(takeToken());
            }
        }
        if (items_.back().empty()) Fail(u"unterminated merge list");
    }

    if (!questionCond && StartsWith(rest, u'"')) {
        size_t close = rest.find(u'"', 1);
        if (close == std::u16string_view::npos) Fail(u"unterminated \"node path\"");
        Props.Path.assign(rest.substr(1, close - 1));
        rest = TrimLeftView(rest.substr(close + 1));
    }

    if (questionCond) {
        Props.Cond = u"? ";
        Props.Cond += rest;
    } else {
        Props.Cond.assign(rest);
    }

    if (!items_.empty()) ProcessItems();
    BuildNode();
    return true;
}

void TTsmNativeStreamer::ProcessItems() {
    for (std::u16string_view& item : items_) item = TrimView(item);

    size_t main = 0;
    for (size_t i = 0; i < items_.size(); ++i) {
        std::u16string_view& item = items_[i];
        if (!StartsWith(item, u'(')) continue;
        if (item.size() < 2 || item.back() != u')') Fail(u"no closing bracket for '(off-context)'");
        item = item.substr(1, item.size() - 2);
        main = i;
        Props.IsOffContext = true;
        break;
    }

    std::bitset<MaxItems> nonConsuming;
    for (size_t i = 0; i < items_.size(); ++i) {
        if (!EndsWith(items_[i], u"...")) continue;
        items_[i].remove_suffix(3);
        nonConsuming[i] = true;
    }
    auto addMerges = [this, &nonConsuming](TTsStreamingMerges& list, size_t from, size_t to) {
        for (size_t i = from; i < to; ++i) list.push_back({WideString(items_[i]), nonConsuming[i]});
    };

    std::u16string_view name = items_[main];
    Props.IsNonConsuming = nonConsuming[main];
    if (Props.IsOffContext) {
        // An off-context node inherits unless "@" says otherwise.
        if (StartsWith(name, u'@'))
            name.remove_prefix(1);
        else
            Props.IsInheriting = true;
        addMerges(Props.MergesL, 0, main);
        addMerges(Props.MergesR, main + 1, items_.size());
    } else {
        addMerges(Props.MergesR, 1, items_.size());
        if (StartsWith(name, u'@')) {
            Props.IsInheriting = true;
            name.remove_prefix(1);
        }
        if (StartsWith(name, u'"')) {
            if (name.size() < 2 || name.back() != u'"') Fail(u"no matching apostrophe in \"name\"");
            if (!Props.Path.empty()) Fail(u"defining item's \"path\" twice");
            Props.Path.assign(name.substr(1, name.size() - 2));
            size_t start = Props.Path.size();
            while (start > 0 && IsIdentChar(Props.Path[start - 1])) --start;
            name = std::u16string_view(Props.Path).substr(start);
            if (name.empty()) Fail(u"\"path\" contains none of a-z, A-Z, 0-9 or '_'");
        } else if (!Props.Path.empty() && HasLowerCase(name)) {
            Props.IsInheriting = true;
        }
    }
    if (StartsWith(name, u'+')) {
        Props.IsPrepending = true;
        name.remove_prefix(1);
    }
    if (name.empty()) Fail(u"empty item name");
    Props.Name.assign(name);
}

}  // namespace ts
