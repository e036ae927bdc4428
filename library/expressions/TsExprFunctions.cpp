// The function object, its stack helpers, and the standard functions with
// the default registry that holds them.
#include "library/expressions/TsExprFunctions.h"

#include <unicode/uchar.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "library/core/TsNodes.h"
#include "library/expressions/rpn/Simpat.h"
#include "library/script/charset/Charsets.h"
#include "support/Strings.h"

namespace ts {

namespace {

constexpr int64_t kTransformBlock = 32768;
constexpr TRpnValueKinds K(TRpnValueKind k) { return RpnKind(k); }

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
int HexValue(char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; }

// Whether a tracer (a debugger) is attached to this process.
bool DebuggerAttached() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("TracerPid:", 0) == 0) return std::atol(line.c_str() + 10) != 0;
    return false;
}

}  // namespace

// ---- errors ------------------------------------------------------------------------

static WideString ExprText(const TTsExpression* e) { return e ? e->ExpressionText() : WideString(); }

ETsBadFuncContext::ETsBadFuncContext(const TTsExpression* expr, std::u16string_view className)
    : ETsFunction(expr, u"Required %s Context fields missing.", {className}) {}

ETsFuncNeedsBaseNode::ETsFuncNeedsBaseNode(const TTsExpression* expr, std::u16string_view className)
    : ETsFunction(expr, u"Calling function %s within RPN expression '%s' running in context without base node.",
                  {className, ExprText(expr)}) {}

ETsEmptyFuncArgument::ETsEmptyFuncArgument(const TTsExpression* expr, std::u16string_view className)
    : ETsFunction(expr, u"Function %s of RPN expression '%s' expects a non-empty argument.",
                  {className, ExprText(expr)}) {}

ETsBadExprCodepage::ETsBadExprCodepage(const TTsExpression* expr, const WideString& charset)
    : ETsFunction(expr, u"Cannot recognize codepage name '%s' in RPN expression '%s'.", {charset, ExprText(expr)}) {}

ETsBadExprStringToIntLength::ETsBadExprStringToIntLength(const TTsExpression* expr, std::string_view bytes)
    : ETsFunction(expr,
                  u"String [%s] to convert into number must be 1, 2, 4 or 8 bytes long but it's %d; RPN expression "
                  u"'%s'.",
                  {BytesToHexPairs(bytes, 10), static_cast<long long>(bytes.size()), ExprText(expr)}) {}

RawByteString HexToBin(std::string_view text) {
    std::string digits;
    digits.reserve(text.size());
    for (char c : text)
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_') digits += c;
    if (digits.size() % 2)
        throw EConvertError(u"Hex string must have even length, %d given.", {static_cast<long long>(digits.size())});
    RawByteString out(digits.size() / 2, '\0');
    for (size_t i = 0; i < out.size(); ++i) {
        char hi = digits[2 * i], lo = digits[2 * i + 1];
        if (!IsHexDigit(hi) || !IsHexDigit(lo))
            throw EConvertError(u"Hex string \"%s\" contains wrong symbol (0-9, A-F, a-f allowed).",
                                {std::string_view(digits)});
        out[i] = static_cast<char>(HexValue(hi) << 4 | HexValue(lo));
    }
    return out;
}

// ---- the function object ------------------------------------------------------------

TTsFunction::TTsFunction(const TTsFuncContext& context) : Context(context) {}

TTsFunction::~TTsFunction() = default;

TRpnValueStack& TTsFunction::Stack() const { return Expression().Evaluator()->Stack(); }

bool TTsFunction::Run() {
    // Checked here rather than on creation, where the class name is not yet
    // the final one.
    if (!Context.Expression || !Context.Target) throw ETsBadFuncContext(Context.Expression, ClassName());
    Execute();
    if (!Context.Target) {
        output_.reset();
        return false;
    }
    if (output_) {
        // The source was read to its end; put it back before the result
        // stream takes its place.
        Target().Rewind();
        output_->SetPosition(0);
        Target().AttachOwnedStream(std::move(output_));
    }
    return true;
}

