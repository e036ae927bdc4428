// TTsmCompiler: turns a model tree into a table of compiled node records in
// two virtual steps (LoadNode: records and conditions; MergeNodes: the merge
// and the table), dumps the compiled table as a tree, and loads the
// canonical "Model" and "Script" models (LoadCanonicalModel). The same
// object runs compiled models; the run-time fields are the engine's.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "library/expressions/TsExpressions.h"
#include "library/modelling/TsmEngine.h"
#include "library/modelling/TsmMergeMachine.h"
#include "library/modelling/TsmNodes.h"
#include "library/modelling/streams/TsmSlicer.h"

namespace ts {

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

class TTsmCompiler : public TTsObject {
    TS_CLASS(TTsmCompiler)
public:
    TTsmCompiler();
    ~TTsmCompiler() override;

    TTsOptions Options;
    // Own lists; both are used only when NodeClasses is set, else the
    // process-wide lists are.
    std::unique_ptr<TTsConditions> CondOperators;
    std::unique_ptr<TTsmNodeClassList> NodeClasses;
    // While loading and merging, the tree node worked on; after Compile the
    // whole source tree. Not owned.
    const TTsTreeNode* SourceTree = nullptr;
    // Set by Compile and kept: its presence marks the compiler as compiled.
    std::unique_ptr<TTsmMergeMachine> Machine;
    // Compiled records by ID; nil for an ID the merge removed.
    std::vector<std::unique_ptr<TTsmNodeInfo>> Table;
    // In dumps, show every node reached through a reference as "*" + ID.
    bool CollapseReferences = false;

    // Run-time state of the modelling engine (only during a run).
    TTsmInputStack InputStack;
    std::unique_ptr<TTsmRoot> Root;
    std::unique_ptr<TTsmSlicer> Slicer;
    TTsmModellingStepEvent OnModellingStep;
    // External routines conditions may call; a copy of the default registry.
    std::unique_ptr<TTsFunctions> Functions = NewTsmFunctions();
    // Stops a run from another thread (keep a copy of the token there).
    TTsmCancelToken CancelToken;
    TTsmLimits Limits;
    std::unique_ptr<TTsmRunState> RunState;
    // When set, a run that fails leaves its slicer in FailedResult instead
    // of freeing it: the result tree as far as the successful nodes built
    // it (a failed node's own results are gone), with every stream it
    // refers to except the caller's input, which must outlive it.
    bool KeepFailedResult = false;
    std::unique_ptr<TTsmSlicer> FailedResult;
    // Called in the root's loop after each child that succeeded, with the
    // result root: its children are complete records from then on. A
    // listener that has taken them may call FreeRecords, so that a long
    // input runs in memory bounded by its largest record.
    std::function<void(TTsTreeNode& root)> OnRecordsDone;
    // Called every TTsmLimits::ProgressInterval child steps with the
    // position of the run's base input: how far the run has read.
    std::function<void(int64_t position)> OnProgress;

    // Frees the result root's children and every stream and view that only
    // they used, and forgets what the run knew of them: a later node
    // reference to them finds nothing. Only from OnRecordsDone, where the
    // root is the only node being modelled; ETsmNoModellingSlicer elsewhere.
    // Returns the number of result nodes freed.
    int64_t FreeRecords();

    // ---- Modelling (the engine) ----
    // Runs the compiled model over input (borrowed; read from its position)
    // and hands back the result. Not re-entrant: ETsmAlreadyModelling.
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

    // Loads the tree node and its whole subtree as defined nodes under
    // parent; returns the node's ID (IDs go depth-first in pre-order).
    virtual TMmID LoadNode(const TTsTreeNode& node, TMmID parent);
    // Merges the defined nodes and builds the table.
    virtual void MergeNodes();
    // The whole compilation; once per compiler.
    virtual TTsmCompiler& Compile(const TTsTreeNode& tree);

    // Fills Table from a node list of Machine (Merged, or Defined when the
    // merge did not run), taking the records over.
    void BuildTable(const TMmList& nodes);

    // The dump tree of Table[id] and what it reaches: a new root, or a new
    // child of parent.
    std::unique_ptr<TTsTreeNode> DumpCompiled(TMmID id) const;
    TTsTreeNode& DumpCompiled(TMmID id, TTsTreeNode& parent) const;

    // The lists in use (own or process-wide).
    const TTsmNodeClassList& NodeClassList() const;
    const TTsConditions& ConditionList() const;

    // Parses a condition text; errors name the current SourceTree node.
    TTsmCondition CompileCondition(std::u16string_view text) const;
    // The condition of an implicit ANY child: the simple pattern "ANY".
    TTsmCondition AnyCondition() const;
    // "!" + operator symbol + " " + operand, as the dump shows a condition.
    WideString ConditionText(const TTsmCondition& cond) const;

    // The node text of the tree node being worked on.
    WideString CurrentNodeText() const;

private:
    TTsTreeNode& Dump(TMmID id, TTsTreeNode* parent) const;
};

// Compiles the canonical model "Model" or "Script" from the program's
// resources; the caller owns the compiler (which keeps the model tree).
std::unique_ptr<TTsmCompiler> LoadCanonicalModel(std::u16string_view kind);

// The canonical model of a kind, compiled once per thread and lent to one
// user at a time, so that reading a model or a script does not compile the
// canonical one again. A second lease of the same kind on the same thread
// while the first is held gets a compiler of its own. Giving it back resets
// what a user may set (options, handlers, token, limits, registered
// functions), so each lease starts as a freshly loaded compiler would.
class TCanonicalModel {
public:
    explicit TCanonicalModel(std::u16string_view kind);
    ~TCanonicalModel();
    TCanonicalModel(const TCanonicalModel&) = delete;
    TCanonicalModel& operator=(const TCanonicalModel&) = delete;

    TTsmCompiler& operator*() const { return *compiler_; }
    TTsmCompiler* operator->() const { return compiler_.get(); }
    // Gives the compiler back before the lease ends.
    void Release();

private:
    bool script_;
    std::unique_ptr<TTsmCompiler> compiler_;
};

}  // namespace ts
