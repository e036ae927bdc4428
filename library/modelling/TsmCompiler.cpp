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
    // Runs on several threads look into the registry at once.
    Functions->PrepareSharedReading();
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

// Each kind is compiled on its first use (a function-local static, so two
// threads asking at once wait for one compile) and only read after.
const TTsmCompiler& CanonicalModel(std::u16string_view kind) {
    if (kind == u"Model") {
        static const std::unique_ptr<const TTsmCompiler> model = LoadCanonicalModel(u"Model");
        return *model;
    }
    if (kind == u"Script") {
        static const std::unique_ptr<const TTsmCompiler> script = LoadCanonicalModel(u"Script");
        return *script;
    }
    OpenCanonicalModel(kind);  // raises the loader's own error for a kind it has no resource of
    throw EInvalidArgument(Format(u"The canonical models are \"Model\" and \"Script\", not \"%s\".", {kind}));
}

}  // namespace ts
