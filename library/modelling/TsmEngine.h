// What the modelling engine's runs are made of: the input stack a run
// reads from (TTsmInputStack), the cancel token another thread may use to
// stop a run (TTsmCancelToken), the run's safety limits (TTsmLimits), the
// errors that end a run which cannot finish (cancelled, nested too deep, no
// progress, no input), the text that shows an input position in messages
// (TsmInputText) and the span property names of result nodes.
//
// The engine's operations themselves are members of TTsmRun (Modell,
// PushInput, ...) and of the node classes (ModellNode, CreateResultNode, ...).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "library/core/TsNodePaths.h"
#include "library/expressions/TsConditions.h"
#include "library/modelling/TsmNodes.h"
#include "support/Streams.h"

namespace ts {

class TTsFunctions;

// The streams a run reads from, the current one on top. The bottom one is
// the caller's and is never owned; pushed streams are.
class TTsmInputStack {
public:
    struct Entry {
        TStream* Stream = nullptr;
        std::unique_ptr<TStream> Owned;  // null for the caller's stream
    };

    bool Empty() const { return entries_.empty(); }
    int Count() const { return static_cast<int>(entries_.size()); }
    const Entry& At(int i) const { return entries_.at(static_cast<size_t>(i)); }
    TStream* Top() const { return entries_.empty() ? nullptr : entries_.back().Stream; }
    TStream* Bottom() const { return entries_.empty() ? nullptr : entries_.front().Stream; }
    bool Contains(const TStream* s) const;

