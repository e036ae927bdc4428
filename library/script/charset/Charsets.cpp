// Charset name table and the ICU-backed code page conversions.
#include "library/script/charset/Charsets.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/ucnv_err.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "support/Exception.h"
#include "support/Format.h"

namespace ts {

namespace {

// A charset name with either its code page or the name it is an alias for.
struct CharsetEntry {
    std::string_view Name;  // lower case
    int32_t Codepage;       // 0 for an alias
    std::string_view AliasFor;
};

constexpr CharsetEntry Cp(std::string_view name, int32_t cp) { return {name, cp, {}}; }
constexpr CharsetEntry Alias(std::string_view name, std::string_view target) { return {name, 0, target}; }

// The names a MIME charset database knows for the common code pages.
// clang-format off
constexpr CharsetEntry kCharsets[] = {
    // Unicode
    Cp("utf-8", 65001), Alias("utf8", "utf-8"), Alias("unicode-1-1-utf-8", "utf-8"),
    Alias("unicode-2-0-utf-8", "utf-8"), Alias("x-unicode20utf8", "utf-8"),
    Cp("utf-16", 1200), Cp("unicode", 1200), Alias("utf-16le", "unicode"), Alias("ucs-2", "unicode"),
    Alias("iso-10646-ucs-2", "unicode"), Alias("csunicode", "unicode"),
    Cp("unicodefffe", 1201), Alias("utf-16be", "unicodefffe"),
    Cp("utf-32", 12000), Alias("utf-32le", "utf-32"), Cp("utf-32be", 12001),
    Cp("utf-7", 65000), Alias("unicode-1-1-utf-7", "utf-7"), Alias("unicode-2-0-utf-7", "utf-7"),
    Alias("x-unicode20utf7", "utf-7"), Alias("csunicode11utf7", "utf-7"),
    // ASCII and ISO 8859
    Cp("us-ascii", 20127), Alias("ascii", "us-ascii"), Alias("us", "us-ascii"), Alias("ansi_x3.4-1968", "us-ascii"),
    Alias("ansi_x3.4-1986", "us-ascii"), Alias("cp367", "us-ascii"), Alias("csascii", "us-ascii"),
    Alias("ibm367", "us-ascii"), Alias("iso-ir-6", "us-ascii"), Alias("iso646-us", "us-ascii"),
    Alias("iso_646.irv:1991", "us-ascii"),
    Cp("iso-8859-1", 28591), Alias("iso_8859-1", "iso-8859-1"), Alias("iso_8859-1:1987", "iso-8859-1"),
    Alias("latin1", "iso-8859-1"), Alias("l1", "iso-8859-1"), Alias("iso-ir-100", "iso-8859-1"),
    Alias("ibm819", "iso-8859-1"), Alias("cp819", "iso-8859-1"), Alias("csisolatin1", "iso-8859-1"),
    Cp("iso-8859-2", 28592), Alias("iso_8859-2", "iso-8859-2"), Alias("iso_8859-2:1987", "iso-8859-2"),
    Alias("latin2", "iso-8859-2"), Alias("l2", "iso-8859-2"), Alias("iso-ir-101", "iso-8859-2"),
    Alias("csisolatin2", "iso-8859-2"),
    Cp("iso-8859-3", 28593), Alias("iso_8859-3", "iso-8859-3"), Alias("latin3", "iso-8859-3"),
    Alias("l3", "iso-8859-3"), Alias("iso-ir-109", "iso-8859-3"), Alias("csisolatin3", "iso-8859-3"),
    Cp("iso-8859-4", 28594), Alias("iso_8859-4", "iso-8859-4"), Alias("latin4", "iso-8859-4"),
    Alias("l4", "iso-8859-4"), Alias("iso-ir-110", "iso-8859-4"), Alias("csisolatin4", "iso-8859-4"),
    Cp("iso-8859-5", 28595), Alias("iso_8859-5", "iso-8859-5"), Alias("cyrillic", "iso-8859-5"),
    Alias("iso-ir-144", "iso-8859-5"), Alias("csisolatincyrillic", "iso-8859-5"),
    Cp("iso-8859-6", 28596), Alias("iso_8859-6", "iso-8859-6"), Alias("arabic", "iso-8859-6"),
    Alias("iso-ir-127", "iso-8859-6"), Alias("ecma-114", "iso-8859-6"), Alias("csisolatinarabic", "iso-8859-6"),
    Cp("iso-8859-7", 28597), Alias("iso_8859-7", "iso-8859-7"), Alias("greek", "iso-8859-7"),
    Alias("greek8", "iso-8859-7"), Alias("elot_928", "iso-8859-7"), Alias("ecma-118", "iso-8859-7"),
    Alias("iso-ir-126", "iso-8859-7"), Alias("csisolatingreek", "iso-8859-7"),
    Cp("iso-8859-8", 28598), Alias("iso_8859-8", "iso-8859-8"), Alias("hebrew", "iso-8859-8"),
    Alias("visual", "iso-8859-8"), Alias("iso-ir-138", "iso-8859-8"), Alias("csisolatinhebrew", "iso-8859-8"),
    Alias("iso-8859-8 visual", "iso-8859-8"),
    Cp("iso-8859-8-i", 38598), Alias("logical", "iso-8859-8-i"),
    Cp("iso-8859-9", 28599), Alias("iso_8859-9", "iso-8859-9"), Alias("latin5", "iso-8859-9"),
    Alias("l5", "iso-8859-9"), Alias("iso-ir-148", "iso-8859-9"), Alias("csisolatin5", "iso-8859-9"),
    Cp("iso-8859-10", 28600), Alias("latin6", "iso-8859-10"), Alias("l6", "iso-8859-10"),
    Alias("iso-ir-157", "iso-8859-10"), Alias("csisolatin6", "iso-8859-10"),
    Cp("iso-8859-11", 28601),
    Cp("iso-8859-13", 28603), Alias("latin7", "iso-8859-13"), Alias("l7", "iso-8859-13"),
    Cp("iso-8859-14", 28604), Alias("latin8", "iso-8859-14"), Alias("l8", "iso-8859-14"),
    Alias("iso-ir-199", "iso-8859-14"),
    Cp("iso-8859-15", 28605), Alias("iso_8859-15", "iso-8859-15"), Alias("latin-9", "iso-8859-15"),
    Alias("latin9", "iso-8859-15"), Alias("l9", "iso-8859-15"), Alias("csisolatin9", "iso-8859-15"),
    Cp("iso-8859-16", 28606), Alias("latin10", "iso-8859-16"), Alias("l10", "iso-8859-16"),
    Alias("iso-ir-226", "iso-8859-16"),
    // Windows
    Cp("windows-874", 874), Alias("cp874", "windows-874"), Alias("x-cp874", "windows-874"),
    Alias("dos-874", "windows-874"), Alias("tis-620", "windows-874"),
    Cp("windows-1250", 1250), Alias("cp1250", "windows-1250"), Alias("x-cp1250", "windows-1250"),
    Cp("windows-1251", 1251), Alias("cp1251", "windows-1251"), Alias("x-cp1251", "windows-1251"),
    Cp("windows-1252", 1252), Alias("cp1252", "windows-1252"), Alias("x-cp1252", "windows-1252"),
    Alias("x-ansi", "windows-1252"),
    Cp("windows-1253", 1253), Alias("cp1253", "windows-1253"), Alias("x-cp1253", "windows-1253"),
    Cp("windows-1254", 1254), Alias("cp1254", "windows-1254"), Alias("x-cp1254", "windows-1254"),
    Cp("windows-1255", 1255), Alias("cp1255", "windows-1255"), Alias("x-cp1255", "windows-1255"),
    Cp("windows-1256", 1256), Alias("cp1256", "windows-1256"), Alias("x-cp1256", "windows-1256"),
    Cp("windows-1257", 1257), Alias("cp1257", "windows-1257"), Alias("x-cp1257", "windows-1257"),
    Cp("windows-1258", 1258), Alias("cp1258", "windows-1258"), Alias("x-cp1258", "windows-1258"),
    // Cyrillic
    Cp("koi8-r", 20866), Alias("koi8r", "koi8-r"), Alias("koi8", "koi8-r"), Alias("koi", "koi8-r"),
    Alias("cskoi8r", "koi8-r"),
    Cp("koi8-u", 21866), Alias("koi8-ru", "koi8-u"), Alias("koi8u", "koi8-u"),
    // DOS
    Cp("ibm437", 437), Alias("cp437", "ibm437"), Alias("437", "ibm437"), Alias("cspc8codepage437", "ibm437"),
    Cp("ibm737", 737), Alias("cp737", "ibm737"),
    Cp("ibm775", 775), Alias("cp775", "ibm775"),
    Cp("ibm850", 850), Alias("cp850", "ibm850"), Alias("850", "ibm850"),
    Cp("ibm852", 852), Alias("cp852", "ibm852"),
    Cp("ibm855", 855), Alias("cp855", "ibm855"),
    Cp("ibm857", 857), Alias("cp857", "ibm857"),
    Cp("ibm00858", 858), Alias("ibm858", "ibm00858"), Alias("cp858", "ibm00858"),
    Cp("ibm860", 860), Alias("cp860", "ibm860"),
    Cp("ibm861", 861), Alias("cp861", "ibm861"),
    Cp("dos-862", 862), Alias("ibm862", "dos-862"), Alias("cp862", "dos-862"),
    Cp("ibm863", 863), Alias("cp863", "ibm863"),
    Cp("ibm864", 864), Alias("cp864", "ibm864"),
    Cp("ibm865", 865), Alias("cp865", "ibm865"),
    Cp("cp866", 866), Alias("ibm866", "cp866"), Alias("csibm866", "cp866"),
    Cp("ibm869", 869), Alias("cp869", "ibm869"),
    // East Asian
    Cp("shift_jis", 932), Alias("shift-jis", "shift_jis"), Alias("sjis", "shift_jis"),
    Alias("x-sjis", "shift_jis"), Alias("ms_kanji", "shift_jis"), Alias("csshiftjis", "shift_jis"),
    Alias("windows-31j", "shift_jis"), Alias("cswindows31j", "shift_jis"), Alias("cp932", "shift_jis"),
    Cp("euc-jp", 51932), Alias("x-euc-jp", "euc-jp"), Alias("x-euc", "euc-jp"),
    Alias("cseucpkdfmtjapanese", "euc-jp"),
    Cp("iso-2022-jp", 50220), Alias("csiso2022jp", "iso-2022-jp"),
    Cp("gb2312", 936), Alias("csgb2312", "gb2312"), Alias("gb_2312-80", "gb2312"),
    Alias("csiso58gb231280", "gb2312"), Alias("iso-ir-58", "gb2312"), Alias("chinese", "gb2312"),
    Alias("x-cp20936", "gb2312"),
    Alias("gbk", "gb2312"), Alias("cp936", "gbk"), Alias("windows-936", "gbk"),
    Cp("gb18030", 54936),
    Cp("hz-gb-2312", 52936),
    Cp("big5", 950), Alias("csbig5", "big5"), Alias("cn-big5", "big5"), Alias("x-x-big5", "big5"),
    Alias("cp950", "big5"),
    Cp("euc-kr", 51949), Alias("cseuckr", "euc-kr"),
    Cp("ks_c_5601-1987", 949), Alias("ks_c_5601", "ks_c_5601-1987"), Alias("ks_c_5601_1987", "ks_c_5601-1987"),
    Alias("ks_c_5601-1989", "ks_c_5601-1987"), Alias("ksc_5601", "ks_c_5601-1987"),
    Alias("csksc56011987", "ks_c_5601-1987"), Alias("iso-ir-149", "ks_c_5601-1987"),
    Alias("korean", "ks_c_5601-1987"), Alias("cp949", "ks_c_5601-1987"),
    Cp("iso-2022-kr", 50225), Alias("csiso2022kr", "iso-2022-kr"),
    // Macintosh
    Cp("macintosh", 10000), Alias("mac", "macintosh"), Alias("csmacintosh", "macintosh"),
    Cp("x-mac-cyrillic", 10007), Cp("x-mac-ce", 10029),
};
// clang-format on

// ICU converter names by code page. Code page 0 is the system code page.
struct ConverterName {
    int32_t Codepage;
    const char* Icu;
};
constexpr ConverterName kConverters[] = {
    {0, "UTF-8"},           {65001, "UTF-8"},       {65000, "UTF-7"},       {1200, "UTF-16LE"},
    {1201, "UTF-16BE"},     {12000, "UTF-32LE"},    {12001, "UTF-32BE"},    {20127, "US-ASCII"},
    {28591, "ISO-8859-1"},  {28592, "iso-8859-2"},  {28593, "iso-8859-3"},  {28594, "iso-8859-4"},
    {28595, "iso-8859-5"},  {28596, "iso-8859-6"},  {28597, "iso-8859-7"},  {28598, "iso-8859-8"},
    {38598, "iso-8859-8"},  {28599, "iso-8859-9"},  {28600, "iso-8859-10"}, {28601, "iso-8859-11"},
    {28603, "iso-8859-13"}, {28604, "iso-8859-14"}, {28605, "iso-8859-15"}, {874, "windows-874"},
    {1250, "windows-1250"}, {1251, "windows-1251"}, {1252, "windows-1252"}, {1253, "windows-1253"},
    {1254, "windows-1254"}, {1255, "windows-1255"}, {1256, "windows-1256"}, {1257, "windows-1257"},
    {1258, "windows-1258"}, {20866, "koi8-r"},      {21866, "koi8-u"},      {437, "ibm-437"},
    {737, "ibm-737"},       {775, "ibm-775"},       {850, "ibm-850"},       {852, "ibm-852"},
    {855, "ibm-855"},       {857, "ibm-857"},       {858, "ibm-858"},       {860, "ibm-860"},
    {861, "ibm-861"},       {862, "ibm-862"},       {863, "ibm-863"},       {864, "ibm-864"},
    {865, "ibm-865"},       {866, "ibm-866"},       {869, "ibm-869"},       {932, "windows-31j"},
    {51932, "euc-jp"},      {50220, "iso-2022-jp"}, {936, "windows-936"},   {20936, "gb2312"},
    {54936, "gb18030"},     {52936, "HZ"},          {950, "windows-950"},   {51949, "euc-kr"},
    {949, "windows-949"},   {50225, "iso-2022-kr"}, {10000, "macintosh"},   {10007, "x-mac-cyrillic"},
    {10029, "x-mac-ce"},
};

bool SameNameAscii(std::string_view a, std::string_view lowerB) {
    if (a.size() != lowerB.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char c = a[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != lowerB[i]) return false;
    }
    return true;
}

const CharsetEntry* FindCharset(std::string_view name) {
    for (const CharsetEntry& e : kCharsets)
        if (SameNameAscii(name, e.Name)) return &e;
    return nullptr;
}

const char* IcuNameOf(int32_t codepage) {
    for (const ConverterName& c : kConverters)
        if (c.Codepage == codepage) return c.Icu;
    return nullptr;
}

struct ConverterCloser {
    void operator()(UConverter* c) const { ucnv_close(c); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

[[noreturn]] void Unsupported(int32_t codepage) {
    throw EConvertError(Format(u"Codepage %d is not supported.", {codepage}));
}

ConverterPtr OpenConverter(int32_t codepage) {
    const char* name = IcuNameOf(codepage);
    if (!name) Unsupported(codepage);
    UErrorCode err = U_ZERO_ERROR;
    ConverterPtr cnv(ucnv_open(name, &err));
    if (U_FAILURE(err) || !cnv) Unsupported(codepage);
    return cnv;
}

// Opening a converter costs far more than a short conversion, and conditions
// convert a few bytes per test: keep the last few converters of this thread
// open. Each use resets the converter and sets its callbacks afresh.
UConverter* CachedConverter(int32_t codepage) {
    struct Slot {
        int32_t Codepage;
        ConverterPtr Cnv;
    };
    thread_local std::vector<Slot> cache;
    for (size_t i = 0; i < cache.size(); ++i)
        if (cache[i].Codepage == codepage) {
            if (i) std::swap(cache[i], cache[0]);  // most recent first
            ucnv_reset(cache[0].Cnv.get());
            return cache[0].Cnv.get();
        }
    ConverterPtr cnv = OpenConverter(codepage);
    constexpr size_t kMaxOpen = 8;
    if (cache.size() == kMaxOpen) cache.pop_back();
    cache.insert(cache.begin(), Slot{codepage, std::move(cnv)});
    return cache[0].Cnv.get();
}

// Every undecodable byte sequence becomes one U+FFFD, whatever the
// converter's own substitution character is.
void ToUnicodeReplace(const void*, UConverterToUnicodeArgs* args, const char*, int32_t, UConverterCallbackReason reason,
                      UErrorCode* err) {
    if (reason > UCNV_IRREGULAR) return;
    static const UChar replacement = 0xFFFD;
    *err = U_ZERO_ERROR;
    ucnv_cbToUWriteUChars(args, &replacement, 1, 0, err);
}

// Substitutes "?" and remembers that a character was lost.
void FromUnicodeReplace(const void* context, UConverterFromUnicodeArgs* args, const UChar*, int32_t, UChar32,
                        UConverterCallbackReason reason, UErrorCode* err) {
    if (reason > UCNV_IRREGULAR) return;
    *static_cast<bool*>(const_cast<void*>(context)) = true;
    *err = U_ZERO_ERROR;
    ucnv_cbFromUWriteBytes(args, "?", 1, 0, err);
}

size_t CapOf(int32_t expectedLength, size_t size) {
    if (expectedLength < 0) return size;
    return std::min(size, static_cast<size_t>(expectedLength > 0 ? expectedLength - 1 : 0));
}

}  // namespace

int32_t CodepageOfCharset(std::string_view name) {
    // The table has no cycles, but a hop limit keeps an edited table from hanging.
    const CharsetEntry* e = FindCharset(name);
    for (size_t hops = 0; e && hops <= std::size(kCharsets); ++hops) {
        if (e->Codepage != 0) return e->Codepage;
        e = FindCharset(e->AliasFor);
    }
    return CpUnknown;
}

bool IsCodepageSupported(int32_t codepage) {
    if (codepage == CpUtf16Bytes) return true;
    const char* name = IcuNameOf(codepage);
    if (!name) return false;
    UErrorCode err = U_ZERO_ERROR;
    ConverterPtr cnv(ucnv_open(name, &err));
    return U_SUCCESS(err) && cnv;
}

WideString BytesToWide(int32_t codepage, std::string_view bytes, int32_t expectedLength) {
    if (bytes.empty()) return {};
    if (codepage == CpUtf16Bytes) {
        WideString out(CapOf(expectedLength, bytes.size() / 2), u'\0');
        for (size_t i = 0; i < out.size(); ++i)
            out[i] = static_cast<char16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                           (static_cast<uint8_t>(bytes[2 * i + 1]) << 8));
        return out;
    }
    UConverter* cnv = CachedConverter(codepage);
    UErrorCode err = U_ZERO_ERROR;
    ucnv_setToUCallBack(cnv, ToUnicodeReplace, nullptr, nullptr, nullptr, &err);
    WideString out(bytes.size() + 1, u'\0');
    int32_t srcLen = static_cast<int32_t>(std::min<size_t>(bytes.size(), INT32_MAX / 2 - 1));
    int32_t n = ucnv_toUChars(cnv, reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()), bytes.data(),
                              srcLen, &err);
    if (err == U_BUFFER_OVERFLOW_ERROR) {
        err = U_ZERO_ERROR;
        ucnv_reset(cnv);
        out.assign(static_cast<size_t>(n) + 1, u'\0');
        n = ucnv_toUChars(cnv, reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()), bytes.data(),
                          srcLen, &err);
    }
    if (U_FAILURE(err)) return {};
    out.resize(static_cast<size_t>(n));
    // The platform converts zero-terminated text: nothing after a zero survives.
    if (size_t z = out.find(u'\0'); z != WideString::npos) out.resize(z);
    out.resize(CapOf(expectedLength, out.size()));
    return out;
}

