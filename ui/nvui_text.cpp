#include "ui/nvui_text.h"

#include <algorithm>

namespace NvUI {
namespace {

LONG MeasureHeight(HDC dc, const std::wstring& text, LONG width, UINT format)
{
    RECT measured = {0, 0, width, 0};
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &measured, format | DT_CALCRECT);
    return measured.bottom - measured.top;
}

// The narrowest width at which a centred paragraph takes no more lines than at full width. Set that narrow,
// its lines come out of even length: wrapping stays free to break anywhere (Japanese and Chinese have no
// blanks), but never leaves a lone word or syllable on the last line.
LONG BalancedWidth(HDC dc, const std::wstring& text, LONG width, UINT format)
{
    const LONG height = MeasureHeight(dc, text, width, format);
    LONG narrow = 1;
    LONG wide = width;
    while (narrow < wide) {
        const LONG middle = narrow + (wide - narrow) / 2;
        if (MeasureHeight(dc, text, middle, format) <= height) {
            wide = middle;
        } else {
            narrow = middle + 1;
        }
    }
    return wide;
}

} // namespace

SIZE MeasureText(HDC dc, const std::wstring& text, HFONT font)
{
    SIZE size = {0, 0};
    if (text.empty()) {
        return size;
    }
    const SelectedObject selected(dc, font);
    ::GetTextExtentExPointW(dc, text.c_str(), static_cast<int>(text.size()), 0, nullptr, nullptr, &size);
    return size;
}

UINT StyleToDrawTextFormat(LONG_PTR style)
{
    UINT format = 0;
    switch (style & SS_TYPEMASK) {
    case SS_CENTER:
        format |= DT_CENTER;
        break;
    case SS_RIGHT:
        format |= DT_RIGHT;
        break;
    case SS_SIMPLE:
    case SS_LEFTNOWORDWRAP:
        format |= DT_SINGLELINE;
        break;
    default:
        break;
    }
    if ((style & SS_CENTERIMAGE) != 0) {
        format |= DT_VCENTER;
    }
    switch (style & SS_ELLIPSISMASK) {
    case SS_ENDELLIPSIS:
        format |= DT_END_ELLIPSIS;
        break;
    case SS_PATHELLIPSIS:
        format |= DT_PATH_ELLIPSIS;
        break;
    default:
        break;
    }
    return format;
}

void DrawTextBlock(HDC dc, RECT rect, const std::wstring& text, HFONT font, COLORREF color, UINT format)
{
    if (text.empty()) {
        return;
    }
    const SelectedObject selected(dc, font);
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, color);
    if ((format & DT_SINGLELINE) != 0) {
        format |= DT_NOPREFIX;
    } else {
        format |= DT_WORDBREAK | DT_NOPREFIX | DT_EDITCONTROL | DT_NOFULLWIDTHCHARBREAK;
    }
    format &= ~static_cast<UINT>(DT_TABSTOP | DT_NOCLIP | DT_EXTERNALLEADING | DT_CALCRECT | DT_INTERNAL |
                                 DT_MODIFYSTRING | DT_PREFIXONLY);
    const int length = static_cast<int>(text.size());
    if ((format & DT_SINGLELINE) == 0) {
        const LONG available = rect.bottom - rect.top;
        const LONG height = std::min(MeasureHeight(dc, text, rect.right - rect.left, format), available);
        if ((format & DT_CENTER) != 0 && height <= available) {
            const LONG width = BalancedWidth(dc, text, rect.right - rect.left, format);
            rect.left += (rect.right - rect.left - width) / 2;
            rect.right = rect.left + width;
        }
        if ((format & DT_VCENTER) != 0) {
            rect.top += (available - height) / 2;
            rect.bottom = rect.top + height;
        } else if ((format & DT_BOTTOM) != 0) {
            rect.top = rect.bottom - height;
        } else {
            rect.bottom = rect.top + height;
        }
    }
    ::DrawTextW(dc, text.c_str(), length, &rect, format);
}

} // namespace NvUI
