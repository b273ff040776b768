// Capture file reading with libpcap; see capture_file.h.
#include "capture_file.h"

#include <pcap/pcap.h>

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

bool ForEachDatagram(const char* path, const std::function<void(const PacketRecord&, int32_t)>& visit,
                     std::string* error)
{
    char message[PCAP_ERRBUF_SIZE] = "";
    // Nanosecond stamps for every file: libpcap scales microsecond files exactly, and the
    // difference divided by 10^9 equals the microsecond difference divided by 10^6.
    pcap_t* capture = pcap_open_offline_with_tstamp_precision(path, PCAP_TSTAMP_PRECISION_NANO, message);
    if (!capture) {
        *error = message;
        return false;
    }
    const int linkType = pcap_datalink(capture);
    pcap_pkthdr* header = nullptr;
    const u_char* frame = nullptr;
    int32_t index = 0;
    double firstSeconds = 0, firstFraction = 0;
    int status;
    while ((status = pcap_next_ex(capture, &header, &frame)) >= 0) {
        if (status == 0) continue;
        const int offset = DatagramOffset(linkType, frame, header->caplen);
        if (offset < 0) continue;
        if (index == 0) {
            firstSeconds = static_cast<double>(header->ts.tv_sec);
            firstFraction = static_cast<double>(header->ts.tv_usec);
        }
        PacketRecord record;
        record.data = frame + offset;
        record.length = static_cast<int32_t>(header->caplen - static_cast<uint32_t>(offset));
        record.timestamp = static_cast<float>((static_cast<double>(header->ts.tv_sec) - firstSeconds) +
                                              (static_cast<double>(header->ts.tv_usec) - firstFraction) / 1e9);
        visit(record, index++);
    }
    bool ok = true;
    if (status != PCAP_ERROR_BREAK) {
        // A file cut inside its last record still yields what came before it.
        const char* reason = pcap_geterr(capture);
        if (std::strstr(reason, "truncated") == nullptr) {
            *error = reason;
            ok = false;
        }
    }
    pcap_close(capture);
    return ok;
}

}  // namespace kestrine
