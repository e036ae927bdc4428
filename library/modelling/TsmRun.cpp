// A run of a compiled model: Modell, the input stack, freeing finished
// records; and the compiler's own Modell, which runs a TTsmRun with the
// compiler's settings and forwards the run-time calls to it.
#include "library/modelling/TsmRun.h"

#include <climits>
#include <utility>

#include "library/core/TsTreeWalk.h"
#include "library/modelling/TsmCompiler.h"
#include "library/script/charset/Charsets.h"
#include "library/text/TsStreamers.h"
#include "support/Memory.h"

namespace ts {

TTsmRun::TTsmRun(const TTsmCompiler& model) : model_(&model), functions_(model.Functions.get()) {
    Options = model.Options;
}

// Members go in reverse order of declaration: the node objects and the
// slicer before a registry of the run's own that their conditions use.
TTsmRun::~TTsmRun() = default;

TTsFunctions& TTsmRun::OwnFunctions() {
    if (!ownFunctions_) {
        ownFunctions_ = std::make_unique<TTsFunctions>();
        ownFunctions_->AssignFrom(*functions_);
        functions_ = ownFunctions_.get();
    }
    return *ownFunctions_;
}

TTsmSlicer& TTsmRun::ModellingSlicer() const {
    if (!Slicer)
        throw ETsmNoModellingSlicer(model_, u"Modelling Slicer is only available on %s during modelling process.",
                                    {model_});
    return *Slicer;
}

TStream& TTsmRun::CurrentInput() const {
    if (InputStack.Empty()) throw ETsmNoInput(model_);
    return *InputStack.Top();
}

TStream& TTsmRun::BaseInput() const {
    if (InputStack.Empty()) throw ETsmNoInput(model_);
    return *InputStack.Bottom();
}

void TTsmRun::PushInput(std::unique_ptr<TStream> stream) {
    if (!stream) throw EInvalidArgument(u"A nil stream cannot be pushed as modelling input.");
    InputStack.PushOwned(std::move(stream));
}

void TTsmRun::PopInput() {
    if (InputStack.Empty()) throw ETsmNoInput(model_);
    TTsmInputStack::Entry e = InputStack.Pop();
    // The caller's stream stays the caller's; the slicer already reads it.
    if (!e.Owned) return;
    if (Slicer) Slicer->AddStream(std::move(e.Owned));
}

int64_t TTsmRun::GlobalOffset(int64_t offset) const {
    for (int i = 0; i + 1 < InputStack.Count(); ++i) offset += InputStack.At(i).Stream->Position();
    return offset;
}

std::unique_ptr<TTsmSlicer> TTsmRun::Modell(TStream& input) {
    const TTsmCompiler& model = *model_;
    if (Slicer || !InputStack.Empty() || Root)
        throw ETsmAlreadyModelling(&model, u"Attempted to call %s.Modell again while it's still running.", {&model});
    if (model.Table.empty() || !model.Table[0])
        throw ETsmModelling(&model, u"%s has no compiled model to run.", {&model});
    // Spans hold 32-bit offsets.
    if (input.Size() > INT32_MAX)
        throw ETsmModelling(&model, u"Input of %d bytes is too large to model; at most %d bytes can be.",
                            {input.Size(), INT32_MAX});

    // Whatever happens, nothing of the run stays; the caller's stream is
    // left to the caller.
    struct Cleanup {
        TTsmRun& r;
        ~Cleanup() {
            r.Root.reset();
            // A failed run's slicer still holds the run's results: keep
            // them readable with the streams left on the stack.
            if (r.Slicer && r.KeepFailedResult) {
                while (!r.InputStack.Empty()) {
                    TTsmInputStack::Entry e = r.InputStack.Pop();
                    if (e.Owned) r.Slicer->AddStream(std::move(e.Owned));
                }
                r.FailedResult = std::move(r.Slicer);
            }
            r.InputStack.Clear();
            r.RunState.reset();
            r.Slicer.reset();
        }
    } cleanup{*this};

    FailedResult.reset();
    InputStack.PushBorrowed(input);
    RunState = std::make_unique<TTsmRunState>();
    TTsmRunState& rs = *RunState;
    rs.Options = Options;
    if (rs.Options.LineBreak.empty()) rs.Options.LineBreak = TTsTextStreamer::DetectLineBreak(input);
    rs.LineBreak = WideToBytes(rs.Options.Codepage, rs.Options.LineBreak);
    rs.Conditions.resize(model.Table.size());
    rs.PathKinds.assign(model.Table.size(), 0);
    rs.ResidentAtStart = ResidentBytes();
    Slicer = std::make_unique<TTsmSlicer>(&input);

    const TTsmNodeInfo& top = *model.Table[0];
    Root = std::make_unique<TTsmRoot>(*this, nullptr, top.Props);
    Root->ChildSummary = top.ChildSummary;
    const TTsmSpan span{static_cast<int32_t>(input.Position()), 0, &input};
    if (std::unique_ptr<Exception> e = Root->ModellNode(nullptr, span)) e->Raise();

    // Take the caller's stream off; whatever else is left goes to the slicer.
    if (!InputStack.Contains(&input))
        HandleError(std::make_unique<ETsmOriginalInputLost>(
            &model, u"Input stream stack didn't contain the original stream after modelling has finished.",
            FormatArgs{}));
    Root.reset();
    while (!InputStack.Empty()) {
        TTsmInputStack::Entry e = InputStack.Pop();
        if (e.Owned) Slicer->AddStream(std::move(e.Owned));
    }
    return std::move(Slicer);
}

int64_t TTsmRun::FreeRecords() {
    TTsmSlicer& slicer = ModellingSlicer();
    TTsTreeNode* root = slicer.ResultRoot();
    if (!root || !Root || !RunState) return 0;
    int64_t freed = 0;
    for (int i = 0; i < root->ChildCount(); ++i)
        for ([[maybe_unused]] auto step : PreOrder(*root->ChildByIndex(i))) ++freed;
    root->DeleteChildren();
    TTsmRunState& rs = *RunState;
    rs.LiveResults -= freed;
    // Nothing below the root is being modelled, so nothing it logged is live.
    rs.CreatedLog.clear();
    rs.Finder.Rewind(u"", root);
    if (slicer.ContextNode() != root) slicer.SetContextNode(nullptr);
    // Model nodes keep their last result (a condition's base node) until
    // they run again: none may keep a freed one.
    std::vector<TTsmNode*> todo;
    for (auto& child : Root->Children) todo.push_back(child.get());
    while (!todo.empty()) {
        TTsmNode* n = todo.back();
        todo.pop_back();
        n->Result = nullptr;
        n->CreatedResult = nullptr;
        n->OwnsResult = false;
        n->StartSpan = n->InnerSpan = n->EndSpan = TTsmSpan{};
        for (auto& child : n->Children) todo.push_back(child.get());
    }
    // The streams the root's own spans read, and those still being read,
    // stay; every other one served the freed records only.
    std::vector<const TObject*> keep;
    for (int i = 0; i < InputStack.Count(); ++i) keep.push_back(InputStack.At(i).Stream);
    for (const TTsmSpan* span : {&Root->StartSpan, &Root->InnerSpan, &Root->EndSpan})
        if (span->Stream) keep.push_back(span->Stream);
    const TTsProperties& props = root->Props();
    for (int i = 0; i < props.Count(); ++i)
        if (const TTsProperty* p = props.ByIndex(i); p && TTsmSlicer::HasStreamData(p->Value))
            keep.push_back(p->Value.Obj);
    slicer.RemoveStreamsExcept(keep);
    return freed;
}

// ---- The compiler's own run ---------------------------------------------------------

std::unique_ptr<TTsmSlicer> TTsmCompiler::Modell(TStream& input) {
    if (running_)
        throw ETsmAlreadyModelling(this, u"Attempted to call %s.Modell again while it's still running.", {this});
    FailedResult.reset();
    TTsmRun run(*this);
    static_cast<TTsmRunSettings&>(run) = *this;
    run.OnError = OnError;
    struct Finally {
        TTsmCompiler& c;
        TTsmRun& run;
        ~Finally() {
            c.running_ = nullptr;
            c.FailedResult = std::move(run.FailedResult);
        }
    } finally{*this, run};
    running_ = &run;
    return run.Modell(input);
}

TTsmSlicer& TTsmCompiler::ModellingSlicer() const {
    if (!running_ || !running_->Slicer)
        throw ETsmNoModellingSlicer(this, u"Modelling Slicer is only available on %s during modelling process.",
                                    {this});
    return *running_->Slicer;
}

TStream& TTsmCompiler::CurrentInput() const {
    if (!running_) throw ETsmNoInput(this);
    return running_->CurrentInput();
}

TStream& TTsmCompiler::BaseInput() const {
    if (!running_) throw ETsmNoInput(this);
    return running_->BaseInput();
}

void TTsmCompiler::PushInput(std::unique_ptr<TStream> stream) {
    if (!stream) throw EInvalidArgument(u"A nil stream cannot be pushed as modelling input.");
    if (!running_) throw ETsmNoInput(this);
    running_->PushInput(std::move(stream));
}

void TTsmCompiler::PopInput() {
    if (!running_) throw ETsmNoInput(this);
    running_->PopInput();
}

int64_t TTsmCompiler::GlobalOffset(int64_t offset) const { return running_ ? running_->GlobalOffset(offset) : offset; }

int64_t TTsmCompiler::FreeRecords() {
    ModellingSlicer();  // ETsmNoModellingSlicer outside a run
    return running_->FreeRecords();
}

}  // namespace ts
