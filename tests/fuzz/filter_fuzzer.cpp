// libFuzzer target: the bytes up to the first NUL are a filter expression, the rest a
// datagram. The compiler must not crash or hang, and a program it gives must be at most
// 4096 instructions, every jump inside it, ending in a return; the program and a few fixed
// ones then run over the datagram, held in a buffer of exactly its size, so a read outside
// it is a sanitizer finding.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "filter/filter_expression.h"

namespace {

using namespace kestrine;

bool WellFormed(const std::vector<BpfInstruction>& program)
{
    const size_t n = program.size();
    if (n == 0 || n > bpf::MAX_INSTRUCTIONS || (program[n - 1].code & 0x07) != bpf::RET) return false;
    for (size_t i = 0; i < n; ++i) {
        const BpfInstruction& in = program[i];
        if ((in.code & 0x07) != bpf::JMP) continue;
        if ((in.code & 0xf0) == bpf::JA ? in.k >= n - i - 1 : (in.jt >= n - i - 1 || in.jf >= n - i - 1)) return false;
    }
    return true;
}

const std::vector<std::vector<BpfInstruction>>& Fixed()
{
    static const std::vector<std::vector<BpfInstruction>> programs = [] {
        std::vector<std::vector<BpfInstruction>> all;
        for (const char* e : {"tcp[tcpflags] & tcp-syn != 0 and port 80", "ip[ip[0] & 0xf:4] = tcp[udp[0]:2]",
                              "icmp[icmptype] = icmp-echo or ip[2:2] / (ip[1] & 3) > len",
                              "tcp[((tcp[12] & 0xf0) >> 2):4] = 0x47455420", "net 198.18.0.0/15 and less 100"}) {
            FilterError error;
            all.emplace_back();
            if (!CompileFilter(e, all.back(), error)) std::abort();
        }
        return all;
    }();
    return programs;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const uint8_t* nul = static_cast<const uint8_t*>(std::memchr(data, 0, size));
    const size_t textSize = nul ? static_cast<size_t>(nul - data) : size;
    const std::string_view expression(reinterpret_cast<const char*>(data), textSize);
    const size_t length = nul ? size - textSize - 1 : 0;
    std::unique_ptr<uint8_t[]> datagram(new uint8_t[length == 0 ? 1 : length]);
    if (length) std::memcpy(datagram.get(), nul + 1, length);

    std::vector<BpfInstruction> program;
    FilterError error;
    if (CompileFilter(expression, program, error)) {
        if (!program.empty() && !WellFormed(program)) std::abort();
        const uint32_t verdict = RunBpf(program.data(), program.size(), datagram.get(), static_cast<uint32_t>(length));
        if (!program.empty() && verdict != 0 && verdict != bpf::KEEP_ALL) std::abort();
    } else if (!program.empty() || error.column < 1 || static_cast<size_t>(error.column) > textSize + 1 ||
               error.message.empty()) {
        std::abort();
    }
    for (const auto& fixed : Fixed()) RunBpf(fixed.data(), fixed.size(), datagram.get(), static_cast<uint32_t>(length));
    return 0;
}
