#include "support/Format.h"

#include <cstdio>

#include "support/Exception.h"
#include "support/Strings.h"

namespace ts {

FormatArg::FormatArg(std::string_view s) : kind_(Kind::Text), s_(Utf8ToWide(s)) {}

WideString ObjectText(const TObject* o) {
    if (!o) return u"<nil object>";
    return WideString(o->ClassName());
}

namespace {

[[noreturn]] void BadFormat(std::u16string_view format) {
    throw EConvertError(u"Format '" + WideString(format) + u"' invalid or incompatible with argument");
}

WideString ArgAsText(const FormatArg& a) {
    switch (a.kind()) {
        case FormatArg::Kind::Text:
            return a.Text();
        case FormatArg::Kind::Object:
            return ObjectText(a.Obj());
        case FormatArg::Kind::Float:
            return FloatToStr(a.Float());
        case FormatArg::Kind::UInt:
            return Utf8ToWide(std::to_string(static_cast<uint64_t>(a.Int())));
        case FormatArg::Kind::Int:
            break;
    }
    return IntToStr(a.Int());
}

void Pad(WideString& out, WideString body, int width, bool left) {
    if (width > 0 && static_cast<int>(body.size()) < width) {
        WideString pad(static_cast<size_t>(width) - body.size(), u' ');
        body = left ? body + pad : pad + body;
    }
    out += body;
}

}  // namespace

WideString Format(std::u16string_view format, FormatArgs args) { return Format(format, args.begin(), args.size()); }

WideString Format(std::u16string_view fmt, const FormatArg* args, size_t count) {
    WideString out;
    out.reserve(fmt.size() + 16);
    size_t next = 0;
    for (size_t i = 0; i < fmt.size(); ++i) {
        char16_t c = fmt[i];
        if (c != u'%') {
            out += c;
            continue;
        }
        if (++i >= fmt.size()) BadFormat(fmt);
        if (fmt[i] == u'%') {
            out += u'%';
            continue;
        }
        // [index:] [-] [width] [.prec] type
        size_t save = i;
        int num = 0;
        bool haveNum = false;
        while (i < fmt.size() && fmt[i] >= u'0' && fmt[i] <= u'9') {
            num = num * 10 + (fmt[i] - u'0');
            haveNum = true;
            ++i;
        }
        if (i < fmt.size() && fmt[i] == u':' && haveNum) {
            next = static_cast<size_t>(num);
            ++i;
        } else {
            i = save;
        }
        bool left = false;
        if (i < fmt.size() && fmt[i] == u'-') {
            left = true;
            ++i;
        }
        int width = 0;
        while (i < fmt.size() && fmt[i] >= u'0' && fmt[i] <= u'9') width = width * 10 + (fmt[i++] - u'0');
        int prec = -1;
        if (i < fmt.size() && fmt[i] == u'.') {
            ++i;
            prec = 0;
            while (i < fmt.size() && fmt[i] >= u'0' && fmt[i] <= u'9') prec = prec * 10 + (fmt[i++] - u'0');
        }
        if (i >= fmt.size()) BadFormat(fmt);
        if (next >= count) BadFormat(fmt);
        const FormatArg& a = args[next++];
        char16_t type = AsciiLower(fmt[i]);
        bool isNumber = a.kind() == FormatArg::Kind::Int || a.kind() == FormatArg::Kind::UInt;
        switch (type) {
            case u'd':
            case u'u': {
                if (!isNumber) {
                    Pad(out, ArgAsText(a), width, left);
                    break;
                }
                int64_t v = a.Int();
                if (type == u'u' && a.kind() == FormatArg::Kind::Int)
                    v = static_cast<int64_t>(static_cast<uint32_t>(v));
                bool neg = v < 0;
                std::string digits =
                    neg ? std::to_string(-static_cast<uint64_t>(v)) : std::to_string(static_cast<uint64_t>(v));
                if (prec > 0 && static_cast<int>(digits.size()) < prec)
                    digits.insert(0, static_cast<size_t>(prec) - digits.size(), '0');
                Pad(out, Utf8ToWide((neg ? "-" : "") + digits), width, left);
                break;
            }
            case u'x': {
                if (!isNumber) {
                    Pad(out, ArgAsText(a), width, left);
                    break;
                }
                // Negative 32-bit values print as their two's complement, as on the platform.
                uint64_t v = static_cast<uint64_t>(a.Int());
                if (a.Int() < 0 && a.Int() >= INT32_MIN) v &= 0xFFFFFFFFu;
                Pad(out, IntToHex(v, prec > 0 ? prec : 1), width, left);
                break;
            }
            case u'e':
            case u'f':
            case u'g':
            case u'n':
            case u'm': {
                double v = a.kind() == FormatArg::Kind::Float ? a.Float()
                           : isNumber                         ? static_cast<double>(a.Int())
                                                              : 0.0;
                if (!isNumber && a.kind() != FormatArg::Kind::Float) BadFormat(fmt);
                char buf[512];
                if (type == u'g') {
                    Pad(out, FloatToStr(v), width, left);
                    break;
                }
                if (type == u'e')
                    std::snprintf(buf, sizeof buf, "%.*E", prec < 0 ? 14 : (prec > 0 ? prec - 1 : 0), v);
                else
                    std::snprintf(buf, sizeof buf, "%.*f", prec < 0 ? 2 : prec, v);
                Pad(out, Utf8ToWide(buf), width, left);
                break;
            }
            case u's': {
                WideString s = ArgAsText(a);
                if (prec >= 0 && static_cast<int>(s.size()) > prec) s.resize(static_cast<size_t>(prec));
                Pad(out, std::move(s), width, left);
                break;
            }
            case u'p':
                Pad(out, IntToHex(static_cast<uint64_t>(a.Int()) & 0xFFFFFFFFu, 8), width, left);
                break;
            default:
                BadFormat(fmt);
        }
    }
    return out;
}

}  // namespace ts
