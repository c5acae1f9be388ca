// Thread class and wake event of the thread-blocking mode.
#include "net/net_thread.h"

#include "common/app_error.h"

TThread::TThread(bool createSuspended) {
    if (!createSuspended)
        Resume();
}

TThread::~TThread() {
    if (started_ && thread_.joinable()) {
        if (thread_.get_id() == std::this_thread::get_id()) {
            thread_.detach();  // freeing itself at the end of its own body
        } else {
            Terminate();
            thread_.join();
        }
    }
}

void TThread::Resume() {
    bool expected = false;
    if (started_.compare_exchange_strong(expected, true)) {
        // The body waits for this lock, so that a thread that frees itself at once cannot do so
        // before thread_ is assigned.
        std::lock_guard<std::mutex> lock(endLock_);
        thread_ = std::thread([this] { Run(); });
    }
}

void TThread::Run() {
    { std::lock_guard<std::mutex> lock(endLock_); }
    GuardCallback([this] { Execute(); });
    GuardCallback([this] { DoTerminate(); });
    // Read before finishing: once finished is seen, an owner may free the object.
    const bool freeSelf = FreeOnTerminate;
    {
        std::lock_guard<std::mutex> lock(endLock_);
        finished_ = true;
    }
    ended_.notify_all();
    if (freeSelf)
        delete this;
}

void TThread::WaitFor(const std::function<void()>& idle) {
    if (!started_)
        return;
    std::unique_lock<std::mutex> lock(endLock_);
    while (!finished_) {
        ended_.wait_for(lock, std::chrono::milliseconds(10));
        if (idle && !finished_) {
            lock.unlock();
            idle();
            lock.lock();
        }
    }
    lock.unlock();
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
        thread_.join();
}

void TEvent::Set() {
    {
        std::lock_guard<std::mutex> lock(lock_);
        signalled_ = true;
    }
    changed_.notify_all();
}

void TEvent::Reset() {
    std::lock_guard<std::mutex> lock(lock_);
    signalled_ = false;
}

void TEvent::Wait() {
    std::unique_lock<std::mutex> lock(lock_);
    changed_.wait(lock, [this] { return signalled_; });
}

bool TEvent::WaitFor(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(lock_);
    return changed_.wait_for(lock, timeout, [this] { return signalled_; });
}
