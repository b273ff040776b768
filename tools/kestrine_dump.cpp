// kestrine-dump: decodes the IPv4 datagrams of capture files (pcap or pcapng) into the
// same tree the main window shows for a selected packet, or into the packet list.
//
//   kestrine-dump [--summary] FILE...
//
// Frames: raw IPv4, Ethernet (also behind one 802.1Q tag), Linux cooked (SLL, SLL2) and
// BSD loopback/null; other frames are skipped and not counted. Each file's datagrams are
// indexed from 0 and timed from its first taken frame.
#include <pcap/pcap.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "decode/detail_tree.h"
#include "decode/packet_detail.h"
#include "decode/summary.h"

using namespace kestrine;

namespace {

#ifndef DLT_IPV4
#define DLT_IPV4 228
#endif
#ifndef DLT_LINUX_SLL2
#define DLT_LINUX_SLL2 276
#endif

constexpr uint16_t kEtherTypeIpv4 = 0x0800;
constexpr uint16_t kEtherTypeVlan = 0x8100;

uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

// Offset of the IPv4 datagram inside a frame, or -1 when the frame carries none.
int DatagramOffset(int linkType, const uint8_t* frame, uint32_t captured)
{
    int offset = -1;
    switch (linkType) {
    case DLT_RAW:
        if (captured >= 1 && (frame[0] >> 4) != 4) return -1;
        offset = 0;
        break;
    case DLT_IPV4: offset = 0; break;
    case DLT_EN10MB:
        if (captured < 14) return -1;
        if (Be16(frame + 12) == kEtherTypeIpv4) {
            offset = 14;
        } else if (Be16(frame + 12) == kEtherTypeVlan && captured >= 18 && Be16(frame + 16) == kEtherTypeIpv4) {
            offset = 18;
        }
        break;
    case DLT_LINUX_SLL:
        if (captured >= 16 && Be16(frame + 14) == kEtherTypeIpv4) offset = 16;
        break;
    case DLT_LINUX_SLL2:
        if (captured >= 20 && Be16(frame) == kEtherTypeIpv4) offset = 20;
        break;
    case DLT_NULL:
    case DLT_LOOP:
        // Address family 2 (AF_INET), in either byte order.
        if (captured >= 4 && ((frame[0] == 2 && frame[1] == 0 && frame[2] == 0 && frame[3] == 0) ||
                              (frame[0] == 0 && frame[1] == 0 && frame[2] == 0 && frame[3] == 2)))
            offset = 4;
        break;
    default: break;
    }
    if (offset < 0 || static_cast<uint32_t>(offset) >= captured) return -1;  // nothing after the link header
    return offset;
}

struct Output {
    std::string text;
    void Flush()
    {
        std::fwrite(text.data(), 1, text.size(), stdout);
        text.clear();
    }
};

bool DumpFile(const char* path, bool summaryOnly, Output& out)
{
    char error[PCAP_ERRBUF_SIZE] = "";
    // Nanosecond precision for every file: microsecond stamps are scaled exactly.
    pcap_t* capture = pcap_open_offline_with_tstamp_precision(path, PCAP_TSTAMP_PRECISION_NANO, error);
    if (!capture) {
        std::fprintf(stderr, "kestrine-dump: %s: %s\n", path, error);
        return false;
    }
    const int linkType = pcap_datalink(capture);
    if (summaryOnly) {
        out.text.append(SUMMARY_COLUMN_HEADER);
        out.text.push_back('\n');
    }

    DetailTree tree;
    char line[256];
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
        if (summaryOnly) {
            out.text.append(line, static_cast<size_t>(FormatSummaryLine(record, index, line, sizeof line)));
            out.text.push_back('\n');
        } else {
            tree.Clear();
            const NodeId top = AddSummaryLine(tree, record, index);
            AddPacketDetail(tree, record, top);
            tree.Render(out.text);
        }
        ++index;
        if (out.text.size() > (1 << 20)) out.Flush();
    }
    out.Flush();
    const bool ok = status == PCAP_ERROR_BREAK || status == -2;
    if (!ok) {
        // A truncated last record ends the file; what was read is printed. Other read errors fail.
        const char* message = pcap_geterr(capture);
        if (std::strstr(message, "truncated") == nullptr) {
            std::fprintf(stderr, "kestrine-dump: %s: %s\n", path, message);
            pcap_close(capture);
            return false;
        }
    }
    pcap_close(capture);
    return true;
}

int Usage()
{
    std::fprintf(stderr, "usage: kestrine-dump [--summary] FILE...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    bool summaryOnly = false;
    std::vector<const char*> files;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--summary") == 0) {
            summaryOnly = true;
        } else if (std::strcmp(argv[i], "--") == 0) {
            for (++i; i < argc; ++i) files.push_back(argv[i]);
        } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
            std::fprintf(stderr, "kestrine-dump: unknown option %s\n", argv[i]);
            return Usage();
        } else {
            files.push_back(argv[i]);
        }
    }
    if (files.empty()) return Usage();
    Output out;
    out.text.reserve(1 << 21);
    bool ok = true;
    for (const char* path : files) ok = DumpFile(path, summaryOnly, out) && ok;
    return ok ? 0 : 1;
}
