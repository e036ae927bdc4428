// The compile driver.
#include "debugger/driver/TsdbgDriver.h"

#include <algorithm>

#include "library/text/TsStreamers.h"
#include "library/text/modellingreader/TsmReadExplain.h"
#include "support/Strings.h"

namespace ts {

// What one worker reads and builds. The worker holds it as long as it runs,
// so a cancelled worker never writes into freed memory.
struct TCompileDriver::TRun {
    WideString Source;
    uint8_t LastPhase = 0;
    TModelReader Reader = TModelReader::Modelling;
    TModelReadOptions ReadOptions;
    std::function<void(int step)> OnWorkerStep;
    TTsmCancelToken Cancel;
    std::unique_ptr<TTsTreeNode> InputTree;
    std::unique_ptr<TTsdbgCompiler> Compiler;
    std::unique_ptr<TTsTreeNode> ResultTree;
    WideString ErrorClass;
    WideString ErrorMessage;
    int64_t ErrorOffset = -1;
    int32_t ErrorLine = 0;
    WideString ErrorExplanation;
    int64_t ErrorExplanationOffset = -1;
};

TCompileDriver::~TCompileDriver() {
    // Every worker still alive is told to stop; their destructors wait.
    cancel_.Cancel();
    for (auto& w : retired_) w.reset();
    Worker.reset();
}

void TCompileDriver::StartCompile(std::u16string_view text, int index) {
    if (index < 0 || index > 2)
        throw EInvalidArgument(u"Wrong LastPhase index %d.", {static_cast<unsigned>(static_cast<uint8_t>(index))});
    if (index >= 2) index = 1;
    StopWorker();
    // The end of a replaced worker is never reported; it is freed once over.
    if (Worker) retired_.push_back(std::move(Worker));
    ReapRetired();
    Source = WideString(text);
    LastPhase = static_cast<uint8_t>(index + 1);
    Working = true;
    // Each run gets a fresh token: the one of a cancelled run stays cancelled.
    cancel_ = TTsmCancelToken();
    run_ = std::make_shared<TRun>();
    run_->Source = Source;
    run_->LastPhase = LastPhase;
    run_->Reader = Reader;
    run_->ReadOptions.SourceName = SourceName;
    run_->ReadOptions.FirstLine = FirstLine;
    run_->OnWorkerStep = OnWorkerStep;
    run_->Cancel = cancel_;
    Worker = std::make_unique<TSingleThread>(std::vector<TTsArg>{}, true,
                                             [run = run_](TSingleThread&, TTsArgs) { return WorkerProcedure(*run); });
    Worker->SetErrorEvent(
        [run = run_](TSingleThread&, TTsArgs, const std::exception& e) { return WorkerError(*run, e); });
    Worker->SetStopRequest([token = cancel_] { token.Cancel(); });
    Worker->Start();
}

int TCompileDriver::WorkerProcedure(TRun& run) {
    auto step = [&run](int n) {
        if (run.OnWorkerStep) run.OnWorkerStep(n);
        return !run.Cancel.IsCancelled();
    };
    if (!step(0)) return WorkerCancelled;
    run.InputTree = ReadModelText(run.Source, run.Reader, run.ReadOptions, &run.Cancel);
    if (!step(1)) return WorkerCancelled;
    run.Compiler = std::make_unique<TTsdbgCompiler>();
    // Model text is UTF-8 here: conditions become bytes the same way.
    run.Compiler->Options.Codepage = SystemCodepage;
    run.Compiler->SetPhase(run.LastPhase);
    run.Compiler->Compile(*run.InputTree);
    if (!step(2)) return WorkerCancelled;
    run.ResultTree = BuildResultTree(*run.Compiler, run.Compiler->CurrentPhase);
    return WorkerSucceeded;
}

int TCompileDriver::WorkerError(TRun& run, const std::exception& error) {
    // The error a cancel provokes is not the run's error: an earlier one
    // stays on show.
    if (run.Cancel.IsCancelled()) return WorkerCancelled;
    if (const auto* e = dynamic_cast<const Exception*>(&error)) {
        run.ErrorClass = WideString(e->ClassName());
        run.ErrorMessage = e->Message();
        run.ErrorOffset = TsmErrorOffset(error).value_or(-1);
        if (const auto* bad = dynamic_cast<const ETsBadTextStreaming*>(&error)) run.ErrorLine = bad->LineNumber;
        if (const TTsmReadExplanation* why = ReadErrorExplanation(error)) {
            run.ErrorExplanation = why->Text;
            run.ErrorExplanationOffset = why->Offset;
        }
    } else {
        run.ErrorClass = u"Exception";
        run.ErrorMessage = Utf8ToWide(error.what());
    }
    return WorkerFailed;
}

void TCompileDriver::StopWorker() {
    if (Worker && Worker->Running()) cancel_.Cancel();
    ResultTree.reset();
    Compiler.reset();
    InputTree.reset();
    Working = false;
    HasResult = false;
    ErrorShown = false;
}

void TCompileDriver::ReapRetired() {
    std::erase_if(retired_, [](const std::unique_ptr<TSingleThread>& w) { return w->Finished(); });
}

TSyncOutcome TCompileDriver::Sync() {
    ReapRetired();
    TSyncOutcome out;
    if (!Worker || !Worker->Finished()) return out;
    // A run asked to stop counts as cancelled even when it got to its end.
    out.ExitCode = cancel_.IsCancelled() ? WorkerCancelled : Worker->ExitCode();
    Worker.reset();
    std::shared_ptr<TRun> run = std::move(run_);
    Working = false;
    if (out.ExitCode == WorkerSucceeded || out.ExitCode == WorkerFailed) {
        InputTree = std::move(run->InputTree);
        Compiler = std::move(run->Compiler);
        ResultTree = std::move(run->ResultTree);
    }
    if (out.ExitCode == WorkerFailed) {
        ErrorClass = std::move(run->ErrorClass);
        ErrorMessage = std::move(run->ErrorMessage);
        ErrorOffset = run->ErrorOffset;
        ErrorLine = run->ErrorLine;
        ErrorExplanation = std::move(run->ErrorExplanation);
        ErrorExplanationOffset = run->ErrorExplanationOffset;
    }
    if (out.ExitCode == WorkerSucceeded) {
        HasResult = true;
        out.Action = TSyncAction::ShowResult;
    } else if (ErrorClass.empty()) {
        out.Action = TSyncAction::Idle;
        if (out.ExitCode != WorkerCancelled) out.Status = u"Abnormal thread exit with code " + IntToStr(out.ExitCode);
    } else {
        ErrorShown = true;
        out.Action = TSyncAction::ShowError;
    }
    return out;
}

TSyncOutcome TCompileDriver::WaitAndSync() {
    if (Worker) Worker->WaitFor();
    return Sync();
}

std::optional<TTsTextLocation> TCompileDriver::ErrorPlace() const {
    if (ErrorClass.empty()) return std::nullopt;
    const int64_t offset = ErrorExplanationOffset >= 0 ? ErrorExplanationOffset : ErrorOffset;
    if (offset >= 0) {
        TTsTextLocation where = LocateOffset(MemoTextToBytes(Source), offset, SystemCodepage);
        where.Line += FirstLine;
        return where;
    }
    // A reader's line counts from the file's start.
    if (ErrorLine > 0) {
        TTsTextLocation where = LocateLine(Source, ErrorLine - FirstLine, 1);
        where.Line = ErrorLine;
        return where;
    }
    return std::nullopt;
}

WideString TCompileDriver::ErrorPlaceText() const {
    const std::optional<TTsTextLocation> where = ErrorPlace();
    if (!where) return {};
    // LocatedMessage's line and caret, under our own first line.
    const WideString located = LocatedMessage(u"", *where, u"");
    WideString head = u"Line " + IntToStr(where->Line) + u", column " + IntToStr(where->Column);
    if (!ErrorExplanation.empty()) head += u": " + ErrorExplanation;
    return head + located.substr(located.find(u'\n'));
}

int TCompileDriver::ErrorPhase() const { return Compiler ? Compiler->CurrentPhase : -1; }

std::optional<int> TCompileDriver::RecompileIndex() const {
    const int phase = ErrorPhase();
    if (phase >= 1) return phase - 1;
    return std::nullopt;
}

}  // namespace ts
