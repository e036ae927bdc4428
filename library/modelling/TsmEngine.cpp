// The modelling engine: the input stack, the child loop every model node
// runs, result nodes with their span properties, FAIL and WARN reports, and
// the texts of mismatch messages. LINE is in TsmEngineLine.cpp; Modell and
// the run's own operations are in TsmRun.cpp.
#include "library/modelling/TsmEngine.h"

#include "library/modelling/TsmCompiler.h"
#include "support/Memory.h"
#include "support/Strings.h"

namespace ts {

// ---- Input stack ----------------------------------------------------------------

bool TTsmInputStack::Contains(const TStream* s) const {
    for (const Entry& e : entries_)
        if (e.Stream == s) return true;
    return false;
}

void TTsmInputStack::PushOwned(std::unique_ptr<TStream> s) {
    TStream* p = s.get();
    entries_.push_back(Entry{p, std::move(s)});
}

TTsmInputStack::Entry TTsmInputStack::Pop() {
    Entry e = std::move(entries_.back());
    entries_.pop_back();
    return e;
}

std::unique_ptr<TTsFunctions> NewTsmFunctions() {
    auto f = std::make_unique<TTsFunctions>();
    InitExpressionLayer();
    f->AssignFrom(DefaultFunctions());
    f->PrepareSharedReading();
    return f;
}

// ---- Texts and errors -------------------------------------------------------------

WideString TsmInputText(TStream* stream) {
    if (!stream) return u"???";
    const int64_t pos = stream->Position();
    unsigned char bytes[11];
    const int64_t n = stream->Read(bytes, sizeof bytes);
    stream->Seek(pos, TSeekOrigin::soBeginning);
    WideString s = u"@" + IntToStr(pos);
    for (int64_t i = 0; i < n; ++i) {
        s += u' ';
        if (bytes[i] >= 33 && bytes[i] <= 127)
            s += static_cast<char16_t>(bytes[i]);
        else
            s += IntToHex(bytes[i], 2);
    }
    if (n < static_cast<int64_t>(sizeof bytes)) s += u" <eof>";
    return s;
}

namespace {

// An error of the engine with the place it concerns.
template <class E>
E At(E error, int64_t globalOffset) {
    error.GlobalOffset = globalOffset;
    return error;
}

template <class E>
std::unique_ptr<E> At(std::unique_ptr<E> error, int64_t globalOffset) {
    error->GlobalOffset = globalOffset;
    return error;
}

// The global offset of the current input's position.
int64_t HereGlobal(const TTsmRun& r) {
    return r.InputStack.Empty() ? -1 : r.GlobalOffset(r.InputStack.Top()->Position());
}

WideString NodeInputText(const TTsmNode& node) {
    const TTsmRun* r = node.Run;
    TStream* in = r && !r->InputStack.Empty() ? r->InputStack.Top() : nullptr;
    return TsmInputText(in);
}

}  // namespace

ETsmCancelled::ETsmCancelled(const TTsmCompiler* compiler, const WideString& input)
    : ETsmModelling(compiler, u"Modelling was cancelled, input: %s.", {input}) {}

ETsmTooDeep::ETsmTooDeep(const TTsmCompiler* compiler, int32_t limit, const TTsmNode* node, const WideString& input)
    : ETsmModelling(compiler,
                    u"Model nodes are nested more than %d levels deep - does the model recurse without consuming "
                    u"input? Node: %s, input: %s.",
                    {limit, node->NodeText(), input}),
      NodeText(node->NodeText()) {}

ETsmNoProgress::ETsmNoProgress(const TTsmCompiler* compiler, int32_t count, const TTsmNode* node, const TTsmNode* child,
                               const WideString& input)
    : ETsmModelling(
          compiler,
          u"Child nodes have matched %d times in a row without consuming input. Node: %s, last matched "
          u"child: %s, condition: %s, input: %s.",
          {count, node->NodeText(), child->NodeText(),
           child->Props.Cond.IsSet() ? u"'" + compiler->ConditionText(child->Props.Cond) + u"'" : WideString(u"<none>"),
           input}),
      NodeText(node->NodeText()),
      ChildText(child->NodeText()) {}

std::optional<int64_t> TsmErrorOffset(const std::exception& error) {
    int64_t offset = -1;
    if (const auto* m = dynamic_cast<const ETsmMismatch*>(&error))
        offset = m->GlobalOffset;
    else if (const auto* r = dynamic_cast<const ETsmModelling*>(&error))
        offset = r->GlobalOffset;
    if (offset < 0) return std::nullopt;
    return offset;
}

ETsmNoInput::ETsmNoInput(const TTsmCompiler* compiler)
    : ETsmModelling(compiler, u"%s has no input stream left to model.", {compiler}) {}

// ---- The model node conditions see ------------------------------------------------

const WideString& TTsmExprModelNode::ModelPath() const { return Node->Props.Path; }

int32_t TTsmExprModelNode::ParentMatchCount() const { return Node->ParentNode ? Node->ParentNode->MatchCount : 0; }

std::unique_ptr<TStream> TTsmExprModelNode::OpenSpan(const TTsValue& value) {
    TTsmSlicer* slicer = Node->Run->Slicer.get();
    if (!slicer || !TTsmSlicer::HasStreamData(value) || !slicer->Holds(value.Obj)) return nullptr;
    return slicer->OpenSpan(value);
}

// ---- Nodes ---------------------------------------------------------------------------

TTsmNode::TTsmNode(TTsmRun& run, TTsmNode* parent, const TTsmProps& props)
    : Run(&run), ParentNode(parent), Props(props) {}

TTsmNode::~TTsmNode() = default;

const TTsmCompiler& TTsmNode::Model() const { return Run->Model(); }

namespace {

void Notify(TTsmNode& node, TTsmStepKind kind, const TTsArg& value) {
    if (node.Run->OnModellingStep) node.Run->OnModellingStep(node, kind, value);
}

// Counts a node into the nesting depth for as long as it is modelled.
class TDepthGuard {
public:
    explicit TDepthGuard(TTsmNode& node) : rs_(*node.Run->RunState) {
        const TTsmRun& r = *node.Run;
        if (++rs_.Depth > r.Limits.MaxDepth) {
            --rs_.Depth;
            throw At(ETsmTooDeep(&r.Model(), r.Limits.MaxDepth, &node, NodeInputText(node)), HereGlobal(r));
        }
    }
    ~TDepthGuard() { --rs_.Depth; }
    TDepthGuard(const TDepthGuard&) = delete;
    TDepthGuard& operator=(const TDepthGuard&) = delete;

private:
    TTsmRunState& rs_;
};

// A value that is a span already takes the new one field by field: inner
// and end spans change with every child that matches.
void AssignSpan(TTsValue& v, int32_t offset, int64_t length, TStream* stream) {
    if (v.Kinds != TTsmSlicer::SpanKinds || !v.Str.empty() || !v.Raw().empty()) {
        v = TTsmSlicer::MakeSpan(offset, length, stream);
        return;
    }
    v.Int = offset;
    v.Float = static_cast<double>(length);
    v.Obj = stream;
}

// Sets a span in its two forms (offsets in the span's own stream, and in
// the base input). A span the node has is updated in place; a node just
// created has none.
void SetSpan(TTsmNode& node, const TTsmSpan& span, const TTsName& name, const TTsName& globalName, bool fresh = false) {
    if (!node.OwnsResult || !node.Result) return;
    TTsmRun& r = *node.Run;
    TTsProperties& props = node.Result->Props();
    const auto global = static_cast<int32_t>(r.GlobalOffset(span.Offset));
    if (!fresh)
        if (TTsProperty* p = props.Find(name)) {
            AssignSpan(p->Value, span.Offset, span.Length, span.Stream);
            if (TTsProperty* g = props.Find(globalName))
                AssignSpan(g->Value, global, span.Length, &r.BaseInput());
            else
                props.SetValue(globalName, TTsmSlicer::MakeSpan(global, span.Length, &r.BaseInput()));
            return;
        }
    // Both forms arrive together: room for the pair at once.
    props.Reserve(props.Count() + 2);
    props.SetValue(name, TTsmSlicer::MakeSpan(span.Offset, span.Length, span.Stream));
    props.SetValue(globalName, TTsmSlicer::MakeSpan(global, span.Length, &r.BaseInput()));
}

// The span properties' names, made once.
struct TSpanNames {
    TTsName Start{TsmStartProp}, StartGlobal{TsmStartGlobalProp};
    TTsName Inner{TsmInnerProp}, InnerGlobal{TsmInnerGlobalProp};
    TTsName End{TsmEndProp}, EndGlobal{TsmEndGlobalProp};
};
const TSpanNames& SpanNames() {
    static const TSpanNames names;
    return names;
}

// The MatchCounts of the node's parent, grandparent, ... below the root:
// N is the first, the finder's Stack the rest.
void LoadCounters(TTsmRunState& rs, const TTsmNode& node) {
    TTsNodeFormulaFinder& finder = rs.Finder;
    finder.Stack.clear();
    finder.N = 0;
    bool first = true;
    for (const TTsmNode* a = node.ParentNode; a && a->ParentNode; a = a->ParentNode) {
        ++rs.CounterLoads;
        if (first)
            finder.N = a->MatchCount;
        else
            finder.Stack.push_back(a->MatchCount);
        first = false;
    }
}

bool IsPlainName(std::u16string_view path) {
    if (path.empty() || path[0] == u'.') return false;
    for (char16_t ch : path)
        if (ch == u'\\' || ch == u'/' || ch == u'[' || ch == u']' || ch == u'+' || ch == u'$') return false;
    return true;
}

bool CanTry(const TTsmNode& parent, const TTsmNode& child) {
    if (child.Props.IsOnce && child.Tried) return false;
    if (child.Props.Order == 0) return true;
    return parent.MatchCount < child.Props.Order;
}

// The value a condition produced, as a message shows it.
WideString ValueText(const TTsValue& v) {
    if (v.Has(vkString)) return v.Str;
    if (v.Has(vkFloat)) return FloatToStr(v.Float);
    if (v.Has(vkInt)) return IntToStr(v.Int);
    if (v.Has(vkRaw)) return Latin1ToWide(v.Raw());
    return u"<null>";
}

enum class TCondOutcome { Matched, Mismatch, OrderedMismatch };

TTsCondExpression& ConditionObject(TTsmRun& r, TTsmNode& child) {
    TTsmRunState& rs = *r.RunState;
    const TMmID id = child.Props.ID;
    std::unique_ptr<TTsCondExpression>* slot = nullptr;
    if (id >= 0 && static_cast<size_t>(id) < rs.Conditions.size()) slot = &rs.Conditions[static_cast<size_t>(id)];
    if (slot && *slot) return **slot;

    const TTsmCondition& cond = child.Props.Cond;
    std::unique_ptr<TTsCondExpression> e = cond.Operator->Create(cond.Value, nullptr);
    // Matchers run the item list the compiler built once.
    if (cond.Items)
        if (auto* pre = dynamic_cast<TTsPrecompiledCondExpr*>(e.get())) pre->SetItems(cond.Items);
    e->Options = rs.Options;
    e->NodeFinder = &rs.Finder;
    // The counters take a walk over every enclosing level: only a condition
    // that resolves a reference needs them, and most never do.
    e->PrepareFinder = [&rs] { LoadCounters(rs, *rs.ExprNode.Node); };
    e->ModelNode = &rs.ExprNode;
    e->SetFunctions(&r.Functions());
    TTsCondExpression& ref = *e;
    if (slot)
        *slot = std::move(e);
    else
        rs.OtherConditions.push_back(std::move(e));
    return ref;
}

// Tests the child's condition at the current input. A mismatch is only an
// outcome here; the error object is made when someone needs it.
TCondOutcome TestCondition(TTsmNode& parent, TTsmNode& child, TStream& in) {
    const TTsmCondition& cond = child.Props.Cond;
    if (!cond.Operator) return TCondOutcome::Matched;
    TTsmRun& r = *parent.Run;
    TTsmRunState& rs = *r.RunState;
    TTsCondExpression& e = ConditionObject(r, child);
    e.BaseNode = child.Result ? child.Result : parent.Result;
    e.Stream = &in;
    rs.ExprNode.Node = &child;
    const TTsValue v = e.EvaluateValue();
    if (!v.Has(vkBool))
        throw At(ETsmBadConditionResultType(&child,
                                            u"Condition %s evaluated to a non-boolean value '%s'. Node: %s, input: %s.",
                                            {cond.Operator->Name, ValueText(v), child.NodeText(), TsmInputText(&in)}),
                 r.GlobalOffset(in.Position()));
    if (v.Bool != cond.Negated) return TCondOutcome::Matched;
    return child.Props.Order == 0 && !child.Props.IsOnce ? TCondOutcome::Mismatch : TCondOutcome::OrderedMismatch;
}

// The mismatch of a condition tested from offset p of the current input.
std::unique_ptr<Exception> MismatchError(TTsmNode& child, TCondOutcome outcome, TStream& in, int64_t p) {
    std::u16string_view op = child.Props.Cond.Operator ? child.Props.Cond.Operator->Name : std::u16string_view();
    const int64_t at = child.Run->GlobalOffset(p);
    if (outcome == TCondOutcome::Mismatch)
        return At(std::make_unique<ETsmConditionMismatch>(&child,
                                                          u"%s condition didn't match the input. Node: %s, input: %s.",
                                                          FormatArgs{op, child.NodeText(), TsmInputText(&in)}),
                  at);
    return At(std::make_unique<ETsmOrderedConditionMismatch>(
                  &child, u"%s condition of an ordered node didn't match the input. Node: %s, input: %s.",
                  FormatArgs{op, child.NodeText(), TsmInputText(&in)}),
              at);
}

// The child loop of a node with children. From CurrentChild on, each child
// that may be tried has its condition tested and, when it matches, is
// modelled. A success starts the loop again at the first child; the loop
// ends when a child ends it (a terminal child, or any child of a loop that
// is not cyclic), when a failure is not forgiven, or when no child is left.
class TChildLoop {
public:
    explicit TChildLoop(TTsmNode& n)
        : n_(n),
          r_(*n.Run),
          count_(static_cast<int32_t>(n.Children.size())),
          cyclic_(n.ChildSummary.IsCyclic),
          watching_(static_cast<bool>(r_.OnModellingStep)),
          progressing_(static_cast<bool>(r_.OnProgress)),
          // A tentative node's failure is always forgiven by its parent, so
          // the error it returns is never read: no message needs to be written.
          forgivenFailure_(n.Props.IsTentative && n.ParentNode && !watching_) {}

