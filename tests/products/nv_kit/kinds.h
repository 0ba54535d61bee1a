// The kinds of the kit's data file: for each, how the kit installs its lines and how the inventory finds them.
#pragma once

#include "tests/products/nv_kit/devices.h"
#include "tests/products/nv_kit/product_data.h"
#include "tests/products/nv_kit/registry.h"

#include <string>
#include <vector>

namespace NvKit {

// What an installation needs beside the product's lines.
struct Installation {
    std::wstring stateFile; // what the installation chose is added here for the inventory
    bool withAdapter = false;
    std::vector<std::wstring> hives;    // the loaded users' hives, "HKU\<SID>"
    std::vector<std::wstring> profiles; // the users' profile folders
};

// The machine as the inventory sees it, read once for every product it lists.
struct Machine {
    RegistryDump registry;
    std::vector<std::wstring> programs;
    std::vector<Device> devices;
    std::vector<std::wstring> hives;
    std::vector<std::wstring> profiles;
};

// Installs each line of the product, kind by kind in the table's order. Lines of an unknown kind end the program.
void Install(const Product& product, const Installation& installation);
// Prints "<product> <kind> <item>" for every item of the product present on the machine.
void Inventory(const Product& product, const Machine& machine);

std::wstring ServiceKey(const std::wstring& name);
// The per-machine Windows Installer registration's properties of a product code.
std::wstring InstallPropertiesKey(const std::wstring& code);
// "HKLM\<path>" for a path of HKLM, the path itself for one of HKU.
std::wstring RegistryItem(const std::wstring& path);

} // namespace NvKit
