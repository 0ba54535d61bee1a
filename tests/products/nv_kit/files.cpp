#include "tests/products/nv_kit/files.h"

#include "base/unique_resource.h"
#include "tests/products/nv_kit/output.h"
#include "tests/products/nv_kit/registry.h"

#include <windows.h>

#include <algorithm>

namespace NvKit {

namespace {

struct Child {
    std::wstring path;
    bool folder;
};

std::vector<Child> Children(const std::wstring& folder)
{
    std::vector<Child> children;
    WIN32_FIND_DATAW found{};
    UniqueFind find(::FindFirstFileW((folder + L"\\*").c_str(), &found));
    for (bool more = static_cast<bool>(find); more; more = ::FindNextFileW(find.get(), &found)) {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") {
            children.push_back({folder + L"\\" + name, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
        }
    }
    std::sort(children.begin(), children.end(), [](const Child& a, const Child& b) { return a.path < b.path; });
    return children;
}

void AddTree(const std::wstring& folder, std::vector<std::wstring>& tree)
{
    for (const Child& child : Children(folder)) {
        tree.push_back(child.path);
        if (child.folder) {
            AddTree(child.path, tree);
        }
    }
}

} // namespace

bool Exists(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void CreateFolders(const std::wstring& path)
{
    for (size_t slash = path.find(L'\\', 3); slash != std::wstring::npos; slash = path.find(L'\\', slash + 1)) {
        ::CreateDirectoryW(path.substr(0, slash).c_str(), nullptr);
    }
    ::CreateDirectoryW(path.c_str(), nullptr);
}

void WriteBytes(const std::wstring& path, const std::string& bytes)
{
    const size_t folder = path.rfind(L'\\');
    if (folder != std::wstring::npos && folder > 2) {
        CreateFolders(path.substr(0, folder));
    }
    UniqueFile file(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (!file || !::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) {
        Die(L"writing " + path);
    }
}

void WriteTextFile(const std::wstring& path, const std::string& text)
{
    WriteBytes(path, text + "\r\n");
}

std::vector<std::wstring> FileTree(const std::wstring& path)
{
    std::vector<std::wstring> tree;
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        tree.push_back(path);
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            AddTree(path, tree);
        }
    }
    return tree;
}

void MakeReadOnly(const std::wstring& path)
{
    for (const std::wstring& file : FileTree(path)) {
        const DWORD attributes = ::GetFileAttributesW(file.c_str());
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
            !::SetFileAttributesW(file.c_str(), attributes | FILE_ATTRIBUTE_READONLY)) {
            Die(L"SetFileAttributes " + file);
        }
    }
}

std::vector<std::wstring> Profiles()
{
    std::vector<std::wstring> profiles;
    for (const Child& child : Children(L"C:\\users")) {
        if (child.folder && Upper(child.path) != L"C:\\USERS\\PUBLIC") {
            profiles.push_back(child.path);
        }
    }
    return profiles;
}

} // namespace NvKit
