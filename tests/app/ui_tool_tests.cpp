#include "app/ui_tool.h"
#include "base/option_parser.h"
#include "base/unique_resource.h"
#include "tests/engine/script_folder.h"
#include "ui/gui_manager.h"
#include "ui/language_select.h"
#include "ui/settings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Records every page question and answers with a fixed button.
class RecordingGui : public IGuiManager {
public:
    bool Run() override { return true; }
    void Quit() override {}
    int ShowMessage(int kind) override
    {
        pages.push_back(L"message" + std::to_wstring(kind));
        return messageAnswer;
    }
    int ShowWelcome() override
    {
        pages.push_back(L"welcome");
        return Ok;
    }
    int ShowSelect(const ProductList& products) override
    {
        pages.push_back(L"select");
        shownProducts = products;
        if (selectDefaults) {
            SelectAllButLogs(products);
        }
        return Ok;
    }
    bool ShowProgress() override
    {
        pages.push_back(L"progress");
        return true;
    }
    void ShowProgressStep(const ProductConfig& product, size_t number, size_t count) override
    {
        pages.push_back(L"step " + product.GetId() + L" " + std::to_wstring(number) + L"/" + std::to_wstring(count));
    }
    int ShowResult(int kind, const std::vector<ProductOutcome>& shown) override
    {
        pages.push_back(L"result" + std::to_wstring(kind));
        outcomes = shown;
        return messageAnswer;
    }

    std::vector<std::wstring> pages;
    std::vector<ProductOutcome> outcomes;
    ProductList shownProducts;
    int messageAnswer = Cancel;
    bool selectDefaults = false;
};

class ToolWithoutAdministrator : public UiTool {
public:
    using UiTool::UiTool;
    bool CreateWorkDir(int& exitCode) override
    {
        ++workDirAttempts;
        return UiTool::CreateWorkDir(exitCode);
    }
    int workDirAttempts = 0;

protected:
    bool HasAdministratorRights() override { return false; }
};

class PageFlow : public ::testing::Test {
protected:
    void SetUp() override
    {
        NvOptionParser::Instance().Reset();
        ASSERT_TRUE(Settings::Instance().LoadFromString(1, L"en:UrlEULT=https://example.invalid/en"));
    }
    void Parse(const wchar_t* commandLine) { ASSERT_TRUE(UiTool::ParseCommandLine(commandLine)); }

