// RPNit: a small reverse-Polish expression evaluator. Text is compiled once
// into a list of operand and operator items (cached by its trimmed text) and
// evaluated on a bounded value stack. Exposes TRpnScalar and its helpers, the
// variable-character set, operator tables, RpnCompile, TRpnEvaluator and the
// ERPN error family. Knows nothing of trees or models; the expression layer
// builds on it by widening the variable characters, emptying the default
// operator table and resolving variables itself.
//
// Process-wide state (used by one thread at a time): the variable-character
// set, the default operator table and the compile cache. A layer that
// resolves every token itself reconfigures them once at start-up:
//     SetRpnVarChars(RpnVarChars() + u"...");   // widen the names
//     RpnDefaultOperators().Clear();              // no operators at all
// Either change drops the compile cache, so no list parsed under the old
// rules is handed out afterwards.
//
// Typical use:
//     auto list = RpnCompile(u"a 2 *");           // shared with the cache
//     TRpnEvaluator ev(*list);
//     ev.OnVariable = [](TRpnEvaluator&, const WideString& name, TRpnScalar& v) { ... };
//     TRpnScalar result;
//     ev.Evaluate(result);
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "support/Exception.h"
#include "support/Object.h"

namespace ts {

// ---------------------------------------------------------------- values

enum TRpnValueKind : uint8_t { valNum, valBool, valBytes, valStr, valCustom };
// A set of TRpnValueKind as bits (1 << kind); 0 is null.
using TRpnValueKinds = uint8_t;
constexpr TRpnValueKinds RpnKind(TRpnValueKind k) { return static_cast<TRpnValueKinds>(1u << k); }

// One value; may be seen as several kinds at once. Copied by value.
struct TRpnScalar {
    TRpnValueKinds Kinds = 0;
    double Num = 0;
    bool Bool = false;
    RawByteString Bytes;
    WideString Str;
    TObject* Custom = nullptr;  // borrowed: the expression layer owns it

    bool Has(TRpnValueKind k) const { return (Kinds & RpnKind(k)) != 0; }
    bool IsNull() const { return Kinds == 0; }
    // Back to null, keeping string capacity for reuse.
    void Clear();

