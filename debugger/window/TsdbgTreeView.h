// Filling the window's tree view with the driver's tree lines, and what the
// view does with them: linking items to result nodes, the expand/collapse
// toggle, and jumping to the node a line refers to.
#pragma once

#include <QColor>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "debugger/driver/TsdbgTreeLines.h"

class QTreeWidget;
class QTreeWidgetItem;

namespace ts {

class TTsmSlicer;

inline const QColor TreeGrey{128, 128, 128};
inline const QColor TreeMaroon{128, 0, 0};

// Which item shows which result node. Rebuilt with every fill, so a link
// never outlives the tree it was made for.
class TNodeLinks {
public:
    void Clear() { items_.clear(); }
    void Link(const TTsTreeNode* node, QTreeWidgetItem* item) { items_[node] = item; }
    // The node's item; nullptr when the node was not shown.
    QTreeWidgetItem* ItemOf(const TTsTreeNode* node) const;
    size_t Count() const { return items_.size(); }

private:
    std::unordered_map<const TTsTreeNode*, QTreeWidgetItem*> items_;
};

// The result node a node item shows; nullptr for a property item.
const TTsTreeNode* ItemNode(const QTreeWidgetItem* item);

// Replaces the view's items by the lines: one item per line, nested by depth;
// node items bold and linked; grey and maroon lines coloured; every node
// item that has node items under it expanded.
void FillTreeView(QTreeWidget& view, const std::vector<TTreeLine>& lines, TNodeLinks& links);

// Replaces the view's items by a run's result tree: a row per node with its
// name and its text as the tree form writes it (two columns), each linked to
// its node; the root and its children expanded. Built detached and added at
// once, like FillTreeView.
void FillResultTree(QTreeWidget& view, TTsmSlicer& slicer, const TTsTreeNode& root, int32_t codepage,
                    TNodeLinks& links);

// Expands (down) or collapses every item after the first, each not
// recursively, then expands the first.
void ToggleTreeNodes(QTreeWidget& view, bool down);

// Double-click navigation: the node the item's text refers to by ID,
// selected and expanded. False (and nothing changed) when the text names no
// shown node.
bool JumpToReferencedNode(QTreeWidget& view, const QTreeWidgetItem& item, const TTsTreeNode& root,
                          const TNodeLinks& links);

}  // namespace ts
