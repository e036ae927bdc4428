// Runs every fenced example of the user documents with the built `tessarine`,
// so that a document that stops telling the truth fails the suite.
//
// A document is read top to bottom; the info string of a fence says what the
// block is:
//   ```model   a model text; it becomes the current model (model.txt)
//   ```input   an input text; it becomes the current input (input.txt)
//   ```run     what `tessarine run model.txt input.txt` prints for the
//              current model and input
//   ```lint    what `tessarine lint model.txt` prints for the current model
//   ```cond    one or more commands "$ tessarine cond ARGS" (single quotes
//              group an argument), each followed by the lines it prints
//   ```shell   the same for any command: "$ tessarine ARGS"
//   ```file NAME  a file of that name for the commands of shell blocks
// Times that `tessarine test` prints ("(1.2 ms)") are not compared.
// Block texts end with a line feed after their last line. The commands run in
// a scratch folder holding model.txt and input.txt; stderr follows stdout, and
// a non-zero exit code adds a last line "(exit N)". Any other fence, and a
// model or file that no block uses, fails the test: every example runs.
//
// When the output changes on purpose (a new run format, say), run the test
// with TS_UPDATE_EXPECTED=1: it rewrites the run, lint, cond and shell outputs in
// the documents from what the program prints now, and passes. Review the
// diff before committing it.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const fs::path kRoot = TS_SOURCE_DIR;

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

// What the command prints, in the form the documents show it.
// `tessarine test` times its cases: an example's times are not compared.
std::string WithoutTimes(const std::string& text) {
    static const std::regex times(R"(\([0-9]+\.[0-9] ms\))");
    return std::regex_replace(text, times, "(TIME)");
}

std::string RunIn(const fs::path& dir, const std::vector<std::string>& args) {
    std::string cmd = "cd " + Quote(dir.string()) + " && " + Quote(TS_TESSARINE);
    for (const std::string& a : args) cmd += " " + Quote(a);
    cmd += " >out.txt 2>err.txt";
    const int status = std::system(cmd.c_str());
    std::string out = ReadFile(dir / "out.txt") + ReadFile(dir / "err.txt");
    const int exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (exit != 0) out += "(exit " + std::to_string(exit) + ")\n";
    return out;
}

// "'% SP* ID+' --text 'a b'" -> {"% SP* ID+", "--text", "a b"}; double quotes
// group too, for arguments that hold single quotes ("? 'ab' upper"). nullopt
// when a quote is left open.
std::optional<std::vector<std::string>> SplitArgs(const std::string& s) {
    std::vector<std::string> args;
    std::string cur;
    char in = 0;
    bool any = false;
    for (char c : s) {
        if (in) {
            if (c == in)
                in = 0;
            else
                cur += c;
        } else if (c == '\'' || c == '"') {
            in = c;
            any = true;
        } else if (c == ' ') {
            if (any) args.push_back(cur);
            cur.clear();
            any = false;
        } else {
            cur += c;
            any = true;
        }
    }
    if (in) return std::nullopt;
    if (any) args.push_back(cur);
    return args;
}

struct Block {
    std::string Info;
    int Line = 0;               // 1-based line of the opening fence
    size_t Begin = 0, End = 0;  // byte range of the block's text in the document
    std::string Text;
};

std::vector<Block> Blocks(const std::string& doc) {
    std::vector<Block> blocks;
    size_t pos = 0;
    int line = 0;
    std::optional<Block> open;
    while (pos < doc.size()) {
        const size_t eol = doc.find('\n', pos);
        const size_t next = eol == std::string::npos ? doc.size() : eol + 1;
        const std::string text = doc.substr(pos, next - pos);
        ++line;
        if (text.rfind("```", 0) == 0) {
            if (open) {
                open->End = pos;
                open->Text = doc.substr(open->Begin, pos - open->Begin);
                blocks.push_back(*open);
                open.reset();
            } else {
                Block b;
                b.Info = text.substr(3);
                while (!b.Info.empty() && (b.Info.back() == '\n' || b.Info.back() == ' ')) b.Info.pop_back();
                b.Line = line;
                b.Begin = next;
                open = b;
            }
        }
        pos = next;
    }
    if (open) {
        open->Info = "<unclosed>";
        blocks.push_back(*open);
    }
    return blocks;
}

bool Updating() {
    const char* v = std::getenv("TS_UPDATE_EXPECTED");
    return v && *v && std::string(v) != "0";
}

