// Tests of the block-cached reader, the restricted window and the temporary
// stream, including its spill to a file and the file's removal.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "library/core/TsBase.h"
#include "library/modelling/streams/BufStream.h"
#include "library/modelling/streams/TsInputStreams.h"
#include "support/Strings.h"
#include "support/TempFiles.h"

using namespace ts;

namespace {

RawByteString Pattern(size_t n) {
    RawByteString s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
    return s;
}

// A memory stream that counts the reads that reach it.
class TCountingStream : public TMemoryStream {
public:
    using TMemoryStream::TMemoryStream;
    int64_t Read(void* buffer, int64_t count) override {
        ++Reads;
        return TMemoryStream::Read(buffer, count);
    }
    int Reads = 0;
};

// Points TMPDIR at a fresh directory for the test's lifetime, so that files
// left behind can be counted.
class TScopedTmpDir {
public:
    TScopedTmpDir() {
        const char* old = std::getenv("TMPDIR");
        if (old) old_ = old, hadOld_ = true;
        std::string tmpl = std::filesystem::temp_directory_path().string() + "/tsstreamsXXXXXX";
        path_ = ::mkdtemp(tmpl.data());
        ::setenv("TMPDIR", path_.c_str(), 1);
    }
    ~TScopedTmpDir() {
        if (hadOld_)
            ::setenv("TMPDIR", old_.c_str(), 1);
        else
            ::unsetenv("TMPDIR");
        std::filesystem::remove_all(path_);
    }
    size_t FileCount() const {
        size_t n = 0;
        for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(path_)) ++n;
        return n;
    }
    const std::string& Path() const { return path_; }

private:
    std::string path_, old_;
    bool hadOld_ = false;
};

}  // namespace

// ---- TBufStream --------------------------------------------------------------

TEST(BufStream, ReadsMatchTheSourceAtAnyOffsetAndStopAtTheEnd) {
    RawByteString data = Pattern(200000);
    TMemoryStream src(data);
    TBufStream buf(src);
    src.SetPosition(1234);
    for (int64_t off : {0, 1, 65535, 65536, 70000, 199990}) {
        for (int64_t len : {1, 10, 100, 65536, 65537, 140000}) {
            RawByteString got = buf.ReadString(len, off);
            size_t expect = std::min<size_t>(static_cast<size_t>(len), data.size() - static_cast<size_t>(off));
            ASSERT_EQ(got, data.substr(static_cast<size_t>(off), expect)) << "offset " << off << " len " << len;
        }
    }
    EXPECT_EQ(buf.ReadString(10, 200000), "");
    EXPECT_EQ(buf.ReadString(10, 5000000), "");
    EXPECT_EQ(buf.ReadString(0, 5), "");
    EXPECT_EQ(buf.ReadString(-4, 5), "");
    char c;
    EXPECT_EQ(buf.ReadAt(&c, 0, 0), 0);
    EXPECT_THROW(buf.ReadAt(&c, 1, -1), ERangeError);
    // A wild span length must not make it allocate beyond the source.
    EXPECT_EQ(buf.ReadString(INT64_MAX / 2, 199999), data.substr(199999));
    // Neither cached nor direct reads move the source.
    EXPECT_EQ(src.Position(), 1234);
}

TEST(BufStream, BlockSizeDecidesBetweenCacheAndDirectRead) {
    TCountingStream src(Pattern(300000));
    TBufStream buf(src);
    buf.ReadString(65537, 0);
    EXPECT_EQ(buf.BufferCount(), 0);
    buf.ReadString(65536, 0);
    ASSERT_EQ(buf.BufferCount(), 1);
    EXPECT_EQ(buf.Buffer(0).Start, 0);
    EXPECT_EQ(buf.Buffer(0).Length, 65536);

    // Any read inside the block is served without touching the source.
    int reads = src.Reads;
    EXPECT_EQ(buf.ReadString(100, 65436), Pattern(300000).substr(65436, 100));
    EXPECT_EQ(src.Reads, reads);
    // A read that crosses the block's end loads a new block at its offset.
    buf.ReadString(100, 65500);
    EXPECT_EQ(src.Reads, reads + 1);
    ASSERT_EQ(buf.BufferCount(), 2);
    EXPECT_EQ(buf.Buffer(1).Start, 65500);

    // A block near the end is only as long as what is left.
    buf.ReadString(5, 299990);
    EXPECT_EQ(buf.Buffer(2).Length, 10);
}

