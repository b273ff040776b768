// Saved captures: read back by the capture-file reader and by tshark as the same
// datagrams, summaries, detail trees and nanosecond times; record stamps; refusals (of the packets or of a target
// that is no regular file) and failed writes that leave nothing behind; links replaced.
// The byte layout is checked apart, portably, in save_packets_format_test.cpp.
#include "capture_file/save_packets.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "capture_file/capture_file.h"
#include "decode/detail_tree.h"
#include "decode/packet_detail.h"
#include "decode/summary.h"

namespace kestrine {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t NANOSECOND_MAGIC = 0xa1b23c4d;
constexpr uint32_t LINK_TYPE_RAW = 101;
constexpr size_t FILE_HEADER_BYTES = 24;
constexpr size_t RECORD_HEADER_BYTES = 16;
constexpr int64_t NANOSECONDS_PER_SECOND = 1000000000;
// Close to a whole second, so that most records' arrival times fall in the next one.
constexpr int64_t START_NS = 1700000000999999500;

constexpr uint8_t PROTOCOL_ICMP = 1;
constexpr uint8_t PROTOCOL_TCP = 6;
constexpr uint8_t PROTOCOL_UDP = 17;
constexpr uint8_t TCP_SYN = 0x02;
constexpr uint8_t TCP_PSH = 0x08;
constexpr uint8_t TCP_ACK = 0x10;

// An IPv4 datagram from 192.0.2.1 to 198.51.100.7 around a transport header and payload.
Bytes Ipv4(uint8_t protocol, const Bytes& transport)
{
    const size_t total = 20 + transport.size();
    const uint8_t header[20] = {0x45, 0, static_cast<uint8_t>(total >> 8), static_cast<uint8_t>(total), 0x12, 0x34, 0x40,
                                0, 64, protocol, 0, 0, 192, 0, 2, 1, 198, 51, 100, 7};
    Bytes d(total);
    std::copy(std::begin(header), std::end(header), d.begin());
    std::copy(transport.begin(), transport.end(), d.begin() + 20);
    return d;
}

Bytes Udp(uint16_t source, uint16_t destination, size_t payload)
{
    const size_t length = 8 + payload;
    Bytes u = {static_cast<uint8_t>(source >> 8), static_cast<uint8_t>(source),
               static_cast<uint8_t>(destination >> 8), static_cast<uint8_t>(destination),
               static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length), 0, 0};
    for (size_t i = 0; i < payload; ++i) u.push_back(static_cast<uint8_t>('a' + i % 26));
    return Ipv4(PROTOCOL_UDP, u);
}

Bytes Tcp(uint16_t source, uint16_t destination, uint8_t flags)
{
    return Ipv4(PROTOCOL_TCP, {static_cast<uint8_t>(source >> 8), static_cast<uint8_t>(source),
                               static_cast<uint8_t>(destination >> 8), static_cast<uint8_t>(destination), 0x01, 0x02,
                               0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x50, flags, 0xFF, 0xFF, 0, 0, 0, 0, 'G', 'E', 'T'});
}

Bytes IcmpEcho() { return Ipv4(PROTOCOL_ICMP, {8, 0, 0, 0, 0x00, 0x01, 0x00, 0x07, 'p', 'i', 'n', 'g'}); }

struct Sample {
    Bytes bytes;
    float timestamp;
};

// The packets saved by most tests: every protocol the list shows, a record cut short of its
// headers, a long one; times that are not whole nanoseconds, the first not zero.
std::vector<Sample> Samples()
{
    const Bytes udp = Udp(53, 1025, 12);
    return {{udp, 0.3f},
            {Tcp(1025, 80, TCP_SYN | TCP_ACK), 0.3000004f},
            {IcmpEcho(), 1.75f},
            {Bytes(udp.begin(), udp.begin() + 12), 2.123457f},
            {Tcp(80, 1025, TCP_PSH | TCP_ACK), 7.000001f},
            {Udp(5000, 5001, 1400 - 28), 61.0078125f}};
}

// Records pointing into samples, as a session's index points into its buffer, arriving
// their time stamps after START_NS.
std::vector<PacketRecord> Records(const std::vector<Sample>& samples)
{
    std::vector<PacketRecord> records;
    for (const Sample& s : samples)
        records.push_back({s.bytes.data(), static_cast<int32_t>(s.bytes.size()), s.timestamp,
                           START_NS + std::llround(static_cast<double>(s.timestamp) * 1e9)});
    return records;
}

