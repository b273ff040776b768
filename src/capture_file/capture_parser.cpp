// The pcap and pcapng parser; see capture_parser.h.
#include "capture_file/capture_parser.h"

#include <algorithm>
#include <cstring>

#include "capture_file/link_types.h"
#include "common/ip_datagram_length.h"

namespace kestrine {

namespace {

constexpr uint64_t NANOSECONDS_PER_SECOND = 1000000000;
constexpr size_t PCAP_FILE_HEADER = 24;
constexpr size_t PCAP_RECORD_HEADER = 16;
constexpr uint32_t BLOCK_OVERHEAD = 12;         // type, length, length again
constexpr uint32_t SECTION_HEADER_LENGTH = 28;  // with no options
constexpr uint32_t PACKET_BLOCK_FIELDS = 20;    // enhanced and obsolete: interface, time, lengths

constexpr uint32_t SECTION_HEADER_BLOCK = 0x0A0D0D0A;  // the same in either byte order
constexpr uint32_t INTERFACE_DESCRIPTION_BLOCK = 1;
constexpr uint32_t OBSOLETE_PACKET_BLOCK = 2;
constexpr uint32_t SIMPLE_PACKET_BLOCK = 3;
constexpr uint32_t ENHANCED_PACKET_BLOCK = 6;

constexpr uint16_t OPTION_END = 0;
constexpr uint16_t OPTION_TIME_RESOLUTION = 9;
constexpr uint16_t OPTION_TIME_OFFSET = 14;

const char* const NOT_A_CAPTURE = "not a pcap or pcapng capture file";

bool Starts(const uint8_t* data, uint8_t a, uint8_t b, uint8_t c, uint8_t d)
{
    return data[0] == a && data[1] == b && data[2] == c && data[3] == d;
}

std::string Text(uint64_t value) { return std::to_string(value); }

std::string Interfaces(size_t count)
{
    if (count == 0) return "no interfaces";
    return Text(count) + (count == 1 ? " interface" : " interfaces");
}

// The nanoseconds of `fraction` units of which unitsPerSecond make a second, rounded down.
uint64_t FractionNs(uint64_t fraction, uint64_t unitsPerSecond)
{
    if (NANOSECONDS_PER_SECOND % unitsPerSecond == 0) return fraction * (NANOSECONDS_PER_SECOND / unitsPerSecond);
    if (unitsPerSecond % NANOSECONDS_PER_SECOND == 0) return fraction / (unitsPerSecond / NANOSECONDS_PER_SECOND);
    // Powers of 2 up to 2^63: the product needs 94 bits.
    __extension__ using Wide = unsigned __int128;
    return static_cast<uint64_t>(static_cast<Wide>(fraction) * NANOSECONDS_PER_SECOND / unitsPerSecond);
}

}  // namespace

uint32_t CaptureParser::U32(const uint8_t* p) const
{
    if (m_bigEndian) return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
    return uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
}

uint16_t CaptureParser::U16(const uint8_t* p) const
{
    return static_cast<uint16_t>(m_bigEndian ? p[0] << 8 | p[1] : p[1] << 8 | p[0]);
}

uint64_t CaptureParser::U64(const uint8_t* p) const
{
    const uint64_t first = U32(p), second = U32(p + 4);
    return m_bigEndian ? first << 32 | second : second << 32 | first;
}

std::string CaptureParser::BlockName() const { return "the block at byte " + Text(m_offset); }

std::string CaptureParser::PacketName() const
{
    return "packet " + Text(static_cast<uint64_t>(m_nextListed)) + " at byte " + Text(m_offset);
}

CaptureParser::Result CaptureParser::Fail(std::string reason)
{
    m_reason = std::move(reason);
    Result result;
    result.step = Step::Failed;
    return result;
}

CaptureParser::Result CaptureParser::Corrupt(const std::string& unit, const std::string& why)
{
    return Fail(unit + " is corrupt: " + why);
}

CaptureParser::Result CaptureParser::Need(size_t needed, size_t available, bool atEnd, const std::string& unit,
                                          const char* part)
{
    if (atEnd) {
        return Fail("the file ends inside " + unit + ", after " + Text(available) + " of its " + Text(needed) + part +
                    " bytes");
    }
    Result result;
    result.step = Step::More;
    result.size = needed;
    return result;
}

CaptureParser::Result CaptureParser::Taken(size_t size)
{
    m_offset += size;
    Result result;
    result.step = Step::Unit;
    result.size = size;
    return result;
}

CaptureParser::Result CaptureParser::Frame(size_t size, const uint8_t* data, uint32_t captured, int linkType,
                                           uint64_t timeNs)
{
    Result result = Taken(size);
    result.hasFrame = true;
    result.frame.data = data;
    // Whole, even past the snapshot length: a writer may store more than it announced.
    result.frame.length = captured;
    result.frame.linkType = linkType;
    result.frame.timeNs = timeNs;
    return result;
}

CaptureParser::Result CaptureParser::Next(const uint8_t* data, size_t available, bool atEnd)
{
    if (m_format == Format::Unknown) return OpenFile(data, available, atEnd);
    if (available == 0 && atEnd) return Result{};  // End
    return m_format == Format::Pcap ? PcapRecord(data, available, atEnd) : Block(data, available, atEnd);
}

CaptureParser::Result CaptureParser::OpenFile(const uint8_t* data, size_t available, bool atEnd)
{
    if (available == 0 && atEnd) return Fail("empty file");
    if (available < 4) return atEnd ? Fail(NOT_A_CAPTURE) : Need(4, available, false, "", "");
    if (U32(data) == SECTION_HEADER_BLOCK) return Block(data, available, atEnd);

    if (Starts(data, 0xD4, 0xC3, 0xB2, 0xA1) || Starts(data, 0x4D, 0x3C, 0xB2, 0xA1)) {
        m_bigEndian = false;
    } else if (Starts(data, 0xA1, 0xB2, 0xC3, 0xD4) || Starts(data, 0xA1, 0xB2, 0x3C, 0x4D)) {
        m_bigEndian = true;
    } else {
        return Fail(NOT_A_CAPTURE);
    }
    m_nanoseconds = U32(data) == 0xA1B23C4D;
    if (available < PCAP_FILE_HEADER) return Need(PCAP_FILE_HEADER, available, atEnd, "the file header", "");
    const uint16_t major = U16(data + 4), minor = U16(data + 6);
    if (major != 2 || minor > 4) return Fail("unsupported pcap version " + Text(major) + "." + Text(minor));
    m_snapLength = U32(data + 16);
    // The low 16 bits: the high ones may tell the length of a frame check sequence.
    m_linkType = static_cast<int>(U32(data + 20) & 0xFFFF);
    m_format = Format::Pcap;
    return Taken(PCAP_FILE_HEADER);
}

CaptureParser::Result CaptureParser::PcapRecord(const uint8_t* data, size_t available, bool atEnd)
{
    if (available < PCAP_RECORD_HEADER) return Need(PCAP_RECORD_HEADER, available, atEnd, PacketName(), " header");
    const uint32_t captured = U32(data + 8);
    if (captured > LARGEST_FRAME) {
        return Corrupt(PacketName(), "it claims " + Text(captured) + " captured bytes, more than a frame may hold (" +
                                         Text(LARGEST_FRAME) + ")");
    }
    const size_t size = PCAP_RECORD_HEADER + captured;
    if (available < size) return Need(size, available, atEnd, PacketName(), "");
    // Seconds unsigned, as the format has them (to 2106); the fraction unchecked, as written.
    const uint64_t seconds = U32(data), fraction = U32(data + 4);
    const uint64_t timeNs = seconds * NANOSECONDS_PER_SECOND + fraction * (m_nanoseconds ? 1 : 1000);
    ++m_packets;
    return Frame(size, data + PCAP_RECORD_HEADER, captured, m_linkType, timeNs);
}

CaptureParser::Result CaptureParser::Block(const uint8_t* data, size_t available, bool atEnd)
{
    if (available < 8) return Need(8, available, atEnd, BlockName(), " header");
    const bool section = U32(data) == SECTION_HEADER_BLOCK;
    if (section) {
        // Each section states its byte order, the length included.
        if (available < 12) return Need(12, available, atEnd, BlockName(), " header");
        if (Starts(data + 8, 0x1A, 0x2B, 0x3C, 0x4D)) {
            m_bigEndian = true;
        } else if (Starts(data + 8, 0x4D, 0x3C, 0x2B, 0x1A)) {
            m_bigEndian = false;
        } else {
            return Opened() ? Corrupt(BlockName(), "its byte-order mark is wrong") : Fail(NOT_A_CAPTURE);
        }
    }
    const uint32_t length = U32(data + 4);
    const uint32_t least = section ? SECTION_HEADER_LENGTH : BLOCK_OVERHEAD;
    if (length % 4 != 0) return Corrupt(BlockName(), "its length, " + Text(length) + ", is not a multiple of 4");
    if (length < least) {
        return Corrupt(BlockName(), "its length, " + Text(length) +
                                        ", is less than the least a block of its type has (" + Text(least) + ")");
    }
    if (length > LARGEST_BLOCK) {
        return Corrupt(BlockName(),
                       "its length, " + Text(length) + ", is more than a block may hold (" + Text(LARGEST_BLOCK) + ")");
    }
    if (available < length) return Need(length, available, atEnd, BlockName(), "");
    const uint32_t trailer = U32(data + length - 4);
    if (trailer != length) {
        return Corrupt(BlockName(), "the length at its end, " + Text(trailer) + ", differs from the " + Text(length) +
                                        " at its start");
    }
    const uint8_t* body = data + 8;
    const uint32_t bodyLength = length - BLOCK_OVERHEAD;
    const uint32_t type = U32(data);
    if (section) {
        const uint16_t major = U16(data + 12), minor = U16(data + 14);
        if (major != 1) {
            const std::string version = Text(major) + "." + Text(minor);
            if (!Opened()) return Fail("unsupported pcapng version " + version);
            return Fail("the section at byte " + Text(m_offset) + " has pcapng version " + version +
                        ", which is not supported");
        }
        m_format = Format::Pcapng;
        m_interfaces.clear();
        return Taken(length);
    }
    if (type == INTERFACE_DESCRIPTION_BLOCK) return InterfaceDescription(body, bodyLength, length);
    if (type == ENHANCED_PACKET_BLOCK || type == OBSOLETE_PACKET_BLOCK || type == SIMPLE_PACKET_BLOCK)
        return PacketBlock(type, body, bodyLength, length);
    return Taken(length);  // statistics, name resolution, comments...: nothing taken from them
}

CaptureParser::Result CaptureParser::InterfaceDescription(const uint8_t* body, uint32_t bodyLength, uint32_t length)
{
    if (bodyLength < 8) return Corrupt(BlockName(), "it is too short for an interface description");
    if (m_interfaces.size() >= MOST_INTERFACES)
        return Corrupt(BlockName(), "its section describes more than " + Interfaces(MOST_INTERFACES));
    Interface described;
    described.linkType = U16(body);
    described.snapLength = U32(body + 4);
    // Options: code, length, value padded to 4 bytes; the end-of-options code ends them.
    for (size_t at = 8; at + 4 <= bodyLength;) {
        const uint16_t code = U16(body + at), size = U16(body + at + 2);
        if (code == OPTION_END) break;
        if (size > bodyLength - at - 4) return Corrupt(BlockName(), "its option " + Text(code) + " runs past its end");
        const uint8_t* value = body + at + 4;
        if (code == OPTION_TIME_RESOLUTION) {
            if (size != 1) return Corrupt(BlockName(), "its time resolution has " + Text(size) + " bytes instead of 1");
            // The high bit chooses a negative power of 2 rather than of 10; the unit must
            // still fit 64 bits.
            const int exponent = value[0] & 0x7F;
            const bool binary = (value[0] & 0x80) != 0;
            if (exponent > (binary ? 63 : 19)) {
                return Corrupt(BlockName(), std::string("its time resolution, ") + (binary ? "2^-" : "10^-") +
                                                Text(exponent) + " seconds, is finer than can be read");
            }
            uint64_t units = 1;
            for (int i = 0; i < exponent; ++i) units *= binary ? 2 : 10;
            described.unitsPerSecond = units;
        } else if (code == OPTION_TIME_OFFSET) {
            if (size != 8) return Corrupt(BlockName(), "its time offset has " + Text(size) + " bytes instead of 8");
            described.offsetSeconds = static_cast<int64_t>(U64(value));
        }
        at += 4 + ((size + 3u) & ~3u);
    }
    m_interfaces.push_back(described);
    return Taken(length);
}

CaptureParser::Result CaptureParser::PacketBlock(uint32_t type, const uint8_t* body, uint32_t bodyLength,
                                                 uint32_t length)
{
    if (type == SIMPLE_PACKET_BLOCK) {
        // Interface 0's; the captured length is the original one cut to the snapshot length.
        if (bodyLength < 4) return Corrupt(BlockName(), "it is too short for a packet block");
        if (m_interfaces.empty())
            return Corrupt(BlockName(), "it refers to interface 0, but its section describes no interfaces");
        const Interface& described = m_interfaces.front();
        const uint32_t snapLength =
            described.snapLength != 0 && described.snapLength < LARGEST_FRAME ? described.snapLength : LARGEST_FRAME;
        const uint32_t captured = std::min(U32(body), snapLength);
        if (captured > bodyLength - 4)
            return Corrupt(BlockName(), "its " + Text(captured) + " packet bytes do not fit in it");
        return Frame(length, body + 4, captured, described.linkType, m_lastTimeNs);
    }

    if (bodyLength < PACKET_BLOCK_FIELDS) return Corrupt(BlockName(), "it is too short for a packet block");
    const uint32_t id = type == ENHANCED_PACKET_BLOCK ? U32(body) : U16(body);
    if (id >= m_interfaces.size()) {
        return Corrupt(BlockName(), "it refers to interface " + Text(id) + ", but its section describes " +
                                        Interfaces(m_interfaces.size()));
    }
    const uint32_t captured = U32(body + 12);
    if (captured > LARGEST_FRAME) {
        return Corrupt(BlockName(), "it claims " + Text(captured) + " captured bytes, more than a frame may hold (" +
                                        Text(LARGEST_FRAME) + ")");
    }
    if (captured > bodyLength - PACKET_BLOCK_FIELDS)
        return Corrupt(BlockName(), "its " + Text(captured) + " captured bytes do not fit in it");

    // Arithmetic modulo 2^64: a damaged stamp gives a wrong time, never undefined behaviour.
    const Interface& described = m_interfaces[id];
    const uint64_t stamp = uint64_t{U32(body + 4)} << 32 | U32(body + 8);
    const uint64_t seconds = stamp / described.unitsPerSecond + static_cast<uint64_t>(described.offsetSeconds);
    m_lastTimeNs =
        seconds * NANOSECONDS_PER_SECOND + FractionNs(stamp % described.unitsPerSecond, described.unitsPerSecond);
    return Frame(length, body + PACKET_BLOCK_FIELDS, captured, described.linkType, m_lastTimeNs);
}

bool DatagramTaker::Take(const CaptureFrame& frame, PacketRecord* record)
{
    const int offset = DatagramOffset(frame.linkType, frame.data, frame.length);
    if (offset < 0) {
        if (m_untakenLinkType == NO_LINK_TYPE && !TakesLinkType(frame.linkType)) m_untakenLinkType = frame.linkType;
        return false;
    }
    if (!m_any) {
        m_any = true;
        m_firstNs = frame.timeNs;
    }
    record->data = frame.data + offset;
    record->length =
        static_cast<int32_t>(IpDatagramLength(record->data, frame.length - static_cast<uint32_t>(offset)));
    record->arrivalNs = static_cast<int64_t>(frame.timeNs);
    record->timestamp = static_cast<float>(static_cast<double>(static_cast<int64_t>(frame.timeNs - m_firstNs)) / 1e9);
    return true;
}

ReadOutcome StreamDatagrams(const ReadBytes& read, const DatagramVisitor& visit, const std::function<void()>& opened,
                            size_t chunk)
{
    ReadOutcome outcome;
    CaptureParser parser;
    DatagramTaker taker;
    // buffer[begin, end) holds the file's bytes from parser.Offset() on.
    std::vector<uint8_t> buffer(std::max<size_t>(chunk, 1));
    size_t begin = 0, end = 0;
    bool atEnd = false, announced = false;
    for (;;) {
        const CaptureParser::Result result = parser.Next(buffer.data() + begin, end - begin, atEnd);
        switch (result.step) {
        case CaptureParser::Step::Unit: {
            if (!announced) {
                announced = true;
                if (opened) opened();
            }
            begin += result.size;
            if (result.hasFrame) ++outcome.frames;
            PacketRecord record;
            if (result.hasFrame && taker.Take(result.frame, &record)) {
                parser.SetNextListed(outcome.datagrams + 1);
                if (!visit(record, outcome.datagrams++)) {
                    outcome.end = ReadEnd::Stopped;
                    outcome.untakenLinkType = taker.UntakenLinkType();
                    return outcome;
                }
            }
            break;
        }
        case CaptureParser::Step::More: {
            // The unit's bytes to the front, then read until it is whole or the data ends.
            std::memmove(buffer.data(), buffer.data() + begin, end - begin);
            end -= begin;
            begin = 0;
            if (result.size > buffer.size()) buffer.resize(result.size);
            std::string error;
            while (end < result.size && !atEnd) {
                const size_t got = read(buffer.data() + end, buffer.size() - end, &error);
                end += got;
                atEnd = got == 0;
            }
            if (!error.empty()) {
                outcome.untakenLinkType = taker.UntakenLinkType();
                outcome.end = parser.Opened() ? ReadEnd::CutShort : ReadEnd::CannotOpen;
                outcome.reason =
                    parser.Opened() ? "reading failed at byte " + Text(parser.Offset() + end) + ": " + error : error;
                return outcome;
            }
            break;
        }
        case CaptureParser::Step::End: outcome.untakenLinkType = taker.UntakenLinkType(); return outcome;
        case CaptureParser::Step::Failed:
            outcome.untakenLinkType = taker.UntakenLinkType();
            outcome.end = parser.Opened() ? ReadEnd::CutShort : ReadEnd::CannotOpen;
            outcome.reason = parser.Reason();
            return outcome;
        }
    }
}

}  // namespace kestrine
