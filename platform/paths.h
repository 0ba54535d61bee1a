#pragma once

#include <windows.h>

#include <string>

// Path tests, joining, splitting, name masks and directory chains. No state, no log lines.

// The "\\?\" (or "\\?\UNC\") form of an absolute path, which the file system takes literally: names ending in a
// dot or a space keep it, and any length is allowed. Separators, "." and ".." are resolved first.
std::wstring LiteralPath(const std::wstring& path);
bool PathExists(const std::wstring& path);
bool IsFile(const std::wstring& path);
bool IsDirectory(const std::wstring& path);

std::wstring MakePath(const std::wstring& directory, const std::wstring& name);
bool SplitPath(const std::wstring& path, std::wstring& directory, std::wstring& name);
bool MatchesMask(const std::wstring& name, const std::wstring& mask, bool caseInsensitive);
bool CreateDirectoryChain(const std::wstring& path, SECURITY_ATTRIBUTES* attributes);
