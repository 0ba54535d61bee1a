// Services of the kit's machine through the service control manager.
#pragma once

#include <string>

namespace NvKit {

// A demand-start kernel driver service for System32\drivers\<name>.sys, as a driver installer registers it.
void CreateKernelDriver(const std::wstring& name);
// Stops the service and starts it again with the argument "refuse-stop": the test service program then runs on
// but accepts no stop control (self-protection).
void RestartRefusingStop(const std::wstring& name);

} // namespace NvKit
