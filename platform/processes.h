#pragma once

#include <windows.h>

#include <string>

// Ending the processes that run a product's programs, and starting a product's programs (its uninstallers).
// Log lines carry the names the scripts know these calls by.
namespace NvProcesses {

// Whether a process's executable path is one the pattern names.
using Match = bool (*)(const std::wstring& path, const std::wstring& pattern);
// The file name, without regard to case.
bool HasName(const std::wstring& path, const std::wstring& name);
// The file name matched against a mask of '*' and '?'.
bool HasNameMatchingMask(const std::wstring& path, const std::wstring& mask);

// Ends every process whose executable matches the pattern, except the tool's own process, and waits a while
// for them to go; false when the processes could not be listed.
bool TerminateMatching(const std::wstring& pattern, Match matches);

struct Launch {
    std::wstring path;
    std::wstring arguments;
    DWORD waitMs;
    DWORD flags; // creation flags; only those that suit a program the tool waits for are accepted
    std::wstring workingFolder;
};

// Starts the program and waits for it; true when it ended with exit code 0 within the wait.
bool RunToCompletion(const Launch& launch);
// Starts the program without waiting for it.
bool Start(const Launch& launch);

} // namespace NvProcesses
