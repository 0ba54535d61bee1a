#pragma once

#include "base/unique_resource.h"

#include <windows.h>

#include <string>

// Signals any change of names or values in a key's subtree.
class KeyWatch {
public:
    // Opens the key and arms the watch; false (and nothing armed) when either fails.
    bool Arm(HKEY root, const std::wstring& path, DWORD flags);
    bool IsArmed() const { return m_key.get() != nullptr; }
    // True when the watch is not armed or has seen a change.
    bool Changed() const;
    // After the owner's own changes: they are not someone else's. A change made by another process meanwhile
    // is not seen by the watch either; the owner has to find it by other means (last-write times).
    void Rearm();
    void Disarm();

private:
    UniqueKey m_key;
    UniqueEvent m_event;
};
