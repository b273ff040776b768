// The RTF reader: the licence document, formatting runs, characters, skipped text and
// malformed input.
#include "ui/rtf_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>

namespace kestrine {
namespace {

// Every paragraph's text, one '\n' after each.
std::u16string AllText(const std::vector<RtfParagraph>& paragraphs)
{
    std::u16string text;
    for (const RtfParagraph& p : paragraphs) {
        for (const RtfRun& r : p.runs) text += r.text;
        text += u'\n';
    }
    return text;
}

std::u16string ParagraphText(const RtfParagraph& paragraph)
{
    std::u16string text;
    for (const RtfRun& r : paragraph.runs) text += r.text;
    return text;
}

// The text of a document body, paragraphs joined as AllText joins them.
std::u16string Read(std::string_view body)
{
    return AllText(ReadRtf("{\\rtf1\\ansi " + std::string(body) + "}"));
}

std::u16string Ascii(std::string_view s)
{
    return std::u16string(s.begin(), s.end());
}

bool Contains(const std::u16string& text, std::string_view word)
{
    return text.find(Ascii(word)) != std::u16string::npos;
}

std::string Licence()
{
    std::ifstream file(KESTRINE_LICENCE_RTF, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

TEST(RtfLicence, ReadsTitleAndEverySection)
{
    const std::string rtf = Licence();
    ASSERT_TRUE(IsRtf(rtf)) << "cannot read " << KESTRINE_LICENCE_RTF;
    const std::vector<RtfParagraph> paragraphs = ReadRtf(rtf);
    ASSERT_GT(paragraphs.size(), 20u);
    const std::u16string text = AllText(paragraphs);
    for (const char* word : {"Kestrine", "Harvoll", "End-User Licence Agreement", "Grant of Licence", "Restrictions",
                             "Captured Data and Privacy", "permitted to capture", "No Warranty",
                             "Limitation of Liability", "Termination", "General"}) {
        EXPECT_TRUE(Contains(text, word)) << word;
    }
}

TEST(RtfLicence, NoControlWordsOrTablesLeakIntoTheText)
{
    for (const RtfParagraph& p : ReadRtf(Licence())) {
        for (const RtfRun& r : p.runs) {
            EXPECT_FALSE(r.text.empty());
            for (const char* leak : {"\\", "{", "}", "fonttbl", "rtf1", "ansicpg", "Arial", "Times New Roman",
                                     "red31", "About box of"}) {
                EXPECT_FALSE(Contains(r.text, leak)) << leak;
            }
        }
    }
}

TEST(RtfLicence, TitleIsCentredBoldAndLargerThanTheBody)
{
    const std::vector<RtfParagraph> paragraphs = ReadRtf(Licence());
    ASSERT_GT(paragraphs.size(), 2u);
    const RtfParagraph& title = paragraphs[0];
    EXPECT_TRUE(Contains(ParagraphText(title), "End-User Licence Agreement"));
    EXPECT_TRUE(title.centred);
    ASSERT_EQ(title.runs.size(), 1u);
    EXPECT_TRUE(title.runs[0].bold);
    const auto body = std::find_if(paragraphs.begin(), paragraphs.end(), [](const RtfParagraph& p) {
        return Contains(ParagraphText(p), "Please read this agreement");
    });
    ASSERT_NE(body, paragraphs.end());
    EXPECT_FALSE(body->centred);
    ASSERT_FALSE(body->runs.empty());
    EXPECT_TRUE(body->runs.front().bold);
    EXPECT_FALSE(body->runs.back().bold);
    EXPECT_GT(title.runs[0].halfPoints, body->runs.back().halfPoints);
}

TEST(RtfLicence, CodePageAndUnicodeCharacters)
{
    const std::u16string text = AllText(ReadRtf(Licence()));
    for (const char16_t c : {u'\u00A9', u'\u201C', u'\u201D', u'\u2013', u'\u2019', u'\u2122', u'\u2014'}) {
        EXPECT_NE(text.find(c), std::u16string::npos) << static_cast<int>(c);
    }
    EXPECT_EQ(text.find(u"\u2014?"), std::u16string::npos);  // the \u fallback is skipped
}

TEST(RtfFormatting, GroupsRestoreCharacterFormatting)
{
    const std::vector<RtfParagraph> paragraphs = ReadRtf("{\\rtf1 a{\\b b{\\i c}}\\ul d\\ul0 e\\ul f\\ulnone g}");
    ASSERT_EQ(paragraphs.size(), 1u);
    const std::vector<RtfRun>& runs = paragraphs[0].runs;
    ASSERT_EQ(runs.size(), 7u);
    const struct {
        const char16_t* text;
        bool bold, italic, underline;
    } expected[] = {{u"a", false, false, false}, {u"b", true, false, false}, {u"c", true, true, false},
                    {u"d", false, false, true},  {u"e", false, false, false}, {u"f", false, false, true},
                    {u"g", false, false, false}};
    for (size_t i = 0; i < runs.size(); ++i) {
        EXPECT_EQ(runs[i].text, expected[i].text) << i;
        EXPECT_EQ(runs[i].bold, expected[i].bold) << i;
        EXPECT_EQ(runs[i].italic, expected[i].italic) << i;
        EXPECT_EQ(runs[i].underline, expected[i].underline) << i;
    }
}

TEST(RtfFormatting, SameFormatMergesIntoOneRun)
{
    const std::vector<RtfParagraph> paragraphs = ReadRtf("{\\rtf1 ab{\\b0 cd}{\\b}e\\b1\\b0 f\\i\\i0{}g}");
    ASSERT_EQ(paragraphs.size(), 1u);
    ASSERT_EQ(paragraphs[0].runs.size(), 1u);
    EXPECT_EQ(paragraphs[0].runs[0].text, u"abcdefg");
}

TEST(RtfFormatting, FontSizePlainAndClamping)
{
    const std::vector<RtfParagraph> paragraphs =
        ReadRtf("{\\rtf1 \\fs32\\b\\i\\ul big\\fs20 small\\plain x\\fs0 y\\fs-8 z\\fs99999999999999999999 w\\fs1 v}");
    ASSERT_EQ(paragraphs.size(), 1u);
    const std::vector<RtfRun>& runs = paragraphs[0].runs;
    ASSERT_EQ(runs.size(), 5u);
    EXPECT_EQ(runs[0].text, u"big");
    EXPECT_EQ(runs[0].halfPoints, 32);
    EXPECT_TRUE(runs[0].bold && runs[0].italic && runs[0].underline);
    EXPECT_EQ(runs[1].text, u"small");
    EXPECT_EQ(runs[1].halfPoints, 20);
    EXPECT_TRUE(runs[1].bold);
    EXPECT_EQ(runs[2].text, u"xyz");  // \plain, then sizes of no use: all the default
    EXPECT_EQ(runs[2].halfPoints, RTF_DEFAULT_HALF_POINTS);
    EXPECT_FALSE(runs[2].bold || runs[2].italic || runs[2].underline);
    EXPECT_EQ(runs[3].text, u"w");
    EXPECT_EQ(runs[3].halfPoints, RTF_MAX_HALF_POINTS);
    EXPECT_EQ(runs[4].halfPoints, 1);
}

TEST(RtfFormatting, ParagraphsTakeTheAlignmentAtTheirEnd)
{
    const std::vector<RtfParagraph> paragraphs =
        ReadRtf("{\\rtf1\\qc A\\par\\pard B\\par\\qc C\\ql\\par{\\qc D\\par}E\\par\\par\\qc\\b F\\plain G}");
    ASSERT_EQ(paragraphs.size(), 7u);
    const std::u16string texts[] = {u"A", u"B", u"C", u"D", u"E", u"", u"FG"};
    const bool centred[] = {true, false, false, true, false, false, true};
    for (size_t i = 0; i < paragraphs.size(); ++i) {
        EXPECT_EQ(ParagraphText(paragraphs[i]), texts[i]) << i;
        EXPECT_EQ(paragraphs[i].centred, centred[i]) << i;
    }
    EXPECT_TRUE(paragraphs[5].runs.empty());
    ASSERT_EQ(paragraphs[6].runs.size(), 2u);
    EXPECT_TRUE(paragraphs[6].runs[0].bold);
    EXPECT_FALSE(paragraphs[6].runs[1].bold);
}

TEST(RtfFormatting, IndentsAndSpacingHoldForTheWholeParagraphUntilPard)
{
    const std::vector<RtfParagraph> paragraphs = ReadRtf(
        "{\\rtf1\\li720\\fi-360\\ri240 (a)\\tab clause\\par next\\par{\\li100 inner\\par}\\pard plain\\par\\li99999999 far\\par"
        "\\li-99999999\\fi near}");
    ASSERT_EQ(paragraphs.size(), 6u);
    EXPECT_EQ(paragraphs[0].indents, (RtfIndents{720, -360, 240}));
    EXPECT_EQ(paragraphs[1].indents, (RtfIndents{720, -360, 240}));  // carried to the next paragraph
    EXPECT_EQ(paragraphs[2].indents, (RtfIndents{100, -360, 240}));
    EXPECT_EQ(paragraphs[3].indents, RtfIndents{});                  // reset by \pard
    EXPECT_EQ(paragraphs[4].indents.left, RTF_MAX_INDENT_TWIPS);
    EXPECT_EQ(paragraphs[5].indents, (RtfIndents{-RTF_MAX_INDENT_TWIPS, 0, 0}));

    // The space after a paragraph: carried on, restored by the group, reset by \pard, clamped.
    std::vector<int> spaces;
    for (const RtfParagraph& p : ReadRtf("{\\rtf1\\sa120 a\\par b\\par{\\sa-5 c\\par}d\\par\\pard e\\par\\sa99999999 f}"))
        spaces.push_back(p.spaceAfter);
    EXPECT_EQ(spaces, (std::vector<int>{120, 120, 0, 120, 0, RTF_MAX_INDENT_TWIPS}));

    // The licence's clauses hang: their wrapped lines keep the indent.
    bool hanging = false;
    for (const RtfParagraph& p : ReadRtf(Licence()))
        hanging = hanging || (p.indents.left > 0 && p.indents.first < 0 && ParagraphText(p).starts_with(u"(a)"));
    EXPECT_TRUE(hanging);
}

TEST(RtfFormatting, TabLineAndSourceLineEnds)
{
    EXPECT_EQ(Read("a\\tab b\\line c\r\nd\re\nf\tg"), u"a\tb\u2028cdef\tg\n");
    EXPECT_EQ(Read("a\\\nb"), u"a\nb\n");  // backslash before a line end ends the paragraph
    EXPECT_EQ(Read("a\\par"), u"a\n");       // the last \par opens no further paragraph
    EXPECT_TRUE(ReadRtf("").empty());
    EXPECT_TRUE(ReadRtf("{\\rtf1}").empty());
}

TEST(RtfCharacters, CodePage1252)
{
    EXPECT_EQ(Read("\\'93q\\'94 \\'a9 \\'96 \\'80 \\'41\\'c9\\'C9"), u"\u201Cq\u201D \u00A9 \u2013 \u20AC A\u00C9\u00C9\n");
    // The unassigned bytes keep their value, like the rest of 0xA0-0xFF.
    EXPECT_EQ(Read("\\'81\\'8d\\'8f\\'90\\'9d"), u"\u0081\u008D\u008F\u0090\u009D\n");
    for (int byte = 0xA0; byte <= 0xFF; ++byte) {
        const char hex[] = {"0123456789abcdef"[byte >> 4], "0123456789abcdef"[byte & 15], '\0'};
        EXPECT_EQ(Read(std::string("\\'") + hex), std::u16string(1, static_cast<char16_t>(byte)) + u'\n') << byte;
        EXPECT_EQ(Read(std::string(1, static_cast<char>(byte))), std::u16string(1, static_cast<char16_t>(byte)) + u'\n')
            << byte;  // an 8-bit byte in the source reads the same as its escape
    }
}

TEST(RtfCharacters, UnicodeWithFallbackSkipping)
{
    EXPECT_EQ(Read("\\u8364?x"), u"\u20ACx\n");
    EXPECT_EQ(Read("\\u-257?x"), std::u16string(1, static_cast<char16_t>(0x10000 - 257)) + u"x\n");
    EXPECT_EQ(Read("\\u8220\\'93x"), u"\u201Cx\n");  // an escape is one fallback character
    EXPECT_EQ(Read("\\u8220\\foo x"), u"\u201Cx\n");  // so is a control word
    EXPECT_EQ(Read("\\uc2\\u233 xyz"), u"\u00E9z\n");
    EXPECT_EQ(Read("\\uc0\\u233 ab"), u"\u00E9ab\n");
    EXPECT_EQ(Read("{\\uc2\\u233 ab}\\u233 cd"), u"\u00E9\u00E9d\n");  // \uc belongs to the group
    EXPECT_EQ(Read("{\\uc3\\u233 a}b"), u"\u00E9b\n");                // the group end stops skipping
    EXPECT_EQ(Read("\\u-10179?\\u-8704?"), u"\U0001F600\n");          // a surrogate pair, one unit each
    EXPECT_EQ(Read("\\uc9999999999\\u233 abcdef"), u"\u00E9\n");        // a huge \uc is clamped, not negative
    EXPECT_EQ(Read("\\u99999999999999 x"), u"\uFFFD\n");
    EXPECT_EQ(Read("\\u-99999999999 x"), u"\uFFFD\n");
    EXPECT_EQ(Read("\\u x"), u"x\n");  // no parameter: an unknown word
}

TEST(RtfCharacters, EscapesAndControlSymbols)
{
    EXPECT_EQ(Read("a\\\\b\\{c\\}d"), u"a\\b{c}d\n");
    EXPECT_EQ(Read("a\\~b\\-c\\_d\\|e\\:f"), u"a\u00A0bc\u2011def\n");
}

TEST(RtfCharacters, UnknownControlWordsTakeTheirParameterAndOneSpace)
{
    EXPECT_EQ(Read("\\foo123 bar\\zzz-5x\\sa120  y\\q-z"), u"barx y-z\n");
    EXPECT_EQ(Read("\\averyveryverylongcontrolwordthatgoesonandon99 t"), u"t\n");
}

TEST(RtfSkipped, DestinationsWithoutText)
{
    EXPECT_EQ(Read("{\\fonttbl{\\f0 Arial;}}{\\colortbl;\\red0\\green0\\blue0;}{\\stylesheet{Normal;}}"
                   "{\\info{\\title T}{\\author A}}{\\pict\\pngblip 0102}{\\header H}{\\footer F}"
                   "{\\*\\generator G;}{\\*\\unknowndest U{\\b inner}}Body"),
              u"Body\n");
    EXPECT_EQ(Read("{\\unknownword shown}"), u"shown\n");
    EXPECT_EQ(Read("{\\info{\\title T\\par}}a"), u"a\n");  // no paragraph from inside
    EXPECT_EQ(Read("a{\\pict\\bin2 {{}b"), u"ab\n");      // binary data holds no groups
    EXPECT_EQ(Read("a{\\pict\\bin999999999 }}}}"), u"a\n");
}

TEST(RtfMalformed, UnbalancedBraces)
{
    const std::vector<RtfParagraph> extra = ReadRtf("{\\rtf1 a}}}b{\\b c}");
    ASSERT_EQ(extra.size(), 1u);
    ASSERT_EQ(extra[0].runs.size(), 2u);
    EXPECT_EQ(extra[0].runs[0].text, u"ab");
    EXPECT_EQ(extra[0].runs[1].text, u"c");
    EXPECT_TRUE(extra[0].runs[1].bold);

    const std::vector<RtfParagraph> missing = ReadRtf("{\\rtf1{\\b a");
    ASSERT_EQ(missing.size(), 1u);
    ASSERT_EQ(missing[0].runs.size(), 1u);
    EXPECT_EQ(missing[0].runs[0].text, u"a");
    EXPECT_TRUE(missing[0].runs[0].bold);
    EXPECT_EQ(AllText(ReadRtf("}}}{\\rtf1 x")), u"x\n");
}

TEST(RtfMalformed, CutEscapes)
{
    for (const char* cut : {"a\\", "a\\'", "a\\'4", "a\\u", "a\\uc", "a\\bin"}) {
        EXPECT_EQ(AllText(ReadRtf(std::string("{\\rtf1 ") + cut)), u"a\n") << cut;
    }
    EXPECT_EQ(AllText(ReadRtf("{\\rtf1 a\\'4x")), u"ax\n");  // what follows a cut escape is text
    EXPECT_EQ(AllText(ReadRtf("{\\rtf1 a\\'g")), u"ag\n");
    for (const char* sign : {"a\\b-", "a\\u-"}) {  // a minus without digits is no parameter
        EXPECT_EQ(AllText(ReadRtf(std::string("{\\rtf1 ") + sign)), u"a-\n") << sign;
    }
    EXPECT_EQ(AllText(ReadRtf("{\\rtf1 a\\u233")), u"a\u00E9\n");
}

TEST(RtfMalformed, DeepNestingKeepsReadingAndRestores)
{
    const size_t depth = 100000;
    const std::vector<RtfParagraph> paragraphs =
        ReadRtf("{\\rtf1{\\b" + std::string(depth, '{') + "x" + std::string(depth, '}') + "y}z}");
    ASSERT_EQ(paragraphs.size(), 1u);
    ASSERT_EQ(paragraphs[0].runs.size(), 2u);
    EXPECT_EQ(paragraphs[0].runs[0].text, u"xy");
    EXPECT_TRUE(paragraphs[0].runs[0].bold);
    EXPECT_EQ(paragraphs[0].runs[1].text, u"z");
    EXPECT_FALSE(paragraphs[0].runs[1].bold);

    // Just within the cap every group still restores its parent.
    const int levels = RTF_MAX_GROUP_DEPTH - 1;
    std::string nested = "{\\rtf1";
    for (int i = 0; i < levels; ++i) nested += i % 2 ? "{\\b0 " : "{\\b ";
    nested += "x" + std::string(static_cast<size_t>(levels), '}') + "y}";
    const std::vector<RtfParagraph> capped = ReadRtf(nested);
    ASSERT_EQ(capped.size(), 1u);
    ASSERT_EQ(capped[0].runs.size(), 2u);
    EXPECT_EQ(capped[0].runs[0].bold, levels % 2 == 1);
    EXPECT_FALSE(capped[0].runs[1].bold);

    EXPECT_EQ(AllText(ReadRtf("{\\rtf1 a" + std::string(depth, '{') + "b")), u"ab\n");
    EXPECT_TRUE(ReadRtf(std::string(depth, '}')).empty());
}

TEST(RtfMalformed, LargeInputsFinish)
{
    const size_t size = 1 << 20;
    // Backslashes and letters, from a fixed generator: escapes, control words, symbols.
    std::string mixed;
    uint32_t x = 12345;
    while (mixed.size() < size) {
        x = x * 1103515245u + 12345u;
        const uint32_t pick = x >> 16;
        mixed += pick % 3 == 0 ? '\\' : static_cast<char>('a' + pick % 26);
    }
    const std::vector<RtfParagraph> fromMixed = ReadRtf(mixed);
    size_t chars = 0;
    for (const RtfParagraph& p : fromMixed) {
        for (const RtfRun& r : p.runs) chars += r.text.size();
    }
    EXPECT_LT(chars, size);

    const std::vector<RtfParagraph> escapes = ReadRtf(std::string(size, '\\'));
    ASSERT_EQ(escapes.size(), 1u);
    ASSERT_EQ(escapes[0].runs.size(), 1u);
    EXPECT_EQ(escapes[0].runs[0].text, std::u16string(size / 2, u'\\'));

    EXPECT_TRUE(ReadRtf("{\\rtf1\\" + std::string(size, 'a') + " }").empty());  // one long control word
    std::string paragraphs;
    for (size_t i = 0; i < size / 6; ++i) paragraphs += "a\\par ";
    EXPECT_EQ(ReadRtf(paragraphs).size(), size / 6);
    EXPECT_EQ(AllText(ReadRtf("{\\rtf1\\uc1000000" + std::string(size, '\\') + "\\u65 " + std::string(size, 'x') + "}")),
              std::u16string(size / 2, u'\\') + u'A' + std::u16string(size - RTF_MAX_FALLBACK_CHARACTERS, u'x') + u'\n');
}

TEST(RtfHeader, IsRtf)
{
    EXPECT_TRUE(IsRtf("{\\rtf1\\ansi}"));
    EXPECT_TRUE(IsRtf("{\\rtf"));
    EXPECT_FALSE(IsRtf(""));
    EXPECT_FALSE(IsRtf("{\\rt"));
    EXPECT_FALSE(IsRtf(" {\\rtf1"));
    EXPECT_FALSE(IsRtf("{rtf1"));
    EXPECT_FALSE(IsRtf("Kestrine licence"));
    EXPECT_EQ(AllText(ReadRtf("Plain words")), u"Plain words\n");  // read anyway, as text
}

}  // namespace
}  // namespace kestrine
