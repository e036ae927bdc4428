#include <gtest/gtest.h>

#include "support/Exception.h"

using namespace ts;

// A lone integer argument in braces once chose a (message, help context)
// constructor under some compilers: the message stayed the raw format, and a
// 64-bit argument did not compile at all.
TEST(ExceptionMessage, LoneIntegerArgumentInBracesIsFormatted) {
    const int count = 3;
    EXPECT_EQ(EConvertError(u"Hex string must have even length, %d given.", {count}).Message(),
              u"Hex string must have even length, 3 given.");
    EXPECT_EQ(EListError(u"List index out of bounds (%d)", {static_cast<long long>(-1)}).Message(),
              u"List index out of bounds (-1)");
    EXPECT_EQ(Exception(u"%d", {7}).HelpContext(), 0);
    // A plain message is kept as written.
    EXPECT_EQ(Exception(WideString(u"100% done")).Message(), u"100% done");
}
