// The first-run store on a file under a temporary XDG_CONFIG_HOME, and the first-run
// decision made on it.
#include "ui/first_run_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kestrine {
namespace {

constexpr size_t STORE_LIMIT = 64 * 1024;  // larger stores are refused
constexpr unsigned DEADLINE_SECONDS = 5;
constexpr const char* WRITTEN_ONE = "\"FirstRun\"=dword:00000001\n";

// Sets an environment variable for one test and puts the old value back afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name)
    {
        if (const char* old = std::getenv(name)) m_old = old;
        if (value) setenv(name, value, 1);
        else unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (m_old) setenv(m_name.c_str(), m_old->c_str(), 1);
        else unsetenv(m_name.c_str());
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_old;
};

std::optional<std::string> ReadText(const std::string& path)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return {};
    std::string text;
    char chunk[4096];
    size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) text.append(chunk, n);
    std::fclose(f);
    return text;
}

bool WriteText(const std::string& path, const std::string& text)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok;
}

bool IsRegularFile(const std::string& path)
{
    struct stat s {};
    return lstat(path.c_str(), &s) == 0 && S_ISREG(s.st_mode);
}

std::vector<std::string> FolderEntries(const std::string& path)
{
    std::vector<std::string> names;
    if (DIR* dir = opendir(path.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(dir);
    }
    return names;
}

// Runs fn in a forked child that SIGALRM ends after the deadline, so a call that blocks
// fails the test instead of hanging it. The child's exit code: 1 for true, 0 for false.
std::optional<bool> RunWithin(unsigned seconds, const std::function<bool()>& fn)
{
    const pid_t child = fork();
    if (child < 0) return {};
    if (child == 0) {
        alarm(seconds);
        _exit(fn() ? 1 : 0);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return {};
    return WEXITSTATUS(status) == 1;
}

// Each test gets its own XDG_CONFIG_HOME under a fresh temporary folder.
class FirstRunStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "kestrine-frs-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_root = pattern;
        m_config = m_root + "/config";
        m_xdg.emplace("XDG_CONFIG_HOME", m_config.c_str());
    }
    void TearDown() override
    {
        m_xdg.reset();
        if (m_root.empty()) return;
        // Give back any permission a test took away, so everything can be removed.
        std::error_code error;
        for (auto it = std::filesystem::recursive_directory_iterator(m_root, error);
             !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error))
            if (it->is_directory(error) && !it->is_symlink(error)) chmod(it->path().c_str(), 0700);
        std::filesystem::remove_all(m_root, error);
    }

    std::string Folder() const { return m_config + "/Harvoll"; }
    std::string StorePath() const { return Folder() + "/Kestrine"; }
    void MakeFolder() const { std::filesystem::create_directories(Folder()); }
    void WriteStore(const std::string& text) const
    {
        MakeFolder();
        ASSERT_TRUE(WriteText(StorePath(), text));
    }
    std::string Store() const { return ReadText(StorePath()).value_or("<missing>"); }

    std::string m_root;
    std::string m_config;
    std::optional<ScopedEnv> m_xdg;
};

// --- The first-run decision -------------------------------------------------------------

TEST_F(FirstRunStoreTest, MissingFolderIsCreatedPrivateAndTheBoxShownOnce)
{
    FirstRunStore store;
    EXPECT_TRUE(TakeFirstRun(store));
    for (const std::string& folder : {m_config, Folder()}) {
        struct stat s {};
        ASSERT_EQ(stat(folder.c_str(), &s), 0) << folder;
        EXPECT_TRUE(S_ISDIR(s.st_mode)) << folder;
        EXPECT_EQ(s.st_mode & 0777, 0700u) << folder;
    }
    EXPECT_EQ(Store(), WRITTEN_ONE);
    EXPECT_FALSE(TakeFirstRun(store));
    FirstRunStore another;
    EXPECT_FALSE(TakeFirstRun(another));
    // Only the store remains: no temporary file is left behind.
    EXPECT_EQ(FolderEntries(Folder()), std::vector<std::string>{"Kestrine"});
}

TEST_F(FirstRunStoreTest, MissingValueIsWrittenAndOtherValuesKept)
{
    WriteStore("\"Columns\"=\"Time,Source\"\n\"Width\"=dword:0000002a\n");
    FirstRunStore store;
    EXPECT_TRUE(TakeFirstRun(store));
    EXPECT_EQ(Store(), std::string("\"Columns\"=\"Time,Source\"\n\"Width\"=dword:0000002a\n") + WRITTEN_ONE);
    ASSERT_TRUE(store.Open());
    uint32_t width = 0;
    ASSERT_TRUE(store.ReadDword("Width", &width));
    EXPECT_EQ(width, 42u);
    EXPECT_FALSE(TakeFirstRun(store));
}

