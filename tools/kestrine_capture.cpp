// kestrine-capture: records the IPv4 datagrams of one interface to pcap files, or prints
// their summary lines as they arrive, with the window's capture path and no window.
//
//   kestrine-capture -i IFACE [-w FILE] [-C MB] [-G SECONDS] [-W FILES] [-c COUNT]
//                    [--duration SECONDS] [-q]
//   kestrine-capture -D | --help | --version
//
// Files rotate as the recorder names them (src/capture/recorder.h): FILE, then FILE with
// "-00001", "-00002"... before its extension. Arguments after the options are reserved for
// a capture expression and are refused for now.
//
// Exit status: 0 when the recording ended by a limit or on request (Ctrl+C, SIGTERM); 1
// when a file could not be written or the interface went away (what was recorded stays,
// ending with a whole record); 2 for a bad argument, an unknown interface or a missing
// capture right.
#ifndef _WIN32
#include <sys/socket.h>
#else
#include <winsock2.h>
#endif

#include <cerrno>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <chrono>
#include <cmath>
#include <string>
#include <vector>

#include "capture/capture_session.h"
#include "filter/filter_expression.h"
#include "capture/recorder.h"
#include "capture_file/save_packets.h"
#include "decode/summary.h"
#include "netinfo/adapter_info.h"

using namespace kestrine;

namespace {

constexpr const char* PROGRAM = "kestrine-capture";

constexpr const char* USAGE =
    "usage: kestrine-capture -i IFACE [-w FILE] [-C MB] [-G SECONDS] [-W FILES] [-c COUNT]\n"
    "                        [--duration SECONDS] [-q] [EXPRESSION]\n"
    "       kestrine-capture -D | --help | --version\n";

constexpr const char* HELP =
    "\n"
    "Records the IPv4 datagrams of one interface to pcap files, or prints one summary line\n"
    "per datagram as it arrives.\n"
    "\n"
    "  -i IFACE            the interface, by name or by one of its IPv4 addresses\n"
    "  -w FILE             write pcap to FILE (- for standard output) instead of summary lines\n"
    "  -C MB               a new file before one would pass MB million bytes\n"
    "  -G SECONDS          a new file every SECONDS seconds\n"
    "  -W FILES            keep at most FILES files, removing the oldest (with -C or -G)\n"
    "  -c COUNT            stop after COUNT datagrams\n"
    "  --duration SECONDS  stop after SECONDS seconds\n"
    "  -q                  no counts on standard error at the end\n"
    "  EXPRESSION          keep only the datagrams this filter expression matches, in\n"
    "                      tcpdump's filter language (the remaining arguments, joined)\n"
    "  -D                  the interfaces, with their IPv4 addresses\n"
    "  --help              this text\n"
    "  --version           the version\n";

// Summary lines reach the terminal this soon after their datagram.
constexpr double SUMMARY_FLUSH_SECONDS = 0.02;

std::atomic<Recorder*> g_recorder = nullptr;

extern "C" void RequestStop(int)
{
    if (Recorder* recorder = g_recorder.load()) recorder->RequestStop();
}

int Usage(const std::string& problem)
{
    std::fprintf(stderr, "%s: %s\n", PROGRAM, problem.c_str());
    std::fputs(USAGE, stderr);
    return 2;
}

// A whole decimal number above zero, or false.
bool ParseCount(const char* text, uint64_t* value)
{
    if (*text < '0' || *text > '9') return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long parsed = std::strtoull(text, &end, 10);
    if (errno != 0 || *end != '\0' || parsed == 0) return false;
    *value = parsed;
    return true;
}

// A decimal number above zero (fractions allowed), or false.
bool ParseAmount(const char* text, double* value)
{
    if ((*text < '0' || *text > '9') && *text != '.') return false;
    errno = 0;
    char* end = nullptr;
    const double parsed = std::strtod(text, &end);
    if (errno != 0 || *end != '\0' || !(parsed > 0) || !std::isfinite(parsed)) return false;
    *value = parsed;
    return true;
}

// Four decimal parts of 0..255: a host-order address, or false.
bool ParseIpv4(const char* text, uint32_t* address)
{
    uint32_t value = 0;
    for (int part = 0; part < 4; ++part) {
        if (*text < '0' || *text > '9') return false;
        uint32_t octet = 0;
        int digits = 0;
        for (; *text >= '0' && *text <= '9'; ++text) {
            octet = octet * 10 + static_cast<uint32_t>(*text - '0');
            if (++digits > 3 || octet > 255) return false;
        }
        value = value << 8 | octet;
        if (part < 3 && *text++ != '.') return false;
    }
    if (*text != '\0') return false;
    *address = value;
    return true;
}

// The first IPv4 address of the interface named name (its system name, or on Windows its
// description too); 0 when it has none, false when there is no such interface.
bool InterfaceAddress(const std::string& name, uint32_t* address)
{
    adapter_info info;
    for (int n = 0; n < info.Count(); ++n) {
        if (name != info.Name(n) && name != info.Description(n)) continue;
        *address = 0;
        for (int k = 0; k < info.IPAddressCount(n) && *address == 0; ++k)
            ParseIpv4(info.IPAddressString(n, k), address);
        return true;
    }
    return false;
}

void ListInterfaces()
{
    adapter_info info;
    for (int n = 0; n < info.Count(); ++n) {
        std::string line = std::to_string(n + 1) + ". " + info.Name(n);
        const std::string description = info.Description(n);
        // Linux descriptions already name the interface, as "Loopback (lo)"; Windows ones do not.
        if (description.find(info.Name(n)) == std::string::npos) line += " (" + description + ")";
        std::string addresses;
        for (int k = 0; k < info.IPAddressCount(n); ++k) {
            uint32_t address = 0;
            if (!ParseIpv4(info.IPAddressString(n, k), &address) || address == 0) continue;
            addresses += addresses.empty() ? " " : ", ";
            addresses += info.IPAddressString(n, k);
        }
        line += addresses.empty() ? " (no IPv4 address)" : addresses;
        std::printf("%s\n", line.c_str());
    }
    std::fflush(stdout);
}

// The recording as summary lines on standard output, each flushed as it is written.
class SummarySink final : public RecordSink {
public:
    bool BeginFile(uint32_t sequence, std::string* error) override
    {
        if (sequence == 0) {
            m_startNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
            return Print(SUMMARY_COLUMN_HEADER, std::strlen(SUMMARY_COLUMN_HEADER), error);
        }
        return true;
    }

