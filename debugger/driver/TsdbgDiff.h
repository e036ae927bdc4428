// The text page's external diff: finding an installed diff program, the
// command template with its placeholders, the words of a command, and running
// the command on two temporary files, each run on a thread of its own.
//
// Commands follow the shell's quoting rules (see SplitCommandLine) but no
// shell runs them: the words are the program and its arguments, so a file
// name is never taken for shell syntax.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/Object.h"

namespace ts {

inline constexpr std::u16string_view NeedPlaceholder = u"%NEED%";
inline constexpr std::u16string_view GotPlaceholder = u"%GOT%";
inline constexpr std::u16string_view NoDiffProgram = u"<exe>";
inline constexpr std::u16string_view DiffCallErrorCaption = u"Diff program calling error";
inline constexpr std::u16string_view DiffCallErrorText = u"Problem running the command:\n\n";

// Looked for on PATH at start, in this order.
inline constexpr std::array<std::u16string_view, 5> KnownDiffPrograms = {u"meld", u"kdiff3", u"kompare", u"diffuse",
                                                                         u"tkdiff"};

// "/base:%NEED% /theirs:%GOT%" when the path, lower-cased, contains
// "tortoise"; "%NEED% %GOT%" otherwise.
WideString DiffTemplateFor(std::u16string_view path);

// The first known program found on the search path, with its template; else
// "<exe> %NEED% %GOT%". A path with blanks is quoted, so that the command's
// first word still names the program.
WideString DetectDiffCommand(std::string_view searchPath);
// With the PATH of the environment.
WideString DetectDiffCommand();

// The words of a command line: blanks (space, tab, CR, LF) separate words;
// outside quotes a backslash takes the next character as it is; '...' takes
// everything up to the next "'" as it is; in "..." a backslash before
// '"', '\', '$' or '`' takes that character, any other backslash stays. An
// unclosed quote runs to the end. Nothing is expanded.
std::vector<WideString> SplitCommandLine(std::u16string_view command);

struct TCommandWords {
    WideString Program;    // the first word, unquoted
    WideString Arguments;  // the text after the first word as written, trimmed
};
TCommandWords SplitProgram(std::u16string_view command);

// The word as the command line must write it: unchanged when it needs no
// quotes, else in double quotes with '"', '\', '$' and '`' escaped.
WideString QuoteCommandWord(std::u16string_view word);

// The file a program name stands for: a name with a "/" as it is, any other
// the first executable file of that name on the search path. Nothing when no
// such file exists or it is a directory.
std::optional<std::string> FindProgram(std::u16string_view program, std::string_view searchPath);
// Whether the command's first word names an existing program file (what
// enables the external diff button).
bool DiffProgramExists(std::u16string_view command, std::string_view searchPath);
bool DiffProgramExists(std::u16string_view command);

// The command after the program dialog chose exe: the program replaced, the
// arguments kept, and the template added when there is no argument.
WideString CommandAfterBrowse(std::u16string_view exe, std::u16string_view command);

// Every "%NEED%" and "%GOT%" (exact case) replaced by the quoted paths.
WideString FillDiffCommand(std::u16string_view command, const WideString& needPath, const WideString& gotPath);

// Writes text as its lines, each ended by CR LF, in UTF-8 (the system code page).
void SaveDiffFile(const WideString& path, std::u16string_view text);

// Runs external diffs. Each run owns its two temporary files and deletes them
// when its program ends or fails to start; the runner's destruction (the
// window closing) deletes the files of runs still open, without waiting for
// their programs.
class TDiffRunner : public TObject {
    TS_CLASS(TDiffRunner)
public:
    // Called on the run's thread when its program cannot be started, with the
    // message ("Problem running the command:\n\n" + command) and the caption
    // ("Diff program calling error"). It must not wait for the window thread:
    // the runner's destruction waits for a call in progress.
    using TFailureEvent = std::function<void(const WideString& message, const WideString& caption)>;

    // Temporary files go to tempDir, or to the system's temporary directory when empty.
    explicit TDiffRunner(TFailureEvent onFailure, WideString tempDir = {});
    ~TDiffRunner() override;
    TDiffRunner(const TDiffRunner&) = delete;
    TDiffRunner& operator=(const TDiffRunner&) = delete;

    // Writes the two texts, fills the command and starts it; answers the
    // command as started. Raises when the files cannot be written.
    WideString Run(std::u16string_view command, std::u16string_view expected, std::u16string_view got);
    // The runs whose programs have not ended yet.
    int Running();
    // Waits until every run has ended.
    void WaitAll();

private:
    struct TShared;
    struct TRun;
    void Reap(bool all);

    std::shared_ptr<TShared> shared_;
    WideString tempDir_;
    std::vector<std::shared_ptr<TRun>> runs_;
};

}  // namespace ts