TEST_F(FirstRunStoreTest, ZeroIsShownAndRewrittenAsOne)
{
    WriteStore("\"FirstRun\"=dword:00000000\n");
    FirstRunStore store;
    EXPECT_TRUE(TakeFirstRun(store));
    EXPECT_EQ(Store(), WRITTEN_ONE);
    EXPECT_FALSE(TakeFirstRun(store));
}

TEST_F(FirstRunStoreTest, TextOneIsNotADwordAndIsRewrittenAsOne)
{
    WriteStore("\"Before\"=\"a\"\n\"FirstRun\"=\"1\"\n\"After\"=hex:01,02\n");
    FirstRunStore store;
    EXPECT_TRUE(TakeFirstRun(store));
    EXPECT_EQ(Store(), std::string("\"Before\"=\"a\"\n") + WRITTEN_ONE + "\"After\"=hex:01,02\n");
}

TEST_F(FirstRunStoreTest, AnyNonZeroDwordIsNotShownAndLeftAlone)
{
    for (const char* text : {"\"FirstRun\"=dword:00000001\n", "\"FirstRun\"=dword:00000005\n",
                             "\"FirstRun\"=dword:FFFFFFFF"}) {
        WriteStore(text);
        FirstRunStore store;
        EXPECT_FALSE(TakeFirstRun(store)) << text;
        EXPECT_EQ(Store(), text);
    }
}

TEST_F(FirstRunStoreTest, UnparsableFileIsShownAndLeftAlone)
{
    for (const char* text : {"\"Keep\"=\"x\"\nthis is not a value line\n", "\"Keep\"=\"x\"\n\"NoEquals\"\n",
                             "\"FirstRun\"=dword:00000005\n\"Open\n", "\"Empty\"=\n",
                             "\"FirstRun\"=dword:00000005\n\x89PNG\r\n\x1a\n"}) {
        WriteStore(text);
        FirstRunStore store;
        EXPECT_TRUE(TakeFirstRun(store)) << text;
        EXPECT_EQ(Store(), text);
        EXPECT_TRUE(TakeFirstRun(store)) << text;  // nothing written, so the box comes back
    }
    // The vendor folder linked to someone else's folder, whose "Kestrine" is not ours.
    const std::string elsewhere = m_root + "/projects";
    ASSERT_TRUE(std::filesystem::create_directory(elsewhere));
    ASSERT_TRUE(WriteText(elsewhere + "/Kestrine", "# notes\nkeep me\n"));
    std::filesystem::remove_all(Folder());
    ASSERT_EQ(symlink(elsewhere.c_str(), Folder().c_str()), 0);
    FirstRunStore store;
    EXPECT_TRUE(TakeFirstRun(store));
    EXPECT_EQ(ReadText(elsewhere + "/Kestrine"), "# notes\nkeep me\n");
    EXPECT_EQ(FolderEntries(elsewhere), std::vector<std::string>{"Kestrine"});
}

TEST_F(FirstRunStoreTest, DirectoryInPlaceOfTheFileIsShownAndNotRemoved)
{
    MakeFolder();
    ASSERT_EQ(mkdir(StorePath().c_str(), 0700), 0);
    ASSERT_TRUE(WriteText(StorePath() + "/inside", "data"));
    FirstRunStore store;
    EXPECT_TRUE(TakeFirstRun(store));
    // Not ours to delete: the write fails, so the box comes back next time.
    EXPECT_EQ(ReadText(StorePath() + "/inside"), "data");
    EXPECT_TRUE(TakeFirstRun(store));
    EXPECT_EQ(FolderEntries(Folder()), std::vector<std::string>{"Kestrine"});
}