    bool Write(const uint8_t* records, size_t size, size_t* kept, std::string* error) override
    {
        *kept = 0;
        char line[256];
        while (*kept < size) {
            uint32_t stamp[4];
            std::memcpy(stamp, records + *kept, sizeof stamp);
            PacketRecord record;
            record.data = records + *kept + sizeof stamp;
            record.length = static_cast<int32_t>(stamp[2]);
            record.arrivalNs = static_cast<int64_t>(stamp[0]) * 1000000000 + stamp[1];
            record.timestamp = static_cast<float>(std::max<int64_t>(record.arrivalNs - m_startNs, 0) * 1e-9);
            const int length = FormatSummaryLine(record, m_index, line, sizeof line);
            if (!Print(line, static_cast<size_t>(length), error)) return false;
            ++m_index;
            *kept += sizeof stamp + stamp[2];
        }
        return true;
    }

    bool Finish(std::string*) override { return true; }

private:
    static bool Print(const char* text, size_t length, std::string* error)
    {
        errno = 0;
        if (std::fwrite(text, 1, length, stdout) == length && std::fputc('\n', stdout) != EOF &&
            std::fflush(stdout) == 0)
            return true;
        *error = std::string("standard output: ") + std::strerror(errno != 0 ? errno : EIO);
        return false;
    }