RawByteString WideToBytes(int32_t codepage, std::u16string_view text, int32_t expectedLength, bool requireLossless) {
    if (text.empty()) return {};
    if (codepage == CpUtf16Bytes) {
        RawByteString out(CapOf(expectedLength, text.size() * 2), '\0');
        for (size_t i = 0; i < out.size(); ++i)
            out[i] = static_cast<char>(i % 2 == 0 ? text[i / 2] & 0xFF : text[i / 2] >> 8);
        return out;
    }
    // The platform converts zero-terminated text.
    if (size_t z = text.find(u'\0'); z != std::u16string_view::npos) text = text.substr(0, z);
    if (text.empty()) return {};
    UConverter* cnv = CachedConverter(codepage);
    bool lost = false;
    UErrorCode err = U_ZERO_ERROR;
    ucnv_setFromUCallBack(cnv, FromUnicodeReplace, &lost, nullptr, nullptr, &err);
    int32_t srcLen = static_cast<int32_t>(std::min<size_t>(text.size(), INT32_MAX / 8 - 1));
    RawByteString out(static_cast<size_t>(UCNV_GET_MAX_BYTES_FOR_STRING(srcLen, ucnv_getMaxCharSize(cnv))) + 1, '\0');
    int32_t n = ucnv_fromUChars(cnv, out.data(), static_cast<int32_t>(out.size()),
                                reinterpret_cast<const UChar*>(text.data()), srcLen, &err);
    if (U_FAILURE(err)) return {};
    if (lost && requireLossless)
        throw EConvertError(
            Format(u"Codepage %d cannot represent all symbols of given string '%s'.", {codepage, text.substr(0, 50)}));
    out.resize(CapOf(expectedLength, static_cast<size_t>(n)));
    return out;
}

}  // namespace ts
