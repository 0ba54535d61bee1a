#include "base/text_conversion.h"
#include "modules/host_module.h"
#include "modules/lua_arguments.h"
#include "modules/status.h"
#include "platform/file_contents.h"
#include "platform/file_ops.h"
#include "platform/paths.h"
#include "platform/pending_renames.h"
#include "platform/special_folders.h"

#include <windows.h>

namespace {

// Kinds 0 to 6 are the machine-wide members of SpecialFolder with the same numbers.
enum SpecialPathKind : int32_t {
    SpecialPathLastFolder = 6,
    SpecialPathWindows = 7,
    SpecialPathSystem32 = 8,
    SpecialPathUserProfiles = 9,
};

enum ListDirMode : uint32_t {
    ListDirAll = 0,
    ListDirFiles = 1,
    ListDirDirectories = 2,
};

// The file operations only report what they left to the restart; the run's status is raised here.
FileOps::Result RaiseRestartFlag(FileOps::Result result)
{
    if (result.scheduled) {
        Status::Instance().SetRebootNeeded();
    }
    return result;
}

// Applies a test to the path argument and pushes its result. An empty path (also what invalid
// UTF-8 becomes) names nothing, so nothing is touched and the result is false.
int WithPath(lua_State* state, bool (*operation)(const std::wstring& path))
{
    const std::wstring path = CheckWideString(state, 1);
    return PushBoolean(state, !path.empty() && operation(path));
}

// The same for a removal; what it left to the restart raises the run's restart flag, whatever else failed.
int WithRemoval(lua_State* state, FileOps::Result (*removal)(const std::wstring& path))
{
    const std::wstring path = CheckWideString(state, 1);
    const FileOps::Result result = path.empty() ? FileOps::Result{} : removal(path);
    return PushBoolean(state, RaiseRestartFlag(result).done);
}

// The attributes of the name as written: names ending in a dot or a space are not trimmed.
DWORD NameAttributes(const std::wstring& path)
{
    return ::GetFileAttributesW(LiteralPath(path).c_str());
}

bool HasDirectoryBit(const std::wstring& path)
{
    // A missing path reads as INVALID_FILE_ATTRIBUTES, whose directory bit is set.
    return (NameAttributes(path) & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::wstring SpecialPath(int32_t kind)
{
    switch (kind) {
    case SpecialPathWindows:
        return QueryWindowsDirectory();
    case SpecialPathSystem32:
        return QuerySystemDirectory();
    case SpecialPathUserProfiles:
        return QueryProfilesDirectory();
    default:
        if (kind >= 0 && kind <= SpecialPathLastFolder) {
            return GetSpecialFolder(static_cast<SpecialFolder>(kind), std::wstring());
        }
        return {};
    }
}

int FsExists(lua_State* state)
{
    return WithPath(state, PathExists);
}

int FsIsFile(lua_State* state)
{
    return WithPath(state, IsFile);
}

int FsIsDirectory(lua_State* state)
{
    return WithPath(state, IsDirectory);
}

int FsGetSpecialPath(lua_State* state)
{
    PushWideString(state, SpecialPath(CheckInt32(state, 1)));
    return 1;
}

// RemoveRecursive(path [, nameFiles]): nameFiles logs each file of the tree, for removals that must be accounted
// for file by file.
int FsRemoveRecursive(lua_State* state)
{
    if (lua_toboolean(state, 2) != 0) {
        return WithRemoval(state, [](const std::wstring& path) { return FileOps::RemoveRecursive(path, true); });
    }
    return WithRemoval(state, [](const std::wstring& path) { return FileOps::RemoveRecursive(path); });
}

// A matching entry is removed as what it is: a file by itself (the recursive removal leaves files alone), a
// junction or directory link by itself without entering its target, and a directory with its whole tree.
FileOps::Result RemoveEntry(const std::wstring& path)
{
    const DWORD attributes = NameAttributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return {true, false};
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return FileOps::WipeFileInternal(path);
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return FileOps::WipeDirectoryInternal(path);
    }
    return FileOps::RemoveRecursive(path);
}

int FsRemoveRecursiveByMask(lua_State* state)
{
    const std::string_view directoryUtf8 = CheckUtf8(state, 1);
    const std::wstring mask = CheckWideString(state, 2);
    const std::wstring directory = Utf8ToWide(directoryUtf8);
    if (directory.empty()) {
        return PushBoolean(state, false);
    }
    bool result = true;
    for (const std::wstring& name : FileOps::ListDirectory(directory, true, true)) {
        if (MatchesMask(name, mask, false)) {
            result = RaiseRestartFlag(RemoveEntry(MakePath(directory, name))).done && result;
        }
    }
    return PushBoolean(state, result);
}

int FsHasPendingFileOperation(lua_State* state)
{
    return WithPath(state, PendingRenames::Concerns);
}

int FsDeleteFile(lua_State* state)
{
    return WithRemoval(state, [](const std::wstring& path) {
        const DWORD attributes = NameAttributes(path);
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ? FileOps::WipeFileInternal(path) : FileOps::Result{};
    });
}

int FsDeleteFileAndParent(lua_State* state)
{
    return WithRemoval(state, FileOps::DeleteFileAndParent);
}

int FsRemoveDirectory(lua_State* state)
{
    return WithRemoval(state, [](const std::wstring& path) {
        return HasDirectoryBit(path) ? FileOps::WipeDirectoryInternal(path) : FileOps::Result{};
    });
}

int FsRemoveDirectoryIfEmpty(lua_State* state)
{
    return WithRemoval(state, FileOps::DoRemoveDirectory);
}

int FsRemoveDirectoryRecursiveAndParentIfEmpty(lua_State* state)
{
    return WithRemoval(state, FileOps::RemoveDirectoryRecursiveAndParentIfEmpty);
}

int FsMakePath(lua_State* state)
{
    const std::string_view directory = CheckUtf8(state, 1);
    const std::string_view name = CheckUtf8(state, 2);
    PushWideString(state, MakePath(Utf8ToWide(directory), Utf8ToWide(name)));
    return 1;
}

int FsSplitPath(lua_State* state)
{
    const std::wstring path = CheckWideString(state, 1);
    std::wstring directory;
    std::wstring name;
    if (!SplitPath(path, directory, name)) {
        directory.clear();
        name.clear();
    }
    PushWideStringList(state, {directory, name});
    return 1;
}

int FsContainsFiles(lua_State* state)
{
    const std::string_view path = CheckUtf8(state, 1);
    const bool recursive = OptInt32(state, 2, 1) != 0;
    return PushBoolean(state, FileOps::ContainsFiles(Utf8ToWide(path), recursive));
}

int FsListDirectory(lua_State* state)
{
    const std::string_view path = CheckUtf8(state, 1);
    const auto mode = static_cast<uint32_t>(OptInt32(state, 2, ListDirAll));
    const bool files = mode == ListDirAll || mode == ListDirFiles;
    const bool directories = mode == ListDirAll || mode == ListDirDirectories;
    PushWideStringList(state, FileOps::ListDirectory(Utf8ToWide(path), files, directories));
    return 1;
}

// Whether the path is the folder or lies below it; the one such test of the tool, so that scripts and host
// agree on what belongs to a folder.
int FsIsInFolder(lua_State* state)
{
    const std::string_view path = CheckUtf8(state, 1);
    const std::string_view folder = CheckUtf8(state, 2);
    return PushBoolean(state, IsInFolder(Utf8ToWide(path), Utf8ToWide(folder)));
}

// The program a command line (a logon entry, a service's image) starts, for telling whose it is.
int FsGetCommandProgram(lua_State* state)
{
    PushWideString(state, CommandProgram(CheckWideString(state, 1)));
    return 1;
}

// A path that Windows expands before use (a firewall rule's program), as it reads it.
int FsExpandPath(lua_State* state)
{
    PushWideString(state, RecordedPath(CheckWideString(state, 1), true));
    return 1;
}

int FsGetUserProfiles(lua_State* state)
{
    std::vector<std::wstring> paths;
    for (UserProfile& profile : ListUserProfiles()) {
        paths.push_back(std::move(profile.path));
    }
    PushWideStringList(state, paths);
    return 1;
}

int FsGetKnownFolders(lua_State* state)
{
    PushWideStringList(state, ListKnownFolders());
    return 1;
}

// Product scripts read small files (driver package descriptions, cached installer packages) to tell whether
// they are the product's. The bytes are pushed as they are; a failure or a larger file gives "".
int FsReadFile(lua_State* state)
{
    constexpr int32_t kDefaultLimit = 16 << 20;
    const std::string_view pathUtf8 = CheckUtf8(state, 1);
    const int32_t limit = OptInt32(state, 2, kDefaultLimit);
    const std::wstring path = Utf8ToWide(pathUtf8);
    std::string bytes;
    if (path.empty() || limit < 0 || !ReadFileContents(path, static_cast<uint64_t>(limit), bytes)) {
        bytes.clear();
    }
    lua_pushlstring(state, bytes.data(), bytes.size());
    return 1;
}

const luaL_Reg kFileSystemFunctions[] = {
    {"Exists", FsExists},
    {"IsFile", FsIsFile},
    {"IsDirectory", FsIsDirectory},
    {"GetSpecialPath", FsGetSpecialPath},
    {"RemoveRecursive", FsRemoveRecursive},
    {"RemoveRecursiveByMask", FsRemoveRecursiveByMask},
    {"HasPendingFileOperation", FsHasPendingFileOperation},
    {"DeleteFile", FsDeleteFile},
    {"DeleteFileAndParent", FsDeleteFileAndParent},
    {"RemoveDirectory", FsRemoveDirectory},
    {"RemoveDirectoryIfEmpty", FsRemoveDirectoryIfEmpty},
    {"RemoveDirectoryRecursiveAndParentIfEmpty", FsRemoveDirectoryRecursiveAndParentIfEmpty},
    {"MakePath", FsMakePath},
    {"SplitPath", FsSplitPath},
    {"ContainsFiles", FsContainsFiles},
    {"ListDirectory", FsListDirectory},
    {"ReadFile", FsReadFile},
    {"IsInFolder", FsIsInFolder},
    {"GetCommandProgram", FsGetCommandProgram},
    {"ExpandPath", FsExpandPath},
    {"GetUserProfiles", FsGetUserProfiles},
    {"GetKnownFolders", FsGetKnownFolders},
    {nullptr, nullptr},
};

const LuaConstant kFileSystemConstants[] = {
    {"SpecialPath_CommonAppData", 0},
    {"SpecialPath_CommonDesktop", 1},
    {"SpecialPath_CommonStartMenu", 2},
    {"SpecialPath_CommonStartMenuPrograms", 3},
    {"SpecialPath_CommonStartMenuStartup", 4},
    {"SpecialPath_CommonProgramFiles", 5},
    {"SpecialPath_CommonProgramFilesX86", 6},
    {"SpecialPath_Windows", SpecialPathWindows},
    {"SpecialPath_System32", SpecialPathSystem32},
    {"SpecialPath_UserProfiles", SpecialPathUserProfiles},
    {"ListDir_All", ListDirAll},
    {"ListDir_Files", ListDirFiles},
    {"ListDir_Directories", ListDirDirectories},
    {nullptr, 0},
};

} // namespace

void RegisterFileSystemModule(lua_State* state)
{
    RegisterHostModule(state, "FileSystem", kFileSystemFunctions, kFileSystemConstants);
}
