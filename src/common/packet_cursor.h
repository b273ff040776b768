// The only way packet bytes are read: a position inside one record's captured bytes that
// checks every read against the record's end and raises MalformedPacket past it. Code that
// only peeks (the summary line, the capture loop) asks Has first and never raises.
// Values leave it in host order.
#pragma once

#include <cstdint>
#include <span>

namespace kestrine {

// Raised by a read at or past the end of the captured bytes; the guards of the detail
// walk turn it into a message line.
struct MalformedPacket {};

class PacketCursor {
public:
    PacketCursor(const uint8_t* data, int32_t length) : m_data(data), m_length(length < 0 ? 0 : length) {}

    // The position may move past the end (a header length claiming more than was captured);
    // only reads are checked.
    PacketCursor At(int64_t offset) const
    {
        PacketCursor c = *this;
        c.m_position += offset;
        return c;
    }
    void Advance(int64_t bytes) { m_position += bytes; }

    // Whether width bytes from offset were captured; a question, never a read.
    bool Has(int64_t offset, int64_t width = 1) const
    {
        const int64_t i = m_position + offset;
        return i >= 0 && width >= 0 && i + width <= m_length;
    }

    // The width bytes from offset as one checked window: a read that would pass the end
    // raises here, once, instead of at each byte (for loops over a whole run of bytes).
    std::span<const uint8_t> Window(int64_t offset, int64_t width) const
    {
        return std::span<const uint8_t>(m_data + Check(offset, width), static_cast<size_t>(width));
    }

    uint8_t U8(int64_t offset = 0) const { return m_data[Check(offset, 1)]; }
    uint16_t Be16(int64_t offset = 0) const
    {
        const int64_t i = Check(offset, 2);
        return static_cast<uint16_t>(m_data[i] << 8 | m_data[i + 1]);
    }
    uint32_t Be32(int64_t offset = 0) const
    {
        const int64_t i = Check(offset, 4);
        return static_cast<uint32_t>(m_data[i]) << 24 | static_cast<uint32_t>(m_data[i + 1]) << 16 |
               static_cast<uint32_t>(m_data[i + 2]) << 8 | m_data[i + 3];
    }

private:
    int64_t Check(int64_t offset, int64_t width) const
    {
        if (!Has(offset, width)) throw MalformedPacket{};
        return m_position + offset;
    }

    const uint8_t* m_data;
    int64_t m_length;
    int64_t m_position = 0;
};

}  // namespace kestrine
