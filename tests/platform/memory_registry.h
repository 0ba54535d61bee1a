#pragma once

#include "base/text_conversion.h"
#include "platform/registry.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

// A registry held in memory, for tests of code that works through the `Registry` interface. It keeps the
// result codes, enumeration order (names sorted without regard to case) and value encodings (UTF-16 strings,
// REG_MULTI_SZ lists) of the Windows registry. Registry views are not modelled. `InjectFailure` makes every
// operation that touches a key fail with a chosen code.
class MemoryRegistry : public Registry {
public:
    uint32_t CountSubKeys(const std::string& keyPath, RegistryError* code = nullptr) override
    {
        const Key* key = Find(keyPath);
        Finish(Status(keyPath, key), code);
        return key != nullptr ? static_cast<uint32_t>(key->subKeys.size()) : 0;
    }

    std::string GetSubKeyPath(const std::string& keyPath, uint32_t index, RegistryError* code = nullptr) override
    {
        std::vector<std::string> names;
        if (GetSubKeys(keyPath, names, code) == 0 && m_lastCode != RegistryError::Success) {
            return {};
        }
        if (index >= names.size()) {
            Finish(RegistryError::InvalidArgument, code);
            return {};
        }
        return keyPath.empty() ? names[index] : keyPath + "\\" + names[index];
    }

    uint32_t GetSubKeys(const std::string& keyPath, std::vector<std::string>& names,
                        RegistryError* code = nullptr) override
    {
        names.clear();
        const Key* key = Find(keyPath);
        if (Finish(Status(keyPath, key), code)) {
            for (const auto& entry : key->subKeys) {
                names.push_back(entry.first);
            }
        }
        return static_cast<uint32_t>(names.size());
    }

    uint32_t CountValues(const std::string& keyPath, RegistryError* code = nullptr) override
    {
        const Key* key = Find(keyPath);
        Finish(Status(keyPath, key), code);
        return key != nullptr ? static_cast<uint32_t>(key->values.size()) : 0;
    }

    uint32_t GetValueNames(const std::string& keyPath, std::vector<std::string>& names,
                           RegistryError* code = nullptr) override
    {
        names.clear();
        const Key* key = Find(keyPath);
        if (Finish(Status(keyPath, key), code)) {
            for (const auto& entry : key->values) {
                names.push_back(entry.first);
            }
        }
        return static_cast<uint32_t>(names.size());
    }

    bool CreateSubKey(const std::string& parentPath, const std::string& name, RegistryError* code = nullptr) override
    {
        if (name.empty()) {
            return Finish(RegistryError::InvalidArgument, code);
        }
        const std::string path = Join(parentPath, name);
        if (const RegistryError injected = Injected(path); injected != RegistryError::Success) {
            return Finish(injected, code);
        }
        Key* key = &m_roots[m_root];
        for (const std::string& part : Split(path)) {
            if (part.empty()) {
                return Finish(RegistryError::Failure, code);
            }
            key = &key->subKeys[part];
        }
        return Finish(RegistryError::Success, code);
    }

    bool DeleteSubKey(const std::string& parentPath, const std::string& name, RegistryError* code = nullptr) override
    {
        if (name.empty()) {
            return Finish(RegistryError::InvalidArgument, code);
        }
        Key* parent = Find(parentPath);
        if (!Finish(Status(parentPath, parent), code)) {
            return false;
        }
        const std::string path = Join(parentPath, name);
        if (const RegistryError injected = Injected(path); injected != RegistryError::Success) {
            return Finish(injected, code);
        }
        const auto child = parent->subKeys.find(name);
        if (child == parent->subKeys.end()) {
            return Finish(RegistryError::NotFound, code);
        }
        if (!child->second.subKeys.empty()) {
            return Finish(RegistryError::AccessDenied, code);
        }
        parent->subKeys.erase(child);
        return Finish(RegistryError::Success, code);
    }

    bool GetString(const std::string& keyPath, const std::string& valueName, std::string& text,
                   RegistryError* code = nullptr) override
    {
        std::wstring wide;
        const bool read = GetString(keyPath, valueName, wide, code);
        text = ToUtf8(wide);
        return read;
    }

    bool SetString(const std::string& keyPath, const std::string& valueName, const std::string& text,
                   RegistryError* code = nullptr) override
    {
        return SetString(keyPath, valueName, Utf8ToWide(text), code);
    }

    bool GetString(const std::string& keyPath, const std::string& valueName, std::wstring& text,
                   RegistryError* code = nullptr) override
    {
        text.clear();
        const Value* value = Read(keyPath, valueName, {REG_SZ, REG_EXPAND_SZ}, code);
        if (value == nullptr) {
            return false;
        }
        text = ToText(value->data);
        if (!text.empty() && text.back() == L'\0') {
            text.pop_back();
        }
        return true;
    }

    bool SetString(const std::string& keyPath, const std::string& valueName, const std::wstring& text,
                   RegistryError* code = nullptr) override
    {
        return Write(keyPath, valueName, REG_SZ, ToBytes(text.c_str(), text.size() + 1), code);
    }

