#include "SettingsEditor/VexamontApp.h"

int main(int argc, char** argv)
{
    CVexamontApp theApp;
    return theApp.Run(argc, argv);
}
