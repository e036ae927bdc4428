// The library's common ground: the multi-representation value TTsValue, the
// options record, the base object TTsObject, the class list, versions and the
// error family rooted at ETessarine with its translation and creation hooks.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "support/Exception.h"
#include "support/Format.h"
#include "support/Object.h"

namespace ts {

// The product's web address: it ends the first lines of the canonical models
// and the help text, and the window links to it.
inline constexpr std::u16string_view TsProductWebAddress = u"https://tessarine.dev";

// ---- Values -------------------------------------------------------------

enum TTsValueKind : uint8_t {
    vkString = 1,
    vkRaw = 2,
    vkBool = 4,
    vkInt = 8,
    vkFloat = 16,
    vkObject = 32,
    vkSpan = 64,  // Int = offset, Float = length, Obj = the stream
};

// The bytes of a raw value, kept out of line: a tree holds a value per
// property and hardly any holds bytes, so a value carries one pointer for
// them instead of a whole byte string. Copies copy the bytes.
class TTsRawBytes {
public:
    TTsRawBytes() = default;
    TTsRawBytes(const TTsRawBytes& other)
        : bytes_(other.bytes_ ? std::make_unique<RawByteString>(*other.bytes_) : nullptr) {}
    TTsRawBytes(TTsRawBytes&&) noexcept = default;
    TTsRawBytes& operator=(const TTsRawBytes& other) {
        if (this != &other) bytes_ = other.bytes_ ? std::make_unique<RawByteString>(*other.bytes_) : nullptr;
        return *this;
    }
    TTsRawBytes& operator=(TTsRawBytes&&) noexcept = default;

    const RawByteString& Get() const { return bytes_ ? *bytes_ : Empty(); }
    // No bytes hold no block.
    void Set(RawByteString bytes) {
        if (bytes.empty())
            bytes_.reset();
        else if (bytes_)
            *bytes_ = std::move(bytes);
        else
            bytes_ = std::make_unique<RawByteString>(std::move(bytes));
    }

private:
    static const RawByteString& Empty();
    std::unique_ptr<RawByteString> bytes_;
};

struct TTsValue {
    WideString Str;
    double Float = 0;
    TObject* Obj = nullptr;  // not owned
    // The small fields share one word: a tree holds a value per property.
    int32_t Int = 0;
    bool Bool = false;
    uint8_t Kinds = 0;
    TTsRawBytes RawBytes;

    // The bytes (empty unless set); SetRaw also marks the value as raw.
    const RawByteString& Raw() const { return RawBytes.Get(); }
    void SetRaw(RawByteString r) {
        RawBytes.Set(std::move(r));
        Kinds |= vkRaw;
    }

    TTsValue() = default;
    static TTsValue FromStr(WideString s) {
        TTsValue v;
        v.Str = std::move(s);
        v.Kinds = vkString;
        return v;
    }
    static TTsValue FromBool(bool b) {
        TTsValue v;
        v.Bool = b;
        v.Kinds = vkBool;
        return v;
    }
    static TTsValue FromInt(int32_t i) {
        TTsValue v;
        v.Int = i;
        v.Kinds = vkInt;
        return v;
    }
    static TTsValue FromRaw(RawByteString r) {
        TTsValue v;
        v.SetRaw(std::move(r));
        return v;
    }
    static TTsValue FromFloat(double f) {
        TTsValue v;
        v.Float = f;
        v.Kinds = vkFloat;
        return v;
    }
    static TTsValue FromObj(TObject* o) {
        TTsValue v;
        v.Obj = o;
        v.Kinds = vkObject;
        return v;
    }

    bool IsNull() const { return Kinds == 0; }
    bool Has(uint8_t mask) const { return (Kinds & mask) != 0; }
    void Clear() { *this = TTsValue(); }

