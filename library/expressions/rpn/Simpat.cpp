// Simpat: class tables, the choice parser with its process-wide cache, and
// the greedy matcher.
#include "library/expressions/rpn/Simpat.h"

#include <algorithm>
#include <climits>
#include <mutex>
#include <typeinfo>

#include "support/Strings.h"

namespace ts {

// ---------------------------------------------------------------- input

TSimpatInput::TSimpatInput(TStream& stream) : stream_(stream) {
    pos_ = stream.Position();
    // Only the two classes known to read straight from memory; a descendant
    // could override Read. An exact type test is also far cheaper per call
    // than a dynamic_cast.
    const std::type_info& type = typeid(stream);
    if (type == typeid(TStringStream) || type == typeid(TMemoryStream)) {
        auto* mem = static_cast<TMemoryStream*>(&stream);
        mem_ = reinterpret_cast<const unsigned char*>(mem->Memory());
        size_ = static_cast<int64_t>(mem->Data().size());
    } else {
        size_ = stream.Size();
    }
}

int TSimpatInput::ReadByteSlow() {
    if (pos_ < bufStart_ || pos_ >= bufStart_ + bufLen_) {
        // Most matches are short: start small and double while a match runs
        // on, so a short token does not pay for a large read.
        size_t want = buf_.empty() ? 64 : std::min<size_t>(buf_.size() * 2, 65536);
        buf_.resize(want);
        stream_.SetPosition(pos_);
        int64_t got = stream_.Read(buf_.data(), static_cast<int64_t>(want));
        bufStart_ = pos_;
        bufLen_ = got > 0 ? got : 0;
        if (bufLen_ == 0) return -1;
    }
    return static_cast<unsigned char>(buf_[static_cast<size_t>(pos_++ - bufStart_)]);
}

bool TSimpatInput::Take(std::string_view bytes) {
    int64_t n = static_cast<int64_t>(bytes.size());
    if (size_ - pos_ < n) return false;
    if (mem_) {
        if (std::string_view(reinterpret_cast<const char*>(mem_ + pos_), bytes.size()) != bytes) return false;
        pos_ += n;
        return true;
    }
    int64_t start = pos_;
    for (char want : bytes)
        if (ReadByte() != static_cast<unsigned char>(want)) {
            SetPos(start);
            return false;
        }
    return true;
}

void TSimpatInput::Finish() { stream_.SetPosition(pos_); }

// ---------------------------------------------------------------- character classes

void TSimpatRangeBytes::Set(uint8_t b, bool on) {
    uint64_t bit = uint64_t{1} << (b & 63);
    if (on) {
        bits_[b >> 6] |= bit;
    } else {
        bits_[b >> 6] &= ~bit;
        All = false;
    }
}

void TSimpatRangeBytes::SetRange(uint8_t lo, uint8_t hi) {
    if (lo >= hi) return;
    for (int b = lo; b <= hi; ++b) Set(static_cast<uint8_t>(b));
}

void TSimpatRangeBytes::FillAll() {
    bits_.fill(~uint64_t{0});
    All = true;
}

void TSimpatRangeBytes::Merge(const TSimpatRangeBytes& other) {
    for (size_t i = 0; i < bits_.size(); ++i) bits_[i] |= other.bits_[i];
    NL = NL || other.NL;
    Eof = Eof || other.Eof;
    All = All || other.All;
}

bool TSimpatRangeBytes::IsNonEmpty() const {
    return NL || Eof || All || (bits_[0] | bits_[1] | bits_[2] | bits_[3]) != 0;
}

bool TSimpatRangeBytes::IsSingleByte() const {
    if (NL || Eof || All) return false;
    int n = 0;
    for (uint64_t w : bits_) n += __builtin_popcountll(w);
    return n == 1;
}

int TSimpatRangeBytes::FirstByte() const {
    for (size_t i = 0; i < bits_.size(); ++i)
        if (bits_[i]) return static_cast<int>(i * 64) + __builtin_ctzll(bits_[i]);
    return -1;
}

namespace {
std::string Hex2(int b) {
    static const char digits[] = "0123456789ABCDEF";
    return {digits[(b >> 4) & 15], digits[b & 15]};
}
}  // namespace

std::string TSimpatRangeBytes::Dump() const {
    std::string out = Negated ? "[^" : "[";
    if (All) {
        out += " ANY";
    } else {
        for (int b = 0; b < 256;) {
            if (!Has(static_cast<uint8_t>(b))) {
                ++b;
                continue;
            }
            int e = b;
            while (e + 1 < 256 && Has(static_cast<uint8_t>(e + 1))) ++e;
            out += ' ';
            out += Hex2(b);
            if (e > b) {
                out += '-';
                out += Hex2(e);
            }
            b = e + 1;
        }
    }
    if (NL) out += " NL";
    if (Eof) out += " EOF";
    return out + "]";
}

// ---------------------------------------------------------------- class table

namespace {

struct TStrHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

bool IsUpperOrDigit(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

}  // namespace

void TSimpatClassTable::Add(std::u16string_view name, const TSimpatRangeBytes& bytes, const TLinearSimpat* owner) {
    std::string upper;
    bool ok = !name.empty();
    for (char16_t c : name) {
        char16_t u = AsciiUpper(c);
        if (!((u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9'))) ok = false;
        upper += static_cast<char>(u);
    }
    if (!ok)
        throw ESimpatBadCharClass(
            owner, u"Simple Pattern's character class names must consist of A-Z and 0-9 symbols - '%s' name given.",
            {name});
    if (!bytes.IsNonEmpty())
        throw ESimpatEmptyCharClass(owner, u"Attempted to create character class '%s' that matches nothing.", {name});
    map_[upper] = bytes;
}

const TSimpatRangeBytes* TSimpatClassTable::Find(std::string_view upperName) const {
    // A plain map lookup would need a std::string per probe.
    for (const auto& [name, bytes] : map_)
        if (name == upperName) return &bytes;
    return nullptr;
}

const TSimpatClassTable& TSimpatClassTable::Standard() {
    static const TSimpatClassTable table = [] {
        TSimpatClassTable t;
        TSimpatRangeBytes any, sp, cr, lf, ctl, dig, lat, hex, id;
        any.FillAll();
        sp.Set(9);
        sp.Set(32);
        cr.Set(13);
        lf.Set(10);
        ctl.SetRange(0, 31);
        dig.SetRange('0', '9');
        lat.SetRange('a', 'z');
        lat.SetRange('A', 'Z');
        hex = dig;
        hex.SetRange('a', 'f');
        hex.SetRange('A', 'F');
        id = dig;
        id.Merge(lat);
        id.Set('_');
        t.Add(u"ANY", any);
        t.Add(u"SP", sp);
        t.Add(u"CR", cr);
        t.Add(u"LF", lf);
        t.Add(u"CTL", ctl);
        t.Add(u"DIG", dig);
        t.Add(u"LAT", lat);
        t.Add(u"HEX", hex);
        t.Add(u"ID", id);
        return t;
    }();
    return table;
}

// ---------------------------------------------------------------- items

bool TSimpatItem::StopRepeat(TSimpatContext&, int) const { return false; }

bool TSimpatStr::Match(TSimpatContext& ctx) const { return ctx.Input->Take(bytes_); }

std::string TSimpatStr::Dump() const {
    std::string out = "'";
    for (unsigned char c : bytes_) {
        if (c > 32 && c < 127 && c != '\'' && c != '\\') {
            out += static_cast<char>(c);
        } else {
            out += "\\x";
            out += Hex2(c);
        }
    }
    return out + "'";
}

bool TSimpatRange::Match(TSimpatContext& ctx) const {
    TSimpatInput& in = *ctx.Input;
    if (bytes_.Eof && in.AtEnd()) return true;  // not inverted by Negated
    if (in.AtEnd()) return false;
    bool r;
    // Empty line-break bytes match nothing: a zero-width NL would let a
    // repeat spin without consuming.
    if (bytes_.NL && !ctx.NL.empty() && in.Take(ctx.NL))
        r = true;
    else if (bytes_.All) {
        in.ReadByte();
        r = true;
    } else {
        r = bytes_.Has(static_cast<uint8_t>(in.ReadByte()));
    }
    return r != bytes_.Negated;
}

int64_t TSimpatRange::MatchRun(TSimpatContext& ctx, int64_t limit) const {
    const TSimpatRangeBytes& b = bytes_;
    TSimpatInput& in = *ctx.Input;
    if (!b.NL && !b.Eof) {
        if (b.All && !b.Negated) return in.TakeWhile([](uint8_t) { return true; }, limit);
        return in.TakeWhile([&b](uint8_t c) { return (b.All || b.Has(c)) != b.Negated; }, limit);
    }
    // The repeat loop over Match and StopRepeat, without the calls.
    const bool nl = b.NL && !ctx.NL.empty();
    const int first = nl ? static_cast<uint8_t>(ctx.NL[0]) : -1;
    int64_t count = 0;
    while (count < limit) {
        if (in.AtEnd()) return b.Eof ? count + 1 : count;  // a zero-width match ends the repeat
        int64_t at = in.Pos();
        bool r;
        if (first >= 0 && in.PeekByte() == first && in.Take(ctx.NL)) {
            r = true;
        } else {
            int c = in.ReadByte();
            r = b.All || b.Has(static_cast<uint8_t>(c));
        }
        if (r == b.Negated) {
            in.SetPos(at);
            return count;
        }
        if (b.Eof && in.AtEnd()) return count + 1;
        ++count;
    }
    return count;
}

bool TSimpatRange::StopRepeat(TSimpatContext& ctx, int) const { return bytes_.Eof && ctx.Input->AtEnd(); }

std::string TSimpatItemList::Dump() const {
    std::string out;
    for (const auto& item : items_) {
        if (!out.empty()) out += ' ';
        out += item->Dump();
    }
    return out;
}

// ---------------------------------------------------------------- parsing a choice

namespace {

bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
int UpperHexValue(unsigned char c) {
    if (IsDigit(c)) return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

class TChoiceParser {
public:
    explicit TChoiceParser(std::string_view s) : s_(s), n_(s.size()) {}

    // Characters examined so far, each look at one counted.
    size_t Steps() const { return steps_; }

    std::unique_ptr<TSimpatItemList> Run() {
        auto list = std::make_unique<TSimpatItemList>();
        auto& items = list->Items();
        bool canRepeat = false;
        size_t i = 0;
        while (i < n_) {
            unsigned char c = At(i);
            size_t next = i + 1;
            bool added = false, handled = false;
            if (c >= 'A' && c <= 'Z' && (i == 0 || At(i - 1) <= 32)) {
                TSimpatRangeBytes u;
                size_t end;
                if (ReadUnion(i, end, u)) {
                    items.push_back(ClassItem(u));
                    next = end;
                    added = handled = true;
                }
            }
            if (!handled && c == '[' && i + 1 < n_ && At(i + 1) > 32) {
                TSimpatRangeBytes set;
                size_t end;
                if (ReadSet(i, end, set)) {
                    items.push_back(std::make_unique<TSimpatRange>(set));
                    next = end;
                    added = handled = true;
                }
            }
            if (!handled && c == '\\') {
                size_t end;
                int b = ReadEscape(i, end);
                if (b >= 0) {
                    items.push_back(std::make_unique<TSimpatStr>(RawByteString(1, static_cast<char>(b))));
                    next = end;
                    added = handled = true;
                }
            }
            if (!handled && canRepeat && (c == '*' || c == '+' || c == '?')) {
                std::unique_ptr<TSimpatItem> rep;
                if (c == '*')
                    rep = std::make_unique<TSimpatRepeatAny>();
                else if (c == '+')
                    rep = std::make_unique<TSimpatRepeatOneOrMore>();
                else
                    rep = std::make_unique<TSimpatRepeatOneOrNone>();
                items.insert(items.end() - 1, std::move(rep));
                handled = true;
            }
            if (!handled && c > 32) {
                // A character written in several UTF-8 bytes is one literal,
                // so a repeat marker after it repeats the whole character.
                if (c >= 0xC0)
                    while (next < n_ && (At(next) & 0xC0) == 0x80) ++next;
                items.push_back(std::make_unique<TSimpatStr>(RawByteString(s_.substr(i, next - i))));
                added = true;
            }
            unsigned char last = At(next - 1);
            canRepeat = added && last != '*' && last != '+' && last != '?';
            i = next;
        }
        JoinLiterals(items);
        return list;
    }

private:
    unsigned char At(size_t i) const {
        ++steps_;
        return static_cast<unsigned char>(s_[i]);
    }

    static std::unique_ptr<TSimpatItem> ClassItem(const TSimpatRangeBytes& u) {
        if (u.IsSingleByte()) return std::make_unique<TSimpatStr>(RawByteString(1, static_cast<char>(u.FirstByte())));
        return std::make_unique<TSimpatRange>(u);
    }

    // A union of class names joined by "_" starting at pos. On success end
    // is the index of the character that ended it.
    bool ReadUnion(size_t pos, size_t& end, TSimpatRangeBytes& out) const {
        TSimpatRangeBytes u;
        size_t j = pos;
        for (;;) {
            size_t start = j;
            while (j < n_ && IsUpperOrDigit(At(j))) ++j;
            std::string_view name = s_.substr(start, j - start);
            if (const TSimpatRangeBytes* cls = TSimpatClassTable::Standard().Find(name)) {
                u.Merge(*cls);
                if (j < n_ && At(j) == '_') {
                    ++j;
                    continue;
                }
            } else if (name == "NL") {
                u.NL = u.Eof = true;
            } else if (name == "EOLN") {
                u.NL = true;
            } else if (name == "EOF") {
                u.Eof = true;
            } else {
                return false;
            }
            end = j;
            out.Merge(u);
            return true;
        }
    }

    // A decimal (\65) or hexadecimal (\x41) escape at pos; -1 when there is
    // none. A decimal escape takes up to three digits but stops before a
    // digit that would take it past 255, so "\300" is byte 30 and a literal
    // "0" rather than a value silently wrapped into a byte.
    int ReadEscape(size_t pos, size_t& end) const {
        if (pos + 1 >= n_) return -1;
        unsigned char d = At(pos + 1);
        if (IsDigit(d)) {
            int v = 0;
            size_t j = pos + 1;
            while (j < n_ && j < pos + 4 && IsDigit(At(j)) && v * 10 + (At(j) - '0') <= 255)
                v = v * 10 + (At(j++) - '0');
            end = j;
            return v;
        }
        if (d == 'x' && pos + 3 < n_) {
            int hi = UpperHexValue(At(pos + 2)), lo = UpperHexValue(At(pos + 3));
            if (hi >= 0 && lo >= 0) {
                end = pos + 4;
                return hi * 16 + lo;
            }
        }
        return -1;
    }

    // A bracketed set at pos; on success end is just after the "]".
    bool ReadSet(size_t pos, size_t& end, TSimpatRangeBytes& out) const {
        // Where a set closes depends only on the text after its "[": the first
        // "]" not written "\]". So once a set has run off the end, every later
        // one would too, and rescanning for each would make a row of "[" cost
        // the square of its length.
        if (pos + 1 >= unclosedFrom_) return false;
        size_t j = pos + 1;
        bool negated = false;
        if (j < n_ && At(j) == '^') {
            negated = true;
            ++j;
        }
        TSimpatRangeBytes set;
        bool any = false;
        size_t unionEnd;
        if (j < n_ && ReadUnion(j, unionEnd, set)) {
            any = true;
            j = unionEnd;
        }
        int pending = -1;
        // The choice's last character is never taken: a set must close.
        while (j < n_ && At(j) != ']' && j != n_ - 1) {
            int c = At(j);
            size_t escEnd;
            if (c == '\\' && At(j + 1) == ']') {
                c = ']';
                j += 2;
            } else if (c == '\\' && (IsDigit(At(j + 1)) || At(j + 1) == 'x') && (c = ReadEscape(j, escEnd)) >= 0) {
                j = escEnd;
            } else {
                c = At(j);
                ++j;
            }
            any = true;
            if (pending >= 0) {
                set.SetRange(static_cast<uint8_t>(pending), static_cast<uint8_t>(c));
                pending = -1;
            } else {
                set.Set(static_cast<uint8_t>(c));
                if (j < n_ && At(j) == '-') {
                    pending = c;
                    ++j;
                }
            }
        }
        if (j >= n_ || At(j) != ']') {
            unclosedFrom_ = pos + 1;
            return false;
        }
        if (!any) return false;
        if (pending >= 0) set.Set('-');
        if (negated) set.Invert();
        out = set;
        end = j + 1;
        return true;
    }

    // Adjacent literals become one, but a repeat's operand stays on its own.
    static void JoinLiterals(std::vector<std::unique_ptr<TSimpatItem>>& items) {
        std::vector<std::unique_ptr<TSimpatItem>> out;
        out.reserve(items.size());
        for (auto& item : items) {
            auto* str = dynamic_cast<TSimpatStr*>(item.get());
            auto* prev = out.empty() ? nullptr : dynamic_cast<TSimpatStr*>(out.back().get());
            bool prevIsOperand = out.size() >= 2 && out[out.size() - 2]->AsRepeat();
            if (str && prev && !prevIsOperand)
                prev->Append(str->Bytes());
            else
                out.push_back(std::move(item));
        }
        items = std::move(out);
    }

    std::string_view s_;
    size_t n_;
    mutable size_t unclosedFrom_ = SIZE_MAX;  // no set starting at or after it closes
    mutable size_t steps_ = 0;
};

}  // namespace

std::unique_ptr<TSimpatItemList> ParseSimpatChoice(std::string_view choice) {
    size_t steps = 0;
    return ParseSimpatChoice(choice, steps);
}

std::unique_ptr<TSimpatItemList> ParseSimpatChoice(std::string_view choice, size_t& steps) {
    TChoiceParser parser(choice);
    std::unique_ptr<TSimpatItemList> list = parser.Run();
    steps = parser.Steps();
    return list;
}

// ---------------------------------------------------------------- cache

namespace {

struct TWideHash {
    using is_transparent = void;
    size_t operator()(std::u16string_view s) const { return std::hash<std::u16string_view>{}(s); }
};

using TItemList = std::shared_ptr<const TSimpatItemList>;
using TItemMap = std::unordered_map<WideString, TItemList, TWideHash, std::equal_to<>>;

// Shared by every thread. Each thread also remembers its last hit (its own
// copy of the text and a share of the list), so that a condition tested over
// and over skips the lock and the hashing.
struct TItemCache {
    std::mutex mutex;
    TItemMap map;
};

TItemCache& ItemCache() {
    static TItemCache cache;
    return cache;
}

struct TLastHit {
    WideString key;
    TItemList items;
};

// text is trimmed already.
TItemList CachedItems(std::u16string_view text) {
    thread_local TLastHit last;
    if (last.items && last.key == text) return last.items;
    TItemCache& cache = ItemCache();
    TItemList items;
    {
        std::lock_guard lock(cache.mutex);
        auto it = cache.map.find(text);
        if (it != cache.map.end()) items = it->second;
    }
    if (!items) {
        // Parsed outside the lock (a parse error leaves the cache as it was).
        items = ParseSimpatChoice(WideToUtf8(text));
        std::lock_guard lock(cache.mutex);
        // A process that makes pattern texts without end (generated models,
        // a fuzzer) must not grow the cache without end either.
        if (cache.map.size() >= SimpatCacheLimit) cache.map.clear();
        items = cache.map.emplace(WideString(text), std::move(items)).first->second;
    }
    last.key.assign(text);
    last.items = items;
    return items;
}

// Calls fn(choiceText, isLast) for each choice, trimmed and with "||" made
// "|"; raises ESimpatHasEmptyChoice for an empty choice before a "|".
template <class Fn>
void SplitChoices(std::u16string_view text, Fn&& fn) {
    if (text.size() > SimpatMaxLength)
        throw ESimpatTooLong(u"Simple Pattern of %d characters is longer than the %d a pattern may have.",
                             {static_cast<int64_t>(text.size()), static_cast<int64_t>(SimpatMaxLength)});
    WideString joined;  // used only when a choice holds "||"
    size_t start = 0;
    bool doubled = false;
    auto emit = [&](size_t end, bool isLast) {
        std::u16string_view raw = text.substr(start, end - start);
        if (doubled) {
            joined.clear();
            for (size_t k = 0; k < raw.size(); ++k) {
                joined += raw[k];
                if (raw[k] == u'|') ++k;  // the second of a pair
            }
            raw = joined;
        }
        std::u16string_view choice = TrimView(raw);
        if (choice.empty() && !isLast)
            throw ESimpatHasEmptyChoice(
                u"Simple Pattern \"%s\" contains empty choice(s) - only allowed when in last position.", {text});
        fn(choice, isLast);
    };
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != u'|') continue;
        if (i + 1 < text.size() && text[i + 1] == u'|') {
            doubled = true;
            ++i;
            continue;
        }
        emit(i, false);
        start = i + 1;
        doubled = false;
    }
    emit(text.size(), true);
}

// Greedy walk over one item list; the input is put back by the caller on
// failure.
bool MatchItems(const TSimpatItemList& items, TSimpatContext& ctx) {
    TSimpatInput& in = *ctx.Input;
    const size_t n = items.Count();
    for (size_t i = 0; i < n; ++i) {
        const TSimpatItem& item = items[i];
        const TSimpatRepeat* rep = item.AsRepeat();
        if (!rep) {
            int64_t at = in.Pos();
            if (!item.Match(ctx)) {
                in.SetPos(at);
                return false;
            }
            continue;
        }
        if (i + 1 >= n) break;  // a marker always precedes its operand; be safe
        const TSimpatItem& target = items[++i];
        if (int64_t max = rep->MaxCount(); max >= 0) {
            int64_t run = target.MatchRun(ctx, max);
            if (run >= 0) {
                if (!rep->IsSatisfied(static_cast<int>(std::min<int64_t>(run, INT_MAX)))) return false;
                continue;
            }
        }
        int count = 0;
        while (rep->CanTryMore(count)) {
            int64_t at = in.Pos();
            if (!target.Match(ctx)) {
                in.SetPos(at);
                if (!rep->IsSatisfied(count)) return false;
                break;
            }
            // A match that consumed nothing would match again forever.
            if (target.StopRepeat(ctx, count) || in.Pos() == at) {
                if (!rep->IsSatisfied(count + 1)) return false;
                break;
            }
            ++count;
        }
    }
    return true;
}

}  // namespace

size_t SimpatCacheSize() {
    std::lock_guard lock(ItemCache().mutex);
    return ItemCache().map.size();
}

// ---------------------------------------------------------------- choices and patterns

TLinearSimpat::TLinearSimpat(std::u16string_view text) : text_(TrimView(text)), items_(CachedItems(text_)) {}

bool TLinearSimpat::Match(TSimpatContext& ctx) const {
    int64_t start = ctx.Input->Pos();
    const TLinearSimpat* outer = ctx.Linear;
    ctx.Linear = this;
    bool ok = MatchItems(*items_, ctx);
    ctx.Linear = outer;
    if (!ok) ctx.Input->SetPos(start);
    return ok;
}

TSimpatPattern::TSimpatPattern(std::u16string_view text) : text_(text) {
    SplitChoices(
        text_, [&](std::u16string_view choice, bool) { choices_.push_back(std::make_unique<TLinearSimpat>(choice)); });
}

bool TSimpatPattern::Match(TStream& stream, std::string_view nl) const {
    TSimpatInput in(stream);
    TSimpatContext ctx{&in, nl, this, nullptr};
    int64_t start = in.Pos();
    for (const auto& choice : choices_) {
        if (choice->Match(ctx)) {
            in.Finish();
            return true;
        }
        in.SetPos(start);
    }
    in.SetPos(start);
    in.Finish();
    return false;
}

bool MatchSimplePattern(std::u16string_view pattern, TStream& stream, std::string_view nl) {
    // Same behaviour as building a TSimpatPattern, without the per-call
    // objects: the whole pattern is split (and so checked) before anything is
    // matched, then the cached lists are tried in order.
    // Shares, not addresses: another thread may drop the cache meanwhile.
    TItemList small[8];
    std::vector<TItemList> more;
    size_t count = 0;
    SplitChoices(pattern, [&](std::u16string_view choice, bool) {
        TItemList items = CachedItems(choice);
        if (count < 8)
            small[count] = std::move(items);
        else
            more.push_back(std::move(items));
        ++count;
    });
    TSimpatInput in(stream);
    TSimpatContext ctx{&in, nl, nullptr, nullptr};
    int64_t start = in.Pos();
    for (size_t k = 0; k < count; ++k) {
        if (MatchItems(k < 8 ? *small[k] : *more[k - 8], ctx)) {
            in.Finish();
            return true;
        }
        in.SetPos(start);
    }
    in.Finish();
    return false;
}

}  // namespace ts
