// Shared by the filter tests: the corpus of expressions (every primitive and operator,
// nested, the edges of fragments, options and short datagrams) and generated IPv4
// datagrams of each protocol, with options, fragmented, and cut short.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace kestrine::test {

inline const std::vector<std::string>& FilterCorpus()
{
    static const std::vector<std::string> corpus = {
        // protocols
        "ip", "tcp", "udp", "icmp", "igmp", "sctp", "pim", "vrrp", "esp", "ah", "igrp",
        "ip proto 6", "ip proto 47", "proto 17", "ip proto \\tcp", "ip proto \\udp", "ip proto \\icmp",
        "ip proto gre", "ip proto ospf", "not ip proto 1",
        // hosts and nets
        "host 198.18.0.1", "src host 198.18.0.1", "dst host 198.18.0.2", "src or dst host 198.18.0.1",
        "src and dst host 198.18.0.1", "dst and src host 198.18.0.1", "dst or src 198.18.0.2",
        "ip host 198.18.0.1", "ip src 198.18.0.1", "src 198.18.0.1", "host 10.1", "host 10",
        "host 198.18.0.1 or 198.18.0.2", "host 198.18.0.1 and 198.18.0.2", "host 198.18.0.1 and not 198.18.0.2",
        "net 198.18.0.0/15", "net 198.18.0.0/16", "src net 198.19", "dst net 198.18.0", "net 10",
        "net 192.168", "net 198.18.0.0 mask 255.254.0.0", "net 0.0.0.0/0", "ip net 172.16.0.0/12",
        "dst net 224.0.0.0/4", "src net 198.18.0.0/31 or dst net 198.18.0.2/32", "net 0.0.1.0",
        // ports
        "port 80", "tcp port 80", "udp port 53", "sctp port 80", "src port 1000", "dst port 443",
        "tcp src port 80", "udp dst port 53", "port 53 or 80", "port 80 and 443", "tcp port 80 or 443",
        "src or dst port 2000", "src and dst port 1000", "port http", "port domain", "tcp port https",
        "portrange 1000-2000", "tcp portrange 1-1023", "udp src portrange 50-60", "dst portrange 2000-1000",
        "portrange 80", "not port 80", "port 0", "port 65535",
        // lengths
        "less 60", "greater 100", "less 0", "greater 1500", "len > 40", "len <= 28", "len - 20 = ip[2:2] - 20",
        // broadcast and multicast
        "ip broadcast", "ip multicast", "not ip multicast", "ip multicast and udp",
        // packet access and arithmetic
        "ip[0] & 0xf > 5", "ip[0] & 0xf != 5", "ip[1] = 0", "ip[2:2] > 576", "ip[6:2] & 0x1fff != 0",
        "ip[6] & 0x20 = 0x20", "ip[8] < 64", "ip[9] == 17", "ip[12:4] = 0xc6120001", "ip[16:4] >= 0xe0000000",
        "tcp[tcpflags] & tcp-syn != 0", "tcp[tcpflags] & (tcp-syn|tcp-ack) = tcp-syn",
        "tcp[tcpflags] & (tcp-fin|tcp-rst) != 0", "tcp[13] & tcp-push != 0", "tcp[13] & tcp-urg != 0",
        "tcp[13] & (tcp-ece|tcp-cwr) != 0", "tcp[0:2] = 80", "tcp[2:2] > 1023", "tcp[12] >> 4 > 5",
        "tcp[((tcp[12] & 0xf0) >> 2):4] = 0x47455420", "tcp[(tcp[12] >> 4) * 4] = 0x47",
        "udp[0:2] = 53", "udp[4:2] > 100", "udp[8] = 0", "icmp[icmptype] = icmp-echo",
        "icmp[icmptype] = icmp-echoreply", "icmp[icmptype] != icmp-echo and icmp[icmptype] != icmp-echoreply",
        "icmp[icmptype] = icmp-unreach", "icmp[icmpcode] = 3", "icmp[0] = icmp-timxceed",
        "icmp[0] = icmp-redirect or icmp[0] = icmp-sourcequench or icmp[0] = icmp-paramprob",
        "icmp[0] = icmp-tstamp or icmp[0] = icmp-tstampreply or icmp[0] = icmp-ireq or icmp[0] = icmp-ireqreply",
        "icmp[0] = icmp-maskreq or icmp[0] = icmp-maskreply or icmp[0] = icmp-routeradvert or icmp[0] = icmp-routersolicit",
        "igmp[0] = 0x11", "igmp[0] > 0x12", "sctp[0:2] = 80", "pim[0] = 0x20", "vrrp[0] = 0x21",
        "ip[0] + 1 = 0x46", "ip[2:2] - ip[0] * 4 > 8", "ip[1] * 2 = 0", "ip[2:2] / 4 > 10", "ip[2:2] % 4 = 0",
        "ip[9] | 1 = 17", "ip[9] ^ 1 = 16", "ip[0] << 2 = 0x114", "ip[0] >> 4 = 4", "-ip[0] = 0xffffffbb",
        "ip[0] - -1 = 0x46", "ip[9] | 2 ^ 3 & 1 = 7", "ip[9] + 2 * 3 - 1 = 22", "ip[9] << 1 + 1 = 68",
        "ip[9] & 3 << 2 = 4", 
        "ip[ip[0] & 0xf] = 0", "ip[1 + 1:2] > 20", "(ip[0] & 0xf) * 4 < ip[2:2]", "1 = 1", 
        "len = ip[2:2]", "ip[100] = 0", "tcp[100] = 0", "ip[65535] = 0", "tcp[20:4] = 0", "udp[7] != 255",
        "1 + 2 = 3", "tcp[0] + tcp[1] > 0", "udp[2:2] - udp[0:2] = 0", "port ntp", "port https", "port ftp-data", "ip[0] = 0x45 and ip[40] = 0", "not ip[60] = 0",
        "udp or ip[1000] = 0", "ip[1000] = 0 or udp", "not (ip[1000] = 0) or tcp",
        "ip[2:2] > 40 && ip[2:2] < 1000", "ip[0] & 0xf = 5 || ip[0] & 0xf = 6", "ip[1:1] >= 0 and ip[0:4] > 0",
        "ip[3] - ip[3] = 0", "0xff & ip[8] = 64", "010 = 8", "ip[2:2] * 0 = 0",
        // combinations and nesting
        "tcp and port 80", "udp or icmp", "not tcp", "! udp", "tcp && ! port 22", "tcp || udp",
        "host 198.18.0.1 and (port 80 or port 443)", "(tcp or udp) and not port 53",
        "not (host 198.18.0.1 or host 198.18.0.2)", "tcp or udp and port 53", "port 53 and tcp or udp",
        "not not tcp", "((tcp))", "(((udp) and (port 53)) or ((icmp)))", "not (not (not icmp))",
        "src net 198.18.0.0/15 and dst net 198.18.0.0/15 and (tcp[13] & 2 != 0 or udp)",
        "(ip[0] & 0xf) > 5 and tcp", "host 198.18.0.1 and (port 80) or 198.18.0.2",
        "(tcp port 80 or tcp port 443) and not src host 198.18.0.9", "icmp or (tcp and tcp[13] = 2)",
        "greater 60 and less 200 and udp", "ip and not ip multicast and not ip broadcast",
        "tcp port 80 and (tcp[tcpflags] & tcp-syn != 0 or tcp[tcpflags] & tcp-fin != 0)",
        "udp port 53 or udp port 67 or udp port 68 or udp port 123 or udp port 161",
        "not port 80 and not port 443 and not port 22 and not port 53",
    };
    static const std::vector<std::string> withLong = [] {
        // Long enough that jumps go beyond 255 instructions.
        std::vector<std::string> all = corpus;
        std::string ports = "port 1000", hosts = "host 198.18.0.1";
        for (int i = 1; i <= 60; ++i) ports += " or port " + std::to_string(1000 + 17 * i);
        for (int i = 2; i <= 40; ++i) hosts += " or host 198.18.0." + std::to_string(i);
        all.push_back("tcp[13] & tcp-syn != 0 and (" + ports + ")");
        all.push_back("not (" + hosts + ") and (udp or icmp[0] = 8)");
        all.push_back("(" + hosts + ") and not (" + ports + ")");
        return all;
    }();
    return withLong;
}

