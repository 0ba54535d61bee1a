#include "base/unique_resource.h"
#include "platform/program_trust.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <string>

namespace {

using NvProgramTrust::Place;

// The access lists a real Windows 10 gives these places; Wine derives its lists from Unix modes and keeps no
// other, so the decision is fed the real ones here.
constexpr wchar_t kTrustedInstaller[] = L"S-1-5-80-956008885-3418522649-1831038044-1850635186-2720036831";
const std::wstring kVolumeRoot = L"O:SYG:SYD:(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)"
                                 L"(A;OICIIO;SDGXGWGR;;;AU)(A;;LC;;;AU)";
const std::wstring kProgramFiles = std::wstring(L"O:") + kTrustedInstaller + L"D:PAI(A;;FA;;;" + kTrustedInstaller +
                                   L")(A;CIIO;GA;;;" + kTrustedInstaller +
                                   L")(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;SY)(A;;0x1301bf;;;BA)(A;OICIIO;GA;;;BA)"
                                   L"(A;;0x1200a9;;;BU)(A;OICIIO;GXGR;;;BU)(A;OICIIO;GA;;;CO)(A;;0x1200a9;;;AC)";
const std::wstring kInstalledFolder = L"O:SYG:SYD:AI(A;ID;0x1301bf;;;SY)(A;OICIIOID;GA;;;SY)(A;ID;0x1301bf;;;BA)"
                                      L"(A;OICIIOID;GA;;;BA)(A;ID;0x1200a9;;;BU)(A;OICIIOID;GXGR;;;BU)"
                                      L"(A;OICIIOID;GA;;;CO)";
const std::wstring kInstalledProgram = L"O:BAG:SYD:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)";
const std::wstring kSystem32 = std::wstring(L"O:") + kTrustedInstaller + L"D:PAI(A;;FA;;;" + kTrustedInstaller +
                               L")(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;SY)(A;;0x1301bf;;;BA)(A;OICIIO;GA;;;BA)"
                               L"(A;;0x1200a9;;;BU)(A;OICIIO;GXGR;;;BU)(A;OICIIO;GA;;;CO)";
const std::wstring kSystemProgram = std::wstring(L"O:") + kTrustedInstaller + L"D:PAI(A;;FA;;;" + kTrustedInstaller +
                                    L")(A;;0x1200a9;;;SY)(A;;0x1200a9;;;BA)(A;;0x1200a9;;;BU)";
// Users may create files and folders in ProgramData and in every folder below it that inherits its list.
const std::wstring kProgramData = L"O:SYG:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;GA;;;CO)"
                                  L"(A;OICI;0x1200a9;;;BU)(A;CI;DCLCRPCR;;;BU)";
const std::wstring kAdminFolderInProgramData = L"O:BAG:SYD:AI(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)"
                                               L"(A;OICIIOID;GA;;;CO)(A;OICIID;0x1200a9;;;BU)(A;CIID;DCLCRPCR;;;BU)";
// A folder made under the volume root inherits "Authenticated Users: Modify".
const std::wstring kAppsFolder = L"O:BAG:SYD:AI(A;OICIID;FA;;;BA)(A;OICIID;FA;;;SY)(A;OICIID;0x1200a9;;;BU)"
                                 L"(A;ID;0x1301bf;;;AU)(A;OICIIOID;SDGXGWGR;;;AU)";
const std::wstring kUserOwnedProgram = L"O:S-1-5-21-1111-2222-3333-1001D:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)";
// What Wine reports for every file: its one account owns everything and may write it, everyone else may read.
const std::wstring kWineFolder = L"O:S-1-5-21-0-0-0-1000G:S-1-5-21-0-0-0-513D:(A;OICI;FA;;;SY)"
                                 L"(A;OICI;FA;;;S-1-5-21-0-0-0-1000)(A;OICI;0x1200a9;;;WD)";
const std::wstring kWineWorldWritable = L"O:S-1-5-21-0-0-0-1000D:(A;OICI;FA;;;SY)(A;OICI;FA;;;S-1-5-21-0-0-0-1000)"
                                        L"(A;OICI;0x1301ff;;;WD)";

struct Sid {
    explicit Sid(const wchar_t* text) { ::ConvertStringSidToSidW(text, reinterpret_cast<PSID*>(owner.put())); }
    UniqueLocal owner;
};

std::wstring Verdict(const std::wstring& sddl, Place place, const wchar_t* runningUser = L"S-1-5-18")
{
    UniqueLocal descriptor;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, descriptor.put(),
                                                                nullptr)) {
        return L"<bad SDDL>";
    }
    const Sid user(runningUser);
    return NvProgramTrust::UntrustedWriter(descriptor.get(), place, user.owner.get());
}

