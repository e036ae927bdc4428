// The compiler: its steps, condition compilation, the table, the dump and
// the canonical models.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "support/Resources.h"
#include "tests/modelling/TsmTestSupport.h"

using namespace ts;
using namespace ts::test;

namespace {

// Every property of a dump node as "name=value" in the collection's order.
std::string PropsText(const TTsTreeNode& node) {
    std::string out;
    for (int i = 0; i < node.Props().Count(); ++i) {
        const TTsProperty* p = node.Props().ByIndex(i);
        out += (out.empty() ? "" : " ") + WideToUtf8(p->Name()) + "=" + WideToUtf8(p->Value.DumpText(false));
    }
    return out;
}

}  // namespace

TEST(TsmCompiler, ConditionsCompileOrNameTheNode) {
    Compiled c = CompileModel(
        "a   =   word  \n"
        "b !% SP+\n"
        "C\n"
        "d = \n");
    const TTsmCondition& exact = c[1]->Props.Cond;
    EXPECT_EQ(exact.Operator, CondClass<TCdExact>());
    EXPECT_FALSE(exact.Negated);
    EXPECT_EQ(exact.Value.Str, u"word");
    EXPECT_EQ(exact.Value.Bytes, "word");
    EXPECT_TRUE(c[2]->Props.Cond.Negated);
    EXPECT_EQ(c[2]->Props.Cond.Operator, CondClass<TCdSimpat>());
    EXPECT_FALSE(c[3]->Props.Cond.IsSet());
    EXPECT_TRUE(c[4]->Props.Cond.IsSet());
    EXPECT_EQ(c[4]->Props.Cond.Value.Str, u"");

    EXPECT_EQ(CompileError<ETsmEmptyNegatedCondition>("a = 1\n  b !   \n"),
              "Negated condition ('!') must have an operator. Node: 'b' <StringStream>:2.");
    EXPECT_EQ(CompileError<ETsmUnknownCondition>("a = 1\n  b !Zx y\n"),
              "Unknown condition operator 'Z' in 'Zx y'. Node: 'b' <StringStream>:2.");
    // The blank after "!" is the operator.
    EXPECT_EQ(CompileError<ETsmUnknownCondition>("a ! = x\n"),
              "Unknown condition operator ' ' in ' = x'. Node: 'a' <StringStream>:1.");
    // Nameless nodes are named by their source alone.
    EXPECT_EQ(CompileError<ETsmUnknownCondition>("a = 1\n  ^ ~e\n"),
              "Unknown condition operator '~' in '~e'. Node: <StringStream>:2.");
}

TEST(TsmCompiler, CompilesOnceEvenAfterAFailure) {
    auto bad = ReadModel("a !\n");
    TTsmCompiler failed;
    EXPECT_THROW(failed.Compile(*bad), ETsmEmptyNegatedCondition);
    EXPECT_NE(failed.Machine, nullptr);
    try {
        failed.Compile(*bad);
        ADD_FAILURE() << "compiled twice";
    } catch (const ETsmDoubleCompile& e) {
        EXPECT_EQ(e.Message(), u"TTsmCompiler object can only be compiled once.");
    }

    Compiled good = CompileModel("a = 1\n");
    EXPECT_THROW(good.compiler->Compile(*good.tree), ETsmDoubleCompile);
    EXPECT_THROW(good.compiler->MergeNodes(), ETsmDoubleCompile);
    EXPECT_EQ(good.compiler->SourceTree, good.tree.get());
}

TEST(TsmCompiler, TableFromTheMergedOrTheDefinedList) {
    // IDs go depth-first in pre-order; an overlaid own child has no slot left.
    Compiled c = CompileModel(
        "(@base) = b\n"
        "  (@def) = d1\n"
        "    k = 1\n"
        "user = u\n"
        "  @base\n"
        "    (@def) = d2\n");
    ASSERT_GE(c.compiler->Table.size(), 7u);
    EXPECT_EQ(c[6], nullptr);
    EXPECT_EQ(c[5]->Props.Name, u"base");
    EXPECT_EQ(c[5]->Props.Parent, 4);
    EXPECT_EQ(c[5]->Props.Cond.Value.Str, u"b");
    const TTsmNodeInfo& def = *c[c[5]->Props.Children.at(0)];
    EXPECT_EQ(def.Props.Cond.Value.Str, u"d2");
    EXPECT_EQ(def.Props.Children.size(), 0u);
    for (size_t i = 0; i < c.compiler->Table.size(); ++i) {
        if (c.compiler->Table[i]) {
            EXPECT_EQ(c.compiler->Table[i]->Props.ID, static_cast<TMmID>(i));
        }
    }

    // A compiler that stops after loading builds its table from the defined
    // nodes: parents, no children, no implicit nodes.
    struct LoadOnly : TTsmCompiler {
        void MergeNodes() override { BuildTable(Machine->Defined); }
    };
    auto tree = ReadModel("a = 1\n  1 b = 2\n  c = 3\n");
    LoadOnly loaded;
    loaded.Compile(*tree);
    ASSERT_EQ(loaded.Table.size(), 4u);
    EXPECT_EQ(loaded.Table[2]->Props.Parent, 1);
    EXPECT_EQ(loaded.Table[2]->Props.Order, 1);
    EXPECT_TRUE(loaded.Table[1]->Props.Children.empty());
    EXPECT_EQ(loaded.Table[3]->SourceTree, tree->ChildByIndex(0)->ChildByIndex(1));
    EXPECT_EQ(loaded.Machine->Merged.Count(), 0);
}

