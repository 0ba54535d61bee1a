#include "platform/service.h"

namespace {

constexpr DWORD kStartPollMs = 200;
constexpr DWORD kStopPollMs = 500;

bool WithinTimeout(DWORD startTick, DWORD timeoutMs)
{
    // Unsigned difference: correct across the wrap of the tick count.
    return ::GetTickCount() - startTick <= timeoutMs;
}

} // namespace

NvService::NvService(const std::wstring& name, bool readOnly)
{
    const DWORD access = readOnly ? GENERIC_READ : GENERIC_ALL;
    const UniqueServiceHandle manager(::OpenSCManagerW(nullptr, SERVICES_ACTIVE_DATABASEW, access));
    if (!manager) {
        StoreLastError();
        return;
    }
    m_service.reset(::OpenServiceW(manager.get(), name.c_str(), access));
    if (!m_service) {
        StoreLastError();
    }
}

DWORD NvService::QueryState()
{
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (!::QueryServiceStatusEx(m_service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                sizeof(status), &needed)) {
        StoreLastError();
        return kUnknownState;
    }
    return status.dwCurrentState;
}

bool NvService::Start(const std::vector<std::wstring>& arguments, DWORD timeoutMs)
{
    std::vector<const wchar_t*> pointers;
    pointers.reserve(arguments.size());
    for (const std::wstring& argument : arguments) {
        pointers.push_back(argument.c_str());
    }
    if (!::StartServiceW(m_service.get(), static_cast<DWORD>(pointers.size()),
                         pointers.empty() ? nullptr : pointers.data())) {
        StoreLastError();
        return m_lastError == ERROR_SERVICE_ALREADY_RUNNING;
    }
    const DWORD startTick = ::GetTickCount();
    DWORD state = SERVICE_START_PENDING;
    while (WithinTimeout(startTick, timeoutMs)) {
        ::Sleep(kStartPollMs);
        state = QueryState();
        if (state == SERVICE_RUNNING) {
            break;
        }
    }
    return state == SERVICE_RUNNING;
}

bool NvService::Stop(DWORD timeoutMs)
{
    DWORD state = QueryState();
    if (state == SERVICE_STOPPED) {
        return true;
    }
    // A service that is already stopping is only waited for.
    if (state != SERVICE_STOP_PENDING) {
        if (!StopDependents()) {
            return false;
        }
        SERVICE_STATUS status{};
        if (!::ControlService(m_service.get(), SERVICE_CONTROL_STOP, &status)) {
            StoreLastError();
            return false;
        }
        state = status.dwCurrentState;
    }
    if (state == SERVICE_STOPPED) {
        return true;
    }
    const DWORD startTick = ::GetTickCount();
    while (WithinTimeout(startTick, timeoutMs)) {
        ::Sleep(kStopPollMs);
        state = QueryState();
        if (state == SERVICE_STOPPED) {
            break;
        }
    }
    return state == SERVICE_STOPPED;
}

bool NvService::StopDependents()
{
    DWORD needed = 0;
    DWORD count = 0;
    if (::EnumDependentServicesW(m_service.get(), SERVICE_ACTIVE, nullptr, 0, &needed, &count)) {
        return true;
    }
    if (::GetLastError() != ERROR_MORE_DATA) {
        StoreLastError();
        return false;
    }
    // The entries point into the strings stored behind them in the same buffer.
    std::vector<ENUM_SERVICE_STATUSW> buffer((needed + sizeof(ENUM_SERVICE_STATUSW) - 1) /
                                             sizeof(ENUM_SERVICE_STATUSW));
    const DWORD bufferBytes = static_cast<DWORD>(buffer.size() * sizeof(ENUM_SERVICE_STATUSW));
    if (!::EnumDependentServicesW(m_service.get(), SERVICE_ACTIVE, buffer.data(), bufferBytes, &needed, &count)) {
        StoreLastError();
        return false;
    }
    for (DWORD i = 0; i < count; ++i) {
        NvService dependent(buffer[i].lpServiceName, false);
        if (!dependent.Stop(kDependentStopTimeoutMs)) {
            m_lastError = dependent.LastError();
            return false;
        }
    }
    return true;
}

bool NvService::Delete()
{
    if (!::DeleteService(m_service.get())) {
        StoreLastError();
        return false;
    }
    return true;
}
