// `tessarine run`: a model run over an input file, and its result tree.
#include "cli/Commands.h"
#include "debugger/driver/TsdbgNames.h"
#include "debugger/driver/TsdbgSource.h"
#include "library/modelling/TsmCompiler.h"
#include "library/script/charset/Charsets.h"
#include "support/Strings.h"

namespace ts::cli {

namespace {

// Shown inner texts are cut after this many characters; --json has them whole.
constexpr size_t kShownText = 60;

struct TRunOutput {
    TTsmSlicer& Slicer;
    int32_t Codepage;

    // A node's inner text in the input's code page; UTF-8 keeps every byte
    // past a zero byte too.
    WideString SpanText(const TTsTreeNode& node, std::u16string_view span) const {
        RawByteString bytes = Slicer.TextOfNode(&node, span);
        return Codepage == CpUtf8 ? Utf8ToWide(bytes) : BytesToWide(Codepage, bytes);
    }
    WideString InnerText(const TTsTreeNode& node) const { return SpanText(node, u"inner"); }
};

std::string InnerTextJson(const TTsTreeNode& node, const void* context) {
    const auto& run = *static_cast<const TRunOutput*>(context);
    if (!node.Props().Find(u"inner")) return {};
    std::string out = "\"text\": ";
    JsonString(out, run.InnerText(node));
    return out + ", ";
}

WideString ResultText(const TTsTreeNode& root, const TRunOutput& run) {
    WideString out;
    std::vector<std::pair<const TTsTreeNode*, size_t>> todo{{&root, 0}};
    while (!todo.empty()) {
        auto [node, depth] = todo.back();
        todo.pop_back();
        out.append(depth * 2, u' ');
        out += node->Name().empty() ? WideString(u"<unnamed>") : node->Name();
        if (node->Props().Find(u"inner")) {
            WideString inner = run.InnerText(*node);
            out += u" \"" + Escaped(inner, kShownText) + u"\"";
            // A node whose condition took the text and whose children took
            // nothing has it all in its start span: show that too.
            if (inner.empty() && node->Props().Find(u"start")) {
                WideString start = run.SpanText(*node, u"start");
                if (!start.empty()) out += u" start \"" + Escaped(start, kShownText) + u"\"";
            }
        }
        out += u'\n';
        for (int i = node->ChildCount() - 1; i >= 0; --i) todo.push_back({node->ChildByIndex(i), depth + 1});
    }
    return out;
}

}  // namespace

int RunRun(const TArgs& args) {
    args.ExpectPositionals(2);
    const std::optional<std::string> lineBreak = args.Choice("line-break", {"crlf", "lf", "cr"});
    const int codepage = args.IntValue("codepage", -2, 65535).value_or(SystemCodepage);
    try {
        TLoadedSource source = LoadSource(FileArg(args.Positionals()[0]));
        std::unique_ptr<TTsTreeNode> tree = ReadModelText(source.Text, TModelReader::Modelling);
        TTsmCompiler compiler;
        compiler.Options.Codepage = codepage;
        // An empty line break is detected from the input.
        compiler.Options.LineBreak = !lineBreak ? u"" : *lineBreak == "crlf" ? u"\r\n" : *lineBreak == "lf" ? u"\n" : u"\r";
        compiler.Compile(*tree);
        // Reports go to stderr and the run goes on.
        compiler.OnError = [](TTsObject&, Exception& e) {
            Err(HumaniseName(e.ClassName()) + u": " + e.Message() + u"\n");
        };
        TFileStreamW input(FileArg(args.Positionals()[1]), TFileMode::fmOpenRead);
        std::unique_ptr<TTsmSlicer> slicer = compiler.Modell(input);
        const TTsTreeNode* root = slicer->ResultRoot();
        if (!root) return ExitOk;
        const TRunOutput run{*slicer, codepage};
        if (args.Flag("json"))
            Out(TreeToJson(*root, true, &InnerTextJson, &run));
        else
            Out(ResultText(*root, run));
    } catch (const std::exception& e) {
        return ReportError(e);
    }
    return ExitOk;
}

}  // namespace ts::cli
