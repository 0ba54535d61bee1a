#pragma once

#include <windows.h>

#include <utility>

// One owner per handle: a value plus the function that frees it. Callers never close handles by hand.
// Traits supply the handle type, its invalid value and the function that frees it.
template <typename Traits> class UniqueResource {
public:
    using Type = typename Traits::Type;

    UniqueResource() = default;
    explicit UniqueResource(Type value) : m_value(value) {}
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : m_value(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept
    {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    ~UniqueResource() { reset(); }

    Type get() const { return m_value; }
    explicit operator bool() const { return m_value != Traits::Invalid(); }

    Type release() { return std::exchange(m_value, Traits::Invalid()); }
    void reset(Type value = Traits::Invalid())
    {
        if (m_value != Traits::Invalid()) {
            Traits::Close(m_value);
        }
        m_value = value;
    }
    // For calls that return the handle through an out parameter.
    Type* put()
    {
        reset();
        return &m_value;
    }

private:
    Type m_value = Traits::Invalid();
};

namespace NvHandleTraits {
// `Kind` keeps handle kinds of one C type apart, so that an event cannot be passed where a mutex is expected.
template <typename T, auto CloseFn, typename Kind = T> struct NullIsInvalid {
    using Type = T;
    static Type Invalid() { return nullptr; }
    static void Close(Type value) { CloseFn(value); }
};
template <auto CloseFn, typename Kind = void> struct MinusOneIsInvalid {
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type value) { CloseFn(value); }
};
inline void CloseKernelHandle(HANDLE h)
{
    ::CloseHandle(h);
}
inline void CloseFind(HANDLE h)
{
    ::FindClose(h);
}
inline void CloseKey(HKEY h)
{
    ::RegCloseKey(h);
}
inline void CloseService(SC_HANDLE h)
{
    ::CloseServiceHandle(h);
}
inline void FreeLocal(void* p)
{
    ::LocalFree(p);
}
inline void FreeSidOwned(PSID p)
{
    ::FreeSid(p);
}
inline void FreeLibraryOwned(HMODULE h)
{
    ::FreeLibrary(h);
}
inline void DestroyIconOwned(HICON h)
{
    ::DestroyIcon(h);
}
inline void DeleteGdiObject(HGDIOBJ h)
{
    ::DeleteObject(h);
}
} // namespace NvHandleTraits

// Kernel handles whose failure value is null: threads and processes; events, mutexes and tokens each a kind.
using UniqueHandle = UniqueResource<NvHandleTraits::NullIsInvalid<HANDLE, NvHandleTraits::CloseKernelHandle>>;
using UniqueEvent =
    UniqueResource<NvHandleTraits::NullIsInvalid<HANDLE, NvHandleTraits::CloseKernelHandle, struct NvEventKind>>;
using UniqueMutex =
    UniqueResource<NvHandleTraits::NullIsInvalid<HANDLE, NvHandleTraits::CloseKernelHandle, struct NvMutexKind>>;
using UniqueToken =
    UniqueResource<NvHandleTraits::NullIsInvalid<HANDLE, NvHandleTraits::CloseKernelHandle, struct NvTokenKind>>;
// Kernel handles whose failure value is INVALID_HANDLE_VALUE: files and tool-help snapshots.
using UniqueFile = UniqueResource<NvHandleTraits::MinusOneIsInvalid<NvHandleTraits::CloseKernelHandle>>;
using UniqueSnapshot =
    UniqueResource<NvHandleTraits::MinusOneIsInvalid<NvHandleTraits::CloseKernelHandle, struct NvSnapshotKind>>;
using UniqueFind = UniqueResource<NvHandleTraits::MinusOneIsInvalid<NvHandleTraits::CloseFind>>;
using UniqueKey = UniqueResource<NvHandleTraits::NullIsInvalid<HKEY, NvHandleTraits::CloseKey>>;
using UniqueServiceHandle = UniqueResource<NvHandleTraits::NullIsInvalid<SC_HANDLE, NvHandleTraits::CloseService>>;
using UniqueLocal = UniqueResource<NvHandleTraits::NullIsInvalid<void*, NvHandleTraits::FreeLocal>>;
using UniqueSid = UniqueResource<NvHandleTraits::NullIsInvalid<PSID, NvHandleTraits::FreeSidOwned>>;
using UniqueModule = UniqueResource<NvHandleTraits::NullIsInvalid<HMODULE, NvHandleTraits::FreeLibraryOwned>>;
using UniqueIcon = UniqueResource<NvHandleTraits::NullIsInvalid<HICON, NvHandleTraits::DestroyIconOwned>>;
using UniqueGdiObject = UniqueResource<NvHandleTraits::NullIsInvalid<HGDIOBJ, NvHandleTraits::DeleteGdiObject>>;
