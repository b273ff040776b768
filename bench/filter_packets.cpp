// Filtering a million stored packets: the file read through the window's reader and each
// datagram run through our compiled program, against `tcpdump -r FILE EXPR -w /dev/null`
// on the same file with the same expressions (its own wall and CPU time). Also the
// filtering alone, over records already in memory.
//
//   filter_packets [PACKETS]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_process.h"
#include "bench/sample_capture.h"
#include "capture_file/capture_file.h"
#include "filter/filter_expression.h"

using namespace kestrine;
using kestrine::bench::Now;

namespace {

double CpuSeconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Run {
    double wall = 0;
    double cpu = 0;
    long kept = 0;
};

Run Tcpdump(const std::string& path, const std::string& expression)
{
    const double cpuBefore = CpuSeconds(RUSAGE_CHILDREN);
    const double begin = Now();
    std::fflush(stdout);  // the child must not write out what the parent has buffered
    const pid_t child = fork();
    if (child == 0) {
        if (!std::freopen("/dev/null", "w", stdout) || !std::freopen("/dev/null", "w", stderr)) _exit(126);
        execlp("tcpdump", "tcpdump", "-r", path.c_str(), expression.c_str(), "-w", "/dev/null",
               static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    Run run{Now() - begin, CpuSeconds(RUSAGE_CHILDREN) - cpuBefore, -1};
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "filter_packets: tcpdump failed (is it installed?)\n");
        std::exit(1);
    }
    return run;
}

}  // namespace

int main(int argc, char** argv)
{
    const int packets = argc > 1 ? std::atoi(argv[1]) : 1000000;
    const std::string path = (std::filesystem::temp_directory_path() / "kestrine-filter-bench.pcap").string();
    bench::WriteSampleCapture(path, packets, "filter_packets");
    const char* const expressions[] = {
        "udp port 53",                                     // every packet
        "tcp",                                             // none
        "host 198.51.100.7 and udp[8] = 0x61",             // one in 26
        "ip[2:2] > 100 and not src net 10.0.0.0/8",        // about a third
        "udp and (port 80 or port 443 or portrange 1000-1100) and ip[8] = 64",
    };
    std::printf("%d packets; times in seconds (wall / CPU)\n", packets);
    std::printf("%-66s %15s %15s %12s %7s\n", "expression", "ours: read+run", "tcpdump -w", "ours: run", "ratio");
    for (const char* e : expressions) {
        std::vector<BpfInstruction> program;
        FilterError error;
        if (!CompileFilter(e, program, error)) {
            std::fprintf(stderr, "filter_packets: %s: %s\n", e, FilterErrorText(error).c_str());
            return 1;
        }
        // Read and filter, as kestrine-dump --filter does, counting what is kept.
        Run ours;
        const double cpuBefore = CpuSeconds(RUSAGE_SELF);
        double begin = Now();
        ForEachDatagram(path.c_str(), [&](const PacketRecord& r, int64_t) {
            ours.kept += FilterKeeps(program, r.data, static_cast<uint32_t>(r.length));
            return true;
        });
        ours.wall = Now() - begin;
        ours.cpu = CpuSeconds(RUSAGE_SELF) - cpuBefore;

        // The run alone, over the records in memory (as a display filter over the list).
        const CaptureFileContents contents = LoadCaptureFile(path);
        begin = Now();
        long kept = 0;
        for (const PacketRecord& r : contents.records)
            kept += RunBpf(program.data(), program.size(), r.data, static_cast<uint32_t>(r.length)) != 0;
        const double runOnly = Now() - begin;
        if (kept != ours.kept) std::fprintf(stderr, "filter_packets: %ld kept in memory, %ld read\n", kept, ours.kept);

        const Run peer = Tcpdump(path, e);
        std::printf("%-66s %7.3f/%7.3f %7.3f/%7.3f %12.4f %7.1f  (%ld kept)\n", e, ours.wall, ours.cpu, peer.wall,
                    peer.cpu, runOnly, peer.cpu / ours.cpu, ours.kept);
    }
    std::printf("ratio: tcpdump's CPU over ours (read + run)\n");
    std::filesystem::remove(path);
    return 0;
}