void TTsFunction::TransformBufferedCallback(char*, int64_t) {
    throw EMethodNotFound(u"%s must implement TransformBufferedCallback when using TransformBuffered.", {ClassName()});
}

TTsRpnValueEx& TTsFunction::PopArgument() {
    TRpnScalar v = Stack().Pop();
    return Expression().Extended(v);
}

void TTsFunction::PopSubject() { Target().Assign(Stack().Pop()); }

TTsTreeNode& TTsFunction::RequireNode() const {
    if (!Target().Node) throw ETsFuncNeedsBaseNode(&Expression(), ClassName());
    return *Target().Node;
}

TTsTempStream& TTsFunction::Output() {
    if (!output_) output_ = std::make_unique<TTsTempStream>();
    return *output_;
}

void TTsFunction::TransformBuffered() {
    TStream& source = Target().GetStream();
    TTsTempStream& out = Output();
    std::vector<char> block(kTransformBlock);
    for (;;) {
        int64_t n = source.Read(block.data(), kTransformBlock);
        if (n <= 0) break;
        TransformBufferedCallback(block.data(), n);
        out.WriteBuffer(block.data(), n);
    }
}

void TTsFunctions::Register(std::u16string_view name, TTsFunctionClass cls) {
    RegisterHandler(name, TStandardCall{cls});
}

bool TTsFunctions::TStandardCall::operator()(TTsFuncContext& ctx) const {
    std::unique_ptr<TTsFunction> fn = Class->Create(ctx);
    return fn->Run();
}

TTsFunctionClass TTsFunctions::StandardClass(std::u16string_view name) const {
    const int first = IndexOf(name);
    if (first < 0 || NextIndexOf(first) >= 0) return nullptr;
    const auto* wrapper = static_cast<const TCallbackWrapper*>(Object(first));
    const auto* call = wrapper->Method->target<THandlerCall>();
    const auto* standard = call ? call->Handler.target<TStandardCall>() : nullptr;
    return standard ? standard->Class : nullptr;
}

// ---- matchers -----------------------------------------------------------------------

bool MatchBytesAt(TStream& input, std::string_view v) {
    if (v.empty()) return true;
    char small[256];
    std::vector<char> large;
    char* buf = small;
    if (v.size() > sizeof small) {
        large.resize(v.size());
        buf = large.data();
    }
    int64_t want = static_cast<int64_t>(v.size());
    int64_t got = input.Read(buf, want);
    if (got == want && std::memcmp(buf, v.data(), v.size()) == 0) return true;
    if (got > 0) input.Seek(-got, TSeekOrigin::soCurrent);
    return false;
}

bool MatchBlanksThen(TStream& input, std::string_view v) {
    char buf[256];
    for (;;) {
        int64_t n = input.Read(buf, sizeof buf);
        if (n <= 0) return true;  // blanks up to the end hold, and stay consumed
        int64_t i = 0;
        while (i < n && static_cast<unsigned char>(buf[i]) <= 32) ++i;
        if (i < n) {
            input.Seek(i - n, TSeekOrigin::soCurrent);
            break;
        }
    }
    return MatchBytesAt(input, v);
}

WideString SimplePatternText(std::string_view bytes) {
    WideString s;
    s.reserve(bytes.size());
    static constexpr char16_t hex[] = u"0123456789ABCDEF";
    for (unsigned char c : bytes) {
        if (c < 128) {
            s += static_cast<char16_t>(c);
        } else {
            s += u"\\x";
            s += hex[c >> 4];
            s += hex[c & 15];
        }
    }
    return s;
}

void TFnStreamMatcher::Execute() {
    RawByteString v = Operand(PopArgument());
    PopSubject();
    TTsRpnValueEx& t = Target();
    bool ok = Match(t.GetStream(), v);
    if (ok)
        t.Mark();
    else
        t.Rewind();
    t.AssignBool(ok);
}

bool TFnCmpExact::Match(TStream& input, std::string_view v) { return MatchBytesAt(input, v); }

