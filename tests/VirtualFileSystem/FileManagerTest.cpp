#include "VirtualFileSystem/FileManager.h"

#include "Common/Environment.h"
#include "Common/FilePath.h"
#include "Logger/Logger.h"

#include "ArchiveBytes.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

using VORTALEX::FileManager;
using VORTALEX::Storage;
using testing_vfs::ArchiveBytes;
using testing_vfs::ScratchFolder;

namespace {

std::string TestName()
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return std::string("fm_") + info->name();
}

// The program folder is a scratch folder; warnings go to the in-memory report.
class FileManagerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        VORTALEX::OverrideProgramFolder(VORTALEX::PathToWide(dir.path()));
        logger::Logger::Activate(logger::AllReports);
        logger::Logger::SetOption(logger::OptionEnable, L"1");
        logger::Logger::SetOption(logger::OptionFilter, L"4");
        logger::Logger::SetOption(logger::OptionRepetitions, L"1");
        logger::Logger::Activate(logger::Mock);
    }
    void TearDown() override
    {
        logger::Logger::Activate(logger::AllReports);
        VORTALEX::OverrideProgramFolder(L"");
    }

    static std::wstring Log() { return logger::Logger::Instance().MockText(); }

    void WriteLoose(const std::string& relative, const std::string& bytes)
    {
        ArchiveBytes::WriteFile(dir / relative, bytes);
    }

    static std::string Get(FileManager& manager, const wchar_t* name)
    {
        unsigned int size = 12345;
        const unsigned char* data = manager.GetDataFile(name, &size);
        if (data == nullptr) {
            EXPECT_EQ(size, 0u);
            return "(absent)";
        }
        return std::string(reinterpret_cast<const char*>(data), size);
    }

    ScratchFolder dir{TestName()};
};

}  // namespace

TEST_F(FileManagerTest, LooseFilesOfTheProgramFolderAreFound)
{
    WriteLoose("modules/MainModule.xml", "<module/>");
    WriteLoose("text.ini", "FolderMesh=meshes");
    FileManager manager;
    EXPECT_EQ(manager.GetStorageCount(), 1u);
    EXPECT_FALSE(manager.GetStorage(0).IsArchive());
    EXPECT_EQ(Get(manager, L"modules\\MainModule.xml"), "<module/>");
    EXPECT_EQ(Get(manager, L"MODULES\\mainmodule.XML"), "<module/>") << "names made on Windows";
    EXPECT_EQ(Get(manager, L"text.ini"), "FolderMesh=meshes");
    EXPECT_EQ(Log(), L"");
}

TEST_F(FileManagerTest, MissingEmptyAndFolderNamesAreAbsentWithOneWarningEach)
{
    // An empty file reads as absent too, but the warning says it is empty,
    // whether it lies loose or in an archive.
    WriteLoose("empty.txt", "");
    ArchiveBytes().Add(L"packed.txt", "").Write(dir / "e.vfs");
    std::filesystem::create_directories(dir / "folder");
    FileManager manager;
    manager.AddStorage(L"e.vfs");
    EXPECT_EQ(Get(manager, L"nothing.txt"), "(absent)");
    EXPECT_EQ(Get(manager, L"empty.txt"), "(absent)");
    EXPECT_EQ(Get(manager, L"Packed.txt"), "(absent)");
    EXPECT_EQ(Get(manager, L"folder"), "(absent)");
    EXPECT_EQ(manager.GetDataFile(L"nothing.txt", nullptr), nullptr);
    EXPECT_EQ(Log(), L"warning:\tНе найден файл: nothing.txt\n"
                     L"warning:\tФайл пуст: empty.txt\n"
                     L"warning:\tФайл пуст: Packed.txt\n"
                     L"warning:\tНе найден файл: folder\n"
                     L"warning:\tНе найден файл: nothing.txt\n");
}

TEST_F(FileManagerTest, LaterStorageWinsAndArchivesComeBeforeLooseFiles)
{
    WriteLoose("a.txt", "loose a");
    WriteLoose("loose.txt", "only loose");
    ArchiveBytes().Add(L"a.txt", "first a").Add(L"first.txt", "only first").Write(dir / "one.vfs");
    ArchiveBytes().Add(L"A.TXT", "second a").Write(dir / "packs/two.vfs");
    FileManager manager;
    manager.AddStorage(L"one.vfs");
    EXPECT_EQ(Get(manager, L"a.txt"), "first a");
    manager.AddStorage(L"packs\\two.vfs");
    EXPECT_EQ(manager.GetStorageCount(), 3u);
    EXPECT_TRUE(manager.GetStorage(2).IsArchive());
    EXPECT_EQ(manager.GetStorage(2).GetFolder(), L"\\packs");
    EXPECT_EQ(Get(manager, L"a.txt"), "second a");
    EXPECT_EQ(Get(manager, L"First.txt"), "only first");
    EXPECT_EQ(Get(manager, L"loose.txt"), "only loose");
    EXPECT_EQ(Log(), L"");
}

