// Seeded random damage to a text.ini: whatever the bytes, the table read in
// one merge is the table that adding the lines one by one gives (sorted,
// case-sensitive, first definition kept), and every storage it names is
// handed on in order. TW_FUZZ_ITERATIONS and TW_FUZZ_SEED run it longer or
// otherwise (see README).

#include "engine_support/ObjectTestClasses.h"

#include <random>
#include <string>

#include "Common/CodePage.h"
#include "Common/Fuzz.h"
#include "Render/Resources/D3DXSTRING.h"

using C_AllStrings = C_D3DXSTRING::C_AllStrings;

TEST(TextTableFuzz, DamagedFilesGiveTheTableOfLineByLineAdding)
{
    logger::Logger::Activate(logger::AllReports);
    const std::string seed = ScratchFolder::Read(std::filesystem::path(TW_SOURCE_DIR) / "demo/text.ini") +
                             "Storage0 = a.vfs\nStorage1 = b.vfs\nStorage3 = d.vfs\nKey = a = b\n"
                             "  spaced  =  value  \n;comment = no\nFolderMesh = second\n";
    const std::vector<std::string> tokens = {"=", "\n", "\r", ";", "Storage2 = c.vfs\n", "FolderMesh", " = "};
    ScratchFolder dir;
    std::mt19937 random(tw_fuzz::Seed(20240722));
    for (int round = 0, n = tw_fuzz::Iterations(300); round < n; ++round) {
        std::string text = seed;
        for (int m = 1 + int(random() % 4); m > 0; --m) tw_fuzz::Mutate(text, random, tokens);
        ScratchFolder::Write(dir / "text.ini", text);
        C_AllStrings table;
        std::vector<std::wstring> mounted;
        table.LoadTextIni(VORTALEX::PathToWide(dir.path()),
                          [&mounted](const std::wstring& storage) { mounted.push_back(storage); });

        // The same file, line by line, as the table reads it.
        C_AllStrings reference;
        const std::wstring wide = VORTALEX::codepage::DecodeText(text);
        std::size_t position = 0;
        while (position < wide.size()) {
            std::size_t end = wide.find(L'\n', position);
            if (end == std::wstring::npos) end = wide.size();
            std::wstring line = wide.substr(position, end - position);
            position = end + 1;
            if (!line.empty() && line.back() == L'\r') line.pop_back();
            if (!line.empty() && line.front() != L';') reference.AddLine(line);
        }
        ASSERT_EQ(table.size(), reference.size()) << "round " << round;
        for (std::size_t i = 0; i < table.size(); ++i) {
            ASSERT_EQ(table[i]->Descriptor, reference[i]->Descriptor) << "round " << round;
            ASSERT_EQ(table[i]->String, reference[i]->String) << "round " << round;
        }
        std::vector<std::wstring> expected;
        for (int i = 0; !reference.Lookup(L"Storage" + std::to_wstring(i)).empty(); ++i)
            expected.push_back(reference.Lookup(L"Storage" + std::to_wstring(i)));
        ASSERT_EQ(mounted, expected) << "round " << round;
    }
}
