// Whole flash jobs against a board on a pseudo-terminal: a job that succeeds, a kept port, a
// connection that fails; what the user sees at the end, what the board holds, and what the port
// is left as.

#include "app/core/FlashJobThread.h"
#include "link/BootCommands.h"
#include "link/ComPort.h"
#include "target/TargetProfile.h"
#include "tests/app/DialogFixture.h"
#include "tests/support/CaseName.h"

#include <QAbstractButton>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>

#include <sys/stat.h>

namespace {

TEST_F(FlashJob, SuccessfulJobOnCom3WritesTheFileAndEndsWithAllLampsLit) {
    board.Session().WithBoard([](Board& b) { b.LoadEeprom(0xFF, 0x00); });
    ports.Link("COM3", board.DevicePath());
    linked = true;
    const QString hex = WriteHexFile();
    script.Answer(PromptKind::OpenHexFile, true, hex);
    OpenDialog();

    RunJob();

    EXPECT_EQ(g_stage.load(), StageDone);
    for (int n = 1; n <= LampCount; ++n) {
        EXPECT_TRUE(LampFilledWith(n, Shown::Lit)) << "lamp " << n;
    }
    EXPECT_EQ(Progress(), 100);
    EXPECT_EQ(Text(1004), QStringLiteral("100 % Finished"));
    EXPECT_EQ(Text(1), QStringLiteral("EXIT"));
    EXPECT_TRUE(Enabled(1));
    EXPECT_TRUE(Enabled(1001));

    // The port question named the port and its device; then one box before the file dialog.
    const std::vector<Prompt> asked = script.Asked();
    ASSERT_EQ(asked.size(), 3u);
    EXPECT_EQ(asked[0].kind, PromptKind::PortQuestion);
    EXPECT_EQ(asked[0].text, "COM3");
    EXPECT_EQ(asked[0].caption, "Serial Port Selected?");
    EXPECT_EQ(asked[0].detail, board.DevicePath());
    EXPECT_FALSE(asked[0].modal);
    EXPECT_EQ(asked[1].text, "Check whether COM3 port is OK!");
    EXPECT_EQ(asked[1].caption, "Tervix");
    EXPECT_EQ(asked[2].kind, PromptKind::OpenHexFile);

    board.Session().WithBoard([&](const Board& b) {
        for (const auto& [address, value] : image) {
            EXPECT_EQ(b.ReadProgramSpace(address), value) << std::hex << address;
        }
        // The rest of the erased area stays blank.
        EXPECT_EQ(b.ReadProgramSpace(0x230), 0xFF);
        EXPECT_EQ(b.ReadProgramSpace(0x7FFF), 0xFF);
        EXPECT_TRUE(b.RunMode());
        EXPECT_EQ(b.Stats().Violations, 0u);
        EXPECT_EQ(b.Stats().ErasesInRunMode, 0u);
    });
    EXPECT_LT(board.FirstRequestAt(BootCode::WriteEeprom),
              board.FirstRequestAt(BootCode::EraseProgram));
    EXPECT_TRUE(std::filesystem::exists(scratch.File("temp.log")));
    EXPECT_EQ(TargetProfile.Connected.load(), 0);
    std::uint8_t byte = 0;
    EXPECT_EQ(ReadComByte(TargetProfile.PortHandle.load(), &byte), -1) << "port left open";
    // The job's copy of the path is gone; the profile does not point at it any more.
    EXPECT_STRNE(TargetProfile.HexPath.load(), hex.toStdString().c_str());
}

TEST_F(FlashJob, CancelledFileKeepsThePortForASecondJobWithoutThePortQuestion) {
    script.Answer(PromptKind::OpenHexFile, false);
    OpenDialog();
    RunJob();

    EXPECT_EQ(g_stage.load(), StageNoFile);
    ExpectEndLamps(2);
    ExpectFailedEnd();
    EXPECT_EQ(script.Texts(PromptKind::Message),
              std::vector<QString>{QStringLiteral("Check whether COM1 port is OK!")});
    EXPECT_EQ(TargetProfile.Connected.load(), 1);

    script.Answer(PromptKind::OpenHexFile, true, WriteHexFile());
    RunJob();

    EXPECT_EQ(g_stage.load(), StageDone);
    EXPECT_EQ(script.Texts(PromptKind::PortQuestion).size(), 1u);
    EXPECT_EQ(script.Texts(PromptKind::Message).size(), 2u);
    EXPECT_EQ(Text(1004), QStringLiteral("100 % Finished"));
    EXPECT_EQ(TargetProfile.Connected.load(), 0);
}

TEST_F(FlashJob, PortFromCom11OnGetsNoCheckBox) {
    ports.Link("COM12", board.DevicePath());
    linked = true;
    script.Answer(PromptKind::OpenHexFile, false);
    OpenDialog();
    RunJob();

    EXPECT_EQ(script.Texts(PromptKind::PortQuestion),
              std::vector<QString>{QStringLiteral("\\\\.\\COM12")});
    EXPECT_TRUE(script.Texts(PromptKind::Message).empty());
    EXPECT_EQ(script.Texts(PromptKind::OpenHexFile).size(), 1u);
    EXPECT_EQ(g_stage.load(), StageNoFile);
}

TEST_F(FlashJob, FlashPressResetsTheDisplaysBeforeTheFirstStage) {
    script.Hold(PromptKind::PortQuestion);
    OpenDialog();
    static_cast<QAbstractButton*>(Control(1001))->click();

    EXPECT_FALSE(Enabled(1001));
    EXPECT_TRUE(Enabled(1));
    EXPECT_EQ(Text(1), QStringLiteral("CANCEL"));
    EXPECT_EQ(Text(1004), QStringLiteral("100"));
    for (int n = 2; n <= LampCount; ++n) {
        EXPECT_TRUE(LampFilledWith(n, Shown::Off)) << "lamp " << n;
    }
    ASSERT_TRUE(WaitUntil([&] { return script.HeldCount() == 1; }));
    EXPECT_EQ(g_stage.load(), StageConnect);
    script.AnswerHeld(false);
    WaitForWorkers();
    EXPECT_EQ(g_stage.load(), StageConnectFailed);
}

struct ConnectFailure {
    std::string name;
    std::function<void(PtyBoard&, PromptScript&, bool& linked)> arrange;
    friend void PrintTo(const ConnectFailure& c, std::ostream* out) { *out << c.name; }
};

class ConnectionFails : public FlashJob, public testing::WithParamInterface<ConnectFailure> {};

TEST_P(ConnectionFails, WithLampOneRedAndTheCheckCableBox) {
    GetParam().arrange(board, script, linked);
    OpenDialog();
    RunJob();

    EXPECT_EQ(g_stage.load(), StageConnectFailed);
    ExpectEndLamps(1);
    ExpectFailedEnd();
    EXPECT_EQ(script.Texts(PromptKind::Message), std::vector<QString>{ConnectFailedBox});
    EXPECT_EQ(script.Texts(PromptKind::OpenHexFile).size(), 0u);
    EXPECT_EQ(TargetProfile.Connected.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Job, ConnectionFails,
    testing::Values(
        ConnectFailure{"NoPort", [](PtyBoard&, PromptScript&, bool& linked) { linked = true; }},
        ConnectFailure{"PortDeclined", [](PtyBoard&, PromptScript& s,
                                          bool&) { s.Answer(PromptKind::PortQuestion, false); }},
        ConnectFailure{"WrongDevice",
                       [](PtyBoard& b, PromptScript&, bool&) {
                           // Device number 32 instead of 33.
                           b.Session().WithBoard([](Board& chip) { chip.SetDeviceId(0x0400); });
                       }}),
    CaseName());

// After a failed job the port stays open; before the next job uses it, the board on it must
// still be the expected device, or the connection starts again with the port question.
struct KeptPortChange {
    std::string name;
    std::function<void(PtyBoard&)> change;
    friend void PrintTo(const KeptPortChange& c, std::ostream* out) { *out << c.name; }
};

class KeptPortChanged : public FlashJob, public testing::WithParamInterface<KeptPortChange> {};

TEST_P(KeptPortChanged, IsLetGoAndTheNextJobScansAgain) {
    quickTimeOut = true; // the unplugged board goes silent on the port the first job kept
    script.Answer(PromptKind::OpenHexFile, false);
    OpenDialog();
    RunJob();
    ASSERT_EQ(g_stage.load(), StageNoFile);
    ASSERT_EQ(TargetProfile.Connected.load(), 1);

    GetParam().change(board);
    script.Answer(PromptKind::OpenHexFile, true, WriteHexFile());
    RunJob();

    EXPECT_EQ(g_stage.load(), StageConnectFailed);
    EXPECT_EQ(script.Texts(PromptKind::PortQuestion),
              (std::vector<QString>{QStringLiteral("COM1"), QStringLiteral("COM1")}));
    EXPECT_EQ(script.Texts(PromptKind::Message).back(), ConnectFailedBox);
    EXPECT_EQ(script.Texts(PromptKind::OpenHexFile).size(), 1u);
    EXPECT_EQ(TargetProfile.Connected.load(), 0);
    board.Session().WithBoard(
        [](const Board& b) { EXPECT_EQ(b.Stats().RequestsByCommand[BootCode::EraseProgram], 0u); });
}

INSTANTIATE_TEST_SUITE_P(
    Job, KeptPortChanged,
    testing::Values(KeptPortChange{"ReplacedByAnotherDevice",
                                   [](PtyBoard& b) {
                                       b.Session().WithBoard(
                                           [](Board& chip) { chip.SetDeviceId(0x0400); });
                                   }},
                    // No reply to any read any more: the board is gone from the line.
                    KeptPortChange{"Unplugged", [](PtyBoard& b) { b.Mute(1); }}),
    CaseName());

} // namespace
