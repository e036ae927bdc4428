// Unified diff over a longest common subsequence of lines.
#include "cli/Diff.h"

#include <algorithm>
#include <cstdint>

namespace ts::cli {

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t lf = text.find('\n', pos);
        size_t end = lf == std::string_view::npos ? text.size() : lf;
        std::string_view line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.emplace_back(line);
        pos = lf == std::string_view::npos ? text.size() : lf + 1;
    }
    return lines;
}

namespace {

enum class Op : uint8_t { Same, Del, Add };

// The edit script between the lists. Common ends are matched first; the
// middle is matched by dynamic programming, or replaced whole when it is
// too large to match in reasonable memory.
std::vector<Op> EditScript(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    size_t pre = 0;
    while (pre < a.size() && pre < b.size() && a[pre] == b[pre]) ++pre;
    size_t suf = 0;
    while (suf < a.size() - pre && suf < b.size() - pre && a[a.size() - 1 - suf] == b[b.size() - 1 - suf]) ++suf;
    const size_t n = a.size() - pre - suf, m = b.size() - pre - suf;
    std::vector<Op> ops(pre, Op::Same);
    constexpr size_t kMaxCells = 16u << 20;
    if (n && m && n * m <= kMaxCells) {
        // lcs[i][j]: common length of a[pre+i..] and b[pre+j..].
        std::vector<uint32_t> lcs((n + 1) * (m + 1), 0);
        auto at = [&](size_t i, size_t j) -> uint32_t& { return lcs[i * (m + 1) + j]; };
        for (size_t i = n; i-- > 0;)
            for (size_t j = m; j-- > 0;)
                at(i, j) = a[pre + i] == b[pre + j] ? at(i + 1, j + 1) + 1 : std::max(at(i + 1, j), at(i, j + 1));
        size_t i = 0, j = 0;
        while (i < n || j < m) {
            if (i < n && j < m && a[pre + i] == b[pre + j]) {
                ops.push_back(Op::Same);
                ++i, ++j;
            } else if (j < m && (i == n || at(i, j + 1) > at(i + 1, j))) {
                ops.push_back(Op::Add);
                ++j;
            } else {
                ops.push_back(Op::Del);
                ++i;
            }
        }
    } else {
        ops.insert(ops.end(), n, Op::Del);
        ops.insert(ops.end(), m, Op::Add);
    }
    ops.insert(ops.end(), suf, Op::Same);
    return ops;
}

std::string Range(size_t start, size_t count) {
    // Lines count from 1; an empty range names the line before it.
    std::string s = std::to_string(count ? start + 1 : start);
    if (count != 1) s += "," + std::to_string(count);
    return s;
}

}  // namespace

std::string UnifiedDiff(const std::vector<std::string>& a, const std::vector<std::string>& b, std::string_view nameA,
                        std::string_view nameB, size_t context) {
    const std::vector<Op> ops = EditScript(a, b);
    std::string out;
    size_t k = 0;
    // Positions in a and b at each op.
    std::vector<size_t> posA(ops.size() + 1), posB(ops.size() + 1);
    for (size_t i = 0, pa = 0, pb = 0; i <= ops.size(); ++i) {
        posA[i] = pa;
        posB[i] = pb;
        if (i < ops.size()) {
            if (ops[i] != Op::Add) ++pa;
            if (ops[i] != Op::Del) ++pb;
        }
    }
    while (k < ops.size()) {
        while (k < ops.size() && ops[k] == Op::Same) ++k;
        if (k == ops.size()) break;
        // A hunk: from `context` lines before the change to `context` lines
        // after the last change that is not followed by a longer stretch of
        // common lines.
        size_t start = k >= context ? k - context : 0;
        size_t end = k;
        for (;;) {
            while (end < ops.size() && ops[end] != Op::Same) ++end;
            size_t same = end;
            while (same < ops.size() && ops[same] == Op::Same) ++same;
            if (same < ops.size() && same - end <= 2 * context) {
                end = same;
                continue;
            }
            end = std::min(end + context, ops.size());
            break;
        }
        if (out.empty()) {
            out += "--- " + std::string(nameA) + "\n";
            out += "+++ " + std::string(nameB) + "\n";
        }
        out += "@@ -" + Range(posA[start], posA[end] - posA[start]) + " +" +
               Range(posB[start], posB[end] - posB[start]) + " @@\n";
        for (size_t i = start; i < end; ++i) {
            switch (ops[i]) {
                case Op::Same:
                    out += " " + a[posA[i]] + "\n";
                    break;
                case Op::Del:
                    out += "-" + a[posA[i]] + "\n";
                    break;
                case Op::Add:
                    out += "+" + b[posB[i]] + "\n";
                    break;
            }
        }
        k = end;
    }
    return out;
}

}  // namespace ts::cli
