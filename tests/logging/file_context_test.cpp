#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "logging/file_context.h"
#include "logging/nv_qor_log.h"
#include "tests/logging/fake_log_platform.h"

using namespace NvLogTest;
using NvQorLogging::FileContext;

namespace {

const std::wstring kToolBase = L"C:\\ProgramData\\Norvane\\Log\\UninstallationTool\\UninstallationTool";

std::wstring Numbered(uint32_t index)
{
    return kToolBase + (index == 0 ? std::wstring() : L"." + std::to_wstring(index)) + L".log";
}

class FileContextTest : public testing::Test {
protected:
    std::unique_ptr<FileContext> NewContext(uint32_t flags = 0)
    {
        return std::make_unique<FileContext>(platform, std::make_unique<MemoryPath>(disk), L"UninstallationTool",
                                             L"UninstallationTool", flags);
    }
    void SetDword(const wchar_t* name, DWORD value) { platform.SetDword(kLoggingKey, name, value); }

    FakePlatform platform;
    MemoryDisk disk;
};

TEST_F(FileContextTest, LimitOfZeroPutsEveryLineIntoAFreshFile)
{
    const struct {
        DWORD storedCount;
        uint32_t keptOlder;
    } cases[] = {{0, 0}, {2, 2}, {150, 99}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.storedCount);
        disk = MemoryDisk();
        SetDword(L"LogRotateCount", c.storedCount);
        SetDword(L"LogMaxSizeKB", 0);
        const auto context = NewContext();
        ASSERT_TRUE(context->Initialize());
        const int lines = 120;
        for (int i = 1; i <= lines; ++i) {
            context->WriteLine(L"line " + std::to_wstring(i) + L"\r\n");
        }
        // The newest line is in the current file, the one before it in .1, and so on.
        for (uint32_t index = 0; index <= c.keptOlder; ++index) {
            EXPECT_EQ(FileText(disk, Numbered(index)), L"line " + std::to_wstring(lines - index) + L"\r\n") << index;
        }
        EXPECT_EQ(disk.files.count(Numbered(c.keptOlder + 1)), 0u);
        EXPECT_EQ(disk.files.size(), c.keptOlder + 1);
    }
}

TEST_F(FileContextTest, RotatesAtTheFirstWriteThatFindsTheFileFull)
{
    const auto context = NewContext();
    ASSERT_TRUE(context->Initialize());
    const std::wstring line(48, L'x');
    const std::wstring text = line + L"\r\n"; // 100 bytes
    // The default limit is 100 KB: 1023 lines bring the file from 2 to 102302 bytes, the next one past the limit.
    for (int i = 0; i < 1024; ++i) {
        context->WriteLine(text);
    }
    EXPECT_EQ(disk.files[Numbered(0)].size(), 102402u);
    EXPECT_EQ(disk.files.count(Numbered(1)), 0u);
    context->WriteLine(L"next\r\n");
    EXPECT_EQ(disk.files[Numbered(1)].size(), 102402u);
    EXPECT_EQ(FileText(disk, Numbered(0)), L"next\r\n");
}

TEST_F(FileContextTest, UndeletableOldestFileIsScheduledForDeletion)
{
    SetDword(L"LogMaxSizeKB", 0);
    SetDword(L"LogRotateCount", 1);
    disk.undeletable.insert(Numbered(1));
    const auto context = NewContext();
    context->Initialize();
    for (const wchar_t* text : {L"a", L"b"}) {
        context->WriteLine(text);
    }
    EXPECT_EQ(disk.scheduledDeletes, (std::vector<std::wstring>{Numbered(1)}));
}

TEST_F(FileContextTest, UnopenableFileDropsTheLineAndKeepsOlderLogs)
{
    SetDword(L"LogMaxSizeKB", 0);
    disk.files[Numbered(1)] = "\xFF\xFE";
    disk.files[Numbered(2)] = "\xFF\xFE";
    disk.unopenable.insert(Numbered(0));
    const auto context = NewContext();
    context->Initialize();
    for (int i = 0; i < 3; ++i) {
        context->WriteLine(L"lost");
    }
    EXPECT_EQ(disk.files.size(), 2u);
    EXPECT_EQ(disk.files.count(Numbered(0)), 0u);
}

