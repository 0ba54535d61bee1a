#include "platform/registry.h"

#include "base/text_conversion.h"
#include "platform/registry_keys.h"

#include <climits>
#include <cstring>
#include <cwchar>
#include <utility>

RegistryError ToRegistryError(LSTATUS status)
{
    switch (status) {
    case ERROR_SUCCESS:
        return RegistryError::Success;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return RegistryError::NotFound;
    case ERROR_ACCESS_DENIED:
        return RegistryError::AccessDenied;
    case ERROR_INVALID_PARAMETER:
        return RegistryError::InvalidArgument;
    default:
        return RegistryError::Failure;
    }
}

namespace {

RegistryError MapError(LSTATUS status)
{
    return ToRegistryError(status);
}

std::vector<std::wstring> Utf8ListToWide(const std::vector<std::string>& strings)
{
    std::vector<std::wstring> result;
    result.reserve(strings.size());
    for (const std::string& text : strings) {
        result.push_back(Utf8ToWide(text));
    }
    return result;
}

std::vector<std::string> WideListToUtf8(const std::vector<std::wstring>& strings)
{
    std::vector<std::string> result;
    result.reserve(strings.size());
    for (const std::wstring& text : strings) {
        result.push_back(WideToUtf8(text));
    }
    return result;
}

bool HasNul(const std::wstring& name)
{
    return name.find(L'\0') != std::wstring::npos;
}

// Joins below the root without a leading backslash, so that top-level keys can be named too.
std::wstring JoinKeyPath(const std::wstring& parent, const std::wstring& name)
{
    return parent.empty() ? name : parent + L"\\" + name;
}

bool SplitKeyPath(const std::wstring& keyPath, std::wstring& parent, std::wstring& name)
{
    const size_t separator = keyPath.rfind(L'\\');
    if (separator == std::wstring::npos) {
        return false;
    }
    parent = keyPath.substr(0, separator);
    name = keyPath.substr(separator + 1);
    return true;
}

// Reads a value of any size; the loop covers a value that grows between the size query and the read.
LSTATUS QueryValue(HKEY key, const std::wstring& valueName, RegistryBytes& data, DWORD& type)
{
    data.clear();
    DWORD size = 0;
    LSTATUS status = ::RegQueryValueExW(key, valueName.c_str(), nullptr, &type, nullptr, &size);
    while (status == ERROR_SUCCESS) {
        data.resize(size);
        status = ::RegQueryValueExW(key, valueName.c_str(), nullptr, &type, data.data(), &size);
        if (status == ERROR_SUCCESS) {
            data.resize(size);
            return status;
        }
        if (status == ERROR_MORE_DATA) {
            status = ERROR_SUCCESS;
        }
    }
    data.clear();
    return status;
}

std::wstring BytesToText(const RegistryBytes& data)
{
    std::wstring text(data.size() / sizeof(wchar_t), L'\0');
    memcpy(text.data(), data.data(), text.size() * sizeof(wchar_t));
    return text;
}

} // namespace

bool Win32Registry::Finish(RegistryError result, RegistryError* code)
{
    m_lastCode = result;
    if (code != nullptr) {
        *code = result;
    }
    return result == RegistryError::Success;
}

RegistryError Win32Registry::OpenKey(const std::wstring& keyPath, REGSAM access, UniqueKey& key) const
{
    return MapError(::RegOpenKeyExW(m_root, keyPath.c_str(), 0, access | m_accessFlags, key.put()));
}

LSTATUS ListNamesOf(HKEY key, bool values, std::wstring& buffer, std::vector<std::wstring>& names)
{
    names.clear();
    for (DWORD index = 0;; ++index) {
        DWORD length = static_cast<DWORD>(buffer.size());
        const LSTATUS status =
            values ? ::RegEnumValueW(key, index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr)
                   : ::RegEnumKeyExW(key, index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) {
            return ERROR_SUCCESS;
        }
        if (status != ERROR_SUCCESS) {
            names.clear();
            return status;
        }
        names.emplace_back(buffer.data(), length);
    }
}

