#pragma once

#include <cstdint>
#include <string>

// The bytes of a regular file of at most `maxBytes` bytes. False (and `bytes` empty) when the file cannot be
// opened or read, is larger, or is a link: a link planted at a product's path does not make the tool read
// what it points to.
bool ReadFileContents(const std::wstring& path, uint64_t maxBytes, std::string& bytes);
