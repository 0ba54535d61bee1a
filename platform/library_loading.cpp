#include "platform/library_loading.h"

#include "platform/paths.h"
#include "platform/special_folders.h"

#include <windows.h>

#include <mutex>
#include <vector>

namespace {

struct DelayLoadConfiguration {
    std::mutex lock;
    bool searchExecutableDirectory = true;
};

DelayLoadConfiguration& Configuration()
{
    static DelayLoadConfiguration configuration;
    return configuration;
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
    if (keep == 0) {
        configuration.searchExecutableDirectory = searchExecutableDirectory != 0;
    }
}
