// Services of the kit's machine through the service control manager.
#pragma once

#include <string>

namespace NvKit {

// A demand-start kernel driver service for System32\drivers\<name>.sys, as a driver installer registers it; a
// file-system filter depends on the filter manager.
enum class DriverType { Kernel, FileSystemFilter };
void CreateDriverService(const std::wstring& name, DriverType type = DriverType::Kernel,
                         const std::wstring& displayName = L"", const std::wstring& group = L"");
// Stops the service and starts it again with the argument "refuse-stop": the test service program then runs on
// but accepts no stop control (self-protection).
void RestartRefusingStop(const std::wstring& name);

} // namespace NvKit
