// The editor's two XML files: what they read, what they write, and what a
// broken, hostile or unwritable file does.

#include <sys/resource.h>

#include <climits>
#include <csignal>

#include "SettingsEditor/EditorTest.h"
#include "SettingsEditor/XMLFiles.h"
#include "Wrappers/XMLParser/XMLSettings.h"

using editor_test::Boxes;
using editor_test::Cp1251;
using editor_test::EditorFixture;

namespace {

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
bool Contains(const std::wstring& text, const std::wstring& part) { return text.find(part) != std::wstring::npos; }

// Files in the folder whose name starts with `start`.
std::vector<std::string> FilesStartingWith(const std::filesystem::path& folder, const std::string& start)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(start, 0) == 0) names.push_back(name);
    }
    return names;
}

}  // namespace

using XMLFilesTest = EditorFixture;

TEST_F(XMLFilesTest, SettingsAreWrittenInWindows1251AndReadBackByTheEngine)
{
    {
        C_XMLSettings settings;
        settings.SetSection(L"Video");
        settings.SetParameter(L"BackBufferWidth", 1024);
        settings.SetParameter(L"BackBufferWidth", 1280);   // the same entity again
        settings.SetSection(L"Другое");
        settings.SetParameter(L"Имя", L"Значение & <знак>");
        EXPECT_EQ(settings.GetParameter(L"Имя"), L"Значение & <знак>");
    }
    const std::string bytes = ScratchFolder::Read(Settings());
    EXPECT_EQ(bytes.rfind("<?xml version=\"1.0\" encoding=\"windows-1251\" ?>", 0), 0u) << bytes;
    EXPECT_TRUE(Contains(bytes, Cp1251(L"Значение &amp; &lt;знак&gt;"))) << bytes;
    EXPECT_EQ(FilesStartingWith(program, "settings.xml").size(), 1u) << "no temporary file is left";

    // The engine's settings reader sees the same sections and values.
    VORTALEX::XMLSettings engine(L"Video", VORTALEX::PathToWide(Settings()).c_str());
    EXPECT_EQ(engine.GetParameterInt(L"BackBufferWidth"), 1280);
    engine.SetSection(L"Другое");
    EXPECT_EQ(engine.GetParameter(L"Имя"), L"Значение & <знак>");

    C_XMLSettings again;
    again.KeepFileUnchanged();
    again.SetSection(L"Video");
    EXPECT_EQ(again.GetParameterInt(L"BackBufferWidth"), 1280);
    again.SetSection(L"video");
    EXPECT_EQ(again.GetParameter(L"BackBufferWidth"), L"") << "section names are case-sensitive";
}

TEST_F(XMLFilesTest, NumbersAreReadAsWtoiReadsThem)
{
    WriteVideo(Entry("A", "abc") + Entry("B", "-1") + Entry("C", "99999999999") + Entry("D", "-99999999999") +
               Entry("E", "  42x") + Entry("F", "+7") + Entry("G", ""));
    C_XMLSettings settings;
    settings.KeepFileUnchanged();
    settings.SetSection(L"Video");
    EXPECT_EQ(settings.GetParameterInt(L"A"), 0);
    EXPECT_EQ(settings.GetParameterInt(L"B"), -1);
    EXPECT_EQ(settings.GetParameterInt(L"C"), INT_MAX);
    EXPECT_EQ(settings.GetParameterInt(L"D"), INT_MIN);
    EXPECT_EQ(settings.GetParameterInt(L"E"), 42);
    EXPECT_EQ(settings.GetParameterInt(L"F"), 7);
    EXPECT_EQ(settings.GetParameterInt(L"G"), 0);
    EXPECT_EQ(settings.GetParameter(L"Missing"), L"");
    EXPECT_EQ(settings.GetParameterInt(L"Missing"), 0);
    EXPECT_TRUE(settings.TakeNotes().empty());
}

