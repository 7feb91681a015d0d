// Seeded random damage to valid archives: the reader must refuse or read them without touching
// memory it doesn't own, and never accept sizes the file cannot back. TW_FUZZ_ITERATIONS raises
// the number of rounds for longer runs (under a sanitizer build, say), TW_FUZZ_SEED varies them.

#include "VirtualFileSystem/VFSException.h"
#include "VirtualFileSystem/VirtualFileSystem.h"

#include "ArchiveBytes.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

using VORTALEX::VirtualFileSystem;
using testing_vfs::ArchiveBytes;
using testing_vfs::ScratchFolder;

namespace {

int FromEnvironment(const char* name, int fallback)
{
    const char* text = std::getenv(name);
    const int n = text != nullptr ? std::atoi(text) : 0;
    return n > 0 ? n : fallback;
}

std::string Seeds(unsigned bits)
{
    ArchiveBytes bytes;
    bytes.keyBits = bits;
    bytes.Add(L"meshes\\box.x", "xof 0303txt 0032 box box box box box box box box")
        .Add(L"Textures\\Трава.dds", std::string(3000, 'g') + "DDS")
        .Add(L"e", "")
        .Add(std::wstring(250, L'l'), std::string(200, '\x01'));
    return bytes.Build();
}

void Mutate(std::string& bytes, std::mt19937& random)
{
    switch (random() % 5) {
    case 0:  // flip bytes anywhere
        for (int n = 1 + random() % 8; n > 0; --n)
            bytes[random() % bytes.size()] ^= static_cast<char>(1 + random() % 255);
        break;
    case 1:  // cut the file
        bytes.resize(random() % bytes.size());
        break;
    case 2: {  // overwrite a 32-bit field with an extreme or random value
        static const std::uint32_t values[] = {0, 1, 15, 16, 17, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF,
                                               0xFFFFFFF0, 28, 260, 536, 537};
        const std::uint32_t v = random() % 2 ? values[random() % std::size(values)]
                                             : static_cast<std::uint32_t>(random());
        if (bytes.size() >= 4) {
            const std::size_t at = (random() % (bytes.size() - 3)) & ~std::size_t(3);
            VORTALEX::archive::StoreU32(reinterpret_cast<unsigned char*>(&bytes[at]), v);
        }
        break;
    }
    case 3:  // duplicate a slice
        if (bytes.size() > 8) {
            const std::size_t from = random() % bytes.size();
            const std::size_t len = random() % std::min<std::size_t>(64, bytes.size() - from);
            bytes.insert(random() % bytes.size(), bytes.substr(from, len));
        }
        break;
    default:  // random tail
        for (int n = random() % 64; n > 0; --n)
            bytes.push_back(static_cast<char>(random()));
        break;
    }
}

}  // namespace

TEST(ArchiveFuzz, DamagedArchivesAreRefusedOrReadSafely)
{
    // Several runs (other seeds) may go on at once, each in its own folder.
    ScratchFolder dir("vfs_fuzz_" + std::to_string(::getpid()));
    const auto file = dir / "f.vfs";
    std::mt19937 random(static_cast<unsigned>(FromEnvironment("TW_FUZZ_SEED", 20240611)));
    const std::string seeds[] = {Seeds(128), Seeds(40)};
    int opened = 0, refused = 0;
    VirtualFileSystem vfs;
    vfs.SetPassPhrase("quillmar");
    for (int round = 0, n = FromEnvironment("TW_FUZZ_ITERATIONS", 400); round < n; ++round) {
        std::string bytes = seeds[round % 2];
        for (int m = 1 + random() % 3; m > 0; --m)
            if (!bytes.empty())
                Mutate(bytes, random);
        ArchiveBytes::WriteFile(file, bytes);
        try {
            vfs.OpenFile(file);
            ++opened;
        } catch (const VORTALEX::VFSException&) {
            ++refused;
            ASSERT_EQ(vfs.GetRecordCount(), 0u);
            continue;
        }
        for (std::size_t i = 0; i < vfs.GetRecordCount(); ++i) {
            const auto& record = vfs.GetRecord(i);
            // Nothing accepted that the file cannot back.
            ASSERT_LE(std::uint64_t(record.dataOffset) + record.storedSize, bytes.size());
            ASSERT_LE(std::uint64_t(record.unpackedSize), std::uint64_t(record.storedSize) * 22);
            ASSERT_LE(record.name.size(), 260u);
            const auto* found = vfs.Find(record.name);
            ASSERT_NE(found, nullptr);
            std::vector<char> out(found->unpackedSize + 16, '\x5C');
            try {
                vfs.ReadData(out.data(), found->unpackedSize);
            } catch (const std::exception&) {
            }
            for (std::size_t k = found->unpackedSize; k < out.size(); ++k)
                ASSERT_EQ(out[k], '\x5C') << "write past the buffer in round " << round;
        }
    }
    // Both outcomes occur, so the damage reaches past the header checks.
    EXPECT_GT(opened, 0);
    EXPECT_GT(refused, 0);
}
