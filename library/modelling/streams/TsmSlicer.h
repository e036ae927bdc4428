// TTsmSlicer: the result of a modelling run. It keeps the result tree and
// every stream the result's span properties point into, and reads the text
// of any span back ("slicing" the input), by value, by node and property,
// or by a text path such as "header\version$start".
#pragma once

#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "library/core/TsBase.h"
#include "library/core/TsNodes.h"
#include "library/modelling/streams/BufStream.h"
#include "library/modelling/streams/TsInputStreams.h"

namespace ts {

class TTsmSlicer;

class ETsmSlicer : public ETessarine {
public:
    ETsmSlicer(const TTsmSlicer* slicer, std::u16string_view format, FormatArgs args)
        : ETessarine(format, args), Slicer(slicer) {}
    const TTsmSlicer* Slicer;  // borrowed
    TS_EXCEPTION(ETsmSlicer)
};

class ETsmWrongPropStream : public ETsmSlicer {
public:
    ETsmWrongPropStream(const TTsmSlicer* slicer, const TObject* stream);
    const TObject* Stream;  // borrowed
    TS_EXCEPTION(ETsmWrongPropStream)
};

class ETsmPropWithoutStreamData : public ETsmSlicer {
public:
    explicit ETsmPropWithoutStreamData(const TTsmSlicer* slicer);
    TS_EXCEPTION(ETsmPropWithoutStreamData)
};

// Where a span starts: its stream, positioned at the span's offset, and its length.
struct TTsmSpanPosition {
    TStream* Stream = nullptr;
    int64_t Length = 0;
};

class TTsmSlicer : public TTsObject {
    TS_CLASS(TTsmSlicer)
public:
    static constexpr std::u16string_view DefaultPropName = u"innerGlobal";
    static constexpr int64_t NoLimit = std::numeric_limits<int64_t>::max();

    // Keeps stream (borrowed; may be null) and owns resultRoot when given.
    explicit TTsmSlicer(TStream* stream, std::unique_ptr<TTsTreeNode> resultRoot = nullptr);
    ~TTsmSlicer() override;

    // ---- The result tree
    TTsTreeNode* ResultRoot() const { return root_; }
    bool OwnsResult() const { return ownedRoot_ != nullptr; }
    // Takes the tree over (freed with the slicer).
    void SetResultRoot(std::unique_ptr<TTsTreeNode> node);
    // Uses a tree someone else owns (an owned tree held before is freed).
    void SetBorrowedResultRoot(TTsTreeNode* node);
    // Hands the owned tree to the caller; the slicer keeps reading it, borrowed.
    std::unique_ptr<TTsTreeNode> ReleaseResultRoot();

    // Where text paths start: the result root unless set.
    TTsTreeNode* ContextNode() const { return context_ ? context_ : root_; }
    void SetContextNode(TTsTreeNode* node) { context_ = node; }
    // The property a text path reads when it names none: "innerGlobal" unless set.
    const WideString& DefaultProp() const { return defaultProp_; }
    void SetDefaultProp(std::u16string_view name);

    // ---- Streams
    // Keeps a stream the result may refer to, borrowed or owned.
    TBufStream& AddStream(TStream& stream);
    TBufStream& AddStream(std::unique_ptr<TStream> stream);
    int StreamCount() const { return static_cast<int>(streams_.size()); }
    TBufStream& BufStream(int i) const { return *streams_.at(static_cast<size_t>(i)); }
    // The buffered reader over stream, or null when the slicer does not hold
    // it or holds it as a view.
    TBufStream* FindStream(const TObject* stream) const;
    // A view of size bytes at data, kept with the result like every stream.
    // Views cost neither a copy of their bytes nor a buffered reader nor an
    // index entry of their own, since a run may make one per input line;
    // the bytes must outlive the slicer.
    TTsMemoryView& AddView(const char* data, int64_t size);
    int ViewCount() const { return viewCount_; }
    // The view at that address when the slicer made it, else null. The
    // address is only compared, never followed, so any pointer may be asked.
    TTsMemoryView* FindView(const TObject* stream) const;
    // Whether spans into stream can be read here (a stream or a view).
    bool Holds(const TObject* stream) const { return FindStream(stream) || FindView(stream); }
    // Frees a held stream (an owned one with its buffered reader) or a view;
    // false when the slicer does not hold it. Spans into it cannot be read
    // afterwards (ETsmWrongPropStream), so only streams no live node refers
    // to may go. A view's address is not reused while its block lives.
    bool RemoveStream(const TObject* stream);
    // Frees every held stream and view but those in keep: what a streaming
    // run does once the records that used them are gone.
    void RemoveStreamsExcept(const std::vector<const TObject*>& keep);

