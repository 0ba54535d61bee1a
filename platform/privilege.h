#pragma once

#include <windows.h>

// Enables one privilege in the calling thread's token for the life of the object and restores the
// previous state on destruction. Destroy nested objects in reverse order of construction.
class NvPrivilege {
public:
    explicit NvPrivilege(const wchar_t* name);
    virtual ~NvPrivilege();
    NvPrivilege(const NvPrivilege&) = delete;
    NvPrivilege& operator=(const NvPrivilege&) = delete;

    bool IsEnabled() const { return m_enabled; }

private:
    // The state AdjustTokenPrivileges reported before the change; no entries when nothing changed.
    TOKEN_PRIVILEGES m_previous{};
    bool m_enabled = false;
};
