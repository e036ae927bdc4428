// RPNit: scalars, the operator tables, the tokeniser with its compile cache,
// and the evaluator with its bounded stack.
#include "library/expressions/rpn/RPNit.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <mutex>

#include "support/Strings.h"

namespace ts {

// ---------------------------------------------------------------- scalars

void TRpnScalar::Clear() {
    Kinds = 0;
    Num = 0;
    Bool = false;
    Bytes.clear();
    Str.clear();
    Custom = nullptr;
}

TRpnScalar TRpnScalar::FromNum(double v) {
    TRpnScalar s;
    s.Kinds = RpnKind(valNum);
    s.Num = v;
    return s;
}

TRpnScalar TRpnScalar::FromBool(bool v) {
    TRpnScalar s;
    s.Kinds = RpnKind(valBool);
    s.Bool = v;
    return s;
}

TRpnScalar TRpnScalar::FromBytes(RawByteString v) {
    TRpnScalar s;
    s.Kinds = RpnKind(valBytes);
    s.Bytes = std::move(v);
    return s;
}

TRpnScalar TRpnScalar::FromStr(WideString v) {
    TRpnScalar s;
    s.Kinds = RpnKind(valStr);
    s.Str = std::move(v);
    return s;
}

WideString RpnKindLetters(TRpnValueKinds kinds) {
    if (kinds == 0) return u"-";
    WideString out;
    if (kinds & RpnKind(valStr)) out += u's';
    if (kinds & RpnKind(valBytes)) out += u'r';
    if (kinds & RpnKind(valNum)) out += u'i';
    if (kinds & RpnKind(valBool)) out += u'b';
    if (kinds & RpnKind(valCustom)) out += u'c';
    return out;
}

namespace {

WideString NumberText(double v) {
    // Whole numbers print as integers; anything a 64-bit integer cannot hold
    // (huge values, infinities, NaN) falls back to the float form rather than
    // an undefined conversion.
    if (std::isfinite(v) && std::trunc(v) == v && std::fabs(v) < 9.2e18) return IntToStr(static_cast<int64_t>(v));
    return FloatToStr(v);
}

}  // namespace

WideString RpnValueToText(const TRpnScalar& v, std::u16string_view defaultText) {
    if (v.Has(valStr)) return v.Str;
    if (v.Has(valBytes)) return BytesToHexPairs(v.Bytes);
    if (v.Has(valNum)) return NumberText(v.Num);
    if (v.Has(valBool)) return v.Bool ? u"True" : u"False";
    return WideString(defaultText);
}

bool RpnValuesEqual(const TRpnScalar& a, const TRpnScalar& b) {
    if (a.Has(valBool) && b.Has(valBool)) return a.Bool == b.Bool;
    if (a.Has(valNum) && b.Has(valNum)) return a.Num == b.Num;
    if (a.Has(valBytes) && b.Has(valBytes)) return a.Bytes == b.Bytes;
    if (a.Has(valStr) && b.Has(valStr)) return a.Str == b.Str;
    if ((a.Has(valNum) && b.Has(valStr)) || (a.Has(valStr) && b.Has(valNum)))
        return RpnValueToText(a) == RpnValueToText(b);
    if (a.IsNull() || b.IsNull()) return a.IsNull() && b.IsNull();
    throw EInvalidRpnOperation(
        u"Incomparable RPN values of types: A (%s) = %s, B (%s) = %s. Can only compare these combinations: "
        u"null-any or any-null or null/null, num-num, bool-bool, str-str, bytes-bytes, num-str or str-num.",
        {RpnValueToText(a), RpnKindLetters(a.Kinds), RpnValueToText(b), RpnKindLetters(b.Kinds)});
}

EInvalidRpnFloatStr::EInvalidRpnFloatStr(WideString constant, WideString expression)
    : ERPN(u"Invalid floating point constant \"%s\" in an RPN expression.", {constant}),
      constant_(std::move(constant)),
      expression_(std::move(expression)) {}

// ---------------------------------------------------------------- variable characters

namespace {

struct TVarCharSet {
    WideString chars = u"abcdefghijklmnopqrstuvwxyz0123456789_";
    WideString lowered = chars;
    std::array<bool, 128> ascii{};  // membership of ASCII characters, case folded