TEST_F(FirstRunStoreTest, FifoInPlaceOfTheFileNeverBlocksAndIsLeftAlone)
{
    MakeFolder();
    ASSERT_EQ(mkfifo(StorePath().c_str(), 0600), 0);
    // Read alone, on a FIFO without a writer.
    EXPECT_EQ(RunWithin(DEADLINE_SECONDS, [&] {
                  FirstRunStore store;
                  uint32_t value = 0;
                  return store.Open() && !store.ReadDword(FIRST_RUN_VALUE, &value);
              }),
              std::optional<bool>(true));
    // With a writer holding it open: draining it would never end.
    const int writer = open(StorePath().c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(write(writer, WRITTEN_ONE, 5), 5);
    EXPECT_EQ(RunWithin(DEADLINE_SECONDS, [] {
                  FirstRunStore store;
                  return TakeFirstRun(store);
              }),
              std::optional<bool>(true));
    close(writer);
    struct stat s {};
    ASSERT_EQ(lstat(StorePath().c_str(), &s), 0);
    EXPECT_TRUE(S_ISFIFO(s.st_mode));
}

TEST_F(FirstRunStoreTest, DanglingSymlinkIsShownAndReplacedByAFile)
{
    MakeFolder();
    ASSERT_EQ(symlink((m_root + "/nowhere").c_str(), StorePath().c_str()), 0);
    FirstRunStore store;
    EXPECT_TRUE(TakeFirstRun(store));
    EXPECT_TRUE(IsRegularFile(StorePath()));
    EXPECT_EQ(Store(), WRITTEN_ONE);
    EXPECT_FALSE(std::filesystem::exists(m_root + "/nowhere"));
    EXPECT_FALSE(TakeFirstRun(store));
}

// A well-formed store of exactly size bytes with FirstRun = 5 first, then padding values.
std::string StoreOfSize(size_t size)
{
    std::string text = "\"FirstRun\"=dword:00000005\n";
    const std::string head = "\"Pad\"=\"";
    const std::string tail = "\"\n";
    while (text.size() < size) {
        const size_t room = size - text.size();
        const size_t fill = room >= 1000 + head.size() + tail.size() ? 1000 : room - head.size() - tail.size();
        text += head + std::string(fill, 'x') + tail;
    }
    return text;
}

TEST_F(FirstRunStoreTest, StoreUpToTheLimitIsReadAndLargerIsRefused)
{
    const std::string atLimit = StoreOfSize(STORE_LIMIT);
    ASSERT_EQ(atLimit.size(), STORE_LIMIT);
    WriteStore(atLimit);
    FirstRunStore store;
    EXPECT_FALSE(TakeFirstRun(store));
    EXPECT_EQ(Store(), atLimit);

    const std::string over = StoreOfSize(STORE_LIMIT + 1);
    ASSERT_EQ(over.size(), STORE_LIMIT + 1);
    WriteStore(over);
    EXPECT_TRUE(TakeFirstRun(store));
    EXPECT_EQ(Store(), over);
}

TEST_F(FirstRunStoreTest, FolderThatCannotBeCreatedShowsNothing)
{
    // The configuration "folder" runs through a regular file: refused even for root.
    ASSERT_TRUE(WriteText(m_root + "/file", "x"));
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", (m_root + "/file/config").c_str());
        FirstRunStore store;
        EXPECT_FALSE(store.Open());
        EXPECT_FALSE(TakeFirstRun(store));
    }
    // The vendor folder's name taken by a file.
    ASSERT_EQ(mkdir(m_config.c_str(), 0700), 0);
    ASSERT_TRUE(WriteText(Folder(), "x"));
    FirstRunStore store;
    EXPECT_FALSE(TakeFirstRun(store));
    EXPECT_EQ(ReadText(Folder()), "x");
}

TEST_F(FirstRunStoreTest, UnwritableFolderShowsNothing)
{
    if (geteuid() == 0) GTEST_SKIP() << "root bypasses folder permissions";
    ASSERT_EQ(mkdir(m_config.c_str(), 0500), 0);
    FirstRunStore store;
    EXPECT_FALSE(TakeFirstRun(store));
    EXPECT_TRUE(FolderEntries(m_config).empty());
    ASSERT_EQ(chmod(m_config.c_str(), 0700), 0);
    MakeFolder();
    ASSERT_EQ(chmod(Folder().c_str(), 0500), 0);
    EXPECT_FALSE(TakeFirstRun(store));
    EXPECT_TRUE(FolderEntries(Folder()).empty());
}

TEST_F(FirstRunStoreTest, ValueIsOnDiskBeforeTheBoxWouldShow)
{
    // A program killed while its first About box is open: the next run shows none.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        alarm(DEADLINE_SECONDS);
        FirstRunStore store;
        if (TakeFirstRun(store)) raise(SIGKILL);  // where the box would be
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGKILL);
    EXPECT_EQ(Store(), WRITTEN_ONE);
    FirstRunStore store;
    EXPECT_FALSE(TakeFirstRun(store));
}

TEST_F(FirstRunStoreTest, WithoutHomeOrConfigFolderNothingIsShown)
{
    ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
    ScopedEnv home("HOME", nullptr);
    FirstRunStore store;
    EXPECT_FALSE(store.Open());
    EXPECT_FALSE(TakeFirstRun(store));
    uint32_t value = 7;
    EXPECT_FALSE(store.ReadDword(FIRST_RUN_VALUE, &value));
    EXPECT_FALSE(store.WriteDword(FIRST_RUN_VALUE, 1));
    EXPECT_EQ(value, 7u);
}

