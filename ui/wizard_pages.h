#pragma once

#include "engine/product_config.h"
#include "ui/dialog_child.h"
#include "ui/nvui_controls.h"

#include <windows.h>

// Title, welcome text, "Start", the copyright line with the licence-terms link and the library notices.
class DialogWelcome : public DialogChild {
public:
    DialogWelcome(UniqueFont pageFont, UniqueFont titleFont, UniqueFont smallFont);

    HWND CreatePage(HINSTANCE instance, HWND parent) override;
    INT_PTR OnInitDialog() override;
    INT_PTR OnCommand(int id, int code, HWND control) override;

private:
    // The fonts outlive the controls that show them.
    UniqueFont m_titleFont;
    UniqueFont m_smallFont;
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
    DialogSelect(UniqueFont pageFont, ProductList products);
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

// The spinner while the products are removed; its "Cancel" stays disabled.
class DialogProgress : public DialogChild {
public:
    explicit DialogProgress(UniqueFont pageFont);

    HWND CreatePage(HINSTANCE instance, HWND parent) override;
    INT_PTR OnInitDialog() override;

private:
    NvUI::Spinner m_spinner;
    NvUI::TextBlock m_message;
    NvUI::Button m_cancel;
};

// The result of the run (message kinds of IGuiManager) with its picture; kind 3 also offers "Restart".
class DialogMessage : public DialogChild {
public:
    DialogMessage(UniqueFont pageFont, int kind);

    HWND CreatePage(HINSTANCE instance, HWND parent) override;
    INT_PTR OnInitDialog() override;

private:
    NvUI::Image m_image;
    NvUI::TextBlock m_message;
    NvUI::Button m_restart;
    NvUI::Button m_close;
    int m_kind;
};