TEST(TsmCompiler, DumpShowsTheRecordsProperties) {
    Compiled c = CompileModel(
        "top = t\n"
        "  0? FAIL \"Bad input.\" !x 0D0A\n"
        "    z = z\n"
        "  3^ b... % SP*\n");
    auto dump = c.compiler->DumpCompiled(1);
    EXPECT_EQ(dump->Name(), u"top");
    EXPECT_EQ(PropsText(*dump),
              "Children=s5 2 4 5 ID=i1 Parent=i0 mCond=s3 = t mIsInheriting=bFALSE mIsNonConsuming=bFALSE "
              "mIsOffContext=bFALSE mIsOnce=bFALSE mIsOptional=bFALSE mIsPrepending=bFALSE mIsResetter=bFALSE "
              "mIsTentative=bFALSE source=s14 <StringStr i0");
    ASSERT_EQ(dump->ChildCount(), 3);
    EXPECT_EQ(
        PropsText(*dump->ChildByIndex(0)),
        "Children=s1 3 Class=s8 TTsmFail ID=i2 Parent=i1 mCond=s7 !x 0D0A mIsInheriting=bFALSE mIsNonConsuming=bFALSE "
        "mIsOffContext=bFALSE mIsOnce=bFALSE mIsOptional=bTRUE mIsPrepending=bFALSE mIsResetter=bTRUE "
        "mIsTentative=bFALSE mPath=s10 Bad input. source=s14 <StringStr i1");
    EXPECT_EQ(PropsText(*dump->ChildByIndex(1)),
              "ID=i4 Parent=i1 mCond=s5 % SP* mIsInheriting=bFALSE mIsNonConsuming=bTRUE mIsOffContext=bFALSE "
              "mIsOnce=bFALSE mIsOptional=bFALSE mIsPrepending=bFALSE mIsResetter=bFALSE mIsTentative=bTRUE "
              "mOrder=i3 source=s14 <StringStr i3");
    EXPECT_EQ(PropsText(*dump->ChildByIndex(2)),
              "Class=s7 TTsmEnd ID=i5 Parent=i1 mIsInheriting=bFALSE mIsNonConsuming=bFALSE mIsOffContext=bFALSE "
              "mIsOnce=bFALSE mIsOptional=bFALSE mIsPrepending=bFALSE mIsResetter=bFALSE mIsTentative=bFALSE "
              "source=s8 implicit");
    // The root has neither a parent nor a source.
    EXPECT_EQ(PropsText(*c.compiler->DumpCompiled(0)).substr(0, 16), "Children=s1 1 ID");

    // Into a given parent, as its last child.
    TTsTreeNode holder;
    holder.AddChild(u"first");
    TTsTreeNode& added = c.compiler->DumpCompiled(3, holder);
    EXPECT_EQ(holder.ChildByIndex(1), &added);
    EXPECT_THROW(c.compiler->DumpCompiled(99), ETsmCompiling);
}

TEST(TsmCompiler, ConditionTextOfOtherOperands) {
    TTsmCompiler compiler;
    TTsmCondition cond;
    cond.Operator = CondClass<TCdHex>();
    cond.Value = TRpnScalar::FromBytes("\xe8 ab ");
    compiler.Options.Codepage = 1250;
    EXPECT_EQ(compiler.ConditionText(cond), u"x \u010d ab");
    cond.Negated = true;
    cond.Value = TRpnScalar::FromNum(2.5);
    EXPECT_EQ(compiler.ConditionText(cond), u"!x 2.5");
    // A class the table does not know.
    cond.Operator = CondClass<TTsCondExpression>();
    cond.Value = TRpnScalar::FromStr(u"  ");
    EXPECT_EQ(compiler.ConditionText(cond), u"!???");
}