TEST_F(FirstRunStoreTest, EmptyOrRelativeConfigFolderFallsBackToHome)
{
    const std::string home = m_root + "/home";
    ScopedEnv homeEnv("HOME", home.c_str());
    for (const char* xdg : {"", "relative/config"}) {
        ScopedEnv xdgEnv("XDG_CONFIG_HOME", xdg);
        std::filesystem::remove_all(home);
        FirstRunStore store;
        EXPECT_TRUE(TakeFirstRun(store)) << '"' << xdg << '"';
        EXPECT_EQ(ReadText(home + "/.config/Harvoll/Kestrine"), WRITTEN_ONE) << '"' << xdg << '"';
        EXPECT_FALSE(TakeFirstRun(store));
    }
    EXPECT_FALSE(std::filesystem::exists("relative"));
}

// --- The store's values ------------------------------------------------------------------

TEST_F(FirstRunStoreTest, DwordNeedsExactlyEightHexDigits)
{
    FirstRunStore store;
    ASSERT_TRUE(store.Open());
    const struct {
        const char* value;
        std::optional<uint32_t> expected;
    } CASES[] = {
        {"dword:0000002a", 0x2au},  {"dword:DEADbeef", 0xdeadbeefu}, {"dword:2a", std::nullopt},
        {"dword:0000002", std::nullopt}, {"dword:000000002", std::nullopt},
        {"dword:0000002g", std::nullopt}, {"dword:-0000001", std::nullopt},
        {"dword: 0000002a", std::nullopt}, {"dword:0000002a ", std::nullopt},
        {"DWORD:0000002a", std::nullopt}, {"\"0000002a\"", std::nullopt},
        {"hex(4):2a,00,00,00", std::nullopt},
    };
    for (const auto& c : CASES) {
        WriteStore(std::string("\"Value\"=") + c.value + "\n");
        uint32_t value = 0xffff;
        const bool read = store.ReadDword("Value", &value);
        EXPECT_EQ(read, c.expected.has_value()) << c.value;
        // A failed read leaves the value alone.
        EXPECT_EQ(value, c.expected.value_or(0xffffu)) << c.value;
    }
}

TEST_F(FirstRunStoreTest, ReadsAndWritesNeedAnOpenStore)
{
    WriteStore("\"FirstRun\"=dword:00000005\n");
    FirstRunStore store;
    uint32_t value = 0;
    EXPECT_FALSE(store.ReadDword(FIRST_RUN_VALUE, &value));
    EXPECT_FALSE(store.WriteDword(FIRST_RUN_VALUE, 1));
    ASSERT_TRUE(store.Open());
    EXPECT_TRUE(store.ReadDword(FIRST_RUN_VALUE, &value));
    EXPECT_EQ(value, 5u);
    store.Close();
    EXPECT_FALSE(store.ReadDword(FIRST_RUN_VALUE, &value));
    EXPECT_EQ(Store(), "\"FirstRun\"=dword:00000005\n");
}

TEST_F(FirstRunStoreTest, OnlyTheValuesOwnLineIsReadAndRewritten)
{
    WriteStore("\"firstrun\"=dword:00000000\r\n\r\n\"FirstRun\"=dword:00000003\r\n\"Other\"=\"a=b\"\r\n");
    FirstRunStore store;
    ASSERT_TRUE(store.Open());
    uint32_t value = 0;
    ASSERT_TRUE(store.ReadDword(FIRST_RUN_VALUE, &value));
    EXPECT_EQ(value, 3u);
    ASSERT_TRUE(store.WriteDword(FIRST_RUN_VALUE, 9));
    EXPECT_EQ(Store(), "\"firstrun\"=dword:00000000\n\"FirstRun\"=dword:00000009\n\"Other\"=\"a=b\"\n");
}

TEST_F(FirstRunStoreTest, UnreadableStoreFailsEveryReadAndWrite)
{
    WriteStore("\"Width\"=dword:0000002a\nnot a value\n");
    FirstRunStore store;
    ASSERT_TRUE(store.Open());
    uint32_t value = 0;
    EXPECT_FALSE(store.ReadDword("Width", &value));
    EXPECT_FALSE(store.WriteDword("Height", 7));
    EXPECT_EQ(Store(), "\"Width\"=dword:0000002a\nnot a value\n");
    EXPECT_EQ(FolderEntries(Folder()), std::vector<std::string>{"Kestrine"});
}

}  // namespace
}  // namespace kestrine
