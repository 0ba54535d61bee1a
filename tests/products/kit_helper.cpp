// Helper of the product kit: the machine state that the kit's bash code cannot reach through `wine reg`
// and the file system. Commands:
//   processes                          full executable path of every running process, one per line
//   devices                            every present device as "instance id|manufacturer|hardware ids"
//   device-add HWID MANUFACTURER DESC  registers a root-enumerated network device, prints its instance id
//   deny-delete 32|64 KEY              makes HKLM\KEY refuse deletion to everyone (self-protection)
//   deny-all 32|64 KEY                 makes HKLM\KEY refuse everything, reading included, to everyone
//   key-exists 32|64 KEY               prints "yes" when HKLM\KEY exists, also when it refuses to be opened
//   hold READY FILE...                 opens the files without sharing, creates READY, then sleeps
#include "platform/unique_device_info.h"
#include "platform/unique_resource.h"

#include <windows.h>

#include <cfgmgr32.h>
#include <sddl.h>
#include <tlhelp32.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

void Print(const std::wstring& line)
{
    const std::wstring text = line + L"\n";
    const int size =
        ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), size, nullptr,
                          nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

int Fail(const wchar_t* what)
{
    const DWORD error = ::GetLastError();
    Print(std::wstring(L"nvkit: ") + what + L" failed: " + std::to_wstring(error));
    return 1;
}

int ListProcesses()
{
    UniqueSnapshot processes(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!processes) {
        return Fail(L"CreateToolhelp32Snapshot");
    }
    PROCESSENTRY32W process{};
    process.dwSize = sizeof(process);
    for (BOOL more = ::Process32FirstW(processes.get(), &process); more;
         more = ::Process32NextW(processes.get(), &process)) {
        UniqueSnapshot modules(::CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, process.th32ProcessID));
        MODULEENTRY32W module{};
        module.dwSize = sizeof(module);
        if (modules && ::Module32FirstW(modules.get(), &module)) {
            Print(module.szExePath);
        }
    }
    return 0;
}

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

int ListDevices()
{
    UniqueDevInfo set(::SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES));
    if (!set) {
        return Fail(L"SetupDiGetClassDevs");
    }
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    for (DWORD index = 0; ::SetupDiEnumDeviceInfo(set.get(), index, &device); ++index) {
        wchar_t id[MAX_DEVICE_ID_LEN] = L"";
        ::SetupDiGetDeviceInstanceIdW(set.get(), &device, id, MAX_DEVICE_ID_LEN, nullptr);
        std::wstring line = std::wstring(id) + L"|" + DeviceProperty(set.get(), device, SPDRP_MFG).data() + L"|";
        const std::vector<wchar_t> ids = DeviceProperty(set.get(), device, SPDRP_HARDWAREID);
        for (const wchar_t* hwid = ids.data(); *hwid; hwid += wcslen(hwid) + 1) {
            line += std::wstring(hwid) + L";";
        }
        Print(line);
    }
    return 0;
}

// What a driver package's installer does for a virtual adapter: a root-enumerated device in the network class.
int AddDevice(const std::wstring& hardwareId, const std::wstring& manufacturer, const std::wstring& description)
{
    GUID netClass{0x4d36e972, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
    UniqueDevInfo set(::SetupDiCreateDeviceInfoList(&netClass, nullptr));
    if (!set) {
        return Fail(L"SetupDiCreateDeviceInfoList");
    }
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    if (!::SetupDiCreateDeviceInfoW(set.get(), L"NET", &netClass, description.c_str(), nullptr, DICD_GENERATE_ID,
                                    &device)) {
        return Fail(L"SetupDiCreateDeviceInfo");
    }
    const std::wstring hardwareIds = hardwareId + L'\0' + L'\0';
    const auto bytes = [](const std::wstring& text) { return static_cast<DWORD>(text.size() * sizeof(wchar_t)); };
    const std::wstring mfg = manufacturer + L'\0';
    if (!::SetupDiSetDeviceRegistryPropertyW(set.get(), &device, SPDRP_HARDWAREID,
                                             reinterpret_cast<const BYTE*>(hardwareIds.c_str()), bytes(hardwareIds)) ||
        !::SetupDiSetDeviceRegistryPropertyW(set.get(), &device, SPDRP_MFG, reinterpret_cast<const BYTE*>(mfg.c_str()),
                                             bytes(mfg))) {
        return Fail(L"SetupDiSetDeviceRegistryProperty");
    }
    if (!::SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set.get(), &device)) {
        return Fail(L"DIF_REGISTERDEVICE");
    }
    wchar_t id[MAX_DEVICE_ID_LEN] = L"";
    ::SetupDiGetDeviceInstanceIdW(set.get(), &device, id, MAX_DEVICE_ID_LEN, nullptr);
    Print(id);
    return 0;
}

