#include "base/text_conversion.h"
#include "base/unique_resource.h"
#include "modules/host_module.h"
#include "modules/lua_arguments.h"
#include "platform/certificates.h"

#include <windows.h>

#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

// Certificate stores kept in the registry (the machine's HKLM\SOFTWARE\Microsoft\SystemCertificates\ROOT, a user's
// <SID>\Software\Microsoft\SystemCertificates\Root), read and changed through CryptoAPI's registry store provider,
// which parses the stored blobs and keeps the store's keys consistent.
namespace {

using NvCertificates::UniqueCertificate;
using NvCertificates::UniqueStore;

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

HKEY RootKey(int32_t root)
{
    // The Reg module's numbers: 2 selects HKEY_USERS, anything else HKEY_LOCAL_MACHINE.
    return root == 2 ? HKEY_USERS : HKEY_LOCAL_MACHINE;
}

// The store of an existing registry key; a missing key is no store (never created by a read).
UniqueStore OpenStore(HKEY root, const std::wstring& path, bool writable)
{
    HKEY key = nullptr;
    if (::RegOpenKeyExW(root, path.c_str(), 0, writable ? KEY_ALL_ACCESS : KEY_READ, &key) != ERROR_SUCCESS) {
        return UniqueStore();
    }
    const UniqueKey owner(key);
    // The provider works on its own duplicate of the key.
    return UniqueStore(::CertOpenStore(CERT_STORE_PROV_REG, 0, 0, writable ? 0 : CERT_STORE_READONLY_FLAG, key));
}

bool HasName(PCCERT_CONTEXT certificate, std::vector<BYTE>& name)
{
    CERT_NAME_BLOB blob{static_cast<DWORD>(name.size()), name.data()};
    return !name.empty() && ::CertCompareCertificateName(X509_ASN_ENCODING, &blob, &certificate->pCertInfo->Subject);
}

// Cert.FindBySubject(root, key path, subject): the thumbprints (upper-case hex) of the store's certificates whose
// subject is that name (its parts in either order), compared as encoded names.
int CertFindBySubject(lua_State* state)
{
    const int32_t root = CheckInt32(state, 1);
    const std::string_view path = CheckUtf8(state, 2);
    const std::wstring subject = Utf8ToWide(CheckUtf8(state, 3));
    std::vector<BYTE> written = NvCertificates::EncodeName(subject);
    std::vector<BYTE> reversed = NvCertificates::EncodeName(subject, CERT_NAME_STR_REVERSE_FLAG);
    std::vector<std::wstring> found;
    const UniqueStore store = written.empty() ? UniqueStore() : OpenStore(RootKey(root), Utf8ToWide(path), false);
    if (store) {
        PCCERT_CONTEXT certificate = nullptr;
        while ((certificate = ::CertEnumCertificatesInStore(store.get(), certificate)) != nullptr) {
            if (HasName(certificate, written) || HasName(certificate, reversed)) {
                found.push_back(NvCertificates::Thumbprint(certificate));
            }
        }
    }
    PushWideStringList(state, found);
    return 1;
}

// Cert.Delete(root, key path, thumbprint): deletes the certificate with that SHA-1 thumbprint from the store;
// true when the store no longer holds it. False when the store cannot be opened for writing or refuses.
int CertDelete(lua_State* state)
{
    const int32_t root = CheckInt32(state, 1);
    const std::string_view path = CheckUtf8(state, 2);
    const std::string_view thumbprint = CheckUtf8(state, 3);
    if (thumbprint.size() != 40) {
        return PushBoolean(state, false);
    }
    BYTE hash[20];
    for (size_t i = 0; i < 20; ++i) {
        const std::string digits(thumbprint.substr(i * 2, 2));
        char* end = nullptr;
        hash[i] = static_cast<BYTE>(std::strtoul(digits.c_str(), &end, 16));
        if (end != digits.c_str() + 2) {
            return PushBoolean(state, false);
        }
    }
    const UniqueStore store = OpenStore(RootKey(root), Utf8ToWide(path), true);
    if (!store) {
        return PushBoolean(state, false);
    }
    CRYPT_HASH_BLOB blob{sizeof hash, hash};
    UniqueCertificate certificate(
        ::CertFindCertificateInStore(store.get(), kEncoding, 0, CERT_FIND_SHA1_HASH, &blob, nullptr));
    if (!certificate) {
        return PushBoolean(state, true);
    }
    // The deletion frees the context it is given, whatever its result.
    return PushBoolean(state, ::CertDeleteCertificateFromStore(certificate.release()) != FALSE);
}

const luaL_Reg kCertFunctions[] = {
    {"FindBySubject", CertFindBySubject},
    {"Delete", CertDelete},
    {nullptr, nullptr},
};

const LuaConstant kCertConstants[] = {{nullptr, 0}};

} // namespace

void RegisterCertModule(lua_State* state)
{
    RegisterHostModule(state, "Cert", kCertFunctions, kCertConstants);
}
