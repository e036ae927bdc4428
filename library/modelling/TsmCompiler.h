// TTsmCompiler: turns a model tree into a table of compiled node records in
// two virtual steps (LoadNode: records and conditions; MergeNodes: the merge
// and the table), dumps the compiled table as a tree, and loads the
// canonical "Model" and "Script" models (LoadCanonicalModel, CanonicalModel).
// Once compiled, the table is only read: runs (TTsmRun) hold all that
// changes while the model runs. The compiler's run-time fields are the
// settings of the run its own Modell makes.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "library/expressions/TsExpressions.h"
#include "library/modelling/TsmEngine.h"
#include "library/modelling/TsmMergeMachine.h"
#include "library/modelling/TsmNodes.h"
#include "library/modelling/TsmRun.h"
#include "library/modelling/streams/TsmSlicer.h"

namespace ts {

class TTsmCompiler : public TTsObject, public TTsmRunSettings {
    TS_CLASS(TTsmCompiler)
public:
    TTsmCompiler();
    ~TTsmCompiler() override;

    // Options (of TTsmRunSettings) also govern compiling.
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

    // The TTsmRunSettings are those of the run Modell makes (a TTsmRun made
    // over this compiler has settings of its own).
    // External routines conditions may call; a copy of the default registry.
    // Runs borrow it: it must not change while any runs, and after a change
    // made past Compile, PrepareSharedReading must be called before runs on
    // several threads start.
    std::unique_ptr<TTsFunctions> Functions = NewTsmFunctions();
    // A failed run of Modell leaves its slicer here when KeepFailedResult is set.
    std::unique_ptr<TTsmSlicer> FailedResult;

    // ---- Modelling ----
    // Runs the compiled model over input (borrowed; read from its position)
    // in a run with this compiler's settings and hands back the result. Not
    // re-entrant: ETsmAlreadyModelling.
    std::unique_ptr<TTsmSlicer> Modell(TStream& input);
    // The run Modell is in the middle of; nil outside it.
    TTsmRun* CurrentRun() const { return running_; }
    // These forward to the run in progress of Modell (see TTsmRun):
    // ETsmNoModellingSlicer, or ETsmNoInput, outside it.
    TTsmSlicer& ModellingSlicer() const;
    TStream& CurrentInput() const;
    TStream& BaseInput() const;
    void PushInput(std::unique_ptr<TStream> stream);
    void PopInput();
    int64_t GlobalOffset(int64_t offset) const;
    int64_t FreeRecords();

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

    TTsmRun* running_ = nullptr;
};

// Compiles the canonical model "Model" or "Script" from the program's
// resources; the caller owns the compiler (which keeps the model tree).
std::unique_ptr<TTsmCompiler> LoadCanonicalModel(std::u16string_view kind);

// The canonical model of a kind, compiled once per process on first use and
// never changed after, so that any thread can run it (in a TTsmRun of its
// own) without compiling it again. Other kinds raise LoadCanonicalModel's
// error.
const TTsmCompiler& CanonicalModel(std::u16string_view kind);

}  // namespace ts
