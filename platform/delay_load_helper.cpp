// The linker's delay-load helper, replacing the runtime's own, which would load msi.dll and userenv.dll by bare
// name. The import data (cmake/DelayLoad.cmake) calls it on the first call of each lazily bound function.
#include "logging/nv_qor_log.h"
#include "platform/library_loading.h"

#include <windows.h>

#include <delayimp.h>

#include <string>

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

constexpr wchar_t kHelperName[] = L"__delayLoadHelper2";
constexpr UINT kExitCannotBind = 1;

template <typename T> T* FromRva(RVA rva)
{
    return reinterpret_cast<T*>(reinterpret_cast<BYTE*>(&__ImageBase) + rva);
}

// The caller would otherwise jump to an unbound function, and a raised exception would only crash the run.
[[noreturn]] void EndRun()
{
    NvQorLogging::CloseLog();
    ::ExitProcess(kExitCannotBind);
}

std::wstring FromAnsi(const char* text)
{
    const int length = ::MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (length <= 1) {
        return {};
    }
    std::wstring wide(static_cast<size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), length);
    wide.resize(static_cast<size_t>(length) - 1);
    return wide;
}

// The slot is shared by every thread that calls into the library; the first handle stored wins and a second load
// of the same library only raised its reference count, which is given back.
HMODULE BindModule(const ImgDelayDescr& descriptor, const std::wstring& libraryName)
{
    auto* slot = reinterpret_cast<PVOID*>(FromRva<HMODULE>(descriptor.rvaHmod));
    if (auto* bound = static_cast<HMODULE>(::InterlockedCompareExchangePointer(slot, nullptr, nullptr))) {
        return bound;
    }
    const HMODULE module = LoadDelayLoadedLibrary(libraryName);
    if (module == nullptr) {
        NV_QOR_LOG(NvQorLogging::Fatal, L"%s: Failed to load %s: %lu; ending the run", kHelperName, libraryName.c_str(),
                   ::GetLastError());
        EndRun();
    }
    if (auto* earlier = static_cast<HMODULE>(::InterlockedCompareExchangePointer(slot, module, nullptr))) {
        ::FreeLibrary(module);
        return earlier;
    }
    return module;
}

// A bound address is only valid for the very image it was bound against, loaded where that image wanted to be.
FARPROC BoundAddress(const ImgDelayDescr& descriptor, HMODULE module, size_t index)
{
    if (descriptor.rvaBoundIAT == 0 || descriptor.dwTimeStamp == 0) {
        return nullptr;
    }
    const auto* base = reinterpret_cast<const BYTE*>(module);
    const auto* headers =
        reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    if (headers->Signature != IMAGE_NT_SIGNATURE || headers->FileHeader.TimeDateStamp != descriptor.dwTimeStamp ||
        headers->OptionalHeader.ImageBase != reinterpret_cast<ULONG_PTR>(base)) {
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(FromRva<IMAGE_THUNK_DATA>(descriptor.rvaBoundIAT)[index].u1.Function);
}

} // namespace

extern "C" FARPROC WINAPI __delayLoadHelper2(PCImgDelayDescr descriptor, FARPROC* iatEntry)
{
    // Descriptors that hold addresses instead of offsets come from linkers of another age; none is built here.
    if ((descriptor->grAttrs & dlattrRva) == 0) {
        NV_QOR_LOG(NvQorLogging::Fatal, L"%s: Delay-load descriptor without relative addresses; ending the run",
                   kHelperName);
        EndRun();
    }
    const std::wstring libraryName = FromAnsi(FromRva<const char>(descriptor->rvaDLLName));
    const HMODULE module = BindModule(*descriptor, libraryName);

    const size_t index = static_cast<size_t>(iatEntry - FromRva<FARPROC>(descriptor->rvaIAT));
    FARPROC function = BoundAddress(*descriptor, module, index);
    if (function == nullptr) {
        const IMAGE_THUNK_DATA& thunk = FromRva<IMAGE_THUNK_DATA>(descriptor->rvaINT)[index];
        if (IMAGE_SNAP_BY_ORDINAL(thunk.u1.Ordinal)) {
            const WORD ordinal = static_cast<WORD>(IMAGE_ORDINAL(thunk.u1.Ordinal));
            function = ::GetProcAddress(module, MAKEINTRESOURCEA(ordinal));
            if (function == nullptr) {
                NV_QOR_LOG(NvQorLogging::Fatal, L"%s: Failed to find ordinal %u in %s; ending the run", kHelperName,
                           ordinal, libraryName.c_str());
                EndRun();
            }
        } else {
            const char* name = FromRva<IMAGE_IMPORT_BY_NAME>(static_cast<RVA>(thunk.u1.AddressOfData))->Name;
            function = ::GetProcAddress(module, name);
            if (function == nullptr) {
                NV_QOR_LOG(NvQorLogging::Fatal, L"%s: Failed to find %S in %s; ending the run", kHelperName, name,
                           libraryName.c_str());
                EndRun();
            }
        }
    }
    // Other threads may be reading the slot this very moment; they see the thunk or the function, never half of one.
    ::InterlockedExchangePointer(reinterpret_cast<PVOID*>(iatEntry), reinterpret_cast<PVOID>(function));
    return function;
}
