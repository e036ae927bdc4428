// Tests of the RPN evaluator: tokenising, the cache, evaluation, errors and
// value comparison.
#include <gtest/gtest.h>

#include "library/expressions/rpn/RPNit.h"
#include "support/Strings.h"
#include "tests/TestSupport.h"

using namespace ts;
using namespace ts::test;

namespace {

TRpnScalar Eval(std::u16string_view text) {
    auto list = RpnCompile(text);
    TRpnEvaluator ev(*list);
    TRpnScalar r;
    ev.Evaluate(r);
    EXPECT_TRUE(ev.Stack().IsEmpty());
    return r;
}

double Num(std::u16string_view text) {
    TRpnScalar r = Eval(text);
    EXPECT_EQ(r.Kinds, RpnKind(valNum)) << WideToUtf8(text);
    return r.Num;
}

// Items of a compiled list as "c:5 c:-3 v:x o:Add".
std::string Shape(const TCompiledRPN& list) {
    std::string out;
    for (size_t i = 0; i < list.Count(); ++i) {
        if (!out.empty()) out += ' ';
        const TRpnItem& item = list[i];
        if (auto* c = dynamic_cast<const TRpnConst*>(&item))
            out += "c:" + WideToUtf8(RpnValueToText(c->Value()));
        else if (auto* v = dynamic_cast<const TRpnVariable*>(&item))
            out += "v:" + WideToUtf8(v->Name());
        else if (auto* o = dynamic_cast<const TRpnOperator*>(&item))
            out += "o:" + WideToUtf8(o->ShortName());
    }
    return out;
}

std::string ShapeOf(std::u16string_view text, TRpnCompileSettings s = {}) {
    s.UseCache = false;
    return Shape(*RpnCompile(text, s));
}

}  // namespace

TEST(RpnEval, DefaultOperators) {
    EXPECT_EQ(Num(u"1 2 +"), 3);
    EXPECT_EQ(Num(u"7 2 -"), 5);
    EXPECT_EQ(Num(u"7 2 /"), 3.5);
    EXPECT_EQ(Num(u"2 3 ^"), 8);
    EXPECT_EQ(Num(u"6 7 *"), 42);
    // Modulus truncates toward zero: the sign follows the dividend.
    EXPECT_EQ(Num(u"-7 2 %"), -1);
    EXPECT_EQ(Num(u"7 -2 %"), 1);
    EXPECT_EQ(Num(u"7,5 2 %"), 1.5);
    EXPECT_EQ(Num(u"1 2 + 4 *"), 12);

    TRpnScalar more = Eval(u"3 2 >");
    EXPECT_EQ(more.Kinds, RpnKind(valBool));
    EXPECT_TRUE(more.Bool);
    EXPECT_FALSE(Eval(u"3 2 <").Bool);
    EXPECT_FALSE(Eval(u"2 2 >").Bool);

    EXPECT_THROW(Eval(u"1 0 /"), ERpnDivisionByZero);
    EXPECT_THROW(Eval(u"1 0 %"), ERpnDivisionByZero);
    // Operands must be numbers.
    EXPECT_EQ(MessageOf<EWrongTopStackValueKind>([] { Eval(u"1 'a' +"); }),
              u"Expected a i value on top of TRpnValueStack but got s.");
}

TEST(RpnCompile, Numbers) {
    // A sign glued to a digit belongs to the number.
    EXPECT_EQ(ShapeOf(u"5 -3"), "c:5 c:-3");
    EXPECT_EQ(MessageOf<ENonEmptyRpnStack>([] { Eval(u"5 -3"); }),
              u"There were 2 items instead of just one left on stack after evaluating an RPN expression.");
    EXPECT_EQ(ShapeOf(u"5 3 -"), "c:5 c:3 o:Subtract");
    EXPECT_EQ(ShapeOf(u"+1"), "c:1");
    EXPECT_EQ(ShapeOf(u"5 3-"), "c:5 c:3 o:Subtract");

    // "," is the separator unless a "." is present; no thousands grouping.
    EXPECT_EQ(Num(u"1,000"), 1);
    EXPECT_EQ(Num(u"1,5"), 1.5);
    EXPECT_EQ(Num(u"1.5"), 1.5);
    EXPECT_EQ(Num(u"-0.25"), -0.25);
    EXPECT_EQ(Num(u"12"), 12);

    try {
        RpnCompile(u"1 1.2.3 +");
        ADD_FAILURE() << "no exception";
    } catch (const EInvalidRpnFloatStr& e) {
        EXPECT_EQ(e.Message(), u"Invalid floating point constant \"1.2.3\" in an RPN expression.");
        EXPECT_EQ(e.Constant(), u"1.2.3");
        EXPECT_EQ(e.Expression(), u"1 1.2.3 +");
    }
    EXPECT_THROW(RpnCompile(u"1,000.5"), EInvalidRpnFloatStr);
    EXPECT_THROW(RpnCompile(u"1,2,3"), EInvalidRpnFloatStr);
}