    bool GetBinary(const std::string& keyPath, const std::string& valueName, RegistryBytes& bytes,
                   RegistryError* code = nullptr) override
    {
        const Value* value = Read(keyPath, valueName, {REG_BINARY}, code);
        bytes = value != nullptr ? value->data : RegistryBytes();
        return value != nullptr;
    }

    bool SetBinary(const std::string& keyPath, const std::string& valueName, const RegistryBytes& bytes,
                   RegistryError* code = nullptr) override
    {
        return Write(keyPath, valueName, REG_BINARY, bytes, code);
    }

    bool GetDWORD(const std::string& keyPath, const std::string& valueName, uint32_t& number,
                  RegistryError* code = nullptr) override
    {
        const Value* value = Read(keyPath, valueName, {REG_NONE, REG_DWORD}, code);
        if (value == nullptr) {
            return false;
        }
        if (value->data.size() > sizeof(number)) {
            return Finish(RegistryError::Failure, code);
        }
        number = 0;
        memcpy(&number, value->data.data(), value->data.size());
        return true;
    }

    bool SetDWORD(const std::string& keyPath, const std::string& valueName, uint32_t number,
                  RegistryError* code = nullptr) override
    {
        return Write(keyPath, valueName, REG_DWORD, ToBytes(&number, 1), code);
    }

    bool GetMultiString(const std::string& keyPath, const std::string& valueName, std::vector<std::string>& strings,
                        RegistryError* code = nullptr) override
    {
        strings.clear();
        const Value* value = Read(keyPath, valueName, {REG_MULTI_SZ}, code);
        if (value == nullptr) {
            return false;
        }
        const std::wstring text = ToText(value->data);
        size_t start = 0;
        for (size_t end = text.find(L'\0'); end != std::wstring::npos && end > start; end = text.find(L'\0', start)) {
            strings.push_back(ToUtf8(text.substr(start, end - start)));
            start = end + 1;
        }
        return true;
    }

    bool SetMultiString(const std::string& keyPath, const std::string& valueName,
                        const std::vector<std::string>& strings, RegistryError* code = nullptr) override
    {
        std::wstring text;
        for (const std::string& entry : strings) {
            if (entry.empty()) {
                return Finish(RegistryError::InvalidArgument, code);
            }
            text += Utf8ToWide(entry);
            text.push_back(L'\0');
        }
        text.push_back(L'\0');
        return Write(keyPath, valueName, REG_MULTI_SZ, ToBytes(text.data(), text.size()), code);
    }

    bool DeleteValue(const std::string& keyPath, const std::string& valueName, RegistryError* code = nullptr) override
    {
        Key* key = Find(keyPath);
        if (!Finish(Status(keyPath, key), code)) {
            return false;
        }
        return Finish(key->values.erase(valueName) != 0 ? RegistryError::Success : RegistryError::NotFound, code);
    }

    bool CopyBranch(const std::string& sourcePath, const std::string& destinationPath,
                    RegistryError* code = nullptr) override
    {
        const std::string prefix = sourcePath + "\\";
        if (sourcePath.empty() || destinationPath.empty() ||
            (destinationPath.size() >= prefix.size() &&
             Less::Equal(destinationPath.substr(0, prefix.size()), prefix))) {
            return Finish(RegistryError::InvalidArgument, code);
        }
        const Key* source = Find(sourcePath);
        if (!Finish(Status(sourcePath, source), code)) {
            return false;
        }
        const Key copy = *source;
        std::string parent;
        std::string name;
        SplitLast(destinationPath, parent, name);
        if (!CreateSubKey(parent, name, code)) {
            return false;
        }
        Merge(*Find(destinationPath), copy);
        return Finish(RegistryError::Success, code);
    }

    bool CopyValue(const std::string& sourcePath, const std::string& sourceName, const std::string& destinationPath,
                   const std::string& destinationName, RegistryError* code = nullptr) override
    {
        if (sourcePath.empty() || destinationPath.empty()) {
            return Finish(RegistryError::InvalidArgument, code);
        }
        const Value* value = Read(sourcePath, sourceName, {}, code);
        if (value == nullptr) {
            return false;
        }
        if (value->type == REG_NONE) {
            return Finish(RegistryError::WrongType, code);
        }
        return Write(destinationPath, destinationName, value->type, value->data, code);
    }

    bool DeleteBranch(const std::string& parentPath, const std::string& name, RegistryError* code = nullptr) override
    {
        if (name.empty()) {
            return Finish(RegistryError::InvalidArgument, code);
        }
        const std::string path = Join(parentPath, name);
        std::vector<std::string> subKeys;
        GetSubKeys(path, subKeys);
        for (const std::string& subKey : subKeys) {
            if (!DeleteBranch(path, subKey, code)) {
                return false;
            }
        }
        return DeleteSubKey(parentPath, name, code);
    }

    void SetRoot(HKEY root) override { m_root = root; }

