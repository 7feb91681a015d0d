// Storage archives: read throughput of large entries next to the codecs alone, and the cost of
// opening a 10,000-entry archive and looking names up in it.

#include "Common/Environment.h"
#include "Common/FilePath.h"
#include "VirtualFileSystem/ArchiveWriter.h"
#include "VirtualFileSystem/FileManager.h"
#include "VirtualFileSystem/VirtualFileSystem.h"
#include "Wrappers/Compression/Compression.h"
#include "Wrappers/Encryption/Crypto.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kLarge = 16u << 20;
constexpr int kManyEntries = 10000;

// Resource-like content: stretches of noise (compressed textures) between stretches of text
// and repeated records (meshes, scripts).
std::string Content(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string out;
    out.reserve(size);
    static const char* const words[] = {"vertex ", "normal ", "1.000000;", "0.500000,", "Mesh {\n",
                                        "}\n", "texture ", "-0.250000;"};
    while (out.size() < size) {
        if (random() % 3 == 0) {
            for (int i = 0; i < 4096 && out.size() < size; ++i)
                out.push_back(static_cast<char>(random()));
        } else {
            for (int i = 0; i < 600 && out.size() < size; ++i)
                out += words[random() % 8];
        }
    }
    out.resize(size);
    return out;
}

fs::path Folder()
{
    static const fs::path folder = [] {
        fs::path p = fs::temp_directory_path() / ("tw_bench_vfs_" + std::to_string(::getpid()));
        fs::create_directories(p);
        return p;
    }();
    return folder;
}

struct Cleanup {
    fs::path folder = Folder();  // constructed first, so it is still there at exit
    ~Cleanup()
    {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
} cleanup;

const std::string& LargeContent()
{
    static const std::string content = Content(kLarge, 1);
    return content;
}

const fs::path& LargeArchive()
{
    static const fs::path file = [] {
        fs::path p = Folder() / "large.vfs";
        VORTALEX::ArchiveWriter writer(p);
        writer.Add(L"textures\\terrain.dds", LargeContent().data(), LargeContent().size());
        writer.Finish();
        return p;
    }();
    return file;
}

std::wstring ManyName(int i)
{
    static const wchar_t* const folders[] = {L"Meshes\\", L"Textures\\Ground\\", L"Scripts\\",
                                             L"Modules\\Level", L"Fonts\\"};
    return std::wstring(folders[i % 5]) + L"Object_" + std::to_wstring(i * 7919 % 100003) + L".dat";
}

const fs::path& ManyArchive()
{
    static const fs::path file = [] {
        fs::path p = Folder() / "many.vfs";
        VORTALEX::ArchiveWriter writer(p);
        const std::string small = Content(300, 2);
        for (int i = 0; i < kManyEntries; ++i)
            writer.Add(ManyName(i), small.data(), small.size());
        writer.Finish();
        return p;
    }();
    return file;
}

void BM_SnappyUncompress(benchmark::State& state)
{
    VORTALEX::compression::SpecialCompression c;
    const std::string& source = LargeContent();
    std::vector<char> packed(c->GetMaxCompressedLength(source.size()));
    std::size_t length = packed.size();
    c->Compress(source.data(), source.size(), packed.data(), &length);
    std::vector<char> out(source.size());
    for (auto _ : state) {
        std::size_t produced = out.size();
        c->Uncompress(packed.data(), length, out.data(), &produced);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * source.size()));
    state.counters["ratio"] = static_cast<double>(length) / static_cast<double>(source.size());
}
BENCHMARK(BM_SnappyUncompress)->Unit(benchmark::kMillisecond);

void BM_SnappyCompress(benchmark::State& state)
{
    VORTALEX::compression::SpecialCompression c;
    const std::string& source = LargeContent();
    std::vector<char> packed(c->GetMaxCompressedLength(source.size()));
    for (auto _ : state) {
        std::size_t length = packed.size();
        c->Compress(source.data(), source.size(), packed.data(), &length);
        benchmark::DoNotOptimize(packed.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * source.size()));
}
BENCHMARK(BM_SnappyCompress)->Unit(benchmark::kMillisecond);

void BM_RC4Decryption(benchmark::State& state)
{
    VORTALEX::encryption::SpecialCrypto crypto;
    crypto->SetKey("quillmar");
    std::string data = LargeContent();
    for (auto _ : state) {
        crypto->Decryption(data.data(), data.size());
        benchmark::DoNotOptimize(data.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_RC4Decryption)->Unit(benchmark::kMillisecond);

// Seek, read, decipher and decompress one 16 MiB entry, as the engine reads a large texture.
void BM_VfsReadLargeEntry(benchmark::State& state)
{
    VORTALEX::VirtualFileSystem vfs;
    vfs.SetPassPhrase("quillmar");
    vfs.OpenFile(LargeArchive());
    std::vector<char> out(kLarge);
    for (auto _ : state) {
        const auto* record = vfs.Find(L"Textures\\Terrain.DDS");
        vfs.ReadData(out.data(), record->unpackedSize);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kLarge));
}
BENCHMARK(BM_VfsReadLargeEntry)->Unit(benchmark::kMillisecond);

// The same through the file manager, whose buffer is reused between calls.
void BM_FileManagerGetDataFile(benchmark::State& state)
{
    VORTALEX::OverrideProgramFolder(VORTALEX::PathToWide(Folder()));
    LargeArchive();
    VORTALEX::FileManager manager;
    manager.AddStorage(L"large.vfs");
    for (auto _ : state) {
        unsigned int size = 0;
        benchmark::DoNotOptimize(manager.GetDataFile(L"textures\\terrain.dds", &size));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kLarge));
    VORTALEX::OverrideProgramFolder(L"");
}
BENCHMARK(BM_FileManagerGetDataFile)->Unit(benchmark::kMillisecond);

void BM_OpenArchive10000(benchmark::State& state)
{
    ManyArchive();
    VORTALEX::VirtualFileSystem vfs;
    vfs.SetPassPhrase("quillmar");
    for (auto _ : state) {
        vfs.OpenFile(ManyArchive());
        benchmark::DoNotOptimize(vfs.GetRecordCount());
    }
    state.SetItemsProcessed(state.iterations() * kManyEntries);
}
BENCHMARK(BM_OpenArchive10000)->Unit(benchmark::kMillisecond);

void BM_Find10000(benchmark::State& state)
{
    VORTALEX::VirtualFileSystem vfs;
    vfs.SetPassPhrase("quillmar");
    vfs.OpenFile(ManyArchive());
    std::vector<std::wstring> names;
    std::mt19937 random(3);
    for (int i = 0; i < 1024; ++i) {
        std::wstring name = ManyName(static_cast<int>(random() % kManyEntries));
        if (i % 4 == 3)
            name += L"x";  // a quarter of the lookups miss
        names.push_back(std::move(name));
    }
    std::size_t i = 0, found = 0;
    for (auto _ : state) {
        found += vfs.Find(names[i++ & 1023]) != nullptr;
    }
    benchmark::DoNotOptimize(found);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Find10000);

}  // namespace

BENCHMARK_MAIN();
