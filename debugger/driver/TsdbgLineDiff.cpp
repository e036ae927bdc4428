// Myers' difference algorithm with the middle snake (linear space).
#include "debugger/driver/TsdbgLineDiff.h"

#include <unordered_map>

namespace ts {

std::vector<WideString> SplitLines(std::u16string_view text) {
    std::vector<WideString> lines;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != u'\r' && text[i] != u'\n') continue;
        lines.emplace_back(text.substr(start, i - start));
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) lines.emplace_back(text.substr(start));
    return lines;
}

namespace {

// Lines as numbers: equal lines get equal numbers, so comparing is cheap.
class TLineDiffer {
public:
    TLineDiffer(const std::vector<WideString>& a, const std::vector<WideString>& b) {
        std::unordered_map<std::u16string_view, int> ids;
        auto number = [&](const std::vector<WideString>& lines, std::vector<int>& out) {
            out.reserve(lines.size());
            for (const WideString& l : lines)
                out.push_back(ids.try_emplace(l, static_cast<int>(ids.size())).first->second);
        };
        number(a, a_);
        number(b, b_);
        result_.ChangedA.assign(a_.size(), true);
        result_.ChangedB.assign(b_.size(), true);
    }

    TLineDiff Run() {
        Compare(0, static_cast<int>(a_.size()), 0, static_cast<int>(b_.size()));
        return std::move(result_);
    }

private:
    // Marks the common lines of a_[a0, a1) and b_[b0, b1). Every common line
    // is found as a common prefix or suffix of some part.
    void Compare(int a0, int a1, int b0, int b1) {
        while (a0 < a1 && b0 < b1 && a_[a0] == b_[b0]) Keep(a0++, b0++);
        while (a0 < a1 && b0 < b1 && a_[a1 - 1] == b_[b1 - 1]) Keep(--a1, --b1);
        if (a0 == a1 || b0 == b1) return;  // the rest of the other side is all changed
        int x = 0, y = 0;
        if (!MiddleSnake(a0, a1, b0, b1, x, y)) return;
        // Each part costs less than the whole, so the recursion ends; its
        // depth grows with the logarithm of the cost.
        Compare(a0, a0 + x, b0, b0 + y);
        Compare(a0 + x, a1, b0 + y, b1);
    }

    void Keep(int i, int j) {
        result_.ChangedA[i] = false;
        result_.ChangedB[j] = false;
    }

    // A point (x, y), relative to (a0, b0), on a shortest edit path: the
    // forward and the backward search run by turns until their furthest
    // reaching paths on one diagonal overlap. Diagonals that have left the
    // board are dropped from the search.
    bool MiddleSnake(int a0, int a1, int b0, int b1, int& outX, int& outY) {
        const int n = a1 - a0, m = b1 - b0;
        const int maxD = (n + m + 1) / 2;
        const int offset = maxD;
        const int length = 2 * maxD + 2;
        std::vector<int> vf(length, -1), vb(length, -1);
        vf[offset + 1] = 0;
        vb[offset + 1] = 0;
        const int delta = n - m;
        const bool front = delta % 2 != 0;  // odd: the forward search sees the overlap
        int kfStart = 0, kfEnd = 0, kbStart = 0, kbEnd = 0;
        for (int d = 0; d < maxD; ++d) {
            for (int k = -d + kfStart; k <= d - kfEnd; k += 2) {
                const int ko = offset + k;
                int x = (k == -d || (k != d && vf[ko - 1] < vf[ko + 1])) ? vf[ko + 1] : vf[ko - 1] + 1;
                int y = x - k;
                while (x < n && y < m && a_[a0 + x] == b_[b0 + y]) ++x, ++y;
                vf[ko] = x;
                if (x > n) {
                    kfEnd += 2;
                } else if (y > m) {
                    kfStart += 2;
                } else if (front) {
                    const int kbo = offset + delta - k;
                    if (kbo >= 0 && kbo < length && vb[kbo] != -1 && x >= n - vb[kbo]) {
                        outX = x;
                        outY = y;
                        return true;
                    }
                }
            }
            for (int k = -d + kbStart; k <= d - kbEnd; k += 2) {
                const int ko = offset + k;
                int x = (k == -d || (k != d && vb[ko - 1] < vb[ko + 1])) ? vb[ko + 1] : vb[ko - 1] + 1;
                int y = x - k;
                while (x < n && y < m && a_[a1 - 1 - x] == b_[b1 - 1 - y]) ++x, ++y;
                vb[ko] = x;
                if (x > n) {
                    kbEnd += 2;
                } else if (y > m) {
                    kbStart += 2;
                } else if (!front) {
                    const int kfo = offset + delta - k;
                    if (kfo >= 0 && kfo < length && vf[kfo] != -1) {
                        const int fx = vf[kfo];
                        if (fx >= n - x) {
                            outX = fx;
                            outY = fx - (kfo - offset);
                            return true;
                        }
                    }
                }
            }
        }
        return false;  // nothing in common
    }

    std::vector<int> a_, b_;
    TLineDiff result_;
};

}  // namespace

TLineDiff DiffLines(const std::vector<WideString>& a, const std::vector<WideString>& b) {
    return TLineDiffer(a, b).Run();
}

}  // namespace ts
