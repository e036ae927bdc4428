// Tests of source browsing over temporary directory trees.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "debugger/driver/TsdbgSources.h"
#include "support/Exception.h"
#include "support/Strings.h"

using namespace ts;
namespace fs = std::filesystem;

namespace {

std::vector<WideString> Sorted(std::vector<WideString> v) {
    std::sort(v.begin(), v.end());
    return v;
}

class SourceTree : public testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("tsdbg-sources-" + std::to_string(::getpid()));
        fs::remove_all(root_);
        fs::create_directories(root_);
    }
    void TearDown() override {
        // Make anything a test locked readable again, so that it can be removed.
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(root_, ec); it != fs::recursive_directory_iterator();
             it.increment(ec))
            if (it->is_directory(ec) && !it->is_symlink(ec)) fs::permissions(it->path(), fs::perms::owner_all, ec);
        fs::remove_all(root_, ec);
    }

    void File(const std::string& rel) {
        fs::create_directories((root_ / rel).parent_path());
        std::ofstream(root_ / rel) << "x";
    }
    void Dir(const std::string& rel) { fs::create_directories(root_ / rel); }
    WideString Root() const { return Utf8ToWide(root_.string()) + u"/"; }

    fs::path root_;
};

}  // namespace

TEST(TsdbgWildcard, StarsAndQuestionMarks) {
    EXPECT_TRUE(MatchesWildcard(u"a.tsn", u"*.tsn"));
    EXPECT_TRUE(MatchesWildcard(u".tsn", u"*.tsn"));
    EXPECT_FALSE(MatchesWildcard(u"a.tsnx", u"*.tsn"));
    EXPECT_TRUE(MatchesWildcard(u"abcbc", u"a*bc"));  // the star must give back what it took
    EXPECT_TRUE(MatchesWildcard(u"ab", u"a?"));
    EXPECT_FALSE(MatchesWildcard(u"a", u"a?"));
    EXPECT_FALSE(MatchesWildcard(u"abc", u"a?"));
    EXPECT_TRUE(MatchesWildcard(u"", u"*"));
    EXPECT_FALSE(MatchesWildcard(u"", u"?"));
    EXPECT_TRUE(MatchesWildcard(u"x.y.z", u"*.*.*"));
    EXPECT_FALSE(MatchesWildcard(u"A.txt", u"a.txt"));  // case is the caller's business
}

TEST_F(SourceTree, MaskSplitsIntoBaseAndExtensions) {
    TSourcesLocation loc;
    loc.SetMask(Root() + u"*. tsn , txt,");
    EXPECT_EQ(loc.Base(), Root() + u"*.");
    EXPECT_EQ(loc.Extensions(), (std::vector<WideString>{u"tsn", u"txt", u""}));

    // Without a ".": one pattern, the mask itself.
    File("READ_ME");
    File("READ.txt");
    loc.SetMask(Root() + u"read*");
    EXPECT_EQ(loc.Extensions().size(), 1u);
    EXPECT_EQ(loc.Base() + loc.Extensions()[0], Root() + u"read*");
    EXPECT_EQ(Sorted(loc.FillFiles(true)), (std::vector<WideString>{u"READ.txt", u"READ_ME"}));

    // Each extension is a pattern of its own, searched in the order written,
    // and matching ignores case.
    File("a.TSN");
    File("b.txt");
    File("c.md");
    loc.SetMask(Root() + u"*.txt,tsn");
    std::vector<WideString> files = loc.FillFiles(true);
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(Sorted({files[0], files[1]}), (std::vector<WideString>{u"READ.txt", u"b.txt"}));
    EXPECT_EQ(files[2], u"a.TSN");
    EXPECT_EQ(loc.Files()[2], Root() + u"a.TSN");
    TMaskResolver exact;
    exact.SetCaseSensitive(true);
    exact.Start(Root() + u"*.tsn");
    EXPECT_TRUE(exact.Next().empty());

    loc.SetMask(Root() + u"b.txt,txt");
    EXPECT_EQ(loc.FillFiles(true), (std::vector<WideString>{u"b.txt", u"b.txt"}));
    loc.SetMask(Root() + u"?.t*");
    EXPECT_EQ(Sorted(loc.FillFiles(false)), (std::vector<WideString>{Root() + u"a.TSN", Root() + u"b.txt"}));
}

