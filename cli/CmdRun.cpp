// `tessarine run`: a model run over an input file, and its result tree.
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <optional>

#include "cli/Commands.h"
#include "debugger/driver/TsdbgNames.h"
#include "debugger/driver/TsdbgRun.h"
#include "debugger/driver/TsdbgSource.h"
#include "library/modelling/TsmCompiler.h"
#include "library/modelling/TsmExplain.h"
#include "library/script/charset/Charsets.h"
#include "library/text/TsTextLocation.h"
#include "support/Progress.h"
#include "support/Strings.h"

namespace ts::cli {

namespace {

struct TRunOutput {
    TTsmSlicer& Slicer;
    int32_t Codepage;
};

std::string TextJson(const TTsTreeNode& node, const void* context) {
    const auto& run = *static_cast<const TRunOutput*>(context);
    std::optional<WideString> text = ResultNodeText(run.Slicer, node, run.Codepage);
    if (!text) return {};
    std::string out = "\"text\": ";
    JsonString(out, *text);
    return out + ", ";
}

// --codepage: a number, or a charset name the charset table knows.
int32_t CodepageArg(const TArgs& args) {
    const std::optional<std::string> v = args.Value("codepage");
    if (!v) return SystemCodepage;
    if (std::optional<int32_t> n = TryStrToInt(Utf8ToWide(*v))) {
        if (*n < -2 || *n > 65535 || !IsCodepageSupported(*n))
            throw EUsage("--codepage " + *v + " is not a code page this build converts");
        return *n;
    }
    const int32_t cp = CodepageOfCharset(*v);
    if (cp == CpUnknown || !IsCodepageSupported(cp)) throw EUsage("--codepage: unknown charset '" + *v + "'");
    return cp;
}

void PrintTree(const TTsTreeNode& root, const TRunOutput& run, bool json, bool partial) {
    if (json) {
        // Written as it is made: the text of a big tree is bigger than its input.
        // The root says that the tree is a failed run's.
        WriteTreeJson(
            root, true, &TextJson, &run, [](std::string_view piece) { Out(piece); },
            partial ? "\"partial\": true, " : "");
        return;
    }
    if (partial) Out(u"# partial result: the run failed; nodes as far as it succeeded\n");
    Out(ResultTreeText(run.Slicer, root, run.Codepage));
}

// --trace: each modelling step as a line of stderr, indented by the node's
// depth, naming its model line and the place in the input.
class TTrace {
public:
    TTrace(TTsmRun& run, const TTextPlace& input, int32_t limit) : run_(run), input_(input), limit_(limit) {
        lineStarts_.push_back(0);
        for (size_t i = 0; i < input.Bytes.size(); ++i) {
            const char c = input.Bytes[i];
            if (c == '\n' || (c == '\r' && (i + 1 >= input.Bytes.size() || input.Bytes[i + 1] != '\n')))
                lineStarts_.push_back(static_cast<int64_t>(i + 1));
        }
        run.OnModellingStep = [this](TTsmNode& node, TTsmStepKind kind, const TTsArg& value) {
            Step(node, kind, value);
        };
    }

private:
    // "LINE:COLUMN" of the current input position.
    WideString Here() const {
        if (run_.InputStack.Empty()) return u"?";
        const int64_t at = run_.GlobalOffset(run_.InputStack.Top()->Position());
        const auto it = std::upper_bound(lineStarts_.begin(), lineStarts_.end(), at);
        const int64_t start = *(it - 1);
        const size_t from = static_cast<size_t>(std::min<int64_t>(start, static_cast<int64_t>(input_.Bytes.size())));
        const size_t to =
            static_cast<size_t>(std::clamp<int64_t>(at, start, static_cast<int64_t>(input_.Bytes.size())));
        const int64_t column =
            static_cast<int64_t>(
                BytesToWide(input_.Codepage, std::string_view(input_.Bytes).substr(from, to - from)).size()) +
            1;
        return IntToStr(static_cast<int64_t>(it - lineStarts_.begin())) + u":" + IntToStr(column);
    }

