// TCP header section: fixed fields, the option bytes in hex, and the option walk.
#include "common/text_format.h"
#include "decode/headers.h"
#include "decode/line_format.h"
#include "decode/names.h"
#include "decode/section_states.h"

namespace kestrine {

namespace {

enum TcpOptionKind : uint8_t { OPT_END = 0, OPT_NOP = 1, OPT_MSS = 2, OPT_SACK_PERMITTED = 4, OPT_SACK = 5 };

// SACK: one line per whole 8-byte block with its left and right edge. Reads the length
// byte before anything is appended; returns the next option's offset.
int64_t AddSack(DetailTree& tree, const PacketCursor& options, int64_t q, NodeId parent)
{
    const uint8_t n = options.U8(q + 1);
    const NodeId sack = InsertLine(tree, "TCP SACK", parent);
    if (n < 3) return q + 2;
    const int blocks = (n - 2) / 8;
    for (int k = 0; k < blocks; ++k) {
        const int64_t at = q + 2 + 8 * k;
        AddLine(tree, sack, "%u :: %u", options.Be32(at), options.Be32(at + 4));
    }
    return q + n;
}

// Walks the options in [0, end). An option of another kind is passed whole by its length
// byte; a length below 2 or one reaching past the options ends the walk.
void WalkOptions(DetailTree& tree, const PacketCursor& options, int64_t end, NodeId parent)
{
    int64_t q = 0;
    do {
        const uint8_t kind = options.U8(q);
        switch (kind) {
        case OPT_END: return;
        case OPT_NOP:
            InsertLine(tree, "NO OP", parent);
            q += 1;
            break;
        case OPT_MSS:
            AddLine(tree, parent, "Maximum Segment Size %u", options.Be16(q + 2));
            q += 4;
            break;
        case OPT_SACK_PERMITTED:
            InsertLine(tree, "SACK permitted", parent);
            q += 2;
            break;
        case OPT_SACK: q = AddSack(tree, options, q, parent); break;
        default: {
            const uint8_t length = options.U8(q + 1);
            InsertLine(tree, "what?", parent);
            if (length < 2 || q + length > end) return;
            q += length;
            break;
        }
        }
    } while (q < end);
}

}  // namespace

void AddTcpHeader(DetailTree& tree, const PacketCursor& tcp, NodeId parent)
{
    const NodeId h = InsertLine(tree, "TCP Header", parent);
    SetTag(tree, h, TcpHeaderSection);

    const uint16_t sourcePort = tcp.Be16(0);
    LineBuilder(tree).Text("Src Port  0x").Hex(sourcePort, 4).Text(" (").Decimal(sourcePort).Text(")").AddTo(h);
    const uint16_t destinationPort = tcp.Be16(2);
    LineBuilder(tree).Text("Dst Port  0x").Hex(destinationPort, 4).Text(" (").Decimal(destinationPort).Text(")").AddTo(h);
    const uint32_t sequence = tcp.Be32(4);
    LineBuilder(tree).Text("Sequence #  0x").Hex(sequence, 8).Text(" (").Decimal(sequence).Text(")").AddTo(h);
    const uint32_t acknowledgement = tcp.Be32(8);
    LineBuilder(tree)
        .Text("Acknowledgement #  0x")
        .Hex(acknowledgement, 8)
        .Text(" (")
        .Decimal(acknowledgement)
        .Text(")")
        .AddTo(h);
    const uint8_t f = tcp.U8(13);
    char words[TCP_FLAG_TEXT_SIZE];
    FormatTcpFlagWords(f, words);
    LineBuilder flags(tree);
    flags.Text("Flags: ");
    for (int bit = 5; bit >= 0; --bit) flags.Decimal((f >> bit) & 1);
    flags.Text(" -- ").Text(words).AddTo(h);
    const uint16_t urgent = tcp.Be16(18);
    LineBuilder(tree).Text("Urgent pointer  0x").Hex(urgent, 4).Text(" (").Decimal(urgent).Text(")").AddTo(h);
    const uint16_t window = tcp.Be16(14);
    LineBuilder(tree).Text("Window size  0x").Hex(window, 4).Text(" (").Decimal(window).Text(")").AddTo(h);
    const uint16_t checksum = tcp.Be16(16);
    LineBuilder(tree).Text("Checksum  0x").Hex(checksum, 4).Text(" (").Decimal(checksum).Text(")").AddTo(h);
    const unsigned dataOffset = tcp.U8(12) >> 4;
    LineBuilder(tree).Text("Data offset  0x").Hex(dataOffset, 2).Text(" (").Decimal(dataOffset * 4).Text(" bytes)").AddTo(h);
    if (dataOffset < 5) throw MalformedPacket{};

    const auto optionLength = static_cast<uint16_t>(dataOffset * 4 - 20);
    NodeId o = NO_NODE;
    if (optionLength > 0) {
        const PacketCursor options = tcp.At(20);
        // Built whole before it is appended: a cut-off option list adds no line.
        char text[14 + 3 * 40 + 1] = "Option Bytes: ";
        int n = 14;
        for (int i = 0; i < optionLength; ++i) {
            const uint8_t b = options.U8(i);
            text[n++] = HEX_DIGITS[b >> 4];
            text[n++] = HEX_DIGITS[b & 0x0F];
            text[n++] = ' ';
        }
        o = InsertLine(tree, std::string_view(text, static_cast<size_t>(n)), h);
        SetTag(tree, o, TcpOptionsSection);
        WalkOptions(tree, options, optionLength, o);
    }

    if (o != NO_NODE) ApplyRememberedState(tree, o, TcpOptionsSection);
    ApplyRememberedState(tree, h, TcpHeaderSection);
}

}  // namespace kestrine
