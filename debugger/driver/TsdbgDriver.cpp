// The compile driver.
#include "debugger/driver/TsdbgDriver.h"

#include "support/Strings.h"

namespace ts {

TCompileDriver::~TCompileDriver() { StopWorker(); }

void TCompileDriver::StartCompile(std::u16string_view text, int index) {
    if (index < 0 || index > 2)
        throw EInvalidArgument(u"Wrong LastPhase index %d.", {static_cast<unsigned>(static_cast<uint8_t>(index))});
    if (index >= 2) index = 1;
    StopWorker();
    Source = WideString(text);
    LastPhase = static_cast<uint8_t>(index + 1);
    Working = true;
    // Each run gets a fresh token: the one of a cancelled run stays cancelled.
    cancel_ = TTsmCancelToken();
    Worker = std::make_unique<TSingleThread>(std::vector<TTsArg>{}, true,
                                             [this](TSingleThread&, TTsArgs) { return WorkerProcedure(); });
    Worker->SetErrorEvent([this](TSingleThread&, TTsArgs, const std::exception& e) { return WorkerError(e); });
    Worker->SetStopRequest([token = cancel_] { token.Cancel(); });
    Worker->Start();
}

int TCompileDriver::WorkerProcedure() {
    auto step = [this](int n) {
        if (OnWorkerStep) OnWorkerStep(n);
        return !Cancelled();
    };
    if (!step(0)) return WorkerCancelled;
    InputTree = ReadModelText(Source, Reader, &cancel_);
    if (!step(1)) return WorkerCancelled;
    Compiler = std::make_unique<TTsdbgCompiler>();
    // Model text is UTF-8 here: conditions become bytes the same way.
    Compiler->Options.Codepage = SystemCodepage;
    Compiler->SetPhase(LastPhase);
    Compiler->Compile(*InputTree);
    if (!step(2)) return WorkerCancelled;
    ResultTree = BuildResultTree(*Compiler, Compiler->CurrentPhase);
    return WorkerSucceeded;
}

int TCompileDriver::WorkerError(const std::exception& error) {
    // The error a cancel provokes is not the run's error: an earlier one
    // stays on show.
    if (Cancelled()) return WorkerCancelled;
    if (const auto* e = dynamic_cast<const Exception*>(&error)) {
        ErrorClass = WideString(e->ClassName());
        ErrorMessage = e->Message();
    } else {
        ErrorClass = u"Exception";
        ErrorMessage = Utf8ToWide(error.what());
    }
    return WorkerFailed;
}

void TCompileDriver::StopWorker() {
    if (Worker && Worker->Running()) Worker->Terminate(WorkerCancelled);
    // The worker has ended: what it built is ours to free.
    ResultTree.reset();
    Compiler.reset();
    InputTree.reset();
    Working = false;
    HasResult = false;
    ErrorShown = false;
}

TSyncOutcome TCompileDriver::Sync() {
    TSyncOutcome out;
    if (!Worker || !Worker->Finished()) return out;
    out.ExitCode = Worker->ExitCode();
    Worker.reset();
    Working = false;
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

int TCompileDriver::ErrorPhase() const { return Compiler ? Compiler->CurrentPhase : -1; }

std::optional<int> TCompileDriver::RecompileIndex() const {
    const int phase = ErrorPhase();
    if (phase >= 1) return phase - 1;
    return std::nullopt;
}

}  // namespace ts
