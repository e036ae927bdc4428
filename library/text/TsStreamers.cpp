// The streamer layers and the native text model reader.
#include "library/text/TsStreamers.h"

#include <bitset>

#include "library/script/charset/Charsets.h"
#include "support/Strings.h"

namespace ts {

namespace {

constexpr std::u16string_view kCapabilityNames[] = {u"lsRead",     u"lsWrite",  u"lsCompressed",
                                                    u"lsChecksum", u"lsBinary", u"lsUnambiguous"};

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

WideString CapabilitiesText(TTsStreamerCapabilities set) {
    WideString out;
    for (size_t i = 0; i < std::size(kCapabilityNames); ++i) {
        if (!(set & (1u << i))) continue;
        if (!out.empty()) out += u", ";
        out += kCapabilityNames[i];
    }
    return out.empty() ? WideString(u"<none>") : out;
}

bool HasLowerCase(std::u16string_view text) {
    bool ascii = true;
    for (char16_t c : text) {
        if (c >= u'a' && c <= u'z') return true;
        if (c >= 0x80) ascii = false;
    }
    return !ascii && UpperCaseW(text) != text;
}

WideString MergeListText(const TTsStreamingMerges& merges) {
    WideString out;
    for (size_t i = 0; i < merges.size(); ++i) {
        if (i > 0) out += u'\0';
        if (merges[i].NonConsuming) out += u'.';
        out += TrimView(merges[i].Name);
    }
    return out;
}

void TTsStreamingProps::Clear() {
    static_cast<TTsModelFlags&>(*this) = TTsModelFlags();
    Order = 0;
    Name.clear();
    Path.clear();
    Cond.clear();
    Source.Clear();
    Level = 0;
    MergesL.clear();
    MergesR.clear();
}

// ---- TTsStreamer ---------------------------------------------------------------

TTsStreamer::TTsStreamer(TTsTreeNode* root) : root_(root) { Options.LineBreak.clear(); }

std::unique_ptr<TTsTreeNode> TTsStreamer::Read(std::unique_ptr<TStream> stream, std::u16string_view sourceName) {
    if (stream) stream_ = std::move(stream);
    if (!stream_) throw EInvalidArgument(Format(u"%s has no stream to read.", {this}));
    startPos_ = stream_->Position();
    if (!(capabilities_ & CapabilitySet(lsRead))) throw ETsUncapableStreamer(this, CapabilitySet(lsRead));
    if (root_) throw ETsReusingStreamer(this);
    sourceName_ = sourceName.empty() ? stream_->Description() : WideString(sourceName);
    DoRead();
    return std::move(ownedRoot_);
}

std::unique_ptr<TTsTreeNode> TTsStreamer::ReadFrom(TTsStreamerClass cls, std::unique_ptr<TStream> stream) {
    std::unique_ptr<TTsStreamer> streamer = cls->Create(nullptr);
    try {
        return streamer->Read(std::move(stream));
    } catch (ETsStreamer& e) {
        // The streamer dies here; its error must not point at it.
        e.Streamer = nullptr;
        throw;
    }
}

void TTsStreamer::DoRead() { throw ETsUncapableStreamer(this, CapabilitySet(lsRead)); }
void TTsStreamer::DoWrite() { throw ETsUncapableStreamer(this, CapabilitySet(lsWrite)); }

TTsTreeNode& TTsStreamer::NewRoot() {
    ownedRoot_ = std::make_unique<TTsTreeNode>(u"");
    root_ = ownedRoot_.get();
    return *root_;
}

// ---- TTsTextStreamer -------------------------------------------------------------

TTsTextStreamer::TTsTextStreamer(TTsTreeNode* root) : TTsStreamer(root) { SetCapabilities(CapabilitySet(lsRead)); }

namespace {

// The line break rule of DetectLineBreak over a text fed in pieces, so that
// a stream is read only up to its first line feed.
class TLineBreakSniffer {
public:
    // True once the answer is known; later pieces change nothing.
    template <class Char>
    bool Feed(std::basic_string_view<Char> piece) {
        for (Char c : piece) {
            if (known_) break;
            if (c == Char('\n') && !atFirst_) {
                known_ = true;
                crlf_ = prevCR_;
                break;
            }
            prevCR_ = c == Char('\r');
            sawCR_ = sawCR_ || prevCR_;
            atFirst_ = false;
        }
        return known_;
    }
    WideString Result() const {
        if (known_) return crlf_ ? u"\r\n" : u"\n";
        return sawCR_ ? u"\r" : u"\n";
    }

private:
    bool atFirst_ = true;  // a line feed as the first character does not count
    bool prevCR_ = false;
    bool sawCR_ = false;
    bool known_ = false;
    bool crlf_ = false;
};

}  // namespace

WideString TTsTextStreamer::DetectLineBreak(std::u16string_view text) {
    TLineBreakSniffer sniffer;
    sniffer.Feed(text);
    return sniffer.Result();
}

WideString TTsTextStreamer::DetectLineBreak(TStream& in) {
    const int64_t start = in.Position();
    TLineBreakSniffer sniffer;
    char buf[4096];
    for (;;) {
        const int64_t n = in.Read(buf, sizeof buf);
        if (n <= 0 || sniffer.Feed(std::string_view(buf, static_cast<size_t>(n)))) break;
    }
    in.Seek(start, TSeekOrigin::soBeginning);
    return sniffer.Result();
}

void TTsTextStreamer::DoRead() {
    WideString text = BytesToWide(Options.Codepage, Stream()->ReadToEnd());
    if (Options.LineBreak.empty()) Options.LineBreak = DetectLineBreak(text);
    ParseText(text);
}

// ---- TTsLineStreamer ---------------------------------------------------------------

void TTsLineStreamer::ParseText(std::u16string_view text) {
    lineIndex_ = -1;
    const WideString& lineBreak = Options.LineBreak;
    size_t pos = 0;
    for (;;) {
        size_t end = lineBreak.empty() ? std::u16string_view::npos : text.find(lineBreak, pos);
        std::u16string_view piece = TrimRightView(text.substr(pos, end == std::u16string_view::npos ? end : end - pos));
        ++lineIndex_;
        if (!piece.empty()) {
            line_.assign(piece);
            if (!ParseLine()) return;
        }
        if (end == std::u16string_view::npos) return;
        pos = end + lineBreak.size();
    }
}

void TTsLineStreamer::Fail(std::u16string_view message, int32_t position) const {
    throw ETsBadTextStreaming(this, message, lineIndex_ + FirstLineIndex, line_, position);
}

// ---- ETsBadTextStreaming -------------------------------------------------------------

ETsBadTextStreaming::ETsBadTextStreaming(const TTsStreamer* streamer, std::u16string_view reason, int32_t lineIndex,
                                         std::u16string_view line, int32_t position)
    : ETsStreamer(streamer, u"Problem parsing string with %s (%s) on line %d%s; text nearby: '%s'.",
                  {streamer, reason, lineIndex + 1, PositionText(line, position), NearbyText(line, position)}),
      Reason(reason),
      LineNumber(lineIndex + 1),
      Position(position) {}

WideString ETsBadTextStreaming::PositionText(std::u16string_view line, int32_t position) {
    if (position <= 0) return {};
    if (static_cast<size_t>(position) <= line.size())
        return WideString(u", '") + line[static_cast<size_t>(position) - 1] + u"'";
    return u", <end>";
}

WideString ETsBadTextStreaming::NearbyText(std::u16string_view line, int32_t position) {
    constexpr size_t kBefore = 10, kAfter = 20;
    if (position <= 0) {
        WideString out(line.substr(0, kAfter));
        if (line.size() > kAfter) out += u"...";
        return out;
    }
    size_t at = std::min(static_cast<size_t>(position) - 1, line.size());
    size_t from = at > kBefore ? at - kBefore : 0;
    WideString out(line.substr(from, at - from));
    out += u"*ERROR*";
    out += line.substr(at, kAfter);
    if (line.size() > at + kAfter) out += u"...";
    return out;
}

// ---- TTsmTextStreamer ----------------------------------------------------------------

void TTsmTextStreamer::DoRead() {
    current_ = &NewRoot();
    prevLevel_ = -1;
    TTsLineStreamer::DoRead();
}

TTsTreeNode& TTsmTextStreamer::BuildNode() {
    TTsStreamingProps& p = Props;
    if (p.Level < 0 || p.Level > MaxModelLevel) Fail(u"wrong indentation - " + IntToStr(p.Level));
    int32_t delta = p.Level - prevLevel_;
    if (delta > 1)
        Fail(Format(u"wrong indentation - got more than %d spaces (%d)", {(prevLevel_ + 1) * 2, p.Level * 2}));
    for (; delta < 1; ++delta) {
        // Only a subclass that skipped levels could climb past the root.
        if (current_->IsRoot()) Fail(u"wrong indentation - " + IntToStr(p.Level));
        current_ = current_->Parent();
    }

    TTsTreeNode* added = nullptr;
    try {
        added = current_->AddChild(p.Name);
    } catch (const ETsHashBadKey& e) {
        // A name holding the children's key separator: still the reader's error.
        Fail(e.Message());
    }
    TTsTreeNode& node = *added;
    current_ = &node;
    prevLevel_ = p.Level;

    p.Source = TTsValue::FromInt(lineIndex_ + FirstLineIndex);
    p.Source.Str = SourceName();
    p.Source.Kinds |= vkString;
    if (HasLowerCase(p.Name) && (p.IsPrepending || (!p.IsOffContext && p.Cond.empty()))) p.IsInheriting = true;

    TTsProperties& props = node.Props();
    props.Reserve(14);  // every property a line can have
    props.SetValue(u"source", p.Source);
    if (!p.Path.empty()) props.SetValue(u"mPath", TTsValue::FromStr(Trim(p.Path)));
    if (!p.Cond.empty()) props.SetValue(u"mCond", TTsValue::FromStr(Trim(p.Cond)));
    props.SetValue(u"mOrder", TTsValue::FromInt(p.Order));
    WriteModelFlags(props, p);
    if (!p.MergesL.empty()) props.SetValue(u"mMergesL", TTsValue::FromStr(MergeListText(p.MergesL)));
    if (!p.MergesR.empty()) props.SetValue(u"mMergesR", TTsValue::FromStr(MergeListText(p.MergesR)));
    return node;
}

// ---- TTsmNativeStreamer ----------------------------------------------------------------

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
