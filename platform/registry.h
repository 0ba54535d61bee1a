#pragma once

#include "base/unique_resource.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

class OwnedSecurityAttributes;

// Name buffers that hold the longest key name (255 characters) and value name (16383) with their NUL.
constexpr DWORD kKeyNameBuffer = 256;
constexpr DWORD kValueNameBuffer = 32768;

// Portable result of a registry operation.
enum class RegistryError : uint32_t {
    Success = 0,
    NotFound = 1,        // ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND
    WrongType = 2,       // a value of an unexpected type, or REG_NONE offered for copying
    Failure = 3,         // every other Windows error
    AccessDenied = 5,    // ERROR_ACCESS_DENIED
    InvalidArgument = 6, // ERROR_INVALID_PARAMETER, a missing name, a path without backslash, an index out of range
};

using RegistryBytes = std::vector<uint8_t>;

// The result code of a Win32 registry status.
RegistryError ToRegistryError(LSTATUS status);

// The names of an open key's values, or of its subkeys, read through the caller's buffer (kValueNameBuffer or
// kKeyNameBuffer characters), so that a scan of many keys reuses one. Empty on failure.
LSTATUS ListNamesOf(HKEY key, bool values, std::wstring& buffer, std::vector<std::wstring>& names);

// Registry access for the script side: UTF-8 names and texts. Key paths lie below the root, backslash-
// separated, without a leading backslash. Every operation stores its result code as the last one and writes
// it to `code` when given.
class Registry {
public:
    virtual ~Registry() = default;

    virtual uint32_t CountSubKeys(const std::string& keyPath, RegistryError* code = nullptr) = 0;
    virtual std::string GetSubKeyPath(const std::string& keyPath, uint32_t index, RegistryError* code = nullptr) = 0;
    virtual uint32_t GetSubKeys(const std::string& keyPath, std::vector<std::string>& names,
                                RegistryError* code = nullptr) = 0;
    virtual uint32_t CountValues(const std::string& keyPath, RegistryError* code = nullptr) = 0;
    virtual uint32_t GetValueNames(const std::string& keyPath, std::vector<std::string>& names,
                                   RegistryError* code = nullptr) = 0;
    virtual bool CreateSubKey(const std::string& parentPath, const std::string& name,
                              RegistryError* code = nullptr) = 0;
    virtual bool DeleteSubKey(const std::string& parentPath, const std::string& name,
                              RegistryError* code = nullptr) = 0;
    virtual bool GetString(const std::string& keyPath, const std::string& valueName, std::string& text,
                           RegistryError* code = nullptr) = 0;
    virtual bool SetString(const std::string& keyPath, const std::string& valueName, const std::string& text,
                           RegistryError* code = nullptr) = 0;
    virtual bool GetString(const std::string& keyPath, const std::string& valueName, std::wstring& text,
                           RegistryError* code = nullptr) = 0;
    virtual bool SetString(const std::string& keyPath, const std::string& valueName, const std::wstring& text,
                           RegistryError* code = nullptr) = 0;
    virtual bool GetBinary(const std::string& keyPath, const std::string& valueName, RegistryBytes& bytes,
                           RegistryError* code = nullptr) = 0;
    virtual bool SetBinary(const std::string& keyPath, const std::string& valueName, const RegistryBytes& bytes,
                           RegistryError* code = nullptr) = 0;
    virtual bool GetDWORD(const std::string& keyPath, const std::string& valueName, uint32_t& value,
                          RegistryError* code = nullptr) = 0;
    virtual bool SetDWORD(const std::string& keyPath, const std::string& valueName, uint32_t value,
                          RegistryError* code = nullptr) = 0;
    virtual bool GetMultiString(const std::string& keyPath, const std::string& valueName,
                                std::vector<std::string>& strings, RegistryError* code = nullptr) = 0;
    virtual bool SetMultiString(const std::string& keyPath, const std::string& valueName,
                                const std::vector<std::string>& strings, RegistryError* code = nullptr) = 0;
    virtual bool DeleteValue(const std::string& keyPath, const std::string& valueName,
                             RegistryError* code = nullptr) = 0;
    virtual bool CopyBranch(const std::string& sourcePath, const std::string& destinationPath,
                            RegistryError* code = nullptr) = 0;
    virtual bool CopyValue(const std::string& sourcePath, const std::string& sourceName,
                           const std::string& destinationPath, const std::string& destinationName,
                           RegistryError* code = nullptr) = 0;
    virtual bool DeleteBranch(const std::string& parentPath, const std::string& name,
                              RegistryError* code = nullptr) = 0;
    // One of HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT, HKEY_USERS, HKEY_CURRENT_USER.
    virtual void SetRoot(HKEY root) = 0;
};

