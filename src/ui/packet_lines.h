// The packet list's lines, kept by whichever realisation shows them. Text lines (the
// column header, a live capture's summaries) lie back to back in one buffer, so a tick that
// adds thousands of lines costs no allocation per line. A file's packets follow as record
// lines, formatted only when a line is read: a million of them cost their records, not
// their text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "common/packet_record.h"
#include "decode/detail_tree.h"

namespace kestrine {

// Room for one formatted line.
struct LineBuffer {
    char text[256];
};

class PacketLines final : public SummaryTarget {
public:
    // Appends a text line (before any record lines).
    NodeId AddTopLevelLine(std::string_view text) override;
    // Appends one line per record, the record's position among them being its index unless
    // numbers gives each its own (a filtered list). Records and numbers stay the caller's
    // and must outlive the lines (until Clear).
    void AddRecordLines(const PacketRecord* records, size_t count, const int64_t* numbers = nullptr);
    void Clear();

    size_t Size() const { return m_ends.size() + m_recordCount; }
    // The text of line i; a record line is formatted into buffer, valid until its next use.
    std::string_view Line(size_t i, LineBuffer& buffer) const;

private:
    std::string m_text;
    std::vector<size_t> m_ends;  // end of each text line in m_text
    const PacketRecord* m_records = nullptr;
    const int64_t* m_numbers = nullptr;
    size_t m_recordCount = 0;
};

}  // namespace kestrine