TEST_F(SourceTree, SetMaskCompletesDirectories) {
    TSourcesLocation loc;
    Dir("models");
    File("models/m.tsn");
    const WideString models = Root() + u"models";
    const WideString full = models + u"/*.tsn,txt";

    loc.SetMask(models);
    EXPECT_EQ(loc.Mask(), full);
    EXPECT_EQ(loc.Directory(), models + u"/");
    EXPECT_EQ(loc.FillFiles(true), std::vector<WideString>{u"m.tsn"});
    loc.SetMask(models + u"//");
    EXPECT_EQ(loc.Mask(), full);
    // A path that ends in a separator gets the default mask even when it does not exist.
    loc.SetMask(Root() + u"missing/");
    EXPECT_EQ(loc.Mask(), Root() + u"missing/*.tsn,txt");
    EXPECT_TRUE(loc.Files().empty());
    // "\" separates too.
    loc.SetMask(Root() + u"models\\");
    EXPECT_EQ(loc.Mask(), full);
    loc.SetMask(Root() + u"models\\*.tsn");
    EXPECT_EQ(loc.Directory(), models + u"/");
    EXPECT_EQ(loc.FillFiles(true), std::vector<WideString>{u"m.tsn"});

    loc.SetMask(u"");
    EXPECT_EQ(loc.Mask(), u"/*.tsn,txt");
    EXPECT_EQ(loc.Directory(), u"/");
}

TEST_F(SourceTree, GoingUpStopsAtTheRoot) {
    TSourcesLocation loc;
    Dir("a/b");
    loc.SetMask(Root() + u"a/b/*.x,y");
    EXPECT_TRUE(loc.CanGoUp());
    loc.GoUp();
    EXPECT_EQ(loc.Mask(), Root() + u"a/*.x,y");
    loc.GoUp();
    EXPECT_EQ(loc.Mask(), Root() + u"*.x,y");

    loc.SetMask(u"/tmp/*.x");
    EXPECT_TRUE(loc.CanGoUp());
    loc.GoUp();
    EXPECT_EQ(loc.Mask(), u"/*.x");
    EXPECT_FALSE(loc.CanGoUp());
    loc.GoUp();
    EXPECT_EQ(loc.Mask(), u"/*.x");

    // A relative mask goes up as far as it names directories.
    loc.SetMask(u"no-such-dir/sub/*.x");
    loc.GoUp();
    EXPECT_EQ(loc.Mask(), u"no-such-dir/*.x");
    EXPECT_FALSE(loc.CanGoUp());
}

TEST_F(SourceTree, RecursionListsSubdirectoryPaths) {
    File("top.tsn");
    File("sub/one.txt");
    File("sub/deeper/two.tsn");
    File("other/three.TXT");
    Dir("old.txt");  // a directory whose name matches is listed too
    File("old.txt/four.txt");

    TSourcesLocation loc;
    EXPECT_FALSE(loc.Recursive());
    loc.SetMask(Root());
    EXPECT_EQ(Sorted(loc.FillFiles(true)), (std::vector<WideString>{u"old.txt", u"top.tsn"}));

    loc.SetRecursive(true);
    loc.Rescan();
    EXPECT_EQ(Sorted(loc.FillFiles(true)),
              (std::vector<WideString>{u"old.txt", u"old.txt/four.txt", u"other/three.TXT", u"sub/deeper/two.tsn",
                                       u"sub/one.txt", u"top.tsn"}));
    // A matching directory comes before its contents.
    const std::vector<WideString> files = loc.FillFiles(true);
    const auto dir = std::find(files.begin(), files.end(), u"old.txt");
    const auto inner = std::find(files.begin(), files.end(), u"old.txt/four.txt");
    EXPECT_LT(dir, inner);

    loc.SetRecursive(false);
    loc.Rescan();
    EXPECT_EQ(loc.Files().size(), 2u);
}

