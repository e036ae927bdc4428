// Simpat: the simple-pattern language of the "%" condition. A pattern is a
// list of choices separated by "|"; a choice is a list of items (literals,
// character classes and the repeat markers * + ?) matched greedily over a
// byte stream, never giving back what a repeat took.
//
// Exposes MatchSimplePattern (the one call the condition layer needs),
// TSimpatPattern and TLinearSimpat, the item classes, TSimpatRangeBytes and
// the class table, and the ESimpat error family.
//
// Pattern text is wide; it is parsed as the bytes of its UTF-8 form (the
// system code page here), so ASCII patterns mean what they say and escapes
// give any byte. A non-ASCII character outside a set is one literal (its
// bytes); inside a set it stands for each of its bytes. Each distinct choice
// text is parsed once into an item list kept in a bounded process-wide cache
// that every thread shares.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "support/Exception.h"
#include "support/Object.h"
#include "support/Streams.h"

namespace ts {

class TLinearSimpat;
class TSimpatPattern;
class TSimpatInput;

// ---------------------------------------------------------------- errors

TS_SIMPLE_EXCEPTION(ESimpat, Exception)
TS_SIMPLE_EXCEPTION(ESimpatHasEmptyChoice, ESimpat)
TS_SIMPLE_EXCEPTION(ESimpatTooLong, ESimpat)

// The longest pattern text, in characters: far beyond any written by hand,
// it keeps the cache and the parse of generated patterns in bounds.
inline constexpr size_t SimpatMaxLength = 65536;

// Class-table errors keep the choice whose table raised them (may be none).
class ESimpatClassError : public ESimpat {
public:
    ESimpatClassError(const TLinearSimpat* choice, std::u16string_view format, FormatArgs args)
        : ESimpat(format, args), choice_(choice) {}
    const TLinearSimpat* Choice() const { return choice_; }
    TS_EXCEPTION(ESimpatClassError)
private:
    const TLinearSimpat* choice_;
};
TS_SIMPLE_EXCEPTION(ESimpatBadCharClass, ESimpatClassError)
TS_SIMPLE_EXCEPTION(ESimpatEmptyCharClass, ESimpatClassError)

// ---------------------------------------------------------------- classes

// A character class: a set of bytes plus the line-break and end-of-input
// flags.
class TSimpatRangeBytes {
public:
    void Set(uint8_t b, bool on = true);
    // Only when lo < hi: a one-byte or reversed range sets nothing.
    void SetRange(uint8_t lo, uint8_t hi);
    void FillAll();
    void Invert() { Negated = !Negated; }
    // ORs bytes and the NL, EOF and All flags; Negated is not merged.
    void Merge(const TSimpatRangeBytes& other);
    bool Has(uint8_t b) const { return (bits_[b >> 6] >> (b & 63)) & 1u; }
    bool IsNonEmpty() const;
    bool IsSingleByte() const;
    // Lowest set byte, or -1.
    int FirstByte() const;
    // "[^ 30-39 41 NL EOF]"-style text for dumps.
    std::string Dump() const;

    bool Negated = false;
    bool NL = false;   // also matches the context's line-break bytes
    bool Eof = false;  // also matches the end of input, consuming nothing
    bool All = false;  // every byte matches

private:
    std::array<uint64_t, 4> bits_{};
};

// Named classes, names upper-cased.
class TSimpatClassTable {
public:
    // Raises ESimpatBadCharClass for names other than A-Z / 0-9 and
    // ESimpatEmptyCharClass for a class that matches nothing; both name
    // owner as the choice concerned.
    void Add(std::u16string_view name, const TSimpatRangeBytes& bytes, const TLinearSimpat* owner = nullptr);
    const TSimpatRangeBytes* Find(std::string_view upperName) const;
    size_t Count() const { return map_.size(); }

