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

namespace {

// What one test of a condition object did: its value and where it left the
// input, or the error it raised.
std::string Outcome(TTsCondExpression& e, TStringStream& in, int64_t at) {
    in.SetPosition(at);
    try {
        TTsValue v = e.EvaluateValue();
        std::string s = v.Has(vkBool) ? (v.Bool ? "true" : "false") : "kinds " + std::to_string(v.Kinds);
        return s + " at " + std::to_string(in.Position());
    } catch (const Exception& x) {
        return WideToUtf8(x.ClassName()) + ": " + WideToUtf8(x.Message()) + " at " + std::to_string(in.Position());
    }
}

// A copy of the default registry whose own handler under each matcher name
// declines: the expression then runs and the library's function answers.
void DeclineMatchers(TTsFunctions& reg) {
    for (std::u16string_view name : {u"cmp_eq", u"cmp_space", u"cmp_hex", u"cmp_pat"})
        reg.RegisterHandler(name, [](TTsFuncContext& ctx) {
            ctx.Target = nullptr;
            return false;
        });
}

}  // namespace

TEST(TsConditions, DirectMatchersAgreeWithTheirExpressions) {
    TTsFunctions direct, viaExpression;
    direct.AssignFrom(DefaultFunctions());
    viaExpression.AssignFrom(DefaultFunctions());
    DeclineMatchers(viaExpression);

    TTsOptions crlf1250, lfUtf8;
    lfUtf8.LineBreak = u"\n";
    lfUtf8.Codepage = 65001;
    const std::string blanks = std::string(300, ' ');
    const std::vector<std::string> inputs = {
        "",       "abc def",    "ABC",       "  \t\r\nabc(", "\r\nx\n", "\xE8\xE8x", "\xC4\x8D\xC4\x8Dx",
        "x|y",    "ab",         "1a2b",      "\"q\" rest",   "# note",  "a\r\n",     blanks + "(",
        "abcabc", "\x61\x62\n", "key = val",
    };
    const std::vector<std::u16string_view> wellFormed = {
        u"= ",     u"= abc",         u"= ABC",  u"= abcd",   u"= č",       u"_",       u"_ abc",
        u"_ (",    u"x 61 62",       u"x 0d0a", u"% ID+",    u"% SP* ID+", u"% NL",    u"% [a-z]+ | [A-Z]+",
        u"% x||y", u"% SP* ANY* NL", u"% č+ x", u"% [^\"]+", u"% DIG? ID", u"% SP* #", u"% ANY*",
        u"% x|",
    };
    // Values the library's function refuses keep the expression and its error.
    const std::vector<std::u16string_view> refused = {u"x 616", u"x 0Z", u"x", u"x  -- ", u"% |x", u"%"};
    std::vector<std::pair<std::u16string_view, bool>> conditions;
    for (std::u16string_view c : wellFormed) conditions.emplace_back(c, true);
    for (std::u16string_view c : refused) conditions.emplace_back(c, false);
    for (const TTsOptions& options : {crlf1250, lfUtf8}) {
        for (const auto& [text, wellFormed] : conditions) {
            TTsCondition c = Compile(text, options);
            for (const std::string& input : inputs) {
                TStringStream in(input);
                TTsCondEnvironment env;
                env.Options = options;
                env.Input = &in;
                env.Functions = &direct;
                std::unique_ptr<TTsCondExpression> d = CreateConditionObject(c, env);
                std::unique_ptr<TTsCondExpression> shared = CreateConditionObject(c, env);
                shared->SetFunctions(nullptr);  // the process-wide registry
                env.Functions = &viaExpression;
                std::unique_ptr<TTsCondExpression> x = CreateConditionObject(c, env);
                auto& pre = dynamic_cast<TTsPrecompiledCondExpr&>(*d);
                EXPECT_EQ(pre.MatchesDirectly(), wellFormed) << WideToUtf8(text);
                EXPECT_FALSE(dynamic_cast<TTsPrecompiledCondExpr&>(*x).MatchesDirectly());
                // At the start, inside, at the end, and back at the start:
                // each object is tested again as the engine does.
                const int64_t size = static_cast<int64_t>(input.size());
                for (int64_t at : {int64_t{0}, std::min<int64_t>(1, size), size, int64_t{0}}) {
                    const std::string where = WideToUtf8(text) + " over \"" + input + "\" at " + std::to_string(at) +
                                              ", code page " + std::to_string(options.Codepage);
                    const std::string expected = Outcome(*x, in, at);
                    EXPECT_EQ(Outcome(*d, in, at), expected) << where;
                    EXPECT_EQ(Outcome(*shared, in, at), expected) << where;
                }
            }
        }
    }
}

