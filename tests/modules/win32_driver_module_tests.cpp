// Win32Driver module against root-enumerated devices created through the setup API.
#include "tests/modules/system_test_support.h"

#include "base/unique_device_info.h"

#include <gtest/gtest.h>

#include <cfgmgr32.h>

#include <set>
#include <vector>

namespace {

// A device class of the tests' own, so that no device of the machine is touched.
const GUID kTestClass = {0x6e1f0a52, 0x8c1d, 0x4b7e, {0x9a, 0x55, 0x1c, 0x2b, 0x3d, 0x4e, 0x5f, 0x60}};

std::vector<BYTE> MultiString(const std::vector<std::wstring>& strings)
{
    std::wstring text;
    for (const std::wstring& string : strings) {
        text += string + L'\0';
    }
    text += L'\0';
    const BYTE* data = reinterpret_cast<const BYTE*>(text.data());
    return std::vector<BYTE>(data, data + text.size() * sizeof(wchar_t));
}

struct TestDevice {
    std::wstring manufacturer;
    std::vector<std::wstring> hardwareIds;
    std::vector<std::wstring> compatibleIds;
};

// Registers a present root-enumerated device and returns its instance id, or "" on failure.
std::wstring CreateDevice(const TestDevice& device)
{
    const UniqueDevInfo list(::SetupDiCreateDeviceInfoList(&kTestClass, nullptr));
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof(data);
    if (!list || !::SetupDiCreateDeviceInfoW(list.get(), L"NVTESTDEVICE", &kTestClass, nullptr, nullptr,
                                             DICD_GENERATE_ID, &data)) {
        return {};
    }
    const std::vector<BYTE> hardwareIds = MultiString(device.hardwareIds);
    const std::wstring& manufacturer = device.manufacturer;
    if (!::SetupDiSetDeviceRegistryPropertyW(list.get(), &data, SPDRP_HARDWAREID, hardwareIds.data(),
                                             static_cast<DWORD>(hardwareIds.size())) ||
        !::SetupDiSetDeviceRegistryPropertyW(list.get(), &data, SPDRP_MFG,
                                             reinterpret_cast<const BYTE*>(manufacturer.c_str()),
                                             static_cast<DWORD>((manufacturer.size() + 1) * sizeof(wchar_t)))) {
        return {};
    }
    if (!device.compatibleIds.empty()) {
        const std::vector<BYTE> compatibleIds = MultiString(device.compatibleIds);
        if (!::SetupDiSetDeviceRegistryPropertyW(list.get(), &data, SPDRP_COMPATIBLEIDS, compatibleIds.data(),
                                                 static_cast<DWORD>(compatibleIds.size()))) {
            return {};
        }
    }
    wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
    if (!::SetupDiCallClassInstaller(DIF_REGISTERDEVICE, list.get(), &data) ||
        !::SetupDiGetDeviceInstanceIdW(list.get(), &data, id, MAX_DEVICE_ID_LEN, nullptr)) {
        return {};
    }
    return id;
}

// Which of the given devices are present.
std::set<std::wstring> PresentAmong(const std::vector<std::wstring>& candidates)
{
    const std::set<std::wstring> wanted(candidates.begin(), candidates.end());
    std::set<std::wstring> ids;
    const UniqueDevInfo list(::SetupDiGetClassDevsW(&kTestClass, nullptr, nullptr, DIGCF_PRESENT));
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof(data);
    for (DWORD index = 0; list && ::SetupDiEnumDeviceInfo(list.get(), index, &data); ++index) {
        wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
        if (::SetupDiGetDeviceInstanceIdW(list.get(), &data, id, MAX_DEVICE_ID_LEN, nullptr) && wanted.count(id) != 0) {
            ids.insert(id);
        }
    }
    return ids;
}

size_t Occurrences(const std::string& text, const std::string& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) {
        ++count;
    }
    return count;
}

std::string Uninstall(ScriptState& script, const std::string& manufacturer, const std::string& hardwareId)
{
    return script.Run("return Win32Driver.UninstallOemDriversByManufacturerAndName(" + manufacturer + ", " +
                      hardwareId + ")");
}

