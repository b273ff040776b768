// The packet list's display filter: which of the listed packets a compiled filter
// expression keeps, gathered with their own index numbers, so that the list, Find, Copy
// and Save work on what is shown while each line still names its packet. Free of the
// window system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/packet_record.h"
#include "filter/bpf.h"

namespace kestrine {

class DisplayFilter {
public:
    // Sets the program (empty: none, every packet shown) and forgets what was gathered.
    void SetProgram(std::vector<BpfInstruction> program);
    bool Active() const { return !m_program.empty(); }
    // Forgets what was gathered (a new list), keeping the program.
    void Restart();
    // Room for that many kept packets: gathering up to them moves none of those kept
    // before, so a search over them may run while a capture's ticks add more.
    void Reserve(size_t count);
    // Gathers the kept packets among records[from, to), numbered by their position.
    void Gather(const PacketRecord* records, size_t from, size_t to);
    // Gathers one packet when the program keeps it; whether it did.
    bool Offer(const PacketRecord& record, int64_t number);

    // The kept packets, in order, and the index number of each.
    const std::vector<PacketRecord>& Records() const { return m_records; }
    const std::vector<int64_t>& Numbers() const { return m_numbers; }

private:
    std::vector<BpfInstruction> m_program;
    std::vector<PacketRecord> m_records;
    std::vector<int64_t> m_numbers;
};

}  // namespace kestrine
