// Find over the packet list: the lines, and with "Search decoded details" every packet's
// decoded tree and its payload read as one text (so text that the dump splits across two
// of its lines is found too). Case is ignored for the letters A to Z. Runs in slices.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "common/packet_record.h"
#include "decode/detail_tree.h"
#include "ui/long_operation.h"
#include "ui/packet_lines.h"

namespace kestrine {

// Case-insensitive containment of one needle in texts (sixteen places compared at a time,
// or Horspool's skips over folded bytes where SSE2 is not there).
class FoldedText {
public:
    explicit FoldedText(std::string_view needle);
    bool Empty() const { return m_needle.empty(); }
    size_t Size() const { return m_needle.size(); }
    bool In(std::string_view text) const { return Find(text, 0) != std::string_view::npos; }
    // Where the needle first occurs in text at or after from; npos when it does not.
    size_t Find(std::string_view text, size_t from) const;

private:
    std::string m_needle;  // in lower case
    // By the byte under the needle's last letter: how far the needle may move on (0 where
    // the letters match), and how far after a miss there.
    std::array<uint32_t, 256> m_skip{};
    uint32_t m_shift = 1;
};

// Whether the packet's decoded details (the sections under its summary line, which is the
// packet's list line and searched as that), or its payload read across the dump's lines,
// hold the needle. tree and joined are scratch space kept between packets.
bool DetailsHold(const FoldedText& needle, const PacketRecord& record, DetailTree& tree, std::string& joined);

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
