// Saving a session's datagrams as a classic pcap file, laid out here; the file itself is
// written whole or not at all by FileReplacement. See save_packets.h.
#include "ui/save_packets.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "ui/replace_file.h"

namespace kestrine {

namespace {

constexpr int64_t NANOSECONDS_PER_SECOND = 1000000000;
// The format's seconds field is 32 bits, unsigned.
constexpr int64_t MAX_FILE_SECONDS = 0xFFFFFFFF;
// Past any stamp the file can hold, and small enough that no sum below overflows.
constexpr double MAX_OFFSET_SECONDS = 1e12;

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

// startNs plus timestamp rounded to the nearest nanosecond, as seconds and nanoseconds. The
// two parts are added apart so that nothing overflows. False when the stamp is not a time
// the file can hold.
bool StampOf(int64_t startNs, float timestamp, Stamp* stamp)
{
    const double t = timestamp;
    if (!(std::fabs(t) <= MAX_OFFSET_SECONDS)) return false;  // NaN too
    const double whole = std::floor(t);
    int64_t seconds = startNs / NANOSECONDS_PER_SECOND + static_cast<int64_t>(whole);
    // Exact: a float's fraction times 10^9 needs at most 24 + 21 bits of a double's 53.
    int64_t nanoseconds = startNs % NANOSECONDS_PER_SECOND + std::llround((t - whole) * 1e9);
    // Now in (-10^9, 2 * 10^9): one carry either way.
    if (nanoseconds < 0) {
        nanoseconds += NANOSECONDS_PER_SECOND;
        --seconds;
    } else if (nanoseconds >= NANOSECONDS_PER_SECOND) {
        nanoseconds -= NANOSECONDS_PER_SECOND;
        ++seconds;
    }
    if (seconds < 0 || seconds > MAX_FILE_SECONDS) return false;
    *stamp = {seconds, nanoseconds};
    return true;
}

// Appends value in the machine's byte order, as pcap files are written: readers tell the
// order from the magic number.
template <typename T>
void Append(std::vector<uint8_t>& out, T value)
{
    uint8_t bytes[sizeof value];
    std::memcpy(bytes, &value, sizeof value);
    out.insert(out.end(), bytes, bytes + sizeof value);
}

// Why records[0..count) cannot be saved, or empty when they can.
std::string Refusal(const PacketRecord* records, int32_t count, int64_t startNs)
{
    if (count < 0) return "invalid packet count " + std::to_string(count);
    for (int32_t i = 0; i < count; ++i) {
        Stamp stamp{};
        if (records[i].length < 0 || records[i].length > SAVE_SNAPSHOT_LENGTH)
            return "packet " + std::to_string(i) + " has an invalid length " + std::to_string(records[i].length);
        if (!StampOf(startNs, records[i].timestamp, &stamp))
            return "the time of packet " + std::to_string(i) + " cannot be stored in a pcap file";
    }
    return {};
}

// Writes the header and records[0..count), already checked, to file.
bool WriteCapture(FileReplacement& file, const PacketRecord* records, int32_t count, int64_t startNs,
                  std::string* reason)
{
    std::vector<uint8_t> block;
    block.reserve(WRITE_BLOCK_BYTES + static_cast<size_t>(SAVE_SNAPSHOT_LENGTH) + 16);
    Append(block, NANOSECOND_MAGIC);
    Append(block, VERSION_MAJOR);
    Append(block, VERSION_MINOR);
    Append(block, TIME_ZONE);
    Append(block, SIGNIFICANT_FIGURES);
    Append(block, static_cast<uint32_t>(SAVE_SNAPSHOT_LENGTH));
    Append(block, LINKTYPE_RAW);
    for (int32_t i = 0; i < count; ++i) {
        const PacketRecord& record = records[i];
        Stamp stamp{};
        StampOf(startNs, record.timestamp, &stamp);
        const uint32_t length = static_cast<uint32_t>(record.length);
        Append(block, static_cast<uint32_t>(stamp.seconds));
        Append(block, static_cast<uint32_t>(stamp.nanoseconds));
        Append(block, length);  // captured: always whole, below the snapshot length
        Append(block, length);  // on the wire
        if (length > 0) block.insert(block.end(), record.data, record.data + length);
        if (block.size() >= WRITE_BLOCK_BYTES) {
            if (!file.Write(block.data(), block.size(), reason)) return false;
            block.clear();
        }
    }
    return file.Write(block.data(), block.size(), reason);
}

}  // namespace

bool SavePackets(const PacketRecord* records, int32_t count, int64_t startWallClockNs, const std::string& path,
                 std::string* error)
{
    // Checked before any file is made, so that a refusal leaves nothing behind.
    std::string reason = Refusal(records, count, startWallClockNs);
    if (reason.empty()) {
        FileReplacement file;
        if (file.Begin(path, &reason) && WriteCapture(file, records, count, startWallClockNs, &reason) &&
            file.Commit(&reason))
            return true;
    }
    if (error) *error = reason;
    return false;
}

}  // namespace kestrine