TEST(RpnCompile, StringsAndSyntaxErrors) {
    TRpnScalar s = Eval(u"'it''s a b'");
    EXPECT_EQ(s.Kinds, RpnKind(valStr));
    EXPECT_EQ(s.Str, u"it's a b");
    EXPECT_EQ(Eval(u"''").Str, u"");
    EXPECT_EQ(ShapeOf(u"'a''b' 'c'"), "c:a'b c:c");

    EXPECT_EQ(MessageOf<EUnterminatedString>([] { RpnCompile(u"'abc"); }),
              u"Unterminated string \"abc\" started at 1 in RPN expression \"'abc\".");
    EXPECT_EQ(MessageOf<EUnterminatedString>([] { RpnCompile(u"1 'x"); }),
              u"Unterminated string \"x\" started at 3 in RPN expression \"1 'x\".");
    // EUnterminatedString is a syntax error too.
    EXPECT_THROW(RpnCompile(u"'"), EWrongRpnSyntax);

    EXPECT_EQ(MessageOf<EEmptyRPN>([] { RpnCompile(u""); }), u"Empty RPN expression string.");
    EXPECT_THROW(RpnCompile(u" \t\r\n "), EEmptyRPN);

    // Only a blank separates tokens; the position is 1-based in the trimmed text.
    EXPECT_EQ(MessageOf<EWrongRpnSyntax>([] { RpnCompile(u"  1\t2 +"); }),
              u"Invalid RPN expression syntax at \"\t2 +\" (position 2, full string: \"1\t2 +\").");
    WideString msg = MessageOf<EWrongRpnSyntax>([] { RpnCompile(u"1 #23456789012345678901234"); });
    EXPECT_NE(msg.find(u"at \"#2345678901234567890\" (position 3"), WideString::npos) << WideToUtf8(msg);
}

TEST(RpnCompile, OperatorOrVariable) {
    EXPECT_EQ(ShapeOf(u"abc_1 x"), "v:abc_1 v:x");
    // Membership ignores case and the name keeps the case written.
    EXPECT_EQ(ShapeOf(u"Abc"), "v:Abc");
    EXPECT_EQ(ShapeOf(u"a+"), "v:a o:Add");

    WideString saved = RpnVarChars();
    SetRpnVarChars(saved + u"+");
    // A character that is both starts a variable unless a blank or a digit
    // follows or it ends the text.
    EXPECT_EQ(ShapeOf(u"+x"), "v:+x");
    EXPECT_EQ(ShapeOf(u"+ x"), "o:Add v:x");
    EXPECT_EQ(ShapeOf(u"+1"), "c:1");
    EXPECT_EQ(ShapeOf(u"x +"), "v:x o:Add");
    EXPECT_EQ(ShapeOf(u"x+y +"), "v:x+y o:Add");
    SetRpnVarChars(saved);
    EXPECT_EQ(ShapeOf(u"+x"), "o:Add v:x");

    EXPECT_EQ(MessageOf<EEmptyRpnVarCharList>([] { SetRpnVarChars(u" \t"); }), u"Attempted to set empty RpnVarChars.");
    EXPECT_EQ(RpnVarChars(), saved);
}

