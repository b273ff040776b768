// Capture file reading with libpcap; see capture_file.h.
#include "capture_file.h"

#include <pcap/pcap.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kestrine {

namespace {

#ifndef DLT_IPV4
#define DLT_IPV4 228
#endif
#ifndef DLT_LINUX_SLL2
#define DLT_LINUX_SLL2 276
#endif

constexpr uint16_t ETHER_TYPE_IPV4 = 0x0800;
constexpr uint16_t ETHER_TYPE_VLAN = 0x8100;

uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

// Opens path, standard input for "-", as a capture; on failure returns null with the reason.
// The file is opened here rather than by libpcap so that the reason does not repeat the path.
pcap_t* OpenCapture(const char* path, std::string* reason)
{
    const bool standardInput = std::strcmp(path, "-") == 0;
    FILE* file = standardInput ? stdin : std::fopen(path, "rb");
    if (!file) {
        *reason = std::strerror(errno);
        return nullptr;
    }
    // libpcap calls an empty file a truncated one; tell it apart by peeking at its first byte.
    const int first = std::getc(file);
    pcap_t* capture = nullptr;
    if (first == EOF) {
        *reason = std::ferror(file) ? std::strerror(errno) : "empty file";
    } else {
        std::ungetc(first, file);
        // Nanosecond stamps for every file: libpcap scales microsecond files exactly, and the
        // difference divided by 10^9 equals the microsecond difference divided by 10^6.
        char message[PCAP_ERRBUF_SIZE] = "";
        capture = pcap_fopen_offline_with_tstamp_precision(file, PCAP_TSTAMP_PRECISION_NANO, message);
        if (!capture) *reason = message;
    }
    // An opened capture owns the file: pcap_close closes it (standard input excepted).
    if (!capture && !standardInput) std::fclose(file);
    return capture;
}

}  // namespace

int DatagramOffset(int linkType, const uint8_t* frame, uint32_t captured)
{
    int offset = -1;
    switch (linkType) {
    case DLT_RAW:
        if (captured >= 1 && (frame[0] >> 4) != 4) return -1;  // raw frames may carry IPv6
        offset = 0;
        break;
    case DLT_IPV4: offset = 0; break;
    case DLT_EN10MB:
        if (captured < 14) return -1;
        if (Be16(frame + 12) == ETHER_TYPE_IPV4) {
            offset = 14;
        } else if (Be16(frame + 12) == ETHER_TYPE_VLAN && captured >= 18 && Be16(frame + 16) == ETHER_TYPE_IPV4) {
            offset = 18;
        }
        break;
    case DLT_LINUX_SLL:
        if (captured >= 16 && Be16(frame + 14) == ETHER_TYPE_IPV4) offset = 16;
        break;
    case DLT_LINUX_SLL2:
        if (captured >= 20 && Be16(frame) == ETHER_TYPE_IPV4) offset = 20;
        break;
    case DLT_NULL:
    case DLT_LOOP:
        // Address family 2 (AF_INET), written in either byte order.
        if (captured >= 4 && ((frame[0] == 2 && frame[1] == 0 && frame[2] == 0 && frame[3] == 0) ||
                              (frame[0] == 0 && frame[1] == 0 && frame[2] == 0 && frame[3] == 2)))
            offset = 4;
        break;
    default: break;
    }
    if (offset < 0 || static_cast<uint32_t>(offset) >= captured) return -1;
    return offset;
}

ReadOutcome ForEachDatagram(const char* path, const DatagramVisitor& visit, const std::function<void()>& opened)
{
    ReadOutcome outcome;
    pcap_t* capture = OpenCapture(path, &outcome.reason);
    if (!capture) {
        outcome.end = ReadEnd::CannotOpen;
        return outcome;
    }
    if (opened) opened();
    const int linkType = pcap_datalink(capture);
    pcap_pkthdr* header = nullptr;
    const u_char* frame = nullptr;
    double firstSeconds = 0, firstFraction = 0;
    int status;
    while ((status = pcap_next_ex(capture, &header, &frame)) >= 0) {
        if (status == 0) continue;
        const int offset = DatagramOffset(linkType, frame, header->caplen);
        if (offset < 0) continue;
        if (outcome.datagrams == 0) {
            firstSeconds = static_cast<double>(header->ts.tv_sec);
            firstFraction = static_cast<double>(header->ts.tv_usec);
        }
        PacketRecord record;
        record.data = frame + offset;
        record.length = static_cast<int32_t>(header->caplen - static_cast<uint32_t>(offset));
        record.timestamp = static_cast<float>((static_cast<double>(header->ts.tv_sec) - firstSeconds) +
                                              (static_cast<double>(header->ts.tv_usec) - firstFraction) / 1e9);
        record.arrivalNs = static_cast<int64_t>(header->ts.tv_sec) * 1000000000 + header->ts.tv_usec;  // in ns here
        if (!visit(record, outcome.datagrams++)) {
            outcome.end = ReadEnd::Stopped;
            break;
        }
    }
    // PCAP_ERROR_BREAK is the end of the file; PCAP_ERROR a record that could not be read,
    // whether the file ends inside it or its header is corrupt.
    if (status == PCAP_ERROR) {
        outcome.end = ReadEnd::CutShort;
        outcome.reason = pcap_geterr(capture);
    }
    pcap_close(capture);
    return outcome;
}

}  // namespace kestrine
