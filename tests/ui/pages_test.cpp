// The wizard pages made from the real templates, in-process: texts, the selection handed to the products,
// the buttons each result page offers, and a GUI manager whose main window cannot be made.
#include "engine/product_config.h"
#include "resources/dialog_controls.h"
#include "resources/resource.h"
#include "ui/gui_manager.h"
#include "ui/settings.h"
#include "ui/wizard_pages.h"

#include "tests/harness/wait_for.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <functional>
#include <future>
#include <memory>
#include <utility>
#include <vector>

namespace {

constexpr wchar_t kTexts[] = L"en:Title=Test Title\n"
                             L"en:Welcome=Welcome text\n"
                             L"en:Start=START\n"
                             L"en:CopyrightNV=© %YEAR% Norvane. [#]Terms[#] (since %YEAR%)\n"
                             L"en:RadioAll=All\n"
                             L"en:RadioSelect=Some\n"
                             L"en:Name=Name\n"
                             L"en:Detected=Found\n"
                             L"en:ProductId_logs=Log files\n"
                             L"en:ProductId_quarantine=Quarantined files\n"
                             L"en:Next=Next\n"
                             L"en:Cancel=Cancel\n"
                             L"en:Removing=Removing\n"
                             L"en:Finished=Done\n"
                             L"en:FinishedReboot=Restart needed\n"
                             L"en:ErrorGeneric=Generic error\n"
                             L"en:ErrorPrivileges=No rights\n"
                             L"en:Reboot=Restart\n"
                             L"en:Close=Close\n"
                             L"en:RemovingProduct=Removing %PRODUCT% (%NUMBER%/%COUNT%)\n"
                             L"en:ResultRemoved=Removed\n"
                             L"en:ResultRemovedReboot=Restart needed\n"
                             L"en:ResultFailed=Failed\n"
                             L"en:NextSteps=Try again\n"
                             L"en:ShowLog=Show log\n";
// An address the link refuses, so that no test opens a browser.
constexpr wchar_t kCustomizations[] =
    L"en:UrlEULT=ftp://terms.invalid/\nLuaCopyright=Lua notice\nZlibCopyright=zlib notice\n";

// The pages' parent: records the commands they forward.
class MainWindow : public NvUI::Dialog {
public:
    MainWindow() { Create(::GetModuleHandleW(nullptr), IDD_MAIN, nullptr); }
    INT_PTR OnCommand(int id, int, HWND control) override
    {
        commands.emplace_back(id, control);
        return 1;
    }
    std::vector<std::pair<int, HWND>> commands;
};

class Pages : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        Settings& settings = Settings::Instance();
        settings.LoadFromString(0, kTexts);
        settings.LoadFromString(1, kCustomizations);
        settings.SelectLanguage(L"en");
        const INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES};
        ::InitCommonControlsEx(&controls);
    }

    static NvUI::UiFont Font() { return NvUI::UiFont(12, 400, 0); }

    void Create(DialogChild& page)
    {
        ASSERT_NE(page.CreatePage(::GetModuleHandleW(nullptr), m_main.GetHandle()), nullptr);
    }

    static std::wstring Text(const DialogChild& page, int id) { return page.GetText(id); }

    static void Click(const DialogChild& page, int id) { ::SendMessageW(Item(page, id), BM_CLICK, 0, 0); }

    static HWND Item(const DialogChild& page, int id) { return ::GetDlgItem(page.GetHandle(), id); }

    // Whether the control itself is shown; its page and the main window stay hidden in these tests.
    static bool Shown(const DialogChild& page, int id)
    {
        return (::GetWindowLongPtrW(Item(page, id), GWL_STYLE) & WS_VISIBLE) != 0;
    }

    std::shared_ptr<NvUI::GdiPlus::Instance> m_gdiPlus = NvUI::GdiPlus::Instance::Acquire();
    MainWindow m_main;
};

std::wstring RowText(HWND list, int row, int column)
{
    wchar_t text[128] = {};
    ListView_GetItemText(list, row, column, text, static_cast<int>(std::size(text)));
    return text;
}

void SetRowChecked(HWND list, int row, bool checked)
{
    ListView_SetItemState(list, row, INDEXTOSTATEIMAGEMASK(checked ? 2 : 1), LVIS_STATEIMAGEMASK);
}

