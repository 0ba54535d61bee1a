#pragma once

#include <string>
#include <vector>

class Win32Registry;

// Well-known folders: registry first, shell second; per-user resolution by SID.
enum class SpecialFolder : int {
    CommonAppData = 0,
    CommonDesktop = 1,
    CommonStartMenu = 2,
    CommonPrograms = 3,
    CommonStartup = 4,
    ProgramFiles = 5,
    ProgramFilesX86 = 6,
    NoFolder = 7,
    AppData = 8,
    LocalAppData = 9,
    Desktop = 10,
    Personal = 11,
    MyPictures = 12,
    MyMusic = 13,
    MyVideo = 14,
    Favorites = 15,
    StartMenu = 16,
    Programs = 17,
    Startup = 18,
    Cache = 19,
    UserProfile = 20,
};

std::wstring GetSpecialFolder(SpecialFolder member, const std::wstring& userSid);
void ExpandUserProfile(std::wstring& path, const std::wstring& userSid);
void ExpandEnvironment(std::wstring& text);
void QueryShellFolder(SpecialFolder member, std::wstring& path);
std::wstring QueryWindowsDirectory();
std::wstring QuerySystemDirectory();
std::wstring QueryTempDirectory();
std::wstring QueryProfilesDirectory();

// A path value as Windows reads it (RecordedPath): expanded when the value is REG_EXPAND_SZ. Empty when the value
// is missing or not a string.
std::wstring ReadRecordedPath(Win32Registry& registry, const std::wstring& keyPath, const std::wstring& valueName);

struct UserProfile {
    std::wstring sid;
    std::wstring path;
};
// The machine's user profiles as the profile list records them (ProfileImagePath of each SID). A profile folder
// that is missing or is a link is left out: nothing is ever looked for through it.
std::vector<UserProfile> ListUserProfiles();
// Every known folder of the machine (the members above, Common Files in both views, the profiles folder, the
// public and default profiles) and of every profile whose hive is loaded, each once.
std::vector<std::wstring> ListKnownFolders();