bool TFnCmpSpaces::Match(TStream& input, std::string_view v) { return MatchBlanksThen(input, v); }

RawByteString TFnCmpHex::Operand(TTsRpnValueEx& arg) {
    RawByteString bytes = HexToBin(arg.GetBytes());
    if (bytes.empty()) throw ETsEmptyFuncArgument(&Expression(), ClassName());
    return bytes;
}

bool TFnCmpHex::Match(TStream& input, std::string_view v) { return MatchBytesAt(input, v); }

bool TFnCmpPattern::Match(TStream& input, std::string_view v) {
    if (v.empty()) throw ETsEmptyFuncArgument(&Expression(), ClassName());
    // The line break is converted once per expression, not per test.
    return MatchSimplePattern(SimplePatternText(v), input, Expression().LineBreakBytes());
}

// ---- nodes and position ----------------------------------------------------------------

void TFnSiblings::Execute() {
    PopSubject();
    TTsTreeNode* parent = RequireNode().Parent();
    int n = parent ? parent->ChildCount() : 0;
    Target().AssignNum(n);
    Target().SetBool(n > 0);
}

void TFnSelf::Execute() {
    PopSubject();
    TTsTreeNode& node = RequireNode();
    int n = 0;
    if (TTsExprModelNode* model = Expression().ModelNode) {
        const WideString& path = model->ModelPath();
        if (!path.empty()) n = node.ChildCount(path);
    } else if (TTsTreeNode* parent = node.Parent()) {
        n = parent->ChildCount(node.Name());
    }
    Target().AssignNum(n);
    Target().SetBool(n > 0);
}

void TFnIteration::Execute() {
    TTsExprModelNode* model = Expression().ModelNode;
    int32_t n = model ? model->ParentMatchCount() : 0;
    Target().AssignNum(n);
    Target().SetBool(n > 0);
}

void TFnLength::Execute() {
    PopSubject();
    TTsRpnValueEx& t = Target();
    int64_t n = t.Stream() ? t.RemainingBytes() : static_cast<int64_t>(t.GetBytes().size());
    t.AssignNum(static_cast<double>(n));
}

void TFnOffset::Execute() {
    PopSubject();
    int64_t pos = Target().GetStream().Position();
    Target().AssignNum(static_cast<double>(pos));
}

void TFnToOffset::Execute() {
    int64_t n = PopIntPart();
    PopSubject();
    TTsRpnValueEx& t = Target();
    TStream& s = t.GetStream();
    s.SetPosition(std::clamp<int64_t>(n, 0, s.Size()));
    t.Mark();
    t.AssignBool(true);
}

void TFnSkip::Execute() {
    int64_t n = PopIntPart();
    if (TStream* s = Expression().Stream; s && n > 0) {
        int64_t pos = s->Position();
        s->SetPosition(pos + std::min(n, std::max<int64_t>(s->Size() - pos, 0)));
    }
    Target().AssignBool(true);
}

void TFnSkipTo::Execute() {
    int64_t n = PopIntPart();
    if (TStream* s = Expression().Stream; s && s->Position() < n) s->SetPosition(std::min(n, s->Size()));
    Target().AssignBool(true);
}

void TFnEof::Execute() {
    PopSubject();
    Target().AssignBool(Target().RemainingBytes() <= 0);
}

void TFnHas::Execute() {
    PopSubject();
    Target().AssignBool(!Target().IsNull());
}

// ---- logic ---------------------------------------------------------------------------------

void TFnNot::Execute() {
    PopSubject();
    TTsRpnValueEx& t = Target();
    bool hasBool = t.Value.Has(valBool), hasNum = t.Value.Has(valNum), hasBytes = t.HasBytesOrStream();
    if (!hasBool && !hasNum && !hasBytes) throw ETsBadRpnValue(&Expression(), K(valBool) | K(valNum) | K(valBytes));
    TRpnScalar r;
    if (hasBool) {
        r.Bool = !t.Value.Bool;
        r.Kinds |= K(valBool);
    }
    if (hasNum) {
        r.Num = static_cast<double>(~TruncToInt64(t.Value.Num));
        r.Kinds |= K(valNum);
    }
    if (hasBytes) {
        TransformBuffered();
        // The result is the inverted stream, nothing of the subject.
        r.Kinds |= K(valCustom);
        r.Custom = &t;
        t.Node = nullptr;
    }
    t.Value = std::move(r);
}

