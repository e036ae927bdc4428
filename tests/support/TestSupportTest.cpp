// The shared test helpers: the error a call must raise, and the failure
// that names what was thrown instead.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <stdexcept>

#include "support/Exception.h"
#include "tests/TestSupport.h"

using namespace ts;
using namespace ts::test;

TEST(TestSupport, MessageOfTakesTheExpectedClassAndFailsOnAnythingElse) {
    EXPECT_EQ(MessageOf<EStreamError>([] { throw EReadError(u"short read"); }), u"short read");  // a subclass counts
    EXPECT_EQ(ThrownError<EReadError>([] { throw EReadError(u"r"); })->Message(), u"r");

    EXPECT_NONFATAL_FAILURE(EXPECT_EQ(MessageOf<EConvertError>([] {}), u""),
                            "expected EConvertError, but nothing was thrown");
    EXPECT_NONFATAL_FAILURE(EXPECT_EQ(MessageOf<EReadError>([] { throw EStreamError(u"base"); }), u""),
                            "expected EReadError, but EStreamError was thrown: base");
    EXPECT_NONFATAL_FAILURE(EXPECT_FALSE(ThrownError<EConvertError>([] { throw std::runtime_error("plain"); })),
                            "was thrown: plain");
}
