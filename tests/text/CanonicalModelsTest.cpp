// The embedded canonical models and their header skipping.
#include "library/text/CanonicalModels.h"

#include <gtest/gtest.h>

#include "library/core/TsBase.h"
#include "support/Resources.h"
#include "support/Strings.h"

using namespace ts;

namespace {
int64_t StartOf(const std::string& text) {
    TStringStream s(text);
    s.SetPosition(5);
    SkipCanonicalHeader(s);
    return s.Position();
}
}  // namespace

TEST(CanonicalModels, ResourcesCarryTheProductAddressAndLineFeedsOnly) {
    for (std::u16string_view name : {u"TsmModel", u"tsmscript"}) {
        const TEmbeddedResource* r = FindResource(name);
        ASSERT_NE(r, nullptr);
        std::string_view data = r->Data;
        std::string_view first = data.substr(0, data.find('\n'));
        ASSERT_GE(first.size(), TsProductWebAddress.size());
        EXPECT_EQ(Utf8ToWide(first.substr(first.size() - TsProductWebAddress.size())), TsProductWebAddress);
        EXPECT_EQ(first.substr(0, 15), "Tessarine 0.79 ");
        EXPECT_EQ(data.find('\r'), std::string_view::npos);
        EXPECT_EQ(data.back(), '\n');
    }
}

TEST(CanonicalModels, HeaderSkippingStartsAfterTheTitleLine) {
    EXPECT_EQ(StartOf("Tessarine 0.79 | x\n\n== Model ==\nabc\n"), 32);
    // The first "==" that ends a line counts, not the first "==".
    EXPECT_EQ(StartOf("Tessarine 1.0\n== a == b ==\nmodel"), 27);
    // Not a header: no digit, no blank, other word, or no title line.
    EXPECT_EQ(StartOf("Tessarine x.79\n== Model ==\nabc"), 0);
    EXPECT_EQ(StartOf("Tessarine\t0.79\n== Model ==\nabc"), 0);
    EXPECT_EQ(StartOf("tessarine 0.79\n== Model ==\nabc"), 0);
    EXPECT_EQ(StartOf("Tessarine 0.79 | no title\nabc ==\r\n"), 0);
    EXPECT_EQ(StartOf("Tessarine 0"), 0);
    EXPECT_EQ(StartOf(""), 0);
    // Only the first 1024 bytes are searched.
    EXPECT_EQ(StartOf("Tessarine 0.79" + std::string(1007, ' ') + "==\n"), 1024);
    EXPECT_EQ(StartOf("Tessarine 0.79" + std::string(1008, ' ') + "==\n"), 0);

    auto model = OpenCanonicalModel(u"Model");
    EXPECT_EQ(model->Description(), u"<ResourceStream>");
    std::string rest = model->ReadToEnd();
    EXPECT_EQ(rest.substr(0, 9), "(merge)\n ");
    auto script = OpenCanonicalModel(u"Script");
    EXPECT_EQ(script->ReadToEnd().substr(0, 10), "(version)\n");
    EXPECT_THROW(OpenCanonicalModel(u"Tree"), EResNotFound);
}
