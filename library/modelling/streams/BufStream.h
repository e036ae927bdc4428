// TBufStream: random-access reads over a stream through a small first-in
// first-out cache of blocks. The slicer reads every span through one.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "support/Object.h"
#include "support/Streams.h"

namespace ts {

// One cached block: Data[0] is the source's byte at Start; Length bytes are valid.
struct TBuffer {
    std::vector<char> Data;
    int64_t Start = 0;
    int32_t Length = 0;
};

class TBufStream : public TObject {
    TS_CLASS(TBufStream)
public:
    static constexpr int32_t DefaultMaxBuffers = 8;
    static constexpr int32_t DefaultBufferSize = 65536;

    // Borrows the source.
    explicit TBufStream(TStream& stream);
    // Owns the source and frees it with itself.
    explicit TBufStream(std::unique_ptr<TStream> stream);
    TBufStream(const TBufStream&) = delete;
    TBufStream& operator=(const TBufStream&) = delete;

    TStream& Stream() const { return *stream_; }
    bool OwnsStream() const { return owned_ != nullptr; }
    int32_t MaxBuffers() const { return maxBuffers_; }
    int32_t BufferSize() const { return bufferSize_; }
    int BufferCount() const { return static_cast<int>(buffers_.size()); }
    // The cached blocks, oldest first.
    const TBuffer& Buffer(int i) const { return *buffers_.at(static_cast<size_t>(i)); }

    // A bufferSize above 0 replaces the block size. A negative argument turns
    // caching off (MaxBuffers 0); otherwise the oldest blocks beyond
    // maxBuffers are freed.
    void SetLimits(int32_t maxBuffers, int32_t bufferSize);

    // Reads up to count bytes at offset into buffer; returns the number read
    // (fewer at the end of the source). The source's position is left as it
    // was, so reading spans never disturbs whoever else reads the source.
    // A negative offset raises ERangeError.
    int64_t ReadAt(void* buffer, int64_t count, int64_t offset);
    // The bytes ReadAt reads, as a byte string.
    RawByteString ReadString(int64_t count, int64_t offset);

private:
    void FreeAllBuffers() { buffers_.clear(); }
    // The block holding [offset, offset + want), loading it on a miss.
    const TBuffer& BlockFor(int64_t offset, int64_t want, int64_t size);

    std::unique_ptr<TStream> owned_;
    TStream* stream_;
    std::vector<std::unique_ptr<TBuffer>> buffers_;
    int32_t maxBuffers_ = DefaultMaxBuffers;
    int32_t bufferSize_ = DefaultBufferSize;
    int64_t lastSize_ = -1;
};

}  // namespace ts
