#pragma once

#include <mutex>
#include <string>

// One trace of a product that its clean-up found (a service, a key, a hook), and what became of it.
struct TraceOutcome {
    enum class State {
        Removed, // gone
        Restart, // goes at the next restart
        Left,    // still there, for `reason`
    };

    std::wstring kind;
    std::wstring item;
    State state = State::Removed;
    std::wstring reason;
};

// Receives the traces that scripts report (Meta.AddTrace). One sink at a time: whoever watches the clean-up
// that runs sets it, and without one (a detection) traces are dropped.
class TraceSink {
public:
    virtual ~TraceSink() = default;
    virtual void AddTrace(TraceOutcome trace) = 0;

    static void SetCurrent(TraceSink* sink);
    static void Record(TraceOutcome trace);

private:
    static std::mutex s_lock;
    static TraceSink* s_current;
};
