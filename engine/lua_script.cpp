#include "engine/lua_script.h"

#include "engine/host_module.h"
#include "logging/nv_qor_log.h"
#include "platform/paths.h"
#include "platform/text_conversion.h"

#include <cstdio>
#include <cstdlib>

namespace {

// The C library allocator that luaL_newstate installs, with a ceiling per state: a runaway script gets a
// memory error in its own state instead of exhausting the machine and the host's allocations first.
void* LimitedAlloc(void* userData, void* block, size_t oldSize, size_t newSize)
{
    size_t& allocated = *static_cast<size_t*>(userData);
    const size_t previous = block != nullptr ? oldSize : 0;
    if (newSize == 0) {
        std::free(block);
        allocated -= previous;
        return nullptr;
    }
    if (newSize > previous && newSize - previous > LuaScript::kMemoryLimit - allocated) {
        return nullptr;
    }
    void* resized = std::realloc(block, newSize);
    if (resized != nullptr) {
        allocated = allocated - previous + newSize;
    }
    return resized;
}

// os.exit would end the tool in the middle of a removal: the work directory stays, no result is shown, and
// the script's number becomes the exit code. Scripts report failure by raising errors or through Meta.
int RefuseExit(lua_State* state)
{
    return luaL_error(state, "os.exit is not available to scripts");
}

// Runs under lua_pcall so that a lack of memory while preparing the state is an error status, not a panic.
// Argument 1: the script directory (light userdata, ANSI), or null to keep the default search paths.
int PrepareState(lua_State* state)
{
    const auto* directory = static_cast<const char*>(lua_touserdata(state, 1));
    luaL_openlibs(state);
    lua_getglobal(state, "os");
    lua_pushcfunction(state, RefuseExit);
    lua_setfield(state, -2, "exit");
    lua_pop(state, 1);
    if (directory != nullptr) {
        lua_getglobal(state, "package");
        lua_pushfstring(state, "%s\\?.lua", directory);
        lua_setfield(state, -2, "path");
        lua_pushfstring(state, "%s\\?.dll", directory);
        lua_setfield(state, -2, "cpath");
        lua_pop(state, 1);
    }
    RegisterHostModules(state);
    return 0;
}

// The protected halves of PushGlobal and GetTopString: both may run a script's metamethods or finalizers.
int LookupGlobal(lua_State* state)
{
    lua_getglobal(state, static_cast<const char*>(lua_touserdata(state, 1)));
    return 1;
}

int ConvertToString(lua_State* state)
{
    lua_tolstring(state, 1, nullptr);
    return 1;
}

// A log line holds at most 65535 characters and a longer one is lost whole, so script texts are cut short.
constexpr size_t kMaxLoggedText = 4096;

std::string ClipForLog(std::string_view text)
{
    return text.size() <= kMaxLoggedText ? std::string(text) : std::string(text.substr(0, kMaxLoggedText)) + "...";
}

bool ScriptDirectory(const std::string& scriptPath, std::string& directory)
{
    std::wstring wideDirectory;
    std::wstring name;
    if (!SplitPath(AnsiToWide(scriptPath), wideDirectory, name)) {
        return false;
    }
    // A bare file name is found in the current directory; an empty directory would search the drive root.
    directory = wideDirectory.empty() ? "." : WideToAnsi(wideDirectory);
    return true;
}

} // namespace

LuaScript::LuaScript(std::string scriptPath) : m_scriptPath(std::move(scriptPath)) {}

LuaScript::~LuaScript()
{
    if (m_state) {
        NV_QOR_LOG(NvQorLogging::Debug, L"%s: Closing lua", L"LuaScript::~LuaScript");
    }
}

