// The library's expression layer over the RPN evaluator: every token that is
// not a number or a quoted string is resolved here, as a comparison or
// arithmetic token, a call of a registered function or a reference to a node
// of the tree being built ("path$property", "path?" when optional). Stack
// values may carry, besides the plain value, the node they came from and a
// byte stream positioned in the input (TTsRpnValueEx).
//
// Exposes TTsRpnValueEx, TTsExpression, TTsRpnEvaluator, TTsExpressionResult,
// the function registry TTsFunctions with TTsFuncContext, the model-node
// interface the engine implements (TTsExprModelNode), the scalar/value
// conversions, the ETsExpression and ETsFunctions error families and
// InitExpressionLayer (the process-wide start-up configuration, run once on
// first use of the layer).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "library/core/TsBase.h"
#include "library/core/TsHashes.h"
#include "library/expressions/rpn/RPNit.h"
#include "support/Streams.h"

namespace ts {

class TTsExpression;
class TTsFunctions;
class TTsNodeFinder;
class TTsRpnValueEx;
class TTsTreeNode;

// ---- start-up ---------------------------------------------------------------

// Widens the RPN variable characters by ".\/$?<=>+-*/[]!", empties the default
// operator table and fills the default function registry and condition
// table. Idempotent; every entry point of the layer calls it.
void InitExpressionLayer();

// ---- the model node during modelling --------------------------------------------

// What an expression needs from the model node being tried. The modelling
// engine's node implements it; outside modelling an expression has none.
class TTsExprModelNode {
public:
    virtual ~TTsExprModelNode() = default;
    // The node's result path (empty when it has none).
    virtual const WideString& ModelPath() const = 0;
    // How many children the node's parent has matched since its start or
    // its last resetter.
    virtual int32_t ParentMatchCount() const = 0;
    // A stream over the span a property value describes when the span lies
    // in one of the run's streams; nullptr otherwise.
    virtual std::unique_ptr<TStream> OpenSpan(const TTsValue& value) = 0;
};

// ---- errors --------------------------------------------------------------------

class ETsExpression : public ETessarine {
public:
    ETsExpression(const TTsExpression* expr, std::u16string_view format, FormatArgs args)
        : ETessarine(format, args), Expression(expr) {}
    const TTsExpression* Expression;  // borrowed
    TS_EXCEPTION(ETsExpression)
};

class ETsBadRpnValueCustom : public ETsExpression {
public:
    explicit ETsBadRpnValueCustom(const TTsExpression* expr);
    TS_EXCEPTION(ETsBadRpnValueCustom)
};

class ETsRpnValueNotExtended : public ETsExpression {
public:
    explicit ETsRpnValueNotExtended(const TTsExpression* expr);
    TS_EXCEPTION(ETsRpnValueNotExtended)
};

class ETsExprNoNode : public ETsExpression {
public:
    ETsExprNoNode(const TTsExpression* expr, const WideString& path, const WideString& basePath,
                  const WideString& finderState);
    WideString Path;
    TS_EXCEPTION(ETsExprNoNode)
};

class ETsBadRpnValue : public ETsExpression {
public:
    ETsBadRpnValue(const TTsExpression* expr, TRpnValueKinds required);
    TRpnValueKinds Required;
    TS_EXCEPTION(ETsBadRpnValue)
};

class ETsExprNoBaseNode : public ETsExpression {
public:
    ETsExprNoBaseNode(const TTsExpression* expr, const WideString& path);
    WideString Path;
    TS_EXCEPTION(ETsExprNoBaseNode)
};

class ETsReadingLongRawStream : public ETsExpression {
public:
    ETsReadingLongRawStream(const TTsExpression* expr, int64_t length);
    TS_EXCEPTION(ETsReadingLongRawStream)
};

// Root of the function errors (their classes are with the functions).
class ETsFunction : public ETsExpression {
public:
    using ETsExpression::ETsExpression;
    TS_EXCEPTION(ETsFunction)
};

class ETsFunctions : public ETessarine {
public:
    ETsFunctions(const TTsFunctions* registry, std::u16string_view format, FormatArgs args)
        : ETessarine(format, args), Registry(registry) {}
    const TTsFunctions* Registry;  // borrowed
    TS_EXCEPTION(ETsFunctions)
};

class ETsUnknownExprFunction : public ETsFunctions {
public:
    ETsUnknownExprFunction(const TTsFunctions* registry, const WideString& name, const WideString& known);
    WideString Name;
    TS_EXCEPTION(ETsUnknownExprFunction)
};

class ETsUnsupportedExprFunction : public ETsFunctions {
public:
    ETsUnsupportedExprFunction(const TTsFunctions* registry, const WideString& name, const TTsExpression* expr);
    WideString Name;
    const TTsExpression* Expression;
    TS_EXCEPTION(ETsUnsupportedExprFunction)
};

// "valNum, valStr" for a kind set; "<none>" for the empty set.
WideString RpnKindNames(TRpnValueKinds kinds);

// ---- conversions ---------------------------------------------------------------

// Str, Raw, Bool and Float (else Int) carry over; the rest is dropped.
TRpnScalar TsValueToScalar(const TTsValue& v);
// valNum gives Float (and Int when integral and within 32 bits); valBool,
// valBytes and valStr give Bool, Raw and Str.
TTsValue ScalarToTsValue(const TRpnScalar& v);

// Integer part of a number, truncated toward zero and saturated to the 64-bit
// range (NaN gives 0), so that no conversion is undefined.
int64_t TruncToInt64(double v);

// ---- extended values -------------------------------------------------------------

// The extended part of a stack value: its Value carries valCustom with Custom
// pointing back here. Owned by the expression that created it.
class TTsRpnValueEx : public TObject {
    TS_CLASS(TTsRpnValueEx)
public:
    // Values read as raw bytes from a stream are capped below this length.
    static constexpr int64_t MaxRawStreamLength = 83886080;

