#pragma once

#include <cstdarg>
#include <cstddef>

// printf-style formatting with the Windows conventions ("%s" wide in wide formats, "%S"/"%hs" narrow, "%Iu"),
// also accepting "%zu"/"%zd", which older msvcrt.dll builds reject.
namespace NvQorLogging {

// Formats into buffer[capacity]: the length written (at most capacity - 1, NUL-terminated), or -1 when the
// text does not fit or the format is bad.
int FormatText(wchar_t* buffer, size_t capacity, const wchar_t* format, va_list args);
int FormatText(char* buffer, size_t capacity, const char* format, va_list args);

} // namespace NvQorLogging
