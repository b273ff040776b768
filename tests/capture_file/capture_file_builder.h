// Capture files made byte by byte for the tests: pcap and pcapng in either byte order, and
// temporary files to hold them.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "capture_file/capture_file.h"

namespace kestrine {

inline void PrintTo(ReadEnd end, std::ostream* out)
{
    const char* const names[] = {"Complete", "Stopped", "CannotOpen", "CutShort"};
    *out << names[static_cast<int>(end)];
}

}  // namespace kestrine

namespace kestrine::test {

using Bytes = std::vector<uint8_t>;

// A 28-byte IPv4 UDP datagram from 192.0.2.1:53 to 198.51.100.7:1025 whose last byte is marker.
inline Bytes Datagram(uint8_t marker)
{
    return {0x45, 0, 0, 28, 0, 0, 0, 0, 64, 17, 0, 0, 192, 0, 2, 1, 198, 51, 100, 7, 0, 53, 4, 1, 0, 8, 0, marker};
}

inline Bytes Prefix(Bytes head, const Bytes& tail)
{
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

// Bytes appended with numbers in a chosen byte order.
struct Writer {
    bool big = false;
    Bytes bytes;

    Writer& Number(uint64_t value, int size)
    {
        for (int i = 0; i < size; ++i) bytes.push_back(static_cast<uint8_t>(value >> 8 * (big ? size - 1 - i : i)));
        return *this;
    }
    Writer& U16(uint16_t value) { return Number(value, 2); }
    Writer& U32(uint32_t value) { return Number(value, 4); }
    Writer& Add(const Bytes& more, bool pad = false)
    {
        bytes.insert(bytes.end(), more.begin(), more.end());
        while (pad && bytes.size() % 4 != 0) bytes.push_back(0);
        return *this;
    }
};

struct PcapFrame {
    Bytes bytes;
    uint32_t seconds = 0;
    uint32_t fraction = 0;  // in the file's unit
};

struct PcapOptions {
    bool nano = false;
    bool big = false;
    uint32_t snapLength = 65535;
    uint16_t major = 2, minor = 4;
};

inline Bytes Pcap(uint32_t linkType, const std::vector<PcapFrame>& frames, const PcapOptions& o = {})
{
    Writer w{o.big, {}};
    w.U32(o.nano ? 0xA1B23C4D : 0xA1B2C3D4).U16(o.major).U16(o.minor).U32(0).U32(0).U32(o.snapLength).U32(linkType);
    for (const PcapFrame& f : frames) {
        const auto size = static_cast<uint32_t>(f.bytes.size());
        w.U32(f.seconds).U32(f.fraction).U32(size).U32(size).Add(f.bytes);
    }
    return w.bytes;
}

// A pcapng file, block by block; it starts with a section header in the given byte order.
class Pcapng {
public:
    explicit Pcapng(bool big = false) { Section(big); }

    Bytes bytes;

    Pcapng& Section(bool big, uint16_t major = 1)
    {
        m_big = big;
        return Block(0x0A0D0D0A, Body().U32(0x1A2B3C4D).U16(major).U16(0).U32(0xFFFFFFFF).U32(0xFFFFFFFF).bytes);
    }
    // tsresol < 0: no if_tsresol option; offset 0: no if_tsoffset option.
    Pcapng& Interface(uint16_t linkType, uint32_t snapLength = 0, int tsresol = -1, int64_t offset = 0)
    {
        Writer w = Body();
        w.U16(linkType).U16(0).U32(snapLength);
        if (tsresol >= 0) w.U16(9).U16(1).Add({static_cast<uint8_t>(tsresol)}, true);
        if (offset != 0) w.U16(14).U16(8).Number(static_cast<uint64_t>(offset), 8);
        if (tsresol >= 0 || offset != 0) w.U16(0).U16(0);
        return Block(1, w.bytes);
    }
    Pcapng& Enhanced(uint32_t interface, uint64_t stamp, const Bytes& frame)
    {
        const auto size = static_cast<uint32_t>(frame.size());
        return Block(
            6,
            Body().U32(interface).U32(stamp >> 32).U32(stamp & 0xFFFFFFFF).U32(size).U32(size).Add(frame, true).bytes);
    }
    Pcapng& Obsolete(uint16_t interface, uint64_t stamp, const Bytes& frame)
    {
        const auto size = static_cast<uint32_t>(frame.size());
        return Block(2, Body()
                            .U16(interface)
                            .U16(0)
                            .U32(stamp >> 32)
                            .U32(stamp & 0xFFFFFFFF)
                            .U32(size)
                            .U32(size)
                            .Add(frame, true)
                            .bytes);
    }
    Pcapng& Simple(const Bytes& frame, uint32_t original = 0)
    {
        return Block(3, Body().U32(original ? original : static_cast<uint32_t>(frame.size())).Add(frame, true).bytes);
    }
    Pcapng& Block(uint32_t type, const Bytes& body)
    {
        const auto length = static_cast<uint32_t>(body.size() + 12);
        Writer w = Body();
        w.U32(type).U32(length).Add(body).U32(length);
        bytes.insert(bytes.end(), w.bytes.begin(), w.bytes.end());
        return *this;
    }

private:
    Writer Body() const { return Writer{m_big, {}}; }
    bool m_big = false;
};

// A UTF-8 path as the file system takes it (UTF-16 on Windows).
inline std::filesystem::path FsPath(const std::string& utf8)
{
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// A path in the test's temporary folder, unique to this process.
inline std::string TempPath(const std::string& name)
{
    static const std::string unique = std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    return ::testing::TempDir() + name + "-" + unique;
}

inline void Store(const std::string& path, const Bytes& bytes)
{
    std::ofstream(FsPath(path), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::string Contents(const std::string& path)
{
    std::ifstream in(FsPath(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Stores bytes at TempPath(name) and returns the path.
inline std::string StoreTemp(const std::string& name, const Bytes& bytes)
{
    const std::string path = TempPath(name);
    Store(path, bytes);
    return path;
}

}  // namespace kestrine::test