ProductList SampleProducts()
{
    return {std::make_shared<TestProductConfig>(L"logs", L"", true, false),
            std::make_shared<TestProductConfig>(L"quarantine", L"", false, false),
            std::make_shared<TestProductConfig>(L"alpha", L"Alpha", true, false),
            std::make_shared<TestProductConfig>(L"beta", L"Beta", false, true)};
}

std::vector<bool> Selection(const ProductList& products)
{
    std::vector<bool> selected;
    for (const auto& product : products) {
        selected.push_back(product->IsSelected());
    }
    return selected;
}

TEST_F(Pages, WelcomeShowsItsTextsAndAnswersOnce)
{
    DialogWelcome page(Font(), NvUI::UiFont(24, 300, 0), NvUI::UiFont(8, 400, 0));
    Create(page);
    EXPECT_EQ(Text(page, IDC_WELCOME_TITLE), L"Test Title");
    EXPECT_EQ(Text(page, IDC_MESSAGE_TEXT), L"Welcome text");
    EXPECT_EQ(Text(page, IDOK), L"START");
    EXPECT_EQ(Text(page, IDC_COPYRIGHT), L"© 2016-2019 Norvane. Terms (since 2016-2019)");
    EXPECT_EQ(Text(page, IDC_LUA_NOTICE), L"Lua notice");
    EXPECT_EQ(Text(page, IDC_ZLIB_NOTICE), L"zlib notice");

    // The space bar on the link opens the (here refused) address; the page stays and answers nothing.
    ::SendMessageW(Item(page, IDC_COPYRIGHT), WM_CHAR, L' ', 0);
    EXPECT_TRUE(m_main.commands.empty());

    Click(page, IDOK);
    Click(page, IDOK);
    ASSERT_EQ(m_main.commands.size(), 1u) << "a second click must not answer the next page";
    EXPECT_EQ(m_main.commands[0], std::make_pair(IDOK, page.GetHandle()));
}

TEST_F(Pages, RemoveAllKeepsTheLogFiles)
{
    const ProductList products = SampleProducts();
    DialogSelect page(Font(), products);
    Create(page);
    EXPECT_EQ(::IsDlgButtonChecked(page.GetHandle(), IDC_RADIO_ALL), BST_CHECKED);
    EXPECT_FALSE(Shown(page, IDC_PRODUCT_LIST));
    EXPECT_TRUE(::IsWindowEnabled(Item(page, IDOK)));
    Click(page, IDOK);
    EXPECT_EQ(Selection(products), (std::vector<bool>{false, true, true, true}));
    ASSERT_EQ(m_main.commands.size(), 1u);
    EXPECT_EQ(m_main.commands[0].first, IDOK);
}

TEST_F(Pages, SelectionListsTheProductsAndHandsBackTheTicks)
{
    const ProductList products = SampleProducts();
    DialogSelect page(Font(), products);
    Create(page);
    const HWND list = Item(page, IDC_PRODUCT_LIST);
    ASSERT_EQ(ListView_GetItemCount(list), 4);
    const wchar_t* names[] = {L"Log files", L"Quarantined files", L"Alpha", L"Beta"};
    const wchar_t* found[] = {L"Found", L"", L"Found", L""};
    for (int row = 0; row < 4; ++row) {
        EXPECT_EQ(RowText(list, row, 0), names[row]);
        EXPECT_EQ(RowText(list, row, 1), found[row]);
        EXPECT_EQ(ListView_GetCheckState(list, row) != 0, row == 3) << "ticked as the product was selected";
    }

    Click(page, IDC_RADIO_SELECT);
    EXPECT_TRUE(Shown(page, IDC_PRODUCT_LIST));
    SetRowChecked(list, 3, false);
    EXPECT_FALSE(::IsWindowEnabled(Item(page, IDOK))) << "nothing ticked";
    SetRowChecked(list, 0, true);
    SetRowChecked(list, 2, true);
    EXPECT_TRUE(::IsWindowEnabled(Item(page, IDOK)));
    SetRowChecked(list, 0, false);
    SetRowChecked(list, 2, false);
    Click(page, IDC_RADIO_ALL);
    EXPECT_TRUE(::IsWindowEnabled(Item(page, IDOK))) << "remove-all needs no tick";
    EXPECT_FALSE(Shown(page, IDC_PRODUCT_LIST));
    Click(page, IDC_RADIO_SELECT);
    EXPECT_FALSE(::IsWindowEnabled(Item(page, IDOK)));

    SetRowChecked(list, 0, true);
    SetRowChecked(list, 2, true);
    Click(page, IDOK);
    EXPECT_EQ(Selection(products), (std::vector<bool>{true, false, true, false}));
    ASSERT_EQ(m_main.commands.size(), 1u);
}

