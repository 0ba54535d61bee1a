#include "platform/library_loading.h"

#include "platform/paths.h"
#include "platform/special_folders.h"

#include <windows.h>

#include <cwchar>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace {

constexpr uint32_t kSearchExecutableDirectory = 0x1;
constexpr wchar_t kDelayLoadingKey[] = L"Software\\Norvane\\QOR\\Delay Loading";
constexpr wchar_t kLegacyDelayLoadingKey[] = L"Software\\Brannock\\Norvane\\Delay Loading";

class Win32DelayLoadSystemCalls final : public DelayLoadSystemCalls {
public:
    LSTATUS RegOpenKeyExW(HKEY root, const wchar_t* subKey, DWORD options, REGSAM access, HKEY* key) override
    {
        return ::RegOpenKeyExW(root, subKey, options, access, key);
    }
    LSTATUS RegQueryValueExW(HKEY key, const wchar_t* name, DWORD* reserved, DWORD* type, BYTE* data,
                             DWORD* size) override
    {
        return ::RegQueryValueExW(key, name, reserved, type, data, size);
    }
    LSTATUS RegCloseKey(HKEY key) override { return ::RegCloseKey(key); }
    DWORD GetModuleFileNameW(HMODULE module, wchar_t* buffer, DWORD size) override
    {
        return ::GetModuleFileNameW(module, buffer, size);
    }
    HMODULE LoadLibraryW(const wchar_t* path) override { return ::LoadLibraryW(path); }
    UINT GetSystemDirectoryW(wchar_t* buffer, UINT size) override { return ::GetSystemDirectoryW(buffer, size); }
};

struct DelayLoadOptions {
    uint32_t flags = kSearchExecutableDirectory;
    int32_t version = kDelayLoadConfigurationVersion;
    std::optional<std::wstring> directoryOverride;
    DelayLoadCustomLoader customLoader = nullptr;
    void* customLoaderContext = nullptr;
    std::shared_ptr<DelayLoadSystemCalls> systemCalls = std::make_shared<Win32DelayLoadSystemCalls>();
};

struct DelayLoadConfiguration {
    std::mutex lock;
    DelayLoadOptions options;
};

// Never destroyed: a lazily bound function may be called first by code that runs while static objects are being
// torn down.
DelayLoadConfiguration& Configuration()
{
    static DelayLoadConfiguration* const configuration = new DelayLoadConfiguration;
    return *configuration;
}

// A search works on a copy, so that it neither holds the lock while libraries run their initialisation nor sees
// the options change half-way.
DelayLoadOptions CurrentOptions()
{
    DelayLoadConfiguration& configuration = Configuration();
    std::lock_guard guard(configuration.lock);
    return configuration.options;
}

// A key opened through the table is closed through the same table.
class TableKey {
public:
    explicit TableKey(DelayLoadSystemCalls& calls) : m_calls(calls) {}
    TableKey(const TableKey&) = delete;
    TableKey& operator=(const TableKey&) = delete;
    ~TableKey()
    {
        if (m_key != nullptr) {
            m_calls.RegCloseKey(m_key);
        }
    }
    HKEY get() const { return m_key; }
    HKEY* put() { return &m_key; }

private:
    DelayLoadSystemCalls& m_calls;
    HKEY m_key = nullptr;
};

bool IsStringType(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// The text up to the first NUL (for REG_MULTI_SZ, the first string), unexpanded; empty for other types.
std::wstring ReadOverridePath(DelayLoadSystemCalls& calls, const std::wstring& keyPath, REGSAM access,
                              const std::wstring& valueName)
{
    TableKey key(calls);
    if (calls.RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, access, key.put()) != ERROR_SUCCESS) {
        return {};
    }
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (calls.RegQueryValueExW(key.get(), valueName.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
        return {};
    }
    // The value may grow between the two reads; ERROR_MORE_DATA reports the new size.
    while (IsStringType(type)) {
        // One character more than the data can fill: stored text need not end with a NUL.
        std::wstring text((size + 1) / sizeof(wchar_t) + 1, L'\0');
        DWORD capacity = size;
        const LSTATUS status = calls.RegQueryValueExW(key.get(), valueName.c_str(), nullptr, &type,
                                                      reinterpret_cast<BYTE*>(text.data()), &capacity);
        if (status == ERROR_SUCCESS) {
            text.resize(std::wcslen(text.c_str()));
            return IsStringType(type) ? text : std::wstring();
        }
        if (status != ERROR_MORE_DATA) {
            return {};
        }
        size = capacity;
    }
    return {};
}

std::wstring RegistryOverride(DelayLoadSystemCalls& calls, int32_t version, const std::wstring& fileName)
{
    const std::wstring keyPath =
        version == 0 ? kLegacyDelayLoadingKey : std::wstring(kDelayLoadingKey) + L'\\' + std::to_wstring(version);
    std::wstring path = ReadOverridePath(calls, keyPath, KEY_READ, fileName);
    if (path.empty()) {
        path = ReadOverridePath(calls, keyPath, KEY_READ | KEY_WOW64_32KEY, fileName);
    }
    return path;
}

// Up to and including the last backslash; empty when the path is unavailable.
std::wstring ExecutableDirectory(DelayLoadSystemCalls& calls)
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = calls.GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return {};
        }
        // A result that fills the buffer was truncated.
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    const size_t separator = path.rfind(L'\\');
    return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator + 1);
}

