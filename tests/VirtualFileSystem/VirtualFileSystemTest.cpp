#include "VirtualFileSystem/ArchiveWriter.h"
#include "VirtualFileSystem/VFSException.h"
#include "VirtualFileSystem/VirtualFileSystem.h"

#include "ArchiveBytes.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using VORTALEX::ArchiveWriter;
using VORTALEX::VFSException;
using VORTALEX::VirtualFileSystem;
using testing_vfs::ArchiveBytes;
using testing_vfs::ScratchFolder;

namespace {

std::string ScratchName()
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return std::string("vfs_") + info->test_suite_name() + "_" + info->name();
}

// The VFSException code Open throws, or -1 when it opens.
int OpenCode(VirtualFileSystem& vfs, const std::filesystem::path& file)
{
    try {
        vfs.OpenFile(file);
    } catch (const VFSException& e) {
        return e.GetCode();
    }
    return -1;
}

std::string Read(VirtualFileSystem& vfs, std::wstring_view name)
{
    const auto* record = vfs.Find(name);
    if (record == nullptr)
        return "(absent)";
    std::string out(record->unpackedSize, '\0');
    vfs.ReadData(out.data(), record->unpackedSize);
    return out;
}

std::string Binary(std::size_t size, unsigned seed)
{
    std::string out(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        out[i] = static_cast<char>((seed >> 16) % ((i / 4096) % 3 == 0 ? 256 : 5));
    }
    return out;
}

}  // namespace

TEST(VFSException, TextsByCode)
{
    EXPECT_STREQ(VFSException(0).what(), "Unknown error...");
    EXPECT_STREQ(VFSException(4).what(), "Error: Opening file");
    EXPECT_STREQ(VFSException(9).what(), "Error: Not valid storage file");
    EXPECT_STREQ(VFSException(13).what(), "Buffer to small");
    EXPECT_STREQ(VFSException(17).what(), "Query data file does not exist");
    EXPECT_STREQ(VFSException(18).what(), "Unknown error...");
    EXPECT_STREQ(VFSException(-1).what(), "Unknown error...");
    EXPECT_EQ(VFSException(11).GetCode(), 11);
}

TEST(VirtualFileSystem, WriterAndReaderRoundTrip)
{
    ScratchFolder dir(ScratchName());
    const std::string big = Binary(300000, 5);
    const std::string script = "print('привет')";
    {
        ArchiveWriter writer(dir / "pack.vfs");
        writer.Add(L"meshes\\box.x", "xof 0303txt 0032", 16);
        writer.Add(L"Textures\\Grass.DDS", big.data(), big.size());
        writer.Add(L"empty.txt", "", 0);
        writer.Add(L"Скрипты\\Старт.lua", script.data(), script.size());
        writer.Finish();
        EXPECT_EQ(writer.GetCount(), 4u);
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "pack.vfs.part")) << "no temporary left behind";

    VirtualFileSystem vfs;
    vfs.SetPassPhrase("quillmar");
    ASSERT_EQ(OpenCode(vfs, dir / "pack.vfs"), -1);
    EXPECT_EQ(vfs.GetKeyLength(), 128u);
    ASSERT_EQ(vfs.GetRecordCount(), 4u);
    // Sorted by lower-cased name, ordinal compare; the archive order is kept per record.
    EXPECT_EQ(vfs.GetRecord(0).name, L"empty.txt");
    EXPECT_EQ(vfs.GetRecord(1).name, L"meshes\\box.x");
    EXPECT_EQ(vfs.GetRecord(2).name, L"textures\\grass.dds");
    EXPECT_EQ(vfs.GetRecord(3).name, L"скрипты\\старт.lua");
    EXPECT_EQ(vfs.GetRecord(3).writtenName, L"Скрипты\\Старт.lua");
    EXPECT_EQ(vfs.GetRecord(2).order, 1u);
    EXPECT_EQ(vfs.GetRecord(2).unpackedSize, big.size());
    EXPECT_LT(vfs.GetRecord(2).storedSize, big.size());

    EXPECT_EQ(Read(vfs, L"meshes\\box.x"), "xof 0303txt 0032");
    EXPECT_EQ(Read(vfs, L"TEXTURES\\grass.dds"), big);
    EXPECT_EQ(Read(vfs, L"EMPTY.TXT"), "");
    EXPECT_EQ(Read(vfs, L"СКРИПТЫ\\старт.LUA"), script);
}

