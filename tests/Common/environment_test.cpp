#include <gtest/gtest.h>

#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <cwctype>
#include <filesystem>
#include <string>

#include "Common/CodePage.h"
#include "Common/Environment.h"
#include "Common/FilePath.h"
#include "Common/MessageBox.h"
#include "Common/ScratchFolder.h"

namespace fs = std::filesystem;

namespace {

class EnvVar {
public:
    EnvVar(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            had_ = true;
            old_ = old;
        }
        if (value) ::setenv(name, value, 1); else ::unsetenv(name);
    }
    ~EnvVar() {
        if (had_) ::setenv(name_, old_.c_str(), 1); else ::unsetenv(name_);
    }

private:
    const char* name_;
    bool had_ = false;
    std::string old_;
};

}  // namespace

TEST(Environment, LanguageNameFromTheEnvironment) {
    EnvVar all("LC_ALL", nullptr);
    {
        EnvVar lang("LANG", "ru_RU.UTF-8");
        EXPECT_STREQ(VORTALEX::LanguageWindows().GetText(), L"Russian");
        EXPECT_EQ(_VORTALEX::C_LanguageWindows().GetText(), L"Russian");
    }
    {
        EnvVar lang("LANG", "en_GB.UTF-8");
        EXPECT_STREQ(VORTALEX::LanguageWindows().GetText(), L"English");
    }
    {
        EnvVar lang("LANG", "C");
        EXPECT_STREQ(VORTALEX::LanguageWindows().GetText(), L"English");
    }
    {
        EnvVar lang("LANG", "de_DE.UTF-8");
        EnvVar over("LC_ALL", "ru_RU.KOI8-R");
        EXPECT_STREQ(VORTALEX::LanguageWindows().GetText(), L"Russian");
    }
    {
        EnvVar lang("LANG", "xx_YY");
        EXPECT_STREQ(VORTALEX::LanguageWindows().GetText(), L"Error");
    }
}

TEST(Environment, ProgramFolderIsTheExecutablesFolderAndCyrillicCaseWorks) {
    EnvVar all("LC_ALL", nullptr);
    EnvVar lang("LANG", "ru_RU.UTF-8");  // no such locale need be installed
    std::setlocale(LC_CTYPE, "C");
    VORTALEX::PathToProgram folder;
    const fs::path self = fs::read_symlink("/proc/self/exe");
    EXPECT_EQ(fs::path(VORTALEX::PathToWide(self.parent_path())), fs::path(folder.str()));
    EXPECT_EQ(folder.str().back() == L'/', false);
    // LC_CTYPE is now a UTF-8 locale, so wide case mapping covers Cyrillic.
    EXPECT_EQ(static_cast<wchar_t>(std::towlower(L'Ж')), L'ж');
    EXPECT_EQ(static_cast<wchar_t>(std::towupper(L'ё')), L'Ё');
    EXPECT_EQ(_VORTALEX::C_PathToProgram().GetText(), folder.str());
}

TEST(Environment, OverriddenProgramFolder) {
    VORTALEX::OverrideProgramFolder(L"/tmp/программа");
    EXPECT_EQ(VORTALEX::PathToProgram().str(), L"/tmp/программа");
    EXPECT_EQ(_VORTALEX::C_PathToProgram().GetText(), L"/tmp/программа");
    VORTALEX::OverrideProgramFolder(L"");
    EXPECT_NE(VORTALEX::PathToProgram().str(), L"/tmp/программа");
}

TEST(Environment, LongModulePathIsReadCompletelyAfterTheBufferGrows) {
    ScratchFolder dir;
    const std::string target = "/" + std::string(700, 'd') + "/Tarnwick";
    const fs::path link = dir / "exe";
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    std::string read;
    ASSERT_TRUE(VORTALEX::detail::ReadLinkGrowing(link.c_str(), read));
    EXPECT_EQ(read, target);
    const std::string exact(260, 'e');
    ASSERT_EQ(::symlink(exact.c_str(), (dir / "exact").c_str()), 0);
    ASSERT_TRUE(VORTALEX::detail::ReadLinkGrowing((dir / "exact").c_str(), read));
    EXPECT_EQ(read, exact);
    EXPECT_FALSE(VORTALEX::detail::ReadLinkGrowing((dir / "missing").c_str(), read));
}

TEST(Environment, NarrowCopyFollowsTheLocaleCodePage) {
    ASSERT_TRUE(VORTALEX::SetCharacterLocale(L"Russian"));
    const VORTALEX::CStringToLPCSTR narrow(L"Путь/файл.txt");
    EXPECT_STREQ(narrow.GetText(), VORTALEX::codepage::ToUtf8(L"Путь/файл.txt").c_str());
    EXPECT_STREQ(static_cast<const char*>(_VORTALEX::C_CStringToLPCSTR(L"abc")), "abc");
    // In the plain C locale a non-ASCII character can't be represented: the copy is empty.
    std::setlocale(LC_CTYPE, "C");
    EXPECT_STREQ(VORTALEX::CStringToLPCSTR(L"abcЖ").GetText(), "");
    EXPECT_STREQ(VORTALEX::CStringToLPCSTR(L"abc").GetText(), "abc");
    VORTALEX::SetCharacterLocale(L"Russian");
}

namespace {
std::wstring g_boxText, g_boxCaption;
void RecordBox(std::wstring_view text, std::wstring_view caption) {
    g_boxText = text;
    g_boxCaption = caption;
}
}  // namespace

TEST(Environment, MessageBoxHandlerCanBeReplaced) {
    auto previous = VORTALEX::SetMessageBoxHandler(&RecordBox);
    VORTALEX::ShowMessageBox(L"Текст", L"Заголовок");
    EXPECT_EQ(g_boxText, L"Текст");
    EXPECT_EQ(g_boxCaption, L"Заголовок");
    VORTALEX::SetMessageBoxHandler(previous);
    EXPECT_EQ(VORTALEX::SetMessageBoxHandler(nullptr), previous);
}
