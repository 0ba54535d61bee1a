// Trusted root certificates in the registry's certificate stores, through CryptoAPI.
#pragma once

#include <string>
#include <vector>

namespace NvKit {

// A new self-signed certificate with that subject ("CN=..., O=..."), added to each store (registry keys as
// RegistryDump names them: an HKLM path or "HKU\..."); its SHA-1 thumbprint in upper-case hex.
std::wstring AddSelfSignedRoot(const std::wstring& subject, const std::vector<std::wstring>& stores);

// The thumbprints of the store's certificates with that subject; none when the store is missing.
std::vector<std::wstring> RootsWithSubject(const std::wstring& store, const std::wstring& subject);

} // namespace NvKit
