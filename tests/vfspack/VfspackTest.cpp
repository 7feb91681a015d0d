// Runs the built vfspack program on real folders and archives.

#include "VirtualFileSystem/VirtualFileSystem.h"

#include "../VirtualFileSystem/ArchiveBytes.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <sstream>
#include <string>

namespace fs = std::filesystem;
using testing_vfs::ArchiveBytes;
using testing_vfs::ScratchFolder;

namespace {

struct Result {
    int status = -1;
    std::string out, err;
};

std::string Slurp(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Quote(const std::string& text)
{
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out.append("'\\''");
        else
            out.push_back(c);
    }
    out.push_back('\'');
    return out;
}

class VfspackTest : public ::testing::Test {
protected:
    Result Run(const std::vector<std::string>& args)
    {
        std::string command = Quote(std::string(TW_BINARY_DIR) + "/vfspack");
        for (const auto& a : args)
            command.append(" ").append(Quote(a));
        command.append(" >").append(Quote((dir / "stdout").string()));
        command.append(" 2>").append(Quote((dir / "stderr").string()));
        const int raw = std::system(command.c_str());
        Result r;
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.out = Slurp(dir / "stdout");
        r.err = Slurp(dir / "stderr");
        return r;
    }

    static void Write(const fs::path& file, const std::string& bytes)
    {
        ArchiveBytes::WriteFile(file, bytes);
    }

    // Every regular file below root, by relative path, with its bytes.
    static std::map<std::string, std::string> Tree(const fs::path& root)
    {
        std::map<std::string, std::string> files;
        for (const auto& e : fs::recursive_directory_iterator(root))
            if (e.is_regular_file())
                files[e.path().lexically_relative(root).string()] = Slurp(e.path());
        return files;
    }

    ScratchFolder dir{std::string("vfspack_") +
                      ::testing::UnitTest::GetInstance()->current_test_info()->name()};
};

std::string RandomBytes(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string out(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        out[i] = static_cast<char>(i % 1000 < 500 ? random() : random() % 3);
    return out;
}

}  // namespace

TEST_F(VfspackTest, FolderTreeRoundTripsThroughCreateAndExtract)
{
    const fs::path src = dir / "src";
    Write(src / "meshes/box.x", "xof 0303txt 0032\nMesh {}\n");
    Write(src / "meshes/detail/Rock.X", RandomBytes(150000, 1));
    Write(src / "textures/Grass.dds", RandomBytes(1 << 20, 2));
    Write(src / "Скрипты/старт.lua", "print('привет')\n");
    Write(src / "empty.txt", "");
    Write(src / "text.ini", "FolderMesh=meshes\r\n");

    const Result created = Run({"create", (dir / "pack.vfs").string(), "-C", src.string(), "."});
    ASSERT_EQ(created.status, 0) << created.err;
    EXPECT_EQ(created.err, "");

    const Result listed = Run({"list", (dir / "pack.vfs").string()});
    ASSERT_EQ(listed.status, 0) << listed.err;
    std::istringstream lines(listed.out);
    std::string line;
    std::vector<std::string> names;
    for (int order = 0; std::getline(lines, line); ++order) {
        std::istringstream fields(line);
        std::string name, unpacked, stored, index;
        std::getline(fields, name, '\t');
        std::getline(fields, unpacked, '\t');
        std::getline(fields, stored, '\t');
        std::getline(fields, index, '\t');
        EXPECT_EQ(index, std::to_string(order));
        names.push_back(name);
        if (name == "textures\\Grass.dds") {
            EXPECT_EQ(unpacked, std::to_string(1 << 20));
            EXPECT_LT(std::stoul(stored), 1u << 20);
        }
    }
    EXPECT_EQ(names.size(), 6u);
    EXPECT_NE(std::find(names.begin(), names.end(), "meshes\\detail\\Rock.X"), names.end());

    const Result extracted = Run({"extract", (dir / "pack.vfs").string(), "-C", (dir / "out").string()});
    ASSERT_EQ(extracted.status, 0) << extracted.err;
    EXPECT_EQ(Tree(dir / "out"), Tree(src));

    // Only some entries, named in any case.
    const Result some = Run({"extract", (dir / "pack.vfs").string(), "-C", (dir / "some").string(),
                             "MESHES\\BOX.X", "скрипты\\СТАРТ.lua"});
    ASSERT_EQ(some.status, 0) << some.err;
    const auto part = Tree(dir / "some");
    EXPECT_EQ(part.size(), 2u);
    EXPECT_EQ(part.at("meshes/box.x"), Slurp(src / "meshes/box.x"));
}

TEST_F(VfspackTest, CatWritesOneEntryAsTheEngineReadsIt)
{
    const std::string bytes = RandomBytes(70000, 3);
    Write(dir / "in/data/blob.bin", bytes);
    ASSERT_EQ(Run({"create", (dir / "c.vfs").string(), "-C", (dir / "in").string(), "data"}).status, 0);
    const Result cat = Run({"cat", (dir / "c.vfs").string(), "Data\\Blob.BIN"});
    ASSERT_EQ(cat.status, 0) << cat.err;
    EXPECT_EQ(cat.out, bytes);

    // The engine's reader sees the same entry under the same name.
    VORTALEX::VirtualFileSystem vfs;
    vfs.SetPassPhrase("quillmar");
    vfs.OpenFile(dir / "c.vfs");
    const auto* record = vfs.Find(L"data\\blob.bin");
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->unpackedSize, bytes.size());

