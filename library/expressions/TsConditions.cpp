// Condition classes, the operator table, parsing condition texts and
// evaluating compiled conditions.
#include "library/expressions/TsConditions.h"

#include "library/expressions/TsExprFunctions.h"
#include "library/expressions/rpn/Simpat.h"
#include "library/script/charset/Charsets.h"
#include "support/Strings.h"

namespace ts {

// ---- condition classes ----------------------------------------------------------------

TTsCondExpression::TTsCondExpression(TRpnScalar value, TTsTreeNode* baseNode)
    : TTsExpression(WideString(), baseNode), condValue_(std::move(value)) {}

TRpnScalar TTsCondExpression::PrepareValue(const TRpnScalar& value, const TTsOptions&) { return value; }

TRpnScalar TCdExpression::PrepareValue(const TRpnScalar& value, const TTsOptions& options) {
    TRpnScalar v = value;
    if (v.Has(valBytes) && !v.Has(valStr)) {
        v.Str = BytesToWide(options.Codepage, v.Bytes);
        v.Kinds |= RpnKind(valStr);
    }
    return v;
}

void TCdExpression::Evaluate(TTsExpressionResult& result) {
    TRpnScalar v = PrepareValue(condValue_, Options);
    if (!v.Has(valStr)) throw ETsBadRpnValue(this, RpnKind(valBytes) | RpnKind(valStr));
    Text = std::move(v.Str);
    TTsExpression::Evaluate(result);
}

TRpnScalar TTsPrecompiledCondExpr::PrepareValue(const TRpnScalar& value, const TTsOptions& options) {
    TRpnScalar v = value;
    if (v.Has(valStr) && !v.Has(valBytes)) {
        v.Bytes = WideToBytes(options.Codepage, v.Str, -1, true);
        v.Kinds |= RpnKind(valBytes);
    }
    return v;
}

// ---- matchers tested directly ------------------------------------------------------------

struct TTsPrecompiledCondExpr::TDirectMatch {
    TTsMatcherKind Kind = TTsMatcherKind::Exact;
    RawByteString Bytes;                      // what must follow (not for patterns)
    std::unique_ptr<TSimpatPattern> Pattern;  // parsed once: no cache lookup per test
};

namespace {

TTsFunctionClass LibraryFunction(TTsMatcherKind kind) {
    switch (kind) {
        case TTsMatcherKind::Exact:
            return FunctionClass<TFnCmpExact>();
        case TTsMatcherKind::Spaces:
            return FunctionClass<TFnCmpSpaces>();
        case TTsMatcherKind::Hex:
            return FunctionClass<TFnCmpHex>();
        case TTsMatcherKind::Pattern:
            return FunctionClass<TFnCmpPattern>();
    }
    return nullptr;
}

}  // namespace

TTsPrecompiledCondExpr::TTsPrecompiledCondExpr(TRpnScalar value, TTsTreeNode* baseNode)
    : TTsCondExpression(std::move(value), baseNode) {}

TTsPrecompiledCondExpr::~TTsPrecompiledCondExpr() = default;

const TTsPrecompiledCondExpr::TDirectMatch* TTsPrecompiledCondExpr::DirectMatch() {
    const TTsFunctions& registry = EffectiveFunctions();
    if (&registry != decidedFor_ || registry.Seq() != decidedSeq_) {
        decidedFor_ = &registry;
        decidedSeq_ = registry.Seq();
        direct_ = registry.StandardClass(FunctionName()) == LibraryFunction(MatcherKind());
    }
    if (!direct_) return nullptr;
    if (!matchMade_) {
        matchMade_ = true;
        // A value the function would refuse (no bytes, odd or bad hex, an
        // empty argument, a pattern that does not parse) stays with the
        // expression, which raises the function's own error at each test.
        if (!condValue_.Has(valBytes)) return nullptr;
        auto m = std::make_unique<TDirectMatch>();
        m->Kind = MatcherKind();
        try {
            switch (m->Kind) {
                case TTsMatcherKind::Exact:
                case TTsMatcherKind::Spaces:
                    m->Bytes = condValue_.Bytes;
                    break;
                case TTsMatcherKind::Hex:
                    m->Bytes = HexToBin(condValue_.Bytes);
                    if (m->Bytes.empty()) return nullptr;
                    break;
                case TTsMatcherKind::Pattern:
                    if (condValue_.Bytes.empty()) return nullptr;
                    m->Pattern = std::make_unique<TSimpatPattern>(SimplePatternText(condValue_.Bytes));
                    break;
            }
        } catch (const Exception&) {
            return nullptr;
        }
        match_ = std::move(m);
    }
    return match_.get();
}

bool TTsPrecompiledCondExpr::MatchesDirectly() { return Stream && DirectMatch(); }

void TTsPrecompiledCondExpr::Evaluate(TTsExpressionResult& result) {
    const TDirectMatch* m = Stream ? DirectMatch() : nullptr;
    if (!m) {
        TTsExpression::Evaluate(result);
        return;
    }
    TStream& in = *Stream;
    const int64_t start = in.Position();
    bool ok = false;
    switch (m->Kind) {
        case TTsMatcherKind::Spaces:
            ok = MatchBlanksThen(in, m->Bytes);
            break;
        case TTsMatcherKind::Pattern:
            ok = m->Pattern->Match(in, LineBreakBytes());
            break;
        default:
            ok = MatchBytesAt(in, m->Bytes);
            break;
    }
    // Where the function leaves its subject: after the match, or at the start.
    if (!ok) in.SetPosition(start);
    Result = TRpnScalar::FromBool(ok);
    ExpressionResult = TTsExpressionResult{ScalarToTsValue(Result), nullptr, nullptr};
    result = ExpressionResult;
}

// ---- matchers as expressions -------------------------------------------------------------

std::shared_ptr<const TCompiledRPN> TTsPrecompiledCondExpr::Compile(std::u16string_view) {
    if (!items_) {
        auto list = std::make_shared<TCompiledRPN>();
        BuildItems(*list);
        items_ = std::move(list);
    }
    return items_;
}

void TTsPrecompiledCondExpr::BuildItems(TCompiledRPN& list) { list.Add(std::make_unique<TRpnConst>(condValue_)); }

WideString TTsPrecompiledCondExpr::ExpressionText() const {
    WideString s = u"'";
    WideString text = condValue_.Has(valStr) ? condValue_.Str : BytesToWide(Options.Codepage, condValue_.Bytes);
    for (char16_t c : text) {
        if (c == u'\'') s += u'\'';
        s += c;
    }
    s += u"' ";
    s += FunctionName();
    return s;
}

#define TS_MATCHER_BUILD(Name)                                                \
    void Name::BuildItems(TCompiledRPN& list) {                               \
        TTsPrecompiledCondExpr::BuildItems(list);                             \
        list.Add(std::make_unique<TRpnVariable>(WideString(FunctionName()))); \
    }
TS_MATCHER_BUILD(TCdExact)
TS_MATCHER_BUILD(TCdSpaces)
TS_MATCHER_BUILD(TCdHex)
TS_MATCHER_BUILD(TCdSimpat)
#undef TS_MATCHER_BUILD

// ---- the operator table ----------------------------------------------------------------------

void InitDefaultConditions(TTsConditions& t) {
    if (t.Count() > 0) return;
    t.Add(u"?", CondClass<TCdExpression>());
    t.Add(u"=", CondClass<TCdExact>());
    t.Add(u"_", CondClass<TCdSpaces>());
    t.Add(u"x", CondClass<TCdHex>());
    t.Add(u"%", CondClass<TCdSimpat>());
}

TTsConditions& DefaultConditionsStorage() {
    static TTsConditions table;
    return table;
}

TTsConditions& DefaultConditions() {
    InitExpressionLayer();
    return DefaultConditionsStorage();
}

// ---- compiled conditions ------------------------------------------------------------------------

TTsCondParseResult ParseCondition(std::u16string_view text, const TTsConditions& table, const TTsOptions& options) {
    InitExpressionLayer();
    TTsCondParseResult r;
    std::u16string_view t = TrimView(text);
    if (t.empty()) return r;
    if (t[0] == u'!') {
        r.Condition.Negated = true;
        t.remove_prefix(1);
        if (t.empty()) {
            r.Status = TTsCondParseStatus::BareNegation;
            return r;
        }
    }
    r.Text = WideString(t);
    r.Operator = WideString(t.substr(0, 1));
    TTsCondClass cls = table.Find(r.Operator);
    if (!cls) {
        r.Status = TTsCondParseStatus::UnknownOperator;
        return r;
    }
    TRpnScalar value = TRpnScalar::FromStr(WideString(TrimLeftView(t.substr(1))));
    r.Condition.Class = cls;
    r.Condition.Value = cls->PrepareValue(value, options);
    // Matchers build the same two items for every test: build them once.
    std::unique_ptr<TTsCondExpression> probe = cls->Create(r.Condition.Value, nullptr);
    if (auto* pre = dynamic_cast<TTsPrecompiledCondExpr*>(probe.get())) r.Condition.Items = pre->Compile(u"");
    r.Status = TTsCondParseStatus::Ok;
    return r;
}

std::unique_ptr<TTsCondExpression> CreateConditionObject(const TTsCondition& cond, const TTsCondEnvironment& env) {
    if (!cond.Class) return nullptr;
    std::unique_ptr<TTsCondExpression> e = cond.Class->Create(cond.Value, env.BaseNode);
    e->Options = env.Options;
    e->Stream = env.Input;
    e->ModelNode = env.ModelNode;
    e->NodeFinder = env.NodeFinder;
    e->SetFunctions(env.Functions);
    e->OnError = env.OnError;
    if (cond.Items)
        if (auto* pre = dynamic_cast<TTsPrecompiledCondExpr*>(e.get())) pre->SetItems(cond.Items);
    return e;
}

TTsValue EvaluateCondition(const TTsCondition& cond, const TTsCondEnvironment& env) {
    std::unique_ptr<TTsCondExpression> e = CreateConditionObject(cond, env);
    if (!e) return TTsValue::FromBool(true);
    return e->EvaluateValue();
}

std::optional<bool> ConditionHolds(const TTsCondition& cond, const TTsValue& result) {
    if (!result.Has(vkBool)) return std::nullopt;
    return result.Bool != cond.Negated;
}

bool TestCondition(const TTsCondition& cond, const TTsCondEnvironment& env) {
    if (!cond.Class) return true;
    std::unique_ptr<TTsCondExpression> e = CreateConditionObject(cond, env);
    std::optional<bool> holds = ConditionHolds(cond, e->EvaluateValue());
    if (!holds) throw ETsBadRpnValue(e.get(), RpnKind(valBool));
    return *holds;
}

}  // namespace ts
