// Humanised names.
#include "debugger/driver/TsdbgNames.h"

namespace ts {

namespace {

bool IsUpperAZ(char16_t c) { return c >= u'A' && c <= u'Z'; }

// A prefix goes only when a capital follows it: "Exception" or a property
// such as "Extra" must not lose its first letter.
void DropPrefix(std::u16string_view& s, std::u16string_view prefix) {
    if (s.size() > prefix.size() && s.starts_with(prefix) && IsUpperAZ(s[prefix.size()]))
        s.remove_prefix(prefix.size());
}

}  // namespace

WideString HumaniseName(std::u16string_view name) {
    DropPrefix(name, u"E");
    DropPrefix(name, u"Mm");
    DropPrefix(name, u"Tsm");
    DropPrefix(name, u"Ts");
    WideString s(name);
    // The first and the last character never get a blank ("MergesL" stays).
    for (size_t i = 1; i + 1 < s.size(); ++i) {
        if (IsUpperAZ(s[i]) && !IsUpperAZ(s[i - 1])) {
            s.insert(i, 1, u' ');
            ++i;  // past the capital that moved right
        }
    }
    return s;
}

}  // namespace ts