    void PushBorrowed(TStream& s) { entries_.push_back(Entry{&s, nullptr}); }
    void PushOwned(std::unique_ptr<TStream> s);
    // The top entry, taken off (the caller's stream comes back without Owned).
    Entry Pop();
    void Clear() { entries_.clear(); }

private:
    std::vector<Entry> entries_;
};

// A stop request shared by copies: the window thread keeps a copy and
// cancels, the worker's run sees it at its next child step. A cancelled
// token stays cancelled until Reset.
class TTsmCancelToken {
public:
    TTsmCancelToken() : flag_(std::make_shared<std::atomic<bool>>(false)) {}
    void Cancel() const { flag_->store(true, std::memory_order_relaxed); }
    void Reset() const { flag_->store(false, std::memory_order_relaxed); }
    bool IsCancelled() const { return flag_->load(std::memory_order_relaxed); }

private:
    std::shared_ptr<std::atomic<bool>> flag_;
};

// Bounds that turn a run that cannot finish into an error.
struct TTsmLimits {
    // Nodes modelled inside each other. Each level costs a few stack frames,
    // so this keeps a recursive model far from the end of a thread's stack.
    int32_t MaxDepth = 1000;
    // Successes of children in one node's loop, in a row, that leave the
    // input where it was: such a loop would otherwise never end. Ten
    // thousand is far past any real model and ends a stuck loop quickly.
    int32_t MaxIdleMatches = 10000;
    // Result nodes a run may hold at once.
    int64_t MaxResultNodes = 100000000;
    // Bytes the process may grow by while a run lasts, so that a run too big
    // for the machine ends in an error rather than in swapping. Half of the
    // physical memory by default; checked every ResultCheckInterval result nodes.
    int64_t MaxMemory = DefaultMaxMemory();
    static constexpr int32_t ResultCheckInterval = 4096;
    // Child steps between two calls of the run's OnProgress.
    static constexpr int32_t ProgressInterval = 65536;
    static int64_t DefaultMaxMemory();
};

// Names of the span properties on result nodes.
inline constexpr std::u16string_view TsmStartProp = u"start";
inline constexpr std::u16string_view TsmInnerProp = u"inner";
inline constexpr std::u16string_view TsmEndProp = u"end";
inline constexpr std::u16string_view TsmStartGlobalProp = u"startGlobal";
inline constexpr std::u16string_view TsmInnerGlobalProp = u"innerGlobal";
inline constexpr std::u16string_view TsmEndGlobalProp = u"endGlobal";

// Result tree nodes of a run. A node is Fresh until the engine claims it,
// so a failed model node frees only the result nodes its own run created,
// never one an earlier sibling made or one its path climbed to.
class TTsmResultNode : public TTsTreeNode {
    TS_CLASS(TTsmResultNode)
public:
    using TTsTreeNode::TTsTreeNode;
    std::unique_ptr<TTsTreeNode> NewNode(WideString name) override {
        return std::make_unique<TTsmResultNode>(std::move(name));
    }
    bool Fresh = true;
};

// The model node that conditions see while they are evaluated.
class TTsmExprModelNode final : public TTsExprModelNode {
public:
    TTsmNode* Node = nullptr;  // the child being tried
    const WideString& ModelPath() const override;
    int32_t ParentMatchCount() const override;
    std::unique_ptr<TStream> OpenSpan(const TTsValue& value) override;
};

// What a run keeps only while it lasts: things made once per run and
// reused for every test, so that trying a node allocates little.
struct TTsmRunState {
    TTsOptions Options;       // the run's, with a detected line break when it had none
    RawByteString LineBreak;  // Options.LineBreak as bytes, for LINE
    int32_t Depth = 0;        // nodes being modelled inside each other
    TTsmExprModelNode ExprNode;
    TTsNodeFormulaFinder Finder;
    int64_t CounterLoads = 0;  // enclosing levels walked to load Finder's counters
    // Condition objects by node ID, made on first use; those of nodes
    // outside the table (none a compiler makes) in the order made.
    std::vector<std::unique_ptr<TTsCondExpression>> Conditions;
    std::vector<std::unique_ptr<TTsCondExpression>> OtherConditions;
    // By node ID: 0 not looked at, 1 the path is one plain name, 2 it needs the finder.
    std::vector<int8_t> PathKinds;
    RawByteString LineBytes;  // LINE's read buffer, reused
    // Result nodes created by the nodes being modelled, oldest first: a
    // failed node frees everything created since its run began, also what
    // earlier successes of its children made.
    std::vector<TTsTreeNode*> CreatedLog;
    // Result nodes made and not discarded; nodes until the next memory
    // check; the resident size when the run began (-1 when unknown).
    int64_t LiveResults = 0;
    int32_t UntilBoundsCheck = TTsmLimits::ResultCheckInterval;
    int32_t UntilProgress = TTsmLimits::ProgressInterval;
    int64_t ResidentAtStart = -1;
};

// A compiler's own function registry: a copy of the process-wide one,
// ready for lookups from several threads at once.
std::unique_ptr<TTsFunctions> NewTsmFunctions();

// "@pos b1 b2 ..." for up to 11 bytes from the stream's position (printable
// bytes as characters, others as two hex digits), " <eof>" at the end; the
// position is kept. "???" without a stream.
WideString TsmInputText(TStream* stream);

// The global offset an error of a run concerns (a mismatch, a report, input
// left, no progress, ...); none for other errors and those made outside a run.
std::optional<int64_t> TsmErrorOffset(const std::exception& error);

// ---- Errors that end a run ----------------------------------------------------

// The run's cancel token was cancelled.
class ETsmCancelled : public ETsmModelling {
public:
    ETsmCancelled(const TTsmCompiler* compiler, const WideString& input);
    TS_EXCEPTION(ETsmCancelled)
};

// Nodes nested deeper than TTsmLimits::MaxDepth.
class ETsmTooDeep : public ETsmModelling {
public:
    ETsmTooDeep(const TTsmCompiler* compiler, int32_t limit, const TTsmNode* node, const WideString& input);
    WideString NodeText;  // the node that went too deep, as the message names it
    TS_EXCEPTION(ETsmTooDeep)
};

// A node's children kept matching without consuming input.
class ETsmNoProgress : public ETsmModelling {
public:
    // child: the one that matched last without consuming.
    ETsmNoProgress(const TTsmCompiler* compiler, int32_t count, const TTsmNode* node, const TTsmNode* child,
                   const WideString& input);
    // Copies, as the message names them: the error outlives the run's nodes.
    WideString NodeText, ChildText;
    TS_EXCEPTION(ETsmNoProgress)
};

// The run's result tree grew past TTsmLimits::MaxResultNodes, or the process
// past TTsmLimits::MaxMemory.
class ETsmTooLarge : public ETsmModelling {
public:
    using ETsmModelling::ETsmModelling;
    TS_EXCEPTION(ETsmTooLarge)
};

// The input stack ran empty (an external routine popped the caller's stream).
class ETsmNoInput : public ETsmModelling {
public:
    explicit ETsmNoInput(const TTsmCompiler* compiler);
    TS_EXCEPTION(ETsmNoInput)
};

}  // namespace ts