TEST(RpnEval, Variables) {
    auto list = RpnCompile(u"x Y +");
    {
        TRpnEvaluator ev(*list);
        TRpnScalar r;
        EXPECT_EQ(MessageOf<EVariablelessRPN>([&] { ev.Evaluate(r); }),
                  u"Variable \"x\" was found in an RPN expression but no variables were bound to the expression prior "
                  u"to its evaluation.");
    }
    {
        TRpnEvaluator ev(*list);
        std::vector<WideString> asked;
        ev.OnVariable = [&](TRpnEvaluator&, const WideString& name, TRpnScalar& v) {
            asked.push_back(name);
            v = TRpnScalar::FromNum(name == u"x" ? 40 : 2);
        };
        TRpnScalar r;
        ev.Evaluate(r);
        EXPECT_EQ(r.Num, 42);
        EXPECT_EQ(asked, (std::vector<WideString>{u"x", u"Y"}));
    }
    struct Provider : TRpnVariables {
        bool Lookup(TRpnEvaluator&, const WideString& name, TRpnScalar& v) override {
            EXPECT_TRUE(v.IsNull());  // cleared before each lookup
            if (name != u"x") return false;
            v = TRpnScalar::FromNum(1);
            return true;
        }
    } provider;
    {
        // The provider wins over the callback, and a miss is an error.
        TRpnEvaluator ev(*list);
        ev.Variables = &provider;
        bool called = false;
        ev.OnVariable = [&](TRpnEvaluator&, const WideString&, TRpnScalar&) { called = true; };
        TRpnScalar r;
        EXPECT_EQ(MessageOf<EMissingRpnVariable>([&] { ev.Evaluate(r); }), u"Missing RPN expression variable \"Y\".");
        EXPECT_FALSE(called);
        // What was pushed before the failure stays.
        EXPECT_EQ(ev.Stack().Count(), 1);
    }
}

TEST(RpnEval, StackErrors) {
    auto plus = RpnCompile(u"+");
    ASSERT_EQ(Shape(*plus), "o:Add");
    {
        TRpnEvaluator ev(*plus);
        TRpnScalar r;
        EXPECT_EQ(MessageOf<ENotEnoughRpnArguments>([&] { ev.Evaluate(r); }),
                  u"Too few arguments on stack for Add (needs 2, has 0).");
    }
    {
        auto list = RpnCompile(u"1 >");
        TRpnEvaluator ev(*list);
        TRpnScalar r;
        EXPECT_EQ(MessageOf<ENotEnoughRpnArguments>([&] { ev.Evaluate(r); }),
                  u"Too few arguments on stack for More (needs 2, has 1).");
        EXPECT_EQ(ev.Stack().Count(), 1);
    }

    TRpnValueStack st;
    EXPECT_EQ(MessageOf<EEmptyStackOperation>([&] { st.Pop(); }), u"Attempted to Pop from empty TRpnValueStack.");
    EXPECT_EQ(MessageOf<EEmptyStackOperation>([&] { st.PopNum(); }), u"Attempted to PopNum from empty TRpnValueStack.");
    EXPECT_EQ(MessageOf<EEmptyStackOperation>([&] { st.PopStr(); }), u"Attempted to PopStr from empty TRpnValueStack.");
    EXPECT_EQ(MessageOf<EEmptyRpnStack>([&] { st.PopResult(); }),
              u"There were no items left on stack after evaluating an RPN expression - but at least one is required "
              u"to determine the expression result.");

    st.Push(TRpnScalar::FromNum(1.5));
    EXPECT_EQ(MessageOf<EIntegerExpectedOnStackTop>([&] { st.PopInt(); }),
              u"Expected an integer value without fractional part on top of TRpnValueStack but got 1.5.");
    EXPECT_TRUE(st.IsEmpty());  // the value stays popped
    TRpnScalar both = TRpnScalar::FromStr(u"x");
    both.Kinds |= RpnKind(valBytes);
    st.Push(both);
    EXPECT_EQ(MessageOf<EWrongTopStackValueKind>([&] { st.PopNum(); }),
              u"Expected a i value on top of TRpnValueStack but got sr.");
    st.Push(TRpnScalar::FromNum(4));
    EXPECT_EQ(MessageOf<EWrongTopStackValueKind>([&] { st.PopStr(); }),
              u"Expected a s value on top of TRpnValueStack but got i.");
    st.Push(TRpnScalar::FromNum(-4));
    EXPECT_EQ(st.PopInt(), -4);

    // The lower value can be dropped (the expression layer drops its initial value).
    st.Push(TRpnScalar::FromStr(u"a"));
    st.Push(TRpnScalar::FromStr(u"b"));
    st.Push(TRpnScalar::FromStr(u"c"));
    st.RemoveAt(0);
    EXPECT_EQ(st.PopStr(), u"c");
    EXPECT_EQ(st.PopStr(), u"b");
    EXPECT_THROW(st.RemoveAt(0), ERangeError);
}

