#include "tests/products/nv_kit/certificates.h"

#include "base/unique_resource.h"
#include "platform/certificates.h"
#include "tests/products/nv_kit/output.h"
#include "tests/products/nv_kit/registry.h"

#include <windows.h>

namespace NvKit {

namespace {

using NvCertificates::UniqueCertificate;
using NvCertificates::UniqueStore;

std::vector<BYTE> EncodeName(const std::wstring& name)
{
    std::vector<BYTE> encoded = NvCertificates::EncodeName(name);
    if (encoded.empty()) {
        Die(L"encoding the name " + name);
    }
    return encoded;
}

// The store of a registry key; a missing key is no store unless `create`.
UniqueStore OpenStore(const std::wstring& store, bool create)
{
    const auto [root, path] = SplitRoot(store);
    HKEY key = nullptr;
    const LSTATUS status =
        create ? ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr)
               : ::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key);
    if (status == ERROR_FILE_NOT_FOUND && !create) {
        return UniqueStore();
    }
    if (status != ERROR_SUCCESS) {
        Die(L"opening the store " + store, static_cast<DWORD>(status));
    }
    const UniqueKey owner(key);
    UniqueStore handle(::CertOpenStore(CERT_STORE_PROV_REG, 0, 0, create ? 0 : CERT_STORE_READONLY_FLAG, key));
    if (!handle) {
        Die(L"opening the store " + store);
    }
    return handle;
}

std::wstring Thumbprint(PCCERT_CONTEXT certificate)
{
    const std::wstring thumbprint = NvCertificates::Thumbprint(certificate);
    if (thumbprint.empty()) {
        Die(L"reading a certificate's thumbprint");
    }
    return thumbprint;
}

// The key pair made for a new certificate is the kit's, not the product's: it goes, and the certificate no
// longer names it, so that only the root itself is left on the machine.
void DiscardKeyPair(PCCERT_CONTEXT certificate)
{
    DWORD size = 0;
    if (!::CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) {
        return;
    }
    std::vector<BYTE> buffer(size);
    if (!::CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(), &size)) {
        Die(L"reading a certificate's key");
    }
    const auto* key = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data());
    HCRYPTPROV provider = 0;
    if (!::CryptAcquireContextW(&provider, key->pwszContainerName, key->pwszProvName, key->dwProvType,
                                CRYPT_DELETEKEYSET | (key->dwFlags & CRYPT_MACHINE_KEYSET)) ||
        !::CertSetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, 0, nullptr)) {
        Die(L"discarding a certificate's key");
    }
}

} // namespace

std::wstring AddSelfSignedRoot(const std::wstring& subject, const std::vector<std::wstring>& stores)
{
    std::vector<BYTE> name = EncodeName(subject);
    CERT_NAME_BLOB blob{static_cast<DWORD>(name.size()), name.data()};
    const UniqueCertificate certificate(
        ::CertCreateSelfSignCertificate(0, &blob, 0, nullptr, nullptr, nullptr, nullptr, nullptr));
    if (!certificate) {
        Die(L"creating the certificate " + subject);
    }
    DiscardKeyPair(certificate.get());
    for (const std::wstring& store : stores) {
        if (!::CertAddCertificateContextToStore(OpenStore(store, true).get(), certificate.get(),
                                                CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
            Die(L"adding " + subject + L" to " + store);
        }
    }
    return Thumbprint(certificate.get());
}

std::vector<std::wstring> RootsWithSubject(const std::wstring& store, const std::wstring& subject)
{
    std::vector<std::wstring> found;
    const UniqueStore handle = OpenStore(store, false);
    if (!handle) {
        return found;
    }
    std::vector<BYTE> name = EncodeName(subject);
    CERT_NAME_BLOB blob{static_cast<DWORD>(name.size()), name.data()};
    PCCERT_CONTEXT certificate = nullptr;
    while ((certificate = ::CertEnumCertificatesInStore(handle.get(), certificate)) != nullptr) {
        if (::CertCompareCertificateName(X509_ASN_ENCODING, &blob, &certificate->pCertInfo->Subject)) {
            found.push_back(Thumbprint(certificate));
        }
    }
    return found;
}

} // namespace NvKit
