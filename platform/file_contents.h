#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// Whose file is read, which decides how it is opened.
enum class FileOrigin {
    // A product's file: its literal path, shared with any writer, refused when it is a link or directory (a link
    // planted at a product's path does not make the tool read what it points to), and a file that shrinks while
    // it is read is a failure.
    Product,
    // The tool's own script: the path as given (links followed, as the interpreter would), shared with readers
    // only, and a file that shrinks while it is read gives what was there.
    ToolScript,
};

// The bytes of a regular file of at most `maxBytes` bytes. False (and `bytes` empty) when the file cannot be
// opened or read or is larger; `error` then holds the reason when given.
bool ReadFileContents(const std::wstring& path, uint64_t maxBytes, std::string& bytes, DWORD* error = nullptr,
                      FileOrigin origin = FileOrigin::Product);
