// The output, messages and exit statuses of kestrine-dump and kestrine-records on capture
// files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "capture_file/capture_file.h"
#include "decode/summary.h"
#include "tests/capture_file/capture_file_builder.h"

namespace kestrine {
namespace {

using namespace kestrine::test;

// A pcap file of frames of the given link type, little-endian, at path TempPath(name).
std::string Write(const char* name, uint32_t linkType, const std::vector<PcapFrame>& frames)
{
    return StoreTemp(name, Pcap(linkType, frames));
}

void Store(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

std::string Text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// A raw IPv4 capture of count datagrams marked 0, 1, ..., a millisecond apart.
std::string WriteDatagrams(const char* name, int count)
{
    std::vector<PcapFrame> frames;
    for (int i = 0; i < count; ++i)
        frames.push_back({Datagram(static_cast<uint8_t>(i)), 1, static_cast<uint32_t>(i) * 1000});
    return Write(name, 101, frames);
}

// Overwrites the captured length in the header of record `record` (from 0) of a pcap file
// as Write makes them.
void SetCapturedLength(const std::string& path, int record, uint32_t captured)
{
    std::string bytes = Contents(path);
    size_t at = 24;  // file header
    for (int i = 0; i < record; ++i)
        at += 16 + (static_cast<uint8_t>(bytes[at + 8]) | static_cast<uint8_t>(bytes[at + 9]) << 8);
    ASSERT_LT(at + 12, bytes.size());
    for (int i = 0; i < 4; ++i) bytes[at + 8 + static_cast<size_t>(i)] = static_cast<char>(captured >> 8 * i);
    Store(path, bytes);
}

enum class Sink {
    Captured,    // a file, read back into Result::out
    Full,        // /dev/full: every write fails with ENOSPC
    ClosedPipe,  // a pipe whose reader is gone; SIGPIPE is ignored, so writes fail with EPIPE
};

struct RunOptions {
    std::string input;             // standard input, through a pipe
    Sink output = Sink::Captured;  // standard output
    bool mergeErrors = false;      // standard error into standard output, as 2>&1
};

RunOptions Input(std::string bytes)
{
    RunOptions options;
    options.input = std::move(bytes);
    return options;
}

RunOptions Output(Sink sink)
{
    RunOptions options;
    options.output = sink;
    return options;
}

RunOptions MergedErrors()
{
    RunOptions options;
    options.mergeErrors = true;
    return options;
}

struct Result {
    int status = -1;  // exit status, or 128 + the signal that ended the program
    std::string out;
    std::string err;
};

// Runs program with arguments and waits for it.
Result Execute(const char* program, const std::vector<std::string>& arguments, const RunOptions& options = {})
{
    const std::string outPath = TempPath("stdout"), errPath = TempPath("stderr");
    std::vector<char*> argv{const_cast<char*>(program)};
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    int input[2], output[2];
    if (pipe(input) != 0 || pipe(output) != 0) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        return {};
    }
    // Inputs are small: they fit in the pipe before the program reads them.
    EXPECT_EQ(write(input[1], options.input.data(), options.input.size()),
              static_cast<ssize_t>(options.input.size()));
    close(input[1]);
    close(output[0]);
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = options.output == Sink::Captured ? open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600)
                        : options.output == Sink::Full   ? open("/dev/full", O_WRONLY)
                                                         : output[1];
        const int err = options.mergeErrors ? out : open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(input[0], STDIN_FILENO);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        signal(SIGPIPE, SIG_IGN);
        execv(program, argv.data());
        _exit(127);
    }
    close(input[0]);
    close(output[1]);
    Result run;
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) {
        ADD_FAILURE() << "fork or wait: " << std::strerror(errno);
        return run;
    }
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = Contents(outPath);
    run.err = Contents(errPath);
    unlink(outPath.c_str());
    unlink(errPath.c_str());
    return run;
}

Result Dump(const std::vector<std::string>& arguments, const RunOptions& options = {})
{
    return Execute(KESTRINE_DUMP, arguments, options);
}

using Arguments = std::vector<std::string>;

Arguments With(Arguments arguments, const std::string& last)
{
    arguments.push_back(last);
    return arguments;
}

// The two ways of printing: detail trees, summary lines.
const Arguments MODES[] = {{}, {"--summary"}};

// What kestrine-dump prints for path alone, which must succeed.
std::string DumpAlone(const Arguments& mode, const std::string& path)
{
    const Result run = Dump(With(mode, path));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    return run.out;
}

