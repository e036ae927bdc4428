// The generic merge machine: TMergeMachine turns defined nodes (a tree by
// parent IDs, with names, flags and merge references) into merged nodes whose
// children are final; TMmFinder resolves inheritance and merge names; the
// EMergeMachine error family and its creation hook (MergeMachineErrorHook).
// It knows nothing of models: a derived machine carries its own records along
// through the virtual operations.
#pragma once

#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

#include "library/core/TsBase.h"
#include "library/modelling/merge/MmNodes.h"

namespace ts {

class TMergeMachine;

// ---- Finder -------------------------------------------------------------------

// Resolves the name of an ancestor (inheritance) or merge target as seen from
// one node.
class TMmFinder : public TObject {
    TS_CLASS(TMmFinder)
public:
    enum : uint8_t { fkInheritance = 0, fkMerge = 1 };

    explicit TMmFinder(TMergeMachine& machine);

    TMergeMachine* Machine;  // not owned
    TMmList* Nodes;          // the machine's merged list
    uint8_t Kind = fkInheritance;
    WideString FName;            // the name searched
    TMmID StartParent = MmNoID;  // parent of the referring node
    TMmID Self = MmNoID;         // the referring node

    // The node found, or -1.
    virtual TMmID Find();

    // "inheritance" or "merge".
    static std::u16string_view KindWord(uint8_t kind);
    std::u16string_view KindWord() const { return KindWord(Kind); }
};

// ---- Errors -------------------------------------------------------------------

// Errors of a merge. Each carries the machine (borrowed: valid while the
// machine lives) and, when created, passes through MergeMachineErrorHook.
class EMergeMachine : public ETessarine {
public:
    EMergeMachine(const TMergeMachine* machine, std::u16string_view format, FormatArgs args);
    const TMergeMachine* Machine() const { return machine_; }
    TS_EXCEPTION(EMergeMachine)

protected:
    struct NoHook {};
    // For derived classes that fill their own fields before the hook runs.
    EMergeMachine(NoHook, const TMergeMachine* machine, std::u16string_view format, FormatArgs args)
        : ETessarine(format, args), machine_(machine) {}
    void RunCreationHook();

private:
    const TMergeMachine* machine_;
};

using TMmErrorCreatedHook = std::function<void(EMergeMachine&)>;
// The module's creation hook: called with every EMergeMachine as it is
// created, so an owner can extend the message (SetMessage).
TMmErrorCreatedHook& MergeMachineErrorHook();

// A failed search. The finder itself is gone once the error travels, so its
// search is kept by value.
class EMmFinder : public EMergeMachine {
public:
    EMmFinder(const TMmFinder* finder, std::u16string_view format, FormatArgs args);
    std::u16string_view FinderClass() const { return finderClass_; }
    uint8_t Kind() const { return kind_; }
    const WideString& FName() const { return name_; }
    TMmID StartParent() const { return startParent_; }
    TMmID Self() const { return self_; }
    TS_EXCEPTION(EMmFinder)

private:
    std::u16string_view finderClass_;
    uint8_t kind_;
    WideString name_;
    TMmID startParent_;
    TMmID self_;
};

#define TS_MM_ERROR(Name, Parent, Owner)                                                                       \
    class Name : public Parent {                                                                               \
    public:                                                                                                    \
        Name(const Owner* owner, std::u16string_view format, FormatArgs args) : Parent(owner, format, args) {} \
        TS_EXCEPTION(Name)                                                                                     \
    };

TS_MM_ERROR(EMmBadFinder, EMmFinder, TMmFinder)
TS_MM_ERROR(EMmAmbiguousFind, EMmFinder, TMmFinder)
TS_MM_ERROR(EMmManySinkPoints, EMmFinder, TMmFinder)
TS_MM_ERROR(EMmFindingNonMergedParent, EMmFinder, TMmFinder)
TS_MM_ERROR(EMmNoneDefined, EMergeMachine, TMergeMachine)
TS_MM_ERROR(EMmDefinedNoRoot, EMergeMachine, TMergeMachine)
TS_MM_ERROR(EMmRecursiveMerging, EMergeMachine, TMergeMachine)
TS_MM_ERROR(EMmNoAncestor, EMergeMachine, TMergeMachine)
TS_MM_ERROR(EMmNoMergeNode, EMergeMachine, TMergeMachine)
TS_MM_ERROR(EMmManyOverlayTargets, EMergeMachine, TMergeMachine)

#undef TS_MM_ERROR

// ---- Machine -------------------------------------------------------------------

using TMmErrorEvent = std::function<void(TMergeMachine&, Exception&)>;

// Single use: add defined nodes, Merge once, then read Merged (slot i holds
// the merged node with ID i, or nothing when it was removed).
class TMergeMachine : public TObject {
    TS_CLASS(TMergeMachine)
public:
    enum : uint8_t { cmKeepAll = 0, cmKeepReferenced = 1, cmKeepReachable = 2 };

    TMergeMachine();
    TMergeMachine(const TMergeMachine&) = delete;
    TMergeMachine& operator=(const TMergeMachine&) = delete;
    ~TMergeMachine() override;