TEST(VirtualFileSystem, LookupIgnoresCaseButNotSeparators)
{
    ScratchFolder dir(ScratchName());
    ArchiveBytes().Add(L"textures\\grass.dds", "grass").Add(L"maps/level1.raw", "raw").Write(dir / "a.vfs");
    VirtualFileSystem vfs;
    vfs.SetPassPhrase("quillmar");
    ASSERT_EQ(OpenCode(vfs, dir / "a.vfs"), -1);
    EXPECT_EQ(Read(vfs, L"Textures\\Grass.DDS"), "grass");
    EXPECT_EQ(vfs.Find(L"textures/grass.dds"), nullptr);
    EXPECT_EQ(Read(vfs, L"MAPS/Level1.raw"), "raw");
    EXPECT_EQ(vfs.Find(L"maps\\level1.raw"), nullptr);
    EXPECT_EQ(vfs.Find(L"textures\\grass"), nullptr);
    EXPECT_EQ(vfs.Find(L""), nullptr);
}

TEST(VirtualFileSystem, ArchivesFromEitherKeyLengthOpen)
{
    ScratchFolder dir(ScratchName());
    for (unsigned bits : {40u, 128u}) {
        ArchiveBytes bytes;
        bytes.keyBits = bits;
        bytes.Add(L"Первый.txt", "first entry").Add(L"b.bin", Binary(5000, bits));
        bytes.Write(dir / "k.vfs");
        VirtualFileSystem vfs;
        vfs.SetPassPhrase("quillmar");
        ASSERT_EQ(OpenCode(vfs, dir / "k.vfs"), -1) << bits;
        EXPECT_EQ(vfs.GetKeyLength(), bits);
        EXPECT_EQ(Read(vfs, L"первый.txt"), "first entry");
        EXPECT_EQ(Read(vfs, L"b.bin"), Binary(5000, bits));
    }
    // A reader reopened on another archive chooses again.
    ArchiveBytes weak;
    weak.keyBits = 40;
    weak.Add(L"w", "weak").Write(dir / "w.vfs");
    ArchiveBytes strong;
    strong.Add(L"s", "strong").Write(dir / "s.vfs");
    VirtualFileSystem vfs;
    vfs.SetPassPhrase("quillmar");
    ASSERT_EQ(OpenCode(vfs, dir / "w.vfs"), -1);
    EXPECT_EQ(Read(vfs, L"w"), "weak");
    ASSERT_EQ(OpenCode(vfs, dir / "s.vfs"), -1);
    EXPECT_EQ(Read(vfs, L"s"), "strong");
    EXPECT_EQ(vfs.Find(L"w"), nullptr);
}

TEST(VirtualFileSystem, UnencipheredArchivesNeedNoPassPhrase)
{
    ScratchFolder dir(ScratchName());
    ArchiveBytes bytes;
    bytes.passPhrase = "";
    bytes.Add(L"plain.txt", "no key").Write(dir / "p.vfs");
    VirtualFileSystem vfs;
    ASSERT_EQ(OpenCode(vfs, dir / "p.vfs"), -1);
    EXPECT_EQ(Read(vfs, L"PLAIN.TXT"), "no key");
}

TEST(VirtualFileSystem, HeaderFaults)
{
    ScratchFolder dir(ScratchName());
    VirtualFileSystem vfs;
    vfs.SetPassPhrase("quillmar");
    EXPECT_EQ(OpenCode(vfs, dir / "missing.vfs"), VFSException::OpeningFile);
    EXPECT_EQ(OpenCode(vfs, dir.path()), VFSException::OpeningFile) << "a folder is no archive";

    ArchiveBytes wrongMagic;
    wrongMagic.magic = std::string("VirtualFileSysten") + std::string(3, '\0');
    wrongMagic.Add(L"a", "a").Write(dir / "m.vfs");
    EXPECT_EQ(OpenCode(vfs, dir / "m.vfs"), VFSException::NotValidStorage);

    ArchiveBytes longMagic;  // no terminator inside the 20 bytes
    longMagic.magic = "VirtualFileSystemXYZ";
    longMagic.Add(L"a", "a").Write(dir / "l.vfs");
    EXPECT_EQ(OpenCode(vfs, dir / "l.vfs"), VFSException::NotValidStorage);

    ArchiveBytes multibyte;
    multibyte.encoding = 1;
    multibyte.Add(L"a", "a").Write(dir / "mb.vfs");
    EXPECT_EQ(OpenCode(vfs, dir / "mb.vfs"), VFSException::MultibyteStorage);

    ArchiveBytes::WriteFile(dir / "empty.vfs", "");
    EXPECT_EQ(OpenCode(vfs, dir / "empty.vfs"), VFSException::NotValidStorage);
    ArchiveBytes::WriteFile(dir / "short.vfs", "VirtualFileSystem");
    EXPECT_EQ(OpenCode(vfs, dir / "short.vfs"), VFSException::ReadingFile);

    // A header with no entries and a count of 0 is a valid empty archive.
    ArchiveBytes().Write(dir / "none.vfs");
    EXPECT_EQ(OpenCode(vfs, dir / "none.vfs"), -1);
    EXPECT_EQ(vfs.GetRecordCount(), 0u);
}