    const Result missing = Run({"cat", (dir / "c.vfs").string(), "data\\other.bin"});
    EXPECT_NE(missing.status, 0);
    EXPECT_NE(missing.err.find("data\\other.bin: no such entry"), std::string::npos) << missing.err;
}

TEST_F(VfspackTest, ExtractNeverWritesOutsideTheFolder)
{
    ArchiveBytes bytes;
    bytes.Add(L"..\\evil1.txt", "x")
        .Add(L"a\\..\\..\\evil2.txt", "x")
        .Add(L"C:\\evil3.txt", "x")
        .Add(L"../evil4.txt", "x")
        .Add(std::wstring(L"..") + L'\0' + L"x\\evil5.txt", "x")
        .Add(L"\\rooted.txt", "rooted")
        .Add(L"link\\through.txt", "x")
        .Add(L"ok\\fine.txt", "fine");
    bytes.Write(dir / "hostile.vfs");
    fs::create_directories(dir / "out");
    fs::create_directories(dir / "elsewhere");
    fs::create_directory_symlink(dir / "elsewhere", dir / "out/link");

    const Result r = Run({"extract", (dir / "hostile.vfs").string(), "-C", (dir / "out").string()});
    EXPECT_NE(r.status, 0) << "refusals are failures";
    EXPECT_NE(r.err.find("refused"), std::string::npos);
    EXPECT_EQ(Slurp(dir / "out/ok/fine.txt"), "fine") << "safe entries are still written";
    EXPECT_EQ(Slurp(dir / "out/rooted.txt"), "rooted");
    EXPECT_TRUE(fs::is_empty(dir / "elsewhere"));
    for (const auto& e : fs::recursive_directory_iterator(dir.path()))
        EXPECT_EQ(e.path().filename().string().find("evil"), std::string::npos) << e.path();
}

