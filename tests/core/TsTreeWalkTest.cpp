// The pre-order walk: order and depths, walks that start inside a tree,
// depth beyond the call stack, and changes made to the node at hand.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "library/core/TsTreeWalk.h"
#include "support/Strings.h"

using namespace ts;

namespace {

// r(a(b, c(d)), e)
std::unique_ptr<TTsTreeNode> SampleTree() {
    auto root = std::make_unique<TTsTreeNode>(u"r");
    TTsTreeNode* a = root->AddChild(u"a");
    a->AddChild(u"b");
    a->AddChild(u"c")->AddChild(u"d");
    root->AddChild(u"e");
    return root;
}

std::string Walked(const TTsTreeNode& start) {
    std::string out;
    for (auto [node, depth] : PreOrder(start)) {
        if (!out.empty()) out += ' ';
        out += WideToUtf8(node->Name()) + std::to_string(depth);
    }
    return out;
}

}  // namespace

TEST(PreOrder, NodesBeforeTheirChildrenInOrderWithDepthsBelowTheStart) {
    auto root = SampleTree();
    EXPECT_EQ(Walked(*root), "r0 a1 b2 c2 d3 e1");
    // Inside a tree the walk keeps to the subtree, counting depth from it.
    EXPECT_EQ(Walked(*root->FirstChild(u"a")), "a0 b1 c1 d2");
    EXPECT_EQ(Walked(*root->FirstChild(u"e")), "e0");

    // Leaving early is a plain break.
    std::string seen;
    for (auto [node, depth] : PreOrder(*root)) {
        seen += WideToUtf8(node->Name());
        if (node->Name() == u"c") break;
    }
    EXPECT_EQ(seen, "rabc");
}

TEST(PreOrder, WalksChainsDeeperThanTheCallStackCouldRecurse) {
    constexpr int32_t kDepth = 300000;
    auto root = std::make_unique<TTsTreeNode>(u"n");
    TTsTreeNode* tip = root.get();
    for (int32_t i = 1; i < kDepth; ++i) tip = tip->AddChild(u"n");
    int32_t count = 0;
    bool depthsCount = true;
    for (auto [node, depth] : PreOrder(*root)) depthsCount = depthsCount && depth == count++;
    EXPECT_EQ(count, kDepth);
    EXPECT_TRUE(depthsCount);
}

TEST(PreOrder, TheNodeAtHandMayChangeItsOwnChildren) {
    auto root = SampleTree();
    std::string seen;
    for (auto [node, depth] : PreOrder(*root)) {
        seen += WideToUtf8(node->Name());
        // Children taken away before the walk gets to them are not walked;
        // children added are.
        if (node->Name() == u"a") node->DeleteChildren();
        if (node->Name() == u"e") node->AddChild(u"f");
        node->Props().SetValue(u"depth", TTsValue::FromInt(depth));
    }
    EXPECT_EQ(seen, "raef");
    EXPECT_EQ(root->FirstChild(u"e")->FirstChild(u"f")->Props().Get(u"depth").Value.Int, 2);
}
