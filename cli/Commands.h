// The subcommands' entry points, one file each, and the dump that dump and
// check share.
#pragma once

#include <optional>
#include <string>

#include "cli/CliCommon.h"

namespace ts::cli {

int RunDump(const TArgs& args);
int RunCheck(const TArgs& args);
int RunRead(const TArgs& args);
int RunRun(const TArgs& args);
int RunScript(const TArgs& args);
int RunCond(const TArgs& args);
int RunLint(const TArgs& args);
int RunTest(const TArgs& args);

// The tree view's lines (or the JSON dump tree) for a file's model compiled
// up to a phase, in UTF-8. On failure the error is reported with its phase
// and nullopt comes back.
// memoNames: name the text as the debugger names its memo ("<StringStream>")
// instead of after the file, as a dump the debugger saved does.
std::optional<std::string> ProduceDump(const std::string& file, int phase, bool json, bool memoNames = false);

}  // namespace ts::cli