TEST_F(VfspackTest, FailuresExitNonZeroWithAMessage)
{
    Result r = Run({"list", (dir / "missing.vfs").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Error: Opening file"), std::string::npos) << r.err;

    Write(dir / "junk.vfs", "not an archive at all, just some text that is long enough");
    r = Run({"extract", (dir / "junk.vfs").string(), "-C", (dir / "out").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Error: Not valid storage file"), std::string::npos) << r.err;

    r = Run({"frobnicate", "x.vfs"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("usage:"), std::string::npos);
    EXPECT_EQ(Run({"create", (dir / "x.vfs").string()}).status, 2);
    EXPECT_EQ(Run({"cat", (dir / "x.vfs").string()}).status, 2);

    Write(dir / "in/a.txt", "a");
    r = Run({"create", (dir / "x.vfs").string(), "-C", (dir / "in").string(), "nothing.txt"});
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(fs::exists(dir / "x.vfs"));
    r = Run({"create", (dir / "x.vfs").string(), "-C", (dir / "in").string(), "../stdout"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("not inside"), std::string::npos) << r.err;

    // A path whose entry name would exceed 260 characters: no archive is left behind.
    const std::string longDir(120, 'd');
    Write(dir / "in" / longDir / longDir / "file-with-a-long-name.txt", "x");
    r = Run({"create", (dir / "long.vfs").string(), "-C", (dir / "in").string(), "."});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("File name too long"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "long.vfs"));
    for (const auto& e : fs::directory_iterator(dir.path()))
        EXPECT_EQ(e.path().filename().string().find(".part"), std::string::npos) << e.path();
}

TEST_F(VfspackTest, ArchiveInsideThePackedTreeIsNotPackedIntoItself)
{
    Write(dir / "tree/a.txt", "a");
    ASSERT_EQ(Run({"create", (dir / "tree/self.vfs").string(), "-C", (dir / "tree").string(), "."}).status, 0);
    // Packing again over the existing archive must not include the old one.
    const Result again = Run({"create", (dir / "tree/self.vfs").string(), "-C", (dir / "tree").string(), "."});
    ASSERT_EQ(again.status, 0) << again.err;
    const Result listed = Run({"list", (dir / "tree/self.vfs").string()});
    EXPECT_EQ(listed.out, "a.txt\t1\t3\t0\n");
}

TEST_F(VfspackTest, ExtractNeverWritesThroughLinksThatAreInTheWay)
{
    ArchiveBytes()
        .Add(L"hard.txt", "from the archive")
        .Add(L"soft.txt", "from the archive")
        .Add(L"plain.txt", "new")
        .Add(L"fresh.txt", "fresh")
        .Write(dir / "links.vfs");
    fs::create_directories(dir / "out");
    Write(dir / "outside.txt", "must stay");
    Write(dir / "outside2.txt", "must stay too");
    fs::create_hard_link(dir / "outside.txt", dir / "out/hard.txt");
    fs::create_symlink(dir / "outside2.txt", dir / "out/soft.txt");
    Write(dir / "out/plain.txt", "old");

    const Result r = Run({"extract", (dir / "links.vfs").string(), "-C", (dir / "out").string()});
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("hard.txt: refused, a hard link is in the way"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("soft.txt: refused, a symbolic link is in the way"), std::string::npos) << r.err;
    EXPECT_EQ(Slurp(dir / "outside.txt"), "must stay");
    EXPECT_EQ(Slurp(dir / "outside2.txt"), "must stay too");
    EXPECT_TRUE(fs::is_symlink(dir / "out/soft.txt"));
    // A plain file of one name is replaced; other entries go on.
    EXPECT_EQ(Slurp(dir / "out/plain.txt"), "new");
    EXPECT_EQ(Slurp(dir / "out/fresh.txt"), "fresh");
    for (const auto& e : fs::recursive_directory_iterator(dir.path()))
        EXPECT_EQ(e.path().filename().string().find(".part"), std::string::npos) << e.path();
}

TEST_F(VfspackTest, AFullDiskLeavesNoPartOfAFileAndNoTemporaryBehind)
{
    // A file-size limit stands in for a full disk: writes past it fail.
    const std::string big = RandomBytes(300000, 7);
    ArchiveBytes().Add(L"small.txt", "small").Add(L"sub\\big.bin", big).Add(L"z.txt", "after").Write(dir / "big.vfs");
    fs::create_directories(dir / "out/sub");
    Write(dir / "out/sub/big.bin", "the old contents");
    std::string command = "ulimit -f 100; trap '' XFSZ; " + Quote(std::string(TW_BINARY_DIR) + "/vfspack") +
                          " extract " + Quote((dir / "big.vfs").string()) + " -C " + Quote((dir / "out").string()) +
                          " 2>" + Quote((dir / "stderr").string());
    const int raw = std::system(("bash -c " + Quote(command)).c_str());
    ASSERT_TRUE(WIFEXITED(raw));
    EXPECT_NE(WEXITSTATUS(raw), 0) << "a failed write is no success";
    const std::string err = Slurp(dir / "stderr");
    EXPECT_NE(err.find("big.bin: cannot be written"), std::string::npos) << err;
    EXPECT_EQ(Slurp(dir / "out/small.txt"), "small") << "what was written before is complete";
    EXPECT_EQ(Slurp(dir / "out/sub/big.bin"), "the old contents") << "the old file stays whole";
    for (const auto& e : fs::recursive_directory_iterator(dir.path()))
        EXPECT_EQ(e.path().filename().string().find(".part"), std::string::npos) << e.path();

    // Without the limit the same extraction succeeds.
    const Result r = Run({"extract", (dir / "big.vfs").string(), "-C", (dir / "out").string()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Slurp(dir / "out/sub/big.bin"), big);
    EXPECT_EQ(Slurp(dir / "out/z.txt"), "after");
}

TEST_F(VfspackTest, TemporariesOfAKilledRunAreRemovedAtTheNextOne)
{
    Write(dir / "tree/a.txt", "a");
    fs::create_directories(dir / "out");
    // Process numbers above the kernel's limit never run.
    Write(dir / "pack.vfs.part99999997", "half an archive");
    Write(dir / "out/a.txt.part99999997", "half a file");
    Write(dir / "out/a.txt.partly", "not ours");
    ASSERT_EQ(Run({"create", (dir / "pack.vfs").string(), "-C", (dir / "tree").string(), "."}).status, 0);
    EXPECT_FALSE(fs::exists(dir / "pack.vfs.part99999997"));
    ASSERT_EQ(Run({"extract", (dir / "pack.vfs").string(), "-C", (dir / "out").string()}).status, 0);
    EXPECT_FALSE(fs::exists(dir / "out/a.txt.part99999997"));
    EXPECT_TRUE(fs::exists(dir / "out/a.txt.partly"));
    EXPECT_EQ(Slurp(dir / "out/a.txt"), "a");
}