bool LuaScript::InitializeLuaState()
{
    m_state.reset(luaL_newstate());
    if (!m_state) {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Failed to initialize lua", L"LuaScript::InitializeLuaState");
        return false;
    }
    lua_State* state = m_state.get();
    m_allocated = static_cast<size_t>(lua_gc(state, LUA_GCCOUNT, 0)) * 1024 + lua_gc(state, LUA_GCCOUNTB, 0);
    lua_setallocf(state, LimitedAlloc, &m_allocated);

    std::string directory;
    const bool split = ScriptDirectory(m_scriptPath, directory);
    lua_pushcfunction(state, PrepareState);
    lua_pushlightuserdata(state, split ? directory.data() : nullptr);
    if (lua_pcall(state, 1, 0, 0) != LUA_OK) {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Failed to initialize lua", L"LuaScript::InitializeLuaState");
        m_state.reset();
        return false;
    }
    return true;
}

bool LuaScript::Initialize()
{
    if (!InitializeLuaState()) {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Lua state is not valid", L"LuaScript::Initialize");
        return false;
    }
    lua_State* state = m_state.get();
    // Source text only: the interpreter does not verify precompiled chunks, and a damaged one can crash it.
    int status = luaL_loadfilex(state, m_scriptPath.c_str(), "t");
    if (status == LUA_OK) {
        status = lua_pcall(state, 0, 0, 0);
    }
    if (status == LUA_OK) {
        return true;
    }
    const std::string error = ClipForLog(GetTopString());
    NV_QOR_LOG(NvQorLogging::Error, L"%s: Load '%S' failed with %d. Error: %hs", L"LuaScript::Initialize",
               m_scriptPath.c_str(), status, error.c_str());
    DumpLuaStack(state);
    return false;
}

bool LuaScript::IsValid() const
{
    return m_state != nullptr;
}

bool LuaScript::RunString(const std::string& chunk, const std::string& chunkName)
{
    lua_State* state = m_state.get();
    return state != nullptr && luaL_loadbufferx(state, chunk.data(), chunk.size(), chunkName.c_str(), "t") == LUA_OK &&
           lua_pcall(state, 0, 0, 0) == LUA_OK;
}

std::string LuaScript::GetTopString()
{
    lua_State* state = m_state.get();
    if (state == nullptr || lua_gettop(state) == 0) {
        return {};
    }
    if (lua_type(state, -1) == LUA_TNUMBER) {
        lua_pushcfunction(state, ConvertToString);
        lua_pushvalue(state, -2);
        if (lua_pcall(state, 1, 1, 0) != LUA_OK) {
            lua_pop(state, 1);
            return {};
        }
        lua_replace(state, -2);
    }
    if (lua_type(state, -1) != LUA_TSTRING) {
        return {};
    }
    size_t length = 0;
    const char* text = lua_tolstring(state, -1, &length);
    return std::string(text, length);
}

int LuaScript::PushGlobal(const char* name)
{
    lua_State* state = m_state.get();
    lua_pushcfunction(state, LookupGlobal);
    lua_pushlightuserdata(state, const_cast<char*>(name));
    return lua_pcall(state, 1, 1, 0);
}

std::string FormatLuaStack(lua_State* state)
{
    std::string text;
    const int top = lua_gettop(state);
    for (int index = 1; index <= top; ++index) {
        const int type = lua_type(state, index);
        switch (type) {
        case LUA_TBOOLEAN:
            text += lua_toboolean(state, index) ? "true" : "false";
            break;
        case LUA_TNUMBER: {
            char number[400]; // "%f" of the largest double needs 316 characters
            std::snprintf(number, sizeof number, "%f", lua_tonumber(state, index));
            text += number;
            break;
        }
        case LUA_TSTRING: {
            size_t length = 0;
            const char* value = lua_tolstring(state, index, &length);
            text += '\'' + ClipForLog(std::string_view(value, length)) + '\'';
            break;
        }
        default:
            text += lua_typename(state, type);
            break;
        }
        text += "  ";
    }
    return text;
}

void DumpLuaStack(lua_State* state)
{
    NV_QOR_LOG(NvQorLogging::Error, L"*** LUA STACK: ***\r\n%S", FormatLuaStack(state).c_str());
}
