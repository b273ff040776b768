// One pass over the bytes with a capped stack of group states: every byte is looked at a
// constant number of times, so no input shape makes the reader slow.
#include "ui/rtf_reader.h"

#include <algorithm>
#include <cstdint>

namespace kestrine {
namespace {

constexpr int64_t MAX_PARAMETER = 1'000'000'000;  // numeric parameters are clamped to +-this
constexpr char16_t LINE_SEPARATOR = u'\u2028';
constexpr char16_t NO_BREAK_SPACE = u'\u00A0';
constexpr char16_t NON_BREAKING_HYPHEN = u'\u2011';
constexpr char16_t REPLACEMENT_CHARACTER = u'\uFFFD';

// Code page 1252 at 0x80-0x9F. The five unassigned bytes keep their own value, as Windows
// converts them; 0xA0-0xFF are the same code points as Latin-1.
constexpr char16_t CP1252_HIGH[32] = {
    u'\u20AC', u'\u0081', u'\u201A', u'\u0192', u'\u201E', u'\u2026', u'\u2020', u'\u2021',
    u'\u02C6', u'\u2030', u'\u0160', u'\u2039', u'\u0152', u'\u008D', u'\u017D', u'\u008F',
    u'\u0090', u'\u2018', u'\u2019', u'\u201C', u'\u201D', u'\u2022', u'\u2013', u'\u2014',
    u'\u02DC', u'\u2122', u'\u0161', u'\u203A', u'\u0153', u'\u009D', u'\u017E', u'\u0178'};

char16_t FromCp1252(uint8_t byte)
{
    return byte >= 0x80 && byte < 0xA0 ? CP1252_HIGH[byte - 0x80] : static_cast<char16_t>(byte);
}

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Destinations whose text is not part of the document.
constexpr std::string_view SKIPPED_DESTINATIONS[] = {
    "fonttbl", "colortbl", "stylesheet", "info",    "pict",    "header",    "headerl",
    "headerr", "headerf",  "footer",     "footerl", "footerr", "footerf",   "listtable",
    "listoverridetable",   "filetbl",    "revtbl",  "rsidtbl", "generator"};

// What a group inherits and restores: character and paragraph formatting, \uc, skipping.
struct GroupState {
    bool bold = false;
    bool italic = false;
    bool underline = false;
    int halfPoints = RTF_DEFAULT_HALF_POINTS;
    bool centred = false;
    RtfIndents indents;
    int spaceAfter = 0;
    int fallbackCharacters = 1;
    bool skip = false;
};

class Reader {
public:
    explicit Reader(std::string_view rtf) : m_in(rtf) { m_stack.emplace_back(); }

    std::vector<RtfParagraph> Read()
    {
        while (m_pos < m_in.size()) {
            const char c = m_in[m_pos++];
            switch (c) {
            case '{': OpenGroup(); break;
            case '}': CloseGroup(); break;
            case '\\': Control(); break;
            case '\r':
            case '\n': break;
            default:
                if (m_fallback > 0) {
                    --m_fallback;
                } else if (c == '\t') {
                    Text(u'\t');
                } else if (static_cast<uint8_t>(c) >= 0x20) {
                    Text(FromCp1252(static_cast<uint8_t>(c)));
                }
            }
        }
        if (!m_paragraph.runs.empty()) m_paragraphs.push_back(std::move(m_paragraph));
        return std::move(m_paragraphs);
    }

private:
    GroupState& State() { return m_stack.back(); }

    // Beyond the cap a group shares its parent's state; only the count is kept to match
    // the closing braces, so formatting set that deep is not undone until the cap level closes.
    void OpenGroup()
    {
        m_fallback = 0;
        if (m_stack.size() <= static_cast<size_t>(RTF_MAX_GROUP_DEPTH)) {
            m_stack.push_back(m_stack.back());
        } else {
            ++m_overflow;
        }
    }

    // An unmatched '}' is ignored.
    void CloseGroup()
    {
        m_fallback = 0;
        if (m_overflow > 0) {
            --m_overflow;
        } else if (m_stack.size() > 1) {
            m_stack.pop_back();
        }
    }

    void Control()
    {
        if (m_pos >= m_in.size()) return;  // a lone trailing backslash
        const char c = m_in[m_pos];
        if (IsLetter(c)) {
            ControlWord();
            return;
        }
        ++m_pos;
        if (c == '\'') {
            // Both digits or nothing: a cut escape gives no character.
            int value = -1;
            if (m_pos < m_in.size() && HexValue(m_in[m_pos]) >= 0) {
                const int high = HexValue(m_in[m_pos++]);
                if (m_pos < m_in.size() && HexValue(m_in[m_pos]) >= 0) value = high * 16 + HexValue(m_in[m_pos++]);
            }
            if (m_fallback > 0) {
                --m_fallback;
            } else if (value >= 0) {
                Text(FromCp1252(static_cast<uint8_t>(value)));
            }
            return;
        }
        if (m_fallback > 0) {
            --m_fallback;
            return;
        }
        switch (c) {
        case '\\':
        case '{':
        case '}': Text(static_cast<char16_t>(c)); break;
        case '~': Text(NO_BREAK_SPACE); break;
        case '_': Text(NON_BREAKING_HYPHEN); break;
        case '*': State().skip = true; break;
        case '\r':
        case '\n': EndParagraph(); break;  // a backslash before a line end is \par
        default: break;                    // \- and the symbols we do not show
        }
    }

