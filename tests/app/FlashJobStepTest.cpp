// Flash jobs whose later steps fail or whose file is refused before the erase, and each step's
// lamp, stage and box in their order.

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

struct StepFailure {
    std::string name;
    std::function<void(PtyBoard&)> arrange;
    std::int32_t stage;
    int failedLamp;
    std::vector<QString> boxes; // after "Check whether COM1 port is OK!"
    bool erases;                // erase requests reach the board
    bool runMode;               // the board's flag at the end
    friend void PrintTo(const StepFailure& c, std::ostream* out) { *out << c.name; }
};

class StepFails : public FlashJob, public testing::WithParamInterface<StepFailure> {};

// The board runs its application when the job starts; it is flagged for boot mode before
// anything is erased, and keeps that flag when a later step fails.
TEST_P(StepFails, ShowsItsLampAndBoxAndKeepsThePortOpen) {
    const StepFailure& c = GetParam();
    board.Session().WithBoard([](Board& b) { b.LoadEeprom(0xFF, 0x00); });
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
    const BoardStats stats = board.Session().Stats();
    EXPECT_EQ(stats.RequestsByCommand[BootCode::EraseProgram] > 0, c.erases);
    EXPECT_EQ(stats.ErasesInRunMode, 0u);
    board.Session().WithBoard([&](const Board& b) { EXPECT_EQ(b.RunMode(), c.runMode); });
}

INSTANTIATE_TEST_SUITE_P(
    Job, StepFails,
    testing::Values(
        // The boot-mode flag is the first EEPROM write; failing it is failing the erase.
        StepFailure{"BootMode",
                    [](PtyBoard& b) { b.Mute(5); },
                    StageClearFailed,
                    3,
                    {QStringLiteral("Please Check  if in Boot State or not?")},
                    false,
                    false},
        StepFailure{"Erase",
                    [](PtyBoard& b) { b.Mute(3); },
                    StageClearFailed,
                    3,
                    {QStringLiteral("Please Check  if in Boot State or not?")},
                    true,
                    false},
        StepFailure{"Write",
                    [](PtyBoard& b) {
                        b.Session().WithBoard([](Board& chip) { chip.SetStuckByte(0x210, 0x00); });
                    },
                    StageWriteFailed,
                    4,
                    {QStringLiteral("Chip OK?  Writing failed!")},
                    true,
                    false},
        // The file holds no EEPROM data: after the boot-mode flag, the only EEPROM write is the
        // run-mode flag (which the board took; only its reply is lost). Its replies come
        // spoilt rather than not at all: a muted board would need the short read time-out
        // through the whole erase and write.
        StepFailure{
            "RunMode", [](PtyBoard& b) { b.Garble(5, 1); }, StageWriteFailed, 4, {}, true, true}),
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
    EXPECT_EQ(stats.RequestsByCommand[BootCode::WriteEeprom], 0u);
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
        Refusal{"LogIsAFifo", nullptr, QStringLiteral("temp.log cannot be written")},
        Refusal{"OnlyARecordOfNoBytes", "zero_count_only.hex",
                QStringLiteral("the file holds no data for program memory or data EEPROM")},
        Refusal{"ProgramBytesThatDisagree", "program_conflict.hex",
                QStringLiteral("Line 2: the bytes for program memory address 0x020A differ from "
                               "those on line 1")},
        Refusal{"EepromBytesThatDisagree", "eeprom_conflict.hex",
                QStringLiteral("Line 4: the bytes for data EEPROM address 0x0012 differ from "
                               "those on line 3")},
        Refusal{"PastTheEndOfProgramMemory", "past_program_end.hex",
                QStringLiteral("Line 2: program memory data at 0x8000 lies past the end of "
                               "program memory at 0x7FFF")},
        Refusal{"PastTheEndThroughAnUpperAddress", "past_64k.hex",
                QStringLiteral("Line 3: program memory data at 0x10000 lies past the end")}),
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
