// Compiled model nodes: the condition and property records (TTsmCondition,
// TTsmProps), the compiled record TTsmNodeInfo with its child summary, the
// node classes a model runs with (TTsmNode, TTsmRoot, TTsmEnd,
// TTsmUserMessage, TTsmFail, TTsmWarn, TTsmLine) and their class references,
// the node class list that picks a class by node name, the module's error
// family, reading a tree node's properties into a record, and the texts that
// name nodes in messages.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "library/core/TsBase.h"
#include "library/core/TsNodes.h"
#include "library/expressions/TsConditions.h"
#include "library/expressions/rpn/RPNit.h"
#include "library/modelling/merge/MmNodes.h"
#include "library/text/TsModelFlags.h"
#include "support/Streams.h"

namespace ts {

class TTsmCompiler;
class TTsmNode;
class TTsmRun;
struct TTsmProps;

using TTsmIdArray = std::vector<TMmID>;

// The text a "source" value holds for a node that no model line declared.
inline constexpr std::u16string_view TsmImplicitSource = u"implicit";

// A compiled node condition; Operator nil means the node has none.
struct TTsmCondition {
    bool Negated = false;
    TRpnScalar Value;  // prepared by the operator class
    TTsCondClass Operator = nullptr;
    // A matcher's item list, built once when the condition is compiled.
    std::shared_ptr<const TCompiledRPN> Items;

    bool IsSet() const { return Operator != nullptr; }
};

// A node class reference: answers IsTerminal without an instance and can
// create the node a model run works with.
struct TTsmNodeClassInfo : TClassInfo {
    // Whether a node of this class, with these properties, ends its
    // parent's child loop.
    bool (*IsTerminal)(const TTsmProps& props) = nullptr;
    std::unique_ptr<TTsmNode> (*Create)(TTsmRun& run, TTsmNode* parent, const TTsmProps& props) = nullptr;
};
using TTsmNodeClass = const TTsmNodeClassInfo*;

struct TTsmProps : TTsModelFlags {
    WideString Name;
    WideString Path;  // FAIL and WARN nodes: the message text
    TTsmCondition Cond;
    TTsmNodeClass NodeClass = nullptr;
    TMmID ID = MmNoID;
    TMmID Parent = MmNoID;
    TTsmIdArray Children;
    TTsValue Source;
    int32_t Order = 0;  // 0: not ordered

    // Answers the node class's IsTerminal (false without a class).
    bool IsTerminal() const;
    // Source holds exactly the string "implicit" (no line number).
    bool IsImplicit() const;
};

// Facts about a node's merged children that the run loop relies on.
struct TTsmChildSummary {
    bool HasOrdered = false;  // some child has an Order
    bool IsCyclic = false;    // a terminal child (or implicit END) ends the loop
    bool OnlyENDs = false;    // there are children and all are terminal
    bool HasOnce = false;     // some child is a once node
};

class TTsmMergeMachine;

// One compiled node.
class TTsmNodeInfo : public TObject {
    TS_CLASS(TTsmNodeInfo)
public:
    TTsmProps Props;
    // The tree node the record was read from; nil for implicit nodes. Not owned.
    const TTsTreeNode* SourceTree = nullptr;
    TTsmChildSummary ChildSummary;

private:
    friend class TTsmMergeMachine;
    int32_t infoSlot_ = -1;  // the owning machine's slot for this record
};

// Maps node names to node classes; names not listed mean TTsmNode.
class TTsmNodeClassList : public TTsClassList {
    TS_CLASS(TTsmNodeClassList)
public:
    // The class for a node name.
    TTsmNodeClass NodeClassOf(std::u16string_view name) const;
};

// The process-wide list: END, FAIL, WARN and LINE.
const TTsmNodeClassList& TsmNodeClasses();

// ---- Node classes ---------------------------------------------------------

struct TTsmSpan {
    int32_t Offset = 0;
    int32_t Length = 0;
    TStream* Stream = nullptr;  // the stream the offset refers to; not owned
};

// A model node during one run. Props refers to the compiled record's
// properties (the compiled model outlives every run), so trying a node
// copies nothing; its children are built once and reset on later runs.
class TTsmNode : public TObject {
    TS_CLASS(TTsmNode)
public:
    static const TTsmNodeClassInfo Class;

    TTsmNode(TTsmRun& run, TTsmNode* parent, const TTsmProps& props);
    ~TTsmNode() override;
    TTsmNode(const TTsmNode&) = delete;
    TTsmNode& operator=(const TTsmNode&) = delete;

