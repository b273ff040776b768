// The recorder against a scripted socket, on every platform: where records go as files
// rotate by size and age and as a ring of files moves on, and what the file holds when a
// limit or a stop ends the recording.
#include "capture/recorder.h"

#include <gtest/gtest.h>

#include "filter/filter_expression.h"
#include "tests/capture/recorder_test_util.h"

namespace kestrine {
namespace {

using namespace recordertest;

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

TEST_F(RecorderTest, TheSessionsCaptureFilterRunInTheThreadDecidesWhatIsRecorded)
{
    std::vector<BpfInstruction> evenNumbers;
    FilterError error;
    ASSERT_TRUE(CompileFilter("ip[20] & 1 = 0", evenNumbers, error)) << FilterErrorText(error);
    m_session.SetCaptureFilter(evenNumbers, false);
    const std::string path = Path("filtered.pcap");
    PcapFileSink sink(path, 0);
    RecordSettings settings;
    settings.packetLimit = 5;
    const RecordResult result = Record(sink, settings, 10);
    EXPECT_EQ(result.end, RecordEnd::PacketLimit);
    EXPECT_EQ(Files(path), (std::vector<std::vector<uint32_t>>{{0, 2, 4, 6, 8}}));
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
    // The system's reason after the name.
    EXPECT_EQ(error.rfind(Path("missing/x.pcap") + ": ", 0), 0u) << error;
    EXPECT_GT(error.size(), Path("missing/x.pcap").size() + 2);
    EXPECT_FALSE(fs::exists(Path("missing")));
}

}  // namespace
}  // namespace kestrine
