// Names of nodes, properties and hash entries, stored once: TTsName is one
// word that either points at a text of the process-wide pool (shared by
// every tree of every thread, never freed) or shares an owned text with the
// copies made of it (counted, freed with the last).
//
// A tree repeats a handful of names ("source", "startGlobal", ...) on every
// node; pooled, each costs a pointer instead of an allocation, and the entry
// key and the property share it. The pool is bounded: past its bound (or for
// a long name) a name is owned, so that input with endless distinct names
// cannot grow it without end. Each thread keeps its recent names, owned ones
// too, so that a name repeated after the pool filled is still made once.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_set>

#include "support/Object.h"

namespace ts {

// A set of interned texts. The shared pool serves every TTsName; a pool of
// one's own (with a smaller bound) lets a test look at the bound.
class TTsNamePool {
public:
    static constexpr size_t DefaultMaxNames = 16384;
    static constexpr size_t DefaultMaxUnits = size_t{1} << 20;  // 2 MiB of UTF-16
    // Longer names are owned: they are rarely repeated and would fill the pool.
    static constexpr size_t MaxNameLength = 128;

    explicit TTsNamePool(size_t maxNames = DefaultMaxNames, size_t maxUnits = DefaultMaxUnits)
        : maxNames_(maxNames), maxUnits_(maxUnits) {}
    TTsNamePool(const TTsNamePool&) = delete;
    TTsNamePool& operator=(const TTsNamePool&) = delete;

    // The process-wide pool: made on first use, safe for any thread, and
    // never destroyed, so that names held by static objects stay valid.
    static TTsNamePool& Shared();

    // The pooled text equal to `text`, or nil when the pool is full or the
    // text too long to pool. A pooled text lives as long as the pool.
    const WideString* Intern(std::u16string_view text);
    size_t Count() const;
    size_t Units() const;

private:
    struct Hash {
        using is_transparent = void;
        size_t operator()(std::u16string_view s) const { return std::hash<std::u16string_view>{}(s); }
    };
    struct Eq {
        using is_transparent = void;
        bool operator()(std::u16string_view a, std::u16string_view b) const { return a == b; }
    };
    mutable std::mutex mutex_;
    // Node-based: a text keeps its address while the set grows.
    std::unordered_set<WideString, Hash, Eq> texts_;
    size_t units_ = 0;
    const size_t maxNames_, maxUnits_;
};

class TTsName {
public:
    TTsName() noexcept : bits_(EmptyBits()) {}
    // Pooled in the shared pool when it has room, else owned.
    explicit TTsName(std::u16string_view text) : TTsName(text, TTsNamePool::Shared()) {}
    TTsName(std::u16string_view text, TTsNamePool& pool);
    TTsName(const TTsName& other) noexcept : bits_(other.bits_) {
        if (IsOwned()) Block()->Refs.fetch_add(1, std::memory_order_relaxed);
    }
    TTsName(TTsName&& other) noexcept : bits_(other.bits_) { other.bits_ = EmptyBits(); }
    TTsName& operator=(const TTsName& other) noexcept {
        TTsName copy(other);
        Swap(copy);
        return *this;
    }
    TTsName& operator=(TTsName&& other) noexcept {
        TTsName moved(std::move(other));
        Swap(moved);
        return *this;
    }
    ~TTsName() {
        if (IsOwned()) Release();
    }

    const WideString& Str() const { return *Ptr(); }
    std::u16string_view View() const { return *Ptr(); }
    size_t size() const { return Ptr()->size(); }
    bool empty() const { return Ptr()->empty(); }
    // Owned rather than pooled (the pool was full or the name long); its
    // copies share the text, in any thread.
    bool IsOwned() const { return (bits_ & 1u) != 0; }
    // In the shared pool, or empty: equal texts of such names are one text,
    // so two of them are equal exactly when they point at the same.
    bool IsCanonical() const { return (bits_ & 3u) == 0; }

    void Swap(TTsName& other) noexcept { std::swap(bits_, other.bits_); }
    friend bool operator==(const TTsName& a, const TTsName& b) {
        if (a.bits_ == b.bits_) return true;
        return !(a.IsCanonical() && b.IsCanonical()) && a.View() == b.View();
    }

private:
    struct TOwned {
        explicit TOwned(std::u16string_view text) : Text(text) {}
        WideString Text;
        std::atomic<uint32_t> Refs{1};
    };
    // Not a function's static: an empty name would pay its guard each time.
    static const WideString EmptyText;
    static uintptr_t EmptyBits() noexcept { return reinterpret_cast<uintptr_t>(&EmptyText); }
    // Out of line: only owned names pay for the call.
    void Release() noexcept;
    static uintptr_t Own(std::u16string_view text) { return reinterpret_cast<uintptr_t>(new TOwned(text)) | 1u; }
    TOwned* Block() const { return reinterpret_cast<TOwned*>(bits_ & ~uintptr_t{3}); }
    const WideString* Ptr() const {
        return IsOwned() ? &Block()->Text : reinterpret_cast<const WideString*>(bits_ & ~uintptr_t{3});
    }

    // A pooled text's address (with bit 1 set for a pool of one's own), or
    // an owned block's with bit 0 set.
    uintptr_t bits_;
};

}  // namespace ts