std::string Contents(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void Store(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

uint32_t U32(const std::string& bytes, size_t at)
{
    uint32_t value = 0;
    std::memcpy(&value, bytes.data() + at, sizeof value);  // saved in the host's order
    return value;
}

struct FileRecord {
    uint32_t seconds;
    uint32_t nanoseconds;
    uint32_t captured;
    uint32_t length;
    Bytes bytes;
};

struct PcapFile {
    uint32_t magic = 0;
    uint32_t snapshot = 0;
    uint32_t linkType = 0;
    std::vector<FileRecord> records;
};

// Parses a pcap file by hand, independently of the capture-file reader.
PcapFile Parse(const std::string& path)
{
    const std::string bytes = Contents(path);
    PcapFile file;
    EXPECT_GE(bytes.size(), FILE_HEADER_BYTES) << path;
    if (bytes.size() < FILE_HEADER_BYTES) return file;
    file.magic = U32(bytes, 0);
    file.snapshot = U32(bytes, 16);
    file.linkType = U32(bytes, 20);
    size_t at = FILE_HEADER_BYTES;
    while (at + RECORD_HEADER_BYTES <= bytes.size()) {
        FileRecord r{U32(bytes, at), U32(bytes, at + 4), U32(bytes, at + 8), U32(bytes, at + 12), {}};
        at += RECORD_HEADER_BYTES;
        if (r.captured > bytes.size() - at) break;
        r.bytes.assign(bytes.begin() + static_cast<ptrdiff_t>(at), bytes.begin() + static_cast<ptrdiff_t>(at + r.captured));
        at += r.captured;
        file.records.push_back(std::move(r));
    }
    EXPECT_EQ(at, bytes.size()) << "trailing bytes in " << path;
    return file;
}

// An arrival time (at or after 1970) as the file's seconds and nanoseconds.
std::pair<int64_t, int64_t> ExpectedStamp(int64_t ns)
{
    return {ns / NANOSECONDS_PER_SECOND, ns % NANOSECONDS_PER_SECOND};
}

struct ReadBack {
    std::vector<Bytes> bytes;
    std::vector<std::string> summaries;
    std::vector<std::string> details;
    std::vector<float> times;
    ReadOutcome outcome;
};

std::string SummaryLine(const PacketRecord& record, int64_t index)
{
    char line[256];
    return std::string(line, static_cast<size_t>(FormatSummaryLine(record, index, line, sizeof line)));
}

std::string DetailText(const PacketRecord& record)
{
    DetailTree tree;
    AddPacketDetail(tree, record, NO_NODE);
    std::string out;
    tree.Render(out);
    return out;
}

// Reads path with the capture-file reader the dump tool uses, decoding each datagram.
ReadBack Read(const std::string& path)
{
    ReadBack back;
    back.outcome = ForEachDatagram(path.c_str(), [&](const PacketRecord& r, int64_t index) {
        back.bytes.emplace_back(r.data, r.data + r.length);
        back.summaries.push_back(SummaryLine(r, index));
        back.details.push_back(DetailText(r));
        back.times.push_back(r.timestamp);
        return true;
    });
    return back;
}

// The originals' summary lines, timed from the first record as a read-back file is.
std::vector<std::string> RelativeSummaries(const std::vector<PacketRecord>& records)
{
    std::vector<std::string> lines;
    for (size_t i = 0; i < records.size(); ++i) {
        PacketRecord relative = records[i];
        relative.timestamp = records[i].timestamp - records[0].timestamp;
        lines.push_back(SummaryLine(relative, static_cast<int64_t>(i)));
    }
    return lines;
}

// A float time of a few seconds that went through nanoseconds: within 1e-6 relative, or a
// microsecond near zero.
void ExpectSameTime(double actual, double expected, const std::string& what)
{
    EXPECT_NEAR(actual, expected, std::max(1e-6 * std::fabs(expected), 1e-6)) << what;
}

// Summary lines alike but for float rounding of the time column: the rest equal, the times
// close. The time column ends under its heading, after the index column's.
void ExpectSameSummary(const std::string& actual, const std::string& expected)
{
    const std::string_view header = SUMMARY_COLUMN_HEADER;
    const size_t begin = std::string_view("Index").size();
    const size_t end = header.find("Time-Stamp") + std::string_view("Time-Stamp").size();
    ASSERT_EQ(actual.size(), expected.size()) << actual << "\n" << expected;
    ASSERT_GT(actual.size(), end);
    std::string maskedActual = actual, maskedExpected = expected;
    maskedActual.replace(begin, end - begin, end - begin, '#');
    maskedExpected.replace(begin, end - begin, end - begin, '#');
    EXPECT_EQ(maskedActual, maskedExpected);
    ExpectSameTime(std::stod(actual.substr(begin, end - begin)), std::stod(expected.substr(begin, end - begin)),
                   actual + "\n" + expected);
}

std::vector<std::string> Entries(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

bool Exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// The file type bits of path itself (S_IFREG...), links not followed; 0 when missing.
mode_t TypeOf(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0 ? st.st_mode & S_IFMT : 0;
}

std::string Hex(const Bytes& bytes)
{
    std::string text;
    char pair[3];
    for (const uint8_t b : bytes) {
        std::snprintf(pair, sizeof pair, "%02x", b);
        text += pair;
    }
    return text;
}

// Each test saves into a folder of its own, removed afterwards.
class SaveFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string name = std::string(::testing::TempDir()) + "kestrine-save-XXXXXX";
        ASSERT_NE(mkdtemp(name.data()), nullptr) << std::strerror(errno);
        m_folder = name;
    }
    void TearDown() override
    {
        if (m_folder.empty()) return;
        std::filesystem::permissions(m_folder, std::filesystem::perms::owner_all, std::filesystem::perm_options::add);
        std::filesystem::remove_all(m_folder);
    }

    std::string In(const std::string& name) const { return m_folder + "/" + name; }

    // Saves records to name in the folder, which must succeed; returns the path.
    std::string Save(const std::vector<PacketRecord>& records, const std::string& name = "saved.pcap") const
    {
        const std::string path = In(name);
        std::string error;
        EXPECT_TRUE(SavePackets(records.data(), static_cast<int32_t>(records.size()), path, &error)) << error;
        EXPECT_EQ(error, "");
        return path;
    }

    // Saving to path must fail with reason; the folder then holds only what it held before.
    void ExpectFailure(const std::vector<PacketRecord>& records, const std::string& path, const std::string& reason) const
    {
        const std::vector<std::string> before = Entries(m_folder);
        std::string error;
        EXPECT_FALSE(SavePackets(records.data(), static_cast<int32_t>(records.size()), path, &error)) << path;
        EXPECT_EQ(error, reason) << path;
        EXPECT_EQ(Entries(m_folder), before) << path;
    }

    // Saving to path, which names something of the given kind and type, must be refused
    // with a reason naming the kind, and path left as it was.
    void ExpectRefused(const std::string& path, const std::string& kind, mode_t type) const
    {
        ExpectFailure(Records(Samples()), path, "not a regular file (" + kind + ")");
        EXPECT_EQ(TypeOf(path), type) << path;
    }

    std::string m_folder;
};

using SavePacketsRoundTrip = SaveFolder;
using SavePacketsFormat = SaveFolder;
using SavePacketsFailure = SaveFolder;
using SavePacketsRefusal = SaveFolder;
using SavePacketsReplace = SaveFolder;

TEST_F(SavePacketsRoundTrip, DatagramsSummariesAndDetailTreesComeBack)
{
    const std::vector<Sample> samples = Samples();
    const std::vector<PacketRecord> records = Records(samples);
    const ReadBack back = Read(Save(records));
    EXPECT_EQ(back.outcome.end, ReadEnd::Complete) << back.outcome.reason;
    ASSERT_EQ(back.bytes.size(), samples.size());
    const std::vector<std::string> expected = RelativeSummaries(records);
    for (size_t i = 0; i < samples.size(); ++i) {
        SCOPED_TRACE("packet " + std::to_string(i));
        EXPECT_EQ(back.bytes[i], samples[i].bytes);
        ExpectSameTime(back.times[i], static_cast<double>(samples[i].timestamp) - samples[0].timestamp, "time");
        ExpectSameSummary(back.summaries[i], expected[i]);
        EXPECT_EQ(back.details[i], DetailText(records[i]));
    }
    EXPECT_NE(back.summaries[1].find("TCP"), std::string::npos) << back.summaries[1];
    EXPECT_NE(back.summaries[2].find("ICMP"), std::string::npos) << back.summaries[2];
}

TEST_F(SavePacketsRoundTrip, TheDumpToolPrintsTheOriginalSummaryLines)
{
    const std::vector<Sample> samples = Samples();
    const std::vector<PacketRecord> records = Records(samples);
    const std::string path = Save(records);
    FILE* pipe = popen((std::string(KESTRINE_DUMP) + " --summary '" + path + "'").c_str(), "r");
    ASSERT_NE(pipe, nullptr) << std::strerror(errno);
    std::vector<std::string> printed;
    char line[512];
    while (std::fgets(line, sizeof line, pipe)) printed.emplace_back(line, std::strcspn(line, "\n"));
    EXPECT_EQ(pclose(pipe), 0);
    const std::vector<std::string> expected = RelativeSummaries(records);
    ASSERT_EQ(printed.size(), expected.size() + 1);
    EXPECT_EQ(printed[0], SUMMARY_COLUMN_HEADER);
    for (size_t i = 0; i < expected.size(); ++i) ExpectSameSummary(printed[i + 1], expected[i]);
}

TEST_F(SavePacketsRoundTrip, TsharkReadsTheSameBytesLengthsAndNanosecondTimes)
{
    if (std::system("command -v tshark >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "tshark is not installed (scripts/deps.sh installs it): no second reader checks the file";
    std::vector<Sample> samples = Samples();
    samples.push_back({{}, 9.5f});  // a record without data
    const std::vector<PacketRecord> records = Records(samples);
    const std::string path = Save(records);
    // With IP left undissected, each record's bytes show whole as data.
    const std::string errors = In("tshark.err");
    const std::string command = "tshark -n -r '" + path +
                                "' --disable-protocol ip -T fields -e frame.protocols -e frame.time_epoch"
                                " -e frame.len -e frame.cap_len -e data.data 2>'" + errors + "'";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr) << std::strerror(errno);
    std::vector<std::string> lines;
    std::string line;
    for (int c; (c = std::fgetc(pipe)) != EOF;) {
        if (c != '\n') {
            line += static_cast<char>(c);
        } else {
            lines.push_back(line);
            line.clear();
        }
    }
    EXPECT_EQ(pclose(pipe), 0) << Contents(errors);
    ASSERT_EQ(lines.size(), samples.size()) << Contents(errors);
    for (size_t i = 0; i < samples.size(); ++i) {
        const auto [seconds, nanoseconds] = ExpectedStamp(records[i].arrivalNs);
        char time[32];
        std::snprintf(time, sizeof time, "%lld.%09lld", static_cast<long long>(seconds),
                      static_cast<long long>(nanoseconds));
        const std::string length = std::to_string(samples[i].bytes.size());
        const std::string protocols = samples[i].bytes.empty() ? "raw" : "raw:data";
        EXPECT_EQ(lines[i], protocols + "\t" + time + "\t" + length + "\t" + length + "\t" + Hex(samples[i].bytes))
            << "packet " << i;
    }
}

TEST_F(SavePacketsRoundTrip, NoPacketsWriteAnEmptyCapture)
{
    const std::string path = Save({});
    const PcapFile file = Parse(path);
    EXPECT_EQ(file.magic, NANOSECOND_MAGIC);
    EXPECT_EQ(file.linkType, LINK_TYPE_RAW);
    EXPECT_TRUE(file.records.empty());
    const ReadBack back = Read(path);
    EXPECT_EQ(back.outcome.end, ReadEnd::Complete) << back.outcome.reason;
    EXPECT_EQ(back.outcome.datagrams, 0);
}

// The stamps are the arrival times, whatever the time stamps shown.
TEST_F(SavePacketsFormat, RecordsAreStampedWithTheirArrivalTimesAndWrittenWhole)
{
    std::vector<Sample> samples = Samples();
    samples.push_back({Udp(7, 9, 65535 - 28), 100.5f});  // the longest datagram there is
    std::vector<PacketRecord> records = Records(samples);
    // 1970 itself, a nanosecond short of a second, nanoseconds no float of seconds holds,
    // the last time the file can hold, and times that go back.
    const int64_t arrivals[] = {0, 999999999, START_NS + 1, START_NS + 3000 * NANOSECONDS_PER_SECOND + 123457,
                                int64_t{0xFFFFFFFF} * NANOSECONDS_PER_SECOND + 999999999, START_NS - 7, 1};
    ASSERT_EQ(std::size(arrivals), records.size());
    for (size_t i = 0; i < records.size(); ++i) records[i].arrivalNs = arrivals[i];
    const PcapFile file = Parse(Save(records, "stamps.pcap"));
    ASSERT_EQ(file.records.size(), records.size());
    for (size_t i = 0; i < records.size(); ++i) {
        const auto [seconds, nanoseconds] = ExpectedStamp(arrivals[i]);
        EXPECT_EQ(file.records[i].seconds, seconds) << i;
        EXPECT_EQ(file.records[i].nanoseconds, nanoseconds) << i;
        EXPECT_EQ(file.records[i].captured, samples[i].bytes.size()) << i;
        EXPECT_EQ(file.records[i].length, samples[i].bytes.size()) << i;
        EXPECT_EQ(file.records[i].bytes, samples[i].bytes) << i;
    }
}

TEST_F(SavePacketsFormat, TimesAndLengthsTheFileCannotHoldAreRefusedBeforeAnyFile)
{
    const std::vector<Sample> samples = Samples();
    const std::string path = In("refused.pcap");
    std::vector<PacketRecord> records = Records(samples);
    // Before 1970, and past the 32-bit seconds, each by a nanosecond.
    const int64_t pastLast = (int64_t{0xFFFFFFFF} + 1) * NANOSECONDS_PER_SECOND;
    records[2].arrivalNs = -1;
    ExpectFailure(records, path, "the time of packet 2 cannot be stored in a pcap file");
    records[2].arrivalNs = pastLast;
    ExpectFailure(records, path, "the time of packet 2 cannot be stored in a pcap file");

    records = Records(samples);
    const Bytes huge(static_cast<size_t>(SAVE_SNAPSHOT_LENGTH) + 1, 0x45);
    records[3] = {huge.data(), static_cast<int32_t>(huge.size()), 3.0f, START_NS};
    ExpectFailure(records, path, "packet 3 has an invalid length " + std::to_string(huge.size()));
    records[3].length = -1;
    ExpectFailure(records, path, "packet 3 has an invalid length -1");
    EXPECT_FALSE(SavePackets(records.data(), -1, path, nullptr));
    EXPECT_FALSE(Exists(path));
}

TEST_F(SavePacketsFailure, AMissingFolderFailsWithItsReason)
{
    ExpectFailure(Records(Samples()), In("missing/saved.pcap"), std::strerror(ENOENT));
}

TEST_F(SavePacketsFailure, APathThroughARegularFileFailsEvenForRoot)
{
    Store(In("plain"), "not a folder");
    ExpectFailure(Records(Samples()), In("plain/saved.pcap"), std::strerror(ENOTDIR));
    EXPECT_EQ(Contents(In("plain")), "not a folder");
}

TEST_F(SavePacketsFailure, AFolderWithoutWritePermissionFailsWithItsReason)
{
    if (geteuid() == 0) GTEST_SKIP() << "running as root, which may write any folder; the regular-file path covers it";
    const std::string locked = In("locked");
    ASSERT_EQ(mkdir(locked.c_str(), 0555), 0) << std::strerror(errno);
    const std::vector<Sample> samples = Samples();
    const std::vector<PacketRecord> records = Records(samples);
    std::string error;
    EXPECT_FALSE(SavePackets(records.data(), static_cast<int32_t>(records.size()), locked + "/saved.pcap", &error));
    EXPECT_EQ(error, std::strerror(EACCES));
    EXPECT_TRUE(Entries(locked).empty());
}

TEST_F(SavePacketsFailure, AWriteFailingPartWayKeepsTheOldFileWhole)
{
    const std::string path = In("saved.pcap");
    Store(path, "the previous capture");
    // Past the file-size limit writes fail with EFBIG rather than a signal.
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    rlimit small = before;
    small.rlim_cur = 1024;  // the samples take about 1,700 bytes
    const auto previous = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0) << std::strerror(errno);
    ExpectFailure(Records(Samples()), path, std::strerror(EFBIG));
    EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &before), 0);
    signal(SIGXFSZ, previous);
    EXPECT_EQ(Contents(path), "the previous capture");
}