void TFnNot::TransformBufferedCallback(char* block, int64_t count) {
    for (int64_t i = 0; i < count; ++i) block[i] = static_cast<char>(~block[i]);
}

static void GiveBytes(TTsRpnValueEx& v) {
    if (v.HasBytesOrStream()) return;
    if (v.Value.Has(valNum) && !v.Value.Has(valStr))
        v.SetBytes(RawByteString(1, static_cast<char>(TruncToInt64(v.Value.Num) & 0xFF)));
    else if (v.Value.Has(valStr))
        v.SetBytes(v.GetBytes());
}

void TFnAnd::Execute() {
    TTsRpnValueEx& b = PopArgument();
    PopSubject();
    TTsRpnValueEx& a = Target();
    GiveBytes(b);
    GiveBytes(a);
    const TRpnValueKinds need = K(valBool) | K(valBytes);
    if (!b.HasBytesOrStream() && !b.Value.Has(valBool)) throw ETsBadRpnValue(&Expression(), need);
    if (!a.HasBytesOrStream() && !a.Value.Has(valBool)) throw ETsBadRpnValue(&Expression(), need);

    if (a.Value.Has(valBool) && b.Value.Has(valBool)) {
        a.AssignBool(Combine(a.Value.Bool, b.Value.Bool));
        return;
    }
    if (!a.HasBytesOrStream() || !b.HasBytesOrStream()) throw ETsBadRpnValue(&Expression(), need);
    key_ = b.GetBytes();
    if (key_.empty()) throw ETsEmptyFuncArgument(&Expression(), ClassName());
    index_ = 0;
    TransformBuffered();
    a.ClearPlainValue();
    a.Node = nullptr;
}

void TFnAnd::TransformBufferedCallback(char* block, int64_t count) {
    const size_t n = key_.size();
    for (int64_t i = 0; i < count; ++i) {
        block[i] = static_cast<char>(CombineByte(static_cast<uint8_t>(block[i]), static_cast<uint8_t>(key_[index_])));
        if (++index_ == n) index_ = 0;
    }
}

// ---- text and bytes -------------------------------------------------------------------------

void TStringFunc::Execute() {
    PopSubject();
    TTsRpnValueEx& t = Target();
    bool hasText = t.Value.Has(valStr), hasBytes = t.HasBytesOrStream();
    if (!hasText && !hasBytes) throw ETsBadRpnValue(&Expression(), K(valBytes) | K(valStr));
    WideString text = hasText ? t.Value.Str : WideString();
    RawByteString bytes = hasBytes ? t.GetRawBytes() : RawByteString();
    Transform(text, bytes);
    if (!text.empty()) t.SetStr(std::move(text));
    if (!bytes.empty()) {
        // The transformed bytes are the value now; a stream kept beside them
        // would still be read as the original data.
        t.Rewind();
        t.DetachStream();
        t.SetBytes(std::move(bytes));
    }
}

void TFnReverse::Transform(WideString& text, RawByteString& bytes) {
    std::reverse(text.begin(), text.end());
    std::reverse(bytes.begin(), bytes.end());
}

void TFnLowerCase::Transform(WideString& text, RawByteString& bytes) {
    text = LowerCaseW(text);
    for (char& c : bytes)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
}

void TFnUpperCase::Transform(WideString& text, RawByteString& bytes) {
    text = UpperCaseW(text);
    for (char& c : bytes)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
}

