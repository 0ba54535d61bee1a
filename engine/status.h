#pragma once

#include <mutex>

// Run-wide removal status: whether a restart is needed and whether something failed.
class Status {
public:
    static Status& Instance();

    void Reset();
    void SetRebootNeeded();
    void SetFailed();
    bool IsRebootNeeded() const;
    bool IsFailed() const;

private:
    Status() = default;

    mutable std::mutex m_lock;
    bool m_rebootNeeded = false;
    bool m_failed = false;
};