TEST(BufStream, BlocksAreReplacedFirstInFirstOut) {
    TCountingStream src(Pattern(20 * 65536));
    TBufStream buf(src);
    for (int i = 0; i < 8; ++i) buf.ReadString(10, i * 65536);
    EXPECT_EQ(buf.BufferCount(), 8);
    buf.ReadString(10, 0);  // a hit does not renew block 0
    buf.ReadString(10, 8 * 65536);
    ASSERT_EQ(buf.BufferCount(), 8);
    EXPECT_EQ(buf.Buffer(0).Start, 65536);
    EXPECT_EQ(buf.Buffer(7).Start, 8 * 65536);
    int reads = src.Reads;
    buf.ReadString(10, 0);
    EXPECT_EQ(src.Reads, reads + 1);  // block 0 was the one freed
}

TEST(BufStream, SetLimitsTrimsOrDisablesTheCache) {
    TCountingStream src(Pattern(20 * 1024));
    TBufStream buf(src);
    buf.SetLimits(4, 1024);
    EXPECT_EQ(buf.BufferSize(), 1024);
    for (int i = 0; i < 4; ++i) buf.ReadString(10, i * 1024);
    buf.SetLimits(2, 0);  // 0 keeps the block size
    EXPECT_EQ(buf.BufferSize(), 1024);
    ASSERT_EQ(buf.BufferCount(), 2);
    EXPECT_EQ(buf.Buffer(0).Start, 2048);  // the two newest stay
    buf.ReadString(1025, 0);               // over the block size: direct
    EXPECT_EQ(buf.BufferCount(), 2);

    buf.SetLimits(-1, 512);
    EXPECT_EQ(buf.MaxBuffers(), 0);
    EXPECT_EQ(buf.BufferSize(), 512);
    EXPECT_EQ(buf.BufferCount(), 0);
    int reads = src.Reads;
    EXPECT_EQ(buf.ReadString(10, 30), Pattern(20 * 1024).substr(30, 10));
    EXPECT_EQ(buf.ReadString(10, 30), Pattern(20 * 1024).substr(30, 10));
    EXPECT_EQ(src.Reads, reads + 2);
    EXPECT_EQ(buf.BufferCount(), 0);
}

TEST(BufStream, DropsTheCacheWhenTheSourceSizeChanges) {
    TMemoryStream src(RawByteString("hello world"));
    TBufStream buf(src);
    EXPECT_EQ(buf.ReadString(5, 6), "world");
    src.SetPosition(6);
    src.WriteBytes("there, friend");
    EXPECT_EQ(buf.ReadString(6, 6), "there,");
}

// ---- TTsRestrictedStream --------------------------------------------------------

