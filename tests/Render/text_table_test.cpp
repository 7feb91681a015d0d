#define TW_OBJECT_TEST_CLASSES_IMPLEMENTATION
#include "engine_support/ObjectTestClasses.h"

#include <cstdio>
#include <cwchar>
#include <map>

#include "Common/CodePage.h"
#include "Render/Resources/D3DXSTRING.h"
#include "VirtualFileSystem/ArchiveWriter.h"

using C_AllStrings = C_D3DXSTRING::C_AllStrings;

class TextTableTest : public ObjectModelTest {
protected:
    // A fresh table read from a text.ini with these bytes.
    void Load(C_AllStrings& table, const std::string& bytes)
    {
        ScratchFolder::Write(folder / "text.ini", bytes);
        table.LoadTextIni(VORTALEX::PathToWide(folder.path()),
                          [this](const std::wstring& storage) { mounted.push_back(storage); });
    }
    ScratchFolder folder;
    std::vector<std::wstring> mounted;
};

TEST_F(TextTableTest, KeysAndValuesAreSplitAtTheFirstEqualsSign)
{
    C_AllStrings table;
    Load(table, "Key=Value\nSpaced =  Value\r\nEq = a = b\nTabs\t=\tx;y;\n Lead=1\nEmpty=\n");
    EXPECT_EQ(table.Lookup(L"Key"), L"Value");
    EXPECT_EQ(table.Lookup(L"Spaced"), L"Value");
    EXPECT_EQ(table.Lookup(L"Eq"), L"a = b");
    EXPECT_EQ(table.Lookup(L"Tabs"), L"x;y;");   // tabs are removed before splitting
    EXPECT_EQ(table.Lookup(L" Lead"), L"1");     // only trailing blanks leave the key
    EXPECT_EQ(table.Lookup(L"Empty"), L"");
    EXPECT_EQ(table.Lookup(L"Missing"), L"");
    EXPECT_TRUE(std::is_sorted(table.begin(), table.end(),
                               [](auto* a, auto* b) { return a->Descriptor < b->Descriptor; }));
}

TEST_F(TextTableTest, CommentsAndEmptyLinesAreSkippedButABlankBeforeASemicolonIsNoComment)
{
    C_AllStrings table;
    Load(table, "; a comment = not an entry\n\n\r\n ;not a comment\nA=1\n");
    EXPECT_EQ(table.Lookup(L"; a comment"), L"");
    EXPECT_TRUE(Logged(L"Нет знака равенства в строке:  ;not a comment"));
    EXPECT_EQ(CountLogged(L"Нет знака равенства"), 1u);
    EXPECT_EQ(table.Lookup(L"A"), L"1");
    // The line without '=' left an entry with an empty descriptor, once.
    EXPECT_EQ(table.size(), 2u);
}

TEST_F(TextTableTest, TheFirstDefinitionWinsAndKeysAreCaseSensitive)
{
    C_AllStrings table;
    Load(table, "FolderMesh = meshes\nFolderMesh = other\n");
    EXPECT_EQ(table.Lookup(L"FolderMesh"), L"meshes");
    EXPECT_EQ(table.Lookup(L"foldermesh"), L"");
    table.AddLine(L"FolderMesh = third");
    EXPECT_EQ(table.Lookup(L"FolderMesh"), L"meshes");
    EXPECT_EQ(table.size(), 1u);
}

TEST_F(TextTableTest, StoragesAreMountedInOrderUpToTheFirstMissingNumber)
{
    C_AllStrings table;
    Load(table, "Storage2 = third.vfs\nStorage0 = first.vfs\n");
    EXPECT_EQ(mounted, (std::vector<std::wstring>{L"first.vfs"}));
    C_AllStrings more;
    mounted.clear();
    Load(more, "Storage0=a\nStorage1=b\nStorage2=c\n");
    EXPECT_EQ(mounted, (std::vector<std::wstring>{L"a", L"b", L"c"}));
}

TEST_F(TextTableTest, AMissingFileWarnsAndLeavesTheTableEmpty)
{
    C_AllStrings table;
    table.LoadTextIni(VORTALEX::PathToWide(folder.path()), nullptr);
    EXPECT_TRUE(Logged(L"Файл text.ini не найден."));
    EXPECT_TRUE(table.empty());
}

TEST_F(TextTableTest, LongLinesAndBinaryJunkLoadWhatIsValid)
{
    std::string bytes = "Before = 1\n";
    bytes += "Long = " + std::string(3 << 20, 'x') + "\n";            // one line of megabytes
    bytes += std::string(200000, '\x01') + "\n";                        // junk without '='
    bytes += std::string("\x00\xff\xfe=\x80\n", 6);
    bytes += "Exact79 = " + std::string(69, 'y') + "\n";               // a line that fills a piece exactly
    bytes += "After = 2";                                               // no newline at the end
    C_AllStrings table;
    Load(table, bytes);
    EXPECT_EQ(table.Lookup(L"Before"), L"1");
    EXPECT_EQ(table.Lookup(L"Long").size(), std::size_t(3 << 20));
    EXPECT_EQ(table.Lookup(L"Exact79"), std::wstring(69, L'y'));
    EXPECT_EQ(table.Lookup(L"After"), L"2");
    EXPECT_TRUE(Logged(L"Нет знака равенства в строке: "));
    EXPECT_LT(Log().size(), 10000u);   // the junk line is logged shortened
}

TEST_F(TextTableTest, TextIsUtf8WhenValidElseWindows1251)
{
    C_AllStrings utf8;
    Load(utf8, VORTALEX::codepage::ToUtf8(L"Имя = Значение\n"));
    EXPECT_EQ(utf8.Lookup(L"Имя"), L"Значение");
    C_AllStrings cp1251;
    Load(cp1251, VORTALEX::codepage::ToCp1251(L"Имя = Значение\n"));
    EXPECT_EQ(cp1251.Lookup(L"Имя"), L"Значение");
}

