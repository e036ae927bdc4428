// Loading scripts: header fields, section titles and kinds, version
// conditions, line indexes, languages and charsets, the first supported
// model, and the failures that leave a script empty.
#include <gtest/gtest.h>

#include "library/modelling/TsmEngine.h"
#include "library/modelling/TsmNodes.h"
#include "library/modelling/streams/TsmSlicer.h"
#include "library/script/TsScript.h"
#include "support/Strings.h"
#include "tests/script/ScriptTestUtil.h"

using namespace ts;
using namespace ts::scripttest;

TEST(ScriptLoad, HeaderFieldsAndLineBreaks) {
    auto s = LoadText(
        "Tessarine 0.5  ||  signed by me  \n"
        "\nFirst words.\r\n\n"
        "== Tree ==\nroot\n");
    EXPECT_EQ(s->Version(), TTsVersions::Make(0, 50));
    EXPECT_EQ(s->Signature, u"signed by me");
    EXPECT_EQ(s->LangCode, u"en");
    EXPECT_EQ(s->Charset, u"utf-8");
    EXPECT_EQ(s->LangLines.Count(), 0);
    EXPECT_EQ(s->Preamble, u"First words.");
    EXPECT_EQ(s->Options.LineBreak, u"\n");
    EXPECT_EQ(s->Name, u"<MemoryStream>");
    EXPECT_EQ(s->SectionCount(), 1);
    EXPECT_EQ(s->ByKey(lsTree).FirstSubsection().Text(), u"root");
    EXPECT_EQ(s->Slicer, nullptr);

    // The same object detects the next file's line break again.
    TMemoryStream crlf(RawByteString("Tessarine 0.79\r\n== Tree ==\r\na\r\n\r\nb\r\n"));
    s->Load(crlf, u"tree.tsn", true);
    EXPECT_EQ(s->Options.LineBreak, u"\r\n");
    EXPECT_EQ(s->Name, u"tree.tsn");
    EXPECT_EQ(s->Signature, u"");
    EXPECT_EQ(s->Preamble, u"");
    EXPECT_EQ(s->ByKey(lsTree).FirstSubsection().Text(), u"a\r\n\r\nb");
    ASSERT_NE(s->Slicer, nullptr);
    EXPECT_NE(s->Slicer->ResultRoot()->FirstChild(u"sections"), nullptr);

    // One bar is enough; a bar the author wrote after "||" stays.
    EXPECT_EQ(LoadText("Tessarine 0.79 | one bar\n== Tree ==\nt\n")->Signature, u"one bar");
    EXPECT_EQ(LoadText("Tessarine 0.79 || |x|\n== Tree ==\nt\n")->Signature, u"|x|");

    // A line break chosen by the caller is kept.
    TTsScript fixed;
    fixed.Options.LineBreak = u"\r";
    TMemoryStream lf(RawByteString("Tessarine 0.79\n== Tree ==\na\n"));
    EXPECT_THROW(fixed.Load(lf), ETsmMismatch);
    EXPECT_EQ(fixed.Options.LineBreak, u"\r");
}

TEST(ScriptLoad, VersionsNewerThanTheLibraryAndZero) {
    try {
        LoadText("Tessarine 0.80\n== Model ==\nm\n");
        FAIL() << "0.80 loaded";
    } catch (const ETsLaterScriptVersion& e) {
        EXPECT_EQ(e.Message(), u"Tessarine script version (v0.8) is newer than this build (v0.79).");
        EXPECT_EQ(e.Version, TTsVersions::Make(0, 80));
    }

    // A handler takes the report and the file loads anyway.
    TTsScript tolerant;
    std::vector<WideString> reports;
    tolerant.OnError = [&](TTsObject& sender, Exception& e) {
        EXPECT_EQ(&sender, &tolerant);
        reports.push_back(e.Message());
    };
    TMemoryStream newer(RawByteString("Tessarine 12.345 || future\n== Model ==\nm\n"));
    tolerant.Load(newer);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], u"Tessarine script version (v12.255) is newer than this build (v0.79).");
    EXPECT_EQ(tolerant.Version(), TTsVersions::Make(12, 255));
    EXPECT_EQ(tolerant.FirstModel().Text(), u"m");

    EXPECT_EQ(LoadText("Tessarine 0.79\n== Model ==\nm\n")->Version(), 79);
    EXPECT_EQ(LoadText("Tessarine 0.1\n== Model ==\nm\n")->Version(), TTsVersions::Make(0, 10));

    TTsScript zero;
    TMemoryStream z(RawByteString("Tessarine 0.0\n== Model ==\nm\n"));
    try {
        zero.Load(z);
        FAIL() << "0.0 loaded";
    } catch (const ETsScriptZeroVersion& e) {
        EXPECT_EQ(e.Message(), u"Attempted to set a zero TTsVersion for TTsScript.");
        EXPECT_EQ(e.Script, &zero);
    }
    EXPECT_EQ(zero.SectionCount(), 0);
    EXPECT_THROW(zero.SetVersion(0), ETsScriptZeroVersion);
}

