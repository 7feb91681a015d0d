// Seeded random damage to module files: every damaged file is read or
// refused with a warning, whatever it makes is loaded, updated and destroyed
// without harm, and the managers stay sorted with every listed object alive.
// TW_FUZZ_ITERATIONS and TW_FUZZ_SEED run it longer or otherwise (see README).

#include "engine_support/ObjectTestClasses.h"

#include <algorithm>
#include <random>
#include <string>

#include "Common/Fuzz.h"

namespace {

class ModuleFuzz : public ObjectModelTest {};

// Every object a module lists is alive, and so on down the nested modules.
bool ListsOnlyLiveObjects(C_BaseModule* module, int depth = 0)
{
    if (depth > 100) return false;
    for (C_BaseObject* object : *module) {
        if (!C_BaseObject::IsLive(object)) return false;
        if (auto* child = dynamic_cast<C_BaseModule*>(object))
            if (!ListsOnlyLiveObjects(child, depth + 1)) return false;
    }
    return true;
}

}  // namespace

TEST_F(ModuleFuzz, DamagedModuleFilesAreReadOrRefusedWithoutHarm)
{
    logger::Logger::Activate(logger::AllReports);
    const std::string main =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<scene name=\"Scene\" class=\"C_BaseModule\" script=\"none.lua; F\">\n"
        "  <t text=\"Colour = 0xFF102030\"/>\n"
        "  <o name=\"a\" class=\"TestObject\" value=\"1; 2; Colour\" extra=\"m; s\" status=\"NotRender\" bound=\"box\"/>\n"
        "  <o name=\"b\" class=\"TestObject\" extra=\"a\" status=\"disabled\"/>\n"
        "  <o name=\"m\" class=\"TestMesh\" value=\"mesh\"/>\n"
        "  <o name=\"s\" class=\"TestState\" extra=\"b\"/>\n"
        "  <inner name=\"Inner\" class=\"C_BaseModule\">\n"
        "    <t text=\"Deeper = 1\"/>\n"
        "    <o name=\"c\" class=\"TestObject\" extra=\"c; a\"/>\n"
        "    <nest name=\"inner.xml\" class=\"C_BaseModule\"/>\n"
        "  </inner>\n"
        "  <shared name=\"Inner\" class=\"C_BaseModule\"/>\n"
        "  <w name=\"Window\" class=\"C_NoSuchClass\"><o name=\"x\" class=\"TestObject\"/></w>\n"
        "</scene>\n";
    const std::string inner =
        "<file name=\"FromFile\" class=\"C_BaseModule\"><o name=\"d\" class=\"TestObject\" extra=\"d\"/>"
        "<again name=\"main.xml\" class=\"C_BaseModule\"/></file>\n";
    const std::vector<std::string> tokens = {"<o name=\"e\" class=\"TestObject\"/>", "class=\"C_BaseModule\"",
                                             "name=\"inner.xml\"", "extra=\"", "text=\"", "<m>", "</m>",
                                             "<o>", "</o>", "status=\"", "TestSurface", "Unknown"};
    std::mt19937 random(tw_fuzz::Seed(20240723));
    for (int round = 0, n = tw_fuzz::Iterations(300); round < n; ++round) {
        std::string top = main;
        std::string nested = inner;
        for (int m = 1 + int(random() % 3); m > 0; --m) tw_fuzz::Mutate(top, random, tokens);
        if (random() % 2) tw_fuzz::Mutate(nested, random, tokens);
        WriteFile("main.xml", top);
        WriteFile("inner.xml", nested);

        auto* root = static_cast<C_BaseModule*>(Managers().AddResource(L"C_BaseModule", L"Root", L""));
        ASSERT_NE(root, nullptr);
        *root << std::wstring(L"main.xml");
        for (int step = 0; step < 100 && Managers().Load(nullptr); ++step) {
        }
        for (int frame = 0; frame < 3; ++frame) root->Update();
        C_BaseObject::CommonData().RenderPass = 0;
        for (C_BaseResManager* manager : Managers()) {
            ASSERT_TRUE(std::is_sorted(manager->begin(), manager->end(),
                                       [](C_BaseResource* a, C_BaseResource* b) { return a->Name < b->Name; }))
                << "round " << round;
            for (C_BaseResource* object : *manager) object->Draw(nullptr);
        }
        ASSERT_TRUE(ListsOnlyLiveObjects(root)) << "round " << round;
        Managers().Clear();
    }
}