    void ControlWord()
    {
        const size_t start = m_pos;
        while (m_pos < m_in.size() && IsLetter(m_in[m_pos])) ++m_pos;
        const std::string_view name = m_in.substr(start, m_pos - start);
        bool negative = false;
        if (m_pos + 1 < m_in.size() && m_in[m_pos] == '-' && IsDigit(m_in[m_pos + 1])) {
            negative = true;
            ++m_pos;
        }
        bool hasParameter = false;
        int64_t parameter = 0;
        while (m_pos < m_in.size() && IsDigit(m_in[m_pos])) {
            hasParameter = true;
            parameter = std::min(parameter * 10 + (m_in[m_pos++] - '0'), MAX_PARAMETER);
        }
        if (negative) parameter = -parameter;
        if (m_pos < m_in.size() && m_in[m_pos] == ' ') ++m_pos;

        // Binary data may hold braces and backslashes: passed over wherever it appears.
        if (name == "bin" && parameter > 0) {
            m_pos += static_cast<size_t>(std::min<int64_t>(parameter, static_cast<int64_t>(m_in.size() - m_pos)));
        }
        if (m_fallback > 0) {
            --m_fallback;
            return;
        }
        GroupState& s = State();
        if (s.skip) return;
        const bool on = !hasParameter || parameter != 0;
        if (name == "par") {
            EndParagraph();
        } else if (name == "pard") {
            s.centred = false;
            s.indents = RtfIndents{};
            s.spaceAfter = 0;
        } else if (name == "plain") {
            s.bold = s.italic = s.underline = false;
            s.halfPoints = RTF_DEFAULT_HALF_POINTS;
        } else if (name == "b") {
            s.bold = on;
        } else if (name == "i") {
            s.italic = on;
        } else if (name == "ul") {
            s.underline = on;
        } else if (name == "ulnone") {
            s.underline = false;
        } else if (name == "fs") {
            s.halfPoints = parameter > 0 ? static_cast<int>(std::min<int64_t>(parameter, RTF_MAX_HALF_POINTS))
                                         : RTF_DEFAULT_HALF_POINTS;
        } else if (name == "qc") {
            s.centred = true;
        } else if (name == "ql" || name == "qr" || name == "qj") {
            s.centred = false;
        } else if (name == "li" || name == "fi" || name == "ri") {
            const int twips = static_cast<int>(std::clamp<int64_t>(parameter, -RTF_MAX_INDENT_TWIPS, RTF_MAX_INDENT_TWIPS));
            (name == "li" ? s.indents.left : name == "fi" ? s.indents.first : s.indents.right) = twips;
        } else if (name == "sa") {
            s.spaceAfter = static_cast<int>(std::clamp<int64_t>(parameter, 0, RTF_MAX_INDENT_TWIPS));
        } else if (name == "tab") {
            Text(u'\t');
        } else if (name == "line") {
            Text(LINE_SEPARATOR);
        } else if (name == "u" && hasParameter) {
            // Negative values are the upper half of the 16-bit range; anything else out of range is unreadable.
            const int64_t unit = parameter < 0 ? parameter + 0x10000 : parameter;
            Text(unit >= 0 && unit <= 0xFFFF ? static_cast<char16_t>(unit) : REPLACEMENT_CHARACTER);
            m_fallback = s.fallbackCharacters;
        } else if (name == "uc" && hasParameter) {
            s.fallbackCharacters = static_cast<int>(std::clamp<int64_t>(parameter, 0, RTF_MAX_FALLBACK_CHARACTERS));
        } else if (std::find(std::begin(SKIPPED_DESTINATIONS), std::end(SKIPPED_DESTINATIONS), name) !=
                   std::end(SKIPPED_DESTINATIONS)) {
            s.skip = true;
        }
    }

    void EndParagraph()
    {
        if (State().skip) return;
        m_paragraph.centred = State().centred;
        m_paragraph.indents = State().indents;
        m_paragraph.spaceAfter = State().spaceAfter;
        m_paragraphs.push_back(std::move(m_paragraph));
        m_paragraph = RtfParagraph{};
    }

    void Text(char16_t c)
    {
        const GroupState& s = State();
        if (s.skip) return;
        m_paragraph.centred = s.centred;
        m_paragraph.indents = s.indents;
        m_paragraph.spaceAfter = s.spaceAfter;
        std::vector<RtfRun>& runs = m_paragraph.runs;
        if (runs.empty() || runs.back().bold != s.bold || runs.back().italic != s.italic ||
            runs.back().underline != s.underline || runs.back().halfPoints != s.halfPoints) {
            runs.push_back(RtfRun{{}, s.bold, s.italic, s.underline, s.halfPoints});
        }
        runs.back().text.push_back(c);
    }

    std::string_view m_in;
    size_t m_pos = 0;
    std::vector<GroupState> m_stack;  // [0] is outside every group and never popped
    size_t m_overflow = 0;            // open groups beyond the cap
    int m_fallback = 0;               // fallback characters still to skip after \uN
    RtfParagraph m_paragraph;         // the paragraph being read
    std::vector<RtfParagraph> m_paragraphs;
};

}  // namespace

std::vector<RtfParagraph> ReadRtf(std::string_view rtf)
{
    return Reader(rtf).Read();
}

bool IsRtf(std::string_view text)
{
    return text.starts_with("{\\rtf");
}

}  // namespace kestrine
