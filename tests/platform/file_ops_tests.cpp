// Runs in a throwaway Wine prefix (fresh_prefix_tests.sh): the tests schedule deletions at restart, which
// changes the machine's pending rename list.
#include "platform/file_ops.h"
#include "platform/paths.h"
#include "platform/pending_renames.h"
#include "platform/registry.h"
#include "platform/security.h"
#include "platform/special_folders.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwctype>
#include <functional>

namespace {

constexpr wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPendingRenames[] = L"PendingFileRenameOperations";

// Paths this long are created in their "\\?\" form, as Windows requires.
std::wstring LongForm(const std::wstring& path)
{
    return L"\\\\?\\" + path;
}

void WriteTextFile(const std::wstring& path, DWORD attributes = FILE_ATTRIBUTE_NORMAL)
{
    UniqueFile file(
        ::CreateFileW(LongForm(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes, nullptr));
    ASSERT_TRUE(file) << "cannot create " << testing::PrintToString(path);
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(file.get(), "data", 4, &written, nullptr));
}

void MakeDirectory(const std::wstring& path)
{
    ASSERT_TRUE(::CreateDirectoryW(LongForm(path).c_str(), nullptr));
}

bool Exists(const std::wstring& path)
{
    return ::GetFileAttributesW(LongForm(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::wstring> PendingRenames()
{
    Win32Registry registry;
    RegistryBytes bytes;
    DWORD type = REG_NONE;
    std::vector<std::wstring> entries;
    if (!registry.GetValueRaw(kSessionManager, kPendingRenames, bytes, type)) {
        return entries;
    }
    const std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    for (size_t start = 0, end; start < text.size(); start = end + 1) {
        end = std::min(text.find(L'\0', start), text.size());
        entries.push_back(text.substr(start, end - start));
    }
    return entries;
}

bool IsPending(const std::wstring& path)
{
    const std::vector<std::wstring> entries = PendingRenames();
    return std::any_of(entries.begin(), entries.end(), [&](const std::wstring& entry) {
        return _wcsicmp(entry.c_str(), (L"\\??\\" + path).c_str()) == 0;
    });
}

// Every test works in a directory of its own under the temporary directory and starts with no pending
// renames. Track() notes whether a removal left anything to the restart.
class FileOpsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Win32Registry().DeleteValue(kSessionManager, kPendingRenames);
        // Not the tool's "nv<digits>.tmp": a tool run in the same prefix removes those as an earlier run's.
        m_root = CreateUniqueDirectory(QueryTempDirectory(), L"nvtest", nullptr);
        ASSERT_FALSE(m_root.empty());
    }
    void TearDown() override { FileOps::RemoveDirectoryTree(m_root, false); }

    std::wstring Path(const std::wstring& relative) const { return MakePath(m_root, relative); }
    FileOps::Result Track(FileOps::Result result)
    {
        m_scheduled = m_scheduled || result.scheduled;
        return result;
    }
    bool m_scheduled = false;

    std::wstring m_root;
};

TEST_F(FileOpsTest, CreateUniqueDirectoryNamesAndFailures)
{
    std::wstring directory;
    std::wstring name;
    ASSERT_TRUE(SplitPath(m_root, directory, name));
    EXPECT_EQ(name.substr(0, 6), L"nvtest");
    EXPECT_EQ(name.substr(name.size() - 4), L".tmp");
    EXPECT_TRUE(std::all_of(name.begin() + 6, name.end() - 4, [](wchar_t c) { return std::iswdigit(c); }));

    const std::wstring second = CreateUniqueDirectory(m_root, L"nv", nullptr);
    const std::wstring third = CreateUniqueDirectory(m_root, L"nv", nullptr);
    EXPECT_FALSE(second.empty());
    EXPECT_NE(second, third) << "the attempt number must make names unique within one tick";
    EXPECT_TRUE(CreateUniqueDirectory(Path(L"missing"), L"nv", nullptr).empty());
    EXPECT_TRUE(CreateUniqueDirectory(L"", L"nv", nullptr).empty());
}

TEST_F(FileOpsTest, ListingAndSearching)
{
    MakeDirectory(Path(L"sub"));
    MakeDirectory(Path(L"sub\\empty"));
    WriteTextFile(Path(L"file.txt"));

    struct Listing {
        bool files;
        bool directories;
        std::vector<std::wstring> expected;
    };
    const Listing listings[] = {
        {true, true, {L"file.txt", L"sub"}},
        {true, false, {L".", L"..", L"file.txt", L"sub"}},
        {false, true, {L"sub"}},
        {false, false, {}},
    };
    for (const Listing& listing : listings) {
        std::vector<std::wstring> names = FileOps::ListDirectory(m_root, listing.files, listing.directories);
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, listing.expected) << "files " << listing.files << ", directories " << listing.directories;
    }
    EXPECT_TRUE(FileOps::ListDirectory(Path(L"missing"), true, true).empty());

    EXPECT_TRUE(FileOps::ContainsFiles(m_root, false));
    EXPECT_FALSE(FileOps::ContainsFiles(Path(L"sub"), true)) << "directories alone hold no files";
    WriteTextFile(Path(L"sub\\empty\\deep.txt"));
    EXPECT_FALSE(FileOps::ContainsFiles(Path(L"sub"), false));
    EXPECT_TRUE(FileOps::ContainsFiles(Path(L"sub"), true));
}

TEST_F(FileOpsTest, ParentsGoOnlyWhenNothingElseIsLeft)
{
    MakeDirectory(Path(L"lonely"));
    WriteTextFile(Path(L"lonely\\only.txt"));
    MakeDirectory(Path(L"shared"));
    WriteTextFile(Path(L"shared\\one.txt"));
    WriteTextFile(Path(L"shared\\other.txt"));

    // Empty folders are no reason to keep the parent, nor to wait for a restart that could not delete it.
    MakeDirectory(Path(L"lonely\\empty"));
    MakeDirectory(Path(L"lonely\\empty\\deeper"));
    EXPECT_TRUE(Track(FileOps::DeleteFileAndParent(Path(L"lonely\\only.txt"))));
    EXPECT_FALSE(Exists(Path(L"lonely")));
    EXPECT_TRUE(Track(FileOps::DeleteFileAndParent(Path(L"shared\\one.txt"))));
    EXPECT_TRUE(Exists(Path(L"shared\\other.txt")));
    EXPECT_FALSE(Track(FileOps::DeleteFileAndParent(Path(L"shared")))) << "a directory is not a file";
    EXPECT_FALSE(Track(FileOps::DeleteFileAndParent(Path(L"missing.txt"))));

    MakeDirectory(Path(L"product"));
    MakeDirectory(Path(L"product\\bin"));
    WriteTextFile(Path(L"product\\bin\\tool.exe"));
    MakeDirectory(Path(L"vendor"));
    MakeDirectory(Path(L"vendor\\product"));
    MakeDirectory(Path(L"vendor\\other"));
    EXPECT_TRUE(Track(FileOps::RemoveDirectoryRecursiveAndParentIfEmpty(Path(L"vendor\\product"))));
    EXPECT_TRUE(Exists(Path(L"vendor\\other")));
    EXPECT_FALSE(Exists(Path(L"vendor\\product")));
    EXPECT_TRUE(Track(FileOps::RemoveDirectoryRecursiveAndParentIfEmpty(Path(L"vendor\\other"))));
    EXPECT_FALSE(Exists(Path(L"vendor")));

    EXPECT_FALSE(Track(FileOps::RemoveRecursive(Path(L"missing\\deeper"))));
    EXPECT_FALSE(m_scheduled);
    EXPECT_TRUE(PendingRenames().empty());
}

// A tree as broken installations leave it: read-only files, a file whose access list locks out the
// administrator, a link to a folder outside the tree, a path longer than MAX_PATH and a file in use.
TEST_F(FileOpsTest, RemoveRecursiveRemovesWhatItCanAndSchedulesTheRest)
{
    // Wine can neither create junctions nor move a link without following it; the test script provides a
    // tree holding a directory symbolic link, which Wine reports as a directory reparse point.
    const wchar_t* linkedTree = _wgetenv(L"NV_TEST_LINKED_TREE");
    const wchar_t* linkTarget = _wgetenv(L"NV_TEST_LINK_TARGET");
    const std::wstring tree = linkedTree != nullptr ? linkedTree : Path(L"tree");
    const std::wstring junction = tree + L"\\junction";
    if (linkedTree != nullptr) {
        ASSERT_NE(::GetFileAttributesW(junction.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
    } else {
        std::printf("note: NV_TEST_LINKED_TREE not set, no link in the tree\n");
        MakeDirectory(tree);
    }
    MakeDirectory(tree + L"\\readonly");
    WriteTextFile(tree + L"\\readonly\\a.txt", FILE_ATTRIBUTE_READONLY);
    MakeDirectory(tree + L"\\readonly\\sub");
    WriteTextFile(tree + L"\\readonly\\sub\\b.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);

    const std::wstring denied = tree + L"\\denied.txt";
    WriteTextFile(denied);
    {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:SYD:P(D;;GA;;;WD)(D;;GA;;;BA)",
                                                                           SDDL_REVISION_1, &descriptor, nullptr));
        UniqueLocal owner(descriptor);
        ASSERT_TRUE(
            ::SetFileSecurityW(denied.c_str(), OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, descriptor));
        UniqueFile probe(::CreateFileW(denied.c_str(), DELETE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        if (probe) {
            std::printf("note: Wine does not check file access lists (it maps them to mode bits)\n");
        }
    }

    std::wstring deep = tree + L"\\long";
    MakeDirectory(deep);
    while (deep.size() <= MAX_PATH + 40) {
        deep += L"\\segment-0123456789";
        MakeDirectory(deep);
    }
    WriteTextFile(deep + L"\\deepest.txt", FILE_ATTRIBUTE_READONLY);

    MakeDirectory(tree + L"\\busy");
    const std::wstring held = tree + L"\\busy\\held.txt";
    WriteTextFile(held);
    UniqueFile holder(::CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);

    const FileOps::Result result = FileOps::RemoveRecursive(tree);
    EXPECT_TRUE(result) << "everything is either gone or scheduled";
    EXPECT_TRUE(result.scheduled);

    EXPECT_FALSE(Exists(tree + L"\\readonly"));
    EXPECT_FALSE(Exists(denied));
    EXPECT_FALSE(Exists(tree + L"\\long"));
    EXPECT_TRUE(Exists(held));
    for (const std::wstring& scheduled : {held, tree + L"\\busy", tree}) {
        EXPECT_TRUE(IsPending(scheduled)) << testing::PrintToString(scheduled);
    }
    EXPECT_TRUE(PendingRenames::Concerns(tree));
    if (linkedTree != nullptr && linkTarget != nullptr) {
        EXPECT_TRUE(Exists(MakePath(linkTarget, L"inner\\keep.txt"))) << "the link was followed";
        // Windows removes the junction at once; Wine cannot delete a directory symbolic link and schedules it.
        EXPECT_TRUE(!Exists(junction) || IsPending(junction));
    }
}

std::wstring Fixture(const std::wstring& relative)
{
    const wchar_t* fixture = _wgetenv(L"NV_TEST_LINK_FIXTURE");
    return fixture != nullptr ? MakePath(fixture, relative) : std::wstring();
}

std::string Content(const std::wstring& path)
{
    UniqueFile file(::CreateFileW(LongForm(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    char buffer[64] = {};
    DWORD read = 0;
    return file && ::ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) ? std::string(buffer, read) : "";
}

// Links a standard user could plant (see fresh_prefix_tests.sh), met as the path given, as a folder on the way
// to it and as a file; whatever the operation, what they point to stays as it was.
TEST_F(FileOpsTest, LinksAreRemovedAsNamesAndNeverFollowed)
{
    if (Fixture(L"").empty()) {
        GTEST_SKIP() << "NV_TEST_LINK_FIXTURE not set";
    }
    struct Case {
        const char* what;
        std::wstring link;
        std::function<void()> operation;
    };
    const std::wstring root = Fixture(L"rootlink");
    const std::wstring way = Fixture(L"waylink");
    const std::wstring file = Fixture(L"filelink");
    const Case cases[] = {
        {"recursive removal of a link", root, [&] { FileOps::RemoveRecursive(root); }},
        {"directory removal of a link", root, [&] { FileOps::WipeDirectoryInternal(root); }},
        {"work directory removal of a link", root, [&] { FileOps::RemoveDirectoryTree(root, true); }},
        {"recursive removal below a link", way, [&] { FileOps::RemoveRecursive(way + L"\\inner"); }},
        {"file removal below a link", way, [&] { FileOps::WipeFileInternal(way + L"\\file.txt"); }},
        {"file and parent below a link", way, [&] { FileOps::DeleteFileAndParent(way + L"\\inner\\keep.txt"); }},
        {"parent if empty below a link", way,
         [&] { FileOps::RemoveDirectoryRecursiveAndParentIfEmpty(way + L"\\inner"); }},
        {"file removal of a file link", file, [&] { FileOps::WipeFileInternal(file); }},
        {"recursive removal of a file link", file, [&] { FileOps::RemoveRecursive(file); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.operation();
        EXPECT_EQ(Content(Fixture(L"target\\inner\\keep.txt")), "keep\n");
        EXPECT_EQ(Content(Fixture(L"target\\file.txt")), "file\n");
        // Windows deletes the link itself at once. Wine opens through links whatever it is told, so a folder link
        // can only be scheduled, and a file link, which Wine shows as a plain file, stays.
        const DWORD attributes = ::GetFileAttributesW(LongForm(c.link).c_str());
        EXPECT_TRUE(attributes == INVALID_FILE_ATTRIBUTES || IsPending(c.link) ||
                    (c.link == file && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0))
            << std::hex << attributes;
    }
    EXPECT_FALSE(FileOps::ContainsFiles(way, true)) << "nothing behind a link is looked at";
    EXPECT_TRUE(FileOps::ListDirectory(way, true, true).empty());
}

TEST_F(FileOpsTest, NamesEndingInDotOrSpaceAreTakenAsWritten)
{
    for (const std::wstring name : {L"trailing.", L"trailing ", L"both. "}) {
        SCOPED_TRACE(testing::PrintToString(name));
        const std::wstring file = Path(name);
        const std::wstring directory = Path(L"dir" + name);
        WriteTextFile(file, FILE_ATTRIBUTE_READONLY);
        MakeDirectory(directory);
        WriteTextFile(directory + L"\\inner" + name);
        EXPECT_TRUE(PathExists(file) && IsFile(file) && !IsDirectory(file));
        EXPECT_TRUE(IsDirectory(directory) && !IsFile(directory));
        EXPECT_TRUE(FileOps::ContainsFiles(directory, false));
        EXPECT_EQ(FileOps::ListDirectory(directory, false, false).size(), 0u);
        EXPECT_TRUE(Track(FileOps::WipeFileInternal(file)));
        EXPECT_TRUE(Track(FileOps::RemoveRecursive(directory)));
        EXPECT_FALSE(Exists(file));
        EXPECT_FALSE(Exists(directory));
    }
    EXPECT_FALSE(m_scheduled) << "removed at once, not left to the restart";
}

// Wine does not let an access list refuse the owner's own ownership reset; the seam reproduces a file that
// only ownership recovery makes deletable, and one whose ownership cannot be taken. It also records what the
// reset writes, since Wine accepts any access list on files without enforcing it.
struct SeamState {
    std::wstring lockedPath;
    DWORD ownershipResult = ERROR_SUCCESS;
    bool ownershipTaken = false;
    int ownershipCalls = 0;
    SECURITY_INFORMATION lastInformation = 0;
    SE_OBJECT_TYPE lastType = SE_UNKNOWN_OBJECT_TYPE;
    std::wstring lastDacl;
};
SeamState g_seam;

// Whether the handle is the object at the path, from the name the file system reports for it.
bool HandleNames(HANDLE handle, const std::wstring& path)
{
    alignas(FILE_NAME_INFO) BYTE buffer[sizeof(FILE_NAME_INFO) + 2 * MAX_PATH * sizeof(wchar_t)];
    auto* info = reinterpret_cast<FILE_NAME_INFO*>(buffer);
    if (path.size() < 2 || !::GetFileInformationByHandleEx(handle, FileNameInfo, info, sizeof(buffer))) {
        return false;
    }
    const std::wstring name(info->FileName, info->FileNameLength / sizeof(wchar_t));
    return _wcsicmp(name.c_str(), path.substr(2).c_str()) == 0;
}

BOOL WINAPI LockedSetInformation(HANDLE handle, FILE_INFO_BY_HANDLE_CLASS type, LPVOID information, DWORD size)
{
    if (!g_seam.ownershipTaken && HandleNames(handle, g_seam.lockedPath)) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return ::SetFileInformationByHandle(handle, type, information, size);
}

std::wstring DaclText(PACL dacl)
{
    SECURITY_DESCRIPTOR descriptor;
    wchar_t* text = nullptr;
    if (dacl == nullptr || !::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !::SetSecurityDescriptorDacl(&descriptor, TRUE, dacl, FALSE) ||
        !::ConvertSecurityDescriptorToStringSecurityDescriptorW(&descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                                &text, nullptr)) {
        return L"<none>";
    }
    const UniqueLocal owner(text);
    return text;
}

DWORD WINAPI RecordingSetSecurity(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION information, PSID owner,
                                  PSID, PACL dacl, PACL)
{
    ++g_seam.ownershipCalls;
    g_seam.lastInformation = information;
    g_seam.lastType = type;
    g_seam.lastDacl = DaclText(dacl);
    const UniqueSid administrators = CreateAdministratorsSid();
    if (HandleNames(handle, g_seam.lockedPath) && g_seam.ownershipResult == ERROR_SUCCESS && dacl != nullptr &&
        ::EqualSid(owner, administrators.get())) {
        g_seam.ownershipTaken = true;
    }
    return g_seam.ownershipResult;
}

class OwnershipSeamTest : public FileOpsTest {
protected:
    void SetUp() override
    {
        FileOpsTest::SetUp();
        g_seam = SeamState();
        m_previous = FileOps::ReplaceCalls({LockedSetInformation, RecordingSetSecurity});
    }
    void TearDown() override
    {
        FileOps::ReplaceCalls(m_previous);
        FileOpsTest::TearDown();
    }
    FileOps::Calls m_previous{};
};

TEST_F(OwnershipSeamTest, DeniedFileEscalatesThroughOwnershipToRestart)
{
    struct Case {
        const char* what;
        DWORD ownershipResult;
        bool deletedNow;
    };
    const Case cases[] = {
        {"ownership recovered", ERROR_SUCCESS, true},
        {"ownership refused", ERROR_ACCESS_DENIED, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        g_seam = SeamState();
        g_seam.lockedPath = Path(L"locked.txt");
        g_seam.ownershipResult = c.ownershipResult;
        WriteTextFile(g_seam.lockedPath, FILE_ATTRIBUTE_READONLY);

        const FileOps::Result result = FileOps::WipeFileInternal(g_seam.lockedPath);
        EXPECT_TRUE(result);
        EXPECT_EQ(g_seam.ownershipCalls, 1);
        EXPECT_EQ(g_seam.lastType, SE_FILE_OBJECT);
        EXPECT_EQ(g_seam.lastInformation, static_cast<SECURITY_INFORMATION>(0x80000005));
        EXPECT_EQ(g_seam.lastDacl, L"D:(A;OICI;GA;;;BA)(A;OICI;GA;;;SY)") << "Administrators and SYSTEM only";
        EXPECT_EQ(Exists(g_seam.lockedPath), !c.deletedNow);
        EXPECT_EQ(IsPending(g_seam.lockedPath), !c.deletedNow);
        EXPECT_EQ(result.scheduled, !c.deletedNow);
        ::SetFileAttributesW(g_seam.lockedPath.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(g_seam.lockedPath.c_str());
    }
}

TEST_F(OwnershipSeamTest, NonEmptyDirectoryKeepsItsReplacedOwner)
{
    MakeDirectory(Path(L"full"));
    WriteTextFile(Path(L"full\\file.txt"));
    g_seam.lockedPath = Path(L"full");

    EXPECT_FALSE(FileOps::DoRemoveDirectory(Path(L"full")));
    EXPECT_EQ(g_seam.ownershipCalls, 1);
    EXPECT_TRUE(g_seam.ownershipTaken);
    EXPECT_TRUE(FileOps::DoRemoveDirectory(Path(L"missing"))) << "a directory that is not there is gone";
    EXPECT_EQ(g_seam.ownershipCalls, 1);
}

// A hard link in a product's tree to a file elsewhere, read-only and held open, so that removing the name
// fails. Only the name may be scheduled: the other file keeps its attributes and its security (recorded by the
// seam, as Wine does not enforce file access lists).
TEST_F(OwnershipSeamTest, HardLinkLosesOnlyItsName)
{
    const std::wstring outside = Fixture(L"outside.txt");
    const std::wstring hard = Fixture(L"tree\\hard");
    if (outside.empty()) {
        GTEST_SKIP() << "NV_TEST_LINK_FIXTURE not set";
    }
    ASSERT_TRUE(::SetFileAttributesW(outside.c_str(), FILE_ATTRIBUTE_READONLY));
    UniqueFile holder(
        ::CreateFileW(outside.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);

    EXPECT_TRUE(FileOps::WipeFileInternal(hard));
    EXPECT_EQ(g_seam.ownershipCalls, 0) << "security of a file with other names is never reset";
    EXPECT_NE(::GetFileAttributesW(outside.c_str()) & FILE_ATTRIBUTE_READONLY, 0u) << "attributes untouched";
    EXPECT_EQ(Content(outside), "outside\n");
    EXPECT_TRUE(!Exists(hard) || IsPending(hard));
    EXPECT_FALSE(IsPending(outside));

    holder.reset();
    EXPECT_TRUE(FileOps::WipeFileInternal(hard));
    EXPECT_NE(::GetFileAttributesW(outside.c_str()) & FILE_ATTRIBUTE_READONLY, 0u) << "attributes untouched";
    EXPECT_EQ(g_seam.ownershipCalls, 0);
    ::SetFileAttributesW(outside.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(FileOpsTest, WorkDirectoryRemovalHonoursTheDelayFlag)
{
    const std::wstring work = Path(L"work");
    MakeDirectory(work);
    MakeDirectory(work + L"\\scripts");
    WriteTextFile(work + L"\\scripts\\a.lua", FILE_ATTRIBUTE_READONLY);
    const std::wstring held = work + L"\\held.dll";
    WriteTextFile(held);
    UniqueFile holder(::CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);

    EXPECT_FALSE(FileOps::RemoveDirectoryTree(work, false));
    EXPECT_FALSE(Exists(work + L"\\scripts"));
    EXPECT_TRUE(PendingRenames().empty());

    const FileOps::Result scheduled = FileOps::RemoveDirectoryTree(work, true);
    EXPECT_TRUE(scheduled);
    EXPECT_TRUE(scheduled.scheduled) << "the caller learns what waits for the restart";
    EXPECT_TRUE(IsPending(held));
    EXPECT_TRUE(IsPending(work));

    holder.reset();
    EXPECT_TRUE(FileOps::RemoveDirectoryTree(work, false));
    EXPECT_FALSE(FileOps::RemoveDirectoryTree(work, false)) << "a missing directory cannot be searched";
}

TEST(PendingRenames, ConcernPrefixesOfSourcesAndTargets)
{
    // Deletions of C:\A\x.dll and C:\Product2\x.dll, a rename of C:\B\y.dll to C:\B\z.dll and a replacing
    // rename of C:\D\m.dll to C:\E\n.dll, as the session manager keeps them.
    const wchar_t pending[] = L"\\??\\C:\\A\\x.dll\0\0\\??\\C:\\B\\y.dll\0\\??\\C:\\B\\z.dll\0"
                              L"\\??\\C:\\Product2\\x.dll\0\0\\??\\C:\\D\\m.dll\0!\\??\\C:\\E\\n.dll\0\0";
    {
        HKEY key = nullptr;
        ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
        UniqueKey owner(key);
        ASSERT_EQ(::RegSetValueExW(key, kPendingRenames, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(pending),
                                   sizeof(pending)),
                  ERROR_SUCCESS);
    }
    struct Case {
        const wchar_t* path;
        bool pending;
    };
    const Case cases[] = {
        {L"C:\\A", true},          {L"c:\\a\\X.DLL", true},
        {L"C:\\B\\z.dll", true},   {L"C:\\C", false},
        {L"C:\\A\\x.dll2", false}, {L"", false},
        {L"C:\\Prod", false},      {L"C:\\Product2", true},
        {L"C:\\Product2\\", true}, {L"\\\\?\\C:\\Product2\\X.dll", true},
        {L"C:\\A\\x", false},      {L"C:\\E", true},
        {L"C:\\D\\m.dll", true},   {L"!", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PendingRenames::Concerns(c.path), c.pending) << testing::PrintToString(std::wstring(c.path));
    }
    ASSERT_TRUE(Win32Registry().DeleteValue(kSessionManager, kPendingRenames));
    EXPECT_FALSE(PendingRenames::Concerns(L"C:\\A"));
}

} // namespace