TEST_F(TextTableTest, DescriptorAndStringSplitting)
{
    using D = C_D3DXSTRING::C_DescriptorString;
    EXPECT_EQ(D::GetDescriptor(std::wstring(L"Key   = v")), L"Key");
    EXPECT_EQ(D::GetString(std::wstring(L"Key =   v = w ")), L"v = w ");
    EXPECT_EQ(D::GetDescriptor(std::wstring(L"= v")), L"");
    EXPECT_EQ(D::GetDescriptor(std::wstring(L"no equals")), L"");
    EXPECT_EQ(D::GetString(std::wstring(L"no equals")), L"");
    EXPECT_EQ(D::GetString(std::wstring(L"k=")), L"");
}

TEST_F(TextTableTest, StringResourcesCacheTheirTextUntilUnloaded)
{
    auto& table = C_AllStrings::Instance();
    table.AddLine(L"CachedKey = first");
    auto* text = static_cast<C_D3DXSTRING*>(Managers().AddResource(L"C_D3DXSTRING", L"CachedKey", L"CachedKey"));
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->ResourceLevel, 0);
    EXPECT_EQ(text->GetText(), L"first");
    EXPECT_EQ(Managers().GetText(L"CachedKey"), L"first");
    EXPECT_EQ(Managers().GetManager(L"C_D3DXSTRING")->size(), 1u);   // one resource per descriptor

    auto* later = static_cast<C_D3DXSTRING*>(Managers().AddResource(L"C_D3DXSTRING", L"LaterKey", L""));
    EXPECT_EQ(later->GetText(), L"");
    table.AddLine(L"LaterKey = now");
    EXPECT_EQ(later->GetText(), L"now");   // an empty cache looks again
    // An empty key names nothing and makes no object.
    EXPECT_EQ(Managers().GetText(L""), L"");
    EXPECT_EQ(Managers().GetManager(L"C_D3DXSTRING")->size(), 2u);
    text->Unload();
    EXPECT_EQ(text->Name, L"");
}

TEST_F(TextTableTest, StoragesNamedInTheTableServeModuleFiles)
{
    const std::string xml = "<root name='Packed' class='C_BaseModule'><o name='inside' class='TestObject'/></root>";
    {
        VORTALEX::ArchiveWriter writer(dir / "pack.vfs");
        writer.Add(L"modules\\packed.xml", xml.data(), xml.size());
        writer.Finish();
    }
    C_AllStrings table;
    ScratchFolder::Write(folder / "text.ini", "Storage0 = pack.vfs\nStorage1 = missing.vfs\n");
    table.LoadTextIni(VORTALEX::PathToWide(folder.path()), &C_AllStrings::MountStorage);

    auto* module = static_cast<C_BaseModule*>(Managers().AddResource(L"C_BaseModule", L"top", L""));
    *module << std::wstring(L"modules\\packed.xml");
    while (Managers().Load(nullptr)) {}
    EXPECT_NE(Managers().GetResource(L"inside", L"TestObject", false), nullptr);
}

TEST_F(TextTableTest, ALargeFileKeepsTheRulesOfLineByLineAdding)
{
    // Keys in no order, repeated at random places, some of them already in
    // the table before the file is read: the table is sorted, case-sensitive
    // and keeps the first definition of every key.
    C_AllStrings table;
    table.AddLine(L"Key00007 = before the file");
    std::string bytes;
    std::map<std::wstring, std::wstring> first{{L"Key00007", L"before the file"}};
    unsigned seed = 12345;
    for (int i = 0; i < 20000; ++i) {
        seed = seed * 1103515245u + 12345u;
        const int key = static_cast<int>((seed >> 8) % 5000);
        char line[64];
        std::snprintf(line, sizeof line, "%s%05d = value %d\n", (seed >> 30) ? "Key" : "key", key, i);
        bytes += line;
        wchar_t wide[64];
        std::swprintf(wide, 64, L"%ls%05d", (seed >> 30) ? L"Key" : L"key", key);
        first.emplace(wide, L"value " + std::to_wstring(i));
    }
    Load(table, bytes);
    ASSERT_EQ(table.size(), first.size());
    EXPECT_TRUE(std::is_sorted(table.begin(), table.end(),
                               [](auto* a, auto* b) { return a->Descriptor < b->Descriptor; }));
    for (const auto& [key, value] : first) EXPECT_EQ(table.Lookup(key), value) << std::string(key.begin(), key.end());
}

TEST_F(TextTableTest, LinesGatheredInABatchJoinAtItsEndOrAtTheNextLookup)
{
    C_AllStrings table;
    table.AddLine(L"B = old");
    {
        const C_AllStrings::C_Batch batch(table);
        table.AddLine(L"C = 1");
        table.AddLine(L"B = new");
        table.AddLine(L"A = 1");
        {
            const C_AllStrings::C_Batch inner(table);
            table.AddLine(L"A = 2");
        }
        EXPECT_EQ(table.size(), 1u) << "nothing joins before the outer batch ends";
        table.AddLine(L"D = 1");
    }
    ASSERT_EQ(table.size(), 4u);
    EXPECT_EQ(table.Lookup(L"A"), L"1");
    EXPECT_EQ(table.Lookup(L"B"), L"old");
    {
        const C_AllStrings::C_Batch batch(table);
        table.AddLine(L"E = 5");
        EXPECT_EQ(table.Lookup(L"E"), L"5") << "a lookup sees what waits";
        table.AddLine(L"E = 6");
    }
    EXPECT_EQ(table.Lookup(L"E"), L"5");
    EXPECT_EQ(table.size(), 5u);
}
