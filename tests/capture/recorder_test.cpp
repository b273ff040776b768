// The recorder against a scripted socket: where records go as files rotate, what a file
// holds after a failed write or a full disk, and what it holds while it is being written.
#include "capture/recorder.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "capture_file/capture_file.h"
#include "tests/capture/scripted_socket.h"

namespace kestrine {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int DATAGRAM_BYTES = 100;
constexpr uint64_t RECORD_BYTES = 16 + DATAGRAM_BYTES;
constexpr uint64_t FILE_HEADER_BYTES = 24;

// A UDP datagram whose bytes 20..23 hold its number.
std::vector<uint8_t> Numbered(uint32_t number, int size = DATAGRAM_BYTES)
{
    auto datagram = script::Datagram(17, 0x0A000001, 0x0A000002, size);
    std::memcpy(datagram.data() + 20, &number, sizeof number);
    return datagram;
}

struct FileRead {
    ReadEnd end = ReadEnd::Complete;
    std::vector<uint32_t> numbers;
};

FileRead ReadNumbers(const std::string& path)
{
    FileRead read;
    read.end = ForEachDatagram(path.c_str(), [&](const PacketRecord& record, int64_t) {
                   uint32_t number = 0;
                   if (record.length >= 24) std::memcpy(&number, record.data + 20, sizeof number);
                   read.numbers.push_back(number);
                   return true;
               }).end;
    return read;
}

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

class RecorderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        script::Reset();
        char pattern[] = "/tmp/kestrine-recorder-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
    }
    void TearDown() override { fs::remove_all(m_dir); }

    std::string Path(const char* name) const { return m_dir + "/" + name; }

    // Records the datagrams numbered [0, count) with settings into sink; the outcome.
    RecordResult Record(RecordSink& sink, RecordSettings settings, uint32_t count, int size = DATAGRAM_BYTES)
    {
        Recorder recorder(m_session, sink, settings);
        std::string error;
        EXPECT_TRUE(recorder.Start(&error)) << error;
        for (uint32_t i = 0; i < count; ++i) script::Push(Numbered(i, size));
        // Until every datagram is kept, the recording ends by itself, or a bound passes.
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        while (recorder.Kept() < count && !recorder.Finished() && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        recorder.RequestStop();
        return recorder.Wait();
    }

    // The numbers in the files of a recording to path, file by file, while they exist.
    std::vector<std::vector<uint32_t>> Files(const std::string& path, uint32_t first = 0)
    {
        std::vector<std::vector<uint32_t>> files;
        for (uint32_t n = first; fs::exists(RecordFileName(path, n)); ++n) {
            const FileRead read = ReadNumbers(RecordFileName(path, n));
            EXPECT_EQ(read.end, ReadEnd::Complete) << RecordFileName(path, n);
            files.push_back(read.numbers);
        }
        return files;
    }

    std::string m_dir;
    CaptureSession m_session{HostAddress{}, 1, CaptureSession::MIN_INDEX_ENTRIES};
};

std::vector<uint32_t> Range(uint32_t from, uint32_t to)
{
    std::vector<uint32_t> numbers;
    for (uint32_t i = from; i < to; ++i) numbers.push_back(i);
    return numbers;
}

TEST(RecordFileNameTest, NumberGoesBeforeTheExtensionOfTheNameOnly)
{
    EXPECT_EQ(RecordFileName("out.pcap", 0), "out.pcap");
    EXPECT_EQ(RecordFileName("out.pcap", 1), "out-00001.pcap");
    EXPECT_EQ(RecordFileName("/a.b/out", 12), "/a.b/out-00012");
    EXPECT_EQ(RecordFileName("dir/.pcap", 3), "dir/.pcap-00003");
    EXPECT_EQ(RecordFileName("x.tar.pcap", 100000), "x.tar-100000.pcap");
}

TEST_F(RecorderTest, SizeRotationFillsEachFileToItsLimitAndNoFurther)
{
    const std::string path = Path("size.pcap");
    PcapFileSink sink(path, 0);
    RecordSettings settings;
    settings.fileBytes = FILE_HEADER_BYTES + 3 * RECORD_BYTES;  // exactly three records
    const RecordResult result = Record(sink, settings, 10);
    EXPECT_EQ(result.end, RecordEnd::Stopped);
    EXPECT_EQ(result.datagrams, 10u);
    EXPECT_EQ(result.files, 4u);
    const auto files = Files(path);
    ASSERT_EQ(files.size(), 4u);
    EXPECT_EQ(files[0], Range(0, 3));
    EXPECT_EQ(files[1], Range(3, 6));
    EXPECT_EQ(files[2], Range(6, 9));
    EXPECT_EQ(files[3], Range(9, 10));
    EXPECT_EQ(fs::file_size(RecordFileName(path, 2)), settings.fileBytes);
}