// The Windows registry. Nothing stays open between operations: each one opens and closes its own handles.
class Win32Registry : public Registry {
public:
    uint32_t CountSubKeys(const std::string& keyPath, RegistryError* code = nullptr) override;
    std::string GetSubKeyPath(const std::string& keyPath, uint32_t index, RegistryError* code = nullptr) override;
    uint32_t GetSubKeys(const std::string& keyPath, std::vector<std::string>& names,
                        RegistryError* code = nullptr) override;
    uint32_t CountValues(const std::string& keyPath, RegistryError* code = nullptr) override;
    uint32_t GetValueNames(const std::string& keyPath, std::vector<std::string>& names,
                           RegistryError* code = nullptr) override;
    bool CreateSubKey(const std::string& parentPath, const std::string& name, RegistryError* code = nullptr) override;
    bool DeleteSubKey(const std::string& parentPath, const std::string& name, RegistryError* code = nullptr) override;
    bool GetString(const std::string& keyPath, const std::string& valueName, std::string& text,
                   RegistryError* code = nullptr) override;
    bool SetString(const std::string& keyPath, const std::string& valueName, const std::string& text,
                   RegistryError* code = nullptr) override;
    bool GetString(const std::string& keyPath, const std::string& valueName, std::wstring& text,
                   RegistryError* code = nullptr) override;
    bool SetString(const std::string& keyPath, const std::string& valueName, const std::wstring& text,
                   RegistryError* code = nullptr) override;
    bool GetBinary(const std::string& keyPath, const std::string& valueName, RegistryBytes& bytes,
                   RegistryError* code = nullptr) override;
    bool SetBinary(const std::string& keyPath, const std::string& valueName, const RegistryBytes& bytes,
                   RegistryError* code = nullptr) override;
    bool GetDWORD(const std::string& keyPath, const std::string& valueName, uint32_t& value,
                  RegistryError* code = nullptr) override;
    bool SetDWORD(const std::string& keyPath, const std::string& valueName, uint32_t value,
                  RegistryError* code = nullptr) override;
    bool GetMultiString(const std::string& keyPath, const std::string& valueName, std::vector<std::string>& strings,
                        RegistryError* code = nullptr) override;
    bool SetMultiString(const std::string& keyPath, const std::string& valueName,
                        const std::vector<std::string>& strings, RegistryError* code = nullptr) override;
    bool DeleteValue(const std::string& keyPath, const std::string& valueName, RegistryError* code = nullptr) override;
    bool CopyBranch(const std::string& sourcePath, const std::string& destinationPath,
                    RegistryError* code = nullptr) override;
    bool CopyValue(const std::string& sourcePath, const std::string& sourceName, const std::string& destinationPath,
                   const std::string& destinationName, RegistryError* code = nullptr) override;
    bool DeleteBranch(const std::string& parentPath, const std::string& name, RegistryError* code = nullptr) override;
    void SetRoot(HKEY root) override;

