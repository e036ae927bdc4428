// The run driver.
#include "debugger/driver/TsdbgRunDriver.h"

#include <algorithm>
#include <optional>

namespace ts {

namespace {
constexpr int kJobDone = 777;
}

struct TRunDriver::TJob {
    TTsmCancelToken Cancel;
    // A single run ...
    std::optional<TModelRunRequest> Request;
    std::unique_ptr<TModelRun> Run;
    // ... or the samples.
    TSampleModel Model;
    std::vector<TSampleCase> Cases;
    std::vector<TSampleOutcome> Samples;
};

TRunDriver::~TRunDriver() {
    // Every worker still alive is told to stop; their destructors wait.
    if (job_) job_->Cancel.Cancel();
    worker_.reset();
    retired_.clear();
}

void TRunDriver::StartRun(TModelRunRequest request) {
    auto job = std::make_shared<TJob>();
    request.Cancel = job->Cancel;
    job->Request = std::move(request);
    Start(std::move(job));
}

void TRunDriver::StartSamples(TSampleModel model, std::vector<TSampleCase> cases) {
    auto job = std::make_shared<TJob>();
    job->Model = std::move(model);
    job->Cases = std::move(cases);
    Start(std::move(job));
}

void TRunDriver::Start(std::shared_ptr<TJob> job) {
    Cancel();
    job_ = std::move(job);
    worker_ = std::make_unique<TSingleThread>(std::vector<TTsArg>{}, true, [job = job_](TSingleThread&, TTsArgs) {
        if (job->Request) {
            job->Run = RunModel(std::move(*job->Request));
        } else {
            for (const TSampleCase& c : job->Cases) {
                if (job->Cancel.IsCancelled()) break;
                job->Samples.push_back(RunSample(job->Model, c, job->Cancel));
            }
        }
        return kJobDone;
    });
    worker_->SetStopRequest([token = job_->Cancel] { token.Cancel(); });
    worker_->Start();
}

void TRunDriver::Cancel() {
    if (job_) job_->Cancel.Cancel();
    Retire();
}

void TRunDriver::Retire() {
    // A replaced worker's end is never reported; it is freed once it is over.
    if (worker_) retired_.push_back(std::move(worker_));
    std::erase_if(retired_, [](const std::unique_ptr<TSingleThread>& w) { return w->Finished(); });
}

TRunSyncAction TRunDriver::Sync() {
    std::erase_if(retired_, [](const std::unique_ptr<TSingleThread>& w) { return w->Finished(); });
    if (!worker_) {
        // A cancelled job is reported once, without waiting for its worker.
        if (!job_) return TRunSyncAction::None;
        job_.reset();
        return TRunSyncAction::Cancelled;
    }
    if (!worker_->Finished()) return TRunSyncAction::None;
    worker_.reset();
    std::shared_ptr<TJob> job = std::move(job_);
    if (job->Cancel.IsCancelled()) return TRunSyncAction::Cancelled;
    if (job->Request || job->Run) {
        Run = std::move(job->Run);
        return TRunSyncAction::ShowRun;
    }
    Samples = std::move(job->Samples);
    return TRunSyncAction::ShowSamples;
}

TRunSyncAction TRunDriver::WaitAndSync() {
    if (worker_) worker_->WaitFor();
    return Sync();
}

}  // namespace ts
