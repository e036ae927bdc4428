// The farthest failure of a run.
#include "library/modelling/TsmExplain.h"

#include <algorithm>

namespace ts {

namespace {

WideString SourceOf(const TTsmProps& props) {
    if (!props.Source.Has(vkString)) return {};
    return TsmSourceText(props.Source, nullptr);
}

WideString Described(std::u16string_view name, std::u16string_view cond, std::u16string_view source) {
    WideString s = name.empty() ? WideString(u"<unnamed>") : u"'" + WideString(name) + u"'";
    if (!cond.empty()) s += u" " + WideString(cond);
    if (!source.empty()) s += u" (" + WideString(source) + u")";
    return s;
}

}  // namespace

TTsmFarthestFailure::TTsmFarthestFailure(TTsmModellingStepEvent& slot) : slot_(slot), previous_(std::move(slot)) {
    slot_ = [this](TTsmNode& node, TTsmStepKind kind, const TTsArg& value) {
        Step(node, kind, value);
        if (previous_) previous_(node, kind, value);
    };
}

TTsmFarthestFailure::TTsmFarthestFailure(TTsmRun& run) : TTsmFarthestFailure(run.OnModellingStep) {}

TTsmFarthestFailure::TTsmFarthestFailure(TTsmCompiler& compiler) : TTsmFarthestFailure(compiler.OnModellingStep) {}

TTsmFarthestFailure::~TTsmFarthestFailure() { slot_ = std::move(previous_); }

void TTsmFarthestFailure::Step(TTsmNode& node, TTsmStepKind kind, const TTsArg& value) {
    if (kind != TTsmStepKind::Condition) return;
    const auto* mismatch = dynamic_cast<const ETsmMismatch*>(value.AsObj());
    if (!mismatch || mismatch->GlobalOffset < 0 || mismatch->GlobalOffset < Offset) return;
    if (mismatch->GlobalOffset > Offset) {
        Offset = mismatch->GlobalOffset;
        Tried.clear();
        triedIds_.clear();
        Chain.clear();
    }
    // The deepest chain that reached this place says most about it.
    std::vector<const TTsmNode*> up;
    for (const TTsmNode* p = node.ParentNode; p && p->ParentNode; p = p->ParentNode) up.push_back(p);
    if (up.size() > Chain.size()) {
        Chain.clear();
        for (auto it = up.rbegin(); it != up.rend(); ++it)
            Chain.push_back(TModelled{(*it)->Props.ID, (*it)->Props.Name, SourceOf((*it)->Props)});
    }
    // A node tried again at the same place (a loop's next round) says nothing new.
    if (std::find(triedIds_.begin(), triedIds_.end(), node.Props.ID) != triedIds_.end()) return;
    triedIds_.push_back(node.Props.ID);
    Tried.push_back(TTried{node.Props.ID, node.Props.Name,
                           node.Props.Cond.IsSet() ? node.Model().ConditionText(node.Props.Cond) : WideString(),
                           SourceOf(node.Props), WideString(mismatch->ClassName())});
}

WideString TTsmFarthestFailure::ExpectedText() const {
    WideString s;
    for (const TTried& t : Tried) {
        if (!s.empty()) s += u", ";
        s += Described(t.Name, t.Cond, t.Source);
    }
    return s;
}

WideString TTsmFarthestFailure::ChainText() const {
    WideString s;
    for (const TModelled& m : Chain) {
        if (!s.empty()) s += u" > ";
        s += Described(m.Name, {}, m.Source);
    }
    return s;
}

}  // namespace ts