// A folder under the name is refused in save_packets_format_test.cpp.
TEST_F(SavePacketsRefusal, AFifoASocketOrALinkToOneIsRefusedAndLeftAsItIs)
{
    // Opening the FIFO to write would block: the refusal must come from its type alone.
    const std::string fifo = In("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0) << std::strerror(errno);
    ExpectRefused(fifo, "a FIFO", S_IFIFO);

    const std::string socketPath = In("socket");
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socketPath.size(), sizeof address.sun_path) << socketPath;
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0) << std::strerror(errno);
    EXPECT_EQ(bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0) << std::strerror(errno);
    close(listener);
    ExpectRefused(socketPath, "a socket", S_IFSOCK);

    // The link is followed to learn what it names, and kept.
    ASSERT_EQ(symlink("fifo", In("link").c_str()), 0) << std::strerror(errno);
    ExpectRefused(In("link"), "a FIFO", S_IFLNK);
    EXPECT_EQ(TypeOf(fifo), static_cast<mode_t>(S_IFIFO));
}

TEST_F(SavePacketsRefusal, ACharacterDeviceIsRefusedAndLeftAsItIs)
{
    if (geteuid() != 0) GTEST_SKIP() << "not root: mknod cannot make a character device here; the FIFO case runs";
    // The numbers of /dev/null: nothing is lost should a faulty save write to it.
    const std::string device = In("null");
    const dev_t numbers = makedev(1, 3);
    if (mknod(device.c_str(), S_IFCHR | 0666, numbers) != 0)
        GTEST_SKIP() << "mknod refused even to root (" << std::strerror(errno) << "): no character device to try";
    ExpectRefused(device, "a character device", S_IFCHR);
    struct stat st;
    ASSERT_EQ(lstat(device.c_str(), &st), 0);
    EXPECT_EQ(st.st_rdev, numbers);
}

