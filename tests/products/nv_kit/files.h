// Files of the kit's machine through the API.
#pragma once

#include <string>
#include <vector>

namespace NvKit {

bool Exists(const std::wstring& path);
// Creates the folder and the folders on the way to it.
void CreateFolders(const std::wstring& path);
// Writes the bytes, creating the folders on the way.
void WriteBytes(const std::wstring& path, const std::string& bytes);
// Writes "<text>\r\n".
void WriteTextFile(const std::wstring& path, const std::string& text);
// The path (when it exists) and everything below it, each folder's entries in ordinal order, depth first.
std::vector<std::wstring> FileTree(const std::wstring& path);
// The files below the path become read-only.
void MakeReadOnly(const std::wstring& path);
// The folders below C:\users that are users' profiles (Public is not).
std::vector<std::wstring> Profiles();

} // namespace NvKit
