#pragma once

#include "engine/product_config.h"
#include "modules/trace_sink.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// What one product went through in this run, for the run report.
struct ProductOutcome {
    enum class Result {
        NotRun,               // the removal never started (detection only, an error or a cancel before it)
        NotSelected,          // the removal ran without this product
        Removed,              // its clean-up ran and reported nothing
        RemovedRestartNeeded, // its clean-up left work for the next restart
        Failed,               // its clean-up failed
    };

    std::wstring id;
    std::wstring displayName;
    int32_t priority = 0;
    bool detected = false;
    bool selected = false;
    Result result = Result::NotRun;
    uint64_t milliseconds = 0;
    // The Error and Fatal log lines written during its clean-up, at most kMaxErrorLines.
    std::vector<std::wstring> errorLines;
    // The traces its clean-up reported, at most kMaxTraces, in the order reported.
    std::vector<TraceOutcome> traces;
};

// Process-wide: the products of the last detection and what their removal did; filled by the removal engine.
class RemovalRecord {
public:
    static constexpr size_t kMaxErrorLines = 50;
    static constexpr size_t kMaxTraces = 2000;

    static RemovalRecord& Instance();

    // Starts over with the detected products, none of them run yet.
    void SetProducts(const ProductList& products);
    // Starts over with the products of a removal, with their selection; the unselected ones are final.
    void BeginRemoval(const ProductList& products);
    void SetOutcome(size_t index, ProductOutcome::Result result, uint64_t milliseconds,
                    std::vector<std::wstring> errorLines, std::vector<TraceOutcome> traces);
    std::vector<ProductOutcome> Products() const;

private:
    RemovalRecord() = default;

    mutable std::mutex m_lock;
    std::vector<ProductOutcome> m_products;
};

// Watches one product's clean-up from construction to Finish: time, the status flags it raised, the Error and
// Fatal lines it logged and the traces it reported.
class CleanupWatch {
public:
    CleanupWatch();
    ~CleanupWatch();
    CleanupWatch(const CleanupWatch&) = delete;
    CleanupWatch& operator=(const CleanupWatch&) = delete;

    // Stops watching and stores the outcome of the product at that index.
    void Finish(size_t index);

private:
    class Collector;

    std::unique_ptr<Collector> m_collector;
    uint64_t m_startTicks;
    unsigned m_failedBefore;
    unsigned m_rebootBefore;
    bool m_finished = false;
};
