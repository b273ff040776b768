// Owner of one background thread at a time, with the stop request and finished flag
// that the thread and the user-interface thread share.
#pragma once

#include <atomic>
#include <cstdint>

namespace kestrine {

class WorkerThread {
public:
    using ThreadFunction = void (*)(void* argument);
    using ThreadHandle = uintptr_t;

    WorkerThread() = default;
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;
    // Joins the last thread. Derived classes stop their thread before their own members go.
    virtual ~WorkerThread();

    // Runs function(this) on a new thread with a small stack and returns once the thread
    // runs (it clears m_finished first) or 2.0 seconds have passed.
    ThreadHandle Start(ThreadFunction function);

    std::atomic<bool> m_stopRequested = false;
    std::atomic<bool> m_finished = true;
    ThreadHandle m_thread = 0;

protected:
    // Waits for the last started thread to end and releases it; nothing when none.
    void Join();
    // Called by Start on the caller's thread before the new thread exists: what it writes,
    // the new thread reads without further ordering.
    virtual void Starting() {}

private:
    friend struct ThreadLaunch;
    // Raised by the new thread before it runs the function, so Start also notices a thread
    // that has already finished again by the time it looks.
    std::atomic<bool> m_started = false;
    bool m_joinable = false;
};

}  // namespace kestrine
