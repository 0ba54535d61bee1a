#include "modules/lua_arguments.h"

#include "base/text_conversion.h"
#include "platform/paths.h"

#include <windows.h>

#include <algorithm>
#include <climits>

namespace {

bool IsAbsent(lua_State* state, int index)
{
    return lua_isnoneornil(state, index);
}

} // namespace

std::string_view CheckUtf8(lua_State* state, int index)
{
    const std::string_view text = CheckText(state, index);
    if (text.find('\0') != std::string_view::npos) {
        luaL_argerror(state, index, "string with a NUL character");
    }
    return text;
}

std::string_view CheckText(lua_State* state, int index)
{
    size_t length = 0;
    const char* text = luaL_checklstring(state, index, &length);
    return std::string_view(text, length);
}

std::string_view OptText(lua_State* state, int index)
{
    return IsAbsent(state, index) ? std::string_view() : CheckText(state, index);
}

std::wstring ShownText(std::string_view text)
{
    std::wstring shown;
    for (size_t start = 0; start <= text.size();) {
        const size_t end = std::min(text.find('\0', start), text.size());
        shown += Utf8ToWide(text.substr(start, end - start));
        if (end < text.size()) {
            shown += L"\\0";
        }
        start = end + 1;
    }
    return shown;
}

std::string_view OptUtf8(lua_State* state, int index)
{
    return IsAbsent(state, index) ? std::string_view() : CheckUtf8(state, index);
}

std::wstring CheckWideString(lua_State* state, int index)
{
    return Utf8ToWide(CheckUtf8(state, index));
}

int32_t CheckInt32(lua_State* state, int index)
{
    return static_cast<int32_t>(static_cast<uint32_t>(luaL_checkinteger(state, index)));
}

int32_t OptInt32(lua_State* state, int index, int32_t fallback)
{
    return IsAbsent(state, index) ? fallback : CheckInt32(state, index);
}

int PushBoolean(lua_State* state, bool value)
{
    lua_pushboolean(state, value);
    return 1;
}

void PushWideString(lua_State* state, std::wstring_view text)
{
    const std::string utf8 = WideToUtf8(text);
    lua_pushlstring(state, utf8.data(), utf8.size());
}

void PushWideStringList(lua_State* state, const std::vector<std::wstring>& list)
{
    lua_createtable(state, static_cast<int>(list.size() < INT_MAX ? list.size() : INT_MAX), 0);
    lua_Integer key = 1;
    for (const std::wstring& text : list) {
        PushWideString(state, text);
        lua_rawseti(state, -2, key++);
    }
}

std::wstring CallingScriptName(lua_State* state)
{
    lua_Debug caller{};
    if (lua_getstack(state, 1, &caller) == 0 || lua_getinfo(state, "S", &caller) == 0 || caller.source == nullptr) {
        return {};
    }
    std::string_view source(caller.source);
    // Lua marks the chunk name of a file with '@'; it is not part of the file's name.
    if (!source.empty() && source.front() == '@') {
        source.remove_prefix(1);
    }
    std::wstring directory;
    std::wstring name;
    if (!SplitPath(Utf8ToWide(source), directory, name)) {
        return {};
    }
    return name;
}
