#include <iostream>
#include <string>
#include <vector>

#include "app/cli.h"
#include "os/environment.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>

// Wide arguments, so that file names with accents reach us intact whatever the console's
// code page.
int wmain(int argc, wchar_t** argv)
{
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        auto utf8 = std::filesystem::path(argv[i]).u8string();
        args.emplace_back(reinterpret_cast<const char*>(utf8.data()), utf8.size());
    }
    pasarela::PrepareConsole();
    // Bytes as written: the CSV dump ends its lines with CR LF itself, and text mode
    // would make that CR CR LF.
    _setmode(_fileno(stdout), _O_BINARY);
    return pasarela::RunCli(args, std::cout, std::cerr);
}
#else
int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    return pasarela::RunCli(args, std::cout, std::cerr);
}
#endif
