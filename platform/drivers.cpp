#include "platform/drivers.h"

#include "base/unique_device_info.h"
#include "base/unique_resource.h"
#include "logging/nv_qor_log.h"

#include <cfgmgr32.h>
#include <setupapi.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr wchar_t kUninstallLogName[] = L"Lua::Win32Driver::UninstallDriversWithManufacturerAndName";
constexpr DWORD kInitialPropertyBytes = 8192;

// The property's data as UTF-16 text, terminator included; empty when it cannot be read. A buffer that is
// too small grows to the reported size as long as the property keeps the expected type.
std::wstring ReadTextProperty(HDEVINFO list, SP_DEVINFO_DATA& device, DWORD property, DWORD expectedType)
{
    std::vector<BYTE> buffer(kInitialPropertyBytes);
    for (;;) {
        DWORD type = 0;
        DWORD required = 0;
        if (::SetupDiGetDeviceRegistryPropertyW(list, &device, property, &type, buffer.data(),
                                                static_cast<DWORD>(buffer.size()), &required)) {
            std::wstring text(std::min<size_t>(required, buffer.size()) / sizeof(wchar_t), L'\0');
            std::memcpy(text.data(), buffer.data(), text.size() * sizeof(wchar_t));
            return text;
        }
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || type != expectedType || required <= buffer.size()) {
            return {};
        }
        buffer.resize(required);
    }
}

bool HasManufacturer(HDEVINFO list, SP_DEVINFO_DATA& device, const std::wstring& manufacturer)
{
    const std::wstring value = ReadTextProperty(list, device, SPDRP_MFG, REG_SZ);
    return value.substr(0, value.find(L'\0')) == manufacturer;
}

bool HasHardwareId(HDEVINFO list, SP_DEVINFO_DATA& device, const std::wstring& hardwareId)
{
    const std::wstring ids = ReadTextProperty(list, device, SPDRP_HARDWAREID, REG_MULTI_SZ);
    for (size_t start = 0; start < ids.size();) {
        const size_t end = std::min(ids.find(L'\0', start), ids.size());
        const std::wstring id = ids.substr(start, end - start);
        start = end + 1;
        if (id.empty()) {
            continue;
        }
        NV_QOR_LOG(NvQorLogging::Debug, L"%s: hwid : '%s'", kUninstallLogName, id.c_str());
        if (id == hardwareId) {
            return true;
        }
    }
    return false;
}

bool RemoveDevice(HDEVINFO list, SP_DEVINFO_DATA& device)
{
    constexpr wchar_t logName[] = L"Lua::Win32Driver::UninstallDriver";
    SP_REMOVEDEVICE_PARAMS parameters{};
    parameters.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
    parameters.ClassInstallHeader.InstallFunction = DIF_REMOVE;
    parameters.Scope = DI_REMOVEDEVICE_GLOBAL;
    parameters.HwProfile = 0;
    if (!::SetupDiSetClassInstallParamsW(list, &device, &parameters.ClassInstallHeader, sizeof(parameters)) ||
        !::SetupDiCallClassInstaller(DIF_REMOVE, list, &device)) {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Failed to invoke DIF_REMOVE : %lu", logName, ::GetLastError());
        return false;
    }
    NV_QOR_LOG(NvQorLogging::Info, L"%s: Driver uninstalled succesfully", logName);
    return true;
}

struct InfHandleTraits {
    using Type = HINF;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type handle) { ::SetupCloseInfFile(handle); }
};
using UniqueInf = UniqueResource<InfHandleTraits>;

std::wstring StringField(INFCONTEXT& line, DWORD field)
{
    DWORD size = 0;
    if (!::SetupGetStringFieldW(&line, field, nullptr, 0, &size) || size == 0) {
        return {};
    }
    std::wstring text(size, L'\0');
    if (!::SetupGetStringFieldW(&line, field, text.data(), size, nullptr)) {
        return {};
    }
    text.resize(size - 1);
    return text;
}

// Calls `visit` with every line of the section, or only with those whose key is `key`.
template <typename Visit> void ForEachLine(HINF inf, const std::wstring& section, const wchar_t* key, Visit visit)
{
    INFCONTEXT line{};
    for (BOOL found = ::SetupFindFirstLineW(inf, section.c_str(), key, &line); found;
         found = key != nullptr ? ::SetupFindNextMatchLineW(&line, key, &line) : ::SetupFindNextLine(&line, &line)) {
        visit(line);
    }
}

template <typename Visit> void ForEachField(INFCONTEXT& line, DWORD first, Visit visit)
{
    const DWORD count = ::SetupGetFieldCount(&line);
    for (DWORD field = first; field <= count; ++field) {
        visit(StringField(line, field));
    }
}

