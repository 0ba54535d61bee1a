#include "platform/registry_keys.h"

#include "platform/ownership.h"
#include "platform/privilege.h"

#include <winternl.h>

#include <algorithm>
#include <utility>

extern "C" {
NTSTATUS NTAPI NtOpenKey(PHANDLE key, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes);
NTSTATUS NTAPI NtDeleteKey(HANDLE key);
}

namespace NvRegistryKeys {
namespace {

constexpr wchar_t kLinkValue[] = L"SymbolicLinkValue";
constexpr DWORD kKeyNameBuffer = 256;

bool HasNul(const std::wstring& name)
{
    return name.find(L'\0') != std::wstring::npos;
}

REGSAM View(DWORD flags)
{
    return flags & (KEY_WOW64_32KEY | KEY_WOW64_64KEY);
}

bool IsLinkKey(HKEY key)
{
    DWORD type = REG_NONE;
    return ::RegQueryValueExW(key, kLinkValue, nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS && type == REG_LINK;
}

// Win32 cuts a name at its first NUL; only the native API takes the whole counted name.
LSTATUS OpenCounted(HKEY parent, const std::wstring& name, REGSAM access, HKEY& opened)
{
    UNICODE_STRING text{static_cast<USHORT>(name.size() * sizeof(wchar_t)),
                        static_cast<USHORT>(name.size() * sizeof(wchar_t)), const_cast<PWSTR>(name.data())};
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE | OBJ_OPENLINK, parent, nullptr);
    HANDLE handle = nullptr;
    const NTSTATUS status = ::NtOpenKey(&handle, access, &attributes);
    opened = static_cast<HKEY>(handle);
    return status < 0 ? static_cast<LSTATUS>(::RtlNtStatusToDosError(status)) : ERROR_SUCCESS;
}

std::vector<std::wstring> SplitKeyPath(const std::wstring& path)
{
    std::vector<std::wstring> components;
    size_t start = 0;
    while (start <= path.size()) {
        const size_t end = std::min(path.find(L'\\', start), path.size());
        components.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return components;
}

} // namespace

LSTATUS OpenChild(HKEY parent, const std::wstring& name, REGSAM access, DWORD flags, Key& key)
{
    key = Key();
    if (name.empty()) {
        return ERROR_INVALID_PARAMETER;
    }
    const REGSAM wanted = access | View(flags);
    const LSTATUS status = HasNul(name)
                               ? OpenCounted(parent, name, wanted, *key.handle.put())
                               : ::RegOpenKeyExW(parent, name.c_str(), REG_OPTION_OPEN_LINK, wanted, key.handle.put());
    if (status != ERROR_SUCCESS) {
        key.handle.release();
        return status;
    }
    key.isLink = (access & KEY_QUERY_VALUE) != 0 && IsLinkKey(key.handle.get());
    return ERROR_SUCCESS;
}

LSTATUS OpenForRemoval(HKEY root, const std::wstring& path, REGSAM access, DWORD flags, Key& key,
                       std::wstring& linkOnTheWay)
{
    key = Key();
    if (root == HKEY_LOCAL_MACHINE) {
        return ::RegOpenKeyExW(root, path.c_str(), 0, access | View(flags), key.handle.put());
    }
    std::wstring walked;
    HKEY parent = root;
    Key current;
    for (const std::wstring& name : SplitKeyPath(path)) {
        walked += (walked.empty() ? L"" : L"\\") + name;
        Key next;
        if (const LSTATUS status = OpenChild(parent, name, access | KEY_QUERY_VALUE, flags, next);
            status != ERROR_SUCCESS) {
            return status;
        }
        if (next.isLink) {
            linkOnTheWay = walked;
            return ERROR_CANT_ACCESS_FILE;
        }
        current = std::move(next);
        parent = current.handle.get();
    }
    key = std::move(current);
    return ERROR_SUCCESS;
}

LSTATUS ListSubKeys(HKEY key, std::vector<std::wstring>& names)
{
    names.clear();
    wchar_t buffer[kKeyNameBuffer];
    for (DWORD index = 0;; ++index) {
        DWORD length = kKeyNameBuffer;
        const LSTATUS status = ::RegEnumKeyExW(key, index, buffer, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) {
            return ERROR_SUCCESS;
        }
        if (status != ERROR_SUCCESS) {
            names.clear();
            return status;
        }
        names.emplace_back(buffer, length);
    }
}

LSTATUS DeleteOpened(HKEY key)
{
    const NTSTATUS status = ::NtDeleteKey(key);
    return status < 0 ? static_cast<LSTATUS>(::RtlNtStatusToDosError(status)) : ERROR_SUCCESS;
}

DWORD ResetOwnership(HKEY parent, const std::wstring& name, DWORD flags, PSID owner,
                     const OwnedSecurityAttributes& holder)
{
    // A key that denies everyone grants WRITE_OWNER only through the privilege, and WRITE_DAC only to its
    // owner, so the owner is written through one handle and the access list through a second.
    NvPrivilege takeOwnership(SE_TAKE_OWNERSHIP_NAME);
    const std::pair<REGSAM, SECURITY_INFORMATION> steps[] = {
        {WRITE_OWNER, OWNER_SECURITY_INFORMATION},
        {WRITE_DAC, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION}};
    for (const auto& [access, information] : steps) {
        Key key;
        if (const LSTATUS status = OpenChild(parent, name, access, flags, key); status != ERROR_SUCCESS) {
            return static_cast<DWORD>(status);
        }
        if (const DWORD error = ResetHandleOwnership(reinterpret_cast<HANDLE>(key.handle.get()), SE_REGISTRY_KEY,
                                                     information, owner, holder, ::SetSecurityInfo);
            error != ERROR_SUCCESS) {
            return error;
        }
    }
    return ERROR_SUCCESS;
}

std::wstring Printable(const std::wstring& name)
{
    std::wstring text;
    for (const wchar_t c : name) {
        text += c == L'\0' ? std::wstring(L"\\0") : std::wstring(1, c);
    }
    return text;
}

} // namespace NvRegistryKeys