void TFnInvertCase::Transform(WideString& text, RawByteString& bytes) {
    WideString out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        UChar32 c;
        U16_NEXT(text.data(), i, text.size(), c);
        UChar32 m = u_isupper(c) ? u_tolower(c) : u_toupper(c);
        char16_t units[2];
        int32_t len = 0;
        U16_APPEND_UNSAFE(units, len, m);
        out.append(units, static_cast<size_t>(len));
    }
    text = std::move(out);
    for (char& c : bytes) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 32);
        else if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 32);
    }
}

void TFnHexToBin::Execute() {
    PopSubject();
    Target().AssignBytes(HexToBin(Target().GetBytes()));
}

static WideString HexText(std::string_view bytes, bool separated) {
    static constexpr char16_t hex[] = u"0123456789ABCDEF";
    WideString s;
    s.reserve(bytes.size() * 3);
    for (unsigned char c : bytes) {
        if (separated && !s.empty()) s += u' ';
        s += hex[c >> 4];
        s += hex[c & 15];
    }
    return s;
}

void TFnBinToHex::Execute() {
    PopSubject();
    Target().AssignStr(HexText(Target().GetBytes(), false));
}

void TFnBinToHexSeparated::Execute() {
    PopSubject();
    Target().AssignStr(HexText(Target().GetBytes(), true));
}

void TFnCharset::Execute() {
    TTsRpnValueEx& cs = PopArgument();
    PopSubject();
    int32_t cp = CpUnknown;
    if (cs.Value.Has(valNum)) {
        int64_t n = TruncToInt64(cs.Value.Num);
        if (n >= INT32_MIN && n <= INT32_MAX) cp = static_cast<int32_t>(n);
    } else if (cs.Value.Has(valStr) || cs.Value.Has(valBytes)) {
        std::string name = cs.Value.Has(valStr) ? WideToUtf8(cs.Value.Str) : cs.Value.Bytes;
        bool digits = !name.empty() && name.size() <= 9 &&
                      std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
        cp = digits ? std::stoi(name) : CodepageOfCharset(name);
    }
    if (cp == CpUnknown || !IsCodepageSupported(cp))
        throw ETsBadExprCodepage(&Expression(), RpnValueToText(cs.Value, u"''"));

    TTsRpnValueEx& t = Target();
    bool hasText = t.Value.Has(valStr), hasBytes = t.HasBytesOrStream();
    if (hasText && hasBytes) return;
    if (hasText)
        t.AssignBytes(WideToBytes(cp, t.Value.Str));
    else if (hasBytes)
        t.AssignStr(BytesToWide(cp, t.GetRawBytes()));
    else
        throw ETsBadRpnValue(&Expression(), K(valBytes) | K(valStr));
}

void TFnToRaw::Execute() {
    PopSubject();
    TTsRpnValueEx& t = Target();
    t.AssignBytes(WideToBytes(Expression().Options.Codepage, t.GetStr(), -1, true));
}

void TFnFromRaw::Execute() {
    PopSubject();
    TTsRpnValueEx& t = Target();
    t.AssignStr(BytesToWide(Expression().Options.Codepage, t.GetRawBytes()));
}

void TFnToInt::Execute() {
    PopSubject();
    RawByteString b = Target().GetBytes();
    const auto* p = reinterpret_cast<const unsigned char*>(b.data());
    uint64_t u = 0;
    for (size_t i = b.size(); i-- > 0;) u = u << 8 | p[i];
    double n;
    switch (b.size()) {
        case 1:
        case 2:
        case 4:
            n = static_cast<double>(u);
            break;
        case 8:
            n = static_cast<double>(static_cast<int64_t>(u));
            break;
        default:
            throw ETsBadExprStringToIntLength(&Expression(), b);
    }
    Target().AssignNum(n);
}

void TFnFromInt::Execute() {
    PopSubject();
    int64_t n = TruncToInt64(Target().GetNum());
    size_t size = n >= INT32_MIN && n <= INT32_MAX ? 4 : 8;
    auto u = static_cast<uint64_t>(n);
    RawByteString b(size, '\0');
    for (size_t i = 0; i < size; ++i) b[i] = static_cast<char>(u >> (8 * i) & 0xFF);
    Target().AssignBytes(std::move(b));
}

