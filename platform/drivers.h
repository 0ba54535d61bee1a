#pragma once

#include <string>
#include <vector>

// Devices and driver packages of a product, through setupapi (callers link setupapi). Log lines carry the names
// the scripts know these calls by.
namespace NvDrivers {

// What a driver package says about itself, as setupapi reads its description (strings substituted).
struct Package {
    std::wstring provider;
    std::vector<std::wstring> services;
    std::vector<std::wstring> files;
};

// Removes every present device, of any class, whose manufacturer and one of whose hardware ids equal the
// given ones (case-sensitively). True when every match was removed, also when nothing matched.
bool UninstallDevices(const std::wstring& manufacturer, const std::wstring& hardwareId);

// The package's provider, the services its install sections add (AddService) and the files they copy
// (CopyFiles, by file list or "@name", and each service's binary). Comments and other sections say nothing.
bool ReadPackage(const std::wstring& path, Package& package);

} // namespace NvDrivers
