#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>

#include "base/unique_resource.h"
#include "logging/log_file_system.h"

namespace {

using NvQorLogging::FileSystem::Path;

class FileSystemTest : public testing::Test {
protected:
    void SetUp() override
    {
        wchar_t temp[MAX_PATH];
        ASSERT_NE(GetTempPathW(MAX_PATH, temp), 0u);
        root = std::wstring(temp) + L"nv-log-fs-" + std::to_wstring(GetCurrentProcessId());
        ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr));
    }
    void TearDown() override
    {
        for (const wchar_t* name : {L"\\a\\b\\f.log", L"\\a\\b\\g.log", L"\\a\\b\\h.log", L"\\file"}) {
            DeleteFileW((root + name).c_str());
        }
        for (const wchar_t* name : {L"\\a\\b\\c", L"\\a\\b", L"\\a", L""}) {
            RemoveDirectoryW((root + name).c_str());
        }
    }
    static std::string Contents(const std::wstring& name)
    {
        const UniqueFile file(CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
        char buffer[64];
        DWORD read = 0;
        return file && ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) ? std::string(buffer, read) : "";
    }

    std::wstring root;
    Path path;
};

TEST_F(FileSystemTest, CreateDirectoryTreeMakesMissingParentsAndRejectsFiles)
{
    EXPECT_TRUE(path.CreateDirectoryTree(root + L"\\a\\b\\c", nullptr));
    EXPECT_TRUE(path.CreateDirectoryTree(root + L"\\a\\b", nullptr));
    EXPECT_NE(GetFileAttributesW((root + L"\\a\\b\\c").c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
    const UniqueFile file(CreateFileW((root + L"\\file").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    ASSERT_TRUE(file);
    EXPECT_FALSE(path.CreateDirectoryTree(root + L"\\file", nullptr));
    EXPECT_FALSE(path.CreateDirectoryTree(root + L"\\file\\sub", nullptr));
    EXPECT_FALSE(path.CreateDirectoryTree(L"relative", nullptr));
}

TEST_F(FileSystemTest, FilesAppendAfterAMarkAndMoveDeleteAndExist)
{
    ASSERT_TRUE(path.CreateDirectoryTree(root + L"\\a\\b", nullptr));
    const std::wstring name = root + L"\\a\\b\\f.log";
    for (const char* text : {"x", "yz"}) {
        const auto file = path.NewFile();
        EXPECT_EQ(file->SeekEndSize(), 0u);
        ASSERT_TRUE(file->Open(name, nullptr));
        file->WriteBomIfEmpty();
        file->SeekEndSize();
        file->Write(text, static_cast<DWORD>(std::strlen(text)));
    }
    EXPECT_EQ(Contents(name), "\xFF\xFExyz");
    EXPECT_TRUE(path.FileExists(name));
    EXPECT_FALSE(path.FileExists(root + L"\\a\\b"));

    const std::wstring moved = root + L"\\a\\b\\g.log";
    EXPECT_TRUE(path.MoveReplace(name, moved));
    EXPECT_FALSE(path.FileExists(name));
    EXPECT_TRUE(path.DeleteOrScheduleDelete(moved));
    EXPECT_FALSE(path.FileExists(moved));
    EXPECT_TRUE(path.DeleteOrScheduleDelete(moved));
    EXPECT_TRUE(path.DeleteOrScheduleDelete(root + L"\\missing\\f.log"));
}

// A second name of a file elsewhere, as a user could plant it where the log is written.
TEST_F(FileSystemTest, FileWithASecondNameIsNeitherWrittenNorRenamed)
{
    ASSERT_TRUE(path.CreateDirectoryTree(root + L"\\a\\b", nullptr));
    const std::wstring other = root + L"\\a\\b\\h.log";
    const std::wstring planted = root + L"\\a\\b\\f.log";
    {
        const UniqueFile file(CreateFileW(other.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
        DWORD written = 0;
        ASSERT_TRUE(file && WriteFile(file.get(), "keep", 4, &written, nullptr));
    }
    ASSERT_TRUE(CreateHardLinkW(planted.c_str(), other.c_str(), nullptr));

    const auto file = path.NewFile();
    EXPECT_FALSE(file->Open(planted, nullptr));
    file->Write("x", 1);
    EXPECT_FALSE(path.MoveReplace(planted, root + L"\\a\\b\\g.log"));
    EXPECT_FALSE(path.FileExists(root + L"\\a\\b\\g.log"));
    // Deleting the planted name leaves the file to its own name.
    EXPECT_TRUE(path.DeleteOrScheduleDelete(planted));
    EXPECT_FALSE(path.FileExists(planted));
    EXPECT_EQ(Contents(other), "keep");
    ASSERT_TRUE(file->Open(other, nullptr));
}

TEST_F(FileSystemTest, InspectFolderTellsFoldersFromFilesAndMissingPaths)
{
    using Kind = NvQorLogging::FileSystem::FolderFacts::Kind;
    ASSERT_TRUE(path.CreateDirectoryTree(root + L"\\a", nullptr));
    const UniqueFile file(CreateFileW((root + L"\\file").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    ASSERT_TRUE(file);
    const auto folder = path.InspectFolder(root + L"\\a");
    EXPECT_EQ(folder.kind, Kind::Folder);
    EXPECT_EQ(folder.owner.rfind(L"S-1-", 0), 0u) << "owner " << testing::PrintToString(folder.owner);
    // Held as checked, so that it cannot be renamed away and a link put in its place (Windows refuses the rename;
    // Wine does not apply sharing to folders).
    EXPECT_TRUE(folder.handle);
    EXPECT_EQ(path.InspectFolder(root + L"\\file").kind, Kind::Other);
    EXPECT_EQ(path.InspectFolder(root + L"\\missing").kind, Kind::Missing);
    EXPECT_EQ(path.InspectFolder(root + L"\\missing\\deeper").kind, Kind::Missing);
}

} // namespace
