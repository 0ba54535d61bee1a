// Runs in a throwaway Wine prefix (fresh_prefix_tests.sh): the tests rewrite shell folder values and add a
// user profile.
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/special_folders.h"

#include <gtest/gtest.h>

namespace {

constexpr wchar_t kShellFolders[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
constexpr wchar_t kCurrentVersion[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
constexpr wchar_t kProfileList[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
constexpr wchar_t kSecondUser[] = L"S-1-5-21-1111-2222-3333-1001";

void SetExpandString(HKEY root, const std::wstring& keyPath, const wchar_t* name, const std::wstring& text)
{
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(root, keyPath.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    UniqueKey owner(key);
    ASSERT_EQ(::RegSetValueExW(key, name, 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                               static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
}

std::wstring Environment(const wchar_t* name)
{
    std::wstring text = std::wstring(L"%") + name + L"%";
    ExpandEnvironment(text);
    return text;
}

// The folders that the FileSystem module hands to scripts, as a fresh installation has them.
TEST(SpecialFolders, EveryFolderOfTheScriptsResolves)
{
    const std::pair<const char*, std::wstring> folders[] = {
        {"CommonAppData", GetSpecialFolder(SpecialFolder::CommonAppData, L"")},
        {"CommonDesktop", GetSpecialFolder(SpecialFolder::CommonDesktop, L"")},
        {"CommonStartMenu", GetSpecialFolder(SpecialFolder::CommonStartMenu, L"")},
        {"CommonPrograms", GetSpecialFolder(SpecialFolder::CommonPrograms, L"")},
        {"CommonStartup", GetSpecialFolder(SpecialFolder::CommonStartup, L"")},
        {"ProgramFiles", GetSpecialFolder(SpecialFolder::ProgramFiles, L"")},
        {"ProgramFilesX86", GetSpecialFolder(SpecialFolder::ProgramFilesX86, L"")},
        {"Windows", QueryWindowsDirectory()},
        {"System32", QuerySystemDirectory()},
        {"UserProfiles", QueryProfilesDirectory()},
    };
    for (const auto& [name, path] : folders) {
        EXPECT_TRUE(IsDirectory(path)) << name << ": " << testing::PrintToString(path);
        EXPECT_EQ(path.find(L'%'), std::wstring::npos) << name << " is not expanded";
    }
    EXPECT_EQ(GetSpecialFolder(SpecialFolder::ProgramFiles, L""), Environment(L"ProgramFiles"));
    EXPECT_EQ(GetSpecialFolder(SpecialFolder::ProgramFilesX86, L""), Environment(L"ProgramFiles(x86)"));
    EXPECT_EQ(GetSpecialFolder(SpecialFolder::CommonAppData, L""), Environment(L"ProgramData"));
    EXPECT_EQ(QueryTempDirectory().back(), L'\\');
    EXPECT_TRUE(IsDirectory(QueryTempDirectory()));
    EXPECT_EQ(GetSpecialFolder(SpecialFolder::NoFolder, L""), L"");
    EXPECT_EQ(GetSpecialFolder(SpecialFolder::UserProfile, L""), Environment(L"USERPROFILE"));
}

TEST(SpecialFolders, RegistryFirstShellSecond)
{
    SetExpandString(HKEY_LOCAL_MACHINE, kShellFolders, L"Common AppData", L"%SystemDrive%\\NvData");
    EXPECT_EQ(GetSpecialFolder(SpecialFolder::CommonAppData, L""), Environment(L"SystemDrive") + L"\\NvData");

    const std::wstring desktop = GetSpecialFolder(SpecialFolder::CommonDesktop, L"");
    ASSERT_TRUE(Win32Registry().DeleteValue(kShellFolders, L"Common Desktop"));
    EXPECT_EQ(GetSpecialFolder(SpecialFolder::CommonDesktop, L""), desktop) << "the shell answers instead";

    const std::wstring programFiles = GetSpecialFolder(SpecialFolder::ProgramFiles, L"");
    ASSERT_TRUE(Win32Registry().DeleteValue(kCurrentVersion, L"ProgramFilesDir (x86)"));
    EXPECT_EQ(GetSpecialFolder(SpecialFolder::ProgramFilesX86, L""), programFiles);
}

TEST(SpecialFolders, AnotherUserResolvesThroughTheProfileList)
{
    SetExpandString(HKEY_LOCAL_MACHINE, std::wstring(kProfileList) + L"\\" + kSecondUser, L"ProfileImagePath",
                    L"%SystemDrive%\\users\\second");
    const std::wstring userFolders = std::wstring(kSecondUser) + L"\\" + kShellFolders;
    SetExpandString(HKEY_USERS, userFolders, L"AppData", L"%USERPROFILE%\\AppData\\Roaming");
    SetExpandString(HKEY_USERS, userFolders, L"Personal", L"%USERPROFILE%\\Documents %USERPROFILE%");

    const std::wstring profile = Environment(L"SystemDrive") + L"\\users\\second";
    EXPECT_EQ(GetSpecialFolder(SpecialFolder::AppData, kSecondUser), profile + L"\\AppData\\Roaming");
    EXPECT_EQ(GetSpecialFolder(SpecialFolder::Personal, kSecondUser), profile + L"\\Documents " + profile);
    EXPECT_EQ(GetSpecialFolder(SpecialFolder::UserProfile, kSecondUser), profile);
    EXPECT_EQ(GetSpecialFolder(SpecialFolder::Favorites, kSecondUser), L"") << "no shell answer for another user";
    EXPECT_EQ(GetSpecialFolder(SpecialFolder::AppData, L"S-1-5-21-9-9-9-9"), L"") << "a user without a profile";
    EXPECT_EQ(GetSpecialFolder(SpecialFolder::CommonAppData, kSecondUser),
              GetSpecialFolder(SpecialFolder::CommonAppData, L""))
        << "machine folders do not depend on the user";
}

} // namespace
