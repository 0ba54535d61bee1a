#include "platform/paths.h"
#include "platform/special_folders.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(MakePath, JoinsWithExactlyOneSeparator)
{
    struct Case {
        const wchar_t* directory;
        const wchar_t* name;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {L"C:\\dir", L"file.txt", L"C:\\dir\\file.txt"},
        {L"C:\\dir\\", L"file.txt", L"C:\\dir\\file.txt"},
        {L"", L"file.txt", L"file.txt"},
        {L"", L"", L""},
        {L"C:\\dir\\", L"", L"C:\\dir"},
        {L"C:\\dir", L"", L"C:\\dir"},
        {L"C:\\dir\\\\", L"", L"C:\\dir\\"},
        {L"C:\\dir\\\\", L"x", L"C:\\dir\\\\x"},
        {L"\\", L"", L""},
        {L"dir", L"sub\\x", L"dir\\sub\\x"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MakePath(c.directory, c.name), c.expected) << c.directory << L" + " << c.name;
    }
}

// What lies in a folder is decided on whole components without case, after "." and ".." are resolved; a
// relative path, which depends on the current folder, lies in nothing.
TEST(IsInFolder, WholeComponentsWithoutCaseAfterMakingLiteral)
{
    struct Case {
        const wchar_t* path;
        const wchar_t* folder;
        bool in;
        bool below;
    };
    const Case cases[] = {
        {L"C:\\Program Files\\Norvane\\Antivirus\\x.exe", L"C:\\Program Files\\Norvane\\Antivirus", true, true},
        {L"c:\\PROGRAM FILES\\norvane\\antivirus", L"C:\\Program Files\\Norvane\\Antivirus\\", true, false},
        {L"C:\\Program Files\\Norvane\\AntivirusX\\x.exe", L"C:\\Program Files\\Norvane\\Antivirus", false, false},
        {L"C:\\Program Files\\Norvane\\Antivirus\\..\\..\\Acme\\x.exe", L"C:\\Program Files\\Norvane", false, false},
        {L"C:\\Program Files\\Acme\\..\\Norvane\\.\\x.exe", L"C:\\Program Files\\Norvane", true, true},
        {L"C:/Program Files/Norvane/x.exe", L"C:\\Program Files\\Norvane", true, true},
        {L"\\\\?\\C:\\Program Files\\Norvane\\x.exe", L"C:\\Program Files\\Norvane", true, true},
        {L"C:\\Windows", L"C:\\", true, true},
        {L"D:\\Windows", L"C:\\", false, false},
        {L"\\\\server\\share\\dir\\x", L"\\\\SERVER\\Share", true, true},
        {L"Norvane\\x.exe", L"Norvane", false, false},
        {L"C:\\Norvane", L"", false, false},
        {L"", L"C:\\", false, false},
        {L"C:\\Program Files\\Norvane", L"C:\\Program Files\\Norvane\\Antivirus", false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsInFolder(c.path, c.folder), c.in)
            << testing::PrintToString(std::wstring(c.path)) << " in " << testing::PrintToString(std::wstring(c.folder));
        EXPECT_EQ(IsBelowFolder(c.path, c.folder), c.below) << testing::PrintToString(std::wstring(c.path));
    }
    EXPECT_TRUE(IsSamePath(L"C:\\A\\b\\", L"c:\\a\\.\\B"));
    EXPECT_FALSE(IsSamePath(L"C:\\A\\b", L"C:\\A"));
}

// Command lines are parsed as Windows starts them: a folder named only in the arguments is not the program's.
TEST(CommandProgram, QuotedOrUpToTheFirstExe)
{
    const std::wstring windows = QueryWindowsDirectory();
    struct Case {
        std::wstring command;
        std::wstring program;
    };
    const Case cases[] = {
        {L"\"C:\\Program Files\\Acme\\Backup\\acmebackup.exe\" /exclude \"C:\\Program Files\\Norvane\\Antivirus\\\"",
         L"C:\\Program Files\\Acme\\Backup\\acmebackup.exe"},
        {L"C:\\Program Files\\Acme\\acme.exe /x C:\\Program Files\\Norvane\\nv.exe",
         L"C:\\Program Files\\Acme\\acme.exe"},
        {L"  C:\\Tools\\run.EXE\t-a", L"C:\\Tools\\run.EXE"},
        {L"C:\\Tools\\a.exe.bak\\b.exe -x", L"C:\\Tools\\a.exe.bak\\b.exe"},
        {L"rundll32.exe C:\\Program Files\\Norvane\\x.dll,Run", L"rundll32.exe"},
        {L"\"\\??\\C:\\Norvane\\svc.exe\" -service", L"C:\\Norvane\\svc.exe"},
        {L"\\SystemRoot\\System32\\drivers\\nvepsp.sys", MakePath(windows, L"System32\\drivers\\nvepsp.sys")},
        {L"System32\\drivers\\nvepsp.sys", MakePath(windows, L"System32\\drivers\\nvepsp.sys")},
        {L"\"C:\\Unclosed\\x.exe -a", L"C:\\Unclosed\\x.exe -a"},
        {L"", L""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CommandProgram(c.command), c.program) << testing::PrintToString(c.command);
    }
}

