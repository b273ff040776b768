// WorkerThread on POSIX threads.
#include "capture/worker_thread.h"

#include <limits.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>

#include "capture/stopwatch.h"

namespace kestrine {

struct ThreadLaunch {
    WorkerThread::ThreadFunction function;
    WorkerThread* owner;

    static void* Run(void* raw)
    {
        const ThreadLaunch launch = *static_cast<ThreadLaunch*>(raw);
        delete static_cast<ThreadLaunch*>(raw);
        // Running means not finished: published before Start is told the thread runs.
        launch.owner->m_finished.store(false, std::memory_order_release);
        launch.owner->m_started.store(true, std::memory_order_release);
        launch.function(launch.owner);
        return nullptr;
    }
};

namespace {

// The smallest stack the platform allows at or above 8192 bytes.
size_t SmallStackSize()
{
    size_t floor = PTHREAD_STACK_MIN;
#ifdef _SC_THREAD_STACK_MIN
    const long dynamicMin = sysconf(_SC_THREAD_STACK_MIN);
    if (dynamicMin > 0) floor = std::max(floor, static_cast<size_t>(dynamicMin));
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    floor = std::max<size_t>(floor, 1 << 20);  // instrumented frames are several times larger
#endif
    return std::max<size_t>(floor, 8192);
}

}  // namespace

WorkerThread::~WorkerThread() { Join(); }

void WorkerThread::Join()
{
    if (!m_joinable) return;
    pthread_join(static_cast<pthread_t>(m_thread), nullptr);
    m_joinable = false;
}

WorkerThread::ThreadHandle WorkerThread::Start(ThreadFunction function)
{
    Join();  // the previous capture's thread has ended (it set m_finished); release it
    Starting();
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, SmallStackSize());
    m_started.store(false, std::memory_order_relaxed);
    auto* launch = new ThreadLaunch{function, this};
    pthread_t thread{};
    if (pthread_create(&thread, &attributes, ThreadLaunch::Run, launch) == 0) {
        m_thread = static_cast<ThreadHandle>(thread);
        m_joinable = true;
    } else {
        delete launch;
        m_thread = 0;
    }
    pthread_attr_destroy(&attributes);

    const double deadline = g_stopwatch.Elapsed() + 2.0;
    while (g_stopwatch.Elapsed() < deadline && !m_started.load(std::memory_order_acquire)) {
    }
    return m_thread;
}

}  // namespace kestrine
