#pragma once
// The Windows programs run under Wine against tervix-sim boards: each board is linked as a COM
// port of the test run's private Wine prefix (dosdevices/comN to its pseudo-terminal), and
// files are handed over by their Windows paths.

#include "tests/cli/CliFixture.h"

#include <memory>
#include <string>
#include <vector>

class WineTest : public CliTest {
protected:
    // Fails the test, saying why, when the prefix or the Windows programs are missing.
    void SetUp() override;

    // A board behind COMn of the prefix ("\\.\COMn" reaches it as well).
    SimBoard& AddComBoard(int number, const std::vector<std::string>& options = {});

    // Runs a Windows program of the cross-build ("tervix-flash") under Wine in the working
    // folder, to its end.
    Run Windows(const std::string& program, const std::vector<std::string>& args);
    // The same, started but not waited for.
    std::unique_ptr<ChildProcess> StartWindows(const std::string& program,
                                               const std::vector<std::string>& args);
    // Runs wine with args (a program of Wine's own, for instance).
    Run Wine(const std::vector<std::string>& args);

    // The Windows path of a file, from winepath.
    std::string WinPath(const std::string& path);

    std::string prefix_;
    std::string programs_;
};
