#include "engine/status.h"
#include "engine/ui_tool_lib.h"
#include "script_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
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

} // namespace