    RegistryError GetLastErrorCode() const { return m_lastCode; }

    // Every later operation on the key (not on its subkeys) fails with the code.
    void InjectFailure(const std::string& keyPath, RegistryError failure) { m_failures[keyPath] = failure; }

private:
    struct Less {
        static int Compare(const std::string& left, const std::string& right)
        {
            return CompareStringOrdinal(Utf8ToWide(left).c_str(), -1, Utf8ToWide(right).c_str(), -1, TRUE) - CSTR_EQUAL;
        }
        static bool Equal(const std::string& left, const std::string& right) { return Compare(left, right) == 0; }
        bool operator()(const std::string& left, const std::string& right) const { return Compare(left, right) < 0; }
    };
    struct Value {
        DWORD type = REG_NONE;
        RegistryBytes data;
    };
    struct Key {
        std::map<std::string, Key, Less> subKeys;
        std::map<std::string, Value, Less> values;
    };

    static std::vector<std::string> Split(const std::string& path)
    {
        std::vector<std::string> parts;
        if (path.empty()) {
            return parts;
        }
        size_t start = 0;
        for (size_t end = path.find('\\'); end != std::string::npos; end = path.find('\\', start)) {
            parts.push_back(path.substr(start, end - start));
            start = end + 1;
        }
        parts.push_back(path.substr(start));
        return parts;
    }

    static std::string Join(const std::string& parent, const std::string& name)
    {
        return parent.empty() ? name : parent + "\\" + name;
    }

    static void SplitLast(const std::string& path, std::string& parent, std::string& name)
    {
        const size_t separator = path.rfind('\\');
        parent = separator == std::string::npos ? std::string() : path.substr(0, separator);
        name = separator == std::string::npos ? path : path.substr(separator + 1);
    }

    static void Merge(Key& destination, const Key& source)
    {
        for (const auto& [name, value] : source.values) {
            destination.values[name] = value;
        }
        for (const auto& [name, key] : source.subKeys) {
            Merge(destination.subKeys[name], key);
        }
    }

    template <typename T> static RegistryBytes ToBytes(const T* data, size_t count)
    {
        const auto* bytes = reinterpret_cast<const uint8_t*>(data);
        return RegistryBytes(bytes, bytes + count * sizeof(T));
    }

    static std::wstring ToText(const RegistryBytes& data)
    {
        std::wstring text(data.size() / sizeof(wchar_t), L'\0');
        memcpy(text.data(), data.data(), text.size() * sizeof(wchar_t));
        return text;
    }

    static std::string ToUtf8(const std::wstring& text)
    {
        const int size = static_cast<int>(text.size());
        std::string result(WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr), '\0');
        WideCharToMultiByte(CP_UTF8, 0, text.data(), size, result.data(), static_cast<int>(result.size()), nullptr,
                            nullptr);
        return result;
    }

    Key* Find(const std::string& keyPath)
    {
        Key* key = &m_roots[m_root];
        for (const std::string& part : Split(keyPath)) {
            const auto child = key->subKeys.find(part);
            if (child == key->subKeys.end()) {
                return nullptr;
            }
            key = &child->second;
        }
        return key;
    }

    RegistryError Injected(const std::string& keyPath) const
    {
        const auto failure = m_failures.find(keyPath);
        return failure != m_failures.end() ? failure->second : RegistryError::Success;
    }

    RegistryError Status(const std::string& keyPath, const Key* key) const
    {
        if (const RegistryError injected = Injected(keyPath); injected != RegistryError::Success) {
            return injected;
        }
        return key != nullptr ? RegistryError::Success : RegistryError::NotFound;
    }

    // An empty list of types accepts every type.
    const Value* Read(const std::string& keyPath, const std::string& valueName, std::vector<DWORD> types,
                      RegistryError* code)
    {
        const Key* key = Find(keyPath);
        if (!Finish(Status(keyPath, key), code)) {
            return nullptr;
        }
        const auto value = key->values.find(valueName);
        if (value == key->values.end()) {
            Finish(RegistryError::NotFound, code);
            return nullptr;
        }
        if (!types.empty() && std::find(types.begin(), types.end(), value->second.type) == types.end()) {
            Finish(RegistryError::WrongType, code);
            return nullptr;
        }
        return &value->second;
    }

    bool Write(const std::string& keyPath, const std::string& valueName, DWORD type, RegistryBytes data,
               RegistryError* code)
    {
        Key* key = Find(keyPath);
        if (!Finish(Status(keyPath, key), code)) {
            return false;
        }
        key->values[valueName] = Value{type, std::move(data)};
        return true;
    }

    bool Finish(RegistryError result, RegistryError* code)
    {
        m_lastCode = result;
        if (code != nullptr) {
            *code = result;
        }
        return result == RegistryError::Success;
    }

    std::map<HKEY, Key> m_roots;
    std::map<std::string, RegistryError, Less> m_failures;
    HKEY m_root = HKEY_LOCAL_MACHINE;
    RegistryError m_lastCode = RegistryError::Success;
};