TEST(RpnEval, StackIsBounded) {
    WideString full;
    for (int i = 0; i < TRpnValueStack::Capacity; ++i) full += u"1 ";
    TRpnCompileSettings s;
    s.UseCache = false;
    auto fits = RpnCompile(full, s);
    TRpnEvaluator ev(*fits);
    TRpnScalar r;
    EXPECT_EQ(MessageOf<ENonEmptyRpnStack>([&] { ev.Evaluate(r); }),
              u"There were 8192 items instead of just one left on stack after evaluating an RPN expression.");

    auto over = RpnCompile(full + u"1", s);
    TRpnEvaluator ev2(*over);
    EXPECT_THROW(ev2.Evaluate(r), ERpnStackOverflow);
    EXPECT_EQ(ev2.Stack().Count(), TRpnValueStack::Capacity);
}

TEST(RpnCompile, TextsUpToTheLongestAllowed) {
    // "1 " repeated, then one digit more: the longest text still compiles
    // (surrounding blanks do not count); one character more is refused.
    WideString text;
    while (text.size() + 2 < RpnMaxLength) text += u"1 ";
    text += RpnMaxLength - text.size() == 2 ? u"11" : u"1";
    ASSERT_EQ(text.size(), RpnMaxLength);
    TRpnCompileSettings s;
    s.UseCache = false;
    EXPECT_NO_THROW(RpnCompile(u"  " + text + u"\t", s));
    try {
        RpnCompile(text + u"1", s);
        ADD_FAILURE() << "an expression past the limit was compiled";
    } catch (const ERpnTooLong& e) {
        EXPECT_EQ(e.Message(), u"RPN expression of 65537 characters is longer than the 65536 an expression may have.");
    }
}

TEST(RpnEval, HandBuiltLists) {
    struct TOddItem : TRpnItem {
        TS_CLASS(TOddItem)
    };
    TCompiledRPN list;
    list.Add(std::make_unique<TRpnConst>(TRpnScalar::FromNum(1)));
    list.Add(std::make_unique<TOddItem>());
    TRpnEvaluator ev(list);
    TRpnScalar r;
    EXPECT_EQ(MessageOf<ERPN>([&] { ev.Evaluate(r); }), u"Invalid object of class TOddItem in a compiled RPN object.");

    TCompiledRPN empty;
    TRpnEvaluator ev2(empty);
    EXPECT_THROW(ev2.Evaluate(r), EEmptyRpnStack);
    EXPECT_EQ(r.Kinds, RpnKind(valNum));  // the result was set to 0 first
    EXPECT_EQ(r.Num, 0);
}

