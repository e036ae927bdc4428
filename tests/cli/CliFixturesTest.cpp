// Runs the built `tessarine` over the fixtures and compares its output.
//
// Two kinds of case:
//  - examples/NAME.dump beside a model or script examples/NAME: the example
//    must pass `tessarine check examples/NAME examples/NAME.dump`.
//  - tests/cli/fixtures/CASE.args (and tests/cli/golden/): the exit code on the first line
//    ("exit N"), then one argument per line (paths relative to the
//    repository root, where the command runs). CASE.out holds the expected
//    stdout; CASE.err, when present, the expected stderr; CASE.in, when
//    present, is the command's standard input.
//
// To change an expectation on purpose, run the test with
// TS_UPDATE_EXPECTED=1: it rewrites the .dump and .out files (and .err files
// that exist) from what the command line prints now, and then passes.
// Review the diff before committing it. A new example gets an expectation
// the same way: create an empty examples/NAME.dump first.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const fs::path kRoot = TS_SOURCE_DIR;

struct CliCase {
    std::string Name;
    std::vector<std::string> Args;
    int Exit = 0;
    fs::path Out;         // expected stdout
    fs::path Err;         // expected stderr, or empty
    fs::path In;          // standard input, or empty
    fs::path UpdateFrom;  // examples: the model whose dump rewrites Out
};

std::string ReadFile(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

void WriteFile(const fs::path& p, const std::string& text) {
    std::ofstream f(p, std::ios::binary | std::ios::trunc);
    f << text;
}

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// `tessarine test` times its cases; expectations hold no times.
std::string WithoutTimes(const std::string& text) {
    static const std::regex shown(R"(\([0-9]+\.[0-9] ms\))");
    static const std::regex json(R"("ms": [0-9.]+)");
    return std::regex_replace(std::regex_replace(text, shown, "(TIME)"), json, "\"ms\": 0");
}

struct Result {
    int Exit = -1;
    std::string Out, Err;
};

Result RunCli(const std::vector<std::string>& args, const std::string& name, const fs::path& in = {}) {
    const fs::path tmp = fs::temp_directory_path() / ("tessarine-cli-" + std::to_string(::getpid()) + "-" + name);
    std::string cmd = "cd " + Quote(kRoot.string()) + " && " + Quote(TS_TESSARINE);
    for (const std::string& a : args) cmd += " " + Quote(a);
    cmd += " <" + Quote(in.empty() ? std::string("/dev/null") : in.string());
    cmd += " >" + Quote(tmp.string() + ".out") + " 2>" + Quote(tmp.string() + ".err");
    const int status = std::system(cmd.c_str());
    Result r;
    r.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.Out = WithoutTimes(ReadFile(tmp.string() + ".out"));
    r.Err = ReadFile(tmp.string() + ".err");
    fs::remove(tmp.string() + ".out");
    fs::remove(tmp.string() + ".err");
    return r;
}

bool Updating() {
    const char* v = std::getenv("TS_UPDATE_EXPECTED");
    return v && *v && std::string(v) != "0";
}

std::vector<CliCase> Cases() {
    std::vector<CliCase> cases;
    for (const auto& e : fs::directory_iterator(kRoot / "examples")) {
        const fs::path p = e.path();
        if (p.extension() != ".dump") continue;
        const fs::path model = p.parent_path() / p.stem();
        const std::string rel = "examples/" + p.stem().string();
        CliCase c;
        c.Name = "example_" + p.stem().string();
        c.Args = {"check", rel, rel + ".dump"};
        c.Out = fs::path();  // check prints nothing when the dump matches
        c.UpdateFrom = model;
        cases.push_back(c);
    }
    // golden/ holds the --json outputs of reading and running every example
    // and a generated corpus (scripts/record-golden.sh), recorded before the
    // engine's internals were rebuilt: what users see must not move.
    for (const auto& [folder, prefix] : {std::pair{"tests/cli/fixtures", ""}, std::pair{"tests/cli/golden", "golden_"}})
        for (const auto& e : fs::directory_iterator(kRoot / folder)) {
            const fs::path p = e.path();
            if (p.extension() != ".args") continue;
            std::ifstream f(p);
            CliCase c;
            c.Name = prefix + p.stem().string();
            std::string line;
            std::getline(f, line);
            if (line.rfind("exit ", 0) == 0) c.Exit = std::stoi(line.substr(5));
            while (std::getline(f, line)) c.Args.push_back(line);
            c.Out = fs::path(p).replace_extension(".out");
            if (fs::exists(fs::path(p).replace_extension(".err"))) c.Err = fs::path(p).replace_extension(".err");
            if (fs::exists(fs::path(p).replace_extension(".in"))) c.In = fs::path(p).replace_extension(".in");
            cases.push_back(c);
        }
    std::sort(cases.begin(), cases.end(), [](const CliCase& a, const CliCase& b) { return a.Name < b.Name; });
    for (CliCase& c : cases)
        std::replace_if(
            c.Name.begin(), c.Name.end(), [](char ch) { return !std::isalnum(static_cast<unsigned char>(ch)); }, '_');
    return cases;
}

class CliFixture : public testing::TestWithParam<CliCase> {};

// Failures name the command line, not the bytes of the case.
[[maybe_unused]] void PrintTo(const CliCase& c, std::ostream* os) {
    *os << "tessarine";
    for (const std::string& a : c.Args) *os << " " << Quote(a);
}

}  // namespace

