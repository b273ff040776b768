// Saving a session's datagrams as a classic pcap file, laid out here; the file itself is
// written whole or not at all by FileReplacement. See save_packets.h.
#include "capture_file/save_packets.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/file.h"

namespace kestrine {

namespace {

constexpr int64_t NANOSECONDS_PER_SECOND = 1000000000;
// The format's seconds field is 32 bits, unsigned.
constexpr int64_t MAX_FILE_SECONDS = 0xFFFFFFFF;

// The file header: the magic number of nanosecond stamps, format version 2.4, stamps in
// UTC (zone 0) of unstated accuracy (0), the snapshot length, the link type of raw IP.
constexpr uint32_t NANOSECOND_MAGIC = 0xa1b23c4d;
constexpr uint16_t VERSION_MAJOR = 2;
constexpr uint16_t VERSION_MINOR = 4;
constexpr int32_t TIME_ZONE = 0;
constexpr uint32_t SIGNIFICANT_FIGURES = 0;
constexpr uint32_t LINKTYPE_RAW = 101;

// Records are gathered into blocks of about this size, each passed to the file at once.
constexpr size_t WRITE_BLOCK_BYTES = size_t{1} << 20;

struct Stamp {
    int64_t seconds;
    int64_t nanoseconds;  // [0, 10^9)
};

// Nanoseconds since 1970 as seconds and nanoseconds; false when the file cannot hold the time.
bool StampOf(int64_t ns, Stamp* stamp)
{
    if (ns < 0 || ns / NANOSECONDS_PER_SECOND > MAX_FILE_SECONDS) return false;
    *stamp = {ns / NANOSECONDS_PER_SECOND, ns % NANOSECONDS_PER_SECOND};
    return true;
}

// Why records[0..count) cannot be saved, or empty when they can.
std::string Refusal(const PacketRecord* records, int32_t count)
{
    if (count < 0) return "invalid packet count " + std::to_string(count);
    for (int32_t i = 0; i < count; ++i) {
        Stamp stamp{};
        if (records[i].length < 0 || records[i].length > SAVE_SNAPSHOT_LENGTH)
            return "packet " + std::to_string(i) + " has an invalid length " + std::to_string(records[i].length);
        if (!StampOf(records[i].arrivalNs, &stamp))
            return "the time of packet " + std::to_string(i) + " cannot be stored in a pcap file";
    }
    return {};
}

// Writes value in the machine's byte order, as pcap files are written: readers tell the
// order from the magic number.
template <typename T>
uint8_t* Put(uint8_t* out, T value)
{
    std::memcpy(out, &value, sizeof value);
    return out + sizeof value;
}

// Appends one record, already checked.
void AppendRecord(std::vector<uint8_t>& block, const PacketRecord& record)
{
    const uint32_t length = static_cast<uint32_t>(record.length);
    uint8_t header[SAVED_RECORD_HEADER_BYTES];
    WritePcapRecordHeader(header, record.arrivalNs, length);
    block.insert(block.end(), header, header + sizeof header);
    if (length > 0) block.insert(block.end(), record.data, record.data + length);
}

}  // namespace

void WritePcapFileHeader(uint8_t* out)
{
    out = Put(out, NANOSECOND_MAGIC);
    out = Put(out, VERSION_MAJOR);
    out = Put(out, VERSION_MINOR);
    out = Put(out, TIME_ZONE);
    out = Put(out, SIGNIFICANT_FIGURES);
    out = Put(out, static_cast<uint32_t>(SAVE_SNAPSHOT_LENGTH));
    Put(out, LINKTYPE_RAW);
}

bool WritePcapRecordHeader(uint8_t* out, int64_t arrivalNs, uint32_t length)
{
    Stamp stamp{};
    if (!StampOf(arrivalNs, &stamp)) return false;
    out = Put(out, static_cast<uint32_t>(stamp.seconds));
    out = Put(out, static_cast<uint32_t>(stamp.nanoseconds));
    out = Put(out, length);  // captured: always whole, below the snapshot length
    Put(out, length);        // on the wire
    return true;
}

bool SavePackets(const PacketRecord* records, int32_t count, const std::string& path, std::string* error)
{
    PacketSaver saver;
    return saver.Begin(records, count, path, error) && saver.WriteSome(count, error) && saver.Commit(error);
}

PacketSaver::PacketSaver() = default;
PacketSaver::~PacketSaver() = default;  // an uncommitted temporary goes with m_file

bool PacketSaver::Begin(const PacketRecord* records, int32_t count, const std::string& path, std::string* error)
{
    // Checked before any file is made, so that a refusal leaves nothing behind.
    std::string reason = Refusal(records, count);
    if (reason.empty()) {
        auto file = std::make_unique<FileReplacement>();
        if (file->Begin(path, &reason)) {
            m_file = std::move(file);
            m_records = records;
            m_count = count;
            m_next = 0;
            m_block.clear();
            m_block.reserve(WRITE_BLOCK_BYTES + static_cast<size_t>(SAVE_SNAPSHOT_LENGTH) + 16);
            m_block.resize(SAVED_FILE_HEADER_BYTES);
            WritePcapFileHeader(m_block.data());
            return true;
        }
    }
    if (error) *error = reason;
    return false;
}

bool PacketSaver::Flush(std::string* error)
{
    std::string reason;
    if (!m_file->Write(m_block.data(), m_block.size(), &reason)) {
        m_file.reset();
        if (error) *error = reason;
        return false;
    }
    m_block.clear();
    return true;
}

bool PacketSaver::WriteSome(int32_t n, std::string* error)
{
    if (!m_file) return false;
    const int32_t end = m_next + std::min(n, m_count - m_next);
    for (; m_next < end; ++m_next) {
        AppendRecord(m_block, m_records[m_next]);
        if (m_block.size() >= WRITE_BLOCK_BYTES && !Flush(error)) return false;
    }
    return true;
}

bool PacketSaver::Commit(std::string* error)
{
    if (!m_file || !WriteSome(m_count, error) || !Flush(error)) return false;
    std::string reason;
    const bool committed = m_file->Commit(&reason);
    m_file.reset();
    if (!committed && error) *error = reason;
    return committed;
}

}  // namespace kestrine
