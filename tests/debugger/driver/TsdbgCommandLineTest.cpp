// Tests of the debugger's command line without the window.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "debugger/driver/TsdbgCommandLine.h"
#include "support/Strings.h"

using namespace ts;

TEST(TsdbgCommandLine, HelpIsAQuestionMarkWrappedInSlashesAndHyphens) {
    for (std::u16string_view arg : {u"?", u"/?", u"-?", u"--?", u"/-?-/", u"//?//"})
        EXPECT_TRUE(IsHelpRequest(arg)) << WideToUtf8(arg);
    for (std::u16string_view arg : {u"/h", u"", u"??", u"/?x", u"? ", u"a?", u"/"})
        EXPECT_FALSE(IsHelpRequest(arg)) << WideToUtf8(arg);
}

TEST(TsdbgCommandLine, HelpTextNamesTheProgramTheUsageAndTheAddress) {
    EXPECT_EQ(HelpTitle(), u"Tsdbg command-line parameters");
    EXPECT_EQ(HelpText(u"/usr/bin/tsdbg"),
              u"Tsdbg command-line parameters:\n\n"
              u"  tsdbg <source> [[!] phase]\n\n"
              u"  source = directory\\with\\mod.el,*s | model.txt\n"
              u"  phase = ! (run immediately) + int (0 - load nodes, etc.)\n\n"
              u"https://tessarine.dev/");
}

TEST(TsdbgCommandLine, PhaseArgumentSelectsClampsAndRunsNow) {
    struct Case {
        std::u16string_view arg;
        bool runNow;
        std::optional<int> index;
    };
    const Case cases[] = {
        {u"1", false, 1},
        {u"!0", true, 0},
        {u"!", true, std::nullopt},
        {u"7", false, 2},
        {u"-3", false, 0},
        {u"!+2", true, 2},
        {u"x", false, std::nullopt},
        {u"!1.5", true, std::nullopt},
        {u"$1", false, std::nullopt},           // decimal only
        {u"99999999999", false, std::nullopt},  // not a 32-bit integer
        {u"", false, std::nullopt},
    };
    for (const Case& c : cases) {
        TPhaseArgument got = ParsePhaseArgument(c.arg);
        EXPECT_EQ(got.RunNow, c.runNow) << WideToUtf8(c.arg);
        EXPECT_EQ(got.Index, c.index) << WideToUtf8(c.arg);
    }
}

TEST(TsdbgCommandLine, MasksAreDirectoriesOrWildcards) {
    auto dir = std::filesystem::temp_directory_path() / ("tsdbg-cmdline-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    WideString d = Utf8ToWide(dir.string());
    EXPECT_TRUE(IsSourceMask(d));
    EXPECT_TRUE(IsSourceMask(d + u"/*.tsn"));
    EXPECT_TRUE(IsSourceMask(u"/nowhere/model?.txt"));
    EXPECT_FALSE(IsSourceMask(d + u"/model.txt"));
    EXPECT_FALSE(IsSourceMask(u""));
    EXPECT_FALSE(IsSourceMask(u"/h"));
    std::filesystem::remove_all(dir);
}