TEST_F(RecorderTest, ARecordLargerThanTheLimitHasAFileToItself)
{
    const std::string path = Path("large.pcap");
    PcapFileSink sink(path, 0);
    RecordSettings settings;
    settings.fileBytes = FILE_HEADER_BYTES + RECORD_BYTES - 1;
    const RecordResult result = Record(sink, settings, 3);
    EXPECT_EQ(result.datagrams, 3u);
    const auto files = Files(path);
    ASSERT_EQ(files.size(), 3u);
    for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(files[i], Range(i, i + 1));
}

TEST_F(RecorderTest, RingKeepsTheNewestFilesOnly)
{
    const std::string path = Path("ring.pcap");
    PcapFileSink sink(path, 3);
    RecordSettings settings;
    settings.fileBytes = FILE_HEADER_BYTES + 2 * RECORD_BYTES;
    const RecordResult result = Record(sink, settings, 11);  // six files: 2 2 2 2 2 1
    EXPECT_EQ(result.files, 6u);
    EXPECT_FALSE(fs::exists(RecordFileName(path, 0)));
    EXPECT_FALSE(fs::exists(RecordFileName(path, 2)));
    const auto files = Files(path, 3);
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[0], Range(6, 8));
    EXPECT_EQ(files[1], Range(8, 10));
    EXPECT_EQ(files[2], Range(10, 11));
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir), fs::directory_iterator{}), 3);
}

TEST_F(RecorderTest, TimeRotationBeginsANewFileWithTheFirstRecordAfterTheInterval)
{
    const std::string path = Path("time.pcap");
    PcapFileSink sink(path, 0);
    RecordSettings settings;
    settings.fileSeconds = 0.05;
    Recorder recorder(m_session, sink, settings);
    std::string error;
    ASSERT_TRUE(recorder.Start(&error)) << error;
    script::Push(Numbered(0));
    script::Push(Numbered(1));
    while (recorder.Kept() < 2) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(120));  // past the interval, twice over
    script::Push(Numbered(2));
    while (recorder.Kept() < 3) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    recorder.RequestStop();
    const RecordResult result = recorder.Wait();
    EXPECT_EQ(result.files, 2u);  // a quiet interval begins no empty file
    const auto files = Files(path);
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0], Range(0, 2));
    EXPECT_EQ(files[1], Range(2, 3));
}

TEST_F(RecorderTest, PacketLimitEndsTheRecordingWithTheFileComplete)
{
    const std::string path = Path("limit.pcap");
    PcapFileSink sink(path, 0);
    RecordSettings settings;
    settings.packetLimit = 5;
    const RecordResult result = Record(sink, settings, 8);
    EXPECT_EQ(result.end, RecordEnd::PacketLimit);
    EXPECT_EQ(result.datagrams, 5u);
    EXPECT_EQ(Files(path), std::vector<std::vector<uint32_t>>{Range(0, 5)});
}

TEST_F(RecorderTest, StopWritesEverythingKeptAndReturns)
{
    const std::string path = Path("stop.pcap");
    PcapFileSink sink(path, 0);
    RecordSettings settings;
    settings.flushSeconds = 1000;  // nothing reaches the file before the stop
    const RecordResult result = Record(sink, settings, 200);
    EXPECT_EQ(result.end, RecordEnd::Stopped);
    EXPECT_EQ(result.datagrams, 200u);
    EXPECT_EQ(fs::file_size(path), FILE_HEADER_BYTES + 200 * RECORD_BYTES);
    EXPECT_EQ(Files(path), std::vector<std::vector<uint32_t>>{Range(0, 200)});
}

TEST_F(RecorderTest, AFileThatCannotBeCreatedIsReportedAtStart)
{
    PcapFileSink sink(Path("missing/x.pcap"), 0);
    Recorder recorder(m_session, sink, RecordSettings{});
    std::string error;
    EXPECT_FALSE(recorder.Start(&error));
    EXPECT_EQ(error, Path("missing/x.pcap") + ": No such file or directory");
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