    // The error that ended the loop; nil when a child ended it.
    std::unique_ptr<Exception> Run() {
        for (;;) {
            ThrowIfCancelled();
            if (progressing_ && --r_.RunState->UntilProgress <= 0) {
                r_.RunState->UntilProgress = TTsmLimits::ProgressInterval;
                r_.OnProgress(r_.BaseInput().Position());
            }
            if (n_.CurrentChild >= count_) return NoChildMatched();
            TTsmNode& child = *n_.Children[static_cast<size_t>(n_.CurrentChild)];
            if (watching_) Notify(child, TTsmStepKind::TryTest, TTsArg(-1));
            const bool tryIt = CanTry(n_, child);
            if (watching_) Notify(child, TTsmStepKind::TryTest, TTsArg(tryIt ? 1 : 0));
            if (!tryIt) {
                n_.CurrentChild += 1;
                continue;
            }
            TStream& in = r_.CurrentInput();
            const int64_t p = in.Position();
            std::unique_ptr<Exception> e;
            const bool ok = TryChild(child, in, p, e);
            child.Tried = true;
            if (ok)
                TakeSuccess(child, in, p);
            else
                in.Seek(p, TSeekOrigin::soBeginning);
            // Only the root's loop hands out records: nothing below it is
            // being modelled, so a listener may free them.
            if (ok && !n_.ParentNode && r_.OnRecordsDone && n_.Result) r_.OnRecordsDone(*n_.Result);
            if (e || n_.MatchedChild != -1) return e;
            if (ok) {
                CheckProgress(child, in);
                n_.MatchCount += 1;
                n_.CurrentChild = 0;
            } else {
                n_.CurrentChild += 1;
            }
        }
    }

private:
    void ThrowIfCancelled() const {
        if (r_.CancelToken.IsCancelled())
            throw At(ETsmCancelled(&r_.Model(), TsmInputText(&r_.CurrentInput())), HereGlobal(r_));
    }

