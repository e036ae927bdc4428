// `tessarine read`: the model tree a reader makes of a file's model.
#include "cli/Commands.h"
#include "debugger/driver/TsdbgSource.h"

namespace ts::cli {

int RunRead(const TArgs& args) {
    args.ExpectPositionals(1);
    const std::string reader = args.Choice("reader", {"modelling", "native"}).value_or("modelling");
    const std::string& file = args.Positionals()[0];
    TLoadedSource source;
    try {
        source = LoadSource(FileArg(file));
    } catch (const std::exception& e) {
        return ReportFileError(e, file);
    }
    const TTextPlace model = TTextPlace::Memo(file, source.Text, source.FirstLine);
    try {
        TModelReadOptions read;
        read.SourceName = FileArg(file);
        read.FirstLine = source.FirstLine;
        // Warnings are shown and the read goes on.
        read.OnReport = [&model](Exception& e) { Err(PlacedErrorText(e, &model)); };
        std::unique_ptr<TTsTreeNode> tree =
            ReadModelText(source.Text, reader == "native" ? TModelReader::Native : TModelReader::Modelling, read);
        if (args.Flag("json"))
            WriteTreeJson(*tree, true, nullptr, nullptr, [](std::string_view piece) { Out(piece); });
        else
            Out(TreeToText(*tree));
    } catch (const std::exception& e) {
        return ReportError(e, &model);
    }
    return ExitOk;
}

}  // namespace ts::cli
