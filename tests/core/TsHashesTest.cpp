// Keyed collections: key checks, guarded iteration, the key index against a
// plain scan, listener order and limits, change events and "thn".
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "library/core/TsHashes.h"
#include "support/Strings.h"
#include "tests/TestSupport.h"

using namespace ts;
using namespace ts::test;

namespace {

class TSortedHash : public TTsHash {
    TS_CLASS(TSortedHash)
public:
    TSortedHash() : TTsHash(true, TDuplicates::Accept) {}
};

class TThing : public TObject {
    TS_CLASS(TThing)
public:
    explicit TThing(int* freed = nullptr) : freed_(freed) {}
    ~TThing() override {
        if (freed_) ++*freed_;
    }

private:
    int* freed_;
};

WideString ArgText(const TTsArg& a) {
    switch (a.Type()) {
        case vtInteger:
            return IntToStr(a.AsInt());
        case vtBoolean:
            return a.AsBool() ? u"T" : u"F";
        case vtWideString:
            return a.AsStr();
        case vtObject:
            return a.AsObj() ? WideString(a.AsObj()->ClassName()) : u"nil";
        default:
            return u"?";
    }
}

// Records "event(arg,arg,...)" for every event a hash fires.
void Record(TTsNotifyingHash& h, std::vector<WideString>& log, std::initializer_list<const char16_t*> events) {
    for (const char16_t* ev : events) {
        WideString name = ev;
        h.Listeners().Subscribe(ev, {&log, 0}, [&log, name](TObject&, TTsArgs args, TTsValue&) {
            WideString s = name + u"(";
            for (size_t i = 0; i < args.size(); ++i) s += (i ? u"," : u"") + ArgText(args[i]);
            log.push_back(s + u")");
            return false;
        });
    }
}

}  // namespace

TEST(TsHash, KeysCountsRemovalAndDump) {
    TTsHash h;
    EXPECT_EQ(MessageOf<ETsHashBadKey>([&] {
                  h.Add(
                      u"a\x01"
                      u"b",
                      u"", nullptr);
              }),
              u"Attempted to add bad key 'a\x01"
              u"b' to TTsHash (contains prohibited symbol $01).");
    EXPECT_THROW(h.Insert(0, u"\x01", u"", nullptr), ETsHashBadKey);
    EXPECT_EQ(h.Count(), 0);
    EXPECT_EQ(h.Seq(), 0);  // a rejected key changes nothing

    int freed = 0;
    h.Add(u"x=y", u"v", nullptr);
    h.Add(u"k", u"", std::make_unique<TThing>(&freed));
    h.Add(u"k", u"2", std::make_unique<TThing>(&freed));
    EXPECT_TRUE(h.Has(u"x=y"));
    EXPECT_EQ(h.Count(u"k"), 2);
    EXPECT_EQ(h.Count(u"*"), 3);
    EXPECT_FALSE(h.Has(u"K"));  // case-sensitive

    WideString d = h.Describe();
    WideString addr = AddressText(h.Object(1));
    EXPECT_EQ(d.substr(d.find(u'>') + 1), u" (3, #$01)\r\n  #0  x=y = v\r\n  #1  k = TThing$" + addr +
                                              u"\r\n  #2  k = 2\r\n    TThing$" + AddressText(h.Object(2)));

    EXPECT_TRUE(h.Remove(u"k"));
    EXPECT_EQ(freed, 2);
    EXPECT_FALSE(h.Remove(u"k"));
    EXPECT_TRUE(h.Remove(u"*"));
    EXPECT_FALSE(h.Has(u"*"));

    auto owned = std::make_unique<TThing>(&freed);
    TThing* raw = owned.get();
    h.Add(u"e", u"", std::move(owned));
    std::unique_ptr<TObject> back = h.Extract(0);
    EXPECT_EQ(back.get(), raw);
    EXPECT_EQ(freed, 2);
    EXPECT_THROW(h.Delete(0), EListError);
}

