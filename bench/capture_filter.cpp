// Capture CPU per offered datagram with a filter expression that keeps 1 % of a loopback
// flood, attached to the packet socket (the kernel drops the rest before the ring) against
// the same program run in the capture thread. In a private network namespace; needs root;
// the flood is bounded in count and time.
//
//   capture_filter [DATAGRAMS]
#include <pthread.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "capture/capture_session.h"
#include "capture/stopwatch.h"
#include "filter/filter_expression.h"
#include "tests/support/netns.h"

using namespace kestrine;

namespace {

double ThreadCpu(pthread_t thread)
{
    clockid_t clock;
    pthread_getcpuclockid(thread, &clock);
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double ProcessCpu()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Result {
    uint32_t offered = 0;
    int stored = 0;
    double threadCpu = 0;   // the capture thread's
    double processCpu = 0;  // the whole process: the flood's sends (and the kernel's work in them) too
};

Result Measure(bool inKernel, uint32_t datagrams)
{
    HostAddress address;
    address.Resolve("127.0.0.1", 5000);
    CaptureSession session(address, 4096, CaptureSession::MAX_INDEX_ENTRIES);
    if (!session.m_ready) {
        std::fprintf(stderr, "capture_filter: the session is not ready (errors %u)\n", session.m_errors.load());
        std::exit(1);
    }
    int port = 0;
    const int sink = testnet::BindLoopbackUdp(&port);
    // The flood's payload opens with its sequence number in host order (little-endian here):
    // its first two bytes read big-endian run through 0..65535, 1 % of them below 655.
    std::vector<BpfInstruction> program;
    FilterError error;
    const std::string expression = "udp dst port " + std::to_string(port) + " and udp[8:2] < 655";
    if (!CompileFilter(expression, program, error)) {
        std::fprintf(stderr, "capture_filter: %s\n", FilterErrorText(error).c_str());
        std::exit(1);
    }
    if (session.SetCaptureFilter(program, inKernel) != inKernel) {
        std::fprintf(stderr, "capture_filter: the kernel refused the program\n");
        std::exit(1);
    }
    session.SetSecondsLimit(30);
    session.Reset();
    session.Start(&CaptureSession::CaptureThread);
    const auto thread = static_cast<pthread_t>(session.m_thread);
    const double threadBefore = ThreadCpu(thread), processBefore = ProcessCpu();
    Result result;
    {
        testnet::Flood flood(port, 16, datagrams, 5.0);
        while (flood.Sent() < datagrams) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        flood.Stop();
        result.offered = flood.Sent();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the ring's last block
    result.threadCpu = ThreadCpu(thread) - threadBefore;
    result.processCpu = ProcessCpu() - processBefore;
    result.stored = session.PacketCount();
    session.m_stopRequested = true;
    const double until = g_stopwatch.Elapsed() + 5.0;
    while (!session.m_finished.load() && g_stopwatch.Elapsed() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    close(sink);
    return result;
}

}  // namespace

int main(int argc, char** argv)
{
    if (!testnet::EnterPrivateNamespace()) {
        std::fprintf(stderr, "capture_filter: %s\n", testnet::WhyNot());
        return 1;
    }
    const auto datagrams = static_cast<uint32_t>(argc > 1 ? std::atoi(argv[1]) : 300000);
    std::printf("%u datagrams offered on loopback; a filter keeps 1 %%\n", datagrams);
    std::printf("%-22s %8s %8s %18s %18s\n", "filter run", "offered", "stored", "thread ns/offered",
                "process ns/offered");
    const Result kernel = Measure(true, datagrams);
    const Result thread = Measure(false, datagrams);
    for (const auto& [name, r] : {std::pair{"in the kernel", kernel}, std::pair{"in the capture thread", thread}})
        std::printf("%-22s %8u %8d %18.1f %18.1f\n", name, r.offered, r.stored, r.threadCpu * 1e9 / r.offered,
                    r.processCpu * 1e9 / r.offered);
    std::printf("ratio capture thread / kernel: %.1f (capture thread CPU), %.2f (process CPU)\n",
                (thread.threadCpu / thread.offered) / (kernel.threadCpu / kernel.offered),
                (thread.processCpu / thread.offered) / (kernel.processCpu / kernel.offered));
    return 0;
}
