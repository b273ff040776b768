// Saved captures byte by byte, parsed here: the file header, the record headers and data,
// records spread over several writes; then what is written where: an old file replaced
// whole, a folder under the name refused, a name outside ASCII. Only the standard library,
// so that it also runs in the Windows build.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "capture_file/save_packets.h"

namespace kestrine {
namespace {

namespace fs = std::filesystem;

using Bytes = std::vector<uint8_t>;

constexpr size_t FILE_HEADER_BYTES = 24;
constexpr size_t RECORD_HEADER_BYTES = 16;
// A tenth of a microsecond short of a whole second.
constexpr int64_t START_NS = 1700000000999999900;
constexpr int64_t NS_PER_SECOND = 1000000000;

std::string Utf8(const fs::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::string Contents(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Fields in the machine's byte order, as the header's magic number announces.
template <typename T>
T Field(const std::string& bytes, size_t at)
{
    T value{};
    if (at + sizeof value <= bytes.size()) std::memcpy(&value, bytes.data() + at, sizeof value);
    return value;
}

struct Record {
    uint32_t seconds;
    uint32_t nanoseconds;
    uint32_t captured;
    uint32_t length;
    Bytes bytes;
};

// The records after the file header; a record cut short fails the test.
std::vector<Record> Records(const std::string& bytes)
{
    std::vector<Record> records;
    size_t at = FILE_HEADER_BYTES;
    while (at < bytes.size()) {
        if (bytes.size() - at < RECORD_HEADER_BYTES) {
            ADD_FAILURE() << "a record header cut short at " << at;
            break;
        }
        Record r{Field<uint32_t>(bytes, at), Field<uint32_t>(bytes, at + 4), Field<uint32_t>(bytes, at + 8),
                 Field<uint32_t>(bytes, at + 12), {}};
        at += RECORD_HEADER_BYTES;
        if (r.captured > bytes.size() - at) {
            ADD_FAILURE() << "record data cut short at " << at;
            break;
        }
        r.bytes.assign(bytes.begin() + static_cast<ptrdiff_t>(at),
                       bytes.begin() + static_cast<ptrdiff_t>(at + r.captured));
        at += r.captured;
        records.push_back(std::move(r));
    }
    return records;
}

Bytes Pattern(size_t size, uint8_t seed)
{
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7 + i / 251);
    return bytes;
}

std::vector<std::string> Entries(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(Utf8(entry.path().filename()));
    return names;
}

// Each test saves into a folder of its own under the system's temporary folder.
class SavedFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::random_device random;
        const std::string name = "kestrine-format-" + std::to_string(random()) + std::to_string(random());
        m_folder = fs::temp_directory_path() / name;
        ASSERT_TRUE(fs::create_directory(m_folder)) << Utf8(m_folder);
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(m_folder, ignored);
    }

    // Saves records to name (UTF-8) in the folder, which must succeed; returns the path.
    fs::path Save(const std::vector<PacketRecord>& records, const std::string& name = "saved.pcap") const
    {
        const fs::path path = m_folder / fs::path(std::u8string(name.begin(), name.end()));
        std::string error;
        EXPECT_TRUE(SavePackets(records.data(), static_cast<int32_t>(records.size()), Utf8(path), &error))
            << error;
        return path;
    }

