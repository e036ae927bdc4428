// The example scripts of examples/: each loads as its author meant, and its
// first supported model, compiled and run over the script's own samples,
// cuts them as the description says.
#include <gtest/gtest.h>

#include "library/modelling/TsmCompiler.h"
#include "library/modelling/streams/TsmSlicer.h"
#include "library/script/TsScript.h"
#include "library/text/TsNativeReader.h"
#include "support/Strings.h"
#include "tests/script/ScriptTestUtil.h"

using namespace ts;
using namespace ts::scripttest;

namespace {

// A model compiled from a script and run over some input; members go in
// reverse order, the result first.
struct TModelRun {
    std::unique_ptr<TTsTreeNode> Tree;
    std::unique_ptr<TTsmCompiler> Compiler;
    std::unique_ptr<TMemoryStream> Input;
    std::unique_ptr<TTsmSlicer> Result;

    // The texts of every result node of that name below the root.
    std::vector<WideString> Texts(std::u16string_view record, std::u16string_view field) const {
        std::vector<WideString> out;
        const TTsTreeNode* root = Result->ResultRoot();
        for (int i = 0; i < root->ChildCount(); ++i) {
            const TTsTreeNode* node = root->ChildByIndex(i);
            if (node->Name() == record)
                out.push_back(Utf8ToWide(Result->TextOfNode(node->FirstChild(field), u"start")));
        }
        return out;
    }
};

std::unique_ptr<TModelRun> RunModel(const TTsScript& script, const WideString& model, const WideString& input) {
    auto run = std::make_unique<TModelRun>();
    run->Tree = TTsmNativeStreamer::ReadFrom(std::make_unique<TStringStream>(WideToUtf8(model)));
    run->Compiler = std::make_unique<TTsmCompiler>();
    run->Compiler->Options.LineBreak = script.Options.LineBreak;
    run->Compiler->Compile(*run->Tree);
    run->Input = std::make_unique<TMemoryStream>(WideToUtf8(input));
    run->Result = run->Compiler->Modell(*run->Input);
    return run;
}

}  // namespace

TEST(ScriptExamples, ServerLog) {
    auto s = LoadExample(u"server-log.tsn");
    EXPECT_EQ(s->Signature, u"Server log lines: date, time, level and message");
    EXPECT_EQ(s->Preamble,
              u"A model of the one-line entries our HTTP front end writes to server.log.\n"
              u"Every entry is one line; the message runs to the end of it.");
    ASSERT_EQ(s->SectionCount(), 5);
    EXPECT_EQ(s->Section(1).DisplayTitle(), u"Options");
    EXPECT_EQ(s->ByKey(lsTree).SubsectionCount(), 2);
    EXPECT_EQ(s->ByKey(lsSample).DisplayTitle(), u"Samples");
    EXPECT_EQ(s->ByKey(lsSample).Line, 35);
    EXPECT_EQ(s->ByKey(lsDescription).DisplayTitle(), u"Description");

    auto& opts = static_cast<TTsOptionSection&>(s->ByKey(lsOptions));
    const TMemIniFileW& ini = opts.Ini();
    EXPECT_EQ(ini.ReadSections(), (std::vector<WideString>{u"tsn", u"dump", u"colours"}));
    EXPECT_EQ(ini.ReadString(u"tsn", u"encoding", {}), u"utf-8");
    EXPECT_EQ(ini.ReadString(u"tsn", u"strict", {}), u"1");
    EXPECT_EQ(ini.ReadString(u"tsn", u"levels", {}), u"INFO\nWARN\n\nERROR");
    EXPECT_EQ(ini.ReadString(u"dump", u"collapse", {}), u"0");
    EXPECT_EQ(ini.ReadString(u"dump", u"title", {}), u"Server log");
    EXPECT_EQ(ini.ReadSection(u"colours"), (std::vector<WideString>{u"INFO", u"WARN", u"ERROR"}));

    const TTsSection& samples = s->ByKey(lsSample);
    auto run = RunModel(*s, s->FirstModel().Text(), samples.FirstSubsection().Text());
    EXPECT_EQ(run->Texts(u"entry", u"level"), (std::vector<WideString>{u"INFO", u"WARN", u"ERROR"}));
    EXPECT_EQ(run->Texts(u"entry", u"message"),
              (std::vector<WideString>{u"Server started on port 8080", u"Disk usage at 91%",
                                       u"Connection refused: db.local:5432"}));
    EXPECT_EQ(run->Texts(u"entry", u"date")[2], u"2024-05-01");

    ASSERT_EQ(samples.SubsectionCount(), 2);
    auto edge = RunModel(*s, s->FirstModel().Text(), samples.Subsection(1).Text());
    EXPECT_EQ(edge->Texts(u"entry", u"message"), (std::vector<WideString>{u""}));
}

