#pragma once

#include <string>

// Forced removal, directly in the registry, of what Windows Installer keeps about per-machine products: for
// installations that Windows Installer itself can no longer remove (a lost cached package, a broken
// registration). Every planned deletion is attempted; keys that are already gone count as deleted.
namespace MsiCleanup {

// The products filed under the upgrade code (text form), then the upgrade code's own keys. The result is that
// of the upgrade code's keys alone.
bool CleanupUpgradeCode(const std::wstring& upgradeCode);
// The product code in text form.
bool CleanupProductCode(const std::wstring& productCode);
// The first machine product, in registry order, that has a feature of that exact name.
bool CleanupProductBasedOnFeature(const std::wstring& feature);
// The first machine product whose publisher equals `publisher` and whose display name matches the
// case-sensitive mask ("*" and "?").
bool CleanupProductBasedOnNameAndPublisher(const std::wstring& nameMask, const std::wstring& publisher);

} // namespace MsiCleanup