TEST_P(CliFixture, PrintsWhatIsExpected) {
    const CliCase& c = GetParam();
    if (Updating()) {
        if (!c.UpdateFrom.empty()) {
            const std::string rel = "examples/" + c.UpdateFrom.filename().string();
            Result r = RunCli({"dump", rel}, c.Name);
            ASSERT_EQ(r.Exit, 0) << r.Err;
            WriteFile(c.UpdateFrom.string() + ".dump", r.Out);
        } else {
            Result r = RunCli(c.Args, c.Name, c.In);
            WriteFile(c.Out, r.Out);
            if (!c.Err.empty()) WriteFile(c.Err, r.Err);
        }
        return;
    }
    Result r = RunCli(c.Args, c.Name, c.In);
    EXPECT_EQ(r.Exit, c.Exit) << "stderr:\n" << r.Err << "stdout:\n" << r.Out;
    const std::string expectedOut = c.Out.empty() ? std::string() : ReadFile(c.Out);
    EXPECT_EQ(r.Out, expectedOut);
    if (!c.Err.empty()) {
        EXPECT_EQ(r.Err, ReadFile(c.Err));
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, CliFixture, testing::ValuesIn(Cases()),
                         [](const testing::TestParamInfo<CliCase>& info) { return info.param.Name; });

// --update on a copy: the first run writes the trees and keeps every other
// byte (a KOI8-R script with CR LF breaks), the second changes nothing.
TEST(CliTestCommand, UpdateWritesTreesOnceAndKeepsTheRest) {
    const fs::path dir = fs::temp_directory_path() / ("tessarine-update-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path script = dir / "koi8.tsn";
    const std::string before = ReadFile(kRoot / "tests/cli/fixtures/samples-koi8.tsn");
    ASSERT_FALSE(before.empty());
    WriteFile(script, before);
    Result first = RunCli({"test", "--update", script.string()}, "update1");
    EXPECT_EQ(first.Exit, 0) << first.Err << first.Out;
    const std::string once = ReadFile(script);
    EXPECT_EQ(once.substr(0, before.size()), before);
    EXPECT_GT(once.size(), before.size());
    EXPECT_EQ(once.find("\n", before.size()), once.find("\r\n", before.size()) + 1);
    Result second = RunCli({"test", "--update", script.string()}, "update2");
    EXPECT_EQ(second.Exit, 0) << second.Err;
    EXPECT_EQ(second.Out.find("updated"), std::string::npos);
    EXPECT_EQ(ReadFile(script), once);
    // Without --update the written trees pass.
    EXPECT_EQ(RunCli({"test", script.string()}, "update3").Exit, 0);
    fs::remove_all(dir);
}

// A tree whose text is far bigger than one written piece: the whole tree's
// children are the records --jsonl prints, byte for byte, in order, and a
// failed run's root says so before its name.
TEST(CliRunJson, BigTreesAreWrittenWholeAndInOrder) {
    const fs::path dir = fs::temp_directory_path() / ("tessarine-bigjson-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::string input;
    for (int i = 0; i < 3000; ++i) input += "key" + std::to_string(i) + "=value number " + std::to_string(i) + "\n";
    WriteFile(dir / "in.txt", input);
    const std::string model = (kRoot / "tests/cli/fixtures/pairs-model.txt").string();
    const Result whole = RunCli({"run", "--json", model, (dir / "in.txt").string()}, "bigjson");
    const Result lines = RunCli({"run", "--jsonl", model, (dir / "in.txt").string()}, "bigjsonl");
    ASSERT_EQ(whole.Exit, 0) << whole.Err;
    ASSERT_EQ(lines.Exit, 0) << lines.Err;
    ASSERT_GT(whole.Out.size(), size_t{4} << 16);
    std::string records;
    for (size_t at = 0; at < lines.Out.size();) {
        const size_t end = lines.Out.find('\n', at);
        if (!records.empty()) records += ", ";
        records += lines.Out.substr(at, end - at);
        at = end + 1;
    }
    const size_t open = whole.Out.find("\"children\": [");
    ASSERT_NE(open, std::string::npos);
    EXPECT_EQ(whole.Out.substr(open + 13, records.size()), records);
    EXPECT_EQ(whole.Out.substr(open + 13 + records.size()), "]}\n");

    WriteFile(dir / "bad.txt", input + "no pair here\n");
    const Result failed = RunCli({"run", "--json", model, (dir / "bad.txt").string()}, "badjson");
    EXPECT_NE(failed.Exit, 0);
    EXPECT_EQ(failed.Out.rfind("{\"partial\": true, \"name\": ", 0), 0u) << failed.Out.substr(0, 80);
    EXPECT_GT(failed.Out.size(), size_t{4} << 16);
    fs::remove_all(dir);
}
