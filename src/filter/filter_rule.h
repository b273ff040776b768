// The one address filter rule of a capture session: its keep decision for a datagram's
// source and destination words, its one-line display text, and how the configuration
// dialog's preset/direction/address/mask choice becomes a rule.
#pragma once

#include <cstdint>
#include <string>

namespace kestrine {

enum FilterAction : int32_t { FILTER_IGNORE = 0, FILTER_CAPTURE = 1 };
enum FilterDirection : uint8_t { FILTER_EITHER = 0, FILTER_DESTINATION = 1, FILTER_SOURCE = 2 };

struct FilterRule {
    int32_t action = FILTER_CAPTURE;    // 0 ignore, any other value capture
    uint8_t direction = FILTER_EITHER;  // 1 destination, 2 source, anything else either
    uint32_t address = 0;               // network byte order, no bit outside mask
    uint32_t mask = 0;                  // network byte order

    // Address words as they lie in the IP header (network byte order): no conversion
    // is needed, AND and equality work byte by byte.
    bool Matches(uint32_t source, uint32_t destination) const noexcept
    {
        switch (direction) {
        case FILTER_DESTINATION: return (destination & mask) == address;
        case FILTER_SOURCE: return (source & mask) == address;
        default: return (source & mask) == address || (destination & mask) == address;
        }
    }

    bool Keeps(uint32_t source, uint32_t destination) const noexcept
    {
        const bool match = Matches(source, destination);
        return action != FILTER_IGNORE ? match : !match;
    }
};

// "<ipfilter act=... />": display only, never parsed back.
std::string FormatFilterRule(const FilterRule& rule);

// The configuration dialog's four presets and three directions, in the order it offers them.
inline constexpr const char* FILTER_PRESET_TEXTS[4] = {"Capture IP", "Ignore IP", "Capture Net", "Ignore Net"};
inline constexpr const char* FILTER_DIRECTION_TEXTS[3] = {"Src or Dst Addr", "Dst Addr", "Src Addr"};

// Builds the rule for preset 0..3 and direction choice 0..2 from a host-order address and
// mask as entered. The IP presets use the full mask; the address is ANDed with the mask.
// maskedAddress/usedMask receive the host-order values the dialog shows back.
FilterRule BuildFilterRule(int preset, int directionChoice, uint32_t hostAddress, uint32_t hostMask,
                           uint32_t* maskedAddress = nullptr, uint32_t* usedMask = nullptr);

}  // namespace kestrine
