// The phased compiler and the decorated dump tree.
#include "debugger/driver/TsdbgCompiler.h"

#include <vector>

#include "library/core/TsTreeWalk.h"

namespace ts {

std::u16string_view PhaseName(int index) {
    return index >= 0 && index < PhaseCount ? PhaseNames[static_cast<size_t>(index)] : u"-";
}

bool TTsdbgCompiler::TryEnterPhase(uint8_t p) {
    // Compared as bytes, so phase 0 follows "none" (-1 is 255).
    if (static_cast<uint8_t>(p - 1) != static_cast<uint8_t>(CurrentPhase) || p >= LastPhase) return false;
    CurrentPhase = static_cast<int8_t>(p);
    return true;
}

TMmID TTsdbgCompiler::LoadNode(const TTsTreeNode& node, TMmID parent) {
    // Only the root call is gated; the subtree follows it.
    if (parent == MmNoID && !TryEnterPhase(phLoadNodes)) return MmNoID;
    return TTsmCompiler::LoadNode(node, parent);
}

void TTsdbgCompiler::MergeNodes() {
    if (TryEnterPhase(phMerge)) TTsmCompiler::MergeNodes();
}

TTsmCompiler& TTsdbgCompiler::Compile(const TTsTreeNode& tree) {
    CurrentPhase = -1;
    TTsmCompiler::Compile(tree);
    CurrentPhase = static_cast<int8_t>(CurrentPhase + 1);
    return *this;
}

std::unique_ptr<TTsTreeNode> BuildResultTree(TTsmCompiler& compiler, int phase) {
    if (phase <= 1) {
        if (!compiler.Machine) throw ETsmCompiling(&compiler, u"%s has not loaded any nodes to show.", {&compiler});
        compiler.BuildTable(compiler.Machine->Defined);
        // Defined records know their parents but carry no child lists, so
        // the dump would show the root alone. Children as written, in ID
        // order (which is the order of the model's lines).
        std::vector<std::unique_ptr<TTsmNodeInfo>>& table = compiler.Table;
        for (size_t i = 0; i < table.size(); ++i) {
            if (!table[i]) continue;
            const TMmID parent = table[i]->Props.Parent;
            if (parent >= 0 && static_cast<size_t>(parent) < table.size() && table[static_cast<size_t>(parent)] &&
                static_cast<size_t>(parent) != i)
                table[static_cast<size_t>(parent)]->Props.Children.push_back(static_cast<TMmID>(i));
        }
    }
    std::unique_ptr<TTsTreeNode> tree = compiler.DumpCompiled(0);
    // Every dumped node shows its record's child summary.
    for (auto [node, depth] : PreOrder(*tree)) {
        const TTsProperty* id = node->Props().Find(u"ID");
        if (id && id->Value.Has(vkInt) && id->Value.Int >= 0 &&
            static_cast<size_t>(id->Value.Int) < compiler.Table.size()) {
            if (const TTsmNodeInfo* info = compiler.Table[static_cast<size_t>(id->Value.Int)].get()) {
                const TTsmChildSummary& s = info->ChildSummary;
                if (s.HasOrdered) node->Props().SetValue(HasOrderedProp, TTsValue::FromBool(true));
                if (s.IsCyclic) node->Props().SetValue(IsCyclicProp, TTsValue::FromBool(true));
                if (s.OnlyENDs) node->Props().SetValue(OnlyENDsProp, TTsValue::FromBool(true));
                if (s.HasOnce) node->Props().SetValue(HasOnceProp, TTsValue::FromBool(true));
            }
        }
    }
    return tree;
}

}  // namespace ts
