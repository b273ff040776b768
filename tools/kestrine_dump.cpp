// kestrine-dump: decodes the IPv4 datagrams of capture files (pcap or pcapng) into the
// same tree the main window shows for a selected packet, or into the packet list.
//
//   kestrine-dump [--summary] FILE...
//   kestrine-dump --adapters        the interface tree of the configuration dialog
//
// Frames: raw IPv4, Ethernet (also behind one 802.1Q tag), Linux cooked (SLL, SLL2) and
// BSD loopback/null; other frames are skipped and not counted. Each file's datagrams are
// indexed from 0 and timed from its first taken frame.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "capture_file.h"
#include "decode/detail_tree.h"
#include "decode/packet_detail.h"
#include "decode/summary.h"
#include "netinfo/adapter_info.h"

using namespace kestrine;

namespace {

constexpr size_t FLUSH_BYTES = 1 << 20;

void Flush(std::string& out)
{
    std::fwrite(out.data(), 1, out.size(), stdout);
    out.clear();
}

bool DumpFile(const char* path, bool summaryOnly, std::string& out)
{
    if (summaryOnly) {
        out.append(SUMMARY_COLUMN_HEADER);
        out.push_back('\n');
    }
    DetailTree tree;
    char line[256];
    std::string error;
    const bool ok = ForEachDatagram(
        path,
        [&](const PacketRecord& record, int32_t index) {
            if (summaryOnly) {
                out.append(line, static_cast<size_t>(FormatSummaryLine(record, index, line, sizeof line)));
                out.push_back('\n');
            } else {
                // As the main window builds it: the summary line, the sections beneath it.
                tree.Clear();
                const NodeId top = AddSummaryLine(tree, record, index);
                AddPacketDetail(tree, record, top);
                tree.Render(out);
            }
            if (out.size() > FLUSH_BYTES) Flush(out);
        },
        &error);
    Flush(out);
    if (!ok) std::fprintf(stderr, "kestrine-dump: %s: %s\n", path, error.c_str());
    return ok;
}

// Prints each item as it is inserted, two blanks per depth level.
class TextTreeSink final : public TreeSink {
public:
    Item InsertItem(const char* text, Item parent) override
    {
        const int depth = parent == ROOT ? 0 : m_depths[parent - 1] + 1;
        m_depths.push_back(depth);
        std::printf("%*s%s\n", depth * 2, "", text);
        return m_depths.size();
    }

private:
    std::vector<int> m_depths;  // item i + 1 has depth m_depths[i]
};

int PrintAdapters()
{
    adapter_info info;
    TextTreeSink sink;
    FillAdapterTree(info, sink, TreeSink::ROOT);
    return 0;
}

int Usage()
{
    std::fprintf(stderr, "usage: kestrine-dump [--summary] FILE...\n       kestrine-dump --adapters\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--adapters") == 0) return PrintAdapters();
    bool summaryOnly = false;
    std::vector<const char*> files;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--summary") == 0) {
            summaryOnly = true;
        } else if (std::strcmp(argv[i], "--") == 0) {
            for (++i; i < argc; ++i) files.push_back(argv[i]);
        } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
            std::fprintf(stderr, "kestrine-dump: unknown option %s\n", argv[i]);
            return Usage();
        } else {
            files.push_back(argv[i]);
        }
    }
    if (files.empty()) return Usage();
    std::string out;
    out.reserve(2 * FLUSH_BYTES);
    bool ok = true;
    for (const char* path : files) ok = DumpFile(path, summaryOnly, out) && ok;
    return ok ? 0 : 1;
}
