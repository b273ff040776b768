// Remembered section states and the tree operations the decoders use.
#include "decode/section_states.h"

namespace kestrine {

namespace {
constexpr std::array<ExpandAction, SECTION_KINDS> INITIAL = {EXPAND_COLLAPSE, EXPAND_COLLAPSE, EXPAND_COLLAPSE,
                                                             EXPAND_COLLAPSE, EXPAND_COLLAPSE, EXPAND_EXPAND};
}

std::array<ExpandAction, SECTION_KINDS> SectionStates = INITIAL;

void RememberSectionState(uint32_t tag, ExpandAction action)
{
    if (tag < IpHeaderSection || tag > PayloadSection) return;
    if (action != EXPAND_COLLAPSE && action != EXPAND_EXPAND) return;
    SectionStates[tag - IpHeaderSection] = action;
}

void ResetSectionStates()
{
    SectionStates = INITIAL;
}

NodeId InsertLine(DetailTree& tree, std::string_view text, NodeId parent) { return tree.InsertLine(text, parent); }

void SetTag(DetailTree& tree, NodeId node, uint32_t tag) { tree.SetTag(node, tag); }

void ApplyExpand(DetailTree& tree, NodeId node, ExpandAction action)
{
    tree.SetExpanded(node, action == EXPAND_EXPAND);
}

void ApplyRememberedState(DetailTree& tree, NodeId node, SectionTag tag)
{
    ApplyExpand(tree, node, SectionStates[tag - IpHeaderSection]);
}

}  // namespace kestrine
