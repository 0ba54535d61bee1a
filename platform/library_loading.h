#pragma once

#include <windows.h>

#include <string>

// Where the process loads libraries from: the system directory only, never the executable's folder or the
// current directory.
bool SetSafeDllSearchPaths();
bool PreloadSystemLibrary(const std::wstring& fileName);
void SetDelayLoadOptions(int keep, int searchExecutableDirectory);

// GetProcAddress typed as the function it names; null when the module lacks it.
template <typename Function>
Function ResolveProcedure(HMODULE module, const char* name)
{
    // Through void(*)() so the compiler accepts the cast between function pointer types.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}
