// The external diff.
#include "debugger/driver/TsdbgDiff.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

#include "debugger/driver/TsdbgLineDiff.h"
#include "support/Streams.h"
#include "support/Strings.h"
#include "support/TempFiles.h"

extern char** environ;

namespace ts {

namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

size_t SkipBlanks(std::u16string_view s, size_t pos) {
    while (pos < s.size() && IsBlank(s[pos])) ++pos;
    return pos;
}

// Reads the word that starts at pos (not a blank); answers where it ends.
size_t ParseWord(std::u16string_view s, size_t pos, WideString& word) {
    word.clear();
    while (pos < s.size() && !IsBlank(s[pos])) {
        const char16_t c = s[pos++];
        if (c == u'\\') {
            if (pos < s.size()) word += s[pos++];
        } else if (c == u'\'') {
            while (pos < s.size() && s[pos] != u'\'') word += s[pos++];
            if (pos < s.size()) ++pos;
        } else if (c == u'"') {
            while (pos < s.size() && s[pos] != u'"') {
                if (s[pos] == u'\\' && pos + 1 < s.size() &&
                    std::u16string_view(u"\"\\$`").find(s[pos + 1]) != std::u16string_view::npos)
                    ++pos;
                word += s[pos++];
            }
            if (pos < s.size()) ++pos;
        } else {
            word += c;
        }
    }
    return pos;
}

bool IsProgramFile(const std::string& path, bool mustExecute) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
    return !mustExecute || ::access(path.c_str(), X_OK) == 0;
}

void RemoveFile(const WideString& path) { ::unlink(FileNameToPath(path).c_str()); }

std::string_view EnvironmentPath() {
    const char* p = std::getenv("PATH");
    return p ? p : "";
}

}  // namespace

WideString DiffTemplateFor(std::u16string_view path) {
    if (LowerCaseW(path).find(u"tortoise") != WideString::npos) return u"/base:%NEED% /theirs:%GOT%";
    return u"%NEED% %GOT%";
}

WideString DetectDiffCommand(std::string_view searchPath) {
    for (std::u16string_view name : KnownDiffPrograms) {
        if (std::optional<std::string> found = FindProgram(name, searchPath)) {
            const WideString path = Utf8ToWide(*found);
            return QuoteCommandWord(path) + u" " + DiffTemplateFor(path);
        }
    }
    return WideString(NoDiffProgram) + u" " + DiffTemplateFor(NoDiffProgram);
}

WideString DetectDiffCommand() { return DetectDiffCommand(EnvironmentPath()); }

std::vector<WideString> SplitCommandLine(std::u16string_view command) {
    std::vector<WideString> words;
    WideString word;
    for (size_t pos = SkipBlanks(command, 0); pos < command.size(); pos = SkipBlanks(command, pos)) {
        pos = ParseWord(command, pos, word);
        words.push_back(word);
    }
    return words;
}

TCommandWords SplitProgram(std::u16string_view command) {
    TCommandWords result;
    const size_t start = SkipBlanks(command, 0);
    if (start == command.size()) return result;
    const size_t end = ParseWord(command, start, result.Program);
    result.Arguments = Trim(command.substr(end));
    return result;
}

WideString QuoteCommandWord(std::u16string_view word) {
    if (!word.empty() && word.find_first_of(u" \t\r\n'\"\\") == std::u16string_view::npos) return WideString(word);
    WideString quoted = u"\"";
    for (char16_t c : word) {
        if (c == u'"' || c == u'\\' || c == u'$' || c == u'`') quoted += u'\\';
        quoted += c;
    }
    return quoted + u"\"";
}

std::optional<std::string> FindProgram(std::u16string_view program, std::string_view searchPath) {
    if (program.empty()) return std::nullopt;
    const std::string name = WideToUtf8(program);
    if (name.find('/') != std::string::npos) {
        if (IsProgramFile(name, false)) return name;
        return std::nullopt;
    }
    // As the program starter searches: each entry in turn, an empty one being
    // the current directory, files that cannot be executed passed over.
    for (;;) {
        const size_t colon = searchPath.find(':');
        std::string dir(searchPath.substr(0, colon));
        if (dir.empty()) dir = ".";
        std::string candidate = dir + (dir.back() == '/' ? "" : "/") + name;
        if (IsProgramFile(candidate, true)) return candidate;
        if (colon == std::string_view::npos) return std::nullopt;
        searchPath.remove_prefix(colon + 1);
    }
}

bool DiffProgramExists(std::u16string_view command, std::string_view searchPath) {
    return FindProgram(SplitProgram(command).Program, searchPath).has_value();
}

