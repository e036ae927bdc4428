// The tree dump: a decorated dump tree rendered into the labelled lines of
// the debugger's tree view, independent of any UI. Each line has its depth,
// its text, whether it is a node line (drawn bold, linked to its node), its
// marker and its colour. The window puts exactly these lines into its tree
// view; the command line prints them.
//
// Also here: the text form of property values (ValueText), finding the node
// a line refers to on double-click (ReferencedID, FindNodeByID).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "library/core/TsNodes.h"

namespace ts {

enum class TTreeLineColour : uint8_t {
    Default,
    Grey,    // RGB(128,128,128): a node shown in a new context
    Maroon,  // RGB(128,0,0): an implicit node, or a computed child-summary flag
};

struct TTreeLine {
    int32_t Depth = 0;  // 0 for the root's line
    WideString Text;
    bool IsNode = false;                // node lines are bold
    const TTsTreeNode* Node = nullptr;  // the node of a node line; borrowed
    char16_t Marker = 0;                // '*' or '#' on node lines
    TTreeLineColour Colour = TTreeLineColour::Default;
};

// The title of the item that groups a node's property lines.
inline constexpr std::u16string_view PropsGroupTitle = u"Props";

// A value as a property line shows it: a string as it is, a number in
// decimal (general float form when fractional), a Boolean as "True" or
// "False", bytes as hex pairs, nothing as "<nil>".
WideString ValueText(const TTsValue& value);

// The label of a node line (marker, ID, name and quoted path), given the
// ID of its parent in the dump tree (nullopt for the root).
WideString NodeLabel(const TTsTreeNode& node, std::optional<int32_t> parentID);
// "Humanised Name = value"; nullopt for a false Boolean (no line).
std::optional<WideString> PropertyLine(std::u16string_view name, const TTsValue& value);

// Every line of the tree view for the dump tree, in display order.
std::vector<TTreeLine> RenderTree(const TTsTreeNode& root);

// The lines as text, indented by two blanks per level, each line ended by
// a line feed.
WideString LinesToText(const std::vector<TTreeLine>& lines);

// The node ID a line refers to: for "name = value" the first word after
// the first " = ", else the first word of the line; nullopt unless it is a
// decimal integer of 0 or more.
std::optional<int32_t> ReferencedID(std::u16string_view lineText);
// The first node in pre-order whose "ID" is the integer id, or nil.
const TTsTreeNode* FindNodeByID(const TTsTreeNode& root, int32_t id);

}  // namespace ts
