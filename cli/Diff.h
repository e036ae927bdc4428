// A unified diff of two line lists, as `diff -u` prints it: "---" and "+++"
// headers, then hunks with three lines of context.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ts::cli {

// Splits text at line feeds (a CR before one goes too); a final line break
// does not start another line.
std::vector<std::string> SplitLines(std::string_view text);

// Empty when the lists are equal.
std::string UnifiedDiff(const std::vector<std::string>& a, const std::vector<std::string>& b, std::string_view nameA,
                        std::string_view nameB, size_t context = 3);

}  // namespace ts::cli