RegistryError Win32Registry::ListNames(const std::wstring& keyPath, bool values, std::vector<std::wstring>& names) const
{
    names.clear();
    UniqueKey key;
    if (const RegistryError opened = OpenKey(keyPath, KEY_READ, key); opened != RegistryError::Success) {
        return opened;
    }
    std::wstring buffer(values ? kValueNameBuffer : kKeyNameBuffer, L'\0');
    return MapError(ListNamesOf(key.get(), values, buffer, names));
}

RegistryError Win32Registry::CountEntries(const std::wstring& keyPath, bool values, uint32_t& count) const
{
    count = 0;
    UniqueKey key;
    if (const RegistryError opened = OpenKey(keyPath, KEY_READ, key); opened != RegistryError::Success) {
        return opened;
    }
    DWORD subKeys = 0;
    DWORD valueCount = 0;
    const LSTATUS status = ::RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr,
                                              &valueCount, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_SUCCESS) {
        count = values ? valueCount : subKeys;
    }
    return MapError(status);
}

// Enumeration and counting.

uint32_t Win32Registry::CountSubKeys(const std::string& keyPath, RegistryError* code)
{
    uint32_t count = 0;
    Finish(CountEntries(Utf8ToWide(keyPath), false, count), code);
    return count;
}

uint32_t Win32Registry::CountValues(const std::string& keyPath, RegistryError* code)
{
    uint32_t count = 0;
    Finish(CountEntries(Utf8ToWide(keyPath), true, count), code);
    return count;
}

std::string Win32Registry::GetSubKeyPath(const std::string& keyPath, uint32_t index, RegistryError* code)
{
    std::vector<std::string> names;
    GetSubKeys(keyPath, names, code);
    if (m_lastCode != RegistryError::Success) {
        return {};
    }
    if (index >= names.size()) {
        Finish(RegistryError::InvalidArgument, code);
        return {};
    }
    return keyPath.empty() ? names[index] : keyPath + "\\" + names[index];
}

uint32_t Win32Registry::GetSubKeys(const std::wstring& keyPath, std::vector<std::wstring>& names, RegistryError* code)
{
    Finish(ListNames(keyPath, false, names), code);
    return static_cast<uint32_t>(names.size());
}

uint32_t Win32Registry::GetSubKeys(const std::string& keyPath, std::vector<std::string>& names, RegistryError* code)
{
    std::vector<std::wstring> wide;
    GetSubKeys(Utf8ToWide(keyPath), wide, code);
    names = WideListToUtf8(wide);
    return static_cast<uint32_t>(names.size());
}

uint32_t Win32Registry::GetValueNames(const std::wstring& keyPath, std::vector<std::wstring>& names,
                                      RegistryError* code)
{
    Finish(ListNames(keyPath, true, names), code);
    return static_cast<uint32_t>(names.size());
}

uint32_t Win32Registry::GetValueNames(const std::string& keyPath, std::vector<std::string>& names, RegistryError* code)
{
    std::vector<std::wstring> wide;
    GetValueNames(Utf8ToWide(keyPath), wide, code);
    names = WideListToUtf8(wide);
    return static_cast<uint32_t>(names.size());
}

// Keys.

bool Win32Registry::KeyExists(const std::wstring& keyPath, RegistryError* code)
{
    UniqueKey key;
    return Finish(OpenKey(keyPath, READ_CONTROL, key), code);
}

bool Win32Registry::KeyExists(const std::string& keyPath, RegistryError* code)
{
    return KeyExists(Utf8ToWide(keyPath), code);
}

bool Win32Registry::SubKeyExists(const std::wstring& parentPath, const std::wstring& name, RegistryError* code)
{
    return KeyExists(JoinKeyPath(parentPath, name), code);
}

bool Win32Registry::SubKeyExists(const std::string& parentPath, const std::string& name, RegistryError* code)
{
    return SubKeyExists(Utf8ToWide(parentPath), Utf8ToWide(name), code);
}

