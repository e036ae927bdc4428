// A model read, compiled and run over an input, and the texts of the result
// nodes taken, as the command line's run does: the model text is the data up
// to the first zero byte, the input the rest; the first byte picks the line
// break (or detection from the input).
#include "debugger/driver/TsdbgSource.h"
#include "fuzz/FuzzCommon.h"
#include "library/modelling/TsmCompiler.h"
#include "support/Strings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace ts;
    if (size == 0 || fuzz::TooLong(size)) return 0;
    static const char16_t* const kBreaks[] = {u"", u"\r\n", u"\n", u"\r"};
    const char16_t* lineBreak = kBreaks[data[0] % 4];
    // Plain names: a lambda cannot capture structured bindings here.
    const auto parts = fuzz::SplitAtZero(fuzz::Bytes(data + 1, size - 1));
    const std::string_view model = parts.first, inputBytes = parts.second;
    fuzz::Guarded([&] {
        const WideString text = LineBreaksToCrLf(DecodeModelBytes(model));
        std::unique_ptr<TTsTreeNode> tree = ReadModelText(text, TModelReader::Modelling);
        TTsmCompiler compiler;
        compiler.Options.Codepage = SystemCodepage;
        compiler.Options.LineBreak = lineBreak;
        compiler.Compile(*tree);
        compiler.OnError = [](TTsObject&, Exception&) {};
        TStringStream input{RawByteString(inputBytes)};
        std::unique_ptr<TTsmSlicer> slicer = compiler.Modell(input);
        const TTsTreeNode* root = slicer->ResultRoot();
        if (!root) return;
        std::vector<const TTsTreeNode*> todo{root};
        while (!todo.empty()) {
            const TTsTreeNode* node = todo.back();
            todo.pop_back();
            if (node->Props().Find(u"inner")) slicer->TextOfNode(node, u"inner");
            if (node->Props().Find(u"start")) slicer->TextOfNode(node, u"start");
            for (int i = 0; i < node->ChildCount(); ++i) todo.push_back(node->ChildByIndex(i));
        }
    });
    return 0;
}
