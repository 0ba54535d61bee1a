#include "ui/nvui_theme.h"

#include <atomic>

namespace NvUI::Theme {
namespace {

bool SystemHighContrast()
{
    HIGHCONTRASTW setting = {};
    setting.cbSize = sizeof(setting);
    return ::SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(setting), &setting, 0) &&
           (setting.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

std::atomic<Reader> g_reader{nullptr};
std::atomic<bool> g_highContrast{false};

} // namespace

bool IsHighContrast()
{
    return g_highContrast.load();
}

void Refresh()
{
    const Reader reader = g_reader.load();
    g_highContrast = reader != nullptr ? reader() : SystemHighContrast();
}

COLORREF Pick(COLORREF brand, int systemColor)
{
    return IsHighContrast() ? ::GetSysColor(systemColor) : brand;
}

HBRUSH WindowBrush()
{
    return IsHighContrast() ? ::GetSysColorBrush(COLOR_WINDOW) : static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
}

void SetReader(Reader reader)
{
    g_reader = reader;
}

} // namespace NvUI::Theme
