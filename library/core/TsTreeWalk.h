// PreOrder: the one walk over a TTsTreeNode subtree, a node before its
// children and the children in order, with each node's depth below the
// start. It keeps its own stack, one entry per level, so that a tree of any
// depth is walked without deepening the call stack.
//
//     for (auto [node, depth] : PreOrder(root)) ...
//
// A node's children are read when the walk gets to them: the node at hand
// may change its own children, but the nodes it lies inside must not.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <vector>

#include "library/core/TsNodes.h"

namespace ts {

template <class Node>
struct TTsWalkStep {
    Node* node;
    int32_t depth;  // 0 for the node the walk starts at
};

template <class Node>
class TTsPreOrderIterator {
public:
    using value_type = TTsWalkStep<Node>;
    using difference_type = std::ptrdiff_t;

    TTsPreOrderIterator() = default;
    explicit TTsPreOrderIterator(Node& start) { stack_.push_back({&start, 0}); }

    value_type operator*() const { return {stack_.back().node, static_cast<int32_t>(stack_.size()) - 1}; }

    TTsPreOrderIterator& operator++() {
        // Into the first child not yet walked; where none is left, back up.
        while (!stack_.empty()) {
            Frame& top = stack_.back();
            if (top.next < top.node->Children().Count()) {
                stack_.push_back({top.node->ChildByIndex(top.next++), 0});
                return *this;
            }
            stack_.pop_back();
        }
        return *this;
    }
    void operator++(int) { ++*this; }

    bool operator==(std::default_sentinel_t) const { return stack_.empty(); }

private:
    struct Frame {
        Node* node;
        int next;  // index of the child to walk next
    };
    std::vector<Frame> stack_;
};

template <class Node>
class TTsPreOrder {
public:
    explicit TTsPreOrder(Node& start) : start_(&start) {}
    TTsPreOrderIterator<Node> begin() const { return TTsPreOrderIterator<Node>(*start_); }
    std::default_sentinel_t end() const { return {}; }

private:
    Node* start_;
};

// The subtree of start, start included; const in, const nodes out.
inline TTsPreOrder<TTsTreeNode> PreOrder(TTsTreeNode& start) { return TTsPreOrder<TTsTreeNode>(start); }
inline TTsPreOrder<const TTsTreeNode> PreOrder(const TTsTreeNode& start) {
    return TTsPreOrder<const TTsTreeNode>(start);
}

}  // namespace ts
