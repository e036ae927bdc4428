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

namespace {

// The thread's idle canonical compilers: Model, Script.
struct TCanonicalShelf {
    std::unique_ptr<TTsmCompiler> Idle[2];
    size_t FunctionCount[2] = {};  // registered functions as compiled
};

TCanonicalShelf& Shelf() {
    thread_local TCanonicalShelf shelf;
    return shelf;
}

}  // namespace

TCanonicalModel::TCanonicalModel(std::u16string_view kind) : script_(kind == u"Script") {
    if (!script_ && kind != u"Model") {
        compiler_ = LoadCanonicalModel(kind);  // raises the loader's own error
        return;
    }
    TCanonicalShelf& shelf = Shelf();
    compiler_ = std::move(shelf.Idle[script_]);
    if (!compiler_) {
        compiler_ = LoadCanonicalModel(kind);
        shelf.FunctionCount[script_] = static_cast<size_t>(compiler_->Functions->Count());
    }
}

TCanonicalModel::~TCanonicalModel() { Release(); }

void TCanonicalModel::Release() {
    if (!compiler_) return;
    TTsmCompiler& c = *compiler_;
    c.Options = TTsOptions();
    c.OnError = nullptr;
    c.OnModellingStep = nullptr;
    c.CancelToken = TTsmCancelToken();
    c.Limits = TTsmLimits();
    c.KeepFailedResult = false;
    c.FailedResult.reset();
    TCanonicalShelf& shelf = Shelf();
    // Handlers a user registered may capture what is gone by now.
    if (static_cast<size_t>(c.Functions->Count()) != shelf.FunctionCount[script_])
        c.Functions->AssignFrom(*NewTsmFunctions());
    // A lease that overlapped another keeps the shelf's one; its own goes.
    if (!shelf.Idle[script_]) shelf.Idle[script_] = std::move(compiler_);
    compiler_.reset();
}

}  // namespace ts