    // ANY SP CR LF CTL DIG LAT HEX ID; built once, never changed.
    static const TSimpatClassTable& Standard();

private:
    std::unordered_map<std::string, TSimpatRangeBytes> map_;
};

// ---------------------------------------------------------------- items

// What an item sees while matching.
struct TSimpatContext {
    TSimpatInput* Input = nullptr;
    std::string_view NL;  // line-break bytes of NL and EOLN
    const TSimpatPattern* Pattern = nullptr;
    const TLinearSimpat* Linear = nullptr;
};

class TSimpatItem : public TObject {
    TS_CLASS(TSimpatItem)
public:
    // On success the input stands after what was consumed; on failure the
    // caller puts it back.
    virtual bool Match(TSimpatContext& ctx) const = 0;
    virtual bool StopRepeat(TSimpatContext& ctx, int count) const;
    virtual std::string Dump() const = 0;
    // The repeat loop in one go, for at most limit matches: returns the count
    // the repeat's IsSatisfied is asked about (one more than the matches
    // when a zero-width match ended the run), or -1 when the item leaves it
    // to the general loop.
    virtual int64_t MatchRun(TSimpatContext&, int64_t) const { return -1; }
    // The repeat marker behind this item, if it is one (spares a dynamic_cast
    // per step of the match loop).
    virtual const class TSimpatRepeat* AsRepeat() const { return nullptr; }
};

class TSimpatStr : public TSimpatItem {
    TS_CLASS(TSimpatStr)
public:
    explicit TSimpatStr(RawByteString bytes) : bytes_(std::move(bytes)) {}
    bool Match(TSimpatContext& ctx) const override;
    std::string Dump() const override;
    const RawByteString& Bytes() const { return bytes_; }
    void Append(std::string_view more) { bytes_ += more; }

private:
    RawByteString bytes_;
};

class TSimpatRange : public TSimpatItem {
    TS_CLASS(TSimpatRange)
public:
    explicit TSimpatRange(const TSimpatRangeBytes& bytes) : bytes_(bytes) {}
    bool Match(TSimpatContext& ctx) const override;
    // True when the class matches end of input and the input is there: a
    // repeat must not go round again without consuming.
    bool StopRepeat(TSimpatContext& ctx, int count) const override;
    int64_t MatchRun(TSimpatContext& ctx, int64_t limit) const override;
    std::string Dump() const override { return bytes_.Dump(); }
    const TSimpatRangeBytes& Bytes() const { return bytes_; }

private:
    TSimpatRangeBytes bytes_;
};

// A marker placed before the item it repeats; never matched itself.
class TSimpatRepeat : public TSimpatItem {
    TS_CLASS(TSimpatRepeat)
public:
    bool Match(TSimpatContext&) const override { return false; }
    const TSimpatRepeat* AsRepeat() const override { return this; }
    virtual bool CanTryMore(int) const { return true; }
    virtual bool IsSatisfied(int count) const = 0;
    // Most matches CanTryMore allows, when that is a plain bound (-1: not).
    virtual int64_t MaxCount() const { return -1; }
};

class TSimpatRepeatAny : public TSimpatRepeat {
    TS_CLASS(TSimpatRepeatAny)
public:
    bool IsSatisfied(int) const override { return true; }
    int64_t MaxCount() const override { return INT64_MAX; }
    std::string Dump() const override { return "*"; }
};

class TSimpatRepeatOneOrMore : public TSimpatRepeat {
    TS_CLASS(TSimpatRepeatOneOrMore)
public:
    bool IsSatisfied(int count) const override { return count >= 1; }
    int64_t MaxCount() const override { return INT64_MAX; }
    std::string Dump() const override { return "+"; }
};

class TSimpatRepeatOneOrNone : public TSimpatRepeat {
    TS_CLASS(TSimpatRepeatOneOrNone)
public:
    bool CanTryMore(int count) const override { return count == 0; }
    bool IsSatisfied(int) const override { return true; }
    int64_t MaxCount() const override { return 1; }
    std::string Dump() const override { return "?"; }
};

// A parsed choice, shared through the cache and never changed after parsing.
class TSimpatItemList {
public:
    void Add(std::unique_ptr<TSimpatItem> item) { items_.push_back(std::move(item)); }
    size_t Count() const { return items_.size(); }
    const TSimpatItem& operator[](size_t i) const { return *items_[i]; }
    // Items separated by blanks, e.g. "* 'a' 'b'".
    std::string Dump() const;

