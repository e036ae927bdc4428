// tessarine: the command-line front end. Each subcommand lives in a file of
// its own; this file only dispatches.
#include <cstdio>
#include <cstring>
#include <string>

#include "library/core/TsBase.h"
#include "support/Strings.h"

namespace {

const char* kUsage =
    "Usage: tessarine COMMAND [ARGS]\n"
    "\n"
    "Commands:\n"
    "  version    print the library version\n"
    "  help       print this text\n";

int Version() {
    std::printf("Tessarine %s\n", ts::WideToUtf8(ts::TTsVersions::ToText(ts::TTsVersions::LibraryVersion)).c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    std::string cmd = argv[1];
    if (cmd == "help" || cmd == "--help" || cmd == "-h") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (cmd == "version" || cmd == "--version") return Version();
    std::fprintf(stderr, "tessarine: unknown command '%s'\n\n%s", cmd.c_str(), kUsage);
    return 2;
}
