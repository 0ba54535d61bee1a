#include "logging/console_output.h"

#include <string>

#include "base/text_conversion.h"
#include "logging/last_error.h"
#include "logging/log_format.h"
#include "logging/nv_qor_log.h"

namespace NvQorLogging {
namespace {

constexpr size_t kFirstConsoleBuffer = 1024;
constexpr size_t kLargestConsoleBuffer = 65536;

// Formats into a buffer that doubles until the text fits; empty when even the largest one is too small.
bool FormatConsoleText(const wchar_t* format, va_list args, std::wstring& text)
{
    for (size_t capacity = kFirstConsoleBuffer; capacity <= kLargestConsoleBuffer; capacity *= 2) {
        text.assign(capacity, L'\0');
        va_list attempt;
        va_copy(attempt, args);
        const int length = FormatText(text.data(), capacity, format, attempt);
        va_end(attempt);
        if (length >= 0) {
            text.resize(static_cast<size_t>(length));
            return true;
        }
    }
    return false;
}

} // namespace

void PrintToConsoleV(LogPlatform& platform, const wchar_t* format, va_list args)
{
    const LastErrorKeeper keeper;
    // A capturing parent (a file or a pipe as standard output) gets UTF-8 bytes instead of console output.
    const DWORD outputType = platform.StandardOutputType();
    const bool redirected = outputType == FILE_TYPE_DISK || outputType == FILE_TYPE_PIPE;
    bool attached = false;
    if (!redirected) {
        // ERROR_ACCESS_DENIED: the process has a console already (under Wine started from a terminal, a GUI
        // program does); it prints there and must not free it afterwards.
        const DWORD error = platform.AttachParentConsole();
        if (error != ERROR_SUCCESS && error != ERROR_ACCESS_DENIED) {
            return;
        }
        attached = error == ERROR_SUCCESS;
    }
    std::wstring text;
    if (FormatConsoleText(format, args, text)) {
        if (redirected) {
            platform.WriteStandardOutput(WideToUtf8(text + L"\n"));
        } else {
            platform.WriteConsoleText(text);
            platform.WriteConsoleText(L"\n");
        }
    }
    if (attached) {
        platform.DetachConsole();
    }
}

} // namespace NvQorLogging

void PrintToConsole(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    NvQorLogging::PrintToConsoleV(NvQorLogging::SystemPlatform(), format, args);
    va_end(args);
}
