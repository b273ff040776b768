// The packet list's display filter.
#include "ui/display_filter.h"

#include <utility>

#include "filter/filter_expression.h"

namespace kestrine {

void DisplayFilter::SetProgram(std::vector<BpfInstruction> program)
{
    m_program = std::move(program);
    Restart();
}

void DisplayFilter::Restart()
{
    m_records.clear();
    m_numbers.clear();
}

void DisplayFilter::Reserve(size_t count)
{
    m_records.reserve(count);
    m_numbers.reserve(count);
}

void DisplayFilter::Gather(const PacketRecord* records, size_t from, size_t to)
{
    for (size_t i = from; i < to; ++i) Offer(records[i], static_cast<int64_t>(i));
}

bool DisplayFilter::Offer(const PacketRecord& record, int64_t number)
{
    const uint32_t length = record.length > 0 ? static_cast<uint32_t>(record.length) : 0;
    if (!FilterKeeps(m_program, record.data, length)) return false;
    m_records.push_back(record);
    m_numbers.push_back(number);
    return true;
}

}  // namespace kestrine
