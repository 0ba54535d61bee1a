#pragma once

#include <lua.hpp>

#include <cstddef>
#include <memory>
#include <string>

// One Lua 5.3 state running one script file, with the standard libraries, the script's own directory as the
// only module search path, and the host modules. Scripts never share a state.
class LuaScript {
public:
    // The path is in the ANSI code page, the form in which the interpreter opens files; it is also the
    // chunk name.
    explicit LuaScript(std::string scriptPath);
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

protected:
    lua_State* State() const { return m_state.get(); }
    const std::string& ScriptPath() const { return m_scriptPath; }
    // Pushes the global `name` and returns LUA_OK, or pushes the error value and returns the error status.
    // The lookup runs protected because a script may give its globals an __index that raises errors.
    int PushGlobal(const char* name);

private:
    struct StateCloser {
        void operator()(lua_State* state) const { lua_close(state); }
    };

    std::string m_scriptPath;
    size_t m_allocated = 0; // declared before the state: the state's allocator updates it until lua_close
    std::unique_ptr<lua_State, StateCloser> m_state;
};

// The stack as one line, index 1 first: booleans as true/false, numbers with "%f", strings in single quotes
// (cut after 4096 bytes, marked by "..."), anything else by its type name; each item followed by two blanks.
std::string FormatLuaStack(lua_State* state);
// Logs FormatLuaStack under the "*** LUA STACK: ***" header. The stack is not changed.
void DumpLuaStack(lua_State* state);