    // Appends the value's dump (" s5 a.tsn i12", " NULL"); without keepLeadingSpace
    // the first character of the whole text is dropped.
    void Dump(WideString& out, bool keepLeadingSpace) const;
    WideString DumpText(bool keepLeadingSpace = true) const {
        WideString s;
        Dump(s, keepLeadingSpace);
        return s;
    }
};

// ---- Options ------------------------------------------------------------

struct TTsOptions {
    WideString LineBreak = u"\r\n";
    int32_t Codepage = 1250;  // -2: the bytes are UTF-16 already
};

// ---- Typed argument lists (event arguments) -----------------------------

// Type codes as the platform numbers them.
enum TTsVarType : int32_t {
    vtInteger = 0,
    vtBoolean = 1,
    vtExtended = 3,
    vtPointer = 5,
    vtObject = 7,
    vtWideString = 15,
    vtInt64 = 16,
};

class TTsArg {
public:
    TTsArg(int32_t i) : type_(vtInteger), i_(i) {}
    TTsArg(bool b) : type_(vtBoolean), i_(b) {}
    TTsArg(double f) : type_(vtExtended), f_(f) {}
    TTsArg(const void* p) : type_(vtPointer), p_(p) {}
    TTsArg(TObject* o) : type_(vtObject), p_(o) {}
    TTsArg(WideString s) : type_(vtWideString), s_(std::move(s)) {}
    TTsArg(const char16_t* s) : type_(vtWideString), s_(s) {}
    TTsArg(std::nullptr_t) : type_(vtObject), p_(nullptr) {}

    TTsVarType Type() const { return type_; }
    int32_t AsInt() const;
    bool AsBool() const;
    double AsFloat() const;
    const void* AsPtr() const;
    TObject* AsObj() const;
    const WideString& AsStr() const;

private:
    TTsVarType type_;
    int64_t i_ = 0;
    double f_ = 0;
    const void* p_ = nullptr;
    WideString s_;
};
using TTsArgs = std::span<const TTsArg>;

// ---- Errors -------------------------------------------------------------

class ETessarine : public Exception {
public:
    // Format := format; LocalizedFormat := Translate(format); the message is
    // LocalizedFormat filled with args; then Created is called when assigned.
    ETessarine(std::u16string_view format, FormatArgs args);
    ETessarine(std::u16string_view format, const std::vector<FormatArg>& args);

    const WideString& FormatString() const { return format_; }
    const WideString& LocalizedFormat() const { return localized_; }
    // An object owned by the error; nil unless a derived class sets it.
    std::shared_ptr<TObject> Extra;

    TS_EXCEPTION(ETessarine)

private:
    void Build(std::u16string_view format, const FormatArg* args, size_t count);
    WideString format_;
    WideString localized_;
};

// The error family's two global hooks.
using TTsTranslateHook = std::function<WideString(const WideString&)>;
using TTsCreatedHook = std::function<void(ETessarine&)>;
// Identity translation; the initial handler of the Translate hook.
struct TErrorLangWrapper {
    static WideString Identity(const WideString& text) { return text; }
};
TTsTranslateHook& ErrorTranslateHook();
TTsCreatedHook& ErrorCreatedHook();

class ETsBadVersionString : public ETessarine {
public:
    explicit ETsBadVersionString(const WideString& text)
        : ETessarine(u"Cannot parse version string '%s' - must be of form '1.23' or '123'.", {text}) {}
    TS_EXCEPTION(ETsBadVersionString)
};

class ETsInvalidVarType : public ETessarine {
public:
    ETsInvalidVarType(int expected, int given)
        : ETessarine(u"Expected a variant of type %d, %d given.", {expected, given}) {}
    TS_EXCEPTION(ETsInvalidVarType)
};

class ETsClassListDuplicate : public ETessarine {
public:
    ETsClassListDuplicate(const TObject* list, const WideString& name, TClassRef cls)
        : ETessarine(u"Attempted to add duplicate %s item '%s' for class %s.",
                     {list, name, cls ? cls->Name : std::u16string_view(u"<nil class>")}) {}
    TS_EXCEPTION(ETsClassListDuplicate)
};

// ---- Base object ----------------------------------------------------------

class TTsObject;
// Handler of recoverable reports: (the object, the error).
using TTsErrorEvent = std::function<void(TTsObject&, Exception&)>;

// An error handler slot that costs one pointer until a handler is set: every
// node and property of a tree is an object, and few objects ever get one.
// Assigned and tested like the handler itself.
class TTsErrorHandler {
public:
    TTsErrorHandler() = default;
    TTsErrorHandler(const TTsErrorHandler& other) { *this = other; }
    TTsErrorHandler& operator=(const TTsErrorHandler& other) {
        if (this != &other) handler_ = other ? std::make_unique<TTsErrorEvent>(*other.handler_) : nullptr;
        return *this;
    }
    TTsErrorHandler& operator=(std::nullptr_t) {
        handler_.reset();
        return *this;
    }
    // Any callable a TTsErrorEvent holds; an empty one clears the slot.
    // Another slot is copied, not wrapped: a wrapped empty slot would look set.
    template <class F>
    requires(!std::is_same_v<std::remove_cvref_t<F>, TTsErrorHandler> &&
             std::is_constructible_v<TTsErrorEvent, F&&>) TTsErrorHandler&
    operator=(F&& handler) {
        TTsErrorEvent event(std::forward<F>(handler));
        handler_ = event ? std::make_unique<TTsErrorEvent>(std::move(event)) : nullptr;
        return *this;
    }
    explicit operator bool() const { return handler_ != nullptr; }
    void operator()(TTsObject& sender, Exception& error) const { (*handler_)(sender, error); }

private:
    std::unique_ptr<TTsErrorEvent> handler_;
};

class TTsObject : public TObject {
    TS_CLASS(TTsObject)
public:
    TTsObject() = default;
    TTsObject(const TTsObject&) = delete;
    TTsObject& operator=(const TTsObject&) = delete;
    ~TTsObject() override;

