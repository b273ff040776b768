// The Linux file calls where they meet the system: a FIFO refused at once rather than
// waited on, a mapping that survives its file being truncated, identities of two names,
// and replacements that keep the target's mode or take the umask's.
#include "platform/file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace kestrine {
namespace {

class PlatformFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string name = std::string(::testing::TempDir()) + "kestrine-platform-XXXXXX";
        ASSERT_NE(mkdtemp(name.data()), nullptr) << std::strerror(errno);
        m_folder = name;
    }
    void TearDown() override { std::filesystem::remove_all(m_folder); }
    std::string In(const std::string& name) const { return m_folder + "/" + name; }
    void Store(const std::string& path, const std::string& text, mode_t mode = 0644) const
    {
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, mode);
        ASSERT_GE(fd, 0) << std::strerror(errno);
        ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
        close(fd);
        ASSERT_EQ(chmod(path.c_str(), mode), 0);
    }
    std::string m_folder;
};

TEST_F(PlatformFile, AFifoWithoutWriterIsRefusedAtOnceAndAFolderAlikeOnEveryPlatform)
{
    const std::string fifo = In("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0) << std::strerror(errno);
    MappedFile file;
    std::string reason;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(file.Open(fifo, &reason));  // a blocking open would hang the test here
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(reason, "not a regular file (a FIFO)");
    EXPECT_FALSE(file.Open(m_folder, &reason));
    EXPECT_EQ(reason, "Is a directory");
    EXPECT_FALSE(file.Open("/dev/zero", &reason));
    EXPECT_EQ(reason, "not a regular file (a character device)");
    InputFile input;
    EXPECT_FALSE(input.Open(m_folder, &reason));
    EXPECT_EQ(reason, "Is a directory");
}

TEST_F(PlatformFile, ATruncatedMappingReadsZerosInsteadOfKillingTheProcess)
{
    const long page = sysconf(_SC_PAGESIZE);
    const std::string path = In("capture");
    Store(path, std::string(static_cast<size_t>(page) * 4, 'x'));
    MappedFile file;
    std::string reason;
    ASSERT_TRUE(file.Open(path, &reason)) << reason;
    EXPECT_FALSE(file.Shrank());
    ASSERT_EQ(truncate(path.c_str(), page), 0) << std::strerror(errno);
    const volatile uint8_t* data = file.Data();
    EXPECT_EQ(data[0], 'x');
    EXPECT_EQ(data[page * 2 + 5], 0);  // SIGBUS without the guard
    EXPECT_EQ(data[page * 4 - 1], 0);
    EXPECT_TRUE(file.Shrank());
    // A second mapping of its own starts unharmed.
    MappedFile other;
    ASSERT_TRUE(other.Open(path, &reason)) << reason;
    EXPECT_EQ(other.Size(), static_cast<size_t>(page));
    EXPECT_FALSE(other.Shrank());
}

TEST_F(PlatformFile, TwoNamesOfOneFileHaveOneIdentityAndALinkItsOwn)
{
    Store(In("a"), "capture");
    ASSERT_EQ(link(In("a").c_str(), In("b").c_str()), 0);
    ASSERT_EQ(symlink("a", In("s").c_str()), 0);
    MappedFile file;
    std::string reason;
    ASSERT_TRUE(file.Open(m_folder + "/./a", &reason)) << reason;
    EXPECT_TRUE(IdentityOf(In("b")) == file.Identity());
    EXPECT_FALSE(IdentityOf(In("s")) == file.Identity());  // saving there replaces the link only
    EXPECT_FALSE(IdentityOf(In("missing")) == IdentityOf(In("missing")));
}

TEST_F(PlatformFile, AReplacementKeepsTheTargetsModeAndANewFileTakesTheUmask)
{
    const auto replace = [](const std::string& path) {
        FileReplacement replacement;
        std::string reason;
        EXPECT_TRUE(replacement.Begin(path, &reason) && replacement.Write("new", 3, &reason) &&
                    replacement.Commit(&reason))
            << reason;
    };
    const auto mode = [](const std::string& path) {
        struct stat st {};
        EXPECT_EQ(stat(path.c_str(), &st), 0);
        return st.st_mode & 07777;
    };
    Store(In("private.pcap"), "old", 0600);
    replace(In("private.pcap"));
    EXPECT_EQ(mode(In("private.pcap")), 0600u);
    Store(In("shared.pcap"), "old", 0664);
    replace(In("shared.pcap"));
    EXPECT_EQ(mode(In("shared.pcap")), 0664u);
    if (geteuid() == 0) {  // root may give the file its owner back, as it was
        Store(In("theirs.pcap"), "old", 0640);
        ASSERT_EQ(chown(In("theirs.pcap").c_str(), 65534, 65534), 0) << std::strerror(errno);
        replace(In("theirs.pcap"));
        struct stat st {};
        ASSERT_EQ(stat(In("theirs.pcap").c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, 65534u);
        EXPECT_EQ(st.st_gid, 65534u);
        EXPECT_EQ(st.st_mode & 07777, 0640u);
    }
    const mode_t mask = umask(027);
    replace(In("new.pcap"));
    umask(mask);
    EXPECT_EQ(mode(In("new.pcap")), 0640u);
    // No temporary left behind.
    for (const auto& entry : std::filesystem::directory_iterator(m_folder))
        EXPECT_NE(entry.path().filename().string().rfind(TEMPORARY_PREFIX, 0), 0u) << entry.path();
}

TEST(PlatformFileNames, TheTemporaryNamesItsTargetAndFitsInOneFileName)
{
    EXPECT_EQ(TemporaryName("trace.pcap", 6), ".kestrine-save-trace.pcap-");
    // 120 two-byte characters: cut to fit 255 bytes with the random part, never inside one.
    std::string longName;
    for (int i = 0; i < 120; ++i) longName += "\xc3\xa9";
    const std::string name = TemporaryName(longName, 6);
    EXPECT_LE(name.size() + 6, 255u);
    EXPECT_GE(name.size() + 6, 254u);
    EXPECT_EQ(name.substr(0, 15), ".kestrine-save-");
    EXPECT_EQ((name.size() - 16) % 2, 0u);
}

}  // namespace
}  // namespace kestrine
