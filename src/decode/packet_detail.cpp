// Detail assembly. The walk into the datagram enclosed in an ICMP error is a loop, not a
// recursion: a record can nest thousands of times, and each nested walk has its own guards.
#include "decode/packet_detail.h"

#include <array>
#include <cstring>

#include "common/ip_protocols.h"
#include "common/text_format.h"
#include "decode/headers.h"
#include "decode/line_format.h"
#include "decode/section_states.h"
#include "decode/summary.h"

namespace kestrine {

namespace {

constexpr const char* GUARD1 = "Caught Exception[1]::malformed packet? aborting...";
constexpr const char* GUARD3 = "Caught Exception[3]::malformed data? aborting...";
constexpr const char* GUARD4 = "Caught Exception[4]::malformed packet? aborting...";
constexpr const char* GUARD5 = "Caught Exception[5]::malformed packet? aborting...";

constexpr int32_t IP_HEADER_BYTES = 20;
constexpr int32_t SHORT_HEADER_BYTES = 8;   // ICMP, IGMP, UDP
constexpr int32_t TCP_HEADER_BYTES = 20;

// The header-length tests compare the rest as unsigned: a negative rest is never "too
// short", so the decoder runs and its first read reports the malformed packet.
bool TooShort(int32_t rest, int32_t needed) { return static_cast<uint32_t>(rest) < static_cast<uint32_t>(needed); }

void Consume(PacketCursor& p, int32_t& rest, int32_t bytes)
{
    p.Advance(bytes);
    rest -= bytes;
}

// What remains after a transport header: a dump, unless nothing does.
void DumpRest(DetailTree& tree, const PacketCursor& p, int32_t rest, NodeId parent)
{
    if (rest > 0) AddPayloadDump(tree, p, rest, parent);
}

constexpr int DUMP_GROUP = 16;       // bytes per dump line
constexpr int DUMP_TEXT_COLUMN = 49;  // 48 hex characters, then a blank
constexpr int DUMP_LINE_BYTES = DUMP_TEXT_COLUMN + DUMP_GROUP;

// Two hex digits and a blank for each byte value, padded with a second blank to a word: each
// chunk is stored whole, and the next chunk (or the column separator) overwrites the pad.
using HexChunk = std::array<char, 4>;

constexpr std::array<HexChunk, 256> HEX_CHUNKS = [] {
    std::array<HexChunk, 256> t{};
    for (int b = 0; b < 256; ++b) t[b] = {HEX_DIGITS[b >> 4], HEX_DIGITS[b & 0x0F], ' ', ' '};
    return t;
}();

// The text column's character for each byte value: 0x20-0x7E and 0xA1-0xFF as themselves.
constexpr std::array<char, 256> TEXT_CHARS = [] {
    std::array<char, 256> t{};
    for (int b = 0; b < 256; ++b) t[b] = (b >= 0x20 && b <= 0x7E) || b >= 0xA1 ? static_cast<char>(b) : '.';
    return t;
}();

// "%-48.48s %-16.16s": hex part padded to 48, a blank, text part padded to 16.
void AddDumpLine(DetailTree& tree, const PacketCursor& at, int64_t offset, int count, NodeId parent)
{
    const std::span<const uint8_t> group = at.Window(offset, count);  // a group not all captured raises
    char line[DUMP_LINE_BYTES];
    if (count == DUMP_GROUP) {
        for (int i = 0; i < DUMP_GROUP; ++i) {
            std::memcpy(line + 3 * i, HEX_CHUNKS[group[i]].data(), 4);  // the pad lands on the separator
            line[DUMP_TEXT_COLUMN + i] = TEXT_CHARS[group[i]];
        }
    } else {
        std::memset(line, ' ', sizeof line);
        for (int i = 0; i < count; ++i) {
            std::memcpy(line + 3 * i, HEX_CHUNKS[group[i]].data(), 3);
            line[DUMP_TEXT_COLUMN + i] = TEXT_CHARS[group[i]];
        }
    }
    tree.InsertLine(std::string_view(line, sizeof line), parent);
}

}  // namespace

bool IcmpCarriesDatagram(uint8_t type)
{
    // Destination Unreachable, Source Quench, Redirect, Time Exceeded, Parameter Problem.
    return type == 3 || type == 4 || type == 5 || type == 11 || type == 12;
}

void AddPayloadDump(DetailTree& tree, const PacketCursor& at, int32_t length, NodeId parent)
{
    const NodeId d = LineBuilder(tree).Text("Data: ").Signed(length).Text(" bytes").AddTo(parent);
    SetTag(tree, d, PayloadSection);
    try {
        if (length < 0) throw MalformedPacket{};  // the position lies past the captured bytes
        int64_t offset = 0;
        for (; offset + 16 <= length; offset += 16) AddDumpLine(tree, at, offset, 16, d);
        if (offset < length) AddDumpLine(tree, at, offset, static_cast<int>(length - offset), d);
    } catch (...) {
        InsertLine(tree, GUARD3, NO_NODE);
    }
    ApplyRememberedState(tree, d, PayloadSection);
}

void AddPacketDetail(DetailTree& tree, PacketRecord record, NodeId parent)
{
    PacketCursor p(record.data, record.length);
    int32_t rest = record.length;
    for (;;) {
        if (rest < IP_HEADER_BYTES) {
            try {
                AddPayloadDump(tree, p, rest, parent);
            } catch (...) {
                InsertLine(tree, GUARD4, parent);
            }
            return;
        }

        bool enclosed = false;  // an ICMP error follows: walk its datagram next
        try {
            AddIpHeader(tree, p, parent);
            const int32_t headerLength = (p.U8(0) & 0x0F) * 4;
            const uint8_t protocol = p.U8(9);
            const bool laterFragment = IsLaterFragment(p);
            Consume(p, rest, headerLength);  // IP options are skipped unseen

            // A later fragment holds bytes from the middle of its datagram, not a header.
            const bool decoded = protocol == IP_PROTOCOL_ICMP || protocol == IP_PROTOCOL_IGMP || protocol == IP_PROTOCOL_TCP ||
                                 protocol == IP_PROTOCOL_UDP;
            if (decoded && laterFragment) {
                DumpRest(tree, p, rest, parent);
                return;
            }

            switch (protocol) {
            case IP_PROTOCOL_ICMP:
                if (TooShort(rest, SHORT_HEADER_BYTES)) {
                    AddPayloadDump(tree, p, rest, parent);
                    return;
                }
                try {
                    AddIcmpHeader(tree, p, parent);
                    const uint8_t type = p.U8(0);
                    Consume(p, rest, SHORT_HEADER_BYTES);
                    if (IcmpCarriesDatagram(type)) {
                        enclosed = true;
                    } else {
                        DumpRest(tree, p, rest, parent);
                    }
                } catch (...) {
                    InsertLine(tree, GUARD5, parent);
                    AddPayloadDump(tree, p, rest, parent);
                }
                break;
            case IP_PROTOCOL_IGMP:
            case IP_PROTOCOL_UDP:
                if (TooShort(rest, SHORT_HEADER_BYTES)) {
                    AddPayloadDump(tree, p, rest, parent);
                    return;
                }
                (protocol == IP_PROTOCOL_UDP ? AddUdpHeader : AddIgmpHeader)(tree, p, parent);
                Consume(p, rest, SHORT_HEADER_BYTES);
                DumpRest(tree, p, rest, parent);
                break;
            case IP_PROTOCOL_TCP:
                if (TooShort(rest, TCP_HEADER_BYTES)) {
                    AddPayloadDump(tree, p, rest, parent);
                    return;
                }
                AddTcpHeader(tree, p, parent);
                Consume(p, rest, (p.U8(12) >> 4) * 4);
                DumpRest(tree, p, rest, parent);
                break;
            default: break;  // other protocols: the IP header only, no dump
            }
        } catch (...) {
            InsertLine(tree, GUARD1, parent);
            return;
        }
        if (!enclosed) return;
    }
}

NodeId AddPacketTree(DetailTree& tree, const PacketRecord& record, int64_t index)
{
    const NodeId line = AddSummaryLine(tree, record, index);
    AddPacketDetail(tree, record, line);
    tree.SetExpanded(line, true);
    return line;
}

}  // namespace kestrine
