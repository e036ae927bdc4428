// The compiler's driver: the two compile steps in order, the lists in use,
// and the canonical models.
#include "library/modelling/TsmCompiler.h"

#include "library/text/CanonicalModels.h"

namespace ts {

TTsmCompiler::TTsmCompiler() = default;

// Members go in reverse order of declaration: a run's objects, which refer
// to the records, before the table, and the table before the machine.
TTsmCompiler::~TTsmCompiler() = default;

const TTsmNodeClassList& TTsmCompiler::NodeClassList() const { return NodeClasses ? *NodeClasses : TsmNodeClasses(); }

const TTsConditions& TTsmCompiler::ConditionList() const {
    if (NodeClasses && CondOperators) return *CondOperators;
    return DefaultConditions();
}

TTsmCompiler& TTsmCompiler::Compile(const TTsTreeNode& tree) {
    if (Machine) throw ETsmDoubleCompile(this, u"%s object can only be compiled once.", {this});
    Machine = std::make_unique<TTsmMergeMachine>(*this);
    struct Finally {
        TTsmCompiler& c;
        const TTsTreeNode& tree;
        ~Finally() { c.SourceTree = &tree; }
    } finally{*this, tree};
    LoadNode(tree, MmNoID);
    MergeNodes();
    return *this;
}

void TTsmCompiler::MergeNodes() {
    if (!Table.empty()) throw ETsmDoubleCompile(this, u"%s object can only be compiled once.", {this});
    Machine->Merge();
    BuildTable(Machine->Merged);
}

std::unique_ptr<TTsmCompiler> LoadCanonicalModel(std::u16string_view kind) {
    std::unique_ptr<TTsTreeNode> tree = ReadCanonicalModel(kind);
    auto compiler = std::make_unique<TTsmCompiler>();
    compiler->Compile(*tree);
    // The records name their tree nodes in messages for as long as the
    // compiler lives, so the tree stays with it.
    compiler->AddOwned(std::move(tree));
    return compiler;
}

}  // namespace ts
