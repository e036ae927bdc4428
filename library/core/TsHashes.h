// Keyed collections of the library: TTsHash (an ordered multimap of
// key -> (value text, owned object) with a modification counter and a guarded
// Find/Next iteration), TTsCallbacks (the listener registry), TTsNotifyingHash
// (turns every change of its entries into events for its listeners) and
// TTsThinHash (missing keys may be supplied by "thn" listeners), with the
// ETsHash error family.
//
// Lookup by key is hashed. Appending, and removing or renaming the last entry,
// keep the key index up to date; other positional changes drop it and it is
// rebuilt on the next lookup. Small collections are simply scanned.
//
// Listener identity: a subscription is identified by a TTsCallbackId (an owner
// pointer plus a tag chosen by the subscriber). Subscribing twice to one event
// with the same id leaves one subscription; Unsubscribe removes by id.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "library/core/TsBase.h"
#include "library/core/TsNames.h"

namespace ts {

class TTsHash;

// Separates the key from the value text in an entry's stored string; a key
// may therefore not contain it.
inline constexpr char16_t TsHashSeparator = u'\x01';

// ---- Errors -------------------------------------------------------------

class ETsHash : public ETessarine {
public:
    ETsHash(const TTsHash* hash, std::u16string_view format, FormatArgs args) : ETessarine(format, args), Hash(hash) {}
    const TTsHash* Hash;  // borrowed
    TS_EXCEPTION(ETsHash)
};

class ETsHashBadKey : public ETsHash {
public:
    ETsHashBadKey(const TTsHash* hash, std::u16string_view key);
    WideString Key;
    TS_EXCEPTION(ETsHashBadKey)
};

class ETsHashAlienFindState : public ETsHash {
public:
    explicit ETsHashAlienFindState(const TTsHash* hash);
    TS_EXCEPTION(ETsHashAlienFindState)
};

class ETsHashChangedBetweenFind : public ETsHash {
public:
    ETsHashChangedBetweenFind(const TTsHash* hash, int32_t firstSeq, int32_t nowSeq);
    TS_EXCEPTION(ETsHashChangedBetweenFind)
};

class ETsHashTooManyCallbacks : public ETsHash {
public:
    ETsHashTooManyCallbacks(const TTsHash* hash, std::u16string_view event);
    TS_EXCEPTION(ETsHashTooManyCallbacks)
};

class ETsHashBadEventToFire : public ETsHash {
public:
    ETsHashBadEventToFire(const TTsHash* hash, std::u16string_view event, size_t argCount);
    TS_EXCEPTION(ETsHashBadEventToFire)
};

// ---- Find state ----------------------------------------------------------

struct TTsHashFind {
    const TTsHash* Owner = nullptr;
    WideString Mask;     // a key, or "*" for all entries
    int32_t Index = -1;  // the next candidate
    int32_t Seq = 0;     // the owner's Seq when the iteration began
};

// ---- Change notification -----------------------------------------------------

enum class TTsHashChange : int {
    Order = 0,           // Index1, Index2 (-1, -1: the whole list)
    Inserted = 1,        // Index1
    Deleted = 2,         // Index1: the position the entry had; Obj still alive
    TextReplaced = 3,    // Index1; Key/OldKey, Value/OldValue
    ObjectReplaced = 4,  // Index1; Obj/OldObj (OldObj freed after the notification)
};

struct TTsHashChangeInfo {
    explicit TTsHashChangeInfo(TTsHashChange code) : Code(code) {}
    TTsHashChange Code;
    int32_t Index1 = -1;
    int32_t Index2 = -1;
    std::u16string_view Key, OldKey;
    std::u16string_view Value, OldValue;
    TObject* Obj = nullptr;
    TObject* OldObj = nullptr;
};

// ---- TTsHash ----------------------------------------------------------------

class TTsHash : public TTsObject {
    TS_CLASS(TTsHash)
public:
    // What a sorted list does with an entry whose stored string is present.
    enum class TDuplicates : uint8_t { Accept, Replace };

    TTsHash() : TTsHash(false, TDuplicates::Accept) {}
    ~TTsHash() override;

    // Builds the key index now (when the collection is large enough to use
    // one), so that later lookups only read: a collection that several
    // threads look into at once must be prepared so after its last change.
    void PrepareSharedReading() const;

    // Checks the key; appends, or inserts in sorted order (before equal
    // entries). Returns the entry's index (for a replaced duplicate, its index).
    int Add(std::u16string_view key, std::u16string_view value, std::unique_ptr<TObject> obj);
    // The same with a name made already: a pooled one is shared, not copied.
    int Add(const TTsName& key, std::u16string_view value, std::unique_ptr<TObject> obj);
    // Unsorted lists only (EListError otherwise).
    void Insert(int index, std::u16string_view key, std::u16string_view value, std::unique_ptr<TObject> obj);
    void Delete(int index);  // frees the entry's object
    std::unique_ptr<TObject> Extract(int index);
    void Clear();
    // Room for this many entries, so that a collection of known size is
    // filled without regrowing.
    void Reserve(int count) {
        if (count > 0) entries_.reserve(static_cast<size_t>(count));
    }