TEST(VirtualFileSystem, CountMismatchRefusesTheArchive)
{
    ScratchFolder dir(ScratchName());
    ArchiveBytes bytes;
    bytes.count = 3;
    bytes.Add(L"a.txt", "a").Add(L"b.txt", "b").Write(dir / "c.vfs");
    VirtualFileSystem vfs;
    vfs.SetPassPhrase("quillmar");
    EXPECT_EQ(OpenCode(vfs, dir / "c.vfs"), VFSException::NotValidStorage);
    EXPECT_EQ(vfs.GetRecordCount(), 0u);
    EXPECT_EQ(vfs.Find(L"a.txt"), nullptr);

    bytes.count = 1;
    bytes.Write(dir / "c.vfs");
    EXPECT_EQ(OpenCode(vfs, dir / "c.vfs"), VFSException::NotValidStorage);
    // A count no file could hold is refused without reserving room for it.
    bytes.count = 0xFFFFFFFFu;
    bytes.Write(dir / "c.vfs");
    EXPECT_EQ(OpenCode(vfs, dir / "c.vfs"), VFSException::NotValidStorage);
}

TEST(VirtualFileSystem, NameLengthLimit)
{
    ScratchFolder dir(ScratchName());
    const std::wstring name260(260, L'n');
    ArchiveBytes ok;
    ok.Add(L"first", "1").Add(name260, "260");
    ok.Write(dir / "ok.vfs");
    VirtualFileSystem vfs;
    vfs.SetPassPhrase("quillmar");
    ASSERT_EQ(OpenCode(vfs, dir / "ok.vfs"), -1);
    EXPECT_EQ(Read(vfs, std::wstring(260, L'N')), "260");

    // 261 characters end the directory early; the count check then refuses the archive.
    ArchiveBytes tooLong;
    tooLong.Add(L"first", "1").Add(name260 + L"x", "261").Add(L"last", "3");
    tooLong.Write(dir / "long.vfs");
    EXPECT_EQ(OpenCode(vfs, dir / "long.vfs"), VFSException::NotValidStorage);
    EXPECT_EQ(vfs.Find(L"first"), nullptr);

    // The writer refuses such names instead of writing an archive nobody can read.
    ArchiveWriter writer(dir / "w.vfs");
    try {
        writer.Add(name260 + L"x", "x", 1);
        ADD_FAILURE() << "261-character name written";
    } catch (const VFSException& e) {
        EXPECT_EQ(e.GetCode(), VFSException::FileNameTooLong);
    }
    writer.Add(name260, "x", 1);
    writer.Finish();
    ASSERT_EQ(OpenCode(vfs, dir / "w.vfs"), -1);
    EXPECT_EQ(Read(vfs, name260), "x");
}

TEST(VirtualFileSystem, DamagedEntriesEndTheDirectoryWithoutReadingPastTheFile)
{
    ScratchFolder dir(ScratchName());
    VirtualFileSystem vfs;
    vfs.SetPassPhrase("quillmar");
    auto openWithDamage = [&](const std::function<void(testing_vfs::Entry&)>& damage) {
        ArchiveBytes bytes;
        bytes.Add(L"good.txt", "good").Add(L"bad.txt", std::string(1000, 'b')).Add(L"z", "z");
        damage(bytes.entries[1]);
        bytes.Write(dir / "d.vfs");
        return OpenCode(vfs, dir / "d.vfs");
    };
    EXPECT_EQ(openWithDamage([](auto&) {}), -1);
    EXPECT_EQ(openWithDamage([](auto& e) { e.headerLength = 3; }), VFSException::NotValidStorage);
    EXPECT_EQ(openWithDamage([](auto& e) { e.headerLength = 0xFFFFFFF0u; }), VFSException::NotValidStorage);
    EXPECT_EQ(openWithDamage([](auto& e) { e.headerLength = 16 + 2 * 8; }), VFSException::NotValidStorage);
    EXPECT_EQ(openWithDamage([](auto& e) { e.dataOffset = 0; }), VFSException::NotValidStorage);
    EXPECT_EQ(openWithDamage([](auto& e) { e.storedSize = 0x7FFFFFFFu; }), VFSException::NotValidStorage);
    // Gigabytes claimed from a few stored bytes: refused before anybody allocates them.
    EXPECT_EQ(openWithDamage([](auto& e) { e.unpackedSize = 0xFFFFFFFFu; }), VFSException::NotValidStorage);
    EXPECT_EQ(vfs.GetRecordCount(), 0u);

    // Data cut short ends the directory; a file cut inside an entry header is a short read.
    ArchiveBytes bytes;
    bytes.Add(L"a", "a").Add(L"b", "b");
    const std::string whole = bytes.Build();
    ArchiveBytes::WriteFile(dir / "cut.vfs", whole.substr(0, whole.size() - 2));
    EXPECT_EQ(OpenCode(vfs, dir / "cut.vfs"), VFSException::NotValidStorage);
    const std::size_t secondHeader = whole.size() - (16 + 2 + 3);
    ArchiveBytes::WriteFile(dir / "cut.vfs", whole.substr(0, secondHeader + 7));
    EXPECT_EQ(OpenCode(vfs, dir / "cut.vfs"), VFSException::ReadingFile);
}

