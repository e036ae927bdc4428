// Condition operators of node lines: an optional "!", a one-character
// operator and a value ("% SP* ID+", "= text", "_ (", "x 0D0A", "? expr").
// The four byte matchers compile to a two-item expression (the value, then
// cmp_eq / cmp_space / cmp_hex / cmp_pat); "?" evaluates its value as an
// expression.
//
// Exposes the condition classes (TTsCondExpression, TCdExpression,
// TTsPrecompiledCondExpr, TCdExact, TCdSpaces, TCdHex, TCdSimpat) with their
// class references, the operator table TTsConditions and its default, and
// the two entry points the compiler and the engine use:
//   ParseCondition  - condition text -> (negated, operator class, prepared
//                     value), done once when a model is compiled;
//   EvaluateCondition / TestCondition - run a compiled condition at the
//                     input stream's position.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "library/expressions/TsExpressions.h"

namespace ts {

class TTsCondExpression;

// ---- class references -------------------------------------------------------------

struct TTsCondClassInfo : TClassInfo {
    // A new evaluation object holding the prepared value.
    std::unique_ptr<TTsCondExpression> (*Create)(const TRpnScalar& value, TTsTreeNode* baseNode);
    // The class-level value preparation, done once at compile time.
    TRpnScalar (*PrepareValue)(const TRpnScalar& value, const TTsOptions& options);
};
using TTsCondClass = const TTsCondClassInfo*;

template <class T>
TTsCondClass CondClass() {
    static const TTsCondClassInfo info{
        {T::StaticClassName(), nullptr},
        [](const TRpnScalar& value, TTsTreeNode* base) -> std::unique_ptr<TTsCondExpression> {
            return std::make_unique<T>(value, base);
        },
        &T::PrepareValue};
    return &info;
}

// ---- condition classes ----------------------------------------------------------------

class TTsCondExpression : public TTsExpression {
    TS_CLASS(TTsCondExpression)
public:
    TTsCondExpression(TRpnScalar value, TTsTreeNode* baseNode);
    const TRpnScalar& CondValue() const { return condValue_; }
    // Unchanged here.
    static TRpnScalar PrepareValue(const TRpnScalar& value, const TTsOptions& options);

protected:
    TRpnScalar condValue_;
};

// "?": the value is an expression whose boolean result is the test.
class TCdExpression : public TTsCondExpression {
    TS_CLASS(TCdExpression)
public:
    using TTsCondExpression::TTsCondExpression;
    // Bytes without text gain the text decoded with the options' code page.
    static TRpnScalar PrepareValue(const TRpnScalar& value, const TTsOptions& options);
    void Evaluate(TTsExpressionResult& result) override;
};

// Which library function a matcher calls.
enum class TTsMatcherKind { Exact, Spaces, Hex, Pattern };

// A matcher: the value, then a call of the matcher function. The item list
// is built, not parsed, and may be handed in ready-made (SetItems).
//
// While the registry holds nothing under the function's name but the
// library's own handler, a test calls the match directly, without building
// and evaluating the expression: same result, same input consumed, same
// errors. The object decides this on its first test and again only when the
// registry has changed since (its Seq), so a handler the caller registers
// under the name, before or after, is tried first as the expression would.
class TTsPrecompiledCondExpr : public TTsCondExpression {
    TS_CLASS(TTsPrecompiledCondExpr)
public:
    TTsPrecompiledCondExpr(TRpnScalar value, TTsTreeNode* baseNode);
    ~TTsPrecompiledCondExpr() override;
    // Text without bytes gains the bytes in the options' code page; a
    // character the code page lacks raises EConvertError.
    static TRpnScalar PrepareValue(const TRpnScalar& value, const TTsOptions& options);
    std::shared_ptr<const TCompiledRPN> Compile(std::u16string_view text) override;
    // "'value' function", as an equivalent expression text for messages.
    WideString ExpressionText() const override;
    // Reuses a list built by an earlier object of the same class and value.
    void SetItems(std::shared_ptr<const TCompiledRPN> items) { items_ = std::move(items); }
    virtual std::u16string_view FunctionName() const = 0;
    virtual TTsMatcherKind MatcherKind() const = 0;

    void Evaluate(TTsExpressionResult& result) override;
    // Whether a test now calls the match directly: the registry holds only
    // the library's handler under the name, the value is one that handler
    // accepts (else the expression raises its error) and there is a Stream.
    bool MatchesDirectly();

protected:
    // Appends the value as a constant.
    virtual void BuildItems(TCompiledRPN& list);

private:
    struct TDirectMatch;
    const TDirectMatch* DirectMatch();

