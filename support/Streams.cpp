#include "support/Streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "support/Strings.h"

namespace ts {

int64_t TStream::Size() {
    int64_t pos = Seek(0, TSeekOrigin::soCurrent);
    int64_t end = Seek(0, TSeekOrigin::soEnd);
    Seek(pos, TSeekOrigin::soBeginning);
    return end;
}

void TStream::SetSize(int64_t) { throw EStreamError(u"Stream size cannot be changed"); }

void TStream::ReadBuffer(void* buffer, int64_t count) {
    if (count > 0 && Read(buffer, count) != count) throw EReadError(u"Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
    if (count > 0 && Write(buffer, count) != count) throw EWriteError(u"Stream write error");
}

int64_t TStream::CopyFrom(TStream& src, int64_t count) {
    if (count == 0) {
        src.SetPosition(0);
        count = src.Size();
    }
    char buf[65536];
    int64_t done = 0;
    while (done < count) {
        int64_t n = count - done < static_cast<int64_t>(sizeof buf) ? count - done : static_cast<int64_t>(sizeof buf);
        src.ReadBuffer(buf, n);
        WriteBuffer(buf, n);
        done += n;
    }
    return done;
}

RawByteString TStream::ReadToEnd() {
    RawByteString out;
    int64_t rest = Size() - Position();
    if (rest > 0) out.reserve(static_cast<size_t>(rest));
    char buf[65536];
    for (;;) {
        int64_t n = Read(buf, sizeof buf);
        if (n <= 0) break;
        out.append(buf, static_cast<size_t>(n));
    }
    return out;
}

WideString TStream::Description() const {
    std::u16string_view n = ClassName();
    return u"<" + WideString(n.substr(n.empty() ? 0 : 1)) + u">";
}

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
    int64_t size = static_cast<int64_t>(data_.size());
    if (count <= 0 || pos_ >= size) return 0;
    int64_t n = size - pos_ < count ? size - pos_ : count;
    std::memcpy(buffer, data_.data() + pos_, static_cast<size_t>(n));
    pos_ += n;
    return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
    if (count <= 0) return 0;
    if (pos_ + count > static_cast<int64_t>(data_.size())) data_.resize(static_cast<size_t>(pos_ + count));
    std::memcpy(data_.data() + pos_, buffer, static_cast<size_t>(count));
    pos_ += count;
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
    int64_t base = origin == TSeekOrigin::soBeginning ? 0
                   : origin == TSeekOrigin::soCurrent ? pos_
                                                      : static_cast<int64_t>(data_.size());
    int64_t p = base + offset;
    pos_ = p < 0 ? 0 : p;
    return pos_;
}

void TMemoryStream::SetSize(int64_t newSize) {
    data_.resize(static_cast<size_t>(newSize < 0 ? 0 : newSize));
    if (pos_ > newSize) pos_ = newSize;
}

std::string FileNameToPath(const WideString& fileName) { return WideToUtf8(fileName); }

TFileStreamW::TFileStreamW(const WideString& fileName, TFileMode mode) : fileName_(fileName) {
    std::string path = FileNameToPath(fileName);
    int flags = mode == TFileMode::fmCreate      ? O_RDWR | O_CREAT | O_TRUNC
                : mode == TFileMode::fmOpenRead  ? O_RDONLY
                : mode == TFileMode::fmOpenWrite ? O_WRONLY
                                                 : O_RDWR;
    fd_ = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
    if (fd_ >= 0) {
        struct stat st {};
        if (::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) {
            ::close(fd_);
            fd_ = -1;
            errno = EISDIR;
        }
    }
    if (fd_ < 0) {
        WideString reason = Utf8ToWide(std::strerror(errno));
        if (mode == TFileMode::fmCreate)
            throw EFCreateError(Format(u"Cannot create file \"%s\". %s", {fileName, reason}));
        throw EFOpenError(Format(u"Cannot open file \"%s\". %s", {fileName, reason}));
    }
}

TFileStreamW::~TFileStreamW() {
    if (fd_ >= 0) ::close(fd_);
}

int64_t TFileStreamW::Read(void* buffer, int64_t count) {
    int64_t done = 0;
    while (done < count) {
        ssize_t n = ::read(fd_, static_cast<char*>(buffer) + done, static_cast<size_t>(count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += n;
    }
    return done;
}

int64_t TFileStreamW::Write(const void* buffer, int64_t count) {
    int64_t done = 0;
    while (done < count) {
        ssize_t n = ::write(fd_, static_cast<const char*>(buffer) + done, static_cast<size_t>(count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += n;
    }
    return done;
}

int64_t TFileStreamW::Seek(int64_t offset, TSeekOrigin origin) {
    int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET : origin == TSeekOrigin::soCurrent ? SEEK_CUR : SEEK_END;
    off_t r = ::lseek(fd_, static_cast<off_t>(offset), whence);
    if (r >= 0) return r;
    // A bad offset leaves the position where it was; a pipe or terminal
    // cannot seek at all, and asking again would only fail again.
    const int error = errno;
    r = ::lseek(fd_, 0, SEEK_CUR);
    if (r < 0)
        throw EStreamError(Format(u"Cannot seek in file \"%s\". %s", {fileName_, Utf8ToWide(std::strerror(error))}));
    return r;
}

void TFileStreamW::SetSize(int64_t newSize) {
    if (::ftruncate(fd_, static_cast<off_t>(newSize)) != 0)
        throw EStreamError(Format(u"Cannot resize file \"%s\". %s", {fileName_, Utf8ToWide(std::strerror(errno))}));
}

int64_t TFileStreamW::Size() {
    // One call instead of three seeks: block caches ask on every read.
    struct stat st {};
    if (::fstat(fd_, &st) == 0) return st.st_size;
    return TStream::Size();
}

bool FileExistsW(const WideString& fileName) {
    struct stat st {};
    return ::stat(FileNameToPath(fileName).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DeleteFileW(const WideString& fileName) { return ::unlink(FileNameToPath(fileName).c_str()) == 0; }

RawByteString LoadFileBytes(const WideString& fileName) {
    TFileStreamW f(fileName, TFileMode::fmOpenRead);
    return f.ReadToEnd();
}

void SaveFileBytes(const WideString& fileName, std::string_view bytes) {
    TFileStreamW f(fileName, TFileMode::fmCreate);
    f.WriteBytes(bytes);
}

}  // namespace ts
