#include "link/ComPort.h"
#include "link/PortNames.h"

#include "tests/support/Pty.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

namespace fs = std::filesystem;

namespace {

// Runs each case in a fresh folder with TERVIX_PORTS and HOME of its own, and puts them back.
class PortNameMap : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "tervix-names-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder = pattern;
        Save("TERVIX_PORTS", savedPorts);
        Save("HOME", savedHome);
        setenv("HOME", folder.c_str(), 1);
        unsetenv("TERVIX_PORTS");
        ASSERT_TRUE(pty.Ok());
    }

    void TearDown() override {
        Restore("TERVIX_PORTS", savedPorts);
        Restore("HOME", savedHome);
        fs::remove_all(folder);
    }

    static void Save(const char* name, std::optional<std::string>& value) {
        const char* current = std::getenv(name);
        value = current ? std::optional<std::string>(current) : std::nullopt;
    }
    static void Restore(const char* name, const std::optional<std::string>& value) {
        if (value) {
            setenv(name, value->c_str(), 1);
        } else {
            unsetenv(name);
        }
    }

    fs::path folder;
    std::optional<std::string> savedPorts;
    std::optional<std::string> savedHome;
    Pty pty;
};

TEST_F(PortNameMap, PortsFolderIsTheWholeMap) {
    Pty other;
    ASSERT_TRUE(other.Ok());
    const fs::path ports = folder / "ports";
    fs::create_directory(ports);
    fs::create_symlink(pty.SlavePath(), ports / "COM3");
    fs::create_symlink(other.SlavePath(), ports / "COM12");
    fs::create_symlink(ports / "unplugged", ports / "COM5");
    setenv("TERVIX_PORTS", ports.c_str(), 1);

    EXPECT_EQ(ResolveComName("COM3"), pty.SlavePath());
    EXPECT_EQ(ResolveComName("\\\\.\\COM12"), other.SlavePath());
    EXPECT_EQ(ResolveComName("\\\\.\\COM3"), pty.SlavePath());
    // Names without an entry, or whose device is gone, map to nothing rather than to a device
    // found elsewhere.
    EXPECT_EQ(ResolveComName("COM1"), "");
    EXPECT_EQ(ResolveComName("\\\\.\\COM10"), "");
    EXPECT_EQ(ResolveComName("COM5"), "");
    EXPECT_EQ(ResolveComName("COM03"), "");
    EXPECT_EQ(ResolveComName("ports"), "");
    // Paths are taken as they stand.
    EXPECT_EQ(ResolveComName("/dev/ttyUSB7"), "/dev/ttyUSB7");

    const ComHandle port = OpenComPort("\\\\.\\COM12", 115200, 200);
    ASSERT_NE(port, InvalidComHandle);
    EXPECT_EQ(WriteComByte(port, 0xC3), 1);
    EXPECT_EQ(other.Receive(1), std::vector<std::uint8_t>{0xC3});
    EXPECT_EQ(CloseComPort(port), 1);
    EXPECT_EQ(OpenComPort("COM4", 115200, 200), InvalidComHandle);
}

TEST_F(PortNameMap, UserPortsFolderServesWhenTheVariableIsUnset) {
    const fs::path ports = folder / ".config" / "tervix" / "ports";
    fs::create_directories(ports);
    fs::create_symlink(pty.SlavePath(), ports / "COM2");

    EXPECT_EQ(ResolveComName("COM2"), pty.SlavePath());
    EXPECT_EQ(ResolveComName("COM3"), "");
}

// A by-id folder names adapters by maker and serial number; links to other devices and dangling
// links must not lend their name.
TEST_F(PortNameMap, StableNameIsTheByIdLinkToTheSameDevice) {
    Pty other;
    ASSERT_TRUE(other.Ok());
    const fs::path byId = folder / "by-id";
    fs::create_directory(byId);
    fs::create_symlink(other.SlavePath(), byId / "usb-Other_Adapter_B-if00-port0");
    fs::create_symlink(folder / "gone", byId / "usb-Unplugged_C-if00-port0");
    EXPECT_EQ(StableDeviceName(pty.SlavePath(), byId.string()), "");

    fs::create_symlink(pty.SlavePath(), byId / "usb-FTDI_FT232R_A50285BI-if00-port0");
    const fs::path link = folder / "COM7";
    fs::create_symlink(pty.SlavePath(), link);
    const std::string expected = (byId / "usb-FTDI_FT232R_A50285BI-if00-port0").string();
    EXPECT_EQ(StableDeviceName(pty.SlavePath(), byId.string()), expected);
    // Asked through a link (a ports-folder entry), the device behind it counts.
    EXPECT_EQ(StableDeviceName(link.string(), byId.string()), expected);
    EXPECT_EQ(StableDeviceName("", byId.string()), "");
}

} // namespace