TEST(TsmCompiler, CollapsedReferencesShowAsMarkers) {
    auto tree = ReadModel(
        "(@lib) = l\n"
        "  a = a\n"
        "    b = b\n"
        "user + lib = u\n");
    TTsmCompiler compiler;
    compiler.Compile(*tree);
    const std::string expanded = Outline(compiler, 0, false);
    EXPECT_NE(expanded.find("  user {= u}\n    a {= a}\n      b {= b}\n"), std::string::npos) << expanded;
    compiler.CollapseReferences = true;
    // Copies are children of their new parent, so only references collapse.
    EXPECT_EQ(Outline(compiler, 0, false), expanded);

    Compiled cyclic = CompileModel("x = a\n  @x = b\n");
    cyclic.compiler->CollapseReferences = true;
    EXPECT_EQ(Outline(*cyclic.compiler),
              "#0\n"
              "  x#1 {= a}\n"
              "    x#2 inh {= b}\n"
              "      x#3 inh {= b}\n"
              "        *2 inh {= b}\n");
}

// A merge inside the definition it merges copies the copy it sits in, once
// more on every level: merging ends at the generations limit and names the
// line whose merge keeps going, rather than running on to the ID stack's
// depth at a cost that grows with its square.
TEST(TsmCompiler, MergesThatKeepOpeningLevelsEndEarly) {
    const char* model =
        "c = c\n"
        "  a = a\n"
        "    @c\n"
        "      (c)\n"
        "        (c)\n"
        "        c + c = c\n";
    auto tree = ReadModel(model);
    TTsmCompiler compiler;
    try {
        compiler.Compile(*tree);
        ADD_FAILURE() << "a merge without end compiled";
    } catch (const EMergeMachine& e) {
        // Seven nodes with the root: 4 * 7 + 64 generations.
        EXPECT_EQ(e.Message(),
                  u"Merging would copy a node through more than 92 generations of copies; the model's merges keep "
                  u"opening levels. Node: <StringStream>:6");
    }
}

TEST(TsmCompiler, DeepModelsEndInAnErrorOrCompile) {
    // Loading and dumping do not recurse; merging stops at its stack's depth.
    auto build = [](int depth) {
        auto root = std::make_unique<TTsTreeNode>();
        TTsTreeNode* node = root.get();
        for (int i = 0; i < depth; ++i) node = node->AddChild(u"n");
        return root;
    };
    auto deep = build(20000);
    TTsmCompiler failing;
    try {
        failing.Compile(*deep);
        ADD_FAILURE() << "a model 20,000 levels deep compiled";
    } catch (const EListError& e) {
        EXPECT_EQ(e.Message(), u"Too deep TMmIdStack.");
    }

    // Merges that each need the next one merged first nest just as deeply.
    std::string chain = "top = t\n";
    for (int i = 0; i < 10000; ++i) chain += "  a" + std::to_string(i) + " + a" + std::to_string(i + 1) + " = x\n";
    chain += "  a10000 = x\n";
    auto chained = ReadModel(chain);
    TTsmCompiler merging;
    try {
        merging.Compile(*chained);
        ADD_FAILURE() << "a chain of 10,000 merges compiled";
    } catch (const EListError& e) {
        EXPECT_EQ(e.Message(), u"Too deep TMmIdStack.");
    }

    auto fine = build(1500);
    TTsmCompiler compiler;
    compiler.Compile(*fine);
    ASSERT_EQ(compiler.Table.size(), 1501u);
    auto dump = compiler.DumpCompiled(0);
    const TTsTreeNode* last = dump.get();
    int levels = 0;
    while (last->ChildCount() > 0) {
        last = last->ChildByIndex(0);
        ++levels;
    }
    EXPECT_EQ(levels, 1500);
}

TEST(TsmCompiler, CanonicalModelsCompile) {
    for (const char16_t* kind : {u"Model", u"Script"}) {
        std::unique_ptr<TTsmCompiler> compiler = LoadCanonicalModel(kind);
        ASSERT_NE(compiler->Machine, nullptr);
        ASSERT_FALSE(compiler->Table.empty());
        const TTsmNodeInfo* root = compiler->Table[0].get();
        ASSERT_NE(root, nullptr);
        EXPECT_FALSE(root->Props.Children.empty());
        // The records still name their lines.
        ASSERT_NE(compiler->SourceTree, nullptr);
        const TTsmNodeInfo* first = compiler->Table[1].get();
        ASSERT_NE(first, nullptr);
        ASSERT_NE(first->SourceTree, nullptr);
        EXPECT_EQ(first->SourceTree->Name(), first->Props.Name);
        EXPECT_EQ(first->Props.Source.Str, u"<ResourceStream>");
        EXPECT_NE(compiler->DumpCompiled(0), nullptr);
    }
    std::unique_ptr<TTsmCompiler> model = LoadCanonicalModel(u"Model");
    // The model's LINE node and its run loop ending at END or end of input.
    bool line = false;
    for (TMmID id : model->Table[0]->Props.Children)
        if (model->Table[static_cast<size_t>(id)]->Props.NodeClass == &TTsmLine::Class) line = true;
    EXPECT_TRUE(line);
    EXPECT_TRUE(model->Table[0]->ChildSummary.IsCyclic);
}

