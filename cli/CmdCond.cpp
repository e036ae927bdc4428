// `tessarine cond`: one node condition tried at an offset of some input.
#include "cli/Commands.h"
#include "debugger/driver/TsdbgSource.h"
#include "library/expressions/TsConditions.h"
#include "library/modelling/TsmCompiler.h"
#include "support/Strings.h"

namespace ts::cli {

int RunCond(const TArgs& args) {
    args.ExpectPositionals(1);
    const std::optional<std::string> text = args.Value("text");
    const std::optional<std::string> inputFile = args.Value("input");
    if (text.has_value() == inputFile.has_value()) throw EUsage("give exactly one of --text and --input");
    const int offset = args.IntValue("offset", 0, INT32_MAX).value_or(0);
    const std::optional<std::string> lineBreak = args.Choice("line-break", {"crlf", "lf", "cr"});
    try {
        std::unique_ptr<TStream> input;
        if (text)
            input = std::make_unique<TStringStream>(*text);
        else
            input = std::make_unique<TFileStreamW>(FileArg(*inputFile), TFileMode::fmOpenRead);
        if (offset > input->Size()) throw EUsage("--offset is beyond the end of the input");
        input->SetPosition(offset);

        TTsmCompiler compiler;
        compiler.Options.Codepage = SystemCodepage;
        // NL and EOLN of simple patterns match this line break.
        if (lineBreak) compiler.Options.LineBreak = *lineBreak == "crlf" ? u"\r\n" : *lineBreak == "lf" ? u"\n" : u"\r";
        const TTsmCondition compiled = compiler.CompileCondition(Utf8ToWide(args.Positionals()[0]));
        TTsCondition cond;
        cond.Negated = compiled.Negated;
        cond.Class = compiled.Operator;
        cond.Value = compiled.Value;
        cond.Items = compiled.Items;
        // An empty result root stands in for the node a run would be at, so
        // that "$" and the functions of the input work as they do in a model.
        TTsTreeNode base;
        TTsCondEnvironment env;
        env.Options = compiler.Options;
        env.BaseNode = &base;
        env.Input = input.get();
        env.Functions = compiler.Functions.get();
        const bool holds = TestCondition(cond, env);
        const int64_t consumed = input->Position() - offset;
        if (args.Flag("json"))
            Out("{\"holds\": " + std::string(holds ? "true" : "false") + ", \"consumed\": " + std::to_string(consumed) +
                "}\n");
        else
            Out(std::string(holds ? "holds" : "does not hold") + ", consumed " + std::to_string(consumed) + "\n");
    } catch (const EUsage&) {
        throw;
    } catch (const std::exception& e) {
        return ReportError(e);
    }
    return ExitOk;
}

}  // namespace ts::cli