TEST(ScriptLoad, SectionTitlesKindsAndDuplicates) {
    auto s = LoadText(
        "Tessarine 0.79\n"
        "== Models ==\nm\n"
        "==  sample  ==\nx\n"
        "== Notes ==\nn\n"
        "== Model [>= 0.7] ==\nbracketed\n");
    ASSERT_EQ(s->SectionCount(), 4);
    TTsSection& model = s->ByKey(lsModel);
    EXPECT_EQ(model.ClassName(), u"TTsModelSection");
    EXPECT_EQ(model.Title, u"Model");
    EXPECT_EQ(model.Kind, lsModel);
    EXPECT_EQ(&s->Section(0), &model);
    EXPECT_EQ(s->ByKey(lsSample).FirstSubsection().Text(), u"x");
    TTsSection* notes = s->FindSection(u"Notes");
    ASSERT_NE(notes, nullptr);
    EXPECT_EQ(notes->Kind, lsOther);
    EXPECT_EQ(notes->ClassName(), u"TTsSection");
    // Brackets after the title are part of it.
    TTsSection& bracketed = s->Section(3);
    EXPECT_EQ(bracketed.Title, u"Model [>= 0.7]");
    EXPECT_EQ(bracketed.Kind, lsOther);
    EXPECT_TRUE(bracketed.Versions.IsEmpty());
    EXPECT_EQ(s->TryByKey(lsOptions), nullptr);

    TTsScript twice;
    TMemoryStream in(RawByteString("Tessarine 0.79\n== model ==\na\n== Tree ==\nt\n== MODELS ==\nb\n"));
    try {
        twice.Load(in);
        FAIL() << "a second model section loaded";
    } catch (const ETsDuplicatedSection& e) {
        EXPECT_EQ(e.Message(), u"Declaring 'Model' TTsScript section twice.");
    }
    EXPECT_EQ(twice.SectionCount(), 0);
    EXPECT_THROW(LoadText("Tessarine 0.79\n== Notes ==\na\n== Notes ==\nb\n"), ETsDuplicatedSection);
}

TEST(ScriptLoad, VersionConditionsInHeaders) {
    auto s = LoadText(
        "Tessarine 0.79\n"
        "==[>= 0.7 < 1.0] Model ==\n"
        "===[0.5 > 0.1 <= 1.0 = 0.79 != 0.6] all ==\n"
        "body\n"
        "=== [< 0.5] spaced ===\n");
    TTsSection& model = s->ByKey(lsModel);
    ASSERT_EQ(model.Versions.Count(), 2);
    EXPECT_EQ(model.Versions.OpAt(0), voGreaterEq);
    EXPECT_EQ(model.Versions.VersionAt(0), TTsVersions::Make(0, 70));
    EXPECT_EQ(model.Versions.OpAt(1), voLess);
    EXPECT_EQ(model.Versions.VersionAt(1), TTsVersions::Make(1, 0));
    EXPECT_EQ(model.Title, u"Model");
    // The untitled part carries no conditions of its own.
    EXPECT_TRUE(model.FirstSubsection().Versions.IsEmpty());

    ASSERT_EQ(model.SubsectionCount(), 3);
    TTsSubsection& all = model.Subsection(1);
    EXPECT_EQ(all.Title(), u"all");
    EXPECT_EQ(all.Versions.ToText(), u"[>= 0.5 > 0.1 <= 1.0 = 0.79 <> 0.6]");
    EXPECT_EQ(all.Text(), u"body");
    EXPECT_TRUE(all.Versions.SatisfiesLibrary());
    TTsSubsection& spaced = model.Subsection(2);
    EXPECT_EQ(spaced.Title(), u"[< 0.5] spaced");
    EXPECT_TRUE(spaced.Versions.IsEmpty());
    EXPECT_EQ(spaced.Text(), u"");
}

