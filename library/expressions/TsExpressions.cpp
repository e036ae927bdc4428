// The expression layer: extended values, token resolution (comparison and
// arithmetic tokens, function calls, node references), the function registry
// and the conversions between RPN scalars and the library's values.
#include "library/expressions/TsExpressions.h"

#include <cmath>
#include <limits>
#include <mutex>

#include "library/core/TsNodePaths.h"
#include "library/core/TsNodes.h"
#include "library/script/charset/Charsets.h"
#include "support/Strings.h"

namespace ts {

namespace {
constexpr TRpnValueKinds kCustom = RpnKind(valCustom);
}  // namespace

// ---- start-up ------------------------------------------------------------------

class TTsConditions;

void InitDefaultFunctions(TTsFunctions& registry);  // TsExprFunctions.cpp
void InitDefaultConditions(TTsConditions& table);   // TsConditions.cpp
TTsFunctions& DefaultFunctionsStorage();            // TsExprFunctions.cpp
TTsConditions& DefaultConditionsStorage();          // TsConditions.cpp

void InitExpressionLayer() {
    // Once per process, whichever thread comes first; the others wait for
    // it. Afterwards the tables only change by a user's own registration.
    static std::once_flag once;
    std::call_once(once, [] {
        // Paths and the tokens below must be single variable tokens, and every
        // one of them is resolved here rather than by RPN operators. "!" is
        // among them so that "!=" can be written at all.
        SetRpnVarChars(RpnVarChars() + u".\\/$?<=>+-*/[]!");
        RpnDefaultOperators().Clear();
        InitDefaultFunctions(DefaultFunctionsStorage());
        InitDefaultConditions(DefaultConditionsStorage());
        // Lookups into the shared registry must not build its index lazily.
        DefaultFunctionsStorage().PrepareSharedReading();
    });
}

// ---- errors ----------------------------------------------------------------------

WideString RpnKindNames(TRpnValueKinds kinds) {
    static constexpr std::u16string_view names[] = {u"valNum", u"valBool", u"valBytes", u"valStr", u"valCustom"};
    WideString s;
    for (int k = valNum; k <= valCustom; ++k) {
        if (!(kinds & RpnKind(static_cast<TRpnValueKind>(k)))) continue;
        if (!s.empty()) s += u", ";
        s += names[k];
    }
    return s.empty() ? WideString(u"<none>") : s;
}

static WideString TextOf(const TTsExpression* expr) { return expr ? expr->ExpressionText() : WideString(); }

ETsBadRpnValueCustom::ETsBadRpnValueCustom(const TTsExpression* expr)
    : ETsExpression(expr, u"RPN value has valCustom Kind but it's not a TTsRpnValueEx instance.", {}) {}

ETsRpnValueNotExtended::ETsRpnValueNotExtended(const TTsExpression* expr)
    : ETsExpression(expr, u"Expected an extended RPN value.", {}) {}

ETsExprNoNode::ETsExprNoNode(const TTsExpression* expr, const WideString& path, const WideString& basePath,
                             const WideString& finderState)
    : ETsExpression(expr, u"Cannot find node '%s' relative to '%s' referenced in RPN expression%s '%s'.",
                    {path, basePath, finderState, TextOf(expr)}),
      Path(path) {}

ETsBadRpnValue::ETsBadRpnValue(const TTsExpression* expr, TRpnValueKinds required)
    : ETsExpression(expr, u"Required value type missing (any of '%s') in RPN expression '%s'.",
                    {RpnKindNames(required), TextOf(expr)}),
      Required(required) {}

ETsExprNoBaseNode::ETsExprNoBaseNode(const TTsExpression* expr, const WideString& path)
    : ETsExpression(expr,
                    u"Attempted to reference node '%s' within RPN expression '%s' running in context without base "
                    u"node.",
                    {path, TextOf(expr)}),
      Path(path) {}

ETsReadingLongRawStream::ETsReadingLongRawStream(const TTsExpression* expr, int64_t length)
    : ETsExpression(expr,
                    u"Attempted to read more than %d-byte string from raw stream %d bytes long while evaluating '%s'.",
                    {TTsRpnValueEx::MaxRawStreamLength - 1, static_cast<long long>(length), TextOf(expr)}) {}

ETsUnknownExprFunction::ETsUnknownExprFunction(const TTsFunctions* registry, const WideString& name,
                                               const WideString& known)
    : ETsFunctions(registry, u"Attempted to call unregistered RPN expression function '%s' - known ones: %s.",
                   {name, known}),
      Name(name) {}

ETsUnsupportedExprFunction::ETsUnsupportedExprFunction(const TTsFunctions* registry, const WideString& name,
                                                       const TTsExpression* expr)
    : ETsFunctions(registry,
                   u"No registered RPN expression function handler for '%s' can operate on given parameters in RPN "
                   u"expression '%s'.",
                   {name, TextOf(expr)}),
      Name(name),
      Expression(expr) {}

// ---- conversions --------------------------------------------------------------------

TRpnScalar TsValueToScalar(const TTsValue& v) {
    TRpnScalar s;
    if (v.Has(vkString)) {
        s.Str = v.Str;
        s.Kinds |= RpnKind(valStr);
    }
    if (v.Has(vkRaw)) {
        s.Bytes = v.Raw();
        s.Kinds |= RpnKind(valBytes);
    }
    if (v.Has(vkBool)) {
        s.Bool = v.Bool;
        s.Kinds |= RpnKind(valBool);
    }
    if (v.Has(vkFloat)) {
        s.Num = v.Float;
        s.Kinds |= RpnKind(valNum);
    } else if (v.Has(vkInt)) {
        s.Num = v.Int;
        s.Kinds |= RpnKind(valNum);
    }
    return s;
}

TTsValue ScalarToTsValue(const TRpnScalar& v) {
    TTsValue t;
    if (v.Has(valNum)) {
        t.Float = v.Num;
        t.Kinds |= vkFloat;
        if (std::trunc(v.Num) == v.Num && v.Num >= INT32_MIN && v.Num <= INT32_MAX) {
            t.Int = static_cast<int32_t>(v.Num);
            t.Kinds |= vkInt;
        }
    }
    if (v.Has(valBool)) {
        t.Bool = v.Bool;
        t.Kinds |= vkBool;
    }
    if (v.Has(valBytes)) {
        t.SetRaw(v.Bytes);
    }
    if (v.Has(valStr)) {
        t.Str = v.Str;
        t.Kinds |= vkString;
    }
    return t;
}

int64_t TruncToInt64(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 9223372036854775807.0) return std::numeric_limits<int64_t>::max();
    if (v <= -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(v);
}

// ---- extended values ------------------------------------------------------------------

TTsRpnValueEx::TTsRpnValueEx(TTsExpression& owner) : owner_(&owner) { SetCustom(); }

TTsRpnValueEx::~TTsRpnValueEx() = default;

void TTsRpnValueEx::SetCustom() {
    Value.Kinds |= kCustom;
    Value.Custom = this;
}

bool TTsRpnValueEx::IsNull() const { return (Value.Kinds & ~kCustom) == 0 && !Node && !stream_; }

void TTsRpnValueEx::RequireKinds(TRpnValueKinds anyOf) const {
    if (!HasAny(anyOf)) throw ETsBadRpnValue(owner_, anyOf);
}

bool TTsRpnValueEx::GetBool() const {
    RequireKinds(RpnKind(valBool));
    return Value.Bool;
}

double TTsRpnValueEx::GetNum() const {
    RequireKinds(RpnKind(valNum));
    return Value.Num;
}

const WideString& TTsRpnValueEx::GetStr() const {
    RequireKinds(RpnKind(valStr));
    return Value.Str;
}

RawByteString TTsRpnValueEx::GetRawBytes() {
    if (!stream_) {
        RequireKinds(RpnKind(valBytes));
        return Value.Bytes;
    }
    int64_t length = stream_->Size() - Start;
    if (length >= MaxRawStreamLength) throw ETsReadingLongRawStream(owner_, length);
    RawByteString bytes;
    if (length <= 0) return bytes;
    // Reading must not consume: the value may be the shared input.
    int64_t pos = stream_->Position();
    stream_->SetPosition(Start);
    bytes.resize(static_cast<size_t>(length));
    int64_t got = stream_->Read(bytes.data(), length);
    stream_->SetPosition(pos);
    bytes.resize(static_cast<size_t>(got < 0 ? 0 : got));
    return bytes;
}

RawByteString TTsRpnValueEx::GetBytes() {
    if (HasBytesOrStream()) return GetRawBytes();
    if (!Value.Has(valStr)) throw ETsBadRpnValue(owner_, RpnKind(valBytes) | RpnKind(valStr));
    return WideToBytes(owner_->Options.Codepage, Value.Str, -1, true);
}

TStream& TTsRpnValueEx::GetStream() {
    if (stream_) return *stream_;
    RequireKinds(RpnKind(valBytes));
    if (!bytesStream_) bytesStream_ = std::make_unique<TMemoryStream>(Value.Bytes);
    return *bytesStream_;
}

int64_t TTsRpnValueEx::RemainingBytes() {
    TStream& s = GetStream();
    return s.Size() - s.Position();
}

void TTsRpnValueEx::AttachStream(TStream* stream) {
    if (ownedStream_ && ownedStream_.get() != stream) ownedStream_.reset();
    stream_ = stream;
    Start = stream ? stream->Position() : 0;
    bytesStream_.reset();
}

void TTsRpnValueEx::AttachOwnedStream(std::unique_ptr<TStream> stream) {
    TStream* s = stream.get();
    AttachStream(s);
    ownedStream_ = std::move(stream);
}

void TTsRpnValueEx::DetachStream() { AttachStream(nullptr); }

void TTsRpnValueEx::Rewind() {
    if (stream_) stream_->SetPosition(Start);
    if (bytesStream_) bytesStream_->SetPosition(0);
}

void TTsRpnValueEx::Mark() {
    if (stream_) Start = stream_->Position();
}

void TTsRpnValueEx::SetBool(bool v) {
    Value.Bool = v;
    Value.Kinds |= RpnKind(valBool);
}

void TTsRpnValueEx::SetNum(double v) {
    Value.Num = v;
    Value.Kinds |= RpnKind(valNum);
}

void TTsRpnValueEx::SetBytes(RawByteString v) {
    Value.Bytes = std::move(v);
    Value.Kinds |= RpnKind(valBytes);
    bytesStream_.reset();  // it would show the old bytes
}

void TTsRpnValueEx::SetStr(WideString v) {
    Value.Str = std::move(v);
    Value.Kinds |= RpnKind(valStr);
}

void TTsRpnValueEx::AssignBool(bool v) { Value = TRpnScalar::FromBool(v); }
void TTsRpnValueEx::AssignNum(double v) { Value = TRpnScalar::FromNum(v); }
void TTsRpnValueEx::AssignBytes(RawByteString v) {
    Value = TRpnScalar::FromBytes(std::move(v));
    bytesStream_.reset();
}
void TTsRpnValueEx::AssignStr(WideString v) { Value = TRpnScalar::FromStr(std::move(v)); }

void TTsRpnValueEx::Assign(const TRpnScalar& v) {
    TTsRpnValueEx* other = owner_->ExtendedOf(v);
    if (other == this) return;
    Value = v;
    SetCustom();
    bytesStream_.reset();
    Node = other ? other->Node : nullptr;
    AttachStream(other ? other->Stream() : nullptr);
}

void TTsRpnValueEx::ClearPlainValue() {
    Value.Clear();
    SetCustom();
    bytesStream_.reset();
}

// ---- registry -------------------------------------------------------------------------

WideString TTsFunctions::NextValueText() {
    // Entries of one name are ordered by value text: a descending counter
    // puts the latest registration first.
    return IntToHex(0xFFFFFFFFu - ++registrations_, 8);
}

void TTsFunctions::RegisterHandler(std::u16string_view name, TTsFunctionHandler handler) {
    WideString valueText = NextValueText();
    Subscribe(name, TTsCallbackId{this, registrations_}, THandlerCall{std::move(handler)}, valueText);
}

bool TTsFunctions::THandlerCall::operator()(TObject&, TTsArgs args, TTsValue&) const {
    return Handler(*static_cast<TTsFuncContext*>(const_cast<void*>(args[0].AsPtr())));
}

void TTsFunctions::AssignFrom(const TTsFunctions& other) {
    if (&other == this) return;
    Clear();
    for (int i = 0; i < other.Count(); ++i) {
        auto* w = static_cast<const TCallbackWrapper*>(other.Object(i));
        Subscribe(other.Key(i), TTsCallbackId{this, w->Id.Tag}, *w->Method, other.ValueText(i));
    }
    registrations_ = other.registrations_;
}

namespace {

bool TryHandler(TTsFunctions& registry, const TTsCallback& handler, TTsFuncContext& context, TTsValue& unused) {
    // Each attempt starts from the context as given: an earlier handler
    // may have declined by clearing its Target.
    TTsFuncContext attempt = context;
    const TTsArg args[] = {TTsArg(static_cast<const void*>(&attempt))};
    TObject& sender = attempt.Expression ? static_cast<TObject&>(*attempt.Expression) : registry;
    bool accepted = handler(sender, TTsArgs(args), unused) && attempt.Target;
    if (context.Target) context.Target->Rewind();
    return accepted;
}

}  // namespace

bool TTsFunctions::Call(std::u16string_view name, TTsFuncContext& context) {
    TTsValue unused;
    // Nearly every name has one handler: call it without collecting a list.
    // The handler is held while it runs, in case it unregisters itself.
    if (name != u"*") {
        const int first = IndexOf(name);
        if (first >= 0 && NextIndexOf(first) < 0) {
            std::shared_ptr<const TTsCallback> handler = static_cast<const TCallbackWrapper*>(Object(first))->Method;
            return TryHandler(*this, *handler, context, unused);
        }
    }
    TTsCallbackList handlers;
    if (Handlers(name, handlers) == 0) throw ETsUnknownExprFunction(this, WideString(name), NamesText());
    for (const auto& handler : handlers)
        if (TryHandler(*this, *handler, context, unused)) return true;
    return false;
}

WideString TTsFunctions::NamesText() const {
    WideString s;
    std::u16string_view last;
    for (int i = 0; i < Count(); ++i) {
        std::u16string_view key = Key(i);
        if (i > 0 && key == last) continue;  // sorted: a name's entries are together
        if (!s.empty()) s += u", ";
        s += key;
        last = key;
    }
    return s;
}

// ---- evaluator ---------------------------------------------------------------------------

void TTsRpnEvaluator::GetResult(TRpnScalar& result) {
    TRpnValueStack& stack = Stack();
    if (stack.Count() == 2 && initial_) {
        const TRpnScalar& lower = stack.At(0);
        if (lower.Has(valCustom) && lower.Custom == initial_) stack.RemoveAt(0);
    }
    TRpnEvaluator::GetResult(result);
}

// ---- expressions ---------------------------------------------------------------------------

TTsExpression::TTsExpression(WideString text, TTsTreeNode* baseNode) : Text(std::move(text)), BaseNode(baseNode) {
    InitExpressionLayer();
}

TTsExpression::~TTsExpression() {
    // The evaluator's stack refers to the values; let it go first.
    evaluator_.reset();
}

void TTsExpression::SetFunctions(TTsFunctions* functions) {
    functions_ = functions == &DefaultFunctions() ? nullptr : functions;
}

TTsFunctions& TTsExpression::EffectiveFunctions() const { return functions_ ? *functions_ : DefaultFunctions(); }

std::shared_ptr<const TCompiledRPN> TTsExpression::Compile(std::u16string_view text) { return RpnCompile(text); }

TTsRpnValueEx& TTsExpression::NewValue() {
    values_.push_back(std::make_unique<TTsRpnValueEx>(*this));
    return *values_.back();
}

TTsRpnValueEx* TTsExpression::ExtendedOf(const TRpnScalar& v) const {
    if (!v.Has(valCustom)) return nullptr;
    auto* ex = dynamic_cast<TTsRpnValueEx*>(v.Custom);
    if (!ex) throw ETsBadRpnValueCustom(this);
    return ex;
}

TTsRpnValueEx& TTsExpression::Extended(TRpnScalar& v) {
    if (TTsRpnValueEx* ex = ExtendedOf(v)) return *ex;
    TTsRpnValueEx& ex = NewValue();
    ex.Value = v;
    ex.Value.Kinds |= kCustom;
    ex.Value.Custom = &ex;
    v.Kinds |= kCustom;
    v.Custom = &ex;
    return ex;
}

TTsRpnValueEx& TTsExpression::RequireExtended(const TRpnScalar& v) const {
    TTsRpnValueEx* ex = ExtendedOf(v);
    if (!ex) throw ETsRpnValueNotExtended(this);
    return *ex;
}

void TTsExpression::Evaluate(TTsExpressionResult& result) {
    std::shared_ptr<const TCompiledRPN> compiled = Compile(Text);
    if (evaluator_ && compiled == compiled_) {
        // Evaluated again (the engine keeps one object per node): the
        // evaluator and its stack storage serve once more.
        evaluator_->Stack().Clear();
    } else {
        evaluator_.reset();
        compiled_ = std::move(compiled);
        evaluator_ = std::make_unique<TTsRpnEvaluator>(*compiled_);
        evaluator_->OnVariable = [this](TRpnEvaluator& ev, const WideString& name, TRpnScalar& value) {
            ResolveToken(ev, name, value);
        };
    }
    // Leftovers of a failed evaluation; no stack holds them any more.
    values_.clear();
    values_.reserve(4);  // the initial value, a function's target and argument

    TTsRpnValueEx& initial = NewValue();
    initial.Node = BaseNode;
    initial.AttachStream(Stream);
    initial.IsInitial = true;
    evaluator_->SetInitial(&initial);
    evaluator_->Stack().Push(initial.Value);

    TRpnScalar r;
    evaluator_->Evaluate(r);

    TTsExpressionResult converted;
    converted.Value = ScalarToTsValue(r);
    if (TTsRpnValueEx* ex = ExtendedOf(r)) {
        converted.Node = ex->Node;
        converted.Stream = ex->Stream();
    }
    Result = std::move(r);
    ExpressionResult = std::move(converted);
    // Keep these values, free the previous success's and reuse its storage.
    keptValues_.swap(values_);
    values_.clear();
    result = ExpressionResult;
}

const RawByteString& TTsExpression::LineBreakBytes() {
    if (!lineBreakReady_ || lineBreakCodepage_ != Options.Codepage || lineBreakText_ != Options.LineBreak) {
        lineBreakBytes_ = WideToBytes(Options.Codepage, Options.LineBreak);
        lineBreakText_ = Options.LineBreak;
        lineBreakCodepage_ = Options.Codepage;
        lineBreakReady_ = true;
    }
    return lineBreakBytes_;
}

TTsValue TTsExpression::EvaluateValue() {
    TTsExpressionResult r;
    Evaluate(r);
    return std::move(r.Value);
}

// ---- token resolution ------------------------------------------------------------------------

static bool IsFunctionName(std::u16string_view n) {
    for (char16_t c : n)
        if (!((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'_'))
            return false;
    return true;
}

void TTsExpression::ResolveToken(TRpnEvaluator& ev, const WideString& name, TRpnScalar& value) {
    value.Clear();
    if (name.empty()) return;
    if (name.size() <= 2 && ResolveOperatorToken(ev.Stack(), name, value)) return;
    if (IsFunctionName(name))
        CallFunction(name, value);
    else
        ResolveNodeReference(name, value);
}

bool TTsExpression::ResolveOperatorToken(TRpnValueStack& stack, std::u16string_view n, TRpnScalar& value) {
    enum Op { Add, Sub, Mul, Div, Less, More, LessEq, MoreEq, Eq, NotEq, None } op = None;
    if (n.size() == 1) {
        switch (n[0]) {
            case u'+':
                op = Add;
                break;
            case u'-':
                op = Sub;
                break;
            case u'*':
                op = Mul;
                break;
            case u'/':
                op = Div;
                break;
            case u'<':
                op = Less;
                break;
            case u'>':
                op = More;
                break;
            case u'=':
                op = Eq;
                break;
            default:
                break;
        }
    } else if (n == u"<=") {
        op = LessEq;
    } else if (n == u">=") {
        op = MoreEq;
    } else if (n == u"!=" || n == u"<>") {
        op = NotEq;
    }
    if (op == None) return false;

    if (op == Eq || op == NotEq) {
        TRpnScalar b = stack.Pop();
        TRpnScalar a = stack.Pop();
        // Compare the plain values: an extended part alone counts as null.
        a.Kinds &= static_cast<TRpnValueKinds>(~kCustom);
        b.Kinds &= static_cast<TRpnValueKinds>(~kCustom);
        bool eq = RpnValuesEqual(a, b);
        value = TRpnScalar::FromBool(op == Eq ? eq : !eq);
        return true;
    }
    double b = stack.PopInt();
    double a = stack.PopInt();
    switch (op) {
        case Add:
            value = TRpnScalar::FromNum(a + b);
            break;
        case Sub:
            value = TRpnScalar::FromNum(a - b);
            break;
        case Mul:
            value = TRpnScalar::FromNum(a * b);
            break;
        case Div:
            if (b == 0) throw ERpnDivisionByZero(u"Division by zero in an RPN expression.");
            value = TRpnScalar::FromNum(a / b);
            break;
        case Less:
            value = TRpnScalar::FromBool(a < b);
            break;
        case More:
            value = TRpnScalar::FromBool(a > b);
            break;
        case LessEq:
            value = TRpnScalar::FromBool(a <= b);
            break;
        case MoreEq:
            value = TRpnScalar::FromBool(a >= b);
            break;
        default:
            break;
    }
    return true;
}

void TTsExpression::CallFunction(const WideString& name, TRpnScalar& value) {
    TTsFunctions& registry = EffectiveFunctions();
    TTsRpnValueEx& target = NewValue();
    TTsFuncContext ctx{name, this, &target};
    if (!registry.Call(name, ctx)) throw ETsUnsupportedExprFunction(&registry, name, this);

    if (target.IsNull())
        value.Clear();
    else
        value = target.Value;
}

TTsTreeNode* TTsExpression::FindNode(const WideString& path) {
    if (NodeFinder) {
        if (PrepareFinder) PrepareFinder();
        NodeFinder->Rewind(path, BaseNode);
        return NodeFinder->Next();
    }
    return BaseNode->FirstOnPath(path);
}

void TTsExpression::ResolveNodeReference(const WideString& name, TRpnScalar& value) {
    if (!BaseNode) {
        HandleError(std::make_unique<ETsExprNoBaseNode>(this, name));
        return;
    }
    if (name == u"$") {
        TTsRpnValueEx& ex = Extended(value);
        ex.Node = BaseNode;
        ex.AttachStream(Stream);
        return;
    }
    size_t dollar = name.find(u'$');
    WideString path = name.substr(0, dollar);
    WideString prop = dollar == WideString::npos ? WideString() : name.substr(dollar + 1);
    if (prop.empty()) prop = u"inner";
    bool optional = !path.empty() && path.back() == u'?';
    if (optional) path.pop_back();

    TTsTreeNode* node = FindNode(path);
    if (!node) {
        if (optional) return;
        WideString state;
        if (NodeFinder) {
            WideString finderState = NodeFinder->StateText();
            if (!finderState.empty()) state = u" (" + finderState + u")";
        }
        HandleError(std::make_unique<ETsExprNoNode>(this, path, BaseNode->PathFrom(nullptr, u"\\"), state));
        return;
    }

    TTsRpnValueEx& ex = NewValue();
    ex.Node = node;
    if (TTsProperty* p = node->Props().Find(prop)) {
        TRpnScalar v = TsValueToScalar(p->Value);
        v.Kinds |= kCustom;
        v.Custom = &ex;
        ex.Value = std::move(v);
        if (ModelNode)
            if (std::unique_ptr<TStream> span = ModelNode->OpenSpan(p->Value)) ex.AttachOwnedStream(std::move(span));
    }
    value = ex.Value;
}

}  // namespace ts