TEST(RestrictedStream, ReadsOnlyItsWindowAndRestoresTheSource) {
    TMemoryStream src(RawByteString("0123456789abcdefghij"));
    src.SetPosition(5);
    TTsRestrictedStream r(&src, 6);
    EXPECT_EQ(r.Start(), 5);
    EXPECT_EQ(r.Size(), 6);
    EXPECT_EQ(r.Position(), 0);
    char buf[32] = {};
    src.SetPosition(17);
    EXPECT_EQ(r.Read(buf, 4), 4);
    EXPECT_EQ(std::string(buf, 4), "5678");
    EXPECT_EQ(src.Position(), 17);
    EXPECT_EQ(r.Read(buf, 32), 2);
    EXPECT_EQ(std::string(buf, 2), "9a");
    EXPECT_EQ(r.Read(buf, 32), 0);

    r.SetWindow(14);
    EXPECT_EQ(r.Size(), 6);
    EXPECT_EQ(r.Position(), 0);
    EXPECT_EQ(r.ReadToEnd(), "efghij");

    // A window reaching past the source's end reads what there is.
    r.SetWindow(18);
    EXPECT_EQ(r.ReadToEnd(), "ij");

    TTsRestrictedStream empty(&src, -5);
    EXPECT_EQ(empty.Size(), 0);
    EXPECT_EQ(empty.ReadToEnd(), "");

    // An absurd length saturates instead of overflowing.
    src.SetPosition(15);
    TTsRestrictedStream huge(&src, INT64_MAX);
    EXPECT_EQ(huge.Size(), INT64_MAX - 15);
    EXPECT_EQ(huge.Seek(INT64_MAX, TSeekOrigin::soCurrent), INT64_MAX - 15);
    huge.SetPosition(2);
    EXPECT_EQ(huge.Read(buf, sizeof buf), 3);
    EXPECT_EQ(std::string(buf, 3), "hij");
}

TEST(RestrictedStream, SeeksAreClampedToTheWindow) {
    TMemoryStream src(Pattern(300));
    src.SetPosition(100);
    TTsRestrictedStream r(&src, 100);
    EXPECT_EQ(r.Seek(-10, TSeekOrigin::soEnd), 90);
    EXPECT_EQ(r.Seek(5, TSeekOrigin::soCurrent), 95);
    EXPECT_EQ(r.Seek(50, TSeekOrigin::soCurrent), 100);
    EXPECT_EQ(r.Seek(10, TSeekOrigin::soEnd), 100);
    EXPECT_EQ(r.Seek(-1, TSeekOrigin::soBeginning), 0);
    EXPECT_EQ(r.Seek(-500, TSeekOrigin::soEnd), 0);
    EXPECT_EQ(r.Seek(INT64_MAX, TSeekOrigin::soEnd), 100);
    EXPECT_EQ(r.Seek(42, TSeekOrigin::soBeginning), 42);
    char c;
    r.Read(&c, 1);
    EXPECT_EQ(c, Pattern(300)[142]);
}

TEST(RestrictedStream, RefusesWritesAndANilSource) {
    TMemoryStream src(RawByteString("abc"));
    TTsRestrictedStream r(&src, 3);
    try {
        r.Write("x", 1);
        FAIL() << "write accepted";
    } catch (const EWriteError& e) {
        EXPECT_EQ(e.Message(), u"TTsRestrictedStream is a read-only wrapper.");
    }
    EXPECT_THROW(r.SetSize(1), EWriteError);
    EXPECT_EQ(src.Data(), "abc");
    try {
        TTsRestrictedStream bad(nullptr, 3);
        FAIL() << "nil source accepted";
    } catch (const ETessarine& e) {
        EXPECT_EQ(e.Message(), u"nil Stream given to TTsRestrictedStream.Create.");
    }
}

// ---- TTsTempStream -----------------------------------------------------------

