#include "modules/script_clock.h"

namespace {

// Instructions between two looks at the clock: rare enough to cost nothing, frequent enough to stop a loop
// within a fraction of a second of its limit.
constexpr int kHookInterval = 10000;

const char kRegistryKey = 0; // its address keys the clock in the state's registry

} // namespace

void ScriptClock::Install(lua_State* state)
{
    lua_pushlightuserdata(state, this);
    lua_rawsetp(state, LUA_REGISTRYINDEX, &kRegistryKey);
    // New threads copy the hook of the state that creates them, so coroutines are limited as well.
    lua_sethook(state, Hook, LUA_MASKCOUNT, kHookInterval);
}

ScriptClock* ScriptClock::Of(lua_State* state)
{
    lua_rawgetp(state, LUA_REGISTRYINDEX, &kRegistryKey);
    auto* clock = static_cast<ScriptClock*>(lua_touserdata(state, -1));
    lua_pop(state, 1);
    return clock;
}

ScriptClock::Limit::Limit(lua_State* state, Seconds limit, const char* call) : m_state(state), m_clock(Of(state))
{
    if (m_clock != nullptr) {
        m_clock->m_call = call;
        m_clock->m_limit = limit;
        m_clock->m_used = {};
        m_clock->m_mark = Clock::now();
    }
}

ScriptClock::Limit::~Limit()
{
    if (m_clock != nullptr) {
        m_clock->m_call = nullptr;
        // A call that ran out left the hook at every instruction.
        lua_sethook(m_state, Hook, LUA_MASKCOUNT, kHookInterval);
    }
}

bool ScriptClock::Advance()
{
    const Clock::time_point now = Clock::now();
    m_used += now - m_mark;
    m_mark = now;
    return m_used < m_limit;
}

void ScriptClock::EnterHost(lua_State* state)
{
    ScriptClock* clock = Of(state);
    if (clock != nullptr && clock->m_call != nullptr) {
        clock->Advance();
    }
}

// A host function that raises an error leaves without this; its time then counts as Lua time, which is
// harmless because host functions raise errors only for their arguments, before they start any work.
void ScriptClock::LeaveHost(lua_State* state)
{
    ScriptClock* clock = Of(state);
    if (clock != nullptr) {
        clock->m_mark = Clock::now();
    }
}

void ScriptClock::Hook(lua_State* state, lua_Debug*)
{
    ScriptClock* clock = Of(state);
    if (clock == nullptr || clock->m_call == nullptr || clock->Advance()) {
        return;
    }
    // From now on every instruction raises the error, so a script cannot catch it with pcall and go on:
    // the code around its pcall stops at its next instruction.
    lua_sethook(state, Hook, LUA_MASKCOUNT, 1);
    luaL_where(state, 0);
    lua_pushfstring(state, "'%s' exceeded its time limit of %d seconds", clock->m_call,
                    static_cast<int>(clock->m_limit.count()));
    lua_concat(state, 2);
    lua_error(state);
}