    void Rebuild() {
        lowered = LowerCaseW(chars);
        ascii.fill(false);
        for (char16_t c : lowered)
            if (c < 128) ascii[c] = true;
        // Membership also accepts a character whose lower-case form is in
        // the set, so upper-case ASCII letters follow their lower-case ones.
        for (char16_t c = u'A'; c <= u'Z'; ++c) ascii[c] = ascii[c] || ascii[c + 32];
    }
    bool Has(char16_t c) const {
        if (c < 128) return ascii[c];
        if (lowered.find(c) != WideString::npos) return true;
        WideString low = LowerCaseW(std::u16string_view(&c, 1));
        return low.size() == 1 && lowered.find(low[0]) != WideString::npos;
    }
};

TVarCharSet& VarChars() {
    static TVarCharSet set = [] {
        TVarCharSet s;
        s.Rebuild();
        return s;
    }();
    return set;
}

}  // namespace

const WideString& RpnVarChars() { return VarChars().chars; }

void SetRpnVarChars(WideString chars) {
    if (TrimLeftView(chars).empty()) throw EEmptyRpnVarCharList(u"Attempted to set empty RpnVarChars.");
    VarChars().chars = std::move(chars);
    VarChars().Rebuild();
    RpnClearCompileCache();
}

bool IsRpnVarChar(char16_t c) { return VarChars().Has(c); }

// ---------------------------------------------------------------- items

void TRpnConst::GetValue(TRpnEvaluator&, TRpnScalar& value) const { value = value_; }

void TRpnVariable::GetValue(TRpnEvaluator& ev, TRpnScalar& value) const {
    if (ev.Variables) {
        value.Clear();
        if (!ev.Variables->Lookup(ev, name_, value))
            throw EMissingRpnVariable(u"Missing RPN expression variable \"%s\".", {name_});
    } else if (ev.OnVariable) {
        ev.OnVariable(ev, name_, value);
    } else {
        throw EVariablelessRPN(
            u"Variable \"%s\" was found in an RPN expression but no variables were bound to the expression prior "
            u"to its evaluation.",
            {name_});
    }
}

WideString TRpnOperator::ShortName() const {
    std::u16string_view n = ClassName();
    if (n.starts_with(u"TRpn")) n.remove_prefix(4);
    return WideString(n);
}

namespace {

void NeedTwo(const TRpnOperator& op, TRpnEvaluator& ev) {
    int32_t has = ev.Stack().Count();
    if (has < 2)
        throw ENotEnoughRpnArguments(u"Too few arguments on stack for %s (needs %d, has %d).",
                                     {op.ShortName(), 2, has});
}

void NonZeroDivisor(double b) {
    if (b == 0) throw ERpnDivisionByZero(u"Division by zero in an RPN expression.");
}

}  // namespace

void TRpnMathOperator::Apply(TRpnEvaluator& ev, TRpnScalar& result) const {
    NeedTwo(*this, ev);
    double b = ev.Stack().PopNum();
    double a = ev.Stack().PopNum();
    result = TRpnScalar::FromNum(Calculate(a, b));
}

void TRpnCompOperator::Apply(TRpnEvaluator& ev, TRpnScalar& result) const {
    NeedTwo(*this, ev);
    double b = ev.Stack().PopNum();
    double a = ev.Stack().PopNum();
    result = TRpnScalar::FromBool(Compare(a, b));
}

double TRpnAdd::Calculate(double a, double b) const { return a + b; }
double TRpnSubtract::Calculate(double a, double b) const { return a - b; }
double TRpnMultiply::Calculate(double a, double b) const { return a * b; }
double TRpnDivide::Calculate(double a, double b) const {
    NonZeroDivisor(b);
    return a / b;
}
double TRpnPower::Calculate(double a, double b) const { return std::pow(a, b); }
double TRpnModulus::Calculate(double a, double b) const {
    NonZeroDivisor(b);
    return a - std::trunc(a / b) * b;
}

void TCompiledRPN::Reverse() { std::reverse(items_.begin(), items_.end()); }

// ---------------------------------------------------------------- operator tables

void TRpnOperators::Clear() {
    direct_.fill(nullptr);
    hashed_.clear();
    directCount_ = 0;
    ++generation_;
}

void TRpnOperators::Assign(const TRpnOperators& other) {
    if (&other == this) return;
    direct_ = other.direct_;
    hashed_ = other.hashed_;
    directCount_ = other.directCount_;
    ++generation_;
}

void TRpnOperators::Add(char16_t c, TRpnOperatorClass cls) {
    if (Has(c))
        throw EDuplicateRpnOperator(
            u"Attempted to add a new operator \"%s\" of class %s to the RPN operator list but it was already taken.",
            {std::u16string_view(&c, 1), cls ? cls->Name : std::u16string_view(u"<nil class>")});
    if (!cls) return;
    if (c < 255) {
        direct_[c] = cls;
        ++directCount_;
    } else {
        hashed_.emplace(c, cls);
    }
    ++generation_;
}

TRpnOperators& RpnDefaultOperators() {
    static const std::unique_ptr<TRpnOperators> table = [] {
        auto t = std::make_unique<TRpnOperators>();
        t->Add(u'+', RpnOperatorClass<TRpnAdd>());
        t->Add(u'-', RpnOperatorClass<TRpnSubtract>());
        t->Add(u'*', RpnOperatorClass<TRpnMultiply>());
        t->Add(u'/', RpnOperatorClass<TRpnDivide>());
        t->Add(u'^', RpnOperatorClass<TRpnPower>());
        t->Add(u'%', RpnOperatorClass<TRpnModulus>());
        t->Add(u'>', RpnOperatorClass<TRpnMore>());
        t->Add(u'<', RpnOperatorClass<TRpnLess>());
        return t;
    }();
    return *table;
}

void RpnAddDefaultOperator(char16_t c, TRpnOperatorClass cls) { RpnDefaultOperators().Add(c, cls); }

// ---------------------------------------------------------------- compile cache

namespace {

struct TViewHash {
    using is_transparent = void;
    size_t operator()(std::u16string_view s) const { return std::hash<std::u16string_view>{}(s); }
};

using TCacheMap = std::unordered_map<WideString, std::shared_ptr<const TCompiledRPN>, TViewHash, std::equal_to<>>;

// One map per way of compiling; in practice there are one or two.
struct TCacheShelf {
    bool reversed;
    TRpnVariableClass variableClass;
    TCacheMap map;
};

// Shared by every thread that compiles; guarded by its mutex.
struct TCompileCache {
    std::mutex mutex;
    std::vector<TCacheShelf> shelves;
    uint64_t operatorsGeneration = 0;