TEST_F(FileContextTest, LevelLookupAsksTheMostSpecificKeyFirst)
{
    const std::wstring component = kLoggingKey + L"\\UninstallationTool";
    const std::wstring logName = component + L"\\UninstallationTool";
    constexpr DWORD absent = 0x12345678; // not stored
    const struct {
        DWORD logNameValue, componentValue, generalValue;
        int32_t expected;
    } cases[] = {
        {absent, absent, absent, 4},
        {absent, absent, 5, 5},
        {absent, 0xFFFFFFFF, 3, 3},
        {0xFFFFFFFF, 6, 3, 6},
        {2, 6, 3, 2},
        {0xFFFFFFFF, 0xFFFFFFFF, absent, 4},
        {absent, absent, 0xFFFFFFFF, -1},
        {absent, 0, 5, 0},
    };
    for (const auto& c : cases) {
        platform.dwords.clear();
        const std::pair<const std::wstring*, DWORD> stored[] = {
            {&logName, c.logNameValue}, {&component, c.componentValue}, {&kLoggingKey, c.generalValue}};
        for (const auto& [key, value] : stored) {
            if (value != absent) {
                platform.SetDword(*key, L"LogLevel", value);
            }
        }
        EXPECT_EQ(NewContext()->ConfiguredLevel(4), c.expected)
            << c.logNameValue << " " << c.componentValue << " " << c.generalValue;
    }
}