    TTsmRun* Run;            // the run the node belongs to; not owned
    TTsmNode* ParentNode;    // nil for the root
    const TTsmProps& Props;  // must outlive the node
    std::vector<std::unique_ptr<TTsmNode>> Children;
    TTsmChildSummary ChildSummary;
    int32_t MatchCount = 0;
    int32_t CurrentChild = 0;
    int32_t MatchedChild = -1;
    bool Tried = false;
    TTsTreeNode* Result = nullptr;  // in the result tree; see OwnsResult
    bool OwnsResult = false;        // Result is this node's own, not the parent's
    // The topmost result node this node's run created (Result or an
    // ancestor of it); nil when Result was only found. Only a node that
    // created its result owns it.
    TTsTreeNode* CreatedResult = nullptr;
    // Engine bookkeeping: Children are kept from run to run and reset rather
    // than rebuilt (they always come from the same record); Modelled marks a
    // node whose ModellNode ran since its parent's run began.
    bool ChildrenBuilt = false;
    bool Modelled = false;
    // Where this node's run began in the run's log of created result nodes.
    int32_t ResultLogStart = 0;
    TTsmSpan StartSpan, InnerSpan, EndSpan;

    // Makes or finds Result under the parent's result node.
    virtual void CreateResultNode(TTsTreeNode* parentResult);
    // Called with the outcome of ModellNode (nil: success).
    virtual void Finish(const Exception* error);
    virtual void DiscardResult();
    // Models this node; a mismatch comes back as the error, not raised.
    virtual std::unique_ptr<Exception> ModellNode(TTsTreeNode* parentResult, const TTsmSpan& span);

    // The compiled model the run runs.
    const TTsmCompiler& Model() const;

    static bool IsTerminal(const TTsmProps& props);
    // "'name' source (ID n)", naming the node in messages.
    WideString NodeText() const;
};

class TTsmRoot : public TTsmNode {
    TS_CLASS(TTsmRoot)
public:
    static const TTsmNodeClassInfo Class;
    using TTsmNode::TTsmNode;

    void CreateResultNode(TTsTreeNode* parentResult) override;
    void Finish(const Exception* error) override;
    void DiscardResult() override;
};

class TTsmEnd : public TTsmNode {
    TS_CLASS(TTsmEnd)
public:
    static const TTsmNodeClassInfo Class;
    using TTsmNode::TTsmNode;

    static bool IsTerminal(const TTsmProps& props);
};

class ETsmUserMessage;

// FAIL and WARN: report a message when matched, then model as a plain node.
class TTsmUserMessage : public TTsmNode {
    TS_CLASS(TTsmUserMessage)
public:
    static const TTsmNodeClassInfo Class;
    using TTsmNode::TTsmNode;

    void CreateResultNode(TTsTreeNode* parentResult) override;
    std::unique_ptr<Exception> ModellNode(TTsTreeNode* parentResult, const TTsmSpan& span) override;
    virtual std::unique_ptr<ETsmUserMessage> CreateMessage() = 0;

