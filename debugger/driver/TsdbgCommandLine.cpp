#include "debugger/driver/TsdbgCommandLine.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "debugger/driver/TsdbgCompiler.h"
#include "support/Format.h"
#include "support/Streams.h"
#include "support/Strings.h"

namespace ts {

bool IsHelpRequest(std::u16string_view argument) {
    auto stripped = [](char16_t c) { return c == u'/' || c == u'-'; };
    while (!argument.empty() && stripped(argument.front())) argument.remove_prefix(1);
    while (!argument.empty() && stripped(argument.back())) argument.remove_suffix(1);
    return argument == u"?";
}

WideString HelpTitle() { return WideString(ProgramName) + u" command-line parameters"; }

WideString HelpText(std::u16string_view exeFileName) {
    // The program is started without ".exe" on this platform, so the usage
    // line shows it as it is typed.
    WideString text =
        Format(u"%s%s:\n\n  %s %s\n\n%s", {WideString(ProgramName), WideString(u" command-line parameters"),
                                           LowerCaseW(ProgramName), WideString(UsageText), WideString(WebAddress)});
    size_t slash = exeFileName.find_last_of(u"/\\");
    WideString self = LowerCaseW(slash == std::u16string_view::npos ? exeFileName : exeFileName.substr(slash + 1));
    static constexpr std::u16string_view marker = u"%SELF%";
    for (size_t at = text.find(marker); at != WideString::npos; at = text.find(marker, at + self.size()))
        text.replace(at, marker.size(), self);
    return text;
}

TPhaseArgument ParsePhaseArgument(std::u16string_view argument) {
    TPhaseArgument result;
    if (!argument.empty() && argument.front() == u'!') {
        result.RunNow = true;
        argument.remove_prefix(1);
    }
    // Decimal only: the digits after an optional sign.
    std::u16string_view digits = argument;
    if (!digits.empty() && (digits.front() == u'+' || digits.front() == u'-')) digits.remove_prefix(1);
    bool decimal =
        !digits.empty() && std::all_of(digits.begin(), digits.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; });
    if (decimal) {
        if (auto n = TryStrToInt(argument)) result.Index = std::clamp(*n, 0, PhaseCount - 1);
    }
    return result;
}

bool IsSourceMask(std::u16string_view source) {
    if (source.find_first_of(u"*?") != std::u16string_view::npos) return true;
    if (source.empty()) return false;
    std::error_code ec;
    return std::filesystem::is_directory(FileNameToPath(WideString(source)), ec);
}

}  // namespace ts