TEST(ScriptLoad, NotEqualReadsInBothSpellings) {
    // "<>" is how conditions are written back, so it must read back too.
    auto s = LoadText(
        "Tessarine 0.79\n"
        "==[<> 0.5 <0.9] Model ==\n"
        "m\n"
        "===[<>0.79] later ===\n"
        "x\n");
    TTsSection& model = s->ByKey(lsModel);
    ASSERT_EQ(model.Versions.Count(), 2);
    EXPECT_EQ(model.Versions.OpAt(0), voNotEqual);
    EXPECT_EQ(model.Versions.VersionAt(0), TTsVersions::Make(0, 50));
    EXPECT_EQ(model.Versions.OpAt(1), voLess);
    TTsSubsection& later = model.Subsection(1);
    ASSERT_EQ(later.Versions.Count(), 1);
    EXPECT_EQ(later.Versions.OpAt(0), voNotEqual);
    EXPECT_FALSE(later.Versions.SatisfiesLibrary());

    auto again = LoadText("Tessarine 0.79\n" + WideToUtf8(model.ToText()) + "\n");
    EXPECT_EQ(again->ByKey(lsModel).Versions.ToText(), u"[<> 0.5 < 0.9]");
    EXPECT_EQ(again->ByKey(lsModel).Subsection(1).Versions.ToText(), u"[<> 0.79]");
}

TEST(ScriptLoad, LineIndexesAndTexts) {
    auto s = LoadText(
        "Tessarine 0.79\r\n"     // 0
        "pre\r\n"                // 1
        "== Model ==\r\n"        // 2
        "a\r\n"                  // 3
        "\r\n"                   // 4
        "=== one ===\r\n"        // 5
        "b\r\n"                  // 6
        "== Description ==\r\n"  // 7
        "\r\n"                   // 8
        "text\r\n"               // 9
        "  == not a header\r\n"  // 10
        "=== two ==\r\n"         // 11
        "=== three ===\r\n");    // 12
    TTsSection& model = s->ByKey(lsModel);
    EXPECT_EQ(model.Line, 2);
    EXPECT_EQ(model.FirstSubsection().Line, 2);
    EXPECT_EQ(model.FirstSubsection().Text(), u"a");
    EXPECT_EQ(model.Subsection(1).Line, 5);
    EXPECT_EQ(model.Subsection(1).Text(), u"b");
    TTsSection& desc = s->ByKey(lsDescription);
    EXPECT_EQ(desc.Line, 7);
    EXPECT_EQ(desc.FirstSubsection().Text(), u"text\r\n  == not a header");
    ASSERT_EQ(desc.SubsectionCount(), 3);
    EXPECT_EQ(desc.Subsection(1).Title(), u"two");
    EXPECT_EQ(desc.Subsection(1).Line, 11);
    EXPECT_EQ(desc.Subsection(2).Line, 12);
    EXPECT_EQ(s->Preamble, u"pre");
}

TEST(ScriptLoad, BrokenFilesFailAndLeaveNothing) {
    TTsScript s;
    TMemoryStream good(RawByteString("Tessarine 0.79 || sig\n== Model ==\nm\n"));
    s.Load(good, u"", true);
    ASSERT_EQ(s.SectionCount(), 1);

    for (const char* text : {"Tessarine\n== Model ==\nm\n", "Tessarine 0.79\nno sections at all\n", "plain text", "",
                             "Tessarine 0.79\n==[>= x] Model ==\nm\n"}) {
        TMemoryStream in{RawByteString(text)};
        EXPECT_THROW(s.Load(in), ETsmMismatch) << text;
        EXPECT_EQ(s.SectionCount(), 0) << text;
        EXPECT_EQ(s.Signature, u"") << text;
        EXPECT_EQ(s.Slicer, nullptr) << text;
    }

    // Hostile bytes neither crash nor hang.
    RawByteString noise = "Tessarine 0.79\n@XX koi8-r\n";
    for (int i = 0; i < 1024; ++i) noise += static_cast<char>((i * 7919) & 0xFF);
    TMemoryStream in(noise);
    EXPECT_THROW(s.Load(in), ETessarine);
    EXPECT_EQ(s.SectionCount(), 0);
}

