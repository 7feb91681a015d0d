#include "TestProgram/TarnwickApp.h"

#include <exception>

#include "Common/Environment.h"
#include "Logger/CrashDump.h"

int main(int argc, char** argv)
{
    // The program's logs go to "log" beside its folder once the settings
    // are read; a crash before that (while they are read) reports there too.
    try {
        logger::SetEarlyCrashDumpFolder(VORTALEX::PathToProgram().str() + L"\\..\\log");
    } catch (const std::exception&) {
        // No program folder: reports go to the logger's default folder.
    }
    // Built here rather than at namespace scope: the window reads the text
    // table and makes objects by class name while it is built, so every
    // engine class must have registered itself first.
    static CTarnwickApp theApp;
    return AfxWinMain(argc, argv);
}
