// kestrine-dump: decodes the IPv4 datagrams of capture files (pcap or pcapng) into the
// same tree the main window shows for a selected packet, or into the packet list.
//
//   kestrine-dump [--filter EXPRESSION] [--summary] FILE...   FILE - is standard input
//   kestrine-dump --adapters            the interface tree of the configuration dialog
//
// Frames: those of the link types src/capture_file/link_types.cpp takes; other frames are
// skipped and not counted. Each file's datagrams are
// indexed from 0 and timed from its first taken frame. With several files, each file's
// output starts with a line "==> FILE <==". --filter keeps only the datagrams a filter
// expression (filter/filter_expression.h) matches; each keeps its index among all the
// file's datagrams, and "len" is the datagram's length.
//
// Text is written as UTF-8: the payload dump's characters above 127 as the window shows
// them. Reading a pipe on standard input, or writing to a terminal, each packet is written
// as soon as it is read, so a live capture piped in can be followed.
//
// Exit status: 0; 1 when a file could not be opened, was cut short or corrupt part way
// (what came before it is printed), or standard output could not be written; 2 for a
// usage error or a filter expression that does not compile.
#include <sys/stat.h>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "capture_file/capture_file.h"
#include "capture_file/capture_parser.h"
#include "decode/detail_tree.h"
#include "decode/packet_detail.h"
#include "decode/summary.h"
#include "filter/filter_expression.h"
#include "netinfo/adapter_info.h"

using namespace kestrine;

namespace {

constexpr size_t FLUSH_BYTES = 1 << 20;

constexpr const char* USAGE =
    "usage: kestrine-dump [--filter EXPRESSION] [--summary] FILE...\n"
    "       kestrine-dump --adapters | --help | --version\n";

constexpr const char* HELP =
    "\n"
    "Decodes the IPv4 datagrams of pcap and pcapng files; FILE - reads standard input.\n"
    "\n"
    "  --filter EXPRESSION\n"
    "              only the datagrams the expression matches, in tcpdump's filter\n"
    "              language (host, net, port, tcp, udp, icmp, ip[...], and, or, not, ...)\n"
    "  --summary   one summary line per datagram instead of its detail tree\n"
    "  --adapters  the interface tree of the configuration dialog\n"
    "  --help      this text\n"
    "  --version   the version\n";

// Standard output, gathered in a buffer. The first failed write is kept: it ends the run.
class Output {
public:
    std::string text;

    bool Failed() const { return m_error != 0; }

    // Writes the buffer out; false once a write has failed.
    bool Flush()
    {
        if (Failed()) return false;
        errno = 0;
        if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0 ||
            std::ferror(stdout))
            m_error = errno != 0 ? errno : EIO;
        text.clear();
        return !Failed();
    }

    // Prints a message on standard error, after everything written before it.
    __attribute__((format(printf, 2, 3))) void Complain(const char* format, ...)
    {
        Flush();
        std::fputs("kestrine-dump: ", stderr);
        va_list args;
        va_start(args, format);
        std::vfprintf(stderr, format, args);
        va_end(args);
        std::fputc('\n', stderr);
    }

    // The exit status: status, or 1 with a message when standard output could not be written.
    int Close(int status)
    {
        if (Flush()) return status;
        std::fprintf(stderr, "kestrine-dump: write error: %s\n", std::strerror(m_error));
        return 1;
    }

private:
    int m_error = 0;  // errno of the first failed write
};

// The decoders' 8-bit text (Latin-1, as the window shows it) appended as UTF-8.
void AppendUtf8(std::string_view latin1, std::string& out)
{
    for (const char c : latin1) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            out.push_back(c);
        } else {
            out.push_back(static_cast<char>(0xC0 | byte >> 6));
            out.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
        }
    }
}

#ifdef _WIN32
bool IsTerminal(int descriptor) { return _isatty(descriptor) != 0; }
#else
bool IsTerminal(int descriptor) { return isatty(descriptor) != 0; }
#endif

// Whether a file's packets come as something writes them: a pipe, a FIFO, a terminal.
bool IsLive(const char* path)
{
    struct stat about {};
    const int found = std::strcmp(path, "-") == 0 ? fstat(0, &about) : stat(path, &about);
    return found == 0 && !S_ISREG(about.st_mode);
}

constexpr size_t READ_CHUNK = size_t{1} << 20;

// Standard input read as it comes: what a read returns, not a whole chunk, so the packets
// of a pipe reach the output while the writer goes on.
size_t ReadStandardInput(uint8_t* into, size_t most, std::string* error)
{
    for (;;) {
        errno = 0;
#ifdef _WIN32
        const int got = _read(0, into, static_cast<unsigned>(std::min<size_t>(most, 1u << 30)));
#else
        const ssize_t got = read(0, into, most);
#endif
        if (got >= 0) return static_cast<size_t>(got);
        if (errno == EINTR) continue;
        *error = std::strerror(errno != 0 ? errno : EIO);
        return 0;
    }
}

const char* DisplayName(const char* path) { return std::strcmp(path, "-") == 0 ? "standard input" : path; }

struct Options {
    bool summaryOnly = false;
    bool fileHeaders = false;  // "==> FILE <==" before each file's output
    std::vector<BpfInstruction> filter;  // empty: every datagram
};

