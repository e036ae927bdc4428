#include "library/modelling/streams/TsInputStreams.h"

#include <algorithm>
#include <cstring>
#include <typeinfo>

#include "library/core/TsBase.h"
#include "library/modelling/streams/StreamPosition.h"
#include "support/TempFiles.h"

namespace ts {

namespace {

// a + b for b >= 0, saturating instead of overflowing on absurd lengths.
int64_t SaturatedAdd(int64_t a, int64_t b) { return b > INT64_MAX - a ? INT64_MAX : a + b; }

}  // namespace

// ---- TTsRestrictedStream --------------------------------------------------

TTsRestrictedStream::TTsRestrictedStream(TStream* source, int64_t length) : source_(source) {
    if (!source_) throw ETessarine(u"nil Stream given to %s.Create.", {this});
    start_ = std::max<int64_t>(0, source_->Position());
    end_ = SaturatedAdd(start_, std::max<int64_t>(0, length));
}

int64_t TTsRestrictedStream::Read(void* buffer, int64_t count) {
    int64_t n = std::min(count, end_ - start_ - pos_);
    if (n <= 0) return 0;
    TStreamPositionKeeper keep(*source_);
    source_->Seek(start_ + pos_, TSeekOrigin::soBeginning);
    n = source_->Read(buffer, n);
    pos_ += n;
    return n;
}

int64_t TTsRestrictedStream::Write(const void*, int64_t) {
    throw EWriteError(Format(u"%s is a read-only wrapper.", {this}));
}

void TTsRestrictedStream::SetSize(int64_t) { throw EWriteError(Format(u"%s is a read-only wrapper.", {this})); }

int64_t TTsRestrictedStream::Seek(int64_t offset, TSeekOrigin origin) {
    int64_t size = end_ - start_;
    int64_t base = origin == TSeekOrigin::soBeginning ? 0 : origin == TSeekOrigin::soCurrent ? pos_ : size;
    int64_t p = offset > 0 ? SaturatedAdd(base, offset) : base + offset;
    pos_ = std::clamp<int64_t>(p, 0, size);
    return pos_;
}

void TTsRestrictedStream::SetWindow(int64_t offset) {
    int64_t size = end_ - start_;
    start_ = std::max<int64_t>(0, offset);
    end_ = SaturatedAdd(start_, size);
    pos_ = 0;
}

// ---- TTsMemoryView ----------------------------------------------------------

int64_t TTsMemoryView::Read(void* buffer, int64_t count) {
    if (count <= 0 || pos_ >= size_) return 0;
    const int64_t n = std::min(count, size_ - pos_);
    std::memcpy(buffer, data_ + pos_, static_cast<size_t>(n));
    pos_ += n;
    return n;
}

int64_t TTsMemoryView::Write(const void*, int64_t) { throw EWriteError(Format(u"%s is read-only.", {this})); }

void TTsMemoryView::SetSize(int64_t) { throw EWriteError(Format(u"%s is read-only.", {this})); }

int64_t TTsMemoryView::Seek(int64_t offset, TSeekOrigin origin) {
    const int64_t base = origin == TSeekOrigin::soBeginning ? 0 : origin == TSeekOrigin::soCurrent ? pos_ : size_;
    const int64_t p = offset > 0 ? SaturatedAdd(base, offset) : base + offset;
    pos_ = p < 0 ? 0 : p;
    return pos_;
}

const char* StreamMemory(const TStream& stream) {
    // Exact classes only: a class derived from one may do more on a read
    // (check a cancel request, count bytes), which a view would bypass.
    const std::type_info& type = typeid(stream);
    if (type == typeid(TMemoryStream) || type == typeid(TStringStream))
        return static_cast<const TMemoryStream&>(stream).Memory();
    if (type == typeid(TTsMemoryView)) return static_cast<const TTsMemoryView&>(stream).Memory();
    return nullptr;
}

// ---- TTsTempStream ----------------------------------------------------------

TTsTempStream::TTsTempStream(int32_t threshold)
    : threshold_(std::max<int32_t>(0, threshold)), memory_(std::make_unique<TMemoryStream>()) {}

TTsTempStream::~TTsTempStream() {
    file_.reset();  // close before deleting
    if (!fileName_.empty()) DeleteFileW(fileName_);
}

TStream& TTsTempStream::Current() const {
    if (file_) return *file_;
    return *memory_;
}

void TTsTempStream::Spill() {
    WideString name = CreateTempFileW();
    try {
        auto file = std::make_unique<TFileStreamW>(name, TFileMode::fmOpenReadWrite);
        file->WriteBytes(memory_->Data());
        file->Seek(memory_->Position(), TSeekOrigin::soBeginning);
        file_ = std::move(file);
    } catch (...) {
        DeleteFileW(name);
        throw;
    }
    fileName_ = std::move(name);
    memory_.reset();
}

int64_t TTsTempStream::Write(const void* buffer, int64_t count) {
    if (count <= 0) return 0;
    if (!file_ && memory_->Position() + count > threshold_) Spill();
    return Current().Write(buffer, count);
}

int64_t TTsTempStream::Read(void* buffer, int64_t count) { return Current().Read(buffer, count); }

int64_t TTsTempStream::Seek(int64_t offset, TSeekOrigin origin) { return Current().Seek(offset, origin); }

int64_t TTsTempStream::Size() { return Current().Size(); }

void TTsTempStream::SetSize(int64_t newSize) {
    // Growing past the threshold in memory would defeat the point of spilling.
    if (!file_ && newSize > threshold_) Spill();
    Current().SetSize(newSize);
}

}  // namespace ts
