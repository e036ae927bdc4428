// `tessarine dump`: the tree view's lines for a file's model.
#include "cli/Commands.h"
#include "debugger/driver/TsdbgDriver.h"
#include "debugger/driver/TsdbgNames.h"
#include "debugger/driver/TsdbgTreeLines.h"
#include "library/text/TsTextLocation.h"
#include "support/Strings.h"

namespace ts::cli {

std::optional<std::string> ProduceDump(const std::string& file, int phase, bool json, bool memoNames) {
    TLoadedSource source;
    try {
        source = LoadSource(FileArg(file));
    } catch (const std::exception& e) {
        ReportFileError(e, file);
        return std::nullopt;
    }
    TCompileDriver driver;
    // Sources and messages name the file as the user did.
    if (!memoNames) {
        driver.SourceName = FileArg(file);
        driver.FirstLine = source.FirstLine;
    }
    driver.StartCompile(source.Text, phase);
    TSyncOutcome outcome = driver.WaitAndSync();
    if (outcome.Action != TSyncAction::ShowResult) {
        if (driver.ErrorClass.empty()) {
            Err(u"Abnormal end of the compilation (code " + IntToStr(outcome.ExitCode) + u")\n");
        } else {
            // The driver reads the memo as the window does: offsets count
            // in the memo's bytes, reader lines in the file.
            const WideString text = HumaniseName(driver.ErrorClass) + u": " + driver.ErrorMessage;
            const WideString name = FileArg(file);
            if (!driver.ErrorExplanation.empty()) {
                Err(MemoOffsetText(source.Text, driver.ErrorExplanationOffset, name, source.FirstLine,
                                   driver.ErrorExplanation) +
                    DetailsText(text));
            } else if (driver.ErrorOffset >= 0) {
                Err(MemoOffsetText(source.Text, driver.ErrorOffset, name, source.FirstLine, text));
            } else if (driver.ErrorLine > 0) {
                TTsTextLocation where = LocateLine(source.Text, driver.ErrorLine - driver.FirstLine, 1);
                where.Line = driver.ErrorLine - driver.FirstLine + source.FirstLine;
                Err(LocatedMessage(name, where, text));
            } else {
                Err(name + u": " + text + u"\n");
            }
            Err(u"Error phase: " + WideString(PhaseName(driver.ErrorPhase())) + u"\n");
        }
        return std::nullopt;
    }
    if (json) return TreeToJson(*driver.ResultTree, false);
    return WideToUtf8(LinesToText(RenderTree(*driver.ResultTree)));
}

int RunDump(const TArgs& args) {
    args.ExpectPositionals(1);
    const int phase = args.IntValue("phase", 0, 2).value_or(phFullCompilation);
    std::optional<std::string> dump = ProduceDump(args.Positionals()[0], phase, args.Flag("json"));
    if (!dump) return ExitError;
    Out(*dump);
    return ExitOk;
}

}  // namespace ts::cli
