#include "library/core/TsBase.h"

#include <algorithm>

#include "support/Strings.h"

namespace ts {

// ---- Values -------------------------------------------------------------

const RawByteString& TTsRawBytes::Empty() {
    static const RawByteString empty;
    return empty;
}

void TTsValue::Dump(WideString& out, bool keepLeadingSpace) const {
    size_t start = out.size();
    if (Kinds == 0) {
        out += u" NULL";
    } else {
        if (Kinds & vkString) {
            out += u" s" + IntToStr(static_cast<int64_t>(Str.size()));
            if (!Str.empty()) out += u" " + Str.substr(0, 10);
        }
        if (Kinds & vkRaw) {
            const RawByteString& raw = Raw();
            out += u" r" + IntToStr(static_cast<int64_t>(raw.size()));
            if (!raw.empty()) out += u" " + BytesToHexPairs(raw, 10);
        }
        if (Kinds & vkBool) out += Bool ? u" bTRUE" : u" bFALSE";
        if (Kinds & vkInt) out += u" i" + IntToStr(Int);
        if (Kinds & vkFloat) out += u" f" + FloatToStr(Float);
        if (Kinds & vkObject) {
            out += u" o";
            out += Obj ? WideString(Obj->ClassName()) : WideString(u"???");
            out += u"$" + AddressText(Obj);
        }
    }
    if (!keepLeadingSpace && out.size() > start) out.erase(start, 1);
}

// ---- Arguments ------------------------------------------------------------

int32_t TTsArg::AsInt() const {
    if (type_ != vtInteger) throw ETsInvalidVarType(vtInteger, type_);
    return static_cast<int32_t>(i_);
}
bool TTsArg::AsBool() const {
    if (type_ != vtBoolean) throw ETsInvalidVarType(vtBoolean, type_);
    return i_ != 0;
}
double TTsArg::AsFloat() const {
    if (type_ != vtExtended) throw ETsInvalidVarType(vtExtended, type_);
    return f_;
}
const void* TTsArg::AsPtr() const {
    if (type_ != vtPointer && type_ != vtObject) throw ETsInvalidVarType(vtPointer, type_);
    return p_;
}
TObject* TTsArg::AsObj() const {
    if (type_ != vtObject) throw ETsInvalidVarType(vtObject, type_);
    return const_cast<TObject*>(static_cast<const TObject*>(p_));
}
const WideString& TTsArg::AsStr() const {
    if (type_ != vtWideString) throw ETsInvalidVarType(vtWideString, type_);
    return s_;
}

// ---- Errors -------------------------------------------------------------

TTsTranslateHook& ErrorTranslateHook() {
    static TTsTranslateHook hook = &TErrorLangWrapper::Identity;
    return hook;
}

TTsCreatedHook& ErrorCreatedHook() {
    static TTsCreatedHook hook;
    return hook;
}

ETessarine::ETessarine(std::u16string_view format, FormatArgs args) { Build(format, args.begin(), args.size()); }

ETessarine::ETessarine(std::u16string_view format, const std::vector<FormatArg>& args) {
    Build(format, args.data(), args.size());
}

void ETessarine::Build(std::u16string_view format, const FormatArg* args, size_t count) {
    format_ = WideString(format);
    const TTsTranslateHook& translate = ErrorTranslateHook();
    localized_ = translate ? translate(format_) : format_;
    SetMessage(Format(localized_, args, count));
    if (const TTsCreatedHook& created = ErrorCreatedHook()) created(*this);
}

// ---- Base object ----------------------------------------------------------

TTsObject::~TTsObject() {
    // Owned objects go in reverse order of adding, so later ones may refer to earlier.
    if (owned_)
        while (!owned_->empty()) owned_->pop_back();
}

const std::vector<std::unique_ptr<TObject>>& TTsObject::Owned() const {
    static const std::vector<std::unique_ptr<TObject>> none;
    return owned_ ? *owned_ : none;
}

WideString TTsObject::Describe() const { return u"<" + WideString(ClassName()) + u" $" + AddressText(this) + u">"; }

void TTsObject::HandleError(std::unique_ptr<Exception> error) {
    if (OnError) {
        OnError(*this, *error);
        return;  // the error is freed here
    }
    error->Raise();
}

TObject* TTsObject::AddOwned(std::unique_ptr<TObject> obj) {
    TObject* raw = obj.get();
    if (!raw) return nullptr;
    if (!owned_) owned_ = std::make_unique<std::vector<std::unique_ptr<TObject>>>();
    owned_->push_back(std::move(obj));
    return raw;
}

// ---- Class list -------------------------------------------------------------

int TTsClassList::Add(const WideString& name, TClassRef cls) {
    if (IndexOf(name) >= 0) throw ETsClassListDuplicate(this, name, cls);
    items_.push_back({name, cls});
    return static_cast<int>(items_.size()) - 1;
}

int TTsClassList::IndexOf(std::u16string_view name) const {
    for (size_t i = 0; i < items_.size(); ++i)
        if (items_[i].Name == name) return static_cast<int>(i);
    return -1;
}

int TTsClassList::IndexOfClass(TClassRef cls) const {
    for (size_t i = 0; i < items_.size(); ++i)
        if (items_[i].Cls == cls) return static_cast<int>(i);
    return -1;
}

TClassRef TTsClassList::ClassOf(std::u16string_view name) const {
    int i = IndexOf(name);
    return i < 0 ? nullptr : items_[static_cast<size_t>(i)].Cls;
}

WideString TTsClassList::NameOf(TClassRef cls, const WideString& def) const {
    int i = IndexOfClass(cls);
    return i < 0 ? def : items_[static_cast<size_t>(i)].Name;
}

// ---- Versions ---------------------------------------------------------------

TTsVersion TTsVersions::Parse(const WideString& text) {
    auto dot = text.find(u'.');
    if (dot != WideString::npos) {
        std::u16string_view majorText = std::u16string_view(text).substr(0, dot);
        std::u16string_view minorText = std::u16string_view(text).substr(dot + 1);
        auto major = TryStrToInt(majorText);
        auto minor = TryStrToInt(minorText);
        if (major && minor) {
            int m = *minor;
            if (m < 10 && minorText.size() == 1) m *= 10;  // "1.2" is 1.20
            if (m > 255) m = 255;
            return Make(*major, m);
        }
    }
    if (auto whole = TryStrToInt(text)) return Make(*whole, 0);
    throw ETsBadVersionString(text);
}

WideString TTsVersions::ToText(TTsVersion v) {
    int major = v >> 8;
    int minor = v & 255;
    WideString s = IntToStr(major) + u".";
    if (minor >= 1 && minor <= 9) s += u"0";
    if (minor >= 10 && minor <= 90 && minor % 10 == 0) minor /= 10;
    return s + IntToStr(minor);
}

WideString TTsVersions::OpText(uint8_t op) {
    static const char16_t* texts[] = {u"> ", u">= ", u"< ", u"<= ", u"= ", u"<> "};
    return op <= 5 ? texts[op] : u"? ";
}

void TTsVersions::Add(uint8_t op, TTsVersion v) {
    if (count_ >= MaxCount) throw ETessarine(u"%s has reached maximum number of versions (%d).", {this, MaxCount});
    entries_[static_cast<size_t>(count_++)] = {op, v};
}

bool TTsVersions::Satisfies(TTsVersion v) const {
    for (int i = 0; i < count_; ++i) {
        const Entry& e = entries_[static_cast<size_t>(i)];
        bool ok;
        switch (e.Op) {
            case voGreater:
                ok = v > e.Version;
                break;
            case voGreaterEq:
                ok = v >= e.Version;
                break;
            case voLess:
                ok = v < e.Version;
                break;
            case voLessEq:
                ok = v <= e.Version;
                break;
            case voEqual:
                ok = v == e.Version;
                break;
            case voNotEqual:
                ok = v != e.Version;
                break;
            default:
                throw ETessarine(u"Invalid %s operator %d to compare %s and %s.",
                                 {this, static_cast<int>(e.Op), ToText(v), ToText(e.Version)});
        }
        if (!ok) return false;
    }
    return true;
}

WideString TTsVersions::ToText() const {
    if (count_ == 0) return {};
    WideString s = u"[";
    for (int i = 0; i < count_; ++i) {
        if (i) s += u" ";
        const Entry& e = entries_[static_cast<size_t>(i)];
        s += OpText(e.Op) + ToText(e.Version);
    }
    return s + u"]";
}

}  // namespace ts
