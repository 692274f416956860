#include "target/Connection.h"
#include "link/Packet.h"
#include "target/PortRefusals.h"
#include "target/TargetProfile.h"
#include "tests/support/Pty.h"
#include "tests/support/SimProcess.h"
#include "tests/target/TargetFixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

namespace {

using Asked = std::vector<std::string>;

class ConnectionTest : public PortsTest {};

TEST_F(ConnectionTest, BoardOnCom3IsFoundAskedAboutAndKept) {
    SimProcess sim({"--stats"});
    ASSERT_TRUE(sim.Ok());
    ports_.Link("COM3", sim.SlavePath());
    answers_ = {true};

    EXPECT_EQ(ConnectTarget(), 2);
    EXPECT_EQ(asked_, Asked{"COM3"}); // COM1 and COM2 could not be opened: no question
    EXPECT_STREQ(TargetProfile.PortName, "COM3");
    EXPECT_EQ(TargetProfile.PortIndex, 2);
    EXPECT_EQ(TargetProfile.Connected, 1);
    EXPECT_EQ(ProgressTotal, 100);
    EXPECT_EQ(ProgressCount, 100);
    EXPECT_FALSE(Free("COM3"));

    // While connected: the same index without a question, once the device has answered again.
    ProgressTotal = 0;
    ProgressCount = 42;
    EXPECT_EQ(ConnectTarget(), 2);
    EXPECT_EQ(asked_.size(), 1u);
    EXPECT_EQ(ProgressTotal, 100);
    EXPECT_EQ(ProgressCount, 100);
    EXPECT_FALSE(Free("COM3"));

    EXPECT_EQ(DisconnectTarget(), ConnectResult::Disconnected);
    EXPECT_EQ(TargetProfile.Connected, 0);
    EXPECT_EQ(TargetProfile.PortHandle, InvalidComHandle);
    EXPECT_TRUE(Free("COM3"));
    ASSERT_EQ(sim.Stop(), 0);
    EXPECT_EQ(sim.Stat("requests"), 2u);
}

// A port kept open may lead to another board by now: one that reports another number is let go
// and the scan asks again, as for a new job.
TEST_F(ConnectionTest, KeptPortWithAnotherDeviceIsClosedAndTheScanStartsAgain) {
    Pty line;
    ASSERT_TRUE(line.Ok());
    ports_.Link("COM1", line.SlavePath());
    answers_ = {true, true};
    const Bytes request{0x0F, 0x0F, 0x01, 0x02, 0xFE, 0xFF, 0x3F, 0xC1, 0x04};
    const Bytes device33{0x0F, 0x0F, 0x01, 0x02, 0xFE, 0xFF, 0x3F, 0x27, 0x05, 0x04, 0x96, 0x04};
    const Bytes device32{0x0F, 0x0F, 0x01, 0x02, 0xFE, 0xFF, 0x3F, 0x00, 0x05, 0x04, 0xBD, 0x04};
    std::atomic<std::int32_t> result{1};
    std::thread first([&result] { result = ConnectTarget(); });
    EXPECT_EQ(line.Receive(request.size()), request);
    line.Send(device33);
    first.join();
    ASSERT_EQ(result, 0);

    // A reply that came after its job had ended answers nothing of the next job: the kept port is
    // checked on a fresh answer.
    ASSERT_TRUE(line.Send(device32));
    ASSERT_TRUE(line.AwaitUnread(device32.size()));
    std::thread kept([&result] { result = ConnectTarget(); });
    EXPECT_EQ(line.Receive(request.size()), request);
    line.Send(device33);
    kept.join();
    ASSERT_EQ(result, 0);
    EXPECT_EQ(asked_, Asked{"COM1"});

    std::thread again([&result] { result = ConnectTarget(); });
    EXPECT_EQ(line.Receive(request.size()), request);
    line.Send(device32); // the kept port's board is not the one connected to
    EXPECT_EQ(line.Receive(request.size()), request);
    line.Send(device33); // the scan's board, after its question
    again.join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(asked_, (Asked{"COM1", "COM1"}));
    EXPECT_EQ(TargetProfile.Connected, 1);
}

// The count is at 50 while the device number is read.
TEST_F(ConnectionTest, DeviceReadRunsAtHalfWay) {
    Pty line;
    ASSERT_TRUE(line.Ok());
    ports_.Link("COM1", line.SlavePath());
    answers_ = {true};
    std::atomic<std::int32_t> result{1};
    std::thread connect([&result] { result = ConnectTarget(); });
    EXPECT_EQ(line.Receive(9), (Bytes{0x0F, 0x0F, 0x01, 0x02, 0xFE, 0xFF, 0x3F, 0xC1, 0x04}));
    EXPECT_EQ(ProgressCount, 50);
    line.Send({0x0F, 0x0F, 0x01, 0x02, 0xFE, 0xFF, 0x3F, 0x27, 0x05, 0x04, 0x96, 0x04});
    connect.join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ProgressCount, 100);
}

