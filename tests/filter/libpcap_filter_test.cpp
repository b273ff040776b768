// Our compiled filters against libpcap (a test-only peer, Linux only): for every expression
// of the corpus, over every IPv4 datagram of the shared capture files and the generated
// datagrams, our program's verdict equals pcap_offline_filter's for the program libpcap
// compiles for raw IPv4 (link type 101), optimised and not.
#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "capture_file/capture_file.h"
#include "filter/filter_expression.h"
#include "tests/filter/filter_corpus.h"

namespace kestrine {
namespace {

struct Datagram {
    const uint8_t* data;
    uint32_t length;
    std::string origin;
};

class FilterAgreement : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_generated = new std::vector<std::vector<uint8_t>>(test::GeneratedDatagrams());
        s_files = new std::vector<CaptureFileContents>;
        s_datagrams = new std::vector<Datagram>;
        for (const auto& d : *s_generated)
            s_datagrams->push_back({d.data(), static_cast<uint32_t>(d.size()), "generated"});
        std::vector<std::filesystem::path> paths;
        if (std::filesystem::is_directory(KESTRINE_CORPUS))
            for (const auto& entry : std::filesystem::directory_iterator(KESTRINE_CORPUS)) paths.push_back(entry.path());
        std::sort(paths.begin(), paths.end());
        for (const auto& path : paths) {
            s_files->push_back(LoadCaptureFile(path.string()));
            int64_t index = 0;
            for (const PacketRecord& r : s_files->back().records)
                s_datagrams->push_back({r.data, static_cast<uint32_t>(r.length),
                                        path.filename().string() + " #" + std::to_string(++index)});
        }
    }
    static void TearDownTestSuite()
    {
        delete s_datagrams;
        delete s_files;
        delete s_generated;
    }

    static std::vector<std::vector<uint8_t>>* s_generated;
    static std::vector<CaptureFileContents>* s_files;
    static std::vector<Datagram>* s_datagrams;
};

std::vector<std::vector<uint8_t>>* FilterAgreement::s_generated;
std::vector<CaptureFileContents>* FilterAgreement::s_files;
std::vector<Datagram>* FilterAgreement::s_datagrams;

int s_optimiserChanges = 0;

// Whether the datagram ends before the end of a header the expression may read: its IP
// header, or the 20 bytes after it.
bool CutShort(const Datagram& d, const std::string& expression)
{
    (void)expression;
    return d.length < 20 || d.length < 4u * (d.data[0] & 0xfu) + 20;
}

std::string Hex(const uint8_t* data, uint32_t length)
{
    std::ostringstream out;
    for (uint32_t i = 0; i < length && i < 64; ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, "%02x", data[i]);
        out << byte;
    }
    return out.str();
}

TEST_F(FilterAgreement, EveryExpressionGivesLibpcapsVerdictOnEveryDatagram)
{
    ASSERT_GT(s_datagrams->size(), 10000u) << "the shared captures at " << KESTRINE_CORPUS << " are missing";
    pcap_t* dead = pcap_open_dead(DLT_RAW, 262144);
    ASSERT_NE(dead, nullptr);
    for (const std::string& expression : test::FilterCorpus()) {
        std::vector<BpfInstruction> ours;
        FilterError error;
        if (!CompileFilter(expression, ours, error)) {
            ADD_FAILURE() << expression << ": " << FilterErrorText(error);
            continue;
        }
        ASSERT_LE(ours.size(), bpf::MAX_INSTRUCTIONS);
        bpf_program plain, optimised;
        // A netmask of 0, as tcpdump reading a file: "ip broadcast" is the all-ones or all-zeros address.
        if (pcap_compile(dead, &plain, expression.c_str(), 0, 0) != 0 ||
            pcap_compile(dead, &optimised, expression.c_str(), 1, 0) != 0) {
            ADD_FAILURE() << expression << ": " << pcap_geterr(dead);
            continue;
        }
        int differences = 0;
        for (const Datagram& d : *s_datagrams) {
            pcap_pkthdr header{};
            header.caplen = header.len = d.length;
            const bool expected = pcap_offline_filter(&plain, &header, d.data) != 0;
            const bool actual = RunBpf(ours.data(), ours.size(), d.data, d.length) != 0;
            // libpcap's optimiser drops or reorders loads: on a datagram cut inside a field
            // the expression reads, its verdict may differ from the program as written.
            if ((pcap_offline_filter(&optimised, &header, d.data) != 0) != expected) {
                EXPECT_TRUE(CutShort(d, expression)) << "'" << expression << "': libpcap's optimiser changes the verdict on "
                                                     << d.origin << " (" << d.length << " bytes " << Hex(d.data, d.length) << ")";
                ++s_optimiserChanges;
            }
            if (expected != actual && ++differences <= 3)
                ADD_FAILURE() << "'" << expression << "' on " << d.origin << " (" << d.length << " bytes "
                              << Hex(d.data, d.length) << "): libpcap " << expected << ", ours " << actual;
        }
        EXPECT_EQ(differences, 0) << expression;
        pcap_freecode(&plain);
        pcap_freecode(&optimised);
    }
    std::printf("%zu expressions on %zu datagrams; libpcap's optimiser changed %d verdicts on datagrams cut short\n",
                test::FilterCorpus().size(), s_datagrams->size(), s_optimiserChanges);
    pcap_close(dead);
}

// Expressions that libpcap compiles for raw IPv4 but that name what an IPv4 datagram does
// not have are refused, never taken as "matches everything"; and what libpcap refuses as
// malformed, we refuse.
TEST_F(FilterAgreement, RefusesWhatLibpcapRefuses)
{
    pcap_t* dead = pcap_open_dead(DLT_RAW, 262144);
    ASSERT_NE(dead, nullptr);
    const char* const malformed[] = {
        "host", "port", "tcp port", "port 70000", "net 198.18.0.1/15", "net 198.18.0.0/33",
        "host 198.18.0.1/24", "ip[0:3] = 1", "ip[0] = ", "ip[0] / 0 = 1", "ip[0] % 0 = 1", "tcp and",
        "(tcp", "tcp)", "and tcp", "not", "ip[0", "ip[0] 5", "1 +", "udp host 198.18.0.1", "ip port 80",
        "portrange 1-", "net 198.18.0.0 mask 255.255.0.255.1", "ip[0] << 32 = 0", "len", "198.18.0.1.5", "198.18.0.1",
    };
    for (const char* expression : malformed) {
        bpf_program theirs;
        std::vector<BpfInstruction> ours;
        FilterError error;
        EXPECT_NE(pcap_compile(dead, &theirs, expression, 1, 0), 0) << "libpcap takes '" << expression << "'";
        EXPECT_FALSE(CompileFilter(expression, ours, error)) << "we take '" << expression << "'";
        EXPECT_TRUE(ours.empty());
        EXPECT_GE(error.column, 1) << expression;
        EXPECT_LE(error.column, static_cast<int>(std::string(expression).size()) + 1) << expression;
    }
    pcap_close(dead);
}

}  // namespace
}  // namespace kestrine
