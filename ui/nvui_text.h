#pragma once

#include "ui/nvui_graphics.h"

#include <windows.h>

#include <string>

// Text measuring and drawing of the flat controls.
namespace NvUI {

// The extent of one line of text in the font; zero for no text.
SIZE MeasureText(HDC dc, const std::wstring& text, HFONT font);

// Draws wrapped or single-line text into the rectangle, vertically placed as the format asks.
void DrawTextBlock(HDC dc, RECT rect, const std::wstring& text, HFONT font, COLORREF color, UINT format);

// DrawTextW format bits for the alignment and ellipsis bits of a static control's style.
UINT StyleToDrawTextFormat(LONG_PTR style);

} // namespace NvUI
