// Where an offset into a text lies, as people count it: line and column
// from 1 over the whole text, and the line itself; and the report of a
// message at such a place in the compiler style "FILE:LINE:COLUMN: message"
// followed by the line and a caret under the column.
#pragma once

#include <cstdint>
#include <string_view>

#include "library/core/TsBase.h"
#include "support/Streams.h"

namespace ts {

struct TTsTextLocation {
    int32_t Line = 1;     // from 1
    int32_t Column = 1;   // from 1, in characters
    WideString LineText;  // without its line break
};

// The place of a byte offset in bytes of the code page (an 8-bit or UTF-8
// one: lines end at LF, CR LF or CR). An offset past the end is the end.
TTsTextLocation LocateOffset(std::string_view bytes, int64_t offset, int32_t codepage);

// LocateOffset over a stream that is not held in memory (a large input
// read as a run goes): it counts lines from the start, or on from the last
// offset it located when the new one lies after it, so reports in input
// order cost one pass in all. The stream's position is kept.
class TTsStreamLocator {
public:
    explicit TTsStreamLocator(TStream& stream) : stream_(stream) {}
    TTsTextLocation Locate(int64_t offset, int32_t codepage);

private:
    TStream& stream_;
    int64_t scanned_ = 0;  // bytes before this were counted
    int32_t line_ = 1;     // the line at scanned_
    int64_t lineStart_ = 0;
    bool afterCr_ = false;  // the byte before scanned_ is a CR
};

// The place of a line (from 1) and column (from 1; 0 or below means 1) of a
// text; lines end at LF, CR LF or CR.
TTsTextLocation LocateLine(std::u16string_view text, int32_t line, int32_t column);

// "FILE:LINE:COLUMN: message", the line, and a caret under the column, each
// ending in a line feed. The caret line keeps the line's tabs, so that it
// lines up in any tab setting.
WideString LocatedMessage(std::u16string_view fileName, const TTsTextLocation& where, std::u16string_view message);

}  // namespace ts