TEST_F(ConnectionTest, DeclinedPortIsClosedAndTheScanGoesOn) {
    Pty other;
    SimProcess sim;
    ASSERT_TRUE(other.Ok());
    ASSERT_TRUE(sim.Ok());
    ports_.Link("COM1", other.SlavePath());
    ports_.Link("COM2", sim.SlavePath());
    answers_ = {false, true};

    EXPECT_EQ(ConnectTarget(), 1);
    EXPECT_EQ(asked_, (Asked{"COM1", "COM2"}));
    EXPECT_TRUE(Free("COM1"));
    EXPECT_EQ(ProgressCount, 100);
}

TEST_F(ConnectionTest, NoToEveryPortEndsAfterTheLast) {
    Pty first;
    SimProcess sim;
    ASSERT_TRUE(first.Ok());
    ASSERT_TRUE(sim.Ok());
    ports_.Link("COM1", first.SlavePath());
    ports_.Link("COM21", sim.SlavePath());

    EXPECT_EQ(ConnectTarget(), ConnectResult::NoPortAccepted);
    EXPECT_EQ(asked_, (Asked{"COM1", "\\\\.\\COM21"}));
    EXPECT_EQ(TargetProfile.PortIndex, 20);
    EXPECT_STREQ(TargetProfile.PortName, "\\\\.\\COM21");
    EXPECT_EQ(TargetProfile.PortHandle, InvalidComHandle);
    EXPECT_EQ(TargetProfile.Connected, 0);
    EXPECT_EQ(ProgressCount, 0);
    EXPECT_TRUE(Free("COM1"));
    EXPECT_TRUE(Free("COM21"));

    // Without a question installed every port is declined.
    SetPortQuestion({});
    EXPECT_EQ(ConnectTarget(), ConnectResult::NoPortAccepted);
    EXPECT_EQ(asked_.size(), 2u);
}

// The permission advice after a scan: each refused device once, and none at all when a port
// opened, since the board may then simply have been declined or absent. Root opens any device,
// so the refusals are recorded as the port layer would.
TEST_F(ConnectionTest, RefusalsOfAScanNameEachDeviceOnceAndOnlyWhenNothingOpened) {
    Pty declined;
    ASSERT_TRUE(declined.Ok());
    EXPECT_EQ(ConnectTarget(), ConnectResult::NoPortAccepted);
    EXPECT_TRUE(PermissionRefusals().empty()); // no devices at all

    const PortOpenFailure usb{
        .Kind = OpenFailure::PermissionDenied, .Device = "/dev/ttyUSB0", .Group = "dialout"};
    RecordOpenFailure("COM2", usb);
    RecordOpenFailure("\\\\.\\COM12", usb);
    RecordOpenFailure("COM5", {.Kind = OpenFailure::InUse, .Device = "/dev/ttyACM0"});
    RecordOpenFailure(
        "COM7", {.Kind = OpenFailure::PermissionDenied, .Device = "/dev/ttyS0", .Group = "uucp"});
    const std::vector<PortOpenFailure> refused = PermissionRefusals();
    ASSERT_EQ(refused.size(), 2u);
    EXPECT_EQ(refused[0].Device, "/dev/ttyUSB0");
    EXPECT_EQ(refused[0].Group, "dialout");
    EXPECT_EQ(refused[1].Device, "/dev/ttyS0");

    ports_.Link("COM9", declined.SlavePath());
    EXPECT_EQ(ConnectTarget(), ConnectResult::NoPortAccepted);
    RecordOpenFailure("COM2", usb);
    EXPECT_TRUE(PermissionRefusals().empty());
}

TEST_F(ConnectionTest, WrongDeviceIsLetGoAndTheNextCallScansAgain) {
    SimProcess sim({"--device-id", "0x0400"}); // device number 32
    ASSERT_TRUE(sim.Ok());
    ports_.Link("COM3", sim.SlavePath());
    answers_ = {true, true};

    EXPECT_EQ(ConnectTarget(), ConnectResult::WrongDevice);
    EXPECT_EQ(LastDeviceNumber(), 32); // the number judged, for the message
    EXPECT_EQ(TargetProfile.Connected, 0);
    EXPECT_EQ(TargetProfile.PortHandle, InvalidComHandle);
    EXPECT_EQ(ProgressCount, 80);
    EXPECT_TRUE(Free("COM3"));

    EXPECT_EQ(ConnectTarget(), ConnectResult::WrongDevice);
    EXPECT_EQ(asked_.size(), 2u);
}

TEST_F(ConnectionTest, FailedDeviceReadPassesItsCodeOn) {
    SimProcess sim({"--silent"});
    ASSERT_TRUE(sim.Ok());
    ports_.Link("COM3", sim.SlavePath());
    answers_ = {true};
    TargetProfile.Retries = 2;

    EXPECT_EQ(ConnectTarget(), PacketResult::NoAttemptsLeft);
    EXPECT_EQ(TargetProfile.Connected, 0);
    EXPECT_EQ(ProgressCount, 100);
    EXPECT_TRUE(Free("COM3"));
}

TEST_F(ConnectionTest, DisconnectWithNothingOpenClosesNothing) {
    AttachedPort stranger = AttachMemoryPort();
    TargetProfile.PortHandle = stranger.handle;
    EXPECT_EQ(DisconnectTarget(), ConnectResult::Disconnected);
    EXPECT_FALSE(stranger.port->Closed());
    CloseComPort(stranger.handle);
}

} // namespace
