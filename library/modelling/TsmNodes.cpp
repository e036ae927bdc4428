// Node class references, the node class list, property reading and the
// texts that name nodes in messages.
#include "library/modelling/TsmNodes.h"

#include "support/Strings.h"

namespace ts {

namespace {

template <class T>
std::unique_ptr<TTsmNode> CreateNode(TTsmRun& run, TTsmNode* parent, const TTsmProps& props) {
    return std::make_unique<T>(run, parent, props);
}

// The abstract message base has no instances of its own.
std::unique_ptr<TTsmNode> NoInstance(TTsmRun&, TTsmNode*, const TTsmProps&) { return nullptr; }

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

TTsmLineProps::TTsmLineProps(const TTsProperties& props) {
    const TTsProperty** named[] = {&Source, &Order, &Path, &Cond, &MergesL, &MergesR};
    constexpr std::u16string_view names[] = {u"source", u"mOrder", u"mPath", u"mCond", u"mMergesL", u"mMergesR"};
    if (props.HasListeners()) {
        // Listeners may supply properties that are not stored: ask by name.
        for (size_t i = 0; i < ModelFlagCount; ++i) Flags[i] = props.Find(ModelFlags[i].Property);
        for (size_t i = 0; i < std::size(names); ++i) *named[i] = props.Find(names[i]);
        return;
    }
    // One pass instead of a lookup per name: reading a model looks at every
    // node's properties. Every name compares its length first, so trying
    // them all costs little.
    for (int k = 0; k < props.Count(); ++k) {
        const TTsProperty* p = props.ByIndex(k);
        if (!p) continue;
        const std::u16string_view name = p->Name();
        auto slotOf = [&]() -> const TTsProperty** {
            for (size_t i = 0; i < std::size(names); ++i)
                if (name == names[i]) return named[i];
            for (size_t i = 0; i < ModelFlagCount; ++i)
                if (name == ModelFlags[i].Property) return &Flags[i];
            return nullptr;
        };
        if (const TTsProperty** slot = slotOf()) *slot = p;
    }
}

void ReadTsmProps(const TTsTreeNode& node, const TTsmNodeClassList& classes, TTsmProps& props) {
    ReadTsmProps(node, TTsmLineProps(node.Props()), classes, props);
}

void ReadTsmProps(const TTsTreeNode& node, const TTsmLineProps& line, const TTsmNodeClassList& classes,
                  TTsmProps& props) {
    props = TTsmProps();
    props.Name = node.Name();
    props.NodeClass = classes.NodeClassOf(props.Name);
    for (size_t i = 0; i < ModelFlagCount; ++i) {
        const TTsProperty* p = line.Flags[i];
        props.*ModelFlags[i].Member = p && p->Value.Has(vkBool) && p->Value.Bool;
    }
    if (line.Source) props.Source = line.Source->Value;
    if (line.Order && line.Order->Value.Has(vkInt)) props.Order = line.Order->Value.Int;
    if (line.Path && line.Path->Value.Has(vkString)) props.Path = line.Path->Value.Str;
}

// Texts are built by appending: GCC 12 warns falsely about "literal" + string.
WideString TsmSourceText(const TTsValue& source, const TObject* atHand) {
    WideString s;
    if (source.Has(vkString)) {
        s = source.Str;
        // Stored line indexes count from 0; people count lines from 1.
        if (source.Has(vkInt)) s.append(u":").append(IntToStr(static_cast<int64_t>(source.Int) + 1));
    } else if (atHand) {
        s.append(u"<").append(atHand->ClassName()).append(u" $").append(AddressText(atHand)).append(u">");
    } else {
        s = u"<unknown>";
    }
    return s;
}

namespace {

WideString QuotedName(const WideString& name) {
    WideString s;
    if (!name.empty()) s.append(u"'").append(name).append(u"' ");
    return s;
}

}  // namespace

WideString TsmTreeNodeText(const TTsTreeNode& node) {
    const TTsProperty* source = node.Props().Find(u"source");
    if (!source) return TsmSourceText(TTsValue(), &node);
    return QuotedName(node.Name()).append(TsmSourceText(source->Value, &node));
}

ETsmMismatch::ETsmMismatch(const TTsmNode* node, std::u16string_view format, FormatArgs args)
    : ETessarine(format, args) {
    if (node) {
        NodeID = node->Props.ID;
        NodeName = node->Props.Name;
    }
}

WideString TTsmNode::NodeText() const {
    return QuotedName(Props.Name)
        .append(TsmSourceText(Props.Source, this))
        .append(u" (ID ")
        .append(IntToStr(Props.ID))
        .append(u")");
}

}  // namespace ts
