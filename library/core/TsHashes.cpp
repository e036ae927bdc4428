// Keyed collections: entries, key index, Find/Next, listeners and events.
#include "library/core/TsHashes.h"

#include <algorithm>
#include <utility>

#include "support/Strings.h"

namespace ts {

// ---- Errors -------------------------------------------------------------

ETsHashBadKey::ETsHashBadKey(const TTsHash* hash, std::u16string_view key)
    : ETsHash(hash, u"Attempted to add bad key '%s' to %s (contains prohibited symbol $%.2X).",
              {key, hash, static_cast<int>(TsHashSeparator)}),
      Key(key) {}

ETsHashAlienFindState::ETsHashAlienFindState(const TTsHash* hash)
    : ETsHash(hash, u"%s was given Find state of another object.", {hash}) {}

ETsHashChangedBetweenFind::ETsHashChangedBetweenFind(const TTsHash* hash, int32_t firstSeq, int32_t nowSeq)
    : ETsHash(hash, u"%s has been modified between Find/Next calls (first seq %d, now %d).", {hash, firstSeq, nowSeq}) {
}

ETsHashTooManyCallbacks::ETsHashTooManyCallbacks(const TTsHash* hash, std::u16string_view event)
    : ETsHash(hash, u"Too many listeners (%d max) subscribed for '%s' event on %s.",
              {TTsCallbacks::MaxPerEvent, event, hash}) {}

ETsHashBadEventToFire::ETsHashBadEventToFire(const TTsHash* hash, std::u16string_view event, size_t argCount)
    : ETsHash(hash, u"%s.Fire cannot handle event '%s' (received %d arguments).",
              {hash, event, static_cast<int>(argCount)}) {}

// ---- TTsHash: entries ----------------------------------------------------------

TTsHash::TTsHash(bool sorted, TDuplicates duplicates) : sorted_(sorted), duplicates_(duplicates) {}

TTsHash::~TTsHash() { ClearQuietly(); }

const TTsHash::Entry& TTsHash::At(int index) const {
    if (index < 0 || index >= Count()) throw EListError(u"List index out of bounds (%d)", {index});
    return entries_[static_cast<size_t>(index)];
}

void TTsHash::CheckKey(std::u16string_view key) const {
    if (key.find(TsHashSeparator) != std::u16string_view::npos) throw ETsHashBadKey(this, key);
}

WideString TTsHash::MakeText(std::u16string_view key, std::u16string_view value) {
    WideString text;
    text.reserve(key.size() + 1 + value.size());
    text.append(key);
    text += TsHashSeparator;
    text.append(value);
    return text;
}

void TTsHash::Changed() { seq_ = static_cast<int32_t>(static_cast<uint32_t>(seq_) + 1u); }

int TTsHash::CompareStored(const Entry& e, std::u16string_view key, std::u16string_view value) {
    std::u16string_view k = e.KeyView();
    size_t n = std::min(k.size(), key.size());
    if (int r = k.substr(0, n).compare(key.substr(0, n)); r != 0) return r;
    if (k.size() == key.size()) return e.ValueView().compare(value);
    // One key is a proper prefix of the other: its separator meets a key
    // unit, which is never the separator.
    if (k.size() < key.size()) return TsHashSeparator < key[n] ? -1 : 1;
    return k[n] < TsHashSeparator ? -1 : 1;
}

int TTsHash::Add(std::u16string_view key, std::u16string_view value, std::unique_ptr<TObject> obj) {
    CheckKey(key);
    return AddChecked(TTsName(key), value, std::move(obj));
}

int TTsHash::Add(const TTsName& key, std::u16string_view value, std::unique_ptr<TObject> obj) {
    CheckKey(key.View());
    return AddChecked(key, value, std::move(obj));
}

int TTsHash::AddChecked(const TTsName& key, std::u16string_view value, std::unique_ptr<TObject> obj) {
    int index = Count();
    // Collections are mostly filled in order: a key past the last entry needs no search.
    if (sorted_ && !entries_.empty()) {
        const int last = CompareStored(entries_.back(), key.View(), value);
        if (last >= 0) {
            auto pos = std::lower_bound(entries_.begin(), entries_.end(), 0,
                                        [&](const Entry& a, int) { return CompareStored(a, key.View(), value) < 0; });
            index = static_cast<int>(pos - entries_.begin());
            if (duplicates_ == TDuplicates::Replace && CompareStored(*pos, key.View(), value) == 0) {
                SetObject(index, std::move(obj));
                return index;
            }
        }
    }
    return InsertEntry(index, Entry{key, MakeValue(value), std::move(obj)});
}

void TTsHash::Insert(int index, std::u16string_view key, std::u16string_view value, std::unique_ptr<TObject> obj) {
    CheckKey(key);
    InsertAt(index, TTsName(key), value, std::move(obj));
}

int TTsHash::InsertAt(int index, const TTsName& key, std::u16string_view value, std::unique_ptr<TObject> obj) {
    if (sorted_) throw EListError(u"Operation not allowed on sorted list");
    if (index < 0 || index > Count()) throw EListError(u"List index out of bounds (%d)", {index});
    CheckKey(key.View());
    Entry e{key, MakeValue(value), std::move(obj)};
    return InsertEntry(index, std::move(e));
}

int TTsHash::InsertEntry(int index, Entry entry) {
    bool append = index == Count();
    entries_.insert(entries_.begin() + index, std::move(entry));
    if (append)
        IndexAppend(index);
    else
        InvalidateIndex();
    Changed();
    const Entry& e = entries_[static_cast<size_t>(index)];
    TTsHashChangeInfo c(TTsHashChange::Inserted);
    c.Index1 = index;
    c.Key = e.KeyView();
    c.Value = e.ValueView();
    c.Obj = e.Obj.get();
    ListChanged(c);
    return index;
}

void TTsHash::ExtractInto(int index, std::unique_ptr<TObject>& out) {
    At(index);
    size_t i = static_cast<size_t>(index);
    if (index == Count() - 1)
        IndexDropLast(index, entries_[i].KeyView());
    else
        InvalidateIndex();
    Entry e = std::move(entries_[i]);
    entries_.erase(entries_.begin() + index);
    out = std::move(e.Obj);
    Changed();
    TTsHashChangeInfo c(TTsHashChange::Deleted);
    c.Index1 = index;
    c.Key = e.KeyView();
    c.Value = e.ValueView();
    c.Obj = out.get();
    ListChanged(c);
}

std::unique_ptr<TObject> TTsHash::Extract(int index) {
    std::unique_ptr<TObject> out;
    ExtractInto(index, out);
    return out;
}

void TTsHash::Delete(int index) {
    std::unique_ptr<TObject> doomed;
    ExtractInto(index, doomed);
}

void TTsHash::Clear() {
    if (entries_.empty()) return;
    std::vector<Entry> old;
    old.swap(entries_);
    index_.reset();
    InvalidateIndex();
    Changed();
    // Listeners hear of every entry, first to last, while the objects still live.
    for (size_t i = 0; i < old.size(); ++i) {
        TTsHashChangeInfo c(TTsHashChange::Deleted);
        c.Index1 = static_cast<int32_t>(i);
        c.Key = old[i].KeyView();
        c.Value = old[i].ValueView();
        c.Obj = old[i].Obj.get();
        ListChanged(c);
    }
}

void TTsHash::ClearQuietly() noexcept {
    try {
        Clear();
    } catch (...) {
        // A listener failing while its collection goes away cannot be reported.
    }
}

void TTsHash::ReplaceText(int index, std::u16string_view key, std::u16string_view value) {
    if (sorted_) throw EListError(u"Operation not allowed on sorted list");
    At(index);
    CheckKey(key);
    Entry& e = entries_[static_cast<size_t>(index)];
    if (e.KeyView() == key && e.ValueView() == value) return;
    bool keyChanged = e.KeyView() != key;
    // The old texts stay alive until listeners heard of the change. An
    // unchanged key keeps its name: the key index may view its text.
    std::unique_ptr<WideString> oldValueText = std::exchange(e.Value, MakeValue(value));
    TTsName oldName = keyChanged ? std::exchange(e.Key, TTsName(key)) : TTsName();
    std::u16string_view oldKey = keyChanged ? oldName.View() : e.KeyView();
    if (keyChanged) {
        if (index == Count() - 1 && indexValid_) {
            IndexDropLast(index, oldKey);
            IndexAppend(index);
        } else {
            InvalidateIndex();
        }
    }
    Changed();
    TTsHashChangeInfo c(TTsHashChange::TextReplaced);
    c.Index1 = index;
    c.Key = e.KeyView();
    c.Value = e.ValueView();
    c.OldKey = oldKey;
    c.OldValue = oldValueText ? std::u16string_view(*oldValueText) : std::u16string_view();
    c.Obj = e.Obj.get();
    c.OldObj = c.Obj;
    ListChanged(c);
}

void TTsHash::SetText(int index, std::u16string_view key, std::u16string_view value) { ReplaceText(index, key, value); }

void TTsHash::SetKey(int index, std::u16string_view key) {
    WideString k(key), value(ValueText(index));
    ReplaceText(index, k, value);
}

void TTsHash::SetValueText(int index, std::u16string_view value) {
    WideString key(Key(index)), v(value);
    ReplaceText(index, key, v);
}

void TTsHash::SetObject(int index, std::unique_ptr<TObject> obj) {
    At(index);
    Entry& e = entries_[static_cast<size_t>(index)];
    std::unique_ptr<TObject> old = std::move(e.Obj);
    e.Obj = std::move(obj);
    Changed();
    TTsHashChangeInfo c(TTsHashChange::ObjectReplaced);
    c.Index1 = index;
    c.Key = e.KeyView();
    c.Value = e.ValueView();
    c.Obj = e.Obj.get();
    c.OldObj = old.get();
    ListChanged(c);
}

// ---- TTsHash: key index ---------------------------------------------------------

void TTsHash::PrepareSharedReading() const {
    if (Count() > IndexThreshold && !indexValid_) RebuildIndex();
}

bool TTsHash::UseIndex() const {
    if (Count() <= IndexThreshold) return false;
    if (indexValid_) return true;
    if (sorted_ && ++lookupsWhileInvalid_ < RebuildAfterLookups) return false;
    RebuildIndex();
    return true;
}

void TTsHash::ChainAppend(int index) const {
    auto& e = const_cast<Entry&>(entries_[static_cast<size_t>(index)]);
    e.NextSame = -1;
    auto it = index_->find(e.KeyView());  // no key copy unless the key is new
    if (it == index_->end()) {
        e.PrevSame = -1;
        index_->emplace(e.KeyView(), Chain{index, index, 1});
        return;
    }
    Chain& ch = it->second;
    const_cast<Entry&>(entries_[static_cast<size_t>(ch.Last)]).NextSame = index;
    e.PrevSame = ch.Last;
    ch.Last = index;
    ++ch.Count;
}

void TTsHash::RebuildIndex() const {
    if (index_)
        index_->clear();
    else
        index_ = std::make_unique<TKeyIndex>();
    index_->reserve(entries_.size());
    for (int i = 0; i < Count(); ++i) ChainAppend(i);
    indexValid_ = true;
}

void TTsHash::IndexAppend(int index) const {
    if (indexValid_) ChainAppend(index);
}

void TTsHash::IndexDropLast(int index, std::u16string_view key) const {
    if (!indexValid_) return;
    auto it = index_->find(key);
    if (it == index_->end() || it->second.Last != index) {
        indexValid_ = false;  // not what we expected: rebuild rather than guess
        lookupsWhileInvalid_ = 0;
        return;
    }
    Chain& ch = it->second;
    if (ch.Count == 1) {
        index_->erase(it);
        return;
    }
    int prev = entries_[static_cast<size_t>(index)].PrevSame;
    const_cast<Entry&>(entries_[static_cast<size_t>(prev)]).NextSame = -1;
    ch.Last = prev;
    --ch.Count;
}

const TTsHash::Chain* TTsHash::FindChain(std::u16string_view key) const {
    auto it = index_->find(key);
    return it == index_->end() ? nullptr : &it->second;
}

int TTsHash::LowerBound(std::u16string_view key, char16_t c) const {
    // Compares a stored string with key + c without building the probe.
    auto below = [&](const Entry& e) {
        std::u16string_view k = e.KeyView();
        size_t n = std::min(k.size(), key.size());
        if (int r = k.substr(0, n).compare(key.substr(0, n)); r != 0) return r < 0;
        if (k.size() == key.size()) return TsHashSeparator < c;  // the separator meets c
        if (k.size() < key.size()) return TsHashSeparator < key[n];
        return k[n] < c;
    };
    size_t lo = 0, hi = entries_.size();
    while (lo < hi) {
        size_t mid = lo + (hi - lo) / 2;
        if (below(entries_[mid]))
            lo = mid + 1;
        else
            hi = mid;
    }
    return static_cast<int>(lo);
}

int TTsHash::IndexOf(std::u16string_view key) const {
    if (UseIndex()) {
        const Chain* ch = FindChain(key);
        return ch ? ch->First : -1;
    }
    // A short list is scanned, sorted or not: comparing lengths first is
    // cheaper than a binary search's ordered comparisons. The first match is
    // the first entry with the key either way.
    if (sorted_ && Count() > IndexThreshold) {
        int i = LowerBound(key, TsHashSeparator);
        return i < Count() && entries_[static_cast<size_t>(i)].KeyView() == key ? i : -1;
    }
    for (int i = 0; i < Count(); ++i)
        if (entries_[static_cast<size_t>(i)].KeyView() == key) return i;
    return -1;
}

int TTsHash::LastIndexOf(std::u16string_view key) const {
    if (UseIndex()) {
        const Chain* ch = FindChain(key);
        return ch ? ch->Last : -1;
    }
    if (sorted_) {
        int i = LowerBound(key, static_cast<char16_t>(TsHashSeparator + 1)) - 1;
        return i >= 0 && entries_[static_cast<size_t>(i)].KeyView() == key ? i : -1;
    }
    for (int i = Count() - 1; i >= 0; --i)
        if (entries_[static_cast<size_t>(i)].KeyView() == key) return i;
    return -1;
}

int TTsHash::NextIndexOf(int index) const {
    std::u16string_view key = At(index).KeyView();
    if (sorted_) {
        // Equal keys are neighbours in a sorted list.
        int n = index + 1;
        return n < Count() && entries_[static_cast<size_t>(n)].KeyView() == key ? n : -1;
    }
    if (UseIndex()) return entries_[static_cast<size_t>(index)].NextSame;
    for (int i = index + 1; i < Count(); ++i)
        if (entries_[static_cast<size_t>(i)].KeyView() == key) return i;
    return -1;
}

int TTsHash::IndexOf(const TTsName& key) const {
    if (Count() > IndexThreshold) return IndexOf(key.View());
    for (int i = 0; i < Count(); ++i)
        if (entries_[static_cast<size_t>(i)].Key == key) return i;
    return -1;
}

int TTsHash::IndexOfObject(const TObject* obj) const {
    for (int i = 0; i < Count(); ++i)
        if (entries_[static_cast<size_t>(i)].Obj.get() == obj) return i;
    return -1;
}

// ---- TTsHash: keyed operations -------------------------------------------------

bool TTsHash::Has(std::u16string_view key) const {
    if (key == u"*") return !entries_.empty();
    return IndexOf(key) >= 0;
}

int TTsHash::Count(std::u16string_view key) const {
    if (key == u"*") return Count();
    if (UseIndex()) {
        const Chain* ch = FindChain(key);
        return ch ? ch->Count : 0;
    }
    if (sorted_) {
        int first = IndexOf(key);
        return first < 0 ? 0 : LowerBound(key, static_cast<char16_t>(TsHashSeparator + 1)) - first;
    }
    int n = 0;
    for (const Entry& e : entries_)
        if (e.KeyView() == key) ++n;
    return n;
}

bool TTsHash::Remove(std::u16string_view key) {
    if (key == u"*") {
        bool had = !entries_.empty();
        Clear();
        return had;
    }
    WideString k(key);  // the caller's view may point into an entry
    bool removed = false;
    for (;;) {
        std::vector<int> found;
        for (int i = IndexOf(k); i >= 0; i = NextIndexOf(i)) found.push_back(i);
        if (found.empty()) return removed;
        bool disturbed = false;
        // From the back, so that the remaining positions stay valid.
        for (auto it = found.rbegin(); it != found.rend(); ++it) {
            int32_t before = seq_;
            Delete(*it);
            removed = true;
            if (seq_ != static_cast<int32_t>(static_cast<uint32_t>(before) + 1u)) {
                disturbed = true;  // a listener changed the hash: look again
                break;
            }
        }
        if (!disturbed) return removed;
    }
}

// ---- TTsHash: iteration ---------------------------------------------------------

void TTsHash::Find(std::u16string_view mask, TTsHashFind& state) const {
    state.Owner = this;
    state.Mask = WideString(mask);
    state.Seq = seq_;
    state.Index = mask == u"*" ? 0 : IndexOf(mask);
}

int TTsHash::Next(TTsHashFind& state) const {
    if (state.Owner != this) throw ETsHashAlienFindState(this);
    if (state.Seq != seq_) throw ETsHashChangedBetweenFind(this, state.Seq, seq_);
    if (state.Index < 0 || state.Index >= Count()) return -1;
    if (state.Mask == u"*") return state.Index++;
    int r = state.Index;
    if (!sorted_) {
        state.Index = NextIndexOf(r);
        return r;
    }
    if (entries_[static_cast<size_t>(r)].KeyView() == state.Mask) {
        ++state.Index;
        return r;
    }
    state.Index = -1;
    return -1;
}

// ---- TTsHash: dump ---------------------------------------------------------------

WideString TTsHash::ItemText(int index, std::u16string_view contPrefix) const {
    const Entry& e = At(index);
    WideString s = Format(u"#%-2d %s", {index, e.KeyView()});
    std::u16string_view value = e.ValueView();
    if (!value.empty()) {
        s += u" = ";
        s += value;
    }
    if (e.Obj) {
        if (!value.empty()) {
            s += contPrefix;
            s += u"  ";
        } else {
            s += u" = ";
        }
        s += e.Obj->ClassName();
        s += u'$';
        s += AddressText(e.Obj.get());
    }
    return s;
}

WideString TTsHash::Describe() const {
    WideString s = TTsObject::Describe() + u" (" + IntToStr(Count()) + u", #$" +
                   IntToHex(static_cast<uint64_t>(TsHashSeparator), 2) + u")";
    for (int i = 0; i < Count(); ++i) s += u"\r\n  " + ItemText(i, u"\r\n  ");
    return s;
}

// ---- TTsCallbacks ----------------------------------------------------------------

void TTsCallbacks::Subscribe(std::u16string_view event, TTsCallbackId id, TTsCallback method,
                             std::u16string_view valueText) {
    WideString ev(event), value(valueText);
    Unsubscribe(ev, id);
    Add(ev, value, std::make_unique<TCallbackWrapper>(id, std::move(method)));
}

bool TTsCallbacks::Unsubscribe(std::u16string_view event, TTsCallbackId id) {
    auto matches = [&](int i) { return static_cast<const TCallbackWrapper*>(Object(i))->Id == id; };
    if (event == u"*") {
        bool removed = false;
        for (int i = Count() - 1; i >= 0; --i) {
            if (i >= Count()) continue;  // a listener of ours shrank the list
            if (matches(i)) {
                Delete(i);
                removed = true;
            }
        }
        return removed;
    }
    for (int i = IndexOf(event); i >= 0; i = NextIndexOf(i))
        if (matches(i)) {
            Delete(i);
            return true;
        }
    return false;
}

int TTsCallbacks::Collect(std::u16string_view event, TTsCallbackList& out) const {
    out.clear();
    int n = Count(event);
    if (n > MaxPerEvent) throw ETsHashTooManyCallbacks(this, event);
    out.reserve(static_cast<size_t>(n));
    for (int i = IndexOf(event); i >= 0; i = NextIndexOf(i))
        out.push_back(static_cast<const TCallbackWrapper*>(Object(i))->Method);
    return static_cast<int>(out.size());
}

bool TTsCallbacks::Notify(std::u16string_view event, TObject& sender, TTsArgs args, TTsValue& result) const {
    if (Count() == 0) return false;
    TTsCallbackList list;
    if (Collect(event, list) == 0) return false;
    for (const auto& cb : list)
        if ((*cb)(sender, args, result)) break;
    return true;
}

// ---- TTsNotifyingHash --------------------------------------------------------------

TTsNotifyingHash::TTsNotifyingHash(bool sorted, TDuplicates duplicates) : TTsHash(sorted, duplicates) {}

TTsNotifyingHash::~TTsNotifyingHash() {
    // Entries go while the listeners can still hear of them.
    ClearQuietly();
}

void TTsNotifyingHash::Fire(std::u16string_view event, TTsArgs args, TTsValue& result) {
    TTsCallbackList list;
    if (!HasListeners() || listeners_->Collect(event, list) == 0) {
        result.Clear();
        return;
    }
    DoFire(event, list, result, args);
}

void TTsNotifyingHash::DoFire(std::u16string_view event, const TTsCallbackList& listeners, TTsValue& result,
                              TTsArgs args) {
    static constexpr std::u16string_view known[] = {u"ord", u"ad", u"rm", u"skey", u"sval", u"sobj"};
    if (std::find(std::begin(known), std::end(known), event) == std::end(known))
        throw ETsHashBadEventToFire(this, event, args.size());
    for (const auto& cb : listeners)
        if ((*cb)(*this, args, result)) break;
}

void TTsNotifyingHash::ListChanged(const TTsHashChangeInfo& c) {
    if (!HasListeners()) return;  // the common case costs nothing
    TTsValue result;
    switch (c.Code) {
        case TTsHashChange::Order: {
            TTsArg args[] = {c.Index1, c.Index2};
            Fire(u"ord", args, result);
            break;
        }
        case TTsHashChange::Inserted: {
            TTsArg args[] = {WideString(c.Key), c.Index1, false};
            Fire(u"ad", args, result);
            break;
        }
        case TTsHashChange::Deleted: {
            TTsArg args[] = {WideString(c.Key), c.Index1, true};
            Fire(u"rm", args, result);
            break;
        }
        case TTsHashChange::TextReplaced: {
            // Copies first: a listener may change the entry the views point into.
            WideString key(c.Key), oldKey(c.OldKey), value(c.Value), oldValue(c.OldValue);
            if (key != oldKey) {
                TTsArg args[] = {oldKey, c.Index1, key};
                Fire(u"skey", args, result);
            }
            if (value != oldValue) {
                TTsArg args[] = {key, c.Index1, value, oldValue};
                Fire(u"sval", args, result);
            }
            break;
        }
        case TTsHashChange::ObjectReplaced: {
            TTsArg args[] = {WideString(c.Key), c.Index1, c.Obj, c.OldObj};
            Fire(u"sobj", args, result);
            break;
        }
    }
}

WideString TTsNotifyingHash::Describe() const { return TTsHash::Describe() + u"\r\n\r\n" + Listeners().Describe(); }

// ---- TTsThinHash ---------------------------------------------------------------------

bool TTsThinHash::ThinFind(std::u16string_view key, WideString* value, TObject** obj) {
    int i = IndexOf(key);
    if (i >= 0) {
        if (value) *value = WideString(ValueText(i));
        if (obj) *obj = Object(i);
        return true;
    }
    TTsValue result;
    if (HasListeners()) {
        TTsArg args[] = {WideString(key)};
        Fire(u"thn", args, result);
    }
    bool found = false;
    if (value) value->clear();
    if (obj) *obj = nullptr;
    if (result.Has(vkString)) {
        if (value) *value = result.Str;
        found = true;
    }
    if (result.Has(vkObject)) {
        if (obj) *obj = result.Obj;
        found = true;
    }
    return found;
}

void TTsThinHash::DoFire(std::u16string_view event, const TTsCallbackList& listeners, TTsValue& result, TTsArgs args) {
    if (event != u"thn") {
        TTsNotifyingHash::DoFire(event, listeners, result, args);
        return;
    }
    result.Clear();
    // The first listener that supplies something ends the firing.
    for (const auto& cb : listeners) {
        bool stop = (*cb)(*this, args, result);
        if (stop || !result.IsNull()) break;
    }
}

}  // namespace ts
