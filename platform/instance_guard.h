#pragma once

#include "base/unique_resource.h"

#include <windows.h>

#include <string>

namespace NvHandleTraits {
inline void ClosePrivateNamespaceOwned(HANDLE h)
{
    ::ClosePrivateNamespace(h, 0);
}
inline void DeleteBoundaryDescriptorOwned(HANDLE h)
{
    ::DeleteBoundaryDescriptor(h);
}
} // namespace NvHandleTraits

using UniquePrivateNamespace =
    UniqueResource<NvHandleTraits::NullIsInvalid<HANDLE, NvHandleTraits::ClosePrivateNamespaceOwned>>;
using UniqueBoundaryDescriptor =
    UniqueResource<NvHandleTraits::NullIsInvalid<HANDLE, NvHandleTraits::DeleteBoundaryDescriptorOwned>>;

// The mark that one run of the tool is going on, on the whole machine. A name any user could create first would
// let that user stop every run, or end the exclusion: the mutex lives in a private namespace that only a process
// with the Administrators in its token can create or open. Where the system offers no private namespaces, it is
// a global mutex whose owner must be the Administrators, SYSTEM or the account the tool runs as.
class InstanceGuard {
public:
    enum class Result {
        Acquired,
        AlreadyRunning,
        // The guard could not be made; `failure` says why. Never a run without exclusion.
        Failed,
    };

    Result Acquire(std::wstring& failure);

private:
    Result AcquireInNamespace(HANDLE boundary, std::wstring& failure);
    Result AcquireOwnedGlobal(std::wstring& failure);

    UniqueBoundaryDescriptor m_boundary;
    UniquePrivateNamespace m_namespace;
    UniqueMutex m_mutex;
};
