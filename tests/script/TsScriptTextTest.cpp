// Option sections read into INI settings and written back, and the text
// forms of sections and subsections, checked by loading what they write.
#include <gtest/gtest.h>

#include "library/script/TsScript.h"
#include "support/Strings.h"
#include "tests/script/ScriptTestUtil.h"

using namespace ts;
using namespace ts::scripttest;

namespace {

// "section|key=value" lines, in the INI file's order.
std::string IniDump(const TMemIniFileW& ini) {
    std::string out;
    for (const WideString& section : ini.ReadSections())
        for (const WideString& key : ini.ReadSection(section))
            out += WideToUtf8(section + u"|" + key + u"=" + ini.ReadString(section, key, u"?")) + "\n";
    return out;
}

// The script text that writes the sections back.
std::string ScriptText(const TTsScript& s) {
    WideString text = u"Tessarine 0.79" + s.LineBreak();
    for (int i = 0; i < s.SectionCount(); ++i) text += s.LineBreak() + s.Section(i).ToText() + s.LineBreak();
    return WideToUtf8(text);
}

}  // namespace

TEST(ScriptOptions, SettingsAsListed) {
    auto s = LoadText(
        "Tessarine 0.79\n"
        "== Options ==\n"
        "# comment\n"
        "; also a comment\n"
        "name = value = more\n"
        "bare\n"
        " spaced . key = 2 \n"
        "multi =\n"
        "  line one\n"
        "\n"
        "  line three\n"
        "# a comment inside the value\n"
        "  line four\n"
        "after=x\n"
        "group.\n"
        "=== extra ===\n"
        "a.b = c\n"
        "flag\n"
        "===[> 0.79] future ===\n"
        "never = read\n"
        "=== tail ===\n"
        "t =\n"
        "=== next ===\n"
        "  not a continuation\n");
    auto& opts = static_cast<TTsOptionSection&>(s->ByKey(lsOptions));
    EXPECT_EQ(IniDump(opts.Ini()),
              "tsn|name=value = more\n"
              "tsn|bare=1\n"
              "tsn|multi=line one\n\nline three\nline four\n"
              "tsn|after=x\n"
              "spaced|key=2\n"
              "extra|a.b=c\n"
              "extra|flag=1\n"
              "tail|t=\n"
              "next|not a continuation=1\n");
    EXPECT_TRUE(opts.HasSettings());
    EXPECT_EQ(&opts.Ini(), &opts.Ini());

    auto empty = LoadText("Tessarine 0.79\n== Option ==\n# nothing set\n");
    EXPECT_FALSE(empty->ByKey(lsOptions).HasSettings());
    EXPECT_FALSE(s->AddStandard(lsTree).HasSettings());
}

TEST(ScriptOptions, WrittenBackAndReadAgain) {
    auto s = LoadText(
        "Tessarine 0.79\n"
        "== Options ==\n"
        "bare\n"
        "view.wrap = 100\n"
        "empty =\n"
        "odd.name.with.dots = 1\n"
        "text =\n"
        "  first\n"
        "\n"
        "  third\n"
        "=== tsn ===\n"
        "dotted.key = v\n");
    auto& opts = static_cast<TTsOptionSection&>(s->ByKey(lsOptions));
    EXPECT_EQ(opts.Body(),
              u"bare\n"
              u"empty =\n"
              u"text =\n  first\n  \n  third\n"
              u"tsn.dotted.key = v\n"
              u"view.wrap = 100\n"
              u"odd.name.with.dots");

    const std::string before = IniDump(opts.Ini());
    auto again = LoadText(ScriptText(*s));
    EXPECT_EQ(IniDump(static_cast<TTsOptionSection&>(again->ByKey(lsOptions)).Ini()), before);
}

