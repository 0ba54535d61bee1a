#include "base/text_conversion.h"
#include "engine/lua_script.h"
#include "modules/host_module.h"
#include "script_folder.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

class TestScript : public LuaScript {
public:
    using LuaScript::LuaScript;
    using LuaScript::State;
};

// The tests' temporary paths are ASCII.
std::string Narrow(const std::wstring& path)
{
    return std::string(path.begin(), path.end());
}

TEST(LuaStackDump, ShowsEachValueByTypeFollowedByTwoBlanks)
{
    const struct {
        const char* what;
        std::function<void(lua_State*)> push;
        const char* expected;
    } cases[] = {
        {"empty stack", [](lua_State*) {}, ""},
        {"integer, boolean, string",
         [](lua_State* s) {
             lua_pushinteger(s, 1);
             lua_pushboolean(s, 1);
             lua_pushstring(s, "x");
         },
         "1.000000  true  'x'  "},
        {"other values",
         [](lua_State* s) {
             lua_pushnil(s);
             lua_newtable(s);
             lua_getglobal(s, "print");
             lua_pushboolean(s, 0);
             lua_pushnumber(s, -2.5);
             lua_pushstring(s, "");
         },
         "nil  table  function  false  -2.500000  ''  "},
    };
    for (const auto& c : cases) {
        TestScript script(L"dump.lua");
        ASSERT_TRUE(script.InitializeLuaState());
        c.push(script.State());
        const int top = lua_gettop(script.State());
        EXPECT_EQ(FormatLuaStack(script.State()), c.expected) << c.what;
        EXPECT_EQ(lua_gettop(script.State()), top) << c.what << ": the dump must leave the stack alone";
    }
}

// Bad scripts end in a failed load with the error on the stack; the state stays usable and nothing crashes.
TEST(LuaScriptLoad, BadScriptsFailCleanly)
{
    const struct {
        const char* what;
        std::string source;
        const char* errorPart;
    } cases[] = {
        {"syntax error", "x = = 1", "unexpected symbol near '='"},
        {"run-time error at load", "local t = nil\nt.x = 1", "attempt to index a nil value"},
        {"error with a table", "error({})", ""},
        {"error with a number", "error(42)", "42"},
        {"infinite recursion", "local function f() return 1 + f() end\nf()", "stack overflow"},
        {"recursive metamethod",
         "local t = setmetatable({}, {})\ngetmetatable(t).__index = function(t, k) return t[k] end\nx = t.x",
         "stack overflow"},
        {"memory exhaustion", "local t = {}\nfor i = 1, math.huge do t[i] = string.rep('x', 16 << 20) .. i end",
         "not enough memory"},
        {"os.exit", "os.exit(0)", "os.exit is not available to scripts"},
        {"os.exit closing the state", "os.exit(true, true)", "os.exit is not available to scripts"},
        {"precompiled chunk", "\x1bLuaS\x00\x19\x93\r\n\x1a\n", "attempt to load a binary chunk"},
    };
    for (const auto& c : cases) {
        ScriptFolder folder;
        TestScript script(folder.Write(L"bad.lua", c.source));
        EXPECT_FALSE(script.Initialize()) << c.what;
        ASSERT_TRUE(script.IsValid()) << c.what;
        EXPECT_NE(script.GetTopString().find(c.errorPart), std::string::npos)
            << c.what << ": " << script.GetTopString().substr(0, 200);
        EXPECT_TRUE(script.RunString("assert(1 + 1 == 2)", "after")) << c.what;
    }
}

TEST(LuaScriptLoad, HugeErrorStaysWholeOnTheStackAndIsCutInTheLog)
{
    LogCapture log(L"HugeError");
    ScriptFolder folder;
    TestScript script(folder.Write(L"huge.lua", "error(string.rep('x', 50 * 1024 * 1024))"));
    EXPECT_FALSE(script.Initialize());
    EXPECT_GT(script.GetTopString().size(), size_t{50} * 1024 * 1024);
    const std::string text = log.Text();
    EXPECT_NE(text.find(std::string(4000, 'x') + "...\r\n"), std::string::npos);
    EXPECT_NE(text.find(std::string(4000, 'x') + "...'  \r\n"), std::string::npos);
    EXPECT_EQ(text.find(std::string(4100, 'x')), std::string::npos);
}

