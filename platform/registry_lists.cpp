#include "platform/registry_lists.h"

#include <algorithm>
#include <cstring>

namespace NvNameLists {
namespace {

bool IsText(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ;
}

bool SameName(const std::wstring& a, const std::wstring& b)
{
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

std::wstring Trimmed(const std::wstring& text)
{
    const size_t first = text.find_first_not_of(L' ');
    return first == std::wstring::npos ? std::wstring() : text.substr(first, text.find_last_not_of(L' ') - first + 1);
}

} // namespace

bool Parse(DWORD type, const RegistryBytes& data, wchar_t separator, std::vector<std::wstring>& names)
{
    names.clear();
    if (type != REG_MULTI_SZ && !IsText(type)) {
        return false;
    }
    std::wstring text(data.size() / sizeof(wchar_t), L'\0');
    std::memcpy(text.data(), data.data(), text.size() * sizeof(wchar_t));
    if (type == REG_MULTI_SZ) {
        // An empty string ends the list; the last name may lack its terminator.
        for (size_t start = 0; start < text.size();) {
            const size_t end = std::min(text.find(L'\0', start), text.size());
            if (end == start) {
                break;
            }
            names.push_back(text.substr(start, end - start));
            start = end + 1;
        }
        return true;
    }
    // A text ends at its first NUL, as every reader of it sees it.
    text.resize(std::min(text.find(L'\0'), text.size()));
    for (size_t start = 0; start <= text.size();) {
        const size_t end = separator == L'\0' ? text.size() : std::min(text.find(separator, start), text.size());
        if (std::wstring name = Trimmed(text.substr(start, end - start)); !name.empty()) {
            names.push_back(std::move(name));
        }
        start = end + 1;
    }
    return true;
}

RegistryBytes Format(DWORD type, const std::vector<std::wstring>& names, wchar_t separator)
{
    std::wstring text;
    for (const std::wstring& name : names) {
        if (IsText(type) && !text.empty()) {
            text += separator;
        }
        text += name;
        if (type == REG_MULTI_SZ) {
            text += L'\0';
        }
    }
    text += L'\0';
    RegistryBytes data(text.size() * sizeof(wchar_t));
    std::memcpy(data.data(), text.data(), data.size());
    return data;
}

bool RemoveNames(std::vector<std::wstring>& names, const std::vector<std::wstring>& unwanted)
{
    const auto kept = std::remove_if(names.begin(), names.end(), [&](const std::wstring& name) {
        return std::any_of(unwanted.begin(), unwanted.end(),
                           [&](const std::wstring& other) { return SameName(name, other); });
    });
    const bool removed = kept != names.end();
    names.erase(kept, names.end());
    return removed;
}

} // namespace NvNameLists
