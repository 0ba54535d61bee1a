#pragma once

#include <cstdint>
#include <string>

// Unpacks the script bundle (a zip archive in resource 103 of the executable) into a directory, reading the
// archive straight from the mapped resource.
namespace ZipDropper {

bool ExtractFilesFromResource(const std::wstring& targetDirectory);

// The same extraction over an archive held in memory; the bytes must stay valid during the call.
bool ExtractFilesFromMemory(const void* data, uint64_t size, const std::wstring& targetDirectory);

} // namespace ZipDropper
