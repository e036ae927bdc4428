// Format: fills a message format in the platform's syntax ("%s", "%d",
// "%-2d", "%.2X", "%.4X", "%g", "%%") with typed arguments. An object
// argument prints as its class name, a null object as "<nil object>".
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

#include "support/Object.h"

namespace ts {

class FormatArg {
public:
    enum class Kind { Int, UInt, Float, Text, Object };

    FormatArg(int v) : kind_(Kind::Int), i_(v) {}
    FormatArg(long v) : kind_(Kind::Int), i_(v) {}
    FormatArg(long long v) : kind_(Kind::Int), i_(v) {}
    FormatArg(unsigned v) : kind_(Kind::UInt), i_(static_cast<int64_t>(v)) {}
    FormatArg(unsigned long v) : kind_(Kind::UInt), i_(static_cast<int64_t>(v)) {}
    FormatArg(unsigned long long v) : kind_(Kind::UInt), i_(static_cast<int64_t>(v)) {}
    FormatArg(bool v) : kind_(Kind::Int), i_(v ? 1 : 0) {}
    FormatArg(double v) : kind_(Kind::Float), f_(v) {}
    FormatArg(std::u16string_view s) : kind_(Kind::Text), s_(s) {}
    FormatArg(const WideString& s) : kind_(Kind::Text), s_(s) {}
    FormatArg(const char16_t* s) : kind_(Kind::Text), s_(s ? s : u"") {}
    // 8-bit text is taken as UTF-8 (invalid bytes become U+FFFD).
    FormatArg(std::string_view s);
    FormatArg(const std::string& s) : FormatArg(std::string_view(s)) {}
    FormatArg(const char* s) : FormatArg(std::string_view(s ? s : "")) {}
    FormatArg(std::nullptr_t) : kind_(Kind::Object), obj_(nullptr) {}
    template <class T, class = std::enable_if_t<std::is_base_of_v<TObject, T>>>
    FormatArg(const T* o) : kind_(Kind::Object), obj_(o) {}

    Kind kind() const { return kind_; }
    int64_t Int() const { return i_; }
    double Float() const { return f_; }
    const WideString& Text() const { return s_; }
    const TObject* Obj() const { return obj_; }

private:
    Kind kind_;
    int64_t i_ = 0;
    double f_ = 0;
    WideString s_;
    const TObject* obj_ = nullptr;
};

using FormatArgs = std::initializer_list<FormatArg>;

// Raises EConvertError when a directive and its argument do not fit together
// or arguments are missing, as the platform's Format does.
WideString Format(std::u16string_view format, FormatArgs args);
WideString Format(std::u16string_view format, const FormatArg* args, size_t count);

// "<nil object>" or the object's class name.
WideString ObjectText(const TObject* o);

}  // namespace ts
