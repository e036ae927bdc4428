// Expression functions: TTsFunction (one object per call: Run, the stack
// helpers and TransformBuffered), the standard functions of the default
// registry (len, eof, skip, not, and, charset, toint, load, the four input
// matchers cmp_eq / cmp_space / cmp_hex / cmp_pat ...) and the ETsFunction
// errors. FunctionClass<T>() is the class reference to register a function.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "library/expressions/TsExpressions.h"
#include "library/modelling/streams/TsInputStreams.h"

namespace ts {

class TTsTreeNode;

// ---- errors -------------------------------------------------------------------

class ETsBadFuncContext : public ETsFunction {
public:
    ETsBadFuncContext(const TTsExpression* expr, std::u16string_view className);
    TS_EXCEPTION(ETsBadFuncContext)
};

class ETsFuncNeedsBaseNode : public ETsFunction {
public:
    ETsFuncNeedsBaseNode(const TTsExpression* expr, std::u16string_view className);
    TS_EXCEPTION(ETsFuncNeedsBaseNode)
};

class ETsEmptyFuncArgument : public ETsFunction {
public:
    ETsEmptyFuncArgument(const TTsExpression* expr, std::u16string_view className);
    TS_EXCEPTION(ETsEmptyFuncArgument)
};

class ETsBadExprCodepage : public ETsFunction {
public:
    ETsBadExprCodepage(const TTsExpression* expr, const WideString& charset);
    TS_EXCEPTION(ETsBadExprCodepage)
};

class ETsBadExprStringToIntLength : public ETsFunction {
public:
    ETsBadExprStringToIntLength(const TTsExpression* expr, std::string_view bytes);
    TS_EXCEPTION(ETsBadExprStringToIntLength)
};

// Hexadecimal text to bytes: characters other than 0-9, A-Z, a-z and "_" are
// dropped first; the rest must be an even number of hexadecimal digits
// (EConvertError otherwise).
RawByteString HexToBin(std::string_view text);

// The input matchers' tests, shared by their functions and by the matcher
// conditions that call them without an expression. Each reads from the
// position and, when it holds, leaves the input after what it matched.
// v follows at the position (empty v holds at once); otherwise the input
// is back where it was.
bool MatchBytesAt(TStream& input, std::string_view v);
// Blanks (bytes up to 32) are skipped, then v must follow; blanks up to the
// end hold without v. A failure may leave the input after the blanks.
bool MatchBlanksThen(TStream& input, std::string_view v);
// The pattern text whose UTF-8 form is exactly the given bytes: bytes above
// 127 become \xHH escapes, so patterns in any code page match byte for byte.
WideString SimplePatternText(std::string_view bytes);

// ---- the function object ---------------------------------------------------------

class TTsFunction : public TTsObject {
    TS_CLASS(TTsFunction)
public:
    explicit TTsFunction(const TTsFuncContext& context);
    ~TTsFunction() override;

    TTsFuncContext Context;

    // Execute, then hand the output stream (if any) to the Target. Returns
    // whether the call was accepted (the Target is still set). A context
    // without Expression or Target raises ETsBadFuncContext.
    bool Run();

protected:
    virtual void Execute() = 0;
    // Changes a block in place; needed by functions that use TransformBuffered.
    virtual void TransformBufferedCallback(char* block, int64_t count);

    TTsExpression& Expression() const { return *Context.Expression; }
    TTsRpnValueEx& Target() const { return *Context.Target; }
    TRpnValueStack& Stack() const;