    static TRpnScalar FromNum(double v);
    static TRpnScalar FromInt(int32_t v) { return FromNum(v); }
    static TRpnScalar FromBool(bool v);
    static TRpnScalar FromBytes(RawByteString v);
    static TRpnScalar FromStr(WideString v);
};

// Letters of the kinds present, in the order s r i b c; "-" for null.
WideString RpnKindLetters(TRpnValueKinds kinds);
// Text of the first present kind of str, bytes, num, bool; else defaultText.
WideString RpnValueToText(const TRpnScalar& v, std::u16string_view defaultText = u"null");
// Equality across kinds; raises EInvalidRpnOperation on incomparable kinds.
bool RpnValuesEqual(const TRpnScalar& a, const TRpnScalar& b);

// ---------------------------------------------------------------- errors

TS_SIMPLE_EXCEPTION(ERPN, Exception)
TS_SIMPLE_EXCEPTION(EEmptyRpnVarCharList, ERPN)
TS_SIMPLE_EXCEPTION(EDuplicateRpnOperator, ERPN)
TS_SIMPLE_EXCEPTION(EEmptyRPN, ERPN)
TS_SIMPLE_EXCEPTION(EWrongRpnSyntax, ERPN)
TS_SIMPLE_EXCEPTION(EUnterminatedString, EWrongRpnSyntax)
TS_SIMPLE_EXCEPTION(ERpnTooLong, EWrongRpnSyntax)

// The longest expression text, in characters (after trimming).
inline constexpr size_t RpnMaxLength = 65536;

class EInvalidRpnFloatStr : public ERPN {
public:
    EInvalidRpnFloatStr(WideString constant, WideString expression);
    const WideString& Constant() const { return constant_; }
    const WideString& Expression() const { return expression_; }
    TS_EXCEPTION(EInvalidRpnFloatStr)
private:
    WideString constant_, expression_;
};

TS_SIMPLE_EXCEPTION(ERpnEvaluation, ERPN)
TS_SIMPLE_EXCEPTION(EEmptyStackOperation, ERpnEvaluation)
TS_SIMPLE_EXCEPTION(EWrongTopStackValueKind, ERpnEvaluation)
TS_SIMPLE_EXCEPTION(EIntegerExpectedOnStackTop, ERpnEvaluation)
TS_SIMPLE_EXCEPTION(ENotEnoughRpnArguments, ERpnEvaluation)
TS_SIMPLE_EXCEPTION(EMissingRpnVariable, ERpnEvaluation)
TS_SIMPLE_EXCEPTION(EVariablelessRPN, ERpnEvaluation)
TS_SIMPLE_EXCEPTION(ENonEmptyRpnStack, ERpnEvaluation)
TS_SIMPLE_EXCEPTION(EEmptyRpnStack, ERpnEvaluation)
TS_SIMPLE_EXCEPTION(EInvalidRpnOperation, ERpnEvaluation)
// Our own: the value stack is bounded, and IEEE division by zero would
// otherwise slip through as an infinity.
TS_SIMPLE_EXCEPTION(ERpnStackOverflow, ERpnEvaluation)
TS_SIMPLE_EXCEPTION(ERpnDivisionByZero, ERpnEvaluation)

// ---------------------------------------------------------------- variable characters

// The characters allowed in variable names (initially a-z, 0-9 and "_").
const WideString& RpnVarChars();
// Raises EEmptyRpnVarCharList when chars is empty after leading whitespace;
// otherwise stores it and empties the compile cache.
void SetRpnVarChars(WideString chars);
// Case-insensitive membership: c or its lower-case form is in the lower-cased set.
bool IsRpnVarChar(char16_t c);

// ---------------------------------------------------------------- items

class TRpnEvaluator;

// Anything in a compiled list. The tag spares a dynamic_cast per item.
class TRpnItem : public TObject {
    TS_CLASS(TRpnItem)
public:
    enum class Role { Other, Value, Operator };
    Role ItemRole() const { return role_; }

protected:
    explicit TRpnItem(Role r = Role::Other) : role_(r) {}

private:
    Role role_;
};

class TRpnValue : public TRpnItem {
    TS_CLASS(TRpnValue)
public:
    virtual void GetValue(TRpnEvaluator& ev, TRpnScalar& value) const = 0;

protected:
    TRpnValue() : TRpnItem(Role::Value) {}
};

class TRpnConst : public TRpnValue {
    TS_CLASS(TRpnConst)
public:
    explicit TRpnConst(TRpnScalar v) : value_(std::move(v)) {}
    void GetValue(TRpnEvaluator& ev, TRpnScalar& value) const override;
    const TRpnScalar& Value() const { return value_; }

private:
    TRpnScalar value_;
};

// A name resolved at evaluation time by the evaluator's Variables provider
// or its OnVariable callback.
class TRpnVariable : public TRpnValue {
    TS_CLASS(TRpnVariable)
public:
    explicit TRpnVariable(WideString name) : name_(std::move(name)) {}
    void GetValue(TRpnEvaluator& ev, TRpnScalar& value) const override;
    const WideString& Name() const { return name_; }

private:
    WideString name_;
};

class TRpnOperator : public TRpnItem {
    TS_CLASS(TRpnOperator)
public:
    // Consumes operands from ev's stack and returns the result in result.
    virtual void Apply(TRpnEvaluator& ev, TRpnScalar& result) const = 0;
    // Class name without a leading "TRpn", as messages show it.
    WideString ShortName() const;

protected:
    TRpnOperator() : TRpnItem(Role::Operator) {}
};

class TRpnMathOperator : public TRpnOperator {
    TS_CLASS(TRpnMathOperator)
public:
    void Apply(TRpnEvaluator& ev, TRpnScalar& result) const override;
    virtual double Calculate(double a, double b) const = 0;
};

class TRpnCompOperator : public TRpnOperator {
    TS_CLASS(TRpnCompOperator)
public:
    void Apply(TRpnEvaluator& ev, TRpnScalar& result) const override;
    virtual bool Compare(double a, double b) const = 0;
};

#define TS_RPN_MATH(Name)                                    \
    class Name : public TRpnMathOperator {                   \
        TS_CLASS(Name)                                       \
    public:                                                  \
        double Calculate(double a, double b) const override; \
    };
TS_RPN_MATH(TRpnAdd)
TS_RPN_MATH(TRpnSubtract)
TS_RPN_MATH(TRpnMultiply)
TS_RPN_MATH(TRpnDivide)
TS_RPN_MATH(TRpnPower)
TS_RPN_MATH(TRpnModulus)
#undef TS_RPN_MATH

class TRpnMore : public TRpnCompOperator {
    TS_CLASS(TRpnMore)
public:
    bool Compare(double a, double b) const override { return a > b; }
};
class TRpnLess : public TRpnCompOperator {
    TS_CLASS(TRpnLess)
public:
    bool Compare(double a, double b) const override { return a < b; }
};

// Class references for operator and variable classes: a name and a factory.
struct TRpnOperatorClassInfo : TClassInfo {
    std::unique_ptr<TRpnOperator> (*Create)();
};
using TRpnOperatorClass = const TRpnOperatorClassInfo*;

struct TRpnVariableClassInfo : TClassInfo {
    std::unique_ptr<TRpnVariable> (*Create)(WideString name);
};
using TRpnVariableClass = const TRpnVariableClassInfo*;

template <class T>
TRpnOperatorClass RpnOperatorClass() {
    static const TRpnOperatorClassInfo info{{T::StaticClassName(), nullptr},
                                            []() -> std::unique_ptr<TRpnOperator> { return std::make_unique<T>(); }};
    return &info;
}

template <class T>
TRpnVariableClass RpnVariableClass() {
    static const TRpnVariableClassInfo info{
        {T::StaticClassName(), nullptr},
        [](WideString name) -> std::unique_ptr<TRpnVariable> { return std::make_unique<T>(std::move(name)); }};
    return &info;
}

// The compiled form: an owning ordered list of items. Lists may also be
// built by hand (the condition operators do).
class TCompiledRPN : public TObject {
    TS_CLASS(TCompiledRPN)
public:
    void Add(std::unique_ptr<TRpnItem> item) { items_.push_back(std::move(item)); }
    size_t Count() const { return items_.size(); }
    const TRpnItem& operator[](size_t i) const { return *items_[i]; }
    void Reverse();

private:
    std::vector<std::unique_ptr<TRpnItem>> items_;
};

// ---------------------------------------------------------------- operator table

// Maps one character to an operator class. Characters 0..254 use direct
// slots; 255 and above go to a hash.
class TRpnOperators {
public:
    void Clear();
    void Assign(const TRpnOperators& other);
    // Raises EDuplicateRpnOperator when c is taken.
    void Add(char16_t c, TRpnOperatorClass cls);
    TRpnOperatorClass Find(char16_t c) const {
        if (c < 255) return direct_[c];
        auto it = hashed_.find(c);
        return it == hashed_.end() ? nullptr : it->second;
    }
    bool Has(char16_t c) const { return Find(c) != nullptr; }
    int DirectCount() const { return directCount_; }
    // Bumped on every change; the compile cache uses it to notice edits to
    // the default table.
    uint64_t Generation() const { return generation_; }

private:
    std::array<TRpnOperatorClass, 256> direct_{};
    std::unordered_map<char16_t, TRpnOperatorClass> hashed_;
    int directCount_ = 0;
    uint64_t generation_ = 0;
};

// The process-wide default table, created on first use with + - * / ^ % > <.
TRpnOperators& RpnDefaultOperators();
// Adds to the default table (EDuplicateRpnOperator when taken).
void RpnAddDefaultOperator(char16_t c, TRpnOperatorClass cls);

// ---------------------------------------------------------------- compiling

struct TRpnCompileSettings {
    bool UseCache = true;
    bool Reversed = false;
    TRpnVariableClass VariableClass = RpnVariableClass<TRpnVariable>();
    const TRpnOperators* Operators = nullptr;  // none: the default table
};

// Compiles text. Cached results are shared with the cache, so emptying the
// cache never invalidates a list still in use. The cache is keyed by the
// trimmed text together with Reversed and VariableClass (a list compiled one
// way is never handed out for another), and is dropped whenever the variable
// characters or the default operator table change.
std::shared_ptr<const TCompiledRPN> RpnCompile(std::u16string_view text, const TRpnCompileSettings& settings = {});
// Empties the compile cache.
void RpnClearCompileCache();
size_t RpnCompileCacheSize();
// Lists kept per way of compiling; a new one beyond it empties that part.
inline constexpr size_t RpnCompileCacheLimit = 4096;

// ---------------------------------------------------------------- evaluation

// Bounded value stack. Storage grows on demand (so an evaluator per
// evaluation stays cheap) up to Capacity; pushing beyond raises
// ERpnStackOverflow. Pops move values out: no copies of strings.
class TRpnValueStack {
public:
    static constexpr int32_t Capacity = 8192;

