// The first-run store in the registry of the throw-away Wine prefix: the FirstRun value is
// saved before each test and put back after it, so the store's fixed key can be used as is.
#include "ui/first_run_store.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <vector>

namespace kestrine {
namespace {

struct Value {
    DWORD type = 0;
    std::vector<BYTE> data;
};

std::optional<Value> ReadValue()
{
    Value value;
    DWORD size = 0;
    if (RegGetValueA(HKEY_CURRENT_USER, FIRST_RUN_KEY, FIRST_RUN_VALUE, RRF_RT_ANY | RRF_NOEXPAND, &value.type,
                     nullptr, &size) != ERROR_SUCCESS)
        return {};
    value.data.resize(size);
    if (RegGetValueA(HKEY_CURRENT_USER, FIRST_RUN_KEY, FIRST_RUN_VALUE, RRF_RT_ANY | RRF_NOEXPAND, &value.type,
                     value.data.data(), &size) != ERROR_SUCCESS)
        return {};
    value.data.resize(size);
    return value;
}

void WriteValue(DWORD type, const void* data, DWORD size)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, FIRST_RUN_KEY, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, FIRST_RUN_VALUE, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    RegCloseKey(key);
}

void DeleteValue()
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, FIRST_RUN_KEY, 0, KEY_WRITE, &key) != ERROR_SUCCESS) return;
    RegDeleteValueA(key, FIRST_RUN_VALUE);
    RegCloseKey(key);
}

std::optional<DWORD> StoredDword()
{
    const auto value = ReadValue();
    if (!value || value->type != REG_DWORD || value->data.size() != sizeof(DWORD)) return {};
    DWORD dword = 0;
    std::memcpy(&dword, value->data.data(), sizeof dword);
    return dword;
}

class FirstRunRegistry : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_saved = ReadValue();
        DeleteValue();
    }
    void TearDown() override
    {
        DeleteValue();
        if (m_saved) WriteValue(m_saved->type, m_saved->data.data(), static_cast<DWORD>(m_saved->data.size()));
    }
    std::optional<Value> m_saved;
};

TEST_F(FirstRunRegistry, MissingValueIsShownAndWrittenAsOne)
{
    FirstRunStore store;
    EXPECT_TRUE(TakeFirstRun(store));
    EXPECT_EQ(StoredDword(), std::optional<DWORD>(1));
    EXPECT_FALSE(TakeFirstRun(store));
    FirstRunStore another;
    EXPECT_FALSE(TakeFirstRun(another));
}

TEST_F(FirstRunRegistry, ZeroIsShownAndRewrittenAsOne)
{
    const DWORD zero = 0;
    WriteValue(REG_DWORD, &zero, sizeof zero);
    FirstRunStore store;
    EXPECT_TRUE(TakeFirstRun(store));
    EXPECT_EQ(StoredDword(), std::optional<DWORD>(1));
}

TEST_F(FirstRunRegistry, TextOneIsNotADwordAndIsRewrittenAsOne)
{
    WriteValue(REG_SZ, "1", 2);
    FirstRunStore store;
    uint32_t value = 0;
    ASSERT_TRUE(store.Open());
    EXPECT_FALSE(store.ReadDword(FIRST_RUN_VALUE, &value));
    store.Close();
    EXPECT_TRUE(TakeFirstRun(store));
    EXPECT_EQ(StoredDword(), std::optional<DWORD>(1));
}

TEST_F(FirstRunRegistry, NonZeroDwordIsNotShownAndLeftAlone)
{
    const DWORD five = 5;
    WriteValue(REG_DWORD, &five, sizeof five);
    FirstRunStore store;
    EXPECT_FALSE(TakeFirstRun(store));
    EXPECT_EQ(StoredDword(), std::optional<DWORD>(5));
}

TEST_F(FirstRunRegistry, StoreKeepsOtherValues)
{
    FirstRunStore store;
    ASSERT_TRUE(store.Open());
    EXPECT_TRUE(store.WriteDword("KestrineTestOther", 42));
    EXPECT_TRUE(store.WriteDword(FIRST_RUN_VALUE, 7));
    uint32_t other = 0;
    EXPECT_TRUE(store.ReadDword("KestrineTestOther", &other));
    EXPECT_EQ(other, 42u);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, FIRST_RUN_KEY, 0, KEY_WRITE, &key), ERROR_SUCCESS);
    RegDeleteValueA(key, "KestrineTestOther");
    RegCloseKey(key);
    store.Close();
    EXPECT_EQ(StoredDword(), std::optional<DWORD>(7));
}

}  // namespace
}  // namespace kestrine
