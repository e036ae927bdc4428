// Tests of loading sources into the memo and reading model text.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "debugger/driver/TsdbgSource.h"
#include "library/modelling/TsmEngine.h"
#include "library/script/TsScript.h"
#include "library/text/TsStreamers.h"
#include "support/Strings.h"

using namespace ts;

namespace {

// A file in a private temporary folder, removed with the fixture.
class SourceFiles : public testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() / ("tsdbg-source-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    WideString Write(const std::string& name, std::string_view bytes) {
        WideString path = Utf8ToWide((dir_ / name).string());
        SaveFileBytes(path, bytes);
        return path;
    }

    std::filesystem::path dir_;
};

}  // namespace

TEST_F(SourceFiles, PlainModelsAreDecodedByTheirMarks) {
    const std::string text = "a = \xC3\xA9\nb = \xD0\x96\n";  // é, Ж
    const WideString expected = u"a = \u00E9\r\nb = \u0416\r\n";
    EXPECT_EQ(LoadSource(Write("plain.txt", text)).Text, expected);
    EXPECT_EQ(LoadSource(Write("bom8.txt", "\xEF\xBB\xBF" + text)).Text, expected);
    // "a =" + U+00E9 + LF in UTF-16, little and big endian.
    EXPECT_EQ(LoadSource(Write("le.txt", std::string("\xFF\xFE"
                                                     "a\0=\0\xE9\0\n\0",
                                                     10)))
                  .Text,
              u"a=\u00E9\r\n");
    EXPECT_EQ(LoadSource(Write("be.txt", std::string("\xFE\xFF"
                                                     "\0a\0=\0\xE9\0\n",
                                                     10)))
                  .Text,
              u"a=\u00E9\r\n");

    TLoadedSource s = LoadSource(Write("p.txt", "x"));
    EXPECT_TRUE(s.IsPlainModel);
    EXPECT_TRUE(s.FullPath.ends_with(u"/p.txt"));
    EXPECT_EQ(s.FullPath[0], u'/');
    EXPECT_THROW(LoadSource(Write("x", "") + u"-missing"), EFOpenError);
}

TEST_F(SourceFiles, LineBreaksBecomeCrLf) {
    EXPECT_EQ(LineBreaksToCrLf(u"a\nb\n"), u"a\r\nb\r\n");
    EXPECT_EQ(LineBreaksToCrLf(u"a\rb\r"), u"a\r\nb\r\n");
    EXPECT_EQ(LineBreaksToCrLf(u"a\r\nb\n"), u"a\r\nb\n");  // the first break decides
    // A CR LF pair in a file of LF breaks stays one break.
    EXPECT_EQ(LineBreaksToCrLf(u"a\nb\r\nc"), u"a\r\nb\r\nc");
    // A line feed in the first place does not decide the style.
    EXPECT_EQ(LineBreaksToCrLf(u"\na\rb"), u"\na\r\nb");
    EXPECT_EQ(LineBreaksToCrLf(u""), u"");
    EXPECT_EQ(LoadSource(Write("cr.txt", "a\rb")).Text, u"a\r\nb");
}

TEST_F(SourceFiles, ScriptsGiveTheirFirstSupportedModel) {
    EXPECT_TRUE(LooksLikeScript("Tessarine 0.79"));
    EXPECT_FALSE(LooksLikeScript("Tessarine x"));
    EXPECT_FALSE(LooksLikeScript("Tessarine "));  // too short to hold the digit
    EXPECT_FALSE(LooksLikeScript("tessarine 0"));

    TLoadedSource s = LoadSource(Write("s.tsn",
                                       "Tessarine 0.79\n"
                                       "preamble\n"
                                       "\n"
                                       "== Model ==\n"
                                       "===[> 0.79] Later ===\n"
                                       "later = x\n"
                                       "=== Now ===\n"
                                       "now = y\n"
                                       "  child = z\n"));
    EXPECT_FALSE(s.IsPlainModel);
    EXPECT_EQ(s.Text, u"now = y\r\n  child = z");

    // The product word without a digit: a plain model, loaded whole.
    TLoadedSource plain = LoadSource(Write("p.tsn", "Tessarine notes\n== Model ==\n"));
    EXPECT_TRUE(plain.IsPlainModel);
    EXPECT_EQ(plain.Text, u"Tessarine notes\r\n== Model ==\r\n");

    EXPECT_THROW(LoadSource(Write("none.tsn", "Tessarine 0.79\n\n== Sample ==\nx\n")), ETsScriptNoKind);
}

