#include "modules/reg_ops.h"

#include "logging/nv_qor_log.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/registry_keys.h"
#include "platform/registry_lists.h"
#include "platform/security.h"
#include "platform/special_folders.h"

#include <algorithm>

namespace {

Win32Registry OpenRegistry(HKEY root, DWORD flags)
{
    Win32Registry registry;
    registry.SetRoot(root);
    registry.SetAccessFlags(flags);
    return registry;
}

int CodeOf(RegistryError code)
{
    return static_cast<int>(code);
}

// A missing key or value is an expected answer to a read, not a failure worth a line.
void LogReadFailure(const wchar_t* caller, const std::wstring& path, const std::wstring& valueName, RegistryError code)
{
    if (code != RegistryError::NotFound) {
        NV_QOR_LOG(NvQorLogging::Warning, L"%s: Failed to read '%s:%s': %d", caller, path.c_str(), valueName.c_str(),
                   CodeOf(code));
    }
}

void LogWriteFailure(const wchar_t* caller, const std::wstring& path, const std::wstring& valueName, RegistryError code)
{
    NV_QOR_LOG(NvQorLogging::Error, L"%s: Failed to write '%s:%s': %d", caller, path.c_str(), valueName.c_str(),
               CodeOf(code));
}

// A missing key lists as empty; only another failure is one.
bool Listed(RegistryError code)
{
    return code == RegistryError::Success || code == RegistryError::NotFound;
}

std::vector<std::wstring> ListNames(HKEY root, const std::wstring& path, DWORD flags, bool values, RegistryError& code)
{
    Win32Registry registry = OpenRegistry(root, flags);
    std::vector<std::wstring> names;
    if (values) {
        registry.GetValueNames(path, names, &code);
    } else {
        registry.GetSubKeys(path, names, &code);
    }
    const wchar_t* caller = values ? L"RegOps::GetValueKeys" : L"RegOps::GetSubkeys";
    if (!Listed(code)) {
        NV_QOR_LOG(NvQorLogging::Debug, L"%s: Failed to get sub keys %d : '%s'", caller, CodeOf(code), path.c_str());
    }
    // Win32 would cut such a name at its first NUL and reach another key or value, often the one listed: no
    // script gets it. A branch that holds one is still removed whole by the forced removal.
    const auto cut = std::remove_if(names.begin(), names.end(), [&](const std::wstring& name) {
        if (name.find(L'\0') == std::wstring::npos) {
            return false;
        }
        NV_QOR_LOG(NvQorLogging::Warning, L"%s: Skipping the name '%s' under '%s': it holds a NUL character", caller,
                   NvRegistryKeys::Printable(name).c_str(), path.c_str());
        return true;
    });
    names.erase(cut, names.end());
    return names;
}

std::vector<std::wstring> ListSubkeys(HKEY root, const std::wstring& path, DWORD flags, RegistryError& code)
{
    return ListNames(root, path, flags, false, code);
}

bool LogRemovalFailure(const std::wstring& path, LSTATUS status)
{
    if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND || status == ERROR_KEY_DELETED) {
        return true;
    }
    NV_QOR_LOG(NvQorLogging::Error, L"%s: Failed to delete '%s': %d", L"RegOps::RemoveByForce",
               NvRegistryKeys::Printable(path).c_str(), CodeOf(ToRegistryError(status)));
    return false;
}

// Deletes a key and everything below it, subkeys first, through handles opened one inside the other: a link is
// deleted as itself, a name with NUL characters reaches its own key, and the walk keeps its own list of the
// keys it is in instead of recursing, so no tree can exhaust the stack.
class KeyTreeRemoval {
public:
    explicit KeyTreeRemoval(DWORD flags) : m_flags(flags) {}

