// WorkerThread on the run-time library's threads, with an 8192-byte stack.
#include <process.h>
#include <windows.h>

#include "capture/stopwatch.h"
#include "capture/worker_thread.h"

namespace kestrine {

struct ThreadLaunch {
    WorkerThread::ThreadFunction function;
    WorkerThread* owner;

    static unsigned __stdcall Run(void* raw)
    {
        const ThreadLaunch launch = *static_cast<ThreadLaunch*>(raw);
        delete static_cast<ThreadLaunch*>(raw);
        launch.owner->m_finished.store(false, std::memory_order_release);
        launch.owner->m_started.store(true, std::memory_order_release);
        launch.function(launch.owner);
        return 0;
    }
};

WorkerThread::~WorkerThread() { Join(); }

void WorkerThread::Join()
{
    if (!m_joinable) return;
    const HANDLE thread = reinterpret_cast<HANDLE>(m_thread);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    m_joinable = false;
}

WorkerThread::ThreadHandle WorkerThread::Start(ThreadFunction function)
{
    Join();
    Starting();
    m_started.store(false, std::memory_order_relaxed);
    auto* launch = new ThreadLaunch{function, this};
    m_thread = _beginthreadex(nullptr, 8192, ThreadLaunch::Run, launch, 0, nullptr);
    if (m_thread != 0) {
        m_joinable = true;
    } else {
        delete launch;
    }
    const double deadline = g_stopwatch.Elapsed() + 2.0;
    while (g_stopwatch.Elapsed() < deadline && !m_started.load(std::memory_order_acquire)) {
    }
    return m_thread;
}

}  // namespace kestrine