    // The value's REG_ type; 0 on failure.
    virtual DWORD GetValueType(const std::string& keyPath, const std::string& valueName, RegistryError* code = nullptr);
    virtual DWORD GetValueType(const std::wstring& keyPath, const std::wstring& valueName,
                               RegistryError* code = nullptr);
    // REG_SZ and REG_EXPAND_SZ, returned unexpanded.
    virtual bool GetString(const std::wstring& keyPath, const std::wstring& valueName, std::string& text,
                           RegistryError* code = nullptr);
    virtual bool GetString(const std::wstring& keyPath, const std::wstring& valueName, std::wstring& text,
                           RegistryError* code = nullptr);
    virtual bool SetString(const std::wstring& keyPath, const std::wstring& valueName, const std::string& text,
                           RegistryError* code = nullptr);
    virtual bool SetString(const std::wstring& keyPath, const std::wstring& valueName, const std::wstring& text,
                           RegistryError* code = nullptr);
    virtual bool GetDWORD(const std::wstring& keyPath, const std::wstring& valueName, uint32_t& value,
                          RegistryError* code = nullptr);
    virtual bool SetDWORD(const std::wstring& keyPath, const std::wstring& valueName, uint32_t value,
                          RegistryError* code = nullptr);
    virtual bool GetQWORD(const std::string& keyPath, const std::string& valueName, uint64_t& value,
                          RegistryError* code = nullptr);
    virtual bool GetQWORD(const std::wstring& keyPath, const std::wstring& valueName, uint64_t& value,
                          RegistryError* code = nullptr);
    virtual bool SetQWORD(const std::string& keyPath, const std::string& valueName, uint64_t value,
                          RegistryError* code = nullptr);
    virtual bool SetQWORD(const std::wstring& keyPath, const std::wstring& valueName, uint64_t value,
                          RegistryError* code = nullptr);
    virtual bool GetMultiString(const std::wstring& keyPath, const std::wstring& valueName,
                                std::vector<std::wstring>& strings, RegistryError* code = nullptr);
    virtual bool SetMultiString(const std::wstring& keyPath, const std::wstring& valueName,
                                const std::vector<std::wstring>& strings, RegistryError* code = nullptr);
    virtual bool GetBinary(const std::wstring& keyPath, const std::wstring& valueName, RegistryBytes& bytes,
                           RegistryError* code = nullptr);
    virtual bool SetBinary(const std::wstring& keyPath, const std::wstring& valueName, const RegistryBytes& bytes,
                           RegistryError* code = nullptr);
    virtual bool DeleteValue(const std::wstring& keyPath, const std::wstring& valueName, RegistryError* code = nullptr);
    virtual bool KeyExists(const std::string& keyPath, RegistryError* code = nullptr);
    virtual bool KeyExists(const std::wstring& keyPath, RegistryError* code = nullptr);
    virtual bool SubKeyExists(const std::string& parentPath, const std::string& name, RegistryError* code = nullptr);
    virtual bool SubKeyExists(const std::wstring& parentPath, const std::wstring& name, RegistryError* code = nullptr);
    virtual bool CreateSubKey(const std::wstring& parentPath, const std::wstring& name, RegistryError* code = nullptr);
    virtual bool DeleteSubKey(const std::wstring& parentPath, const std::wstring& name, RegistryError* code = nullptr);
    // Deletes the key named by the last component; the key must have no subkeys.
    virtual bool DeleteKey(const std::string& keyPath, RegistryError* code = nullptr);
    virtual bool DeleteKey(const std::wstring& keyPath, RegistryError* code = nullptr);
    // Creates the key and every missing key above it.
    virtual bool CreateKey(const std::string& keyPath, RegistryError* code = nullptr);
    virtual bool CreateKey(const std::wstring& keyPath, RegistryError* code = nullptr);
    virtual bool DeleteBranch(const std::wstring& parentPath, const std::wstring& name, RegistryError* code = nullptr);
    virtual uint32_t GetSubKeys(const std::wstring& keyPath, std::vector<std::wstring>& names,
                                RegistryError* code = nullptr);
    virtual uint32_t GetValueNames(const std::wstring& keyPath, std::vector<std::wstring>& names,
                                   RegistryError* code = nullptr);
    virtual bool CopyBranch(const std::wstring& sourcePath, const std::wstring& destinationPath,
                            RegistryError* code = nullptr);
    virtual bool CopyValue(const std::wstring& sourcePath, const std::wstring& sourceName,
                           const std::wstring& destinationPath, const std::wstring& destinationName,
                           RegistryError* code = nullptr);
    // OR-ed into every key open, create and delete: KEY_WOW64_32KEY or KEY_WOW64_64KEY.
    virtual void SetAccessFlags(DWORD flags);
    virtual RegistryError GetLastErrorCode() const;
    // The bytes and type of a value of any type.
    virtual bool GetValueRaw(const std::string& keyPath, const std::string& valueName, RegistryBytes& bytes,
                             DWORD& type, RegistryError* code = nullptr);
    virtual bool GetValueRaw(const std::wstring& keyPath, const std::wstring& valueName, RegistryBytes& bytes,
                             DWORD& type, RegistryError* code = nullptr);
    // Writes the bytes as a value of the type given; the key must exist already.
    virtual bool SetValueRaw(const std::wstring& keyPath, const std::wstring& valueName, DWORD type,
                             const RegistryBytes& bytes, RegistryError* code = nullptr);

private:
    RegistryError OpenKey(const std::wstring& keyPath, REGSAM access, UniqueKey& key) const;
    RegistryError ListNames(const std::wstring& keyPath, bool values, std::vector<std::wstring>& names) const;
    RegistryError CountEntries(const std::wstring& keyPath, bool values, uint32_t& count) const;
    bool GetNumber(const std::wstring& keyPath, const std::wstring& valueName, DWORD expectedType, void* value,
                   DWORD size, RegistryError* code);
    bool SetValue(const std::wstring& keyPath, const std::wstring& valueName, DWORD type, const void* data, size_t size,
                  RegistryError* code);
    bool Finish(RegistryError result, RegistryError* code);

    HKEY m_root = HKEY_LOCAL_MACHINE;
    DWORD m_accessFlags = 0;
    RegistryError m_lastCode = RegistryError::Success;
};

// Makes the Administrators SID the owner of the key and gives it the holder's DACL, so that a key whose
// access list refuses deletion can be deleted. `wow64Key32` selects the 32-bit view. Returns a Win32 error code.
DWORD TakeKeyOwnership(HKEY root, const std::wstring& keyPath, PSID administrators,
                       const OwnedSecurityAttributes& holder, bool wow64Key32);