TEST_F(FileManagerTest, FailedOpenLogsTheExceptionTextAndFindsNothing)
{
    ArchiveBytes bad;
    bad.count = 3;
    bad.Add(L"a.txt", "a").Add(L"b.txt", "b").Write(dir / "bad.vfs");
    FileManager manager;
    manager.AddStorage(L"missing.vfs");
    manager.AddStorage(L"bad.vfs");
    manager.AddStorage(nullptr);
    manager.AddStorage(L"");
    EXPECT_EQ(manager.GetStorageCount(), 3u) << "failed archives stay in the list, empty names don't";
    EXPECT_EQ(Log(), L"warning:\tError: Opening file: missing.vfs\n"
                     L"warning:\tError: Not valid storage file: bad.vfs\n");
    EXPECT_EQ(Get(manager, L"a.txt"), "(absent)");
}

TEST_F(FileManagerTest, BufferHoldsEachResultUntilTheNextCall)
{
    ArchiveBytes().Add(L"big.bin", std::string(100000, 'B')).Add(L"small.txt", "small").Write(dir / "p.vfs");
    FileManager manager;
    manager.AddStorage(L"p.vfs");
    unsigned int size = 0;
    const unsigned char* big = manager.GetDataFile(L"big.bin", &size);
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(size, 100000u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(big), size), std::string(100000, 'B'));
    const unsigned char* small = manager.GetDataFile(L"small.txt", &size);
    ASSERT_NE(small, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(small), size), "small");
    EXPECT_EQ(Get(manager, L"big.bin"), std::string(100000, 'B'));
}

TEST_F(FileManagerTest, ArchiveReadErrorsAreLoggedAndThrown)
{
    ArchiveBytes bytes;
    bytes.Add(L"s.txt", "12345");
    bytes.entries[0].unpackedSize = 9;  // more than the stream holds
    bytes.Write(dir / "e.vfs");
    FileManager manager;
    manager.AddStorage(L"e.vfs");
    unsigned int size = 0;
    EXPECT_THROW(manager.GetDataFile(L"s.txt", &size), std::exception);
    EXPECT_EQ(size, 9u);
    EXPECT_EQ(Log(), L"error:\tError uncompress file\n");
    // The manager goes on working after the failure.
    WriteLoose("ok.txt", "ok");
    EXPECT_EQ(Get(manager, L"ok.txt"), "ok");
}

TEST_F(FileManagerTest, StorageFolderNames)
{
    std::filesystem::create_directories(dir / "data/sub");
    const std::wstring program = VORTALEX::PathToWide(dir.path());
    EXPECT_EQ(Storage::FolderOf(L"data\\pack.vfs", program), L"\\data");
    EXPECT_EQ(Storage::FolderOf(L"pack.vfs", program), L"");
    EXPECT_EQ(Storage::FolderOf(L"data\\", program), L"\\data");
    EXPECT_EQ(Storage::FolderOf(L"data\\sub", program), L"\\data\\sub");
    EXPECT_EQ(Storage::FolderOf(L"Data\\Sub\\x.vfs", program), L"\\Data\\Sub");
}

TEST_F(FileManagerTest, PlainStorageOfAFolderReadsFilesInsideIt)
{
    WriteLoose("media/skin.png", "png bytes");
    Storage storage(L"\\media", false);
    EXPECT_EQ(storage.Find(L"Skin.PNG"), 9u);
    std::string out(9, '\0');
    storage.GetDataFile(out.data(), 9);
    EXPECT_EQ(out, "png bytes");
    EXPECT_EQ(storage.Find(L"other.png"), 0u);
}

TEST_F(FileManagerTest, ClosedStoragesFindNothing)
{
    WriteLoose("a.txt", "a");
    FileManager manager;
    EXPECT_EQ(Get(manager, L"a.txt"), "a");
    manager.CloseStorages();
    EXPECT_EQ(manager.GetStorageCount(), 0u);
    EXPECT_EQ(Get(manager, L"a.txt"), "(absent)");
}
