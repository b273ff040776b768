// The packet list's line store.
#include "ui/packet_lines.h"

namespace kestrine {

NodeId PacketLines::AddTopLevelLine(std::string_view text)
{
    m_text.append(text);
    m_ends.push_back(m_text.size());
    return static_cast<NodeId>(m_ends.size() - 1);
}

void PacketLines::Clear()
{
    m_text.clear();
    m_ends.clear();
}

}  // namespace kestrine
