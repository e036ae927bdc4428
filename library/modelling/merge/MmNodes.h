// The merge machine's building blocks: node IDs, the tagged ID list
// TMmIdList, the owning node list TMmList, the fixed-depth ID stack
// TMmIdStack and the merge node TMmNode with its cloning.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "support/Exception.h"
#include "support/Object.h"

namespace ts {

// A node ID: the index of a node in the list that holds it; -1 = none.
using TMmID = int32_t;
inline constexpr TMmID MmNoID = -1;

// Ordered node IDs, each with an 8-bit origin tag. An entry is packed into one
// 32-bit word (ID in the low 24 bits), so stored IDs are 0 to 16,777,215.
class TMmIdList : public TObject {
    TS_CLASS(TMmIdList)
public:
    static constexpr TMmID MaxID = 0xFFFFFF;

    int Count() const { return static_cast<int>(items_.size()); }
    bool IsEmpty() const { return items_.empty(); }
    TMmID ID(int i) const { return static_cast<TMmID>(At(i) & MaxID); }
    uint8_t Tag(int i) const { return static_cast<uint8_t>(At(i) >> 24); }

    // Each raises EListError for an ID that cannot be stored (-1 included)
    // and for an index out of bounds.
    void Add(TMmID id, uint8_t tag = 0);
    void Insert(int i, TMmID id, uint8_t tag = 0);
    void Put(int i, TMmID id, uint8_t tag);
    void Delete(int i);
    void Clear();
    void Reserve(int n) { items_.reserve(static_cast<size_t>(n)); }

    // False for -1.
    bool Contains(TMmID id) const;
    // Largest tag as an unsigned byte; 0 for an empty list.
    uint8_t MaxTag() const;
    void Assign(const TMmIdList& other);
    // Joins other's entries in front (prepend) or behind, giving each of
    // other's tags a new tag that this list does not use, so that the two
    // origins stay apart. EOverflow when the 255 tags run out.
    void MergeFrom(const TMmIdList& other, bool prepend);

    // Counts every change; lets a reader keep an index of the list and know
    // when it went stale.
    uint32_t Version() const { return version_; }

private:
    uint32_t At(int i) const {
        if (i < 0 || i >= Count()) BadIndex(i);
        return items_[static_cast<size_t>(i)];
    }
    uint32_t Pack(TMmID id, uint8_t tag) const;
    [[noreturn]] static void BadIndex(int i);

    std::vector<uint32_t> items_;
    uint32_t version_ = 0;
};

class TMmNode;

// An owning list of nodes indexed by ID: storing a node gives it its slot
// index as ID, and IDs never shift. With AcceptsNil, slots may stay empty.
class TMmList : public TObject {
    TS_CLASS(TMmList)
public:
    explicit TMmList(bool acceptsNil) : acceptsNil_(acceptsNil) {}
    TMmList(const TMmList&) = delete;
    TMmList& operator=(const TMmList&) = delete;

    bool AcceptsNil() const { return acceptsNil_; }
    int Count() const { return static_cast<int>(items_.size()); }
    // The node in slot i, or nil for an empty slot; EListError out of bounds.
    TMmNode* Items(int i) const {
        if (i < 0 || i >= Count()) BadIndex(i);
        return items_[static_cast<size_t>(i)].get();
    }
    // EListError for an empty slot too.
    TMmNode& operator[](int i) const {
        TMmNode* node = Items(i);
        if (!node) EmptySlot(i);
        return *node;
    }

    // Appends a slot and stores node in it; returns the node (nil when an
    // empty slot was added). The slot is dropped again when storing fails.
    TMmNode* Add(std::unique_ptr<TMmNode> node);
    // Stores node in the empty slot i and sets its ID to i.
    void Put(int i, std::unique_ptr<TMmNode> node);
    // Frees the node in slot i; the last slot is removed, others are emptied.
    void Delete(int i);
    void Reserve(int n) { items_.reserve(static_cast<size_t>(n)); }

private:
    [[noreturn]] static void BadIndex(int i);
    [[noreturn]] void EmptySlot(int i) const;

    bool acceptsNil_;
    std::vector<std::unique_ptr<TMmNode>> items_;
};

// IDs of the nodes being merged, innermost on top. Its fixed depth bounds
// how deeply merges may nest.
class TMmIdStack : public TObject {
    TS_CLASS(TMmIdStack)
public:
    static constexpr int MaxDepth = 4096;

    int Count() const { return count_; }
    void Push(TMmID id);  // EListError "Too deep ..." when full
    TMmID Pop();          // EListError "Broken ..." when empty
    TMmID Top() const { return count_ > 0 ? items_[static_cast<size_t>(count_ - 1)] : MmNoID; }
    TMmID Item(int i) const { return i >= 0 && i < count_ ? items_[static_cast<size_t>(i)] : MmNoID; }

private:
    std::array<TMmID, MaxDepth> items_{};
    int count_ = 0;
};

// One node of the merge: its place in the tree, its origin, its children
// before and after merging, and its merge references.
class TMmNode : public TObject {
    TS_CLASS(TMmNode)
public:
    TMmNode() = default;
    TMmNode(const TMmNode&) = delete;
    TMmNode& operator=(const TMmNode&) = delete;

    TMmID ID = MmNoID;
    TMmID Parent = MmNoID;
    TMmID Ancestor = MmNoID;    // merged nodes only: the node inherited from
    TMmIdList CopiedFrom;       // the whole chain of nodes this one was copied from
    TMmIdList Overlays;         // earlier siblings this node overlaid
    TMmIdList Children;         // final children with origin tags
    TMmIdList DefinedChildren;  // children as defined, with origin tags
    WideString Name;            // compared exactly, case-sensitive
    bool IsInheriting = false;
    bool IsPrepending = false;
    bool IsOffContext = false;
    bool IsMerged = false;
    TMmList LeftMerges{false};  // merge references; their Name names the target
    TMmList RightMerges{false};
    TObject* Data = nullptr;  // the owner's record for this node; not owned

    // A fresh unstored node (ID and Ancestor -1, not merged, no Children or
    // Overlays) with this node's place, copy chain, defined children, name,
    // flags, Data and its own copies of the merge references.
    std::unique_ptr<TMmNode> Clone() const;
};

}  // namespace ts
