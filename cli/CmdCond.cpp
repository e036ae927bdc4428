// `tessarine cond`: one node condition tried at an offset of some input, as
// the only child of a one-node model during a real run, so that everything
// a condition may use in a model ($, len, eof, offset, node references) is
// there.
#include "cli/Commands.h"
#include "debugger/driver/TsdbgSource.h"
#include "library/expressions/rpn/Simpat.h"
#include "library/modelling/TsmCompiler.h"
#include "support/Strings.h"

namespace ts::cli {

namespace {

// How the pattern of a "%" condition was compiled: each choice's items.
std::string PatternExplained(const TTsmCompiler& compiler, const TTsmCondition& cond) {
    if (!cond.Operator || cond.Operator->Name != u"TCdSimpat")
        return "no simple pattern to explain: the condition's operator is " +
               (cond.Operator ? WideToUtf8(cond.Operator->Name) : std::string("none")) + "\n";
    // The pattern is what follows the operator in the condition's text.
    const WideString written = compiler.ConditionText(cond);
    std::u16string_view rest(written);
    rest.remove_prefix(std::min(rest.size(), rest.find(u'%') + 1));
    while (!rest.empty() && rest.front() == u' ') rest.remove_prefix(1);
    const TSimpatPattern pattern(rest);
    std::string out = "pattern " + WideToUtf8(written) + "\n";
    for (size_t i = 0; i < pattern.ChoiceCount(); ++i)
        out += "  choice " + std::to_string(i + 1) + ": " + pattern.Choice(i).Items().Dump() + "\n";
    return out;
}

}  // namespace

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

        const WideString condition = Utf8ToWide(args.Positionals()[0]);
        TTsTreeNode model(u"");
        model.AddChild(u"cond")->Props().SetValue(u"mCond", TTsValue::FromStr(condition));
        TTsmCompiler compiler;
        compiler.Options.Codepage = SystemCodepage;
        // Compiled alone first, so that its errors name no model node.
        // NL and EOLN of simple patterns match this line break.
        if (lineBreak) compiler.Options.LineBreak = *lineBreak == "crlf" ? u"\r\n" : *lineBreak == "lf" ? u"\n" : u"\r";
        const TTsmCondition compiled = compiler.CompileCondition(condition);
        if (args.Flag("explain")) Out(PatternExplained(compiler, compiled));
        compiler.Compile(model);

        // The condition's own result, and where the input stood after it.
        bool holds = false;
        int64_t after = offset;
        TTsmRun run(compiler);
        run.OnModellingStep = [&](TTsmNode& node, TTsmStepKind kind, const TTsArg& value) {
            if (kind != TTsmStepKind::Condition || !node.ParentNode || node.ParentNode->ParentNode) return;
            holds = value.AsObj() == nullptr;
            if (holds) after = run.CurrentInput().Position();
        };
        // The input the condition leaves is not a fault here.
        run.OnError = [](TTsObject&, Exception&) {};
        try {
            run.Modell(*input);
        } catch (const ETsmMismatch&) {
            // A condition that does not hold leaves the one-node model without a match.
        }
        const int64_t consumed = holds ? after - offset : 0;
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