TEST(VirtualFileSystem, ReadFaults)
{
    ScratchFolder dir(ScratchName());
    ArchiveBytes bytes;
    bytes.Add(L"a.txt", "alpha").Add(L"b.txt", std::string(500, 'b'));
    bytes.Write(dir / "r.vfs");
    VirtualFileSystem vfs;
    vfs.SetPassPhrase("quillmar");
    ASSERT_EQ(OpenCode(vfs, dir / "r.vfs"), -1);
    char buffer[600];
    auto readCode = [&](std::uint32_t size) {
        try {
            vfs.ReadData(buffer, size);
        } catch (const VFSException& e) {
            return e.GetCode();
        }
        return -1;
    };
    EXPECT_EQ(readCode(5), VFSException::QueryFileNotExist);
    ASSERT_NE(vfs.Find(L"a.txt"), nullptr);
    EXPECT_EQ(readCode(4), VFSException::BufferTooSmall);
    EXPECT_EQ(readCode(6), VFSException::BufferTooSmall);
    EXPECT_EQ(readCode(5), -1);
    EXPECT_EQ(std::string(buffer, 5), "alpha");
    EXPECT_EQ(vfs.Find(L"c.txt"), nullptr);
    EXPECT_EQ(readCode(5), VFSException::QueryFileNotExist) << "a failed lookup forgets the last record";
    vfs.Close();
    EXPECT_EQ(vfs.Find(L"a.txt"), nullptr);
}

TEST(VirtualFileSystem, CorruptDataIsRefusedOnRead)
{
    ScratchFolder dir(ScratchName());
    ArchiveBytes bytes;
    const std::string text = "Some text that compresses: " + std::string(400, 'x') + " end";
    bytes.Add(L"a.txt", text);
    std::string raw = bytes.Build();
    raw[raw.size() - 5] ^= 0x5A;  // inside the enciphered snappy body
    ArchiveBytes::WriteFile(dir / "x.vfs", raw);
    VirtualFileSystem vfs;
    vfs.SetPassPhrase("quillmar");
    ASSERT_EQ(OpenCode(vfs, dir / "x.vfs"), -1);
    const auto* record = vfs.Find(L"a.txt");
    ASSERT_NE(record, nullptr);
    std::vector<char> out(record->unpackedSize + 32, '\x6B');
    try {
        vfs.ReadData(out.data(), record->unpackedSize);
        // A flip that still decodes must at least not produce the original bytes.
        EXPECT_NE(std::string(out.data(), record->unpackedSize), text);
    } catch (const std::exception&) {
    }
    for (std::size_t i = record->unpackedSize; i < out.size(); ++i)
        ASSERT_EQ(out[i], '\x6B');

    // A stream declaring fewer bytes than the entry claims would leave part of the buffer unset.
    ArchiveBytes shortStream;
    shortStream.Add(L"s", "12345");
    shortStream.entries[0].unpackedSize = 8;
    shortStream.Write(dir / "s.vfs");
    ASSERT_EQ(OpenCode(vfs, dir / "s.vfs"), -1);
    ASSERT_NE(vfs.Find(L"s"), nullptr);
    try {
        vfs.ReadData(out.data(), 8);
        ADD_FAILURE() << "short stream accepted";
    } catch (const std::exception&) {
    }
}

TEST(VirtualFileSystem, EqualNamesFindTheEarliestEntry)
{
    ScratchFolder dir(ScratchName());
    ArchiveBytes().Add(L"Same.txt", "first").Add(L"same.TXT", "second").Write(dir / "e.vfs");
    VirtualFileSystem vfs;
    vfs.SetPassPhrase("quillmar");
    ASSERT_EQ(OpenCode(vfs, dir / "e.vfs"), -1);
    EXPECT_EQ(vfs.GetRecordCount(), 2u);
    EXPECT_EQ(Read(vfs, L"same.txt"), "first");
}