TEST(Win32Driver, RemovesThePresentDevicesOfTheManufacturerWithTheHardwareId)
{
    const TestDevice devices[] = {
        {L"Norvane Test", {L"NV\\VNIC_A"}, {}},
        {L"Norvane Test", {L"NV\\VNIC_OTHER", L"NV\\VNIC_A"}, {}},
        {L"norvane test", {L"NV\\VNIC_A"}, {}},
        {L"Norvane Tester", {L"NV\\VNIC_A"}, {}},
        {L"Norvane Test", {L"NV\\VNIC_OTHER"}, {L"NV\\VNIC_A"}},
        {L"Norvane Test", {L"nv\\vnic_a"}, {}},
        {L"Norvane Test", {L"NV\\VNIC_A\\SUB"}, {}},
    };
    std::vector<std::wstring> ids;
    for (const TestDevice& device : devices) {
        ids.push_back(CreateDevice(device));
        ASSERT_FALSE(ids.back().empty()) << "device " << ids.size() << ": " << ::GetLastError();
    }
    const std::set<std::wstring> matching = {ids[0], ids[1]};
    ASSERT_EQ(PresentAmong(ids), std::set<std::wstring>(ids.begin(), ids.end()));

    ScriptState script;
    const LogWindow log;
    const std::string result = Uninstall(script, "'Norvane Test'", "'NV\\\\VNIC_A'");
    const std::string text = log.Text();
    EXPECT_TRUE(log.Contains("Lua::Win32Driver::UninstallDriversWithManufacturerAndName: Uninstalling drivers of "
                             "manufacturer: 'Norvane Test' having name: 'NV\\VNIC_A'"))
        << text;
    // Only the devices with the manufacturer in the same case get their hardware ids (not their compatible
    // ids) compared, and only the two with an equal hardware id match. Wine's CM_Get_Device_ID_ExW is a stub
    // that returns no id, so the log cannot tell which devices they were; the removals below do.
    EXPECT_EQ(Occurrences(text, "UninstallDriversWithManufacturerAndName: Manufacturer match"), 5u) << text;
    EXPECT_EQ(Occurrences(text, "UninstallDriversWithManufacturerAndName: hwid : 'NV\\VNIC_A'\r\n"), 2u) << text;
    EXPECT_EQ(Occurrences(text, "UninstallDriversWithManufacturerAndName: Found matching driver, dev id : '"),
              matching.size())
        << text;

    // Wine's SetupDiSetClassInstallParamsW is a stub that fails, so there every removal of a matching device
    // fails and the device stays; on Windows each one goes. Either way the walk handles every match.
    const size_t failures = Occurrences(text, "Lua::Win32Driver::UninstallDriver: Failed to invoke DIF_REMOVE : ");
    const size_t removals = Occurrences(text, "Lua::Win32Driver::UninstallDriver: Driver uninstalled succesfully");
    EXPECT_EQ(failures + removals, matching.size()) << text;
    EXPECT_EQ(result, failures == 0 ? "true" : "false");
    std::set<std::wstring> expectedPresent(ids.begin() + 2, ids.end());
    if (failures != 0) {
        expectedPresent.insert(matching.begin(), matching.end());
    }
    EXPECT_TRUE(failures == 0 || removals == 0) << "the same call succeeds for every device or for none";
    EXPECT_EQ(PresentAmong(ids), expectedPresent);
}

TEST(Win32Driver, EmptyArgumentsTouchNothing)
{
    const std::wstring id = CreateDevice({L"Norvane Empty", {L"NV\\EMPTY_CASE"}, {}});
    ASSERT_FALSE(id.empty());
    ScriptState script;
    const std::pair<std::string, std::string> cases[] = {
        {"''", "'NV\\\\EMPTY_CASE'"},
        {"'Norvane Empty'", "''"},
        {"''", "''"},
    };
    for (const auto& [manufacturer, hardwareId] : cases) {
        const LogWindow log;
        EXPECT_EQ(Uninstall(script, manufacturer, hardwareId), "false") << manufacturer << hardwareId;
        EXPECT_TRUE(log.Contains("Invalid arguments for driver uninstallation")) << log.Text();
        EXPECT_FALSE(log.Contains("Uninstalling drivers")) << log.Text();
    }
    EXPECT_EQ(PresentAmong({id}).size(), 1u);
}

TEST(Win32Driver, NoMatchIsSuccess)
{
    ScriptState script;
    const LogWindow log;
    EXPECT_EQ(Uninstall(script, "'Nobody'", "'NV\\\\NOTHING'"), "true");
    EXPECT_FALSE(log.Contains("Found matching driver")) << log.Text();
}

} // namespace
