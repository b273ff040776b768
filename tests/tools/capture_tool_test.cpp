// kestrine-capture as a user runs it: its arguments, a missing capture right, live summary
// lines, and a rotating recording on a veth pair under a flood compared with tcpdump -w.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "capture_file/capture_file.h"
#include "tests/support/netns.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string ReadText(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A program started with its output and errors in files.
class Child {
public:
    Child(std::vector<std::string> argv, const std::string& out, const std::string& err)
    {
        m_pid = fork();
        if (m_pid == 0) {
            const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(o, 1);
            dup2(e, 2);
            std::vector<char*> args;
            for (auto& a : argv) args.push_back(a.data());
            args.push_back(nullptr);
            execvp(args[0], args.data());
            _exit(127);
        }
    }
    ~Child()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }
    void Signal(int signal) const { kill(m_pid, signal); }
    // The exit status, or -1 after a signal.
    int Wait()
    {
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t m_pid = -1;
};

class CaptureToolTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/kestrine-capture-tool-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
        chmod(m_dir.c_str(), 0777);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    // Runs kestrine-capture with arguments to its end: the exit status; its output and
    // errors in m_out and m_err.
    int Run(const std::vector<std::string>& arguments, const std::vector<std::string>& before = {})
    {
        std::vector<std::string> argv = before;
        argv.push_back(KESTRINE_CAPTURE);
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        Child child(argv, m_dir + "/out", m_dir + "/err");
        const int status = child.Wait();
        m_out = ReadText(m_dir + "/out");
        m_err = ReadText(m_dir + "/err");
        return status;
    }

    std::string m_dir;
    std::string m_out;
    std::string m_err;
};

TEST_F(CaptureToolTest, ABadArgumentGetsOneLineNamingItAndStatusTwo)
{
    const struct {
        std::vector<std::string> arguments;
        const char* named;
    } cases[] = {
        {{"-i", "lo", "-C", "0", "-w", "f"}, "-C 0"},
        {{"-i", "lo", "-C", "1"}, "-C needs -w FILE"},
        {{"-i", "lo", "-G", "5", "-w", "-"}, "-G needs -w FILE"},
        {{"-i", "lo", "-W", "3", "-w", "f"}, "-W needs -C or -G"},
        {{"-i", "lo", "-c", "ten"}, "-c ten"},
        {{"-i", "lo", "--duration", "-1"}, "--duration -1"},
        {{"-i", "lo", "-x"}, "-x"},
        {{"-i"}, "-i needs a value"},
        {{"-w", "f"}, "-i IFACE"},
        {{"-i", "lo", "udp", "port"}, "column 9: expected a port"},
        {{"-i", "lo", "ether", "host", "198.18.0.1"}, "'ether'"},
        {{"-i", "kestrine-none0"}, "kestrine-none0"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Run(c.arguments), 2) << c.named;
        const std::string first = m_err.substr(0, m_err.find('\n'));
        EXPECT_EQ(first.rfind("kestrine-capture: ", 0), 0u) << m_err;
        EXPECT_NE(first.find(c.named), std::string::npos) << m_err;
        EXPECT_TRUE(m_out.empty());
    }
    EXPECT_FALSE(fs::exists(m_dir + "/f"));
}

TEST_F(CaptureToolTest, HelpAndVersionGoToStandardOutput)
{
    EXPECT_EQ(Run({"--version"}), 0);
    EXPECT_EQ(m_out, "kestrine-capture " KESTRINE_VERSION "\n");
    EXPECT_EQ(Run({"--help"}), 0);
    EXPECT_EQ(m_out.rfind("usage: kestrine-capture -i IFACE", 0), 0u);
    EXPECT_TRUE(m_err.empty());
}

