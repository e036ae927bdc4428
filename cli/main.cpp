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
        {"dump",
         "[--phase 0|1|2] [--json] FILE",
         "the compiled model's tree view lines (phase 0 loads, 1 merges, 2 compiles fully)",
         &RunDump,
         {"phase"},
         {"json"},
         "FILE is a script (its first supported model is used) or a plain model. Each line\n"
         "of the tree view is printed, indented by two blanks per level. --phase stops\n"
         "after loading (0) or merging (1); 2, the default, compiles fully.\n"
         "--json prints the dump tree: {\"name\", \"props\": {name: value}, \"children\"},\n"
         "each value an object of its kinds: s text, r hex bytes, b Boolean, i integer,\n"
         "f float. An error is printed with the phase in which it arose.\n"},
        {"check",
         "[--phase 0|1|2] FILE EXPECTED",
         "compare the dump with an expected dump; a unified diff and exit code 1 when they differ",
         &RunCheck,
         {"phase"},
         {},
         "EXPECTED is a file as `tessarine dump` writes it. Nothing is printed when the\n"
         "dumps match.\n"},
        {"read",
         "[--reader modelling|native] [--json] FILE",
         "the model tree after reading",
         &RunRead,
         {"reader"},
         {"json"},
         "The modelling reader (the default) reads as the debugger does, by running the\n"
         "canonical text model; the native reader is the hand-written one. Each node is\n"
         "followed by its properties as \"$name = value\".\n"},
        {"run",
         "[--json|--jsonl] [--trace [--trace-limit N]] [--line-break crlf|lf|cr] [--codepage N|CHARSET]\n"
         "    [--max-memory MIB] MODEL INPUT",
         "run MODEL's model over INPUT and print the result tree",
         &RunRun,
         {"line-break", "codepage", "trace-limit", "max-memory"},
         {"json", "jsonl", "trace"},
         "MODEL is read as the debugger reads it and compiled fully; INPUT is read as\n"
         "bytes, from standard input when it is \"-\". Each result node is printed as\n"
         "name = \"text\": a leaf with the text its condition matched (its \"start\"\n"
         "span), a node with children with what they matched (its \"inner\" span); texts\n"
         "are cut after 60 characters. --json gives each node's \"text\" whole by the same\n"
         "rule and every property, a span as {\"offset\", \"length\"} in integers.\n"
         "--jsonl prints each child of the result root as one JSON line in that form\n"
         "as soon as the root has finished it, then frees it: INPUT is read as the run\n"
         "goes, in memory bounded by its largest record, and a node reference to an\n"
         "earlier record finds nothing. On a terminal, inputs over 4 MiB show their\n"
         "progress on stderr.\n"
         "INPUT's line break is detected unless --line-break names it. --codepage is\n"
         "the code page of conditions and input text, a number or a charset name\n"
         "(koi8-r); 65001 (UTF-8) by default. Errors, FAIL and WARN reports and input\n"
         "left go to stderr as FILE:LINE:COLUMN: message, the line and a caret; the\n"
         "run goes on after a report. A run that fails or leaves input also shows the\n"
         "farthest place any condition was tested at, what was expected there and the\n"
         "model nodes being modelled, then prints the result tree as far as it got,\n"
         "marked as partial (--json: \"partial\": true on the root). --trace writes each\n"
         "modelling step to stderr (try, condition, node result, result node, reset)\n"
         "with its model line and input LINE:COLUMN, at most --trace-limit lines\n"
         "(10000). A run may make the process grow by --max-memory MiB (half the\n"
         "machine's memory by default) and ends with an error past that. Exit code 0:\n"
         "the run succeeded (warnings allowed); 1: it finished with FAIL reports or\n"
         "input left; 3: an error.\n"},
        {"script",
         "[--json] FILE",
         "the loaded script: header, language, sections and settings",
         &RunScript,
         {},
         {"json"},
         "Prints the version, signature, language, charset, title translations and\n"
         "preamble, then each section with its kind, line, version conditions and\n"
         "subsections, and the settings of option sections.\n"},
        {"cond",
         "CONDITION (--text TEXT | --input FILE) [--offset N] [--line-break crlf|lf|cr] [--json] [--explain]",
         "test one node condition at an offset of some input",
         &RunCond,
         {"text", "input", "offset", "line-break"},
         {"json", "explain"},
         "CONDITION is written as in a model line, \"!\" included: \"% SP* ID+\", \"= text\",\n"
         "\"!= x\", \"? expression\". It is tested at byte --offset (0 by default) of TEXT\n"
         "(as UTF-8) or of FILE, as the only child of a one-node model during a real run,\n"
         "so that $, len, eof, offset and node references work as in a model. Prints\n"
         "whether it holds and how many bytes it consumed (0 when it does not hold, as\n"
         "the input is put back; --json: {\"holds\": true, \"consumed\": 3}), or the\n"
         "error. --explain first prints how a simple pattern (\"%\") was compiled: each\n"
         "choice's items, character classes as byte ranges and repeat markers.\n"
         "--line-break is what NL and EOLN match (crlf by default).\n"},
        {"lint",
         "[--json] FILE",
         "static checks of a model: findings with line, column and a fix hint",
         &RunLint,
         {},
         {"json"},
         "FILE is a model or a script (its first model is checked). Each finding is\n"
         "printed as FILE:LINE:COLUMN: warning: MESSAGE, then a hint; exit code 1 when\n"
         "there are findings. --json prints [{\"line\", \"column\", \"message\", \"hint\"}].\n"
         "The checks are listed in docs/LANGUAGE.md.\n"},
        {"test",
         "[--update] [--json] SCRIPT...",
         "run each script's samples and compare them with its expected trees",
         &RunTest,
         {},
         {"update", "json"},
         "Each Sample subsection is run through the script's first supported model (its\n"
         "text followed by a line break, in the script's charset); when the Tree section\n"
         "has a subsection of the same title (the untitled first ones pair too), the\n"
         "result tree, as `tessarine run` prints it, must equal it. A sample without a\n"
         "tree must run without FAIL reports or input left. One line per case, a diff or\n"
         "the error at its place for each failure, then N passed, N failed; exit code 1\n"
         "when any failed. --update writes the produced trees into the Tree sections,\n"
         "creating missing subsections, and changes nothing else in the file.\n"
         "--json prints {\"cases\": [...], \"passed\", \"failed\"}.\n"},
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
    s += "\n"
         "Run `tessarine COMMAND --help` for a command's arguments.\n"
         "The language: docs/LANGUAGE.md (reference) and docs/TUTORIAL.md (a first model).\n"
         "Exit codes: 0 success, 1 check found differences or run reported failures, 2 usage error,\n"
         "3 error of the library or the input.\n";
    return s;
}