TEST(DumpTool, TreeAndSummaryOutput)
{
    Bytes udp = Datagram(0x41);
    const auto path = Write("dump", 101, {{udp, 3, 0}, {Bytes(udp.begin(), udp.begin() + 12), 3, 500000}});
    EXPECT_EQ(DumpAlone({"--summary"}, path),
              "Index    Time-Stamp  Size  Proto  Src IP Address   Dst IP Address    Information\n"
              "    0      0.000000    28  UDP    192.0.2.1        198.51.100.7      DNS            \n"
              "    1      0.500000    12  UDP    ?                ?                                \n");

    const std::string out = DumpAlone({}, path);
    EXPECT_EQ(out.substr(0, out.find("  Ip Header\n")),
              "    0      0.000000    28  UDP    192.0.2.1        198.51.100.7      DNS            \n");
    EXPECT_NE(out.find("  UDP Header\n    Src Port  0x0035 (53)\n    Dst Port  0x0401 (1025)  \n"), std::string::npos);
    EXPECT_NE(out.find("    1      0.500000    12  UDP    ?                ?                                \n"
                       "  Data: 12 bytes\n"
                       "    45 00 00 1c 00 00 00 00 40 11 00 00"),
              std::string::npos);
    unlink(path.c_str());
}

TEST(DumpTool, ACorruptRecordEndsTheFileWithAMessageAfterTheDatagramsBeforeIt)
{
    for (const int at : {1, 3}) {
        const auto before = WriteDatagrams("before", at);
        const auto corrupt = WriteDatagrams("corrupt", 5);
        SetCapturedLength(corrupt, at, 8192);
        const ReadOutcome outcome = LoadCaptureFile(corrupt).outcome;
        EXPECT_EQ(outcome.end, ReadEnd::CutShort);
        const std::string reason = outcome.reason;
        const std::string message = "kestrine-dump: " + corrupt + ": cut short after " + std::to_string(at) +
                                    (at == 1 ? " datagram: " : " datagrams: ") + reason + "\n";
        for (const Arguments& mode : MODES) {
            const std::string printed = DumpAlone(mode, before);
            const Result run = Dump(With(mode, corrupt));
            EXPECT_EQ(run.status, 1);
            EXPECT_EQ(run.out, printed);
            EXPECT_EQ(run.err, message);
            // Standard output comes out before the message.
            EXPECT_EQ(Dump(With(mode, corrupt), MergedErrors()).out, printed + message);
        }
        unlink(before.c_str());
        unlink(corrupt.c_str());
    }
}

TEST(DumpTool, AWriteErrorEndsTheRunWithAMessage)
{
    const auto path = WriteDatagrams("written", 3);
    const struct {
        Sink sink;
        int error;
    } cases[] = {{Sink::Full, ENOSPC}, {Sink::ClosedPipe, EPIPE}};
    for (const auto& c : cases) {
        const std::string message = std::string("kestrine-dump: write error: ") + std::strerror(c.error) + "\n";
        // No file after the failed write is opened: the missing one gets no message.
        for (const Arguments& arguments : {Arguments{path, path, "/nonexistent/file.pcap"},
                                           Arguments{"--summary", path, "/nonexistent/file.pcap"},
                                           Arguments{"--help"}, Arguments{"--version"}}) {
            const Result run = Dump(arguments, Output(c.sink));
            EXPECT_EQ(run.status, 1) << arguments[0];
            EXPECT_EQ(run.err, message) << arguments[0];
        }
    }
    unlink(path.c_str());
}

TEST(DumpTool, AFileThatCannotBeOpenedGetsOneMessageAndNoOutput)
{
    const std::string empty = TempPath("zero");
    Store(empty, "");
    const struct {
        std::string path;
        std::string reason;
    } cases[] = {{"/nonexistent/file.pcap", std::strerror(ENOENT)}, {empty, "empty file"}};
    for (const auto& c : cases) {
        for (const Arguments& mode : MODES) {
            const Result run = Dump(With(mode, c.path));
            EXPECT_EQ(run.status, 1);
            EXPECT_EQ(run.out, "");
            EXPECT_EQ(run.err, "kestrine-dump: " + c.path + ": " + c.reason + "\n");
        }
    }
    unlink(empty.c_str());

    // A capture without records is no error: the column header alone, or nothing.
    const auto none = Write("norecords", 1, {});
    EXPECT_EQ(DumpAlone({"--summary"}, none), std::string(SUMMARY_COLUMN_HEADER) + "\n");
    EXPECT_EQ(DumpAlone({}, none), "");
    unlink(none.c_str());
}