// A file cut off inside a header leaves the script model's title loop
// matching the end of the input without consuming it; that must end in the
// no-progress error, quickly, and leave the script empty.
TEST(ScriptLoad, HeaderCutOffInItsTitleEndsInTheNoProgressError) {
    TTsScript s;
    TMemoryStream in(RawByteString("Tessarine 0.79\n== Model ==\nm\n== Trees"));
    try {
        s.Load(in);
        FAIL() << "a header without its closing '==' must not load";
    } catch (const ETsmNoProgress& e) {
        EXPECT_NE(e.Message().find(u"matched 10000 times in a row"), WideString::npos) << WideToUtf8(e.Message());
    }
    EXPECT_EQ(s.SectionCount(), 0);
}

TEST(ScriptLoad, StreamNameAndPosition) {
    const WideString file = ExamplePath(u"versioned-records.tsn");
    TFileStreamW stream(file, TFileMode::fmOpenRead);
    TTsScript s(stream, {});
    EXPECT_EQ(s.Name, file);

    // Loading starts at the stream's position; lines count from there.
    TMemoryStream in(RawByteString("junk\nTessarine 0.79\n== Model ==\nm\n"));
    in.SetPosition(5);
    TTsScript moved;
    moved.Load(in);
    EXPECT_EQ(moved.ByKey(lsModel).Line, 1);
}

TEST(ScriptFirstModel, UntitledTextThenFirstAcceptedSubsection) {
    auto s = LoadText("Tessarine 0.79\n== Model ==\nfirst\n===[< 0.5] old ===\nold\n");
    EXPECT_EQ(&s->FirstModel(), &s->ByKey(lsModel).FirstSubsection());
    EXPECT_EQ(s->FirstModel().Text(), u"first");

    s = LoadText(
        "Tessarine 0.79\n== Model ==\n"
        "===[< 0.5] old ===\nold\n"
        "=== empty ===\n"
        "===[>= 0.7] fits ===\nfits\n"
        "=== later ===\nlater\n");
    EXPECT_EQ(s->FirstModel().Title(), u"fits");
    EXPECT_EQ(s->ByKey(lsModel).FirstSupported(), &s->FirstModel());

    // A model section for other versions has no model for this one.
    s = LoadText("Tessarine 0.79\n==[> 0.79] Model ==\nm\n");
    try {
        s->FirstModel();
        FAIL();
    } catch (const ETsScriptNoSupportedModel& e) {
        EXPECT_EQ(e.Message(), u"TTsScript contains no models that support this version (0.79).");
    }
    s = LoadText("Tessarine 0.79\n== Model ==\n===[= 0.78] a ===\na\n");
    EXPECT_THROW(s->FirstModel(), ETsScriptNoSupportedModel);

    s = LoadText("Tessarine 0.79\n== Sample ==\nm\n");
    try {
        s->FirstModel();
        FAIL();
    } catch (const ETsScriptNoKind& e) {
        EXPECT_EQ(e.Message(), u"TTsScript doesn't contain a lsModel section.");
    }
}

