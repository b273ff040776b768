// Reading the provider's system files: regular files only, never blocking, up to a limit.
#include "netinfo/system_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/netinfo/netinfo_test_util.h"

namespace kestrine {
namespace {

using testing::FinishesWithin;
using testing::TempDirectory;

constexpr int DEADLINE_SECONDS = 5;

bool WriteFile(const std::string& path, const std::string& text)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok;
}

TEST(NetinfoSystemFiles, FifoWithoutWriterIsRefusedAtOnce)
{
    TempDirectory dir;
    ASSERT_TRUE(dir.Valid());
    const std::string lease = dir.File("7");  // where a lease file would be
    ASSERT_EQ(mkfifo(lease.c_str(), 0600), 0);
    EXPECT_TRUE(PathExists(lease));  // looked at, not opened
    EXPECT_TRUE(FinishesWithin(DEADLINE_SECONDS, [&] { return ReadSystemFile(lease).empty(); }));
}

TEST(NetinfoSystemFiles, FifoWithWriterIsRefusedNotDrained)
{
    TempDirectory dir;
    ASSERT_TRUE(dir.Valid());
    const std::string entry = dir.File("n3");  // where a device database entry would be
    ASSERT_EQ(mkfifo(entry.c_str(), 0600), 0);
    // A writer that keeps the FIFO open: reading to its end would wait forever.
    const int writer = open(entry.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    const std::string text = "E:ID_MODEL_FROM_DATABASE=Model\n";
    ASSERT_EQ(write(writer, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    EXPECT_TRUE(FinishesWithin(DEADLINE_SECONDS, [&] { return ReadSystemFile(entry).empty(); }));
    close(writer);
}

TEST(NetinfoSystemFiles, RegularFileIsReadUpToTheLimit)
{
    TempDirectory dir;
    ASSERT_TRUE(dir.Valid());
    const std::string path = dir.File("resolv.conf");
    std::string text;
    for (int i = 0; text.size() < 10000; ++i) text += "nameserver 198.18." + std::to_string(i % 256) + ".53\n";
    ASSERT_TRUE(WriteFile(path, text));
    EXPECT_EQ(ReadSystemFile(path), text);
    for (size_t limit : {size_t{0}, size_t{1}, size_t{4095}, size_t{4097}, text.size() - 1})
        EXPECT_EQ(ReadSystemFile(path, limit), text.substr(0, limit)) << limit;
    EXPECT_EQ(ReadSystemFile(path, text.size() + 1), text);
}

TEST(NetinfoSystemFiles, DirectoryAndMissingFileGiveNothing)
{
    TempDirectory dir;
    ASSERT_TRUE(dir.Valid());
    const std::string lease = dir.File("eth0.lease");
    ASSERT_EQ(mkdir(lease.c_str(), 0700), 0);
    EXPECT_EQ(ReadSystemFile(lease), "");
    EXPECT_EQ(rmdir(lease.c_str()), 0);
    EXPECT_FALSE(PathExists(lease));
    EXPECT_EQ(ReadSystemFile(lease), "");
}

}  // namespace
}  // namespace kestrine