std::string CommandUsage(const TCommand& c) {
    return std::string("Usage: tessarine ") + c.Name + " " + c.Usage + "\n\n" + c.Summary + ".\n" +
           (*c.Details ? std::string("\n") + c.Details : std::string());
}

}  // namespace

int Main(const std::vector<std::string>& argv) {
    if (argv.empty()) {
        Err(Usage());
        return ExitUsage;
    }
    const std::string& cmd = argv[0];
    if (cmd == "help" || cmd == "--help" || cmd == "-h") {
        // "help COMMAND" is what a user tries first for one command.
        if (argv.size() > 1) {
            for (const TCommand& c : Commands())
                if (argv[1] == c.Name) {
                    Out(CommandUsage(c));
                    return ExitOk;
                }
            Err("tessarine: unknown command '" + argv[1] + "'\n\n" + Usage());
            return ExitUsage;
        }
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
        for (size_t i = 0; i < rest.size(); ++i) {
            const std::string& a = rest[i];
            if (a == "--") break;
            if (a == "--help" || a == "-h") {
                Out(CommandUsage(c));
                return ExitOk;
            }
            // An option's value is text, not a request for help: --text -h.
            if (a.starts_with("--") && a.find('=') == std::string::npos && c.Valued.count(a.substr(2))) ++i;
        }
        try {
            return c.Run(TArgs(rest, c.Valued, c.Flags));
        } catch (const EUsage& e) {
            Err(std::string("tessarine ") + c.Name + ": " + e.what() + "\nUsage: tessarine " + c.Name + " " + c.Usage +
                "\nRun `tessarine " + c.Name + " --help` for more.\n");
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