TEST(TempStream, SpillsExactlyPastTheThresholdAndCleansUp) {
    TScopedTmpDir tmp;
    WideString name;
    {
        TTsTempStream t(100);
        t.WriteBytes(Pattern(60));
        t.Seek(20, TSeekOrigin::soBeginning);
        t.WriteBytes(Pattern(80));  // ends at exactly 100
        EXPECT_FALSE(t.IsSpilled());
        EXPECT_EQ(tmp.FileCount(), 0u);
        EXPECT_EQ(t.Size(), 100);

        t.Seek(50, TSeekOrigin::soBeginning);
        t.WriteBytes(Pattern(51));  // ends at 101
        ASSERT_TRUE(t.IsSpilled());
        name = t.FileName();
        EXPECT_TRUE(FileExistsW(name));
        EXPECT_EQ(WideToUtf8(name).rfind(tmp.Path() + "/", 0), 0u) << "not in TMPDIR";
        EXPECT_EQ(t.Position(), 101);
        EXPECT_EQ(t.Size(), 101);

        // The contents moved whole: what was written before and after.
        RawByteString expect = Pattern(20) + Pattern(80).substr(0, 30) + Pattern(51);
        t.SetPosition(0);
        EXPECT_EQ(t.ReadToEnd(), expect);
        t.SetSize(10);
        EXPECT_EQ(t.Size(), 10);
        EXPECT_EQ(LoadFileBytes(name), expect.substr(0, 10));
    }
    EXPECT_FALSE(FileExistsW(name));
    EXPECT_EQ(tmp.FileCount(), 0u);
}

TEST(TempStream, RealThresholdIsSixteenMebibytes) {
    TScopedTmpDir tmp;
    TTsTempStream t;
    EXPECT_EQ(t.Threshold(), 16777216);
    RawByteString block(1 << 20, 'q');
    for (int i = 0; i < 16; ++i) t.WriteBytes(block);
    EXPECT_FALSE(t.IsSpilled());
    t.WriteBytes("!");
    EXPECT_TRUE(t.IsSpilled());
    EXPECT_EQ(tmp.FileCount(), 1u);
    EXPECT_EQ(t.Size(), 16777217);
}

TEST(TempStream, GrowingBySetSizeSpillsToo) {
    TScopedTmpDir tmp;
    TTsTempStream t(16);
    t.SetSize(16);
    EXPECT_FALSE(t.IsSpilled());
    t.SetSize(1 << 20);
    EXPECT_TRUE(t.IsSpilled());
    EXPECT_EQ(t.Size(), 1 << 20);
}

TEST(TempStream, AFailedSpillKeepsTheContentsInMemory) {
    TScopedTmpDir tmp;
    TTsTempStream t(4);
    t.WriteBytes("abcd");
    ::setenv("TMPDIR", (tmp.Path() + "/missing").c_str(), 1);
    EXPECT_THROW(t.WriteBytes("e"), EOSError);
    EXPECT_FALSE(t.IsSpilled());
    t.SetPosition(0);
    EXPECT_EQ(t.ReadToEnd(), "abcd");
    ::setenv("TMPDIR", tmp.Path().c_str(), 1);
    t.WriteBytes("e");
    EXPECT_TRUE(t.IsSpilled());
}

TEST(TempStream, AFileThatCannotBeFilledIsDeleted) {
    TScopedTmpDir tmp;
    // Let the file grow to 10 bytes only: copying 64 bytes into it fails.
    struct rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 10;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    TTsTempStream t(64);
    t.WriteBytes(Pattern(64));
    EXPECT_THROW(t.WriteBytes("x"), EStreamError);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(tmp.FileCount(), 0u);
    EXPECT_FALSE(t.IsSpilled());
    EXPECT_EQ(t.Size(), 64);
}

TEST(TempFiles, NamesAreUniqueAndHonourTmpdir) {
    TScopedTmpDir tmp;
    EXPECT_EQ(GetTempDirectoryW(), Utf8ToWide(tmp.Path() + "/"));
    WideString a = CreateTempFileW();
    WideString b = CreateTempFileW({}, u"ab");
    EXPECT_NE(a, b);
    EXPECT_TRUE(FileExistsW(a));
    EXPECT_TRUE(FileExistsW(b));
    EXPECT_EQ(WideToUtf8(b).rfind(tmp.Path() + "/ab", 0), 0u);
    struct stat st {};
    ASSERT_EQ(::stat(WideToUtf8(a).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ::unsetenv("TMPDIR");
    EXPECT_EQ(GetTempDirectoryW(), u"/tmp/");
}
