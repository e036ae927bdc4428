// A model read, compiled up to a phase and dumped as the debugger's tree
// lines, as the driver's worker does (without its thread): the first byte
// picks the phase and the reader, the rest is the model file's bytes.
#include "debugger/driver/TsdbgCompiler.h"
#include "debugger/driver/TsdbgSource.h"
#include "debugger/driver/TsdbgTreeLines.h"
#include "fuzz/FuzzCommon.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace ts;
    if (size == 0 || fuzz::TooLong(size)) return 0;
    const int phase = data[0] % PhaseCount;
    const TModelReader reader = data[0] & 0x10 ? TModelReader::Native : TModelReader::Modelling;
    fuzz::Guarded([&] {
        const WideString text = LineBreaksToCrLf(DecodeModelBytes(fuzz::Bytes(data + 1, size - 1)));
        std::unique_ptr<TTsTreeNode> tree = ReadModelText(text, reader);
        TTsdbgCompiler compiler;
        compiler.Options.Codepage = SystemCodepage;
        // The driver runs phases 0 and 1 as asked and the full compilation
        // as the merge phase's successor.
        compiler.SetPhase(static_cast<uint8_t>(std::min(phase, 1) + 1));
        compiler.Compile(*tree);
        std::unique_ptr<TTsTreeNode> result = BuildResultTree(compiler, compiler.CurrentPhase);
        LinesToText(RenderTree(*result));
    });
    return 0;
}
