// The read-ahead stream reads what its source holds, wherever the reader
// seeks, through a window that it fills only when a read leaves it.
#include <gtest/gtest.h>

#include <string>

#include "support/ReadAheadStream.h"

using namespace ts;

namespace {

std::string ReadAt(TStream& s, int64_t at, int64_t count) {
    std::string out(static_cast<size_t>(count), '\0');
    s.Seek(at, TSeekOrigin::soBeginning);
    out.resize(static_cast<size_t>(s.Read(out.data(), count)));
    return out;
}

// A source that hands out at most 5 bytes a read, as a pipe or a slow file may.
struct TTrickle : TStringStream {
    using TStringStream::TStringStream;
    int64_t Read(void* buffer, int64_t count) override {
        return TStringStream::Read(buffer, std::min<int64_t>(count, 5));
    }
};

}  // namespace

TEST(ReadAheadStream, ReadsAndSeeksLikeItsSource) {
    std::string text;
    for (int i = 0; i < 1000; ++i) text += static_cast<char>('a' + i % 26);
    TReadAheadStream s(std::make_unique<TTrickle>(RawByteString(text)), 64);
    EXPECT_EQ(s.Size(), 1000);
    // Within one window, across windows, backwards, at and past the end.
    for (auto [at, count] : {std::pair<int64_t, int64_t>{0, 10}, {60, 10}, {5, 500}, {990, 20}, {1000, 5}, {3000, 5}})
        EXPECT_EQ(ReadAt(s, at, count),
                  text.substr(std::min<size_t>(static_cast<size_t>(at), text.size()), static_cast<size_t>(count)))
            << at;
    EXPECT_EQ(s.Seek(-5, TSeekOrigin::soEnd), 995);
    EXPECT_EQ(s.Seek(-5000, TSeekOrigin::soCurrent), 0) << "never before the start";
    EXPECT_EQ(s.Seek(INT64_MAX, TSeekOrigin::soEnd), INT64_MAX);
    EXPECT_THROW(s.Write("x", 1), EWriteError);
    EXPECT_THROW(s.SetSize(3), EWriteError);
}

// Small reads in order (a line at a time) cost one fill per window, not a
// read of the source each.
TEST(ReadAheadStream, SmallReadsInOrderFillOncePerWindow) {
    const std::string text(100000, 'x');
    TReadAheadStream s(std::make_unique<TStringStream>(RawByteString(text)), 4096);
    char buf[7];
    int64_t total = 0;
    for (int64_t n; (n = s.Read(buf, sizeof buf)) > 0;) total += n;
    EXPECT_EQ(total, 100000);
    EXPECT_EQ(s.Fills(), (100000 + 4095) / 4096);
    EXPECT_THROW(TReadAheadStream(nullptr), EInvalidArgument);
}
