// Streams the library hands to its callers: TTsRestrictedStream, a read-only
// window onto a stretch of another stream, TTsMemoryView, a read-only stream
// over bytes that live elsewhere in memory, and TTsTempStream, a read-write
// stream that keeps small contents in memory and moves to a temporary file
// once it grows past a threshold.
#pragma once

#include <cstdint>
#include <memory>

#include "support/Streams.h"

namespace ts {

class TTsRestrictedStream : public TStream {
    TS_CLASS(TTsRestrictedStream)
public:
    // The window starts at source's current position and spans length bytes
    // (none when negative). The source is borrowed; a null one raises
    // ETessarine.
    TTsRestrictedStream(TStream* source, int64_t length);

    // Reads from the window only; the source's own position is left as it was.
    int64_t Read(void* buffer, int64_t count) override;
    // Raises EWriteError: the window is read-only.
    int64_t Write(const void* buffer, int64_t count) override;
    // Offsets as for every stream (from the end, a negative offset goes back);
    // the result is clamped into [0, Size].
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override { return end_ - start_; }
    // Raises EWriteError.
    void SetSize(int64_t newSize) override;

    // Moves the window to start at offset in the source, keeping its size.
    void SetWindow(int64_t offset);

    TStream& Source() const { return *source_; }
    int64_t Start() const { return start_; }
    int64_t End() const { return end_; }

private:
    TStream* source_;
    int64_t start_ = 0;
    int64_t end_ = 0;
    int64_t pos_ = 0;
};

// Reads bytes it does not own: a line of an input held in memory, without a
// copy. Whoever makes one keeps the bytes alive and unchanged while it lives.
class TTsMemoryView : public TStream {
    TS_CLASS(TTsMemoryView)
public:
    TTsMemoryView(const char* data, int64_t size) : data_(data), size_(size < 0 ? 0 : size) {}

    int64_t Read(void* buffer, int64_t count) override;
    // Raises EWriteError: the view is read-only.
    int64_t Write(const void* buffer, int64_t count) override;
    // As a memory stream: the position may pass the end, never the start.
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override { return size_; }
    // Raises EWriteError.
    void SetSize(int64_t newSize) override;

    const char* Memory() const { return data_; }

private:
    const char* data_;
    int64_t size_;
    int64_t pos_ = 0;
};

// The bytes of a stream that holds its whole content in memory (a plain
// memory or string stream, or a memory view; not a class derived from one,
// whose reads may do more), or null: what can be viewed instead of copied.
const char* StreamMemory(const TStream& stream);

class TTsTempStream : public TStream {
    TS_CLASS(TTsTempStream)
public:
    static constexpr int32_t DefaultThreshold = 16777216;

    // Contents stay in memory while they fit in threshold bytes.
    explicit TTsTempStream(int32_t threshold = DefaultThreshold);
    // Closes and deletes the temporary file, if any.
    ~TTsTempStream() override;
    TTsTempStream(const TTsTempStream&) = delete;
    TTsTempStream& operator=(const TTsTempStream&) = delete;

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override;
    void SetSize(int64_t newSize) override;

    int32_t Threshold() const { return threshold_; }
    bool IsSpilled() const { return file_ != nullptr; }
    // The temporary file's name; empty while the contents are in memory.
    const WideString& FileName() const { return fileName_; }

private:
    // Moves the contents to a new temporary file. On failure the contents
    // stay in memory and no file is left behind.
    void Spill();
    TStream& Current() const;

    int32_t threshold_;
    std::unique_ptr<TMemoryStream> memory_;
    std::unique_ptr<TFileStreamW> file_;
    WideString fileName_;
};

}  // namespace ts
