#include "tests/wine/WineFixture.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <unistd.h>

namespace {

// Wine quiet, without the prompts for Mono and Gecko that a new prefix would show, and with its
// windows on the run's virtual display (wine-prefix.sh keeps its name beside the prefix).
std::vector<std::string> WineEnvironment(const std::string& prefix) {
    std::string display;
    std::ifstream(prefix + ".display") >> display;
    return {"WINEPREFIX=" + prefix, "WINEDEBUG=-all",
            "WINEDLLOVERRIDES=mscoree,mshtml=", "DISPLAY=" + display};
}

// ChildProcess runs a path; Wine's launchers are found the way a shell finds them.
std::string FindOnPath(const std::string& program) {
    std::istringstream path(std::getenv("PATH") != nullptr ? std::getenv("PATH") : "");
    std::string folder;
    while (std::getline(path, folder, ':')) {
        const std::filesystem::path candidate = std::filesystem::path(folder) / program;
        if (!folder.empty() && access(candidate.c_str(), X_OK) == 0) {
            return candidate.string();
        }
    }
    return {};
}

} // namespace

void WineTest::SetUp() {
    CliTest::SetUp();
    const char* dir = std::getenv("TERVIX_WINE_DIR");
    ASSERT_TRUE(dir != nullptr && *dir != '\0')
        << "TERVIX_WINE_DIR is not set: run the wine tests through ctest, whose fixtures build "
           "the Windows programs and make the Wine prefix";
    prefix_ = std::string(dir) + "/prefix";
    programs_ = std::string(dir) + "/cross/bin";
    ASSERT_FALSE(FindOnPath("wine").empty()) << "Wine cannot start: no wine on PATH (packages "
                                                "wine and wine64)";
    ASSERT_TRUE(std::filesystem::exists(prefix_ + "/drive_c/windows/system32"))
        << "Wine cannot start: no prefix at " << prefix_ << " (see the wine_prefix test's output)";
    ASSERT_TRUE(std::filesystem::exists(programs_ + "/tervix-flash.exe"))
        << "no " << programs_ << "/tervix-flash.exe (see the wine_build test's output)";
    ports_ = prefix_ + "/dosdevices";
}

SimBoard& WineTest::AddComBoard(int number, const std::vector<std::string>& options) {
    return AddBoard("com" + std::to_string(number), options);
}

CliTest::Run WineTest::Windows(const std::string& program, const std::vector<std::string>& args) {
    std::vector<std::string> all{programs_ + "/" + program + ".exe"};
    all.insert(all.end(), args.begin(), args.end());
    return Wine(all);
}

std::unique_ptr<ChildProcess> WineTest::StartWindows(const std::string& program,
                                                     const std::vector<std::string>& args) {
    std::vector<std::string> all{programs_ + "/" + program + ".exe"};
    all.insert(all.end(), args.begin(), args.end());
    return std::make_unique<ChildProcess>(FindOnPath("wine"), all, folder_.Path(),
                                          WineEnvironment(prefix_));
}

CliTest::Run WineTest::Wine(const std::vector<std::string>& args) {
    ChildProcess child(FindOnPath("wine"), args, folder_.Path(), WineEnvironment(prefix_));
    Run run;
    run.Status = child.Wait(ProcessTimeoutMs);
    run.Out = child.Out();
    run.Err = child.Err();
    return run;
}

std::string WineTest::WinPath(const std::string& path) {
    ChildProcess child(FindOnPath("winepath"), {"-w", path}, folder_.Path(),
                       WineEnvironment(prefix_));
    EXPECT_EQ(child.Wait(ProcessTimeoutMs), 0) << child.Err();
    std::string windows = child.Out();
    while (!windows.empty() && (windows.back() == '\n' || windows.back() == '\r')) {
        windows.pop_back();
    }
    return windows;
}