TEST_F(FileContextTest, FolderFileAndMutexFollowTheUser)
{
    const std::wstring programDataLog = L"C:\\ProgramData\\Norvane\\Log\\UninstallationTool\\UninstallationTool";
    const struct {
        const char* name;
        bool administrator, lowIntegrity;
        uint32_t flags;
        std::map<std::tuple<HKEY, std::wstring, std::wstring>, std::wstring> strings;
        std::wstring base, mutex, folderSddl;
    } cases[] = {
        {"administrator, shell folder",
         true,
         false,
         0,
         {{{HKEY_LOCAL_MACHINE, kShellFolders, L"Common AppData"}, L"D:\\Data"}},
         L"D:\\Data\\Norvane\\Log\\UninstallationTool\\UninstallationTool",
         L"Global\\NvQorLogging_D:_Data_Norvane_Log_UninstallationTool_UninstallationTool",
         L"D:P(A;OICI;GA;;;SY)(A;OICI;GA;;;BA)(A;OICI;GRGX;;;AU)"},
        {"administrator, environment, SID, restricted",
         true,
         false,
         NvQorLogging::OpenFlagUserSidInName | NvQorLogging::OpenFlagRestrictedFolder,
         {},
         programDataLog + L".S-1-5-21-1-2-3-1001",
         L"Global\\NvQorLogging_C:_ProgramData_Norvane_Log_UninstallationTool_UninstallationTool.S-1-5-21-1-2-3-1001",
         L"D:P(A;;GA;;;SY)(A;;GA;;;BA)"},
        {"administrator, root path",
         true,
         false,
         0,
         {{{HKEY_LOCAL_MACHINE, kLoggingKey, L"RootPath"}, L"E:\\Logs"},
          {{HKEY_LOCAL_MACHINE, kShellFolders, L"Common AppData"}, L"D:\\Data"}},
         L"E:\\Logs\\Norvane\\Log\\UninstallationTool\\UninstallationTool",
         L"Global\\NvQorLogging_E:_Logs_Norvane_Log_UninstallationTool_UninstallationTool",
         L"D:P(A;OICI;GA;;;SY)(A;OICI;GA;;;BA)(A;OICI;GRGX;;;AU)"},
        {"user, SID flag ignored",
         false,
         false,
         NvQorLogging::OpenFlagUserSidInName,
         {},
         L"C:\\Users\\u\\AppData\\Local\\Norvane\\Log\\UninstallationTool\\UninstallationTool",
         L"Global\\NvQorLogging_C:_Users_u_AppData_Local_Norvane_Log_UninstallationTool_UninstallationTool",
         L""},
        {"user, root path",
         false,
         false,
         0,
         {{{HKEY_CURRENT_USER, kLoggingKey, L"RootPath"}, L"F:\\Mine"},
          {{HKEY_LOCAL_MACHINE, kLoggingKey, L"RootPath"}, L"E:\\Logs"}},
         L"F:\\Mine\\Norvane\\Log\\UninstallationTool\\UninstallationTool",
         L"Global\\NvQorLogging_F:_Mine_Norvane_Log_UninstallationTool_UninstallationTool",
         L""},
        {"low integrity",
         false,
         true,
         0,
         {{{HKEY_CURRENT_USER, kShellFolders, L"{A520A1A4-1780-4FF6-BD18-167343C5AF16}"}, L"C:\\Low"},
          {{HKEY_CURRENT_USER, kLoggingKey, L"RootPath"}, L"F:\\Mine"}},
         L"C:\\Low\\Norvane\\Log\\UninstallationTool\\UninstallationTool",
         L"Local\\NvQorLogging_C:_Low_Norvane_Log_UninstallationTool_UninstallationTool",
         L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        platform = FakePlatform();
        platform.administrator = c.administrator;
        platform.lowIntegrity = c.lowIntegrity;
        platform.strings = c.strings;
        disk = MemoryDisk();
        const auto context = NewContext(c.flags);
        ASSERT_TRUE(context->Initialize());
        EXPECT_FALSE(context->Initialize());
        context->WriteLine(L"x");
        EXPECT_EQ(FileText(disk, c.base + L".log"), L"x");
        EXPECT_EQ(platform.createdMutexes, (std::vector<std::wstring>{c.mutex}));
        // The vendor folder gets no access list of its own; the log folder the administrator one.
        const std::wstring vendor = c.base.substr(0, c.base.find(L"\\Norvane\\") + 8);
        EXPECT_EQ(disk.directories[vendor], false);
        EXPECT_EQ(disk.directories[c.base.substr(0, c.base.rfind(L'\\'))], c.administrator);
        ASSERT_EQ(platform.sddlRequests.empty(), c.folderSddl.empty());
        if (!c.folderSddl.empty()) {
            EXPECT_EQ(platform.sddlRequests.front(), c.folderSddl);
            EXPECT_EQ(platform.sddlRequests.back(), L"D:(A;;GA;;;SY)(A;;GA;;;BA)");
        }
    }
}

TEST_F(FileContextTest, MutexDecidesWhetherALineIsWritten)
{
    const struct {
        DWORD createError;
        DWORD wait;
        bool written;
    } cases[] = {
        {ERROR_SUCCESS, WAIT_OBJECT_0, true},       {ERROR_SUCCESS, WAIT_ABANDONED, true},
        {ERROR_SUCCESS, WAIT_TIMEOUT, false},       {ERROR_SUCCESS, WAIT_FAILED, false},
        {ERROR_ACCESS_DENIED, WAIT_OBJECT_0, true}, {ERROR_INVALID_HANDLE, WAIT_OBJECT_0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.createError << " " << c.wait);
        platform = FakePlatform();
        platform.createMutexError = c.createError;
        platform.waitResult = c.wait;
        disk = MemoryDisk();
        const auto context = NewContext();
        context->Initialize();
        context->WriteLine(L"x");
        context->Flush();
        EXPECT_EQ(FileText(disk, Numbered(0)), c.written ? L"x" : L"<missing>");
        EXPECT_EQ(platform.openedMutexes.size(), c.createError == ERROR_ACCESS_DENIED ? 1u : 0u);
        EXPECT_EQ(platform.releases, c.written ? 2 : 0);
        EXPECT_EQ(disk.flushes, c.written ? 1 : 0);
    }
}

TEST_F(FileContextTest, MissingFolderDropsLinesButStaysInitialised)
{
    for (const std::wstring& failing : {std::wstring(L"C:\\ProgramData\\Norvane"),
                                        std::wstring(L"C:\\ProgramData\\Norvane\\Log\\UninstallationTool")}) {
        disk = MemoryDisk();
        disk.failingDirectories.insert(failing);
        platform.createdMutexes.clear();
        const auto context = NewContext();
        EXPECT_TRUE(context->Initialize());
        EXPECT_FALSE(context->Initialize());
        context->WriteLine(L"x");
        EXPECT_TRUE(disk.files.empty());
        EXPECT_TRUE(platform.createdMutexes.empty());
    }
}

TEST_F(FileContextTest, FolderBehindALinkOrOfAnotherAccountIsNotUsed)
{
    const std::wstring vendor = L"C:\\ProgramData\\Norvane";
    const std::wstring log = vendor + L"\\Log";
    const std::wstring tool = log + L"\\UninstallationTool";
    const std::wstring stranger = L"S-1-5-21-7-7-7-1005";
    const struct {
        const char* name;
        bool administrator;
        std::set<std::wstring> links;
        std::map<std::wstring, std::wstring> owners;
        std::wstring refused, reason;
    } cases[] = {
        {"link at the vendor folder", true, {vendor}, {}, vendor, L"it is a link"},
        {"link at the log folder", true, {log}, {}, log, L"it is a link"},
        {"link at the tool's folder", true, {tool}, {}, tool, L"it is a link"},
        {"vendor folder of another user",
         true,
         {},
         {{vendor, stranger}},
         vendor,
         L"it belongs to another account (" + stranger + L")"},
        {"tool's folder of another user",
         false,
         {},
         {{tool, stranger}},
         tool,
         L"it belongs to another account (" + stranger + L")"},
        {"owner unreadable", true, {}, {{log, L""}}, log, L"its owner cannot be read"},
        {"trusted owners",
         true,
         {},
         {{vendor, L"S-1-5-18"},
          {log, L"S-1-5-80-956008885-3418522649-1831038044-1850635186-2720036831"},
          {tool, L"S-1-5-21-1-2-3-1001"}},
         L"",
         L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        platform = FakePlatform();
        platform.administrator = c.administrator;
        platform.environment[L"%LOCALAPPDATA%"] = L"C:\\ProgramData";
        disk = MemoryDisk();
        disk.links = c.links;
        disk.owners = c.owners;
        for (const auto& [folder, owner] : c.owners) {
            disk.directories[folder] = false;
        }
        const auto context = NewContext();
        ASSERT_TRUE(context->Initialize());
        context->WriteLine(L"x");
        if (c.refused.empty()) {
            EXPECT_EQ(FileText(disk, Numbered(0)), L"x");
            EXPECT_EQ(context->FolderRefusal(), L"");
            EXPECT_EQ(context->CurrentFile(), Numbered(0)) << "the file the result page offers";
            continue;
        }
        EXPECT_TRUE(disk.files.empty());
        EXPECT_EQ(context->CurrentFile(), L"") << "no file to offer";
        EXPECT_TRUE(platform.createdMutexes.empty());
        EXPECT_EQ(context->FolderRefusal(),
                  L"The log folder '" + c.refused + L"' is not used: " + c.reason + L". This run writes no log file.");
        for (const auto& [folder, withSecurity] : disk.directories) {
            EXPECT_NE(folder.rfind(c.refused + L"\\", 0), 0u)
                << "created behind it: " << testing::PrintToString(folder);
        }
    }
}

TEST_F(FileContextTest, ByteOrderMarkOnlyForAFileEmptyWhenOpened)
{
    disk.files[Numbered(0)] = std::string("\xFF\xFE", 2) + std::string("o\0", 2);
    const auto context = NewContext();
    context->Initialize();
    context->WriteLine(L"a");
    // Emptied by someone else while open: appended to without a new mark.
    disk.files[Numbered(0)].clear();
    context->WriteLine(L"b");
    EXPECT_EQ(disk.files[Numbered(0)], std::string("b\0", 2));
}

} // namespace
