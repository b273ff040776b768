// Filter expressions in the tcpdump capture-filter language, as it applies to IPv4
// datagrams, compiled into one classic BPF program over the datagram (offset 0 is the first
// byte of the IP header). The same program runs in the kernel on Linux and in the BPF
// interpreter (bpf.h) elsewhere, so an expression means the same everywhere.
//
// The language: host, net (with /len or mask), port, portrange, each with src, dst,
// "src or dst", "src and dst"; ip, tcp, udp, icmp, igmp, sctp and the other protocol names,
// ip proto N, proto N; less N, greater N; ip broadcast, ip multicast; ip[off:size] and
// tcp[...], udp[...], icmp[...], igmp[...] with + - * / % & | ^ << >>, len and the named
// constants (tcpflags, tcp-syn, icmptype, icmp-echo, ...) under = == != < <= > >=; and,
// &&, or, ||, not, !, parentheses; a bare value takes the qualifiers before it
// ("host 198.18.0.1 or 198.18.0.2"). "and" and "or" bind equally, left to right.
// Transport fields of a later fragment never match. Names of hosts are not looked up.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "filter/bpf.h"

namespace kestrine {

struct FilterError {
    int column = 0;       // 1-based column of the mistake in the expression
    std::string message;  // what is wrong, one line
};

// Compiles expression into program (replacing its contents). An empty expression (only
// blanks) gives an empty program: keep everything. On a mistake returns false, leaves the
// program empty and says what and where in error.
bool CompileFilter(std::string_view expression, std::vector<BpfInstruction>& program, FilterError& error);

// "column 7: ..." : the error as one line.
std::string FilterErrorText(const FilterError& error);

// Whether the program keeps the datagram; an empty program keeps everything.
inline bool FilterKeeps(const std::vector<BpfInstruction>& program, const uint8_t* datagram, uint32_t length)
{
    return program.empty() || RunBpf(program.data(), program.size(), datagram, length) != 0;
}

}  // namespace kestrine
