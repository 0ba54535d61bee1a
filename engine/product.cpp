#include "engine/product.h"

#include "logging/nv_qor_log.h"
#include "platform/privilege.h"

int32_t Product::GetPriority() const
{
    return m_script ? m_script->GetPriority() : LuaUninstallScript::kDefaultPriority;
}

bool Product::Load(const std::wstring& scriptPath)
{
    m_script = std::make_unique<LuaUninstallScript>(scriptPath);
    m_loadFailed = !m_script->Initialize();
    if (m_loadFailed || !m_script->IsValidScript()) {
        return false;
    }
    m_id = m_script->GetProductId();
    m_displayName = m_script->GetProductDisplayName();
    m_detected = m_script->DetectProduct();
    const size_t separator = scriptPath.rfind(L'\\');
    m_scriptName = separator == std::wstring::npos ? scriptPath : scriptPath.substr(separator + 1);
    return true;
}

bool Product::Remove()
{
    if (!m_script) {
        return false;
    }
    // Scripts reset ownership and access lists of files and keys that deny the administrator.
    NvPrivilege takeOwnership(L"SeTakeOwnershipPrivilege");
    if (!takeOwnership.IsEnabled()) {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Failed to get TakeOnwerShip privilege", NV_LOG_FUNCTION);
    }
    NvPrivilege restore(L"SeRestorePrivilege");
    if (!restore.IsEnabled()) {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: Failed to get Restore privilege", NV_LOG_FUNCTION);
    }
    return m_script->CleanupProduct();
}
