#include "engine/lua_uninstall_script.h"
#include "engine/product.h"
#include "modules/status.h"
#include "script_folder.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

// A complete product; cases redefine single functions after it (the later definition wins).
const std::string kProduct = R"(
function GetProductId() return "p" end
function DetectProduct() return true end
function CleanupProduct() return true end
)";

class TestUninstallScript : public LuaUninstallScript {
public:
    using LuaUninstallScript::LuaUninstallScript;
    using LuaUninstallScript::State;
};

TEST(UninstallScriptTypes, ResultsAreTakenOnlyWithTheExpectedType)
{
    const struct {
        const char* what;
        const char* script;
        std::wstring id;
        std::wstring name;
        int32_t priority;
        bool detected;
    } cases[] = {
        {"defaults", "", L"p", L"", 50, true},
        {"integer id", "function GetProductId() return 42 end", L"42", L"", 50, true},
        {"table id", "function GetProductId() return {} end", L"", L"", 50, true},
        {"UTF-8 id", "function GetProductId() return 'Prod\xc3\xbc' end", L"Prod\u00fc", L"", 50, true},
        {"invalid UTF-8 id", "function GetProductId() return 'P\xff' end", L"", L"", 50, true},
        {"detected by 1", "function DetectProduct() return 1 end", L"p", L"", 50, false},
        {"detected by yes", "function DetectProduct() return 'yes' end", L"p", L"", 50, false},
        {"detect returns nothing", "function DetectProduct() end", L"p", L"", 50, false},
        {"name", "function GetProductDisplayName() return 'Shield' end", L"p", L"Shield", 50, true},
        {"numeric name", "function GetProductDisplayName() return 7 end", L"p", L"7", 50, true},
        {"name raises", "function GetProductDisplayName() error('x') end", L"p", L"", 50, true},
        {"negative priority", "function GetPriority() return -5 end", L"p", L"", -5, true},
        {"float priority", "function GetPriority() return 99.0 end", L"p", L"", 50, true},
        {"numeric string priority", "function GetPriority() return '7' end", L"p", L"", 50, true},
        {"priority keeps low 32 bits", "function GetPriority() return (1 << 32) + 3 end", L"p", L"", 3, true},
        {"priority 2^31", "function GetPriority() return 1 << 31 end", L"p", L"", INT32_MIN, true},
        // A strict globals table raises on every undefined name, GetPriority and GetProductDisplayName included.
        {"strict globals", "setmetatable(_G, {__index = function(_, k) error('undefined ' .. k, 2) end})", L"p", L"",
         50, true},
    };
    for (const auto& c : cases) {
        ScriptFolder folder;
        Product product;
        ASSERT_TRUE(product.Load(folder.Write(L"product.lua", kProduct + c.script))) << c.what;
        EXPECT_EQ(product.GetId(), c.id) << c.what;
        EXPECT_EQ(product.GetDisplayName(), c.name) << c.what;
        EXPECT_EQ(product.GetPriority(), c.priority) << c.what;
        EXPECT_EQ(product.IsDetected(), c.detected) << c.what;
        EXPECT_EQ(product.GetScriptName(), L"product.lua") << c.what;
    }
}

TEST(UninstallScriptTypes, OnlyFilesWithTheThreeRequiredFunctionsAreProducts)
{
    const struct {
        const char* what;
        std::string script;
        bool product;
    } cases[] = {
        {"complete", kProduct, true},
        {"no CleanupProduct", kProduct + "CleanupProduct = nil", false},
        {"CleanupProduct not a function", kProduct + "CleanupProduct = 5", false},
        {"no GetProductId", kProduct + "GetProductId = nil", false},
        {"library table", "return { Helper = function() end }", false},
        {"fails at load", kProduct + "error('late')", false},
    };
    for (const auto& c : cases) {
        ScriptFolder folder;
        Product product;
        EXPECT_EQ(product.Load(folder.Write(L"file.lua", c.script)), c.product) << c.what;
    }
}

TEST(UninstallScriptCalls, ErrorsMarkTheRunFailedAndLeaveNothingOnTheStack)
{
    const struct {
        const char* what;
        const char* cleanup;
        bool failed;
    } cases[] = {
        {"returns nothing", "function CleanupProduct() end", false},
        {"raises", "function CleanupProduct() error('cleanup broke') end", true},
        {"raises a table", "function CleanupProduct() error({}) end", true},
        {"calls os.exit", "function CleanupProduct() os.exit(0) end", true},
        {"runs out of memory", "function CleanupProduct() local s = string.rep('x', 1 << 30) end", true},
    };
    for (const auto& c : cases) {
        ScriptFolder folder;
        TestUninstallScript script(folder.Write(L"p.lua", kProduct + c.cleanup));
        ASSERT_TRUE(script.Initialize()) << c.what;
        Status::Instance().Reset();
        EXPECT_FALSE(script.CleanupProduct()) << c.what;
        EXPECT_EQ(Status::Instance().IsFailed(), c.failed) << c.what;
        EXPECT_EQ(lua_gettop(script.State()), 0) << c.what;
    }
}

TEST(UninstallScriptCalls, MissingFunctionIsLoggedWithoutFailingTheRun)
{
    LogCapture log(L"MissingFunction");
    ScriptFolder folder;
    TestUninstallScript script(folder.Write(L"p.lua", kProduct));
    ASSERT_TRUE(script.Initialize());
    Status::Instance().Reset();
    EXPECT_FALSE(script.CallLuaFunction("Absent"));
    EXPECT_FALSE(Status::Instance().IsFailed());
    EXPECT_EQ(lua_gettop(script.State()), 0);
    EXPECT_NE(log.Text().find("LuaUninstallScript::CallLuaFunction: Could not find lua function 'Absent'"),
              std::string::npos);
}

TEST(UninstallScriptCalls, ErrorIsLoggedWithStatusAndStackDump)
{
    LogCapture log(L"CallError");
    ScriptFolder folder;
    LuaUninstallScript script(folder.Write(L"p.lua", kProduct + "function CleanupProduct() error('boom', 0) end"));
    ASSERT_TRUE(script.Initialize());
    script.CleanupProduct();
    EXPECT_NE(log.Text().find("LuaUninstallScript::CallLuaFunction: Error 2 calling 'CleanupProduct'\r\n"),
              std::string::npos);
    EXPECT_NE(log.Text().find("*** LUA STACK: ***\r\n'boom'  \r\n"), std::string::npos);
}

} // namespace
