// kestrine-capture against tcpdump -w in the same run, on the same flood: loopback and a
// veth pair, 64- and 1400-byte UDP payloads, one file and a ring of 3 files of 10 MB, and
// a slow disk (the pcap stream into a pipe read at a fixed rate). Reports datagrams sent,
// recorded by each, CPU time per recorded datagram, resident memory at the start and the
// end, and how long each took to end after SIGINT. Root only (private namespaces).
//
//   record_flood KESTRINE_CAPTURE [SECONDS [flat]]   (30 s per case unless told; "flat":
//                                                    only the floods as fast as they go)
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_process.h"
#include "capture_file/capture_file.h"
#include "tests/support/netns.h"

namespace {

namespace fs = std::filesystem;
using kestrine::bench::Now;

// The flood's port: a socket is bound to it on loopback, so no datagram is answered with
// port-unreachable there (the peer behind the veth pair answers a few, rate-limited).
int PORT = 9200;

// A child process; its standard output to a file, or to a pipe whose reading end is kept.
struct Child {
    pid_t pid = -1;
    int pipeOut = -1;
    std::string err;

    Child(std::vector<std::string> argv, const std::string& out, const std::string& errPath, bool toPipe)
        : err(errPath)
    {
        int fds[2] = {-1, -1};
        if (toPipe && pipe(fds) != 0) std::exit(1);
        pid = fork();
        if (pid == 0) {
            const int o = toPipe ? fds[1] : open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int e = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(o, 1);
            dup2(e, 2);
            if (toPipe) close(fds[0]);
            std::vector<char*> args;
            for (auto& a : argv) args.push_back(a.data());
            args.push_back(nullptr);
            execvp(args[0], args.data());
            _exit(127);
        }
        if (toPipe) {
            close(fds[1]);
            pipeOut = fds[0];
        }
    }
};

// utime + stime of a process, in seconds; its resident memory in KiB.
double CpuSeconds(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string f;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> f; ++i) {
        if (i == 14) utime = std::atol(f.c_str());
        if (i == 15) stime = std::atol(f.c_str());
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

long ResidentKib(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return 0;
}

std::string ReadText(const std::string& path)
{
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The first number before `word` in text ("123 datagrams captured"), or -1.
long long CountBefore(const std::string& text, const std::string& word)
{
    const size_t at = text.find(word);
    if (at == std::string::npos || at < 2) return -1;
    size_t start = at - 1;
    while (start > 0 && std::isdigit(static_cast<unsigned char>(text[start - 1]))) --start;
    return std::atoll(text.c_str() + start);
}

// UDP datagrams to PORT in the files named.
long long FloodDatagramsIn(const std::vector<std::string>& paths)
{
    long long n = 0;
    for (const auto& p : paths)
        kestrine::ForEachDatagram(p.c_str(), [&](const kestrine::PacketRecord& r, int64_t) {
            if (r.length >= 24 && r.data[9] == 17 && (r.data[22] << 8 | r.data[23]) == PORT) ++n;
            return true;
        });
    return n;
}

// Sends UDP datagrams of size bytes at about rate per second for seconds; how many.
long long Flood(const char* address, size_t size, double rate, double seconds)
{
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(PORT);
    inet_pton(AF_INET, address, &to.sin_addr);
    std::vector<uint8_t> payload(size, 0x44);
    long long sent = 0;
    const double start = Now();
    for (double now = start; now - start < seconds; now = Now()) {
        const long long due = static_cast<long long>((now - start) * rate);
        if (sent >= due) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            continue;
        }
        // A batch at a time, so the clock is read again however high the rate.
        for (const long long batch = std::min(due, sent + 1000); sent < batch; ++sent) {
            std::memcpy(payload.data(), &sent, 4);
            sendto(s, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        }
    }
    close(s);
    return sent;
}

// Reads a pipe at about bytesPerSecond until it ends: a slow disk.
std::thread SlowReader(int fd, double bytesPerSecond)
{
    return std::thread([fd, bytesPerSecond] {
        std::vector<char> chunk(16384);
        double allowed = 0;
        const double start = Now();
        long long total = 0;
        for (;;) {
            allowed = (Now() - start) * bytesPerSecond;
            if (static_cast<double>(total) >= allowed) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                continue;
            }
            const ssize_t n = read(fd, chunk.data(), chunk.size());
            if (n <= 0) break;
            total += n;
        }
        close(fd);
    });
}

struct Side {
    const char* name;
    Child* child;
    long rssStart = 0;
    long rssEnd = 0;
    double cpu = 0;
    double stopSeconds = 0;
    long long recorded = 0;
    long long kernelDrops = -1;
};

void Stop(Side& side)
{
    const double t = Now();
    kill(side.child->pid, SIGINT);
    int status = 0;
    waitpid(side.child->pid, &status, 0);
    side.stopSeconds = Now() - t;
}

struct Case {
    const char* link;  // "lo" or "veth"
    size_t payload;
    double rate;
    bool rotate;
    bool slowDisk;
};

void Run(const Case& c, const std::string& capture, double seconds, const std::string& dir)
{
    const std::string iface = std::strcmp(c.link, "lo") == 0 ? "lo" : "kveth0";
    const std::string ours = dir + "/ours.pcap", theirs = dir + "/theirs.pcap";
    std::vector<std::string> ourArgs = {capture, "-i", iface, "-w", c.slowDisk ? "-" : ours};
    // Both with a 4 MiB ring (tcpdump's -B in KiB) and every frame whole.
    std::vector<std::string> theirArgs = {"tcpdump", "-i", iface, "-n", "-B", "4096", "-w", c.slowDisk ? "-" : theirs};
    if (iface == "lo") {  // loopback: the arriving copy only, as kestrine-capture takes it
        theirArgs.push_back("-Q");
        theirArgs.push_back("in");
    }
    if (c.rotate) {
        for (auto* args : {&ourArgs, &theirArgs}) {
            args->insert(args->end(), {"-C", "10", "-W", "3"});
        }
        theirArgs.insert(theirArgs.end(), {"-Z", "root"});  // tcpdump would give up root for its next file
    }
    Child ourChild(ourArgs, dir + "/ours.out", dir + "/ours.err", c.slowDisk);
    Child theirChild(theirArgs, dir + "/theirs.out", dir + "/theirs.err", c.slowDisk);
    std::thread readers[2];
    if (c.slowDisk) {  // 2 MB/s: well below the flood
        readers[0] = SlowReader(ourChild.pipeOut, 2e6);
        readers[1] = SlowReader(theirChild.pipeOut, 2e6);
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    Side sides[2] = {{"kestrine-capture", &ourChild}, {"tcpdump -w", &theirChild}};
    for (Side& s : sides) s.rssStart = ResidentKib(s.child->pid);
    const long long sent = Flood(iface == "lo" ? "127.0.0.1" : "198.18.0.2", c.payload, c.rate, seconds);
    std::this_thread::sleep_for(std::chrono::seconds(1));  // both take what is queued
    for (Side& s : sides) {
        s.rssEnd = ResidentKib(s.child->pid);
        s.cpu = CpuSeconds(s.child->pid);
    }
    for (Side& s : sides) Stop(s);
    for (auto& r : readers)
        if (r.joinable()) r.join();

    const std::string ourErr = ReadText(dir + "/ours.err"), theirErr = ReadText(dir + "/theirs.err");
    sides[0].kernelDrops = CountBefore(ourErr, " datagrams dropped by kernel");
    sides[1].kernelDrops = CountBefore(theirErr, " packets dropped by kernel");
    if (c.rotate || c.slowDisk) {
        // The files are gone or were a stream: the programs' own counts (all datagrams).
        sides[0].recorded = CountBefore(ourErr, " datagram");
        sides[1].recorded = CountBefore(theirErr, " packets captured");
    } else {
        sides[0].recorded = FloodDatagramsIn({ours});
        sides[1].recorded = FloodDatagramsIn({theirs});
    }
    std::printf("\n%s, %zu-byte payloads, %s for %.0f s%s%s: %lld sent\n", c.link, c.payload,
                c.rate >= 1e9 ? "flat out" : (std::to_string(static_cast<long>(c.rate)) + "/s").c_str(), seconds,
                c.rotate ? ", -C 10 -W 3" : "", c.slowDisk ? ", -w - into a pipe read at 2 MB/s" : "", sent);
    for (const Side& s : sides) {
        const double perDatagram = s.recorded > 0 ? s.cpu / static_cast<double>(s.recorded) * 1e6 : 0;
        std::printf("  %-16s recorded %9lld (%6.2f%% lost), kernel drops %lld, CPU %6.2f s = %.3f us/datagram, "
                    "RSS %ld -> %ld KiB, ended %.3f s after SIGINT\n",
                    s.name, s.recorded, 100.0 * static_cast<double>(sent - s.recorded) / static_cast<double>(sent),
                    s.kernelDrops, s.cpu, perDatagram, s.rssStart, s.rssEnd, s.stopSeconds);
    }
    if (sides[1].recorded > 0 && sides[0].recorded > 0)
        std::printf("  ratios kestrine/tcpdump: recorded %.3f, CPU per datagram %.3f\n",
                    static_cast<double>(sides[0].recorded) / static_cast<double>(sides[1].recorded),
                    (sides[0].cpu / static_cast<double>(sides[0].recorded)) /
                        (sides[1].cpu / static_cast<double>(sides[1].recorded)));
    std::fflush(stdout);
    for (const auto& e : fs::directory_iterator(dir)) fs::remove_all(e.path());
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: record_flood KESTRINE_CAPTURE [SECONDS]\n");
        return 2;
    }
    const std::string capture = fs::absolute(argv[1]).string();
    const double seconds = argc > 2 ? std::atof(argv[2]) : 30;
    if (!kestrine::testnet::EnterPrivateNamespace()) {
        std::fprintf(stderr, "%s\n", kestrine::testnet::WhyNot());
        return 77;
    }
    const int sink = kestrine::testnet::BindLoopbackUdp(&PORT);
    (void)sink;
    kestrine::testnet::Peer peer;
    if (!peer.Start()) {
        std::fprintf(stderr, "cannot make the veth pair\n");
        return 1;
    }
    char pattern[] = "/tmp/kestrine-record-flood-XXXXXX";
    const std::string dir = mkdtemp(pattern);
    const Case cases[] = {
        {"lo", 64, 100000, false, false},   {"lo", 1400, 20000, false, false},
        {"veth", 64, 100000, false, false}, {"veth", 1400, 20000, false, false},
        {"lo", 64, 100000, true, false},    {"lo", 1400, 20000, true, false},
        {"veth", 64, 100000, true, false},  {"veth", 1400, 20000, true, false},
        {"lo", 1400, 20000, false, true},
        // As fast as one sending thread goes, into rings of files (gigabytes otherwise).
        {"lo", 64, 1e9, true, false},       {"veth", 1400, 1e9, true, false},
    };
    const bool flatOnly = argc > 3 && std::strcmp(argv[3], "flat") == 0;
    for (const Case& c : cases)
        if (!flatOnly || c.rate >= 1e9) Run(c, capture, seconds, dir);
    fs::remove_all(dir);
    return 0;
}
