// `tessarine check`: a file's dump against an expected dump.
#include "cli/Commands.h"
#include "cli/Diff.h"
#include "debugger/driver/TsdbgCompiler.h"
#include "support/Streams.h"

namespace ts::cli {

int RunCheck(const TArgs& args) {
    args.ExpectPositionals(2);
    const int phase = args.IntValue("phase", 0, 2).value_or(phFullCompilation);
    const std::string& file = args.Positionals()[0];
    const std::string& expectedFile = args.Positionals()[1];
    RawByteString expected;
    try {
        expected = LoadFileBytes(FileArg(expectedFile));
    } catch (const std::exception& e) {
        return ReportError(e);
    }
    std::optional<std::string> dump = ProduceDump(file, phase, false);
    if (!dump) return ExitError;
    std::string diff = UnifiedDiff(SplitLines(expected), SplitLines(*dump), expectedFile, file + " (dump)");
    if (diff.empty()) return ExitOk;
    // A dump the debugger saved names the model's text as the debugger's
    // memo; it is as good an expectation as the command line's own.
    std::optional<std::string> memoDump = ProduceDump(file, phase, false, true);
    if (memoDump && SplitLines(*memoDump) == SplitLines(expected)) return ExitOk;
    Out(diff);
    return ExitDifferent;
}

}  // namespace ts::cli
