// The Windows test program's start: keeps Wine's desktop up between the tests, or runs the tests
// with the options the Linux side gives.
//
//   tervix-desktop-tests --gtest_filter=Desktop.WholeJob --tervix=EXE --port=COM1 --file=HEX
//       [--screenshots=FOLDER]
//   tervix-desktop-tests --gtest_filter=Installed.* --installed=EXE --version=1.0.0.1 --entry=LNK
//   tervix-desktop-tests --hold-desktop FILE

#include "tests/wine/desktop/Options.h"

#include <gtest/gtest.h>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <map>
#include <string>

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--hold-desktop") {
        // Keeps Wine's desktop up between the tests: without a program on it, Wine ends it, and
        // the next program's first window waits for a new one. The file says it is up.
        GetDesktopWindow();
        if (FILE* up = std::fopen(argv[2], "w")) {
            std::fclose(up);
        }
        Sleep(INFINITE);
    }
    testing::InitGoogleTest(&argc, argv);
    const std::map<std::string, std::string Options::*> flags = {
        {"--tervix=", &Options::tervix},       {"--port=", &Options::port},
        {"--file=", &Options::file},           {"--screenshots=", &Options::screenshots},
        {"--installed=", &Options::installed}, {"--version=", &Options::version},
        {"--entry=", &Options::entry},
    };
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        bool known = false;
        for (const auto& [flag, member] : flags) {
            if (arg.rfind(flag, 0) == 0) {
                Given().*member = arg.substr(flag.size());
                known = true;
            }
        }
        if (!known) {
            std::fprintf(stderr, "unknown argument %s\n", argv[i]);
            return 64;
        }
    }
    return RUN_ALL_TESTS();
}