TEST(DumpTool, SeveralFilesEachStartWithTheirName)
{
    const auto a = WriteDatagrams("a", 2);
    const auto b = WriteDatagrams("b", 1);
    const std::string missing = "/nonexistent/file.pcap";
    for (const Arguments& mode : MODES) {
        const std::string expected =
            "==> " + a + " <==\n" + DumpAlone(mode, a) + "\n==> " + b + " <==\n" + DumpAlone(mode, b);
        const Result run = Dump(With(With(mode, a), b));
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, expected);

        // Files that cannot be opened get no name line; the blank line separates printed files.
        const Result partly = Dump(With(With(With(With(mode, missing), a), missing), b));
        EXPECT_EQ(partly.status, 1);
        EXPECT_EQ(partly.out, expected);

        const Result piped = Dump(With(With(mode, a), "-"), Input(Contents(b)));
        EXPECT_EQ(piped.out, "==> " + a + " <==\n" + DumpAlone(mode, a) + "\n==> standard input <==\n" +
                                 DumpAlone(mode, b));
    }
    unlink(a.c_str());
    unlink(b.c_str());
}

TEST(DumpTool, DashReadsStandardInput)
{
    const auto path = WriteDatagrams("stdin", 3);
    for (const Arguments& mode : MODES) {
        const Result run = Dump(With(mode, "-"), Input(Contents(path)));
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.out, DumpAlone(mode, path));
    }
    const Result nothing = Dump({"-"});
    EXPECT_EQ(nothing.status, 1);
    EXPECT_EQ(nothing.err, "kestrine-dump: standard input: empty file\n");
    unlink(path.c_str());
}

// The payload dump's characters above 127 come out as the window shows them (Latin-1),
// in UTF-8: a terminal gets no invalid bytes.
TEST(DumpTool, TextAboveAsciiIsWrittenAsUtf8)
{
    Bytes datagram{0x45, 0, 0, 32, 0, 0, 0, 0, 64, 17, 0, 0, 192, 0, 2, 1, 198, 51, 100, 7, 0, 53, 4, 1, 0, 12, 0, 0,
                   'c', 'a', 'f', 0xE9};
    const auto path = Write("latin1", 101, {{datagram, 1, 0}});
    const Result run = Dump({path});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("caf\xC3\xA9"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("caf\xE9"), std::string::npos);
    unlink(path.c_str());
}

