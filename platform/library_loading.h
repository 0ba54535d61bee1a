#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// Where the process loads libraries from: the system directory only, never the executable's folder or the
// current directory. msi.dll and userenv.dll are bound lazily through the tool's own __delayLoadHelper2, which
// loads them with LoadDelayLoadedLibrary.
bool SetSafeDllSearchPaths();
bool PreloadSystemLibrary(const std::wstring& fileName);
void SetDelayLoadOptions(int keep, int searchExecutableDirectory);

// Tries, in order: the directory override, the executable's directory, the registry override under
// HKLM "Software\Norvane\QOR\Delay Loading\<version>" (64-bit view, then 32-bit view; only without a directory
// override), the system directory. Nothing is logged.
HMODULE LoadLibrarySafely(const std::wstring& fileName);
// Loads the file and, when it exports "NVDelayLoadDependencies", hands it the current delay-load options so that
// it binds its own lazy imports the same way.
HMODULE LoadLibraryWithDependencies(const std::wstring& path);
// What the delay-load helper loads a library with: the custom loader when one is installed, else
// LoadLibrarySafely.
HMODULE LoadDelayLoadedLibrary(const std::wstring& fileName);

// The record handed to a library's "NVDelayLoadDependencies" export; its layout is shared with libraries built
// elsewhere, hence packed.
#pragma pack(push, 1)
struct DelayLoadDependencies {
    uint32_t size;
    int32_t version;
    uint8_t searchExecutableDirectory;
    uint8_t reserved[3];
    const wchar_t* directoryOverride; // null, or a prefix the file name is appended to directly
};
#pragma pack(pop)
static_assert(sizeof(DelayLoadDependencies) == 20);
static_assert(offsetof(DelayLoadDependencies, version) == 4);
static_assert(offsetof(DelayLoadDependencies, searchExecutableDirectory) == 8);
static_assert(offsetof(DelayLoadDependencies, directoryOverride) == 12);

using DelayLoadDependenciesExport = void (*)(const DelayLoadDependencies* dependencies);
inline constexpr char kDelayLoadDependenciesExport[] = "NVDelayLoadDependencies";
inline constexpr int32_t kDelayLoadConfigurationVersion = 100;

// Takes version, executable-directory flag and directory override from a record, as a library does with the one
// its loader hands it. False, changing nothing, for a record of another size.
bool ApplyDelayLoadDependencies(const DelayLoadDependencies& dependencies);

// Replaces the whole search for lazily bound libraries; null removes it.
using DelayLoadCustomLoader = HMODULE (*)(const wchar_t* fileName, void* context);
void SetDelayLoadCustomLoader(DelayLoadCustomLoader loader, void* context);

// The loader's only way to Windows, replaceable as a whole.
class DelayLoadSystemCalls {
public:
    virtual ~DelayLoadSystemCalls() = default;
    virtual LSTATUS RegOpenKeyExW(HKEY root, const wchar_t* subKey, DWORD options, REGSAM access, HKEY* key) = 0;
    virtual LSTATUS RegQueryValueExW(HKEY key, const wchar_t* name, DWORD* reserved, DWORD* type, BYTE* data,
                                     DWORD* size) = 0;
    virtual LSTATUS RegCloseKey(HKEY key) = 0;
    virtual DWORD GetModuleFileNameW(HMODULE module, wchar_t* buffer, DWORD size) = 0;
    virtual HMODULE LoadLibraryW(const wchar_t* path) = 0;
    virtual UINT GetSystemDirectoryW(wchar_t* buffer, UINT size) = 0;
};
// Installs another table and returns the one it replaces; null reinstalls the Windows one.
std::shared_ptr<DelayLoadSystemCalls> ReplaceDelayLoadSystemCalls(std::shared_ptr<DelayLoadSystemCalls> calls);

// GetProcAddress typed as the function it names; null when the module lacks it.
template <typename Function> Function ResolveProcedure(HMODULE module, const char* name)
{
    // Through void(*)() so the compiler accepts the cast between function pointer types.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}
