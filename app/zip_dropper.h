#pragma once

#include <string>

// Unpacks the script bundle stored in the executable's resources.
namespace ZipDropper {
bool ExtractFilesFromResource(const std::wstring& targetDirectory);
} // namespace ZipDropper
