// Reads the subset of RTF that the licence document uses into paragraphs of formatted runs,
// for the About box's text area. Free of the UI toolkit, so it can be fuzzed on its own.
//
// Understood: groups, \par, \pard, \plain, \b, \i, \ul, \ulnone, \fs, \qc, \ql (\qr and \qj
// read as not centred), the paragraph indents \li, \fi and \ri and the space after \sa
// (twips), \tab (a '\t'), \line (U+2028, the line separator, which a Qt text block shows
// as a break within the paragraph), \'hh (code page 1252), \uN (with \ucN
// fallback skipping), escaped \\ \{ \}, \~ (U+00A0), \_ (U+2011), \- (dropped), \binN (N raw
// bytes skipped) and the destinations that hold no text (\fonttbl, \colortbl, \stylesheet,
// \info, \pict, headers, footers, \*...), which are skipped. Unknown control words are
// ignored, with their parameter and one delimiting space. Source CR/LF are ignored.
//
// A paragraph takes the alignment, indents and space after in effect at its \par (for the last one, at its last
// text); the paragraph still open at the end is kept only when it has text. Adjacent text
// of one format is one run, and no run is empty.
//
// Malformed input (unbalanced braces, cut escapes, deep nesting, huge numbers) gives
// best-effort text and never fails; time is linear in the input.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kestrine {

inline constexpr int RTF_DEFAULT_HALF_POINTS = 24;  // \fs without a usable parameter, \plain
inline constexpr int RTF_MAX_HALF_POINTS = 3276;    // larger \fs values are clamped to this
inline constexpr int RTF_MAX_GROUP_DEPTH = 256;     // deeper groups share the deepest state
inline constexpr int RTF_MAX_FALLBACK_CHARACTERS = 255;  // larger \ucN values are clamped to this
inline constexpr int RTF_MAX_INDENT_TWIPS = 31680;       // 22 inches: larger indents are clamped to this

struct RtfRun {
    std::u16string text;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    int halfPoints = RTF_DEFAULT_HALF_POINTS;  // \fs: font size in half points, 1..RTF_MAX_HALF_POINTS
};

// Paragraph indents in twips (1/1440 inch), each within +-RTF_MAX_INDENT_TWIPS: left and
// right for every line, first added to the left one for the first line (negative: hanging).
struct RtfIndents {
    int left = 0;
    int first = 0;
    int right = 0;
    friend bool operator==(const RtfIndents&, const RtfIndents&) = default;
};

struct RtfParagraph {
    bool centred = false;
    RtfIndents indents;
    int spaceAfter = 0;  // \sa: space below the paragraph in twips, 0..RTF_MAX_INDENT_TWIPS
    std::vector<RtfRun> runs;
};

std::vector<RtfParagraph> ReadRtf(std::string_view rtf);

// True when text begins with an RTF header ("{\rtf").
bool IsRtf(std::string_view text);

}  // namespace kestrine
