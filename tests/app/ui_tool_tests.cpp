#include "app/option_parser.h"
#include "app/ui_tool.h"
#include "platform/unique_resource.h"
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

    std::vector<std::wstring> pages;
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
              (std::vector<std::wstring>{L"welcome", L"select", L"progress", L"message0", L"message2", L"message3"}));
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
        EXPECT_EQ(gui.pages, (std::vector<std::wstring>{L"welcome", L"select", L"progress", L"message3"}));
        EXPECT_EQ(tool.IsRebootRequested(), answer == IGuiManager::Ok) << "answer " << answer;
    }
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
