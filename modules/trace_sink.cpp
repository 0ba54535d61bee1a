#include "modules/trace_sink.h"

#include <utility>

std::mutex TraceSink::s_lock;
TraceSink* TraceSink::s_current = nullptr;

void TraceSink::SetCurrent(TraceSink* sink)
{
    const std::lock_guard<std::mutex> guard(s_lock);
    s_current = sink;
}

void TraceSink::Record(TraceOutcome trace)
{
    const std::lock_guard<std::mutex> guard(s_lock);
    if (s_current != nullptr) {
        s_current->AddTrace(std::move(trace));
    }
}
