#pragma once

#include <windows.h>

#include <string>
#include <string_view>

// Conversions at the boundary between the tool's UTF-16 text and the narrow text of the Lua side.

// Strict: text that is not valid UTF-8 gives the empty string.
std::wstring Utf8ToWide(std::string_view text);
// For text that is only shown or logged: each invalid sequence becomes U+FFFD.
std::wstring Utf8ToWideReplacing(std::string_view text);
// The ANSI code page is the one in which the interpreter opens script files.
std::wstring AnsiToWide(std::string_view text);
// Strict: a byte sequence that is not valid in the ANSI code page gives the empty string.
std::wstring AnsiToWideStrict(std::string_view text);
std::string WideToAnsi(std::wstring_view text);
// A text that does not convert gives the empty string.
std::string WideToUtf8(std::wstring_view text);
