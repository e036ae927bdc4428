// Explaining a run to a model author: TTsmFarthestFailure watches runs
// through the OnModellingStep of a run or of a compiler and keeps the farthest input
// position at which a condition was tested and failed, every model node
// tried there, and the chain of model nodes that was being modelled.
//
// The engine tells listeners of every step only while someone listens
// (mismatch errors of forgiven conditions are made only then), so a run
// nobody explains pays nothing for this.
#pragma once

#include <cstdint>
#include <vector>

#include "library/modelling/TsmCompiler.h"

namespace ts {

class TTsmFarthestFailure {
public:
    struct TTried {
        TMmID ID = MmNoID;  // the node's record in the compiler's Table
        WideString Name;    // the model node's name, may be empty
        WideString Cond;    // its condition as the dump writes it; empty for none
        WideString Source;  // "file:line" of its model line, or empty
        WideString Reason;  // the mismatch's class name
    };
    struct TModelled {
        TMmID ID = MmNoID;
        WideString Name;
        WideString Source;
    };

    // Listens to the runs of a run object, or of a compiler's Modell, until
    // destroyed; a listener already set keeps being called after this one.
    // What it listens to must outlive it.
    explicit TTsmFarthestFailure(TTsmRun& run);
    explicit TTsmFarthestFailure(TTsmCompiler& compiler);
    ~TTsmFarthestFailure();
    TTsmFarthestFailure(const TTsmFarthestFailure&) = delete;
    TTsmFarthestFailure& operator=(const TTsmFarthestFailure&) = delete;

    // The farthest global offset of a failed condition; -1 when none failed.
    int64_t Offset = -1;
    // The nodes tried at Offset, in the order they were tried, each once.
    std::vector<TTried> Tried;
    // The nodes being modelled around the deepest of them, outermost first
    // (the root left out).
    std::vector<TModelled> Chain;

    // "'key' % ID+ (model.txt:6), 'comment' % SP* # (model.txt:4)".
    WideString ExpectedText() const;
    // "'LINE' (model.txt:2) > 'pair' (model.txt:5)".
    WideString ChainText() const;

private:
    void Step(TTsmNode& node, TTsmStepKind kind, const TTsArg& value);

    explicit TTsmFarthestFailure(TTsmModellingStepEvent& slot);

    TTsmModellingStepEvent& slot_;
    TTsmModellingStepEvent previous_;
    std::vector<TMmID> triedIds_;
};

}  // namespace ts
