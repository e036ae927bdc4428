// The line diff behind the text page's highlighting: which lines of two texts
// are not part of a longest common subsequence of their lines. Myers' O(ND)
// algorithm in linear space, so that dumps of many thousand lines that differ
// throughout stay cheap in memory.
#pragma once

#include <string_view>
#include <vector>

#include "support/Object.h"

namespace ts {

// The lines of a text broken at CR LF, LF or CR; a break at the very end
// starts no further line, so "" and "a\r\n" give zero and one line.
std::vector<WideString> SplitLines(std::u16string_view text);

struct TLineDiff {
    // One flag per line: true for a line that the other text lacks.
    std::vector<bool> ChangedA;
    std::vector<bool> ChangedB;
};

// Lines compare exactly, blanks included.
TLineDiff DiffLines(const std::vector<WideString>& a, const std::vector<WideString>& b);
inline TLineDiff DiffTexts(std::u16string_view a, std::u16string_view b) {
    return DiffLines(SplitLines(a), SplitLines(b));
}

}  // namespace ts