    void Push(TRpnScalar&& v);
    void Push(const TRpnScalar& v) { Push(TRpnScalar(v)); }
    TRpnScalar Pop();
    double PopNum();
    // A number without fractional part.
    double PopInt();
    WideString PopStr();
    // Exactly one value must remain.
    TRpnScalar PopResult();
    bool IsEmpty() const { return count_ == 0; }
    int32_t Count() const { return count_; }
    void Clear() { count_ = 0; }
    // i counts from the bottom (0) to Count() - 1.
    TRpnScalar& At(int32_t i) { return items_[static_cast<size_t>(i)]; }
    const TRpnScalar& At(int32_t i) const { return items_[static_cast<size_t>(i)]; }
    // Removes the value at i, moving those above it down.
    void RemoveAt(int32_t i);

private:
    std::vector<TRpnScalar> items_;
    int32_t count_ = 0;
};

// Variable provider: answers whether the name exists and fills value.
class TRpnVariables {
public:
    virtual ~TRpnVariables() = default;
    virtual bool Lookup(TRpnEvaluator& ev, const WideString& name, TRpnScalar& value) = 0;
};

using TRpnVariableEvent = std::function<void(TRpnEvaluator& ev, const WideString& name, TRpnScalar& value)>;

class TRpnEvaluator : public TObject {
    TS_CLASS(TRpnEvaluator)
public:
    // compiled is borrowed and must outlive the evaluator's use.
    explicit TRpnEvaluator(const TCompiledRPN& compiled) : compiled_(&compiled) {}

    // Pushes every item's value in turn, then GetResult. The stack is not
    // cleared first; on failure the values pushed so far stay on it.
    void Evaluate(TRpnScalar& result);
    // Pops the single remaining value; derived evaluators may relax that.
    virtual void GetResult(TRpnScalar& result);

    const TCompiledRPN& Compiled() const { return *compiled_; }
    TRpnValueStack& Stack() { return stack_; }
    // A copy of the default table, taken on first use: nothing in evaluation
    // reads it, so evaluators that never ask pay nothing.
    TRpnOperators& Operators();

    TRpnVariables* Variables = nullptr;  // borrowed
    TRpnVariableEvent OnVariable;

private:
    const TCompiledRPN* compiled_;
    TRpnValueStack stack_;
    std::unique_ptr<TRpnOperators> operators_;
};

}  // namespace ts
