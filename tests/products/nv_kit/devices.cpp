#include "tests/products/nv_kit/devices.h"

#include "base/unique_device_info.h"
#include "tests/products/nv_kit/output.h"

#include <windows.h>

#include <cfgmgr32.h>

namespace NvKit {

namespace {

std::vector<wchar_t> DeviceProperty(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property)
{
    DWORD size = 0;
    ::SetupDiGetDeviceRegistryPropertyW(set, &device, property, nullptr, nullptr, 0, &size);
    std::vector<wchar_t> value(size / sizeof(wchar_t) + 2, L'\0');
    if (size == 0 || !::SetupDiGetDeviceRegistryPropertyW(set, &device, property, nullptr,
                                                          reinterpret_cast<BYTE*>(value.data()), size, nullptr)) {
        value.assign(2, L'\0');
    }
    return value;
}

} // namespace

std::vector<Device> PresentDevices()
{
    UniqueDevInfo set(::SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES));
    if (!set) {
        Die(L"SetupDiGetClassDevs");
    }
    std::vector<Device> devices;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    for (DWORD index = 0; ::SetupDiEnumDeviceInfo(set.get(), index, &device); ++index) {
        wchar_t id[MAX_DEVICE_ID_LEN] = L"";
        ::SetupDiGetDeviceInstanceIdW(set.get(), &device, id, MAX_DEVICE_ID_LEN, nullptr);
        Device present{id, DeviceProperty(set.get(), device, SPDRP_MFG).data(), {}};
        const std::vector<wchar_t> ids = DeviceProperty(set.get(), device, SPDRP_HARDWAREID);
        for (const wchar_t* hardwareId = ids.data(); *hardwareId; hardwareId += wcslen(hardwareId) + 1) {
            present.hardwareIds.emplace_back(hardwareId);
        }
        devices.push_back(std::move(present));
    }
    return devices;
}

void AddNetworkDevice(const std::wstring& hardwareId, const std::wstring& manufacturer, const std::wstring& description)
{
    GUID netClass{0x4d36e972, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
    UniqueDevInfo set(::SetupDiCreateDeviceInfoList(&netClass, nullptr));
    if (!set) {
        Die(L"SetupDiCreateDeviceInfoList");
    }
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    if (!::SetupDiCreateDeviceInfoW(set.get(), L"NET", &netClass, description.c_str(), nullptr, DICD_GENERATE_ID,
                                    &device)) {
        Die(L"SetupDiCreateDeviceInfo");
    }
    const std::wstring hardwareIds = hardwareId + L'\0' + L'\0';
    const std::wstring mfg = manufacturer + L'\0';
    const auto bytes = [](const std::wstring& text) { return static_cast<DWORD>(text.size() * sizeof(wchar_t)); };
    if (!::SetupDiSetDeviceRegistryPropertyW(set.get(), &device, SPDRP_HARDWAREID,
                                             reinterpret_cast<const BYTE*>(hardwareIds.c_str()), bytes(hardwareIds)) ||
        !::SetupDiSetDeviceRegistryPropertyW(set.get(), &device, SPDRP_MFG, reinterpret_cast<const BYTE*>(mfg.c_str()),
                                             bytes(mfg))) {
        Die(L"SetupDiSetDeviceRegistryProperty");
    }
    if (!::SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set.get(), &device)) {
        Die(L"DIF_REGISTERDEVICE");
    }
}

} // namespace NvKit
