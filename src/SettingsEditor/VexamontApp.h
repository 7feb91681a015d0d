#pragma once
// The settings editor program: the dialog on a desktop, the device test
// alone with --check for scripts and machines without one.

class CVexamontApp {
public:
    // Runs the program for its command line; the exit code.
    int Run(int argc, char** argv);

private:
    int RunDialog(int argc, char** argv);
    int RunCheck();
};