TEST(TsHash, FindNextVisitsInOrderAndIsGuarded) {
    TTsHash h;
    for (const char16_t* k : {u"a", u"b", u"a"}) h.Add(k, u"", nullptr);
    TTsHashFind st;
    std::vector<int> seen;
    h.Find(u"*", st);
    for (int i; (i = h.Next(st)) >= 0;) seen.push_back(i);
    EXPECT_EQ(seen, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(h.Next(st), -1);  // stays ended

    seen.clear();
    h.Find(u"a", st);
    for (int i; (i = h.Next(st)) >= 0;) seen.push_back(i);
    EXPECT_EQ(seen, (std::vector<int>{0, 2}));
    h.Find(u"zz", st);
    EXPECT_EQ(h.Next(st), -1);

    h.Find(u"*", st);
    EXPECT_EQ(h.Next(st), 0);
    int32_t before = h.Seq();
    h.Add(u"c", u"", nullptr);
    EXPECT_EQ(
        MessageOf<ETsHashChangedBetweenFind>([&] { h.Next(st); }),
        Format(u"TTsHash has been modified between Find/Next calls (first seq %d, now %d).", {before, before + 1}));

    TTsHash other;
    other.Find(u"*", st);
    EXPECT_EQ(MessageOf<ETsHashAlienFindState>([&] { h.Next(st); }),
              u"TTsHash was given Find state of another object.");

    // Sorted lists keep equal keys together and stop at the first other key.
    TSortedHash s;
    for (const char16_t* k : {u"m", u"b", u"m", u"a"}) s.Add(k, u"", nullptr);
    EXPECT_EQ(s.Key(0), u"a");
    s.Find(u"m", st);
    EXPECT_EQ(s.Next(st), 2);
    EXPECT_EQ(s.Next(st), 3);
    EXPECT_EQ(s.Next(st), -1);
    EXPECT_THROW(s.Insert(0, u"z", u"", nullptr), EListError);
}

// The key index is maintained incrementally on appends and rebuilt after
// other changes; every answer must agree with a plain scan.
TEST(TsHash, KeyIndexAgreesWithScanUnderRandomChanges) {
    std::mt19937 rng(7);
    auto check = [](const TTsHash& h, std::u16string_view key) {
        std::vector<int> want;
        for (int i = 0; i < h.Count(); ++i)
            if (h.Key(i) == key) want.push_back(i);
        std::vector<int> got;
        for (int i = h.IndexOf(key); i >= 0; i = h.NextIndexOf(i)) got.push_back(i);
        ASSERT_EQ(got, want) << "key " << std::string(key.begin(), key.end());
        EXPECT_EQ(h.Count(key), static_cast<int>(want.size()));
        EXPECT_EQ(h.LastIndexOf(key), want.empty() ? -1 : want.back());
    };
    TTsHash plain;
    TSortedHash sorted;
    for (int step = 0; step < 2000; ++step) {
        WideString key = u"k" + IntToStr(static_cast<int>(rng() % 40));
        int op = static_cast<int>(rng() % 10);
        for (TTsHash* h : {static_cast<TTsHash*>(&plain), static_cast<TTsHash*>(&sorted)}) {
            int n = h->Count();
            if (op < 5 || n == 0) {
                h->Add(key, IntToStr(step), nullptr);
            } else if (op == 5 && !h->Sorted()) {
                h->Insert(static_cast<int>(rng() % static_cast<unsigned>(n + 1)), key, u"", nullptr);
            } else if (op == 6) {
                h->Delete(n - 1);
            } else if (op == 7) {
                h->Delete(static_cast<int>(rng() % static_cast<unsigned>(n)));
            } else if (op == 8 && !h->Sorted()) {
                h->SetKey(rng() % 2 ? n - 1 : static_cast<int>(rng() % static_cast<unsigned>(n)), key);
            }
            check(*h, key);
            check(*h, u"k" + IntToStr(static_cast<int>(rng() % 40)));
        }
    }
}

TEST(TsHash, SortedOrderIsThatOfKeySeparatorValue) {
    // Keys that are prefixes of each other, units below and above the
    // separator, and values that tell equal keys apart, added in every order
    // a shuffle gives: the entries must be in the order of their stored strings.
    const WideString zero(1, u'\0');
    const std::vector<std::pair<WideString, WideString>> items = {
        {u"a", u""},
        {u"a", u"b"},
        {u"ab", u""},
        {u"a" + zero, u""},
        {u"a\x02", u""},
        {u"a\x02", u"\x02"},
        {u"", u""},
        {u"", u"v"},
        {u"b", u"a"},
        {u"b", u""},
        {u"abc", u"z"},
        {u"ab", u"\x01"},
        {u"\xffff", u""},
        {u"a", u"b"},
        {u"startGlobal", u""},
        {u"start", u""},
        {u"startGlobalX", u""},
        {u"a" + zero, u"a"},
        {u"ab", u"a"},
        {u"b\x02", u""},
    };
    std::mt19937 rng(11);
    for (int round = 0; round < 20; ++round) {
        std::vector<size_t> order(items.size());
        for (size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::shuffle(order.begin(), order.end(), rng);
        TSortedHash h;
        std::vector<WideString> stored;
        for (size_t i : order) {
            h.Add(items[i].first, items[i].second, nullptr);
            stored.push_back(items[i].first + TsHashSeparator + items[i].second);
        }
        std::sort(stored.begin(), stored.end());
        ASSERT_EQ(h.Count(), static_cast<int>(stored.size()));
        for (int i = 0; i < h.Count(); ++i) ASSERT_EQ(h.Stored(i), stored[static_cast<size_t>(i)]) << i;
        // Lookups agree with a scan, scanned or hashed, before and after the index.
        for (int pass = 0; pass < 2; ++pass) {
            for (const auto& [key, value] : items) {
                std::vector<int> want;
                for (int i = 0; i < h.Count(); ++i)
                    if (h.Key(i) == key) want.push_back(i);
                ASSERT_EQ(h.IndexOf(key), want.front());
                ASSERT_EQ(h.LastIndexOf(key), want.back());
                ASSERT_EQ(h.Count(key), static_cast<int>(want.size()));
            }
            EXPECT_EQ(h.IndexOf(u"a\x01"), -1);
            EXPECT_EQ(h.Count(u"zz"), 0);
            h.PrepareSharedReading();
        }
    }
}

// Equal entries: a new one goes before them, whether or not it would
// otherwise be appended.
TEST(TsHash, SortedAddPutsAnEqualEntryFirst) {
    TSortedHash h;
    auto a = std::make_unique<TObject>(), b = std::make_unique<TObject>(), c = std::make_unique<TObject>();
    TObject *pa = a.get(), *pb = b.get(), *pc = c.get();
    h.Add(u"k", {}, std::move(a));
    h.Add(u"k", {}, std::move(b));
    h.Add(u"j", {}, std::move(c));
    ASSERT_EQ(h.Count(), 3);
    EXPECT_EQ(h.Object(0), pc);
    EXPECT_EQ(h.Object(1), pb);
    EXPECT_EQ(h.Object(2), pa);
}

TEST(TsHash, HashedLookupsSurviveChangesOfEntriesWithOwnedNames) {
    // Names too long to pool are owned by their entries, and the key index
    // views them: changing an entry's value, key or place must never leave
    // the index viewing a freed name.
    auto longKey = [](int i) { return WideString(TTsNamePool::MaxNameLength + 5, u'k') + IntToStr(i); };
    TTsHash h;
    for (int i = 0; i < 30; ++i) h.Add(longKey(i % 10), u"", nullptr);
    ASSERT_EQ(h.IndexOf(longKey(3)), 3);  // builds the index
    h.SetValueText(3, u"value");          // the chain's first entry, key unchanged
    h.SetValueText(29, u"last");          // the last entry, key unchanged
    EXPECT_EQ(h.IndexOf(longKey(3)), 3);
    EXPECT_EQ(h.Count(longKey(9)), 3);
    h.SetKey(29, longKey(3));  // the last entry renamed: the index follows it
    EXPECT_EQ(h.Count(longKey(3)), 4);
    EXPECT_EQ(h.Count(longKey(9)), 2);
    EXPECT_EQ(h.LastIndexOf(longKey(3)), 29);
    h.SetKey(0, u"short");  // renamed elsewhere: rebuilt on the next lookup
    EXPECT_EQ(h.IndexOf(longKey(0)), 10);
    EXPECT_EQ(h.IndexOf(u"short"), 0);
    h.Delete(29);
    h.Delete(10);
    EXPECT_EQ(h.IndexOf(longKey(0)), 19);
    EXPECT_EQ(h.Count(longKey(3)), 3);
    EXPECT_EQ(h.ValueText(h.IndexOf(longKey(3))), u"value");
}

TEST(TsHash, LargeFanOutLooksUpWhileAppending) {
    // Quadratic lookups would not finish here; hashed ones take a blink.
    TTsHash h;
    const int n = 100000;
    for (int i = 0; i < n; ++i) {
        WideString key = u"n" + IntToStr(i % 50000);
        h.Add(key, u"", nullptr);
        ASSERT_EQ(h.LastIndexOf(key), i);
        ASSERT_EQ(h.IndexOf(key), i % 50000);
    }
    EXPECT_EQ(h.Count(u"n49999"), 2);
    EXPECT_EQ(h.NextIndexOf(7), 50007);
}

TEST(TsCallbacks, OrderIdentityAndLimits) {
    TTsNotifyingHash h;
    std::vector<int> calls;
    auto listener = [&](int tag, bool stop) {
        return [&calls, tag, stop](TObject&, TTsArgs, TTsValue&) {
            calls.push_back(tag);
            return stop;
        };
    };
    TTsCallbacks& l = h.Listeners();
    l.Subscribe(u"ad", {&calls, 1}, listener(1, false), u"b");
    l.Subscribe(u"ad", {&calls, 2}, listener(2, false), u"a");
    l.Subscribe(u"ad", {&calls, 3}, listener(3, false), u"b");
    l.Subscribe(u"ad", {&calls, 2}, listener(2, false), u"a");  // replaces, one left
    EXPECT_EQ(l.Count(u"ad"), 3);
    h.Add(u"x", u"", nullptr);
    EXPECT_EQ(calls, (std::vector<int>{2, 3, 1}));  // by value text, newest first among equals

    calls.clear();
    l.Subscribe(u"ad", {&calls, 4}, listener(4, true), u"a");
    h.Add(u"y", u"", nullptr);
    EXPECT_EQ(calls, (std::vector<int>{4}));  // true stops the rest

    EXPECT_TRUE(l.Unsubscribe(u"ad", {&calls, 4}));
    EXPECT_FALSE(l.Unsubscribe(u"ad", {&calls, 4}));
    EXPECT_FALSE(l.Unsubscribe(u"ad", {&calls, 99}));
    l.Subscribe(u"rm", {&calls, 1}, listener(1, false));
    EXPECT_TRUE(l.Unsubscribe(u"*", {&calls, 1}));
    EXPECT_EQ(l.Count(u"ad"), 2);
    EXPECT_EQ(l.Count(u"rm"), 0);

    // A listener may unsubscribe itself and others while the event is firing:
    // this round still calls everyone collected, safely.
    TTsNotifyingHash self;
    int rounds = 0;
    for (uintptr_t tag = 0; tag < 3; ++tag)
        self.Listeners().Subscribe(u"rm", {&self, tag}, [&self, &rounds](TObject&, TTsArgs, TTsValue&) {
            ++rounds;
            self.Listeners().Unsubscribe(u"*", {&self, 0});
            self.Listeners().Unsubscribe(u"*", {&self, 1});
            self.Listeners().Unsubscribe(u"*", {&self, 2});
            return false;
        });
    self.Add(u"a", u"", nullptr);
    self.Delete(0);
    EXPECT_EQ(rounds, 3);
    EXPECT_EQ(self.Listeners().Count(), 0);

    // Exactly 2048 listeners fire; one more does not.
    TTsNotifyingHash big;
    int fired = 0;
    for (int i = 0; i < TTsCallbacks::MaxPerEvent; ++i)
        big.Listeners().Subscribe(u"ad", {&fired, static_cast<uintptr_t>(i)}, [&fired](TObject&, TTsArgs, TTsValue&) {
            ++fired;
            return false;
        });
    big.Add(u"a", u"", nullptr);
    EXPECT_EQ(fired, 2048);
    big.Listeners().Subscribe(u"ad", {&fired, 5000}, [](TObject&, TTsArgs, TTsValue&) { return false; });
    EXPECT_EQ(MessageOf<ETsHashTooManyCallbacks>([&] { big.Add(u"b", u"", nullptr); }),
              u"Too many listeners (2048 max) subscribed for 'ad' event on TTsCallbacks.");
}

TEST(TsNotifyingHash, ChangeEventsCarryTheirArguments) {
    TTsNotifyingHash h;
    std::vector<WideString> log;
    Record(h, log, {u"ad", u"rm", u"skey", u"sval", u"sobj"});
    h.Add(u"a", u"1", nullptr);
    h.Add(u"b", u"", nullptr);
    h.SetValueText(0, u"2");
    h.SetKey(0, u"c");
    h.SetKey(1, u"d");       // the same value: only the key event
    h.SetValueText(1, u"");  // unchanged: nothing
    EXPECT_EQ(log,
              (std::vector<WideString>{u"ad(a,0,F)", u"ad(b,1,F)", u"sval(a,0,2,1)", u"skey(a,0,c)", u"skey(b,1,d)"}));
    log.clear();
    h.Insert(1, u"e", u"v", nullptr);
    h.SetText(1, u"e2", u"w");  // both parts: the key event first
    h.SetText(1, u"e", u"v");
    EXPECT_EQ(log, (std::vector<WideString>{u"ad(e,1,F)", u"skey(e,1,e2)", u"sval(e2,1,w,v)", u"skey(e2,1,e)",
                                            u"sval(e,1,v,w)"}));
    log.clear();
    h.SetObject(1, std::make_unique<TThing>());
    h.SetObject(1, std::make_unique<TThing>());
    EXPECT_EQ(log, (std::vector<WideString>{u"sobj(e,1,TThing,nil)", u"sobj(e,1,TThing,TThing)"}));
    log.clear();
    h.Delete(1);
    h.Clear();
    EXPECT_EQ(log, (std::vector<WideString>{u"rm(e,1,T)", u"rm(c,0,T)", u"rm(d,1,T)"}));

    TTsValue result = TTsValue::FromInt(5);
    TTsArg one[] = {1};
    h.Fire(u"nobody", one, result);  // no listener: result cleared, no error
    EXPECT_TRUE(result.IsNull());
    h.Listeners().Subscribe(u"odd", {&log, 1}, [](TObject&, TTsArgs, TTsValue&) { return false; });
    EXPECT_EQ(MessageOf<ETsHashBadEventToFire>([&] { h.Fire(u"odd", one, result); }),
              u"TTsNotifyingHash.Fire cannot handle event 'odd' (received 1 arguments).");
}

TEST(TsNotifyingHash, ListenerChangesInvalidateIterationAndDestructionIsHeard) {
    std::vector<WideString> log;
    {
        TTsNotifyingHash h;
        h.Add(u"a", u"", nullptr);
        h.Add(u"b", u"", nullptr);
        TTsHashFind st;
        h.Find(u"*", st);
        h.Next(st);
        h.Listeners().Subscribe(u"sval", {&h, 0}, [&h](TObject&, TTsArgs, TTsValue&) {
            if (h.Count() < 3) h.Add(u"late", u"", nullptr);
            return false;
        });
        int32_t seq = st.Seq;
        h.SetValueText(0, u"x");
        EXPECT_EQ(h.Seq(), seq + 2);  // our change and the listener's
        EXPECT_THROW(h.Next(st), ETsHashChangedBetweenFind);
        Record(h, log, {u"rm"});
    }
    EXPECT_EQ(log, (std::vector<WideString>{u"rm(a,0,T)", u"rm(b,1,T)", u"rm(late,2,T)"}));
}

TEST(TsThinHash, ListenersSupplyMissingKeys) {
    TTsThinHash h;
    TThing supplied;
    h.Add(u"stored", u"sv", nullptr);
    int asked = 0;
    h.Listeners().Subscribe(u"thn", {&h, 1}, [&](TObject& sender, TTsArgs args, TTsValue& result) {
        EXPECT_EQ(&sender, &h);
        ++asked;
        if (args[0].AsStr() == u"txt") result = TTsValue::FromStr(u"from listener");
        return false;
    });
    h.Listeners().Subscribe(
        u"thn", {&h, 2},
        [&](TObject&, TTsArgs args, TTsValue& result) {
            ++asked;
            if (args[0].AsStr() == u"obj") result = TTsValue::FromObj(&supplied);
            return false;
        },
        u"z");  // sorts after the first
    WideString v;
    TObject* o = nullptr;
    EXPECT_TRUE(h.ThinFind(u"stored", &v, &o));
    EXPECT_EQ(v, u"sv");
    EXPECT_EQ(asked, 0);
    EXPECT_TRUE(h.ThinFind(u"txt", &v, &o));
    EXPECT_EQ(v, u"from listener");
    EXPECT_EQ(o, nullptr);
    EXPECT_EQ(asked, 1);  // the first non-NULL result ended the firing
    EXPECT_TRUE(h.ThinFind(u"obj", &v, &o));
    EXPECT_EQ(o, &supplied);
    EXPECT_EQ(v, u"");
    EXPECT_FALSE(h.ThinFind(u"none", &v, &o));
    EXPECT_EQ(h.Count(), 1);  // nothing supplied is stored
}
