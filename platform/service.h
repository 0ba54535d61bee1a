#pragma once

#include "base/unique_resource.h"

#include <string>
#include <vector>

// One Windows service opened through the service control manager. Operations report success as a result
// and keep the Windows error code of the last failure for the caller's log line.
class NvService {
public:
    // What QueryState returns when the state cannot be read.
    static constexpr DWORD kUnknownState = 0xFFFFFFFF;
    // Time-out for stopping each dependent service.
    static constexpr DWORD kDependentStopTimeoutMs = 120000;

    // Opens with GENERIC_READ when readOnly, GENERIC_ALL otherwise.
    NvService(const std::wstring& name, bool readOnly);
    virtual ~NvService() = default;
    NvService(const NvService&) = delete;
    NvService& operator=(const NvService&) = delete;

    bool IsOpen() const { return static_cast<bool>(m_service); }
    DWORD LastError() const { return m_lastError; }

    // SERVICE_STOPPED, SERVICE_START_PENDING, SERVICE_STOP_PENDING, SERVICE_RUNNING, ... or kUnknownState.
    DWORD QueryState();
    // True when the service is running within the time-out, or was running already.
    bool Start(const std::vector<std::wstring>& arguments, DWORD timeoutMs);
    // Stops the active dependents first (each with kDependentStopTimeoutMs), then the service itself.
    bool Stop(DWORD timeoutMs);
    bool StopDependents();
    // Marks the service for deletion; it goes away when the last handle to it is closed.
    bool Delete();

private:
    void StoreLastError() { m_lastError = ::GetLastError(); }

    UniqueServiceHandle m_service;
    DWORD m_lastError = 0;
};