inline void PutBe16(std::vector<uint8_t>& d, size_t at, uint32_t v)
{
    d[at] = static_cast<uint8_t>(v >> 8);
    d[at + 1] = static_cast<uint8_t>(v);
}

// Generated datagrams: each protocol, header lengths 20 to 60, first and later fragments,
// varied addresses, ports, flags and types, and the first of them cut at every length.
inline std::vector<std::vector<uint8_t>> GeneratedDatagrams()
{
    std::vector<std::vector<uint8_t>> out;
    std::mt19937 random(23);
    const uint32_t addresses[] = {0xc6120001, 0xc6120002, 0xc613ffff, 0xe0000001, 0xffffffff,
                                  0x00000000, 0x0a010203, 0xac100001, 0xc0a80101, 0xc6120009};
    const uint32_t ports[] = {80, 443, 53, 1000, 2000, 1500, 0, 65535, 22, 67, 123, 1023, 50, 60};
    const uint8_t protocols[] = {6, 17, 132, 1, 2, 47, 103, 112, 50, 89};
    const uint16_t fragments[] = {0, 0, 0, 0x2000, 0x2001, 0x0005, 0x4000, 0x1fff};
    const auto pick = [&](const auto& table) { return table[random() % std::size(table)]; };
    for (int n = 0; n < 4000; ++n) {
        const uint8_t protocol = pick(protocols);
        const unsigned words = n % 5 == 0 ? 5 + random() % 11 : 5;
        const size_t header = words * 4;
        const size_t payload = random() % 3 == 0 ? random() % 8 : 8 + random() % 80;
        std::vector<uint8_t> d(header + payload);
        for (auto& b : d) b = static_cast<uint8_t>(random());
        d[0] = static_cast<uint8_t>(0x40 | words);
        d[1] = static_cast<uint8_t>(random() % 4 == 0 ? random() : 0);
        PutBe16(d, 2, random() % 8 == 0 ? static_cast<uint32_t>(random() & 0xffff) : static_cast<uint32_t>(d.size()));
        PutBe16(d, 6, pick(fragments));
        d[8] = static_cast<uint8_t>(random() % 2 ? 64 : random());
        d[9] = protocol;
        for (int i = 0; i < 2; ++i) {
            const uint32_t a = pick(addresses);
            for (int b = 0; b < 4; ++b) d[12 + 4 * i + b] = static_cast<uint8_t>(a >> (24 - 8 * b));
        }
        if (payload >= 4) {
            PutBe16(d, header, pick(ports));
            PutBe16(d, header + 2, pick(ports));
        }
        if (protocol == 6 && payload > 13) {
            d[header + 12] = static_cast<uint8_t>((5 + random() % 3) << 4);
            d[header + 13] = static_cast<uint8_t>(1u << (random() % 8) | (random() % 2 ? 0x10 : 0));
        }
        if (protocol == 1 && payload >= 2) {
            const uint8_t types[] = {0, 3, 4, 5, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
            d[header] = pick(types);
            d[header + 1] = static_cast<uint8_t>(random() % 5);
        }
        if (protocol == 2 && payload >= 1) d[header] = static_cast<uint8_t>(0x11 + random() % 4);
        out.push_back(d);
    }
    // Cut short at every length, a few of each protocol.
    const size_t whole = out.size();
    for (size_t i = 0; i < whole; i += 97)
        for (size_t length = 0; length < out[i].size(); ++length)
            out.emplace_back(out[i].begin(), out[i].begin() + static_cast<std::ptrdiff_t>(length));
    return out;
}

}  // namespace kestrine::test
