// Charset names and code page conversion: CodepageOfCharset maps a MIME
// charset name (any case, aliases followed) to a code page number, and
// BytesToWide / WideToBytes convert between 8-bit text and UTF-16.
//
// Code pages use the Windows numbering (65001 is UTF-8). Two values are
// special: CpUnknown (-1), the answer of a failed lookup, and CpUtf16Bytes (-2),
// which says the bytes are UTF-16 LE already and are copied, not converted.
#pragma once

#include <cstdint>
#include <string_view>

#include "support/Object.h"

namespace ts {

inline constexpr int32_t CpUnknown = -1;
inline constexpr int32_t CpUtf16Bytes = -2;
inline constexpr int32_t CpUtf8 = 65001;
// This platform's system (ANSI) code page.
inline constexpr int32_t CpSystem = CpUtf8;

// The code page of a charset name, or CpUnknown.
int32_t CodepageOfCharset(std::string_view name);

// Whether conversions know the code page (the special values included).
bool IsCodepageSupported(int32_t codepage);

// Decodes bytes up to the first zero character (CpUtf16Bytes: all of them). expectedLength is -1 or a
// buffer size counting the terminating zero: the result then holds at most
// expectedLength - 1 characters. Bytes the code page does not define become
// U+FFFD. An unsupported code page raises EConvertError: decoding silently to
// nothing would lose the input.
WideString BytesToWide(int32_t codepage, std::string_view bytes, int32_t expectedLength = -1);

// Encodes text up to its first zero character (CpUtf16Bytes: all of it); expectedLength as above, in
// bytes. A character the code page lacks becomes "?", unless requireLossless
// is set: then EConvertError "Codepage %d cannot represent all symbols of given
// string '%s'." is raised with the first 50 characters of the text.
RawByteString WideToBytes(int32_t codepage, std::u16string_view text, int32_t expectedLength = -1,
                          bool requireLossless = false);

}  // namespace ts