// Dumps one file; false when it could not be opened or read to its end, or output failed.
// firstHeader is true until a "==> FILE <==" line has been written.
bool DumpFile(const char* path, const Options& options, bool& firstHeader, Output& out)
{
    DetailTree tree;
    std::string text;
    char line[256];
    // A packet at a time when someone is watching or the data comes as it is written.
    const size_t flushAt = IsLive(path) || IsTerminal(1) ? 0 : FLUSH_BYTES;
    const auto opened = [&] {
        if (options.fileHeaders) {
            // As head and tail mark files, a blank line between them.
            if (!firstHeader) out.text.push_back('\n');
            out.text.append("==> ").append(DisplayName(path)).append(" <==\n");
            firstHeader = false;
        }
        if (options.summaryOnly) {
            out.text.append(SUMMARY_COLUMN_HEADER);
            out.text.push_back('\n');
        }
    };
    const auto visit = [&](const PacketRecord& record, int64_t index) {
        if (!FilterKeeps(options.filter, record.data, static_cast<uint32_t>(record.length))) return true;
        if (options.summaryOnly) {
            out.text.append(line, static_cast<size_t>(FormatSummaryLine(record, index, line, sizeof line)));
            out.text.push_back('\n');
        } else {
            // As the main window builds it: the summary line, the sections beneath it.
            tree.Clear();
            AddPacketTree(tree, record, index);
            text.clear();
            tree.Render(text);
            AppendUtf8(text, out.text);
        }
        return out.text.size() <= flushAt || out.Flush();
    };
    ReadOutcome outcome;
    if (std::strcmp(path, "-") == 0) {
#ifdef _WIN32
        _setmode(0, _O_BINARY);
#endif
        outcome = StreamDatagrams(ReadStandardInput, visit, opened, READ_CHUNK);
    } else {
        outcome = ForEachDatagram(path, visit, opened);
    }
    switch (outcome.end) {
    case ReadEnd::Complete: return out.Flush();
    case ReadEnd::Stopped: return false;  // a write failed; Output::Close reports it
    case ReadEnd::CannotOpen: out.Complain("%s: %s", DisplayName(path), outcome.reason.c_str()); return false;
    case ReadEnd::CutShort:
        out.Complain("%s: cut short after %" PRId64 " datagram%s: %s", DisplayName(path), outcome.datagrams,
                     outcome.datagrams == 1 ? "" : "s", outcome.reason.c_str());
        return false;
    }
    return false;
}

// Prints each item as it is inserted, two blanks per depth level.
class TextTreeSink final : public TreeSink {
public:
    Item InsertItem(const char* text, Item parent) override
    {
        const int depth = parent == ROOT ? 0 : m_depths[parent - 1] + 1;
        m_depths.push_back(depth);
        std::printf("%*s%s\n", depth * 2, "", text);
        return m_depths.size();
    }

private:
    std::vector<int> m_depths;  // item i + 1 has depth m_depths[i]
};

void PrintAdapters()
{
    adapter_info info;
    TextTreeSink sink;
    FillAdapterTree(info, sink, TreeSink::ROOT);
}

int Usage()
{
    std::fputs(USAGE, stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    Output out;
    Options options;
    bool adapters = false;
    std::vector<const char*> files;
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (std::strcmp(argument, "--summary") == 0) {
            options.summaryOnly = true;
        } else if (std::strcmp(argument, "--filter") == 0) {
            if (++i == argc) {
                std::fprintf(stderr, "kestrine-dump: --filter needs an expression\n");
                return Usage();
            }
            FilterError error;
            if (!CompileFilter(argv[i], options.filter, error)) {
                std::fprintf(stderr, "kestrine-dump: filter expression, %s\n", FilterErrorText(error).c_str());
                return 2;
            }
        } else if (std::strcmp(argument, "--adapters") == 0) {
            adapters = true;
        } else if (std::strcmp(argument, "--help") == 0) {
            out.text.append(USAGE).append(HELP);
            return out.Close(0);
        } else if (std::strcmp(argument, "--version") == 0) {
            out.text.append("kestrine-dump " KESTRINE_VERSION "\n");
            return out.Close(0);
        } else if (std::strcmp(argument, "--") == 0) {
            for (++i; i < argc; ++i) files.push_back(argv[i]);
        } else if (argument[0] == '-' && argument[1] != '\0') {
            std::fprintf(stderr, "kestrine-dump: unknown option %s\n", argument);
            return Usage();
        } else {
            files.push_back(argument);
        }
    }
    if (adapters) {
        if (argc > 2) {
            std::fprintf(stderr, "kestrine-dump: --adapters takes no arguments\n");
            return Usage();
        }
        PrintAdapters();
        return out.Close(0);
    }
    if (files.empty()) return Usage();

    options.fileHeaders = files.size() > 1;
    out.text.reserve(2 * FLUSH_BYTES);
    int status = 0;
    bool firstHeader = true;
    for (const char* path : files) {
        if (!DumpFile(path, options, firstHeader, out)) status = 1;
        if (out.Failed()) break;
    }
    return out.Close(status);
}
