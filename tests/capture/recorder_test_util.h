// The recorder's tests against a scripted socket: numbered datagrams, reading them back,
// and a fixture that records into a folder of its own.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "capture/recorder.h"
#include "capture_file/capture_file.h"
#include "tests/capture/scripted_socket.h"

namespace kestrine::recordertest {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int DATAGRAM_BYTES = 100;
constexpr uint64_t RECORD_BYTES = 16 + DATAGRAM_BYTES;
constexpr uint64_t FILE_HEADER_BYTES = 24;

// A UDP datagram whose bytes 20..23 hold its number.
inline std::vector<uint8_t> Numbered(uint32_t number, int size = DATAGRAM_BYTES)
{
    auto datagram = script::Datagram(17, 0x0A000001, 0x0A000002, size);
    std::memcpy(datagram.data() + 20, &number, sizeof number);
    return datagram;
}

struct FileRead {
    ReadEnd end = ReadEnd::Complete;
    std::vector<uint32_t> numbers;
};

inline FileRead ReadNumbers(const std::string& path)
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

class RecorderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        script::Reset();
        static int made = 0;
        m_dir = (fs::temp_directory_path() /
                 ("kestrine-recorder-" + std::to_string(std::random_device{}()) + "-" + std::to_string(++made)))
                    .string();
        ASSERT_TRUE(fs::create_directory(m_dir));
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

inline std::vector<uint32_t> Range(uint32_t from, uint32_t to)
{
    std::vector<uint32_t> numbers;
    for (uint32_t i = from; i < to; ++i) numbers.push_back(i);
    return numbers;
}

}  // namespace kestrine::recordertest
