// The streamer layers: capabilities and single use, decoding, line cutting,
// model lines into nodes, and the reader error.
#include "library/text/TsStreamers.h"

#include "library/script/charset/Charsets.h"
#include "support/Strings.h"

namespace ts {

namespace {

constexpr std::u16string_view kCapabilityNames[] = {u"lsRead",     u"lsWrite",  u"lsCompressed",
                                                    u"lsChecksum", u"lsBinary", u"lsUnambiguous"};

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

void TTsmTextStreamer::ParseText(std::u16string_view text) {
    CheckLineLengths(text);
    TTsLineStreamer::ParseText(text);
}

void TTsmTextStreamer::CheckLineLengths(std::u16string_view text) {
    int32_t index = 0;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find_first_of(u"\r\n", pos);
        if (end == std::u16string_view::npos) end = text.size();
        if (end - pos > MaxLineLength) {
            lineIndex_ = index;
            line_.assign(text.substr(pos, 40));
            Fail(Format(u"line too long - %d characters, at most %d", {end - pos, MaxLineLength}));
        }
        if (end < text.size() && text[end] == u'\r' && end + 1 < text.size() && text[end + 1] == u'\n') ++end;
        pos = end + 1;
        ++index;
    }
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

    // Written in the collection's sorted order, so each is appended.
    static const TTsName kCond(u"mCond"), kMergesL(u"mMergesL"), kMergesR(u"mMergesR"), kOrder(u"mOrder"),
        kPath(u"mPath"), kSource(u"source");
    TTsProperties& props = node.Props();
    // The order, the flags and the source, and what the line has of the rest.
    props.Reserve(static_cast<int>(2 + ModelFlagCount + !p.Cond.empty() + !p.MergesL.empty() + !p.MergesR.empty() +
                                   !p.Path.empty()));
    if (!p.Cond.empty()) props.SetValue(kCond, TTsValue::FromStr(Trim(p.Cond)));
    WriteModelFlags(props, p);
    if (!p.MergesL.empty()) props.SetValue(kMergesL, TTsValue::FromStr(MergeListText(p.MergesL)));
    if (!p.MergesR.empty()) props.SetValue(kMergesR, TTsValue::FromStr(MergeListText(p.MergesR)));
    props.SetValue(kOrder, TTsValue::FromInt(p.Order));
    if (!p.Path.empty()) props.SetValue(kPath, TTsValue::FromStr(Trim(p.Path)));
    props.SetValue(kSource, std::move(p.Source));
    return node;
}

}  // namespace ts