    fs::path m_folder;
};

using SavedFileLayout = SavedFile;
using SavedFileTarget = SavedFile;

TEST_F(SavedFileLayout, HeaderThenEachRecordsStampLengthsAndBytes)
{
    const Bytes first = {0x45, 0x00, 0x00, 0x05, 0xAB};
    const Bytes longest = Pattern(static_cast<size_t>(SAVE_SNAPSHOT_LENGTH), 3);
    // No data at all, an arrival before the one before, the longest record the file takes.
    const std::vector<PacketRecord> records = {{first.data(), 5, 0.25f, START_NS + 250000000},
                                               {nullptr, 0, 1.5f, START_NS + 1500000000},
                                               {longest.data(), SAVE_SNAPSHOT_LENGTH, -2.0f, START_NS - 2 * NS_PER_SECOND}};
    const std::string bytes = Contents(Save(records));
    ASSERT_EQ(bytes.size(), FILE_HEADER_BYTES + 3 * RECORD_HEADER_BYTES + 5 + longest.size());

    EXPECT_EQ(Field<uint32_t>(bytes, 0), 0xa1b23c4du);  // nanosecond stamps
    EXPECT_EQ(Field<uint16_t>(bytes, 4), 2u);           // version 2.4
    EXPECT_EQ(Field<uint16_t>(bytes, 6), 4u);
    EXPECT_EQ(Field<int32_t>(bytes, 8), 0);   // time zone
    EXPECT_EQ(Field<uint32_t>(bytes, 12), 0u);  // accuracy
    EXPECT_EQ(Field<uint32_t>(bytes, 16), 262144u);
    EXPECT_EQ(Field<uint32_t>(bytes, 20), 101u);  // raw IP

    const std::vector<Record> saved = Records(bytes);
    ASSERT_EQ(saved.size(), 3u);
    EXPECT_EQ(saved[0].seconds, 1700000001u);
    EXPECT_EQ(saved[0].nanoseconds, 249999900u);
    EXPECT_EQ(saved[0].captured, 5u);
    EXPECT_EQ(saved[0].length, 5u);
    EXPECT_EQ(saved[0].bytes, first);
    EXPECT_EQ(saved[1].seconds, 1700000002u);
    EXPECT_EQ(saved[1].nanoseconds, 499999900u);
    EXPECT_EQ(saved[1].captured, 0u);
    EXPECT_EQ(saved[1].length, 0u);
    EXPECT_EQ(saved[2].seconds, 1699999998u);
    EXPECT_EQ(saved[2].nanoseconds, 999999900u);
    EXPECT_EQ(saved[2].captured, 262144u);
    EXPECT_EQ(saved[2].length, 262144u);
    EXPECT_TRUE(saved[2].bytes == longest);  // not printed: 256 KiB
}

TEST_F(SavedFileLayout, RecordsSpreadOverSeveralWritesComeOutWholeAndInOrder)
{
    // About 2.5 MB, far more than the writer passes to the file at once.
    std::vector<Bytes> data;
    std::vector<PacketRecord> records;
    for (uint8_t i = 0; i < 40; ++i) data.push_back(Pattern(60000 + i * 97u, i));
    for (size_t i = 0; i < data.size(); ++i)
        records.push_back({data[i].data(), static_cast<int32_t>(data[i].size()), static_cast<float>(i),
                           START_NS + static_cast<int64_t>(i) * NS_PER_SECOND});
    const std::vector<Record> saved = Records(Contents(Save(records)));
    ASSERT_EQ(saved.size(), data.size());
    for (size_t i = 0; i < data.size(); ++i) {
        EXPECT_EQ(saved[i].seconds, 1700000000u + i) << i;
        EXPECT_EQ(saved[i].nanoseconds, 999999900u) << i;
        EXPECT_EQ(saved[i].captured, data[i].size()) << i;
        EXPECT_TRUE(saved[i].bytes == data[i]) << i;
    }
}

TEST_F(SavedFileTarget, AnOldFileIsReplacedWholeAndNoTemporaryRemains)
{
    const Bytes datagram = Pattern(40, 1);
    const std::vector<PacketRecord> records = {{datagram.data(), 40, 0.0f}};
    const std::string fresh = Contents(Save(records, "fresh.pcap"));
    std::ofstream(m_folder / "saved.pcap", std::ios::binary) << std::string(fresh.size() * 3, 'x');
    EXPECT_EQ(Contents(Save(records)), fresh);
    std::vector<std::string> entries = Entries(m_folder);
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<std::string>{"fresh.pcap", "saved.pcap"}));
}

TEST_F(SavedFileTarget, AFolderUnderTheNameIsRefusedBeforeAnyFileIsMade)
{
    const Bytes datagram = Pattern(40, 1);
    const PacketRecord record{datagram.data(), 40, 0.0f};
    ASSERT_TRUE(fs::create_directory(m_folder / "taken"));
    std::string error;
    EXPECT_FALSE(SavePackets(&record, 1, Utf8(m_folder / "taken"), &error));
    EXPECT_EQ(error, "not a regular file (a directory)");
    EXPECT_EQ(Entries(m_folder), std::vector<std::string>{"taken"});
    EXPECT_TRUE(fs::is_directory(m_folder / "taken"));
    EXPECT_TRUE(fs::is_empty(m_folder / "taken"));
}

TEST_F(SavedFileTarget, ANameOutsideAsciiIsKeptAsGiven)
{
    const Bytes datagram = Pattern(40, 1);
    const std::string name = "capture \xC3\xA5 \xE2\x82\xAC \xF0\x9F\x93\xA6.pcap";  // å, €, and one past 16 bits
    const fs::path path = Save({{datagram.data(), 40, 0.0f}}, name);
    EXPECT_EQ(Entries(m_folder), std::vector<std::string>{name});
    const std::vector<Record> saved = Records(Contents(path));
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved[0].bytes, datagram);
}

}  // namespace
}  // namespace kestrine
