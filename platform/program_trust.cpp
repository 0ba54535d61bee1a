#include "platform/program_trust.h"

#include "platform/file_handles.h"
#include "platform/paths.h"

#include <aclapi.h>
#include <sddl.h>

#include <vector>

namespace NvProgramTrust {
namespace {

// "\\?\C:\": the literal prefix and a drive root.
constexpr size_t kLiteralPrefixLength = 4;
constexpr size_t kDriveRootLength = 7;

// The rights that change what a place on the path holds. GENERIC_WRITE on a folder above only adds entries.
constexpr ACCESS_MASK kChangesAnything = DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_ALL | MAXIMUM_ALLOWED;
constexpr ACCESS_MASK kChangesFile = kChangesAnything | FILE_WRITE_DATA | FILE_APPEND_DATA | GENERIC_WRITE;
constexpr ACCESS_MASK kChangesProgramFolder =
    kChangesAnything | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | GENERIC_WRITE;
constexpr ACCESS_MASK kChangesFolderAbove = kChangesAnything | FILE_DELETE_CHILD;

ACCESS_MASK DangerousRights(Place place)
{
    switch (place) {
    case Place::Program:
        return kChangesFile;
    case Place::ProgramFolder:
        return kChangesProgramFolder;
    case Place::FolderAbove:
    default:
        return kChangesFolderAbove;
    }
}

bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type)
{
    return ::IsWellKnownSid(sid, type) != FALSE;
}

bool IsTrustedInstaller(PSID sid)
{
    PSID trustedInstaller = nullptr;
    if (!::ConvertStringSidToSidW(L"S-1-5-80-956008885-3418522649-1831038044-1850635186-2720036831",
                                  &trustedInstaller)) {
        return false;
    }
    const UniqueLocal owner(trustedInstaller);
    return ::EqualSid(sid, trustedInstaller) != FALSE;
}

// The account the tool runs as is trusted too: whoever can act as it has the tool's rights already. Other
// administrators' own accounts are not: their membership cannot be read from the descriptor.
bool IsTrusted(PSID sid, PSID runningUser)
{
    return IsWellKnown(sid, WinBuiltinAdministratorsSid) || IsWellKnown(sid, WinLocalSystemSid) ||
           IsTrustedInstaller(sid) || (runningUser != nullptr && ::EqualSid(sid, runningUser));
}

std::wstring Describe(PSID sid)
{
    UniqueLocal text;
    std::wstring description = ::ConvertSidToStringSidW(sid, reinterpret_cast<LPWSTR*>(text.put()))
                                   ? static_cast<const wchar_t*>(text.get())
                                   : L"an unreadable account";
    wchar_t name[256];
    wchar_t domain[256];
    DWORD nameSize = static_cast<DWORD>(std::size(name));
    DWORD domainSize = static_cast<DWORD>(std::size(domain));
    SID_NAME_USE use{};
    if (::LookupAccountSidW(nullptr, sid, name, &nameSize, domain, &domainSize, &use)) {
        description +=
            domainSize > 0 ? L" (" + std::wstring(domain) + L"\\" + name + L")" : L" (" + std::wstring(name) + L")";
    }
    return description;
}

// An allowing entry's SID, for the entry types whose SID follows the mask directly; none for the object and
// compound types, which the check does not read and so counts against the object.
PSID AllowedSid(const ACE_HEADER* header)
{
    switch (header->AceType) {
    case ACCESS_ALLOWED_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_ACE_TYPE:
        return const_cast<DWORD*>(&reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header)->SidStart);
    default:
        return nullptr;
    }
}

bool IsAllowingEntry(BYTE type)
{
    return type == ACCESS_ALLOWED_ACE_TYPE || type == ACCESS_ALLOWED_CALLBACK_ACE_TYPE ||
           type == ACCESS_ALLOWED_OBJECT_ACE_TYPE || type == ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE ||
           type == ACCESS_ALLOWED_COMPOUND_ACE_TYPE;
}

std::wstring ReadSecurity(HANDLE handle, UniqueLocal& descriptor)
{
    const DWORD error =
        ::GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                          nullptr, nullptr, nullptr, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()));
    return error == ERROR_SUCCESS ? std::wstring() : L"its security cannot be read (" + std::to_wstring(error) + L")";
}

UniqueLocal RunningUser()
{
    UniqueToken token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) {
        return UniqueLocal();
    }
    DWORD size = 0;
    ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (size == 0 || !::GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) {
        return UniqueLocal();
    }
    const PSID user = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
    const DWORD length = ::GetLengthSid(user);
    UniqueLocal copy(::LocalAlloc(LMEM_FIXED, length));
    if (!copy || !::CopySid(length, copy.get(), user)) {
        return UniqueLocal();
    }
    return copy;
}

// Win32 parsing drops trailing dots and spaces, so such a name would start another file than the one checked.
bool HasTrimmedName(const std::vector<std::wstring>& components)
{
    for (const std::wstring& component : components) {
        if (component.back() == L'.' || component.back() == L' ') {
            return true;
        }
    }
    return false;
}

} // namespace