    void Step(TTsmNode& node, TTsmStepKind kind, const TTsArg& value) {
        if (kind == TTsmStepKind::TryTest && value.AsInt() < 0) return;  // the "before" half of a try
        if (lines_ > limit_) return;
        if (lines_++ == limit_) {
            Err(u"... the trace stops after " + IntToStr(limit_) + u" lines (--trace-limit)\n");
            return;
        }
        size_t depth = 0;
        for (const TTsmNode* p = node.ParentNode; p; p = p->ParentNode) ++depth;
        WideString line(depth * 2, u' ');
        const WideString name = node.Props.Name.empty() ? WideString(u"<unnamed>") : u"'" + node.Props.Name + u"'";
        const WideString where =
            node.Props.Source.Has(vkString) ? u" (" + TsmSourceText(node.Props.Source, nullptr) + u")" : WideString();
        const auto* error = kind == TTsmStepKind::Condition || kind == TTsmStepKind::Modelled
                                ? dynamic_cast<const Exception*>(value.AsObj())
                                : nullptr;
        switch (kind) {
            case TTsmStepKind::TryTest:
                line += (value.AsInt() ? u"try " : u"skip ") + name + where;
                if (node.Props.Cond.IsSet()) line += u" " + run_.Model().ConditionText(node.Props.Cond);
                break;
            case TTsmStepKind::Condition:
                line += u"condition of " + name + (error ? u" did not match" : u" matched");
                break;
            case TTsmStepKind::Modelled:
                line += name + (error ? u" failed: " + HumaniseName(error->ClassName()) : WideString(u" succeeded"));
                break;
            case TTsmStepKind::ResultChosen: {
                const auto* result = dynamic_cast<const TTsTreeNode*>(value.AsObj());
                line += name + u" builds result node " +
                        (result ? (result->Name().empty() ? WideString(u"<unnamed>") : u"'" + result->Name() + u"'")
                                : WideString(u"<none>"));
                break;
            }
            case TTsmStepKind::Reset:
                line += name + u" resets the count " + IntToStr(value.AsInt());
                break;
            default:
                line += name + u" step " + IntToStr(static_cast<int32_t>(kind));
                break;
        }
        Err(line + u" at " + Here() + u"\n");
    }

