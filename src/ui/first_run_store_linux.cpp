// The first-run store outside Windows: the file $XDG_CONFIG_HOME/Harvoll/Kestrine (or
// $HOME/.config/...), one value a line in the registry's export syntax:
//   "FirstRun"=dword:00000001
// A value is the first line that begins with its quoted name and '='; writing it replaces
// that line and keeps every other line as it is. Anything in the store's place that is not a
// regular file, is too large or holds a line not of the form "name"=... is unreadable as a
// whole: every read fails, and so does every write, which leaves it as it is (through a
// linked folder it may be someone else's file). Writes go through the shared file
// replacement (platform/file.h), so the store is always either old or new.
#include "ui/first_run_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/file.h"

namespace kestrine {
namespace {

constexpr const char* VENDOR_FOLDER = "Harvoll";
constexpr const char* STORE_FILE = "Kestrine";
constexpr mode_t FOLDER_MODE = 0700;
constexpr size_t MAX_STORE_BYTES = 64 * 1024;
constexpr std::string_view DWORD_PREFIX = "dword:";
constexpr size_t DWORD_DIGITS = 8;

// The configuration folder; XDG_CONFIG_HOME when set to an absolute path (the XDG rule:
// a relative one is ignored), else $HOME/.config; empty when neither is usable.
std::string ConfigBase()
{
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') return xdg;
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return std::string(home) + "/.config";
    return {};
}

bool IsDirectory(const std::string& path)
{
    struct stat s {};
    return stat(path.c_str(), &s) == 0 && S_ISDIR(s.st_mode);
}

// mkdir -p with FOLDER_MODE for every folder created.
bool MakeFolders(const std::string& path)
{
    for (size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
        const std::string prefix = path.substr(0, end);
        if (!prefix.empty() && prefix.back() != '/' && mkdir(prefix.c_str(), FOLDER_MODE) != 0
            && errno != EEXIST && !IsDirectory(prefix))
            return false;
        if (end == std::string::npos) break;
    }
    return IsDirectory(path);
}

std::optional<uint32_t> ParseDword(std::string_view value)
{
    if (value.substr(0, DWORD_PREFIX.size()) != DWORD_PREFIX) return {};
    const std::string_view digits = value.substr(DWORD_PREFIX.size());
    if (digits.size() != DWORD_DIGITS) return {};
    uint32_t result = 0;
    for (const char c : digits) {
        uint32_t digit = 0;
        if (c >= '0' && c <= '9') digit = uint32_t(c - '0');
        else if (c >= 'a' && c <= 'f') digit = uint32_t(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F') digit = uint32_t(c - 'A' + 10);
        else return {};
        result = result << 4 | digit;
    }
    return result;
}

// `"name"=`, the start of the value's line.
std::string LineStart(std::string_view name) { return '"' + std::string(name) + "\"="; }

// `"name"=...` with a name and a value; the quote and '=' are all that is looked at.
bool IsValueLine(std::string_view line)
{
    const size_t end = line.find("\"=", 1);
    return line.size() > 1 && line[0] == '"' && end != std::string_view::npos && end + 2 < line.size() &&
           line.find('\0') == std::string_view::npos;
}

struct StoreContents {
    bool readable = false;           // missing (a dangling symlink included) or read and parsed
    std::vector<std::string> lines;  // the non-blank lines without their line breaks; none when missing
};

// The lines of the store. O_NONBLOCK and fstat keep a FIFO from blocking the read.
StoreContents LoadStore(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return {errno == ENOENT, {}};
    std::string text;
    struct stat s {};
    bool ok = fstat(fd, &s) == 0 && S_ISREG(s.st_mode) && size_t(s.st_size) <= MAX_STORE_BYTES;
    if (ok) {
        char chunk[4096];
        for (;;) {
            const ssize_t n = read(fd, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) ok = false;
            if (n <= 0) break;
            text.append(chunk, size_t(n));
            if (text.size() > MAX_STORE_BYTES) {  // grew since fstat
                ok = false;
                break;
            }
        }
    }
    close(fd);
    if (!ok) return {};

    StoreContents store{true, {}};
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string_view line(text.data() + start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.find_first_not_of(" \t") == std::string_view::npos) continue;
        if (!IsValueLine(line)) return {};
        store.lines.emplace_back(line);
    }
    return store;
}

// Replaces the file at path by text, whole or not at all (the shared file replacement).
bool ReplaceFile(const std::string& path, std::string_view text)
{
    FileReplacement replacement;
    std::string reason;
    return replacement.Begin(path, &reason) && replacement.Write(text.data(), text.size(), &reason) &&
           replacement.Commit(&reason);
}

}  // namespace

struct FirstRunStore::Platform {
    std::string folder;  // the store's folder, once opened
    std::string path;    // the store's file
    bool open = false;
};

FirstRunStore::FirstRunStore() : m_platform(std::make_unique<Platform>()) {}

FirstRunStore::~FirstRunStore() { Close(); }

bool FirstRunStore::Open()
{
    Close();
    const std::string base = ConfigBase();
    if (base.empty()) return false;
    const std::string folder = base + "/" + VENDOR_FOLDER;
    if (!MakeFolders(folder) || access(folder.c_str(), W_OK | X_OK) != 0) return false;
    m_platform->folder = folder;
    m_platform->path = folder + "/" + STORE_FILE;
    m_platform->open = true;
    return true;
}

bool FirstRunStore::ReadDword(const char* name, uint32_t* value)
{
    if (!m_platform->open || !name || !value) return false;
    const std::string start = LineStart(name);
    for (const std::string& line : LoadStore(m_platform->path).lines) {
        if (line.compare(0, start.size(), start) != 0) continue;
        const auto dword = ParseDword(std::string_view(line).substr(start.size()));
        if (!dword) return false;
        *value = *dword;
        return true;
    }
    return false;
}

bool FirstRunStore::WriteDword(const char* name, uint32_t value)
{
    if (!m_platform->open || !name) return false;
    // A missing store is created with the new value alone; an unreadable one is left alone.
    const StoreContents store = LoadStore(m_platform->path);
    if (!store.readable) return false;
    const std::string start = LineStart(name);
    char digits[DWORD_DIGITS + 1];
    std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(value));
    const std::string written = start + std::string(DWORD_PREFIX) + digits;
    std::string text;
    bool replaced = false;
    for (const std::string& line : store.lines) {
        const bool ours = !replaced && line.compare(0, start.size(), start) == 0;
        text += ours ? written : line;
        text += '\n';
        replaced = replaced || ours;
    }
    if (!replaced) text += written + '\n';
    return ReplaceFile(m_platform->path, text);
}

void FirstRunStore::Close()
{
    m_platform->open = false;
    m_platform->folder.clear();
    m_platform->path.clear();
}

}  // namespace kestrine