std::wstring SystemDirectory(DelayLoadSystemCalls& calls)
{
    std::wstring directory(MAX_PATH, L'\0');
    UINT length = calls.GetSystemDirectoryW(directory.data(), static_cast<UINT>(directory.size()));
    // Too small a buffer gives the size needed, NUL included.
    if (length >= directory.size()) {
        directory.resize(length);
        length = calls.GetSystemDirectoryW(directory.data(), static_cast<UINT>(directory.size()));
    }
    if (length == 0 || length >= directory.size()) {
        return {};
    }
    directory.resize(length);
    return directory;
}

HMODULE LoadWithDependencies(const DelayLoadOptions& options, const std::wstring& path)
{
    const HMODULE module = options.systemCalls->LoadLibraryW(path.c_str());
    if (module == nullptr) {
        return nullptr;
    }
    if (const auto configure = ResolveProcedure<DelayLoadDependenciesExport>(module, kDelayLoadDependenciesExport)) {
        DelayLoadDependencies dependencies{};
        dependencies.size = sizeof(dependencies);
        dependencies.version = options.version;
        dependencies.searchExecutableDirectory = (options.flags & kSearchExecutableDirectory) != 0 ? 1 : 0;
        dependencies.directoryOverride = options.directoryOverride ? options.directoryOverride->c_str() : nullptr;
        configure(&dependencies);
    }
    return module;
}

} // namespace

bool SetSafeDllSearchPaths()
{
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr) {
        return false;
    }
    const auto setDefault = ResolveProcedure<SetDefaultDllDirectoriesFn>(kernel, "SetDefaultDllDirectories");
    return setDefault != nullptr && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE;
}

bool PreloadSystemLibrary(const std::wstring& fileName)
{
    // Loaded for the life of the process, so the handles are kept and never freed.
    static std::mutex lock;
    static std::vector<HMODULE> preloaded;
    const HMODULE module = ::LoadLibraryW(MakePath(QuerySystemDirectory(), fileName).c_str());
    if (module == nullptr) {
        return false;
    }
    std::lock_guard guard(lock);
    preloaded.push_back(module);
    return true;
}

void SetDelayLoadOptions(int keep, int searchExecutableDirectory)
{
    DelayLoadConfiguration& configuration = Configuration();
    std::lock_guard guard(configuration.lock);
    if (keep != 0) {
        return;
    }
    if (searchExecutableDirectory != 0) {
        configuration.options.flags |= kSearchExecutableDirectory;
    } else {
        configuration.options.flags &= ~kSearchExecutableDirectory;
    }
}

bool ApplyDelayLoadDependencies(const DelayLoadDependencies& dependencies)
{
    if (dependencies.size != sizeof(DelayLoadDependencies)) {
        return false;
    }
    DelayLoadConfiguration& configuration = Configuration();
    std::lock_guard guard(configuration.lock);
    DelayLoadOptions& options = configuration.options;
    options.version = dependencies.version;
    if (dependencies.searchExecutableDirectory != 0) {
        options.flags |= kSearchExecutableDirectory;
    } else {
        options.flags &= ~kSearchExecutableDirectory;
    }
    // An empty prefix would load by bare name, through the very search this module exists to avoid.
    if (dependencies.directoryOverride != nullptr && dependencies.directoryOverride[0] != L'\0') {
        options.directoryOverride = dependencies.directoryOverride;
    } else {
        options.directoryOverride.reset();
    }
    return true;
}

void SetDelayLoadCustomLoader(DelayLoadCustomLoader loader, void* context)
{
    DelayLoadConfiguration& configuration = Configuration();
    std::lock_guard guard(configuration.lock);
    configuration.options.customLoader = loader;
    configuration.options.customLoaderContext = context;
}

std::shared_ptr<DelayLoadSystemCalls> ReplaceDelayLoadSystemCalls(std::shared_ptr<DelayLoadSystemCalls> calls)
{
    if (!calls) {
        calls = std::make_shared<Win32DelayLoadSystemCalls>();
    }
    DelayLoadConfiguration& configuration = Configuration();
    std::lock_guard guard(configuration.lock);
    return std::exchange(configuration.options.systemCalls, std::move(calls));
}

HMODULE LoadLibrarySafely(const std::wstring& fileName)
{
    const DelayLoadOptions options = CurrentOptions();
    DelayLoadSystemCalls& calls = *options.systemCalls;
    if (options.directoryOverride) {
        if (const HMODULE module = LoadWithDependencies(options, *options.directoryOverride + fileName)) {
            return module;
        }
    }
    if ((options.flags & kSearchExecutableDirectory) != 0) {
        const std::wstring directory = ExecutableDirectory(calls);
        if (!directory.empty()) {
            if (const HMODULE module = LoadWithDependencies(options, directory + fileName)) {
                return module;
            }
        }
    }
    if (!options.directoryOverride) {
        const std::wstring path = RegistryOverride(calls, options.version, fileName);
        if (!path.empty()) {
            if (const HMODULE module = LoadWithDependencies(options, path)) {
                return module;
            }
        }
    }
    const std::wstring systemDirectory = SystemDirectory(calls);
    return systemDirectory.empty() ? nullptr : LoadWithDependencies(options, systemDirectory + L'\\' + fileName);
}

HMODULE LoadLibraryWithDependencies(const std::wstring& path)
{
    return LoadWithDependencies(CurrentOptions(), path);
}

HMODULE LoadDelayLoadedLibrary(const std::wstring& fileName)
{
    const DelayLoadOptions options = CurrentOptions();
    if (options.customLoader != nullptr) {
        return options.customLoader(fileName.c_str(), options.customLoaderContext);
    }
    return LoadLibrarySafely(fileName);
}
