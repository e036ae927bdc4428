#include "library/modelling/streams/BufStream.h"

#include <algorithm>
#include <cstring>

#include "library/modelling/streams/StreamPosition.h"
#include "support/Exception.h"

namespace ts {

namespace {

[[noreturn]] void RaiseOutOfScope(int64_t offset) {
    throw ERangeError(Format(u"Offset %d is out of scope of this stream buffer.", {static_cast<long long>(offset)}));
}

}  // namespace

TBufStream::TBufStream(TStream& stream) : stream_(&stream) {}

TBufStream::TBufStream(std::unique_ptr<TStream> stream) : owned_(std::move(stream)), stream_(owned_.get()) {
    if (!stream_) throw EInvalidArgument(u"TBufStream needs a source stream.");
}

void TBufStream::SetLimits(int32_t maxBuffers, int32_t bufferSize) {
    if (bufferSize > 0) bufferSize_ = bufferSize;
    if (maxBuffers < 0 || bufferSize < 0) {
        maxBuffers_ = 0;
        FreeAllBuffers();
        return;
    }
    maxBuffers_ = maxBuffers;
    if (static_cast<int32_t>(buffers_.size()) > maxBuffers_)
        buffers_.erase(buffers_.begin(), buffers_.end() - maxBuffers_);
}

const TBuffer& TBufStream::BlockFor(int64_t offset, int64_t want, int64_t size) {
    for (const auto& b : buffers_)
        if (b->Start <= offset && offset + want <= b->Start + b->Length) return *b;
    TStreamPositionKeeper keep(*stream_);

    // First in, first out: a hit does not renew a block. The evicted block's
    // memory is reused for the new one.
    std::unique_ptr<TBuffer> block;
    if (static_cast<int32_t>(buffers_.size()) >= maxBuffers_) {
        block = std::move(buffers_.front());
        buffers_.erase(buffers_.begin());
    } else {
        block = std::make_unique<TBuffer>();
    }
    int64_t len = std::min<int64_t>(bufferSize_, size - offset);
    block->Data.resize(static_cast<size_t>(len));
    block->Start = offset;
    block->Length = 0;
    stream_->Seek(offset, TSeekOrigin::soBeginning);
    block->Length = static_cast<int32_t>(stream_->Read(block->Data.data(), len));
    buffers_.push_back(std::move(block));
    return *buffers_.back();
}

int64_t TBufStream::ReadAt(void* buffer, int64_t count, int64_t offset) {
    if (count <= 0) return 0;
    if (offset < 0) RaiseOutOfScope(offset);
    int64_t size = stream_->Size();
    if (size != lastSize_) FreeAllBuffers();  // the source changed under us

    int64_t want = std::min(size - offset, count);
    int64_t done;
    if (maxBuffers_ > 0 && want > 0 && want <= bufferSize_) {
        const TBuffer& b = BlockFor(offset, want, size);
        if (offset < b.Start || offset > b.Start + b.Length) RaiseOutOfScope(offset);
        done = std::max<int64_t>(0, std::min<int64_t>(count, b.Length - (offset - b.Start)));
        if (done > 0) std::memcpy(buffer, b.Data.data() + (offset - b.Start), static_cast<size_t>(done));
    } else if (offset >= size) {
        done = 0;
    } else {
        TStreamPositionKeeper keep(*stream_);
        stream_->Seek(offset, TSeekOrigin::soBeginning);
        done = stream_->Read(buffer, count);
    }
    lastSize_ = size;  // reading does not change the size
    return done;
}

RawByteString TBufStream::ReadString(int64_t count, int64_t offset) {
    if (count <= 0) return {};
    if (offset < 0) RaiseOutOfScope(offset);
    // Never allocate for more than the source holds: span lengths come from
    // result values and may be wild.
    int64_t avail = stream_->Size() - offset;
    if (avail <= 0) return {};
    RawByteString out(static_cast<size_t>(std::min(count, avail)), '\0');
    out.resize(static_cast<size_t>(ReadAt(out.data(), static_cast<int64_t>(out.size()), offset)));
    return out;
}

}  // namespace ts
