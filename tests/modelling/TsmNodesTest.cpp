// Compiled records read from model tree nodes, node classes, and the texts
// that name nodes in messages.
#include <gtest/gtest.h>

#include "tests/modelling/TsmTestSupport.h"

using namespace ts;
using namespace ts::test;

TEST(TsmNodes, ClassListPicksClassesByExactName) {
    const TTsmNodeClassList& list = TsmNodeClasses();
    EXPECT_EQ(list.Count(), 4);
    EXPECT_EQ(list.NodeClassOf(u"FAIL"), &TTsmFail::Class);
    for (const char16_t* other : {u"End", u"end", u"", u"LINES"})
        EXPECT_EQ(list.NodeClassOf(other), &TTsmNode::Class) << WideToUtf8(other);
    // Whether a message node ends the loop depends on its own children.
    TTsmProps fail;
    fail.NodeClass = &TTsmFail::Class;
    EXPECT_TRUE(fail.IsTerminal());
    fail.Children = {4};
    EXPECT_FALSE(fail.IsTerminal());
}

TEST(TsmNodes, PropertiesReadOnlyFromValuesOfTheRightKind) {
    auto tree = ReadModel("0.? name \"a\\b\" = x\n");
    TTsTreeNode& node = *tree->ChildByIndex(0);
    TTsmProps props;
    ReadTsmProps(node, TsmNodeClasses(), props);
    EXPECT_TRUE(props.IsResetter);
    EXPECT_TRUE(props.IsOptional);
    EXPECT_FALSE(props.IsOnce);
    EXPECT_TRUE(props.IsInheriting);
    EXPECT_EQ(props.Name, u"name");
    EXPECT_EQ(props.Path, u"a\\b");
    EXPECT_EQ(props.Source.DumpText(false), u"s14 <StringStr i0");
    EXPECT_EQ(props.ID, MmNoID);
    EXPECT_EQ(props.Parent, MmNoID);
    EXPECT_EQ(props.NodeClass, &TTsmNode::Class);

    TTsProperties& p = node.Props();
    p.SetValue(u"mIsOnce", TTsValue::FromStr(u"true"));
    p.SetValue(u"mIsResetter", TTsValue::FromInt(1));
    p.SetValue(u"mOrder", TTsValue::FromFloat(3));
    p.SetValue(u"mPath", TTsValue::FromInt(7));
    TTsValue both = TTsValue::FromBool(true);
    both.Int = 5;
    both.Kinds |= vkInt;
    p.SetValue(u"mIsPrepending", both);
    ReadTsmProps(node, TsmNodeClasses(), props);
    EXPECT_FALSE(props.IsOnce);
    EXPECT_FALSE(props.IsResetter);
    EXPECT_TRUE(props.IsPrepending);
    EXPECT_EQ(props.Order, 0);
    EXPECT_EQ(props.Path, u"");

    p.SetValue(u"mOrder", both);
    ReadTsmProps(node, TsmNodeClasses(), props);
    EXPECT_EQ(props.Order, 5);

    // A record read again starts from empty: nothing of the last one stays.
    TTsTreeNode bare(u"END");
    ReadTsmProps(bare, TsmNodeClasses(), props);
    EXPECT_EQ(props.NodeClass, &TTsmEnd::Class);
    EXPECT_FALSE(props.IsPrepending);
    EXPECT_TRUE(props.Source.IsNull());
    EXPECT_EQ(props.Order, 0);
}

TEST(TsmNodes, OwnClassListReplacesTheGlobalOne) {
    auto tree = ReadModel("top = t\n  END = e\n  STOP = s\n");
    auto compiler = std::make_unique<TTsmCompiler>();
    compiler->NodeClasses = std::make_unique<TTsmNodeClassList>();
    compiler->NodeClasses->Add(u"STOP", &TTsmEnd::Class);
    compiler->CondOperators = std::make_unique<TTsConditions>();
    compiler->CondOperators->Add(u"=", CondClass<TCdExact>());
    compiler->Compile(*tree);
    EXPECT_EQ(compiler->Table[2]->Props.NodeClass, &TTsmNode::Class);
    EXPECT_EQ(compiler->Table[3]->Props.NodeClass, &TTsmEnd::Class);

    // Its condition table goes with it: "%" is unknown there.
    auto other = ReadModel("a % ANY\n");
    TTsmCompiler limited;
    limited.NodeClasses = std::make_unique<TTsmNodeClassList>();
    limited.CondOperators = std::make_unique<TTsConditions>();
    EXPECT_THROW(limited.Compile(*other), ETsmUnknownCondition);
}

TEST(TsmNodes, TextsNamingNodes) {
    TTsValue source = TTsValue::FromStr(u"model.txt");
    EXPECT_EQ(TsmSourceText(source, nullptr), u"model.txt");
    source.Int = 11;
    source.Kinds |= vkInt;
    EXPECT_EQ(TsmSourceText(source, nullptr), u"model.txt:12");
    TTsTreeNode holder(u"x");
    EXPECT_EQ(TsmSourceText(TTsValue::FromInt(3), &holder), u"<TTsTreeNode $" + AddressText(&holder) + u">");
    EXPECT_EQ(TsmSourceText(TTsValue(), nullptr), u"<unknown>");

    auto tree = ReadModel("a = 1\n  = 2\n");
    EXPECT_EQ(TsmTreeNodeText(*tree->ChildByIndex(0)), u"'a' <StringStream>:1");
    EXPECT_EQ(TsmTreeNodeText(*tree->ChildByIndex(0)->ChildByIndex(0)), u"<StringStream>:2");
    // Without "source" the name is left out too.
    EXPECT_EQ(TsmTreeNodeText(holder), u"<TTsTreeNode $" + AddressText(&holder) + u">");

    Compiled c = CompileModel("a = 1\n");
    TTsmRun run(*c.compiler);
    TTsmNode node(run, nullptr, c[1]->Props);
    EXPECT_EQ(node.NodeText(), u"'a' <StringStream>:1 (ID 1)");
    TTsmNode root(run, nullptr, c[0]->Props);
    EXPECT_EQ(root.NodeText(), u"<TTsmNode $" + AddressText(&root) + u"> (ID 0)");
}
