#include "modules/msi_log.h"

#include "logging/nv_qor_log.h"

std::wstring InstallerLogPath(const std::wstring& requested)
{
    const wchar_t* const kCaller = NV_LOG_FUNCTION;
    if (requested.empty()) {
        return {};
    }
    const size_t separator = requested.find_last_of(L"\\/");
    const std::wstring name = separator == std::wstring::npos ? requested : requested.substr(separator + 1);
    if (name.empty() || name == L"." || name == L".." || name.find(L':') != std::wstring::npos) {
        NV_QOR_LOG(NvQorLogging::Warning, L"%s: '%s' names no log file; Windows Installer keeps no log", kCaller,
                   requested.c_str());
        return {};
    }
    const std::wstring folder = NvQorLogging::LogFolder();
    if (folder.empty()) {
        NV_QOR_LOG(NvQorLogging::Warning, L"%s: The run has no log folder; Windows Installer keeps no log", kCaller);
        return {};
    }
    return folder + L"\\" + name;
}
