#include "library/modelling/streams/TsmSlicer.h"

#include <algorithm>

#include "library/modelling/streams/StreamPosition.h"

namespace ts {

ETsmWrongPropStream::ETsmWrongPropStream(const TTsmSlicer* slicer, const TObject* stream)
    : ETsmSlicer(slicer, u"%s doesn't contain stream %s referred to in a node property.", {slicer, stream}),
      Stream(stream) {}

ETsmPropWithoutStreamData::ETsmPropWithoutStreamData(const TTsmSlicer* slicer)
    : ETsmSlicer(slicer, u"Node property doesn't contain source stream data for %s.", {slicer}) {}

namespace {

const TTsValue* FindPropValue(const TTsTreeNode* node, std::u16string_view name) {
    const TTsProperty* p = node->Props().Find(name);
    return p ? &p->Value : nullptr;
}

}  // namespace

TTsmSlicer::TTsmSlicer(TStream* stream, std::unique_ptr<TTsTreeNode> resultRoot) {
    if (stream) AddStream(*stream);
    if (resultRoot) SetResultRoot(std::move(resultRoot));
}

TTsmSlicer::~TTsmSlicer() = default;

void TTsmSlicer::SetResultRoot(std::unique_ptr<TTsTreeNode> node) {
    // A context inside the tree being freed would dangle.
    if (ownedRoot_ && ownedRoot_.get() != node.get()) context_ = nullptr;
    ownedRoot_ = std::move(node);
    root_ = ownedRoot_.get();
}

void TTsmSlicer::SetBorrowedResultRoot(TTsTreeNode* node) {
    if (ownedRoot_) {
        if (ownedRoot_.get() == node) return;  // already held, and owned
        context_ = nullptr;
        ownedRoot_.reset();
    }
    root_ = node;
}

std::unique_ptr<TTsTreeNode> TTsmSlicer::ReleaseResultRoot() { return std::move(ownedRoot_); }

void TTsmSlicer::SetDefaultProp(std::u16string_view name) { defaultProp_ = name.empty() ? DefaultPropName : name; }

// ---- Streams ------------------------------------------------------------------

TBufStream& TTsmSlicer::Keep(std::unique_ptr<TBufStream> buf) {
    TBufStream& b = *buf;
    streams_.push_back(std::move(buf));
    try {
        byStream_.try_emplace(&b.Stream(), &b);  // the first holder of a stream answers for it
    } catch (...) {
        streams_.pop_back();
        throw;
    }
    return b;
}

TBufStream& TTsmSlicer::AddStream(TStream& stream) { return Keep(std::make_unique<TBufStream>(stream)); }

TBufStream& TTsmSlicer::AddStream(std::unique_ptr<TStream> stream) {
    if (!stream) throw EInvalidArgument(u"TTsmSlicer.AddStream needs a stream.");
    return Keep(std::make_unique<TBufStream>(std::move(stream)));
}

TBufStream* TTsmSlicer::FindStream(const TObject* stream) const {
    auto it = byStream_.find(stream);
    return it == byStream_.end() ? nullptr : it->second;
}

TTsMemoryView& TTsmSlicer::AddView(const char* data, int64_t size) {
    constexpr size_t FirstBlock = 16, LargestBlock = 4096;
    if (viewBlocks_.empty() || viewBlocks_.back()->Views.size() == viewBlocks_.back()->Views.capacity()) {
        const size_t capacity =
            viewBlocks_.empty() ? FirstBlock : std::min(LargestBlock, viewBlocks_.back()->Views.capacity() * 2);
        auto block = std::make_unique<TViewBlock>();
        block->Views.reserve(capacity);
        block->Removed.reserve(capacity);
        viewBlockAt_.emplace(reinterpret_cast<std::uintptr_t>(block->Views.data()), block.get());
        viewBlocks_.push_back(std::move(block));
    }
    TViewBlock& block = *viewBlocks_.back();
    block.Views.emplace_back(data, size);  // within the reserved capacity: nothing moves
    block.Removed.push_back(false);
    ++block.Live;
    ++viewCount_;
    return block.Views.back();
}

TTsMemoryView* TTsmSlicer::ViewAt(const TObject* stream, TViewBlock** block) const {
    const auto at = reinterpret_cast<std::uintptr_t>(stream);
    auto it = viewBlockAt_.upper_bound(at);
    if (it == viewBlockAt_.begin()) return nullptr;
    --it;
    const std::uintptr_t offset = at - it->first;
    const size_t index = offset / sizeof(TTsMemoryView);
    TViewBlock* b = const_cast<TViewBlock*>(it->second);
    if (offset % sizeof(TTsMemoryView) != 0 || index >= b->Views.size() || b->Removed[index]) return nullptr;
    if (block) *block = b;
    return b->Views.data() + index;
}

TTsMemoryView* TTsmSlicer::FindView(const TObject* stream) const { return ViewAt(stream, nullptr); }

void TTsmSlicer::FreeBlock(const TViewBlock* block) {
    viewBlockAt_.erase(reinterpret_cast<std::uintptr_t>(block->Views.data()));
    auto it = std::find_if(viewBlocks_.rbegin(), viewBlocks_.rend(),
                           [block](const std::unique_ptr<TViewBlock>& b) { return b.get() == block; });
    if (it != viewBlocks_.rend()) viewBlocks_.erase(std::next(it).base());
}

bool TTsmSlicer::RemoveStream(const TObject* stream) {
    TViewBlock* block = nullptr;
    if (TTsMemoryView* view = ViewAt(stream, &block)) {
        block->Removed[static_cast<size_t>(view - block->Views.data())] = true;
        --viewCount_;
        // A block is freed when its last view goes, full or not: the next
        // view starts a block of its own.
        if (--block->Live == 0) FreeBlock(block);
        return true;
    }
    auto found = byStream_.find(stream);
    if (found == byStream_.end()) return false;
    // Every holder of the stream goes; records are removed newest first, so
    // the search from the back is short.
    for (size_t i = streams_.size(); i-- > 0;)
        if (&streams_[i]->Stream() == stream) streams_.erase(streams_.begin() + static_cast<std::ptrdiff_t>(i));
    byStream_.erase(found);
    return true;
}

void TTsmSlicer::RemoveStreamsExcept(const std::vector<const TObject*>& keep) {
    auto kept = [&keep](const TObject* s) { return std::find(keep.begin(), keep.end(), s) != keep.end(); };
    for (auto b = viewBlocks_.begin(); b != viewBlocks_.end();) {
        TViewBlock& block = **b;
        for (size_t i = 0; i < block.Views.size(); ++i)
            if (!block.Removed[i] && !kept(&block.Views[i])) {
                block.Removed[i] = true;
                --block.Live;
                --viewCount_;
            }
        if (block.Live == 0) {
            viewBlockAt_.erase(reinterpret_cast<std::uintptr_t>(block.Views.data()));
            b = viewBlocks_.erase(b);
        } else {
            ++b;
        }
    }
    std::vector<std::unique_ptr<TBufStream>> rest;
    for (auto& buf : streams_) {
        if (kept(&buf->Stream())) {
            rest.push_back(std::move(buf));
        } else {
            auto it = byStream_.find(&buf->Stream());
            if (it != byStream_.end() && it->second == buf.get()) byStream_.erase(it);
        }
    }
    streams_ = std::move(rest);
}

TStream& TTsmSlicer::SeekSpan(const TTsValue& value) {
    TStream* s = FindView(value.Obj);
    if (!s) s = &StreamOf(value).Stream();
    s->Seek(SpanOffset(value), TSeekOrigin::soBeginning);
    return *s;
}

TBufStream& TTsmSlicer::StreamOf(const TTsValue& value) {
    TBufStream* b = FindStream(value.Obj);
    if (!b) throw ETsmWrongPropStream(this, value.Obj);
    return *b;
}

// ---- Spans ----------------------------------------------------------------------

TTsValue TTsmSlicer::MakeSpan(int32_t offset, int64_t length, TStream* stream) {
    TTsValue v;
    v.Int = offset;
    v.Float = static_cast<double>(length);
    v.Obj = stream;
    v.Kinds = SpanKinds;
    return v;
}

bool TTsmSlicer::HasStreamData(const TTsValue& value) { return (value.Kinds & SpanKinds) == SpanKinds; }

int64_t TTsmSlicer::SpanOffset(const TTsValue& value) { return HasStreamData(value) ? value.Int : -1; }

int64_t TTsmSlicer::SpanLength(const TTsValue& value) {
    if (!HasStreamData(value)) return -1;
    double f = value.Float;
    // Converting NaN or an out-of-range double is undefined; clamp first.
    if (!(f > 0)) return 0;
    if (f >= 9.2e18) return NoLimit;
    return static_cast<int64_t>(f);
}

RawByteString TTsmSlicer::ReadSpan(const TTsValue& value, int64_t maxLength) {
    if (!HasStreamData(value)) return {};
    const int64_t count = std::min(SpanLength(value), maxLength);
    const int64_t offset = SpanOffset(value);
    if (TTsMemoryView* view = FindView(value.Obj)) {
        // As a buffered read would: a negative offset is an error, and the
        // text ends where the view does.
        if (offset < 0)
            throw ERangeError(
                Format(u"Offset %d is out of scope of this stream buffer.", {static_cast<long long>(offset)}));
        const int64_t n = std::max<int64_t>(0, std::min(count, view->Size() - offset));
        return RawByteString(view->Memory() + (n > 0 ? offset : 0), static_cast<size_t>(n));
    }
    return StreamOf(value).ReadString(count, offset);
}

TTsmSpanPosition TTsmSlicer::SpanPosition(const TTsValue& value) {
    if (!HasStreamData(value)) throw ETsmPropWithoutStreamData(this);
    return {&SeekSpan(value), SpanLength(value)};
}

std::unique_ptr<TTsRestrictedStream> TTsmSlicer::OpenSpan(const TTsValue& value) {
    if (!HasStreamData(value)) throw ETsmPropWithoutStreamData(this);
    TStream* view = FindView(value.Obj);
    TStream& s = view ? *view : StreamOf(value).Stream();
    // The window takes its start from the source's position; the source is
    // put back so that opening a span never moves a running input.
    TStreamPositionKeeper keep(s);
    TTsmSpanPosition at = SpanPosition(value);
    // A span cannot reach past its input; a wild length would make the
    // window promise bytes that are not there.
    int64_t rest = std::max<int64_t>(0, s.Size() - SpanOffset(value));
    return std::make_unique<TTsRestrictedStream>(at.Stream, std::min(at.Length, rest));
}

RawByteString TTsmSlicer::TextOfNode(const TTsTreeNode* node, std::u16string_view propName, int64_t maxLength) {
    if (!node) return {};
    const TTsValue* v = FindPropValue(node, propName);
    return v ? ReadSpan(*v, maxLength) : RawByteString();
}

RawByteString TTsmSlicer::TextOf(std::u16string_view textPath) {
    std::u16string_view nodePath = textPath, prop;
    size_t dollar = textPath.find(u'$');
    if (dollar != std::u16string_view::npos) {
        nodePath = textPath.substr(0, dollar);
        prop = textPath.substr(dollar + 1);
    }
    if (prop.empty()) prop = defaultProp_;
    TTsTreeNode* base = ContextNode();
    if (!base) return {};
    return TextOfNode(base->FirstOnPath(nodePath), prop);
}

RawByteString TTsmSlicer::ReadPropText(TStream& stream, const TTsTreeNode* node, std::u16string_view propName) {
    TStreamPositionKeeper keep(stream);
    TTsmSlicer slicer(&stream);
    return slicer.TextOfNode(node, propName);
}

}  // namespace ts
