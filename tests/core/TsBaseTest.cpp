#include <gtest/gtest.h>

#include "library/core/TsBase.h"
#include "library/core/TsNodes.h"

using namespace ts;

TEST(TsValue, DumpShowsEachPresentKindInOrder) {
    TTsValue v = TTsValue::FromInt(12);
    v.Str = u"a.tsn";
    v.Kinds |= vkString;
    EXPECT_EQ(v.DumpText(), u" s5 a.tsn i12");
    EXPECT_EQ(TTsValue().DumpText(), u" NULL");
    EXPECT_EQ(TTsValue().DumpText(false), u"NULL");

    TTsValue all = TTsValue::FromStr(u"0123456789abc");
    all.SetRaw(std::string("\x01\xab\x00\x10\x11\x12\x13\x14\x15\x16\x17", 11));
    all.Bool = true;
    all.Float = 2.5;
    all.Kinds |= vkBool | vkFloat;
    EXPECT_EQ(all.DumpText(false), u"s13 0123456789 r11 01 AB 00 10 11 12 13 14 15 16 bTRUE f2.5");

    TTsValue empty = TTsValue::FromStr(u"");
    EXPECT_EQ(empty.DumpText(), u" s0");
    TTsValue nil = TTsValue::FromObj(nullptr);
    EXPECT_EQ(nil.DumpText(), u" o???$00000000");
}

TEST(TsVersions, ParseAndText) {
    EXPECT_EQ(TTsVersions::Parse(u"0.79"), 79);
    EXPECT_EQ(TTsVersions::Parse(u"1.5"), TTsVersions::Make(1, 50));
    EXPECT_EQ(TTsVersions::Parse(u"1.05"), TTsVersions::Make(1, 5));
    EXPECT_EQ(TTsVersions::Parse(u"2"), TTsVersions::Make(2, 0));
    EXPECT_EQ(TTsVersions::Parse(u"1.300"), TTsVersions::Make(1, 255));
    EXPECT_THROW(TTsVersions::Parse(u"x"), ETsBadVersionString);
    EXPECT_THROW(TTsVersions::Parse(u"1.x"), ETsBadVersionString);
    try {
        TTsVersions::Parse(u"x");
    } catch (const ETsBadVersionString& e) {
        EXPECT_EQ(e.Message(), u"Cannot parse version string 'x' - must be of form '1.23' or '123'.");
    }
    EXPECT_EQ(TTsVersions::ToText(TTsVersions::Parse(u"1.5")), u"1.5");
    EXPECT_EQ(TTsVersions::ToText(TTsVersions::Make(1, 0)), u"1.0");
    EXPECT_EQ(TTsVersions::ToText(TTsVersions::Make(1, 5)), u"1.05");
    EXPECT_EQ(TTsVersions::ToText(79), u"0.79");
}

TEST(TsVersions, ListLimitsSatisfactionAndText) {
    TTsVersions list;
    EXPECT_TRUE(list.Satisfies(0));
    EXPECT_EQ(list.ToText(), u"");
    list.Add(voGreaterEq, TTsVersions::Parse(u"0.7"));
    list.Add(voLess, TTsVersions::Parse(u"1.0"));
    EXPECT_EQ(list.ToText(), u"[>= 0.7 < 1.0]");
    EXPECT_TRUE(list.SatisfiesLibrary());
    EXPECT_FALSE(list.Satisfies(TTsVersions::Make(1, 0)));

    TTsVersions full;
    for (int i = 0; i < 256; ++i) full.Add(voGreater, 0);
    try {
        full.Add(voGreater, 0);
        FAIL();
    } catch (const ETessarine& e) {
        EXPECT_EQ(e.Message(), u"TTsVersions has reached maximum number of versions (256).");
    }

    TTsVersions bad;
    bad.Add(9, TTsVersions::Make(1, 0));
    try {
        bad.Satisfies(79);
        FAIL();
    } catch (const ETessarine& e) {
        EXPECT_EQ(e.Message(), u"Invalid TTsVersions operator 9 to compare 0.79 and 1.0.");
        EXPECT_EQ(e.ClassName(), u"ETessarine");
    }
}

TEST(TsErrors, TranslateAndCreatedHooks) {
    WideString seen;
    ErrorTranslateHook() = [](const WideString& f) {
        return f == u"Expected a variant of type %d, %d given." ? WideString(u"Typ %d erwartet, %d bekommen.") : f;
    };
    ErrorCreatedHook() = [&](ETessarine& e) { seen = e.Message(); };
    ETsInvalidVarType e(1, 15);
    EXPECT_EQ(e.FormatString(), u"Expected a variant of type %d, %d given.");
    EXPECT_EQ(e.LocalizedFormat(), u"Typ %d erwartet, %d bekommen.");
    EXPECT_EQ(e.Message(), u"Typ 1 erwartet, 15 bekommen.");
    EXPECT_EQ(seen, e.Message());
    ErrorTranslateHook() = &TErrorLangWrapper::Identity;
    ErrorCreatedHook() = nullptr;
}

