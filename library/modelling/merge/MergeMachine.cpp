// The generic merge machine, its finder and its errors.
#include "library/modelling/merge/MergeMachine.h"

#include <pthread.h>

#include <algorithm>
#include <string_view>
#include <unordered_set>

#include "support/Strings.h"

namespace ts {

namespace {

// Levels with more children than this get a name index; smaller ones are
// scanned, which is cheaper than hashing.
constexpr int IndexThreshold = 16;

}  // namespace

// ---- Errors -------------------------------------------------------------------

TMmErrorCreatedHook& MergeMachineErrorHook() {
    static TMmErrorCreatedHook hook;
    return hook;
}

EMergeMachine::EMergeMachine(const TMergeMachine* machine, std::u16string_view format, FormatArgs args)
    : ETessarine(format, args), machine_(machine) {
    RunCreationHook();
}

void EMergeMachine::RunCreationHook() {
    if (const TMmErrorCreatedHook& hook = MergeMachineErrorHook()) hook(*this);
}

EMmFinder::EMmFinder(const TMmFinder* finder, std::u16string_view format, FormatArgs args)
    : EMergeMachine(NoHook{}, finder ? finder->Machine : nullptr, format, args),
      finderClass_(finder ? finder->ClassName() : std::u16string_view()),
      kind_(finder ? finder->Kind : 0),
      name_(finder ? finder->FName : WideString()),
      startParent_(finder ? finder->StartParent : MmNoID),
      self_(finder ? finder->Self : MmNoID) {
    RunCreationHook();
}

// ---- Visited list -------------------------------------------------------------

// The nodes met along one chain of merge references, in order. Chains are
// usually short; a long one gets a hash so that the check stays cheap.
class TMergeMachine::Visited {
public:
    bool Contains(TMmID id) const {
        if (!set_.empty()) return set_.count(id) != 0;
        return std::find(order_.begin(), order_.end(), id) != order_.end();
    }
    void Add(TMmID id) {
        order_.push_back(id);
        if (!set_.empty())
            set_.insert(id);
        else if (order_.size() > 32)
            set_.insert(order_.begin(), order_.end());
    }
    const std::vector<TMmID>& Order() const { return order_; }

private:
    std::vector<TMmID> order_;
    std::unordered_set<TMmID> set_;
};

// Children of one merged level by name: the off-context ones and the plain
// ones (neither inheriting nor off-context), each in Children order.
struct TMergeMachine::LevelIndex {
    struct Names {
        std::vector<TMmID> offContext;
        std::vector<TMmID> plain;
    };
    uint32_t version = 0;
    std::unordered_map<std::u16string_view, Names> byName;
};

// ---- Finder -------------------------------------------------------------------

TMmFinder::TMmFinder(TMergeMachine& machine) : Machine(&machine), Nodes(&machine.Merged) {}

std::u16string_view TMmFinder::KindWord(uint8_t kind) { return kind == fkInheritance ? u"inheritance" : u"merge"; }

TMmID TMmFinder::Find() {
    if (FName.empty()) throw EMmBadFinder(this, u"FName given to %s is empty.", {this});
    if (StartParent == MmNoID) return MmNoID;

    TMmID ancestor = MmNoID, sink = MmNoID, sibling = MmNoID;
    Machine->NextWalk();
    for (TMmID level = StartParent; level != MmNoID;) {
        const TMmNode& node = (*Nodes)[level];
        if (!node.IsMerged)
            throw EMmFindingNonMergedParent(this, u"Tried to find a node among children of non-merged parent '%s'.",
                                            {node.Name});
        // Parent links that loop back end the search as if the top was reached.
        if (!Machine->MarkWalk(level)) break;
        TMergeMachine::LevelScan scan = Machine->ScanLevel(*Nodes, node, FName, Self, level == StartParent);
        if (level == StartParent) sibling = scan.sibling;
        if (scan.sinkCount > 1)
            throw EMmManySinkPoints(this, u"Multiple possible %s targets for node '%s' among children of parent '%s'.",
                                    {KindWord(), FName, node.Name});
        if (ancestor == MmNoID && node.Name == FName) ancestor = level;
        if (scan.sinkCount == 1) {
            sink = scan.sink;
            break;
        }
        level = node.Parent;
    }
    if (sink != MmNoID) return sink;

    const TMmNode* self = Self >= 0 && Self < Nodes->Count() ? Nodes->Items(Self) : nullptr;
    if (self && self->IsOffContext && Kind == fkInheritance) return MmNoID;
    if (ancestor != MmNoID && sibling != MmNoID)
        throw EMmAmbiguousFind(this,
                               u"Ambiguous node %s reference '%s': both parent and sibling of the same name exist. "
                               u"Use '(off-context)' for definite reference.",
                               {KindWord(), FName});
    return ancestor != MmNoID ? ancestor : sibling;
}

// ---- Machine: set-up ------------------------------------------------------------

TMergeMachine::TMergeMachine() = default;
TMergeMachine::~TMergeMachine() = default;

TMmNode* TMergeMachine::CreateDefinedNode() { return AddDefined(std::make_unique<TMmNode>()); }

TMmNode* TMergeMachine::NewMergedNode() { return AddMerged(std::make_unique<TMmNode>()); }

void TMergeMachine::Merge() {
    if (Merged.Count() > 0) throw EMergeMachine(this, u"%s.Merge can be called just once.", {this});
    if (Defined.Count() == 0) throw EMmNoneDefined(this, u"No Defined nodes are found on Merge.", {});
    if (Defined[0].Parent != MmNoID)
        throw EMmDefinedNoRoot(this, u"First Defined node must be root (Parent = -1) but it has Parent = %d.",
                               {Defined[0].Parent});
    const int n = Defined.Count();
    // Copy chains start empty unless an owner filled them in; only then is
    // the shortcut in CopiedFrom unsafe.
    chainsArePrefixes_ = true;
    for (int i = 0; i < n && chainsArePrefixes_; ++i) chainsArePrefixes_ = Defined[i].CopiedFrom.IsEmpty();
    mergedLimit_ = MaxMergedNodes > 0 ? MaxMergedNodes : std::max(1 << 18, n > (1 << 24) / 64 ? 1 << 24 : 64 * n);
    mergedLimit_ = std::min(mergedLimit_, TMmIdList::MaxID);
    generationLimit_ = MaxCopyGenerations > 0
                           ? MaxCopyGenerations
                           : static_cast<int>(std::min<int64_t>(int64_t{4} * n + 64, TMmIdList::MaxID));
    Merged.Reserve(3 * n);
    for (int i = 0; i < n; ++i) Merged.Add(Defined[i].Clone())->DefinedChildren.Clear();
    for (int i = 0; i < n; ++i) {
        TMmID p = Merged[i].Parent;
        if (p == MmNoID) continue;
        if (p < 0 || p >= n) throw EMergeMachine(this, u"Defined node %d has unknown Parent = %d.", {i, p});
        Merged[p].DefinedChildren.Add(i, 0);
    }
    MergeNode(0);
    // The lookup indexes borrow names of nodes that clean-up may free.
    levelIndex_.clear();
    RemoveUnused();
}

// ---- Machine: merging -----------------------------------------------------------

void TMergeMachine::CheckNativeStack() const {
    if (stackLimit_ && static_cast<const char*>(__builtin_frame_address(0)) < stackLimit_)
        throw EListError(Format(u"Too deep %s.", {&Stack}));
}

void TMergeMachine::MergeNode(TMmID id) {
    if (Stack.Count() == 0) {
        // Merges nest as deeply as the model; stop with the stack's own error
        // well before the thread's stack runs out, whatever its size.
        stackLimit_ = nullptr;
        pthread_attr_t attr;
        if (pthread_getattr_np(pthread_self(), &attr) == 0) {
            void* low = nullptr;
            size_t size = 0;
            if (pthread_attr_getstack(&attr, &low, &size) == 0 && low)
                stackLimit_ = static_cast<const char*>(low) + std::min<size_t>(size / 4, 256 * 1024);
            pthread_attr_destroy(&attr);
        }
    }
    Visited visited;
    const int depth = Stack.Count();
    MergeRec(id, visited);
    if (Stack.Count() != depth) throw EMergeMachine(this, u"Broken stack after merging node %d.", {id});
}

WideString TMergeMachine::NodeText(TMmID id) const {
    const TMmNode* node = id >= 0 && id < Merged.Count() ? Merged.Items(id) : nullptr;
    return (node ? node->Name : WideString()) + u" #" + IntToStr(id);
}

TMmID TMergeMachine::FindNode(uint8_t kind, const WideString& name, TMmID startParent, TMmID self) {
    std::unique_ptr<TMmFinder> finder = CreateFinder();
    finder->Kind = kind;
    finder->FName = name;
    finder->StartParent = startParent;
    finder->Self = self;
    return finder->Find();
}

void TMergeMachine::RaiseRecursive(const std::vector<TMmID>& path, TMmID id) const {
    WideString text;
    for (TMmID v : path) text += (text.empty() ? u"" : u" > ") + NodeText(v);
    throw EMmRecursiveMerging(this, u"Recursive node merges: %s.", {text + u" >> " + NodeText(id)});
}

void TMergeMachine::RaiseReentered(TMmID id) const {
    std::vector<TMmID> path;
    for (int i = 0; i < Stack.Count(); ++i)
        if (!path.empty() || Stack.Item(i) == id) path.push_back(Stack.Item(i));
    RaiseRecursive(path, id);
}

void TMergeMachine::ReportNoAncestor(const TMmNode& node) {
    HandleError(
        std::make_unique<EMmNoAncestor>(this, u"Cannot find ancestor of inheriting node '%s'.", FormatArgs{node.Name}));
}

void TMergeMachine::MergeRec(TMmID id, Visited& visited) {
    TMmNode* node = id >= 0 && id < Merged.Count() ? Merged.Items(id) : nullptr;
    if (!node) throw EMergeMachine(this, u"Unknown node ID to merge (%d).", {id});
    if (node->IsMerged) return;
    if (visited.Contains(id)) RaiseRecursive(visited.Order(), id);
    // Reached again through an ancestor or a child while still being merged:
    // it would only repeat itself until the stack is exhausted.
    if (static_cast<size_t>(id) < merging_.size() && merging_[static_cast<size_t>(id)]) RaiseReentered(id);
    CheckNativeStack();
    Stack.Push(id);
    visited.Add(id);
    if (merging_.size() < static_cast<size_t>(Merged.Count())) merging_.resize(static_cast<size_t>(Merged.Count()));
    merging_[static_cast<size_t>(id)] = 1;

    node->Ancestor = node->IsInheriting ? FindNode(TMmFinder::fkInheritance, node->Name, node->Parent, id) : MmNoID;
    if (node->Ancestor == MmNoID) {
        if (node->IsInheriting && !node->IsOffContext) ReportNoAncestor(*node);
    } else {
        MergeNode(node->Ancestor);
        Inherited(id, node->Ancestor);
    }
    MergeChildren(id, visited);
    ResolveOverlays(id);
    NodeMerged(id);
    node->IsMerged = true;
    const int count = node->Children.Count();
    for (int i = 0; i < count; ++i) MergeNode(node->Children.ID(i));
    merging_[static_cast<size_t>(id)] = 0;
    Stack.Pop();
}

void TMergeMachine::MergeChildren(TMmID id, Visited& visited) {
    TMmNode& node = Merged[id];
    // Own children keep their tags (an overlay may have given them several),
    // so the other origins are numbered above all of them.
    const int base = std::max(node.Children.MaxTag(), node.DefinedChildren.MaxTag());
    AddMergeList(node.LeftMerges, id, visited, base + 2);
    if (node.IsPrepending) TakeChildren(id, node.DefinedChildren, KeepTags, nullptr);
    if (node.Ancestor != MmNoID) TakeChildren(id, Merged[node.Ancestor].Children, base + 1, nullptr);
    if (!node.IsPrepending) TakeChildren(id, node.DefinedChildren, KeepTags, nullptr);
    AddMergeList(node.RightMerges, id, visited, node.Children.MaxTag() + 1);
}

void TMergeMachine::AddMergeList(const TMmList& list, TMmID id, Visited& visited, int firstTag) {
    if (list.Count() + firstTag > 255) throw EOverflow(u"Origins pool exceeded when adding node merges.");
    TMmNode& node = Merged[id];
    std::vector<bool> backRefs;
    for (int k = 0; k < list.Count(); ++k) {
        const TMmNode& ref = list[k];
        TMmID target = FindNode(TMmFinder::fkMerge, ref.Name, node.Parent, id);
        if (target == MmNoID)
            throw EMmNoMergeNode(this, u"Cannot locate node '%s' to merge '%s' with.", {ref.Name, node.Name});
        MergeRec(target, visited);
        const int start = node.Children.Count();
        backRefs.clear();
        TakeChildren(id, Merged[target].Children, 0, &backRefs);
        for (int j = start; j < node.Children.Count(); ++j) {
            TMmID entry = node.Children.ID(j);
            TMmID taken = TakeMergedChild(entry, ref);
            node.Children.Put(j, taken, static_cast<uint8_t>(firstTag + k));
            // A reference to an enclosing node keeps its place in the tree;
            // moving it under this node would loop the parent links.
            if (taken != entry || !backRefs[static_cast<size_t>(j - start)]) Merged[taken].Parent = id;
        }
    }
}

uint32_t TMergeMachine::NextWalk() {
    if (++walkEpoch_ == 0) {
        std::fill(walkMarks_.begin(), walkMarks_.end(), 0);
        walkEpoch_ = 1;
    }
    return walkEpoch_;
}

bool TMergeMachine::MarkWalk(TMmID id) {
    const size_t i = static_cast<size_t>(id);
    if (i >= walkMarks_.size()) walkMarks_.resize(std::max(i + 1, static_cast<size_t>(Merged.Count())), 0);
    if (walkMarks_[i] == walkEpoch_) return false;
    walkMarks_[i] = walkEpoch_;
    return true;
}

bool TMergeMachine::CopiedFrom(const TMmNode& node, TMmID source) const {
    if (!chainsArePrefixes_) return node.CopiedFrom.Contains(source);
    // Every chain is its source's chain plus the source, so a node's chain
    // holds a source exactly at the index equal to the source's chain length.
    // Recursive models nest thousands deep with chains as long: a search of
    // each chain at each level of each walk would be cubic.
    const TMmNode* s = source >= 0 && source < Merged.Count() ? Merged.Items(source) : nullptr;
    if (!s) return node.CopiedFrom.Contains(source);
    const int at = s->CopiedFrom.Count();
    return at < node.CopiedFrom.Count() && node.CopiedFrom.ID(at) == source;
}

void TMergeMachine::TakeChildren(TMmID target, const TMmIdList& source, int fixedTag, std::vector<bool>* backRefs) {
    TMmNode& t = Merged[target];
    // Source may be target's own list: count once, read by index.
    const int count = source.Count();
    for (int k = 0; k < count; ++k) {
        TMmID c = source.ID(k);
        const uint8_t tag = fixedTag == KeepTags ? source.Tag(k) : static_cast<uint8_t>(fixedTag);
        if (fixedTag != KeepTags && !CanTakeChild(target, c)) continue;
        const TMmNode& child = Merged[c];
        bool backRef = false;
        if (child.Parent != target) {
            // A child that is, or was copied from, an enclosing node (or the
            // other way round) is that node again: refer to it, recursively.
            TMmID found = MmNoID;
            NextWalk();
            for (TMmID v = target; v != MmNoID; v = Merged[v].Parent) {
                if (!MarkWalk(v) || CopiedFrom(child, v) || CopiedFrom(Merged[v], c)) {
                    found = v;
                    break;
                }
            }
            if (found != MmNoID) {
                c = found;
                backRef = true;
            } else {
                TMmNode* copy = CopyNode(child);
                copy->Parent = target;
                c = copy->ID;
            }
        }
        t.Children.Add(c, tag);
        if (backRefs) backRefs->push_back(backRef);
    }
}

void TMergeMachine::ResolveOverlays(TMmID id) {
    TMmNode& node = Merged[id];
    TMmIdList& children = node.Children;
    bool any = false;
    for (int i = 0; i < children.Count() && !any; ++i) {
        const TMmNode& c = Merged[children.ID(i)];
        any = c.IsInheriting || c.IsOffContext;
    }
    if (!any) return;
    if (children.Count() > IndexThreshold) return ResolveOverlaysIndexed(node);

    int i = 0;
    while (i < children.Count()) {
        TMmNode& c = Merged[children.ID(i)];
        int candidate = -1;
        if (c.IsInheriting || c.IsOffContext) {
            for (int j = 0; j < i; ++j) {
                const TMmNode& d = Merged[children.ID(j)];
                if (d.IsOffContext != c.IsOffContext || children.Tag(j) == children.Tag(i) || d.Name != c.Name)
                    continue;
                if (candidate >= 0)
                    throw EMmManyOverlayTargets(this, u"Ambiguous overlay target among children of '%s'.", {node.Name});
                candidate = j;
            }
        }
        if (candidate < 0) {
            ++i;
            continue;
        }
        TMmID n = Overlay(c, Merged[children.ID(candidate)]);
        children.Put(candidate, n, children.Tag(candidate));
        children.Delete(i);
    }
}

void TMergeMachine::ResolveOverlaysIndexed(TMmNode& node) {
    // The same rule as the scan, with earlier entries indexed by name and
    // flag. An overlay keeps its entry's name, flag and tag, and the entry
    // removed is the current one, so the index never goes stale.
    struct TagCount {
        uint8_t tag;
        int count;
        int first;
    };
    std::unordered_map<std::u16string_view, std::vector<TagCount>> earlier[2];
    TMmIdList& children = node.Children;
    int i = 0;
    while (i < children.Count()) {
        TMmNode& c = Merged[children.ID(i)];
        const uint8_t tag = children.Tag(i);
        auto& byName = earlier[c.IsOffContext ? 1 : 0];
        int candidate = -1;
        if (c.IsInheriting || c.IsOffContext) {
            auto it = byName.find(c.Name);
            if (it != byName.end()) {
                int others = 0;
                for (const TagCount& tc : it->second)
                    if (tc.tag != tag) {
                        others += tc.count;
                        candidate = tc.first;
                    }
                if (others > 1)
                    throw EMmManyOverlayTargets(this, u"Ambiguous overlay target among children of '%s'.", {node.Name});
            }
        }
        if (candidate < 0) {
            auto& tags = byName[c.Name];
            auto t = std::find_if(tags.begin(), tags.end(), [&](const TagCount& tc) { return tc.tag == tag; });
            if (t != tags.end())
                ++t->count;
            else
                tags.push_back({tag, 1, i});
            ++i;
            continue;
        }
        TMmID n = Overlay(c, Merged[children.ID(candidate)]);
        children.Put(candidate, n, children.Tag(candidate));
        children.Delete(i);
    }
}

TMergeMachine::LevelScan TMergeMachine::ScanLevel(const TMmList& nodes, const TMmNode& level, std::u16string_view name,
                                                  TMmID self, bool wantSibling) {
    LevelScan scan;
    const TMmIdList& children = level.Children;
    auto offContext = [&](TMmID id) {
        if (id == self) return;
        if (scan.sinkCount++ == 0) scan.sink = id;
    };
    // The index is kept for the merged list only.
    if (children.Count() <= IndexThreshold || &nodes != &Merged) {
        for (int i = 0; i < children.Count() && scan.sinkCount < 2; ++i) {
            const TMmID id = children.ID(i);
            const TMmNode* c = nodes.Items(id);
            if (!c || c->Name != name) continue;
            if (c->IsOffContext)
                offContext(id);
            else if (wantSibling && !c->IsInheriting && id != self && scan.sibling == MmNoID)
                scan.sibling = id;
        }
        return scan;
    }

    const size_t li = static_cast<size_t>(level.ID);
    if (levelIndex_.size() <= li) levelIndex_.resize(std::max(li + 1, static_cast<size_t>(Merged.Count())));
    std::unique_ptr<LevelIndex>& index = levelIndex_[li];
    if (!index || index->version != children.Version()) {
        index = std::make_unique<LevelIndex>();
        index->version = children.Version();
        for (int i = 0; i < children.Count(); ++i) {
            const TMmID id = children.ID(i);
            const TMmNode* c = Merged.Items(id);
            if (!c) continue;
            if (c->IsOffContext)
                index->byName[c->Name].offContext.push_back(id);
            else if (!c->IsInheriting)
                index->byName[c->Name].plain.push_back(id);
        }
    }
    auto it = index->byName.find(name);
    if (it == index->byName.end()) return scan;
    for (TMmID id : it->second.offContext) {
        offContext(id);
        if (scan.sinkCount > 1) break;
    }
    if (wantSibling)
        for (TMmID id : it->second.plain)
            if (id != self) {
                scan.sibling = id;
                break;
            }
    return scan;
}

// ---- Machine: virtual operations --------------------------------------------------

void TMergeMachine::NodeMerged(TMmID) {}

void TMergeMachine::DeleteNode(TMmID id) { Merged.Delete(id); }

std::unique_ptr<TMmFinder> TMergeMachine::CreateFinder() { return std::make_unique<TMmFinder>(*this); }

bool TMergeMachine::CanTakeChild(TMmID, TMmID) { return true; }

void TMergeMachine::Inherited(TMmID, TMmID) {}

TMmID TMergeMachine::Overlay(TMmNode& node, TMmNode& target) {
    TMmNode* n = CopyNode(node);
    if (n->IsInheriting) {
        // Both children lists, the overlaying node's as an origin of its own.
        n->DefinedChildren.Assign(target.DefinedChildren);
        n->DefinedChildren.MergeFrom(node.DefinedChildren, n->IsPrepending);
    }
    n->Overlays.Add(target.ID);
    if (!target.IsOffContext) n->IsInheriting = target.IsInheriting;
    Inherited(n->ID, target.ID);
    return n->ID;
}

TMmID TMergeMachine::TakeMergedChild(TMmID childId, const TMmNode&) { return childId; }

void TMergeMachine::HandleError(std::unique_ptr<Exception> error) {
    if (OnError) {
        OnError(*this, *error);
        return;
    }
    error->Raise();
}

TMmNode* TMergeMachine::AddDefined(std::unique_ptr<TMmNode> node) { return Defined.Add(std::move(node)); }

void TMergeMachine::RemoveUnused() {
    if (CleanupMode != cmKeepReferenced && CleanupMode != cmKeepReachable) return;
    const int n = Merged.Count();
    std::vector<uint8_t> marked(static_cast<size_t>(n), 0);
    auto mark = [&](TMmID id) {
        if (id >= 0 && id < n) marked[static_cast<size_t>(id)] = 1;
    };
    auto markList = [&](const TMmIdList& list) {
        for (int i = 0; i < list.Count(); ++i) mark(list.ID(i));
    };
    // The root stays in either mode: without it there is no merged model.
    mark(0);
    if (CleanupMode == cmKeepReferenced) {
        for (int i = 0; i < n; ++i)
            if (const TMmNode* node = Merged.Items(i)) {
                mark(node->Parent);
                mark(node->Ancestor);
                markList(node->CopiedFrom);
                markList(node->Overlays);
                markList(node->Children);
            }
    } else if (n > 0) {
        // Merged graphs may be cyclic and deep: walk with a stack of our own.
        std::vector<TMmID> todo{0};
        while (!todo.empty()) {
            const TMmNode* node = Merged.Items(todo.back());
            todo.pop_back();
            if (!node) continue;
            for (int i = 0; i < node->Children.Count(); ++i) {
                const TMmID c = node->Children.ID(i);
                if (c >= 0 && c < n && !marked[static_cast<size_t>(c)]) {
                    marked[static_cast<size_t>(c)] = 1;
                    todo.push_back(c);
                }
            }
        }
    }
    for (int i = n - 1; i >= 0; --i)
        if (!marked[static_cast<size_t>(i)] && i < Merged.Count() && Merged.Items(i)) DeleteNode(i);
}

void TMergeMachine::RaiseTooMany() const {
    throw EMergeMachine(this, u"Merging would make more than %d nodes; the model's merges expand too far.",
                        {mergedLimit_});
}

void TMergeMachine::RaiseTooManyGenerations() const {
    throw EMergeMachine(this,
                        u"Merging would copy a node through more than %d generations of copies; the model's merges "
                        u"keep opening levels.",
                        {generationLimit_});
}

TMmNode* TMergeMachine::CopyNode(const TMmNode& node) {
    CheckGrowth();
    if (node.CopiedFrom.Count() >= generationLimit_) RaiseTooManyGenerations();
    chainEntries_ += node.CopiedFrom.Count() + 1;
    if (chainEntries_ > int64_t{16} * mergedLimit_)
        throw EMergeMachine(this,
                            u"Merging would keep more than %d copy-chain entries; the model's merges expand too far.",
                            {int64_t{16} * mergedLimit_});
    TMmNode* copy = Merged.Add(node.Clone());
    copy->CopiedFrom.Add(node.ID, 0);
    return copy;
}

TMmNode* TMergeMachine::AddMerged(std::unique_ptr<TMmNode> node) {
    CheckGrowth();
    return Merged.Add(std::move(node));
}

}  // namespace ts