// Recorded paths are expanded only when the value is expandable, as Windows reads them.
TEST(RecordedPath, ExpandsExpandableValuesAndResolvesNtForms)
{
    std::wstring drive = L"%SystemDrive%";
    ExpandEnvironment(drive);
    ASSERT_NE(drive, L"%SystemDrive%");
    EXPECT_EQ(RecordedPath(L"%SystemDrive%\\Apps\\Antivirus", true), drive + L"\\Apps\\Antivirus");
    EXPECT_EQ(RecordedPath(L"%SystemDrive%\\Apps\\Antivirus", false), L"%SystemDrive%\\Apps\\Antivirus");
    EXPECT_EQ(RecordedPath(L" \"C:\\Program Files\\Norvane\\\" ", false), L"C:\\Program Files\\Norvane\\");
    EXPECT_EQ(RecordedPath(L"\\??\\C:\\Norvane", false), L"C:\\Norvane");
    EXPECT_EQ(RecordedPath(L"\\systemroot\\Temp", false), MakePath(QueryWindowsDirectory(), L"Temp"));
}

TEST(SplitPath, SplitsAtLastSeparatorOrFails)
{
    struct Case {
        const wchar_t* path;
        bool ok;
        const wchar_t* directory;
        const wchar_t* name;
    };
    const Case cases[] = {
        {L"C:\\dir\\file.txt", true, L"C:\\dir", L"file.txt"},
        {L"C:\\dir\\sub\\", true, L"C:\\dir", L"sub"},
        {L"C:\\file.txt", true, L"C:", L"file.txt"},
        {L"file.txt", true, L"", L"file.txt"},
        {L"file.txt\\", true, L"", L"file.txt"},
        {L"\\\\?\\C:\\a", true, L"\\\\?\\C:", L"a"},
        {L"\\file", false, nullptr, nullptr},
        {L"C:\\dir\\\\", false, nullptr, nullptr},
        {L"\\", false, nullptr, nullptr},
        {L"", false, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        std::wstring directory = L"untouched";
        std::wstring name = L"untouched";
        ASSERT_EQ(SplitPath(c.path, directory, name), c.ok) << c.path;
        EXPECT_EQ(directory, c.ok ? c.directory : L"untouched") << c.path;
        EXPECT_EQ(name, c.ok ? c.name : L"untouched") << c.path;
    }
}

TEST(MatchesMask, HandlesWildcardsAndCase)
{
    struct Case {
        const wchar_t* name;
        const wchar_t* mask;
        bool caseInsensitive;
        bool expected;
    };
    const Case cases[] = {
        {L"Norvane Agent", L"Norvane*", false, true},
        {L"norvane agent", L"Norvane*", false, false},
        {L"norvane agent", L"Norvane*", true, true},
        {L"Norvan", L"Norvane*", false, false},
        {L"a", L"?", false, true},
        {L"", L"?", false, false},
        {L"ab", L"?", false, false},
        {L"a", L"a?", false, false},
        {L"", L"***", false, true},
        {L"anything", L"***", false, true},
        {L"ac", L"a**?c", false, false},
        {L"file.lua.bak", L"*.lua", false, false},
        {L"file.LUA", L"*.lua", true, true},
        {L"mississippi", L"*sip*i", false, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MatchesMask(c.name, c.mask, c.caseInsensitive), c.expected)
            << L"'" << c.name << L"' against '" << c.mask << L"' case-insensitive " << c.caseInsensitive;
    }
}

// The plain recursive definition: a literal prefix, then at each "*" every non-empty suffix of the name.
bool ReferenceMatch(const wchar_t* name, const wchar_t* mask)
{
    while (*mask != L'*') {
        if (*mask == 0) {
            return *name == 0;
        }
        if (*name == 0 || (*mask != L'?' && *mask != *name)) {
            return false;
        }
        ++mask;
        ++name;
    }
    while (*mask == L'*') {
        ++mask;
    }
    if (*mask == 0) {
        return true;
    }
    for (; *name != 0; ++name) {
        if (ReferenceMatch(name, mask)) {
            return true;
        }
    }
    return false;
}

void AllStrings(const std::wstring& alphabet, size_t maxLength, std::vector<std::wstring>& out)
{
    out.assign(1, L"");
    for (size_t begin = 0; out.back().size() < maxLength;) {
        const size_t end = out.size();
        for (size_t i = begin; i < end; ++i) {
            for (wchar_t c : alphabet) {
                out.push_back(out[i] + c);
            }
        }
        begin = end;
    }
}

TEST(MatchesMask, AgreesWithRecursiveDefinitionOnAllShortInputs)
{
    std::vector<std::wstring> names;
    std::vector<std::wstring> masks;
    AllStrings(L"ab", 6, names);
    AllStrings(L"ab?*", 5, masks);
    for (const std::wstring& mask : masks) {
        for (const std::wstring& name : names) {
            ASSERT_EQ(MatchesMask(name, mask, false), ReferenceMatch(name.c_str(), mask.c_str()))
                << L"'" << name << L"' against '" << mask << L"'";
        }
    }
}

TEST(MatchesMask, LongNamesDoNotBacktrackExponentially)
{
    const std::wstring longName(20000, L'a');
    const DWORD start = ::GetTickCount();
    EXPECT_FALSE(MatchesMask(longName, L"*a*a*a*a*b", false));
    EXPECT_TRUE(MatchesMask(longName + L"B", L"*A*A*A*A*b", true));
    EXPECT_TRUE(MatchesMask(longName + L"b", L"*a*a*a*a*b", false));
    EXPECT_TRUE(MatchesMask(longName, L"*?*?*?*?*?*?*a", false));
    EXPECT_FALSE(MatchesMask(longName, std::wstring(100, L'*') + L"?b", false));
    EXPECT_LT(::GetTickCount() - start, 5000u);
}

// A fresh directory under the temporary folder, removed with its contents afterwards.
class PathsOnDisk : public ::testing::Test {
protected:
    void SetUp() override
    {
        wchar_t temp[MAX_PATH + 1];
        ASSERT_NE(::GetTempPathW(MAX_PATH + 1, temp), 0u);
        m_root = MakePath(temp, L"nv-paths-" + std::to_wstring(::GetCurrentProcessId()));
        RemoveTree(m_root);
        ASSERT_TRUE(::CreateDirectoryW(m_root.c_str(), nullptr));
    }
    void TearDown() override { RemoveTree(L"\\\\?\\" + m_root); }

    static void RemoveTree(const std::wstring& path)
    {
        WIN32_FIND_DATAW data;
        const HANDLE find = ::FindFirstFileW(MakePath(path, L"*").c_str(), &data);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring entry = data.cFileName;
                if (entry == L"." || entry == L"..") {
                    continue;
                }
                if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    RemoveTree(MakePath(path, entry));
                } else {
                    ::DeleteFileW(MakePath(path, entry).c_str());
                }
            } while (::FindNextFileW(find, &data));
            ::FindClose(find);
        }
        ::RemoveDirectoryW(path.c_str());
    }

    void CreateFileAt(const std::wstring& path)
    {
        const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        ::CloseHandle(file);
    }

    std::wstring m_root;
};

