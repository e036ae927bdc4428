// `tessarine read`: the model tree a reader makes of a file's model.
#include "cli/Commands.h"
#include "debugger/driver/TsdbgSource.h"

namespace ts::cli {

int RunRead(const TArgs& args) {
    args.ExpectPositionals(1);
    const std::string reader = args.Choice("reader", {"modelling", "native"}).value_or("modelling");
    try {
        TLoadedSource source = LoadSource(FileArg(args.Positionals()[0]));
        std::unique_ptr<TTsTreeNode> tree =
            ReadModelText(source.Text, reader == "native" ? TModelReader::Native : TModelReader::Modelling);
        if (args.Flag("json"))
            Out(TreeToJson(*tree, true));
        else
            Out(TreeToText(*tree));
    } catch (const std::exception& e) {
        return ReportError(e);
    }
    return ExitOk;
}

}  // namespace ts::cli
