#include "tests/products/nv_kit/output.h"

#include <cstdio>
#include <cstdlib>

namespace NvKit {

std::string Utf8(const std::wstring& text)
{
    const int size =
        ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), size, nullptr,
                          nullptr);
    return bytes;
}

void Print(const std::wstring& line)
{
    const std::string bytes = Utf8(line + L"\n");
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

void Die(const std::wstring& what, DWORD error)
{
    Print(L"nvkit: " + what + L" failed: " + std::to_wstring(error));
    std::fflush(stdout);
    std::exit(1);
}

} // namespace NvKit