TEST_F(XMLFilesTest, AFileDeclaredUtf8IsRewrittenAsWindows1251)
{
    ScratchFolder::Write(Settings(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<entity name=\"Logger\">" +
                                         Entry("Folder", "журнал") + "</entity>\n");
    {
        C_XMLSettings settings;
        settings.SetSection(L"Logger");
        EXPECT_EQ(settings.GetParameter(L"Folder"), L"журнал");
    }
    const std::string bytes = ScratchFolder::Read(Settings());
    EXPECT_TRUE(Contains(bytes, "encoding=\"windows-1251\""));
    EXPECT_FALSE(Contains(bytes, "UTF-8"));
    EXPECT_TRUE(Contains(bytes, Cp1251(L"журнал")));
}

// Whatever cannot be read starts the file afresh with a note for the log,
// and the unreadable file is kept beside the new one instead of being lost.
TEST_F(XMLFilesTest, BrokenFilesStartEmptyWithANoteAndAreKept)
{
    std::string deep;
    for (int i = 0; i < 100000; ++i) deep += "<entity>";
    struct Case {
        const char* what;
        std::string bytes;
        const wchar_t* note;   // null: no note and nothing kept
    };
    const Case cases[] = {
        {"not XML", "just some words, no markup at all", L"не разобран"},
        {"cut short", "<?xml version=\"1.0\"?>\n<entity name=\"Video\">\n<entity name=\"Adapter\" value=\"0\"", L"не разобран"},
        {"100,000 nested elements", deep, L"вложены глубже 1000 уровней (строка 1)"},
        {"binary", std::string("\x01\xff<<\x00\x02", 6), L"не разобран"},
        {"empty", "", nullptr},
        {"only blanks", " \r\n\t\n", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(program / "settings.xml.broken");
        ScratchFolder::Write(Settings(), c.bytes);
        std::wstring notes;
        {
            C_XMLSettings settings;
            settings.SetSection(L"Video");
            EXPECT_EQ(settings.GetParameter(L"Adapter"), L"");
            notes = settings.TakeNotes();
            settings.SetParameter(L"Adapter", 0);
        }
        C_XMLSettings after;
        after.KeepFileUnchanged();
        after.SetSection(L"Video");
        EXPECT_EQ(after.GetParameter(L"Adapter"), L"0") << "the new file is whole";
        if (c.note) {
            EXPECT_TRUE(Contains(notes, c.note)) << editor_test::Utf8(notes);
            EXPECT_TRUE(Contains(notes, L"settings.xml.broken"));
            EXPECT_EQ(ScratchFolder::Read(program / "settings.xml.broken"), c.bytes);
        } else {
            EXPECT_EQ(notes, L"");
            EXPECT_FALSE(std::filesystem::exists(program / "settings.xml.broken"));
        }
    }
    EXPECT_TRUE(Boxes().empty());
}

// A write that fails part-way (here the file-size limit stands in for a
// full disk) leaves the previous file as it was and says why in a message
// box; nothing half-written is left behind.
TEST_F(XMLFilesTest, AFailedSaveKeepsThePreviousFile)
{
    const std::string previous = "<?xml version=\"1.0\"?>\n<entity name=\"Video\">" + Entry("Adapter", "0") +
                                 Entry("BackBufferWidth", "1024") + "</entity>\n";
    ScratchFolder::Write(Settings(), previous);
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    const auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
    {
        C_XMLSettings settings;
        settings.SetSection(L"Video");
        settings.SetParameter(L"BackBufferWidth", 1920);
        rlimit small = old;
        small.rlim_cur = 64;
        ::setrlimit(RLIMIT_FSIZE, &small);
        EXPECT_FALSE(settings.Save());
        EXPECT_TRUE(Contains(settings.TakeNotes(), L"Файл settings.xml не записан"));
        // The destructor tries once more and shows why it could not.
    }
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldSignal);
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_TRUE(Contains(Boxes()[0], L"Файл settings.xml не записан"));
    EXPECT_EQ(ScratchFolder::Read(Settings()), previous);
    EXPECT_EQ(FilesStartingWith(program, "settings.xml"), std::vector<std::string>{"settings.xml"});
}

// A save killed between writing and renaming leaves "<name>.tmp<process>";
// the next start removes those of processes that no longer run and nothing
// else, and a save never writes through whatever lies at its own temporary
// name.
TEST_F(XMLFilesTest, TemporariesOfKilledSavesGoAndLinksAtTheTemporaryNameAreNotFollowed)
{
    // Process numbers above the kernel's limit never run; this process runs.
    const std::string mine = "settings.xml.tmp" + std::to_string(::getpid());
    for (const std::string name : {"settings.xml.tmp99999998", "settings.xml.tmp", "settings.xml.tmp12a",
                                   "other.xml.tmp99999998"})
        ScratchFolder::Write(program / name, "partial");
    ScratchFolder::Write(program / "modules" / "DefaultRenderState.xml.tmp99999997", "partial");
    const std::filesystem::path victim = dir.path() / "victim.txt";
    ScratchFolder::Write(victim, "untouched");
    std::filesystem::create_symlink(victim, program / mine);
    {
        C_XMLSettings settings;
        EXPECT_FALSE(std::filesystem::exists(program / "settings.xml.tmp99999998"));
        EXPECT_TRUE(std::filesystem::is_symlink(program / mine)) << "this process still runs";
        EXPECT_TRUE(std::filesystem::exists(program / "settings.xml.tmp"));
        EXPECT_TRUE(std::filesystem::exists(program / "settings.xml.tmp12a"));
        EXPECT_TRUE(std::filesystem::exists(program / "other.xml.tmp99999998"));
        settings.SetSection(L"Video");
        settings.SetParameter(L"Adapter", 0);
        EXPECT_TRUE(settings.Save()) << settings.TakeNotes();
    }
    EXPECT_EQ(ScratchFolder::Read(victim), "untouched");
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(program / mine)));
    EXPECT_TRUE(Contains(ScratchFolder::Read(Settings()), "Adapter"));
    {
        C_XMLState states;
        states.KeepFileUnchanged();
    }
    EXPECT_FALSE(std::filesystem::exists(program / "modules" / "DefaultRenderState.xml.tmp99999997"));
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(XMLFilesTest, AFolderInPlaceOfTheFileIsReportedAndLeftAlone)
{
    std::filesystem::create_directories(Settings() / "inside");
    {
        C_XMLSettings settings;
        EXPECT_TRUE(Contains(settings.TakeNotes(), L"на его месте папка"));
        settings.SetSection(L"Video");
        settings.SetParameter(L"Adapter", 0);
    }
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_TRUE(Contains(Boxes()[0], L"не записан"));
    EXPECT_TRUE(std::filesystem::is_directory(Settings() / "inside"));
}

