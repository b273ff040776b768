// Display text and dialog construction of the filter rule.
#include "filter/filter_rule.h"

#include <cstdio>

#include "common/text_format.h"

namespace kestrine {

namespace {

uint32_t HostToNetwork(uint32_t v)
{
    uint32_t out;
    auto* b = reinterpret_cast<unsigned char*>(&out);
    b[0] = static_cast<unsigned char>(v >> 24);
    b[1] = static_cast<unsigned char>(v >> 16);
    b[2] = static_cast<unsigned char>(v >> 8);
    b[3] = static_cast<unsigned char>(v);
    return out;
}

}  // namespace

std::string FormatFilterRule(const FilterRule& rule)
{
    const char* act = rule.action != FILTER_IGNORE ? "capture" : "ignore";
    const char* dir = rule.direction == FILTER_DESTINATION ? "dst" : rule.direction == FILTER_SOURCE ? "src" : "both";
    // Network-order words: their bytes lie first octet on the wire first, whatever the host order.
    char address[DOTTED_QUAD_SIZE], mask[DOTTED_QUAD_SIZE];
    FormatDottedQuad(reinterpret_cast<const uint8_t*>(&rule.address), address);
    FormatDottedQuad(reinterpret_cast<const uint8_t*>(&rule.mask), mask);
    char text[160];
    std::snprintf(text, sizeof text, "<ipfilter act=\"%s\" dir=\"%s\" ip=\"%s\" mask=\"%s\" />", act, dir, address, mask);
    return text;
}

FilterRule BuildFilterRule(int preset, int directionChoice, uint32_t hostAddress, uint32_t hostMask,
                           uint32_t* maskedAddress, uint32_t* usedMask)
{
    const bool ipPreset = preset == 0 || preset == 1;
    const bool capture = preset == 0 || preset == 2;
    const uint32_t mask = ipPreset ? 0xFFFFFFFFu : hostMask;
    const uint32_t address = hostAddress & mask;
    if (maskedAddress) *maskedAddress = address;
    if (usedMask) *usedMask = mask;

    FilterRule rule;
    rule.action = capture ? FILTER_CAPTURE : FILTER_IGNORE;
    rule.direction = directionChoice == 1 ? FILTER_DESTINATION : directionChoice == 2 ? FILTER_SOURCE : FILTER_EITHER;
    rule.address = HostToNetwork(address);
    rule.mask = HostToNetwork(mask);
    return rule;
}

}  // namespace kestrine
