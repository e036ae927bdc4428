// Tests of condition parsing and of conditions testing input.
#include <gtest/gtest.h>

#include "ExprTestUtil.h"
#include "library/expressions/TsConditions.h"
#include "library/expressions/TsExprFunctions.h"
#include "library/expressions/rpn/Simpat.h"
#include "library/script/charset/Charsets.h"

using namespace ts;
using namespace ts::test;

namespace {

TTsCondition Compile(std::u16string_view text, const TTsOptions& options = {}) {
    TTsCondParseResult r = ParseCondition(text, DefaultConditions(), options);
    EXPECT_EQ(r.Status, TTsCondParseStatus::Ok) << WideToUtf8(text);
    return r.Condition;
}

// Tests a condition at the start of the input; reports where it left it.
struct Probe {
    bool holds = false;
    int64_t pos = -1;
};

Probe RunCond(std::u16string_view cond, std::string input, const TTsOptions& options = {}) {
    TTsCondition c = Compile(cond, options);
    TStringStream in(std::move(input));
    auto root = std::make_unique<TTsTreeNode>(u"r");
    TTsCondEnvironment env;
    env.Options = options;
    env.BaseNode = root.get();
    env.Input = &in;
    Probe p;
    p.holds = TestCondition(c, env);
    p.pos = in.Position();
    return p;
}

::testing::AssertionResult Consumes(Probe p, int64_t n) {
    if (p.holds && p.pos == n) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "holds " << p.holds << " at " << p.pos;
}

::testing::AssertionResult Fails(Probe p) {
    if (!p.holds && p.pos == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "holds " << p.holds << " at " << p.pos;
}

}  // namespace

TEST(TsConditions, ParsingNegationOperatorAndValue) {
    TTsOptions o;
    TTsCondParseResult r = ParseCondition(u"  !=  ^ x ", DefaultConditions(), o);
    ASSERT_EQ(r.Status, TTsCondParseStatus::Ok);
    EXPECT_TRUE(r.Condition.Negated);
    EXPECT_EQ(r.Condition.Class, CondClass<TCdExact>());
    EXPECT_EQ(r.Operator, u"=");
    EXPECT_EQ(r.Text, u"=  ^ x");
    EXPECT_EQ(r.Condition.Value.Str, u"^ x");
    EXPECT_EQ(r.Condition.Value.Bytes, "^ x");  // matchers carry their bytes

    r = ParseCondition(u"= ", DefaultConditions(), o);
    ASSERT_EQ(r.Status, TTsCondParseStatus::Ok);
    EXPECT_EQ(r.Condition.Value.Str, u"");

    EXPECT_EQ(ParseCondition(u"   ", DefaultConditions(), o).Status, TTsCondParseStatus::NoCondition);
    EXPECT_EQ(ParseCondition(u" ! ", DefaultConditions(), o).Status, TTsCondParseStatus::BareNegation);
    // Keys are one case-sensitive character.
    for (std::u16string_view bad : {u"X 0D", u"e x", u"== a"}) {
        r = ParseCondition(bad, DefaultConditions(), o);
        if (bad == u"== a") {
            EXPECT_EQ(r.Status, TTsCondParseStatus::Ok);
            EXPECT_EQ(r.Condition.Value.Str, u"= a");
        } else {
            EXPECT_EQ(r.Status, TTsCondParseStatus::UnknownOperator) << WideToUtf8(bad);
            EXPECT_EQ(r.Operator, WideString(bad.substr(0, 1)));
        }
    }
    // "! = x": the operator is the blank after the "!".
    r = ParseCondition(u"! = x", DefaultConditions(), o);
    EXPECT_EQ(r.Status, TTsCondParseStatus::UnknownOperator);
    EXPECT_EQ(r.Operator, u" ");
    EXPECT_EQ(r.Text, u" = x");
}

TEST(TsConditions, ValuesArePreparedWhenCompiled) {
    TTsOptions o;  // code page 1250
    EXPECT_EQ(Compile(u"= č", o).Value.Bytes, "\xE8");
    // A character the code page cannot hold fails now, not when run.
    EXPECT_THROW(ParseCondition(u"= aЖ", DefaultConditions(), o), EConvertError);
    // An expression keeps its text; bytes alone gain it.
    EXPECT_EQ(Compile(u"? 1 1 =", o).Value.Kinds, RpnKind(valStr));
    TRpnScalar bytes = TRpnScalar::FromBytes("\xE8");
    TRpnScalar prepared = TCdExpression::PrepareValue(bytes, o);
    EXPECT_EQ(prepared.Str, u"č");
    EXPECT_EQ(prepared.Bytes, "\xE8");
    EXPECT_EQ(TTsCondExpression::PrepareValue(bytes, o).Kinds, RpnKind(valBytes));
}

TEST(TsConditions, DefaultTable) {
    TTsConditions& t = DefaultConditions();
    EXPECT_EQ(t.Count(), 5);
    EXPECT_EQ(t.Find(u"?"), CondClass<TCdExpression>());
    EXPECT_EQ(t.Find(u"_"), CondClass<TCdSpaces>());
    EXPECT_EQ(t.Find(u"x"), CondClass<TCdHex>());
    EXPECT_EQ(t.Find(u"%"), CondClass<TCdSimpat>());
    EXPECT_EQ(t.Find(u"X"), nullptr);
    EXPECT_THROW(t.Add(u"=", CondClass<TCdHex>()), ETsClassListDuplicate);
    EXPECT_EQ(t.Count(), 5);
}

TEST(TsConditions, ExactText) {
    EXPECT_TRUE(Consumes(RunCond(u"= ", "abc"), 0));  // no value: holds, consumes nothing
    EXPECT_TRUE(Consumes(RunCond(u"=", ""), 0));      // even at the end
    EXPECT_TRUE(Consumes(RunCond(u"= ab", "abc"), 2));
    EXPECT_TRUE(Fails(RunCond(u"= ab", "ax")));
    EXPECT_TRUE(Fails(RunCond(u"= abcd", "abc")));  // short read
    EXPECT_TRUE(Fails(RunCond(u"= a", "")));
    EXPECT_TRUE(Fails(RunCond(u"= A", "a")));
    // Negated: holds where the match fails, consuming nothing.
    EXPECT_TRUE(Consumes(RunCond(u"!= ^", "x^"), 0));
    EXPECT_FALSE(RunCond(u"!= ^", "^x").holds);
    // The code page decides the bytes compared.
    TTsOptions o;
    EXPECT_TRUE(Consumes(RunCond(u"= čx", "\xE8xy", o), 2));
}

TEST(TsConditions, BlanksThenText) {
    EXPECT_TRUE(Consumes(RunCond(u"_ (", "  \t\r\n(x"), 6));
    EXPECT_TRUE(Consumes(RunCond(u"_ (", "   "), 3));  // blanks to the end hold
    EXPECT_TRUE(Fails(RunCond(u"_ (", "  x")));
    EXPECT_TRUE(Consumes(RunCond(u"_ (", "("), 1));
    EXPECT_TRUE(Consumes(RunCond(u"_", "  x"), 2));
    // Blanks running over the 256-byte read blocks.
    EXPECT_TRUE(Consumes(RunCond(u"_ (", std::string(300, ' ') + "("), 301));
    EXPECT_TRUE(Consumes(RunCond(u"_ (", std::string(256, ' ') + "("), 257));
    EXPECT_TRUE(Fails(RunCond(u"_ (", std::string(256, ' ') + ")")));
}

TEST(TsConditions, HexBytes) {
    EXPECT_TRUE(Consumes(RunCond(u"x 0D 0A", "\r\nz"), 2));
    EXPECT_TRUE(Consumes(RunCond(u"x 0d0a", "\r\nz"), 2));
    EXPECT_TRUE(Fails(RunCond(u"x 0D0A", "\r\r")));
    EXPECT_TRUE(Consumes(RunCond(u"!x 0D", "a"), 0));
    EXPECT_EQ(MessageOf<EConvertError>([] { RunCond(u"x 0D0", "\r\n"); }),
              u"Hex string must have even length, 3 given.");
    EXPECT_EQ(MessageOf<EConvertError>([] { RunCond(u"x 0Z", "\r\n"); }),
              u"Hex string \"0Z\" contains wrong symbol (0-9, A-F, a-f allowed).");
    EXPECT_EQ(MessageOf<ETsEmptyFuncArgument>([] { RunCond(u"x", "\r\n"); }),
              u"Function TFnCmpHex of RPN expression ''' cmp_hex' expects a non-empty argument.");
    EXPECT_EQ(MessageOf<ETsEmptyFuncArgument>([] { RunCond(u"x  -- ", "\r\n"); }),
              u"Function TFnCmpHex of RPN expression ''--' cmp_hex' expects a non-empty argument.");
}

TEST(TsConditions, SimplePatterns) {
    EXPECT_TRUE(Consumes(RunCond(u"% [^\"]+", "abc\"d"), 3));
    EXPECT_TRUE(Fails(RunCond(u"% [^\"]+", "\"d")));
    EXPECT_TRUE(Consumes(RunCond(u"% SP* ID+", "  abc1 x"), 6));
    // NL is the options' line break.
    EXPECT_TRUE(Consumes(RunCond(u"% NL", "\r\nx"), 2));
    TTsOptions lf;
    lf.LineBreak = u"\n";
    EXPECT_TRUE(Fails(RunCond(u"% NL", "\r\nx", lf)));
    // Non-ASCII characters match their bytes in the options' code page.
    TTsOptions o;
    EXPECT_TRUE(Consumes(RunCond(u"% č+ x", "\xE8\xE8xy", o), 3));
    EXPECT_TRUE(Consumes(RunCond(u"% [čš]+", "\xE8\x9A\xE8!", o), 3));
    EXPECT_EQ(MessageOf<ETsEmptyFuncArgument>([] { RunCond(u"%", "x"); }),
              u"Function TFnCmpPattern of RPN expression ''' cmp_pat' expects a non-empty argument.");
    EXPECT_THROW(RunCond(u"% |x", "x"), ESimpatHasEmptyChoice);
}

TEST(TsConditions, ReusedPatternObjectFollowsItsOptions) {
    // The engine keeps one object per node and tests it again and again; the
    // line break it matches must follow the options it has at each test.
    TTsCondition c = Compile(u"% NL x");
    TStringStream in(std::string("\nx\r\nx\n\0x", 9));
    auto root = std::make_unique<TTsTreeNode>(u"r");
    TTsCondEnvironment env;
    env.BaseNode = root.get();
    env.Input = &in;
    std::unique_ptr<TTsCondExpression> e = CreateConditionObject(c, env);
    EXPECT_FALSE(e->EvaluateValue().Bool);  // CR LF by default
    e->Options.LineBreak = u"\n";
    EXPECT_TRUE(e->EvaluateValue().Bool);
    EXPECT_EQ(in.Position(), 2);
    e->Options.LineBreak = u"\r\n";
    EXPECT_TRUE(e->EvaluateValue().Bool);
    EXPECT_EQ(in.Position(), 5);
    e->Options.LineBreak = u"\n";
    e->Options.Codepage = CpUtf16Bytes;  // the same text, other bytes
    EXPECT_TRUE(e->EvaluateValue().Bool);
    EXPECT_EQ(in.Position(), 8);
}

TEST(TsConditions, ExpressionConditions) {
    EXPECT_TRUE(Consumes(RunCond(u"? 1 1 =", "abc"), 0));
    EXPECT_TRUE(Fails(RunCond(u"? 1 2 =", "abc")));
    EXPECT_TRUE(Consumes(RunCond(u"? $ 2 tooffset", "abc"), 2));
    EXPECT_TRUE(Consumes(RunCond(u"? $ 'ab' cmp_eq", "abc"), 2));
    EXPECT_TRUE(Consumes(RunCond(u"? 2 skip", "abc"), 2));
    EXPECT_FALSE(RunCond(u"!? 1 1 =", "abc").holds);

    // A non-Boolean result is for the caller to judge.
    TTsCondition c = Compile(u"? 7");
    TTsCondEnvironment env;
    TTsValue v = EvaluateCondition(c, env);
    EXPECT_EQ(v.Float, 7);
    EXPECT_FALSE(ConditionHolds(c, v).has_value());
    EXPECT_EQ(MessageOf<ETsBadRpnValue>([&] { TestCondition(c, env); }),
              u"Required value type missing (any of 'valBool') in RPN expression '7'.");

    // Functions of the caller's registry, such as external routines.
    TTsFunctions reg;
    reg.AssignFrom(DefaultFunctions());
    int calls = 0;
    reg.RegisterHandler(u"checkVersion", [&](TTsFuncContext& ctx) {
        ++calls;
        ctx.Target->AssignBool(ctx.Expression->BaseNode != nullptr);
        return true;
    });
    auto root = std::make_unique<TTsTreeNode>(u"r");
    env.Functions = &reg;
    env.BaseNode = root.get();
    EXPECT_TRUE(TestCondition(Compile(u"? checkVersion"), env));
    EXPECT_EQ(calls, 1);
    // No condition at all holds without reading.
    EXPECT_TRUE(TestCondition(TTsCondition{}, env));
}

TEST(TsConditions, NodeReferencesInConditions) {
    auto root = std::make_unique<TTsTreeNode>(u"r");
    TTsTreeNode* head = root->AddChild(u"head");
    head->Props().SetValue(u"kind", TTsValue::FromStr(u"v2"));
    TStringStream in("v2;");
    TTsCondEnvironment env;
    env.BaseNode = root.get();
    env.Input = &in;
    EXPECT_TRUE(TestCondition(Compile(u"? head$kind 'v2' ="), env));
    EXPECT_TRUE(TestCondition(Compile(u"? missing? has not"), env));
    EXPECT_THROW(TestCondition(Compile(u"? missing$kind 'v2' ="), env), ETsExprNoNode);
    // An error handler takes the failure; the reference is then null.
    int reported = 0;
    env.OnError = [&](TTsObject&, Exception&) { ++reported; };
    EXPECT_FALSE(TestCondition(Compile(u"? missing$kind 'v2' ="), env));
    EXPECT_EQ(reported, 1);
}
