// Whole flash jobs against a board on a pseudo-terminal: what the user sees at the end of each
// way a job can go, what the board holds, and what the port is left as.

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

const QString ConnectFailedBox = QStringLiteral(
    "Please Check (1) Cable Wired or not? (2) PC COM Port Correct or not ?(3)PIC Chip Correct or "
    "not ?");

class FlashJob : public DialogFixture {
protected:
    void ExpectEndLamps(int failedLamp) {
        for (int n = 1; n < failedLamp; ++n) {
            EXPECT_TRUE(LampFilledWith(n, Shown::Lit)) << "lamp " << n;
        }
        EXPECT_TRUE(LampFilledWith(failedLamp, Shown::Failed)) << "lamp " << failedLamp;
        for (int n = failedLamp + 1; n <= LampCount; ++n) {
            EXPECT_TRUE(LampFilledWith(n, Shown::Off)) << "lamp " << n;
        }
    }
    void ExpectFailedEnd() {
        EXPECT_EQ(Text(1004), QStringLiteral("0% Finished"));
        EXPECT_EQ(Progress(), 0);
        EXPECT_EQ(Text(1), QStringLiteral("EXIT"));
        EXPECT_TRUE(Enabled(1));
        EXPECT_TRUE(Enabled(1001));
    }
};

TEST_F(FlashJob, SuccessfulJobOnCom3WritesTheFileAndEndsWithAllLampsLit) {
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
    });
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

struct StepFailure {
    std::string name;
    std::function<void(PtyBoard&)> arrange;
    std::int32_t stage;
    int failedLamp;
    std::vector<QString> boxes; // after "Check whether COM1 port is OK!"
    friend void PrintTo(const StepFailure& c, std::ostream* out) { *out << c.name; }
};

class StepFails : public FlashJob, public testing::WithParamInterface<StepFailure> {};

