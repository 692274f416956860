#pragma once
// What the Linux side hands the Windows test program on its command line.

#include <string>

struct Options {
    std::string tervix;      // the program under test
    std::string port;        // the COM port of the board
    std::string file;        // the HEX file a job chooses
    std::string screenshots; // a folder for pictures of the dialog, if any
    std::string installed;   // the installed program
    std::string version;     // the version it must carry
    std::string entry;       // the installed Start-menu entry
};

inline Options& Given() {
    static Options options;
    return options;
}