    explicit TTsRpnValueEx(TTsExpression& owner);
    ~TTsRpnValueEx() override;
    TTsRpnValueEx(const TTsRpnValueEx&) = delete;
    TTsRpnValueEx& operator=(const TTsRpnValueEx&) = delete;

    TTsExpression& Owner() const { return *owner_; }

    TRpnScalar Value;
    TTsTreeNode* Node = nullptr;  // borrowed
    int64_t Start = 0;            // Stream's position when attached or last marked
    bool IsInitial = false;

    TStream* Stream() const { return stream_; }
    bool OwnsStream() const { return ownedStream_ != nullptr; }

    // No kind other than valCustom, no Node and no Stream.
    bool IsNull() const;
    bool HasAll(TRpnValueKinds kinds) const { return (Value.Kinds & kinds) == kinds; }
    bool HasAny(TRpnValueKinds kinds) const { return (Value.Kinds & kinds) != 0; }
    bool HasBytesOrStream() const { return stream_ != nullptr || Value.Has(valBytes); }
    // ETsBadRpnValue unless the value has one of the kinds.
    void RequireKinds(TRpnValueKinds anyOf) const;

    bool GetBool() const;
    double GetNum() const;
    const WideString& GetStr() const;
    // With a Stream: its bytes from Start to the end (the stream's position
    // is left as it was); else the value's bytes (valBytes required).
    RawByteString GetRawBytes();
    // Raw bytes when there are bytes or a stream; else the text encoded with
    // the owner's code page.
    RawByteString GetBytes();
    // Stream when attached; else a stream over the value's bytes, made once.
    TStream& GetStream();
    // Bytes left in GetStream() (size minus position).
    int64_t RemainingBytes();

    // Replaces the stream (freeing an owned one) and records Start.
    void AttachStream(TStream* stream);
    void AttachOwnedStream(std::unique_ptr<TStream> stream);
    void DetachStream();
    // Stream back to Start, the bytes stream back to 0.
    void Rewind();
    // Start := the stream's position.
    void Mark();

