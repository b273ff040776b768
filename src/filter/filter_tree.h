// Inside the filter compiler: the parsed expression as a tree of tests, between the parser
// (filter_parser.cpp) and the code generator (filter_codegen.cpp). Every primitive is
// already spelt out as comparisons of header fields, so the generator knows nothing of the
// language.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "filter/filter_expression.h"

namespace kestrine::filter_tree {

// A value computed into the accumulator.
struct Value {
    enum Kind : uint8_t { Constant, Length, Load, Binary, Negate } kind = Constant;
    uint32_t constant = 0;   // Constant
    uint16_t size = 0;       // Load: bpf::B, bpf::H or bpf::W
    bool transport = false;  // Load: counted from the end of the IP header
    uint16_t op = 0;         // Binary: the ALU operation
    int left = -1;           // Load: the offset; Binary: the left operand
    int right = -1;          // Binary: the right operand
};

// A condition; leaves jump on a comparison of the accumulator.
struct Condition {
    enum Kind : uint8_t { And, Or, Not, Compare } kind = Compare;
    int first = -1, second = -1;  // And/Or: both sides; Not: first
    // Compare: value (an index into values), optionally ANDed with mask, against operand
    // (an index into values) with jump (bpf::JEQ, JGT, JGE or JSET).
    int value = -1;
    uint32_t mask = 0xffffffff;
    int operand = -1;
    uint16_t jump = 0;
};

struct Tree {
    std::vector<Value> values;
    std::vector<Condition> conditions;
    int root = -1;
};

// Parses expression (not empty) into tree; false with error on a mistake.
bool Parse(std::string_view expression, Tree& tree, FilterError& error);

// Generates the program for tree; false with error when it cannot be done (too large, too
// deep for the scratch memory).
bool Generate(const Tree& tree, std::vector<BpfInstruction>& program, FilterError& error);

}  // namespace kestrine::filter_tree