    // Every child has been tried from CurrentChild on and none ended the loop.
    std::unique_ptr<Exception> NoChildMatched() const {
        if (forgivenFailure_) return std::make_unique<Exception>();
        return At(std::make_unique<ETsmNoMatchingNode>(&n_, u"No child nodes match the input. Node: %s, input: %s.",
                                                       FormatArgs{n_.NodeText(), TsmInputText(&r_.CurrentInput())}),
                  HereGlobal(r_));
    }

    // Tests the child's condition at p and models the child when it matches.
    // True when the child matched; error is what ends the loop, if anything.
    bool TryChild(TTsmNode& child, TStream& in, int64_t p, std::unique_ptr<Exception>& error) {
        const TCondOutcome outcome = TestCondition(n_, child, in);
        if (outcome != TCondOutcome::Matched) {
            error = ConditionMismatch(child, outcome, in, p);
            return false;
        }
        if (watching_) Notify(child, TTsmStepKind::Condition, TTsArg(nullptr));
        error = ModelMatchedChild(child, in, p);
        const bool ok = !error;
        if (!ok && child.Props.IsTentative) error.reset();
        return ok;
    }

    // Plain mismatches, and ordered ones of optional children, are forgiven:
    // nil. Otherwise the error that ends the loop.
    std::unique_ptr<Exception> ConditionMismatch(TTsmNode& child, TCondOutcome outcome, TStream& in, int64_t p) {
        const bool forgiven = outcome == TCondOutcome::Mismatch || child.Props.IsOptional;
        std::unique_ptr<Exception> e;
        if (!forgiven && forgivenFailure_)
            e = std::make_unique<Exception>();
        else if (!forgiven || watching_)
            e = MismatchError(child, outcome, in, p);
        if (watching_) Notify(child, TTsmStepKind::Condition, TTsArg(static_cast<TObject*>(e.get())));
        if (forgiven) e.reset();
        return e;
    }

