// A minimal own-process service for the service control tests. Its start arguments choose how it behaves:
// none: runs until it gets the stop control; "refuse-stop": runs but accepts no stop control;
// "stay-pending": never leaves the start-pending state.
#include <windows.h>

#include <string>

namespace {

SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
SERVICE_STATUS g_status{};
HANDLE g_stopEvent = nullptr;

void Report(DWORD state, DWORD controlsAccepted)
{
    g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    g_status.dwCurrentState = state;
    g_status.dwControlsAccepted = controlsAccepted;
    g_status.dwWin32ExitCode = NO_ERROR;
    g_status.dwWaitHint = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING ? 3000 : 0;
    ::SetServiceStatus(g_statusHandle, &g_status);
}

DWORD WINAPI Handler(DWORD control, DWORD, void*, void*)
{
    if (control == SERVICE_CONTROL_STOP) {
        Report(SERVICE_STOP_PENDING, 0);
        ::SetEvent(g_stopEvent);
        return NO_ERROR;
    }
    return control == SERVICE_CONTROL_INTERROGATE ? NO_ERROR : ERROR_CALL_NOT_IMPLEMENTED;
}

void WINAPI ServiceMain(DWORD argc, wchar_t** argv)
{
    g_statusHandle = ::RegisterServiceCtrlHandlerExW(argc > 0 ? argv[0] : L"", Handler, nullptr);
    if (!g_statusHandle) {
        return;
    }
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"stay-pending") {
        Report(SERVICE_START_PENDING, SERVICE_ACCEPT_STOP);
    } else {
        Report(SERVICE_RUNNING, mode == L"refuse-stop" ? 0 : SERVICE_ACCEPT_STOP);
    }
    ::WaitForSingleObject(g_stopEvent, INFINITE);
    Report(SERVICE_STOPPED, 0);
}

} // namespace

int wmain()
{
    g_stopEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    wchar_t emptyName[] = L"";
    const SERVICE_TABLE_ENTRYW table[] = {{emptyName, ServiceMain}, {nullptr, nullptr}};
    return ::StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
