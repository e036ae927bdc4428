// The universal tree: TTsSingleNode (a named node with properties and
// listeners), TTsTreeNode (adds a parent and ordered children),
// TTsTreeNodeChildren (the children collection), TTsProperty (one named
// value) and TTsProperties (the property collection), with their errors.
//
// Ownership rules:
//  - A root is owned by whoever created it, normally as
//    std::unique_ptr<TTsTreeNode>. A child is owned by its parent (through the
//    parent's Children); every TTsTreeNode* handed out is borrowed.
//  - AddChild creates a child owned by the parent. AdoptChild takes a root's
//    unique_ptr and makes it a child; on failure the caller keeps it.
//  - Move/MoveTo move a child between parents, and its ownership with it; a
//    root cannot be moved this way (its holder must hand it over).
//  - Detach makes a child a root and hands its ownership to the caller;
//    Destroy removes a child from its parent and frees it at once (the
//    pointer is dangling afterwards). Freeing a node frees its whole subtree,
//    without recursion, so trees of any depth can go.
//  - A node owns its properties; a TTsProperty* is borrowed and dies when the
//    property is replaced or its node goes.
//
// Listeners of a node (Listeners(), subscribed with a TTsCallbackId) hear
// "ad" (new parent, nil), "rm" (nil, the parent it left) and "skey" (old
// name, new name) with the node as sender.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "library/core/TsBase.h"
#include "library/core/TsHashes.h"

namespace ts {

class TTsProperties;
class TTsProperty;
class TTsTreeNode;
struct TTsPropertyBlock;

// ---- Errors -------------------------------------------------------------

class ETsProperties : public ETessarine {
public:
    ETsProperties(const TTsProperties* props, std::u16string_view format, FormatArgs args)
        : ETessarine(format, args), Properties(props) {}
    const TTsProperties* Properties;  // borrowed
    TS_EXCEPTION(ETsProperties)
};

class ETsUnownedProperty : public ETsProperties {
public:
    explicit ETsUnownedProperty(const TTsProperty* prop);
    TS_EXCEPTION(ETsUnownedProperty)
};

class ETsNoProperty : public ETsProperties {
public:
    ETsNoProperty(const TTsProperties* props, std::u16string_view name);
    WideString Name;
    TS_EXCEPTION(ETsNoProperty)
};

class ETsAddingNullProperty : public ETsProperties {
public:
    ETsAddingNullProperty(const TTsProperties* props, std::u16string_view name);
    WideString Name;
    TS_EXCEPTION(ETsAddingNullProperty)
};

class ETsNode : public ETessarine {
public:
    using ETessarine::ETessarine;
    TS_EXCEPTION(ETsNode)
};

class ETsTreeNode : public ETsNode {
public:
    ETsTreeNode(const TTsTreeNode* node, std::u16string_view format, FormatArgs args);
    const TTsTreeNode* Node;  // borrowed
    TS_EXCEPTION(ETsTreeNode)
};

class ETsBrokenNodeRelationship : public ETsTreeNode {
public:
    ETsBrokenNodeRelationship(const TTsTreeNode* parent, const TTsTreeNode* node);
    const TTsTreeNode* Parent;
    TS_EXCEPTION(ETsBrokenNodeRelationship)
};

class ETsMakingNodeSelfChild : public ETsTreeNode {
public:
    explicit ETsMakingNodeSelfChild(const TTsTreeNode* node);
    TS_EXCEPTION(ETsMakingNodeSelfChild)
};

class ETsMakingNodeParentNil : public ETsTreeNode {
public:
    explicit ETsMakingNodeParentNil(const TTsTreeNode* node);
    TS_EXCEPTION(ETsMakingNodeParentNil)
};

class ETsMakingLoopingTree : public ETsTreeNode {
public:
    ETsMakingLoopingTree(const TTsTreeNode* node, const TTsTreeNode* oldParent, const TTsTreeNode* newParent);
    const TTsTreeNode* OldParent;
    const TTsTreeNode* NewParent;
    TS_EXCEPTION(ETsMakingLoopingTree)
};

class ETsNodeNotPartOfPath : public ETsTreeNode {
public:
    ETsNodeNotPartOfPath(const TTsTreeNode* node, const TTsTreeNode* ancestor);
    const TTsTreeNode* Ancestor;
    TS_EXCEPTION(ETsNodeNotPartOfPath)
};

// A root was asked to move, detach or destroy itself: it belongs to whoever
// holds its unique_ptr.
class ETsRootNodeOwned : public ETsTreeNode {
public:
    ETsRootNodeOwned(const TTsTreeNode* node, std::u16string_view operation);
    TS_EXCEPTION(ETsRootNodeOwned)
};

// ---- Properties -------------------------------------------------------------

class TTsProperty : public TTsObject {
    TS_CLASS(TTsProperty)
public:
    // ETsUnownedProperty for nil.
    TTsProperty(TTsProperties* owner, std::u16string_view name) : TTsProperty(owner, TTsName(name)) {}
    TTsProperty(TTsProperties* owner, TTsName name);

