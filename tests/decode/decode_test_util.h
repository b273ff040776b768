// Helpers for decoder tests: packets from hex text, and trees rendered as indented text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/packet_record.h"
#include "decode/detail_tree.h"
#include "decode/packet_detail.h"

namespace kestrine::testing {

// "45 00 00 3c ..." (blanks optional) to bytes.
inline std::vector<uint8_t> Hex(const std::string& text)
{
    std::vector<uint8_t> out;
    int nibbles = 0, value = 0;
    for (char c : text) {
        int v;
        if (c >= '0' && c <= '9') v = c - '0';
        else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
        else continue;
        value = value << 4 | v;
        if (++nibbles == 2) {
            out.push_back(static_cast<uint8_t>(value));
            nibbles = value = 0;
        }
    }
    return out;
}

inline std::vector<uint8_t> Cat(std::vector<uint8_t> a, const std::vector<uint8_t>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A 20-byte IPv4 header from 192.0.2.1 to 198.51.100.7 with the given protocol.
inline std::vector<uint8_t> Ip(uint8_t protocol, uint8_t versionAndLength = 0x45)
{
    auto h = Hex("45 00 00 3c 1c 46 40 00 40 00 b1 e6 c0 00 02 01 c6 33 64 07");
    h[0] = versionAndLength;
    h[9] = protocol;
    return h;
}

inline PacketRecord Record(const std::vector<uint8_t>& bytes, float timestamp = 0.0f)
{
    return PacketRecord{bytes.data(), static_cast<int32_t>(bytes.size()), timestamp};
}

inline std::string Render(const DetailTree& tree)
{
    std::string out;
    tree.Render(out);
    return out;
}

// The sections of a packet, decoded under a top-level "R" line, rendered without R itself
// (each line keeps its indentation relative to R: two blanks for a section).
inline std::string Detail(const std::vector<uint8_t>& bytes)
{
    DetailTree tree;
    const NodeId root = tree.InsertLine("R", NO_NODE);
    AddPacketDetail(tree, Record(bytes), root);
    std::string text = Render(tree);
    return text.substr(2);  // drop "R\n"
}

}  // namespace kestrine::testing
