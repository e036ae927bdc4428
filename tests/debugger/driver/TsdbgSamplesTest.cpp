// Tests of a script's samples: pairing, judging, and writing trees back.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "debugger/driver/TsdbgSamples.h"
#include "library/script/TsScript.h"
#include "library/script/charset/Charsets.h"
#include "support/Strings.h"

using namespace ts;

namespace {

constexpr std::string_view kModel =
    "END? eof\n"
    "\"pair\" =\n"
    "  1 \"key\" % LAT+\n"
    "  2 % =\n"
    "  3 \"value\" % DIG+\n"
    "  4 % NL\n";

std::unique_ptr<TTsScript> Load(std::string_view bytes) {
    auto script = std::make_unique<TTsScript>();
    TStringStream stream{RawByteString(bytes)};
    script->Load(stream, u"t.tsn");
    return script;
}

std::string Script(std::string_view rest) {
    return "Tessarine 0.79\n\n== Model ==\n" + std::string(kModel) + "\n" + std::string(rest);
}

// What `tessarine test --update` does to a file, as a function of bytes.
RawByteString Updated(std::string_view bytes) {
    std::unique_ptr<TTsScript> script = Load(bytes);
    const TSampleModel model = SampleModelOf(*script, script->FirstModel().Text());
    std::vector<std::pair<WideString, WideString>> trees;
    for (const TSampleCase& c : SampleCases(*script)) {
        TSampleOutcome outcome = RunSample(model, c);
        EXPECT_FALSE(outcome.Run->Error) << WideToUtf8(outcome.Run->Error->Message());
        trees.emplace_back(c.Title, outcome.Produced);
    }
    return UpdatedTreeSections(bytes, *script, trees);
}

}  // namespace

TEST(Samples, PairWithTreesOfTheirTitle) {
    const std::unique_ptr<TTsScript> script =
        Load(Script("== Samples ==\na=1\n\n=== two ===\nb=2\n\n===[< 0.5] old ===\nc=3\n\n=== lone ===\nd=4\n\n"
                    "== Tree ==\nfirst tree\n\n=== two ===\nsecond tree\n\n=== nobody ===\nx\n"));
    const std::vector<TSampleCase> cases = SampleCases(*script);
    ASSERT_EQ(cases.size(), 3u);  // the old one is for other versions
    EXPECT_EQ(cases[0].Title, u"");
    EXPECT_EQ(cases[0].Text, u"a=1");
    EXPECT_EQ(cases[0].Expected, WideString(u"first tree"));
    EXPECT_EQ(cases[1].Title, u"two");
    EXPECT_EQ(cases[1].Expected, WideString(u"second tree"));
    EXPECT_EQ(cases[2].Title, u"lone");
    EXPECT_FALSE(cases[2].Expected);
    EXPECT_TRUE(HasTreeSections(*script));

    // An empty untitled sample is no case; no Tree section, no trees.
    const std::unique_ptr<TTsScript> titled = Load(Script("== Sample ==\n=== only ===\na=1\n"));
    ASSERT_EQ(SampleCases(*titled).size(), 1u);
    EXPECT_EQ(SampleCases(*titled)[0].Title, u"only");
    EXPECT_FALSE(HasTreeSections(*titled));
}

TEST(Samples, AreJudgedByTreeReportsAndInputLeft) {
    TSampleModel model;
    model.ModelText = Utf8ToWide(kModel);
    model.LineBreak = u"\n";
    const WideString tree = u"<unnamed> = \"a=1\\n\"\n  pair = \"a=1\\n\"\n    key = \"a\"\n    value = \"1\"\n";

    // The sample's last line gets its line break back, so NL matches.
    TSampleOutcome ok = RunSample(model, {u"t", u"a=1", 0, 1, tree});
    EXPECT_TRUE(ok.Passed) << WideToUtf8(ok.Failure);
    EXPECT_EQ(ok.Produced, tree);
    // Expected trees compare whatever their line breaks and trailing blank lines.
    EXPECT_TRUE(
        RunSample(model,
                  {u"t", u"a=1", 0, 1,
                   u"<unnamed> = \"a=1\\n\"\r\n  pair = \"a=1\\n\"\r\n    key = \"a\"\r\n    value = \"1\"\r\n\r\n"})
            .Passed);

    TSampleOutcome differ = RunSample(model, {u"t", u"a=2", 0, 1, tree});
    EXPECT_FALSE(differ.Passed);
    EXPECT_EQ(differ.Failure, u"the trees differ");

    TSampleOutcome failed = RunSample(model, {u"t", u"a=x", 0, 1, std::nullopt});
    EXPECT_EQ(failed.Failure, u"the run failed");
    EXPECT_EQ(failed.Run->ErrorStage, TRunStage::Input);
    EXPECT_EQ(failed.Run->FarthestOffset, 2);
    EXPECT_NE(failed.Run->Expected.find(u"DIG+"), WideString::npos);

    // Without a tree, any finished run without FAIL reports or input left passes.
    EXPECT_TRUE(RunSample(model, {u"t", u"a=1\nb=2", 0, 1, std::nullopt}).Passed);

    TSampleModel failing = model;
    failing.ModelText = u"\"pair\" =\n  1 \"key\" % LAT+\n  FAIL \"no value\" = =\n";
    TSampleOutcome reported = RunSample(failing, {u"t", u"a=", 0, 1, std::nullopt});
    EXPECT_EQ(reported.Failure, u"FAIL reports");
    ASSERT_EQ(reported.Run->Reports.size(), 2u);  // the FAIL, then the line break left
    EXPECT_FALSE(reported.Run->Reports[0].IsWarning);

    TSampleModel once = model;
    once.ModelText = u"\"key\" % LAT+\n";
    EXPECT_EQ(RunSample(once, {u"t", u"abc", 0, 1, std::nullopt}).Failure, u"input left");

    TSampleModel broken = model;
    broken.ModelText = u"END? eof\n\"a\" =\n  2 $ :\n";
    EXPECT_EQ(RunSample(broken, {u"t", u"abc", 0, 1, std::nullopt}).Failure, u"the model failed");
}

