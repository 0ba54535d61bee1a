// Plants registry keys as a standard user could in their own hive, and reports on them:
//   hostile_keys nul KEY            subkeys of HKU\KEY whose names hold NUL characters ("\0nul" and "a\0b"),
//                                   each with a subkey of its own; made through the native API, which counts names
//   hostile_keys link KEY TARGET    HKU\KEY made a registry link to HKU\TARGET
//   hostile_keys count KEY          prints how many subkeys HKU\KEY has, or "missing"
#include "tests/harness/registry_plants.h"

#include <cstdio>
#include <string>

namespace {

int PlantNulNames(const wchar_t* path)
{
    HKEY parent = nullptr;
    if (::RegCreateKeyExW(HKEY_USERS, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &parent, nullptr) !=
        ERROR_SUCCESS) {
        return 1;
    }
    for (const std::wstring& name : {std::wstring(L"\0nul", 4), std::wstring(L"a\0b", 3)}) {
        const HKEY key = NvTest::CreateCountedKey(parent, name);
        if (key == nullptr) {
            return 1;
        }
        const HKEY inner = NvTest::CreateCountedKey(key, L"inner");
        ::RegSetValueExW(key, L"planted", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"x"), 2 * sizeof(wchar_t));
        if (inner == nullptr) {
            return 1;
        }
        ::RegCloseKey(inner);
        ::RegCloseKey(key);
    }
    ::RegCloseKey(parent);
    return 0;
}

int PlantLink(const wchar_t* path, const wchar_t* target)
{
    return NvTest::CreateRegistryLink(HKEY_USERS, path, std::wstring(L"\\Registry\\User\\") + target) == ERROR_SUCCESS
               ? 0
               : 1;
}

int CountSubkeys(const wchar_t* path)
{
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_USERS, path, REG_OPTION_OPEN_LINK, KEY_READ, &key) != ERROR_SUCCESS) {
        std::puts("missing");
        return 0;
    }
    DWORD count = 0;
    ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr);
    ::RegCloseKey(key);
    std::printf("%lu\n", count);
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::wstring command = argc > 2 ? argv[1] : L"";
    if (command == L"nul") {
        return PlantNulNames(argv[2]);
    }
    if (command == L"link" && argc > 3) {
        return PlantLink(argv[2], argv[3]);
    }
    if (command == L"count") {
        return CountSubkeys(argv[2]);
    }
    std::fputs("usage: hostile_keys nul KEY | link KEY TARGET | count KEY\n", stderr);
    return 2;
}