TEST_F(SourceTree, RecursionNeverFollowsLinksToDirectories) {
    File("a/in.txt");
    File("a/b/deep.txt");
    // A loop back to the top, a link to the directory itself, and two links to
    // the parent per level: followed, each would multiply the search.
    fs::create_directory_symlink("../..", root_ / "a/b/top");
    fs::create_directory_symlink(".", root_ / "a/self");
    fs::create_directory_symlink("..", root_ / "a/up1");
    fs::create_directory_symlink("..", root_ / "a/up2");
    fs::create_symlink("in.txt", root_ / "a/link.txt");  // a link to a file is a file

    TSourcesLocation loc;
    loc.SetRecursive(true);
    loc.SetMask(Root() + u"*.txt");
    EXPECT_EQ(Sorted(loc.FillFiles(true)), (std::vector<WideString>{u"a/b/deep.txt", u"a/in.txt", u"a/link.txt"}));

    // The links themselves are entries; with "*" each shows once.
    loc.SetMask(Root() + u"a/*");
    EXPECT_EQ(loc.Files().size(), 8u);
    // The combo offers links to directories, which descend one level only.
    loc.SetMask(Root() + u"a");
    EXPECT_EQ(Sorted(loc.ListSubdirs(true)), (std::vector<WideString>{u"b", u"self", u"up1", u"up2"}));
}

TEST_F(SourceTree, RecursionStopsAtFiftyLevels) {
    std::string rel;
    for (int level = 1; level <= 52; ++level) {
        rel += "d/";
        File(rel + "f" + std::to_string(level) + ".txt");
    }
    TSourcesLocation loc;
    loc.SetRecursive(true);
    loc.SetMask(Root() + u"d/*.txt");
    // The start directory is level one.
    const std::vector<WideString> files = loc.FillFiles(true);
    EXPECT_EQ(files.size(), 50u);
    auto named = [&](std::u16string_view name) {
        return std::count_if(files.begin(), files.end(), [&](const WideString& f) { return f.ends_with(name); });
    };
    EXPECT_EQ(named(u"/f50.txt"), 1);
    EXPECT_EQ(named(u"/f51.txt"), 0);

    TMaskResolver r;
    r.SetMaxDepth(3);
    r.SetRecursive(true);  // keeps a depth above one
    EXPECT_EQ(r.MaxDepth(), 3);
    r.Start(Root() + u"*.txt");
    int count = 0;
    while (!r.Next().empty()) ++count;
    EXPECT_EQ(count, 2);  // f1 and f2: the root has no file
    EXPECT_TRUE(r.Current().empty());
    r.SetRecursive(false);
    EXPECT_EQ(r.MaxDepth(), 1);
}

TEST_F(SourceTree, DirectoriesThatCannotBeOpenedAreSkipped) {
    File("z.txt");
    File("a/a.txt");
    File("a/deeper/b.txt");
    File("a/deeper/c.txt");
    // Room for two more open directories: the third level cannot be opened.
    const int lowestFree = ::dup(0);
    ::close(lowestFree);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(lowestFree + 2);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    TSourcesLocation loc;
    loc.SetRecursive(true);
    loc.SetMask(Root() + u"*.txt");
    ::setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(Sorted(loc.FillFiles(true)), (std::vector<WideString>{u"a/a.txt", u"z.txt"}));
}

TEST_F(SourceTree, UnreadableDirectoriesAreSkipped) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
    File("ok/a.txt");
    File("locked/b.txt");
    File("z.txt");
    fs::permissions(root_ / "locked", fs::perms::none);
    TSourcesLocation loc;
    loc.SetRecursive(true);
    loc.SetMask(Root() + u"*.txt");
    EXPECT_EQ(Sorted(loc.FillFiles(true)), (std::vector<WideString>{u"ok/a.txt", u"z.txt"}));
    loc.SetMask(Root() + u"locked/*.txt");
    EXPECT_TRUE(loc.Files().empty());
}

