#pragma once

#include "base/unique_resource.h"

#include <setupapi.h>

namespace NvHandleTraits {
inline void DestroyDeviceInfoList(HANDLE h)
{
    ::SetupDiDestroyDeviceInfoList(h);
}
} // namespace NvHandleTraits

// A setup-API device information list (HDEVINFO); its failure value is INVALID_HANDLE_VALUE. Users link setupapi.
using UniqueDevInfo = UniqueResource<NvHandleTraits::MinusOneIsInvalid<NvHandleTraits::DestroyDeviceInfoList>>;