    // Add a kind, keeping the others.
    void SetBool(bool v);
    void SetNum(double v);
    void SetBytes(RawByteString v);
    void SetStr(WideString v);
    // Replace the whole value by a plain one of that kind (no valCustom).
    void AssignBool(bool v);
    void AssignNum(double v);
    void AssignBytes(RawByteString v);
    void AssignStr(WideString v);
    // Copies the scalar, the Node and the Stream (attached at its current
    // position, not owned); a plain scalar brings neither node nor stream.
    void Assign(const TRpnScalar& v);
    // Keeps only valCustom, so the value stands for its Node and Stream.
    void ClearPlainValue();

private:
    void SetCustom();

    TTsExpression* owner_;
    TStream* stream_ = nullptr;
    std::unique_ptr<TStream> ownedStream_;
    std::unique_ptr<TMemoryStream> bytesStream_;
};

// ---- the function registry -------------------------------------------------------

// What a function receives: the token, the calling expression and the value
// that takes its result. A handler declines by clearing Target.
struct TTsFuncContext {
    WideString Name;
    TTsExpression* Expression = nullptr;
    TTsRpnValueEx* Target = nullptr;
};

// Answers whether it accepted the call.
using TTsFunctionHandler = std::function<bool(TTsFuncContext& context)>;

class TTsFunction;
struct TTsFunctionClassInfo : TClassInfo {
    std::unique_ptr<TTsFunction> (*Create)(const TTsFuncContext& context);
};
using TTsFunctionClass = const TTsFunctionClassInfo*;

// Function name -> handlers. A later registration under a name is tried
// before the earlier ones.
class TTsFunctions : public TTsCallbacks {
    TS_CLASS(TTsFunctions)
public:
    TTsFunctions() = default;

    // Registers the standard handler of the class: create, Run, free.
    void Register(std::u16string_view name, TTsFunctionClass cls);
    void RegisterHandler(std::u16string_view name, TTsFunctionHandler handler);
    // Copies every registration of another registry, keeping their order.
    void AssignFrom(const TTsFunctions& other);

    // Tries the handlers of the name, most recent first, until one accepts;
    // the Target is rewound after each attempt. False when all decline;
    // ETsUnknownExprFunction when the name has none.
    bool Call(std::u16string_view name, TTsFuncContext& context);
    // The handlers of a name, most recent first.
    int Handlers(std::u16string_view name, TTsCallbackList& out) const { return Collect(name, out); }
    // Every registered name once, in registry order, joined by ", ".
    WideString NamesText() const;
    // The class whose standard handler (Register) is the name's only
    // handler; nullptr when the name has none, several, or one of the
    // caller's own. Matcher conditions call their match directly only while
    // this names the library's function (Seq() tells them when to ask again).
    TTsFunctionClass StandardClass(std::u16string_view name) const;

private:
    // Named types rather than lambdas, so that StandardClass can recognise
    // a standard registration, also in a copy made by AssignFrom.
    struct THandlerCall {
        TTsFunctionHandler Handler;
        bool operator()(TObject& sender, TTsArgs args, TTsValue& result) const;
    };
    struct TStandardCall {
        TTsFunctionClass Class;
        bool operator()(TTsFuncContext& context) const;
    };

    WideString NextValueText();
    uint32_t registrations_ = 0;
};

// The process-wide registry, filled with the standard functions.
TTsFunctions& DefaultFunctions();

// ---- expressions -------------------------------------------------------------------

struct TTsExpressionResult {
    TTsValue Value;
    TTsTreeNode* Node = nullptr;  // borrowed
    TStream* Stream = nullptr;    // borrowed: owned by the expression's values or the caller
};

// Drops the initial value when it lies under the single result.
class TTsRpnEvaluator : public TRpnEvaluator {
    TS_CLASS(TTsRpnEvaluator)
public:
    explicit TTsRpnEvaluator(const TCompiledRPN& compiled) : TRpnEvaluator(compiled) {}
    void SetInitial(const TTsRpnValueEx* initial) { initial_ = initial; }
    void GetResult(TRpnScalar& result) override;

private:
    const TTsRpnValueEx* initial_ = nullptr;
};

class TTsExpression : public TTsObject {
    TS_CLASS(TTsExpression)
public:
    TTsExpression(WideString text, TTsTreeNode* baseNode);
    ~TTsExpression() override;