    // Every subtree is attempted, so that one locked key leaves only its own ancestors behind.
    bool Remove(HKEY parent, const std::wstring& name, const std::wstring& path)
    {
        if (!Enter(parent, name, path)) {
            return false;
        }
        bool removed = true;
        while (!m_levels.empty()) {
            const size_t depth = m_levels.size();
            Level& level = m_levels.back();
            if (level.next == level.subkeys.size()) {
                removed = Leave();
                continue;
            }
            const std::wstring subkey = level.subkeys[level.next++];
            const std::wstring subPath = level.path + L"\\" + subkey;
            if (depth >= kMaxDepth) {
                NV_QOR_LOG(NvQorLogging::Error, L"%s: '%s' lies more than %Iu keys deep; the branch stays",
                           L"RegOps::RemoveByForce", NvRegistryKeys::Printable(subPath).c_str(), kMaxDepth);
                level.failed = true;
            } else if (!Enter(level.key.handle.get(), subkey, subPath)) {
                m_levels[depth - 1].failed = true;
            }
        }
        return removed;
    }

private:
    // Windows allows 512 levels of keys.
    static constexpr size_t kMaxDepth = 512;

    struct Level {
        HKEY parent = nullptr;
        std::wstring name;
        std::wstring path;
        NvRegistryKeys::Key key;
        std::vector<std::wstring> subkeys;
        size_t next = 0;
        bool failed = false;
    };

    // Opens the key and lists its subkeys; a key whose access list refuses either is given to the Administrators
    // first. False when the key stays; a missing key counts as removed.
    bool Enter(HKEY parent, const std::wstring& name, const std::wstring& path)
    {
        Level level;
        level.parent = parent;
        level.name = name;
        level.path = path;
        LSTATUS status = Open(level);
        if (status == ERROR_ACCESS_DENIED && RecoverOwnership(level)) {
            status = Open(level);
        }
        if (status != ERROR_SUCCESS) {
            return LogRemovalFailure(path, status);
        }
        m_levels.push_back(std::move(level));
        return true;
    }

    LSTATUS Open(Level& level)
    {
        if (const LSTATUS status =
                NvRegistryKeys::OpenChild(level.parent, level.name, KEY_READ | DELETE, m_flags, level.key);
            status != ERROR_SUCCESS) {
            return status;
        }
        // A link has no subkeys of its own: a listing through it would show its target's.
        return level.key.isLink ? ERROR_SUCCESS : NvRegistryKeys::ListSubKeys(level.key.handle.get(), level.subkeys);
    }

    // Deletes the innermost key once its subkeys are done; a key that stays keeps its ancestors as well.
    bool Leave()
    {
        const Level level = std::move(m_levels.back());
        m_levels.pop_back();
        bool removed = !level.failed;
        if (removed) {
            LSTATUS status = NvRegistryKeys::DeleteOpened(level.key.handle.get());
            if (status == ERROR_ACCESS_DENIED && RecoverOwnership(level)) {
                NvRegistryKeys::Key again;
                status = NvRegistryKeys::OpenChild(level.parent, level.name, DELETE, m_flags, again);
                status = status == ERROR_SUCCESS ? NvRegistryKeys::DeleteOpened(again.handle.get()) : status;
            }
            removed = status == ERROR_SUCCESS || LogRemovalFailure(level.path, status);
        }
        if (!removed && !m_levels.empty()) {
            m_levels.back().failed = true;
        }
        return removed;
    }

    // Makes the Administrators the key's owner with the access list of the ownership reset; false (and a
    // warning) when that fails.
    bool RecoverOwnership(const Level& level)
    {
        OwnedSecurityAttributes holder;
        BuildAdministratorsOnlySecurity(holder);
        const UniqueSid administrators = CreateAdministratorsSid();
        const DWORD result =
            NvRegistryKeys::ResetOwnership(level.parent, level.name, m_flags, administrators.get(), holder);
        if (result != ERROR_SUCCESS) {
            NV_QOR_LOG(NvQorLogging::Warning, L"%s: TakeOwnership failed for '%s': %lu", L"RegOps::RemoveByForce",
                       NvRegistryKeys::Printable(level.path).c_str(), result);
            return false;
        }
        return true;
    }

    DWORD m_flags;
    std::vector<Level> m_levels;
};

} // namespace

