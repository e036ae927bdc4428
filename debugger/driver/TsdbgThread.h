// TSingleThread: one worker thread with an exit code, built on std::thread.
// The body's result is the exit code; an exception escaping it goes to the
// error event, whose result is then the exit code (1 without one).
//
// The platform's forced termination is replaced by a cooperative one:
// Terminate asks the body to stop through the stop request, waits for it,
// and records the given exit code. A body that honours its stop request
// therefore ends promptly and its caller may free whatever it built.
#pragma once

#include <atomic>
#include <exception>
#include <functional>
#include <thread>
#include <vector>

#include "library/core/TsBase.h"

namespace ts {

class TSingleThread : public TObject {
    TS_CLASS(TSingleThread)
public:
    // The exit code of a thread that has not ended (or not started).
    static constexpr int StillActive = 259;

    using TProcedure = std::function<int(TSingleThread& thread, TTsArgs args)>;
    using TCompletionEvent = std::function<void(TSingleThread& thread, TTsArgs args)>;
    using TErrorEvent = std::function<int(TSingleThread& thread, TTsArgs args, const std::exception& error)>;

    TSingleThread(std::vector<TTsArg> args, bool createSuspended, TProcedure procedure);
    // Terminate(-1) first, unless called by the worker itself.
    ~TSingleThread() override;
    TSingleThread(const TSingleThread&) = delete;
    TSingleThread& operator=(const TSingleThread&) = delete;

    void SetErrorEvent(TErrorEvent e) { onError_ = std::move(e); }
    void SetCompletionEvent(TCompletionEvent e) { onComplete_ = std::move(e); }
    // How Terminate asks a running body to stop; called on the terminating thread.
    void SetStopRequest(std::function<void()> request) { stopRequest_ = std::move(request); }

    // Begins the thread unless it has been started.
    void Start();
    int ExitCode() const { return exitCode_.load(std::memory_order_acquire); }
    bool Finished() const { return ExitCode() != StillActive; }
    bool Running() const { return thread_.joinable() && !Finished(); }
    // When running: asks the body to stop, waits for it, exit code := code.
    void Terminate(int code);
    // Waits until the body has ended (at once when not started).
    void WaitFor();

private:
    void Body();

    std::vector<TTsArg> args_;
    TProcedure procedure_;
    TCompletionEvent onComplete_;
    TErrorEvent onError_;
    std::function<void()> stopRequest_;
    std::thread thread_;
    std::atomic<int> exitCode_{StillActive};
};

}  // namespace ts
