// Tests of the external diff: detection on a search path, the words of a
// command, and runs of a fake diff program that records what it was given.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "debugger/driver/TsdbgDiff.h"
#include "support/Streams.h"
#include "support/Strings.h"

using namespace ts;
namespace fs = std::filesystem;

namespace {

class DiffFiles : public testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("tsdbg-diff-" + std::to_string(::getpid()));
        fs::remove_all(root_);
        // Blanks, a quote and a dollar in the paths prove the quoting.
        temp_ = root_ / "temp dir $HOME";
        fs::create_directories(temp_);
    }
    void TearDown() override { fs::remove_all(root_); }

    fs::path Script(const std::string& rel, const std::string& body) {
        const fs::path p = root_ / rel;
        fs::create_directories(p.parent_path());
        std::ofstream(p) << "#!/bin/sh\n" << body;
        fs::permissions(p, fs::perms::owner_all);
        return p;
    }
    static std::string Read(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    static bool WaitForFile(const fs::path& p) {
        for (int i = 0; i < 400; ++i) {
            if (fs::exists(p)) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    bool TempIsEmpty() const { return fs::is_empty(temp_); }
    WideString TempDir() const { return Utf8ToWide(temp_.string()) + u"/"; }
    static std::string Quoted(const fs::path& p) { return "'" + p.string() + "'"; }

    fs::path root_, temp_;
};

}  // namespace

TEST(TsdbgDiffCommand, WordsFollowTheQuotingRules) {
    EXPECT_EQ(SplitCommandLine(u"  a  b\tc\n"), (std::vector<WideString>{u"a", u"b", u"c"}));
    EXPECT_EQ(SplitCommandLine(u"\"a b\" 'c d' e\\ f"), (std::vector<WideString>{u"a b", u"c d", u"e f"}));
    EXPECT_EQ(SplitCommandLine(u"x\"y z\"'w'"), std::vector<WideString>{u"xy zw"});
    EXPECT_EQ(SplitCommandLine(u"'a\\b' \"a\\b\" \"\\\"\\\\\\$\""),
              (std::vector<WideString>{u"a\\b", u"a\\b", u"\"\\$"}));
    EXPECT_EQ(SplitCommandLine(u"\"\" ''"), (std::vector<WideString>{u"", u""}));
    EXPECT_EQ(SplitCommandLine(u"\"open to the end"), std::vector<WideString>{u"open to the end"});
    EXPECT_TRUE(SplitCommandLine(u" \t ").empty());

    TCommandWords w = SplitProgram(u"  \"/opt/my tools/meld\"   --a  b  ");
    EXPECT_EQ(w.Program, u"/opt/my tools/meld");
    EXPECT_EQ(w.Arguments, u"--a  b");
    w = SplitProgram(u"meld");
    EXPECT_EQ(w.Program, u"meld");
    EXPECT_EQ(w.Arguments, u"");
    EXPECT_EQ(SplitProgram(u"").Program, u"");

    for (std::u16string_view word : {u"plain", u"a b", u"it's", u"say \"hi\"", u"back\\slash", u"$HOME `x`", u""}) {
        EXPECT_EQ(SplitCommandLine(QuoteCommandWord(word)), std::vector<WideString>{WideString(word)})
            << WideToUtf8(word);
    }
    EXPECT_EQ(QuoteCommandWord(u"/usr/bin/meld"), u"/usr/bin/meld");
    EXPECT_EQ(QuoteCommandWord(u"/a b"), u"\"/a b\"");
}

TEST(TsdbgDiffCommand, TemplatesAndPlaceholders) {
    EXPECT_EQ(DiffTemplateFor(u"/usr/bin/meld"), u"%NEED% %GOT%");
    EXPECT_EQ(DiffTemplateFor(u"/opt/TortoiseMerge/bin/merge"), u"/base:%NEED% /theirs:%GOT%");

    EXPECT_EQ(FillDiffCommand(u"x %NEED% %need% %GOT%%NEED%", u"/t/a b", u"/t/c"),
              u"x \"/t/a b\" %need% /t/c\"/t/a b\"");
    // A path holding a placeholder's text is not replaced again.
    EXPECT_EQ(FillDiffCommand(u"%NEED% %GOT%", u"/t/%GOT%", u"/g"), u"/t/%GOT% /g");

    // Browsing keeps the arguments and quotes a program with a blank.
    EXPECT_EQ(CommandAfterBrowse(u"/opt/my diff/kdiff3", u"meld --label=x %NEED% %GOT%"),
              u"\"/opt/my diff/kdiff3\" --label=x %NEED% %GOT%");
    EXPECT_EQ(CommandAfterBrowse(u"/usr/bin/meld", u"\"/old prog\""), u"/usr/bin/meld %NEED% %GOT%");
    EXPECT_EQ(CommandAfterBrowse(u"/opt/tortoise/merge", u""), u"/opt/tortoise/merge /base:%NEED% /theirs:%GOT%");
}

TEST_F(DiffFiles, DetectionSearchesThePathInOrder) {
    const std::string none = (root_ / "none").string();
    fs::create_directories(none);
    EXPECT_EQ(DetectDiffCommand(none), u"<exe> %NEED% %GOT%");
    EXPECT_FALSE(DiffProgramExists(DetectDiffCommand(none), none));

    // First dir: kdiff3 cannot be executed and meld is a directory; tkdiff
    // comes after kdiff3, which the second directory has.
    fs::create_directories(root_ / "one/meld");
    std::ofstream(root_ / "one/kdiff3") << "x";
    Script("one/tkdiff", "");
    const fs::path kdiff3 = Script("two dirs/kdiff3", "");
    const std::string path = (root_ / "one").string() + ":" + (root_ / "two dirs").string();
    const WideString cmd = DetectDiffCommand(path);
    EXPECT_EQ(cmd, u"\"" + Utf8ToWide(kdiff3.string()) + u"\" %NEED% %GOT%");
    EXPECT_TRUE(DiffProgramExists(cmd, path));
    EXPECT_EQ(DetectDiffCommand((root_ / "one").string()),
              Utf8ToWide((root_ / "one/tkdiff").string()) + u" %NEED% %GOT%");

    Script("TortoiseTools/meld", "");
    EXPECT_EQ(DetectDiffCommand((root_ / "TortoiseTools").string()),
              Utf8ToWide((root_ / "TortoiseTools/meld").string()) + u" /base:%NEED% /theirs:%GOT%");
}

TEST_F(DiffFiles, TheButtonFollowsTheProgramsFile) {
    const std::string path = (root_ / "bin").string();
    Script("bin/differ", "");
    fs::create_directories(root_ / "bin/adir");
    std::ofstream(root_ / "plain") << "x";
    EXPECT_TRUE(DiffProgramExists(u"differ %NEED% %GOT%", path));
    EXPECT_FALSE(DiffProgramExists(u"adir %NEED% %GOT%", path));
    EXPECT_FALSE(DiffProgramExists(u"missing %NEED% %GOT%", path));
    EXPECT_FALSE(DiffProgramExists(u"", path));
    // A named path need only be a file.
    EXPECT_TRUE(DiffProgramExists(Utf8ToWide(Quoted(root_ / "plain")), path));
    EXPECT_FALSE(DiffProgramExists(Utf8ToWide(Quoted(root_ / "bin/adir")), path));
    EXPECT_FALSE(DiffProgramExists(Utf8ToWide(Quoted(root_ / "bin") + "/nothing"), path));
    // An empty entry of the path is the current directory.
    const fs::path saved = fs::current_path();
    fs::current_path(root_ / "bin");
    EXPECT_TRUE(DiffProgramExists(u"differ", ":/nonexistent"));
    fs::current_path(saved);
}

TEST_F(DiffFiles, AFakeDiffSeesBothFilesAndBothAreDeleted) {
    const fs::path rec = root_ / "rec";
    const fs::path fake = Script("my diff's/fake", "rec=" + Quoted(rec) +
                                                       "\n"
                                                       "printf '%s\\n' \"$#\" \"$1\" \"$2\" \"$3\" > \"$rec.args\"\n"
                                                       "cp \"$2\" \"$rec.need\"; cp \"$3\" \"$rec.got\"\n");
    std::vector<WideString> failures;
    TDiffRunner runner([&](const WideString& m, const WideString&) { failures.push_back(m); }, TempDir());
    const WideString command = CommandAfterBrowse(Utf8ToWide(fake.string()), u"<exe> --x %NEED% %GOT%");
    const WideString started = runner.Run(command, u"root\r\n  a = 1\r\n", u"root\n  b = 2");
    runner.WaitAll();
    EXPECT_TRUE(failures.empty());

    std::istringstream args(Read(fs::path(rec.string() + ".args")));
    std::string count, flag, need, got;
    std::getline(args, count);
    std::getline(args, flag);
    std::getline(args, need);
    std::getline(args, got);
    EXPECT_EQ(count, "3");
    EXPECT_EQ(flag, "--x");
    EXPECT_EQ(fs::path(need).parent_path(), temp_);
    EXPECT_EQ(fs::path(got).parent_path(), temp_);
    EXPECT_NE(need, got);
    EXPECT_NE(started.find(QuoteCommandWord(Utf8ToWide(need))), WideString::npos);
    EXPECT_EQ(Read(fs::path(rec.string() + ".need")), "root\r\n  a = 1\r\n");
    EXPECT_EQ(Read(fs::path(rec.string() + ".got")), "root\r\n  b = 2\r\n");
    EXPECT_FALSE(fs::exists(need));
    EXPECT_FALSE(fs::exists(got));
    EXPECT_TRUE(TempIsEmpty());
    EXPECT_EQ(runner.Running(), 0);
}

TEST_F(DiffFiles, AProgramThatCannotStartIsReportedAndItsFilesDeleted) {
    std::mutex lock;
    std::vector<std::pair<WideString, WideString>> failures;
    TDiffRunner runner(
        [&](const WideString& m, const WideString& c) {
            std::lock_guard guard(lock);
            failures.emplace_back(m, c);
        },
        TempDir());
    const WideString started = runner.Run(u"/nonexistent/differ %NEED% %GOT%", u"a", u"b");
    runner.Run(u"  ", u"a", u"b");
    runner.WaitAll();
    ASSERT_EQ(failures.size(), 2u);
    const auto& f = failures[0].first.find(u"/nonexistent") != WideString::npos ? failures[0] : failures[1];
    EXPECT_EQ(f.first, u"Problem running the command:\n\n" + started);
    EXPECT_EQ(f.second, u"Diff program calling error");
    EXPECT_TRUE(TempIsEmpty());
}

TEST_F(DiffFiles, SeveralRunsAtOnceAndClosingWhileOpen) {
    const fs::path release = root_ / "release";
    const fs::path waiter = Script("wait",
                                   "touch \"$1.started\"\n"
                                   "while [ ! -e " +
                                       Quoted(release) +
                                       " ]; do sleep 0.02; done\n"
                                       "touch \"$1.ended\"\n");
    const WideString command = Utf8ToWide(Quoted(waiter)) + u" %NEED% %GOT%";
    auto runner = std::make_unique<TDiffRunner>(nullptr, TempDir());
    runner->Run(command, u"1", u"2");
    runner->Run(command, u"3", u"4");
    EXPECT_EQ(runner->Running(), 2);
    for (const auto& e : fs::directory_iterator(temp_)) {
        if (e.path().extension() == ".tmp") {
            EXPECT_EQ(Read(e.path()).size(), 3u);  // "1\r\n"
        }
    }

    // The window closes while both programs are open: the files go at once.
    int started = 0;
    for (int i = 0; i < 400 && started < 2; ++i) {
        started = 0;
        for (const auto& e : fs::directory_iterator(temp_))
            if (e.path().extension() == ".started") ++started;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(started, 2);
    runner.reset();
    int left = 0;
    for (const auto& e : fs::directory_iterator(temp_))
        if (e.path().extension() == ".tmp") ++left;
    EXPECT_EQ(left, 0);

    // The programs end later, on their own.
    std::ofstream(release) << "";
    int ended = 0;
    for (int i = 0; i < 400 && ended < 2; ++i) {
        ended = 0;
        for (const auto& e : fs::directory_iterator(temp_))
            if (e.path().extension() == ".ended") ++ended;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(ended, 2);
    // Let the detached threads see their programs end.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
}
