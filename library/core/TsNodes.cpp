// Tree nodes and properties: ownership moves, listener events, paths of
// names and debugging descriptions.
#include "library/core/TsNodes.h"

#include <algorithm>
#include <cstddef>
#include <new>
#include <typeinfo>

#include "support/Strings.h"

namespace ts {

// ---- Errors -------------------------------------------------------------

ETsUnownedProperty::ETsUnownedProperty(const TTsProperty* prop)
    : ETsProperties(nullptr, u"%s is not attached to any TTsProperties object.", {prop}) {}

ETsNoProperty::ETsNoProperty(const TTsProperties* props, std::u16string_view name)
    : ETsProperties(props, u"Property '%s' is undefined on %s.", {name, props}), Name(name) {}

ETsAddingNullProperty::ETsAddingNullProperty(const TTsProperties* props, std::u16string_view name)
    : ETsProperties(props, u"Attempted to add a null property '%s' to %s.", {name, props}), Name(name) {}

ETsTreeNode::ETsTreeNode(const TTsTreeNode* node, std::u16string_view format, FormatArgs args)
    : ETsNode(format, args), Node(node) {}

ETsBrokenNodeRelationship::ETsBrokenNodeRelationship(const TTsTreeNode* parent, const TTsTreeNode* node)
    : ETsTreeNode(node, u"Parent %s is indicated to contain the %s but it turned out to be not so.", {parent, node}),
      Parent(parent) {}

ETsMakingNodeSelfChild::ETsMakingNodeSelfChild(const TTsTreeNode* node)
    : ETsTreeNode(node, u"Attempted to move %s to its own children.", {node}) {}

ETsMakingNodeParentNil::ETsMakingNodeParentNil(const TTsTreeNode* node)
    : ETsTreeNode(node, u"Attempted to move %s to nil parent.", {node}) {}

ETsMakingLoopingTree::ETsMakingLoopingTree(const TTsTreeNode* node, const TTsTreeNode* oldParent,
                                           const TTsTreeNode* newParent)
    : ETsTreeNode(node, u"Attempted to create recursive tree by moving %s from %s to %s.",
                  {node, oldParent, newParent}),
      OldParent(oldParent),
      NewParent(newParent) {}

ETsNodeNotPartOfPath::ETsNodeNotPartOfPath(const TTsTreeNode* node, const TTsTreeNode* ancestor)
    : ETsTreeNode(node, u"Parents of %s do not contain required %s.", {node, ancestor}), Ancestor(ancestor) {}

ETsRootNodeOwned::ETsRootNodeOwned(const TTsTreeNode* node, std::u16string_view operation)
    : ETsTreeNode(node, u"Cannot %s root %s: it belongs to whoever holds it.", {operation, node}) {}

// ---- Properties -------------------------------------------------------------

TTsProperty::TTsProperty(TTsProperties* owner, TTsName name) : owner_(owner), name_(std::move(name)) {
    if (!owner) throw ETsUnownedProperty(this);
}

WideString TTsProperty::Describe() const { return TTsObject::Describe() + u" " + Name() + u":" + Value.DumpText(true); }

// ---- Property slots ------------------------------------------------------------
//
// Every property's memory starts right after one word naming its block, or
// nil for the heap; a free slot's object space links it to the next free one.

struct TTsPropertyBlock {
    struct Slot {
        TTsPropertyBlock* Block;
        union {
            Slot* NextFree;
            alignas(TTsProperty) unsigned char Object[sizeof(TTsProperty)];
        };
    };
    static_assert(offsetof(Slot, Object) == sizeof(void*));

    uint32_t Refs = 1;  // the collection's, while it draws from the block, and one per live slot
    uint32_t Capacity;
    uint32_t Used = 0;  // slots ever handed out; those below are live or free
    Slot* Free = nullptr;

    explicit TTsPropertyBlock(uint32_t capacity) : Capacity(capacity) {}
    Slot* Slots() { return reinterpret_cast<Slot*>(this + 1); }
    bool Full() const { return !Free && Used == Capacity; }

