// The model merge machine's bookkeeping: records attached to every node it
// creates, copied with copies and freed with deleted nodes; merge reference
// lists; and the error hook that names the node being merged.
#include "library/modelling/TsmMergeMachine.h"

#include "library/modelling/TsmCompiler.h"

namespace ts {

namespace {

WideString MergingNodeText(const TTsmMergeMachine& m) {
    const TMmID id = m.Stack.Top();
    const TMmNode* node = id >= 0 && id < m.Merged.Count() ? m.Merged.Items(id) : nullptr;
    const auto* info = node ? static_cast<const TTsmNodeInfo*>(node->Data) : nullptr;
    return TsmSourceText(info ? info->Props.Source : TTsValue(), nullptr);
}

// Merge errors raised while a model node is merged name that node, so that
// the author can find the line.
void InstallMergeErrorHook() {
    static const bool installed = [] {
        TMmErrorCreatedHook& hook = MergeMachineErrorHook();
        hook = [previous = hook](EMergeMachine& e) {
            if (previous) previous(e);
            const auto* m = dynamic_cast<const TTsmMergeMachine*>(e.Machine());
            if (m && m->Stack.Count() > 0) e.SetMessage(e.Message() + u" Node: " + MergingNodeText(*m));
        };
        return true;
    }();
    (void)installed;
}

}  // namespace

TTsmMergeMachine::TTsmMergeMachine(TTsmCompiler& compiler) : Compiler(&compiler) { InstallMergeErrorHook(); }

TTsmMergeMachine::~TTsmMergeMachine() = default;

TTsmNodeInfo& TTsmMergeMachine::InfoOf(const TMmNode& node) const {
    // Only this machine attaches Data, and always a record.
    if (node.Data) return *static_cast<TTsmNodeInfo*>(node.Data);
    ETsmNoNodeInfo e(Compiler, u"%s has no assigned compilation info.", {&node});
    if (Stack.Count() > 0) e.SetMessage(e.Message() + u" Node: " + MergingNodeText(*this));
    throw e;
}

TTsmNodeInfo& TTsmMergeMachine::Attach(TMmNode& node, const TTsmNodeInfo* from) {
    auto info = std::make_unique<TTsmNodeInfo>();
    if (from) {
        info->Props = from->Props;
        info->ChildSummary = from->ChildSummary;
        info->SourceTree = from->SourceTree;
    }
    info->infoSlot_ = static_cast<int32_t>(infos_.size());
    node.Data = info.get();
    infos_.push_back(std::move(info));
    return *infos_.back();
}

std::unique_ptr<TTsmNodeInfo> TTsmMergeMachine::TakeInfo(TTsmNodeInfo& info) {
    const int32_t slot = info.infoSlot_;
    if (slot < 0 || static_cast<size_t>(slot) >= infos_.size() || infos_[static_cast<size_t>(slot)].get() != &info)
        throw EInvalidOperation(Format(u"%s does not own this %s.", {this, &info}));
    info.infoSlot_ = -1;
    return std::move(infos_[static_cast<size_t>(slot)]);
}

void TTsmMergeMachine::AddMergeRefs(TMmNode& node, std::u16string_view text, bool left) {
    TMmList& list = left ? node.LeftMerges : node.RightMerges;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(u'\0', start);
        std::u16string_view item =
            text.substr(start, end == std::u16string_view::npos ? text.size() - start : end - start);
        const bool nonConsuming = !item.empty() && item.front() == u'.';
        if (nonConsuming) item.remove_prefix(1);
        auto ref = std::make_unique<TMmNode>();
        ref->Name = WideString(item);
        TMmNode* added = list.Add(std::move(ref));
        TTsmNodeInfo& info = Attach(*added, nullptr);
        info.Props.Name = added->Name;
        info.Props.IsNonConsuming = nonConsuming;
        if (end == std::u16string_view::npos) break;
        start = end + 1;
    }
}

void TTsmMergeMachine::MergeNode(TMmID id) {
    if (id >= 0 && id < Merged.Count())
        if (const TMmNode* node = Merged.Items(id)) Compiler->SourceTree = InfoOf(*node).SourceTree;
    TMergeMachine::MergeNode(id);
}

void TTsmMergeMachine::DeleteNode(TMmID id) {
    TTsmNodeInfo* info = nullptr;
    if (id >= 0 && id < Merged.Count())
        if (const TMmNode* node = Merged.Items(id)) info = static_cast<TTsmNodeInfo*>(node->Data);
    TMergeMachine::DeleteNode(id);
    if (!info) return;
    // A merged node that began as a clone of the defined node with its ID
    // shares that node's record: the defined node must not keep pointing at it.
    if (id < Defined.Count())
        if (TMmNode* defined = Defined.Items(id); defined && defined->Data == info) defined->Data = nullptr;
    if (info->infoSlot_ >= 0) TakeInfo(*info);  // and freed here
}

TMmNode* TTsmMergeMachine::AddDefined(std::unique_ptr<TMmNode> node) {
    TMmNode* added = TMergeMachine::AddDefined(std::move(node));
    if (added) Attach(*added, nullptr);
    return added;
}

TMmNode* TTsmMergeMachine::AddMerged(std::unique_ptr<TMmNode> node) {
    TMmNode* added = TMergeMachine::AddMerged(std::move(node));
    if (added) Attach(*added, nullptr);
    return added;
}

TMmNode* TTsmMergeMachine::CopyNode(const TMmNode& node) {
    const TTsmNodeInfo& from = InfoOf(node);
    TMmNode* copy = TMergeMachine::CopyNode(node);
    Attach(*copy, &from);
    return copy;
}

}  // namespace ts
