#include "tests/products/nv_kit/registry.h"

#include "base/unique_resource.h"
#include "tests/products/nv_kit/output.h"

#include <sddl.h>

#include <algorithm>

namespace NvKit {

namespace {

const std::wstring kUsers = L"HKU\\";

bool StartsWith(const std::wstring& text, const std::wstring& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

REGSAM ViewFlag(View view)
{
    return view == View::Wow32 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
}

UniqueKey CreateForWriting(View view, const std::wstring& key)
{
    const auto [root, path] = SplitRoot(key);
    UniqueKey handle;
    const LSTATUS status =
        ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE | KEY_QUERY_VALUE | ViewFlag(view), nullptr,
                          handle.put(), nullptr);
    if (status != ERROR_SUCCESS) {
        Die(L"RegCreateKeyEx " + key, static_cast<DWORD>(status));
    }
    return handle;
}

void SetValue(View view, const std::wstring& key, const std::wstring& name, DWORD type, const void* data, size_t size)
{
    const UniqueKey handle = CreateForWriting(view, key);
    const LSTATUS status =
        ::RegSetValueExW(handle.get(), name.c_str(), 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(size));
    if (status != ERROR_SUCCESS) {
        Die(L"RegSetValueEx " + key + L"\\" + name, static_cast<DWORD>(status));
    }
}

} // namespace

// The root and the path below it of "HKU\..." (HKEY_USERS) or of an HKLM key.
std::pair<HKEY, std::wstring> SplitRoot(const std::wstring& key)
{
    if (StartsWith(Upper(key.substr(0, kUsers.size())), kUsers)) {
        return {HKEY_USERS, key.substr(kUsers.size())};
    }
    return {HKEY_LOCAL_MACHINE, key};
}

void PrintTree(View view, const std::wstring& key)
{
    const auto [root, path] = SplitRoot(key);
    UniqueKey handle;
    const LSTATUS status = ::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | ViewFlag(view), handle.put());
    if (status == ERROR_FILE_NOT_FOUND) {
        return;
    }
    if (status != ERROR_SUCCESS) {
        Die(L"RegOpenKeyEx " + key, static_cast<DWORD>(status));
    }
    Print(L"K " + key);
    std::vector<std::wstring> subkeys;
    for (DWORD index = 0;; ++index) {
        wchar_t name[16384];
        DWORD nameSize = 16384;
        DWORD type = 0;
        BYTE data[65536];
        DWORD dataSize = sizeof data;
        const LSTATUS read = ::RegEnumValueW(handle.get(), index, name, &nameSize, nullptr, &type, data, &dataSize);
        if (read == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (read != ERROR_SUCCESS) {
            Die(L"RegEnumValue " + key, static_cast<DWORD>(read));
        }
        std::wstring hex;
        for (DWORD i = 0; i < dataSize; ++i) {
            hex += L"0123456789abcdef"[data[i] >> 4];
            hex += L"0123456789abcdef"[data[i] & 15];
        }
        Print(L"V " + key + L"\\" + name + L" " + std::to_wstring(type) + L" " + hex);
    }
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD nameSize = 256;
        const LSTATUS read = ::RegEnumKeyExW(handle.get(), index, name, &nameSize, nullptr, nullptr, nullptr, nullptr);
        if (read == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (read != ERROR_SUCCESS) {
            Die(L"RegEnumKeyEx " + key, static_cast<DWORD>(read));
        }
        subkeys.push_back(name);
    }
    for (const std::wstring& subkey : subkeys) {
        PrintTree(view, key + L"\\" + subkey);
    }
}

RegistryDump RegistryDump::Read()
{
    RegistryDump dump;
    for (const auto& [root, prefix] : {std::pair{HKEY_LOCAL_MACHINE, std::wstring()}, std::pair{HKEY_USERS, kUsers}}) {
        wchar_t name[256];
        for (DWORD index = 0;; ++index) {
            DWORD size = 256;
            if (::RegEnumKeyExW(root, index, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
                break;
            }
            dump.Walk(root, prefix + name);
        }
    }
    for (Entry& entry : dump.entries_) {
        entry.upper = Upper(entry.path);
    }
    dump.sorted_.resize(dump.entries_.size());
    for (size_t index = 0; index < dump.sorted_.size(); ++index) {
        dump.sorted_[index] = index;
    }
    std::sort(dump.sorted_.begin(), dump.sorted_.end(),
              [&](size_t a, size_t b) { return dump.entries_[a].upper < dump.entries_[b].upper; });
    return dump;
}

// Lists the key named by the last component of path (below parent), its values and, depth first, its subkeys.
void RegistryDump::Walk(HKEY parent, const std::wstring& path)
{
    entries_.push_back({true, false, path, {}, 0});
    const size_t self = entries_.size() - 1;
    const std::wstring name = path.substr(path.find_last_of(L'\\') + 1);
    UniqueKey key;
    if (::RegOpenKeyExW(parent, name.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, key.put()) != ERROR_SUCCESS) {
        entries_[self].unreadable = true;
        return;
    }
    std::vector<wchar_t> buffer(16384);
    for (DWORD index = 0;; ++index) {
        DWORD size = static_cast<DWORD>(buffer.size());
        if (::RegEnumValueW(key.get(), index, buffer.data(), &size, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        entries_.push_back({false, false, path + L"\\" + std::wstring(buffer.data(), size), {}, path.size() + 1});
    }
    std::vector<std::wstring> subkeys;
    for (DWORD index = 0;; ++index) {
        DWORD size = static_cast<DWORD>(buffer.size());
        if (::RegEnumKeyExW(key.get(), index, buffer.data(), &size, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        subkeys.emplace_back(buffer.data(), size);
    }
    for (const std::wstring& subkey : subkeys) {
        Walk(key.get(), path + L"\\" + subkey);
    }
}

const RegistryDump::Entry* RegistryDump::Find(bool isKey, const std::wstring& path) const
{
    const std::wstring wanted = Upper(path);
    auto at = std::lower_bound(sorted_.begin(), sorted_.end(), wanted,
                               [&](size_t index, const std::wstring& value) { return entries_[index].upper < value; });
    for (; at != sorted_.end() && entries_[*at].upper == wanted; ++at) {
        if (entries_[*at].isKey == isKey) {
            return &entries_[*at];
        }
    }
    return nullptr;
}

const RegistryDump::Entry* RegistryDump::FindKey(const std::wstring& key) const
{
    return Find(true, key);
}

const RegistryDump::Entry* RegistryDump::FindValue(const std::wstring& key, const std::wstring& name) const
{
    return Find(false, key + L"\\" + name);
}

std::vector<const RegistryDump::Entry*> RegistryDump::Tree(const std::wstring& key) const
{
    std::vector<size_t> found;
    const std::wstring wanted = Upper(key);
    const std::wstring below = wanted + L"\\";
    auto at = std::lower_bound(sorted_.begin(), sorted_.end(), wanted,
                               [&](size_t index, const std::wstring& value) { return entries_[index].upper < value; });
    for (; at != sorted_.end() && StartsWith(entries_[*at].upper, wanted); ++at) {
        if (entries_[*at].isKey && (entries_[*at].upper == wanted || StartsWith(entries_[*at].upper, below))) {
            found.push_back(*at);
        }
    }
    std::sort(found.begin(), found.end());
    std::vector<const Entry*> tree;
    for (size_t index : found) {
        tree.push_back(&entries_[index]);
    }
    return tree;
}

std::vector<std::wstring> UserHives()
{
    std::vector<std::wstring> hives;
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD size = 256;
        if (::RegEnumKeyExW(HKEY_USERS, index, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        const std::wstring sid = name;
        if (StartsWith(sid, L"S-1-5-21-") && sid.find_first_not_of(L"0123456789-", 9) == std::wstring::npos) {
            hives.push_back(kUsers + sid);
        }
    }
    return hives;
}

std::vector<std::wstring> KeyViews(const std::wstring& key)
{
    const std::wstring software = L"SOFTWARE\\";
    const std::wstring classes = L"SOFTWARE\\CLASSES\\";
    const std::wstring upper = Upper(key);
    if (StartsWith(upper, classes)) {
        return {key, L"SOFTWARE\\Classes\\Wow6432Node\\" + key.substr(classes.size())};
    }
    if (StartsWith(upper, software)) {
        return {key, L"SOFTWARE\\Wow6432Node\\" + key.substr(software.size())};
    }
    return {key};
}

void SetString(View view, const std::wstring& key, const std::wstring& name, const std::wstring& data, DWORD type)
{
    SetValue(view, key, name, type, data.c_str(), (data.size() + 1) * sizeof(wchar_t));
}

void SetDword(View view, const std::wstring& key, const std::wstring& name, DWORD data)
{
    SetValue(view, key, name, REG_DWORD, &data, sizeof(data));
}

void CreateKey(View view, const std::wstring& key)
{
    CreateForWriting(view, key);
}

void DeleteValue(const std::wstring& key, const std::wstring& name)
{
    const auto [root, path] = SplitRoot(key);
    const LSTATUS status = ::RegDeleteKeyValueW(root, path.c_str(), name.c_str());
    if (status != ERROR_SUCCESS) {
        Die(L"RegDeleteKeyValue " + key + L"\\" + name, static_cast<DWORD>(status));
    }
}

// The value's data as text (a list's strings with their NULs); empty when the key or the value is missing,
// nothing when it cannot be read or has another type.
std::optional<std::wstring> ReadText(const std::wstring& key, const std::wstring& name, DWORD type)
{
    const auto [root, path] = SplitRoot(key);
    DWORD size = 0;
    LSTATUS status = ::RegGetValueW(root, path.c_str(), name.c_str(), type, nullptr, nullptr, &size);
    if (status == ERROR_FILE_NOT_FOUND) {
        return std::wstring();
    }
    std::wstring text(size / sizeof(wchar_t) + 2, L'\0');
    size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (status == ERROR_SUCCESS) {
        status = ::RegGetValueW(root, path.c_str(), name.c_str(), type, nullptr, text.data(), &size);
    }
    if (status != ERROR_SUCCESS) {
        ::SetLastError(static_cast<DWORD>(status));
        return std::nullopt;
    }
    text.resize(size / sizeof(wchar_t));
    return text;
}

std::optional<std::wstring> ReadString(const std::wstring& key, const std::wstring& name)
{
    std::optional<std::wstring> text = ReadText(key, name, RRF_RT_REG_SZ);
    if (!text || text->empty()) {
        return std::nullopt;
    }
    return text->c_str();
}

bool SetKeySecurity(View view, const std::wstring& key, const wchar_t* sddl)
{
    const auto [root, path] = SplitRoot(key);
    UniqueKey handle;
    const LSTATUS status = ::RegOpenKeyExW(root, path.c_str(), 0, WRITE_DAC | ViewFlag(view), handle.put());
    if (status == ERROR_FILE_NOT_FOUND) {
        return false;
    }
    if (status != ERROR_SUCCESS) {
        Die(L"RegOpenKeyEx " + key, static_cast<DWORD>(status));
    }
    UniqueLocal descriptor;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
            sddl, SDDL_REVISION_1, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()), nullptr)) {
        Die(L"ConvertStringSecurityDescriptorToSecurityDescriptor");
    }
    const LSTATUS set = ::RegSetKeySecurity(
        handle.get(), DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, descriptor.get());
    if (set != ERROR_SUCCESS) {
        Die(L"RegSetKeySecurity " + key, static_cast<DWORD>(set));
    }
    return true;
}

std::optional<std::vector<std::wstring>> ReadList(const std::wstring& key, const std::wstring& name, ListForm form)
{
    const wchar_t separator = form == ListForm::Commas ? L',' : L'\0';
    const std::optional<std::wstring> text =
        ReadText(key, name, form == ListForm::Commas ? RRF_RT_REG_SZ : RRF_RT_REG_MULTI_SZ);
    if (!text) {
        return std::nullopt;
    }
    std::vector<std::wstring> strings;
    // A list ends at its first empty string; text after it is not part of the list.
    const std::wstring end(form == ListForm::Commas ? 1 : 2, L'\0');
    const std::wstring data = text->substr(0, text->find(end)) + separator;
    for (size_t start = 0, end = data.find(separator); end != std::wstring::npos; end = data.find(separator, start)) {
        if (end > start) {
            strings.push_back(data.substr(start, end - start));
        }
        start = end + 1;
    }
    return strings;
}

std::vector<std::wstring> ReadListOrExit(const std::wstring& key, const std::wstring& name, ListForm form)
{
    std::optional<std::vector<std::wstring>> list = ReadList(key, name, form);
    if (!list) {
        Die(L"reading HKLM\\" + key + L"\\" + name);
    }
    return *list;
}

void WriteList(const std::wstring& key, const std::wstring& name, const std::vector<std::wstring>& strings,
               ListForm form)
{
    const wchar_t separator = form == ListForm::Commas ? L',' : L'\0';
    std::wstring data;
    for (const std::wstring& text : strings) {
        data += (data.empty() || form == ListForm::MultiString ? L"" : std::wstring(1, separator)) + text;
        if (form == ListForm::MultiString) {
            data += separator;
        }
    }
    data += L'\0';
    SetValue(View::Native, key, name, form == ListForm::Commas ? REG_SZ : REG_MULTI_SZ, data.data(),
             data.size() * sizeof(wchar_t));
}

std::vector<std::wstring> WithFirst(const std::wstring& name, const std::vector<std::wstring>& list,
                                    const std::wstring& last)
{
    std::vector<std::wstring> result;
    std::vector<std::wstring> seen;
    const auto add = [&](const std::wstring& entry) {
        if (std::find(seen.begin(), seen.end(), Upper(entry)) == seen.end()) {
            seen.push_back(Upper(entry));
            result.push_back(entry);
        }
    };
    add(name);
    for (const std::wstring& entry : list) {
        add(entry);
    }
    if (!last.empty()) {
        add(last);
    }
    return result;
}

std::wstring PackGuid(const std::wstring& guid)
{
    std::wstring hex;
    for (wchar_t c : guid) {
        if (iswxdigit(c)) {
            hex += c;
        }
    }
    if (hex.size() != 32) {
        return {};
    }
    std::wstring packed(hex.rbegin() + 24, hex.rend());
    packed.append(hex.rbegin() + 20, hex.rbegin() + 24);
    packed.append(hex.rbegin() + 16, hex.rbegin() + 20);
    for (size_t at = 16; at < 32; at += 2) {
        packed += hex[at + 1];
        packed += hex[at];
    }
    return packed;
}

std::wstring Upper(std::wstring text)
{
    ::CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

} // namespace NvKit
