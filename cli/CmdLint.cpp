// `tessarine lint`: the static checks of a model (a script's first model),
// one finding a line with its fix hint.
#include "cli/Commands.h"
#include "cli/Lint.h"
#include "debugger/driver/TsdbgSource.h"
#include "support/Streams.h"
#include "support/Strings.h"

namespace ts::cli {

namespace {

// The 0-based line of the script file at which its model text begins (0 for
// a plain model), so that findings name lines of the file.
int ModelLineOffset(const TLoadedSource& source, const WideString& file) {
    if (source.IsPlainModel || source.Text.empty()) return 0;
    const WideString whole = LineBreaksToCrLf(DecodeModelBytes(LoadFileBytes(file)));
    const size_t at = whole.find(source.Text);
    if (at == WideString::npos) return 0;
    int lines = 0;
    for (size_t i = 0; i < at; ++i)
        if (whole[i] == u'\n') ++lines;
    return lines;
}

}  // namespace

int RunLint(const TArgs& args) {
    args.ExpectPositionals(1);
    const std::string& fileArg = args.Positionals()[0];
    const WideString file = FileArg(fileArg);
    TLoadedSource source;
    try {
        source = LoadSource(file);
    } catch (const std::exception& e) {
        return ReportFileError(e, fileArg);
    }
    const TTextPlace model = TTextPlace::Memo(fileArg, source.Text, source.FirstLine);
    try {
        const int offset = ModelLineOffset(source, file);
        const std::vector<TLintFinding> findings = LintModel(source.Text, file);
        if (args.Flag("json")) {
            std::string out = "[";
            for (size_t i = 0; i < findings.size(); ++i) {
                const TLintFinding& f = findings[i];
                out += i ? ",\n " : "";
                out += "{\"line\": " + std::to_string(f.Line + offset) + ", \"column\": " + std::to_string(f.Column) +
                       ", \"message\": ";
                JsonString(out, f.Message);
                out += ", \"hint\": ";
                JsonString(out, f.Hint);
                out += "}";
            }
            Out(out + "]\n");
        } else {
            for (const TLintFinding& f : findings)
                Out(Utf8ToWide(fileArg) + u":" + IntToStr(f.Line + offset) + u":" + IntToStr(f.Column) +
                    u": warning: " + f.Message + u"\n  hint: " + f.Hint + u"\n");
        }
        return findings.empty() ? ExitOk : ExitDifferent;
    } catch (const std::exception& e) {
        return ReportError(e, &model);
    }
}

}  // namespace ts::cli
