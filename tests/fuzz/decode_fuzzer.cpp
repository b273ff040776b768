// libFuzzer target: arbitrary bytes as one captured record, through the summary line and
// the whole detail walk. Any read outside the record is a sanitizer finding.
#include <cstddef>
#include <cstdint>

#include "decode/detail_tree.h"
#include "decode/packet_detail.h"
#include "decode/summary.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace kestrine;
    if (size > (1u << 20)) return 0;
    const PacketRecord record{data, static_cast<int32_t>(size), 0.25f};
    LineList list;
    AddSummaryLine(list, record, 0);
    static DetailTree tree;  // reused, as the main window reuses its lower tree
    tree.Clear();
    const NodeId top = AddSummaryLine(tree, record, 7);
    AddPacketDetail(tree, record, top);
    static std::string text;
    text.clear();
    tree.Render(text);
    return 0;
}