    // Runs the child over what its condition read from p (a non-consuming
    // child starts at p again); its failure, if any.
    std::unique_ptr<Exception> ModelMatchedChild(TTsmNode& child, TStream& in, int64_t p) {
        const TTsmSpan condSpan{static_cast<int32_t>(p), static_cast<int32_t>(in.Position() - p), &in};
        if (child.Props.IsNonConsuming) in.Seek(p, TSeekOrigin::soBeginning);
        std::unique_ptr<Exception> e = child.ModellNode(n_.Result, condSpan);
        if (watching_) Notify(child, TTsmStepKind::Modelled, TTsArg(static_cast<TObject*>(e.get())));
        return e;
    }

    // A resetter starts the count of matches again (and lets once children
    // be tried again); any other success marks the child that ends the loop
    // and moves the node's inner span, and in a cyclic loop its end span, on
    // to where the child left the input.
    void TakeSuccess(TTsmNode& child, TStream& in, int64_t p) {
        if (child.Props.IsResetter) {
            if (watching_) Notify(child, TTsmStepKind::Reset, TTsArg(n_.MatchCount));
            n_.MatchCount = -1;
            if (n_.ChildSummary.HasOnce)
                for (auto& ch : n_.Children) ch->Tried = false;
            return;
        }
        const bool terminal = child.Props.IsTerminal();
        if (!cyclic_ || terminal) n_.MatchedChild = n_.CurrentChild;
        const int64_t now = in.Position();
        if (cyclic_) {
            n_.EndSpan = {static_cast<int32_t>(p), static_cast<int32_t>(now - p), &in};
            SetSpan(n_, n_.EndSpan, SpanNames().End, SpanNames().EndGlobal);
        }
        n_.InnerSpan.Length = static_cast<int32_t>((terminal ? p : now) - n_.InnerSpan.Offset);
        SetSpan(n_, n_.InnerSpan, SpanNames().Inner, SpanNames().InnerGlobal);
    }