TEST_F(Pages, CancelSavesNothing)
{
    const ProductList products = SampleProducts();
    DialogSelect page(Font(), products);
    Create(page);
    Click(page, IDCANCEL);
    EXPECT_EQ(Selection(products), (std::vector<bool>{false, false, false, true}));
    ASSERT_EQ(m_main.commands.size(), 1u);
    EXPECT_EQ(m_main.commands[0].first, IDCANCEL);
}

TEST_F(Pages, ResultPagesShowTheirKind)
{
    const struct {
        int kind;
        const wchar_t* text;
        bool offersRestart;
    } cases[] = {
        {IGuiManager::ErrorGeneric, L"Generic error", false},
        {IGuiManager::ErrorPrivileges, L"No rights", false},
        {IGuiManager::Finished, L"Done", false},
        {IGuiManager::FinishedReboot, L"Restart needed", true},
        {42, L"Generic error", false},
    };
    for (const auto& entry : cases) {
        DialogMessage page(Font(), entry.kind, {}, L"");
        Create(page);
        EXPECT_EQ(Text(page, IDC_MESSAGE_TEXT), entry.text) << "kind " << entry.kind;
        EXPECT_EQ(Shown(page, IDOK), entry.offersRestart) << "kind " << entry.kind;
        EXPECT_EQ(Text(page, IDCANCEL), L"Close");
        if (entry.offersRestart) {
            EXPECT_EQ(Text(page, IDOK), L"Restart");
        }
    }
}

// After a removal: each product the removal ran, by the name a person knows, with its outcome; what to do next
// only after a failure; the log file offered as a link when the run writes one.
TEST_F(Pages, ResultPagesListEachProductRunAndOfferTheLog)
{
    const std::vector<ProductOutcome> outcomes = {
        {L"alpha", L"Alpha", 50, true, true, ProductOutcome::Result::Removed, 0, {}, {}},
        {L"beta", L"Beta", 50, false, false, ProductOutcome::Result::NotSelected, 0, {}, {}},
        {L"quarantine", L"", 99, true, true, ProductOutcome::Result::Failed, 0, {}, {}},
        {L"logs", L"", 100, true, true, ProductOutcome::Result::RemovedRestartNeeded, 0, {}, {}},
    };
    const struct {
        int kind;
        const wchar_t* logFile;
        bool nextSteps;
    } cases[] = {
        {IGuiManager::ErrorGeneric, L"C:\\logs\\tool.log", true},
        {IGuiManager::Finished, L"C:\\logs\\tool.log", false},
        {IGuiManager::FinishedReboot, L"", false},
    };
    for (const auto& entry : cases) {
        std::unique_ptr<DialogChild> page = GuiManager::MakeResultPage(entry.kind, outcomes, entry.logFile);
        Create(*page);
        const HWND list = Item(*page, IDC_RESULT_LIST);
        ASSERT_NE(list, nullptr) << "kind " << entry.kind;
        ASSERT_EQ(ListView_GetItemCount(list), 3) << "the product that was not selected is not listed";
        const wchar_t* rows[][2] = {
            {L"Alpha", L"Removed"}, {L"Quarantined files", L"Failed"}, {L"Log files", L"Restart needed"}};
        for (int row = 0; row < 3; ++row) {
            EXPECT_EQ(RowText(list, row, 0), rows[row][0]);
            EXPECT_EQ(RowText(list, row, 1), rows[row][1]);
        }
        EXPECT_EQ(Shown(*page, IDC_NEXT_STEPS), entry.nextSteps) << "kind " << entry.kind;
        if (entry.nextSteps) {
            EXPECT_EQ(Text(*page, IDC_NEXT_STEPS), L"Try again");
        }
        EXPECT_EQ(Shown(*page, IDC_LOG_LINK), entry.logFile[0] != L'\0') << "kind " << entry.kind;
        if (entry.logFile[0] != L'\0') {
            EXPECT_EQ(Text(*page, IDC_LOG_LINK), L"Show log");
            EXPECT_TRUE((::GetWindowLongPtrW(Item(*page, IDC_LOG_LINK), GWL_STYLE) & WS_TABSTOP) != 0);
        }
    }
    // Nothing ran (a run ended before its removal): the page without a list.
    DialogMessage early(Font(), IGuiManager::ErrorGeneric, {}, L"C:\\logs\\tool.log");
    Create(early);
    EXPECT_EQ(Item(early, IDC_RESULT_LIST), nullptr);
    EXPECT_TRUE(Shown(early, IDC_LOG_LINK));
}

