#include "base/text_conversion.h"
#include "engine/product.h"
#include "engine/removal_record.h"
#include "engine/ui_tool_lib.h"
#include "modules/status.h"
#include "script_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

// A product whose clean-up appends its id to removed.txt in the folder, then runs `cleanupTail`.
std::string ProductScript(const ScriptFolder& folder, const std::string& id, const std::string& extra = "",
                          const std::string& cleanupTail = "")
{
    return "function GetProductId() return '" + id + "' end\n" +
           "function DetectProduct() return true end\n"
           "function CleanupProduct()\n"
           "  local f = assert(io.open(" +
           folder.LuaLiteral() + " .. [[\\removed.txt]], 'a'))\n  f:write('" + id + " ')\n  f:close()\n" + cleanupTail +
           "\nend\n" + extra;
}

std::string Removed(const ScriptFolder& folder)
{
    std::ifstream file(std::filesystem::path(folder.Path()) / L"removed.txt");
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

std::vector<std::wstring> Ids(const ProductList& products)
{
    std::vector<std::wstring> ids;
    for (const auto& product : products) {
        ids.push_back(product->GetId());
    }
    return ids;
}

void SelectAll(const ProductList& products)
{
    for (const auto& product : products) {
        product->SetSelected(true);
    }
}

TEST(UiToolLib, OrdersByPriorityKeepingListingOrderAndRemovesInThatOrder)
{
    ScriptFolder folder;
    folder.Write(L"last.lua", ProductScript(folder, "last", "function GetPriority() return 100 end"));
    folder.Write(L"quarantine.lua", ProductScript(folder, "quarantine", "function GetPriority() return 99 end"));
    folder.Write(L"one.lua", ProductScript(folder, "one"));
    folder.Write(L"two.lua", ProductScript(folder, "two"));
    folder.Write(L"first.lua", ProductScript(folder, "first", "function GetPriority() return -5 end"));
    folder.Write(L"helpers.lua", "return {}");

    UiToolLib engine(folder.Path());
    // Equal priorities keep the order of the listing, whatever order the file system lists in.
    const std::vector<std::wstring> listed = engine.ListScripts();
    const auto position = [&](const wchar_t* name) {
        return std::find(listed.begin(), listed.end(), folder.Path() + L"\\" + name) - listed.begin();
    };
    const bool oneFirst = position(L"one.lua") < position(L"two.lua");
    const std::vector<std::wstring> expected = {L"first", oneFirst ? L"one" : L"two", oneFirst ? L"two" : L"one",
                                                L"quarantine", L"last"};

    ProductList products;
    engine.DetectProducts(products);
    EXPECT_EQ(Ids(products), expected);

    SelectAll(products);
    EXPECT_EQ(engine.RemoveProducts(products), UiToolLib::Done);
    EXPECT_EQ(Removed(folder), oneFirst ? "first one two quarantine last " : "first two one quarantine last ");
}

TEST(UiToolLib, FailedCleanupFailsTheRunButTheNextProductIsStillRemoved)
{
    ScriptFolder folder;
    folder.Write(L"a.lua", ProductScript(folder, "a", "function GetPriority() return 1 end", "error('a broke')"));
    folder.Write(L"b.lua", ProductScript(folder, "b", "function GetPriority() return 2 end"));
    UiToolLib engine(folder.Path());
    ProductList products;
    engine.DetectProducts(products);
    SelectAll(products);
    EXPECT_EQ(engine.RemoveProducts(products), UiToolLib::Failed);
    EXPECT_EQ(Removed(folder), "a b ");
}

// The progress page follows these steps: each selected product, in removal order, before its clean-up runs.
TEST(UiToolLib, TellsEachSelectedProductsPlaceAsItsCleanupBeginsAndNamesTheNameless)
{
    ScriptFolder folder;
    folder.Write(L"a.lua", ProductScript(folder, "a",
                                         "function GetPriority() return 1 end\n"
                                         "function GetProductDisplayName() return 'Alpha' end"));
    folder.Write(L"b.lua", ProductScript(folder, "b", "function GetPriority() return 2 end"));
    folder.Write(L"c.lua", ProductScript(folder, "c", "function GetPriority() return 3 end"));
    UiToolLib engine(folder.Path(), [](const std::wstring& id) { return id == L"b" ? L"Named b" : L""; });
    ProductList products;
    engine.DetectProducts(products);
    ASSERT_EQ(Ids(products), (std::vector<std::wstring>{L"a", L"b", L"c"}));
    EXPECT_EQ(products[0]->GetDisplayName(), L"Alpha") << "a script's own name is kept";
    EXPECT_EQ(products[1]->GetDisplayName(), L"Named b");
    EXPECT_EQ(products[2]->GetDisplayName(), L"") << "no name to give";
    EXPECT_EQ(RemovalRecord::Instance().Products()[1].displayName, L"Named b") << "the report names it too";

    products[0]->SetSelected(true);
    products[2]->SetSelected(true);
    std::vector<std::string> steps;
    EXPECT_EQ(engine.RemoveProducts(products,
                                    [&](const ProductConfig& product, size_t number, size_t count) {
                                        steps.push_back(std::string(1, static_cast<char>(product.GetId()[0])) + " " +
                                                        std::to_string(number) + "/" + std::to_string(count) +
                                                        " after '" + Removed(folder) + "'");
                                    }),
              UiToolLib::Done);
    EXPECT_EQ(steps, (std::vector<std::string>{"a 1/2 after ''", "c 2/2 after 'a '"}));
}

TEST(UiToolLib, OnlySelectedProductsAreRemovedAndDetectionErrorsAreForgotten)
{
    ScriptFolder folder;
    folder.Write(L"kept.lua", ProductScript(folder, "kept"));
    folder.Write(L"gone.lua", ProductScript(folder, "gone", "function DetectProduct() error('detect broke') end"));
    UiToolLib engine(folder.Path());
    ProductList products;
    engine.DetectProducts(products);
    ASSERT_EQ(products.size(), 2u);
    EXPECT_TRUE(Status::Instance().IsFailed());
    for (const auto& product : products) {
        product->SetSelected(product->GetId() == L"gone");
        EXPECT_EQ(product->IsDetected(), product->GetId() == L"kept");
    }
    EXPECT_EQ(engine.RemoveProducts(products), UiToolLib::Done);
    EXPECT_EQ(Removed(folder), "gone ");
}

TEST(UiToolLib, FoldersWithoutProductScriptsGiveAnEmptyList)
{
    ScriptFolder libraries;
    libraries.Write(L"lib1.lua", "return {}");
    libraries.Write(L"lib2.lua", "function GetProductId() return 'x' end\nfunction DetectProduct() end");
    ScriptFolder empty;
    empty.Write(L"notes.txt", "function GetProductId() end");
    for (const std::wstring& directory : {libraries.Path(), empty.Path(), empty.Path() + L"\\absent", std::wstring()}) {
        ProductList products;
        UiToolLib(directory).DetectProducts(products);
        EXPECT_TRUE(products.empty()) << std::string(directory.begin(), directory.end());
    }
}

TEST(UiToolLib, OnlyDotLuaFilesAreScriptsAndAnyThatFailsToLoadFailsTheRun)
{
    LogCapture log(L"UnloadedScripts");
    ScriptFolder folder;
    folder.Write(L"good.lua", ProductScript(folder, "good"));
    folder.Write(L"UPPER.LUA", ProductScript(folder, "upper"));
    for (const wchar_t* name : {L"old.lua_old", L"backup.lua~", L"compiled.luac", L"lua"}) {
        folder.Write(name, ProductScript(folder, "ignored"));
    }
    // Ids and names are cut in log lines; a whole 70,000-character id would make the line too long to log.
    folder.Write(L"long.lua", ProductScript(folder, "long",
                                            "function GetProductId() return ('i'):rep(70000) end\n"
                                            "function GetProductDisplayName() return ('n'):rep(70000) end"));
    const std::wstring broken[] = {
        folder.Write(L"syntax.lua", "function GetProductId( return 'x' end"),
        folder.Write(L"raising_library.lua", "error('library broke')"),
        folder.Write(L"needs_broken.lua", "require('raising_library')\n" + ProductScript(folder, "needs")),
    };
    UiToolLib engine(folder.Path());
    std::vector<std::wstring> listed = engine.ListScripts();
    std::sort(listed.begin(), listed.end());
    std::vector<std::wstring> expected = {L"UPPER.LUA",           L"good.lua",  L"long.lua", L"needs_broken.lua",
                                          L"raising_library.lua", L"syntax.lua"};
    for (std::wstring& name : expected) {
        name = folder.Path() + L"\\" + name;
    }
    EXPECT_EQ(listed, expected);

    ProductList products;
    engine.DetectProducts(products);
    EXPECT_EQ(products.size(), 3u);
    SelectAll(products);
    EXPECT_EQ(engine.RemoveProducts(products), UiToolLib::Failed) << "the products of the broken files are not removed";
    std::string removed = Removed(folder);
    EXPECT_TRUE(removed.find("good ") != std::string::npos && removed.find("upper ") != std::string::npos &&
                removed.find("ignored") == std::string::npos)
        << removed;
    const std::string text = log.Text();
    for (const std::wstring& path : broken) {
        const std::string narrow(path.begin(), path.end());
        EXPECT_NE(text.find("UiToolLib::DetectProducts: Script '" + narrow + "' failed to load"), std::string::npos)
            << narrow;
        EXPECT_NE(text.find("UiToolLib::RemoveProducts: Failed, script '" + narrow + "' did not load"),
                  std::string::npos)
            << narrow;
    }
    EXPECT_NE(text.find("Removing product: " + std::string(4096, 'i') + "... (" + std::string(4096, 'n') + "...)\r\n"),
              std::string::npos);

    // The next detection starts afresh.
    for (const std::wstring& path : broken) {
        std::filesystem::remove(path);
    }
    engine.DetectProducts(products);
    SelectAll(products);
    EXPECT_EQ(engine.RemoveProducts(products), UiToolLib::Done);
}

// A product script with a file name and folder outside the ANSI code page, and ';' in the folder's name.
TEST(UiToolLib, ScriptsLoadFromFoldersOfAnyName)
{
    ScriptFolder folder;
    const std::wstring directory = folder.Path() + L"\\\u0421\u043a\u0440\u0438\u043f\u0442\u044b;\u811a\u672c";
    const std::wstring name = L"\u7523\u54c1.lua";
    folder.Write(directory.substr(folder.Path().size() + 1) + L"\\" + name,
                 "local helper = require('helper')\n" + ProductScript(folder, "wide", "", "helper.Done()"));
    folder.Write(directory.substr(folder.Path().size() + 1) + L"\\helper.lua",
                 "return { Done = function() Log.Info('helper ran') end }");
    UiToolLib engine(directory);
    ProductList products;
    engine.DetectProducts(products);
    ASSERT_EQ(products.size(), 1u);
    EXPECT_EQ(dynamic_cast<Product&>(*products.front()).GetScriptName(), name);
    SelectAll(products);
    EXPECT_EQ(engine.RemoveProducts(products), UiToolLib::Done);
    EXPECT_EQ(Removed(folder), "wide ");
}

// Shortens the time limits of script calls for one test.
class ShortTimeLimits {
public:
    ShortTimeLimits() { LuaScript::SetLimits({std::chrono::seconds(1), std::chrono::seconds(2)}); }
    ~ShortTimeLimits() { LuaScript::SetLimits({}); }
};

// A path of the build tree as Wine's drive Z: shows it.
std::string ZPath(std::string path)
{
    std::replace(path.begin(), path.end(), '/', '\\');
    return "Z:" + path;
}

// Looping script code ends at its call's limit, however it loops; time spent waiting inside a host function
// does not count.
TEST(UiToolLib, ScriptCallsEndAtTheirTimeLimit)
{
    const ShortTimeLimits limits;
    LogCapture log(L"TimeLimits");
    ScriptFolder folder;
    // A program starts only from where nobody but administrators can write, which the build tree may not be.
    const std::wstring program = folder.Path() + L"\\nv_product_program.exe";
    ASSERT_TRUE(::CopyFileW(Utf8ToWide(ZPath(NV_PRODUCT_PROGRAM)).c_str(), program.c_str(), FALSE));
    const struct {
        const char* id;
        std::string detect;
        bool detected;
    } cases[] = {
        {"loop", "while true do end", false},
        {"caught", "while true do pcall(function() while true do end end) end", false},
        {"coroutine", "coroutine.wrap(function() while true do end end)()", false},
        {"unhooked", "debug.sethook() while true do end", false},
        {"waits", "return Process.StartProcessAndWaitForCompletion([[" + WideToUtf8(program) + "]], '/sleep 3000')",
         true},
    };
    for (const auto& c : cases) {
        folder.Write(std::wstring(c.id, c.id + std::strlen(c.id)) + L".lua",
                     ProductScript(folder, c.id, "function DetectProduct() " + c.detect + " end"));
    }
    folder.Write(L"slow_cleanup.lua", ProductScript(folder, "slow_cleanup",
                                                    "function GetPriority() return 1 end\n"
                                                    "function CleanupProduct() while true do end end"));
    folder.Write(L"after.lua", ProductScript(folder, "after", "function GetPriority() return 2 end"));
    folder.Write(L"slow_chunk.lua", "while true do end");

    UiToolLib engine(folder.Path());
    ProductList products;
    const auto start = std::chrono::steady_clock::now();
    engine.DetectProducts(products);
    const auto detection = std::chrono::steady_clock::now() - start;
    // Five calls stopped at 1 s and one 3 s wait; far less than a looping script would take without limits.
    EXPECT_LT(detection, std::chrono::seconds(60));
    ASSERT_EQ(products.size(), std::size(cases) + 2);
    for (const auto& product : products) {
        const auto id = product->GetId();
        const auto found = std::find_if(std::begin(cases), std::end(cases), [&](const auto& c) {
            return id == std::wstring(c.id, c.id + std::strlen(c.id));
        });
        EXPECT_EQ(product->IsDetected(), found == std::end(cases) || found->detected)
            << std::string(id.begin(), id.end());
    }
    SelectAll(products);
    EXPECT_EQ(engine.RemoveProducts(products), UiToolLib::Failed);
    EXPECT_NE(Removed(folder).find("after "), std::string::npos) << Removed(folder);
    const std::string text = log.Text();
    for (const char* message :
         {"'DetectProduct' exceeded its time limit of 1 seconds", "'main chunk' exceeded its time limit of 1 seconds",
          "'CleanupProduct' exceeded its time limit of 2 seconds", "debug.sethook is not available to scripts"}) {
        EXPECT_NE(text.find(message), std::string::npos) << message;
    }
}

TEST(UiToolLib, RecordTellsWhatEachProductsCleanupDid)
{
    ScriptFolder folder;
    // Listed in priority order: a raises after 60 error lines, b needs a restart and reports traces, c is clean
    // (a trace reported while it is detected belongs to no clean-up), d is not selected; e fails through Meta after
    // the failure of a, which a run-wide flag alone could not tell apart.
    folder.Write(L"a.lua", ProductScript(folder, "a", "function GetPriority() return 1 end",
                                         "for i = 1, 60 do Log.Error('a line ' .. i) end error('a broke')"));
    folder.Write(L"b.lua", ProductScript(folder, "b", "function GetPriority() return 2 end",
                                         "Meta.SetRebootNeeded('file in use') Log.Warning('not collected')\n"
                                         "Meta.AddTrace('service', 'service B', 'removed')\n"
                                         "Meta.AddTrace('file', 'file C:\\\\b.dll', 'restart')\n"
                                         "Meta.AddTrace('key', 'key B', 'left', 'access denied')"));
    folder.Write(L"c.lua",
                 ProductScript(folder, "c",
                               "function GetPriority() return 3 end\n"
                               "function GetProductDisplayName() return 'Product C' end\n"
                               "function DetectProduct() Meta.AddTrace('key', 'key C', 'left') return true end"));
    folder.Write(L"d.lua", ProductScript(folder, "d", "function GetPriority() return 4 end"));
    folder.Write(L"e.lua", ProductScript(folder, "e",
                                         "function GetPriority() return 5 end\n"
                                         "function DetectProduct() return false end",
                                         "Meta.SetFailed('e gave up')"));
    UiToolLib engine(folder.Path());
    ProductList products;
    engine.DetectProducts(products);
    ASSERT_EQ(Ids(products), (std::vector<std::wstring>{L"a", L"b", L"c", L"d", L"e"}));
    for (const ProductOutcome& outcome : RemovalRecord::Instance().Products()) {
        EXPECT_EQ(outcome.result, ProductOutcome::Result::NotRun) << outcome.id.c_str();
        EXPECT_FALSE(outcome.selected);
    }

    for (const auto& product : products) {
        product->SetSelected(product->GetId() != L"d");
    }
    EXPECT_EQ(engine.RemoveProducts(products), UiToolLib::Failed);
    const std::vector<ProductOutcome> outcomes = RemovalRecord::Instance().Products();
    ASSERT_EQ(outcomes.size(), 5u);
    using Result = ProductOutcome::Result;
    const Result expected[] = {Result::Failed, Result::RemovedRestartNeeded, Result::Removed, Result::NotSelected,
                               Result::Failed};
    for (size_t i = 0; i < outcomes.size(); ++i) {
        EXPECT_EQ(outcomes[i].result, expected[i]) << i;
        EXPECT_EQ(outcomes[i].selected, i != 3) << i;
        EXPECT_EQ(outcomes[i].detected, i != 4) << i;
        EXPECT_EQ(outcomes[i].priority, static_cast<int32_t>(i + 1));
    }
    EXPECT_EQ(outcomes[2].displayName, L"Product C");
    // At most fifty lines, text only, in the order written; the raised error's own line did not fit.
    ASSERT_EQ(outcomes[0].errorLines.size(), RemovalRecord::kMaxErrorLines);
    EXPECT_EQ(outcomes[0].errorLines.front(), L"[a.lua] a line 1");
    EXPECT_EQ(outcomes[0].errorLines.back(), L"[a.lua] a line 50");
    EXPECT_TRUE(outcomes[1].errorLines.empty());
    EXPECT_TRUE(outcomes[2].errorLines.empty());
    ASSERT_EQ(outcomes[4].errorLines.size(), 1u);
    EXPECT_EQ(outcomes[4].errorLines[0], L"[e.lua] e gave up");
    // Each product's own traces, in the order reported.
    using State = TraceOutcome::State;
    ASSERT_EQ(outcomes[1].traces.size(), 3u);
    EXPECT_EQ(outcomes[1].traces[0].item, L"service B");
    EXPECT_EQ(outcomes[1].traces[0].state, State::Removed);
    EXPECT_EQ(outcomes[1].traces[1].item, L"file C:\\b.dll");
    EXPECT_EQ(outcomes[1].traces[1].state, State::Restart);
    EXPECT_EQ(outcomes[1].traces[2].kind, L"key");
    EXPECT_EQ(outcomes[1].traces[2].state, State::Left);
    EXPECT_EQ(outcomes[1].traces[2].reason, L"access denied");
    for (size_t i : {0u, 2u, 4u}) {
        EXPECT_TRUE(outcomes[i].traces.empty()) << i;
    }
}

} // namespace