TEST(RpnCompile, Cache) {
    RpnClearCompileCache();
    auto a = RpnCompile(u"  10 20 +\t");
    auto b = RpnCompile(u"10 20 +");
    EXPECT_EQ(a.get(), b.get());
    EXPECT_EQ(RpnCompileCacheSize(), 1u);

    TRpnCompileSettings nocache;
    nocache.UseCache = false;
    EXPECT_NE(RpnCompile(u"10 20 +", nocache).get(), a.get());

    // A reversed list is never served for an unreversed request or back.
    TRpnCompileSettings rev;
    rev.Reversed = true;
    EXPECT_EQ(Shape(*RpnCompile(u"10 20 +", rev)), "o:Add c:20 c:10");
    EXPECT_EQ(Shape(*RpnCompile(u"10 20 +")), "c:10 c:20 o:Add");

    struct TMyVar : TRpnVariable {
        using TRpnVariable::TRpnVariable;
        TS_CLASS(TMyVar)
    };
    TRpnCompileSettings mine;
    mine.VariableClass = RpnVariableClass<TMyVar>();
    auto withMine = RpnCompile(u"q", mine);
    EXPECT_NE(dynamic_cast<const TMyVar*>(&(*withMine)[0]), nullptr);
    EXPECT_EQ(dynamic_cast<const TMyVar*>(&(*RpnCompile(u"q"))[0]), nullptr);

    // A private operator table bypasses the cache.
    TRpnOperators ops;
    ops.Add(u'#', RpnOperatorClass<TRpnMultiply>());
    TRpnCompileSettings own;
    own.Operators = &ops;
    size_t before = RpnCompileCacheSize();
    EXPECT_EQ(Shape(*RpnCompile(u"2 3 #", own)), "c:2 c:3 o:Multiply");
    EXPECT_THROW(RpnCompile(u"1 'x"), EUnterminatedString);
    EXPECT_EQ(RpnCompileCacheSize(), before);

    // Lists outlive the cache that handed them out.
    RpnClearCompileCache();
    EXPECT_EQ(RpnCompileCacheSize(), 0u);
    TRpnEvaluator ev(*a);
    TRpnScalar r;
    ev.Evaluate(r);
    EXPECT_EQ(r.Num, 30);

    // The cache keeps a bounded number of texts.
    for (size_t i = 0; i <= RpnCompileCacheLimit; ++i) {
        RpnCompile(IntToStr(static_cast<int32_t>(i)) + u" 1 +");
        ASSERT_LE(RpnCompileCacheSize(), RpnCompileCacheLimit);
    }
    TRpnEvaluator again(*a);
    again.Evaluate(r);
    EXPECT_EQ(r.Num, 30);

    // Changing the variable characters or the default table drops stale lists.
    RpnCompile(u"x+y");
    SetRpnVarChars(RpnVarChars());
    EXPECT_EQ(RpnCompileCacheSize(), 0u);
    EXPECT_EQ(Shape(*RpnCompile(u"1 2 +")), "c:1 c:2 o:Add");
    TRpnOperators saved;
    saved.Assign(RpnDefaultOperators());
    RpnDefaultOperators().Clear();
    EXPECT_THROW(RpnCompile(u"1 2 +"), EWrongRpnSyntax);
    RpnDefaultOperators().Assign(saved);
    EXPECT_EQ(Shape(*RpnCompile(u"1 2 +")), "c:1 c:2 o:Add");
}

TEST(RpnOperators, Table) {
    TRpnOperators t;
    EXPECT_FALSE(t.Has(u'+'));
    t.Add(u'+', RpnOperatorClass<TRpnAdd>());
    t.Add(u'\u00fe', RpnOperatorClass<TRpnLess>());  // 254: last direct slot
    t.Add(u'\u00ff', RpnOperatorClass<TRpnMore>());  // 255: hashed
    t.Add(u'\u2211', RpnOperatorClass<TRpnMultiply>());
    EXPECT_EQ(t.DirectCount(), 2);
    EXPECT_EQ(t.Find(u'\u00ff')->Name, u"TRpnMore");
    EXPECT_EQ(t.Find(u'\u2211')->Name, u"TRpnMultiply");
    EXPECT_EQ(t.Find(u'-'), nullptr);
    EXPECT_EQ(MessageOf<EDuplicateRpnOperator>([&] { t.Add(u'+', RpnOperatorClass<TRpnSubtract>()); }),
              u"Attempted to add a new operator \"+\" of class TRpnSubtract to the RPN operator list but it was "
              u"already taken.");
    EXPECT_THROW(t.Add(u'\u2211', RpnOperatorClass<TRpnAdd>()), EDuplicateRpnOperator);

    TRpnOperators copy;
    copy.Assign(t);
    t.Clear();
    EXPECT_FALSE(t.Has(u'\u2211'));
    EXPECT_EQ(t.DirectCount(), 0);
    EXPECT_TRUE(copy.Has(u'\u2211'));
    EXPECT_TRUE(copy.Has(u'+'));

    EXPECT_THROW(RpnAddDefaultOperator(u'^', RpnOperatorClass<TRpnAdd>()), EDuplicateRpnOperator);
    // An evaluator's own table starts as a copy of the default one.
    TCompiledRPN empty;
    TRpnEvaluator ev(empty);
    EXPECT_EQ(ev.Operators().DirectCount(), RpnDefaultOperators().DirectCount());
    EXPECT_NE(&ev.Operators(), &RpnDefaultOperators());
}

