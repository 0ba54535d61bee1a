#include "platform/special_folders.h"

#include "base/unique_resource.h"
#include "platform/paths.h"
#include "platform/registry.h"

#include <shlobj.h>
#include <userenv.h>
#include <windows.h>

#include <algorithm>
#include <cwchar>

namespace {

constexpr wchar_t kShellFoldersKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
constexpr wchar_t kCurrentVersionKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
constexpr wchar_t kProfileListKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
constexpr wchar_t kUserProfileVariable[] = L"%USERPROFILE%";
constexpr wchar_t kProfileImagePath[] = L"ProfileImagePath";
constexpr int kNoCsidl = 255;

struct FolderEntry {
    SpecialFolder member;
    const wchar_t* valueName; // null: nothing is read from the registry
    int csidl;
};

constexpr FolderEntry kFolders[] = {
    {SpecialFolder::CommonAppData, L"Common AppData", CSIDL_COMMON_APPDATA},
    {SpecialFolder::CommonDesktop, L"Common Desktop", CSIDL_COMMON_DESKTOPDIRECTORY},
    {SpecialFolder::CommonStartMenu, L"Common Start Menu", CSIDL_COMMON_STARTMENU},
    {SpecialFolder::CommonPrograms, L"Common Programs", CSIDL_COMMON_PROGRAMS},
    {SpecialFolder::CommonStartup, L"Common Startup", CSIDL_COMMON_STARTUP},
    {SpecialFolder::ProgramFiles, L"ProgramFilesDir", CSIDL_PROGRAM_FILES},
    {SpecialFolder::ProgramFilesX86, L"ProgramFilesDir (x86)", CSIDL_PROGRAM_FILESX86},
    {SpecialFolder::NoFolder, nullptr, kNoCsidl},
    {SpecialFolder::AppData, L"AppData", CSIDL_APPDATA},
    {SpecialFolder::LocalAppData, L"Local AppData", CSIDL_LOCAL_APPDATA},
    {SpecialFolder::Desktop, L"Desktop", CSIDL_DESKTOP},
    {SpecialFolder::Personal, L"Personal", CSIDL_PERSONAL},
    {SpecialFolder::MyPictures, L"My Pictures", CSIDL_MYPICTURES},
    {SpecialFolder::MyMusic, L"My Music", CSIDL_MYMUSIC},
    {SpecialFolder::MyVideo, L"My Video", CSIDL_MYVIDEO},
    {SpecialFolder::Favorites, L"Favorites", CSIDL_FAVORITES},
    {SpecialFolder::StartMenu, L"Start Menu", CSIDL_STARTMENU},
    {SpecialFolder::Programs, L"Programs", CSIDL_PROGRAMS},
    {SpecialFolder::Startup, L"Startup", CSIDL_STARTUP},
    {SpecialFolder::Cache, L"Cache", CSIDL_INTERNET_CACHE},
    {SpecialFolder::UserProfile, nullptr, CSIDL_PROFILE},
};

const FolderEntry* FindFolder(SpecialFolder member)
{
    for (const FolderEntry& entry : kFolders) {
        if (entry.member == member) {
            return &entry;
        }
    }
    return nullptr;
}

bool IsPerUser(SpecialFolder member)
{
    return static_cast<int>(member) > static_cast<int>(SpecialFolder::NoFolder);
}

// The Windows, system and temporary directory queries report the size they need, NUL included, when the
// buffer is too small, and the length they wrote otherwise.
std::wstring QueryGrowingPath(DWORD (*query)(wchar_t* buffer, DWORD size))
{
    std::wstring buffer(MAX_PATH + 1, L'\0');
    DWORD length = query(buffer.data(), static_cast<DWORD>(buffer.size()));
    while (length != 0 && length > buffer.size()) {
        buffer.resize(length);
        length = query(buffer.data(), static_cast<DWORD>(buffer.size()));
    }
    buffer.resize(length);
    return buffer;
}

void ReadFolderValue(Win32Registry& registry, const std::wstring& keyPath, SpecialFolder member, std::wstring& result)
{
    const FolderEntry* entry = FindFolder(member);
    if (member == SpecialFolder::UserProfile) {
        result = kUserProfileVariable;
    } else if (member == SpecialFolder::ProgramFilesX86) {
        if (!registry.GetString(kCurrentVersionKey, entry->valueName, result)) {
            registry.GetString(kCurrentVersionKey, L"ProgramFilesDir", result);
        }
    } else if (member == SpecialFolder::ProgramFiles) {
        registry.GetString(kCurrentVersionKey, entry->valueName, result);
    } else if (entry != nullptr && entry->valueName != nullptr) {
        registry.GetString(keyPath, entry->valueName, result);
    }
}

} // namespace

std::wstring GetSpecialFolder(SpecialFolder member, const std::wstring& userSid)
{
    Win32Registry registry;
    std::wstring keyPath = kShellFoldersKey;
    const bool perUser = IsPerUser(member);
    if (perUser) {
        if (userSid.empty()) {
            registry.SetRoot(HKEY_CURRENT_USER);
        } else {
            registry.SetRoot(HKEY_USERS);
            keyPath = userSid + L"\\" + kShellFoldersKey;
        }
        registry.SetAccessFlags(KEY_WOW64_64KEY);
    }

    std::wstring result;
    ReadFolderValue(registry, keyPath, member, result);

    const bool forUser = perUser && !userSid.empty();
    if (forUser) {
        ExpandUserProfile(result, userSid);
    }
    if (!forUser || !result.empty()) {
        ExpandEnvironment(result);
    }
    if (result.empty() && userSid.empty()) {
        QueryShellFolder(member, result);
    }
    return result;
}