bool DiffProgramExists(std::u16string_view command) { return DiffProgramExists(command, EnvironmentPath()); }

WideString CommandAfterBrowse(std::u16string_view exe, std::u16string_view command) {
    WideString result = Trim(QuoteCommandWord(exe) + u" " + SplitProgram(command).Arguments);
    if (SplitCommandLine(result).size() < 2) result += u" " + DiffTemplateFor(result);
    return result;
}

WideString FillDiffCommand(std::u16string_view command, const WideString& needPath, const WideString& gotPath) {
    // One pass, so that a path holding a placeholder's text stays as it is.
    const WideString need = QuoteCommandWord(needPath), got = QuoteCommandWord(gotPath);
    WideString out;
    for (size_t i = 0; i < command.size();) {
        if (command.substr(i).starts_with(NeedPlaceholder)) {
            out += need;
            i += NeedPlaceholder.size();
        } else if (command.substr(i).starts_with(GotPlaceholder)) {
            out += got;
            i += GotPlaceholder.size();
        } else {
            out += command[i++];
        }
    }
    return out;
}

void SaveDiffFile(const WideString& path, std::u16string_view text) {
    std::string bytes;
    for (const WideString& line : SplitLines(text)) bytes += WideToUtf8(line) + "\r\n";
    SaveFileBytes(path, bytes);
}

// --- TDiffRunner ----------------------------------------------------------

struct TDiffRunner::TShared {
    std::mutex lock;
    bool alive = true;  // false once the runner is gone: no more failure calls
    TFailureEvent onFailure;
};

struct TDiffRunner::TRun {
    WideString command, needPath, gotPath;
    std::atomic<bool> done{false};
    std::thread thread;
};

namespace {

// Starts the command and waits for its program; false when it cannot start.
bool RunAndWait(const WideString& command) {
    std::vector<std::string> words;
    for (const WideString& w : SplitCommandLine(command)) words.push_back(WideToUtf8(w));
    if (words.empty()) return false;
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
#ifdef POSIX_SPAWN_SETSID
    // A session of its own, as a program in a new console: a Ctrl+C meant
    // for the debugger's terminal does not close the diff.
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
#endif
    pid_t pid = 0;
    const int rc = ::posix_spawnp(&pid, argv[0], nullptr, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) return false;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return true;
}

}  // namespace

TDiffRunner::TDiffRunner(TFailureEvent onFailure, WideString tempDir)
    : shared_(std::make_shared<TShared>()), tempDir_(std::move(tempDir)) {
    shared_->onFailure = std::move(onFailure);
}

TDiffRunner::~TDiffRunner() {
    {
        std::lock_guard guard(shared_->lock);
        shared_->alive = false;
    }
    for (const std::shared_ptr<TRun>& run : runs_) {
        if (run->done.load(std::memory_order_acquire)) {
            run->thread.join();
            continue;
        }
        // The program stays open, but its files go with the window. The
        // thread keeps its run alive and ends with the program.
        RemoveFile(run->needPath);
        RemoveFile(run->gotPath);
        run->thread.detach();
    }
}

WideString TDiffRunner::Run(std::u16string_view command, std::u16string_view expected, std::u16string_view got) {
    Reap(false);
    auto run = std::make_shared<TRun>();
    run->needPath = CreateTempFileW(tempDir_);
    try {
        run->gotPath = CreateTempFileW(tempDir_);
        SaveDiffFile(run->needPath, expected);
        SaveDiffFile(run->gotPath, got);
    } catch (...) {
        RemoveFile(run->needPath);
        if (!run->gotPath.empty()) RemoveFile(run->gotPath);
        throw;
    }
    run->command = FillDiffCommand(command, run->needPath, run->gotPath);
    // The thread reads only its own run, which it keeps alive.
    run->thread = std::thread([run, shared = shared_] {
        if (!RunAndWait(run->command)) {
            std::lock_guard guard(shared->lock);
            if (shared->alive && shared->onFailure)
                shared->onFailure(WideString(DiffCallErrorText) + run->command, WideString(DiffCallErrorCaption));
        }
        RemoveFile(run->needPath);
        RemoveFile(run->gotPath);
        run->done.store(true, std::memory_order_release);
    });
    runs_.push_back(run);
    return run->command;
}

void TDiffRunner::Reap(bool all) {
    std::erase_if(runs_, [all](const std::shared_ptr<TRun>& run) {
        if (!all && !run->done.load(std::memory_order_acquire)) return false;
        run->thread.join();
        return true;
    });
}

int TDiffRunner::Running() {
    Reap(false);
    return static_cast<int>(runs_.size());
}

void TDiffRunner::WaitAll() { Reap(true); }

}  // namespace ts
