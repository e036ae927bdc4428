// The name pool and the names that point into it.
#include "library/core/TsNames.h"

#include <array>

namespace ts {

TTsNamePool& TTsNamePool::Shared() {
    // Never destroyed: names in static objects may outlive any destructor order.
    static TTsNamePool* const pool = new TTsNamePool();
    return *pool;
}

const WideString* TTsNamePool::Intern(std::u16string_view text) {
    if (text.size() > MaxNameLength) return nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    if (auto it = texts_.find(text); it != texts_.end()) return &*it;
    if (texts_.size() >= maxNames_ || units_ + text.size() > maxUnits_) return nullptr;
    units_ += text.size();
    return &*texts_.emplace(text).first;
}

size_t TTsNamePool::Count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return texts_.size();
}

size_t TTsNamePool::Units() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return units_;
}

// A constant where the compiler can make it one (GCC does; clang 14 cannot
// with this standard library): no first-use guard on every empty name.
const WideString TTsName::EmptyText;

void TTsName::Release() noexcept {
    if (Block()->Refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete Block();
}

namespace {

// The shared pool's recent answers, per thread, and the owned names made
// since it filled: a tree asks for the same few names over and over, and
// this spares those the pool's lock and, once it is full, an allocation
// each. A slot holds a copy, so what it holds never dangles.
struct TNameCache {
    static constexpr size_t Slots = 256;
    std::array<TTsName, Slots> Names;
};

size_t CacheSlot(std::u16string_view text) {
    // Length and the first, middle and last units tell the usual names apart.
    size_t h = text.size() * 31u;
    h ^= (static_cast<size_t>(text.front()) << 3) ^ (static_cast<size_t>(text.back()) * 7u);
    if (text.size() > 2) h += static_cast<size_t>(text[text.size() / 2]) * 13u;
    return h % TNameCache::Slots;
}

}  // namespace

TTsName::TTsName(std::u16string_view text, TTsNamePool& pool) {
    if (text.empty()) {
        bits_ = EmptyBits();
        return;
    }
    if (&pool != &TTsNamePool::Shared()) {
        const WideString* pooled = pool.Intern(text);
        bits_ = pooled ? reinterpret_cast<uintptr_t>(pooled) | 2u : Own(text);
        return;
    }
    thread_local TNameCache cache;
    TTsName& slot = cache.Names[CacheSlot(text)];
    if (slot.View() != text) {
        const WideString* pooled = pool.Intern(text);
        // The slot's old name goes with `old`; the slot, left empty, takes the new one.
        const TTsName old(std::move(slot));
        slot.bits_ = pooled ? reinterpret_cast<uintptr_t>(pooled) : Own(text);
    }
    bits_ = slot.bits_;
    if (IsOwned()) Block()->Refs.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace ts
