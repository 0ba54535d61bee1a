#include "app/zip_dropper.h"
#include "platform/file_ops.h"
#include "platform/paths.h"
#include "platform/special_folders.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <vector>

namespace {

std::vector<char> ReadArchive(const char* name)
{
    std::ifstream file(std::string(NV_TEST_ARCHIVES) + "/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

class Extraction : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = CreateUniqueDirectory(QueryTempDirectory(), L"nvtest", nullptr);
        ASSERT_FALSE(root.empty());
        target = MakePath(root, L"target");
        ASSERT_TRUE(::CreateDirectoryW(target.c_str(), nullptr));
    }
    void TearDown() override { FileOps::RemoveDirectoryTree(root, false); }

    bool Extract(const char* archiveName)
    {
        const std::vector<char> data = ReadArchive(archiveName);
        EXPECT_FALSE(data.empty()) << archiveName;
        return ZipDropper::ExtractFilesFromMemory(data.data(), data.size(), target);
    }

    std::wstring root;
    std::wstring target;
};

TEST_F(Extraction, FlatArchiveWritesEveryEntry)
{
    ASSERT_TRUE(Extract("flat.zip"));
    EXPECT_TRUE(IsFile(MakePath(target, L"a.lua")));
    EXPECT_TRUE(IsFile(MakePath(target, L"b.lua")));
    // Extracting again overwrites the earlier copies.
    EXPECT_TRUE(Extract("flat.zip"));
}

TEST_F(Extraction, DotDotStopsBeforeAnythingEscapes)
{
    for (const char* archive : {"dotdot.zip", "inner-dots.zip"}) {
        EXPECT_FALSE(Extract(archive)) << archive;
        EXPECT_TRUE(IsFile(MakePath(target, L"first.lua"))) << archive;
    }
    EXPECT_FALSE(PathExists(MakePath(root, L"escaped.lua")));
    EXPECT_FALSE(PathExists(MakePath(target, L"after.lua")));
    EXPECT_FALSE(PathExists(MakePath(target, L"x..y.lua")));
}

TEST_F(Extraction, DirectoryEntriesCreateNothingByThemselves)
{
    ASSERT_TRUE(Extract("dirs.zip"));
    EXPECT_TRUE(IsFile(MakePath(target, L"sub\\x.lua")));
    EXPECT_FALSE(PathExists(MakePath(target, L"only")));
}

TEST_F(Extraction, EmptyOrBrokenArchivesFail)
{
    // An archive without entries has no first entry to go to, which ends the extraction like any other error.
    for (const char* archive : {"empty.zip", "truncated.zip", "damaged-data.zip"}) {
        EXPECT_FALSE(Extract(archive)) << archive;
    }
    EXPECT_FALSE(IsFile(MakePath(target, L"b.lua")));
}

TEST_F(Extraction, TargetMustBeAnExistingDirectory)
{
    const std::vector<char> data = ReadArchive("flat.zip");
    EXPECT_FALSE(ZipDropper::ExtractFilesFromMemory(data.data(), data.size(), L""));
    EXPECT_FALSE(ZipDropper::ExtractFilesFromMemory(data.data(), data.size(), MakePath(root, L"missing")));
    ASSERT_TRUE(Extract("flat.zip"));
    EXPECT_FALSE(ZipDropper::ExtractFilesFromMemory(data.data(), data.size(), MakePath(target, L"a.lua")));
}

} // namespace
