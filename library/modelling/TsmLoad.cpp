// The loading pass: every tree node becomes a defined merge node with its
// compiled record, its condition parsed and its merge references listed.
#include <unordered_map>

#include "library/core/TsTreeWalk.h"
#include "library/modelling/TsmCompiler.h"
#include "support/Strings.h"

namespace ts {

WideString TTsmCompiler::CurrentNodeText() const {
    return SourceTree ? TsmTreeNodeText(*SourceTree) : TsmSourceText(TTsValue(), nullptr);
}

TTsmCondition TTsmCompiler::CompileCondition(std::u16string_view text) const {
    TTsCondParseResult parsed = ParseCondition(text, ConditionList(), Options);
    switch (parsed.Status) {
        case TTsCondParseStatus::NoCondition:
            return {};
        case TTsCondParseStatus::BareNegation:
            throw ETsmEmptyNegatedCondition(this, u"Negated condition ('!') must have an operator. Node: %s.",
                                            {CurrentNodeText()});
        case TTsCondParseStatus::UnknownOperator:
            throw ETsmUnknownCondition(this, u"Unknown condition operator '%s' in '%s'. Node: %s.",
                                       {parsed.Operator, parsed.Text, CurrentNodeText()});
        case TTsCondParseStatus::Ok:
            break;
    }
    TTsmCondition cond;
    cond.Negated = parsed.Condition.Negated;
    cond.Operator = parsed.Condition.Class;
    cond.Value = std::move(parsed.Condition.Value);
    cond.Items = std::move(parsed.Condition.Items);
    return cond;
}

TTsmCondition TTsmCompiler::AnyCondition() const {
    // The simple pattern operator whatever the compiler's own table says.
    static const TTsConditions patternOnly = [] {
        TTsConditions t;
        t.Add(u"%", CondClass<TCdSimpat>());
        return t;
    }();
    TTsCondParseResult parsed = ParseCondition(u"% ANY", patternOnly, Options);
    TTsmCondition cond;
    cond.Operator = parsed.Condition.Class;
    cond.Value = std::move(parsed.Condition.Value);
    cond.Items = std::move(parsed.Condition.Items);
    return cond;
}

TMmID TTsmCompiler::LoadNode(const TTsTreeNode& node, TMmID parent) {
    // Walked in pre-order, so IDs follow the model's lines. open holds the
    // merge IDs of the nodes the walk is inside, by depth, below parent.
    std::vector<TMmID> open{parent};
    const TTsmNodeClassList& classes = NodeClassList();
    // Models repeat a few condition texts many times; each is parsed once.
    std::unordered_map<WideString, TTsmCondition> conditions;
    for (auto [tree, depth] : PreOrder(node)) {
        open.resize(static_cast<size_t>(depth) + 1);
        SourceTree = tree;
        TMmNode& m = *Machine->CreateDefinedNode();
        TTsmNodeInfo& info = Machine->InfoOf(m);
        const TTsmLineProps line(tree->Props());
        ReadTsmProps(*tree, line, classes, info.Props);
        info.SourceTree = tree;
        if (line.Cond && line.Cond->Value.Has(vkString)) {
            const WideString& text = line.Cond->Value.Str;
            auto known = conditions.find(text);
            if (known == conditions.end()) known = conditions.emplace(text, CompileCondition(text)).first;
            info.Props.Cond = known->second;
        }
        m.Parent = open.back();
        m.Name = info.Props.Name;
        m.IsInheriting = info.Props.IsInheriting;
        m.IsPrepending = info.Props.IsPrepending;
        m.IsOffContext = info.Props.IsOffContext;
        if (line.MergesL && line.MergesL->Value.Has(vkString)) Machine->AddMergeRefs(m, line.MergesL->Value.Str, true);
        if (line.MergesR && line.MergesR->Value.Has(vkString)) Machine->AddMergeRefs(m, line.MergesR->Value.Str, false);
        open.push_back(m.ID);
    }
    return open[1];  // node's own, made first
}

}  // namespace ts
