#pragma once

#include <windows.h>

#include <string>

// Path tests, joining, splitting, name masks and directory chains. No state, no log lines.

// The "\\?\" (or "\\?\UNC\") form of an absolute path, which the file system takes literally: names ending in a
// dot or a space keep it, and any length is allowed. Separators, "." and ".." are resolved first.
std::wstring LiteralPath(const std::wstring& path);
// A path that names the same file whatever the current folder and drive: "C:\...", "\\server\share\..." or a
// literal one.
bool IsFullPath(const std::wstring& path);
// Whether `path` is `folder` itself or lies below it. The one test of the whole tool: both are made literal
// first, then whole components are compared ordinally without case. A relative path lies in nothing.
bool IsInFolder(const std::wstring& path, const std::wstring& folder);
// The same, but `path` must lie strictly below `folder`.
bool IsBelowFolder(const std::wstring& path, const std::wstring& folder);
bool IsSamePath(const std::wstring& path, const std::wstring& other);

// A path the machine recorded (an install folder, a service's image, a profile folder), as Windows reads it:
// expanded through the environment when the value is expandable, without enclosing quotes, and with the NT
// forms "\??\", "\SystemRoot\" and a leading "System32\" resolved.
std::wstring RecordedPath(const std::wstring& text, bool expandable);
// The program a command line starts, parsed as Windows parses it: the quoted path, or an unquoted one up to the
// first ".exe" that ends a word (the whole text when there is none), then read as a recorded path.
std::wstring CommandProgram(const std::wstring& command);

bool PathExists(const std::wstring& path);
bool IsFile(const std::wstring& path);
bool IsDirectory(const std::wstring& path);

std::wstring MakePath(const std::wstring& directory, const std::wstring& name);
bool SplitPath(const std::wstring& path, std::wstring& directory, std::wstring& name);
bool MatchesMask(const std::wstring& name, const std::wstring& mask, bool caseInsensitive);
bool CreateDirectoryChain(const std::wstring& path, SECURITY_ATTRIBUTES* attributes);
