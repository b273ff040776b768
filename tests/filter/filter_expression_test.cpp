// The filter compiler's refusals (what and where), its limits (long jumps, program size,
// scratch memory, nesting), and the interpreter's refusals of loads past the datagram and of
// division by zero. Verdicts themselves are checked against libpcap (libpcap_filter_test.cpp).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filter/filter_expression.h"

namespace kestrine {
namespace {

struct Refusal {
    const char* expression;
    int column;
    const char* says;
};

TEST(FilterExpression, RefusesWithWhatAndWhere)
{
    const Refusal refusals[] = {
        {"ether host 198.18.0.1", 1, "'ether' does not apply to IPv4 datagrams"},
        {"tcp and ip6", 9, "'ip6' does not apply to IPv4 datagrams"},
        {"host 198.18.0.1 and vlan", 21, "'vlan' does not apply"},
        {"arp", 1, "'arp' does not apply"},
        {"broadcast", 1, "write 'ip broadcast'"},
        {"port 70000", 6, "above 65535"},
        {"tcp port", 9, "expected a port, found the end"},
        {"(tcp or udp", 12, "expected ')'"},
        {"tcp)", 4, "expected 'and', 'or' or the end, found ')'"},
        {"ip[0] = ", 9, "expected a number or a packet field"},
        {"ip[0:3] = 1", 6, "1, 2 or 4"},
        {"net 198.18.0.1/15", 5, "bits set outside its network mask"},
        {"net 198.18.0.0/33", 16, "mask length"},
        {"host 198.18.0.0/16", 16, "'net' only"},
        {"ip[0] / 0 = 1", 7, "division by zero"},
        {"ip[0] << 32 = 0", 7, "more than 31 bits"},
        {"tcp @ udp", 5, "unexpected character '@'"},
        {"host foo", 6, "unknown host 'foo'"},
        {"tcp and and udp", 9, "expected a primitive"},
        {"udp port http", 10, "'http' is tcp only"},
        {"ip proto 300", 10, "0 to 255"},
        {"udp host 198.18.0.1", 10, "'host' goes with 'ip' only"},
        {"198.18.0.1", 1, "follows no qualifier"},
        {"tcp or 80", 8, "follows no qualifier"},
        {"len", 4, "expected a comparison"},
        {"ip[0] > 99999999999", 9, "does not fit in 32 bits"},
        {"host fe80::1", 6, "IPv6"},
    };
    for (const Refusal& r : refusals) {
        std::vector<BpfInstruction> program{{0, 0, 0, 0}};
        FilterError error;
        EXPECT_FALSE(CompileFilter(r.expression, program, error)) << r.expression;
        EXPECT_TRUE(program.empty()) << r.expression;
        EXPECT_EQ(error.column, r.column) << r.expression << ": " << error.message;
        EXPECT_NE(error.message.find(r.says), std::string::npos) << r.expression << ": " << error.message;
        EXPECT_EQ(FilterErrorText(error), "column " + std::to_string(r.column) + ": " + error.message);
        EXPECT_EQ(error.message.find('\n'), std::string::npos);
    }
}

TEST(FilterExpression, BlankKeepsEverything)
{
    std::vector<BpfInstruction> program{{0, 0, 0, 0}};
    FilterError error;
    EXPECT_TRUE(CompileFilter(" \t ", program, error));
    EXPECT_TRUE(program.empty());
    const uint8_t byte = 0;
    EXPECT_TRUE(FilterKeeps(program, &byte, 0));
}

// A TCP datagram from 198.18.0.1:source to 198.18.0.2:80 with the given flags.
std::vector<uint8_t> Tcp(uint16_t source, uint8_t flags = 0x02)
{
    std::vector<uint8_t> d = {0x45, 0, 0, 40, 0, 0, 0x40, 0, 64, 6, 0, 0, 198, 18, 0, 1, 198, 18, 0, 2,
                              static_cast<uint8_t>(source >> 8), static_cast<uint8_t>(source), 0, 80,
                              0, 0, 0, 0, 0, 0, 0, 0, 0x50, flags, 0, 0, 0, 0, 0, 0};
    return d;
}

bool Keeps(const std::string& expression, const std::vector<uint8_t>& d)
{
    std::vector<BpfInstruction> program;
    FilterError error;
    EXPECT_TRUE(CompileFilter(expression, program, error)) << FilterErrorText(error);
    return FilterKeeps(program, d.data(), static_cast<uint32_t>(d.size()));
}

std::string Ports(int from, int to)
{
    std::string e = "port " + std::to_string(from);
    for (int p = from + 1; p <= to; ++p) e += " or port " + std::to_string(p);
    return e;
}

TEST(FilterExpression, JumpsBeyond255InstructionsGoThroughJa)
{
    const std::string expression = "tcp[13] & tcp-syn != 0 and (" + Ports(1000, 1060) + ")";
    std::vector<BpfInstruction> program;
    FilterError error;
    ASSERT_TRUE(CompileFilter(expression, program, error)) << FilterErrorText(error);
    ASSERT_GT(program.size(), 300u);
    bool ja = false;
    for (const BpfInstruction& in : program) ja |= in.code == (bpf::JMP | bpf::JA);
    EXPECT_TRUE(ja);
    const auto run = [&](const std::vector<uint8_t>& d) {
        return RunBpf(program.data(), program.size(), d.data(), static_cast<uint32_t>(d.size())) != 0;
    };
    EXPECT_TRUE(run(Tcp(1000)));
    EXPECT_TRUE(run(Tcp(1060)));
    EXPECT_FALSE(run(Tcp(1061)));
    EXPECT_FALSE(run(Tcp(1030, 0x10)));  // no SYN: the far false target
}

TEST(FilterExpression, LimitsAreRefusedNotOverrun)
{
    std::vector<BpfInstruction> program;
    FilterError error;
    EXPECT_FALSE(CompileFilter(Ports(1, 400), program, error));
    EXPECT_NE(error.message.find("at most 4096"), std::string::npos) << error.message;

    std::string deep = "ip[0]";
    for (int i = 1; i < 20; ++i) deep = "ip[" + std::to_string(i) + "] + (" + deep + ")";
    EXPECT_FALSE(CompileFilter(deep + " = 0", program, error));
    EXPECT_NE(error.message.find("scratch"), std::string::npos) << error.message;
    std::string shallow = "ip[0]";
    for (int i = 1; i < 15; ++i) shallow = "ip[" + std::to_string(i) + "] + (" + shallow + ")";
    EXPECT_TRUE(CompileFilter(shallow + " = 0", program, error)) << FilterErrorText(error);

    EXPECT_FALSE(CompileFilter(std::string(300, '(') + "tcp" + std::string(300, ')'), program, error));
    EXPECT_NE(error.message.find("nested too deeply"), std::string::npos) << error.message;
    EXPECT_FALSE(CompileFilter(std::string(300, '!') + "tcp", program, error));
}

// Where libpcap's arithmetic keeps only its left operand's header test, ours tests both:
// a TCP field is never read from a UDP datagram.
TEST(FilterExpression, ArithmeticTestsTheHeadersOfBothOperands)
{
    std::vector<uint8_t> udp = Tcp(1000);
    udp[9] = 17;
    EXPECT_TRUE(Keeps("ip[0] + tcp[0] > 0", Tcp(1000)));
    EXPECT_FALSE(Keeps("ip[0] + tcp[0] > 0", udp));
    EXPECT_TRUE(Keeps("not ip[0] + tcp[0] > 0", udp));
}

TEST(BpfInterpreter, LoadsPastTheEndAndDivisionByZeroRefuse)
{
    using namespace bpf;
    const uint8_t d[4] = {0x45, 1, 2, 3};
    const auto run = [&](std::vector<BpfInstruction> p, uint32_t length = 4) {
        return RunBpf(p.data(), p.size(), d, length);
    };
    const BpfInstruction keep = {RET | K, 0, 0, 7};
    EXPECT_EQ(run({{LD | W | ABS, 0, 0, 0}, {RET | RET_A, 0, 0, 0}}), 0x45010203u);
    EXPECT_EQ(run({{LD | W | ABS, 0, 0, 1}, keep}), 0u);
    EXPECT_EQ(run({{LD | H | ABS, 0, 0, 3}, keep}), 0u);
    EXPECT_EQ(run({{LD | B | ABS, 0, 0, 0xffffffff}, keep}), 0u);
    EXPECT_EQ(run({{LDX | IMM, 0, 0, 0xffffffff}, {LD | B | IND, 0, 0, 1}, keep}), 0u);
    EXPECT_EQ(run({{LDX | B | MSH, 0, 0, 4}, keep}), 0u);
    EXPECT_EQ(run({{LDX | B | MSH, 0, 0, 0}, {MISC | TXA, 0, 0, 0}, {RET | RET_A, 0, 0, 0}}), 20u);
    EXPECT_EQ(run({{LD | B | ABS, 0, 0, 0}, keep}, 0), 0u);
    EXPECT_EQ(run({{LD | IMM, 0, 0, 9}, {LDX | IMM, 0, 0, 0}, {ALU | DIV | X, 0, 0, 0}, keep}), 0u);
    EXPECT_EQ(run({{LD | IMM, 0, 0, 9}, {LDX | IMM, 0, 0, 0}, {ALU | MOD | X, 0, 0, 0}, keep}), 0u);
    EXPECT_EQ(run({{LD | IMM, 0, 0, 9}, {LDX | IMM, 0, 0, 33}, {ALU | LSH | X, 0, 0, 0}, {RET | RET_A, 0, 0, 0}}), 0u);
    // Malformed programs refuse: a jump or a scratch word out of range, no return.
    EXPECT_EQ(run({{JMP | JA, 0, 0, 1}, keep}), 0u);
    EXPECT_EQ(run({{JMP | JEQ | K, 5, 5, 0}, keep}), 0u);
    EXPECT_EQ(run({{ST, 0, 0, 16}, keep}), 0u);
    EXPECT_EQ(run({{LD | IMM, 0, 0, 1}}), 0u);
    EXPECT_EQ(run({{LD | W | LEN, 0, 0, 0}, {RET | RET_A, 0, 0, 0}}), 4u);
    EXPECT_EQ(RunBpf(nullptr, 0, d, 4), 0u);
}

}  // namespace
}  // namespace kestrine
