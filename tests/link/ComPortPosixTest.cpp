#include "link/ComPort.h"
#include "link/OpenFailure.h"
#include "link/OutputQueuePosix.h"
#include "link/Packet.h"

#include "tests/support/Pty.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class PtyPort : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(pty.Ok()); }

    ComHandle Open(std::uint32_t readTimeoutMs = 200) {
        return OpenComPort(pty.SlavePath().c_str(), 115200, readTimeoutMs);
    }

    Pty pty;
};

TEST_F(PtyPort, OpenIsExclusiveAgainstThisAndOtherProcessesUntilClosed) {
    const ComHandle first = Open();
    ASSERT_NE(first, InvalidComHandle);
    // The tty's own exclusive mode is on while the port is held, off once it is closed.
    int exclusive = 0;
    ASSERT_EQ(ioctl(pty.HeldSlave(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);
    // A second open, at another speed, fails and leaves the holder's line as it was.
    EXPECT_EQ(OpenComPort(pty.SlavePath().c_str(), 57600, 200), InvalidComHandle);
    EXPECT_EQ(LastOpenFailure(pty.SlavePath().c_str()).Kind, OpenFailure::InUse);
    termios line{};
    ASSERT_EQ(tcgetattr(pty.HeldSlave(), &line), 0);
    EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B115200));

    // The tests run as root in CI, where the tty's own exclusive mode lets anyone in.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        _exit(Open() == InvalidComHandle &&
                      LastOpenFailure(pty.SlavePath().c_str()).Kind == OpenFailure::InUse
                  ? 0
                  : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "another process opened the port that this one holds";

    EXPECT_EQ(CloseComPort(first), 1);
    ASSERT_EQ(ioctl(pty.HeldSlave(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    const ComHandle again = Open();
    EXPECT_NE(again, InvalidComHandle) << "closing did not release the port";
    EXPECT_EQ(LastOpenFailure(pty.SlavePath().c_str()).Kind, OpenFailure::None);
    EXPECT_EQ(CloseComPort(again), 1);
}

// Closing puts back what the open found, so a port opened only to be looked at is left to its
// owner as it was.
TEST_F(PtyPort, OpenSetsRaw8N1WithCtsFlowControlAndCloseRestoresTheLineFound) {
    // Start from a cooked line at another speed, so every setting has to be made by the open.
    termios cooked{};
    ASSERT_EQ(tcgetattr(pty.HeldSlave(), &cooked), 0);
    cooked.c_lflag |= ICANON | ECHO | ISIG;
    cooked.c_iflag |= IXON | IXOFF | ICRNL;
    cooked.c_oflag |= OPOST | ONLCR;
    cooked.c_cflag |= PARENB | CSTOPB;
    cooked.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
    cfsetispeed(&cooked, B9600);
    cfsetospeed(&cooked, B9600);
    ASSERT_EQ(tcsetattr(pty.HeldSlave(), TCSANOW, &cooked), 0);
    termios before{};
    ASSERT_EQ(tcgetattr(pty.HeldSlave(), &before), 0);

    const ComHandle port = Open();
    ASSERT_NE(port, InvalidComHandle);
    termios line{};
    ASSERT_EQ(tcgetattr(pty.HeldSlave(), &line), 0);
    EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(line.c_cflag & (PARENB | CSTOPB), 0u);
    EXPECT_NE(line.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(line.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(line.c_iflag & (IXON | IXOFF | ICRNL), 0u);
    EXPECT_EQ(line.c_oflag & OPOST, 0u);
    EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B115200));
    EXPECT_EQ(CloseComPort(port), 1);

    termios after{};
    ASSERT_EQ(tcgetattr(pty.HeldSlave(), &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(cfgetospeed(&after), static_cast<speed_t>(B9600));
}

// Each failure leaves its cause for the caller to explain; a device this user may not open is
// told apart from a missing or busy one.
TEST_F(PtyPort, OpenFailsForWhatIsNoUsableLine) {
    const auto kind = [](const char* name) { return LastOpenFailure(name).Kind; };
    EXPECT_EQ(OpenComPort(pty.SlavePath().c_str(), 12345, 200), InvalidComHandle);
    EXPECT_EQ(kind(pty.SlavePath().c_str()), OpenFailure::Other);
    EXPECT_EQ(OpenComPort("/nonexistent/ttyUSB0", 115200, 200), InvalidComHandle);
    EXPECT_EQ(kind("/nonexistent/ttyUSB0"), OpenFailure::NoDevice);
    EXPECT_EQ(OpenComPort(nullptr, 115200, 200), InvalidComHandle);

    char folder[] = "/tmp/tervix-port-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::filesystem::path file = std::filesystem::path(folder) / "plain";
    std::ofstream(file) << "not a terminal";
    EXPECT_EQ(OpenComPort(file.c_str(), 115200, 200), InvalidComHandle);
    EXPECT_EQ(kind(file.c_str()), OpenFailure::Other);
    std::filesystem::remove_all(folder);

    // Root opens anything: the refused open runs as nobody.
    const bool root = geteuid() == 0;
    ASSERT_EQ(chmod(pty.SlavePath().c_str(), root ? 0600 : 0), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (root && (setgid(65534) != 0 || setuid(65534) != 0)) {
            _exit(2);
        }
        const PortOpenFailure failure = Open() == InvalidComHandle
                                            ? LastOpenFailure(pty.SlavePath().c_str())
                                            : PortOpenFailure{};
        _exit(failure.Kind == OpenFailure::PermissionDenied && !failure.Group.empty() &&
                      failure.Device == pty.SlavePath()
                  ? 0
                  : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "a device refused for permission was not reported as such";
}

TEST_F(PtyPort, EveryByteValuePassesUnchangedBothWays) {
    const ComHandle port = Open(1000);
    ASSERT_NE(port, InvalidComHandle);
    std::vector<std::uint8_t> all(256);
    for (std::size_t i = 0; i < all.size(); ++i) {
        all[i] = static_cast<std::uint8_t>(i);
    }

    for (std::uint8_t byte : all) {
        ASSERT_EQ(WriteComByte(port, byte), 1);
    }
    EXPECT_EQ(pty.Receive(all.size()), all);

    ASSERT_TRUE(pty.Send(all));
    std::vector<std::uint8_t> read;
    std::uint8_t byte = 0;
    while (read.size() < all.size() && ReadComByte(port, &byte) == 1) {
        read.push_back(byte);
    }
    EXPECT_EQ(read, all);
    EXPECT_EQ(CloseComPort(port), 1);
}

TEST_F(PtyPort, ReadWaitsOutTheTimeOutOnlyOnASilentLine) {
    const ComHandle quiet = Open(200);
    ASSERT_NE(quiet, InvalidComHandle);
    std::uint8_t byte = 0;
    Clock::time_point start = Clock::now();
    EXPECT_EQ(ReadComByte(quiet, &byte), 0);
    EXPECT_GE(MsSince(start), 200);
    EXPECT_LT(MsSince(start), 3 * 200);
    EXPECT_EQ(CloseComPort(quiet), 1);

    const ComHandle patient = Open(4000);
    ASSERT_NE(patient, InvalidComHandle);
    std::thread sender([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        pty.Send({0x5A});
    });
    start = Clock::now();
    EXPECT_EQ(ReadComByte(patient, &byte), 1);
    EXPECT_LT(MsSince(start), 3000) << "the read did not return when the byte came";
    EXPECT_EQ(byte, 0x5A);
    sender.join();
    EXPECT_EQ(CloseComPort(patient), 1);
}

// The end of a reply to a run that was killed answers no request of the next: what the line
// held before the open is gone once the port is opened, and what came since (also bytes a read
// fetched ahead) once its input is discarded.
TEST_F(PtyPort, OpenAndDiscardDropWhatTheLineHeldBefore) {
    ASSERT_TRUE(pty.Send({0x0F, 0x0F, 0x01}));
    ASSERT_TRUE(pty.AwaitUnread(3));
    const ComHandle port = Open(100);
    ASSERT_NE(port, InvalidComHandle);
    std::uint8_t byte = 0;
    EXPECT_EQ(ReadComByte(port, &byte), 0);

    ASSERT_TRUE(pty.Send({0x11, 0x22}));
    ASSERT_TRUE(pty.AwaitUnread(2));
    ASSERT_EQ(ReadComByte(port, &byte), 1);
    EXPECT_EQ(byte, 0x11);
    ASSERT_TRUE(pty.Send({0x33}));
    ASSERT_TRUE(pty.AwaitUnread(1));
    DiscardComInput(port);
    EXPECT_EQ(ReadComByte(port, &byte), 0) << "kept 0x" << std::hex << int{byte};
    ASSERT_TRUE(pty.Send({0x44}));
    ASSERT_EQ(ReadComByte(port, &byte), 1);
    EXPECT_EQ(byte, 0x44);
    EXPECT_EQ(CloseComPort(port), 1);
}

TEST_F(PtyPort, WriteThatCannotLeaveReportsNothingWrittenAndLosesNothing) {
    const ComHandle port = Open(100);
    ASSERT_NE(port, InvalidComHandle);
    // Nobody reads the master end, so its buffer fills and holds the line as CTS would.
    std::size_t written = 0;
    int result = 1;
    while (written < 1000000 && (result = WriteComByte(port, 0x55)) == 1) {
        ++written;
    }
    EXPECT_EQ(result, 0);
    EXPECT_GT(written, 0u);
    // A byte is given three read time-outs to leave, no less and not much more.
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(WriteComByte(port, 0x55), 0);
    EXPECT_GE(MsSince(start), 3 * 100);
    EXPECT_LT(MsSince(start), 3 * 3 * 100);

    EXPECT_EQ(pty.Receive(written).size(), written);
    EXPECT_EQ(WriteComByte(port, 0xAA), 1) << "bytes did not leave once the far side read";
    EXPECT_EQ(pty.Receive(1), std::vector<std::uint8_t>{0xAA});
    EXPECT_EQ(CloseComPort(port), 1);
}

// A pseudo-terminal has no CTS; the held line shows through the count of bytes still queued,
// which the port asks for once at each packet's start (after the open and after a read).
std::atomic<int> queuedBytes{0};
std::atomic<int> queueQueries{0};

TEST_F(PtyPort, LineHeldAtAPacketsStartEndsThePacketUnsent) {
    struct Restore {
        ~Restore() { SetOutputQueueQuery(nullptr); }
    } restore;
    SetOutputQueueQuery([](int, int* queued) {
        ++queueQueries;
        *queued = queuedBytes;
        return true;
    });
    const ComHandle port = Open(100);
    ASSERT_NE(port, InvalidComHandle);
    const std::uint8_t payload[] = {0x01, 0x02, 0x03};
    EXPECT_EQ(SendPacket(port, payload, 3), 3);
    EXPECT_EQ(queueQueries, 1) << "the queue was asked for more than once per packet";
    EXPECT_EQ(pty.Receive(7).size(), 7u);

    queuedBytes = 1;
    std::uint8_t byte = 0;
    EXPECT_EQ(ReadComByte(port, &byte), 0);
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(SendPacket(port, payload, 3), PacketResult::NotWritten);
    EXPECT_LT(MsSince(start), 3 * 3 * 100);
    EXPECT_TRUE(pty.Receive(1, 100).empty());

    queuedBytes = 0;
    EXPECT_EQ(SendPacket(port, payload, 3), 3);
    EXPECT_EQ(pty.Receive(7).size(), 7u);
    EXPECT_EQ(CloseComPort(port), 1);
}

TEST_F(PtyPort, ClosedHandleIsRefusedForGood) {
    const ComHandle stale = Open();
    ASSERT_NE(stale, InvalidComHandle);
    ASSERT_EQ(CloseComPort(stale), 1);

    const ComHandle fresh = Open();
    ASSERT_NE(fresh, InvalidComHandle);
    EXPECT_NE(fresh, stale);
    ASSERT_TRUE(pty.Send({0x42}));
    std::uint8_t byte = 0;
    EXPECT_EQ(ReadComByte(stale, &byte), -1);
    EXPECT_EQ(WriteComByte(stale, 0x00), -1);
    EXPECT_EQ(CloseComPort(stale), 0);
    EXPECT_EQ(ComReadTimeoutMs(stale), 0u);
    // The stale handle took nothing from the port now open on the same device.
    EXPECT_EQ(ReadComByte(fresh, &byte), 1);
    EXPECT_EQ(byte, 0x42);
    EXPECT_EQ(pty.Receive(1, 100).size(), 0u);
    EXPECT_EQ(CloseComPort(fresh), 1);
}

TEST_F(PtyPort, CloseFromAnotherThreadEndsAWaitingRead) {
    const ComHandle port = Open(5000);
    ASSERT_NE(port, InvalidComHandle);
    std::atomic<int> result{2};
    std::thread reader([&result, port] {
        std::uint8_t byte = 0;
        result = ReadComByte(port, &byte);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    const Clock::time_point start = Clock::now();
    EXPECT_EQ(CloseComPort(port), 1);
    EXPECT_LT(MsSince(start), 4000) << "closing waited out the read time-out";
    reader.join();
    EXPECT_EQ(result, -1);

    const ComHandle again = Open();
    EXPECT_NE(again, InvalidComHandle);
    EXPECT_EQ(CloseComPort(again), 1);
}

} // namespace