    int64_t m_startNs = 0;
    int64_t m_index = 0;
};

// Why the session could not capture, in one line, and the exit status.
int SetupFailure(const CaptureSession& session, const std::string& device)
{
    const uint32_t errors = session.m_errors.load();
    if (errors & CAPTURE_ERR_SOCKET) {
        // The session's later steps overwrite the socket's error: asked again, alone.
        RawSocket probe;
        const int error = probe.Create(SOCK_RAW, 0) == SOCKET_OK ? 0 : probe.m_lastError;
#ifdef _WIN32
        (void)error;
        std::fprintf(stderr, "%s: capturing needs a raw socket: run it as an administrator\n", PROGRAM);
#else
        if (error == EPERM || error == EACCES) {
            std::fprintf(stderr,
                         "%s: capturing needs CAP_NET_RAW: join the group kestrine and log in again, or run "
                         "setcap cap_net_raw+ep on %s\n",
                         PROGRAM, PROGRAM);
        } else {
            std::fprintf(stderr, "%s: cannot open a capture socket: %s\n", PROGRAM, std::strerror(error));
        }
#endif
        return 2;
    }
    if (errors & CAPTURE_ERR_BIND) {
        std::fprintf(stderr, "%s: -i %s: cannot capture on this interface\n", PROGRAM, device.c_str());
        return 2;
    }
    if (errors & CAPTURE_ERR_RCVALL) {
        std::fprintf(stderr, "%s: -i %s: cannot receive all datagrams of this interface\n", PROGRAM,
                     device.c_str());
        return 2;
    }
    std::fprintf(stderr, "%s: cannot set up the capture (errors 0x%02x)\n", PROGRAM, static_cast<unsigned>(errors));
    return 1;
}

const char* Plural(uint64_t n) { return n == 1 ? "" : "s"; }

struct Options {
    std::string device;
    std::string file;
    bool haveFile = false;
    bool quiet = false;
    bool list = false;
    uint64_t keepFiles = 0;
    RecordSettings settings;
    std::string expression;  // the capture filter: the remaining arguments, joined
};

// Reads the arguments into options: CONTINUE, or the exit status when the program ends
// here (help, version, a bad argument).
constexpr int CONTINUE = -1;
int ParseArguments(int argc, char** argv, Options& options)
{
    std::string& device = options.device;
    std::string& file = options.file;
    bool& haveFile = options.haveFile;
    uint64_t& keepFiles = options.keepFiles;
    RecordSettings& settings = options.settings;
    std::string& expression = options.expression;
    double megabytes = 0;

    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--help") {
            std::printf("%s%s", USAGE, HELP);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
        if (argument == "--version") {
            std::printf("%s %s\n", PROGRAM, KESTRINE_VERSION);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
        if (argument == "-q") {
            options.quiet = true;
            continue;
        }
        if (argument == "-D") {
            options.list = true;
            continue;
        }
        if (argument == "--") {
            for (++i; i < argc; ++i) expression.append(expression.empty() ? "" : " ").append(argv[i]);
            break;
        }
        const bool takesValue = argument == "-i" || argument == "-w" || argument == "-C" || argument == "-G" ||
                                argument == "-W" || argument == "-c" || argument == "--duration";
        if (!takesValue) {
            if (argument.size() > 1 && argument[0] == '-') return Usage("unknown option " + argument);
            expression.append(expression.empty() ? "" : " ").append(argument);
            continue;
        }
        if (i + 1 >= argc) return Usage(argument + " needs a value");
        const char* value = argv[++i];
        const std::string bad = "invalid " + argument + " " + value;
        if (argument == "-i") {
            device = value;
        } else if (argument == "-w") {
            file = value;
            haveFile = true;
            if (file.empty()) return Usage("-w needs a file name");
        } else if (argument == "-C") {
            if (!ParseAmount(value, &megabytes) || megabytes * 1e6 < 1) return Usage(bad + ": not a size in megabytes");
            settings.fileBytes = static_cast<uint64_t>(std::llround(megabytes * 1e6));
        } else if (argument == "-G") {
            if (!ParseAmount(value, &settings.fileSeconds)) return Usage(bad + ": not a number of seconds");
        } else if (argument == "-W") {
            if (!ParseCount(value, &keepFiles) || keepFiles > 99999) return Usage(bad + ": not a number of files");
        } else if (argument == "-c") {
            if (!ParseCount(value, &settings.packetLimit)) return Usage(bad + ": not a number of datagrams");
        } else if (!ParseAmount(value, &settings.secondsLimit)) {
            return Usage(bad + ": not a number of seconds");
        }
    }

    if (options.list) {
        if (!device.empty() || haveFile || !expression.empty()) return Usage("-D takes no other options");
        return CONTINUE;
    }
    if (device.empty()) return Usage("-i IFACE is required");
    const bool rotates = settings.fileBytes > 0 || settings.fileSeconds > 0;
    if ((rotates || keepFiles > 0) && (!haveFile || file == "-"))
        return Usage(std::string(settings.fileBytes > 0 ? "-C" : settings.fileSeconds > 0 ? "-G" : "-W") +
                     " needs -w FILE");
    if (keepFiles > 0 && !rotates) return Usage("-W needs -C or -G");
    return CONTINUE;
}

// Records (or lists lines) as the options say, to the end: the exit status.
int Run(Options& options)
{
    const std::string& device = options.device;
    RecordSettings& settings = options.settings;
    std::vector<BpfInstruction> filter;
    FilterError filterError;
    if (!CompileFilter(options.expression, filter, filterError)) {
        std::fprintf(stderr, "%s: filter expression, %s\n", PROGRAM, FilterErrorText(filterError).c_str());
        return 2;
    }

    uint32_t address = 0;
    if (!ParseIpv4(device.c_str(), &address)) {
        if (!InterfaceAddress(device, &address)) {
            std::fprintf(stderr, "%s: -i %s: no such interface (kestrine-capture -D lists them)\n", PROGRAM,
                         device.c_str());
            return 2;
        }
        if (address == 0) {
            std::fprintf(stderr, "%s: -i %s: the interface has no IPv4 address\n", PROGRAM, device.c_str());
            return 2;
        }
    }
    StartNetworking();
    HostAddress host;
    if (!host.FromInteger(address, 0)) {
        std::fprintf(stderr, "%s: -i %s: not an address of this machine\n", PROGRAM, device.c_str());
        return 2;
    }
    // The session supplies the socket, set up as for Begin Capture, the switches (all on)
    // and the rule (none); the recorder keeps its own buffers.
    CaptureSession session(host, 1, CaptureSession::MIN_INDEX_ENTRIES);
    if (!session.m_ready.load()) return SetupFailure(session, device);
    // In the kernel where the platform can (what it refuses is never copied), else in the
    // capture thread.
    if (!filter.empty()) session.SetCaptureFilter(filter);

    PcapFileSink files(options.file, static_cast<uint32_t>(options.keepFiles));
    SummarySink lines;
    RecordSink& sink = options.haveFile ? static_cast<RecordSink&>(files) : lines;
    if (!options.haveFile) settings.flushSeconds = SUMMARY_FLUSH_SECONDS;

#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);  // a reader gone is a write error, reported
#endif
#ifdef SIGXFSZ
    std::signal(SIGXFSZ, SIG_IGN);  // a file size limit is a write error, reported
#endif
    Recorder recorder(session, sink, settings);
    g_recorder.store(&recorder);
    std::signal(SIGINT, RequestStop);
    std::signal(SIGTERM, RequestStop);
    std::string error;
    if (!recorder.Start(&error)) {
        g_recorder.store(nullptr);
        std::fprintf(stderr, "%s: %s\n", PROGRAM, error.c_str());
        return 1;
    }
    const RecordResult result = recorder.Wait();
    g_recorder.store(nullptr);

    int status = 0;
    if (result.end == RecordEnd::WriteFailed) {
        std::fprintf(stderr, "%s: %s\n", PROGRAM, result.message.c_str());
        status = 1;
    } else if (result.end == RecordEnd::InterfaceGone) {
        std::fprintf(stderr, "%s: -i %s: the interface was removed\n", PROGRAM, device.c_str());
        status = 1;
    }
    if (!options.quiet) {
        std::fprintf(stderr, "%" PRIu64 " datagram%s captured\n", result.datagrams, Plural(result.datagrams));
        if (result.kernelDropsKnown)
            std::fprintf(stderr, "%" PRIu64 " datagram%s dropped by kernel\n", result.kernelDrops,
                         Plural(result.kernelDrops));
    }
    return status;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    const int status = ParseArguments(argc, argv, options);
    if (status != CONTINUE) return status;
    if (options.list) {
        ListInterfaces();
        return 0;
    }
    return Run(options);
}