TEST(ScriptExamples, PhoneBookInKoi8r) {
    // The file really is KOI8-R: its bytes are not UTF-8.
    const RawByteString bytes = LoadFileBytes(ExamplePath(u"phone-book-ru.tsn"));
    EXPECT_NE(bytes.find("\xED\xCF\xC4\xC5\xCC\xD8"), RawByteString::npos);  // "Модель"

    auto s = LoadExample(u"phone-book-ru.tsn");
    EXPECT_EQ(s->LangCode, u"ru");
    EXPECT_EQ(s->Charset, u"koi8-r");
    EXPECT_EQ(s->Signature, u"Phone book, Russian edition");
    EXPECT_EQ(s->LangLines.Count(), 5);
    EXPECT_EQ(s->Preamble, u"Телефонная книга отдела: одна запись на строку, имя и номер через двоеточие.");

    ASSERT_EQ(s->SectionCount(), 6);
    EXPECT_EQ(s->Section(0).Kind, lsModel);
    EXPECT_EQ(s->Section(0).DisplayTitle(), u"Модель");
    EXPECT_EQ(s->Section(0).Line, 9);
    EXPECT_EQ(s->Section(1).Title, u"Sample");
    EXPECT_EQ(s->Section(1).Header(), u"== Образцы ==");
    EXPECT_EQ(s->Section(2).Kind, lsDescription);
    EXPECT_EQ(s->Section(3).Title, u"Notes");
    EXPECT_EQ(s->Section(3).Kind, lsOther);
    EXPECT_EQ(s->Section(3).DisplayTitle(), u"Заметки");
    EXPECT_EQ(s->Section(4).Title, u"Ссылки");
    EXPECT_EQ(s->Section(4).Line, 27);
    EXPECT_EQ(s->Section(5).Kind, lsTree);
    EXPECT_EQ(s->Section(5).Header(), u"== Деревья ==");
    EXPECT_EQ(s->Section(4).FirstSubsection().Text(), u"Справочник: https://tessarine.dev");

    auto run = RunModel(*s, s->FirstModel().Text(), s->ByKey(lsSample).FirstSubsection().Text());
    EXPECT_EQ(run->Texts(u"contact", u"name"), (std::vector<WideString>{u"Иванов Пётр", u"Сидорова Анна"}));
    EXPECT_EQ(run->Texts(u"contact", u"phone"), (std::vector<WideString>{u"+7 495 123-45-67", u"8 (812) 765-43-21"}));
}

TEST(ScriptExamples, VersionedRecords) {
    auto s = LoadExample(u"versioned-records.tsn");
    TTsSection& models = s->ByKey(lsModel);
    EXPECT_EQ(models.FirstSubsection().Text(), u"");
    ASSERT_EQ(models.SubsectionCount(), 5);
    EXPECT_EQ(models.Subsection(1).Versions.ToText(), u"[< 0.7]");
    EXPECT_EQ(models.Subsection(2).Versions.ToText(), u"[>= 0.7 < 0.79]");
    EXPECT_EQ(models.Subsection(4).Versions.ToText(), u"[> 0.79]");
    EXPECT_EQ(models.Subsection(4).Line, 29);
    EXPECT_EQ(s->FirstModel().Title(), u"Current");
    EXPECT_EQ(models.DisplayTitle(), u"Models");

    auto run = RunModel(*s, s->FirstModel().Text(), s->ByKey(lsSample).FirstSubsection().Text());
    EXPECT_EQ(run->Texts(u"record", u"key"), (std::vector<WideString>{u"name", u"version", u"empty_value"}));
    EXPECT_EQ(run->Texts(u"record", u"value"), (std::vector<WideString>{u"Tessarine", u"0.79", u""}));
}