namespace RegOps {

bool BranchExists(HKEY root, const std::wstring& path, DWORD flags)
{
    return OpenRegistry(root, flags).KeyExists(path);
}

bool ValueExists(HKEY root, const std::wstring& path, const std::wstring& valueName, DWORD flags)
{
    return OpenRegistry(root, flags).GetValueType(path, valueName) != REG_NONE;
}

uint32_t GetDWORD(HKEY root, const std::wstring& path, const std::wstring& valueName, DWORD flags)
{
    uint32_t value = 0;
    RegistryError code = RegistryError::Success;
    if (!OpenRegistry(root, flags).GetDWORD(path, valueName, value, &code)) {
        LogReadFailure(L"RegOps::GetDWORD", path, valueName, code);
        return 0;
    }
    return value;
}

bool SetDWORD(HKEY root, const std::wstring& path, const std::wstring& valueName, uint32_t value, DWORD flags)
{
    RegistryError code = RegistryError::Success;
    if (!OpenRegistry(root, flags).SetDWORD(path, valueName, value, &code)) {
        LogWriteFailure(L"RegOps::SetDWORD", path, valueName, code);
        return false;
    }
    return true;
}

std::wstring GetString(HKEY root, const std::wstring& path, const std::wstring& valueName, DWORD flags)
{
    std::wstring text;
    RegistryError code = RegistryError::Success;
    if (!OpenRegistry(root, flags).GetString(path, valueName, text, &code)) {
        LogReadFailure(L"RegOps::GetString", path, valueName, code);
        return {};
    }
    return text;
}

std::wstring GetPath(HKEY root, const std::wstring& path, const std::wstring& valueName, DWORD flags)
{
    Win32Registry registry = OpenRegistry(root, flags);
    return ReadRecordedPath(registry, path, valueName);
}

bool SetString(HKEY root, const std::wstring& path, const std::wstring& valueName, const std::wstring& text,
               DWORD flags)
{
    RegistryError code = RegistryError::Success;
    if (!OpenRegistry(root, flags).SetString(path, valueName, text, &code)) {
        LogWriteFailure(L"RegOps::SetString", path, valueName, code);
        return false;
    }
    return true;
}

std::vector<std::wstring> GetMultiString(HKEY root, const std::wstring& path, const std::wstring& valueName,
                                         DWORD flags)
{
    std::vector<std::wstring> strings;
    RegistryError code = RegistryError::Success;
    if (!OpenRegistry(root, flags).GetMultiString(path, valueName, strings, &code)) {
        LogReadFailure(L"RegOps::GetMultiString", path, valueName, code);
        return {};
    }
    return strings;
}

bool SetMultiString(HKEY root, const std::wstring& path, const std::wstring& valueName,
                    const std::vector<std::wstring>& strings, DWORD flags)
{
    RegistryError code = RegistryError::Success;
    if (!OpenRegistry(root, flags).SetMultiString(path, valueName, strings, &code)) {
        LogWriteFailure(L"RegOps::SetMultiString", path, valueName, code);
        return false;
    }
    return true;
}

std::vector<std::wstring> GetNameList(HKEY root, const std::wstring& path, const std::wstring& valueName,
                                      wchar_t separator, DWORD flags)
{
    RegistryBytes data;
    DWORD type = REG_NONE;
    RegistryError code = RegistryError::Success;
    std::vector<std::wstring> names;
    if (!OpenRegistry(root, flags).GetValueRaw(path, valueName, data, type, &code)) {
        LogReadFailure(L"RegOps::GetNameList", path, valueName, code);
    } else if (!NvNameLists::Parse(type, data, separator, names)) {
        LogReadFailure(L"RegOps::GetNameList", path, valueName, RegistryError::WrongType);
    }
    return names;
}

bool RemoveFromNameList(HKEY root, const std::wstring& path, const std::wstring& valueName,
                        const std::vector<std::wstring>& names, wchar_t separator, DWORD flags)
{
    Win32Registry registry = OpenRegistry(root, flags);
    RegistryBytes data;
    DWORD type = REG_NONE;
    RegistryError code = RegistryError::Success;
    std::vector<std::wstring> list;
    if (!registry.GetValueRaw(path, valueName, data, type, &code)) {
        LogReadFailure(L"RegOps::RemoveFromNameList", path, valueName, code);
        return code == RegistryError::NotFound;
    }
    if (!NvNameLists::Parse(type, data, separator, list)) {
        LogReadFailure(L"RegOps::RemoveFromNameList", path, valueName, RegistryError::WrongType);
        return false;
    }
    if (!NvNameLists::RemoveNames(list, names)) {
        return true;
    }
    if (list.empty()) {
        return DeleteKey(root, path, valueName, flags);
    }
    if (!registry.SetValueRaw(path, valueName, type, NvNameLists::Format(type, list, separator), &code)) {
        LogWriteFailure(L"RegOps::RemoveFromNameList", path, valueName, code);
        return false;
    }
    return true;
}

bool DeleteKey(HKEY root, const std::wstring& path, const std::wstring& valueName, DWORD flags)
{
    RegistryError code = RegistryError::Success;
    if (OpenRegistry(root, flags).DeleteValue(path, valueName, &code) || code == RegistryError::NotFound) {
        return true;
    }
    NV_QOR_LOG(NvQorLogging::Error, L"%s: Failed to delete '%s:%s': %d", NV_LOG_FUNCTION, path.c_str(),
               valueName.c_str(), CodeOf(code));
    return false;
}

std::vector<std::wstring> GetSubkeys(HKEY root, const std::wstring& path, DWORD flags)
{
    RegistryError code = RegistryError::Success;
    return ListSubkeys(root, path, flags, code);
}

std::vector<std::wstring> GetValueKeys(HKEY root, const std::wstring& path, DWORD flags)
{
    RegistryError code = RegistryError::Success;
    return ListNames(root, path, flags, true, code);
}

bool GetSubkeys(HKEY root, const std::wstring& path, DWORD flags, std::vector<std::wstring>& names)
{
    RegistryError code = RegistryError::Success;
    names = ListSubkeys(root, path, flags, code);
    return Listed(code);
}

bool GetValueKeys(HKEY root, const std::wstring& path, DWORD flags, std::vector<std::wstring>& names)
{
    RegistryError code = RegistryError::Success;
    names = ListNames(root, path, flags, true, code);
    return Listed(code);
}

bool WipeBranch(HKEY root, const std::wstring& branch, DWORD flags)
{
    // Without a parent path the branch would be a top-level key, or the root's own subkeys when the path
    // begins with a backslash (HKEY_CLASSES_ROOT accepts one); without a name it would be the parent itself.
    const size_t separator = branch.rfind(L'\\');
    if (separator == std::wstring::npos || separator == 0 || separator + 1 == branch.size()) {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Invalid branch: '%s'", NV_LOG_FUNCTION, branch.c_str());
        return false;
    }
    return RemoveByForce(root, branch.substr(0, separator), branch.substr(separator + 1), flags);
}

bool RemoveByForce(HKEY root, const std::wstring& parent, const std::wstring& name, DWORD flags)
{
    const wchar_t* const kCaller = NV_LOG_FUNCTION;
    const std::wstring branch = parent + L"\\" + name;
    NvRegistryKeys::Key parentKey;
    std::wstring link;
    if (const LSTATUS opened = NvRegistryKeys::OpenForRemoval(root, parent, KEY_READ, flags, parentKey, link);
        opened != ERROR_SUCCESS) {
        if (!link.empty()) {
            NV_QOR_LOG(NvQorLogging::Error, L"%s: Not deleting '%s': '%s' on the way is a registry link", kCaller,
                       branch.c_str(), link.c_str());
            return false;
        }
        return LogRemovalFailure(branch, opened);
    }
    return KeyTreeRemoval(flags).Remove(parentKey.handle.get(), name, branch);
}

bool DeleteBranchByMask(HKEY root, const std::wstring& path, const std::wstring& mask, DWORD flags)
{
    std::vector<std::wstring> subkeys;
    if (!GetSubkeys(root, path, flags, subkeys)) {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Cannot list '%s'", NV_LOG_FUNCTION, path.c_str());
        return false;
    }
    bool result = true;
    for (const std::wstring& subkey : subkeys) {
        if (MatchesMask(subkey, mask, false)) {
            result = WipeBranch(root, path + L"\\" + subkey, flags) && result;
        }
    }
    return result;
}

bool DeleteBranchIfEmpty(HKEY root, const std::wstring& path, DWORD flags)
{
    std::vector<std::wstring> subkeys;
    std::vector<std::wstring> values;
    if (!GetSubkeys(root, path, flags, subkeys) || !GetValueKeys(root, path, flags, values)) {
        NV_QOR_LOG(NvQorLogging::Warning, L"%s: Cannot list '%s'; it stays", NV_LOG_FUNCTION, path.c_str());
        return false;
    }
    if (!subkeys.empty() || !values.empty()) {
        return false;
    }
    return WipeBranch(root, path, flags);
}

} // namespace RegOps
