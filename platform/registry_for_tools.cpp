#include "logging/nv_qor_log.h"
#include "platform/registry.h"

bool Win32RegistryForTools::GetValueRaw(const std::wstring& keyPath, const std::wstring& valueName,
                                        RegistryBytes& bytes)
{
    constexpr wchar_t logName[] = L"`anonymous-namespace'::Win32RegistryForTools::GetValueRaw";
    NV_QOR_LOG(NvQorLogging::Info, L"%s: Get value '%s' from '%s'", logName, valueName.c_str(), keyPath.c_str());
    UniqueKey key;
    if (const LSTATUS opened = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, key.put());
        opened != ERROR_SUCCESS) {
        NV_QOR_LOG(NvQorLogging::Debug, L"%s: Failed to open key '%s'. Error: %lu", logName, keyPath.c_str(),
                   static_cast<DWORD>(opened));
        return false;
    }
    // The value may grow between the size query and the read, so the read repeats until the buffer suffices.
    RegistryBytes buffer(1);
    DWORD size = static_cast<DWORD>(buffer.size());
    LSTATUS status = ::RegQueryValueExW(key.get(), valueName.c_str(), nullptr, nullptr, buffer.data(), &size);
    while (status == ERROR_MORE_DATA) {
        buffer.resize(size);
        status = ::RegQueryValueExW(key.get(), valueName.c_str(), nullptr, nullptr, buffer.data(), &size);
    }
    if (status != ERROR_SUCCESS) {
        NV_QOR_LOG(NvQorLogging::Debug, L"%s: Failed to get value '%s'. Error: %lu", logName, valueName.c_str(),
                   static_cast<DWORD>(status));
        return false;
    }
    buffer.resize(size);
    bytes = std::move(buffer);
    return true;
}

bool Win32RegistryForTools::SetValueRaw(const std::wstring& keyPath, const std::wstring& valueName,
                                        const std::wstring& text)
{
    constexpr wchar_t logName[] = L"`anonymous-namespace'::Win32RegistryForTools::SetValueRaw";
    NV_QOR_LOG(NvQorLogging::Info, L"%s: Set value '%s' on '%s'", logName, valueName.c_str(), keyPath.c_str());
    UniqueKey key;
    if (const LSTATUS opened = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_WRITE, key.put());
        opened != ERROR_SUCCESS) {
        NV_QOR_LOG(NvQorLogging::Debug, L"%s: Failed to open key '%s'. Error: %lu", logName, keyPath.c_str(),
                   static_cast<DWORD>(opened));
        return false;
    }
    const DWORD byteCount = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (const LSTATUS written = ::RegSetValueExW(key.get(), valueName.c_str(), 0, REG_MULTI_SZ,
                                                 reinterpret_cast<const BYTE*>(text.data()), byteCount);
        written != ERROR_SUCCESS) {
        NV_QOR_LOG(NvQorLogging::Debug, L"%s: Failed to set value '%s'. Error: %lu", logName, valueName.c_str(),
                   static_cast<DWORD>(written));
        return false;
    }
    return true;
}