TEST(LuaScriptLoad, LogsStatusErrorTextAndStackDump)
{
    LogCapture log(L"LoadFailure");
    const struct {
        const char* source;
        const char* status;
        bool exact;        // a syntax error starts with the chunk name, which Lua may shorten
        const char* error; // the whole error text, or how it ends
        const char* dump;
    } cases[] = {
        {"x = = 1", "3", false, ":1: unexpected symbol near '='", "'"},
        {"error({})", "2", true, "", "table  "},
        {"error(7)", "2", true, "7", "'7'  "},
    };
    for (const auto& c : cases) {
        ScriptFolder folder;
        const std::wstring path = folder.Write(L"failing.lua", c.source);
        LuaScript(path).Initialize();
        const std::string text = log.Text();
        const std::string line =
            "LuaScript::Initialize: Load '" + Narrow(path) + "' failed with " + c.status + ". Error: ";
        const size_t start = text.find(line);
        ASSERT_NE(start, std::string::npos) << line << "\n--- log:\n" << text;
        const size_t end = text.find("\r\n", start);
        const std::string error = text.substr(start + line.size(), end - start - line.size());
        EXPECT_TRUE(c.exact ? error == c.error : error.ends_with(c.error)) << error;
        EXPECT_NE(text.find(" *E: *** LUA STACK: ***\r\n" + std::string(c.dump), end), std::string::npos) << c.source;
    }
}

// require looks only in the script's folder, by wide path: a folder name with ';' or with letters outside
// the ANSI code page works, and names that would reach outside the folder are refused.
TEST(LuaScriptModules, RequireSearchesOnlyTheScriptDirectory)
{
    for (const std::wstring& directory : {std::wstring(L"scripts"), std::wstring(L"scr;ipts"),
                                          std::wstring(L"\u0421\u043a\u0440\u0438\u043f\u0442\u044b_\u811a\u672c")}) {
        ScriptFolder folder;
        folder.Write(L"outside.lua", "return { value = 1 }");
        folder.Write(directory + L"\\sibling.lua", "return { value = 7 }");
        folder.Write(directory + L"\\sub\\nested.lua", "return { value = 8, name = ... }");
        folder.Write(directory + L"\\broken.lua", "return {");
        TestScript script(folder.Write(directory + L"\\main.lua", R"(
            siblingValue = require("sibling").value
            nested = require("sub.nested")
            brokenError = select(2, pcall(require, "broken"))
            for _, name in ipairs({ "outside", "..outside", ".sibling", "sibling.", "sub..nested", "sub/nested",
                                    "..\\outside", "C:\\outside" }) do
                assert(not pcall(require, name), name)
            end
        )"));
        const std::string what = WideToUtf8(directory);
        ASSERT_TRUE(script.Initialize()) << what << ": " << script.GetTopString();
        EXPECT_TRUE(script.RunString("assert(siblingValue == 7 and nested.value == 8)", "found")) << what;
        EXPECT_TRUE(script.RunString("assert(nested.name == 'sub.nested')", "module name")) << what;
        EXPECT_TRUE(script.RunString("assert(brokenError:find('broken.lua:1:', 1, true))", "load error")) << what;
        EXPECT_TRUE(script.RunString("assert(package.path == '' and package.cpath == '')", "no paths")) << what;
    }
}

int Twice(lua_State* state)
{
    lua_pushinteger(state, 2 * luaL_checkinteger(state, 1));
    return 1;
}

TEST(LuaScriptModules, HostModuleSetsConstantsAsGlobalsAndFunctionsAsTable)
{
    static const luaL_Reg functions[] = {{"Twice", Twice}, {nullptr, nullptr}};
    static const LuaConstant constants[] = {{"Sample_One", 1}, {"Sample_Wide", 512}, {nullptr, 0}};
    TestScript script(L"module.lua");
    ASSERT_TRUE(script.InitializeLuaState());
    RegisterHostModule(script.State(), "Sample", functions, constants);
    EXPECT_TRUE(script.RunString("assert(Sample.Twice(21) == 42)", "function"));
    EXPECT_TRUE(
        script.RunString("assert(Sample_One == 1 and Sample_Wide == 512 and Sample.Sample_One == nil)", "const"));
    EXPECT_FALSE(script.RunString("Sample.Twice({})", "argument error"));
}

} // namespace
