// TCompileDriver: the window's compile driver without the window. It owns
// the state of one run (source text, phase, the input tree, the phased
// compiler, the result tree, the worker) and the last error; StartCompile
// begins a run on a worker thread, StopWorker cancels it and frees its
// results, and Sync (the window's 50 ms timer) collects a finished worker
// and says what to show.
//
// Worker exit codes: 777 success, 12 an error (its class and message
// recorded), 11 cancelled.
//
// A cancel does not wait for the worker: the worker builds into a run object
// of its own, which it shares with the driver, and a cancelled worker may go
// on until its next step while the window is already used again (a new run
// starts beside it). Its results are freed on the driver's thread, when its
// end is collected or the driver goes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "debugger/driver/TsdbgCompiler.h"
#include "debugger/driver/TsdbgSource.h"
#include "debugger/driver/TsdbgThread.h"
#include "library/modelling/TsmEngine.h"
#include "library/text/TsTextLocation.h"

namespace ts {

inline constexpr int WorkerSucceeded = 777;
inline constexpr int WorkerFailed = 12;
inline constexpr int WorkerCancelled = 11;

enum class TSyncAction {
    None,        // no worker has finished
    ShowResult,  // the result tree is ready
    ShowError,   // the run failed: show ErrorClass and ErrorMessage
    Idle,        // the run ended without a result or a recorded error
};

struct TSyncOutcome {
    TSyncAction Action = TSyncAction::None;
    int ExitCode = TSingleThread::StillActive;
    // "Abnormal thread exit with code N" for an unexplained end, else empty.
    WideString Status;
};

class TCompileDriver {
public:
    TCompileDriver() = default;
    ~TCompileDriver();
    TCompileDriver(const TCompileDriver&) = delete;
    TCompileDriver& operator=(const TCompileDriver&) = delete;

    // The reader of the run's text; the debugger reads as the library does.
    TModelReader Reader = TModelReader::Modelling;
    // How runs name their text in `source` values and messages, and the
    // file's line index of its first line: an empty name keeps the memo's
    // own (the window's); the command line gives the file's.
    WideString SourceName;
    int32_t FirstLine = 0;
    // Called on the worker thread before each step (0 reading, 1 compiling,
    // 2 building the result tree), for progress display.
    std::function<void(int step)> OnWorkerStep;

    // ---- State of the last run. The trees and the compiler are the
    // finished run's, handed over when Sync collects it.
    WideString Source;
    uint8_t LastPhase = 0;
    std::unique_ptr<TTsTreeNode> InputTree;
    std::unique_ptr<TTsdbgCompiler> Compiler;
    std::unique_ptr<TTsTreeNode> ResultTree;
    // The current run's worker; after a cancel it stays until Sync sees it end.
    std::unique_ptr<TSingleThread> Worker;
    // The last error: its class name (empty: none) and message. A new run
    // does not clear them; only a later error replaces them.
    WideString ErrorClass;
    WideString ErrorMessage;
    // Where in Source the last error lies: a global offset into the bytes
    // of MemoTextToBytes(Source) (-1: none), or a reader error's line from 1
    // (0: none). MemoOffsetText and LocateLine turn them into a place.
    int64_t ErrorOffset = -1;
    int32_t ErrorLine = 0;
    // A model line the modelling reader could not read, in the model
    // author's words ("expected the condition operator after "!""), and
    // where it applies (a global offset as ErrorOffset); empty and -1 when
    // the last error has no such explanation. ErrorMessage keeps the
    // library's own message.
    WideString ErrorExplanation;
    int64_t ErrorExplanationOffset = -1;
    bool Working = false;
    bool HasResult = false;
    bool ErrorShown = false;

    // Index 0 loads, 1 merges, 2 (full) merges too. An index above 2 raises
    // EInvalidArgument "Wrong LastPhase index %d." before anything changes.
    void StartCompile(std::u16string_view text, int index);
    // Asks a running worker to stop (it ends with exit code 11) without
    // waiting for it, and frees the results of the last run.
    void StopWorker();
    // Collects a finished worker.
    TSyncOutcome Sync();
    // Waits for the worker, then collects it.
    TSyncOutcome WaitAndSync();
    // Workers of cancelled runs that a newer run replaced and that have not
    // ended yet.
    size_t RetiredWorkers() const { return retired_.size(); }

    // Where in Source the last error lies, as line and column from 1 (the
    // explanation's place when there is one); nullopt when it names none.
    std::optional<TTsTextLocation> ErrorPlace() const;
    // "Line L, column C: " and the explanation (or nothing more), then the
    // line and a caret under the column; empty without a place.
    WideString ErrorPlaceText() const;

    // The phase the compiler last entered (the error's phase), -1 when there
    // is no compiler or it entered none.
    int ErrorPhase() const;
    // The index to recompile with after an error: one phase less than the
    // error's, when there is one.
    std::optional<int> RecompileIndex() const;

    // Whether the current run has been asked to stop.
    bool Cancelled() const { return cancel_.IsCancelled(); }

private:
    struct TRun;
    static int WorkerProcedure(TRun& run);
    static int WorkerError(TRun& run, const std::exception& error);
    void ReapRetired();

    TTsmCancelToken cancel_;
    std::shared_ptr<TRun> run_;
    std::vector<std::unique_ptr<TSingleThread>> retired_;
};

}  // namespace ts