    // Terminal exactly when the node has no children of its own.
    static bool IsTerminal(const TTsmProps& props);
};

class TTsmFail : public TTsmUserMessage {
    TS_CLASS(TTsmFail)
public:
    static const TTsmNodeClassInfo Class;
    using TTsmUserMessage::TTsmUserMessage;
    std::unique_ptr<ETsmUserMessage> CreateMessage() override;
};

class TTsmWarn : public TTsmUserMessage {
    TS_CLASS(TTsmWarn)
public:
    static const TTsmNodeClassInfo Class;
    using TTsmUserMessage::TTsmUserMessage;
    std::unique_ptr<ETsmUserMessage> CreateMessage() override;
};

// Models its children over one line of input.
class TTsmLine : public TTsmNode {
    TS_CLASS(TTsmLine)
public:
    static const TTsmNodeClassInfo Class;
    using TTsmNode::TTsmNode;
    std::unique_ptr<Exception> ModellNode(TTsTreeNode* parentResult, const TTsmSpan& span) override;
};

// ---- Errors -----------------------------------------------------------------

class ETsmCompiling : public ETessarine {
public:
    ETsmCompiling(const TTsmCompiler* compiler, std::u16string_view format, FormatArgs args)
        : ETessarine(format, args), Compiler(compiler) {}
    const TTsmCompiler* Compiler;  // borrowed
    TS_EXCEPTION(ETsmCompiling)
};

#define TS_TSM_ERROR(Name, Parent, Owner)                                                                      \
    class Name : public Parent {                                                                               \
    public:                                                                                                    \
        Name(const Owner* owner, std::u16string_view format, FormatArgs args) : Parent(owner, format, args) {} \
        TS_EXCEPTION(Name)                                                                                     \
    };

TS_TSM_ERROR(ETsmDoubleCompile, ETsmCompiling, TTsmCompiler)
TS_TSM_ERROR(ETsmEmptyNegatedCondition, ETsmCompiling, TTsmCompiler)
TS_TSM_ERROR(ETsmUnknownCondition, ETsmCompiling, TTsmCompiler)

// A merge node without its compiled record.
class ETsmNoNodeInfo : public ETsmCompiling {
public:
    // The message names the node: merge nodes are freed with the compile,
    // so the error keeps nothing of it.
    ETsmNoNodeInfo(const TTsmCompiler* compiler, std::u16string_view format, FormatArgs args)
        : ETsmCompiling(compiler, format, args) {}
    TS_EXCEPTION(ETsmNoNodeInfo)
};

class ETsmModelling : public ETessarine {
public:
    ETsmModelling(const TTsmCompiler* compiler, std::u16string_view format, FormatArgs args)
        : ETessarine(format, args), Compiler(compiler) {}
    const TTsmCompiler* Compiler;  // borrowed
    // Where in the run's base input the run stood, for errors that concern
    // a position (input left, no progress, too deep, cancelled); -1 for none.
    int64_t GlobalOffset = -1;
    TS_EXCEPTION(ETsmModelling)
};

TS_TSM_ERROR(ETsmAlreadyModelling, ETsmModelling, TTsmCompiler)
TS_TSM_ERROR(ETsmInputLeft, ETsmModelling, TTsmCompiler)
TS_TSM_ERROR(ETsmOriginalInputLost, ETsmModelling, TTsmCompiler)
TS_TSM_ERROR(ETsmNoModellingSlicer, ETsmModelling, TTsmCompiler)

// Input that a node did not match.
class ETsmMismatch : public ETessarine {
public:
    ETsmMismatch(const TTsmNode* node, std::u16string_view format, FormatArgs args);
    // Copies of what names the node: mismatches outlive the run whose node
    // objects made them (reports, the farthest failure, a run's error).
    int32_t NodeID = 0;
    WideString NodeName;
    // The offset in the run's base input the failure concerns (where the
    // node's condition or loop stood, where a report's text began), so that
    // callers can show a line and column without reading the message; -1
    // when the error was made outside a run.
    int64_t GlobalOffset = -1;
    TS_EXCEPTION(ETsmMismatch)
};

TS_TSM_ERROR(ETsmNoMatchingNode, ETsmMismatch, TTsmNode)
TS_TSM_ERROR(ETsmBadConditionResultType, ETsmMismatch, TTsmNode)
TS_TSM_ERROR(ETsmConditionMismatch, ETsmMismatch, TTsmNode)
TS_TSM_ERROR(ETsmOrderedConditionMismatch, ETsmMismatch, TTsmNode)

// A FAIL or WARN node's report.
class ETsmUserMessage : public ETsmMismatch {
public:
    ETsmUserMessage(const TTsmNode* node, WideString text, std::u16string_view format, FormatArgs args)
        : ETsmMismatch(node, format, args), Text(std::move(text)) {}
    WideString Text;  // the node's message text
    TS_EXCEPTION(ETsmUserMessage)
};

class ETsmError : public ETsmUserMessage {
public:
    using ETsmUserMessage::ETsmUserMessage;
    TS_EXCEPTION(ETsmError)
};

class ETsmWarning : public ETsmUserMessage {
public:
    using ETsmUserMessage::ETsmUserMessage;
    TS_EXCEPTION(ETsmWarning)
};

#undef TS_TSM_ERROR

// ---- Reading and naming -----------------------------------------------------

// The model line properties of one tree node, found in one pass over its
// properties; nil for those it does not have.
struct TTsmLineProps {
    const TTsProperty* Flags[ModelFlagCount] = {};  // in the order of ModelFlags
    const TTsProperty* Source = nullptr;
    const TTsProperty* Order = nullptr;
    const TTsProperty* Path = nullptr;
    const TTsProperty* Cond = nullptr;
    const TTsProperty* MergesL = nullptr;
    const TTsProperty* MergesR = nullptr;

    explicit TTsmLineProps(const TTsProperties& props);
};

// Fills everything but the condition from a model tree node's properties;
// node classes come from classes. Only Boolean values set flags and only
// integer values set Order.
void ReadTsmProps(const TTsTreeNode& node, const TTsmNodeClassList& classes, TTsmProps& props);
void ReadTsmProps(const TTsTreeNode& node, const TTsmLineProps& line, const TTsmNodeClassList& classes,
                  TTsmProps& props);

// How a "source" value reads in messages: "name:line", or the object at
// hand as "<Class $ADDRESS>", or "<unknown>".
WideString TsmSourceText(const TTsValue& source, const TObject* atHand);
// "'name' " (when named) + the source text of the tree node's "source".
WideString TsmTreeNodeText(const TTsTreeNode& node);

}  // namespace ts