    TTsErrorHandler OnError;

    // "<" + class name + " $" + address as 8 hex digits + ">".
    virtual WideString Describe() const;
    // OnError when assigned (then the error is freed), else raises the error.
    virtual void HandleError(std::unique_ptr<Exception> error);
    // Takes ownership. The object comes as the only unique_ptr to it, so
    // it cannot already be owned here or anywhere else; nil adds nothing.
    TObject* AddOwned(std::unique_ptr<TObject> obj);
    const std::vector<std::unique_ptr<TObject>>& Owned() const;

private:
    // Made on the first AddOwned: most objects never own another.
    std::unique_ptr<std::vector<std::unique_ptr<TObject>>> owned_;
};

// ---- Class list -------------------------------------------------------------

struct TTsClassListItem {
    WideString Name;
    TClassRef Cls = nullptr;
};

class TTsClassList : public TObject {
    TS_CLASS(TTsClassList)
public:
    int Add(const WideString& name, TClassRef cls);  // ETsClassListDuplicate
    int IndexOf(std::u16string_view name) const;
    int IndexOfClass(TClassRef cls) const;
    TClassRef ClassOf(std::u16string_view name) const;
    WideString NameOf(TClassRef cls, const WideString& def) const;
    int Count() const { return static_cast<int>(items_.size()); }
    const TTsClassListItem& Item(int i) const { return items_.at(static_cast<size_t>(i)); }

private:
    std::vector<TTsClassListItem> items_;
};

// ---- Versions ---------------------------------------------------------------

using TTsVersion = uint16_t;  // major in the high byte, minor (hundredths) in the low

enum TTsVersionOp : uint8_t { voGreater = 0, voGreaterEq = 1, voLess = 2, voLessEq = 3, voEqual = 4, voNotEqual = 5 };

class TTsVersions : public TObject {
    TS_CLASS(TTsVersions)
public:
    static constexpr int MaxCount = 256;
    static constexpr TTsVersion LibraryVersion = 79;  // 0.79

    static TTsVersion Make(int major, int minor) {
        return static_cast<TTsVersion>(((major & 255) << 8) | (minor & 255));
    }
    static TTsVersion Parse(const WideString& text);  // ETsBadVersionString
    static WideString ToText(TTsVersion v);
    static WideString OpText(uint8_t op);

    void Clear() { count_ = 0; }
    void Add(uint8_t op, TTsVersion v);
    bool IsEmpty() const { return count_ == 0; }
    int Count() const { return count_; }
    uint8_t OpAt(int i) const { return entries_[static_cast<size_t>(i)].Op; }
    TTsVersion VersionAt(int i) const { return entries_[static_cast<size_t>(i)].Version; }
    bool Satisfies(TTsVersion v) const;
    bool SatisfiesLibrary() const { return Satisfies(LibraryVersion); }
    WideString ToText() const;

private:
    struct Entry {
        uint8_t Op = 0;
        TTsVersion Version = 0;
    };
    int count_ = 0;
    Entry entries_[MaxCount];
};

}  // namespace ts
