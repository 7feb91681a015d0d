// The reference pages of the scene author's guide (docs/) against the
// program's own tables, read through the engine's interfaces:
// - the class reference has one entry for every registered class, and the
//   guide names no class that the registry does not hold;
// - the Lua reference documents exactly the functions the engine publishes to
//   its Lua state;
// - the settings page documents every "Video" and "Logger" key;
// - every XML block of the guide is well-formed.
// This program links the engine alone, so its registry is the program's.

#include <gtest/gtest.h>

#include <lua.hpp>
#include <tinyxml.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "BaseClasses/Direct3D9SettingsBase.h"
#include "Common/CodePage.h"
#include "Logger/Logger.h"
#include "ResourceManager/FromFactory.h"
#include "Script/LuaScriptBase.h"
#include "Script/ScriptFunctions.h"

namespace fs = std::filesystem;

namespace {

const fs::path kDocs = fs::path(TW_SOURCE_DIR) / "docs";

std::string Narrow(const std::wstring& text) { return VORTALEX::codepage::ToUtf8(text); }

std::string ReadAll(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::set<std::string> RegisteredClasses()
{
    std::set<std::string> names;
    for (const std::wstring& name : C_FromFactory::RegisteredNames()) names.insert(Narrow(name));
    return names;
}

// Every Markdown page of the guide.
std::vector<fs::path> GuidePages()
{
    std::vector<fs::path> pages;
    for (const auto& entry : fs::recursive_directory_iterator(kDocs))
        if (entry.is_regular_file() && entry.path().extension() == ".md") pages.push_back(entry.path());
    std::sort(pages.begin(), pages.end());
    return pages;
}

// The lines of one section of a page: from the heading that is exactly
// `heading` to the next heading of the same or a higher level.
std::vector<std::string> Section(const std::string& page, const std::string& heading)
{
    auto levelOf = [](const std::string& line) {
        const std::size_t hashes = line.find_first_not_of('#');
        return hashes != std::string::npos && hashes > 0 && line[hashes] == ' ' ? hashes : std::size_t(0);
    };
    const std::size_t level = levelOf(heading);
    std::vector<std::string> lines;
    std::istringstream in(page);
    std::string line;
    bool inside = false;
    while (std::getline(in, line)) {
        if (!inside) {
            inside = line == heading;
            continue;
        }
        const std::size_t other = levelOf(line);
        if (other > 0 && other <= level) break;
        lines.push_back(line);
    }
    return lines;
}

// The names in backticks that open the table rows of a section.
std::vector<std::string> TableKeys(const std::vector<std::string>& lines)
{
    static const std::regex row(R"(^\|\s*`([^`]+)`\s*\|)");
    std::vector<std::string> keys;
    std::smatch match;
    for (const std::string& line : lines)
        if (std::regex_search(line, match, row)) keys.push_back(match[1]);
    return keys;
}

}  // namespace

// ---------------------------------------------------------------------------
// The reference pages against the program's own tables
// ---------------------------------------------------------------------------

TEST(GuideCoverage, TheClassReferenceHasOneEntryForEveryRegisteredClass)
{
    const std::set<std::string> registered = RegisteredClasses();
    ASSERT_GE(registered.size(), 49u);

    const std::string page = ReadAll(kDocs / "classes.md");
    static const std::regex entry(R"(^### `(C_[A-Za-z0-9_]+)`\s*$)");
    std::map<std::string, int> entries;
    std::istringstream in(page);
    std::string line;
    std::smatch match;
    while (std::getline(in, line))
        if (std::regex_match(line, match, entry)) ++entries[match[1]];

    for (const std::string& name : registered) EXPECT_EQ(entries.count(name) ? entries.at(name) : 0, 1) << name << ": entries in classes.md";
    for (const auto& [name, count] : entries)
        EXPECT_TRUE(registered.count(name)) << "classes.md has an entry for " << name << ", which is not registered";
}

TEST(GuideCoverage, TheGuideNamesNoClassThatIsNotRegistered)
{
    const std::set<std::string> registered = RegisteredClasses();

    // A class name followed by "::" is part of a quoted log message (the
    // name of the function that wrote it), not a class to write in a scene.
    static const std::regex word(R"(\bC_[A-Za-z0-9_]*[A-Za-z0-9]\b(?!::))");
    std::vector<fs::path> files = GuidePages();
    for (const auto& entry : fs::recursive_directory_iterator(kDocs / "examples"))
        if (entry.is_regular_file() &&
            (entry.path().extension() == ".xml" || entry.path().extension() == ".ini" ||
             entry.path().extension() == ".lua"))
            files.push_back(entry.path());
    files.push_back(fs::path(TW_SOURCE_DIR) / "README.md");
    ASSERT_GT(files.size(), 10u);
    for (const fs::path& file : files) {
        const std::string text = ReadAll(file);
        for (std::sregex_iterator i(text.begin(), text.end(), word), last; i != last; ++i)
            EXPECT_TRUE(registered.count(i->str())) << fs::relative(file, TW_SOURCE_DIR) << " names " << i->str();
    }
}

TEST(GuideCoverage, TheScriptingPageDocumentsExactlyThePublishedLuaFunctions)
{
    const std::vector<std::string>& published = ScriptFunctions::PublishedNames();
    ASSERT_GE(published.size(), 51u);
    // Each published name is a C function of the interpreter the scripts run in.
    lua_State* L = C_LuaScriptBase::GetState();
    ASSERT_NE(L, nullptr);
    for (const std::string& name : published) {
        lua_getfield(L, LUA_GLOBALSINDEX, name.c_str());
        EXPECT_TRUE(lua_iscfunction(L, -1)) << name << " is not a function of the Lua state";
        lua_pop(L, 1);
    }

    const std::string page = ReadAll(kDocs / "scripting.md");
    static const std::regex entry(R"(^### `([A-Za-z_][A-Za-z0-9_]*)\(([^)]*)\)`)");
    std::map<std::string, int> documented;
    std::istringstream in(page);
    std::string line;
    std::smatch match;
    while (std::getline(in, line))
        if (std::regex_search(line, match, entry)) ++documented[match[1]];

    const std::set<std::string> names(published.begin(), published.end());
    EXPECT_EQ(names.size(), published.size()) << "a name is published twice";
    for (const std::string& name : names) EXPECT_EQ(documented[name], 1) << name << ": entries in scripting.md";
    for (const auto& [name, count] : documented)
        EXPECT_TRUE(names.count(name)) << "scripting.md documents " << name << ", which Lua does not have";
}

TEST(GuideCoverage, TheSettingsPageDocumentsEveryVideoAndLoggerKey)
{
    const std::string page = ReadAll(kDocs / "settings.md");

    std::set<std::string> video;
    for (const wchar_t* key : C_Direct3D9SettingsBase::VideoKeys) video.insert(Narrow(key));
    ASSERT_EQ(video.size(), static_cast<std::size_t>(C_Direct3D9SettingsBase::VideoKeyCount));
    const std::vector<std::string> videoRows = TableKeys(Section(page, "## Video"));
    EXPECT_EQ(std::set<std::string>(videoRows.begin(), videoRows.end()), video);
    EXPECT_EQ(videoRows.size(), video.size()) << "a Video key is listed twice";

    std::set<std::string> logger;
    for (int key = 0; key < logger::OptionTable::kCount; ++key) logger.insert(Narrow(logger::OptionTable::Name(key)));
    ASSERT_EQ(logger.size(), static_cast<std::size_t>(logger::OptionTable::kCount));
    const std::vector<std::string> loggerRows = TableKeys(Section(page, "## Logger"));
    EXPECT_EQ(std::set<std::string>(loggerRows.begin(), loggerRows.end()), logger);
    EXPECT_EQ(loggerRows.size(), logger.size()) << "a Logger key is listed twice";
}

TEST(GuideCoverage, EveryXmlBlockOfTheGuideIsWellFormed)
{
    int blocks = 0;
    for (const fs::path& page : GuidePages()) {
        std::istringstream in(ReadAll(page));
        std::string line, block;
        bool inside = false;
        int firstLine = 0, number = 0;
        while (std::getline(in, line)) {
            ++number;
            // Fences may be indented inside list items.
            const std::string trimmed = line.substr(std::min(line.find_first_not_of(' '), line.size()));
            if (!inside && trimmed.rfind("```xml", 0) == 0) {
                inside = true;
                block.clear();
                firstLine = number;
            } else if (inside && trimmed.rfind("```", 0) == 0) {
                inside = false;
                ++blocks;
                // A block may be a whole file (with its declaration) or a few
                // elements; both parse inside one root.
                std::string body = block;
                if (body.rfind("<?xml", 0) == 0) body = body.substr(body.find("?>") + 2);
                TiXmlDocument document;
                document.Parse(("<guide>" + body + "</guide>").c_str(), nullptr, TIXML_ENCODING_UTF8);
                EXPECT_FALSE(document.Error()) << fs::relative(page, TW_SOURCE_DIR) << ":" << firstLine << ": "
                                               << document.ErrorDesc();
            } else if (inside) {
                block += line + "\n";
            }
        }
    }
    EXPECT_GT(blocks, 20);
}

namespace {

// A heading's anchor as Markdown viewers make it: lower case, spaces become
// hyphens, punctuation other than hyphens and underscores goes.
std::string Anchor(const std::string& heading)
{
    std::string anchor;
    for (unsigned char c : heading) {
        if (c == ' ') anchor += '-';
        else if (c >= 0x80 || std::isalnum(c) || c == '-' || c == '_') anchor += static_cast<char>(std::tolower(c));
    }
    return anchor;
}

std::set<std::string> Anchors(const fs::path& page)
{
    std::set<std::string> anchors;
    std::istringstream in(ReadAll(page));
    std::string line;
    bool code = false;
    while (std::getline(in, line)) {
        const std::string trimmed = line.substr(std::min(line.find_first_not_of(' '), line.size()));
        if (trimmed.rfind("```", 0) == 0) code = !code;
        if (code || line.empty() || line[0] != '#') continue;
        const std::size_t text = line.find_first_not_of('#');
        if (text != std::string::npos && line[text] == ' ') anchors.insert(Anchor(line.substr(text + 1)));
    }
    return anchors;
}

}  // namespace

TEST(GuideCoverage, EveryLinkOfTheGuideAndTheReadmeLeadsSomewhere)
{
    std::vector<fs::path> pages = GuidePages();
    pages.push_back(fs::path(TW_SOURCE_DIR) / "README.md");
    // Links and pictures: ](target) or ](target#anchor); web addresses are not followed.
    static const std::regex link(R"(\]\(([^)\s#]*)(#[^)\s]*)?\))");
    int links = 0;
    for (const fs::path& page : pages) {
        const std::string text = ReadAll(page);
        for (std::sregex_iterator i(text.begin(), text.end(), link), last; i != last; ++i) {
            const std::string target = (*i)[1];
            const std::string anchor = (*i)[2].matched ? std::string((*i)[2]).substr(1) : std::string();
            if (target.rfind("http", 0) == 0) continue;
            ++links;
            const fs::path file = target.empty() ? page : page.parent_path() / target;
            const std::string where = fs::relative(page, TW_SOURCE_DIR).string() + " -> " + (*i)[0].str();
            EXPECT_TRUE(fs::exists(file)) << where;
            if (!anchor.empty() && fs::is_regular_file(file)) {
                EXPECT_TRUE(Anchors(file).count(anchor)) << where;
            }
        }
    }
    EXPECT_GT(links, 50);
}
