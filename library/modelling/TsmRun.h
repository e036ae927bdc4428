// TTsmRun: one run of a compiled model. The compiled model (TTsmCompiler:
// its table and records) is only read while it runs, so one model can run
// on several threads at once, each with a run of its own. A run holds
// everything that changes while the model runs (the input stack, the model
// node objects, the slicer that receives the result, the run state) and
// the settings of the run (options, limits, cancel token, listeners, error
// handler and the function registry its conditions call).
#pragma once

#include <functional>
#include <memory>

#include "library/core/TsBase.h"
#include "library/expressions/TsExpressions.h"
#include "library/modelling/TsmEngine.h"
#include "library/modelling/TsmNodes.h"
#include "library/modelling/streams/TsmSlicer.h"

namespace ts {

class TTsmCompiler;

// The steps OnModellingStep reports; the numbers are those the event has
// always carried, so listeners that print them keep their meaning.
enum class TTsmStepKind : int32_t {
    TryTest = 0,       // the child: -1 before its try test, then 0 or 1 (allowed)
    Condition = 1,     // the child: the mismatch error or nil
    Modelled = 2,      // the child: the error of its own modelling or nil
    ResultChosen = 3,  // the node: its result tree node
    Reset = 4,         // a resetter child: the parent's MatchCount before the reset
};

// (node, step kind, value) at each modelling step.
using TTsmModellingStepEvent = std::function<void(TTsmNode& node, TTsmStepKind kind, const TTsArg& value)>;

// What a run is told, read when its Modell starts. The compiler holds one set
// for the run its own Modell makes; a TTsmRun holds its own.
struct TTsmRunSettings {
    TTsOptions Options;
    TTsmModellingStepEvent OnModellingStep;
    // Stops the run from another thread (keep a copy of the token there).
    TTsmCancelToken CancelToken;
    TTsmLimits Limits;
    // When set, a run that fails leaves its slicer in FailedResult instead
    // of freeing it: the result tree as far as the successful nodes built
    // it (a failed node's own results are gone), with every stream it
    // refers to except the caller's input, which must outlive it.
    bool KeepFailedResult = false;
    // Called in the root's loop after each child that succeeded, with the
    // result root: its children are complete records from then on. A
    // listener that has taken them may call FreeRecords, so that a long
    // input runs in memory bounded by its largest record.
    std::function<void(TTsTreeNode& root)> OnRecordsDone;
    // Called every TTsmLimits::ProgressInterval child steps with the
    // position of the run's base input: how far the run has read.
    std::function<void(int64_t position)> OnProgress;
};

class TTsmRun : public TTsObject, public TTsmRunSettings {
    TS_CLASS(TTsmRun)
public:
    // A run of a compiled model (borrowed: it must outlive the run) with the
    // model's options and otherwise default settings.
    explicit TTsmRun(const TTsmCompiler& model);
    ~TTsmRun() override;

    // The compiled model; errors of the run name it as their Compiler.
    const TTsmCompiler& Model() const { return *model_; }

    std::unique_ptr<TTsmSlicer> FailedResult;  // see KeepFailedResult

    // The registry the run's conditions call: the model's, borrowed, until
    // OwnFunctions gives the run a copy of its own, where handlers can be
    // registered without touching the model or any other run.
    TTsFunctions& Functions() const { return *functions_; }
    TTsFunctions& OwnFunctions();

    // ---- State of the run in progress (empty outside Modell) ----
    TTsmInputStack InputStack;
    std::unique_ptr<TTsmRoot> Root;
    std::unique_ptr<TTsmSlicer> Slicer;
    std::unique_ptr<TTsmRunState> RunState;

    // Runs the model over input (borrowed; read from its position) and
    // hands back the result. A run may be used again once Modell has
    // returned; not re-entrant: ETsmAlreadyModelling.
    std::unique_ptr<TTsmSlicer> Modell(TStream& input);
    // The running run's slicer; ETsmNoModellingSlicer outside a run.
    TTsmSlicer& ModellingSlicer() const;
    // The top and the bottom of the input stack (ETsmNoInput when empty).
    TStream& CurrentInput() const;
    TStream& BaseInput() const;
    // Reads go to the pushed stream until it is popped; the stack owns it.
    void PushInput(std::unique_ptr<TStream> stream);
    // The top stream goes to the slicer, so spans in it stay readable.
    void PopInput();
    // offset in the top stream + the positions of all streams below it.
    int64_t GlobalOffset(int64_t offset) const;
    // Frees the result root's children and every stream and view that only
    // they used, and forgets what the run knew of them: a later node
    // reference to them finds nothing. Only from OnRecordsDone, where the
    // root is the only node being modelled; ETsmNoModellingSlicer elsewhere.
    // Returns the number of result nodes freed.
    int64_t FreeRecords();

private:
    const TTsmCompiler* model_;
    TTsFunctions* functions_;
    std::unique_ptr<TTsFunctions> ownFunctions_;
};

}  // namespace ts