    TTsmRun& run_;
    const TTextPlace& input_;
    int32_t limit_;
    int32_t lines_ = 0;
    std::vector<int64_t> lineStarts_;  // byte offsets where the input's lines begin
};

// What the run expected where it got farthest, at that place of the input.
void ReportFarthest(const TModelRun& run, const TTextPlace& input) {
    if (run.FarthestOffset < 0) return;
    const TTsTextLocation where = LocateInPlace(input, run.FarthestOffset);
    Err(LocatedMessage(input.FileName, where, u"farthest failure: expected one of: " + run.Expected));
    if (!run.Chain.empty()) Err(u"  while modelling " + run.Chain + u"\n");
}

// --jsonl: each record of the root as one JSON line once the root's loop
// has finished it; then it and the streams only it used are freed.
void StreamRecords(TTsmRun& run, int32_t codepage) {
    run.OnRecordsDone = [&run, codepage](TTsTreeNode& root) {
        if (root.ChildCount() == 0) return;
        const TRunOutput output{run.ModellingSlicer(), codepage};
        for (int i = 0; i < root.ChildCount(); ++i) Out(TreeToJson(*root.ChildByIndex(i), true, &TextJson, &output));
        run.FreeRecords();
    };
}

}  // namespace

int RunRun(const TArgs& args) {
    args.ExpectPositionals(2);
    const std::optional<std::string> lineBreak = args.Choice("line-break", {"crlf", "lf", "cr"});
    const int32_t codepage = CodepageArg(args);
    const std::string& modelArg = args.Positionals()[0];
    const std::string& inputArg = args.Positionals()[1];
    const bool jsonl = args.Flag("jsonl");
    if (jsonl && args.Flag("json")) throw EUsage("--json and --jsonl do not go together");
    // A trace places every step in the input, which it holds whole.
    if (jsonl && args.Flag("trace")) throw EUsage("--trace and --jsonl do not go together");

    // Each step's errors point into the text that step reads.
    TLoadedSource source;
    try {
        source = LoadSource(FileArg(modelArg));
    } catch (const std::exception& e) {
        return ReportFileError(e, modelArg);
    }
    const TTextPlace model = TTextPlace::Memo(modelArg, source.Text, source.FirstLine);
    TTextPlace input;
    // A streaming run reads its input as it goes and places errors in it there.
    std::unique_ptr<TStream> stream;
    std::optional<TTsStreamLocator> locator;
    try {
        if (jsonl) {
            stream = OpenInputStream(inputArg);
            input = TTextPlace::File(inputArg, {}, codepage);
            input.Locator = &locator.emplace(*stream);
        } else {
            input = TTextPlace::File(inputArg, ReadInputFile(inputArg), codepage);
        }
    } catch (const std::exception& e) {
        return ReportError(e);
    }
    const int64_t inputSize = stream ? stream->Size() : static_cast<int64_t>(input.Bytes.size());

    TModelRunRequest request;
    request.ModelText = source.Text;
    request.Read.SourceName = FileArg(modelArg);
    request.Read.FirstLine = source.FirstLine;
    request.Read.OnReport = [&model](Exception& e) { Err(PlacedErrorText(e, &model)); };
    request.Input = input.Bytes;
    request.InputStream = stream.get();
    request.Codepage = codepage;
    // An empty line break is detected from the input.
    request.LineBreak = !lineBreak ? u"" : *lineBreak == "crlf" ? u"\r\n" : *lineBreak == "lf" ? u"\n" : u"\r";
    std::optional<TProgress> progress;
    if (TProgress::Wanted(inputSize, isatty(STDERR_FILENO) == 1))
        progress.emplace(inputSize, [](std::string_view text) { Err(text); });
    // Reports go to stderr as they come and the run goes on; a progress
    // line is ended first, so that it does not run into them.
    request.OnReport = [&input, &progress](const Exception& e) {
        if (progress) progress->Finish();
        Err(PlacedErrorText(e, &input));
    };
    if (const auto mib = args.IntValue("max-memory", 1, INT32_MAX)) request.Limits.MaxMemory = int64_t{*mib} << 20;
    std::optional<TTrace> trace;
    const bool tracing = args.Flag("trace");
    const int traceLimit = args.IntValue("trace-limit", 0, INT32_MAX).value_or(10000);
    request.BeforeRun = [&](TTsmRun& run) {
        if (tracing) trace.emplace(run, input, traceLimit);
        if (jsonl) StreamRecords(run, codepage);
        if (progress) run.OnProgress = [&progress](int64_t position) { progress->Update(position); };
    };
    const std::unique_ptr<TModelRun> run = RunModel(std::move(request));
    if (progress) progress->Finish();
    if (run->ErrorStage == TRunStage::Model) return ReportError(*run->Error, &model);
    const bool json = args.Flag("json");
    if (run->Error) {
        ReportError(*run->Error, &input);
        ReportFarthest(*run, input);
        // A streaming run has printed its records as they came.
        if (run->ResultRoot() && !jsonl) PrintTree(*run->ResultRoot(), TRunOutput{*run->Result, codepage}, json, true);
        return ExitError;
    }
    if (run->ResultRoot()) {
        if (jsonl) {
            const TRunOutput output{*run->Result, codepage};
            for (int i = 0; i < run->ResultRoot()->ChildCount(); ++i)
                Out(TreeToJson(*run->ResultRoot()->ChildByIndex(i), true, &TextJson, &output));
        } else {
            PrintTree(*run->ResultRoot(), TRunOutput{*run->Result, codepage}, json, false);
        }
    }
    if (run->HasInputLeft()) ReportFarthest(*run, input);
    // FAIL reports and input left make the run's outcome a failure, warnings do not.
    return run->HasFailReports() || run->HasInputLeft() ? ExitDifferent : ExitOk;
}

}  // namespace ts::cli
