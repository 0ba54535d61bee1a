#pragma once

#include "platform/registry.h"

#include <windows.h>

#include <string>
#include <vector>

// Values that hold a list of names (a device class's filter drivers, a network provider order), in every form in
// which Windows reads one: REG_MULTI_SZ with or without its final terminator, or a REG_SZ (or REG_EXPAND_SZ)
// text that is one name, or several joined by `separator` when the list is kept that way. A separator of 0 means
// the text is a single name.
namespace NvNameLists {

// The names of a value of that type, in order; false for a type that holds no list.
bool Parse(DWORD type, const RegistryBytes& data, wchar_t separator, std::vector<std::wstring>& names);
// The data of a list of that type; the names of a text list are joined by the separator.
RegistryBytes Format(DWORD type, const std::vector<std::wstring>& names, wchar_t separator);
// Takes every name equal to one of `unwanted` (ordinal, without regard to case) out of the list, keeping the
// order of the others; true when one was taken out.
bool RemoveNames(std::vector<std::wstring>& names, const std::vector<std::wstring>& unwanted);

} // namespace NvNameLists
