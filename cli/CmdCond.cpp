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
        const TTsmCondition compiled = compiler.CompileCondition(Utf8ToWide(args.Positionals()[0]));
        TTsCondition cond;
        cond.Negated = compiled.Negated;
        cond.Class = compiled.Operator;
        cond.Value = compiled.Value;
        cond.Items = compiled.Items;
        TTsCondEnvironment env;
        env.Options = compiler.Options;
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
