#pragma once

#include <lua.hpp>

#include <chrono>

// How long the Lua code of one script call has run: wall time while Lua code runs, without the time spent
// inside host functions, which bound their own waits (a script waiting for an uninstaller is not stuck). A
// count hook compares it with the limit of the running call and raises an error once it is used up.
class ScriptClock {
public:
    using Seconds = std::chrono::seconds;

    // Makes the state and every thread it creates later report to this clock; runs protected, because it
    // allocates. The clock must outlive the state.
    void Install(lua_State* state);

    // Sets a limit for the Lua code that runs while the object lives; `call` names it in the error.
    class Limit {
    public:
        Limit(lua_State* state, Seconds limit, const char* call);
        ~Limit();
        Limit(const Limit&) = delete;
        Limit& operator=(const Limit&) = delete;

    private:
        lua_State* m_state;
        ScriptClock* m_clock;
    };

    // The host module wrapper calls these around every host function; they do nothing in a state without
    // a clock.
    static void EnterHost(lua_State* state);
    static void LeaveHost(lua_State* state);

private:
    using Clock = std::chrono::steady_clock;

    static ScriptClock* Of(lua_State* state);
    static void Hook(lua_State* state, lua_Debug* debug);
    // Adds the Lua time since the last mark; true while the limit is not used up.
    bool Advance();

    const char* m_call = nullptr; // null: no limit set
    Seconds m_limit{};
    Clock::duration m_used{};
    Clock::time_point m_mark;
};
