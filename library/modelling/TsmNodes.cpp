// Node class references, the node class list, property reading and the
// texts that name nodes in messages.
#include "library/modelling/TsmNodes.h"

#include "support/Strings.h"

namespace ts {

namespace {

template <class T>
std::unique_ptr<TTsmNode> CreateNode(TTsmCompiler& compiler, TTsmNode* parent, const TTsmProps& props) {
    return std::make_unique<T>(compiler, parent, props);
}

// The abstract message base has no instances of its own.
std::unique_ptr<TTsmNode> NoInstance(TTsmCompiler&, TTsmNode*, const TTsmProps&) { return nullptr; }

bool BoolProp(const TTsProperties& props, std::u16string_view name) {
    const TTsProperty* p = props.Find(name);
    return p && p->Value.Has(vkBool) && p->Value.Bool;
}

}  // namespace

const TTsmNodeClassInfo TTsmNode::Class{{u"TTsmNode", nullptr}, &TTsmNode::IsTerminal, &CreateNode<TTsmNode>};
const TTsmNodeClassInfo TTsmRoot::Class{{u"TTsmRoot", &TTsmNode::Class}, &TTsmNode::IsTerminal, &CreateNode<TTsmRoot>};
const TTsmNodeClassInfo TTsmEnd::Class{{u"TTsmEnd", &TTsmNode::Class}, &TTsmEnd::IsTerminal, &CreateNode<TTsmEnd>};
const TTsmNodeClassInfo TTsmUserMessage::Class{
    {u"TTsmUserMessage", &TTsmNode::Class}, &TTsmUserMessage::IsTerminal, &NoInstance};
const TTsmNodeClassInfo TTsmFail::Class{
    {u"TTsmFail", &TTsmUserMessage::Class}, &TTsmUserMessage::IsTerminal, &CreateNode<TTsmFail>};
const TTsmNodeClassInfo TTsmWarn::Class{
    {u"TTsmWarn", &TTsmUserMessage::Class}, &TTsmUserMessage::IsTerminal, &CreateNode<TTsmWarn>};
const TTsmNodeClassInfo TTsmLine::Class{{u"TTsmLine", &TTsmNode::Class}, &TTsmNode::IsTerminal, &CreateNode<TTsmLine>};

bool TTsmNode::IsTerminal(const TTsmProps&) { return false; }
bool TTsmEnd::IsTerminal(const TTsmProps&) { return true; }
bool TTsmUserMessage::IsTerminal(const TTsmProps& props) { return props.Children.empty(); }

bool TTsmProps::IsTerminal() const { return NodeClass && NodeClass->IsTerminal && NodeClass->IsTerminal(*this); }

bool TTsmProps::IsImplicit() const {
    return Source.Has(vkString) && !Source.Has(vkInt) && Source.Str == TsmImplicitSource;
}

TTsmNodeClass TTsmNodeClassList::NodeClassOf(std::u16string_view name) const {
    TClassRef cls = ClassOf(name);
    // Only node classes are ever added to a node class list.
    return cls ? static_cast<TTsmNodeClass>(cls) : &TTsmNode::Class;
}

const TTsmNodeClassList& TsmNodeClasses() {
    static const TTsmNodeClassList list = [] {
        TTsmNodeClassList l;
        l.Add(u"END", &TTsmEnd::Class);
        l.Add(u"FAIL", &TTsmFail::Class);
        l.Add(u"WARN", &TTsmWarn::Class);
        l.Add(u"LINE", &TTsmLine::Class);
        return l;
    }();
    return list;
}

void ReadTsmProps(const TTsTreeNode& node, const TTsmNodeClassList& classes, TTsmProps& props) {
    props = TTsmProps();
    props.Name = node.Name();
    props.NodeClass = classes.NodeClassOf(props.Name);
    const TTsProperties& p = node.Props();
    props.IsResetter = BoolProp(p, u"mIsResetter");
    props.IsOptional = BoolProp(p, u"mIsOptional");
    props.IsTentative = BoolProp(p, u"mIsTentative");
    props.IsOnce = BoolProp(p, u"mIsOnce");
    props.IsOffContext = BoolProp(p, u"mIsOffContext");
    props.IsInheriting = BoolProp(p, u"mIsInheriting");
    props.IsPrepending = BoolProp(p, u"mIsPrepending");
    props.IsNonConsuming = BoolProp(p, u"mIsNonConsuming");
    if (const TTsProperty* source = p.Find(u"source")) props.Source = source->Value;
    if (const TTsProperty* order = p.Find(u"mOrder"); order && order->Value.Has(vkInt)) props.Order = order->Value.Int;
    if (const TTsProperty* path = p.Find(u"mPath"); path && path->Value.Has(vkString)) props.Path = path->Value.Str;
}

WideString TsmSourceText(const TTsValue& source, const TObject* atHand) {
    if (source.Has(vkString)) {
        WideString s = source.Str;
        // Stored line indexes count from 0; people count lines from 1.
        if (source.Has(vkInt)) s += u":" + IntToStr(static_cast<int64_t>(source.Int) + 1);
        return s;
    }
    if (atHand) return u"<" + WideString(atHand->ClassName()) + u" $" + AddressText(atHand) + u">";
    return u"<unknown>";
}

WideString TsmTreeNodeText(const TTsTreeNode& node) {
    const TTsProperty* source = node.Props().Find(u"source");
    if (!source) return TsmSourceText(TTsValue(), &node);
    WideString s;
    if (!node.Name().empty()) s = u"'" + node.Name() + u"' ";
    return s + TsmSourceText(source->Value, &node);
}

WideString TTsmNode::NodeText() const {
    WideString s;
    if (!Props.Name.empty()) s = u"'" + Props.Name + u"' ";
    return s + TsmSourceText(Props.Source, this) + u" (ID " + IntToStr(Props.ID) + u")";
}

}  // namespace ts
