// Loading sources and reading model text.
#include "debugger/driver/TsdbgSource.h"

#include <filesystem>
#include <optional>

#include "library/modelling/TsmEngine.h"
#include "library/script/TsScript.h"
#include "library/script/charset/Charsets.h"
#include "library/text/TsNativeReader.h"
#include "library/text/TsStreamers.h"
#include "library/text/TsTextLocation.h"
#include "library/text/modellingreader/TsmModellingStreamer.h"
#include "support/Strings.h"

namespace ts {

namespace {

constexpr std::string_view kProductWord = "Tessarine ";

WideString FullPathOf(const WideString& path) {
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(FileNameToPath(path), ec);
    if (ec) return path;
    return Utf8ToWide(p.lexically_normal().string());
}

WideString DecodeUtf16(std::string_view bytes, bool bigEndian) {
    WideString text;
    text.reserve(bytes.size() / 2);
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto hi = static_cast<unsigned char>(bytes[bigEndian ? i : i + 1]);
        const auto lo = static_cast<unsigned char>(bytes[bigEndian ? i + 1 : i]);
        text.push_back(static_cast<char16_t>(hi << 8 | lo));
    }
    return text;
}

// The memo text as the readers see it: a string stream that stops giving
// bytes once its run is cancelled.
class TMemoStream : public TStringStream {
    TS_CLASS(TMemoStream)
public:
    TMemoStream(RawByteString bytes, const TTsmCancelToken* cancel) : TStringStream(std::move(bytes)) {
        if (cancel) cancel_ = *cancel;
    }
    int64_t Read(void* buffer, int64_t count) override {
        if (cancel_ && cancel_->IsCancelled()) throw EReadError(u"Reading the model text was cancelled.");
        return TStringStream::Read(buffer, count);
    }
    // Node sources and messages name the text as the string stream it is.
    WideString Description() const override { return u"<StringStream>"; }

private:
    std::optional<TTsmCancelToken> cancel_;
};

// Lines of a text, as LocateLine counts them.
int32_t LineCount(std::u16string_view text) {
    int32_t n = 1;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
        if (text[i] == u'\n' || text[i] == u'\r') ++n;
    }
    return n;
}

}  // namespace

int32_t SubsectionTextLine(std::u16string_view wholeFile, int32_t headerLine) {
    int32_t line = headerLine + 1;
    const int32_t lines = LineCount(wholeFile);
    while (line + 1 < lines && LocateLine(wholeFile, line + 1, 1).LineText.empty()) ++line;
    return line;
}

bool LooksLikeScript(std::string_view head) {
    return head.size() >= kProductWord.size() + 1 && head.starts_with(kProductWord) &&
           head[kProductWord.size()] >= '0' && head[kProductWord.size()] <= '9';
}

WideString DecodeModelBytes(std::string_view bytes) {
    if (bytes.starts_with("\xEF\xBB\xBF")) return BytesToWide(CpUtf8, bytes.substr(3));
    if (bytes.starts_with("\xFF\xFE")) return DecodeUtf16(bytes.substr(2), false);
    if (bytes.starts_with("\xFE\xFF")) return DecodeUtf16(bytes.substr(2), true);
    return BytesToWide(CpSystem, bytes);
}

WideString LineBreaksToCrLf(std::u16string_view text) {
    const WideString style = TTsTextStreamer::DetectLineBreak(text);
    if (style == u"\r\n") return WideString(text);
    const char16_t from = style[0];
    WideString out;
    out.reserve(text.size() + text.size() / 16);
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        // A pair that already is CR LF is one break, not two.
        if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
            out += u"\r\n";
            ++i;
        } else if (c == from) {
            out += u"\r\n";
        } else {
            out += c;
        }
    }
    return out;
}

RawByteString MemoTextToBytes(std::u16string_view text) { return WideToBytes(CpSystem, text); }

std::unique_ptr<TTsTreeNode> ReadModelText(std::u16string_view text, TModelReader reader,
                                           const TTsmCancelToken* cancel) {
    return ReadModelText(text, reader, TModelReadOptions{}, cancel);
}

std::unique_ptr<TTsTreeNode> ReadModelText(std::u16string_view text, TModelReader reader,
                                           const TModelReadOptions& options, const TTsmCancelToken* cancel) {
    auto stream = std::make_unique<TMemoStream>(MemoTextToBytes(text), cancel);
    std::unique_ptr<TTsTextStreamer> streamer;
    if (reader == TModelReader::Native)
        streamer = std::make_unique<TTsmNativeStreamer>();
    else
        streamer = std::make_unique<TTsmModellingStreamer>();
    streamer->Options.Codepage = CpSystem;
    streamer->FirstLineIndex = options.FirstLine;
    if (options.OnReport) streamer->OnError = [report = options.OnReport](TTsObject&, Exception& e) { report(e); };
    return streamer->Read(std::move(stream), options.SourceName);
}

WideString MemoOffsetText(std::u16string_view memoText, int64_t globalOffset, std::u16string_view fileName,
                          int32_t firstLine, std::u16string_view message) {
    TTsTextLocation where = LocateOffset(MemoTextToBytes(memoText), globalOffset, CpSystem);
    where.Line += firstLine;
    return LocatedMessage(fileName, where, message);
}

WideString MemoErrorPlaceText(std::u16string_view memoText, const std::exception& error, std::u16string_view fileName,
                              int32_t firstLine, std::u16string_view message) {
    if (std::optional<int64_t> offset = TsmErrorOffset(error))
        return MemoOffsetText(memoText, *offset, fileName, firstLine, message);
    if (const auto* bad = dynamic_cast<const ETsBadTextStreaming*>(&error)) {
        // Its line number already counts from the file's start.
        // The readers give no column: the line is the place.
        TTsTextLocation where = LocateLine(memoText, bad->LineNumber - firstLine, 1);
        where.Line = bad->LineNumber;
        return LocatedMessage(fileName, where, message);
    }
    return {};
}

TLoadedSource LoadSource(const WideString& path) {
    TLoadedSource src;
    src.FullPath = FullPathOf(path);
    TFileStreamW file(path, TFileMode::fmOpenRead);
    char head[11] = {};
    const int64_t got = file.Read(head, sizeof head);
    src.IsPlainModel = !LooksLikeScript(std::string_view(head, static_cast<size_t>(got)));
    file.SetPosition(0);
    if (src.IsPlainModel) {
        src.Text = DecodeModelBytes(file.ReadToEnd());
    } else {
        auto script = std::make_shared<TTsScript>(file, src.FullPath);
        const TTsSubsection& model = script->FirstModel();
        src.Text = model.Text();
        // The text begins on the line after its header, past the blank lines
        // the subsection's text drops.
        file.SetPosition(0);
        src.FirstLine = SubsectionTextLine(BytesToWide(CpUtf8, file.ReadToEnd()), model.Line);
        src.Script = std::move(script);
    }
    src.Text = LineBreaksToCrLf(src.Text);
    return src;
}

}  // namespace ts
