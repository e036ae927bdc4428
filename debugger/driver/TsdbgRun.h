// Running a model over input, as `tessarine run`, `tessarine test` and the
// window's run page do: the model text read and compiled fully, then run
// over the input with its FAIL and WARN reports collected, the farthest
// failure kept and a failed run's partial result kept; and the one text
// form of a result tree ("name = \"text\"" per node, two blanks a level)
// that the command line prints and expected trees are written in.
#pragma once

#include <climits>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "debugger/driver/TsdbgSource.h"
#include "library/modelling/TsmCompiler.h"
#include "library/modelling/TsmEngine.h"
#include "support/Streams.h"

namespace ts {

// ---- The text of result nodes ------------------------------------------------

// What a result node matched, decoded with the input's code page: a leaf
// the text its condition took (its start span) together with what its own
// path-less children took after it (its inner span), a node with children
// what they took (its inner span). Nothing for a node without spans (one
// its model node only found). At most maxBytes of the input are read.
std::optional<WideString> ResultNodeText(TTsmSlicer& slicer, const TTsTreeNode& node, int32_t codepage,
                                         int64_t maxBytes = INT64_MAX);

// Texts in the tree form are cut after this many characters ...
inline constexpr size_t ResultTextLimit = 60;
// ... so this many bytes of a span, one character more than is shown in any
// code page, tell a cut without reading a long text whole.
inline constexpr int64_t ResultTextBytes = (ResultTextLimit + 1) * 4;

// The tree form: one line per node, indented by two blanks per level,
// "name" or "name = \"text\"" with the text escaped to one line and cut
// after ResultTextLimit characters; "<unnamed>" for a node without a name.
// Every line ends in a line feed.
WideString ResultTreeText(TTsmSlicer& slicer, const TTsTreeNode& root, int32_t codepage);

// ---- A run ---------------------------------------------------------------------

// A FAIL or WARN report, or input left over, as the run went on.
struct TRunReport {
    std::unique_ptr<Exception> Error;  // a copy of the report
    bool IsWarning = false;
    bool IsInputLeft = false;
    int64_t Offset = -1;  // into the input, -1: none
};

struct TModelRunRequest {
    WideString ModelText;
    // How the model text is read (its file's name and first line).
    TModelReadOptions Read;
    RawByteString Input;
    // When set, the run reads this stream (borrowed; it must outlive the
    // run) instead of Input, e.g. a large file read as the run goes.
    TStream* InputStream = nullptr;
    // The input's code page; the model's conditions become bytes with it too.
    int32_t Codepage = SystemCodepage;
    // Empty: detected from the input.
    WideString LineBreak;
    TTsmCancelToken Cancel;
    // The bounds of the run (depth, result tree, memory).
    TTsmLimits Limits;
    // Called for each report when it happens (the run goes on).
    std::function<void(const Exception& report)> OnReport;
    // Called with the run before it starts (a trace listens there).
    std::function<void(TTsmRun& run)> BeforeRun;
};

// Where a run's error arose: in the model (reading or compiling it) or in
// the input (running it).
enum class TRunStage { None, Model, Input };

// Everything a run leaves: it owns the model tree, the compiled model, the
// input and the result (the complete one, or a failed run's partial one),
// so spans and node pointers stay valid as long as it lives.
class TModelRun {
public:
    TModelRun() = default;
    TModelRun(const TModelRun&) = delete;
    TModelRun& operator=(const TModelRun&) = delete;

    // The input; the result's spans refer to this stream.
    std::unique_ptr<TStringStream> Stream;
    const RawByteString& Input() const { return Stream->DataString(); }
    int32_t Codepage = SystemCodepage;
    TTsmCancelToken Cancel;
    std::unique_ptr<TTsTreeNode> ModelTree;
    std::unique_ptr<TTsmCompiler> Compiler;
    std::unique_ptr<TTsmSlicer> Result;
    bool Partial = false;  // Result is a failed run's

    // The error that ended the run (nil: it ran to its end).
    std::unique_ptr<Exception> Error;
    TRunStage ErrorStage = TRunStage::None;
    int64_t ErrorOffset = -1;  // TsmErrorOffset of Error; into Input when the stage is Input
    std::vector<TRunReport> Reports;

    // Where the run got farthest before failing (-1: no condition failed),
    // what was expected there and the chain of model nodes being modelled.
    int64_t FarthestOffset = -1;
    WideString Expected;
    WideString Chain;

    const TTsTreeNode* ResultRoot() const { return Result ? Result->ResultRoot() : nullptr; }
    bool Cancelled() const { return Cancel.IsCancelled(); }
    bool HasFailReports() const;
    bool HasInputLeft() const;
    // Ran to its end without FAIL reports and without input left.
    bool Succeeded() const { return !Error && !HasFailReports() && !HasInputLeft(); }
    // The result in the tree form; empty without a result.
    WideString TreeText() const;
};

// Reads, compiles (every phase) and runs. Never raises for what the model
// or the input do wrong: the run records it.
std::unique_ptr<TModelRun> RunModel(TModelRunRequest request);

// Where byte offsets of an input lie in its decoded text, by line (lines end
// at LF, CR LF or CR, as a text pane breaks them) and UTF-16 column, and
// back; the window places spans with it. Built once per input; finding a
// place decodes only the part of its line before it.
class TInputLines {
public:
    struct TPlace {
        int32_t Line = 0;    // from 0
        int32_t Column = 0;  // from 0, in UTF-16 units
    };
    TInputLines() = default;
    TInputLines(RawByteString bytes, int32_t codepage);
    int32_t LineCount() const { return static_cast<int32_t>(starts_.size()); }
    // An offset past the end is the end.
    TPlace PlaceOf(int64_t byteOffset) const;
    // The offset of a place (clamped to its line and to the input).
    int64_t OffsetOf(TPlace place) const;

private:
    std::string_view Line(int32_t line) const;  // without its break
    int32_t Units(std::string_view bytes) const;

    RawByteString bytes_;
    int32_t codepage_ = SystemCodepage;
    std::vector<int64_t> starts_{0};  // the byte offset where each line begins
};

// The deepest result node whose span (its start, inner or end span, global)
// holds the byte offset; nil when none does. The tree is searched along one
// path, each level by a binary search when its children lie in input order.
const TTsTreeNode* DeepestNodeAt(const TTsTreeNode& root, int64_t offset);

// A node's global span as [offset, offset + length), when it has it.
struct TByteSpan {
    int64_t Offset = 0;
    int64_t Length = 0;
};
std::optional<TByteSpan> NodeSpan(const TTsTreeNode& node, std::u16string_view globalProp);

}  // namespace ts