    TCacheMap* Find(const TRpnCompileSettings& s, bool create) {
        uint64_t gen = RpnDefaultOperators().Generation();
        if (gen != operatorsGeneration) {
            shelves.clear();
            operatorsGeneration = gen;
        }
        for (auto& shelf : shelves)
            if (shelf.reversed == s.Reversed && shelf.variableClass == s.VariableClass) return &shelf.map;
        if (!create) return nullptr;
        shelves.push_back({s.Reversed, s.VariableClass, {}});
        return &shelves.back().map;
    }
};

TCompileCache& Cache() {
    static TCompileCache cache;
    return cache;
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

double ParseNumberRun(std::u16string_view run, const WideString& source) {
    // The separator is "." when the run has one, else ","; exactly one
    // separator at most, and at least one digit.
    char16_t sep = run.find(u'.') != std::u16string_view::npos ? u'.' : u',';
    std::string ascii;
    ascii.reserve(run.size());
    bool seenSep = false, digits = false;
    for (char16_t c : run) {
        if (IsDigit(c)) {
            digits = true;
            ascii += static_cast<char>(c);
        } else if (c == sep && !seenSep) {
            seenSep = true;
            ascii += '.';
        } else {
            digits = false;
            break;
        }
    }
    double v = 0;
    if (digits) {
        auto r = std::from_chars(ascii.data(), ascii.data() + ascii.size(), v);
        if (r.ec == std::errc() && r.ptr == ascii.data() + ascii.size()) return v;
    }
    throw EInvalidRpnFloatStr(WideString(run), source);
}

std::unique_ptr<TCompiledRPN> Parse(const WideString& src, const TRpnCompileSettings& settings) {
    if (src.empty()) throw EEmptyRPN(u"Empty RPN expression string.");
    const TRpnOperators& ops = settings.Operators ? *settings.Operators : RpnDefaultOperators();
    TRpnVariableClass varClass = settings.VariableClass ? settings.VariableClass : RpnVariableClass<TRpnVariable>();
    auto list = std::make_unique<TCompiledRPN>();
    const size_t n = src.size();
    size_t i = 0;
    while (i < n) {
        char16_t c = src[i];
        if (c == u' ') {
            ++i;
        } else if (c == u'\'') {
            WideString text;
            size_t j = i + 1;
            bool closed = false;
            while (j < n) {
                if (src[j] == u'\'') {
                    if (j + 1 < n && src[j + 1] == u'\'') {
                        text += u'\'';
                        j += 2;
                        continue;
                    }
                    closed = true;
                    ++j;
                    break;
                }
                text += src[j++];
            }
            if (!closed)
                throw EUnterminatedString(u"Unterminated string \"%s\" started at %d in RPN expression \"%s\".",
                                          {text, static_cast<int64_t>(n - text.size()), src});
            list->Add(std::make_unique<TRpnConst>(TRpnScalar::FromStr(std::move(text))));
            i = j;
        } else if (IsDigit(c) || ((c == u'+' || c == u'-') && i + 1 < n && IsDigit(src[i + 1]))) {
            bool negative = c == u'-';
            size_t start = IsDigit(c) ? i : i + 1;
            size_t j = start;
            while (j < n && (IsDigit(src[j]) || src[j] == u',' || src[j] == u'.')) ++j;
            double v = ParseNumberRun(std::u16string_view(src).substr(start, j - start), src);
            list->Add(std::make_unique<TRpnConst>(TRpnScalar::FromNum(negative ? -v : v)));
            i = j;
        } else {
            TRpnOperatorClass op = ops.Find(c);
            bool isVar = IsRpnVarChar(c);
            bool varWins = op && isVar && i + 1 < n && src[i + 1] != u' ' && !IsDigit(src[i + 1]);
            if (op && !varWins) {
                list->Add(op->Create());
                ++i;
            } else if (isVar) {
                size_t j = i + 1;
                while (j < n && IsRpnVarChar(src[j])) ++j;
                list->Add(varClass->Create(src.substr(i, j - i)));
                i = j;
            } else {
                throw EWrongRpnSyntax(u"Invalid RPN expression syntax at \"%s\" (position %d, full string: \"%s\").",
                                      {src.substr(i, 20), static_cast<int64_t>(i + 1), src});
            }
        }
    }
    if (settings.Reversed) list->Reverse();
    return list;
}

}  // namespace

std::shared_ptr<const TCompiledRPN> RpnCompile(std::u16string_view text, const TRpnCompileSettings& settings) {
    std::u16string_view key = TrimView(text);
    if (key.size() > RpnMaxLength)
        throw ERpnTooLong(u"RPN expression of %d characters is longer than the %d an expression may have.",
                          {static_cast<int64_t>(key.size()), static_cast<int64_t>(RpnMaxLength)});
    bool cached = settings.UseCache && (!settings.Operators || settings.Operators == &RpnDefaultOperators());
    TCacheMap* map = nullptr;
    TCompileCache& cache = Cache();
    if (cached) {
        std::lock_guard lock(cache.mutex);
        map = cache.Find(settings, true);
        auto it = map->find(key);
        if (it != map->end()) return it->second;
    }
    // Parsed outside the lock: a second thread compiling the same text at
    // once only does the work twice, and the first entry stays.
    WideString src(key);
    std::shared_ptr<const TCompiledRPN> list = Parse(src, settings);
    if (!cached) return list;
    std::lock_guard lock(cache.mutex);
    // Parsing may have created the default table (and so bumped its
    // generation); look the shelf up again rather than trust the old one.
    TCacheMap& shelf = *cache.Find(settings, true);
    // Lists are shared, so starting afresh never frees one in use; it keeps
    // a process that compiles texts without end from growing without end.
    if (shelf.size() >= RpnCompileCacheLimit) shelf.clear();
    return shelf.emplace(std::move(src), list).first->second;
}

void RpnClearCompileCache() {
    std::lock_guard lock(Cache().mutex);
    Cache().shelves.clear();
}

size_t RpnCompileCacheSize() {
    std::lock_guard lock(Cache().mutex);
    size_t n = 0;
    for (auto& s : Cache().shelves) n += s.map.size();
    return n;
}

// ---------------------------------------------------------------- stack

void TRpnValueStack::Push(TRpnScalar&& v) {
    if (count_ >= Capacity)
        throw ERpnStackOverflow(u"An RPN expression needs more than %d values on stack.", {Capacity});
    if (static_cast<size_t>(count_) == items_.size()) {
        if (items_.capacity() == 0) items_.reserve(16);
        items_.push_back(std::move(v));
    } else {
        items_[static_cast<size_t>(count_)] = std::move(v);
    }
    ++count_;
}

namespace {
[[noreturn]] void EmptyPop(std::u16string_view op) {
    throw EEmptyStackOperation(u"Attempted to %s from empty TRpnValueStack.", {op});
}
[[noreturn]] void WrongKind(std::u16string_view want, const TRpnScalar& got) {
    throw EWrongTopStackValueKind(u"Expected a %s value on top of TRpnValueStack but got %s.",
                                  {want, RpnKindLetters(got.Kinds)});
}
}  // namespace

TRpnScalar TRpnValueStack::Pop() {
    if (count_ == 0) EmptyPop(u"Pop");
    return std::move(items_[static_cast<size_t>(--count_)]);
}

double TRpnValueStack::PopNum() {
    if (count_ == 0) EmptyPop(u"PopNum");
    const TRpnScalar& v = items_[static_cast<size_t>(--count_)];
    if (!v.Has(valNum)) WrongKind(u"i", v);
    return v.Num;
}

double TRpnValueStack::PopInt() {
    double v = PopNum();
    if (std::trunc(v) != v)
        throw EIntegerExpectedOnStackTop(
            u"Expected an integer value without fractional part on top of TRpnValueStack but got %s.", {NumberText(v)});
    return v;
}

WideString TRpnValueStack::PopStr() {
    if (count_ == 0) EmptyPop(u"PopStr");
    TRpnScalar& v = items_[static_cast<size_t>(--count_)];
    if (!v.Has(valStr)) WrongKind(u"s", v);
    return std::move(v.Str);
}

TRpnScalar TRpnValueStack::PopResult() {
    if (count_ == 0)
        throw EEmptyRpnStack(
            u"There were no items left on stack after evaluating an RPN expression - but at least one is required "
            u"to determine the expression result.");
    if (count_ > 1)
        throw ENonEmptyRpnStack(
            u"There were %d items instead of just one left on stack after evaluating an RPN expression.", {count_});
    return Pop();
}

void TRpnValueStack::RemoveAt(int32_t i) {
    if (i < 0 || i >= count_) throw ERangeError(u"RPN stack index %d out of bounds.", {i});
    auto first = items_.begin() + i;
    std::move(first + 1, items_.begin() + count_, first);
    --count_;
}

// ---------------------------------------------------------------- evaluator

TRpnOperators& TRpnEvaluator::Operators() {
    if (!operators_) {
        operators_ = std::make_unique<TRpnOperators>();
        operators_->Assign(RpnDefaultOperators());
    }
    return *operators_;
}

void TRpnEvaluator::Evaluate(TRpnScalar& result) {
    result = TRpnScalar::FromNum(0);
    const TCompiledRPN& list = *compiled_;
    TRpnScalar v;
    for (size_t i = 0; i < list.Count(); ++i) {
        const TRpnItem& item = list[i];
        switch (item.ItemRole()) {
            case TRpnItem::Role::Value:
                static_cast<const TRpnValue&>(item).GetValue(*this, v);
                break;
            case TRpnItem::Role::Operator:
                static_cast<const TRpnOperator&>(item).Apply(*this, v);
                break;
            default:
                throw ERPN(u"Invalid object of class %s in a compiled RPN object.", {&item});
        }
        stack_.Push(std::move(v));
        v.Clear();
    }
    GetResult(result);
}

void TRpnEvaluator::GetResult(TRpnScalar& result) { result = stack_.PopResult(); }

}  // namespace ts
