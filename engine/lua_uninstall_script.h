#pragma once

#include "engine/lua_script.h"

#include <cstdint>
#include <string>

// A script that describes one removable product through global functions: GetProductId, DetectProduct and
// CleanupProduct (required), GetProductDisplayName and GetPriority (optional). A file without the required
// three is a library that product scripts load with require.
class LuaUninstallScript : public LuaScript {
public:
    static constexpr int32_t kDefaultPriority = 50;

    using LuaScript::LuaScript;

    // Loads the script, then reads its priority.
    bool Initialize() override;
    virtual bool IsValidScript();
    virtual std::wstring GetProductId();
    virtual bool DetectProduct();
    virtual bool CleanupProduct();
    virtual std::wstring GetProductDisplayName();
    virtual int32_t GetPriority() const { return m_priority; }

    // Calls the global function `name` with no arguments, protected and within its time limit (the clean-up
    // limit for CleanupProduct, the detection limit for the others). True leaves its one result on top of
    // the stack; a missing function or a Lua error gives false, and an error also marks the run as failed.
    bool CallLuaFunction(const char* name);

private:
    bool IsGlobalFunction(const char* name);
    // The result of `name` as UTF-16: a string, or a number in its Lua text form; empty otherwise.
    std::wstring CallForString(const char* name);
    // True only when `name` returns the boolean true.
    bool CallForTrue(const char* name);

    int32_t m_priority = kDefaultPriority;
};
