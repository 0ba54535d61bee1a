#pragma once

#include <windows.h>

namespace NvUI {

// The colours the pages draw with: the brand's, or the system's while a high-contrast theme is on, so that
// the pages follow the user's theme as the standard controls do.
namespace Theme {

// Whether a high-contrast theme was on when the setting was last read.
bool IsHighContrast();

// Reads the setting again: at start, and whenever Windows says that settings or colours changed.
void Refresh();

// A brand colour, or in high contrast the system colour (COLOR_*) that has its role.
COLORREF Pick(COLORREF brand, int systemColor);

// The page background as a brush, owned by the system or the stock objects.
HBRUSH WindowBrush();

// Where the setting comes from: SystemParametersInfoW(SPI_GETHIGHCONTRAST), unless a test on a system that
// cannot switch its theme replaces it; null restores the system's.
using Reader = bool (*)();
void SetReader(Reader reader);

} // namespace Theme
} // namespace NvUI