TEST(TsdbgSource, NonAsciiModelTextSurvivesBothReaders) {
    const WideString text = u"\"\u0416\u00E9a\" = \u00E9\u20AC\r\n";
    for (TModelReader reader : {TModelReader::Modelling, TModelReader::Native}) {
        std::unique_ptr<TTsTreeNode> tree = ReadModelText(text, reader);
        ASSERT_EQ(tree->ChildCount(), 1);
        const TTsTreeNode& node = *tree->ChildByIndex(0);
        EXPECT_EQ(node.Name(), u"a");
        EXPECT_EQ(node.Props().Get(u"mPath").Value.Str, u"\u0416\u00E9a");
        EXPECT_EQ(node.Props().Get(u"mCond").Value.Str, u"= \u00E9\u20AC");
    }
    EXPECT_EQ(MemoTextToBytes(u"\u00E9"), "\xC3\xA9");
}

TEST(TsdbgSource, ACancelledReadStops) {
    TTsmCancelToken token;
    const WideString text = u"a = x\r\nb = y\r\n";
    EXPECT_EQ(ReadModelText(text, TModelReader::Modelling, &token)->ChildCount(), 2);
    token.Cancel();
    for (TModelReader reader : {TModelReader::Modelling, TModelReader::Native})
        EXPECT_THROW(ReadModelText(text, reader, &token), EReadError);
}

TEST(TsdbgSource, APipeIsRefusedWithAnErrorNotACrash) {
    // A source that cannot seek (a pipe, a terminal) cannot be read twice
    // as loading needs; the failed seek used to be retried without end.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ASSERT_EQ(::write(fds[1], "Tessarine 0.79\n== Model ==\nEND? eof\n", 36), 36);
    ::close(fds[1]);
    const WideString path = u"/dev/fd/" + IntToStr(fds[0]);
    try {
        LoadSource(path);
        ADD_FAILURE() << "a pipe was loaded";
    } catch (const EStreamError& e) {
        EXPECT_NE(e.Message().find(u"Cannot seek in file \"" + path + u"\"."), WideString::npos);
    }
    ::close(fds[0]);
}

TEST_F(SourceFiles, ErrorsOfAScriptsModelNameTheScriptsLines) {
    // The model starts on line 6: after its header and a blank line.
    const WideString path = Write("bad.tsn",
                                  "Tessarine 0.79\n"
                                  "preamble\n"
                                  "\n"
                                  "== Model ==\n"
                                  "\n"
                                  "LINE\n"
                                  "  \"a\" % ID+\n"
                                  "  2 $ :\n");
    const TLoadedSource s = LoadSource(path);
    EXPECT_EQ(s.FirstLine, 5);
    TModelReadOptions options;
    options.SourceName = u"bad.tsn";
    options.FirstLine = s.FirstLine;
    try {
        ReadModelText(s.Text, TModelReader::Modelling, options);
        FAIL() << "the model line should not read";
    } catch (const ETsmMismatch& e) {
        const std::string text = WideToUtf8(MemoErrorPlaceText(s.Text, e, u"bad.tsn", s.FirstLine, u"msg"));
        EXPECT_EQ(text, "bad.tsn:8:5: msg\n  2 $ :\n    ^\n");
    }
    // Lines the reader reads carry the file's name and line.
    const auto tree = ReadModelText(s.Text, TModelReader::Native, options);
    const TTsProperty* source = tree->ChildByIndex(0)->Props().Find(u"source");
    ASSERT_TRUE(source);
    EXPECT_EQ(TsmSourceText(source->Value, nullptr), u"bad.tsn:6");
}

TEST_F(SourceFiles, ReportsOfTheModellingReaderCanLetTheReadGoOn) {
    const WideString text = u"LINE\r\n\t\"text\" % ANY*\r\n";
    EXPECT_THROW(ReadModelText(text, TModelReader::Modelling), ETsmWarning);
    std::vector<std::string> places;
    TModelReadOptions options;
    options.OnReport = [&](Exception& e) { places.push_back(WideToUtf8(MemoErrorPlaceText(text, e, u"m", 0, u"w"))); };
    const auto tree = ReadModelText(text, TModelReader::Modelling, options);
    // The read went on to the tab-indented line (which the canonical model
    // takes as a line of its own).
    EXPECT_EQ(tree->ChildCount(), 2);
    EXPECT_EQ(places, (std::vector<std::string>{"m:2:1: w\n\t\"text\" % ANY*\n^\n"}));
}
