// The tree dump lines.
#include "debugger/driver/TsdbgTreeLines.h"

#include <cmath>

#include "debugger/driver/TsdbgNames.h"
#include "library/core/TsTreeWalk.h"
#include "library/modelling/TsmNodes.h"
#include "support/Strings.h"

namespace ts {

namespace {

std::optional<int32_t> IntProp(const TTsTreeNode& node, std::u16string_view name) {
    const TTsProperty* p = node.Props().Find(name);
    if (p && p->Value.Has(vkInt)) return p->Value.Int;
    return std::nullopt;
}

bool IsImplicitNode(const TTsTreeNode& node) {
    const TTsProperty* p = node.Props().Find(u"source");
    return p && p->Value.Has(vkString) && !p->Value.Has(vkInt) && p->Value.Str == TsmImplicitSource;
}

}  // namespace

WideString ValueText(const TTsValue& v) {
    if (v.Has(vkString)) return v.Str;
    if (v.Has(vkFloat)) {
        double f = v.Float;
        if (std::isfinite(f) && f == std::trunc(f) && std::fabs(f) < 1e15) return IntToStr(static_cast<int64_t>(f));
        return FloatToStr(f);
    }
    if (v.Has(vkInt)) return IntToStr(v.Int);
    if (v.Has(vkBool)) return v.Bool ? u"True" : u"False";
    if (v.Has(vkRaw)) return BytesToHexPairs(v.Raw());
    if (v.Has(vkObject)) return ObjectText(v.Obj);
    return u"<nil>";
}

WideString NodeLabel(const TTsTreeNode& node, std::optional<int32_t> parentID) {
    WideString label = node.Name();
    if (const TTsProperty* path = node.Props().Find(u"mPath"); path && path->Value.Has(vkString))
        label += u" \"" + path->Value.Str + u"\"";
    if (label.empty()) label = u"<unnamed>";
    const std::optional<int32_t> id = IntProp(node, u"ID");
    label = IntToStr(id.value_or(0)) + u" " + label;
    const std::optional<int32_t> parent = IntProp(node, u"Parent");
    // Shown away from where it was defined: its parent is another node.
    const bool moved = parent && parentID && *parent != *parentID;
    label = (moved ? u"*" : u"#") + label;
    return Trim(label);
}

std::optional<WideString> PropertyLine(std::u16string_view name, const TTsValue& value) {
    if (value.Has(vkBool) && !value.Has(vkString | vkInt | vkFloat) && !value.Bool) return std::nullopt;
    if (name.empty())
        name = u"<unnamed>";
    else if (name[0] == u'm')
        name.remove_prefix(1);
    return HumaniseName(name) + u" = " + ValueText(value);
}

std::vector<TTreeLine> RenderTree(const TTsTreeNode& root) {
    std::vector<TTreeLine> lines;
    std::vector<WideString> props;
    for (auto [at, depth] : PreOrder(root)) {
        const TTsTreeNode& node = *at;
        std::optional<int32_t> parentID;
        if (node.Parent() && &node != &root) parentID = IntProp(*node.Parent(), u"ID");

        TTreeLine line;
        line.Depth = depth;
        line.Text = NodeLabel(node, parentID);
        line.IsNode = true;
        line.Node = &node;
        line.Marker = line.Text.empty() ? u'#' : line.Text[0];
        if (IsImplicitNode(node))
            line.Colour = TTreeLineColour::Maroon;
        else if (line.Marker == u'*')
            line.Colour = TTreeLineColour::Grey;
        lines.push_back(std::move(line));

        props.clear();
        const TTsProperties& all = node.Props();
        for (int i = 0; i < all.Count(); ++i) {
            const TTsProperty* p = all.ByIndex(i);
            if (!p || p->Name() == u"ID") continue;
            if (std::optional<WideString> text = PropertyLine(p->Name(), p->Value)) props.push_back(std::move(*text));
        }
        // Lines of a node with children go under "Props", unless there is
        // only one of them.
        int32_t propDepth = depth + 1;
        if (node.ChildCount() > 0 && props.size() >= 2) {
            lines.push_back(TTreeLine{depth + 1, WideString(PropsGroupTitle)});
            propDepth = depth + 2;
        }
        for (WideString& text : props) {
            TTreeLine pl;
            pl.Depth = propDepth;
            if (text.find(u"? = ") != WideString::npos) pl.Colour = TTreeLineColour::Maroon;
            pl.Text = std::move(text);
            lines.push_back(std::move(pl));
        }
    }
    return lines;
}

WideString LinesToText(const std::vector<TTreeLine>& lines) {
    WideString out;
    for (const TTreeLine& l : lines) {
        out.append(static_cast<size_t>(l.Depth) * 2, u' ');
        out += l.Text;
        out += u'\n';
    }
    return out;
}

std::optional<int32_t> ReferencedID(std::u16string_view text) {
    if (size_t eq = text.find(u" = "); eq != std::u16string_view::npos) text.remove_prefix(eq + 3);
    text = TrimLeftView(text);
    text = text.substr(0, text.find(u' '));
    if (text.empty() || text.size() > 9) return std::nullopt;
    int32_t n = 0;
    for (char16_t c : text) {
        if (c < u'0' || c > u'9') return std::nullopt;
        n = n * 10 + (c - u'0');
    }
    return n;
}

const TTsTreeNode* FindNodeByID(const TTsTreeNode& root, int32_t id) {
    for (auto [node, depth] : PreOrder(root))
        if (IntProp(*node, u"ID") == id) return node;
    return nullptr;
}

}  // namespace ts
