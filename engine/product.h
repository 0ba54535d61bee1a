#pragma once

#include "engine/lua_uninstall_script.h"
#include "engine/product_config.h"

#include <memory>
#include <string>

// A product described by an uninstall script; the script's Lua state lives as long as the product, so the
// clean-up runs in the state in which detection ran.
class Product : public ProductConfig {
public:
    std::wstring GetId() const override { return m_id; }
    std::wstring GetDisplayName() const override { return m_displayName; }
    bool IsDetected() const override { return m_detected; }
    bool IsSelected() const override { return m_selected; }
    void SetSelected(bool selected) override { m_selected = selected; }
    int32_t GetPriority() const override;
    // Names a product whose script gives no display name of its own.
    void SetDisplayName(std::wstring displayName) { m_displayName = std::move(displayName); }

    // Loads the script and reads the product from it; false for a script that fails or is only a library.
    virtual bool Load(const std::wstring& scriptPath);
    // After a false Load: the file did not load (a broken bundle) rather than being a library.
    bool LoadFailed() const { return m_loadFailed; }
    // Runs the script's clean-up with the ownership and restore privileges enabled.
    virtual bool Remove();
    virtual std::wstring GetScriptName() const { return m_scriptName; }

private:
    std::wstring m_id;
    std::wstring m_displayName;
    std::wstring m_scriptName;
    bool m_detected = false;
    bool m_selected = false;
    bool m_loadFailed = false;
    std::unique_ptr<LuaUninstallScript> m_script;
};
