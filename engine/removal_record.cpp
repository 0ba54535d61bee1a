#include "engine/removal_record.h"

#include "logging/nv_qor_log.h"
#include "modules/status.h"

#include <windows.h>

RemovalRecord& RemovalRecord::Instance()
{
    static RemovalRecord instance;
    return instance;
}

namespace {

std::vector<ProductOutcome> Describe(const ProductList& products, bool removalStarts)
{
    std::vector<ProductOutcome> outcomes;
    outcomes.reserve(products.size());
    for (const auto& product : products) {
        ProductOutcome outcome;
        outcome.id = product->GetId();
        outcome.displayName = product->GetDisplayName();
        outcome.priority = product->GetPriority();
        outcome.detected = product->IsDetected();
        if (removalStarts) {
            outcome.selected = product->IsSelected();
            outcome.result = outcome.selected ? ProductOutcome::Result::NotRun : ProductOutcome::Result::NotSelected;
        }
        outcomes.push_back(std::move(outcome));
    }
    return outcomes;
}

} // namespace

void RemovalRecord::SetProducts(const ProductList& products)
{
    std::vector<ProductOutcome> outcomes = Describe(products, false);
    const std::lock_guard<std::mutex> guard(m_lock);
    m_products = std::move(outcomes);
}

void RemovalRecord::BeginRemoval(const ProductList& products)
{
    std::vector<ProductOutcome> outcomes = Describe(products, true);
    const std::lock_guard<std::mutex> guard(m_lock);
    m_products = std::move(outcomes);
}

void RemovalRecord::SetOutcome(size_t index, ProductOutcome::Result result, uint64_t milliseconds,
                               std::vector<std::wstring> errorLines, std::vector<TraceOutcome> traces)
{
    const std::lock_guard<std::mutex> guard(m_lock);
    if (index >= m_products.size()) {
        return;
    }
    ProductOutcome& outcome = m_products[index];
    outcome.result = result;
    outcome.milliseconds = milliseconds;
    outcome.errorLines = std::move(errorLines);
    outcome.traces = std::move(traces);
}

std::vector<ProductOutcome> RemovalRecord::Products() const
{
    const std::lock_guard<std::mutex> guard(m_lock);
    return m_products;
}

class CleanupWatch::Collector : public NvQorLogging::LogObserver, public TraceSink {
public:
    void OnMessage(int32_t, const wchar_t* text, size_t length) override
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        if (m_lines.size() < RemovalRecord::kMaxErrorLines) {
            m_lines.emplace_back(text, length);
        }
    }
    std::vector<std::wstring> Take()
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        return std::move(m_lines);
    }
    void AddTrace(TraceOutcome trace) override
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        if (m_traces.size() < RemovalRecord::kMaxTraces) {
            m_traces.push_back(std::move(trace));
        }
    }
    std::vector<TraceOutcome> TakeTraces()
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        return std::move(m_traces);
    }

private:
    std::mutex m_lock;
    std::vector<std::wstring> m_lines;
    std::vector<TraceOutcome> m_traces;
};

CleanupWatch::CleanupWatch()
    : m_collector(std::make_unique<Collector>()), m_startTicks(::GetTickCount64()),
      m_failedBefore(Status::Instance().GetReports().failed),
      m_rebootBefore(Status::Instance().GetReports().rebootNeeded)
{
    NvQorLogging::SetLogObserver(m_collector.get(), NvQorLogging::Error);
    TraceSink::SetCurrent(m_collector.get());
}

CleanupWatch::~CleanupWatch()
{
    if (!m_finished) {
        NvQorLogging::SetLogObserver(nullptr, 0);
        TraceSink::SetCurrent(nullptr);
    }
}

void CleanupWatch::Finish(size_t index)
{
    NvQorLogging::SetLogObserver(nullptr, 0);
    TraceSink::SetCurrent(nullptr);
    m_finished = true;
    const uint64_t milliseconds = ::GetTickCount64() - m_startTicks;
    const Status::Reports reports = Status::Instance().GetReports();
    const ProductOutcome::Result result = reports.failed != m_failedBefore ? ProductOutcome::Result::Failed
                                          : reports.rebootNeeded != m_rebootBefore
                                              ? ProductOutcome::Result::RemovedRestartNeeded
                                              : ProductOutcome::Result::Removed;
    RemovalRecord::Instance().SetOutcome(index, result, milliseconds, m_collector->Take(), m_collector->TakeTraces());
}
