// The packet list's lines, kept by whichever realisation shows them: all texts back to
// back in one buffer, so a tick that adds thousands of lines costs no allocation per line.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "decode/detail_tree.h"

namespace kestrine {

class PacketLines final : public SummaryTarget {
public:
    NodeId AddTopLevelLine(std::string_view text) override;
    void Clear();
    size_t Size() const { return m_ends.size(); }
    std::string_view Line(size_t i) const
    {
        const size_t begin = i == 0 ? 0 : m_ends[i - 1];
        return std::string_view(m_text).substr(begin, m_ends[i] - begin);
    }

private:
    std::string m_text;
    std::vector<size_t> m_ends;  // end of each line in m_text
};

}  // namespace kestrine
