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

    // How often each flag was raised since the last reset; the difference over one product's clean-up tells
    // what that product did to the run's status.
    struct Reports {
        unsigned rebootNeeded = 0;
        unsigned failed = 0;
    };
    Reports GetReports() const;

private:
    Status() = default;

    mutable std::mutex m_lock;
    bool m_rebootNeeded = false;
    bool m_failed = false;
    Reports m_reports;
};