TEST_F(SourceTree, TooManyFilesKeepsThePreviousList) {
    for (int i = 0; i < 4; ++i) File("f" + std::to_string(i) + ".txt");
    TSourcesLocation loc(3);
    loc.SetMask(Root() + u"f1.txt,txt,txt");  // exactly the limit
    ASSERT_EQ(loc.Files().size(), 3u);
    loc.SetMask(Root() + u"f1.txt");
    try {
        loc.SetMask(Root() + u"*.txt");
        FAIL() << "no error";
    } catch (const EListError& e) {
        EXPECT_EQ(e.Message(), u"Too many source files matching '" + Root() + u"*.txt'.");
    }
    EXPECT_EQ(loc.FillFiles(true), std::vector<WideString>{u"f1.txt"});
}

TEST_F(SourceTree, StackRefusesItsLastLevel) {
    TFMStack stack(3);
    stack.Push(Root(), TDirSearch(Root()));
    stack.Push(Root(), TDirSearch(Root()));
    try {
        stack.Push(Root(), TDirSearch(Root()));
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), u"TFMStack: too high!");
    }
    EXPECT_EQ(stack.Count(), 2);
    stack.Pop();
    EXPECT_EQ(stack.Count(), 1);
}

TEST_F(SourceTree, SubdirectoriesForTheCombo) {
    Dir("x");
    Dir("y/z");
    File("file.txt");
    TSourcesLocation loc;
    loc.SetMask(Root() + u"*.txt");
    EXPECT_EQ(Sorted(loc.ListSubdirs(true)), (std::vector<WideString>{u"x", u"y"}));
    EXPECT_EQ(Sorted(loc.ListSubdirs(false)), (std::vector<WideString>{Root() + u"x", Root() + u"y"}));
    loc.SelectSubdir(u"y");
    EXPECT_EQ(loc.Mask(), Root() + u"y/*.tsn,txt");
    EXPECT_EQ(loc.ListSubdirs(true), std::vector<WideString>{u"z"});
}

TEST_F(SourceTree, RefreshTellsTheWindowWhatToShow) {
    File("m/a.tsn");
    File("m/s/b.txt");
    const WideString dir = Root() + u"m";
    TSourcesLocation loc;

    // A typed text becomes the mask; an unfocused combo gets the full mask back.
    TSourceListView v = loc.RefreshSourceList({.ComboText = dir, .LoadedPath = dir + u"/a.tsn"});
    EXPECT_TRUE(v.ReplaceCombo);
    EXPECT_EQ(v.ComboText, dir + u"/*.tsn,txt");
    EXPECT_EQ(v.Subdirs, std::vector<WideString>{u"s"});
    EXPECT_EQ(v.Files, std::vector<WideString>{u"a.tsn"});
    EXPECT_EQ(v.SelectedFile, u"a.tsn");

    // While the user types, the combo is left alone.
    v = loc.RefreshSourceList({.ComboHasFocus = true, .ComboText = dir + u"/s", .LoadedPath = dir + u"/a.tsn"});
    EXPECT_FALSE(v.ReplaceCombo);
    EXPECT_EQ(v.Files, std::vector<WideString>{u"b.txt"});
    EXPECT_FALSE(v.SelectedFile.has_value());
    v = loc.RefreshSourceList({.Force = true, .ComboHasFocus = true, .ComboText = dir});
    EXPECT_TRUE(v.ReplaceCombo);

    // A chosen subdirectory has set the mask already; the combo's text is only its name.
    loc.SelectSubdir(u"s");
    loc.SetRecursive(true);
    v = loc.RefreshSourceList({.ComboItemSelected = true, .ComboText = u"s", .LoadedPath = dir + u"/s/b.txt"});
    EXPECT_EQ(v.ComboText, dir + u"/s/*.tsn,txt");
    EXPECT_EQ(v.SelectedFile, u"b.txt");
    loc.GoUp();
    v = loc.RefreshSourceList({.ComboItemSelected = true, .LoadedPath = dir + u"/s/b.txt"});
    EXPECT_EQ(Sorted(v.Files), (std::vector<WideString>{u"a.tsn", u"s/b.txt"}));
    EXPECT_EQ(v.SelectedFile, u"s/b.txt");
}
