#include "modules/reg_ops.h"

#include "logging/nv_qor_log.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/security.h"
#include "platform/special_folders.h"

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
    if (!Listed(code)) {
        NV_QOR_LOG(NvQorLogging::Debug, L"%s: Failed to get sub keys %d : '%s'",
                   values ? L"RegOps::GetValueKeys" : L"RegOps::GetSubkeys", CodeOf(code), path.c_str());
    }
    return names;
}

std::vector<std::wstring> ListSubkeys(HKEY root, const std::wstring& path, DWORD flags, RegistryError& code)
{
    return ListNames(root, path, flags, false, code);
}

// Makes the Administrators the key's owner with the access list of the ownership reset; false (and a warning)
// when that fails.
bool RecoverKeyOwnership(HKEY root, const std::wstring& path, DWORD flags)
{
    OwnedSecurityAttributes holder;
    BuildAdministratorsOnlySecurity(holder);
    const UniqueSid administrators = CreateAdministratorsSid();
    const DWORD result = TakeKeyOwnership(root, path, administrators.get(), holder, (flags & KEY_WOW64_32KEY) != 0);
    if (result != ERROR_SUCCESS) {
        NV_QOR_LOG(NvQorLogging::Warning, L"%s: TakeOwnership failed for '%s': %lu", L"RegOps::RemoveByForce",
                   path.c_str(), result);
        return false;
    }
    return true;
}

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

bool DeleteKey(HKEY root, const std::wstring& path, const std::wstring& valueName, DWORD flags)
{
    RegistryError code = RegistryError::Success;
    if (OpenRegistry(root, flags).DeleteValue(path, valueName, &code) || code == RegistryError::NotFound) {
        return true;
    }
    NV_QOR_LOG(NvQorLogging::Error, L"%s: Failed to delete '%s:%s': %d", L"RegOps::DeleteKey", path.c_str(),
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
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Invalid branch: '%s'", L"RegOps::WipeBranch", branch.c_str());
        return false;
    }
    return RemoveByForce(root, branch.substr(0, separator), branch.substr(separator + 1), flags);
}

bool RemoveByForce(HKEY root, const std::wstring& parent, const std::wstring& name, DWORD flags)
{
    const std::wstring path = parent + L"\\" + name;
    RegistryError code = RegistryError::Success;
    std::vector<std::wstring> subkeys = ListSubkeys(root, path, flags, code);
    // A key whose access list refuses reading hides its subkeys, which would keep it alive; its access list
    // is reset before the walk instead of only before the final deletion.
    bool ownershipTried = false;
    if (code == RegistryError::AccessDenied) {
        ownershipTried = true;
        if (RecoverKeyOwnership(root, path, flags)) {
            subkeys = ListSubkeys(root, path, flags, code);
        }
    }
    // Subkeys that cannot be seen cannot be deleted first; the key stays rather than being half-removed.
    if (!Listed(code)) {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Failed to delete '%s': %d", L"RegOps::RemoveByForce", path.c_str(),
                   CodeOf(code));
        return false;
    }
    // Every subtree is attempted, so that one locked key leaves only its own ancestors behind.
    bool children = true;
    for (const std::wstring& subkey : subkeys) {
        children = RemoveByForce(root, path, subkey, flags) && children;
    }
    if (!children) {
        return false;
    }

    Win32Registry registry = OpenRegistry(root, flags);
    if (registry.DeleteKey(path, &code)) {
        return true;
    }
    if (code == RegistryError::AccessDenied && !ownershipTried && RecoverKeyOwnership(root, path, flags) &&
        registry.DeleteKey(path, &code)) {
        return true;
    }
    if (code == RegistryError::NotFound) {
        return true;
    }
    NV_QOR_LOG(NvQorLogging::Error, L"%s: Failed to delete '%s': %d", L"RegOps::RemoveByForce", path.c_str(),
               CodeOf(code));
    return false;
}

bool DeleteBranchByMask(HKEY root, const std::wstring& path, const std::wstring& mask, DWORD flags)
{
    std::vector<std::wstring> subkeys;
    if (!GetSubkeys(root, path, flags, subkeys)) {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Cannot list '%s'", L"RegOps::DeleteBranchByMask", path.c_str());
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
        NV_QOR_LOG(NvQorLogging::Warning, L"%s: Cannot list '%s'; it stays", L"RegOps::DeleteBranchIfEmpty",
                   path.c_str());
        return false;
    }
    if (!subkeys.empty() || !values.empty()) {
        return false;
    }
    return WipeBranch(root, path, flags);
}

} // namespace RegOps