TEST_F(CaptureToolTest, WithoutTheCaptureRightItNamesTheRemedy)
{
    if (geteuid() != 0) GTEST_SKIP() << "running as another user needs root; skipped";
    if (std::system("command -v setpriv >/dev/null 2>&1") != 0) GTEST_SKIP() << "setpriv missing; skipped";
    EXPECT_EQ(Run({"-i", "lo", "-w", m_dir + "/f.pcap"},
                  {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--inh-caps=-all"}),
              2);
    EXPECT_EQ(m_err,
              "kestrine-capture: capturing needs CAP_NET_RAW: join the group kestrine and log in again, or run "
              "setcap cap_net_raw+ep on kestrine-capture\n");
    EXPECT_FALSE(fs::exists(m_dir + "/f.pcap"));
}

// Sends count UDP datagrams of size bytes to address:port, each opening with its number
// (32 bits, host order), a few at a time so that no capture's ring overflows.
void SendNumbered(const char* address, int port, uint32_t count, size_t size)
{
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, address, &to.sin_addr);
    std::vector<uint8_t> payload(size, 0x33);
    for (uint32_t i = 0; i < count; ++i) {
        std::memcpy(payload.data(), &i, sizeof i);
        sendto(s, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        if (i % 20 == 19) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    close(s);
}

// The numbers of the UDP datagrams to port in a capture file, in file order.
std::vector<uint32_t> NumbersTo(const std::string& path, int port, kestrine::ReadEnd* end = nullptr)
{
    std::vector<uint32_t> numbers;
    const auto outcome = kestrine::ForEachDatagram(path.c_str(), [&](const kestrine::PacketRecord& r, int64_t) {
        if (r.length >= 32 && r.data[9] == 17 && (r.data[22] << 8 | r.data[23]) == port) {
            uint32_t n;
            std::memcpy(&n, r.data + 28, sizeof n);
            numbers.push_back(n);
        }
        return true;
    });
    if (end) *end = outcome.end;
    return numbers;
}

bool AppearsWithin(const std::vector<std::string>& paths, double seconds)
{
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        bool all = true;
        for (const auto& p : paths) all = all && fs::exists(p);
        if (all || Clock::now() > deadline) return all;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

TEST_F(CaptureToolTest, WithoutAFileItPrintsTheSummaryLinesOfWhatItsExpressionKeepsAsTheyArrive)
{
    if (!kestrine::testnet::EnterPrivateNamespace()) GTEST_SKIP() << kestrine::testnet::WhyNot();
    int port = 0;
    const int receiver = kestrine::testnet::BindLoopbackUdp(&port);
    int otherPort = 0;
    const int other = kestrine::testnet::BindLoopbackUdp(&otherPort);
    // The expression as tcpdump takes it, in several arguments: only the first port's
    // datagrams are kept.
    Child capture({KESTRINE_CAPTURE, "-i", "lo", "-c", "3", "udp", "dst", "port", std::to_string(port)},
                  m_dir + "/out", m_dir + "/err");
    // The first line comes once the capture runs; the datagrams are sent after it.
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (ReadText(m_dir + "/out").empty() && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    kestrine::testnet::SendUdp("127.0.0.1", otherPort, 3, 20);
    kestrine::testnet::SendUdp("127.0.0.1", port, 3, 10);
    EXPECT_EQ(capture.Wait(), 0);
    close(receiver);
    close(other);
    std::istringstream lines(ReadText(m_dir + "/out"));
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line.rfind("Index    Time-Stamp", 0), 0u);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(std::getline(lines, line));
        EXPECT_EQ(line.rfind("    " + std::to_string(i) + " ", 0), 0u) << line;
        // 38 bytes: the kept port's datagrams, not the 48-byte ones sent to the other.
        EXPECT_NE(line.find(" 38  UDP    127.0.0.1        127.0.0.1"), std::string::npos) << line;
    }
    EXPECT_FALSE(std::getline(lines, line));
    EXPECT_EQ(ReadText(m_dir + "/err"), "3 datagrams captured\n0 datagrams dropped by kernel\n");
}

TEST_F(CaptureToolTest, AnInterfaceRemovedEndsTheRecordingWithItsMessageAndTheFileReadable)
{
    if (!kestrine::testnet::EnterPrivateNamespace()) GTEST_SKIP() << kestrine::testnet::WhyNot();
    using kestrine::testnet::Run;
    ASSERT_EQ(Run("ip link add kgone0 type veth peer name kgone1"), 0);
    // A fixed neighbour: datagrams to it leave by kgone0 without waiting for an answer.
    ASSERT_EQ(Run("ip addr add 198.18.1.1/24 dev kgone0 && ip link set kgone0 up && ip link set kgone1 up && "
                  "ip neigh add 198.18.1.2 lladdr 02:00:00:00:00:02 dev kgone0"),
              0);
    const std::string path = m_dir + "/gone.pcap";
    Child capture({KESTRINE_CAPTURE, "-i", "kgone0", "-w", path}, m_dir + "/out", m_dir + "/err");
    ASSERT_TRUE(AppearsWithin({path}, 10));
    SendNumbered("198.18.1.2", 9300, 50, 100);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_EQ(Run("ip link del kgone0"), 0);
    EXPECT_EQ(capture.Wait(), 1);
    const std::string err = ReadText(m_dir + "/err");
    EXPECT_EQ(err.substr(0, err.find('\n')), "kestrine-capture: -i kgone0: the interface was removed");
    kestrine::ReadEnd end;
    const auto numbers = NumbersTo(path, 9300, &end);
    EXPECT_EQ(end, kestrine::ReadEnd::Complete);
    EXPECT_EQ(numbers.size(), 50u);
    EXPECT_EQ(std::system(("tcpdump -nr '" + path + "' >/dev/null 2>&1").c_str()), 0);
}

// The done-when case: -C 1 -W 3 under a flood leaves at most three files, each read by
// tcpdump, together the last datagrams in order with none missing, as tcpdump -w saw them.
TEST_F(CaptureToolTest, ARotatingRingOnAVethPairHoldsTheNewestDatagramsWithoutAGap)
{
    if (!kestrine::testnet::EnterPrivateNamespace()) GTEST_SKIP() << kestrine::testnet::WhyNot();
    if (std::system("command -v tcpdump >/dev/null 2>&1") != 0) GTEST_SKIP() << "tcpdump missing; skipped";
    kestrine::testnet::Peer peer;
    ASSERT_TRUE(peer.Start());
    constexpr int PORT = 9100;
    constexpr uint32_t COUNT = 5000;
    const std::string path = m_dir + "/ring.pcap";
    const std::string peerPath = m_dir + "/tcpdump.pcap";
    Child capture({KESTRINE_CAPTURE, "-i", "kveth0", "-w", path, "-C", "1", "-W", "3"}, m_dir + "/out",
                  m_dir + "/err");
    Child tcpdump({"tcpdump", "-i", "kveth0", "-n", "-U", "-w", peerPath, "udp"}, m_dir + "/tcpdump.out",
                  m_dir + "/tcpdump.err");
    ASSERT_TRUE(AppearsWithin({path, peerPath}, 10));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // tcpdump's filter in place
    SendNumbered("198.18.0.2", PORT, COUNT, 1000);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // both have written it all
    capture.Signal(SIGTERM);
    tcpdump.Signal(SIGINT);
    EXPECT_EQ(capture.Wait(), 0);
    tcpdump.Wait();

    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(m_dir))
        if (entry.path().filename().string().rfind("ring", 0) == 0) files.push_back(entry.path().string());
    std::sort(files.begin(), files.end(), [](const std::string& a, const std::string& b) {
        // ring.pcap comes first, then ring-00001.pcap...
        return (a.size() == b.size()) ? a < b : a.size() < b.size();
    });
    ASSERT_GE(files.size(), 2u);
    EXPECT_LE(files.size(), 3u);
    std::vector<uint32_t> recorded;
    for (const auto& f : files) {
        EXPECT_EQ(std::system(("tcpdump -nr '" + f + "' >/dev/null 2>&1").c_str()), 0) << f;
        kestrine::ReadEnd end;
        const auto numbers = NumbersTo(f, PORT, &end);
        EXPECT_EQ(end, kestrine::ReadEnd::Complete) << f;
        EXPECT_LE(fs::file_size(f), 1000000u) << f;
        recorded.insert(recorded.end(), numbers.begin(), numbers.end());
    }
    const auto seen = NumbersTo(peerPath, PORT);
    ASSERT_FALSE(recorded.empty());
    ASSERT_GE(seen.size(), recorded.size());
    // The ring's datagrams are the last ones tcpdump saw, the same, in the same order.
    EXPECT_EQ(recorded, std::vector<uint32_t>(seen.end() - static_cast<long>(recorded.size()), seen.end()));
    EXPECT_EQ(recorded.back(), COUNT - 1);
    const std::string err = ReadText(m_dir + "/err");
    EXPECT_NE(err.find(" datagrams captured\n"), std::string::npos) << err;
    EXPECT_NE(err.find("0 datagrams dropped by kernel\n"), std::string::npos) << err;
}

}  // namespace