    TTsProperties& Owner() const { return *owner_; }
    const WideString& Name() const { return name_.Str(); }
    TTsValue Value;

    // A collection's plain properties live in slots of blocks it allocates
    // a few at a time (a node's dozen properties cost one or two blocks
    // rather than a dozen allocations); any other property lives on the
    // heap. `delete` gives either back where it came from.
    // Not inlined, so that the compiler pairs `delete` with these and not
    // with the allocation inside them.
    [[gnu::noinline]] static void* operator new(size_t size);
    [[gnu::noinline]] static void* operator new(size_t size, TTsProperties& in);
    static void operator delete(void* p) noexcept;
    static void operator delete(void* p, TTsProperties& in) noexcept;

    WideString Describe() const override;

private:
    TTsProperties* owner_;
    // Pooled names are shared with the collection's entry key.
    TTsName name_;
};

// Sorted by name; a name occurs once. Lookups also ask "thn" listeners for
// properties that are not stored; such a property belongs to the listener.
//
// The slots of a collection's properties are counted, not owned: a block
// goes with the last of its properties or with the collection, whichever
// is later, so a property taken out of the collection stays valid. A
// node's properties are therefore made and freed on one thread at a time,
// like everything else of the node.
class TTsProperties : public TTsThinHash {
    TS_CLASS(TTsProperties)
public:
    TTsProperties() : TTsThinHash(true, TDuplicates::Replace) {}
    ~TTsProperties() override;

    // Replaces a property of the same name; ETsAddingNullProperty for NULL.
    TTsProperty* SetValue(std::u16string_view name, TTsValue value);
    // The same with a name made already: a pooled one is shared, not looked up.
    TTsProperty* SetValue(const TTsName& name, TTsValue value);
    // Room for this many properties, entries and slots, made at once.
    void Reserve(int count);
    TTsProperty* Find(std::u16string_view name) const;
    TTsProperty* Find(const TTsName& name) const;
    TTsProperty& Get(std::u16string_view name) const;  // ETsNoProperty
    bool HasKind(std::u16string_view name, uint8_t kindMask) const;
    TTsProperty* ByIndex(int index) const;
    using TTsHash::Count;
    using TTsHash::Find;

    WideString ItemText(int index, std::u16string_view contPrefix) const override;
    virtual std::unique_ptr<TTsProperty> NewProperty(const WideString& name);

private:
    friend class TTsProperty;
    // SetValue once the value and the name have passed.
    TTsProperty* Put(const TTsName& name, TTsValue value);
    void* TakeSlot();
    TTsPropertyBlock* block_ = nullptr;  // where new slots come from; counted
};

// ---- Nodes --------------------------------------------------------------------

class TTsSingleNode : public TTsObject {
    TS_CLASS(TTsSingleNode)
public:
    explicit TTsSingleNode(WideString name = {});
    ~TTsSingleNode() override;

    const WideString& Name() const { return name_.Str(); }
    virtual void SetName(WideString name) { name_ = TTsName(name); }

    TTsProperties& Props() { return props_; }
    const TTsProperties& Props() const { return props_; }
    // Listening does not change the node, so a const node can be listened to.
    // Made on first use: most nodes never have a listener.
    TTsCallbacks& Listeners() const {
        if (!listeners_) listeners_ = std::make_unique<TTsCallbacks>();
        return *listeners_;
    }
    bool HasListeners() const { return listeners_ && listeners_->Count() > 0; }

    void* UserData = nullptr;  // the application's; not owned