    RecordingGui gui;
    LanguageSelect languageSelect;
    UniqueEvent stopEvent{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

TEST_F(PageFlow, WithoutAdministratorRightsShowsPrivilegesPageBeforeAnyDirectory)
{
    Parse(L"tool.exe /silent");
    ToolWithoutAdministrator tool(&gui, &languageSelect, stopEvent.get());
    EXPECT_EQ(tool.Execute(), UiTool::ExitNotAdministrator);
    EXPECT_EQ(gui.pages, std::vector<std::wstring>{L"message1"});
    EXPECT_EQ(tool.workDirAttempts, 0);
}

TEST_F(PageFlow, TestPagesNeedNoAdministratorAndShowTenProducts)
{
    Parse(L"tool.exe /testui");
    ToolWithoutAdministrator tool(&gui, &languageSelect, stopEvent.get());
    EXPECT_EQ(tool.Execute(), UiTool::ExitDone);
    EXPECT_EQ(gui.pages,
              (std::vector<std::wstring>{L"welcome", L"select", L"progress", L"result0", L"result2", L"result3"}));
    ASSERT_EQ(gui.shownProducts.size(), 10u);
    for (size_t i = 0; i < gui.shownProducts.size(); ++i) {
        const auto& product = gui.shownProducts[i];
        EXPECT_EQ(product->GetId(), L"id");
        EXPECT_EQ(product->GetDisplayName(), L"Example product name " + std::to_wstring(i + 1));
        EXPECT_EQ(product->IsDetected(), i % 3 == 0);
        EXPECT_FALSE(product->IsSelected());
    }
    EXPECT_EQ(tool.workDirAttempts, 0);
}

TEST_F(PageFlow, ClosedWindowAfterProgressSkipsResultPages)
{
    Parse(L"tool.exe /testui");
    ::SetEvent(stopEvent.get());
    ToolWithoutAdministrator tool(&gui, &languageSelect, stopEvent.get());
    EXPECT_EQ(tool.Execute(), UiTool::ExitDone);
    EXPECT_EQ(gui.pages, (std::vector<std::wstring>{L"welcome", L"select", L"progress"}));
}

TEST_F(PageFlow, RestartButtonOnlyRecordsTheRequest)
{
    ScriptFolder scripts;
    scripts.Write(L"delta.lua", "function GetProductId() return 'delta' end\n"
                                "function DetectProduct() return true end\n"
                                "function CleanupProduct() Meta.SetRebootNeeded() return true end\n");
    Parse((L"tool.exe /scripts=\"" + scripts.Path() + L"\"").c_str());
    gui.selectDefaults = true;
    for (const int answer : {IGuiManager::Cancel, IGuiManager::Ok}) {
        gui.pages.clear();
        gui.messageAnswer = answer;
        UiTool tool(&gui, &languageSelect, stopEvent.get());
        // Execute itself must not request the restart: the session end would overtake the clean-up.
        EXPECT_EQ(tool.Execute(), UiTool::ExitRebootNeeded) << "answer " << answer;
        EXPECT_EQ(gui.pages,
                  (std::vector<std::wstring>{L"welcome", L"select", L"progress", L"step delta 1/1", L"result3"}));
        EXPECT_EQ(tool.IsRebootRequested(), answer == IGuiManager::Ok) << "answer " << answer;
    }
}

// The progress page hears of each product as its clean-up begins, and the result page gets the run report's
// own outcomes: the product that failed among those that were removed, the log files not run.
TEST_F(PageFlow, EachProductsStepAndOutcomeReachThePages)
{
    ScriptFolder scripts;
    const std::string product = "function DetectProduct() return true end\n";
    scripts.Write(L"alpha.lua", "function GetProductId() return 'alpha' end\n" + product +
                                    "function CleanupProduct() return true end\n");
    scripts.Write(L"gamma.lua", "function GetProductId() return 'gamma' end\nfunction GetPriority() return 60 end\n" +
                                    product + "function CleanupProduct() error('cannot remove gamma') end\n");
    scripts.Write(L"logs.lua", "function GetProductId() return 'logs' end\nfunction GetPriority() return 100 end\n" +
                                   product + "function CleanupProduct() return true end\n");
    Parse((L"tool.exe /scripts=\"" + scripts.Path() + L"\"").c_str());
    gui.selectDefaults = true;
    UiTool tool(&gui, &languageSelect, stopEvent.get());
    EXPECT_EQ(tool.Execute(), UiTool::ExitError);
    EXPECT_EQ(gui.pages, (std::vector<std::wstring>{L"welcome", L"select", L"progress", L"step alpha 1/2",
                                                    L"step gamma 2/2", L"result0"}));
    std::vector<std::wstring> results;
    for (const ProductOutcome& outcome : gui.outcomes) {
        results.push_back(outcome.id + L" " + std::to_wstring(static_cast<int>(outcome.result)));
    }
    using Result = ProductOutcome::Result;
    EXPECT_EQ(results, (std::vector<std::wstring>{L"alpha " + std::to_wstring(static_cast<int>(Result::Removed)),
                                                  L"gamma " + std::to_wstring(static_cast<int>(Result::Failed)),
                                                  L"logs " + std::to_wstring(static_cast<int>(Result::NotSelected))}));
}

TEST_F(PageFlow, MissingTemporaryFolderShowsTheGenericError)
{
    Parse(L"tool.exe");
    const LogCapture log(L"MissingTemporaryFolder");
    const std::wstring missing = L"C:\\nv-no-such-folder-" + std::to_wstring(::GetCurrentProcessId());
    for (const wchar_t* name : {L"TMP", L"TEMP"}) {
        ::SetEnvironmentVariableW(name, missing.c_str());
    }
    UiTool tool(&gui, &languageSelect, stopEvent.get());
    EXPECT_EQ(tool.Execute(), UiTool::ExitError);
    EXPECT_EQ(gui.pages, std::vector<std::wstring>{L"message0"});
    const std::string expected = "E: UiTool::CreateWorkDir: Failed to create a working directory in '" +
                                 std::string(missing.begin(), missing.end()) + "\\', last error = 3";
    EXPECT_NE(log.Text().find(expected), std::string::npos) << log.Text();
}

} // namespace
