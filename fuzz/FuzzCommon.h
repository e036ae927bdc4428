// What every fuzz target shares: the input cap and the rule that the
// library's own errors are expected outcomes. Anything else that leaves a
// target (another exception type, a crash, a sanitizer report, a hang) is a
// finding, which libFuzzer reports with the input that caused it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>

#include "support/Exception.h"

namespace ts::fuzz {

// Also passed as -max_len; the check keeps a hand-run input to the cap too.
// TS_FUZZ_MAX_INPUT raises it for timing runs over larger inputs.
inline size_t MaxInput() {
    static const size_t max = [] {
        const char* v = std::getenv("TS_FUZZ_MAX_INPUT");
        return v ? std::strtoul(v, nullptr, 10) : 4096ul;
    }();
    return max;
}

inline bool TooLong(size_t size) { return size > MaxInput(); }

inline std::string_view Bytes(const uint8_t* data, size_t size) { return {reinterpret_cast<const char*>(data), size}; }

// Splits at the first zero byte: the part before and the part after it
// (all of the data and nothing when there is none).
inline std::pair<std::string_view, std::string_view> SplitAtZero(std::string_view bytes) {
    const size_t zero = bytes.find('\0');
    if (zero == std::string_view::npos) return {bytes, {}};
    return {bytes.substr(0, zero), bytes.substr(zero + 1)};
}

// Runs f; a library error ends it as an expected outcome.
template <typename F>
void Guarded(F&& f) {
    try {
        f();
    } catch (const Exception&) {
    }
}

}  // namespace ts::fuzz
