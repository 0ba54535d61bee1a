#pragma once

#include <string>

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
