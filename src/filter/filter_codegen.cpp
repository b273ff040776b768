// Code generation: the condition tree becomes jumping code (every test jumps straight to
// where its outcome leads, so "and", "or" and "not" cost no instruction), values are
// computed into the accumulator with the scratch memory as a stack, and the labels are laid
// out last. A conditional jump reaches at most 255 instructions ahead; one that must go
// further jumps to a pair of unconditional jumps ("ja") placed right after it.
//
// A test whose outcome the path to it already settles (the second "IPv4?" of
// "host A and port 80", or "protocol 17?" after "protocol 6" held) is not run again: the code
// jumps straight on, and a jump to the very next instruction is left out. The loads it
// skips were made before on that path, so no datagram is refused differently.
#include <string>

#include "filter/filter_tree.h"

namespace kestrine::filter_tree {

namespace {

constexpr int ACCEPT = 0, REJECT = 1;
constexpr uint16_t LABEL = 0xffff;  // a place, not an instruction: k is the label

struct Pending {
    uint16_t code;
    uint32_t k;
    int jt = -1, jf = -1;  // labels of a conditional jump; of a "ja": jt, jf -1
};

// A comparison of a header field with a constant whose outcome is known on a path.
struct Fact {
    uint16_t size;
    bool transport;
    uint32_t offset, mask, k;
    uint16_t jump;
    bool holds;
};
using Facts = std::vector<Fact>;

class Generator {
public:
    explicit Generator(const Tree& tree) : m_tree(tree) {}

    bool Run(std::vector<BpfInstruction>& program, FilterError& error)
    {
        if (!Condition(m_tree.root, ACCEPT, REJECT, {})) {
            error = {1, "the expression needs more than 16 scratch values; simplify its arithmetic"};
            return false;
        }
        return Layout(program, error);
    }

private:
    const Tree& m_tree;
    std::vector<Pending> m_code;
    int m_labels = 2;

    int NewLabel() { return m_labels++; }
    void Place(int label) { m_code.push_back({LABEL, static_cast<uint32_t>(label)}); }
    void Emit(uint16_t code, uint32_t k = 0) { m_code.push_back({code, k}); }
    void Jump(uint16_t code, uint32_t k, int whenTrue, int whenFalse) { m_code.push_back({code, k, whenTrue, whenFalse}); }

    const Value& V(int i) const { return m_tree.values[static_cast<size_t>(i)]; }

    // Leaves value i in A; scratch words from slot on are free to use.
    bool Compute(int i, uint32_t slot)
    {
        if (slot >= bpf::MEMORY_WORDS) return false;
        const Value& v = V(i);
        switch (v.kind) {
        case Value::Constant: Emit(bpf::LD | bpf::IMM, v.constant); return true;
        case Value::Length: Emit(bpf::LD | bpf::W | bpf::LEN); return true;
        case Value::Negate:
            if (!Compute(v.left, slot)) return false;
            Emit(bpf::ALU | bpf::NEG);
            return true;
        case Value::Load: {
            const Value& offset = V(v.left);
            if (offset.kind == Value::Constant) {
                if (!v.transport) {
                    Emit(bpf::LD | v.size | bpf::ABS, offset.constant);
                } else {
                    Emit(bpf::LDX | bpf::B | bpf::MSH, 0);
                    Emit(bpf::LD | v.size | bpf::IND, offset.constant);
                }
                return true;
            }
            if (!Compute(v.left, slot)) return false;
            if (v.transport) {
                Emit(bpf::ST, slot);
                Emit(bpf::LDX | bpf::B | bpf::MSH, 0);
                Emit(bpf::LD | bpf::MEM, slot);
                Emit(bpf::ALU | bpf::ADD | bpf::X);
            }
            Emit(bpf::MISC | bpf::TAX);
            Emit(bpf::LD | v.size | bpf::IND, 0);
            return true;
        }
        case Value::Binary: {
            if (!Compute(v.left, slot)) return false;
            const Value& right = V(v.right);
            if (right.kind == Value::Constant) {
                Emit(bpf::ALU | v.op | bpf::K, right.constant);
                return true;
            }
            Emit(bpf::ST, slot);
            if (!Compute(v.right, slot + 1)) return false;
            Emit(bpf::MISC | bpf::TAX);
            Emit(bpf::LD | bpf::MEM, slot);
            Emit(bpf::ALU | v.op | bpf::X);
            return true;
        }
        }
        return false;
    }

