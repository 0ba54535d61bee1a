#pragma once

// What a standard user can make in their own hive and Win32 cannot: keys whose names hold NUL characters (the
// native API counts names), and registry links.
#include <windows.h>

#include <winternl.h>

#include <string>

extern "C" NTSTATUS NTAPI NtCreateKey(PHANDLE key, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes, ULONG index,
                                      PUNICODE_STRING keyClass, ULONG options, PULONG disposition);

namespace NvTest {

// Creates the subkey `name` (NUL characters included) of an open key; null on failure.
inline HKEY CreateCountedKey(HKEY parent, const std::wstring& name)
{
    UNICODE_STRING text{static_cast<USHORT>(name.size() * sizeof(wchar_t)),
                        static_cast<USHORT>(name.size() * sizeof(wchar_t)), const_cast<PWSTR>(name.data())};
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, parent, nullptr);
    HANDLE key = nullptr;
    ULONG disposition = 0;
    return ::NtCreateKey(&key, KEY_ALL_ACCESS, &attributes, 0, nullptr, 0, &disposition) < 0 ? nullptr
                                                                                             : static_cast<HKEY>(key);
}

// Makes `path` below `root` a registry link to the key with the native name `target` ("\Registry\...").
inline LSTATUS CreateRegistryLink(HKEY root, const std::wstring& path, const std::wstring& target)
{
    HKEY link = nullptr;
    LSTATUS status = ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK,
                                       KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr, &link, nullptr);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    status = ::RegSetValueExW(link, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(target.data()),
                              static_cast<DWORD>(target.size() * sizeof(wchar_t)));
    ::RegCloseKey(link);
    return status;
}

} // namespace NvTest