TEST(TsArgs, TypedAccessorsRejectOtherTypes) {
    TTsArg s(WideString(u"x"));
    EXPECT_EQ(s.AsStr(), u"x");
    try {
        (void)s.AsInt();
        FAIL();
    } catch (const ETsInvalidVarType& e) {
        EXPECT_EQ(e.Message(), u"Expected a variant of type 0, 15 given.");
    }
    EXPECT_TRUE(TTsArg(true).AsBool());
    EXPECT_EQ(TTsArg(2.5).AsFloat(), 2.5);
    EXPECT_THROW((void)TTsArg(int32_t{2}).AsFloat(), ETsInvalidVarType);
    EXPECT_EQ(TTsArg(nullptr).AsObj(), nullptr);
}

namespace {
class TProbe : public TTsObject {
    TS_CLASS(TProbe)
public:
    explicit TProbe(int* destroyed) : destroyed_(destroyed) {}
    ~TProbe() override { ++*destroyed_; }

private:
    int* destroyed_;
};
}  // namespace

TEST(TsObject, DescribeOwnedAndHandleError) {
    int destroyed = 0;
    {
        TTsObject owner;
        WideString d = owner.Describe();
        EXPECT_EQ(d.rfind(u"<TTsObject $", 0), 0u);
        EXPECT_EQ(d.size(), WideString(u"<TTsObject $12345678>").size());
        owner.AddOwned(std::make_unique<TProbe>(&destroyed));
        EXPECT_EQ(owner.Owned().size(), 1u);
    }
    EXPECT_EQ(destroyed, 1);

    TTsObject obj;
    EXPECT_THROW(obj.HandleError(std::make_unique<ETsBadVersionString>(u"q")), ETsBadVersionString);
    WideString got;
    obj.OnError = [&](TTsObject& sender, Exception& e) {
        EXPECT_EQ(&sender, &obj);
        got = e.Message();
    };
    obj.HandleError(std::make_unique<ETsBadVersionString>(u"q"));
    EXPECT_NE(got.find(u"'q'"), WideString::npos);

    // Handler slots copy from each other, also from a non-const one: an
    // empty slot stays empty (wrapped, it would look set and call nothing).
    TTsErrorHandler empty, copy;
    copy = empty;
    EXPECT_FALSE(copy);
    TTsErrorHandler& set = obj.OnError;
    copy = set;
    ASSERT_TRUE(copy);
    got.clear();
    ETsBadVersionString error(u"r");
    copy(obj, error);
    EXPECT_NE(got.find(u"'r'"), WideString::npos);
}

TEST(TsClassList, DuplicatesAndLookups) {
    static const TClassInfo a{u"TA"}, b{u"TB"};
    TTsClassList list;
    EXPECT_EQ(list.Add(u"END", &a), 0);
    EXPECT_EQ(list.Add(u"FAIL", &b), 1);
    EXPECT_EQ(list.Add(u"WARN", &b), 2);
    EXPECT_EQ(list.ClassOf(u"WARN"), &b);
    EXPECT_EQ(list.ClassOf(u"end"), nullptr);  // case-sensitive
    EXPECT_EQ(list.NameOf(&b, u"?"), u"FAIL");
    EXPECT_EQ(list.NameOf(nullptr, u"?"), u"?");
    try {
        list.Add(u"END", &b);
        FAIL();
    } catch (const ETsClassListDuplicate& e) {
        EXPECT_EQ(e.Message(), u"Attempted to add duplicate TTsClassList item 'END' for class TB.");
    }
}

TEST(TsValue, RawBytesCopyAndMoveWithTheValue) {
    TTsValue plain = TTsValue::FromStr(u"text");
    EXPECT_TRUE(plain.Raw().empty());
    TTsValue plainCopy = plain;
    EXPECT_TRUE(plainCopy.Raw().empty());
    EXPECT_EQ(plainCopy.Str, u"text");

    TTsValue raw = TTsValue::FromRaw(std::string("\x00\xff", 2));
    EXPECT_EQ(raw.Kinds, vkRaw);
    TTsValue copy = raw;
    EXPECT_EQ(copy.Raw(), std::string("\x00\xff", 2));
    EXPECT_NE(copy.Raw().data(), raw.Raw().data());  // its own bytes
    copy.SetRaw("other");
    EXPECT_EQ(raw.Raw(), std::string("\x00\xff", 2));

    plainCopy = copy;
    EXPECT_EQ(plainCopy.Raw(), "other");
    EXPECT_EQ(plainCopy.Kinds, vkRaw);
    TTsValue moved = std::move(copy);
    EXPECT_EQ(moved.Raw(), "other");
    moved = plain;
    EXPECT_TRUE(moved.Raw().empty());
    EXPECT_EQ(moved.Kinds, vkString);

    // Empty bytes are still a raw value.
    TTsValue none = TTsValue::FromRaw("");
    EXPECT_TRUE(none.Has(vkRaw));
    EXPECT_EQ(none.DumpText(), u" r0");
    raw.Clear();
    EXPECT_TRUE(raw.IsNull());
    EXPECT_TRUE(raw.Raw().empty());

    // A property's value keeps its bytes through replace and lookup.
    TTsProperties props;
    props.SetValue(u"bytes", TTsValue::FromRaw("ab"));
    props.SetValue(u"bytes", TTsValue::FromRaw("cd"));
    EXPECT_EQ(props.Get(u"bytes").Value.Raw(), "cd");
    EXPECT_EQ(props.Count(), 1);
}
