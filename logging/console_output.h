#pragma once

#include <cstdarg>

#include "logging/log_platform.h"

namespace NvQorLogging {

// PrintToConsole on a given platform layer.
void PrintToConsoleV(LogPlatform& platform, const wchar_t* format, va_list args);

} // namespace NvQorLogging
