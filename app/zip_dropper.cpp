#include "app/zip_dropper.h"

#include "logging/nv_qor_log.h"
#include "platform/paths.h"

#include <windows.h>

bool ZipDropper::ExtractFilesFromResource(const std::wstring& targetDirectory)
{
    constexpr const wchar_t* kName = L"ZipDropper::ExtractFilesFromResource";
    if (targetDirectory.empty() || !IsDirectory(targetDirectory)) {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Target path '%s' is not valid directory", kName,
                   targetDirectory.c_str());
        return false;
    }
    // The script bundle and its extraction arrive with the bundled scripts; until then there is no archive.
    NV_QOR_LOG(NvQorLogging::Error, L"%s: Failed to open zip resource", kName);
    return false;
}