TEST_F(Pages, ProgressNamesTheProductAndCannotBeCancelled)
{
    DialogProgress page(Font());
    Create(page);
    EXPECT_EQ(Text(page, IDC_MESSAGE_TEXT), L"Removing");
    EXPECT_EQ(Text(page, IDCANCEL), L"Cancel");
    EXPECT_FALSE(::IsWindowEnabled(Item(page, IDCANCEL)));
    page.ShowStep(ProgressStepText(ShownProductName(L"quarantine", L""), 2, 3));
    EXPECT_EQ(Text(page, IDC_MESSAGE_TEXT), L"Removing Quarantined files (2/3)");
    // A product name that spells a placeholder stays as it is.
    page.ShowStep(ProgressStepText(L"%COUNT% Tool", 1, 3));
    EXPECT_EQ(Text(page, IDC_MESSAGE_TEXT), L"Removing %COUNT% Tool (1/3)");
}

// Enter and Esc as the main window's dialog manager reports them, on every page: each answers the button the
// page shows for it, nothing while that button is hidden or disabled, and Esc on the welcome page (no cancel
// button) what its close box would. The default button is the one Enter presses when no button has the focus.
TEST_F(Pages, KeysAnswerTheButtonsThatCanBePressed)
{
    const ProductList products = SampleProducts();
    const struct {
        const char* page;
        std::function<std::unique_ptr<DialogChild>()> make;
        int defaultButton;
        int enterAnswers; // 0: nothing
        int escAnswers;
    } cases[] = {
        {"welcome", [] { return GuiManager::MakeWelcomePage(); }, IDOK, IDOK, IDCANCEL},
        {"select", [&] { return GuiManager::MakeSelectPage(products); }, IDOK, IDOK, IDCANCEL},
        {"progress", [] { return GuiManager::MakeProgressPage(); }, IDCANCEL, 0, 0},
        {"error", [] { return GuiManager::MakeMessagePage(IGuiManager::ErrorGeneric); }, IDCANCEL, 0, IDCANCEL},
        {"restart", [] { return GuiManager::MakeMessagePage(IGuiManager::FinishedReboot); }, IDOK, IDOK, IDCANCEL},
    };
    // Keys reach only what can be seen.
    ::ShowWindow(m_main.GetHandle(), SW_SHOWNOACTIVATE);
    for (const auto& entry : cases) {
        for (const int key : {IDOK, IDCANCEL}) {
            std::unique_ptr<DialogChild> page = entry.make();
            Create(*page);
            page->Show(SW_SHOW);
            const LRESULT pageDefault = ::SendMessageW(page->GetHandle(), DM_GETDEFID, 0, 0);
            EXPECT_EQ(pageDefault, MAKELRESULT(entry.defaultButton, DC_HASDEFID)) << entry.page;
            page->TakeFocus();
            EXPECT_EQ(::SendMessageW(m_main.GetHandle(), DM_GETDEFID, 0, 0),
                      MAKELRESULT(entry.defaultButton, DC_HASDEFID))
                << entry.page << ": the main window's dialog manager follows the page";
            m_main.commands.clear();
            page->AnswerKey(key);
            page->AnswerKey(key);
            const int expected = key == IDOK ? entry.enterAnswers : entry.escAnswers;
            if (expected == 0) {
                EXPECT_TRUE(m_main.commands.empty()) << entry.page << " answered key " << key;
            } else {
                ASSERT_EQ(m_main.commands.size(), 1u) << entry.page << ", key " << key;
                EXPECT_EQ(m_main.commands[0], std::make_pair(expected, page->GetHandle())) << entry.page;
            }
        }
    }
}

