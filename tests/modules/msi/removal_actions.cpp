// Custom actions that the test packages run when they are removed.
#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <string>

namespace {

int Send(MSIHANDLE install, INSTALLMESSAGE kind, const std::wstring& text)
{
    PMSIHANDLE record = ::MsiCreateRecord(0);
    ::MsiRecordSetStringW(record, 0, text.c_str());
    return ::MsiProcessMessage(install, kind, record);
}

} // namespace

// Sends Windows Installer messages of the kinds the tool's message handler deals with, reports in a last error
// message what the handler answered, and fails the removal.
extern "C" __declspec(dllexport) UINT __stdcall RefuseRemoval(MSIHANDLE install)
{
    const int fatal = Send(install, INSTALLMESSAGE_FATALEXIT, L"Zeta gives up");
    const int warning = Send(install, INSTALLMESSAGE_WARNING, L"Zeta warns");
    const int diskSpace = Send(install, INSTALLMESSAGE_OUTOFDISKSPACE, L"");
    Send(install, INSTALLMESSAGE_ERROR,
         L"Zeta refuses to be removed; answers: fatal exit " + std::to_wstring(fatal) + L", warning " +
             std::to_wstring(warning) + L", out of disk space " + std::to_wstring(diskSpace));
    return ERROR_INSTALL_FAILURE;
}

// The removal succeeds, but asks for a restart.
extern "C" __declspec(dllexport) UINT __stdcall RequestRestart(MSIHANDLE install)
{
    return ::MsiSetMode(install, MSIRUNMODE_REBOOTATEND, TRUE);
}