TEST_F(XMLFilesTest, AReadOnlyProgramFolderIsNamedAtOnce)
{
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
    std::filesystem::permissions(program, std::filesystem::perms::owner_write, std::filesystem::perm_options::remove);
    {
        C_XMLSettings settings;
        EXPECT_TRUE(Contains(settings.TakeNotes(), L"закрыта для записи"));
    }
    std::filesystem::permissions(program, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
    EXPECT_EQ(Boxes().size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(Settings()));
}

TEST_F(XMLFilesTest, StatesAreTopLevelEntitiesReadByField)
{
    std::filesystem::remove_all(program / "modules");
    {
        C_XMLState states;
        states.SetState(L"RenderState1", L"C_RenderState", L"D3DRS_FILLMODE; D3DFILL_SOLID;");
        states.SetState(L"RenderState2", L"C_RenderState", L"  D3DRS_ZENABLE ;\tD3DZB_TRUE  ; extra");
        states.SetState(L"RenderState1", L"C_RenderState", L"D3DRS_FILLMODE; D3DFILL_WIREFRAME;");
        EXPECT_EQ(states.GetState(L"RenderState1", 2), L"D3DFILL_WIREFRAME");
        EXPECT_EQ(states.GetState(L"RenderState2", 1), L"D3DRS_ZENABLE");
        EXPECT_EQ(states.GetState(L"RenderState2", 2), L"D3DZB_TRUE");
        EXPECT_EQ(states.GetState(L"RenderState2", 3), L"extra");
        EXPECT_EQ(states.GetState(L"RenderState2", 4), L"");
        EXPECT_EQ(states.GetState(L"RenderState2", 0), L"");
        EXPECT_EQ(states.GetState(L"RenderState9", 1), L"");
        EXPECT_EQ(states.GetStateClass(L"RenderState1"), L"C_RenderState");
    }
    // The modules folder of a fresh program folder is made for the file.
    const std::string bytes = ScratchFolder::Read(States());
    EXPECT_EQ(bytes,
              "<?xml version=\"1.0\" encoding=\"windows-1251\" ?>\n"
              "<entity name=\"RenderState1\" class=\"C_RenderState\" value=\"D3DRS_FILLMODE; D3DFILL_WIREFRAME;\" />\n"
              "<entity name=\"RenderState2\" class=\"C_RenderState\" value=\"  D3DRS_ZENABLE ;&#x09;D3DZB_TRUE  ; "
              "extra\" />\n");
}