void CheckDocument(const std::string& name) {
    const fs::path file = kRoot / "docs" / name;
    ASSERT_TRUE(fs::exists(file)) << file;
    std::string doc = ReadFile(file);
    const fs::path dir = fs::temp_directory_path() / ("tessarine-doc-" + std::to_string(::getpid()) + "-" + name);
    fs::create_directories(dir);

    // Rewrites go from the end of the document, so earlier offsets stay valid.
    std::vector<std::pair<const Block*, std::string>> rewrites;
    const std::vector<Block> blocks = Blocks(doc);
    const Block* model = nullptr;
    bool modelUsed = true;
    bool haveInput = false;
    std::vector<std::pair<std::string, int>> files;  // name, line of its block until a command uses it
    int examples = 0;
    for (const Block& b : blocks) {
        const std::string where = name + ":" + std::to_string(b.Line);
        if (b.Info == "model") {
            EXPECT_TRUE(modelUsed) << name << ":" << model->Line << ": a model that no run or lint block uses";
            model = &b;
            modelUsed = false;
            WriteFile(dir / "model.txt", b.Text);
            continue;
        }
        if (b.Info == "input") {
            WriteFile(dir / "input.txt", b.Text);
            haveInput = true;
            continue;
        }
        if (b.Info.rfind("file ", 0) == 0) {
            const std::string fileName = b.Info.substr(5);
            if (fileName.empty() || fileName.find('/') != std::string::npos || fileName == "model.txt" ||
                fileName == "input.txt") {
                ADD_FAILURE() << where << ": a file block needs a plain name other than model.txt and input.txt";
                continue;
            }
            WriteFile(dir / fileName, b.Text);
            files.emplace_back(fileName, b.Line);
            continue;
        }
        std::string actual;
        if (b.Info == "run" || b.Info == "lint") {
            if (!model || (b.Info == "run" && !haveInput)) {
                ADD_FAILURE() << where << ": a " << b.Info << " block needs a model"
                              << (b.Info == "run" ? " and an input" : "") << " before it";
                continue;
            }
            modelUsed = true;
            actual =
                b.Info == "run" ? RunIn(dir, {"run", "model.txt", "input.txt"}) : RunIn(dir, {"lint", "model.txt"});
        } else if (b.Info == "cond" || b.Info == "shell") {
            std::istringstream lines(b.Text);
            std::string l;
            bool any = false;
            while (std::getline(lines, l)) {
                if (l.rfind("$ ", 0) != 0) continue;
                any = true;
                actual += l + "\n";
                const std::string prefix = b.Info == "cond" ? "$ tessarine cond " : "$ tessarine ";
                std::optional<std::vector<std::string>> args;
                if (l.rfind(prefix, 0) == 0) args = SplitArgs(l.substr(prefix.size()));
                if (!args) {
                    ADD_FAILURE() << where << ": not a command \"" << prefix << "ARGS\" with closed quotes: " << l;
                    continue;
                }
                if (b.Info == "cond") args->insert(args->begin(), "cond");
                for (const std::string& a : *args) {
                    if (a == "model.txt") modelUsed = true;
                    for (auto& f : files)
                        if (a == f.first) f.second = 0;
                }
                actual += RunIn(dir, *args);
            }
            EXPECT_TRUE(any) << where << ": a cond block without a command";
        } else {
            ADD_FAILURE() << where << ": a fenced block of an unknown kind \"" << b.Info
                          << "\"; use model, input, run, lint, cond, shell or file NAME";
            continue;
        }
        ++examples;
        if (Updating()) {
            if (actual != b.Text) rewrites.emplace_back(&b, actual);
        } else {
            EXPECT_EQ(WithoutTimes(actual), WithoutTimes(b.Text)) << where << ": the example's output differs";
        }
    }
    if (model) {
        EXPECT_TRUE(modelUsed) << name << ":" << model->Line << ": a model that no run or lint block uses";
    }
    for (const auto& f : files)
        EXPECT_EQ(f.second, 0) << name << ":" << f.second << ": the file " << f.first << " that no command uses";
    EXPECT_GT(examples, 0) << name << " has no examples";
    for (auto it = rewrites.rbegin(); it != rewrites.rend(); ++it)
        doc.replace(it->first->Begin, it->first->End - it->first->Begin, it->second);
    if (!rewrites.empty()) WriteFile(file, doc);
    fs::remove_all(dir);
}

}  // namespace

TEST(DocExamples, Tutorial) { CheckDocument("TUTORIAL.md"); }
TEST(DocExamples, Language) { CheckDocument("LANGUAGE.md"); }
