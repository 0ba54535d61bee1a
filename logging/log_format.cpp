#include "logging/log_format.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <map>
#include <mutex>
#include <string_view>

namespace NvQorLogging {
namespace {

template <typename Char> bool HasLetterZ(const Char* format)
{
    for (; *format != 0; ++format) {
        if (*format == Char('z')) {
            return true;
        }
    }
    return false;
}

template <typename Char> bool IsFlagWidthOrPrecision(Char c)
{
    return c > 0 && c < 0x80 && std::strchr("-+ #0123456789.*", static_cast<char>(c)) != nullptr;
}

// msvcrt spells the size_t length modifier "I"; C99's "z" is unknown to older builds of it.
template <typename Char> std::basic_string<Char> WithWindowsSizeModifier(const Char* format)
{
    std::basic_string<Char> result(format);
    for (size_t i = 0; i < result.size(); ++i) {
        if (result[i] != Char('%')) {
            continue;
        }
        ++i;
        if (i < result.size() && result[i] == Char('%')) {
            continue;
        }
        while (i < result.size() && IsFlagWidthOrPrecision(result[i])) {
            ++i;
        }
        if (i < result.size() && result[i] == Char('z')) {
            result[i] = Char('I');
        }
    }
    return result;
}

int Vsn(wchar_t* buffer, size_t count, const wchar_t* format, va_list args)
{
    return _vsnwprintf(buffer, count, format, args);
}

int Vsn(char* buffer, size_t count, const char* format, va_list args)
{
    return _vsnprintf(buffer, count, format, args);
}

template <typename Char> int FormatInto(Char* buffer, size_t capacity, const Char* format, va_list args)
{
    if (capacity == 0) {
        return -1;
    }
    static constexpr Char empty[] = {0};
    if (format == nullptr) {
        format = empty;
    }
    // msvcrt's _vsn*printf return -1 when the text is longer than the count and leave out the terminating NUL
    // when it is exactly as long; one unit is kept back for it.
    const int length = HasLetterZ(format) ? Vsn(buffer, capacity - 1, WithWindowsSizeModifier(format).c_str(), args)
                                          : Vsn(buffer, capacity - 1, format, args);
    if (length < 0 || static_cast<size_t>(length) >= capacity) {
        buffer[0] = 0;
        return -1;
    }
    buffer[length] = 0;
    return length;
}

} // namespace

int FormatText(wchar_t* buffer, size_t capacity, const wchar_t* format, va_list args)
{
    return FormatInto(buffer, capacity, format, args);
}

int FormatText(char* buffer, size_t capacity, const char* format, va_list args)
{
    return FormatInto(buffer, capacity, format, args);
}

// GCC writes "Type Scope::Name(Parameters) const [with T = ...]" and "{anonymous}" for an unnamed namespace;
// the name is the last blank-separated word before the parameter list, outside template arguments.
std::wstring FunctionName(const char* prettyFunction)
{
    const std::string_view text(prettyFunction);
    constexpr std::string_view kOperatorCall = "operator()";
    size_t nameStart = 0;
    size_t nameEnd = text.size();
    int depth = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '<') {
            ++depth;
        } else if (c == '>') {
            --depth;
        } else if (depth == 0 && c == ' ') {
            nameStart = i + 1;
        } else if (depth == 0 && c == '(') {
            if (text.compare(i - std::min(i, kOperatorCall.size() - 2), kOperatorCall.size(), kOperatorCall) == 0) {
                ++i;
                continue;
            }
            nameEnd = i;
            break;
        }
    }
    std::string name;
    depth = 0;
    for (const char c : text.substr(nameStart, nameEnd - nameStart)) {
        if (c == '<') {
            ++depth;
        } else if (c == '>') {
            --depth;
        } else if (depth == 0) {
            name += c;
        }
    }
    std::wstring result;
    constexpr std::string_view kAnonymous = "{anonymous}";
    for (size_t i = 0; i < name.size(); ++i) {
        if (name.compare(i, kAnonymous.size(), kAnonymous) == 0) {
            result += L"`anonymous-namespace'";
            i += kAnonymous.size() - 1;
        } else {
            result += static_cast<wchar_t>(static_cast<unsigned char>(name[i]));
        }
    }
    return result;
}

const wchar_t* FunctionNameOf(const char* prettyFunction)
{
    const DWORD lastError = ::GetLastError();
    static std::mutex lock;
    static std::map<const char*, std::wstring> names; // keyed by the address of the function's own text
    const wchar_t* name = nullptr;
    {
        const std::lock_guard<std::mutex> guard(lock);
        auto found = names.find(prettyFunction);
        if (found == names.end()) {
            found = names.emplace(prettyFunction, FunctionName(prettyFunction)).first;
        }
        name = found->second.c_str();
    }
    ::SetLastError(lastError);
    return name;
}

} // namespace NvQorLogging