REGSAM ViewFlag(const std::wstring& view)
{
    return view == L"32" ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
}

int SetKeyDacl(const std::wstring& view, const std::wstring& key, const wchar_t* sddl)
{
    const REGSAM viewFlag = ViewFlag(view);
    UniqueKey handle;
    LSTATUS status = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, WRITE_DAC | viewFlag, handle.put());
    if (status != ERROR_SUCCESS) {
        ::SetLastError(static_cast<DWORD>(status));
        return Fail(L"RegOpenKeyEx");
    }
    UniqueLocal descriptor;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
            sddl, SDDL_REVISION_1, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()), nullptr)) {
        return Fail(L"ConvertStringSecurityDescriptorToSecurityDescriptor");
    }
    status = ::RegSetKeySecurity(handle.get(), DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                 descriptor.get());
    if (status != ERROR_SUCCESS) {
        ::SetLastError(static_cast<DWORD>(status));
        return Fail(L"RegSetKeySecurity");
    }
    return 0;
}

// Looks for the name in its parent's listing, so that a key that refuses every access still counts.
int KeyExists(const std::wstring& view, const std::wstring& key)
{
    const size_t slash = key.find_last_of(L'\\');
    const std::wstring parent = slash == std::wstring::npos ? L"" : key.substr(0, slash);
    const std::wstring name = slash == std::wstring::npos ? key : key.substr(slash + 1);
    UniqueKey handle;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, parent.c_str(), 0, KEY_ENUMERATE_SUB_KEYS | ViewFlag(view), handle.put()) ==
        ERROR_SUCCESS) {
        wchar_t found[256];
        for (DWORD index = 0;; ++index) {
            DWORD size = 256;
            if (::RegEnumKeyExW(handle.get(), index, found, &size, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS) {
                break;
            }
            if (::CompareStringOrdinal(found, -1, name.c_str(), -1, TRUE) == CSTR_EQUAL) {
                Print(L"yes");
                return 0;
            }
        }
    }
    Print(L"no");
    return 0;
}

int Hold(const std::wstring& ready, const std::vector<std::wstring>& files)
{
    std::vector<UniqueFile> held;
    for (const std::wstring& file : files) {
        held.emplace_back(
            ::CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!held.back()) {
            return Fail(file.c_str());
        }
    }
    UniqueFile marker(::CreateFileW(ready.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!marker) {
        return Fail(ready.c_str());
    }
    marker.reset();
    ::Sleep(INFINITE);
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::vector<std::wstring> args(argv + 1, argv + argc);
    const std::wstring command = args.empty() ? L"" : args[0];
    if (command == L"processes" && args.size() == 1) {
        return ListProcesses();
    }
    if (command == L"devices" && args.size() == 1) {
        return ListDevices();
    }
    if (command == L"device-add" && args.size() == 4) {
        return AddDevice(args[1], args[2], args[3]);
    }
    if (command == L"deny-delete" && args.size() == 3) {
        // Everyone may do everything to the key except delete it.
        return SetKeyDacl(args[1], args[2], L"D:P(D;;SD;;;WD)(A;;KA;;;WD)");
    }
    if (command == L"deny-all" && args.size() == 3) {
        return SetKeyDacl(args[1], args[2], L"D:P(D;;KA;;;WD)");
    }
    if (command == L"key-exists" && args.size() == 3) {
        return KeyExists(args[1], args[2]);
    }
    if (command == L"hold" && args.size() >= 3) {
        return Hold(args[1], std::vector<std::wstring>(args.begin() + 2, args.end()));
    }
    Print(L"usage: nvkit processes | devices | device-add HWID MANUFACTURER DESC | deny-delete 32|64 KEY | "
          L"deny-all 32|64 KEY | key-exists 32|64 KEY | hold READY FILE...");
    return 2;
}
