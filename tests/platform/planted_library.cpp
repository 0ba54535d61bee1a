// A library planted where the tool must never load one from, or named by a registry override. Loading it appends
// "loaded" to "<its own path>.loaded"; it answers the lazily bound calls with recognisable results and records the
// dependency record its loader hands it, read at the record's fixed byte offsets.
#include "base/unique_resource.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>

namespace {

constexpr wchar_t kPlantedProduct[] = L"{11111111-2222-3333-4444-555555555555}";
constexpr wchar_t kPlantedProfiles[] = L"C:\\planted-profiles";

HMODULE g_self;

void AppendToMarker(const wchar_t* line)
{
    wchar_t path[MAX_PATH + 8];
    const DWORD length = ::GetModuleFileNameW(g_self, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return;
    }
    std::wcscpy(path + length, L".loaded");
    UniqueFile file(::CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    char text[1024];
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, line, -1, text, sizeof(text), nullptr, nullptr);
    DWORD written = 0;
    if (file && size > 1) {
        text[size - 1] = '\n';
        ::WriteFile(file.get(), text, static_cast<DWORD>(size), &written, nullptr);
    }
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*)
{
    if (reason == DLL_PROCESS_ATTACH) {
        g_self = instance;
        AppendToMarker(L"loaded");
    }
    return TRUE;
}

extern "C" void NVDelayLoadDependencies(const void* record)
{
    const auto* bytes = static_cast<const unsigned char*>(record);
    uint32_t size = 0;
    int32_t version = 0;
    const wchar_t* directoryOverride = nullptr;
    std::memcpy(&size, bytes, sizeof(size));
    std::memcpy(&version, bytes + 4, sizeof(version));
    std::memcpy(&directoryOverride, bytes + 12, sizeof(directoryOverride));
    wchar_t line[600];
    _snwprintf(line, 600, L"dependencies size=%u version=%d executable-directory=%u override=%s", size, version,
               static_cast<unsigned>(bytes[8]), directoryOverride != nullptr ? directoryOverride : L"(none)");
    line[599] = L'\0';
    AppendToMarker(line);
}

extern "C" UINT WINAPI MsiEnumRelatedProductsW(const wchar_t*, DWORD, DWORD index, wchar_t* product)
{
    if (index > 0) {
        return ERROR_NO_MORE_ITEMS;
    }
    std::wcscpy(product, kPlantedProduct);
    return ERROR_SUCCESS;
}

extern "C" BOOL WINAPI GetProfilesDirectoryW(wchar_t* directory, DWORD* size)
{
    const DWORD needed = static_cast<DWORD>(std::wcslen(kPlantedProfiles) + 1);
    if (directory == nullptr || *size < needed) {
        *size = needed;
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::wcscpy(directory, kPlantedProfiles);
    *size = needed;
    return TRUE;
}