TEST(TsmCompiler, CanonicalModelsAreCompiledOncePerProcessAndShared) {
    const TTsmCompiler& model = CanonicalModel(u"Model");
    const TTsmCompiler& script = CanonicalModel(u"Script");
    EXPECT_EQ(&CanonicalModel(u"Model"), &model);
    EXPECT_EQ(&CanonicalModel(u"Script"), &script);
    EXPECT_NE(&model, &script);
    EXPECT_FALSE(model.Table.empty());
    EXPECT_FALSE(script.Table.empty());
    // Other threads get the very same compilers, also when they ask at once.
    const TTsmCompiler* seen[4] = {};
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&seen, i] { seen[i] = &CanonicalModel(i % 2 ? u"Script" : u"Model"); });
    for (std::thread& t : threads) t.join();
    for (int i = 0; i < 4; ++i) EXPECT_EQ(seen[i], i % 2 ? &script : &model) << i;
    // A fresh compiler is the caller's own.
    EXPECT_NE(LoadCanonicalModel(u"Model").get(), &model);
    EXPECT_THROW(CanonicalModel(u"Nothing"), EResNotFound);
}

TEST(TsmCompiler, RandomModelsCompileConsistentlyOrFailCleanly) {
    // Small random trees with every merge feature: each compiles to a table
    // whose references all resolve, or fails with the library's own error.
    const char16_t* names[] = {u"a", u"b", u"x", u"END", u"FAIL"};
    int compiled = 0;
    for (uint32_t seed = 1; seed <= 300; ++seed) {
        uint32_t state = seed * 2654435761u;
        auto pick = [&](uint32_t n) {
            state = state * 1664525u + 1013904223u;
            return (state >> 8) % n;
        };
        auto root = std::make_unique<TTsTreeNode>();
        std::vector<TTsTreeNode*> nodes{root.get()};
        const uint32_t count = 4 + pick(10);
        for (uint32_t i = 0; i < count; ++i) {
            TTsTreeNode* n = nodes[pick(static_cast<uint32_t>(nodes.size()))]->AddChild(names[pick(5)]);
            TTsProperties& p = n->Props();
            p.SetValue(u"source", TTsValue::FromStr(u"r"));
            p.SetValue(u"mIsOffContext", TTsValue::FromBool(pick(3) == 0));
            p.SetValue(u"mIsInheriting", TTsValue::FromBool(pick(6) == 0));
            p.SetValue(u"mIsPrepending", TTsValue::FromBool(pick(5) == 0));
            p.SetValue(u"mIsNonConsuming", TTsValue::FromBool(pick(4) == 0));
            p.SetValue(u"mIsOnce", TTsValue::FromBool(pick(6) == 0));
            if (pick(4) == 0) p.SetValue(u"mOrder", TTsValue::FromInt(static_cast<int32_t>(pick(3))));
            if (pick(2)) p.SetValue(u"mCond", TTsValue::FromStr(u"= q"));
            if (pick(3) == 0)
                p.SetValue(pick(2) ? u"mMergesL" : u"mMergesR",
                           TTsValue::FromStr((pick(2) ? u"." : u"") + WideString(names[pick(3)])));
            nodes.push_back(n);
        }
        TTsmCompiler compiler;
        try {
            compiler.Compile(*root);
        } catch (const Exception&) {
            continue;
        }
        ++compiled;
        const auto& table = compiler.Table;
        for (size_t i = 0; i < table.size(); ++i) {
            if (!table[i]) continue;
            const TTsmProps& props = table[i]->Props;
            EXPECT_EQ(props.ID, static_cast<TMmID>(i)) << seed;
            int implicitEnds = 0;
            for (TMmID c : props.Children) {
                ASSERT_TRUE(c >= 0 && static_cast<size_t>(c) < table.size() && table[static_cast<size_t>(c)])
                    << "seed " << seed << ": node " << i << " has a removed child " << c;
                const TTsmProps& child = table[static_cast<size_t>(c)]->Props;
                if (child.IsImplicit() && child.NodeClass == &TTsmEnd::Class) ++implicitEnds;
            }
            EXPECT_LE(implicitEnds, 1) << seed;
        }
        EXPECT_NO_THROW(compiler.DumpCompiled(0)) << seed;
    }
    // The generator must not only make models that fail.
    EXPECT_GT(compiled, 20);
}