TEST_P(StepFails, ShowsItsLampAndBoxAndKeepsThePortOpen) {
    const StepFailure& c = GetParam();
    c.arrange(board);
    script.Answer(PromptKind::OpenHexFile, true, WriteHexFile());
    OpenDialog();
    RunJob();

    EXPECT_EQ(g_stage.load(), c.stage);
    ExpectEndLamps(c.failedLamp);
    ExpectFailedEnd();
    std::vector<QString> boxes{QStringLiteral("Check whether COM1 port is OK!")};
    boxes.insert(boxes.end(), c.boxes.begin(), c.boxes.end());
    EXPECT_EQ(script.Texts(PromptKind::Message), boxes);
    EXPECT_EQ(TargetProfile.Connected.load(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Job, StepFails,
    testing::Values(
        StepFailure{"Erase",
                    [](PtyBoard& b) { b.Mute(3); },
                    StageClearFailed,
                    3,
                    {QStringLiteral("Please Check  if in Boot State or not?")}},
        StepFailure{"Write",
                    [](PtyBoard& b) {
                        b.Session().WithBoard([](Board& chip) { chip.SetStuckByte(0x210, 0x00); });
                    },
                    StageWriteFailed,
                    4,
                    {QStringLiteral("Chip OK?  Writing failed!")}},
        // The file holds no EEPROM data: the only EEPROM write is the run-mode flag.
        StepFailure{"RunMode", [](PtyBoard& b) { b.Mute(5); }, StageWriteFailed, 4, {}}),
    CaseName());

} // namespace

// A file the programmer would refuse or that holds nothing to write, or a log that cannot be
// kept, ends the job as a cancelled file dialog does, with one box, before the board is touched.
namespace {

struct Refusal {
    std::string name;
    const char* file; // in the hostile corpus; null: a good file, with a FIFO named temp.log
    QString reason;   // what the box says after the file's name
    friend void PrintTo(const Refusal& c, std::ostream* out) { *out << c.name; }
};

class FileRefused : public FlashJob, public testing::WithParamInterface<Refusal> {};

} // namespace

TEST_P(FileRefused, BeforeTheEraseWithOneBoxAndThePortKept) {
    const Refusal& c = GetParam();
    QString file = QStringLiteral(TERVIX_HOSTILE_CORPUS "/") + QString::fromLatin1(c.file);
    if (c.file == nullptr) {
        file = WriteHexFile();
        ASSERT_EQ(mkfifo(scratch.File("temp.log").c_str(), 0666), 0);
    }
    script.Answer(PromptKind::OpenHexFile, true, file);
    OpenDialog();
    RunJob();

    EXPECT_EQ(g_stage.load(), StageNoFile);
    ExpectEndLamps(2);
    ExpectFailedEnd();
    const std::vector<QString> boxes = script.Texts(PromptKind::Message);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_TRUE(boxes[1].startsWith(file + QStringLiteral("\n") + c.reason))
        << boxes[1].toStdString();
    EXPECT_TRUE(boxes[1].endsWith(QStringLiteral("The board was not erased or written.")));
    EXPECT_EQ(TargetProfile.Connected.load(), 1);
    const BoardStats stats = board.Session().Stats();
    EXPECT_EQ(stats.RequestsByCommand[BootCode::EraseProgram], 0u);
    EXPECT_EQ(stats.RequestsByCommand[BootCode::WriteProgram], 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Job, FileRefused,
    testing::Values(
        Refusal{"TwoRecordsPerLine", "two_per_line.hex",
                QStringLiteral("Line 2: this line holds a second record")},
        Refusal{"EmptyExtendedLinearAddress", "empty_type_04.hex",
                QStringLiteral("Line 2: an extended linear address record must hold two bytes")},
        Refusal{"NonZeroSegment", "segment_02.hex",
                QStringLiteral("Line 2: extended segment address 1000")},
        Refusal{"DataOnlyInDisabledSpaces", "disabled_spaces_only.hex",
                QStringLiteral("the file holds no data for program memory or data EEPROM")},
        Refusal{"LogIsAFifo", nullptr, QStringLiteral("temp.log cannot be written")}),
    CaseName());

TEST_F(FlashJob, FileWithLoneCarriageReturnsIsWrittenInFull) {
    script.Answer(PromptKind::OpenHexFile, true,
                  QStringLiteral(TERVIX_HOSTILE_CORPUS "/cr_only.hex"));
    OpenDialog();
    RunJob();

    EXPECT_EQ(g_stage.load(), StageDone);
    board.Session().WithBoard([](const Board& b) {
        for (std::uint32_t i = 0; i < 16; ++i) {
            EXPECT_EQ(b.ReadProgramSpace(0x200 + i), i);
            EXPECT_EQ(b.ReadProgramSpace(0x218 + i), 0xA0 + i);
        }
        for (std::uint32_t i = 0; i < 4; ++i) {
            EXPECT_EQ(b.ReadEeprom(0x10 + i), i + 1);
        }
    });
}

namespace {

// The job thread on its own, without the lamp thread that paints over its lamps: what it draws as
// each step succeeds, the stage it has stored when a failure box shows, the Flash button it
// enables only after a success or a failed connection, its result, and the pause before writing.
struct AloneCase {
    std::string name;
    std::function<void(PtyBoard&, PromptScript&, bool& linked)> arrange;
    std::uint32_t result;
    std::int32_t stage;
    const char* lamps; // 1 to 5 at the end: Done, Failed, Off
    friend void PrintTo(const AloneCase& c, std::ostream* out) { *out << c.name; }
};

class JobAlone : public FlashJob, public testing::WithParamInterface<AloneCase> {};

TEST_P(JobAlone, DrawsEachStepStoresTheStageBeforeItsBoxAndEnablesFlashOnlyWhenDone) {
    const AloneCase& c = GetParam();
    script.Answer(PromptKind::OpenHexFile, true, WriteHexFile());
    c.arrange(board, script, linked);
    script.Hold(PromptKind::Message);
    OpenDialog();
    Control(1001)->setEnabled(false); // as the Flash press leaves it
    const std::uint32_t generation = dialog->Link()->StartJob();
    auto result = std::make_shared<std::atomic<std::uint32_t>>(99);
    auto link = dialog->Link();
    link->StartWorker([link, generation, result] { *result = FlashJobThread(link, generation); });

    std::vector<std::int32_t> stagesAtBoxes;
    bool flashAtBox = false;
    ASSERT_TRUE(WaitUntil([&] {
        if (script.HeldCount() > 0) {
            // The job waits in the box: what it stored before showing it stays put.
            stagesAtBoxes.push_back(g_stage.load());
            flashAtBox = Enabled(1001);
            script.AnswerHeld(true);
        }
        return link->RunningWorkers() == 0;
    }));
    Pump(20);

    EXPECT_EQ(result->load(), c.result);
    EXPECT_EQ(g_stage.load(), c.stage);
    const LampStrip::Pixels strip = link->Strip().Snapshot();
    for (int n = 1; n <= LampCount; ++n) {
        const char lamp = c.lamps[n - 1];
        const std::uint32_t want = lamp == 'D'   ? Shown::Done
                                   : lamp == 'F' ? Shown::Failed
                                                 : Shown::Off;
        EXPECT_EQ(strip.At(23, 25 + 18 * (n - 1)), want) << n;
    }
    std::vector<std::int32_t> boxes;
    if (c.stage != StageConnectFailed) {
        boxes.push_back(StageConnect); // "Check whether COM1 port is OK!"
    }
    if (c.result == 1 || c.result == 3 || c.result == 4) {
        boxes.push_back(c.stage);
    }
    EXPECT_EQ(stagesAtBoxes, boxes);
    EXPECT_EQ(Enabled(1001), c.result == 0 || c.result == 1);
    if (c.result == 1) {
        EXPECT_TRUE(flashAtBox);
    }
    if (c.result == 0) {
        const auto pause = board.FirstRequestAt(2) - board.LastRequestAt(3);
        EXPECT_GE(pause, std::chrono::milliseconds(1000));
        EXPECT_LE(pause, std::chrono::milliseconds(3000));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Job, JobAlone,
    testing::Values(AloneCase{"ConnectFails", [](PtyBoard&, PromptScript&, bool& l) { l = true; },
                              1, StageConnectFailed, "FOOOO"},
                    AloneCase{"NoFile",
                              [](PtyBoard&, PromptScript& s, bool&) {
                                  s.Answer(PromptKind::OpenHexFile, false);
                              },
                              2, StageNoFile, "DOOOO"},
                    AloneCase{"EraseFails", [](PtyBoard& b, PromptScript&, bool&) { b.Mute(3); }, 3,
                              StageClearFailed, "DDOOO"},
                    AloneCase{"WriteFails",
                              [](PtyBoard& b, PromptScript&, bool&) {
                                  b.Session().WithBoard(
                                      [](Board& chip) { chip.SetStuckByte(0x210, 0x00); });
                              },
                              4, StageWriteFailed, "DDDOO"},
                    AloneCase{"Succeeds", [](PtyBoard&, PromptScript&, bool&) {}, 0, StageDone,
                              "DDDDO"}),
    CaseName());

} // namespace
