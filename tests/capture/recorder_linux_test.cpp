// The recorder's files after a failed write (a file size limit, a full tmpfs) and while
// they are being written: whole records, read alike by our reader and by tcpdump. Linux.
#include "capture/recorder.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "tests/capture/recorder_test_util.h"

namespace kestrine {
namespace {

using namespace recordertest;

// tcpdump's exit status reading the file, and how many packets it printed; -1 without it.
int TcpdumpReads(const std::string& path, int* packets)
{
    if (std::system("command -v tcpdump >/dev/null 2>&1") != 0) return -1;
    const std::string out = "/tmp/kestrine-tcpdump-" + std::to_string(getpid()) + ".txt";  // off a full disk
    const int status = std::system(("tcpdump -nr '" + path + "' >'" + out + "' 2>/dev/null").c_str());
    *packets = 0;
    if (FILE* f = std::fopen(out.c_str(), "r")) {
        for (int c; (c = std::fgetc(f)) != EOF;)
            if (c == '\n') ++*packets;
        std::fclose(f);
    }
    fs::remove(out);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Checks a file left by a failed recording: its datagrams are the first ones, in order,
// whole, as many as the result says, and tcpdump reads it without complaint.
void ExpectWholeRecordsAfterFailure(const std::string& path, const RecordResult& result)
{
    EXPECT_EQ(result.end, RecordEnd::WriteFailed);
    const FileRead read = ReadNumbers(path);
    EXPECT_EQ(read.end, ReadEnd::Complete);
    EXPECT_EQ(read.numbers, Range(0, static_cast<uint32_t>(result.datagrams)));
    EXPECT_EQ(fs::file_size(path), FILE_HEADER_BYTES + result.datagrams * RECORD_BYTES);
    int packets = 0;
    const int status = TcpdumpReads(path, &packets);
    if (status >= 0) {
        EXPECT_EQ(status, 0);
        EXPECT_EQ(packets, static_cast<int>(result.datagrams));
    }
}

TEST_F(RecorderTest, AWriteCutShortByTheFileSizeLimitLeavesWholeRecords)
{
    const std::string path = Path("limit.pcap");
    PcapFileSink sink(path, 0);
    rlimit before{};
    getrlimit(RLIMIT_FSIZE, &before);
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit = before;
    limit.rlim_cur = FILE_HEADER_BYTES + 7 * RECORD_BYTES + RECORD_BYTES / 2;  // inside the eighth record
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    RecordSettings settings;
    settings.flushSeconds = 1000;  // one write of all twenty records, at the stop
    const RecordResult result = Record(sink, settings, 20);
    setrlimit(RLIMIT_FSIZE, &before);
    signal(SIGXFSZ, SIG_DFL);
    EXPECT_EQ(result.datagrams, 7u);
    EXPECT_EQ(result.message, path + ": File too large");
    ExpectWholeRecordsAfterFailure(path, result);
}

// A small tmpfs of our own, in a mount namespace of this process alone: root only.
TEST_F(RecorderTest, AFullDiskEndsTheRecordingWithWholeRecords)
{
    if (geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root; skipped";
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        GTEST_SKIP() << "cannot make a private mount namespace; skipped";
    const std::string disk = Path("disk");
    fs::create_directory(disk);
    ASSERT_EQ(mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k"), 0) << std::strerror(errno);
    const std::string path = disk + "/full.pcap";
    PcapFileSink sink(path, 0);
    const RecordResult result = Record(sink, RecordSettings{}, 2000);  // 232 KB for 64 KiB
    EXPECT_EQ(result.message, path + ": No space left on device");
    EXPECT_GT(result.datagrams, 0u);
    EXPECT_LT(result.datagrams, 2000u);
    ExpectWholeRecordsAfterFailure(path, result);
    umount(disk.c_str());
}

// Copies of the file taken while the recording writes it: each reads as records numbered
// from 0 in order, whole up to the last, which may be cut short; tcpdump agrees.
TEST_F(RecorderTest, AFileReadWhileItIsWrittenEndsAtMostInOneCutRecord)
{
    const std::string path = Path("growing.pcap");
    const std::string copy = Path("copy.pcap");
    PcapFileSink sink(path, 0);
    RecordSettings settings;
    settings.flushSeconds = 0.001;
    Recorder recorder(m_session, sink, settings);
    std::string error;
    ASSERT_TRUE(recorder.Start(&error)) << error;
    std::thread feeder([] {
        for (uint32_t i = 0; i < 10000; ++i) {
            script::Push(Numbered(i, 1000 + static_cast<int>(i % 400)));
            if (i % 50 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    int grown = 0;
    for (int snapshot = 0; snapshot < 40; ++snapshot) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        fs::copy_file(path, copy, fs::copy_options::overwrite_existing);
        const FileRead read = ReadNumbers(copy);
        EXPECT_NE(read.end, ReadEnd::CannotOpen);
        EXPECT_EQ(read.numbers, Range(0, static_cast<uint32_t>(read.numbers.size())));
        grown += read.numbers.empty() ? 0 : 1;
        int packets = 0;
        if (TcpdumpReads(copy, &packets) >= 0) {
            EXPECT_EQ(packets, static_cast<int>(read.numbers.size()));
        }
    }
    feeder.join();
    recorder.RequestStop();
    const RecordResult result = recorder.Wait();
    EXPECT_GT(grown, 0);
    const FileRead final = ReadNumbers(path);
    EXPECT_EQ(final.end, ReadEnd::Complete);
    EXPECT_EQ(final.numbers.size(), result.datagrams);
}

}  // namespace
}  // namespace kestrine
