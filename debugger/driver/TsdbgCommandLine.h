// The debugger's command line, "<source> [[!] phase]", without the window:
// the help request and its text, the phase argument, and whether the source
// is a directory mask or a file.
#pragma once

#include <optional>
#include <string_view>

#include "support/Object.h"

namespace ts {

inline constexpr std::u16string_view UsageText =
    u"<source> [[!] phase]\n\n"
    u"  source = directory\\with\\mod.el,*s | model.txt\n"
    u"  phase = ! (run immediately) + int (0 - load nodes, etc.)";
inline constexpr std::u16string_view ProgramName = u"Tsdbg";
inline constexpr std::u16string_view ApplicationTitle = u"Tessarine Debugger";
inline constexpr std::u16string_view WebAddress = u"https://tessarine.dev/";

// Argument 1 asks for help when, stripped of every "/" and "-" at both ends,
// it is exactly "?".
bool IsHelpRequest(std::u16string_view argument);
// "Tsdbg command-line parameters", the help box's title.
WideString HelpTitle();
// The help text; exeFileName is the running program's file name (its
// directory is dropped), which replaces every "%SELF%".
WideString HelpText(std::u16string_view exeFileName);

struct TPhaseArgument {
    bool RunNow = false;       // the argument began with "!"
    std::optional<int> Index;  // the phase, clamped to 0..2; none when not an integer
};
// Argument 2: an optional "!" and a decimal integer.
TPhaseArgument ParsePhaseArgument(std::u16string_view argument);

// A source names a mask when it is an existing directory or holds "*" or
// "?"; anything else (an empty source too) is a file to load.
bool IsSourceMask(std::u16string_view source);

}  // namespace ts
