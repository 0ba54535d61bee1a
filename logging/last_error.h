#pragma once

#include <windows.h>

namespace NvQorLogging {

// Logging never changes the caller's GetLastError: every entry point keeps one of these.
class LastErrorKeeper {
public:
    LastErrorKeeper() : m_error(GetLastError()) {}
    LastErrorKeeper(const LastErrorKeeper&) = delete;
    LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;
    ~LastErrorKeeper() { SetLastError(m_error); }

private:
    DWORD m_error;
};

} // namespace NvQorLogging