TEST(RpnValues, TextAndKindLetters) {
    EXPECT_EQ(RpnValueToText(TRpnScalar::FromBytes("abc")), u"61 62 63");
    EXPECT_EQ(RpnValueToText(TRpnScalar::FromNum(3)), u"3");
    EXPECT_EQ(RpnValueToText(TRpnScalar::FromNum(-3.5)), u"-3.5");
    EXPECT_EQ(RpnValueToText(TRpnScalar::FromNum(4e15)), u"4000000000000000");
    EXPECT_EQ(RpnValueToText(TRpnScalar::FromNum(1e20)), u"1E20");  // beyond 64 bits: no overflowing conversion
    EXPECT_EQ(RpnValueToText(TRpnScalar::FromBool(true)), u"True");
    EXPECT_EQ(RpnValueToText(TRpnScalar::FromBool(false)), u"False");
    EXPECT_EQ(RpnValueToText(TRpnScalar(), u"null"), u"null");

    // Text wins over bytes, bytes over number, number over boolean.
    TRpnScalar multi = TRpnScalar::FromNum(7);
    multi.Bool = true;
    multi.Kinds |= RpnKind(valBool) | RpnKind(valCustom);
    EXPECT_EQ(RpnValueToText(multi), u"7");
    multi.Bytes = "\x0a";
    multi.Kinds |= RpnKind(valBytes);
    EXPECT_EQ(RpnValueToText(multi), u"0A");
    EXPECT_EQ(RpnKindLetters(multi.Kinds), u"ribc");
    multi.Kinds |= RpnKind(valStr);
    EXPECT_EQ(RpnValueToText(multi), u"");
    EXPECT_EQ(RpnKindLetters(multi.Kinds), u"sribc");
    EXPECT_EQ(RpnKindLetters(0), u"-");
}

TEST(RpnValues, Equality) {
    auto num = TRpnScalar::FromNum;
    auto str = TRpnScalar::FromStr;
    EXPECT_TRUE(RpnValuesEqual(num(5), str(u"5")));
    EXPECT_TRUE(RpnValuesEqual(str(u"2.5"), num(2.5)));
    EXPECT_FALSE(RpnValuesEqual(num(5), str(u"5.0")));
    EXPECT_TRUE(RpnValuesEqual(num(5), num(5)));
    EXPECT_FALSE(RpnValuesEqual(str(u"a"), str(u"A")));
    EXPECT_TRUE(RpnValuesEqual(TRpnScalar::FromBytes("ab"), TRpnScalar::FromBytes("ab")));
    EXPECT_FALSE(RpnValuesEqual(TRpnScalar::FromBytes("ab"), TRpnScalar::FromBytes("abc")));
    EXPECT_TRUE(RpnValuesEqual(TRpnScalar::FromBool(false), TRpnScalar::FromBool(false)));
    EXPECT_TRUE(RpnValuesEqual(TRpnScalar(), TRpnScalar()));
    EXPECT_FALSE(RpnValuesEqual(TRpnScalar(), num(0)));
    EXPECT_FALSE(RpnValuesEqual(str(u""), TRpnScalar()));

    // Booleans are compared first even when numbers are present too.
    TRpnScalar a = num(1), b = num(1);
    a.Kinds |= RpnKind(valBool);
    b.Kinds |= RpnKind(valBool);
    b.Bool = true;
    EXPECT_FALSE(RpnValuesEqual(a, b));

    EXPECT_EQ(MessageOf<EInvalidRpnOperation>([&] { RpnValuesEqual(num(3), TRpnScalar::FromBytes("A")); }),
              u"Incomparable RPN values of types: A (3) = i, B (41) = r. Can only compare these combinations: "
              u"null-any or any-null or null/null, num-num, bool-bool, str-str, bytes-bytes, num-str or str-num.");
    EXPECT_THROW(RpnValuesEqual(TRpnScalar::FromBool(true), str(u"True")), EInvalidRpnOperation);
}
