// The example models of examples/ run over inputs of their kind.
#include <gtest/gtest.h>

#include <string>

#include "library/modelling/TsmCompiler.h"
#include "library/text/TsNativeReader.h"
#include "support/Strings.h"

using namespace ts;

namespace {

// Runs the example over the input; one line per result node: name and the
// text the node matched (its "start" span, or its "inner" span for nodes
// with children of their own).
std::string RunExample(const std::string& file, const std::string& input) {
    auto tree = TTsmNativeStreamer::ReadFrom(
        std::make_unique<TStringStream>(LoadFileBytes(Utf8ToWide(std::string(TS_SOURCE_DIR) + "/examples/" + file))));
    TTsmCompiler compiler;
    compiler.Compile(*tree);
    compiler.Options.LineBreak = u"\n";
    TStringStream in(input);
    std::unique_ptr<TTsmSlicer> s = compiler.Modell(in);
    std::string out;
    auto walk = [&](auto& self, const TTsTreeNode& node, int depth) -> void {
        for (int i = 0; i < node.ChildCount(); ++i) {
            const TTsTreeNode& c = *node.ChildByIndex(i);
            const char16_t* prop = c.ChildCount() ? u"inner" : u"start";
            out += std::string(static_cast<size_t>(depth) * 2, ' ') + WideToUtf8(c.Name()) + " '" +
                   s->TextOfNode(&c, prop) + "'\n";
            self(self, c, depth + 1);
        }
    };
    walk(walk, *s->ResultRoot(), 0);
    return out;
}

}  // namespace

TEST(EngineExamples, IniFile) {
    EXPECT_EQ(
        RunExample("ini-file.txt", "; settings\n[main]\nname=demo\n\n[db.primary]\nhost = localhost\nport=5432\n"),
        "comment ';'\n"
        "section 'main'\n"
        "  name 'main'\n"
        "  entry 'name=demo'\n"
        "    key 'name'\n"
        "    value 'demo'\n"
        "blank ''\n"
        "section 'db.primary'\n"
        "  name 'db.primary'\n"
        "  entry 'host = localhost'\n"
        "    key 'host '\n"
        "    value ' localhost'\n"
        "  entry 'port=5432'\n"
        "    key 'port'\n"
        "    value '5432'\n");
}

TEST(EngineExamples, CsvFile) {
    // A field after the last comma is empty, and still a field: a record
    // keeps its column count.
    EXPECT_EQ(RunExample("csv-file.txt", "a,\"b,c\",\n\n1,2\n"),
              "record 'a,\"b,c\",'\n"
              "  field 'a'\n"
              "  field 'b,c'\n"
              "    text 'b,c'\n"
              "  field ''\n"
              "blank ''\n"
              "record '1,2'\n"
              "  field '1'\n"
              "  field '2'\n");
}

TEST(EngineExamples, ConfigFile) {
    EXPECT_EQ(RunExample("config-file.txt", "# server\nport = 8080\ngreeting = \"hello there\"\n"),
              "comment '#'\n"
              "setting 'port = 8080'\n"
              "  name 'port'\n"
              "  value '8080'\n"
              "setting 'greeting = \"hello there\"'\n"
              "  name 'greeting'\n"
              "  quoted 'hello there'\n"
              "    text 'hello there'\n");
    // A line that is no setting is a mismatch.
    EXPECT_THROW(RunExample("config-file.txt", "port 8080\n"), ETsmMismatch);
}