    // ---- Spans
    // A span value: offset and length within stream.
    // The kinds a span value holds: offset (Int), length (Float), stream (Obj).
    static constexpr uint8_t SpanKinds = vkInt | vkFloat | vkObject | vkSpan;
    static TTsValue MakeSpan(int32_t offset, int64_t length, TStream* stream);
    // The value carries integer, float, object and span kinds.
    static bool HasStreamData(const TTsValue& value);
    // -1 without stream data.
    static int64_t SpanOffset(const TTsValue& value);
    // -1 without stream data; a negative or non-numeric length counts as 0.
    static int64_t SpanLength(const TTsValue& value);

    // The span's bytes, at most maxLength of them; empty without stream data.
    // Raises ETsmWrongPropStream when the span's stream is not held here.
    RawByteString ReadSpan(const TTsValue& value, int64_t maxLength = NoLimit);
    // The span's stream moved to the span's offset, and the span's length.
    // Raises ETsmPropWithoutStreamData or ETsmWrongPropStream.
    TTsmSpanPosition SpanPosition(const TTsValue& value);
    // A read-only stream over exactly the span (cut at the end of its
    // stream). It borrows the span's stream, so it must not outlive the
    // slicer. Same errors as SpanPosition.
    std::unique_ptr<TTsRestrictedStream> OpenSpan(const TTsValue& value);

    // The text of a node's span property; empty when node is null or lacks it.
    RawByteString TextOfNode(const TTsTreeNode* node, std::u16string_view propName, int64_t maxLength = NoLimit);
    // The text at "node\path$prop" from the context node; without "$prop"
    // (or with a lone "$") the default property is read. A path that leads
    // to no node gives empty text; malformed paths raise the path errors.
    RawByteString TextOf(std::u16string_view textPath);

    // Reads one property's text from stream through a temporary slicer; the
    // stream's position is left as it was.
    static RawByteString ReadPropText(TStream& stream, const TTsTreeNode* node, std::u16string_view propName);

private:
    TBufStream& Keep(std::unique_ptr<TBufStream> buf);
    TBufStream& StreamOf(const TTsValue& value);
    // The stream a span reads, moved to its offset: a held stream's own, or a view.
    TStream& SeekSpan(const TTsValue& value);

    // Views live in blocks that never reallocate, each larger than the one
    // before; blocks are found by their start address. A removed view stays
    // in its block, marked, until every view of the block is removed.
    struct TViewBlock {
        std::vector<TTsMemoryView> Views;
        std::vector<bool> Removed;
        size_t Live = 0;
    };
    TTsMemoryView* ViewAt(const TObject* stream, TViewBlock** block) const;
    void FreeBlock(const TViewBlock* block);
    std::vector<std::unique_ptr<TViewBlock>> viewBlocks_;
    std::map<std::uintptr_t, const TViewBlock*> viewBlockAt_;
    int viewCount_ = 0;

    std::vector<std::unique_ptr<TBufStream>> streams_;
    // Span lookups by stream; a run may leave one stream per input line.
    std::unordered_map<const TObject*, TBufStream*> byStream_;
    std::unique_ptr<TTsTreeNode> ownedRoot_;
    TTsTreeNode* root_ = nullptr;
    TTsTreeNode* context_ = nullptr;
    WideString defaultProp_{DefaultPropName};
};

}  // namespace ts