    bool Has(std::u16string_view key) const;   // "*": not empty
    bool Remove(std::u16string_view key);      // "*": clears
    int Count(std::u16string_view key) const;  // "*": all
    int Count() const { return static_cast<int>(entries_.size()); }

    void Find(std::u16string_view mask, TTsHashFind& state) const;
    int Next(TTsHashFind& state) const;

    // Entry access (EListError for an index out of range).
    std::u16string_view Key(int index) const { return At(index).KeyView(); }
    std::u16string_view ValueText(int index) const { return At(index).ValueView(); }
    // Key + separator + value: what a sorted list orders by.
    WideString Stored(int index) const { return MakeText(Key(index), ValueText(index)); }
    TObject* Object(int index) const { return At(index).Obj.get(); }

    int IndexOf(std::u16string_view key) const;  // first entry with the key, or -1
    // The same for a name made already: pooled names compare by identity.
    int IndexOf(const TTsName& key) const;
    int LastIndexOf(std::u16string_view key) const;  // last entry with the key, or -1
    int NextIndexOf(int index) const;                // next later entry with the same key, or -1
    int IndexOfObject(const TObject* obj) const;

    // Unsorted lists only. The position of the entry does not change.
    void SetKey(int index, std::u16string_view key);
    void SetValueText(int index, std::u16string_view value);
    void SetText(int index, std::u16string_view key, std::u16string_view value);
    // Replaces the entry's object; the old one is freed after listeners heard
    // of it. obj is the only owner of a new object: handing back the entry's
    // own object would need a second owner, which a unique_ptr cannot be.
    void SetObject(int index, std::unique_ptr<TObject> obj);

    bool Sorted() const { return sorted_; }
    int32_t Seq() const { return seq_; }

    WideString Describe() const override;
    virtual WideString ItemText(int index, std::u16string_view contPrefix) const;

protected:
    TTsHash(bool sorted, TDuplicates duplicates);
    virtual void Changed();  // increments Seq
    virtual void ListChanged(const TTsHashChangeInfo& /*change*/) {}
    // Lets a derived destructor clear the entries while its own ListChanged
    // still applies; never throws.
    void ClearQuietly() noexcept;
    // ETsHashBadKey for a key holding the separator.
    void CheckKey(std::u16string_view key) const;
    // Removes the entry and hands its object to `out` before listeners hear
    // of it, so the object survives a listener that throws.
    void ExtractInto(int index, std::unique_ptr<TObject>& out);
    // Add for a key CheckKey has passed.
    int AddChecked(const TTsName& key, std::u16string_view value, std::unique_ptr<TObject> obj);
    // Inserts a checked key at a position; for unsorted lists.
    int InsertAt(int index, const TTsName& key, std::u16string_view value, std::unique_ptr<TObject> obj);

private:
    // Ordered as key + separator + value would be, without that text being
    // made: the key is usually pooled and the value text usually empty.
    struct Entry {
        TTsName Key;
        std::unique_ptr<WideString> Value;  // nil for an empty value text
        std::unique_ptr<TObject> Obj;
        int32_t PrevSame = -1, NextSame = -1;  // key chain, valid with the index
        std::u16string_view KeyView() const { return Key.View(); }
        std::u16string_view ValueView() const { return Value ? std::u16string_view(*Value) : std::u16string_view(); }
    };
    struct Chain {
        int32_t First = -1, Last = -1, Count = 0;
    };
    struct KeyHash {
        using is_transparent = void;
        size_t operator()(std::u16string_view s) const { return std::hash<std::u16string_view>{}(s); }
    };
    struct KeyEq {
        using is_transparent = void;
        bool operator()(std::u16string_view a, std::u16string_view b) const { return a == b; }
    };
    // Below this size a scan beats hashing and nothing needs maintaining.
    static constexpr int IndexThreshold = 8;
    // A sorted list answers by binary search while its index is stale and
    // rebuilds it only once lookups outnumber changes, so that alternating
    // inserts and lookups (subscribing) do not rebuild every time.
    static constexpr int RebuildAfterLookups = 8;

    const Entry& At(int index) const;
    static WideString MakeText(std::u16string_view key, std::u16string_view value);
    static std::unique_ptr<WideString> MakeValue(std::u16string_view value) {
        return value.empty() ? nullptr : std::make_unique<WideString>(value);
    }
    // <0, 0, >0 as key + separator + value compares with the entry's.
    static int CompareStored(const Entry& e, std::u16string_view key, std::u16string_view value);
    int InsertEntry(int index, Entry entry);
    void ReplaceText(int index, std::u16string_view key, std::u16string_view value);

