#include "base/text_conversion.h"
#include "modules/host_module.h"
#include "modules/lua_arguments.h"
#include "platform/drivers.h"

#include <string>

namespace {

int GetDriverPackage(lua_State* state)
{
    const std::wstring path = CheckWideString(state, 1);
    NvDrivers::Package package;
    if (path.empty() || !NvDrivers::ReadPackage(path, package)) {
        lua_pushnil(state);
        return 1;
    }
    lua_createtable(state, 0, 3);
    PushWideString(state, package.provider);
    lua_setfield(state, -2, "provider");
    PushWideStringList(state, package.services);
    lua_setfield(state, -2, "services");
    PushWideStringList(state, package.files);
    lua_setfield(state, -2, "files");
    return 1;
}

int UninstallOemDriversByManufacturerAndName(lua_State* state)
{
    const std::string_view manufacturer = CheckUtf8(state, 1);
    const std::string_view hardwareId = CheckUtf8(state, 2);
    return PushBoolean(state, NvDrivers::UninstallDevices(Utf8ToWide(manufacturer), Utf8ToWide(hardwareId)));
}

const luaL_Reg kWin32DriverFunctions[] = {
    {"UninstallOemDriversByManufacturerAndName", UninstallOemDriversByManufacturerAndName},
    {"GetDriverPackage", GetDriverPackage},
    {nullptr, nullptr},
};

const LuaConstant kNoConstants[] = {{nullptr, 0}};

} // namespace

void RegisterWin32DriverModule(lua_State* state)
{
    RegisterHostModule(state, "Win32Driver", kWin32DriverFunctions, kNoConstants);
}
