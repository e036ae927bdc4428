#include "debugger/window/TsdbgTreeView.h"

#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include "debugger/driver/TsdbgRun.h"
#include "debugger/window/QtText.h"
#include "library/core/TsTreeWalk.h"
#include "support/Strings.h"

namespace ts {

namespace {

constexpr int NodeRole = Qt::UserRole;

}  // namespace

QTreeWidgetItem* TNodeLinks::ItemOf(const TTsTreeNode* node) const {
    auto found = items_.find(node);
    return found == items_.end() ? nullptr : found->second;
}

const TTsTreeNode* ItemNode(const QTreeWidgetItem* item) {
    if (!item) return nullptr;
    return static_cast<const TTsTreeNode*>(item->data(0, NodeRole).value<const void*>());
}

void FillTreeView(QTreeWidget& view, const std::vector<TTreeLine>& lines, TNodeLinks& links) {
    view.clear();
    links.Clear();
    QFont bold = view.font();
    bold.setBold(true);
    const QBrush grey(TreeGrey), maroon(TreeMaroon);

    // The items are built detached and added at once, so that the view lays
    // out once (bench/window_treeview compares this with item-by-item adding).
    QList<QTreeWidgetItem*> topLevel;
    std::vector<QTreeWidgetItem*> open;  // the last item at each depth
    std::vector<QTreeWidgetItem*> toExpand;
    for (const TTreeLine& line : lines) {
        const size_t depth = static_cast<size_t>(std::max(0, line.Depth));
        QTreeWidgetItem* parent = depth > 0 && depth <= open.size() ? open[depth - 1] : nullptr;
        auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem();
        if (!parent) topLevel.push_back(item);
        item->setText(0, ToQString(line.Text));
        if (line.IsNode) {
            item->setFont(0, bold);
            item->setData(0, NodeRole, QVariant::fromValue(static_cast<const void*>(line.Node)));
            links.Link(line.Node, item);
            if (parent && (toExpand.empty() || toExpand.back() != parent)) toExpand.push_back(parent);
        }
        if (line.Colour == TTreeLineColour::Grey) item->setForeground(0, grey);
        if (line.Colour == TTreeLineColour::Maroon) item->setForeground(0, maroon);
        open.resize(depth);
        open.push_back(item);
    }
    view.addTopLevelItems(topLevel);
    for (QTreeWidgetItem* item : toExpand) item->setExpanded(true);
}

void FillResultTree(QTreeWidget& view, TTsmSlicer& slicer, const TTsTreeNode& root, int32_t codepage,
                    TNodeLinks& links) {
    view.clear();
    links.Clear();
    // The items of the nodes the walk is inside, by depth.
    std::vector<QTreeWidgetItem*> open;
    for (auto [node, depth] : PreOrder(root)) {
        open.resize(static_cast<size_t>(depth));
        // Made in walk order, so each parent's items are appended in order.
        auto* item = depth > 0 ? new QTreeWidgetItem(open.back()) : new QTreeWidgetItem();
        open.push_back(item);
        item->setText(0, node->Name().empty() ? QStringLiteral("<unnamed>") : ToQString(node->Name()));
        if (std::optional<WideString> text = ResultNodeText(slicer, *node, codepage, ResultTextBytes))
            item->setText(1, ToQString(Escaped(*text, ResultTextLimit)));
        item->setData(0, NodeRole, QVariant::fromValue(static_cast<const void*>(node)));
        links.Link(node, item);
    }
    QTreeWidgetItem* top = open.front();
    view.addTopLevelItem(top);
    top->setExpanded(true);
    for (int i = 0; i < top->childCount(); ++i) top->child(i)->setExpanded(true);
}

void ToggleTreeNodes(QTreeWidget& view, bool down) {
    QTreeWidgetItemIterator it(&view);
    if (!*it) return;
    QTreeWidgetItem* first = *it;
    for (++it; *it; ++it) (*it)->setExpanded(down);
    first->setExpanded(true);
}

bool JumpToReferencedNode(QTreeWidget& view, const QTreeWidgetItem& item, const TTsTreeNode& root,
                          const TNodeLinks& links) {
    const std::optional<int32_t> id = ReferencedID(ToWide(item.text(0)));
    if (!id) return false;
    const TTsTreeNode* node = FindNodeByID(root, *id);
    QTreeWidgetItem* target = node ? links.ItemOf(node) : nullptr;
    if (!target) return false;
    view.setCurrentItem(target);
    target->setExpanded(true);
    view.scrollToItem(target);
    return true;
}

}  // namespace ts
