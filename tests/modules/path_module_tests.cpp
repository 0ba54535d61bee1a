// Path module against the real "PendingFileRenameOperations" value of the session manager.
#include "tests/modules/system_test_support.h"

#include "base/unique_resource.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace {

constexpr wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPending[] = L"PendingFileRenameOperations";

using Bytes = std::vector<BYTE>;
using Pair = std::pair<std::wstring, std::wstring>;

// The value as Windows writes it: every string ended by a NUL, and one more NUL after the last.
Bytes PendingValue(const std::vector<Pair>& pairs)
{
    std::wstring text;
    for (const auto& [source, target] : pairs) {
        text += source + L'\0' + target + L'\0';
    }
    text += L'\0';
    const BYTE* data = reinterpret_cast<const BYTE*>(text.data());
    return Bytes(data, data + text.size() * sizeof(wchar_t));
}

Bytes Utf16Bytes(const std::wstring& text)
{
    const BYTE* data = reinterpret_cast<const BYTE*>(text.data());
    return Bytes(data, data + text.size() * sizeof(wchar_t));
}

void WritePending(const Bytes& bytes)
{
    UniqueKey key;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, key.put()), ERROR_SUCCESS);
    ASSERT_EQ(::RegSetValueExW(key.get(), kPending, 0, REG_MULTI_SZ, bytes.data(), static_cast<DWORD>(bytes.size())),
              ERROR_SUCCESS);
}

void DeletePending()
{
    UniqueKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, key.put()) == ERROR_SUCCESS) {
        ::RegDeleteValueW(key.get(), kPending);
    }
}

