#include "engine/lua_script.h"

#include "base/text_conversion.h"
#include "logging/nv_qor_log.h"
#include "modules/host_module.h"
#include "platform/file_contents.h"
#include "platform/paths.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

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

// debug.sethook would let a script switch off the hook that enforces its time limit.
int RefuseSetHook(lua_State* state)
{
    return luaL_error(state, "debug.sethook is not available to scripts");
}

// Loads file text as luaL_loadfilex would: a UTF-8 byte order mark and a first line starting with '#' are
// skipped (the line's end stays, so line numbers do not move), and only source text is accepted, because the
// interpreter does not verify precompiled chunks and a damaged one can crash it.
int LoadScriptText(lua_State* state, std::string_view text, const std::string& chunkName)
{
    constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";
    if (text.substr(0, byteOrderMark.size()) == byteOrderMark) {
        text.remove_prefix(byteOrderMark.size());
    }
    if (!text.empty() && text.front() == '#') {
        const size_t lineEnd = text.find('\n');
        text.remove_prefix(lineEnd == std::string_view::npos ? text.size() : lineEnd);
    }
    return luaL_loadbufferx(state, text.data(), text.size(), chunkName.c_str(), "t");
}

// Reads and loads one script file; on failure the error message is on the stack. `chunkName` is the name
// the script is known by in error messages and log lines.
int LoadScriptFile(lua_State* state, const std::wstring& path, const std::string& chunkName)
{
    std::string text;
    DWORD error = ERROR_SUCCESS;
    if (!ReadFileContents(path, LuaScript::kMemoryLimit, text, &error, FileOrigin::ToolScript)) {
        lua_pushfstring(state, "cannot read %s: error %d", chunkName.c_str() + 1, static_cast<int>(error));
        return LUA_ERRFILE;
    }
    return LoadScriptText(state, text, chunkName);
}

// Lua marks the chunk name of a file with '@'.
std::string ChunkName(std::wstring_view fileName)
{
    std::string name = "@";
    name += WideToUtf8(fileName);
    return name;
}

// A module name of require is a dotted path below the script folder: "a.b" is the file a\b.lua. Names that
// could reach outside the folder or do not name a file are refused.
std::wstring ModuleFileName(std::string_view name)
{
    std::wstring file = Utf8ToWide(name);
    bool componentStart = true;
    for (wchar_t& c : file) {
        if (c == L'.') {
            if (componentStart) {
                return {};
            }
            c = L'\\';
            componentStart = true;
            continue;
        }
        if (c < L' ' || std::wstring_view(L"\\/:*?\"<>|").find(c) != std::wstring_view::npos) {
            return {};
        }
        componentStart = false;
    }
    return file.empty() || componentStart ? std::wstring() : file + L".lua";
}

std::wstring FolderOfSearcher(lua_State* state)
{
    size_t bytes = 0;
    const char* folder = lua_tolstring(state, lua_upvalueindex(1), &bytes);
    std::wstring path(bytes / sizeof(wchar_t), L'\0');
    std::memcpy(path.data(), folder, path.size() * sizeof(wchar_t));
    return path;
}

// Pushes the module's loaded chunk and its file name (LUA_OK) or a message: LUA_ERRFILE when the module is
// not there, another status when its file does not load.
int LoadModule(lua_State* state, std::string_view name)
{
    const std::wstring file = ModuleFileName(name);
    if (file.empty()) {
        lua_pushliteral(state, "not a module name of the script folder");
        return LUA_ERRFILE;
    }
    const std::string chunkName = ChunkName(file);
    const int status = LoadScriptFile(state, MakePath(FolderOfSearcher(state), file), chunkName);
    if (status == LUA_OK) {
        lua_pushstring(state, chunkName.c_str() + 1);
    }
    return status;
}

// require's searcher after the preload table, in place of Lua's path searchers: a module is a file of the
// script's own folder (upvalue 1, as UTF-16 bytes), read by wide path, so any folder name works, ';' included.
int SearchScriptFolder(lua_State* state)
{
    size_t length = 0;
    const char* name = luaL_checklstring(state, 1, &length);
    switch (LoadModule(state, std::string_view(name, length))) {
    case LUA_OK:
        return 2;
    case LUA_ERRFILE:
        lua_pushfstring(state, "\n\t%s", lua_tostring(state, -1));
        return 1;
    default:
        return luaL_error(state, "error loading module '%s':\n\t%s", name, lua_tostring(state, -1));
    }
}

