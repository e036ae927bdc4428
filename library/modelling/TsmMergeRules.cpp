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

}  // namespace ts