TEST_F(SavePacketsReplace, AnExistingFileIsReplacedWhole)
{
    const std::vector<Sample> samples = Samples();
    const std::vector<PacketRecord> records = Records(samples);
    const std::string fresh = Contents(Save(records, "fresh.pcap"));
    // Longer than the new capture: nothing of it may remain at the end.
    Store(In("saved.pcap"), std::string(fresh.size() * 3, 'x'));
    EXPECT_EQ(Contents(Save(records)), fresh);
    EXPECT_EQ(Entries(m_folder), (std::vector<std::string>{"fresh.pcap", "saved.pcap"}));
}

TEST_F(SavePacketsReplace, ALinkIsReplacedByTheFileAndWhatItNamedIsKept)
{
    const std::vector<Sample> samples = Samples();
    const std::vector<PacketRecord> records = Records(samples);
    const std::string fresh = Contents(Save(records, "fresh.pcap"));
    Store(In("old.pcap"), "the previous capture");
    ASSERT_EQ(symlink("old.pcap", In("saved.pcap").c_str()), 0) << std::strerror(errno);
    ASSERT_EQ(symlink("gone.pcap", In("dangling.pcap").c_str()), 0) << std::strerror(errno);
    for (const std::string name : {"saved.pcap", "dangling.pcap"}) {
        Save(records, name);
        EXPECT_EQ(TypeOf(In(name)), static_cast<mode_t>(S_IFREG)) << name;
        EXPECT_EQ(Contents(In(name)), fresh) << name;
    }
    EXPECT_EQ(Contents(In("old.pcap")), "the previous capture");
    EXPECT_EQ(Entries(m_folder), (std::vector<std::string>{"dangling.pcap", "fresh.pcap", "old.pcap", "saved.pcap"}));
}

TEST_F(SavePacketsReplace, TheFileHasTheModeOfANewFile)
{
    const mode_t mask = umask(027);
    const std::string path = Save(Records(Samples()));
    umask(mask);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

}  // namespace
}  // namespace kestrine