    std::shared_ptr<const TCompiledRPN> items_;
    // The registry and its Seq when the direct way was last decided.
    const TTsFunctions* decidedFor_ = nullptr;
    int32_t decidedSeq_ = 0;
    bool direct_ = false;
    // The operand as the function would take it, made on the first direct
    // test; none when the function would refuse it.
    bool matchMade_ = false;
    std::unique_ptr<const TDirectMatch> match_;
};

#define TS_MATCHER_CONDITION(Name, Function, Kind)                                   \
    class Name : public TTsPrecompiledCondExpr {                                     \
        TS_CLASS(Name)                                                               \
    public:                                                                          \
        using TTsPrecompiledCondExpr::TTsPrecompiledCondExpr;                        \
        std::u16string_view FunctionName() const override { return Function; }       \
        TTsMatcherKind MatcherKind() const override { return TTsMatcherKind::Kind; } \
                                                                                     \
    protected:                                                                       \
        void BuildItems(TCompiledRPN& list) override;                                \
    };
TS_MATCHER_CONDITION(TCdExact, u"cmp_eq", Exact)
TS_MATCHER_CONDITION(TCdSpaces, u"cmp_space", Spaces)
TS_MATCHER_CONDITION(TCdHex, u"cmp_hex", Hex)
TS_MATCHER_CONDITION(TCdSimpat, u"cmp_pat", Pattern)
#undef TS_MATCHER_CONDITION

// ---- the operator table ---------------------------------------------------------------------

// One-character operator -> condition class; exact, case-sensitive keys.
class TTsConditions : public TTsClassList {
    TS_CLASS(TTsConditions)
public:
    // ETsClassListDuplicate for a taken operator.
    int Add(const WideString& op, TTsCondClass cls) { return TTsClassList::Add(op, cls); }
    TTsCondClass Find(std::u16string_view op) const { return static_cast<TTsCondClass>(ClassOf(op)); }

private:
    using TTsClassList::Add;  // only condition classes go in
};

// ? = _ x %, filled on first use.
TTsConditions& DefaultConditions();

// ---- compiled conditions ---------------------------------------------------------------------

struct TTsCondition {
    bool Negated = false;
    TTsCondClass Class = nullptr;  // none: the node has no condition
    TRpnScalar Value;              // prepared
    // The matchers' item list, built once when the condition is parsed.
    std::shared_ptr<const TCompiledRPN> Items;
};

enum class TTsCondParseStatus {
    Ok,
    NoCondition,      // the text is empty or blank
    BareNegation,     // "!" with nothing after it
    UnknownOperator,  // the operator is not in the table
};

struct TTsCondParseResult {
    TTsCondParseStatus Status = TTsCondParseStatus::NoCondition;
    TTsCondition Condition;
    WideString Operator;  // the operator character as written
    WideString Text;      // the trimmed text after any "!"
};

// Parses and prepares a condition text. The two failures of the syntax come
// back as a status so that the caller can name the node in its own error;
// a value the options' code page cannot represent raises EConvertError.
TTsCondParseResult ParseCondition(std::u16string_view text, const TTsConditions& table, const TTsOptions& options);

// What a condition is evaluated against.
struct TTsCondEnvironment {
    TTsOptions Options;
    TTsTreeNode* BaseNode = nullptr;        // references are relative to it
    TStream* Input = nullptr;               // read from its position, advanced by what matched
    TTsExprModelNode* ModelNode = nullptr;  // during modelling
    TTsNodeFinder* NodeFinder = nullptr;    // during modelling
    TTsFunctions* Functions = nullptr;      // none: the default registry
    TTsErrorEvent OnError;                  // receives node-reference failures when set
};

// A ready evaluation object for the condition (nullptr without a class).
std::unique_ptr<TTsCondExpression> CreateConditionObject(const TTsCondition& cond, const TTsCondEnvironment& env);
// The value the condition's test yields (a Boolean when well-formed). No
// class: true, nothing read.
TTsValue EvaluateCondition(const TTsCondition& cond, const TTsCondEnvironment& env);
// Whether a test result makes the condition hold: the Boolean differs from
// Negated. No Boolean: nullopt.
std::optional<bool> ConditionHolds(const TTsCondition& cond, const TTsValue& result);
// EvaluateCondition and ConditionHolds together; a result that is not a
// Boolean raises ETsBadRpnValue.
bool TestCondition(const TTsCondition& cond, const TTsCondEnvironment& env);

}  // namespace ts
