// Find over the packet list: the lines, and with "Search decoded details" every packet's
// decoded tree and its payload read as one text (so text that the dump splits across two
// of its lines is found too). Case is ignored for the letters A to Z. Runs in slices.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "common/packet_record.h"
#include "decode/detail_tree.h"
#include "ui/long_operation.h"
#include "ui/packet_lines.h"

namespace kestrine {

// Case-insensitive containment of one needle in texts.
class FoldedText {
public:
    explicit FoldedText(std::string_view needle);
    bool Empty() const { return m_needle.empty(); }
    bool In(std::string_view text) const;

private:
    std::string m_needle;  // in lower case
};

// Whether the packet's decoded tree, or its payload read across the dump's lines, holds the
// needle. tree and joined are scratch space kept between packets.
bool DetailsHold(const FoldedText& needle, const PacketRecord& record, int64_t index, DetailTree& tree,
                 std::string& joined);

class PacketSearch final : public LongOperation {
public:
    // Searches lines from the one after current (before it, going back) around to current
    // itself, skipping the column header line (row 0). Row r > 0 shows the packet at
    // records[r - 1] when there is one. The lines and records must stay as they are until
    // the search ends.
    PacketSearch(const PacketLines& lines, const PacketRecord* records, size_t recordCount, std::string_view text,
                 bool details, bool forward, size_t current);

    bool Step(double seconds) override;
    int Percent() const override { return PercentOf(m_step - 1, m_size); }
    // The first matching row, once done; none when no line matched.
    std::optional<size_t> Match() const { return m_match; }

private:
    bool Matches(size_t row);

    const PacketLines& m_lines;
    const PacketRecord* m_records;
    size_t m_recordCount;
    FoldedText m_needle;
    bool m_details;
    bool m_forward;
    size_t m_current;
    size_t m_size;
    size_t m_step = 1;  // the next line to look at, counted from current
    std::optional<size_t> m_match;
    LineBuffer m_buffer;
    DetailTree m_tree;
    std::string m_joined;
};

}  // namespace kestrine
