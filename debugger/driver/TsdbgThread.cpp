// The worker thread.
#include "debugger/driver/TsdbgThread.h"

namespace ts {

TSingleThread::TSingleThread(std::vector<TTsArg> args, bool createSuspended, TProcedure procedure)
    : args_(std::move(args)), procedure_(std::move(procedure)) {
    if (!createSuspended) Start();
}

TSingleThread::~TSingleThread() {
    if (!thread_.joinable()) return;
    if (thread_.get_id() == std::this_thread::get_id()) {
        thread_.detach();  // a thread cannot wait for itself
        return;
    }
    Terminate(-1);
    if (thread_.joinable()) thread_.join();
}

void TSingleThread::Start() {
    if (thread_.joinable() || Finished()) return;
    thread_ = std::thread([this] { Body(); });
}

void TSingleThread::Body() {
    int code = 1;
    try {
        code = procedure_ ? procedure_(*this, args_) : 0;
        if (onComplete_) onComplete_(*this, args_);
    } catch (const std::exception& e) {
        try {
            code = onError_ ? onError_(*this, args_, e) : 1;
        } catch (...) {
            code = 1;
        }
    } catch (...) {
        code = 1;
    }
    // Publishes everything the body wrote to whoever sees the code.
    exitCode_.store(code, std::memory_order_release);
}

void TSingleThread::Terminate(int code) {
    if (!Running()) return;
    if (stopRequest_) stopRequest_();
    if (thread_.get_id() != std::this_thread::get_id()) thread_.join();
    exitCode_.store(code, std::memory_order_release);
}

void TSingleThread::WaitFor() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

}  // namespace ts