    WideString Text;
    TTsTreeNode* BaseNode = nullptr;  // borrowed
    TStream* Stream = nullptr;        // borrowed: the input; matching starts at its position
    TRpnScalar Result;                // of the last successful evaluation
    TTsExpressionResult ExpressionResult;
    TTsExprModelNode* ModelNode = nullptr;  // borrowed; set during modelling
    TTsNodeFinder* NodeFinder = nullptr;    // borrowed; resolves references during modelling
    // Called before NodeFinder resolves a reference: the owner fills in what
    // the finder needs then, rather than before every evaluation.
    std::function<void()> PrepareFinder;
    TTsOptions Options;

    // The evaluator of the last evaluation; nil before the first. Evaluating
    // the same compiled text again reuses it.
    TTsRpnEvaluator* Evaluator() const { return evaluator_.get(); }
    // None stands for the default registry; setting the default stores none.
    TTsFunctions* Functions() const { return functions_; }
    void SetFunctions(TTsFunctions* functions);
    TTsFunctions& EffectiveFunctions() const;

    virtual std::shared_ptr<const TCompiledRPN> Compile(std::u16string_view text);
    // Evaluates Text against BaseNode and Stream; fills Result and
    // ExpressionResult. A failure leaves those of the previous evaluation.
    virtual void Evaluate(TTsExpressionResult& result);
    TTsValue EvaluateValue();
    // The text errors quote.
    virtual WideString ExpressionText() const { return Text; }
    // Options.LineBreak in Options.Codepage. Kept between evaluations (a
    // pattern test needs it every time) and redone when either changes.
    const RawByteString& LineBreakBytes();

    // The extended part of v, created (and v given valCustom) when missing.
    TTsRpnValueEx& Extended(TRpnScalar& v);
    // ETsRpnValueNotExtended when v has none.
    TTsRpnValueEx& RequireExtended(const TRpnScalar& v) const;
    // nullptr without valCustom; ETsBadRpnValueCustom for a foreign Custom.
    TTsRpnValueEx* ExtendedOf(const TRpnScalar& v) const;
    // A new extended value owned by this expression (null, with valCustom).
    TTsRpnValueEx& NewValue();

protected:
    // The evaluator's OnVariable.
    void ResolveToken(TRpnEvaluator& ev, const WideString& name, TRpnScalar& value);

private:
    bool ResolveOperatorToken(TRpnValueStack& stack, std::u16string_view name, TRpnScalar& value);
    void CallFunction(const WideString& name, TRpnScalar& value);
    void ResolveNodeReference(const WideString& name, TRpnScalar& value);
    TTsTreeNode* FindNode(const WideString& path);

    TTsFunctions* functions_ = nullptr;
    std::unique_ptr<TTsRpnEvaluator> evaluator_;
    std::shared_ptr<const TCompiledRPN> compiled_;  // what evaluator_ runs
    // Values of the evaluation under way (or of a failed one) and of the last
    // successful one, which Result and ExpressionResult may refer to.
    std::vector<std::unique_ptr<TTsRpnValueEx>> values_;
    std::vector<std::unique_ptr<TTsRpnValueEx>> keptValues_;
    // LineBreakBytes() and what it was made from.
    RawByteString lineBreakBytes_;
    WideString lineBreakText_;
    int32_t lineBreakCodepage_ = 0;
    bool lineBreakReady_ = false;
};

}  // namespace ts