    const filter_tree::Condition& C(int i) const { return m_tree.conditions[static_cast<size_t>(i)]; }

    // The comparison as a fact, when it compares a field at a fixed place with a constant.
    bool AsFact(const filter_tree::Condition& c, bool holds, Fact& fact) const
    {
        if (c.kind != Condition::Compare || V(c.operand).kind != Value::Constant) return false;
        const Value& v = V(c.value);
        if (v.kind != Value::Load || V(v.left).kind != Value::Constant) return false;
        fact = {v.size, v.transport, V(v.left).constant, c.mask, V(c.operand).constant, c.jump, holds};
        return true;
    }

    // What is known wherever condition i has come out as holds.
    void Learn(int i, bool holds, Facts& facts) const
    {
        const filter_tree::Condition& c = C(i);
        Fact fact;
        switch (c.kind) {
        case Condition::Not: Learn(c.first, !holds, facts); break;
        case Condition::And:
        case Condition::Or:
            // Both sides held ("and" true) or both failed ("or" false); otherwise nothing.
            if (holds == (c.kind == Condition::And)) {
                Learn(c.first, holds, facts);
                Learn(c.second, holds, facts);
            }
            break;
        case Condition::Compare:
            if (AsFact(c, holds, fact)) facts.push_back(fact);
            break;
        }
    }

    // The outcome of comparison c if facts settle it: 1 holds, 0 fails, -1 unknown.
    int Known(const filter_tree::Condition& c, const Facts& facts) const
    {
        Fact f;
        if (!AsFact(c, true, f)) return -1;
        for (const Fact& g : facts) {
            if (g.size != f.size || g.transport != f.transport || g.offset != f.offset || g.mask != f.mask) continue;
            if (g.jump == f.jump && g.k == f.k) return g.holds ? 1 : 0;
            if (g.jump == bpf::JEQ && f.jump == bpf::JEQ && g.holds) return 0;  // equal to another constant
        }
        return -1;
    }

    bool Condition(int i, int whenTrue, int whenFalse, const Facts& facts)
    {
        const filter_tree::Condition& c = C(i);
        switch (c.kind) {
        case Condition::And:
        case Condition::Or: {
            const bool isAnd = c.kind == Condition::And;
            const int next = NewLabel();
            if (!Condition(c.first, isAnd ? next : whenTrue, isAnd ? whenFalse : next, facts)) return false;
            Place(next);
            Facts after = facts;
            Learn(c.first, isAnd, after);
            return Condition(c.second, whenTrue, whenFalse, after);
        }
        case Condition::Not: return Condition(c.first, whenFalse, whenTrue, facts);
        case Condition::Compare: {
            if (const int known = Known(c, facts); known >= 0) {
                m_code.push_back({bpf::JMP | bpf::JA, 0, known ? whenTrue : whenFalse, -1});
                return true;
            }
            if (!Compute(c.value, 0)) return false;
            if (c.mask != 0xffffffff) Emit(bpf::ALU | bpf::AND | bpf::K, c.mask);
            const Value& operand = V(c.operand);
            if (operand.kind == Value::Constant) {
                Jump(bpf::JMP | c.jump | bpf::K, operand.constant, whenTrue, whenFalse);
                return true;
            }
            Emit(bpf::ST, 0);
            if (!Compute(c.operand, 1)) return false;
            Emit(bpf::MISC | bpf::TAX);
            Emit(bpf::LD | bpf::MEM, 0);
            Jump(bpf::JMP | c.jump | bpf::X, 0, whenTrue, whenFalse);
            return true;
        }
        }
        return false;
    }

