#include "base/text_conversion.h"

#include <climits>

namespace {

std::wstring MultiByteToWide(UINT codePage, DWORD flags, std::string_view text)
{
    if (text.empty() || text.size() > INT_MAX) {
        return {};
    }
    const int length = static_cast<int>(text.size());
    const int needed = ::MultiByteToWideChar(codePage, flags, text.data(), length, nullptr, 0);
    if (needed <= 0) {
        return {};
    }
    std::wstring result(static_cast<size_t>(needed), L'\0');
    if (::MultiByteToWideChar(codePage, flags, text.data(), length, result.data(), needed) != needed) {
        return {};
    }
    return result;
}

std::string WideToMultiByte(UINT codePage, std::wstring_view text)
{
    if (text.empty() || text.size() > INT_MAX) {
        return {};
    }
    const int length = static_cast<int>(text.size());
    const int needed = ::WideCharToMultiByte(codePage, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) {
        return {};
    }
    std::string result(static_cast<size_t>(needed), '\0');
    if (::WideCharToMultiByte(codePage, 0, text.data(), length, result.data(), needed, nullptr, nullptr) != needed) {
        return {};
    }
    return result;
}

} // namespace

std::wstring Utf8ToWide(std::string_view text)
{
    return MultiByteToWide(CP_UTF8, MB_ERR_INVALID_CHARS, text);
}

std::wstring Utf8ToWideReplacing(std::string_view text)
{
    return MultiByteToWide(CP_UTF8, 0, text);
}

std::wstring AnsiToWide(std::string_view text)
{
    return MultiByteToWide(CP_ACP, 0, text);
}

std::wstring AnsiToWideStrict(std::string_view text)
{
    return MultiByteToWide(CP_ACP, MB_ERR_INVALID_CHARS, text);
}

std::string WideToAnsi(std::wstring_view text)
{
    return WideToMultiByte(CP_ACP, text);
}

std::string WideToUtf8(std::wstring_view text)
{
    return WideToMultiByte(CP_UTF8, text);
}