TEST_F(PathsOnDisk, TestsTellFilesDirectoriesAndMissingPathsApart)
{
    const std::wstring file = MakePath(m_root, L"file.txt");
    const std::wstring missing = MakePath(m_root, L"missing");
    CreateFileAt(file);

    EXPECT_TRUE(PathExists(m_root));
    EXPECT_TRUE(IsDirectory(m_root));
    EXPECT_FALSE(IsFile(m_root));

    EXPECT_TRUE(PathExists(file));
    EXPECT_TRUE(IsFile(file));
    EXPECT_FALSE(IsDirectory(file));

    // The failure value has the directory bit set; the tests must not read it as a directory.
    ASSERT_EQ(::GetFileAttributesW(missing.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(PathExists(missing));
    EXPECT_FALSE(IsFile(missing));
    EXPECT_FALSE(IsDirectory(missing));
}

TEST_F(PathsOnDisk, CreateDirectoryChainCreatesEveryMissingLevel)
{
    const std::wstring deep = m_root + L"\\a\\b\\c\\";
    EXPECT_TRUE(CreateDirectoryChain(deep, nullptr));
    EXPECT_TRUE(IsDirectory(m_root + L"\\a\\b\\c"));
    EXPECT_TRUE(CreateDirectoryChain(deep, nullptr)) << "an existing chain is success";
    EXPECT_TRUE(CreateDirectoryChain(L"", nullptr));
}

TEST_F(PathsOnDisk, CreateDirectoryChainFailsWhereAFileStands)
{
    const std::wstring file = MakePath(m_root, L"blocker");
    CreateFileAt(file);
    EXPECT_FALSE(CreateDirectoryChain(file, nullptr));
    EXPECT_FALSE(CreateDirectoryChain(file + L"\\sub\\dir", nullptr));
    EXPECT_FALSE(PathExists(file + L"\\sub"));
    EXPECT_TRUE(IsFile(file));
}

TEST_F(PathsOnDisk, CreateDirectoryChainBuildsPathsLongerThanMaxPath)
{
    std::wstring deep = L"\\\\?\\" + m_root;
    while (deep.size() <= 3 * MAX_PATH) {
        deep = MakePath(deep, L"level-with-a-long-name");
    }
    EXPECT_TRUE(CreateDirectoryChain(deep, nullptr));
    EXPECT_TRUE(IsDirectory(deep));
    EXPECT_TRUE(CreateDirectoryChain(MakePath(deep, L"one-more"), nullptr));
    EXPECT_TRUE(IsDirectory(MakePath(deep, L"one-more")));
}

} // namespace
