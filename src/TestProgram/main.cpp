#include "TestProgram/TarnwickApp.h"

int main(int argc, char** argv)
{
    // Built here rather than at namespace scope: the window reads the text
    // table and makes objects by class name while it is built, so every
    // engine class must have registered itself first.
    static CTarnwickApp theApp;
    return AfxWinMain(argc, argv);
}
