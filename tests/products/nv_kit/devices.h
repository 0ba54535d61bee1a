// Devices of the kit's machine through setupapi.
#pragma once

#include <string>
#include <vector>

namespace NvKit {

struct Device {
    std::wstring instanceId;
    std::wstring manufacturer;
    std::vector<std::wstring> hardwareIds;
};

std::vector<Device> PresentDevices();
// What a driver package's installer does for a virtual adapter: a root-enumerated device in the network class.
void AddNetworkDevice(const std::wstring& hardwareId, const std::wstring& manufacturer,
                      const std::wstring& description);

} // namespace NvKit