// ---- files and the debugger -------------------------------------------------------------------

void TFnLoadFile::Execute() {
    WideString name = PopStr();
    Target().AttachOwnedStream(std::make_unique<TFileStreamW>(name, TFileMode::fmOpenRead));
}

void TFnSaveFile::Execute() {
    PopSubject();
    WideString name = PopStr();
    TTsRpnValueEx& t = Target();
    TFileStreamW file(name, TFileMode::fmCreate);
    if (t.Value.Has(valStr)) {
        file.WriteBytes(WideToUtf8(t.Value.Str));
    } else {
        TStream& data = t.GetStream();
        int64_t pos = data.Position();
        file.CopyFrom(data, 0);
        data.SetPosition(pos);
    }
}

void TFnDebuggerInterrupt::Execute() {
    // A breakpoint trap without a debugger would kill the process.
    if (DebuggerAttached()) std::raise(SIGTRAP);
    Target().AssignBool(true);
}

// ---- the default registry ------------------------------------------------------------------------

TTsFunctions& DefaultFunctionsStorage() {
    static TTsFunctions registry;
    return registry;
}

TTsFunctions& DefaultFunctions() {
    InitExpressionLayer();
    return DefaultFunctionsStorage();
}

void InitDefaultFunctions(TTsFunctions& r) {
    r.Register(u"sibl", FunctionClass<TFnSiblings>());
    r.Register(u"siblings", FunctionClass<TFnSiblings>());
    r.Register(u"len", FunctionClass<TFnLength>());
    r.Register(u"length", FunctionClass<TFnLength>());
    r.Register(u"self", FunctionClass<TFnSelf>());
    r.Register(u"iter", FunctionClass<TFnIteration>());
    r.Register(u"iteration", FunctionClass<TFnIteration>());
    r.Register(u"offset", FunctionClass<TFnOffset>());
    r.Register(u"tooffset", FunctionClass<TFnToOffset>());
    r.Register(u"skip", FunctionClass<TFnSkip>());
    r.Register(u"skipto", FunctionClass<TFnSkipTo>());
    r.Register(u"eof", FunctionClass<TFnEof>());
    r.Register(u"cmp_eq", FunctionClass<TFnCmpExact>());
    r.Register(u"cmp_space", FunctionClass<TFnCmpSpaces>());
    r.Register(u"cmp_hex", FunctionClass<TFnCmpHex>());
    r.Register(u"cmp_pat", FunctionClass<TFnCmpPattern>());
    r.Register(u"has", FunctionClass<TFnHas>());
    r.Register(u"not", FunctionClass<TFnNot>());
    r.Register(u"and", FunctionClass<TFnAnd>());
    r.Register(u"or", FunctionClass<TFnOr>());
    r.Register(u"xor", FunctionClass<TFnXor>());
    r.Register(u"rev", FunctionClass<TFnReverse>());
    r.Register(u"reverse", FunctionClass<TFnReverse>());
    r.Register(u"lower", FunctionClass<TFnLowerCase>());
    r.Register(u"upper", FunctionClass<TFnUpperCase>());
    r.Register(u"invcase", FunctionClass<TFnInvertCase>());
    r.Register(u"h2b", FunctionClass<TFnHexToBin>());
    r.Register(u"b2h", FunctionClass<TFnBinToHex>());
    r.Register(u"b2hh", FunctionClass<TFnBinToHexSeparated>());
    r.Register(u"charset", FunctionClass<TFnCharset>());
    r.Register(u"toraw", FunctionClass<TFnToRaw>());
    r.Register(u"fromraw", FunctionClass<TFnFromRaw>());
    r.Register(u"toint", FunctionClass<TFnToInt>());
    r.Register(u"fromint", FunctionClass<TFnFromInt>());
    r.Register(u"load", FunctionClass<TFnLoadFile>());
    r.Register(u"save", FunctionClass<TFnSaveFile>());
    r.Register(u"int3", FunctionClass<TFnDebuggerInterrupt>());
}

}  // namespace ts