// The install sections: DefaultInstall, and the one each model of each manufacturer names, in the platform
// decoration that Windows would pick on this machine.
std::vector<std::wstring> InstallSections(HINF inf)
{
    std::vector<std::wstring> bases = {L"DefaultInstall"};
    ForEachLine(inf, L"Manufacturer", nullptr, [&](INFCONTEXT& manufacturer) {
        const std::wstring models = StringField(manufacturer, 1);
        std::vector<std::wstring> sections = {models};
        ForEachField(manufacturer, 2,
                     [&](const std::wstring& decoration) { sections.push_back(models + L"." + decoration); });
        for (const std::wstring& section : sections) {
            ForEachLine(inf, section, nullptr, [&](INFCONTEXT& model) { bases.push_back(StringField(model, 1)); });
        }
    });
    std::vector<std::wstring> actual;
    for (const std::wstring& base : bases) {
        wchar_t name[MAX_INF_SECTION_NAME_LENGTH] = {};
        if (!base.empty() &&
            ::SetupDiGetActualSectionToInstallW(inf, base.c_str(), name, MAX_INF_SECTION_NAME_LENGTH, nullptr,
                                                nullptr) &&
            ::SetupGetLineCountW(inf, name) >= 0) {
            actual.emplace_back(name);
        }
    }
    return actual;
}

} // namespace

namespace NvDrivers {

bool UninstallDevices(const std::wstring& manufacturer, const std::wstring& hardwareId)
{
    if (manufacturer.empty() || hardwareId.empty()) {
        NV_QOR_LOG(NvQorLogging::Warning, L"%s: Invalid arguments for driver uninstallation", kUninstallLogName);
        return false;
    }
    NV_QOR_LOG(NvQorLogging::Info, L"%s: Uninstalling drivers of manufacturer: '%s' having name: '%s'",
               kUninstallLogName, manufacturer.c_str(), hardwareId.c_str());
    const UniqueDevInfo list(::SetupDiGetClassDevsExW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES,
                                                      nullptr, nullptr, nullptr));
    if (!list) {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: No devices found : %lu", kUninstallLogName, ::GetLastError());
        return false;
    }
    SP_DEVINFO_LIST_DETAIL_DATA_W detail{};
    detail.cbSize = sizeof(detail);
    if (!::SetupDiGetDeviceInfoListDetailW(list.get(), &detail)) {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Couldn't get device info list : %lu", kUninstallLogName,
                   ::GetLastError());
        return false;
    }
    bool result = true;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    for (DWORD index = 0; ::SetupDiEnumDeviceInfo(list.get(), index, &device); ++index) {
        // One more character than the longest id, so the id is always terminated.
        wchar_t deviceId[MAX_DEVICE_ID_LEN + 1] = {};
        if (::CM_Get_Device_ID_ExW(device.DevInst, deviceId, MAX_DEVICE_ID_LEN, 0, detail.RemoteMachineHandle) !=
            CR_SUCCESS) {
            NV_QOR_LOG(NvQorLogging::Warning, L"%s: Failed to read device id: %lu", kUninstallLogName,
                       ::GetLastError());
            continue;
        }
        if (!HasManufacturer(list.get(), device, manufacturer)) {
            continue;
        }
        NV_QOR_LOG(NvQorLogging::Debug, L"%s: Manufacturer match", kUninstallLogName);
        if (!HasHardwareId(list.get(), device, hardwareId)) {
            continue;
        }
        NV_QOR_LOG(NvQorLogging::Debug, L"%s: Found matching driver, dev id : '%s'", kUninstallLogName, deviceId);
        if (!RemoveDevice(list.get(), device)) {
            result = false;
        }
    }
    return result;
}

bool ReadPackage(const std::wstring& path, Package& package)
{
    const UniqueInf inf(::SetupOpenInfFileW(path.c_str(), nullptr, INF_STYLE_WIN4, nullptr));
    if (!inf) {
        NV_QOR_LOG(NvQorLogging::Warning, L"%s: Cannot read '%s': %lu", L"Lua::Win32Driver::GetDriverPackage",
                   path.c_str(), ::GetLastError());
        return false;
    }
    ForEachLine(inf.get(), L"Version", L"Provider", [&](INFCONTEXT& line) { package.provider = StringField(line, 1); });
    const auto addFile = [&](const std::wstring& file) {
        const size_t name = file.find_last_of(L"\\");
        package.files.push_back(name == std::wstring::npos ? file : file.substr(name + 1));
    };
    for (const std::wstring& section : InstallSections(inf.get())) {
        ForEachLine(inf.get(), section, L"CopyFiles", [&](INFCONTEXT& directive) {
            ForEachField(directive, 1, [&](const std::wstring& list) {
                if (!list.empty() && list.front() == L'@') {
                    addFile(list.substr(1));
                } else {
                    ForEachLine(inf.get(), list, nullptr, [&](INFCONTEXT& file) { addFile(StringField(file, 1)); });
                }
            });
        });
        ForEachLine(inf.get(), section + L".Services", L"AddService", [&](INFCONTEXT& directive) {
            package.services.push_back(StringField(directive, 1));
            ForEachLine(inf.get(), StringField(directive, 3), L"ServiceBinary",
                        [&](INFCONTEXT& binary) { addFile(StringField(binary, 1)); });
        });
    }
    return true;
}

} // namespace NvDrivers
