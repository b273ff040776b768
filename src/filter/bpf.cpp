// The classic BPF interpreter: one pass forward (jumps only go forward), every load checked
// against the datagram's end, the scratch memory cleared for each run.
#include "filter/bpf.h"

namespace kestrine {

namespace {

// Reads size bytes big-endian at packet[offset] into value; false when they are not all there.
inline bool Load(const uint8_t* packet, uint32_t length, uint64_t offset, uint16_t size, uint32_t& value)
{
    switch (size) {
    case bpf::W:
        if (offset + 4 > length) return false;
        value = uint32_t{packet[offset]} << 24 | uint32_t{packet[offset + 1]} << 16 |
                uint32_t{packet[offset + 2]} << 8 | packet[offset + 3];
        return true;
    case bpf::H:
        if (offset + 2 > length) return false;
        value = uint32_t{packet[offset]} << 8 | packet[offset + 1];
        return true;
    case bpf::B:
        if (offset + 1 > length) return false;
        value = packet[offset];
        return true;
    default: return false;
    }
}

// One ALU operation; false for a division or remainder by zero.
inline bool Operate(uint16_t op, uint32_t& a, uint32_t operand)
{
    switch (op) {
    case bpf::ADD: a += operand; return true;
    case bpf::SUB: a -= operand; return true;
    case bpf::MUL: a *= operand; return true;
    case bpf::DIV:
        if (operand == 0) return false;
        a /= operand;
        return true;
    case bpf::MOD:
        if (operand == 0) return false;
        a %= operand;
        return true;
    case bpf::OR: a |= operand; return true;
    case bpf::AND: a &= operand; return true;
    case bpf::XOR: a ^= operand; return true;
    case bpf::LSH: a = operand < 32 ? a << operand : 0; return true;
    case bpf::RSH: a = operand < 32 ? a >> operand : 0; return true;
    case bpf::NEG: a = 0u - a; return true;
    default: return false;
    }
}

}  // namespace

uint32_t RunBpf(const BpfInstruction* code, size_t count, const uint8_t* packet, uint32_t length,
                uint32_t wireLength)
{
    uint32_t a = 0, x = 0;
    uint32_t memory[bpf::MEMORY_WORDS] = {};
    for (size_t pc = 0; pc < count; ++pc) {
        const BpfInstruction& in = code[pc];
        const uint16_t size = in.code & 0x18;
        switch (in.code & 0x07) {
        case bpf::LD:
            switch (in.code & 0xe0) {
            case bpf::IMM: a = in.k; break;
            case bpf::ABS:
                if (!Load(packet, length, in.k, size, a)) return 0;
                break;
            case bpf::IND:
                if (!Load(packet, length, uint64_t{x} + in.k, size, a)) return 0;
                break;
            case bpf::MEM:
                if (in.k >= bpf::MEMORY_WORDS) return 0;
                a = memory[in.k];
                break;
            case bpf::LEN: a = wireLength; break;
            default: return 0;
            }
            break;
        case bpf::LDX:
            switch (in.code & 0xe0) {
            case bpf::IMM: x = in.k; break;
            case bpf::MEM:
                if (in.k >= bpf::MEMORY_WORDS) return 0;
                x = memory[in.k];
                break;
            case bpf::LEN: x = wireLength; break;
            case bpf::MSH:
                if (size != bpf::B || in.k >= length) return 0;
                x = 4u * (packet[in.k] & 0xfu);
                break;
            default: return 0;
            }
            break;
        case bpf::ST:
        case bpf::STX:
            if (in.k >= bpf::MEMORY_WORDS) return 0;
            memory[in.k] = (in.code & 0x07) == bpf::ST ? a : x;
            break;
        case bpf::ALU:
            if (!Operate(in.code & 0xf0, a, (in.code & bpf::X) ? x : in.k)) return 0;
            break;
        case bpf::JMP: {
            const uint16_t op = in.code & 0xf0;
            if (op == bpf::JA) {
                if (in.k >= count - pc) return 0;
                pc += in.k;
                break;
            }
            const uint32_t operand = (in.code & bpf::X) ? x : in.k;
            bool taken;
            switch (op) {
            case bpf::JEQ: taken = a == operand; break;
            case bpf::JGT: taken = a > operand; break;
            case bpf::JGE: taken = a >= operand; break;
            case bpf::JSET: taken = (a & operand) != 0; break;
            default: return 0;
            }
            pc += taken ? in.jt : in.jf;
            break;
        }
        case bpf::RET: return (in.code & 0x18) == bpf::RET_A ? a : in.k;
        case bpf::MISC:
            if ((in.code & 0xf8) == bpf::TAX) x = a;
            else if ((in.code & 0xf8) == bpf::TXA) a = x;
            else return 0;
            break;
        }
    }
    return 0;  // ran off the end
}

}  // namespace kestrine
