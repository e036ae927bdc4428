// The merge machine's lists, stack and nodes.
#include "library/modelling/merge/MmNodes.h"

#include <algorithm>
#include <bitset>

namespace ts {

// ---- TMmIdList ------------------------------------------------------------

void TMmIdList::BadIndex(int i) { throw EListError(Format(u"List index out of bounds (%d).", {i})); }

uint32_t TMmIdList::Pack(TMmID id, uint8_t tag) const {
    // An ID outside 24 bits would be silently cut to another node's ID.
    if (id < 0 || id > MaxID) throw EListError(Format(u"%s cannot store ID = %d.", {this, id}));
    return static_cast<uint32_t>(id) | (static_cast<uint32_t>(tag) << 24);
}

void TMmIdList::Add(TMmID id, uint8_t tag) {
    items_.push_back(Pack(id, tag));
    ++version_;
}

void TMmIdList::Insert(int i, TMmID id, uint8_t tag) {
    uint32_t packed = Pack(id, tag);
    if (i < 0 || i > Count()) BadIndex(i);
    items_.insert(items_.begin() + i, packed);
    ++version_;
}

void TMmIdList::Put(int i, TMmID id, uint8_t tag) {
    uint32_t packed = Pack(id, tag);
    if (i < 0 || i >= Count()) BadIndex(i);
    items_[static_cast<size_t>(i)] = packed;
    ++version_;
}

void TMmIdList::Delete(int i) {
    if (i < 0 || i >= Count()) BadIndex(i);
    items_.erase(items_.begin() + i);
    ++version_;
}

void TMmIdList::Clear() {
    items_.clear();
    ++version_;
}

bool TMmIdList::Contains(TMmID id) const {
    if (id < 0 || id > MaxID) return false;
    for (uint32_t e : items_)
        if (static_cast<TMmID>(e & MaxID) == id) return true;
    return false;
}

uint8_t TMmIdList::MaxTag() const {
    uint32_t m = 0;
    for (uint32_t e : items_) m = std::max(m, e >> 24);
    return static_cast<uint8_t>(m);
}

void TMmIdList::Assign(const TMmIdList& other) {
    if (&other == this) return;
    items_ = other.items_;
    ++version_;
}

void TMmIdList::MergeFrom(const TMmIdList& other, bool prepend) {
    if (items_.empty()) {
        Assign(other);
        return;
    }
    std::bitset<256> used, wanted;
    for (uint32_t e : items_) used.set(e >> 24);
    for (uint32_t e : other.items_) wanted.set(e >> 24);
    // Other's tags in ascending order each take the next number that this
    // list does not use; 255 is never handed out.
    std::array<uint8_t, 256> newTag{};
    int counter = 0;
    for (int t = 0; t < 256; ++t) {
        if (!wanted.test(static_cast<size_t>(t))) continue;
        while (true) {
            if (counter >= 255) throw EOverflow(Format(u"Origins pool exhaused when merging two %s.", {this}));
            if (!used.test(static_cast<size_t>(counter))) break;
            ++counter;
        }
        newTag[static_cast<size_t>(t)] = static_cast<uint8_t>(counter++);
    }
    std::vector<uint32_t> moved;
    moved.reserve(other.items_.size());
    for (uint32_t e : other.items_) moved.push_back((e & MaxID) | (static_cast<uint32_t>(newTag[e >> 24]) << 24));
    items_.insert(prepend ? items_.begin() : items_.end(), moved.begin(), moved.end());
    ++version_;
}

// ---- TMmList --------------------------------------------------------------

void TMmList::BadIndex(int i) { throw EListError(Format(u"List index out of bounds (%d).", {i})); }

void TMmList::EmptySlot(int i) const { throw EListError(Format(u"%s.Items[%d] is empty.", {this, i})); }

TMmNode* TMmList::Add(std::unique_ptr<TMmNode> node) {
    int i = Count();
    items_.emplace_back();
    if (!node && acceptsNil_) return nullptr;
    try {
        Put(i, std::move(node));
    } catch (...) {
        items_.pop_back();
        throw;
    }
    return items_.back().get();
}

void TMmList::Put(int i, std::unique_ptr<TMmNode> node) {
    if (i < 0 || i >= Count()) BadIndex(i);
    if (!node) throw EListError(Format(u"%s.Items[%d] cannot be set to nil.", {this, i}));
    auto& slot = items_[static_cast<size_t>(i)];
    if (slot) throw EListError(Format(u"Cannot replace %s at %d in %s.", {node.get(), i, this}));
    if (node->ID != MmNoID)
        throw EListError(
            Format(u"%s must be unassigned (ID = -1) before writing to %s.Items[%d].", {node.get(), this, i}));
    node->ID = i;
    slot = std::move(node);
}

void TMmList::Delete(int i) {
    if (!acceptsNil_) throw EListError(Format(u"Cannot delete item %d because %s doesn't accept nil.", {i, this}));
    if (i < 0 || i >= Count()) BadIndex(i);
    if (i == Count() - 1)
        items_.pop_back();
    else
        items_[static_cast<size_t>(i)].reset();
}

// ---- TMmIdStack -------------------------------------------------------------

void TMmIdStack::Push(TMmID id) {
    if (count_ >= MaxDepth) throw EListError(Format(u"Too deep %s.", {this}));
    items_[static_cast<size_t>(count_++)] = id;
}

TMmID TMmIdStack::Pop() {
    if (count_ <= 0) throw EListError(Format(u"Broken %s.", {this}));
    return items_[static_cast<size_t>(--count_)];
}

// ---- TMmNode ----------------------------------------------------------------

std::unique_ptr<TMmNode> TMmNode::Clone() const {
    auto n = std::make_unique<TMmNode>();
    n->Parent = Parent;
    n->CopiedFrom.Assign(CopiedFrom);
    n->DefinedChildren.Assign(DefinedChildren);
    n->Name = Name;
    n->IsInheriting = IsInheriting;
    n->IsPrepending = IsPrepending;
    n->IsOffContext = IsOffContext;
    n->Data = Data;
    for (const TMmList* from : {&LeftMerges, &RightMerges}) {
        TMmList& to = from == &LeftMerges ? n->LeftMerges : n->RightMerges;
        to.Reserve(from->Count());
        for (int i = 0; i < from->Count(); ++i) to.Add((*from)[i].Clone());
    }
    return n;
}

}  // namespace ts
