// tessarine: the command-line front end of the Tessarine library and its
// debugger. Each subcommand lives in a file of its own; this file holds the
// command table, the help texts and the dispatch.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "library/core/TsBase.h"
#include "support/Strings.h"

namespace ts::cli {

const std::vector<TCommand>& Commands() {
    static const std::vector<TCommand> commands = {
        {"dump", "[--phase 0|1|2] [--json] FILE",
         "the compiled model's tree view lines (phase 0 loads, 1 merges, 2 compiles fully)", &RunDump, {"phase"},
         {"json"}},
        {"check", "[--phase 0|1|2] FILE EXPECTED",
         "compare the dump with an expected dump; a unified diff and exit code 1 when they differ", &RunCheck,
         {"phase"}, {}},
        {"read", "[--reader modelling|native] [--json] FILE", "the model tree after reading", &RunRead, {"reader"},
         {"json"}},
        {"run", "[--json] [--line-break crlf|lf|cr] [--codepage N] MODEL INPUT",
         "run MODEL's model over INPUT and print the result tree", &RunRun, {"line-break", "codepage"}, {"json"}},
        {"script", "[--json] FILE", "the loaded script: header, language, sections and settings", &RunScript, {},
         {"json"}},
        {"cond", "CONDITION (--text TEXT | --input FILE) [--offset N] [--json]",
         "test one node condition at an offset of some input", &RunCond, {"text", "input", "offset"}, {"json"}},
    };
    return commands;
}

namespace {

std::string Usage() {
    std::string s =
        "Usage: tessarine COMMAND [OPTIONS] ARGS\n"
        "\n"
        "Commands:\n";
    for (const TCommand& c : Commands()) {
        std::string name = c.Name;
        name.resize(8, ' ');
        s += "  " + name + c.Summary + "\n";
    }
    s += "  version print the library version\n";
    s +=
        "\n"
        "Run `tessarine COMMAND --help` for a command's arguments.\n"
        "Exit codes: 0 success, 1 check found differences, 2 usage error, 3 error of the library or the input.\n";
    return s;
}

std::string CommandUsage(const TCommand& c) {
    return std::string("Usage: tessarine ") + c.Name + " " + c.Usage + "\n\n" + c.Summary + "\n";
}

}  // namespace

int Main(const std::vector<std::string>& argv) {
    if (argv.empty()) {
        Err(Usage());
        return ExitUsage;
    }
    const std::string& cmd = argv[0];
    if (cmd == "help" || cmd == "--help" || cmd == "-h") {
        Out(Usage());
        return ExitOk;
    }
    if (cmd == "version" || cmd == "--version") {
        Out(u"Tessarine " + TTsVersions::ToText(TTsVersions::LibraryVersion) + u"\n");
        return ExitOk;
    }
    for (const TCommand& c : Commands()) {
        if (cmd != c.Name) continue;
        std::vector<std::string> rest(argv.begin() + 1, argv.end());
        for (const std::string& a : rest) {
            if (a == "--") break;
            if (a == "--help" || a == "-h") {
                Out(CommandUsage(c));
                return ExitOk;
            }
        }
        try {
            return c.Run(TArgs(rest, c.Valued, c.Flags));
        } catch (const EUsage& e) {
            Err(std::string("tessarine ") + c.Name + ": " + e.what() + "\n" + CommandUsage(c));
            return ExitUsage;
        } catch (const std::exception& e) {
            return ReportError(e);
        }
    }
    Err("tessarine: unknown command '" + cmd + "'\n\n" + Usage());
    return ExitUsage;
}

}  // namespace ts::cli

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const int code = ts::cli::Main(args);
    std::fflush(stdout);
    return code;
}