    TMmErrorEvent OnError;
    TMmList Defined{false};
    TMmList Merged{true};
    uint8_t CleanupMode = cmKeepReachable;
    TMmIdStack Stack;  // IDs being merged
    // Recursive merges can multiply nodes, and lengthen copy chains, level
    // by level; beyond this many merged nodes (or 16 times as many copy-chain
    // entries in all) the merge stops with an error instead of exhausting
    // memory. 0: 64 per defined node, at least 262,144.
    int MaxMergedNodes = 0;
    // Each copy of a copy is one generation more. A finite model copies a
    // node through at most about one generation per merge on its way; merges
    // that keep opening levels copy on without end, each level costing more
    // than the last. Beyond this many generations the merge stops with an
    // error. 0: 4 per defined node, plus 64.
    int MaxCopyGenerations = 0;

    // A new node passed to AddDefined; its ID is its index.
    TMmNode* CreateDefinedNode();
    // A new node passed to AddMerged.
    TMmNode* NewMergedNode();
    // The whole merge; once per machine. Merged node i (for each defined
    // node i) is a clone stored directly, so it shares the defined node's Data.
    void Merge();
    // The node being merged, or -1.
    TMmID CurrentNode() const { return Stack.Top(); }

    // ---- Virtual operations (the owner's hooks) ----

    // Merges one node (and, through it, what it needs and its children).
    virtual void MergeNode(TMmID id);
    // After id's children are assembled and overlays resolved, before it
    // counts as merged.
    virtual void NodeMerged(TMmID id);
    // Removes a merged node that clean-up found unused.
    virtual void DeleteNode(TMmID id);
    virtual std::unique_ptr<TMmFinder> CreateFinder();
    // Filters children taken from an ancestor or a merge target.
    virtual bool CanTakeChild(TMmID targetId, TMmID child);
    // After id's ancestor fromId was found and merged, and after an overlay
    // (id = the new node, fromId = the child it replaced).
    virtual void Inherited(TMmID id, TMmID fromId);
    // Replaces the earlier child target by a new node made from node;
    // returns the new node's ID.
    virtual TMmID Overlay(TMmNode& node, TMmNode& target);
    // A child taken through mergeRef; returns the ID to put in its place.
    virtual TMmID TakeMergedChild(TMmID childId, const TMmNode& mergeRef);
    // Recoverable errors: to OnError when assigned (the error is then
    // dropped), else raised.
    virtual void HandleError(std::unique_ptr<Exception> error);
    // Store a new node (CreateDefinedNode, NewMergedNode) and return it.
    virtual TMmNode* AddDefined(std::unique_ptr<TMmNode> node);
    virtual TMmNode* AddMerged(std::unique_ptr<TMmNode> node);
    // Passes the nodes that CleanupMode does not keep, highest ID first, to
    // DeleteNode. The root is always kept.
    virtual void RemoveUnused();
    // A stored clone of node that remembers it was copied from node. The
    // clone shares node's Data; an owner gives it a record of its own here.
    virtual TMmNode* CopyNode(const TMmNode& node);

private:
    friend class TMmFinder;
    class Visited;
    static constexpr int KeepTags = -1;
    struct LevelIndex;
    struct LevelScan {
        int sinkCount = 0;
        TMmID sink = MmNoID;
        TMmID sibling = MmNoID;
    };

    void MergeRec(TMmID id, Visited& visited);
    void MergeChildren(TMmID id, Visited& visited);
    void AddMergeList(const TMmList& list, TMmID id, Visited& visited, int firstTag);
    // Appends source's children to target's Children, copying those that
    // come from elsewhere; backRefs (when given) learns which entries became
    // references to an enclosing node instead.
    void TakeChildren(TMmID target, const TMmIdList& source, int fixedTag, std::vector<bool>* backRefs);
    // Whether node's copy chain holds source.
    bool CopiedFrom(const TMmNode& node, TMmID source) const;
    void ResolveOverlays(TMmID id);
    void ResolveOverlaysIndexed(TMmNode& node);
    WideString NodeText(TMmID id) const;
    // Kept out of MergeRec so that its frames stay small.
    [[noreturn, gnu::noinline]] void RaiseRecursive(const std::vector<TMmID>& path, TMmID id) const;
    [[noreturn, gnu::noinline]] void RaiseReentered(TMmID id) const;
    [[gnu::noinline]] void ReportNoAncestor(const TMmNode& node);
    TMmID FindNode(uint8_t kind, const WideString& name, TMmID startParent, TMmID self);
    // Off-context namesakes (sink points, Self excluded, the first two) and
    // the first plain namesake among the children of level.
    LevelScan ScanLevel(const TMmList& nodes, const TMmNode& level, std::u16string_view name, TMmID self,
                        bool wantSibling);
    uint32_t NextWalk();
    bool MarkWalk(TMmID id);  // false when id was met on this walk already
    void CheckNativeStack() const;
    void CheckGrowth() const {
        if (Merged.Count() >= mergedLimit_) RaiseTooMany();
    }
    [[noreturn, gnu::noinline]] void RaiseTooMany() const;
    [[noreturn, gnu::noinline]] void RaiseTooManyGenerations() const;

    std::vector<std::unique_ptr<LevelIndex>> levelIndex_;
    std::vector<uint32_t> walkMarks_;
    std::vector<uint8_t> merging_;  // by ID: on the stack right now
    uint32_t walkEpoch_ = 0;
    bool chainsArePrefixes_ = false;
    int mergedLimit_ = TMmIdList::MaxID;
    int generationLimit_ = TMmIdList::MaxID;
    int64_t chainEntries_ = 0;          // CopiedFrom entries of all copies made
    const char* stackLimit_ = nullptr;  // lowest frame address allowed while merging
};

}  // namespace ts