// Reading a pipe, each packet is written when it has been read, not when the input ends:
// the first packet shows while the writer still holds the pipe open.
TEST(DumpTool, APipesPacketsAreWrittenAsTheyArrive)
{
    const auto path = WriteDatagrams("live", 2);
    const std::string bytes = Contents(path);
    const size_t firstPacketEnds = 24 + 16 + 28;  // file header, one record header, its datagram
    int input[2], output[2];
    ASSERT_EQ(pipe(input), 0);
    ASSERT_EQ(pipe(output), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(input[0], STDIN_FILENO);
        dup2(output[1], STDOUT_FILENO);
        close(input[1]);
        close(output[0]);
        execl(KESTRINE_DUMP, KESTRINE_DUMP, "--summary", "-", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(input[0]);
    close(output[1]);
    ASSERT_EQ(write(input[1], bytes.data(), firstPacketEnds), static_cast<ssize_t>(firstPacketEnds));
    // Up to 10 s for the header line and the first packet's line, the input still open.
    std::string shown;
    fcntl(output[0], F_SETFL, O_NONBLOCK);
    for (int i = 0; i < 1000 && std::count(shown.begin(), shown.end(), '\n') < 2; ++i) {
        char chunk[512];
        const ssize_t got = read(output[0], chunk, sizeof chunk);
        if (got > 0) shown.append(chunk, static_cast<size_t>(got));
        else usleep(10000);
    }
    EXPECT_EQ(std::count(shown.begin(), shown.end(), '\n'), 2) << shown;
    EXPECT_NE(shown.find("    0 "), std::string::npos) << shown;
    ASSERT_EQ(write(input[1], bytes.data() + firstPacketEnds, bytes.size() - firstPacketEnds),
              static_cast<ssize_t>(bytes.size() - firstPacketEnds));
    close(input[1]);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    close(output[0]);
    unlink(path.c_str());
}

TEST(DumpTool, UsageHelpAndVersion)
{
    const Result help = Dump({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.err, "");
    EXPECT_EQ(help.out.rfind("usage: kestrine-dump [--filter EXPRESSION] [--summary] FILE...\n", 0), 0u) << help.out;
    EXPECT_NE(help.out.find("--adapters"), std::string::npos);

    const Result version = Dump({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "kestrine-dump " KESTRINE_VERSION "\n");

    // Usage errors: the usage lines of --help on standard error, status 2.
    const std::string usage = help.out.substr(0, help.out.find("\n\n") + 1);
    const struct {
        Arguments arguments;
        std::string message;
    } cases[] = {
        {{}, ""},
        {{"--bogus", "x.pcap"}, "kestrine-dump: unknown option --bogus\n"},
        {{"--adapters", "x.pcap"}, "kestrine-dump: --adapters takes no arguments\n"},
        {{"--summary", "--adapters"}, "kestrine-dump: --adapters takes no arguments\n"},
        {{"x.pcap", "--filter"}, "kestrine-dump: --filter needs an expression\n"},
    };
    for (const auto& c : cases) {
        const Result run = Dump(c.arguments);
        EXPECT_EQ(run.status, 2) << c.message;
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, c.message + usage);
    }
}

TEST(DumpTool, AFilterKeepsTheMatchingDatagramsWithTheirIndexes)
{
    const auto path = WriteDatagrams("filtered", 6);  // the last byte of each is its number
    const Result run = Dump({"--filter", "udp[7] & 1 = 1 or udp[7] = 4", "--summary", path});
    EXPECT_EQ(run.status, 0) << run.err;
    std::vector<std::string> indexes;
    for (size_t at = run.out.find('\n'); at != std::string::npos && at + 1 < run.out.size(); at = run.out.find('\n', at + 1))
        indexes.push_back(run.out.substr(at + 1, 5));
    EXPECT_EQ(indexes, (std::vector<std::string>{"    1", "    3", "    4", "    5"})) << run.out;

    // A mistake: one line with its column, status 2, nothing read.
    const Result bad = Dump({"--filter", "udp and ether host 1.2.3.4", "--summary", path});
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.out, "");
    EXPECT_EQ(bad.err, "kestrine-dump: filter expression, column 9: 'ether' does not apply to IPv4 datagrams\n");
    unlink(path.c_str());
}

// A fresh empty directory.
std::string Directory(const char* name)
{
    const std::string path = TempPath(name);
    std::filesystem::remove_all(path);
    std::filesystem::create_directory(path);
    return path;
}

TEST(RecordsTool, WritesEachDatagramToItsOwnFile)
{
    const auto seeds = Directory("seeds");
    const auto a = WriteDatagrams("ra", 2);
    const auto b = Write("rb", 101, {{Datagram(7), 1, 0}});
    const Result run = Execute(KESTRINE_RECORDS, {seeds, a, b});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "3 records\n");
    EXPECT_EQ(Contents(seeds + "/record-0"), Text(Datagram(0)));
    EXPECT_EQ(Contents(seeds + "/record-1"), Text(Datagram(1)));
    EXPECT_EQ(Contents(seeds + "/record-2"), Text(Datagram(7)));
    std::filesystem::remove_all(seeds);
    unlink(a.c_str());
    unlink(b.c_str());
}

TEST(RecordsTool, ReportsWhatItCannotReadOrWrite)
{
    const auto seeds = Directory("seeds");
    const auto path = WriteDatagrams("rc", 3);

    // An unreadable file is reported; the others are still read.
    const Result unreadable = Execute(KESTRINE_RECORDS, {seeds, "/nonexistent/file.pcap", path});
    EXPECT_EQ(unreadable.status, 1);
    EXPECT_EQ(unreadable.err, std::string("kestrine-records: /nonexistent/file.pcap: ") + std::strerror(ENOENT) + "\n");
    EXPECT_EQ(unreadable.out, "3 records\n");

    // The first record that cannot be written ends the run.
    const Result unwritable = Execute(KESTRINE_RECORDS, {"/nonexistent/dir", path, path});
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_EQ(unwritable.err, std::string("kestrine-records: /nonexistent/dir/record-0: ") + std::strerror(ENOENT) + "\n");
    EXPECT_EQ(unwritable.out, "0 records\n");

    // A file cut short gives the datagrams before the cut, with a warning.
    const std::string whole = Contents(path);
    Store(path, whole.substr(0, whole.size() - 3));
    const Result cut = Execute(KESTRINE_RECORDS, {seeds, path});
    EXPECT_EQ(cut.status, 0);
    EXPECT_EQ(cut.err.rfind("kestrine-records: " + path + ": cut short after 2 datagrams: ", 0), 0u) << cut.err;
    EXPECT_EQ(cut.out, "2 records\n");

    std::filesystem::remove_all(seeds);
    unlink(path.c_str());
}

}  // namespace
}  // namespace kestrine
