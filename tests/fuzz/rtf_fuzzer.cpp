// libFuzzer target: arbitrary bytes as an RTF document. Besides sanitizer findings, a broken
// promise of the reader traps: an empty run, two adjacent runs of one format, a size out of
// range, or more characters or paragraphs than input bytes.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "ui/rtf_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace kestrine;
    const std::vector<RtfParagraph> paragraphs = ReadRtf(std::string_view(reinterpret_cast<const char*>(data), size));
    if (paragraphs.size() > size) __builtin_trap();
    size_t characters = 0;
    for (const RtfParagraph& paragraph : paragraphs) {
        const RtfRun* previous = nullptr;
        for (const RtfRun& run : paragraph.runs) {
            if (run.text.empty() || run.halfPoints < 1 || run.halfPoints > RTF_MAX_HALF_POINTS) __builtin_trap();
            if (previous && previous->bold == run.bold && previous->italic == run.italic &&
                previous->underline == run.underline && previous->halfPoints == run.halfPoints) {
                __builtin_trap();
            }
            characters += run.text.size();
            previous = &run;
        }
    }
    if (characters > size) __builtin_trap();  // every character comes from at least one byte
    return 0;
}