    // The top value's extended part.
    TTsRpnValueEx& PopArgument();
    // The top value becomes the Target (value, node and stream).
    void PopSubject();
    double PopNum() { return Stack().PopNum(); }
    // Integer part, truncated toward zero.
    int64_t PopIntPart() { return TruncToInt64(Stack().PopNum()); }
    WideString PopStr() { return Stack().PopStr(); }
    // ETsFuncNeedsBaseNode without a Target node.
    TTsTreeNode& RequireNode() const;
    // The Target's stream from its position, block by block, through the
    // callback into the output stream.
    void TransformBuffered();
    TTsTempStream& Output();

private:
    std::unique_ptr<TTsTempStream> output_;
};

template <class T>
TTsFunctionClass FunctionClass() {
    static const TTsFunctionClassInfo info{
        {T::StaticClassName(), nullptr},
        [](const TTsFuncContext& ctx) -> std::unique_ptr<TTsFunction> { return std::make_unique<T>(ctx); }};
    return &info;
}

// ---- intermediate classes -----------------------------------------------------------

// Tests the input at the subject's stream against the argument's bytes.
// Success leaves the stream after the match (its start moves there);
// failure puts it back.
class TFnStreamMatcher : public TTsFunction {
    TS_CLASS(TFnStreamMatcher)
public:
    using TTsFunction::TTsFunction;

protected:
    void Execute() override;
    virtual bool Match(TStream& input, std::string_view v) = 0;
    // The argument's bytes as this matcher reads them.
    virtual RawByteString Operand(TTsRpnValueEx& arg) { return arg.GetBytes(); }
};

// Text or bytes transformed in place.
class TStringFunc : public TTsFunction {
    TS_CLASS(TStringFunc)
public:
    using TTsFunction::TTsFunction;

protected:
    void Execute() override;
    virtual void Transform(WideString& text, RawByteString& bytes) = 0;
};

#define TS_FUNCTION(Name, Base)  \
    class Name : public Base {   \
        TS_CLASS(Name)           \
    public:                      \
        using Base::Base;        \
                                 \
    protected:                   \
        void Execute() override; \
    };

TS_FUNCTION(TFnSiblings, TTsFunction)
TS_FUNCTION(TFnLength, TTsFunction)
TS_FUNCTION(TFnSelf, TTsFunction)
TS_FUNCTION(TFnIteration, TTsFunction)
TS_FUNCTION(TFnOffset, TTsFunction)
TS_FUNCTION(TFnToOffset, TTsFunction)
TS_FUNCTION(TFnSkip, TTsFunction)
TS_FUNCTION(TFnSkipTo, TTsFunction)
TS_FUNCTION(TFnEof, TTsFunction)
TS_FUNCTION(TFnHas, TTsFunction)
TS_FUNCTION(TFnHexToBin, TTsFunction)
TS_FUNCTION(TFnBinToHex, TTsFunction)
TS_FUNCTION(TFnBinToHexSeparated, TTsFunction)
TS_FUNCTION(TFnCharset, TTsFunction)
TS_FUNCTION(TFnToRaw, TTsFunction)
TS_FUNCTION(TFnFromRaw, TTsFunction)
TS_FUNCTION(TFnToInt, TTsFunction)
TS_FUNCTION(TFnFromInt, TTsFunction)
TS_FUNCTION(TFnLoadFile, TTsFunction)
TS_FUNCTION(TFnSaveFile, TTsFunction)
TS_FUNCTION(TFnDebuggerInterrupt, TTsFunction)
#undef TS_FUNCTION

class TFnNot : public TTsFunction {
    TS_CLASS(TFnNot)
public:
    using TTsFunction::TTsFunction;

protected:
    void Execute() override;
    void TransformBufferedCallback(char* block, int64_t count) override;
};

class TFnAnd : public TTsFunction {
    TS_CLASS(TFnAnd)
public:
    using TTsFunction::TTsFunction;

protected:
    void Execute() override;
    void TransformBufferedCallback(char* block, int64_t count) override;
    virtual bool Combine(bool a, bool b) const { return a && b; }
    virtual uint8_t CombineByte(uint8_t a, uint8_t b) const { return a & b; }

private:
    RawByteString key_;  // b's bytes, cycled over a
    size_t index_ = 0;   // position in key_, running on across blocks
};

class TFnOr : public TFnAnd {
    TS_CLASS(TFnOr)
public:
    using TFnAnd::TFnAnd;

protected:
    bool Combine(bool a, bool b) const override { return a || b; }
    uint8_t CombineByte(uint8_t a, uint8_t b) const override { return a | b; }
};

class TFnXor : public TFnAnd {
    TS_CLASS(TFnXor)
public:
    using TFnAnd::TFnAnd;

protected:
    bool Combine(bool a, bool b) const override { return a != b; }
    uint8_t CombineByte(uint8_t a, uint8_t b) const override { return a ^ b; }
};

#define TS_STRING_FUNC(Name)                                             \
    class Name : public TStringFunc {                                    \
        TS_CLASS(Name)                                                   \
    public:                                                              \
        using TStringFunc::TStringFunc;                                  \
                                                                         \
    protected:                                                           \
        void Transform(WideString& text, RawByteString& bytes) override; \
    };
TS_STRING_FUNC(TFnReverse)
TS_STRING_FUNC(TFnLowerCase)
TS_STRING_FUNC(TFnUpperCase)
TS_STRING_FUNC(TFnInvertCase)
#undef TS_STRING_FUNC

#define TS_MATCHER(Name)                                         \
    class Name : public TFnStreamMatcher {                       \
        TS_CLASS(Name)                                           \
    public:                                                      \
        using TFnStreamMatcher::TFnStreamMatcher;                \
                                                                 \
    protected:                                                   \
        bool Match(TStream& input, std::string_view v) override; \
    };
TS_MATCHER(TFnCmpExact)
TS_MATCHER(TFnCmpSpaces)
TS_MATCHER(TFnCmpPattern)
#undef TS_MATCHER

class TFnCmpHex : public TFnStreamMatcher {
    TS_CLASS(TFnCmpHex)
public:
    using TFnStreamMatcher::TFnStreamMatcher;

protected:
    bool Match(TStream& input, std::string_view v) override;
    RawByteString Operand(TTsRpnValueEx& arg) override;
};

}  // namespace ts
