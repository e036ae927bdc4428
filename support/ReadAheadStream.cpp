#include "support/ReadAheadStream.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "support/Format.h"

namespace ts {

TReadAheadStream::TReadAheadStream(std::unique_ptr<TStream> source, int64_t window)
    : source_(std::move(source)), window_(static_cast<size_t>(std::max<int64_t>(window, 1))) {
    if (!source_) throw EInvalidArgument(u"TReadAheadStream needs a source stream.");
    size_ = source_->Size();
}

bool TReadAheadStream::Fill() {
    source_->Seek(pos_, TSeekOrigin::soBeginning);
    windowStart_ = pos_;
    windowLength_ = 0;
    const auto want = static_cast<int64_t>(window_.size());
    // A source may hand out less than asked before its end.
    while (windowLength_ < want) {
        const int64_t n = source_->Read(window_.data() + windowLength_, want - windowLength_);
        if (n <= 0) break;
        windowLength_ += n;
    }
    ++fills_;
    return windowLength_ > 0;
}

int64_t TReadAheadStream::Read(void* buffer, int64_t count) {
    int64_t done = 0;
    auto* out = static_cast<char*>(buffer);
    while (done < count && pos_ < size_) {
        if (pos_ < windowStart_ || pos_ >= windowStart_ + windowLength_)
            if (!Fill()) break;
        const int64_t n = std::min({count - done, windowStart_ + windowLength_ - pos_, size_ - pos_});
        std::memcpy(out + done, window_.data() + (pos_ - windowStart_), static_cast<size_t>(n));
        done += n;
        pos_ += n;
    }
    return done;
}

int64_t TReadAheadStream::Write(const void*, int64_t) { throw EWriteError(Format(u"%s is read-only.", {this})); }

void TReadAheadStream::SetSize(int64_t) { throw EWriteError(Format(u"%s is read-only.", {this})); }

int64_t TReadAheadStream::Seek(int64_t offset, TSeekOrigin origin) {
    int64_t base = 0;
    if (origin == TSeekOrigin::soCurrent) base = pos_;
    if (origin == TSeekOrigin::soEnd) base = size_;
    constexpr int64_t Most = std::numeric_limits<int64_t>::max();
    const int64_t p = offset > 0 && base > Most - offset ? Most : base + offset;
    pos_ = std::max<int64_t>(0, p);
    return pos_;
}

}  // namespace ts