    bool UseIndex() const;
    void RebuildIndex() const;
    void ChainAppend(int index) const;
    void IndexAppend(int index) const;
    void IndexDropLast(int index, std::u16string_view key) const;
    void InvalidateIndex() {
        indexValid_ = false;
        lookupsWhileInvalid_ = 0;
    }
    const Chain* FindChain(std::u16string_view key) const;
    // Sorted lists: the first entry whose stored string is not below key + c.
    int LowerBound(std::u16string_view key, char16_t c) const;

    std::vector<Entry> entries_;
    // Made when the collection first grows past IndexThreshold: most stay small.
    // Its keys view the names of the entries, whose texts never move; it is
    // cleared or rebuilt before a removed entry's key could be read.
    using TKeyIndex = std::unordered_map<std::u16string_view, Chain, KeyHash, KeyEq>;
    mutable std::unique_ptr<TKeyIndex> index_;
    // The small fields together: every node holds two hashes.
    int32_t seq_ = 0;
    mutable int32_t lookupsWhileInvalid_ = 0;
    bool sorted_;
    TDuplicates duplicates_;
    mutable bool indexValid_ = false;
};

// ---- Listeners ------------------------------------------------------------------

// A listener: (sender, arguments, result) -> true stops the remaining listeners.
using TTsCallback = std::function<bool(TObject& sender, TTsArgs args, TTsValue& result)>;

// Identity of a subscription: whoever subscribes picks an owner pointer
// (usually itself) and a tag that tells its subscriptions apart.
struct TTsCallbackId {
    const void* Owner = nullptr;
    std::uintptr_t Tag = 0;
    friend bool operator==(const TTsCallbackId&, const TTsCallbackId&) = default;
};

class TCallbackWrapper : public TObject {
    TS_CLASS(TCallbackWrapper)
public:
    TCallbackWrapper(TTsCallbackId id, TTsCallback method)
        : Id(id), Method(std::make_shared<const TTsCallback>(std::move(method))) {}
    TTsCallbackId Id;
    // Shared so that a firing in progress survives an Unsubscribe by a listener.
    std::shared_ptr<const TTsCallback> Method;
};

using TTsCallbackList = std::vector<std::shared_ptr<const TTsCallback>>;

class TTsCallbacks : public TTsHash {
    TS_CLASS(TTsCallbacks)
public:
    static constexpr int MaxPerEvent = 2048;

    TTsCallbacks() : TTsHash(true, TDuplicates::Accept) {}

    // Entries of one event are ordered by value text, the newest first among
    // equal texts. An earlier subscription with the same id to the event goes.
    void Subscribe(std::u16string_view event, TTsCallbackId id, TTsCallback method, std::u16string_view valueText = {});
    // "*": every subscription with this id, of any event.
    bool Unsubscribe(std::u16string_view event, TTsCallbackId id);
    // The event's listeners in entry order; ETsHashTooManyCallbacks beyond 2048.
    int Collect(std::u16string_view event, TTsCallbackList& out) const;
    // Collects and calls the event's listeners in order until one answers true.
    // Returns false when the event has no listener.
    bool Notify(std::u16string_view event, TObject& sender, TTsArgs args, TTsValue& result) const;
};

// ---- Notifying hashes --------------------------------------------------------------

class TTsNotifyingHash : public TTsHash {
    TS_CLASS(TTsNotifyingHash)
public:
    TTsNotifyingHash() : TTsNotifyingHash(false, TDuplicates::Accept) {}
    ~TTsNotifyingHash() override;

    // Owned; mutable through a const collection because listening does not
    // change the entries. Made on first use: most collections never have one.
    TTsCallbacks& Listeners() const {
        if (!listeners_) listeners_ = std::make_unique<TTsCallbacks>();
        return *listeners_;
    }
    bool HasListeners() const { return listeners_ && listeners_->Count() > 0; }

    // No listener for the event: the result is cleared and nothing happens.
    virtual void Fire(std::u16string_view event, TTsArgs args, TTsValue& result);

    WideString Describe() const override;

protected:
    TTsNotifyingHash(bool sorted, TDuplicates duplicates);
    void ListChanged(const TTsHashChangeInfo& change) override;
    // Calls the listeners for one of the change events; ETsHashBadEventToFire
    // for an event it does not know.
    virtual void DoFire(std::u16string_view event, const TTsCallbackList& listeners, TTsValue& result, TTsArgs args);

private:
    mutable std::unique_ptr<TTsCallbacks> listeners_;
};

class TTsThinHash : public TTsNotifyingHash {
    TS_CLASS(TTsThinHash)
public:
    TTsThinHash() : TTsNotifyingHash(false, TDuplicates::Accept) {}

    // A stored entry, or else whatever a "thn" listener supplies: a string
    // result becomes the value text, an object result the object.
    bool ThinFind(std::u16string_view key, WideString* value, TObject** obj);

protected:
    TTsThinHash(bool sorted, TDuplicates duplicates) : TTsNotifyingHash(sorted, duplicates) {}
    void DoFire(std::u16string_view event, const TTsCallbackList& listeners, TTsValue& result, TTsArgs args) override;
};

}  // namespace ts