TEST(ProgramTrust, TheSystemsOwnProgramFoldersAreTrusted)
{
    const struct {
        const std::wstring& sddl;
        Place place;
    } trusted[] = {
        {kVolumeRoot, Place::FolderAbove},
        {kProgramFiles, Place::FolderAbove},
        {kInstalledFolder, Place::ProgramFolder},
        {kInstalledProgram, Place::Program},
        {kSystem32, Place::ProgramFolder},
        {kSystemProgram, Place::Program},
        // Users only add entries to ProgramData itself, which cannot change a folder already on the path.
        {kProgramData, Place::FolderAbove},
    };
    for (const auto& c : trusted) {
        EXPECT_EQ(Verdict(c.sddl, c.place), L"") << c.sddl;
    }
}

TEST(ProgramTrust, PlacesOthersCanChangeAreNamedWithWhoCanChangeThem)
{
    const struct {
        const std::wstring& sddl;
        Place place;
        const wchar_t* who;
    } refused[] = {
        // Creating files where the program lies plants libraries it loads.
        {kVolumeRoot, Place::ProgramFolder, L"writable by S-1-5-11"},
        {kProgramData, Place::ProgramFolder, L"writable by S-1-5-32-545"},
        {kAdminFolderInProgramData, Place::ProgramFolder, L"writable by S-1-5-32-545"},
        {kAppsFolder, Place::FolderAbove, L"writable by S-1-5-11"},
        {kAppsFolder, Place::ProgramFolder, L"writable by S-1-5-11"},
        {kUserOwnedProgram, Place::Program, L"owned by S-1-5-21-1111-2222-3333-1001"},
        {L"O:BAD:(A;;FA;;;WD)", Place::Program, L"writable by S-1-1-0"},
        {L"O:BAD:(A;;GW;;;BU)", Place::Program, L"writable by S-1-5-32-545"},
        {L"O:BAD:(A;;WO;;;BU)", Place::FolderAbove, L"writable by S-1-5-32-545"},
        {L"O:BAD:(A;;DT;;;BU)", Place::FolderAbove, L"writable by S-1-5-32-545"},
        {L"O:BA", Place::Program, L"writable by everyone (it has no access list)"},
    };
    for (const auto& c : refused) {
        const std::wstring verdict = Verdict(c.sddl, c.place);
        EXPECT_EQ(verdict.rfind(c.who, 0), 0u) << c.sddl << L" gives: " << verdict;
    }
}

TEST(ProgramTrust, TheRunningAccountAndEntriesThatGrantNothingHereDoNotCount)
{
    // Inherit-only entries and CREATOR OWNER grant nothing on the object itself.
    EXPECT_EQ(Verdict(L"O:BAD:(A;OICIIO;GA;;;BU)(A;;GA;;;CO)(A;;GA;;;OW)(A;;FA;;;BA)", Place::Program), L"");
    // Wine's single account: trusted as the account the tool runs as, and only as that account.
    EXPECT_EQ(Verdict(kWineFolder, Place::ProgramFolder, L"S-1-5-21-0-0-0-1000"), L"");
    EXPECT_EQ(Verdict(kWineFolder, Place::ProgramFolder).rfind(L"owned by S-1-5-21-0-0-0-1000", 0), 0u);
    // A folder whose Unix mode lets others write shows as writable by everyone.
    EXPECT_EQ(Verdict(kWineWorldWritable, Place::FolderAbove, L"S-1-5-21-0-0-0-1000").rfind(L"writable by S-1-1-0", 0),
              0u);
}

TEST(ProgramTrust, OpensTheProgramThroughCheckedFoldersAndHoldsIt)
{
    wchar_t system[MAX_PATH];
    ASSERT_GT(::GetSystemDirectoryW(system, MAX_PATH), 0u);
    const std::wstring program = std::wstring(system) + L"\\cmd.exe";
    NvProgramTrust::TrustedProgram trusted;
    std::wstring refusal;
    ASSERT_TRUE(trusted.Open(program, refusal)) << refusal;
    EXPECT_EQ(::_wcsicmp(trusted.LaunchPath().c_str(), program.c_str()), 0) << trusted.LaunchPath();
    // Held without write or delete sharing.
    const UniqueFile writer(::CreateFileW(program.c_str(), FILE_WRITE_DATA,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(writer) << "the held program could be opened for writing";
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));

    const struct {
        std::wstring path;
        const wchar_t* refusal;
    } refused[] = {
        {std::wstring(system) + L"\\no-such-program.exe", L"cannot be opened"},
        {std::wstring(system), L"is a folder"},
        {std::wstring(system) + L"\\cmd.exe.", L"does not name a file as Windows starts it"},
        {L"\\\\server\\share\\setup.exe", L"is not on a local drive"},
        {L"relative.exe", L"is not a full path"},
        {L"C:cmd.exe", L"is not a full path"},
        {L"\\Windows\\System32\\cmd.exe", L"is not a full path"},
    };
    for (const auto& c : refused) {
        NvProgramTrust::TrustedProgram other;
        EXPECT_FALSE(other.Open(c.path, refusal)) << c.path;
        EXPECT_NE(refusal.find(c.refusal), std::wstring::npos) << c.path << L": " << refusal;
    }
}

} // namespace
