// The dump pass: the compiled table as a tree of named nodes with the
// record's properties, references expanded once and cycles closed by a node
// named "*" + ID.
#include <vector>

#include "library/modelling/TsmCompiler.h"
#include "library/script/charset/Charsets.h"
#include "library/text/TsModelFlags.h"
#include "support/Strings.h"

namespace ts {

WideString TTsmCompiler::ConditionText(const TTsmCondition& cond) const {
    WideString s = cond.Negated ? u"!" : u"";
    s += ConditionList().NameOf(cond.Operator, u"???");
    s += u' ';
    const TRpnScalar& v = cond.Value;
    if (v.Has(valStr))
        s += v.Str;
    else if (v.Has(valBytes))
        s += BytesToWide(Options.Codepage, v.Bytes);
    else
        s += RpnValueToText(v);
    return Trim(s);
}

std::unique_ptr<TTsTreeNode> TTsmCompiler::DumpCompiled(TMmID id) const {
    auto root = std::make_unique<TTsTreeNode>();
    TTsTreeNode& dumped = Dump(id, root.get());
    // The dump of id is the root the caller gets; the helper root only held it.
    return dumped.Detach();
}

TTsTreeNode& TTsmCompiler::DumpCompiled(TMmID id, TTsTreeNode& parent) const { return Dump(id, &parent); }

TTsTreeNode& TTsmCompiler::Dump(TMmID id, TTsTreeNode* parent) const {
    struct Frame {
        TMmID id;
        TTsTreeNode* parent;
        uint32_t list;  // visited list in use; 0: none
    };
    auto record = [this](TMmID i) -> const TTsmNodeInfo& {
        if (i < 0 || static_cast<size_t>(i) >= Table.size() || !Table[static_cast<size_t>(i)])
            throw ETsmCompiling(this, u"%s has no compiled node with ID %d.", {this, i});
        return *Table[static_cast<size_t>(i)];
    };
    // Visited lists never overlap in time: one starts only where none is in
    // use, and its subtree is done before the walk returns there. So one mark
    // per ID, stamped with the list's number, holds them all.
    std::vector<uint32_t> marks(Table.size(), 0);
    uint32_t lists = 0;
    TTsTreeNode* first = nullptr;
    std::vector<Frame> todo{{id, parent, 0}};
    while (!todo.empty()) {
        const Frame f = todo.back();
        todo.pop_back();
        const TTsmProps& p = record(f.id).Props;
        TTsTreeNode* node = f.parent->AddChild(p.Name);
        if (!first) first = node;
        TTsProperties& props = node->Props();
        props.SetValue(u"ID", TTsValue::FromInt(p.ID));
        if (p.NodeClass && p.NodeClass != &TTsmNode::Class)
            props.SetValue(u"Class", TTsValue::FromStr(WideString(p.NodeClass->Name)));
        if (p.Parent != MmNoID) props.SetValue(u"Parent", TTsValue::FromInt(p.Parent));
        if (!p.Children.empty()) {
            WideString ids;
            for (TMmID c : p.Children) {
                if (!ids.empty()) ids += u' ';
                ids += IntToStr(c);
            }
            props.SetValue(u"Children", TTsValue::FromStr(std::move(ids)));
        }
        if (!p.Source.IsNull()) props.SetValue(u"source", p.Source);
        WriteModelFlags(props, p);
        if (p.Order != 0) props.SetValue(u"mOrder", TTsValue::FromInt(p.Order));
        if (!p.Path.empty()) props.SetValue(u"mPath", TTsValue::FromStr(p.Path));
        if (p.Cond.IsSet()) props.SetValue(u"mCond", TTsValue::FromStr(ConditionText(p.Cond)));

        if (f.list != 0) {
            uint32_t& mark = marks[static_cast<size_t>(f.id)];
            if (mark == f.list || CollapseReferences) {
                node->SetName(WideString(u"*").append(IntToStr(f.id)));
                continue;
            }
            mark = f.list;
        }
        for (size_t k = p.Children.size(); k-- > 0;) {
            const TMmID c = p.Children[k];
            const bool reference = record(c).Props.Parent != f.id;
            // A reference starts a visited list unless one is in use; carried
            // down from there, it ends every cycle of the merged graph.
            const uint32_t list = reference && f.list == 0 ? lists + 1 + static_cast<uint32_t>(k) : f.list;
            todo.push_back({c, node, list});
        }
        lists += static_cast<uint32_t>(p.Children.size());
    }
    return *first;
}

}  // namespace ts
