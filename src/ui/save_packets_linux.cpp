// Saving a session's datagrams with libpcap's dump writer; see save_packets.h.
#include "ui/save_packets.h"

#include <fcntl.h>
#include <pcap/pcap.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kestrine {

namespace {

constexpr int64_t NANOSECONDS_PER_SECOND = 1000000000;
// The format's seconds field is 32 bits, unsigned.
constexpr int64_t MAX_FILE_SECONDS = 0xFFFFFFFF;
// Past any stamp the file can hold, and small enough that no sum below overflows.
constexpr double MAX_OFFSET_SECONDS = 1e12;
// Beside the chosen file; a fixed short name cannot exceed the longest file name allowed.
constexpr const char* TEMPORARY_NAME = ".kestrine-save-XXXXXX";

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

// The file-creation mask, read from /proc where possible: asking umask() sets it for a
// moment, and files other threads create meanwhile would get too wide a mode.
mode_t CreationMask()
{
    if (FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        unsigned int mask = 0;
        bool found = false;
        while (!found && std::fgets(line, sizeof line, status)) found = std::sscanf(line, "Umask: %o", &mask) == 1;
        std::fclose(status);
        if (found) return static_cast<mode_t>(mask);
    }
    const mode_t mask = umask(022);
    umask(mask);
    return mask;
}

// Writes the capture to a new file in folder and closes it; its name goes to temporary,
// which stays empty when no file was created. False with the reason on failure.
bool WriteTemporary(pcap_t* dead, const PacketRecord* records, int32_t count, int64_t startNs,
                    const std::string& folder, std::string* temporary, std::string* reason)
{
    std::string name = folder + TEMPORARY_NAME;
    const int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        *reason = std::strerror(errno);
        return false;
    }
    *temporary = name;
    // mkstemp creates the file 0600; a saved capture gets the mode of any new file.
    FILE* file = nullptr;
    if (fchmod(fd, 0666 & ~CreationMask()) != 0 || !(file = fdopen(fd, "wb"))) {
        *reason = std::strerror(errno);
        close(fd);
        return false;
    }
    pcap_dumper_t* dumper = pcap_dump_fopen(dead, file);
    if (!dumper) {
        // For a link type it supports, libpcap fails only writing the header, and then it
        // has closed the stream itself.
        *reason = pcap_geterr(dead);
        return false;
    }
    errno = 0;
    for (int32_t i = 0; i < count; ++i) {
        Stamp stamp{};
        StampOf(startNs, records[i].timestamp, &stamp);  // checked by the caller
        pcap_pkthdr header{};
        header.ts.tv_sec = static_cast<time_t>(stamp.seconds);
        // A nanosecond-resolution dump takes the nanoseconds in the microsecond field.
        header.ts.tv_usec = static_cast<suseconds_t>(stamp.nanoseconds);
        header.caplen = header.len = static_cast<bpf_u_int32>(records[i].length);
        pcap_dump(reinterpret_cast<u_char*>(dumper), &header, records[i].data);
    }
    // pcap_dump reports nothing: a failed write shows in the stream's error flag. Flushing
    // the dumper is the stream's fflush. The stream is closed here rather than by
    // pcap_dump_close, which ignores what fclose returns.
    int failure = 0;
    if (pcap_dump_flush(dumper) != 0 || std::ferror(file) || fsync(fileno(file)) != 0) failure = errno != 0 ? errno : EIO;
    if (std::fclose(file) != 0 && failure == 0) failure = errno;
    if (failure != 0) {
        *reason = std::strerror(failure);
        return false;
    }
    return true;
}

}  // namespace

bool SavePackets(const PacketRecord* records, int32_t count, int64_t startWallClockNs, const std::string& path,
                 std::string* error)
{
    std::string reason;
    if (count < 0) {
        reason = "invalid packet count " + std::to_string(count);
    } else {
        // Checked before any file is made, so that a refusal leaves nothing behind.
        for (int32_t i = 0; i < count && reason.empty(); ++i) {
            Stamp stamp{};
            if (records[i].length < 0 || records[i].length > SAVE_SNAPSHOT_LENGTH)
                reason = "packet " + std::to_string(i) + " has an invalid length " + std::to_string(records[i].length);
            else if (!StampOf(startWallClockNs, records[i].timestamp, &stamp))
                reason = "the time of packet " + std::to_string(i) + " cannot be stored in a pcap file";
        }
    }
    if (reason.empty()) {
        pcap_t* dead = pcap_open_dead_with_tstamp_precision(DLT_RAW, SAVE_SNAPSHOT_LENGTH, PCAP_TSTAMP_PRECISION_NANO);
        if (!dead) {
            reason = std::strerror(ENOMEM);  // its only failure
        } else {
            const size_t slash = path.rfind('/');
            const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
            std::string temporary;
            if (WriteTemporary(dead, records, count, startWallClockNs, folder, &temporary, &reason) &&
                std::rename(temporary.c_str(), path.c_str()) != 0)
                reason = std::strerror(errno);
            if (!reason.empty() && !temporary.empty()) unlink(temporary.c_str());
            pcap_close(dead);
        }
    }
    if (reason.empty()) return true;
    if (error) *error = reason;
    return false;
}

}  // namespace kestrine