std::wstring UntrustedWriter(PSECURITY_DESCRIPTOR descriptor, Place place, PSID runningUser)
{
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    if (!::GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || owner == nullptr) {
        return L"its owner cannot be read";
    }
    if (!IsTrusted(owner, runningUser)) {
        return L"owned by " + Describe(owner);
    }
    BOOL present = FALSE;
    PACL dacl = nullptr;
    if (!::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) {
        return L"its access list cannot be read";
    }
    if (!present || dacl == nullptr) {
        return L"writable by everyone (it has no access list)";
    }
    const ACCESS_MASK dangerous = DangerousRights(place);
    for (DWORD index = 0; index < dacl->AceCount; ++index) {
        void* entry = nullptr;
        if (!::GetAce(dacl, index, &entry)) {
            return L"its access list cannot be read";
        }
        const auto* header = static_cast<const ACE_HEADER*>(entry);
        if (!IsAllowingEntry(header->AceType) || (header->AceFlags & INHERIT_ONLY_ACE) != 0) {
            continue;
        }
        const ACCESS_MASK mask = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header)->Mask;
        if ((mask & dangerous) == 0) {
            continue;
        }
        const PSID grantee = AllowedSid(header);
        if (grantee == nullptr) {
            return L"writable through an access entry of type " + std::to_wstring(header->AceType);
        }
        if (IsTrusted(grantee, runningUser) || IsWellKnown(grantee, WinCreatorOwnerSid) ||
            IsWellKnown(grantee, WinCreatorGroupSid) || IsWellKnown(grantee, WinCreatorOwnerRightsSid)) {
            continue;
        }
        return L"writable by " + Describe(grantee);
    }
    return {};
}

bool IsOwnedByTrustedAccount(HANDLE handle)
{
    PSID owner = nullptr;
    UniqueLocal descriptor;
    if (::GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                          reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put())) != ERROR_SUCCESS ||
        owner == nullptr) {
        return false;
    }
    const UniqueLocal runningUser = RunningUser();
    return IsTrusted(owner, runningUser.get());
}

bool TrustedProgram::Open(const std::wstring& path, std::wstring& refusal)
{
    m_file.reset();
    // A relative name would be found through the current folder, which whoever started the tool chose.
    if (!IsFullPath(path)) {
        refusal = L"'" + path + L"' is not a full path";
        return false;
    }
    const std::wstring literal = LiteralPath(path);
    NvFileHandles::Folder folder;
    size_t rootLength = 0;
    // A share's folders are another machine's to check.
    if (!NvFileHandles::OpenRoot(literal, READ_CONTROL, folder, rootLength) || rootLength != kDriveRootLength) {
        refusal = L"'" + path + L"' is not on a local drive";
        return false;
    }
    const std::vector<std::wstring> components = NvFileHandles::Components(literal, rootLength);
    if (components.empty() || HasTrimmedName(components)) {
        refusal = L"'" + path + L"' does not name a file as Windows starts it";
        return false;
    }
    const UniqueLocal runningUser = RunningUser();
    std::wstring walked = literal.substr(kLiteralPrefixLength, rootLength - kLiteralPrefixLength);
    // Checks what `handle` holds at the path walked so far.
    const auto check = [&](HANDLE handle, Place place) {
        UniqueLocal descriptor;
        std::wstring who = ReadSecurity(handle, descriptor);
        if (who.empty()) {
            who = UntrustedWriter(descriptor.get(), place, runningUser.get());
        }
        if (!who.empty()) {
            refusal = (place == Place::Program ? L"the file '" : L"the folder '") + walked + L"' is " + who;
            return false;
        }
        return true;
    };
    if (!check(folder.handle.get(), components.size() == 1 ? Place::ProgramFolder : Place::FolderAbove)) {
        return false;
    }
    for (size_t index = 0; index + 1 < components.size(); ++index) {
        const std::wstring& name = components[index];
        walked = MakePath(walked, name);
        NvFileHandles::Entry entry = NvFileHandles::OpenChild(folder, name, FILE_LIST_DIRECTORY | READ_CONTROL);
        if (entry.kind == NvFileHandles::Kind::Link) {
            refusal = L"the folder '" + walked + L"' is a link";
            return false;
        }
        if (!NvFileHandles::AdoptFolder(entry, folder, name, folder)) {
            refusal =
                L"the folder '" + walked + L"' cannot be opened as a folder (" + std::to_wstring(entry.error) + L")";
            return false;
        }
        if (!check(folder.handle.get(), index + 2 == components.size() ? Place::ProgramFolder : Place::FolderAbove)) {
            return false;
        }
    }
    walked = MakePath(walked, components.back());
    // Read sharing only: nobody may write, rename or delete the file while it is held.
    NvFileHandles::Entry program = NvFileHandles::OpenChild(
        folder, components.back(), FILE_READ_DATA | FILE_EXECUTE | READ_CONTROL, FILE_SHARE_READ);
    if (program.kind != NvFileHandles::Kind::File) {
        refusal = L"the file '" + walked + L"' " +
                  (program.kind == NvFileHandles::Kind::Link ? std::wstring(L"is a link")
                   : program.kind == NvFileHandles::Kind::Directory
                       ? std::wstring(L"is a folder")
                       : L"cannot be opened (" + std::to_wstring(program.error) + L")");
        return false;
    }
    if (!check(program.handle.get(), Place::Program)) {
        return false;
    }
    m_file = std::move(program.handle);
    m_launchPath = walked;
    return true;
}

} // namespace NvProgramTrust
