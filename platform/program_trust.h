#pragma once

#include "base/unique_resource.h"

#include <windows.h>

#include <string>

// Whether a program may be started with the tool's rights: only when nobody but the Administrators, SYSTEM,
// TrustedInstaller and the account the tool runs as could have written or replaced it. Anyone else who can
// change the file, plant a library beside it or swap a folder on its path would run code as the administrator.
namespace NvProgramTrust {

// Where an object stands on the program's path; each place has its own set of rights that would let someone
// change what is started.
enum class Place {
    // The program file: writing, appending, deleting, or changing its owner or access list.
    Program,
    // The folder that holds it: also creating files or folders in it (a library or an "<name>.local" folder
    // beside the program is loaded by it).
    ProgramFolder,
    // Every folder above, up to the volume root: deleting or renaming it or its entries, or changing its owner
    // or access list. Creating new entries there cannot change the existing ones, so the volume root's "users
    // may create folders" entry is no danger.
    FolderAbove,
};

// Who, besides the trusted accounts and `runningUser`, owns the object or may change it as `place` counts
// changes, as text ("owned by S-1-5-21-...", "writable by S-1-5-11 (NT AUTHORITY\Authenticated Users)");
// empty when nobody. Entries that only pass on to new objects (inherit-only) are ignored; CREATOR OWNER
// in an entry of the object itself grants nothing, and OWNER RIGHTS grants to the owner, which is checked
// on its own. A missing access list lets everyone in.
std::wstring UntrustedWriter(PSECURITY_DESCRIPTOR descriptor, Place place, PSID runningUser);

// True when the opened object's owner is the Administrators, SYSTEM, TrustedInstaller or the account the tool
// runs as.
bool IsOwnedByTrustedAccount(HANDLE handle);

// A program file held open so that it cannot be replaced until the process has been created from it.
class TrustedProgram {
public:
    // Opens the program without sharing write or delete access, and checks it and every folder from its own up
    // to the volume root through handles opened one inside the other, never through a link. False with the
    // reason (which folder or file is open to whom) in `refusal`.
    bool Open(const std::wstring& path, std::wstring& refusal);
    // The path to start the checked file by.
    const std::wstring& LaunchPath() const { return m_launchPath; }

private:
    UniqueFile m_file;
    std::wstring m_launchPath;
};

} // namespace NvProgramTrust
