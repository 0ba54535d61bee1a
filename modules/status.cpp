#include "modules/status.h"

#include "logging/nv_qor_log.h"

Status& Status::Instance()
{
    static Status instance;
    return instance;
}

void Status::Reset()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_rebootNeeded = false;
    m_failed = false;
    m_reports = {};
}

void Status::SetRebootNeeded()
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_rebootNeeded) {
        NV_QOR_LOG(NvQorLogging::Info, L"%s: Reboot is needed", NV_LOG_FUNCTION);
    }
    m_rebootNeeded = true;
    ++m_reports.rebootNeeded;
}

void Status::SetFailed()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_failed = true;
    ++m_reports.failed;
}

bool Status::IsRebootNeeded() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_rebootNeeded;
}

bool Status::IsFailed() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_failed;
}

Status::Reports Status::GetReports() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_reports;
}
