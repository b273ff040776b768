// Classic BPF programs: the instruction layout the Linux kernel takes (struct sock_filter),
// the opcodes the filter compiler emits, and an interpreter of our own that runs a program
// over a datagram on every platform. The interpreter never reads outside the datagram: a
// load past its end refuses it, as the kernel does, and so does a division by zero.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrine {

struct BpfInstruction {
    uint16_t code;
    uint8_t jt;
    uint8_t jf;
    uint32_t k;
};
static_assert(sizeof(BpfInstruction) == 8, "the kernel's struct sock_filter layout");

namespace bpf {
// Instruction classes.
inline constexpr uint16_t LD = 0x00, LDX = 0x01, ST = 0x02, STX = 0x03, ALU = 0x04, JMP = 0x05, RET = 0x06,
                          MISC = 0x07;
// Load sizes and modes.
inline constexpr uint16_t W = 0x00, H = 0x08, B = 0x10;
inline constexpr uint16_t IMM = 0x00, ABS = 0x20, IND = 0x40, MEM = 0x60, LEN = 0x80, MSH = 0xa0;
// ALU operations.
inline constexpr uint16_t ADD = 0x00, SUB = 0x10, MUL = 0x20, DIV = 0x30, OR = 0x40, AND = 0x50, LSH = 0x60,
                          RSH = 0x70, NEG = 0x80, MOD = 0x90, XOR = 0xa0;
// Jumps.
inline constexpr uint16_t JA = 0x00, JEQ = 0x10, JGT = 0x20, JGE = 0x30, JSET = 0x40;
// Operand source: the constant k or the X register; RET of A.
inline constexpr uint16_t K = 0x00, X = 0x08, RET_A = 0x10;
// MISC operations.
inline constexpr uint16_t TAX = 0x00, TXA = 0x80;

inline constexpr uint32_t MEMORY_WORDS = 16;   // scratch memory M[0..15]
inline constexpr size_t MAX_INSTRUCTIONS = 4096;  // the kernel's limit on a program
inline constexpr uint32_t KEEP_ALL = 0x40000;   // return value that keeps a whole datagram
}  // namespace bpf

// Runs the program over packet[0..length); the result is the number of bytes to keep, 0 to
// refuse. A malformed program (a jump or a scratch word out of range, an unknown opcode,
// no return at its end) refuses every datagram. wireLength is what "len" loads.
uint32_t RunBpf(const BpfInstruction* code, size_t count, const uint8_t* packet, uint32_t length,
                uint32_t wireLength);
inline uint32_t RunBpf(const BpfInstruction* code, size_t count, const uint8_t* packet, uint32_t length)
{
    return RunBpf(code, count, packet, length, length);
}

}  // namespace kestrine
