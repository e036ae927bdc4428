// TTsmMergeMachine: the merge machine specialised for models. Every merge
// node carries a compiled record (TTsmNodeInfo, owned in Infos, reached
// through the node's Data) that follows the node through copies, overlays and
// merge references; the model's rules (condition inheritance, the property
// merge of an overlay, non-consuming references, implicit END and ANY
// children) are its overrides. Merge errors raised while a node is merged
// name that node's source.
#pragma once

#include <memory>
#include <vector>

#include "library/modelling/TsmNodes.h"
#include "library/modelling/merge/MergeMachine.h"

namespace ts {

class TTsmMergeMachine : public TMergeMachine {
    TS_CLASS(TTsmMergeMachine)
public:
    explicit TTsmMergeMachine(TTsmCompiler& compiler);
    ~TTsmMergeMachine() override;

    TTsmCompiler* Compiler;  // not owned

    // The record of a node; ETsmNoNodeInfo when it has none.
    TTsmNodeInfo& InfoOf(const TMmNode& node) const;
    TTsmNodeInfo& InfoOf(TMmID mergedId) const { return InfoOf(Merged[mergedId]); }
    // Every record the machine still owns (slots of records handed out are nil).
    const std::vector<std::unique_ptr<TTsmNodeInfo>>& Infos() const { return infos_; }
    // Hands a record over to the caller; the node keeps pointing at it.
    std::unique_ptr<TTsmNodeInfo> TakeInfo(TTsmNodeInfo& info);

    // Adds a merge reference per item of a merge list text (items split at
    // each NUL; a leading "." makes the reference non-consuming).
    void AddMergeRefs(TMmNode& node, std::u16string_view text, bool left);

    // ---- Overrides ----
    void MergeNode(TMmID id) override;
    void NodeMerged(TMmID id) override;
    void DeleteNode(TMmID id) override;
    bool CanTakeChild(TMmID targetId, TMmID child) override;
    void Inherited(TMmID id, TMmID fromId) override;
    TMmID Overlay(TMmNode& node, TMmNode& target) override;
    TMmID TakeMergedChild(TMmID childId, const TMmNode& mergeRef) override;
    TMmNode* AddDefined(std::unique_ptr<TMmNode> node) override;
    TMmNode* CopyNode(const TMmNode& node) override;
    TMmNode* AddMerged(std::unique_ptr<TMmNode> node) override;
    // Settles the child summaries that guessed a message child terminal
    // before its merges gave it children, then removes unused nodes.
    void RemoveUnused() override;

private:
    // Gives node a new record (a copy of `from` when given) owned here.
    TTsmNodeInfo& Attach(TMmNode& node, const TTsmNodeInfo* from);
    // A new merged child of parent that no line declared.
    TTsmNodeInfo& AddImplicitChild(TMmID parent);
    void SettleMessageSummary(TMmID id);

    std::vector<std::unique_ptr<TTsmNodeInfo>> infos_;
};

}  // namespace ts