TEST(TsConditions, DirectMatchersGiveTheExpressionsResult) {
    // What a test leaves in the object is what the expression would leave.
    TTsFunctions viaExpression;
    viaExpression.AssignFrom(DefaultFunctions());
    DeclineMatchers(viaExpression);
    TTsCondition c = Compile(u"% ID+");
    TStringStream in("abc def");
    auto root = std::make_unique<TTsTreeNode>(u"r");
    TTsCondEnvironment env;
    env.BaseNode = root.get();
    env.Input = &in;
    std::unique_ptr<TTsCondExpression> d = CreateConditionObject(c, env);
    env.Functions = &viaExpression;
    std::unique_ptr<TTsCondExpression> x = CreateConditionObject(c, env);
    ASSERT_TRUE(dynamic_cast<TTsPrecompiledCondExpr&>(*d).MatchesDirectly());
    TTsExpressionResult dr, xr;
    d->Evaluate(dr);
    in.SetPosition(0);
    x->Evaluate(xr);
    EXPECT_EQ(dr.Value.Kinds, xr.Value.Kinds);
    EXPECT_EQ(dr.Value.Bool, xr.Value.Bool);
    EXPECT_EQ(dr.Node, xr.Node);
    EXPECT_EQ(dr.Stream, xr.Stream);
    EXPECT_EQ(d->Result.Kinds, x->Result.Kinds);
    EXPECT_EQ(d->ExpressionText(), x->ExpressionText());
    // No input to read: the expression decides, and raises what it raises.
    d->Stream = nullptr;
    x->Stream = nullptr;
    EXPECT_FALSE(dynamic_cast<TTsPrecompiledCondExpr&>(*d).MatchesDirectly());
    EXPECT_EQ(MessageOf<ETsBadRpnValue>([&] { d->EvaluateValue(); }),
              MessageOf<ETsBadRpnValue>([&] { x->EvaluateValue(); }));
}

TEST(TsConditions, HandlersOfTheCallerUnderMatcherNamesComeFirst) {
    TTsFunctions reg;
    reg.AssignFrom(DefaultFunctions());
    EXPECT_EQ(reg.StandardClass(u"cmp_eq"), FunctionClass<TFnCmpExact>());
    EXPECT_EQ(reg.StandardClass(u"cmp_pat"), FunctionClass<TFnCmpPattern>());
    EXPECT_EQ(reg.StandardClass(u"nosuch"), nullptr);
    TStringStream in("xyz");
    TTsCondEnvironment env;
    env.Input = &in;
    env.Functions = &reg;

    // Registered before the condition is compiled: it answers "holds" where
    // the library's match would fail, and consumes what it says.
    int calls = 0;
    bool decline = false;
    reg.RegisterHandler(u"cmp_eq", [&](TTsFuncContext& ctx) {
        ++calls;
        if (decline) {
            ctx.Target = nullptr;
            return false;
        }
        TRpnValueStack& stack = ctx.Expression->Evaluator()->Stack();
        stack.Pop();  // the value
        stack.Pop();  // the input
        ctx.Expression->Stream->SetPosition(2);
        ctx.Target->AssignBool(true);
        return true;
    });
    EXPECT_EQ(reg.StandardClass(u"cmp_eq"), nullptr);
    TTsCondition c = Compile(u"= abc");
    std::unique_ptr<TTsCondExpression> e = CreateConditionObject(c, env);
    EXPECT_FALSE(dynamic_cast<TTsPrecompiledCondExpr&>(*e).MatchesDirectly());
    EXPECT_EQ(Outcome(*e, in, 0), "true at 2");
    EXPECT_EQ(calls, 1);
    // Declining hands the test on to the library's own function.
    decline = true;
    EXPECT_EQ(Outcome(*e, in, 0), "false at 0");
    EXPECT_EQ(calls, 2);
    // Other matchers are still tested directly.
    std::unique_ptr<TTsCondExpression> other = CreateConditionObject(Compile(u"% ID+"), env);
    EXPECT_TRUE(dynamic_cast<TTsPrecompiledCondExpr&>(*other).MatchesDirectly());
    EXPECT_EQ(Outcome(*other, in, 0), "true at 3");

    // Registered after an object has tested directly: its next test sees it.
    decline = false;
    EXPECT_EQ(Outcome(*other, in, 0), "true at 3");
    reg.RegisterHandler(u"cmp_pat", [&](TTsFuncContext& ctx) {
        ++calls;
        ctx.Target = nullptr;
        return false;
    });
    EXPECT_FALSE(dynamic_cast<TTsPrecompiledCondExpr&>(*other).MatchesDirectly());
    EXPECT_EQ(Outcome(*other, in, 0), "true at 3");
    EXPECT_EQ(calls, 3);
    // The registry made plain again: direct once more.
    reg.AssignFrom(DefaultFunctions());
    EXPECT_TRUE(dynamic_cast<TTsPrecompiledCondExpr&>(*e).MatchesDirectly());
    EXPECT_EQ(Outcome(*e, in, 0), "false at 0");
    EXPECT_EQ(calls, 3);

    // A registry whose only cmp_eq is another library function: that one
    // answers, the condition does not test its own way.
    TTsFunctions odd;
    odd.Register(u"cmp_eq", FunctionClass<TFnCmpPattern>());
    env.Functions = &odd;
    std::unique_ptr<TTsCondExpression> p = CreateConditionObject(Compile(u"= ID+"), env);
    EXPECT_FALSE(dynamic_cast<TTsPrecompiledCondExpr&>(*p).MatchesDirectly());
    EXPECT_EQ(Outcome(*p, in, 0), "true at 3");
    // The library's own class registered twice is two handlers: the
    // expression calls them.
    odd.Register(u"cmp_pat", FunctionClass<TFnCmpPattern>());
    odd.Register(u"cmp_pat", FunctionClass<TFnCmpPattern>());
    EXPECT_EQ(odd.StandardClass(u"cmp_pat"), nullptr);
}
