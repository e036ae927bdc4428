// Simple patterns: the pattern text is the data up to the first zero byte,
// the input is the rest; the last byte picks the line break NL matches.
#include "fuzz/FuzzCommon.h"
#include "library/expressions/rpn/Simpat.h"
#include "support/Strings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace ts;
    if (size == 0 || fuzz::TooLong(size)) return 0;
    static const char* const kBreaks[] = {"\r\n", "\n", "\r"};
    const char* nl = kBreaks[data[size - 1] % 3];
    // Plain names: a lambda cannot capture structured bindings here.
    const auto parts = fuzz::SplitAtZero(fuzz::Bytes(data, size - 1));
    const std::string_view pattern = parts.first, input = parts.second;
    fuzz::Guarded([&] {
        TStringStream stream{RawByteString(input)};
        MatchSimplePattern(Utf8ToWide(pattern), stream, nl);
    });
    return 0;
}
