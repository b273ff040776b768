// The six kinds of collapsible section, their tags, and the process-wide table of the
// expand action remembered for each kind.
#pragma once

#include <array>
#include <cstdint>

#include "decode/detail_tree.h"

namespace kestrine {

enum SectionTag : uint32_t {
    IpHeaderSection = 0x10000000,
    TypeOfServiceSection = 0x10000001,
    TcpHeaderSection = 0x10000002,
    TcpOptionsSection = 0x10000003,
    UdpHeaderSection = 0x10000004,
    PayloadSection = 0x10000005,
};

// The tree view's expand request codes.
enum ExpandAction : int { EXPAND_COLLAPSE = 1, EXPAND_EXPAND = 2 };

inline constexpr int SECTION_KINDS = 6;

// Indexed by tag - IpHeaderSection. Initially everything collapses but the payload.
extern std::array<ExpandAction, SECTION_KINDS> SectionStates;

// Stores the action for a section tag; any other tag (0 included) is ignored.
void RememberSectionState(uint32_t tag, ExpandAction action);
// Restores the initial table.
void ResetSectionStates();

NodeId InsertLine(DetailTree& tree, std::string_view text, NodeId parent);
void SetTag(DetailTree& tree, NodeId node, uint32_t tag);
// Expand sets the node's expanded flag, collapse clears it.
void ApplyExpand(DetailTree& tree, NodeId node, ExpandAction action);
// Applies the remembered action of the node's section kind.
void ApplyRememberedState(DetailTree& tree, NodeId node, SectionTag tag);

}  // namespace kestrine
