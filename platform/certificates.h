#pragma once

#include "base/unique_resource.h"

#include <windows.h>

#include <wincrypt.h>

#include <string>
#include <vector>

// CryptoAPI's certificate stores and certificates: owners and the two readings every user of them needs.
namespace NvCertificates {

inline void CloseStore(HCERTSTORE store)
{
    ::CertCloseStore(store, 0);
}
inline void FreeCertificate(PCCERT_CONTEXT certificate)
{
    ::CertFreeCertificateContext(certificate);
}

using UniqueStore = UniqueResource<NvHandleTraits::NullIsInvalid<HCERTSTORE, CloseStore>>;
using UniqueCertificate = UniqueResource<NvHandleTraits::NullIsInvalid<PCCERT_CONTEXT, FreeCertificate>>;

// The certificate's SHA-1 thumbprint in upper-case hex, as the registry stores name its key; empty on failure.
inline std::wstring Thumbprint(PCCERT_CONTEXT certificate)
{
    BYTE hash[20];
    DWORD size = sizeof hash;
    if (!::CertGetCertificateContextProperty(certificate, CERT_SHA1_HASH_PROP_ID, hash, &size)) {
        return std::wstring();
    }
    std::wstring text;
    for (DWORD i = 0; i < size; ++i) {
        text += L"0123456789ABCDEF"[hash[i] >> 4];
        text += L"0123456789ABCDEF"[hash[i] & 15];
    }
    return text;
}

// The encoded form of an X.500 name such as "CN=Example Root, O=Example" (parts separated by commas), in the
// order written or reversed (`flags` CERT_NAME_STR_REVERSE_FLAG); empty when it is not such a name.
inline std::vector<BYTE> EncodeName(const std::wstring& name, DWORD flags = 0)
{
    flags |= CERT_X500_NAME_STR | CERT_NAME_STR_COMMA_FLAG;
    DWORD size = 0;
    if (!::CertStrToNameW(X509_ASN_ENCODING, name.c_str(), flags, nullptr, nullptr, &size, nullptr)) {
        return {};
    }
    std::vector<BYTE> encoded(size);
    if (!::CertStrToNameW(X509_ASN_ENCODING, name.c_str(), flags, nullptr, encoded.data(), &size, nullptr)) {
        return {};
    }
    encoded.resize(size);
    return encoded;
}

} // namespace NvCertificates