    WideString Describe() const override;

private:
    friend class TTsTreeNodeChildren;  // keys the entry by the node's own name
    // Private: in a tree the name is also the key of the parent's entry, so
    // it changes only through SetName.
    TTsName name_;
    // Held in place: every node has them, and a separate block per node
    // costs an allocation to make and to free.
    TTsProperties props_;
    mutable std::unique_ptr<TTsCallbacks> listeners_;
};

// Children in order; keys are the children's names, duplicates allowed.
// Only the owning node changes it; others read it and listen to it.
class TTsTreeNodeChildren : public TTsNotifyingHash {
    TS_CLASS(TTsTreeNodeChildren)
public:
    explicit TTsTreeNodeChildren(TTsTreeNode& owner) : TTsNotifyingHash(false, TDuplicates::Accept), owner_(&owner) {}
    ~TTsTreeNodeChildren() override;

    TTsTreeNode& Owner() const { return *owner_; }
    TTsTreeNode* Child(int index) const;

protected:
    void ListChanged(const TTsHashChangeInfo& change) override;

private:
    friend class TTsTreeNode;
    // Moves the node in only when the insert happens; on failure `child` keeps it.
    int Put(int index, std::unique_ptr<TObject>& child);
    void Take(int index, std::unique_ptr<TObject>& out) { ExtractInto(index, out); }
    void ClearAll() noexcept { ClearQuietly(); }

    TTsTreeNode* owner_;
};

class TTsTreeNode : public TTsSingleNode {
    TS_CLASS(TTsTreeNode)
public:
    explicit TTsTreeNode(WideString name = {});
    ~TTsTreeNode() override;

    // The factory behind AddChild: a derived node class returns its own kind.
    virtual std::unique_ptr<TTsTreeNode> NewNode(WideString name);

    TTsTreeNode* Parent() const { return parent_; }
    const TTsTreeNodeChildren& Children() const { return children_; }
    bool IsRoot() const { return parent_ == nullptr; }
    // -1 for a root; ETsBrokenNodeRelationship when the parent does not hold it.
    int IndexInParent() const;
    // Renames in place: the node keeps its position among its siblings.
    void SetName(WideString name) override;

    TTsTreeNode* AddChild(WideString name);
    // Makes a root a child of this node (appended, or placed as for Move).
    // `child` is moved from only on success.
    TTsTreeNode* AdoptChild(std::unique_ptr<TTsTreeNode>&& child, TTsTreeNode* sibling = nullptr,
                            int indexOrBefore = -1);
    void MoveTo(TTsTreeNode* newParent) { Move(newParent, nullptr, -1); }
    // With a sibling: after it when indexOrBefore is 0, else before it.
    // Without: at min(indexOrBefore, child count), or last when negative.
    void Move(TTsTreeNode* newParent, TTsTreeNode* sibling, int indexOrBefore);
    std::unique_ptr<TTsTreeNode> Detach();
    void Destroy();
    // Frees every child (and their subtrees).
    void DeleteChildren();

    // Parent, grandparent, ... up to the root.
    std::vector<TTsTreeNode*> Ancestors() const;
    // Names from below `ancestor` (nil: from the root, including its name)
    // down to this node, joined by the separator; a root (or the ancestor
    // itself) gives the separator alone.
    WideString PathFrom(const TTsTreeNode* ancestor, std::u16string_view separator) const;

    int ChildCount() const { return children_.Count(); }
    int ChildCount(std::u16string_view mask) const { return children_.Count(mask); }  // "*": all
    TTsTreeNode* ChildByIndex(int index) const { return children_.Child(index); }
    TTsTreeNode* FindChildren(std::u16string_view name, TTsHashFind& state) const;
    TTsTreeNode* NextChild(TTsHashFind& state) const;
    TTsTreeNode* FirstChild(std::u16string_view name) const;
    TTsTreeNode* LastChild(std::u16string_view name) const;
    // The first node on a path without selectors, depth first (TsNodePaths).
    TTsTreeNode* FirstOnPath(std::u16string_view path) const;

    // This node's text and then, line by line, its ancestors' up to the root.
    WideString Describe() const override;
    // One node's part of Describe; derived node classes extend this one.
    virtual WideString DescribeSelf() const;

private:
    friend class TTsTreeNodeChildren;
    void CheckNewParent(const TTsTreeNode* newParent) const;
    int PlaceIn(const TTsTreeNode* sibling, int indexOrBefore) const;
    static void Reattach(TTsTreeNode* parent, int index, std::unique_ptr<TObject>& node) noexcept;
    void DismantleSubtree() noexcept;

    TTsTreeNode* parent_ = nullptr;
    mutable int posHint_ = -1;  // last known position in the parent's Children
    TTsTreeNodeChildren children_;
};

}  // namespace ts
