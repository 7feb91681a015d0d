// vfspack: writes, lists and extracts the storage archives the engine reads.

#include "vfspack.h"

#include <cstring>
#include <iostream>
#include <string>
#include <vector>

namespace {

const char kUsage[] =
    "usage: vfspack create ARCHIVE [-C DIR] PATH...\n"
    "       vfspack list ARCHIVE\n"
    "       vfspack extract ARCHIVE [-C DIR] [NAME...]\n"
    "       vfspack cat ARCHIVE NAME\n";

int Usage(const std::string& problem)
{
    std::cerr << "vfspack: " << problem << '\n' << kUsage;
    return 2;
}

// Splits the arguments after ARCHIVE into the -C folder and the rest.
bool TakeFolder(std::vector<std::string>& args, std::string& folder)
{
    std::vector<std::string> rest;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-C") {
            if (i + 1 >= args.size())
                return false;
            folder = args[++i];
        } else if (args[i] == "--") {
            rest.insert(rest.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
            break;
        } else {
            rest.push_back(args[i]);
        }
    }
    args.swap(rest);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    std::ios::sync_with_stdio(false);
    if (argc >= 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
        std::cout << kUsage;
        return 0;
    }
    if (argc < 3)
        return Usage("a command and an archive are needed");
    const std::string command = argv[1];
    const std::string archive = argv[2];
    std::vector<std::string> args(argv + 3, argv + argc);
    std::string folder;

    if (command == "create") {
        if (!TakeFolder(args, folder))
            return Usage("-C needs a folder");
        if (args.empty())
            return Usage("create needs at least one PATH");
        return vfspack::Create(archive, folder, args, std::cerr);
    }
    if (command == "list") {
        if (!args.empty())
            return Usage("list takes only the archive");
        return vfspack::List(archive, std::cout, std::cerr);
    }
    if (command == "extract") {
        if (!TakeFolder(args, folder))
            return Usage("-C needs a folder");
        return vfspack::Extract(archive, folder, args, std::cerr);
    }
    if (command == "cat") {
        if (args.size() != 1)
            return Usage("cat needs exactly one NAME");
        return vfspack::Cat(archive, args[0], std::cout, std::cerr);
    }
    return Usage("unknown command \"" + command + "\"");
}