    // Counts successes in a row that left the input where it was; a loop
    // that keeps doing so would never end, so too many end the run.
    void CheckProgress(const TTsmNode& child, TStream& in) {
        const int64_t now = in.Position();
        if (&in == idleStream_ && now == idlePos_) {
            if (++idle_ >= r_.Limits.MaxIdleMatches)
                throw At(ETsmNoProgress(&r_.Model(), idle_, &n_, &child, TsmInputText(&in)), r_.GlobalOffset(now));
        } else {
            idle_ = 0;
            idleStream_ = &in;
            idlePos_ = now;
        }
    }

    TTsmNode& n_;
    TTsmRun& r_;
    const int32_t count_;
    const bool cyclic_;
    const bool watching_;
    const bool progressing_;
    const bool forgivenFailure_;
    int32_t idle_ = 0;
    const TStream* idleStream_ = nullptr;
    int64_t idlePos_ = -1;
};

// Claims a result node the finder made or found: a fresh one (and its fresh
// ancestors) becomes this node's to free on failure.
void ClaimResult(TTsmNode& n, TTsTreeNode* result) {
    n.CreatedResult = nullptr;
    for (TTsTreeNode* a = result; a; a = a->Parent()) {
        auto* r = dynamic_cast<TTsmResultNode*>(a);
        if (!r || !r->Fresh) break;
        r->Fresh = false;
        n.CreatedResult = r;
    }
}

void BuildChildren(TTsmNode& n) {
    TTsmRun& r = *n.Run;
    const TTsmCompiler& c = r.Model();
    const TTsmProps& props = n.Props;
    if (props.ID >= 0 && static_cast<size_t>(props.ID) < c.Table.size() && c.Table[static_cast<size_t>(props.ID)])
        n.ChildSummary = c.Table[static_cast<size_t>(props.ID)]->ChildSummary;
    n.Children.clear();
    n.Children.reserve(props.Children.size());
    for (TMmID id : props.Children) {
        const TTsmNodeInfo* info =
            id >= 0 && static_cast<size_t>(id) < c.Table.size() ? c.Table[static_cast<size_t>(id)].get() : nullptr;
        if (!info) throw ETsmModelling(&c, u"Node %s refers to a child ID %d that has no record.", {n.NodeText(), id});
        if (info->Props.IsOffContext) continue;
        TTsmNodeClass cls = info->Props.NodeClass ? info->Props.NodeClass : &TTsmNode::Class;
        std::unique_ptr<TTsmNode> child = cls->Create(r, &n, info->Props);
        if (!child) throw ETsmModelling(&c, u"Node class %s has no instances. Node: %s.", {cls->Name, n.NodeText()});
        child->ChildSummary = info->ChildSummary;
        n.Children.push_back(std::move(child));
    }
    n.ChildrenBuilt = true;
}

// A kept child back to the state of a new one. Its own children are reset
// when it runs; until then Modelled keeps them out of DiscardResult.
void ResetChild(TTsmNode& n) {
    n.MatchCount = 0;
    n.CurrentChild = 0;
    n.MatchedChild = -1;
    n.Tried = false;
    n.Result = nullptr;
    n.OwnsResult = false;
    n.CreatedResult = nullptr;
    n.Modelled = false;
    n.StartSpan = n.InnerSpan = n.EndSpan = TTsmSpan{};
}

}  // namespace

int64_t TTsmLimits::DefaultMaxMemory() {
    const int64_t physical = PhysicalMemoryBytes();
    return physical > 0 ? physical / 2 : int64_t{4} << 30;
}

namespace {

// Bounds that grow with the input: the result tree's size, and the memory
// the process took since the run began.
[[noreturn]] void RaiseTooManyResults(TTsmRun& r) {
    throw At(ETsmTooLarge(&r.Model(), u"The result tree has grown past %s nodes, the most a run may make; input: %s.",
                          {IntToStr(r.Limits.MaxResultNodes), TsmInputText(&r.CurrentInput())}),
             HereGlobal(r));
}

void CheckRunMemory(TTsmRun& r) {
    TTsmRunState& rs = *r.RunState;
    rs.UntilBoundsCheck = TTsmLimits::ResultCheckInterval;
    if (rs.ResidentAtStart < 0) return;
    const int64_t grown = ResidentBytes() - rs.ResidentAtStart;
    if (grown > r.Limits.MaxMemory)
        throw At(ETsmTooLarge(
                     &r.Model(), u"The run has taken %s MiB of memory, more than the %s MiB it may take; input: %s.",
                     {IntToStr(grown >> 20), IntToStr(r.Limits.MaxMemory >> 20), TsmInputText(&r.CurrentInput())}),
                 HereGlobal(r));
}

}  // namespace

std::unique_ptr<Exception> TTsmNode::ModellNode(TTsTreeNode* parentResult, const TTsmSpan& span) {
    TDepthGuard depth(*this);
    TTsmRun& r = *Run;
    Modelled = true;
    ResultLogStart = static_cast<int32_t>(r.RunState->CreatedLog.size());
    CreateResultNode(parentResult);

    TStream& in = r.CurrentInput();
    // A result this run created has no properties yet.
    const bool fresh = CreatedResult == Result;
    // Start and inner spans, each with its global form, at once; a node that
    // gets children makes room for its end spans then.
    if (fresh && OwnsResult && Result) Result->Props().Reserve(4);
    StartSpan = {span.Offset, span.Length, span.Stream ? span.Stream : &in};
    SetSpan(*this, StartSpan, SpanNames().Start, SpanNames().StartGlobal, fresh);
    InnerSpan = {static_cast<int32_t>(in.Position()), 0, &in};
    SetSpan(*this, InnerSpan, SpanNames().Inner, SpanNames().InnerGlobal, fresh);
    EndSpan = {};

    if (ChildrenBuilt) {
        // The same record gives the same children: reset them to how they
        // would be made afresh, without making them again.
        for (auto& child : Children) ResetChild(*child);
    } else {
        BuildChildren(*this);
    }
    MatchCount = 0;
    CurrentChild = 0;
    MatchedChild = -1;

    std::unique_ptr<Exception> e;
    if (!Children.empty()) e = TChildLoop(*this).Run();
    Finish(e.get());
    // The root keeps its children's results whatever happens: their entries
    // are not needed any more.
    if (!e && ParentNode && !ParentNode->ParentNode) r.RunState->CreatedLog.resize(static_cast<size_t>(ResultLogStart));
    return e;
}

void TTsmNode::CreateResultNode(TTsTreeNode* parentResult) {
    TTsmRun& r = *Run;
    CreatedResult = nullptr;
    if (!parentResult) {
        // A result root: the slicer owns the result tree.
        auto root = std::make_unique<TTsmResultNode>(Props.Path);
        root->Fresh = false;
        Result = root.get();
        r.ModellingSlicer().SetResultRoot(std::move(root));
    } else if (!Props.Path.empty()) {
        TTsmRunState& rs = *r.RunState;
        int8_t kind = 0;
        const bool cached = Props.ID >= 0 && static_cast<size_t>(Props.ID) < rs.PathKinds.size();
        if (cached) kind = rs.PathKinds[static_cast<size_t>(Props.ID)];
        if (kind == 0) {
            kind = IsPlainName(Props.Path) ? 1 : 2;
            if (cached) rs.PathKinds[static_cast<size_t>(Props.ID)] = kind;
        }
        if (kind == 1) {
            // A plain name always appends a child: no need to parse it as a path.
            Result = parentResult->AddChild(Props.Path);
        } else {
            LoadCounters(rs, *this);
            rs.Finder.Rewind(Props.Path, parentResult);
            Result = rs.Finder.Make();
        }
        ClaimResult(*this, Result);
        if (CreatedResult) {
            rs.CreatedLog.push_back(CreatedResult);
            if (++rs.LiveResults > r.Limits.MaxResultNodes) RaiseTooManyResults(r);
            if (--rs.UntilBoundsCheck <= 0) CheckRunMemory(r);
        }
    } else {
        Result = parentResult;
    }
    // A node the path only found (a "+name" or "[n]" reuse, a climb to an
    // ancestor) is shared with whoever made it: its spans are not this
    // node's to overwrite, nor is it this node's to free.
    OwnsResult = CreatedResult != nullptr || !parentResult;
    Notify(*this, TTsmStepKind::ResultChosen, TTsArg(static_cast<TObject*>(Result)));
}

void TTsmNode::Finish(const Exception* error) {
    if (error) DiscardResult();
}

void TTsmNode::DiscardResult() {
    // A node that did not run in this pass holds nothing of it.
    if (!Modelled) return;
    for (auto& child : Children) child->DiscardResult();
    if (TTsmRunState* rs = Run->RunState.get()) {
        // Newest first: a node is never older than its descendants.
        std::vector<TTsTreeNode*>& log = rs->CreatedLog;
        const size_t start = static_cast<size_t>(ResultLogStart);
        while (log.size() > start) {
            TTsTreeNode* r = log.back();
            log.pop_back();
            if (r->Parent()) r->Destroy();
            --rs->LiveResults;
        }
    }
    CreatedResult = nullptr;
    if (OwnsResult) Result = nullptr;
    OwnsResult = false;
}

void TTsmRoot::CreateResultNode(TTsTreeNode* parentResult) { TTsmNode::CreateResultNode(parentResult); }

void TTsmRoot::Finish(const Exception* error) {
    if (error) return;
    TStream& in = Run->CurrentInput();
    const int64_t pos = in.Position();
    const int64_t size = in.Size();
    if (pos < size)
        Run->HandleError(
            At(std::make_unique<ETsmInputLeft>(
                   &Model(), u"Modelling has stopped at offset %.4Xh leaving %d bytes in the input stream.",
                   FormatArgs{pos, size - pos}),
               Run->GlobalOffset(pos)));
}

// The root's result survives a failed run.
void TTsmRoot::DiscardResult() {}

void TTsmUserMessage::CreateResultNode(TTsTreeNode* parentResult) {
    // Path holds the message text: a message node never makes a result node.
    CreatedResult = nullptr;
    Result = parentResult;
    OwnsResult = false;
    Notify(*this, TTsmStepKind::ResultChosen, TTsArg(static_cast<TObject*>(Result)));
}

std::unique_ptr<Exception> TTsmUserMessage::ModellNode(TTsTreeNode* parentResult, const TTsmSpan& span) {
    // A report points at where the text its condition matched begins.
    std::unique_ptr<ETsmUserMessage> message = CreateMessage();
    if (message && (!span.Stream || span.Stream == Run->InputStack.Top()))
        message->GlobalOffset = Run->GlobalOffset(span.Offset);
    Run->HandleError(std::move(message));
    return TTsmNode::ModellNode(parentResult, span);
}

namespace {

template <class E>
std::unique_ptr<ETsmUserMessage> MakeMessage(TTsmUserMessage& node) {
    const WideString input = NodeInputText(node);
    if (!node.Props.Path.empty())
        return std::make_unique<E>(&node, node.Props.Path, u"%s (%s node message), input: %s.",
                                   FormatArgs{node.Props.Path, node.ClassName(), input});
    return std::make_unique<E>(&node, node.Props.Path, u"A %s node ('%s') has matched, input: %s.",
                               FormatArgs{node.ClassName(), node.Props.Name, input});
}

}  // namespace

std::unique_ptr<ETsmUserMessage> TTsmFail::CreateMessage() { return MakeMessage<ETsmError>(*this); }

std::unique_ptr<ETsmUserMessage> TTsmWarn::CreateMessage() { return MakeMessage<ETsmWarning>(*this); }

}  // namespace ts
