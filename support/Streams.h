// The stream family: a small seekable byte stream hierarchy with memory,
// string and file streams. File names are wide; on Linux they become UTF-8.
#pragma once

#include <cstdint>
#include <string>

#include "support/Exception.h"
#include "support/Object.h"

namespace ts {

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream : public TObject {
    TS_CLASS(TStream)
public:
    // Reads up to count bytes; returns how many were read.
    virtual int64_t Read(void* buffer, int64_t count) = 0;
    // Writes up to count bytes; returns how many were written.
    virtual int64_t Write(const void* buffer, int64_t count) = 0;
    // Returns the new position.
    virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
    virtual int64_t Size();
    virtual void SetSize(int64_t newSize);

    int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
    void SetPosition(int64_t pos) { Seek(pos, TSeekOrigin::soBeginning); }

    // Exactly count bytes or EReadError / EWriteError.
    void ReadBuffer(void* buffer, int64_t count);
    void WriteBuffer(const void* buffer, int64_t count);
    void WriteBytes(std::string_view bytes) { WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size())); }
    // Copies count bytes from src's position; count 0 copies the whole of src
    // from its start. Returns the number copied.
    int64_t CopyFrom(TStream& src, int64_t count);
    // All bytes from the current position to the end.
    RawByteString ReadToEnd();

    // What the stream reads: "<" + class name without its first letter + ">";
    // file streams answer their file name.
    virtual WideString Description() const;
};

class TMemoryStream : public TStream {
    TS_CLASS(TMemoryStream)
public:
    TMemoryStream() = default;
    explicit TMemoryStream(RawByteString data) : data_(std::move(data)) {}
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override { return static_cast<int64_t>(data_.size()); }
    void SetSize(int64_t newSize) override;
    void Clear() {
        data_.clear();
        pos_ = 0;
    }
    const char* Memory() const { return data_.data(); }
    const RawByteString& Data() const { return data_; }

protected:
    RawByteString data_;
    int64_t pos_ = 0;
};

// A memory stream over an 8-bit string.
class TStringStream : public TMemoryStream {
    TS_CLASS(TStringStream)
public:
    explicit TStringStream(RawByteString data = {}) : TMemoryStream(std::move(data)) {}
    const RawByteString& DataString() const { return data_; }
};

enum class TFileMode { fmCreate, fmOpenRead, fmOpenWrite, fmOpenReadWrite };

class TFileStreamW : public TStream {
    TS_CLASS(TFileStreamW)
public:
    // Raises EFOpenError / EFCreateError with the system's reason.
    TFileStreamW(const WideString& fileName, TFileMode mode);
    ~TFileStreamW() override;
    TFileStreamW(const TFileStreamW&) = delete;
    TFileStreamW& operator=(const TFileStreamW&) = delete;

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    void SetSize(int64_t newSize) override;
    int64_t Size() override;
    WideString Description() const override { return fileName_; }
    const WideString& FileName() const { return fileName_; }

private:
    WideString fileName_;
    int fd_ = -1;
};

// Host path of a wide file name.
std::string FileNameToPath(const WideString& fileName);
bool FileExistsW(const WideString& fileName);
bool DeleteFileW(const WideString& fileName);
// Whole-file helpers built on TFileStreamW (same errors).
RawByteString LoadFileBytes(const WideString& fileName);
void SaveFileBytes(const WideString& fileName, std::string_view bytes);

}  // namespace ts