    static bool Conditional(const Pending& p) { return p.code != LABEL && p.jt >= 0 && p.jf >= 0; }
    static bool Always(const Pending& p) { return p.code == (bpf::JMP | bpf::JA) && p.jt >= 0 && p.jf < 0; }

    // Drops each "ja" whose target is the next instruction anyway.
    void DropJumpsToNext()
    {
        std::vector<Pending> kept;
        kept.reserve(m_code.size());
        for (size_t i = 0; i < m_code.size(); ++i) {
            if (Always(m_code[i])) {
                size_t j = i + 1;
                bool next = false;
                for (; j < m_code.size() && m_code[j].code == LABEL; ++j) next |= static_cast<int>(m_code[j].k) == m_code[i].jt;
                if (next || (j == m_code.size() && m_code[i].jt == ACCEPT)) continue;
            }
            kept.push_back(m_code[i]);
        }
        m_code.swap(kept);
    }

    bool Layout(std::vector<BpfInstruction>& program, FilterError& error)
    {
        DropJumpsToNext();
        std::vector<uint8_t> far(m_code.size(), 0);  // laid out with its two "ja"
        std::vector<size_t> where(m_code.size(), 0);
        std::vector<size_t> label(static_cast<size_t>(m_labels), 0);
        size_t total = 0;
        for (bool changed = true; changed;) {
            size_t at = 0;
            for (size_t i = 0; i < m_code.size(); ++i) {
                if (m_code[i].code == LABEL) {
                    label[m_code[i].k] = at;
                    continue;
                }
                where[i] = at;
                at += far[i] ? 3 : 1;
            }
            label[ACCEPT] = at;
            label[REJECT] = at + 1;
            total = at + 2;
            if (total > bpf::MAX_INSTRUCTIONS) {
                error = {1, "the expression is too long: " + std::to_string(total) + " instructions, at most " +
                                std::to_string(bpf::MAX_INSTRUCTIONS)};
                return false;
            }
            changed = false;
            for (size_t i = 0; i < m_code.size(); ++i) {
                if (!Conditional(m_code[i]) || far[i]) continue;
                const size_t t = label[static_cast<size_t>(m_code[i].jt)] - where[i] - 1;
                const size_t f = label[static_cast<size_t>(m_code[i].jf)] - where[i] - 1;
                if (t > 255 || f > 255) far[i] = changed = true;
            }
        }
        program.clear();
        program.reserve(total);
        for (size_t i = 0; i < m_code.size(); ++i) {
            const Pending& p = m_code[i];
            if (p.code == LABEL) continue;
            if (Always(p)) {
                program.push_back({p.code, 0, 0, static_cast<uint32_t>(label[static_cast<size_t>(p.jt)] - where[i] - 1)});
                continue;
            }
            if (!Conditional(p)) {
                program.push_back({p.code, 0, 0, p.k});
                continue;
            }
            const size_t t = label[static_cast<size_t>(p.jt)], f = label[static_cast<size_t>(p.jf)];
            const size_t at = where[i];
            if (!far[i]) {
                program.push_back({p.code, static_cast<uint8_t>(t - at - 1), static_cast<uint8_t>(f - at - 1), p.k});
            } else {
                program.push_back({p.code, 0, 1, p.k});
                program.push_back({bpf::JMP | bpf::JA, 0, 0, static_cast<uint32_t>(t - (at + 1) - 1)});
                program.push_back({bpf::JMP | bpf::JA, 0, 0, static_cast<uint32_t>(f - (at + 2) - 1)});
            }
        }
        program.push_back({bpf::RET | bpf::K, 0, 0, bpf::KEEP_ALL});
        program.push_back({bpf::RET | bpf::K, 0, 0, 0});
        return true;
    }
};

}  // namespace

bool Generate(const Tree& tree, std::vector<BpfInstruction>& program, FilterError& error)
{
    return Generator(tree).Run(program, error);
}

}  // namespace kestrine::filter_tree