TEST(Samples, UpdateReplacesTreeTextsAndKeepsEveryOtherByte) {
    // Untitled sample paired with the first Tree subsection, a titled one
    // with a stale tree, one without a tree; a section after the Tree section.
    const std::string before = Script(
        "== Samples ==\nab=1\n\n=== two ===\ncd=2\n\n=== three ===\nef=3\n\n"
        "== Tree ==\nstale\n\n=== two ===\nstale too\n  deeper\n\n\n"
        "== Notes ==\nkept   \n");
    const RawByteString after = Updated(before);
    const std::string tree1 = "<unnamed> = \"ab=1\\n\"\n  pair = \"ab=1\\n\"\n    key = \"ab\"\n    value = \"1\"\n";
    const std::string tree2 = "<unnamed> = \"cd=2\\n\"\n  pair = \"cd=2\\n\"\n    key = \"cd\"\n    value = \"2\"\n";
    const std::string tree3 = "<unnamed> = \"ef=3\\n\"\n  pair = \"ef=3\\n\"\n    key = \"ef\"\n    value = \"3\"\n";
    EXPECT_EQ(after,
              Script("== Samples ==\nab=1\n\n=== two ===\ncd=2\n\n=== three ===\nef=3\n\n"
                     "== Tree ==\n" +
                     tree1 + "\n=== two ===\n" + tree2 + "\n=== three ===\n" + tree3 + "\n\n== Notes ==\nkept   \n"));
    // A file updated once does not change again, and its samples now pass.
    EXPECT_EQ(Updated(after), after);
    const std::unique_ptr<TTsScript> script = Load(after);
    for (const TSampleCase& c : SampleCases(*script))
        EXPECT_TRUE(RunSample(SampleModelOf(*script, script->FirstModel().Text()), c).Passed) << WideToUtf8(c.Title);
}

TEST(Samples, UpdateAddsATreeSectionInTheFilesLineBreakAndCharset) {
    // KOI8-R, CR LF, a language block naming the Tree section, no final break.
    const WideString text =
        u"Tessarine 0.79\r\n@RU koi8-r\r\n  \u041E\u0431\u0440\u0430\u0437\u0446\u044B=Samples\r\n"
        u"  \u0414\u0435\u0440\u0435\u0432\u043E=Tree\r\n\r\n== Model ==\r\n"
        u"END? eof\r\n\"pair\" =\r\n  1 \"key\" % [^NL=]+\r\n  2 % =\r\n  3 \"value\" % DIG+\r\n  4 % NL\r\n\r\n"
        u"== \u041E\u0431\u0440\u0430\u0437\u0446\u044B ==\r\n\u0416\u0443\u043A=7";
    const RawByteString before = WideToBytes(CodepageOfCharset("koi8-r"), text);
    const RawByteString after = Updated(before);
    ASSERT_EQ(after.substr(0, before.size()), before);
    const WideString added = BytesToWide(CodepageOfCharset("koi8-r"), after.substr(before.size()));
    EXPECT_EQ(added,
              u"\r\n\r\n== \u0414\u0435\u0440\u0435\u0432\u043E ==\r\n"
              u"<unnamed> = \"\u0416\u0443\u043A=7\\r\\n\"\r\n  pair = \"\u0416\u0443\u043A=7\\r\\n\"\r\n"
              u"    key = \"\u0416\u0443\u043A\"\r\n    value = \"7\"\r\n");
    EXPECT_EQ(Updated(after), after);
}

TEST(Samples, SuiteFromAFileKnowsWhereEachSampleStarts) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("tsdbg-samples-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const WideString path = Utf8ToWide((dir / "s.tsn").string());
    SaveFileBytes(path, Script("== Sample ==\n\n\na=1\n\n=== b ===\nb=2\n"));
    const TSampleSuite suite = LoadSampleSuite(path);
    ASSERT_EQ(suite.Cases.size(), 2u);
    EXPECT_EQ(suite.Cases[0].TextLine, 13);  // past the blank lines after the header
    EXPECT_EQ(suite.Cases[1].TextLine, 16);
    EXPECT_EQ(suite.Model.Read.FirstLine, 3);
    // A plain model has no samples.
    SaveFileBytes(path, std::string(kModel));
    EXPECT_TRUE(LoadSampleSuite(path).Cases.empty());
    std::filesystem::remove_all(dir);
}
