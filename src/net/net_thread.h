// The thread class of the socket layer's thread-blocking mode: a thread with a terminate request,
// free-on-terminate and wait-for-end, plus a resettable wake event.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class TThread {
  public:
    explicit TThread(bool createSuspended);
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;
    // Requests termination and waits for the body to end.
    virtual ~TThread();

    // Starts a thread that was created suspended (the first call only).
    void Resume();
    void Terminate() { terminated_ = true; }
    bool Terminated() const { return terminated_; }
    bool Finished() const { return finished_; }
    // Waits until the body and the termination step have run. `idle` runs about every 10 ms
    // while waiting (the main thread handles calls queued for it there).
    void WaitFor(const std::function<void()>& idle = {});

    // When set, the thread frees its object after its termination step.
    std::atomic<bool> FreeOnTerminate{false};

  protected:
    virtual void Execute() = 0;
    // Runs on the thread after Execute.
    virtual void DoTerminate() {}

  private:
    void Run();

    std::thread thread_;
    std::atomic<bool> terminated_{false};
    std::atomic<bool> started_{false};
    std::atomic<bool> finished_{false};
    std::mutex endLock_;
    std::condition_variable ended_;
};

// A manual-reset event: Set wakes every waiter until Reset.
class TEvent {
  public:
    void Set();
    void Reset();
    void Wait();
    bool WaitFor(std::chrono::milliseconds timeout);

  private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool signalled_ = false;
};