TEST(ScriptOptions, DisplayTitleCountsIniSections) {
    auto one = LoadText("Tessarine 0.79\n== Options ==\na = 1\nb = 2\n");
    EXPECT_EQ(one->ByKey(lsOptions).DisplayTitle(), u"Option");
    EXPECT_EQ(one->ByKey(lsOptions).Header(), u"== Option ==");
    auto two = LoadText("Tessarine 0.79\n== Option ==\na = 1\nview.b = 2\n");
    EXPECT_EQ(two->ByKey(lsOptions).DisplayTitle(), u"Options");
    auto local = LoadText("Tessarine 0.79\n@DE\n  Optionen=Options\n== Optionen ==\na = 1\nview.b = 2\n");
    EXPECT_EQ(local->ByKey(lsOptions).DisplayTitle(), u"Optionen");
}

TEST(ScriptText, HeadersBodiesAndPlurals) {
    TTsScript s;
    s.Options.LineBreak = u"\n";
    TTsSection& model = s.AddStandard(lsModel);
    EXPECT_EQ(model.ToText(), u"== Model ==\n");
    TTsSubsection& legacy = model.AddSubsection(u"Legacy");
    legacy.Versions.Add(voGreaterEq, TTsVersions::Make(0, 70));
    legacy.Versions.Add(voLess, TTsVersions::Make(1, 0));
    legacy.SetText(u"\r\n\nbody\n  indented\r\n\n");
    EXPECT_EQ(legacy.Text(), u"body\n  indented");
    EXPECT_EQ(legacy.Header(), u"===[>= 0.7 < 1.0] Legacy ===");
    EXPECT_EQ(legacy.ToText(), u"===[>= 0.7 < 1.0] Legacy ===\nbody\n  indented");
    EXPECT_EQ(model.AddSubsection(u"Next").ToText(), u"=== Next ===");
    EXPECT_EQ(model.FirstSubsection().ToText(), u"");

    model.Versions.Add(voGreaterEq, TTsVersions::Make(0, 50));
    EXPECT_EQ(model.DisplayTitle(), u"Models");
    EXPECT_EQ(model.Header(), u"==[>= 0.5] Models ==");
    EXPECT_EQ(model.Body(), u"===[>= 0.7 < 1.0] Legacy ===\nbody\n  indented\n\n=== Next ===");
    model.FirstSubsection().SetText(u"first");
    EXPECT_EQ(model.ToText(),
              u"==[>= 0.5] Models ==\nfirst\n\n===[>= 0.7 < 1.0] Legacy ===\nbody\n  indented\n\n=== Next ===");

    TTsSection& notes = s.AddCustom(u"Notes");
    notes.AddSubsection(u"more");
    EXPECT_EQ(notes.DisplayTitle(), u"Notes");
    EXPECT_EQ(s.AddStandard(lsTree).DisplayTitle(), u"Tree");
}

TEST(ScriptText, LoadedSectionsWriteBackToTheSameScript) {
    auto s = LoadExample(u"versioned-records.tsn");
    auto again = LoadText(ScriptText(*s));
    ASSERT_EQ(again->SectionCount(), s->SectionCount());
    for (int i = 0; i < s->SectionCount(); ++i) {
        const TTsSection& a = s->Section(i);
        const TTsSection& b = again->Section(i);
        EXPECT_EQ(b.Title, a.Title);
        EXPECT_EQ(b.Kind, a.Kind);
        EXPECT_EQ(b.Versions.ToText(), a.Versions.ToText());
        ASSERT_EQ(b.SubsectionCount(), a.SubsectionCount()) << WideToUtf8(a.Title);
        for (int j = 0; j < a.SubsectionCount(); ++j) {
            EXPECT_EQ(b.Subsection(j).Title(), a.Subsection(j).Title());
            EXPECT_EQ(b.Subsection(j).Versions.ToText(), a.Subsection(j).Versions.ToText());
            EXPECT_EQ(b.Subsection(j).Text(), a.Subsection(j).Text());
        }
    }
    EXPECT_EQ(again->FirstModel().Title(), s->FirstModel().Title());
}