struct StateSetup {
    const std::wstring* directory;
    ScriptClock* clock;
};

// Runs under lua_pcall so that a lack of memory while preparing the state is an error status, not a panic.
// Argument 1: the StateSetup (light userdata).
int PrepareState(lua_State* state)
{
    const auto& setup = *static_cast<const StateSetup*>(lua_touserdata(state, 1));
    setup.clock->Install(state);
    luaL_openlibs(state);
    lua_getglobal(state, "os");
    lua_pushcfunction(state, RefuseExit);
    lua_setfield(state, -2, "exit");
    lua_getglobal(state, "debug");
    lua_pushcfunction(state, RefuseSetHook);
    lua_setfield(state, -2, "sethook");
    lua_pop(state, 2);

    // Lua's own searchers open files by narrow path in the ANSI code page; only the preload table and
    // the script folder searcher remain, and the search paths are left empty so nothing else looks.
    lua_getglobal(state, "package");
    lua_pushliteral(state, "");
    lua_setfield(state, -2, "path");
    lua_pushliteral(state, "");
    lua_setfield(state, -2, "cpath");
    lua_getfield(state, -1, "searchers");
    lua_pushlstring(state, reinterpret_cast<const char*>(setup.directory->data()),
                    setup.directory->size() * sizeof(wchar_t));
    lua_pushcclosure(state, SearchScriptFolder, 1);
    lua_rawseti(state, -2, 2);
    for (lua_Integer extra = luaL_len(state, -1); extra > 2; --extra) {
        lua_pushnil(state);
        lua_rawseti(state, -2, extra);
    }
    lua_pop(state, 2);

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

constexpr size_t kMaxLoggedText = 4096;

template <typename Char> std::basic_string<Char> Clip(std::basic_string_view<Char> text, const Char* mark)
{
    return text.size() <= kMaxLoggedText ? std::basic_string<Char>(text)
                                         : std::basic_string<Char>(text.substr(0, kMaxLoggedText)) + mark;
}

// A bare file name is found in the current directory; an empty directory would search the drive root.
std::wstring ScriptDirectory(const std::wstring& scriptPath, std::wstring& name)
{
    std::wstring directory;
    if (!SplitPath(scriptPath, directory, name)) {
        name = scriptPath;
    }
    return directory.empty() ? L"." : directory;
}

} // namespace

LuaScript::TimeLimits LuaScript::s_limits;

LuaScript::LuaScript(std::wstring scriptPath) : m_scriptPath(std::move(scriptPath)) {}

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
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Failed to initialize lua", NV_LOG_FUNCTION);
        return false;
    }
    lua_State* state = m_state.get();
    m_allocated = static_cast<size_t>(lua_gc(state, LUA_GCCOUNT, 0)) * 1024 + lua_gc(state, LUA_GCCOUNTB, 0);
    lua_setallocf(state, LimitedAlloc, &m_allocated);

    std::wstring name;
    const std::wstring directory = ScriptDirectory(m_scriptPath, name);
    StateSetup setup{&directory, &m_clock};
    lua_pushcfunction(state, PrepareState);
    lua_pushlightuserdata(state, &setup);
    if (lua_pcall(state, 1, 0, 0) != LUA_OK) {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Failed to initialize lua", NV_LOG_FUNCTION);
        m_state.reset();
        return false;
    }
    return true;
}

bool LuaScript::Initialize()
{
    if (!InitializeLuaState()) {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Lua state is not valid", NV_LOG_FUNCTION);
        return false;
    }
    lua_State* state = m_state.get();
    std::wstring name;
    ScriptDirectory(m_scriptPath, name);
    // The main chunk runs the script's top level and its require calls, which may loop as well.
    const ScriptClock::Limit limit(state, s_limits.detection, "main chunk");
    int status = LoadScriptFile(state, m_scriptPath, ChunkName(name));
    if (status == LUA_OK) {
        status = lua_pcall(state, 0, 0, 0);
    }
    if (status == LUA_OK) {
        return true;
    }
    const std::string error = ClipForLog(GetTopString());
    NV_QOR_LOG(NvQorLogging::Error, L"%s: Load '%s' failed with %d. Error: %hs", NV_LOG_FUNCTION, m_scriptPath.c_str(),
               status, error.c_str());
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

std::string ClipForLog(std::string_view text)
{
    return Clip(text, "...");
}

std::wstring ClipForLog(std::wstring_view text)
{
    return Clip(text, L"...");
}
