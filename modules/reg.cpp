#include "base/text_conversion.h"
#include "modules/host_module.h"
#include "modules/lua_arguments.h"
#include "modules/reg_ops.h"

#include <windows.h>

#include <string_view>
#include <vector>

namespace {

enum RootKind : int32_t {
    RootLocalMachine = 0,
    RootClassesRoot = 1,
    RootUsers = 2,
};

// Scripts cannot reach HKEY_CURRENT_USER: every unknown number selects HKEY_LOCAL_MACHINE.
HKEY RootKey(int32_t kind)
{
    switch (kind) {
    case RootClassesRoot:
        return HKEY_CLASSES_ROOT;
    case RootUsers:
        return HKEY_USERS;
    default:
        return HKEY_LOCAL_MACHINE;
    }
}

// Strict conversion that remembers a failure: text that is not valid UTF-8 would otherwise become the empty
// string, which names the root key or the default value, and a write or deletion would hit those instead.
std::wstring ConvertArgument(std::string_view text, bool& valid)
{
    std::wstring wide = Utf8ToWide(text);
    valid = valid && (text.empty() || !wide.empty());
    return wide;
}

// The arguments shared by every function: root, key path, an optional value name (or mask) and the trailing
// view flags, starting at argument `first`. All are checked before any string is built from them. A call
// whose texts are not all valid UTF-8 touches nothing and returns its failure value.
struct KeyArguments {
    HKEY root = HKEY_LOCAL_MACHINE;
    std::wstring path;
    std::wstring valueName;
    DWORD flags = 0;
    bool valid = true;
};

KeyArguments CheckKeyArguments(lua_State* state, int first, bool withValueName)
{
    const int32_t root = CheckInt32(state, first);
    const std::string_view path = CheckUtf8(state, first + 1);
    const std::string_view valueName = withValueName ? CheckUtf8(state, first + 2) : std::string_view();
    const auto flags = static_cast<DWORD>(OptInt32(state, first + (withValueName ? 3 : 2), 0));
    KeyArguments arguments;
    arguments.root = RootKey(root);
    arguments.path = ConvertArgument(path, arguments.valid);
    arguments.valueName = ConvertArgument(valueName, arguments.valid);
    arguments.flags = flags;
    return arguments;
}

KeyArguments CheckKey(lua_State* state)
{
    return CheckKeyArguments(state, 1, false);
}

KeyArguments CheckValue(lua_State* state)
{
    return CheckKeyArguments(state, 1, true);
}

int RegBranchExists(lua_State* state)
{
    const KeyArguments key = CheckKey(state);
    return PushBoolean(state, key.valid && RegOps::BranchExists(key.root, key.path, key.flags));
}

int RegKeyExists(lua_State* state)
{
    const KeyArguments value = CheckValue(state);
    return PushBoolean(state, value.valid && RegOps::ValueExists(value.root, value.path, value.valueName, value.flags));
}

int RegGetNumber(lua_State* state)
{
    const KeyArguments value = CheckValue(state);
    lua_pushinteger(state, value.valid ? RegOps::GetDWORD(value.root, value.path, value.valueName, value.flags) : 0);
    return 1;
}

int RegSetNumber(lua_State* state)
{
    const auto number = static_cast<uint32_t>(CheckInt32(state, 1));
    const KeyArguments value = CheckKeyArguments(state, 2, true);
    return PushBoolean(state,
                       value.valid && RegOps::SetDWORD(value.root, value.path, value.valueName, number, value.flags));
}

int RegGetString(lua_State* state)
{
    const KeyArguments value = CheckValue(state);
    PushWideString(state, value.valid ? RegOps::GetString(value.root, value.path, value.valueName, value.flags)
                                      : std::wstring());
    return 1;
}

int RegGetPath(lua_State* state)
{
    const KeyArguments value = CheckValue(state);
    PushWideString(state, value.valid ? RegOps::GetPath(value.root, value.path, value.valueName, value.flags)
                                      : std::wstring());
    return 1;
}

int RegSetString(lua_State* state)
{
    const std::string_view textUtf8 = CheckUtf8(state, 1);
    KeyArguments value = CheckKeyArguments(state, 2, true);
    const std::wstring text = ConvertArgument(textUtf8, value.valid);
    return PushBoolean(state,
                       value.valid && RegOps::SetString(value.root, value.path, value.valueName, text, value.flags));
}

int RegGetMultiString(lua_State* state)
{
    const KeyArguments value = CheckValue(state);
    PushWideStringList(state, value.valid ? RegOps::GetMultiString(value.root, value.path, value.valueName, value.flags)
                                          : std::vector<std::wstring>());
    return 1;
}

// A list argument of strings: every element is checked before anything is built, so a wrong element raises the
// argument error without leaking what was built so far.
lua_Integer CheckStringList(lua_State* state, int index)
{
    luaL_checktype(state, index, LUA_TTABLE);
    const lua_Integer count = luaL_len(state, index);
    for (lua_Integer position = 1; position <= count; ++position) {
        const int type = lua_geti(state, index, position);
        size_t length = 0;
        const char* text = type == LUA_TSTRING || type == LUA_TNUMBER ? lua_tolstring(state, -1, &length) : nullptr;
        const bool hasNul = text != nullptr && std::string_view(text, length).find('\0') != std::string_view::npos;
        lua_pop(state, 1);
        if (text == nullptr || hasNul) {
            return luaL_argerror(state, index, "a list of strings without NUL characters expected");
        }
    }
    return count;
}

std::vector<std::wstring> StringList(lua_State* state, int index, lua_Integer count, bool& valid)
{
    std::vector<std::wstring> strings;
    for (lua_Integer position = 1; position <= count; ++position) {
        lua_geti(state, index, position);
        size_t length = 0;
        const char* text = lua_tolstring(state, -1, &length);
        strings.push_back(ConvertArgument(std::string_view(text, length), valid));
        lua_pop(state, 1);
    }
    return strings;
}

// The list comes first, like the value of SetString.
int RegSetMultiString(lua_State* state)
{
    const lua_Integer count = CheckStringList(state, 1);
    KeyArguments value = CheckKeyArguments(state, 2, true);
    const std::vector<std::wstring> strings = StringList(state, 1, count, value.valid);
    return PushBoolean(
        state, value.valid && RegOps::SetMultiString(value.root, value.path, value.valueName, strings, value.flags));
}

// The optional separator after the view flags: one ASCII character joining the names of a text list (a network
// provider order's ","); without it a text is one name.
wchar_t OptSeparator(lua_State* state, int index)
{
    const std::string_view separator = OptUtf8(state, index);
    if (separator.size() > 1 || (separator.size() == 1 && static_cast<unsigned char>(separator[0]) >= 0x80)) {
        luaL_argerror(state, index, "one ASCII character");
    }
    return separator.empty() ? L'\0' : static_cast<wchar_t>(separator[0]);
}

// A list as Windows reads one: REG_MULTI_SZ, or a REG_SZ naming one filter or several joined by the separator.
int RegGetNameList(lua_State* state)
{
    const KeyArguments value = CheckValue(state);
    const wchar_t separator = OptSeparator(state, 5);
    PushWideStringList(state, value.valid
                                  ? RegOps::GetNameList(value.root, value.path, value.valueName, separator, value.flags)
                                  : std::vector<std::wstring>());
    return 1;
}

int RegRemoveNames(lua_State* state)
{
    const lua_Integer count = CheckStringList(state, 1);
    KeyArguments value = CheckKeyArguments(state, 2, true);
    const wchar_t separator = OptSeparator(state, 6);
    const std::vector<std::wstring> names = StringList(state, 1, count, value.valid);
    return PushBoolean(state, value.valid && RegOps::RemoveFromNameList(value.root, value.path, value.valueName, names,
                                                                        separator, value.flags));
}

int RegDeleteBranch(lua_State* state)
{
    const KeyArguments key = CheckKey(state);
    return PushBoolean(state, key.valid && RegOps::WipeBranch(key.root, key.path, key.flags));
}

int RegDeleteBranchByMask(lua_State* state)
{
    // The mask takes the place of a value name among the arguments.
    const KeyArguments key = CheckValue(state);
    return PushBoolean(state, key.valid && RegOps::DeleteBranchByMask(key.root, key.path, key.valueName, key.flags));
}

int RegDeleteKey(lua_State* state)
{
    const KeyArguments value = CheckValue(state);
    return PushBoolean(state, value.valid && RegOps::DeleteKey(value.root, value.path, value.valueName, value.flags));
}

int RegDeleteBranchIfEmpty(lua_State* state)
{
    const KeyArguments key = CheckKey(state);
    return PushBoolean(state, key.valid && RegOps::DeleteBranchIfEmpty(key.root, key.path, key.flags));
}

int RegGetSubKeys(lua_State* state)
{
    const KeyArguments key = CheckKey(state);
    PushWideStringList(state,
                       key.valid ? RegOps::GetSubkeys(key.root, key.path, key.flags) : std::vector<std::wstring>());
    return 1;
}

int RegGetValueNames(lua_State* state)
{
    const KeyArguments key = CheckKey(state);
    PushWideStringList(state,
                       key.valid ? RegOps::GetValueKeys(key.root, key.path, key.flags) : std::vector<std::wstring>());
    return 1;
}

const luaL_Reg kRegFunctions[] = {
    {"BranchExists", RegBranchExists},
    {"KeyExists", RegKeyExists},
    {"GetNumber", RegGetNumber},
    {"SetNumber", RegSetNumber},
    {"GetString", RegGetString},
    {"GetPath", RegGetPath},
    {"SetString", RegSetString},
    {"GetMultiString", RegGetMultiString},
    {"SetMultiString", RegSetMultiString},
    {"GetNameList", RegGetNameList},
    {"RemoveNames", RegRemoveNames},
    {"DeleteBranch", RegDeleteBranch},
    {"DeleteBranchByMask", RegDeleteBranchByMask},
    {"DeleteKey", RegDeleteKey},
    {"DeleteBranchIfEmpty", RegDeleteBranchIfEmpty},
    {"GetSubKeys", RegGetSubKeys},
    {"GetValueNames", RegGetValueNames},
    {nullptr, nullptr},
};

const LuaConstant kRegConstants[] = {
    {"HKLM", RootLocalMachine},
    {"HKCR", RootClassesRoot},
    {"HKU", RootUsers},
    {"KEY_WOW64_32KEY", KEY_WOW64_32KEY},
    {"KEY_WOW64_64KEY", KEY_WOW64_64KEY},
    {nullptr, 0},
};

} // namespace

void RegisterRegModule(lua_State* state)
{
    RegisterHostModule(state, "Reg", kRegFunctions, kRegConstants);
}
