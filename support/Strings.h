// Small string helpers shared by the library: UTF-8/UTF-16 conversion,
// number texts and trimming in the platform's sense (characters up to U+0020).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "support/Object.h"

namespace ts {

WideString Utf8ToWide(std::string_view s);
std::string WideToUtf8(std::u16string_view s);
// Every byte becomes the character of the same code (for byte-transparent text).
WideString Latin1ToWide(std::string_view s);

WideString IntToStr(int64_t v);
// Upper-case hexadecimal with at least `digits` digits.
WideString IntToHex(uint64_t v, int digits);
// "12 AB 0F"-style byte dump, upper case, single blanks.
WideString BytesToHexPairs(std::string_view bytes, size_t maxBytes = SIZE_MAX);
// The platform's general float text with up to 15 significant digits
// ("1.5", "1E20", "0.1").
WideString FloatToStr(double v);

// Integer parsing as the platform's StrToInt: optional sign, decimal digits or
// "$"/"0x" hexadecimal; nullopt on anything else or on 32-bit overflow.
std::optional<int32_t> TryStrToInt(std::u16string_view s);

std::u16string_view TrimView(std::u16string_view s);
std::u16string_view TrimLeftView(std::u16string_view s);
std::u16string_view TrimRightView(std::u16string_view s);
inline WideString Trim(std::u16string_view s) { return WideString(TrimView(s)); }
inline WideString TrimRight(std::u16string_view s) { return WideString(TrimRightView(s)); }
inline WideString TrimLeft(std::u16string_view s) { return WideString(TrimLeftView(s)); }

// ASCII-only case folding; Unicode case mapping goes through ICU (UpperCaseW).
char16_t AsciiUpper(char16_t c);
char16_t AsciiLower(char16_t c);
bool SameTextAscii(std::u16string_view a, std::u16string_view b);
// Full Unicode case mapping (ICU, root locale).
WideString UpperCaseW(std::u16string_view s);
WideString LowerCaseW(std::u16string_view s);
bool SameTextW(std::u16string_view a, std::u16string_view b);

// Text with control characters escaped (\r, \n, \t, \xNN), backslashes
// and (with quotes set) double quotes too, so that it stays on one line;
// cut after maxChars characters with "...".
WideString Escaped(std::u16string_view text, size_t maxChars = SIZE_MAX, bool quotes = true);

// Convenience: an 8 upper-case hexadecimal digit address (low 32 bits).
WideString AddressText(const void* p);

}  // namespace ts