TEST(ScriptLanguage, LocalTitlesCodesAndCharsets) {
    auto s = LoadText(
        "Tessarine 0.79\n"
        "@De utf8\n"
        "  Modell = Model \n"
        "  Notizen=Notes\n"
        "  Beispiele=Samples\n"
        "Vorwort\n"
        "== modell ==\nm\n"
        "== Notizen ==\nn\n"
        "== Beispiele ==\nx\n=== zwei ===\ny\n"
        "== Eigenes ==\ne\n");
    EXPECT_EQ(s->LangCode, u"de");
    EXPECT_EQ(s->Charset, u"utf-8");
    ASSERT_EQ(s->LangLines.Count(), 3);
    EXPECT_EQ(s->LangLines.Name(0), u"Modell");
    EXPECT_EQ(s->LangLines.Value(0), u"Model");
    EXPECT_EQ(s->Preamble, u"Vorwort");

    EXPECT_EQ(s->ToEnglish(u" MODELL "), u"Model");
    EXPECT_EQ(s->ToEnglish(u"Unbekannt"), u"Unbekannt");
    EXPECT_EQ(s->ToLocal(u"notes"), u"Notizen");
    EXPECT_EQ(s->ToLocal(u"Tree"), u"Tree");

    EXPECT_EQ(s->ByKey(lsModel).FirstSubsection().Text(), u"m");
    EXPECT_EQ(s->FindSection(u"Notes")->Kind, lsOther);
    EXPECT_NE(s->FindSection(u"Eigenes"), nullptr);
    // Translated titles show as written, never pluralised.
    EXPECT_EQ(s->ByKey(lsModel).DisplayTitle(), u"Modell");
    EXPECT_EQ(s->ByKey(lsSample).DisplayTitle(), u"Beispiele");
    EXPECT_EQ(s->ByKey(lsSample).Header(), u"== Beispiele ==");
    EXPECT_EQ(s->FindSection(u"Eigenes")->DisplayTitle(), u"Eigenes");

    EXPECT_EQ(LoadText("Tessarine 0.79\n@ru UTF8\n\n== Tree ==\nt\n")->Charset, u"utf-8");
    auto plain = LoadText("Tessarine 0.79\n@FR\n  Arbre=Tree\n  Vide=  \n== Arbre ==\nt\n== Vide ==\nv\n");
    EXPECT_EQ(plain->LangCode, u"fr");
    EXPECT_EQ(plain->Charset, u"utf-8");
    EXPECT_EQ(plain->ByKey(lsTree).FirstSubsection().Text(), u"t");
    EXPECT_EQ(plain->FindSection(u"Vide")->FirstSubsection().Text(), u"v");

    try {
        LoadText("Tessarine 0.79\n@RU klingon-8\n== Tree ==\nt\n");
        FAIL();
    } catch (const ETsBadScriptCharset& e) {
        EXPECT_EQ(e.Message(), u"TTsScript charset 'klingon-8' is unknown.");
        EXPECT_EQ(e.Charset, u"klingon-8");
    }
}

TEST(ScriptLanguage, ASectionMayFollowTheLanguageBlockDirectly) {
    // The block's closing line break is also the one that opens the first
    // section; taking it for the block made the sections part of the preamble.
    auto bare = LoadText("Tessarine 0.79\n@DE\n== Model ==\nm\n== Notes ==\nn\n");
    EXPECT_EQ(bare->LangCode, u"de");
    EXPECT_EQ(bare->Preamble, u"");
    ASSERT_EQ(bare->SectionCount(), 2);
    EXPECT_EQ(bare->FirstModel().Text(), u"m");
    EXPECT_EQ(bare->ByKey(lsModel).Line, 2);
    EXPECT_EQ(bare->FindSection(u"Notes")->Line, 4);

    auto lines = LoadText("Tessarine 0.79\r\n@ru utf8\r\n  Modell=Model\r\n== Modell ==\r\nm\r\n");
    EXPECT_EQ(lines->Charset, u"utf-8");
    ASSERT_EQ(lines->LangLines.Count(), 1);
    EXPECT_EQ(lines->LangLines.Value(0), u"Model");
    EXPECT_EQ(lines->Preamble, u"");
    EXPECT_EQ(lines->FirstModel().Text(), u"m");
    EXPECT_EQ(lines->ByKey(lsModel).Line, 3);

    // A preamble after the block is still one, and the block still needs its
    // line break.
    EXPECT_EQ(LoadText("Tessarine 0.79\n@DE\nVorwort\n== Model ==\nm\n")->Preamble, u"Vorwort");
    EXPECT_ANY_THROW(LoadText("Tessarine 0.79\n@DEU\n== Model ==\nm\n"));
}

