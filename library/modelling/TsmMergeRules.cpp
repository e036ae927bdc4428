// The model's merge rules: which children may be taken over, what an
// inheriting node and an overlay take from the node they build on, how a
// merge reference marks the children it brings, and the child summary with
// the implicit END and ANY children it calls for.
#include "library/modelling/TsmCompiler.h"
#include "library/modelling/TsmMergeMachine.h"

namespace ts {

// Every node computes its own implicit children; taking another node's
// would give it a second END or ANY.
bool TTsmMergeMachine::CanTakeChild(TMmID, TMmID child) { return !InfoOf(child).Props.IsImplicit(); }

void TTsmMergeMachine::Inherited(TMmID id, TMmID fromId) {
    TMergeMachine::Inherited(id, fromId);
    TTsmProps& props = InfoOf(id).Props;
    if (!props.Cond.IsSet()) props.Cond = InfoOf(fromId).Props.Cond;
}

TMmID TTsmMergeMachine::Overlay(TMmNode& node, TMmNode& target) {
    const TMmID id = TMergeMachine::Overlay(node, target);
    TTsmProps& n = InfoOf(id).Props;
    const TTsmProps& d = InfoOf(target).Props;
    n.IsResetter = n.IsResetter || d.IsResetter;
    n.IsOptional = n.IsOptional || d.IsOptional;
    n.IsTentative = n.IsTentative || d.IsTentative;
    n.IsOnce = n.IsOnce || d.IsOnce;
    n.IsNonConsuming = n.IsNonConsuming || d.IsNonConsuming;
    n.IsOffContext = n.IsOffContext || d.IsOffContext;
    n.Path = d.Path;
    n.NodeClass = d.NodeClass;
    if (n.Order == 0) n.Order = d.Order;
    return id;
}

TMmID TTsmMergeMachine::TakeMergedChild(TMmID childId, const TMmNode& mergeRef) {
    const bool nonConsuming = InfoOf(mergeRef).Props.IsNonConsuming;
    // A child that is a node enclosing the one being merged closes a cycle
    // of the merged graph. Copying it would open the cycle again one level
    // deeper on every merge, without end; it is kept when it already
    // consumes as the reference asks.
    // (A fresh copy has the merged node as its parent: no need to look.)
    if (InfoOf(childId).Props.IsNonConsuming == nonConsuming && Merged[childId].Parent != CurrentNode()) {
        int steps = Merged.Count();
        for (TMmID v = CurrentNode(); v != MmNoID && steps-- > 0; v = Merged[v].Parent)
            if (v == childId) return childId;
    }
    TMmNode* copy = CopyNode(Merged[childId]);
    InfoOf(*copy).Props.IsNonConsuming = nonConsuming;
    return copy->ID;
}

TTsmNodeInfo& TTsmMergeMachine::AddImplicitChild(TMmID parent) {
    TMmNode* node = NewMergedNode();
    node->Parent = parent;
    Merged[parent].Children.Add(node->ID, 0);
    TTsmNodeInfo& info = InfoOf(*node);
    info.Props.Source = TTsValue::FromStr(WideString(TsmImplicitSource));
    return info;
}

void TTsmMergeMachine::NodeMerged(TMmID id) {
    TMergeMachine::NodeMerged(id);
    const TMmIdList& children = Merged[id].Children;
    TTsmChildSummary summary;
    bool allTerminal = true;
    for (int i = 0; i < children.Count(); ++i) {
        const TMmNode& child = Merged[children.ID(i)];
        TTsmProps& props = InfoOf(child).Props;
        // Whether a message node ends the loop depends on its children; its
        // own are merged later, so answer from what is known of them now.
        const TMmIdList& known = child.IsMerged ? child.Children : child.DefinedChildren;
        props.Children.resize(static_cast<size_t>(known.Count()));
        for (int k = 0; k < known.Count(); ++k) props.Children[static_cast<size_t>(k)] = known.ID(k);
        const bool terminal = props.IsTerminal();
        summary.HasOrdered = summary.HasOrdered || props.Order != 0;
        summary.IsCyclic = summary.IsCyclic || terminal;
        summary.HasOnce = summary.HasOnce || props.IsOnce;
        allTerminal = allTerminal && terminal;
    }
    summary.OnlyENDs = children.Count() > 0 && allTerminal;
    if (!summary.IsCyclic && (summary.HasOrdered || summary.HasOnce)) {
        AddImplicitChild(id).Props.NodeClass = &TTsmEnd::Class;
        summary.IsCyclic = true;
    }
    if (summary.OnlyENDs) {
        TTsmProps& any = AddImplicitChild(id).Props;
        any.NodeClass = &TTsmNode::Class;
        any.Cond = Compiler->AnyCondition();
    }
    InfoOf(id).ChildSummary = summary;
}

// A FAIL or WARN child ends its parent's loop only when it has no children,
// but while the parent is merged the child's merges and inheritance have not
// run yet: NodeMerged can only guess from its own lines, and a guess of
// "terminal" is wrong when merging brings children. Then the parent's loop
// has nothing that ends it (no implicit END although ordered or once
// children need one) or an implicit ANY it should not have. Once every node
// is merged the children are final and the guess is settled here.
void TTsmMergeMachine::SettleMessageSummary(TMmID id) {
    TMmNode& node = Merged[id];
    TMmIdList& children = node.Children;
    bool guessed = false;
    for (int i = 0; i < children.Count() && !guessed; ++i) {
        const TMmNode& child = Merged[children.ID(i)];
        const TTsmProps& props = InfoOf(child).Props;
        // Recomputing is harmless where the guess was right.
        guessed =
            props.NodeClass && props.NodeClass->IsTerminal == &TTsmUserMessage::IsTerminal && !child.Children.IsEmpty();
    }
    if (!guessed) return;
    TTsmChildSummary summary;
    bool allTerminal = true, explicitChildren = false;
    int implicitEnd = -1, implicitAny = -1;
    for (int i = 0; i < children.Count(); ++i) {
        const TMmNode& child = Merged[children.ID(i)];
        TTsmProps& props = InfoOf(child).Props;
        if (props.IsImplicit()) {
            (props.NodeClass == &TTsmEnd::Class ? implicitEnd : implicitAny) = i;
            continue;
        }
        props.Children.resize(static_cast<size_t>(child.Children.Count()));
        for (int k = 0; k < child.Children.Count(); ++k) props.Children[static_cast<size_t>(k)] = child.Children.ID(k);
        const bool terminal = props.IsTerminal();
        explicitChildren = true;
        summary.HasOrdered = summary.HasOrdered || props.Order != 0;
        summary.IsCyclic = summary.IsCyclic || terminal;
        summary.HasOnce = summary.HasOnce || props.IsOnce;
        allTerminal = allTerminal && terminal;
    }
    summary.OnlyENDs = explicitChildren && allTerminal;
    // The guess only ever errs towards "terminal": an ANY may have to go and
    // an END may have to come, never the other way round.
    if (implicitAny >= 0 && !summary.OnlyENDs) {
        children.Delete(implicitAny);
        if (implicitEnd > implicitAny) --implicitEnd;
    }
    if (!summary.IsCyclic && (summary.HasOrdered || summary.HasOnce) && implicitEnd < 0) {
        TMmNode* end = NewMergedNode();
        end->Parent = id;
        end->IsMerged = true;  // nothing of its own to merge
        InfoOf(*end).Props.Source = TTsValue::FromStr(WideString(TsmImplicitSource));
        InfoOf(*end).Props.NodeClass = &TTsmEnd::Class;
        implicitEnd = children.Count();
        children.Add(end->ID, 0);
    }
    summary.IsCyclic = summary.IsCyclic || implicitEnd >= 0;
    InfoOf(node).ChildSummary = summary;
}

void TTsmMergeMachine::RemoveUnused() {
    for (TMmID id = 0; id < Merged.Count(); ++id)
        if (const TMmNode* node = Merged.Items(id); node && node->IsMerged) SettleMessageSummary(id);
    TMergeMachine::RemoveUnused();
}

}  // namespace ts
