#pragma once

#include "engine/product_config.h"
#include "ui/dialog_child.h"
#include "ui/nvui_controls.h"
#include "ui/product_texts.h"

#include <windows.h>

#include <string>
#include <vector>

// Title, welcome text, "Start", the copyright line with the licence-terms link and the library notices.
class DialogWelcome : public DialogChild {
public:
    DialogWelcome(NvUI::UiFont pageFont, NvUI::UiFont titleFont, NvUI::UiFont smallFont);

    HWND CreatePage(HINSTANCE instance, HWND parent) override;
    INT_PTR OnInitDialog() override;
    INT_PTR OnCommand(int id, int code, HWND control) override;

protected:
    std::vector<NvUI::UiFont*> Fonts() override;

private:
    // The fonts outlive the controls that show them.
    NvUI::UiFont m_titleFont;
    NvUI::UiFont m_smallFont;
    NvUI::TextBlock m_title;
    NvUI::TextBlock m_message;
    NvUI::Button m_start;
    NvUI::StaticLink m_copyright;
    NvUI::TextBlock m_luaNotice;
    NvUI::TextBlock m_zlibNotice;
};

// Remove everything, or pick products from a list with check boxes; the choice is written into the products.
class DialogSelect : public DialogChild {
public:
    DialogSelect(NvUI::UiFont pageFont, ProductList products);
    ~DialogSelect() override;

    HWND CreatePage(HINSTANCE instance, HWND parent) override;
    INT_PTR OnInitDialog() override;
    INT_PTR OnCommand(int id, int code, HWND control) override;
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnDestroy() override;

    void SaveProductSelections();

private:
    void FillList();
    void UpdateNextButton();

    NvUI::Button m_next;
    NvUI::Button m_cancel;
    HWND m_list = nullptr;
    ProductList m_products;
};

// The spinner while the products are removed, with the product being removed; its "Cancel" stays disabled.
class DialogProgress : public DialogChild {
public:
    explicit DialogProgress(NvUI::UiFont pageFont);

    HWND CreatePage(HINSTANCE instance, HWND parent) override;
    INT_PTR OnInitDialog() override;
    void ShowStep(const std::wstring& text);

private:
    NvUI::Spinner m_spinner;
    NvUI::TextBlock m_message;
    NvUI::Button m_cancel;
};

// The result of the run (message kinds of IGuiManager) with its picture; kind 3 also offers "Restart". After a
// removal it lists each product with its outcome, and a failed one says what to do next; the log file is
// offered when there is one.
class DialogMessage : public DialogChild {
public:
    DialogMessage(NvUI::UiFont pageFont, int kind, std::vector<ResultLine> lines, std::wstring logFile);

    HWND CreatePage(HINSTANCE instance, HWND parent) override;
    INT_PTR OnInitDialog() override;
    INT_PTR OnCommand(int id, int code, HWND control) override;

protected:
    void OnDpiApplied() override { SizeResultColumns(); }

private:
    void FillResultList();
    // Text widths do not scale with the cells' padding: the columns are sized from the texts.
    void SizeResultColumns();

    NvUI::Image m_image;
    NvUI::TextBlock m_message;
    NvUI::TextBlock m_nextSteps;
    NvUI::StaticLink m_logLink;
    NvUI::Button m_restart;
    NvUI::Button m_close;
    int m_kind;
    std::vector<ResultLine> m_lines;
    std::wstring m_logFile;
};