TEST(ScriptLanguage, ConvertedFileKeepsLinesAndZeroBytes) {
    // Cyrillic in Windows-1251 is one byte a letter here and two after
    // conversion: lines must still be counted right, and a zero byte must
    // not end the text.
    RawByteString text = "Tessarine 0.79\n@RU windows-1251\n  \xCC\xEE\xE4\xE5\xEB\xFC=Model\n";
    text += "\xCF\xF0\xE5\xE4\xE8\xF1\xEB\xEE\xE2\xE8\xE5\n";  // line 3
    text += "== \xCC\xEE\xE4\xE5\xEB\xFC ==\n";                // line 4
    text += "\xE0\xE1\xE2\n";                                  // line 5
    text += "== \xC7\xE0\xEC\xE5\xF2\xEA\xE8 ==\n";            // line 6
    text += RawByteString("a\0b\n", 4);                        // line 7
    text += "=== \xE2\xF2\xEE\xF0\xE0\xFF ===\n";              // line 8
    auto s = LoadText(text);
    EXPECT_EQ(s->Charset, u"windows-1251");
    EXPECT_EQ(s->Preamble, u"Предисловие");
    TTsSection& model = s->ByKey(lsModel);
    EXPECT_EQ(model.Line, 4);
    EXPECT_EQ(model.FirstSubsection().Text(), u"абв");
    EXPECT_EQ(model.DisplayTitle(), u"Модель");
    TTsSection* notes = s->FindSection(u"Заметки");
    ASSERT_NE(notes, nullptr);
    EXPECT_EQ(notes->Line, 6);
    EXPECT_EQ(notes->FirstSubsection().Text(), WideString(u"a\0b", 3));
    ASSERT_EQ(notes->SubsectionCount(), 2);
    EXPECT_EQ(notes->Subsection(1).Title(), u"вторая");
    EXPECT_EQ(notes->Subsection(1).Line, 8);
}

TEST(ScriptSections, AddingLookingUpAndKinds) {
    TTsScript s;
    EXPECT_EQ(s.Version(), TTsVersions::LibraryVersion);
    TTsSection& opts = s.AddStandard(lsOptions);
    EXPECT_EQ(opts.ClassName(), u"TTsOptionSection");
    EXPECT_EQ(opts.Title, u"Option");
    EXPECT_EQ(s.TryByKey(lsOptions), &opts);
    EXPECT_EQ(s.AddStandard(lsDescription).ClassName(), u"TTsSection");
    try {
        s.AddStandard(lsOther);
        FAIL();
    } catch (const ETsOtherSectionCall& e) {
        EXPECT_EQ(e.Message(), u"TTsScript.AddStandard doesn't accept section kind of lsOther.");
    }
    EXPECT_THROW(s.TryByKey(lsOther), ETsOtherSectionCall);
    EXPECT_THROW(s.ByKey(lsOther), ETsOtherSectionCall);
    EXPECT_THROW(s.AddStandard(lsOptions), ETsDuplicatedSection);

    TTsSection& mine = s.AddCustom(u"  Mine ");
    EXPECT_EQ(mine.Title, u"Mine");
    EXPECT_EQ(s.FindSection(u"Mine"), &mine);
    try {
        s.AddCustom(u" \t ");
        FAIL();
    } catch (const ETsEmptySectionTitle& e) {
        EXPECT_EQ(e.Message(), u"Script section cannot have an empty title.");
    }
    try {
        s.AddCustom(u"Mine");
        FAIL();
    } catch (const ETsDuplicatedSection& e) {
        EXPECT_EQ(e.Message(), u"Declaring 'Mine' TTsScript section twice.");
    }
    try {
        mine.AddSubsection(u"  ");
        FAIL();
    } catch (const ETsEmptySubsectionTitle& e) {
        EXPECT_EQ(e.Message(), u"Script subsection cannot have an empty title.");
        EXPECT_EQ(e.Section, &mine);
        EXPECT_EQ(e.Script, &s);
    }
    EXPECT_EQ(mine.AddSubsection(u" sub ").Title(), u"sub");
    EXPECT_EQ(mine.SubsectionCount(), 2);

    EXPECT_EQ(TTsScript::KindOfTitle(u"Options"), lsOptions);
    EXPECT_EQ(TTsScript::KindOfTitle(u"  DESCRIPTION "), lsDescription);
    EXPECT_EQ(TTsScript::KindOfTitle(u"trees"), lsTree);
    EXPECT_EQ(TTsScript::KindOfTitle(u"Samples"), lsSample);
    EXPECT_EQ(TTsScript::KindOfTitle(u"Modelss"), lsOther);
    EXPECT_EQ(TTsScript::KindOfTitle(u"Model s"), lsOther);
    EXPECT_EQ(TTsScript::KindOfTitle(u""), lsOther);
}
