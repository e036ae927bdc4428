// The modelling reader's explanations of model lines it cannot read, and the
// table of the canonical model's roles they are made from.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "library/text/CanonicalModels.h"
#include "library/text/modellingreader/TsmModellingStreamer.h"
#include "library/text/modellingreader/TsmReadExplain.h"
#include "support/Strings.h"

using namespace ts;

namespace {

bool EndsAtSegment(const std::string& path, const std::string& tail) {
    return path == tail || (path.size() > tail.size() && path.ends_with("/" + tail));
}

}  // namespace

TEST(CanonicalModelRoles, EveryEntryNamesNodesOfTheModelThatCanFail) {
    const std::unique_ptr<TTsmCompiler> model = LoadCanonicalModel(u"Model");
    std::map<std::string, const TTsmProps*> paths;
    for (const auto& record : model->Table) {
        if (!record || record->Props.IsImplicit()) continue;
        const std::string path = WideToUtf8(CanonicalNodePath(*model, record->Props.ID));
        EXPECT_TRUE(paths.emplace(path, &record->Props).second) << "two nodes share the path " << path;
    }
    std::map<std::string, int> entries;
    for (const TCanonicalRole& role : CanonicalModelRoles()) {
        const std::string tail = WideToUtf8(role.Path);
        EXPECT_EQ(++entries[tail], 1) << "listed twice: " << tail;
        int named = 0;
        for (const auto& [path, props] : paths) {
            if (!EndsAtSegment(path, tail)) continue;
            ++named;
            // Only a node with a condition is ever tried and fails.
            if (!role.Phrase.empty()) {
                EXPECT_TRUE(props->Cond.IsSet()) << path << " can never fail";
            }
        }
        EXPECT_GT(named, 0) << "no node of the canonical model has the path " << tail;
    }
}

TEST(CanonicalModelRoles, TheLongestEntryAPathEndsWithWins) {
    EXPECT_EQ(WideToUtf8(CanonicalRoleOf(u"LINE/line/cond/op")), "the condition operator");
    // A merged copy of an off-context node is named by its own entry.
    EXPECT_EQ(WideToUtf8(CanonicalRoleOf(u"LINE/line/names/isOffContext/merge/name/END{% SP+ +}")),
              "\" + \" (a merge)");
    EXPECT_EQ(WideToUtf8(CanonicalRoleOf(u"LINE/line/names/isOffContext/merge/END")), "\"(\" (an off-context node)");
    // Entries match whole segments only.
    EXPECT_EQ(WideToUtf8(CanonicalRoleOf(u"LINE/line/cond/xop")), "");
    EXPECT_EQ(WideToUtf8(CanonicalRoleOf(u"cond/op")), "");
    EXPECT_EQ(WideToUtf8(CanonicalRoleOf(u"LINE/line/path/FAIL")), "");
}

namespace {

struct Explained {
    std::string ErrorClass;
    int64_t Offset = -1;
    std::string Text;  // "<none>" when the error has no explanation
};

Explained ReadBad(const std::string& text, int64_t start = 0) {
    auto stream = std::make_unique<TStringStream>(text);
    stream->SetPosition(start);
    TTsmModellingStreamer reader;
    try {
        reader.Read(std::move(stream), u"m.txt");
    } catch (const Exception& e) {
        Explained out{WideToUtf8(e.ClassName()), -1, "<none>"};
        if (const TTsmReadExplanation* why = ReadErrorExplanation(e)) {
            out.Offset = why->Offset;
            out.Text = WideToUtf8(why->Text);
        }
        return out;
    }
    return {"<read>", -1, "<none>"};
}

}  // namespace

TEST(ReadExplanation, BadModelLinesAreToldAtTheirPlace) {
    struct Case {
        std::string Text;
        int64_t Offset;
        std::string Expected;
    } cases[] = {
        {"x !\n", 3, "expected the condition operator after \"!\""},
        {"a\n  x ! \n", 7, "expected the condition operator after \"!\""},
        {"END? eof\r\n\"b\" \"p", 16, "expected the closing '\"' of the path after '\"p'"},
        {"\"a\n", 2, "expected the closing '\"' of the quoted path after '\"a'"},
        {"\"\n", 1, "expected the text of the quoted path after '\"'"},
        {"(\n", 1, "expected one of: \"+\" (prepending), \"@\" (inheriting), a node name (after \"(\")"},
        {"1x\n", 1, "expected one of: \"^\" (tentative), \"?\" (optional), a blank (after \"1\")"},
        {"a\r\n  2 $ :\r\n", 7,
         "expected one of: \"(\" (an off-context node), a node name, \"+\" (prepending), \"@\" (inheriting), "
         "a quoted path (after \"2\")"},
        {"x + \n", 4, "expected one of: \"+\" (prepending), \"@\" (inheriting), a node name (after \"+\")"},
    };
    for (const Case& c : cases) {
        const Explained got = ReadBad(c.Text);
        EXPECT_EQ(got.Text, c.Expected) << c.Text;
        EXPECT_EQ(got.Offset, c.Offset) << c.Text;
    }
}

TEST(ReadExplanation, KeepsTheErrorAndCountsFromTheStreamsStart) {
    // The error stays the engine's mismatch, with its own message.
    EXPECT_EQ(ReadBad("x !\n").ErrorClass, "ETsmOrderedConditionMismatch");
    // A text read from the middle of a stream: offsets count the stream,
    // and the word before the place is not taken from before the start.
    const Explained late = ReadBad("JUNK(\n", 4);
    EXPECT_EQ(late.Offset, 5);
    EXPECT_EQ(late.Text, "expected one of: \"+\" (prepending), \"@\" (inheriting), a node name (after \"(\")");
}

TEST(ReadExplanation, ReportsAndLayoutErrorsSayWhatIsWrongThemselves) {
    // A warning that ends the read (no handler) is the model's own report.
    const Explained odd = ReadBad("   x\n");
    EXPECT_EQ(odd.ErrorClass, "ETsmWarning");
    EXPECT_EQ(odd.Text, "<none>");
    // Too deep an indentation is the reader's error, not the model's.
    const Explained deep = ReadBad("a\n    b\n");
    EXPECT_EQ(deep.ErrorClass, "ETsBadTextStreaming");
    EXPECT_EQ(deep.Text, "<none>");
}
