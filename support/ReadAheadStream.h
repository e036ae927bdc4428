// TReadAheadStream: reads a seekable source (a file) through one window of
// bytes read ahead, so that a run over a large file neither loads it whole
// nor pays a system call for each small read. Read-only; its size is the
// source's when it was made.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "support/Streams.h"

namespace ts {

class TReadAheadStream : public TStream {
    TS_CLASS(TReadAheadStream)
public:
    static constexpr int64_t DefaultWindow = int64_t{1} << 20;

    // Owns the source and reads it from its start.
    explicit TReadAheadStream(std::unique_ptr<TStream> source, int64_t window = DefaultWindow);

    int64_t Read(void* buffer, int64_t count) override;
    // Raises EWriteError: the stream is read-only.
    int64_t Write(const void* buffer, int64_t count) override;
    // As a memory stream: the position may pass the end, never the start.
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override { return size_; }
    // Raises EWriteError.
    void SetSize(int64_t newSize) override;
    WideString Description() const override { return source_->Description(); }

    // How often the window was read from the source.
    int64_t Fills() const { return fills_; }

private:
    bool Fill();

    std::unique_ptr<TStream> source_;
    std::vector<char> window_;
    int64_t windowStart_ = 0;  // the source's offset of window_[0]
    int64_t windowLength_ = 0;
    int64_t size_ = 0;
    int64_t pos_ = 0;
    int64_t fills_ = 0;
};

}  // namespace ts