// The value's bytes; none when it does not exist. The type must stay REG_MULTI_SZ.
std::optional<Bytes> ReadPending()
{
    UniqueKey key;
    DWORD size = 0;
    DWORD type = 0;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS ||
        ::RegQueryValueExW(key.get(), kPending, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    Bytes bytes(size);
    ::RegQueryValueExW(key.get(), kPending, nullptr, &type, bytes.data(), &size);
    EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
    bytes.resize(size);
    return bytes;
}

class PendingRenamesTest : public testing::Test {
protected:
    void TearDown() override { DeletePending(); }

    std::string Remove(const std::wstring& prefix)
    {
        return m_script.Run("return Path.RemoveFromPendingOperation(" + LuaString(prefix) + ")");
    }

    ScriptState m_script;
};

// Deletions (empty target) and renames (replace-existing targets start with "!"), with sources in NT and
// plain form, odd casing, trailing backslashes and targets under other folders.
const Pair kDeleteA = {L"\\??\\C:\\A\\x.dll", L""};
const Pair kRenameB = {L"\\??\\C:\\B\\y.dll", L"\\??\\C:\\B\\z.dll"};
const Pair kDeleteAB = {L"\\??\\C:\\AB\\x.dll", L""};
const Pair kLowerCaseDrive = {L"\\??\\c:\\A\\x.dll", L""};
const Pair kTargetUnderA = {L"\\??\\C:\\B\\w.dll", L"!\\??\\C:\\A\\w.dll"};
const Pair kPlainSource = {L"C:\\A\\plain.dll", L"C:\\B\\plain.dll"};
const Pair kFolderA = {L"\\??\\C:\\A\\sub\\", L""};
const std::vector<Pair> kPairs = {kDeleteA,      kRenameB,     kDeleteAB, kLowerCaseDrive,
                                  kTargetUnderA, kPlainSource, kFolderA};

TEST_F(PendingRenamesTest, RemovesTheOperationsWhoseSourceOrTargetLiesInThePrefix)
{
    struct Case {
        std::wstring prefix;
        std::vector<Pair> kept;
    };
    const Case cases[] = {
        // Whole path components compared without case, in NT or plain form: C:\A is not a prefix of
        // C:\AB\x.dll, nor C:\A\x of C:\A\x.dll. A rename into C:\A would bring a file back there.
        {L"C:\\A", {kRenameB, kDeleteAB}},
        {L"C:\\A\\", {kRenameB, kDeleteAB}},
        {L"\\??\\C:\\A", {kRenameB, kDeleteAB}},
        {L"c:\\a", {kRenameB, kDeleteAB}},
        {L"C:\\B\\z.dll", {kDeleteA, kDeleteAB, kLowerCaseDrive, kTargetUnderA, kPlainSource, kFolderA}},
        {L"C:\\A\\w.dll", {kDeleteA, kRenameB, kDeleteAB, kLowerCaseDrive, kPlainSource, kFolderA}},
        {L"C:\\A\\x", kPairs},
        {L"C:\\A\\x.dll", {kRenameB, kDeleteAB, kTargetUnderA, kPlainSource, kFolderA}},
        {L"C:\\B\\y.dll", {kDeleteA, kDeleteAB, kLowerCaseDrive, kTargetUnderA, kPlainSource, kFolderA}},
        {L"D:\\", kPairs},
        {L"C:\\A\\.\\sub\\..\\..\\AB", {kDeleteA, kRenameB, kLowerCaseDrive, kTargetUnderA, kPlainSource, kFolderA}},
    };
    for (const Case& c : cases) {
        WritePending(PendingValue(kPairs));
        EXPECT_EQ(Remove(c.prefix), std::to_string(kPairs.size() - c.kept.size())) << WideToUtf8(c.prefix);
        EXPECT_EQ(ReadPending(), PendingValue(c.kept)) << WideToUtf8(c.prefix);
    }
}

TEST_F(PendingRenamesTest, RelativePrefixesMatchNothing)
{
    // A relative prefix would depend on the tool's current folder.
    const Pair repeated = {L"C:xyxy.dll", L""};
    WritePending(PendingValue({repeated, kDeleteA}));
    EXPECT_EQ(Remove(L"xy"), "0");
    EXPECT_EQ(ReadPending(), PendingValue({repeated, kDeleteA}));
}

TEST_F(PendingRenamesTest, LeavesValuesThatAreNotPairsAlone)
{
    const std::wstring x = L"\\??\\C:\\A\\x.dll";
    const std::wstring y = L"\\??\\C:\\A\\y.dll";
    const std::wstring values[] = {
        x + L'\0' + L'\0' + y + L'\0' + L'\0',     // three strings and the final NUL
        x + L'\0' + L'\0' + y + L'\0' + x + L'\0', // two pairs without the final NUL
        std::wstring(),
    };
    for (const std::wstring& value : values) {
        WritePending(Utf16Bytes(value));
        const LogWindow log;
        EXPECT_EQ(Remove(L"C:\\A"), "") << "no result";
        EXPECT_EQ(ReadPending(), Utf16Bytes(value));
        EXPECT_FALSE(log.Contains("Set value")) << log.Text();
    }

    DeletePending();
    const LogWindow log;
    EXPECT_EQ(Remove(L"C:\\A"), "");
    EXPECT_EQ(ReadPending(), std::nullopt);
    EXPECT_TRUE(log.Contains("`anonymous-namespace'::ReadValue: Failed to get value "
                             "'PendingFileRenameOperations'. Error: 2"))
        << log.Text();
    EXPECT_TRUE(log.Contains("`anonymous-namespace'::GetAllPendingPairs: Error reading 'PendingFileRenameOperations'"))
        << log.Text();
}

// An empty prefix would match every pending operation of the machine, so it is refused, and so is a prefix
// that is only empty because its text is not UTF-8.
TEST_F(PendingRenamesTest, EmptyPrefixRemovesNothing)
{
    const std::pair<std::string, std::string> cases[] = {
        {"''", "Lua::Path::RemoveFromPendingOperation: Prefix is empty"},
        {"'C:\\\\\\xFF'", "Lua::Path::RemoveFromPendingOperation: Prefix is not valid UTF-8"},
    };
    for (const auto& [prefix, logged] : cases) {
        WritePending(PendingValue(kPairs));
        const LogWindow log;
        EXPECT_EQ(m_script.Run("return Path.RemoveFromPendingOperation(" + prefix + ")"), "") << prefix;
        EXPECT_EQ(ReadPending(), PendingValue(kPairs)) << prefix;
        EXPECT_TRUE(log.Contains(logged)) << log.Text();
    }
}

} // namespace
