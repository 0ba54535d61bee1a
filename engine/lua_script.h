#pragma once

#include "modules/script_clock.h"

#include <lua.hpp>

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

// One Lua 5.3 state running one script file, with the standard libraries, the script's own directory as the
// only place `require` looks, and the host modules. Scripts never share a state. Files are read through the
// wide file API, so any path works; the chunk name is "@" and the file's name, in UTF-8.
class LuaScript {
public:
    explicit LuaScript(std::wstring scriptPath);
    virtual ~LuaScript();
    LuaScript(const LuaScript&) = delete;
    LuaScript& operator=(const LuaScript&) = delete;

    virtual bool Initialize();
    virtual bool IsValid() const;
    // Loads and runs a chunk of source text; the error value, if any, stays on the stack.
    virtual bool RunString(const std::string& chunk, const std::string& chunkName);
    // The value on top of the stack as text: a string, or a number converted in place; empty otherwise.
    virtual std::string GetTopString();
    virtual bool InitializeLuaState();

    // Bytes one state may hold; a script that wants more gets a Lua memory error.
    static constexpr size_t kMemoryLimit = size_t{256} << 20;

    // How long the Lua code of one call may run (ScriptClock): the main chunk and the functions that describe
    // and detect a product, and the clean-up. A call past its limit ends with a Lua error naming the limit.
    static constexpr std::chrono::seconds kDetectionTimeLimit{60};
    static constexpr std::chrono::minutes kCleanupTimeLimit{30};
    struct TimeLimits {
        std::chrono::seconds detection = kDetectionTimeLimit;
        std::chrono::seconds cleanup = kCleanupTimeLimit;
    };
    static const TimeLimits& Limits() { return s_limits; }
    // Tests shorten the limits; the tool always runs with the defaults.
    static void SetLimits(const TimeLimits& limits) { s_limits = limits; }

protected:
    lua_State* State() const { return m_state.get(); }
    const std::wstring& ScriptPath() const { return m_scriptPath; }
    // Pushes the global `name` and returns LUA_OK, or pushes the error value and returns the error status.
    // The lookup runs protected because a script may give its globals an __index that raises errors.
    int PushGlobal(const char* name);

private:
    struct StateCloser {
        void operator()(lua_State* state) const { lua_close(state); }
    };

    static TimeLimits s_limits;

    std::wstring m_scriptPath;
    // Declared before the state, which uses both until lua_close.
    size_t m_allocated = 0;
    ScriptClock m_clock;
    std::unique_ptr<lua_State, StateCloser> m_state;
};

// A log line holds at most 65535 characters and a longer one is lost whole, so texts that scripts supply
// are cut after 4096 characters (marked by "...") before they are logged.
std::string ClipForLog(std::string_view text);
std::wstring ClipForLog(std::wstring_view text);

// The stack as one line, index 1 first: booleans as true/false, numbers with "%f", strings in single quotes
// (cut after 4096 bytes, marked by "..."), anything else by its type name; each item followed by two blanks.
std::string FormatLuaStack(lua_State* state);
// Logs FormatLuaStack under the "*** LUA STACK: ***" header. The stack is not changed.
void DumpLuaStack(lua_State* state);