bool Win32Registry::CreateSubKey(const std::wstring& parentPath, const std::wstring& name, RegistryError* code)
{
    if (name.empty()) {
        return Finish(RegistryError::InvalidArgument, code);
    }
    UniqueKey key;
    return Finish(MapError(::RegCreateKeyExW(m_root, JoinKeyPath(parentPath, name).c_str(), 0, nullptr, 0,
                                             KEY_CREATE_SUB_KEY | m_accessFlags, nullptr, key.put(), nullptr)),
                  code);
}

bool Win32Registry::CreateSubKey(const std::string& parentPath, const std::string& name, RegistryError* code)
{
    return CreateSubKey(Utf8ToWide(parentPath), Utf8ToWide(name), code);
}

bool Win32Registry::CreateKey(const std::wstring& keyPath, RegistryError* code)
{
    std::wstring parent;
    std::wstring name;
    if (!SplitKeyPath(keyPath, parent, name)) {
        return CreateSubKey(std::wstring(), keyPath, code);
    }
    // Creating a key creates the missing keys above it as well.
    return CreateSubKey(parent, name, code);
}

bool Win32Registry::CreateKey(const std::string& keyPath, RegistryError* code)
{
    return CreateKey(Utf8ToWide(keyPath), code);
}

bool Win32Registry::DeleteSubKey(const std::wstring& parentPath, const std::wstring& name, RegistryError* code)
{
    if (name.empty()) {
        return Finish(RegistryError::InvalidArgument, code);
    }
    UniqueKey parent;
    if (const RegistryError opened = OpenKey(parentPath, KEY_READ, parent); opened != RegistryError::Success) {
        return Finish(opened, code);
    }
    // The Ex form is the one that honours the view flag for the name being deleted.
    return Finish(
        MapError(::RegDeleteKeyExW(parent.get(), name.c_str(), m_accessFlags & (KEY_WOW64_32KEY | KEY_WOW64_64KEY), 0)),
        code);
}

bool Win32Registry::DeleteSubKey(const std::string& parentPath, const std::string& name, RegistryError* code)
{
    return DeleteSubKey(Utf8ToWide(parentPath), Utf8ToWide(name), code);
}

bool Win32Registry::DeleteKey(const std::wstring& keyPath, RegistryError* code)
{
    std::wstring parent;
    std::wstring name;
    if (!SplitKeyPath(keyPath, parent, name)) {
        return Finish(RegistryError::InvalidArgument, code);
    }
    return DeleteSubKey(parent, name, code);
}

bool Win32Registry::DeleteKey(const std::string& keyPath, RegistryError* code)
{
    return DeleteKey(Utf8ToWide(keyPath), code);
}

bool Win32Registry::DeleteBranch(const std::wstring& parentPath, const std::wstring& name, RegistryError* code)
{
    if (name.empty()) {
        return Finish(RegistryError::InvalidArgument, code);
    }
    const std::wstring path = JoinKeyPath(parentPath, name);
    // A branch that cannot be enumerated is left to the final deletion to report.
    std::vector<std::wstring> subKeys;
    ListNames(path, false, subKeys);
    for (const std::wstring& subKey : subKeys) {
        // A path cut at a NUL would name this key or another one: never follow such a name.
        if (HasNul(subKey)) {
            return Finish(RegistryError::InvalidArgument, code);
        }
        if (!DeleteBranch(path, subKey, code)) {
            return false;
        }
    }
    return DeleteSubKey(parentPath, name, code);
}

bool Win32Registry::DeleteBranch(const std::string& parentPath, const std::string& name, RegistryError* code)
{
    return DeleteBranch(Utf8ToWide(parentPath), Utf8ToWide(name), code);
}

// Values.

