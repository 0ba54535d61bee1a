// What nv_kit prints: UTF-8 lines on standard output.
#pragma once

#include <windows.h>

#include <string>

namespace NvKit {

std::string Utf8(const std::wstring& text);
void Print(const std::wstring& line);

// Prints "nvkit: <what> failed: <error>" and ends the program with exit code 1: a kit that half-installs a
// product or half-reads a machine would make every check after it a guess.
[[noreturn]] void Die(const std::wstring& what, DWORD error = ::GetLastError());

} // namespace NvKit
