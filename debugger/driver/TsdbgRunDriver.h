// TRunDriver: the window's runs of a model over input, without the window.
// Like the compile driver it works on a worker thread of its own, collects
// the finished worker on the window's timer (Sync) and cancels without
// waiting: a job is either one run (StartRun) or all of a script's samples
// (StartSamples), and the worker builds into a job object it shares with
// the driver, so a cancelled worker never writes into what the window uses.
#pragma once

#include <memory>
#include <vector>

#include "debugger/driver/TsdbgRun.h"
#include "debugger/driver/TsdbgSamples.h"
#include "debugger/driver/TsdbgThread.h"

namespace ts {

enum class TRunSyncAction {
    None,         // no worker has finished
    ShowRun,      // Run holds the finished run
    ShowSamples,  // Samples hold the judged samples
    Cancelled,    // the job was cancelled
};

class TRunDriver {
public:
    TRunDriver() = default;
    ~TRunDriver();
    TRunDriver(const TRunDriver&) = delete;
    TRunDriver& operator=(const TRunDriver&) = delete;

    // Cancels a job that is still running, then starts this one.
    void StartRun(TModelRunRequest request);
    void StartSamples(TSampleModel model, std::vector<TSampleCase> cases);
    // Asks the running job to stop, without waiting; its results are dropped.
    void Cancel();
    TRunSyncAction Sync();
    TRunSyncAction WaitAndSync();
    bool Working() const { return worker_ != nullptr; }
    size_t RetiredWorkers() const { return retired_.size(); }

    // The results of the last finished job of each kind.
    std::unique_ptr<TModelRun> Run;
    std::vector<TSampleOutcome> Samples;

private:
    struct TJob;
    void Start(std::shared_ptr<TJob> job);
    void Retire();

    std::shared_ptr<TJob> job_;
    std::unique_ptr<TSingleThread> worker_;
    std::vector<std::unique_ptr<TSingleThread>> retired_;
};

}  // namespace ts