void ExpandUserProfile(std::wstring& path, const std::wstring& userSid)
{
    Win32Registry registry;
    const std::wstring profile =
        ReadRecordedPath(registry, std::wstring(kProfileListKey) + L"\\" + userSid, kProfileImagePath);
    if (profile.empty()) {
        path.clear();
        return;
    }
    const std::wstring variable = kUserProfileVariable;
    for (size_t at = path.find(variable); at != std::wstring::npos; at = path.find(variable, at + profile.size())) {
        path.replace(at, variable.size(), profile);
    }
}

void ExpandEnvironment(std::wstring& text)
{
    std::wstring buffer;
    DWORD count = ::ExpandEnvironmentStringsW(text.c_str(), buffer.data(), 0);
    while (count > buffer.size()) {
        buffer.resize(count);
        count = ::ExpandEnvironmentStringsW(text.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    }
    if (count == 0) {
        text.clear();
        return;
    }
    buffer.resize(count - 1);
    text = std::move(buffer);
}

void QueryShellFolder(SpecialFolder member, std::wstring& path)
{
    const FolderEntry* entry = FindFolder(member);
    if (entry == nullptr || entry->csidl == kNoCsidl) {
        return;
    }
    UniqueModule shell(::LoadLibraryW(MakePath(QuerySystemDirectory(), L"shell32.dll").c_str()));
    if (!shell) {
        return;
    }
    using GetFolderPath = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPWSTR);
    auto getFolderPath = reinterpret_cast<GetFolderPath>(
        reinterpret_cast<void (*)()>(::GetProcAddress(shell.get(), "SHGetFolderPathW")));
    if (getFolderPath == nullptr) {
        return;
    }
    wchar_t buffer[MAX_PATH] = {};
    if (getFolderPath(nullptr, entry->csidl, nullptr, SHGFP_TYPE_CURRENT, buffer) == S_OK) {
        path = buffer;
    }
}

std::wstring QueryWindowsDirectory()
{
    return QueryGrowingPath([](wchar_t* buffer, DWORD size) -> DWORD { return ::GetWindowsDirectoryW(buffer, size); });
}

std::wstring QuerySystemDirectory()
{
    return QueryGrowingPath([](wchar_t* buffer, DWORD size) -> DWORD { return ::GetSystemDirectoryW(buffer, size); });
}

std::wstring QueryTempDirectory()
{
    return QueryGrowingPath([](wchar_t* buffer, DWORD size) -> DWORD { return ::GetTempPathW(size, buffer); });
}

// The only caller of the profile library, so that it can be bound lazily. The call refuses a missing buffer,
// and the size it asks for leaves out the terminating NUL, so the buffer keeps one spare character.
std::wstring QueryProfilesDirectory()
{
    DWORD capacity = MAX_PATH;
    for (;;) {
        std::wstring directory(capacity + 1, L'\0');
        DWORD size = capacity;
        if (::GetProfilesDirectoryW(directory.data(), &size)) {
            directory.resize(wcsnlen(directory.c_str(), capacity));
            return directory;
        }
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || size <= capacity) {
            return {};
        }
        capacity = size + 1;
    }
}

std::wstring ReadRecordedPath(Win32Registry& registry, const std::wstring& keyPath, const std::wstring& valueName)
{
    const DWORD type = registry.GetValueType(keyPath, valueName);
    std::wstring text;
    if ((type != REG_SZ && type != REG_EXPAND_SZ) || !registry.GetString(keyPath, valueName, text)) {
        return {};
    }
    return RecordedPath(text, type == REG_EXPAND_SZ);
}

std::vector<UserProfile> ListUserProfiles()
{
    Win32Registry registry;
    std::vector<std::wstring> sids;
    registry.GetSubKeys(std::wstring(kProfileListKey), sids);
    std::vector<UserProfile> profiles;
    for (const std::wstring& sid : sids) {
        std::wstring path = ReadRecordedPath(registry, std::wstring(kProfileListKey) + L"\\" + sid, kProfileImagePath);
        // "All Users" and the like are links to shared folders; a user can fill their targets.
        const DWORD attributes =
            path.empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(LiteralPath(path).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
            (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
            profiles.push_back({sid, std::move(path)});
        }
    }
    return profiles;
}

std::vector<std::wstring> ListKnownFolders()
{
    std::vector<std::wstring> folders = {QueryWindowsDirectory(), QuerySystemDirectory(), QueryProfilesDirectory()};
    for (int member = static_cast<int>(SpecialFolder::CommonAppData);
         member <= static_cast<int>(SpecialFolder::ProgramFilesX86); ++member) {
        folders.push_back(GetSpecialFolder(static_cast<SpecialFolder>(member), std::wstring()));
    }
    Win32Registry registry;
    for (const wchar_t* value : {L"CommonFilesDir", L"CommonFilesDir (x86)", L"CommonW6432Dir"}) {
        folders.push_back(ReadRecordedPath(registry, kCurrentVersionKey, value));
    }
    for (const wchar_t* value : {L"Public", L"Default", L"ProgramData"}) {
        folders.push_back(ReadRecordedPath(registry, kProfileListKey, value));
    }
    for (const UserProfile& profile : ListUserProfiles()) {
        folders.push_back(profile.path);
        for (int member = static_cast<int>(SpecialFolder::AppData);
             member <= static_cast<int>(SpecialFolder::UserProfile); ++member) {
            folders.push_back(GetSpecialFolder(static_cast<SpecialFolder>(member), profile.sid));
        }
    }
    std::vector<std::wstring> known;
    for (std::wstring& folder : folders) {
        const bool seen = std::any_of(known.begin(), known.end(),
                                      [&folder](const std::wstring& other) { return IsSamePath(folder, other); });
        if (!folder.empty() && !seen) {
            known.push_back(std::move(folder));
        }
    }
    return known;
}
