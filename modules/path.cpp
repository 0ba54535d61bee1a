#include "logging/nv_qor_log.h"
#include "modules/host_module.h"
#include "modules/lua_arguments.h"
#include "platform/pending_renames.h"

#include <optional>
#include <string>

namespace {

constexpr wchar_t kRemoveLogName[] = L"Lua::Path::RemoveFromPendingOperation";

int RemoveFromPendingOperation(lua_State* state)
{
    const std::wstring prefix = CheckWideString(state, 1);
    // An empty prefix would match every pending operation of the machine, other programs' included.
    if (prefix.empty()) {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: %s", kRemoveLogName,
                   lua_rawlen(state, 1) != 0 ? L"Prefix is not valid UTF-8" : L"Prefix is empty");
        return 0;
    }
    NV_QOR_LOG(NvQorLogging::Debug, L"%s: Got prefix to remove: '%s'", kRemoveLogName, prefix.c_str());
    const std::optional<size_t> removed = PendingRenames::RemoveConcerning(prefix);
    if (!removed) {
        return 0;
    }
    lua_pushinteger(state, static_cast<lua_Integer>(*removed));
    return 1;
}

const luaL_Reg kPathFunctions[] = {
    {"RemoveFromPendingOperation", RemoveFromPendingOperation},
    {nullptr, nullptr},
};

const LuaConstant kNoConstants[] = {{nullptr, 0}};

} // namespace

void RegisterPathModule(lua_State* state)
{
    RegisterHostModule(state, "Path", kPathFunctions, kNoConstants);
}