    static TTsPropertyBlock* Make(uint32_t capacity) {
        void* memory = ::operator new(sizeof(TTsPropertyBlock) + capacity * sizeof(Slot));
        return new (memory) TTsPropertyBlock(capacity);
    }
    void Release() noexcept {
        if (--Refs == 0) {
            this->~TTsPropertyBlock();
            ::operator delete(this);
        }
    }
};

namespace {

// Heap properties keep the default new alignment, for derived classes.
constexpr size_t kHeapHeader = __STDCPP_DEFAULT_NEW_ALIGNMENT__;
static_assert(kHeapHeader >= sizeof(void*));

// Blocks double (2, 4, 8 ...: a result node's six spans take two, a model
// line's dozen properties three) up to a size past which one spare block
// wastes more than the allocations it spares.
constexpr uint32_t kFirstBlock = 2, kLargestBlock = 8;

}  // namespace

void* TTsProperty::operator new(size_t size) {
    auto* base = static_cast<unsigned char*>(::operator new(size + kHeapHeader));
    unsigned char* object = base + kHeapHeader;
    reinterpret_cast<TTsPropertyBlock**>(object)[-1] = nullptr;
    return object;
}

void* TTsProperty::operator new(size_t size, TTsProperties& in) {
    // Derived classes are bigger than a slot.
    if (size != sizeof(TTsProperty)) return operator new(size);
    return in.TakeSlot();
}

void TTsProperty::operator delete(void* p) noexcept {
    if (!p) return;
    TTsPropertyBlock* block = static_cast<TTsPropertyBlock**>(p)[-1];
    if (!block) {
        ::operator delete(static_cast<unsigned char*>(p) - kHeapHeader);
        return;
    }
    auto* slot = reinterpret_cast<TTsPropertyBlock::Slot*>(static_cast<unsigned char*>(p) - sizeof(void*));
    slot->NextFree = block->Free;
    block->Free = slot;
    block->Release();
}

void TTsProperty::operator delete(void* p, TTsProperties&) noexcept { operator delete(p); }

void* TTsProperties::TakeSlot() {
    if (!block_ || block_->Full()) {
        const uint32_t capacity = block_ ? std::min(block_->Capacity * 2, kLargestBlock) : kFirstBlock;
        if (block_) block_->Release();
        block_ = TTsPropertyBlock::Make(capacity);
    }
    TTsPropertyBlock& b = *block_;
    TTsPropertyBlock::Slot* slot = b.Free;
    if (slot)
        b.Free = slot->NextFree;
    else
        slot = &b.Slots()[b.Used++];
    slot->Block = &b;
    ++b.Refs;
    return slot->Object;
}

void TTsProperties::Reserve(int count) {
    TTsHash::Reserve(count);
    const int missing = count - Count();
    if (missing <= 0) return;
    if (block_) {
        int room = static_cast<int>(block_->Capacity - block_->Used);
        for (auto* f = block_->Free; f && room < missing; f = f->NextFree) ++room;
        if (room >= missing) return;
        block_->Release();
    }
    block_ = TTsPropertyBlock::Make(static_cast<uint32_t>(missing));
}

TTsProperties::~TTsProperties() {
    // The entries (and the properties in them) go after this, with the base;
    // the block stays until its last property has gone.
    if (block_) block_->Release();
}

std::unique_ptr<TTsProperty> TTsProperties::NewProperty(const WideString& name) {
    return std::make_unique<TTsProperty>(this, name);
}

TTsProperty* TTsProperties::SetValue(std::u16string_view name, TTsValue value) {
    if (value.IsNull()) throw ETsAddingNullProperty(this, name);
    CheckKey(name);
    return Put(TTsName(name), std::move(value));
}

TTsProperty* TTsProperties::SetValue(const TTsName& name, TTsValue value) {
    if (value.IsNull()) throw ETsAddingNullProperty(this, name.View());
    CheckKey(name.View());
    return Put(name, std::move(value));
}

TTsProperty* TTsProperties::Put(const TTsName& name, TTsValue value) {
    // A plain collection makes plain properties, in its slots: the name is
    // then made once and, when pooled, shared by the property and its entry.
    std::unique_ptr<TTsProperty> prop = typeid(*this) == typeid(TTsProperties)
                                            ? std::unique_ptr<TTsProperty>(new (*this) TTsProperty(this, name))
                                            : NewProperty(name.Str());
    prop->Value = std::move(value);
    TTsProperty* raw = prop.get();
    AddChecked(name, {}, std::move(prop));
    return raw;
}

namespace {

// Entries are nearly always plain properties: an exact type match spares
// the full cast.
TTsProperty* AsProperty(TObject* obj) {
    if (obj && typeid(*obj) == typeid(TTsProperty)) return static_cast<TTsProperty*>(obj);
    return dynamic_cast<TTsProperty*>(obj);
}

}  // namespace

TTsProperty* TTsProperties::Find(const TTsName& name) const {
    const int i = IndexOf(name);
    if (i >= 0) return AsProperty(Object(i));
    // Only listeners can still supply it.
    return HasListeners() ? Find(name.View()) : nullptr;
}

TTsProperty* TTsProperties::Find(std::u16string_view name) const {
    int i = IndexOf(name);
    if (i >= 0) return AsProperty(Object(i));
    if (!HasListeners()) return nullptr;
    // Asking "thn" listeners changes no entry of ours.
    TObject* supplied = nullptr;
    if (!const_cast<TTsProperties*>(this)->ThinFind(name, nullptr, &supplied)) return nullptr;
    return dynamic_cast<TTsProperty*>(supplied);
}

TTsProperty& TTsProperties::Get(std::u16string_view name) const {
    TTsProperty* p = Find(name);
    if (!p) throw ETsNoProperty(this, name);
    return *p;
}

bool TTsProperties::HasKind(std::u16string_view name, uint8_t kindMask) const {
    TTsProperty* p = Find(name);
    return p && (p->Value.Kinds & kindMask) != 0;
}

TTsProperty* TTsProperties::ByIndex(int index) const { return AsProperty(Object(index)); }

WideString TTsProperties::ItemText(int index, std::u16string_view contPrefix) const {
    WideString s = TTsHash::ItemText(index, contPrefix) + u"  ";
    TObject* obj = Object(index);
    if (!obj) return s + u"nil property object!";
    auto* prop = dynamic_cast<TTsProperty*>(obj);
    if (!prop) return s + u"wrong prop obj class (" + WideString(obj->ClassName()) + u")!";
    return s + prop->Describe();
}

// ---- TTsSingleNode ----------------------------------------------------------------

TTsSingleNode::TTsSingleNode(WideString name) : name_(name) {}

TTsSingleNode::~TTsSingleNode() = default;

WideString TTsSingleNode::Describe() const {
    WideString s = TTsObject::Describe() + u" " + Name() + u" l" + IntToStr(listeners_ ? listeners_->Count() : 0) +
                   u" p" + IntToStr(props_.Count());
    // Only a stored "source": describing must not call out to listeners.
    int i = props_.IndexOf(u"source");
    if (const TTsProperty* src = i >= 0 ? props_.ByIndex(i) : nullptr; src && src->Value.Has(vkString | vkInt)) {
        s += u" <";
        if (src->Value.Has(vkInt)) s += IntToStr(src->Value.Int) + u"@";
        if (src->Value.Has(vkString)) s += src->Value.Str;
    }
    return s;
}

// ---- TTsTreeNodeChildren ------------------------------------------------------------

TTsTreeNodeChildren::~TTsTreeNodeChildren() {
    // Our own ListChanged must still run: it resets the children's parent.
    ClearQuietly();
}

TTsTreeNode* TTsTreeNodeChildren::Child(int index) const { return static_cast<TTsTreeNode*>(Object(index)); }

int TTsTreeNodeChildren::Put(int index, std::unique_ptr<TObject>& child) {
    auto* node = static_cast<TTsTreeNode*>(child.get());
    // Checked before the hand-over so that a bad name leaves the node with its holder.
    CheckKey(node->Name());
    return InsertAt(index, node->name_, {}, std::move(child));
}

void TTsTreeNodeChildren::ListChanged(const TTsHashChangeInfo& c) {
    TTsTreeNode* child = static_cast<TTsTreeNode*>(c.Obj);
    if (!child) {  // whole-list changes name no child
        TTsNotifyingHash::ListChanged(c);
        return;
    }
    // The parent link follows the entry before anybody hears of the change.
    if (c.Code == TTsHashChange::Inserted) {
        child->parent_ = owner_;
        child->posHint_ = c.Index1;
    } else if (c.Code == TTsHashChange::Deleted) {
        child->parent_ = nullptr;
    }
    WideString oldKey, newKey;
    if (c.Code == TTsHashChange::TextReplaced) {
        oldKey = c.OldKey;
        newKey = c.Key;
    }
    TTsNotifyingHash::ListChanged(c);
    if (!child->HasListeners()) return;
    TTsCallbacks& listeners = child->Listeners();
    TTsValue unused;
    switch (c.Code) {
        case TTsHashChange::Inserted: {
            TTsArg args[] = {static_cast<TObject*>(owner_), nullptr};
            listeners.Notify(u"ad", *child, args, unused);
            break;
        }
        case TTsHashChange::Deleted: {
            TTsArg args[] = {nullptr, static_cast<TObject*>(owner_)};
            listeners.Notify(u"rm", *child, args, unused);
            break;
        }
        case TTsHashChange::TextReplaced:
            if (oldKey != newKey) {
                TTsArg args[] = {oldKey, newKey};
                listeners.Notify(u"skey", *child, args, unused);
            }
            break;
        default:
            break;
    }
}

// ---- TTsTreeNode: life ----------------------------------------------------------------

TTsTreeNode::TTsTreeNode(WideString name) : TTsSingleNode(std::move(name)), children_(*this) {}

TTsTreeNode::~TTsTreeNode() { DismantleSubtree(); }

std::unique_ptr<TTsTreeNode> TTsTreeNode::NewNode(WideString name) {
    return std::make_unique<TTsTreeNode>(std::move(name));
}

void TTsTreeNode::DismantleSubtree() noexcept {
    // Children go before their parent, depth first, using a heap stack: a
    // node's children are cleared only once all of them are leaves, so no
    // destructor below this one has anything left to recurse into.
    struct Frame {
        TTsTreeNode* Node;
        int Next;
    };
    // Most nodes are leaves: they need no stack at all.
    if (children_.Count() == 0) return;
    std::vector<Frame> stack;
    stack.push_back({this, 0});
    while (!stack.empty()) {
        Frame& top = stack.back();
        TTsTreeNodeChildren& ch = top.Node->children_;
        if (top.Next < ch.Count()) {
            TTsTreeNode* c = ch.Child(top.Next++);
            if (c->children_.Count() > 0) stack.push_back({c, 0});
            continue;
        }
        ch.ClearAll();
        stack.pop_back();
    }
}

// ---- TTsTreeNode: relations ----------------------------------------------------------

int TTsTreeNode::IndexInParent() const {
    if (!parent_) return -1;
    const TTsTreeNodeChildren& ch = parent_->children_;
    int n = ch.Count();
    if (posHint_ >= 0 && posHint_ < n && ch.Object(posHint_) == this) return posHint_;
    if (n > 0 && ch.Object(n - 1) == this) return posHint_ = n - 1;
    // Siblings of the same name first: that is where the entry should be.
    for (int i = ch.IndexOf(Name()); i >= 0; i = ch.NextIndexOf(i))
        if (ch.Object(i) == this) return posHint_ = i;
    int i = ch.IndexOfObject(this);
    if (i < 0) throw ETsBrokenNodeRelationship(parent_, this);
    return posHint_ = i;
}

void TTsTreeNode::SetName(WideString name) {
    if (!parent_) {
        TTsSingleNode::SetName(std::move(name));
        return;
    }
    int index = IndexInParent();
    // A bad name must fail before anything changes.
    parent_->children_.CheckKey(name);
    TTsSingleNode::SetName(std::move(name));
    parent_->children_.SetKey(index, Name());
}

void TTsTreeNode::CheckNewParent(const TTsTreeNode* newParent) const {
    if (!newParent) throw ETsMakingNodeParentNil(this);
    if (newParent == this) throw ETsMakingNodeSelfChild(this);
    // A node without children is nobody's ancestor: appending fresh nodes
    // under a deep node must not walk up to the root every time.
    if (children_.Count() == 0) return;
    for (const TTsTreeNode* p = newParent->parent_; p; p = p->parent_)
        if (p == this) throw ETsMakingLoopingTree(this, parent_, newParent);
}

int TTsTreeNode::PlaceIn(const TTsTreeNode* sibling, int indexOrBefore) const {
    int count = children_.Count();
    if (sibling) {
        if (sibling->parent_ != this) throw ETsBrokenNodeRelationship(this, sibling);
        return sibling->IndexInParent() + (indexOrBefore == 0 ? 1 : 0);
    }
    if (indexOrBefore >= 0) return std::min(indexOrBefore, count);
    return count;
}

void TTsTreeNode::Reattach(TTsTreeNode* parent, int index, std::unique_ptr<TObject>& node) noexcept {
    try {
        parent->children_.Put(std::min(index, parent->children_.Count()), node);
    } catch (...) {
        // Nowhere left to put it: it goes with `node`.
    }
}

TTsTreeNode* TTsTreeNode::AdoptChild(std::unique_ptr<TTsTreeNode>&& child, TTsTreeNode* sibling, int indexOrBefore) {
    if (!child) throw EInvalidArgument(u"AdoptChild was given no node.");
    TTsTreeNode* node = child.get();
    node->CheckNewParent(this);
    if (node->parent_) throw ETsBrokenNodeRelationship(node->parent_, node);  // not a root after all
    int at = PlaceIn(sibling, indexOrBefore);
    std::unique_ptr<TObject> holder(child.release());
    try {
        children_.Put(at, holder);
    } catch (...) {
        if (holder) child.reset(static_cast<TTsTreeNode*>(holder.release()));
        throw;
    }
    return node;
}

TTsTreeNode* TTsTreeNode::AddChild(WideString name) { return AdoptChild(NewNode(std::move(name))); }

void TTsTreeNode::Move(TTsTreeNode* newParent, TTsTreeNode* sibling, int indexOrBefore) {
    CheckNewParent(newParent);
    if (!parent_) throw ETsRootNodeOwned(this, u"move");
    if (newParent == parent_ && parent_->children_.Count() < 2) {
        if (parent_->children_.Count() == 0 || sibling) throw ETsBrokenNodeRelationship(parent_, this);
        return;  // the only child stays where it is
    }
    if (sibling && (sibling == this || sibling->parent_ != newParent))
        throw ETsBrokenNodeRelationship(newParent, sibling);
    // Refused before the node leaves its place, so it never needs putting back.
    newParent->children_.CheckKey(Name());
    TTsTreeNode* oldParent = parent_;
    int oldIndex = IndexInParent();
    // From here `self` owns this node whenever it is in no collection; should
    // putting it back fail as well, the node is freed with `self` (this
    // function touches no member after that).
    std::unique_ptr<TObject> self;
    try {
        oldParent->children_.Take(oldIndex, self);
        newParent->children_.Put(newParent->PlaceIn(sibling, indexOrBefore), self);
    } catch (...) {
        if (self) Reattach(oldParent, oldIndex, self);
        throw;
    }
}

std::unique_ptr<TTsTreeNode> TTsTreeNode::Detach() {
    if (!parent_) throw ETsRootNodeOwned(this, u"detach");
    TTsTreeNode* oldParent = parent_;
    int index = IndexInParent();
    std::unique_ptr<TObject> self;
    try {
        oldParent->children_.Take(index, self);
    } catch (...) {
        if (self) Reattach(oldParent, index, self);
        throw;
    }
    return std::unique_ptr<TTsTreeNode>(static_cast<TTsTreeNode*>(self.release()));
}

void TTsTreeNode::Destroy() {
    if (!parent_) throw ETsRootNodeOwned(this, u"destroy");
    parent_->children_.Delete(IndexInParent());
}

void TTsTreeNode::DeleteChildren() {
    // Each child dismantles its own subtree without recursion.
    children_.Clear();
}

// ---- TTsTreeNode: queries ---------------------------------------------------------------

std::vector<TTsTreeNode*> TTsTreeNode::Ancestors() const {
    std::vector<TTsTreeNode*> list;
    for (TTsTreeNode* p = parent_; p; p = p->parent_) list.push_back(p);
    return list;
}

WideString TTsTreeNode::PathFrom(const TTsTreeNode* ancestor, std::u16string_view separator) const {
    std::vector<const WideString*> names;
    const TTsTreeNode* cur = this;
    for (; cur && cur != ancestor; cur = cur->parent_) names.push_back(&cur->Name());
    if (!cur && ancestor) throw ETsNodeNotPartOfPath(this, ancestor);
    if (!parent_ || this == ancestor) return WideString(separator);
    WideString path;
    for (auto it = names.rbegin(); it != names.rend(); ++it) {
        if (it != names.rbegin()) path += separator;
        path += **it;
    }
    return path;
}

TTsTreeNode* TTsTreeNode::FindChildren(std::u16string_view name, TTsHashFind& state) const {
    children_.Find(name, state);
    return NextChild(state);
}

TTsTreeNode* TTsTreeNode::NextChild(TTsHashFind& state) const {
    int i = children_.Next(state);
    return i < 0 ? nullptr : children_.Child(i);
}

TTsTreeNode* TTsTreeNode::FirstChild(std::u16string_view name) const {
    int i = children_.IndexOf(name);
    return i < 0 ? nullptr : children_.Child(i);
}

TTsTreeNode* TTsTreeNode::LastChild(std::u16string_view name) const {
    int i = children_.LastIndexOf(name);
    return i < 0 ? nullptr : children_.Child(i);
}

WideString TTsTreeNode::DescribeSelf() const { return TTsSingleNode::Describe() + u" c" + IntToStr(children_.Count()); }

WideString TTsTreeNode::Describe() const {
    // Iterative: a long chain of parents must not deepen the stack.
    WideString s;
    for (const TTsTreeNode* n = this; n; n = n->parent_) {
        s += n->DescribeSelf();
        s += n->parent_ ? u" child of...\r\n" : u" ROOT!";
    }
    return s;
}

}  // namespace ts
