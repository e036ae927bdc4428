// What the subcommands of `tessarine` share: argument parsing with usage
// errors, the exit codes, error reports on stderr, UTF-8 output, JSON text
// and the display of values and texts.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "library/core/TsNodes.h"
#include "library/text/TsTextLocation.h"
#include "support/Streams.h"
#include "support/Strings.h"

namespace ts::cli {

enum ExitCode : int {
    ExitOk = 0,
    ExitDifferent = 1,  // check found differences; run ended with FAIL reports or input left
    ExitUsage = 2,
    ExitError = 3,  // an error of the library or of the input
};

// A usage error: printed with the command's usage, exit code 2.
class EUsage : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The arguments of one subcommand: options ("--name value" or "--name"),
// then the rest as positionals. "--" ends the options.
class TArgs {
public:
    // valued: options that take a value; flags: options that do not.
    TArgs(const std::vector<std::string>& args, std::set<std::string> valued, std::set<std::string> flags);

    bool Flag(const std::string& name) const { return flags_.count(name) != 0; }
    std::optional<std::string> Value(const std::string& name) const;
    const std::vector<std::string>& Positionals() const { return positionals_; }
    // Exactly n positionals, else EUsage.
    void ExpectPositionals(size_t n) const;
    // An integer option within [lo, hi]; EUsage otherwise.
    std::optional<int> IntValue(const std::string& name, int lo, int hi) const;
    // One of the choices; EUsage otherwise.
    std::optional<std::string> Choice(const std::string& name, const std::set<std::string>& choices) const;

private:
    std::map<std::string, std::string> values_;
    std::set<std::string> flags_;
    std::vector<std::string> positionals_;
};

// A subcommand: its usage line and its body.
struct TCommand {
    const char* Name;
    const char* Usage;    // arguments after the command name
    const char* Summary;  // one line for the command list
    int (*Run)(const TArgs&) = nullptr;
    std::set<std::string> Valued;
    std::set<std::string> Flags;
    const char* Details = "";  // the options and the output, for --help
};

const std::vector<TCommand>& Commands();

// Output in UTF-8.
void Out(std::u16string_view text);
void Out(std::string_view text);
void Err(std::u16string_view text);
void Err(std::string_view text);

WideString FileArg(const std::string& arg);
// A file's bytes; "-" reads standard input.
RawByteString ReadInputFile(const std::string& arg);
// A file to be read as a run goes, through a read-ahead window. Standard
// input ("-") is first copied to a temporary file that nobody else can
// open and that goes when the stream does, so that it can be sought too.
std::unique_ptr<TStream> OpenInputStream(const std::string& arg);

// A text that errors may point into, named as the user named its file.
struct TTextPlace {
    WideString FileName;
    // Offsets count these bytes, decoded with Codepage ...
    RawByteString Bytes;
    int32_t Codepage = 65001;
    // ... or, when set, the bytes of a stream not held in memory (borrowed).
    TTsStreamLocator* Locator = nullptr;
    // ... or, when IsMemo, the bytes of memo text (a model loaded from the
    // file, whose first line is the file's line FirstLine).
    bool IsMemo = false;
    WideString MemoText;
    int32_t FirstLine = 0;

    static TTextPlace File(const std::string& arg, RawByteString bytes, int32_t codepage = 65001);
    static TTextPlace Memo(const std::string& arg, WideString text, int32_t firstLine);
};

// Where an offset of a file's text lies (not for memo text).
TTsTextLocation LocateInPlace(const TTextPlace& place, int64_t offset);

// "Humanised Class: message".
WideString ErrorText(const std::exception& error);
// The error at its place: "FILE:LINE:COLUMN: Class: message", the line and
// a caret; "FILE: Class: message" when it names no position; without a
// place as ErrorText. A model line the modelling reader could not read is
// told in the author's words at its own place, and the error follows as
// DetailsText. Ends in a line feed.
WideString PlacedErrorText(const std::exception& error, const TTextPlace* place);

// "  details: message" and a line feed: the library's own message under
// an explanation in the user's words.
WideString DetailsText(std::u16string_view message);

// Reports an error on stderr (at its place, when given) and returns
// ExitError.
int ReportError(const std::exception& error, const TTextPlace* place = nullptr);
// Reports an error of reading a file (a script's loading): at its place
// in the file when it names one. Returns ExitError.
int ReportFileError(const std::exception& error, const std::string& arg);
// The humanised class name of an error.
WideString ErrorClassText(const std::exception& error);

// ---- JSON ----
void JsonString(std::string& out, std::u16string_view text);
// A value as an object of its present kinds ({"s": …, "r": …, "b": …,
// "i": …, "f": …, "o": …}); a span as {"offset": …, "length": …}, both
// integers, when spansAsRanges is set.
void JsonValue(std::string& out, const TTsValue& value, bool spansAsRanges);

// A tree as {"name": …, "props": {…}, "children": […]}. extra, when set,
// adds fields to each node (after "name"), written as `"key": value,`.
using TJsonExtra = std::string (*)(const TTsTreeNode& node, const void* context);
std::string TreeToJson(const TTsTreeNode& root, bool spansAsRanges, TJsonExtra extra = nullptr,
                       const void* context = nullptr);
// The same written to `sink` in pieces of about 64 KiB, so that a big tree
// is never held as one text; `rootMembers` (`"key": value, `) opens the
// root's object.
void WriteTreeJson(const TTsTreeNode& root, bool spansAsRanges, TJsonExtra extra, const void* context,
                   const std::function<void(std::string_view)>& sink, std::string_view rootMembers = {});

// ---- Display ----
// Every present kind of a value: "text" (quoted), x'hex', True/False,
// integers, floats, a span as [offset+length], objects by class name.
WideString ValueDisplay(const TTsValue& value);
// A node tree as indented lines: each node's name, its properties below it
// as "$name = value".
WideString TreeToText(const TTsTreeNode& root);

}  // namespace ts::cli
