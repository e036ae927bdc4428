#include "support/Strings.h"

#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/ustring.h>

#include <cmath>
#include <cstdio>
#include <cstring>

namespace ts {

WideString Utf8ToWide(std::string_view s) {
    WideString out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        auto b = static_cast<unsigned char>(s[i]);
        uint32_t cp;
        size_t len;
        if (b < 0x80) {
            cp = b;
            len = 1;
        } else if ((b >> 5) == 6) {
            cp = b & 0x1F;
            len = 2;
        } else if ((b >> 4) == 14) {
            cp = b & 0x0F;
            len = 3;
        } else if ((b >> 3) == 30) {
            cp = b & 0x07;
            len = 4;
        } else {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        if (i + len > s.size()) {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        bool ok = true;
        for (size_t k = 1; k < len; ++k) {
            auto c = static_cast<unsigned char>(s[i + k]);
            if ((c >> 6) != 2) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (c & 0x3F);
        }
        static const uint32_t minCp[] = {0, 0, 0x80, 0x800, 0x10000};
        if (!ok || cp < minCp[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
        i += len;
    }
    return out;
}

std::string WideToUtf8(std::u16string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        uint32_t cp = s[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;  // lone surrogate
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

WideString Latin1ToWide(std::string_view s) {
    WideString out(s.size(), u'\0');
    for (size_t i = 0; i < s.size(); ++i) out[i] = static_cast<unsigned char>(s[i]);
    return out;
}

WideString IntToStr(int64_t v) {
    std::string s = std::to_string(v);
    return WideString(s.begin(), s.end());
}

WideString IntToHex(uint64_t v, int digits) {
    static const char16_t hex[] = u"0123456789ABCDEF";
    WideString out;
    do {
        out.insert(out.begin(), hex[v & 15]);
        v >>= 4;
    } while (v);
    if (static_cast<int>(out.size()) < digits) out.insert(0, static_cast<size_t>(digits) - out.size(), u'0');
    return out;
}

WideString BytesToHexPairs(std::string_view bytes, size_t maxBytes) {
    WideString out;
    size_t n = bytes.size() < maxBytes ? bytes.size() : maxBytes;
    for (size_t i = 0; i < n; ++i) {
        if (i) out += u' ';
        out += IntToHex(static_cast<unsigned char>(bytes[i]), 2);
    }
    return out;
}

WideString FloatToStr(double v) {
    if (std::isnan(v)) return u"NAN";
    if (std::isinf(v)) return v > 0 ? u"INF" : u"-INF";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15G", v);
    // C writes "1E+20" / "1.5E-07"; the platform writes "1E20" / "1.5E-7".
    std::string s = buf;
    auto e = s.find('E');
    if (e != std::string::npos) {
        std::string mant = s.substr(0, e);
        std::string ex = s.substr(e + 1);
        bool neg = !ex.empty() && ex[0] == '-';
        if (!ex.empty() && (ex[0] == '+' || ex[0] == '-')) ex.erase(0, 1);
        while (ex.size() > 1 && ex[0] == '0') ex.erase(0, 1);
        s = mant + "E" + (neg ? "-" : "") + ex;
    }
    return WideString(s.begin(), s.end());
}

std::optional<int32_t> TryStrToInt(std::u16string_view s) {
    size_t i = 0;
    while (i < s.size() && s[i] == u' ') ++i;
    bool neg = false;
    if (i < s.size() && (s[i] == u'-' || s[i] == u'+')) neg = s[i++] == u'-';
    int base = 10;
    if (i < s.size() && s[i] == u'$') {
        base = 16;
        ++i;
    } else if (i + 1 < s.size() && s[i] == u'0' && (s[i + 1] == u'x' || s[i + 1] == u'X')) {
        base = 16;
        i += 2;
    }
    if (i >= s.size()) return std::nullopt;
    int64_t v = 0;
    for (; i < s.size(); ++i) {
        char16_t c = s[i];
        int d;
        if (c >= u'0' && c <= u'9')
            d = c - u'0';
        else if (base == 16 && c >= u'a' && c <= u'f')
            d = c - u'a' + 10;
        else if (base == 16 && c >= u'A' && c <= u'F')
            d = c - u'A' + 10;
        else
            return std::nullopt;
        v = v * base + d;
        if (v > (base == 16 ? 0xFFFFFFFFLL : 0x80000000LL)) return std::nullopt;
    }
    if (base == 16) {
        auto u = static_cast<uint32_t>(v);
        int32_t r = static_cast<int32_t>(u);
        return neg ? -r : r;
    }
    if (neg) return static_cast<int32_t>(-v);
    if (v > INT32_MAX) return std::nullopt;
    return static_cast<int32_t>(v);
}

std::u16string_view TrimLeftView(std::u16string_view s) {
    size_t i = 0;
    while (i < s.size() && s[i] <= u' ') ++i;
    return s.substr(i);
}

std::u16string_view TrimRightView(std::u16string_view s) {
    size_t n = s.size();
    while (n > 0 && s[n - 1] <= u' ') --n;
    return s.substr(0, n);
}

std::u16string_view TrimView(std::u16string_view s) { return TrimRightView(TrimLeftView(s)); }

char16_t AsciiUpper(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }
char16_t AsciiLower(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }

bool SameTextAscii(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    return true;
}

WideString UpperCaseW(std::u16string_view s) {
    icu::UnicodeString u(false, s.data(), static_cast<int32_t>(s.size()));
    u.toUpper(icu::Locale::getRoot());
    return WideString(u.getBuffer(), static_cast<size_t>(u.length()));
}

WideString LowerCaseW(std::u16string_view s) {
    icu::UnicodeString u(false, s.data(), static_cast<int32_t>(s.size()));
    u.toLower(icu::Locale::getRoot());
    return WideString(u.getBuffer(), static_cast<size_t>(u.length()));
}

bool SameTextW(std::u16string_view a, std::u16string_view b) {
    if (a.size() == b.size() && SameTextAscii(a, b)) return true;
    return UpperCaseW(a) == UpperCaseW(b);
}

WideString AddressText(const void* p) {
    return IntToHex(static_cast<uint64_t>(reinterpret_cast<uintptr_t>(p)) & 0xFFFFFFFFu, 8);
}

WideString Escaped(std::u16string_view text, size_t maxChars, bool quotes) {
    WideString out;
    size_t n = 0;
    for (char16_t c : text) {
        if (n++ == maxChars) {
            out += u"...";
            break;
        }
        switch (c) {
            case u'\r':
                out += u"\\r";
                break;
            case u'\n':
                out += u"\\n";
                break;
            case u'\t':
                out += u"\\t";
                break;
            case u'\\':
                out += quotes ? u"\\\\" : u"\\";
                break;
            case u'"':
                out += quotes ? u"\\\"" : u"\"";
                break;
            default:
                if (c < 0x20 || c == 0x7F)
                    out += u"\\x" + IntToHex(c, 2);
                else
                    out += c;
        }
    }
    return out;
}

}  // namespace ts
