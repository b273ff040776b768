// The first-run store on Windows: HKEY_CURRENT_USER\Software\Harvoll\Kestrine.
#include "ui/first_run_store.h"

#include <windows.h>

namespace kestrine {
namespace {

constexpr REGSAM STORE_ACCESS = KEY_READ | KEY_WRITE;
static_assert(STORE_ACCESS == 0x2001F);

}  // namespace

struct FirstRunStore::Platform {
    HKEY key = nullptr;
};

FirstRunStore::FirstRunStore() : m_platform(std::make_unique<Platform>()) {}

FirstRunStore::~FirstRunStore() { Close(); }

bool FirstRunStore::Open()
{
    Close();
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, FIRST_RUN_KEY, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        STORE_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    m_platform->key = key;
    return true;
}

bool FirstRunStore::ReadDword(const char* name, uint32_t* value)
{
    if (!m_platform->key || !value) return false;
    DWORD type = 0;
    DWORD data = 0;
    DWORD size = sizeof data;
    if (RegQueryValueExA(m_platform->key, name, nullptr, &type,
                         reinterpret_cast<BYTE*>(&data), &size) != ERROR_SUCCESS)
        return false;
    if (type != REG_DWORD || size != sizeof data) return false;
    *value = data;
    return true;
}

bool FirstRunStore::WriteDword(const char* name, uint32_t value)
{
    if (!m_platform->key) return false;
    const DWORD data = value;
    return RegSetValueExA(m_platform->key, name, 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&data), sizeof data) == ERROR_SUCCESS;
}

void FirstRunStore::Close()
{
    if (!m_platform->key) return;
    RegCloseKey(m_platform->key);
    m_platform->key = nullptr;
}

}  // namespace kestrine