    std::vector<std::unique_ptr<TSimpatItem>>& Items() { return items_; }

private:
    std::vector<std::unique_ptr<TSimpatItem>> items_;
};

// Parses one choice text (already trimmed, "||" already made "|").
std::unique_ptr<TSimpatItemList> ParseSimpatChoice(std::string_view choice);
// The same, and steps is set to the characters the parser examined (each
// look counted): a measure of the parse's work that does not depend on the
// machine.
std::unique_ptr<TSimpatItemList> ParseSimpatChoice(std::string_view choice, size_t& steps);

// ---------------------------------------------------------------- choices and patterns

// One alternative of a pattern. The item list comes from the process-wide
// cache; an empty choice has no items and matches at once.
class TLinearSimpat : public TObject {
    TS_CLASS(TLinearSimpat)
public:
    // text is the choice's text (trimmed here).
    explicit TLinearSimpat(std::u16string_view text);
    const WideString& Text() const { return text_; }
    const TSimpatItemList& Items() const { return *items_; }
    bool IsEmpty() const { return items_->Count() == 0; }
    // Matches at the input's position; on failure the input is put back.
    bool Match(TSimpatContext& ctx) const;

private:
    WideString text_;
    std::shared_ptr<const TSimpatItemList> items_;  // shared with the cache, which may drop it
};

class TSimpatPattern : public TObject {
    TS_CLASS(TSimpatPattern)
public:
    // Splits at "|" ("||" is a literal "|"); raises ESimpatHasEmptyChoice for
    // an empty choice other than the last.
    explicit TSimpatPattern(std::u16string_view text);

    // Line-break bytes for NL and EOLN; LF by default.
    void SetNL(RawByteString nl) { nl_ = std::move(nl); }
    const RawByteString& NL() const { return nl_; }
    const WideString& Text() const { return text_; }
    size_t ChoiceCount() const { return choices_.size(); }
    const TLinearSimpat& Choice(size_t i) const { return *choices_[i]; }

    // First matching choice wins and the stream stays after its match;
    // otherwise the stream is back at its start and the result is false.
    bool Match(TStream& stream) const { return Match(stream, nl_); }
    // The same with these line-break bytes, for one pattern shared by
    // callers whose line breaks differ.
    bool Match(TStream& stream, std::string_view nl) const;

private:
    WideString text_;
    RawByteString nl_ = "\n";
    std::vector<std::unique_ptr<TLinearSimpat>> choices_;
};

// Matches pattern once at stream's position with nl as the line break. On
// success the stream stands after the match; on failure it is where it was.
// Compilation errors raise; a mismatch never does.
bool MatchSimplePattern(std::u16string_view pattern, TStream& stream, std::string_view nl);

// Number of cached choice texts. The cache keeps at most SimpatCacheLimit;
// when a new one would pass that, it starts afresh (lists in use stay alive
// with their users).
size_t SimpatCacheSize();
inline constexpr size_t SimpatCacheLimit = 4096;

// ---------------------------------------------------------------- input

// The matcher's view of a stream. Memory streams are read in place; other
// streams are read ahead in growing blocks, so that a file costs a system
// call per block rather than per byte. The stream's position is brought up
// to date by Finish (MatchSimplePattern and TSimpatPattern::Match call it).
class TSimpatInput {
public:
    explicit TSimpatInput(TStream& stream);
    int64_t Pos() const { return pos_; }
    void SetPos(int64_t p) { pos_ = p; }
    bool AtEnd() const { return pos_ >= size_; }
    int PeekByte() {
        int b = ReadByte();
        if (b >= 0) SetPos(pos_ - 1);
        return b;
    }
    // Next byte, or -1 at the end.
    int ReadByte() {
        if (pos_ >= size_) return -1;
        if (mem_) return mem_[pos_++];
        return ReadByteSlow();
    }
    // Consumes up to limit bytes while in(byte) holds; returns how many.
    template <class Pred>
    int64_t TakeWhile(Pred in, int64_t limit) {
        int64_t start = pos_;
        if (mem_) {
            int64_t end = size_ - pos_ < limit ? size_ : pos_ + limit;
            while (pos_ < end && in(mem_[pos_])) ++pos_;
        } else {
            while (pos_ - start < limit) {
                int b = ReadByte();
                if (b < 0) break;
                if (!in(static_cast<uint8_t>(b))) {
                    SetPos(pos_ - 1);
                    break;
                }
            }
        }
        return pos_ - start;
    }
    // Consumes bytes when they follow; otherwise nothing moves.
    bool Take(std::string_view bytes);
    void Finish();

private:
    int ReadByteSlow();

    TStream& stream_;
    const unsigned char* mem_ = nullptr;
    int64_t pos_ = 0;
    int64_t size_ = 0;
    // Read-ahead of other streams: the bytes at [bufStart_, bufStart_ + bufLen_).
    std::string buf_;
    int64_t bufStart_ = 0;
    int64_t bufLen_ = 0;
};

}  // namespace ts