bool Win32Registry::GetValueRaw(const std::wstring& keyPath, const std::wstring& valueName, RegistryBytes& bytes,
                                DWORD& type, RegistryError* code)
{
    bytes.clear();
    type = REG_NONE;
    UniqueKey key;
    if (const RegistryError opened = OpenKey(keyPath, KEY_READ, key); opened != RegistryError::Success) {
        return Finish(opened, code);
    }
    return Finish(MapError(QueryValue(key.get(), valueName, bytes, type)), code);
}

bool Win32Registry::GetValueRaw(const std::string& keyPath, const std::string& valueName, RegistryBytes& bytes,
                                DWORD& type, RegistryError* code)
{
    return GetValueRaw(Utf8ToWide(keyPath), Utf8ToWide(valueName), bytes, type, code);
}

DWORD Win32Registry::GetValueType(const std::wstring& keyPath, const std::wstring& valueName, RegistryError* code)
{
    UniqueKey key;
    if (const RegistryError opened = OpenKey(keyPath, KEY_READ, key); opened != RegistryError::Success) {
        Finish(opened, code);
        return REG_NONE;
    }
    DWORD type = REG_NONE;
    if (!Finish(MapError(::RegQueryValueExW(key.get(), valueName.c_str(), nullptr, &type, nullptr, nullptr)), code)) {
        return REG_NONE;
    }
    return type;
}

DWORD Win32Registry::GetValueType(const std::string& keyPath, const std::string& valueName, RegistryError* code)
{
    return GetValueType(Utf8ToWide(keyPath), Utf8ToWide(valueName), code);
}

bool Win32Registry::GetString(const std::wstring& keyPath, const std::wstring& valueName, std::wstring& text,
                              RegistryError* code)
{
    text.clear();
    RegistryBytes data;
    DWORD type = REG_NONE;
    if (!GetValueRaw(keyPath, valueName, data, type, code)) {
        return false;
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
        return Finish(RegistryError::WrongType, code);
    }
    text = BytesToText(data);
    if (!text.empty() && text.back() == L'\0') {
        text.pop_back();
    }
    return true;
}

bool Win32Registry::GetString(const std::wstring& keyPath, const std::wstring& valueName, std::string& text,
                              RegistryError* code)
{
    std::wstring wide;
    const bool read = GetString(keyPath, valueName, wide, code);
    text = WideToUtf8(wide);
    return read;
}

bool Win32Registry::GetString(const std::string& keyPath, const std::string& valueName, std::string& text,
                              RegistryError* code)
{
    return GetString(Utf8ToWide(keyPath), Utf8ToWide(valueName), text, code);
}

bool Win32Registry::GetString(const std::string& keyPath, const std::string& valueName, std::wstring& text,
                              RegistryError* code)
{
    return GetString(Utf8ToWide(keyPath), Utf8ToWide(valueName), text, code);
}

bool Win32Registry::GetBinary(const std::wstring& keyPath, const std::wstring& valueName, RegistryBytes& bytes,
                              RegistryError* code)
{
    DWORD type = REG_NONE;
    if (!GetValueRaw(keyPath, valueName, bytes, type, code)) {
        return false;
    }
    if (type != REG_BINARY) {
        bytes.clear();
        return Finish(RegistryError::WrongType, code);
    }
    return true;
}

bool Win32Registry::GetBinary(const std::string& keyPath, const std::string& valueName, RegistryBytes& bytes,
                              RegistryError* code)
{
    return GetBinary(Utf8ToWide(keyPath), Utf8ToWide(valueName), bytes, code);
}

