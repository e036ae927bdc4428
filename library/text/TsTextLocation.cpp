// Offsets to lines and columns, and the caret report.
#include "library/text/TsTextLocation.h"

#include <algorithm>

#include "library/script/charset/Charsets.h"
#include "support/Strings.h"

namespace ts {

namespace {

bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Characters, not UTF-16 units: a surrogate pair is one column.
int32_t CharCount(std::u16string_view text) {
    int32_t n = 0;
    for (char16_t c : text)
        if (!IsLowSurrogate(c)) ++n;
    return n;
}

template <class Char>
bool IsBreak(Char c) {
    return c == Char('\n') || c == Char('\r');
}

// Line breaks in text[0, end): CR LF counts once.
template <class Char>
int32_t BreaksBefore(std::basic_string_view<Char> text, size_t end) {
    int32_t n = 0;
    for (size_t i = 0; i < end; ++i) {
        if (text[i] == Char('\n')) {
            ++n;
        } else if (text[i] == Char('\r')) {
            ++n;
            if (i + 1 < end && text[i + 1] == Char('\n')) ++i;
        }
    }
    return n;
}

}  // namespace

TTsTextLocation LocateOffset(std::string_view bytes, int64_t offset, int32_t codepage) {
    const size_t at = static_cast<size_t>(std::clamp<int64_t>(offset, 0, static_cast<int64_t>(bytes.size())));
    size_t start = at;
    while (start > 0 && !IsBreak(bytes[start - 1])) --start;
    size_t end = at;
    while (end < bytes.size() && !IsBreak(bytes[end])) ++end;
    TTsTextLocation where;
    where.Line = BreaksBefore(bytes, start) + 1;
    where.Column = CharCount(BytesToWide(codepage, bytes.substr(start, at - start))) + 1;
    where.LineText = BytesToWide(codepage, bytes.substr(start, end - start));
    return where;
}

TTsTextLocation LocateLine(std::u16string_view text, int32_t line, int32_t column) {
    size_t start = 0;
    for (int32_t n = 1; n < line && start < text.size(); ++n) {
        while (start < text.size() && !IsBreak(text[start])) ++start;
        if (start < text.size() && text[start] == u'\r' && start + 1 < text.size() && text[start + 1] == u'\n') ++start;
        if (start < text.size()) ++start;
    }
    size_t end = start;
    while (end < text.size() && !IsBreak(text[end])) ++end;
    TTsTextLocation where;
    where.Line = std::max(line, 1);
    where.LineText = WideString(text.substr(start, end - start));
    where.Column = std::clamp(column, 1, CharCount(where.LineText) + 1);
    return where;
}

WideString LocatedMessage(std::u16string_view fileName, const TTsTextLocation& where, std::u16string_view message) {
    WideString out(fileName);
    out += u":" + IntToStr(where.Line) + u":" + IntToStr(where.Column) + u": ";
    out += message;
    out += u"\n" + where.LineText + u"\n";
    int32_t column = 1;
    for (size_t i = 0; i < where.LineText.size() && column < where.Column; ++i) {
        const char16_t c = where.LineText[i];
        if (IsLowSurrogate(c)) continue;
        out += c == u'\t' ? u'\t' : u' ';
        ++column;
    }
    out += u"^\n";
    return out;
}

TTsTextLocation TTsStreamLocator::Locate(int64_t offset, int32_t codepage) {
    const int64_t keep = stream_.Position();
    const int64_t size = stream_.Size();
    offset = std::clamp<int64_t>(offset, 0, size);
    if (offset < scanned_) {
        scanned_ = lineStart_ = 0;
        line_ = 1;
        afterCr_ = false;
    }
    char buf[65536];
    stream_.Seek(scanned_, TSeekOrigin::soBeginning);
    while (scanned_ < offset) {
        const int64_t n = stream_.Read(buf, std::min<int64_t>(sizeof buf, offset - scanned_));
        if (n <= 0) break;
        for (int64_t i = 0; i < n; ++i) {
            const char c = buf[i];
            const int64_t at = scanned_ + i;
            if (c == '\n' && afterCr_) {
                lineStart_ = at + 1;  // CR LF is one break
            } else if (c == '\n' || c == '\r') {
                ++line_;
                lineStart_ = at + 1;
            }
            afterCr_ = c == '\r';
        }
        scanned_ += n;
    }
    // The line itself, up to its break; one far longer than any reader
    // shows is cut.
    constexpr int64_t MostLine = int64_t{1} << 20;
    RawByteString text;
    stream_.Seek(lineStart_, TSeekOrigin::soBeginning);
    while (static_cast<int64_t>(text.size()) < MostLine) {
        const int64_t n = stream_.Read(buf, sizeof buf);
        if (n <= 0) break;
        const std::string_view got(buf, static_cast<size_t>(n));
        const size_t end = got.find_first_of("\r\n");
        text.append(got.substr(0, end));
        if (end != std::string_view::npos) break;
    }
    stream_.Seek(keep, TSeekOrigin::soBeginning);
    TTsTextLocation where = LocateOffset(text, std::max<int64_t>(0, offset - lineStart_), codepage);
    where.Line = line_;
    return where;
}

}  // namespace ts
