#pragma once

// The lines of a text as drawn: bands of rows with ink, each as wide as its widest row's ink.
#include <windows.h>

#include <algorithm>
#include <vector>

template <typename IsInk> std::vector<LONG> InkLineWidths(const RECT& area, IsInk isInk)
{
    std::vector<LONG> widths;
    bool inLine = false;
    for (LONG y = area.top; y < area.bottom; ++y) {
        LONG left = area.right;
        LONG right = area.left - 1;
        for (LONG x = area.left; x < area.right; ++x) {
            if (isInk(x, y)) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
        }
        if (right < left) {
            inLine = false;
            continue;
        }
        if (!inLine) {
            widths.push_back(0);
            inLine = true;
        }
        widths.back() = std::max(widths.back(), right - left + 1);
    }
    return widths;
}