TEST(LaunchUrl, AcceptsWebAddressesAndLocalPagesOnly)
{
    const struct {
        const wchar_t* address;
        bool accepted;
    } cases[] = {
        {L"https://www.norvane.com/en/legal", true},
        {L"http://www.norvane.com/", true},
        {L"file:///C:/terms/license.html", true},
        {L"file:///C:/terms/license.htm", true},
        {L"HTTPS://www.norvane.com/", false},
        {L"file:///C:/terms/license.txt", false},
        {L"file:///C:/terms/license.HTML", false},
        {L"ftp://www.norvane.com/", false},
        {L"", false},
    };
    for (const auto& entry : cases) {
        EXPECT_EQ(DialogChild::IsAcceptedAddress(entry.address), entry.accepted)
            << ::testing::PrintToString(std::wstring(entry.address));
    }
    EXPECT_FALSE(DialogChild::LaunchUrl(L"HTTPS://www.norvane.com/")) << "refused before anything is opened";
}

// The removal cannot be stopped, so its result must be seen: while the progress page shows, the close box, the
// system menu's Close and a plain WM_CLOSE leave the window; on the result page closing answers as before.
TEST_F(Pages, TheWindowStaysUntilTheRemovalHasEnded)
{
    const UniqueEvent stop(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    GuiManager gui(::GetModuleHandleW(nullptr), stop.get());
    ASSERT_TRUE(gui.Run());
    const HWND main = gui.GetHandle();
    const auto pageText = [main](std::string& seen) {
        const HWND page = ::FindWindowExW(main, nullptr, L"#32770", nullptr);
        wchar_t text[128] = {};
        ::GetDlgItemTextW(page, IDC_MESSAGE_TEXT, text, static_cast<int>(std::size(text)));
        seen = ::testing::PrintToString(std::wstring(text));
        return std::wstring(text);
    };
    ASSERT_TRUE(gui.ShowProgress());
    ::PostMessageW(main, WM_SYSCOMMAND, SC_CLOSE, 0);
    ::PostMessageW(main, WM_CLOSE, 0, 0);
    const TestProductConfig alpha(L"alpha", L"Alpha", true, true);
    gui.ShowProgressStep(alpha, 1, 2);
    // The step is handled after the two closes that were posted before it.
    EXPECT_TRUE(NvTest::WaitFor(10000, "the progress page to name the product",
                                [&](std::string& seen) { return pageText(seen) == L"Removing Alpha (1/2)"; }));
    EXPECT_EQ(::WaitForSingleObject(stop.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the window is still there";
    EXPECT_TRUE(::GetMenuState(::GetSystemMenu(main, FALSE), SC_CLOSE, MF_BYCOMMAND) & MF_GRAYED);

    const std::vector<ProductOutcome> outcomes = {
        {L"alpha", L"Alpha", 50, true, true, ProductOutcome::Result::Removed, 0, {}, {}}};
    auto answer = std::async(std::launch::async, [&] { return gui.ShowResult(IGuiManager::Finished, outcomes); });
    EXPECT_TRUE(
        NvTest::WaitFor(10000, "the result page", [&](std::string& seen) { return pageText(seen) == L"Done"; }));
    EXPECT_FALSE(::GetMenuState(::GetSystemMenu(main, FALSE), SC_CLOSE, MF_BYCOMMAND) & MF_GRAYED);
    ::PostMessageW(main, WM_CLOSE, 0, 0);
    EXPECT_EQ(answer.get(), IGuiManager::Cancel) << "closed on the result page";
    gui.Quit();
}

TEST(GuiManagerStart, NoMainWindowEndsEveryQuestionWithCancel)
{
    // A module without dialog template 127: the window thread cannot make the main window.
    const UniqueEvent stop(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    GuiManager gui(::GetModuleHandleW(L"kernel32.dll"), stop.get());
    EXPECT_FALSE(gui.Run());
    EXPECT_EQ(::WaitForSingleObject(stop.get(), 0), WAIT_OBJECT_0) << "the window thread has ended";
    EXPECT_EQ(gui.ShowWelcome(), IGuiManager::Cancel);
    EXPECT_EQ(gui.ShowSelect(SampleProducts()), IGuiManager::Cancel);
    EXPECT_FALSE(gui.ShowProgress());
    EXPECT_EQ(gui.ShowMessage(IGuiManager::Finished), IGuiManager::Cancel);
    gui.Quit();
}

} // namespace