bool Win32Registry::GetMultiString(const std::wstring& keyPath, const std::wstring& valueName,
                                   std::vector<std::wstring>& strings, RegistryError* code)
{
    strings.clear();
    RegistryBytes data;
    DWORD type = REG_NONE;
    if (!GetValueRaw(keyPath, valueName, data, type, code)) {
        return false;
    }
    if (type != REG_MULTI_SZ) {
        return Finish(RegistryError::WrongType, code);
    }
    // An empty string ends the list; text after the last NUL is not a complete string.
    const std::wstring text = BytesToText(data);
    size_t start = 0;
    for (size_t end = text.find(L'\0'); end != std::wstring::npos && end > start; end = text.find(L'\0', start)) {
        strings.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return true;
}

bool Win32Registry::GetMultiString(const std::string& keyPath, const std::string& valueName,
                                   std::vector<std::string>& strings, RegistryError* code)
{
    std::vector<std::wstring> wide;
    const bool read = GetMultiString(Utf8ToWide(keyPath), Utf8ToWide(valueName), wide, code);
    strings = WideListToUtf8(wide);
    return read;
}

// DWORD and QWORD reads accept their own type and REG_NONE; the query reports the type even when the data
// does not fit.
bool Win32Registry::GetNumber(const std::wstring& keyPath, const std::wstring& valueName, DWORD expectedType,
                              void* value, DWORD size, RegistryError* code)
{
    UniqueKey key;
    if (const RegistryError opened = OpenKey(keyPath, KEY_READ, key); opened != RegistryError::Success) {
        return Finish(opened, code);
    }
    DWORD type = expectedType;
    uint64_t data = 0;
    const LSTATUS status =
        ::RegQueryValueExW(key.get(), valueName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
    if (type != REG_NONE && type != expectedType) {
        return Finish(RegistryError::WrongType, code);
    }
    if (status == ERROR_SUCCESS) {
        memcpy(value, &data, size);
    }
    return Finish(MapError(status), code);
}

bool Win32Registry::GetDWORD(const std::wstring& keyPath, const std::wstring& valueName, uint32_t& value,
                             RegistryError* code)
{
    return GetNumber(keyPath, valueName, REG_DWORD, &value, sizeof(value), code);
}

bool Win32Registry::GetDWORD(const std::string& keyPath, const std::string& valueName, uint32_t& value,
                             RegistryError* code)
{
    return GetDWORD(Utf8ToWide(keyPath), Utf8ToWide(valueName), value, code);
}

bool Win32Registry::GetQWORD(const std::wstring& keyPath, const std::wstring& valueName, uint64_t& value,
                             RegistryError* code)
{
    return GetNumber(keyPath, valueName, REG_QWORD, &value, sizeof(value), code);
}

bool Win32Registry::GetQWORD(const std::string& keyPath, const std::string& valueName, uint64_t& value,
                             RegistryError* code)
{
    return GetQWORD(Utf8ToWide(keyPath), Utf8ToWide(valueName), value, code);
}

namespace {

LSTATUS WriteValue(HKEY key, const std::wstring& valueName, DWORD type, const void* data, size_t size)
{
    if (size > ULONG_MAX) {
        return ERROR_INVALID_PARAMETER;
    }
    return ::RegSetValueExW(key, valueName.c_str(), 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(size));
}

} // namespace

// Every write opens the key for setting values only; a missing key is not created.
bool Win32Registry::SetValue(const std::wstring& keyPath, const std::wstring& valueName, DWORD type, const void* data,
                             size_t size, RegistryError* code)
{
    UniqueKey key;
    if (const RegistryError opened = OpenKey(keyPath, KEY_SET_VALUE, key); opened != RegistryError::Success) {
        return Finish(opened, code);
    }
    return Finish(MapError(WriteValue(key.get(), valueName, type, data, size)), code);
}

bool Win32Registry::SetString(const std::wstring& keyPath, const std::wstring& valueName, const std::wstring& text,
                              RegistryError* code)
{
    return SetValue(keyPath, valueName, REG_SZ, text.c_str(), (text.size() + 1) * sizeof(wchar_t), code);
}

bool Win32Registry::SetString(const std::wstring& keyPath, const std::wstring& valueName, const std::string& text,
                              RegistryError* code)
{
    return SetString(keyPath, valueName, Utf8ToWide(text), code);
}

bool Win32Registry::SetString(const std::string& keyPath, const std::string& valueName, const std::string& text,
                              RegistryError* code)
{
    return SetString(Utf8ToWide(keyPath), Utf8ToWide(valueName), Utf8ToWide(text), code);
}

bool Win32Registry::SetString(const std::string& keyPath, const std::string& valueName, const std::wstring& text,
                              RegistryError* code)
{
    return SetString(Utf8ToWide(keyPath), Utf8ToWide(valueName), text, code);
}

bool Win32Registry::SetDWORD(const std::wstring& keyPath, const std::wstring& valueName, uint32_t value,
                             RegistryError* code)
{
    return SetValue(keyPath, valueName, REG_DWORD, &value, sizeof(value), code);
}

bool Win32Registry::SetDWORD(const std::string& keyPath, const std::string& valueName, uint32_t value,
                             RegistryError* code)
{
    return SetDWORD(Utf8ToWide(keyPath), Utf8ToWide(valueName), value, code);
}

bool Win32Registry::SetQWORD(const std::wstring& keyPath, const std::wstring& valueName, uint64_t value,
                             RegistryError* code)
{
    return SetValue(keyPath, valueName, REG_QWORD, &value, sizeof(value), code);
}

bool Win32Registry::SetQWORD(const std::string& keyPath, const std::string& valueName, uint64_t value,
                             RegistryError* code)
{
    return SetQWORD(Utf8ToWide(keyPath), Utf8ToWide(valueName), value, code);
}

bool Win32Registry::SetValueRaw(const std::wstring& keyPath, const std::wstring& valueName, DWORD type,
                                const RegistryBytes& bytes, RegistryError* code)
{
    return SetValue(keyPath, valueName, type, bytes.data(), bytes.size(), code);
}

bool Win32Registry::SetBinary(const std::wstring& keyPath, const std::wstring& valueName, const RegistryBytes& bytes,
                              RegistryError* code)
{
    return SetValue(keyPath, valueName, REG_BINARY, bytes.data(), bytes.size(), code);
}

bool Win32Registry::SetBinary(const std::string& keyPath, const std::string& valueName, const RegistryBytes& bytes,
                              RegistryError* code)
{
    return SetBinary(Utf8ToWide(keyPath), Utf8ToWide(valueName), bytes, code);
}

bool Win32Registry::SetMultiString(const std::wstring& keyPath, const std::wstring& valueName,
                                   const std::vector<std::wstring>& strings, RegistryError* code)
{
    // An empty string would end the list early when it is read back.
    std::wstring data;
    for (const std::wstring& text : strings) {
        if (text.empty()) {
            return Finish(RegistryError::InvalidArgument, code);
        }
        data += text;
        data.push_back(L'\0');
    }
    data.push_back(L'\0');
    return SetValue(keyPath, valueName, REG_MULTI_SZ, data.data(), data.size() * sizeof(wchar_t), code);
}

bool Win32Registry::SetMultiString(const std::string& keyPath, const std::string& valueName,
                                   const std::vector<std::string>& strings, RegistryError* code)
{
    return SetMultiString(Utf8ToWide(keyPath), Utf8ToWide(valueName), Utf8ListToWide(strings), code);
}

bool Win32Registry::DeleteValue(const std::wstring& keyPath, const std::wstring& valueName, RegistryError* code)
{
    UniqueKey key;
    if (const RegistryError opened = OpenKey(keyPath, KEY_SET_VALUE, key); opened != RegistryError::Success) {
        return Finish(opened, code);
    }
    return Finish(MapError(::RegDeleteValueW(key.get(), valueName.c_str())), code);
}

bool Win32Registry::DeleteValue(const std::string& keyPath, const std::string& valueName, RegistryError* code)
{
    return DeleteValue(Utf8ToWide(keyPath), Utf8ToWide(valueName), code);
}

// Copying.

bool Win32Registry::CopyValue(const std::wstring& sourcePath, const std::wstring& sourceName,
                              const std::wstring& destinationPath, const std::wstring& destinationName,
                              RegistryError* code)
{
    if (sourcePath.empty() || destinationPath.empty()) {
        return Finish(RegistryError::InvalidArgument, code);
    }
    UniqueKey source;
    if (const RegistryError opened = OpenKey(sourcePath, KEY_QUERY_VALUE, source); opened != RegistryError::Success) {
        return Finish(opened, code);
    }
    RegistryBytes data;
    DWORD type = REG_NONE;
    if (const LSTATUS status = QueryValue(source.get(), sourceName, data, type); status != ERROR_SUCCESS) {
        return Finish(MapError(status), code);
    }
    if (type == REG_NONE) {
        return Finish(RegistryError::WrongType, code);
    }
    UniqueKey destination;
    if (const RegistryError opened = OpenKey(destinationPath, KEY_SET_VALUE, destination);
        opened != RegistryError::Success) {
        return Finish(opened, code);
    }
    return Finish(MapError(WriteValue(destination.get(), destinationName, type, data.data(), data.size())), code);
}

bool Win32Registry::CopyValue(const std::string& sourcePath, const std::string& sourceName,
                              const std::string& destinationPath, const std::string& destinationName,
                              RegistryError* code)
{
    return CopyValue(Utf8ToWide(sourcePath), Utf8ToWide(sourceName), Utf8ToWide(destinationPath),
                     Utf8ToWide(destinationName), code);
}

bool Win32Registry::CopyBranch(const std::wstring& sourcePath, const std::wstring& destinationPath, RegistryError* code)
{
    // Key names compare without regard to case: a destination inside the source would be copied into itself
    // without end.
    const std::wstring sourcePrefix = sourcePath + L"\\";
    if (sourcePath.empty() || destinationPath.empty() ||
        _wcsnicmp(destinationPath.c_str(), sourcePrefix.c_str(), sourcePrefix.size()) == 0) {
        return Finish(RegistryError::InvalidArgument, code);
    }
    // Both lists are read before anything is created, so a missing source leaves no destination behind.
    std::vector<std::wstring> valueNames;
    std::vector<std::wstring> subKeys;
    if (const RegistryError listed = ListNames(sourcePath, true, valueNames); listed != RegistryError::Success) {
        return Finish(listed, code);
    }
    if (const RegistryError listed = ListNames(sourcePath, false, subKeys); listed != RegistryError::Success) {
        return Finish(listed, code);
    }
    if (!CreateKey(destinationPath, code)) {
        return false;
    }
    for (const std::wstring& valueName : valueNames) {
        if (!CopyValue(sourcePath, valueName, destinationPath, valueName, code)) {
            return false;
        }
    }
    for (const std::wstring& subKey : subKeys) {
        if (HasNul(subKey)) {
            return Finish(RegistryError::InvalidArgument, code);
        }
        if (!CopyBranch(JoinKeyPath(sourcePath, subKey), JoinKeyPath(destinationPath, subKey), code)) {
            return false;
        }
    }
    return Finish(RegistryError::Success, code);
}

bool Win32Registry::CopyBranch(const std::string& sourcePath, const std::string& destinationPath, RegistryError* code)
{
    return CopyBranch(Utf8ToWide(sourcePath), Utf8ToWide(destinationPath), code);
}

// Settings.

void Win32Registry::SetRoot(HKEY root)
{
    m_root = root;
}

void Win32Registry::SetAccessFlags(DWORD flags)
{
    m_accessFlags = flags;
}

RegistryError Win32Registry::GetLastErrorCode() const
{
    return m_lastCode;
}

DWORD TakeKeyOwnership(HKEY root, const std::wstring& keyPath, PSID administrators,
                       const OwnedSecurityAttributes& holder, bool wow64Key32)
{
    // By handle, so the view flag chooses the key: a name-based reset of the 32-bit view can reach the 64-bit key
    // instead. A link is reset as itself, never its target.
    return NvRegistryKeys::ResetOwnership(root, keyPath, wow64Key32 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY, administrators,
                                          holder);
}
