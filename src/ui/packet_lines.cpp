// The packet list's line store.
#include "ui/packet_lines.h"

#include "decode/summary.h"

namespace kestrine {

NodeId PacketLines::AddTopLevelLine(std::string_view text)
{
    m_text.append(text);
    m_ends.push_back(m_text.size());
    return static_cast<NodeId>(m_ends.size() - 1);
}

void PacketLines::AddRecordLines(const PacketRecord* records, size_t count, const int64_t* numbers)
{
    m_records = records;
    m_numbers = numbers;
    m_recordCount = count;
}

void PacketLines::Clear()
{
    m_text.clear();
    m_ends.clear();
    m_records = nullptr;
    m_numbers = nullptr;
    m_recordCount = 0;
}

std::string_view PacketLines::Line(size_t i, LineBuffer& buffer) const
{
    if (i < m_ends.size()) {
        const size_t begin = i == 0 ? 0 : m_ends[i - 1];
        return std::string_view(m_text).substr(begin, m_ends[i] - begin);
    }
    const size_t record = i - m_ends.size();
    const int n = FormatSummaryLine(m_records[record], m_numbers ? m_numbers[record] : static_cast<int64_t>(record), buffer.text, sizeof buffer.text);
    return std::string_view(buffer.text, static_cast<size_t>(n));
}

}  // namespace kestrine
