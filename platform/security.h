#pragma once

#include "base/unique_resource.h"

#include <memory>

// A SECURITY_ATTRIBUTES record with a self-relative descriptor built from SDDL; owns both allocations.
class OwnedSecurityAttributes {
public:
    // Null while empty.
    SECURITY_ATTRIBUTES* Get() const { return m_attributes.get(); }
    bool IsEmpty() const { return !m_attributes; }
    void Reset();
    // Fills the holder from SDDL text and marks the DACL protected; leaves it empty on failure.
    bool AssignFromSddl(const wchar_t* sddl);

private:
    std::unique_ptr<SECURITY_ATTRIBUTES> m_attributes;
    UniqueLocal m_descriptor;
};

void BuildAdministratorsOnlySecurity(OwnedSecurityAttributes& holder);
void BuildWorkDirectorySecurity(OwnedSecurityAttributes& holder);
UniqueSid CreateAdministratorsSid();
bool IsMemberOfBuiltinGroup(HANDLE token, DWORD relativeId);
bool IsAdministrator(HANDLE token = nullptr);
