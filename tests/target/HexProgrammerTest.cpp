#include "target/HexProgrammer.h"
#include "link/BootCommands.h"
#include "link/Packet.h"
#include "target/HexRecord.h"
#include "target/TargetProfile.h"
#include "tests/target/TargetFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <map>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

std::vector<std::uint8_t> Counting(std::size_t n, std::uint8_t from) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) {
        v[i] = static_cast<std::uint8_t>(from + i);
    }
    return v;
}

std::int32_t ProgramFile(const std::string& path) {
    return ProgramHexFile(path.c_str(), TargetProfile.WriteBlock, TargetProfile.AddressUnit,
                          BootCode::WriteProgram);
}

class HexProgrammerTest : public BoardTest {
protected:
    std::uint64_t AllRequests() const { return board_->Stats().Requests(); }
};

TEST_F(HexProgrammerTest, EmptyAndEndOnlyFiles) {
    ProgressTotal = 7;
    EXPECT_EQ(ProgramFile(folder_->Create("empty.hex", "")), 0);
    EXPECT_EQ(ProgressTotal, 0);
    EXPECT_TRUE(std::filesystem::exists(folder_->File(ProgramLogName)));
    EXPECT_EQ(folder_->Read(ProgramLogName), "");
    EXPECT_EQ(ProgramFile(folder_->Create("end.hex", HexEnd)), 1);
    EXPECT_EQ(AllRequests(), 0u);
    EXPECT_EQ(ProgramFile("missing.hex"), ProgramResult::FileError);
}

TEST_F(HexProgrammerTest, StraddlingRecordIsLoggedAndWrittenAsTwoRows) {
    const std::string path = folder_->Create(
        "a.hex", HexLine(HexType::Data, 0x0208, Counting(16, 0x10)) + "\n" + HexEnd);
    EXPECT_EQ(ProgramFile(path), 2);
    EXPECT_EQ(ProgressTotal, 3);
    EXPECT_EQ(ProgressCount, 2);
    EXPECT_EQ(folder_->Read(ProgramLogName),
              " 0200  FF FF FF FF FF FF FF FF 10 11 12 13 14 15 16 17\n"
              " 0210  18 19 1A 1B 1C 1D 1E 1F FF FF FF FF FF FF FF FF\n");
    EXPECT_EQ(Requests(BootCode::WriteProgram), 2u);
    EXPECT_EQ(Requests(BootCode::ReadProgram), 2u);
    for (std::uint32_t a = 0x200; a < 0x220; ++a) {
        const bool supplied = a >= 0x208 && a < 0x218;
        EXPECT_EQ(Program(a), supplied ? 0x10 + (a - 0x208) : 0xFF) << std::hex << a;
    }
}

// Records that share a row each send the whole row padded with 0xFF; flash keeps the bits that
// the other record cleared, and EEPROM must not lose the other record's bytes. The read-back
// must not take the other record's bytes for a fault either.
TEST_F(HexProgrammerTest, BoardHoldsTheFileImageWhereRecordsShareRows) {
    std::map<std::uint32_t, std::uint8_t> program;
    std::map<std::uint32_t, std::uint8_t> eeprom;
    std::string text;
    auto add = [&](std::map<std::uint32_t, std::uint8_t>& image, std::uint16_t offset,
                   std::vector<std::uint8_t> data) {
        text += HexLine(HexType::Data, offset, data);
        for (std::size_t i = 0; i < data.size(); ++i) {
            image[offset + static_cast<std::uint32_t>(i)] = data[i];
        }
    };
    add(program, 0x0300, Counting(4, 0xA0));
    add(program, 0x0308, Counting(12, 0xB0));
    add(program, 0x0304, Counting(4, 0x00));
    add(program, 0x7FF8, Counting(8, 0x40));
    text += HexLine(HexType::ExtendedLinear, 0, {0x00, 0xF0});
    add(eeprom, 0x0010, Counting(3, 0x11));
    add(eeprom, 0x0018, Counting(8, 0x21));
    add(eeprom, 0x0014, Counting(2, 0x31));
    text += HexEnd;

    EXPECT_EQ(ProgramFile(folder_->Create("image.hex", text)), 9);
    // One read-back per row: no padding position was taken for a mismatch.
    EXPECT_EQ(Requests(BootCode::WriteProgram), 5u);
    EXPECT_EQ(Requests(BootCode::ReadProgram), 5u);
    EXPECT_EQ(Requests(BootCode::WriteEeprom), 3u);
    EXPECT_EQ(Requests(BootCode::ReadEeprom), 3u);
    for (std::uint32_t a = 0; a < 0x8000; ++a) {
        const std::uint8_t expected = a < 0x200             ? Board::BootBlockByte(a)
                                      : program.contains(a) ? program[a]
                                                            : 0xFF;
        ASSERT_EQ(Program(a), expected) << std::hex << a;
    }
    for (std::uint32_t a = 0; a < 0x100; ++a) {
        ASSERT_EQ(Eeprom(a), eeprom.contains(a) ? eeprom[a] : 0xFF) << std::hex << a;
    }
    // The log shows EEPROM rows whole, padding included.
    EXPECT_NE(folder_->Read(ProgramLogName)
                  .find(" 0010  11 12 13 FF FF FF FF FF FF FF FF FF FF FF FF FF\n"),
              std::string::npos);
}

TEST_F(HexProgrammerTest, ReadBackComparesOnlyTheRecordsBytes) {
    board_->WithBoard([](Board& b) {
        b.SetStuckByte(0x0400, 0x00); // padding of the first record
        b.SetStuckByte(0x0418, 0x00); // a byte of the second
    });
    const std::string path =
        folder_->Create("a.hex", HexLine(HexType::Data, 0x0404, Counting(4, 1)) +
                                     HexLine(HexType::Data, 0x0410, Counting(16, 1)) + HexEnd);
    EXPECT_EQ(ProgramFile(path), BootResult::VerifyMismatch);
    EXPECT_EQ(ProgressCount, 1);
    // The second row was read back twice, the first once.
    EXPECT_EQ(Requests(BootCode::WriteProgram), 2u);
    EXPECT_EQ(Requests(BootCode::ReadProgram), 3u);
}

TEST_F(HexProgrammerTest, BootBlockIsGuardedEvenWithProgramMemoryDisabled) {
    const std::string path =
        folder_->Create("a.hex", HexLine(HexType::Data, 0x0200, Counting(8, 1)) +
                                     HexLine(HexType::Data, 0x01F8, Counting(16, 1)) + HexEnd);
    EXPECT_EQ(ProgramFile(path), ProgramResult::BelowBootBlock);
    EXPECT_EQ(Requests(BootCode::WriteProgram), 1u);
    EXPECT_EQ(folder_->Read(ProgramLogName).size(), 55u); // the first row's line alone

    TargetProfile.ProgramEnable = 0;
    EXPECT_EQ(ProgramFile(path), ProgramResult::BelowBootBlock);
    EXPECT_EQ(Requests(BootCode::WriteProgram), 1u);
    EXPECT_EQ(folder_->Read(ProgramLogName), "");
}

TEST_F(HexProgrammerTest, DisabledAndUnknownSpacesAreSkippedSilently) {
    std::string text;
    for (int upper : {0x20, 0x30, 0x21, 0xF1}) {
        text += HexLine(HexType::ExtendedLinear, 0, {0x00, static_cast<std::uint8_t>(upper)});
        text += HexLine(HexType::Data, 0x0000, Counting(8, 1));
    }
    EXPECT_EQ(ProgramFile(folder_->Create("a.hex", text + HexEnd)), 9);
    EXPECT_EQ(AllRequests(), 0u);
    EXPECT_EQ(folder_->Read(ProgramLogName), "");
}

// Whatever is wrong with a record, nothing of it is sent, and the rows before it stay written.
TEST_F(HexProgrammerTest, FaultyRecordsEndTheRunBeforeAnythingOfThemIsSent) {
    const std::string good = HexLine(HexType::Data, 0x0200, Counting(8, 1));
    std::string badChecksum = HexLine(HexType::Data, 0x0210, Counting(8, 1));
    badChecksum[badChecksum.size() - 2] ^= 1;
    std::string notHex = HexLine(HexType::Data, 0x0210, Counting(8, 1));
    notHex[12] = 'G';
    std::string overflow = HexLine(HexType::Data, 0x021F, Counting(18, 1));
    std::string cut = HexLine(HexType::Data, 0x0210, Counting(8, 1));
    cut.resize(cut.size() - 4);
    const std::string next = HexLine(HexType::Data, 0x0210, Counting(8, 1));
    const std::string goodWithoutLineEnd = good.substr(0, good.size() - 1);
    const struct {
        const char* name;
        std::string text;
        std::int32_t result;
    } cases[] = {
        {"checksum", good + badChecksum + HexEnd, ProgramResult::BadRecord},
        {"digit", good + notHex + HexEnd, ProgramResult::BadRecord},
        {"overflow", good + overflow + HexEnd, ProgramResult::BadRecord},
        {"cut short", good + cut, ProgramResult::BadRecord},
        {"type 06", good + HexLine(0x06, 0x0210, Counting(8, 1)) + HexEnd,
         ProgramResult::BadRecord},
        {"type FF", good + HexLine(0xFF, 0x0000, {}) + HexEnd, ProgramResult::BadRecord},
        // The pass reads as many records as the file has lines.
        {"second record on a line", goodWithoutLineEnd + next, ProgramResult::BadRecord},
        // An upper address read from the row buffer's padding would misplace what follows.
        {"empty type 04", good + ":00000004FC\n" + next + HexEnd, ProgramResult::BadRecord},
        {"type 04 off its row start",
         good + HexLine(HexType::ExtendedLinear, 0x0001, {0x00, 0x00}) + next + HexEnd,
         ProgramResult::BadRecord},
        {"one-byte type 04", good + HexLine(HexType::ExtendedLinear, 0, {0x00}) + next + HexEnd,
         ProgramResult::BadRecord},
        {"segment 1000", good + HexLine(HexType::ExtendedSegment, 0, {0x10, 0x00}) + next + HexEnd,
         ProgramResult::BadRecord},
        {"empty type 02", good + HexLine(HexType::ExtendedSegment, 0, {}) + next + HexEnd,
         ProgramResult::BadRecord},
        {"EEPROM end",
         good + HexLine(HexType::ExtendedLinear, 0, {0x00, 0xF0}) +
             HexLine(HexType::Data, 0x00F8, Counting(9, 1)) + HexEnd,
         ProgramResult::EepromOverrun},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::uint64_t before = AllRequests();
        EXPECT_EQ(ProgramFile(folder_->Create("bad.hex", c.text)), c.result);
        EXPECT_EQ(AllRequests() - before, 2u); // the good row's write and read-back
        EXPECT_EQ(ProgressCount, c.name == std::string("EEPROM end") ? 2 : 1);
        EXPECT_EQ(Program(0x0200), 0x01);
    }
}

TEST_F(HexProgrammerTest, ReaderSkipsTextAndStopsAtTheEndRecord) {
    std::string row = HexLine(HexType::Data, 0x0200, Counting(16, 0xC1));
    for (char& c : row) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    // Segment 0 and the start addresses change nothing.
    const std::string ignored = HexLine(HexType::ExtendedSegment, 0, {0x00, 0x00}) +
                                HexLine(HexType::StartSegment, 0, {0x00, 0x00, 0x12, 0x34}) +
                                HexLine(HexType::StartLinear, 0, {0x00, 0x00, 0x02, 0x00});
    const std::string text = "; comment\n\n   " + row + "not a record\n" + ignored + HexEnd +
                             HexLine(0x06, 0x0300, {1}) + ":zz garbage\n";
    EXPECT_EQ(ProgramFile(folder_->Create("a.hex", text)), 5);
    EXPECT_EQ(ProgressTotal, 10);
    EXPECT_EQ(Program(0x020F), 0xD0);

    // Without an end record the pass ends with the file.
    EXPECT_EQ(ProgramFile(folder_->Create("b.hex", "junk\n" + row + "\n\n")), 1);
}

// A lone CR, a LF and a CRLF each end one line, so a file from any system is written in full.
TEST_F(HexProgrammerTest, EveryKindOfLineEndEndsOneLine) {
    std::string text;
    for (std::uint16_t offset = 0x0200; offset < 0x0240; offset += 0x10) {
        text += HexLine(HexType::Data, offset, Counting(16, static_cast<std::uint8_t>(offset)));
    }
    text += HexEnd;
    std::string crOnly = text;
    std::replace(crOnly.begin(), crOnly.end(), '\n', '\r');
    EXPECT_EQ(ProgramFile(folder_->Create("cr.hex", crOnly)), 5);
    EXPECT_EQ(ProgressTotal, 5);
    EXPECT_EQ(Program(0x023F), 0x3F);

    const std::string mixed = "a\r\nb\rc\n\r\r\nd";
    EXPECT_EQ(ProgramFile(folder_->Create("mixed.hex", mixed)), 0);
    EXPECT_EQ(ProgressTotal, 6);
}

// Whatever stands under the log's name, other than the log of an earlier run, is refused at once:
// nothing is sent and the other name keeps its content.
TEST_F(HexProgrammerTest, LogNameHoldingAnythingButAPlainFileIsRefused) {
    const std::string path =
        folder_->Create("a.hex", HexLine(HexType::Data, 0x0200, Counting(16, 1)) + HexEnd);
    const std::string log = folder_->File(ProgramLogName);
    const struct {
        const char* name;
        std::function<bool()> plant; // false: the test cannot make it here
        std::filesystem::file_type left;
    } cases[] = {
        {"link",
         [&] {
             return symlink(folder_->Create("victim.txt", "keep me\n").c_str(), log.c_str()) == 0;
         },
         std::filesystem::file_type::symlink},
        {"second hard link",
         [&] { return link(folder_->Create("victim.txt", "keep me\n").c_str(), log.c_str()) == 0; },
         std::filesystem::file_type::regular},
        {"FIFO", [&] { return mkfifo(log.c_str(), 0666) == 0; }, std::filesystem::file_type::fifo},
        {"device", [&] { return mknod(log.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0; },
         std::filesystem::file_type::character},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(log);
        std::filesystem::remove(folder_->File("victim.txt"));
        if (!c.plant()) {
            // Only root may make a device node; CI runs as root.
            if (errno != EPERM) {
                ADD_FAILURE() << "cannot plant it: " << std::strerror(errno);
            }
            continue;
        }
        auto run = std::async(std::launch::async, [&] { return ProgramFile(path); });
        if (run.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            ADD_FAILURE() << "the run blocked on the log";
            // A reader lets a blocked open of a FIFO go on.
            close(open(log.c_str(), O_RDONLY | O_NONBLOCK));
        }
        EXPECT_EQ(run.get(), ProgramResult::FileError);
        EXPECT_EQ(AllRequests(), 0u);
        EXPECT_EQ(std::filesystem::symlink_status(log).type(), c.left);
        if (std::filesystem::exists(folder_->File("victim.txt"))) {
            EXPECT_EQ(folder_->Read("victim.txt"), "keep me\n");
        }
    }
    std::filesystem::remove(log);
    // The log of an earlier run is replaced.
    folder_->Create(ProgramLogName, "old line\n");
    EXPECT_EQ(ProgramFile(path), 2);
    EXPECT_EQ(folder_->Read(ProgramLogName),
              " 0200  01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10\n");
}

// The wire traffic of a row: write, read-back, and one repeat of the read-back when it fails.
TEST(HexProgrammerLineTest, FailedReadBackIsRepeatedOnce) {
    LoadDefaults();
    TargetProfile.Retries = 2;
    WorkingFolder folder;
    const std::string path =
        folder.Create("a.hex", HexLine(HexType::Data, 0x0200, Counting(16, 1)) +
                                   HexLine(HexType::Data, 0x0210, Counting(16, 1)) + HexEnd);
    auto commands = [](const std::vector<Bytes>& requests) {
        Bytes codes;
        for (const Bytes& r : requests) {
            codes.push_back(r[0]);
        }
        return codes;
    };

    int lost = 2; // one whole read-back of the first row
    LineBoard once([&](const Bytes& r) { return r[0] == BootCode::ReadProgram && lost-- > 0; });
    EXPECT_EQ(ProgramFile(path), 3);
    EXPECT_EQ(commands(once.line.port->Requests()), (Bytes{2, 1, 1, 1, 2, 1}));

    LineBoard never([](const Bytes& r) { return r[0] == BootCode::ReadProgram; });
    EXPECT_EQ(ProgramFile(path), PacketResult::NoAttemptsLeft);
    EXPECT_EQ(commands(never.line.port->Requests()), (Bytes{2, 1, 1, 1, 1}));

    // A row whose write fails keeps its log line.
    LineBoard writeLost([](const Bytes& r) { return r[0] == BootCode::WriteProgram; });
    EXPECT_EQ(ProgramFile(path), PacketResult::NoAttemptsLeft);
    EXPECT_EQ(commands(writeLost.line.port->Requests()), (Bytes{2, 2}));
    EXPECT_EQ(folder.Read(ProgramLogName),
              " 0200  01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10\n");

    // The row under way when a run stops is the one it names.
    int writes = 0;
    LineBoard second(
        [&](const Bytes& r) { return r[0] == BootCode::WriteProgram && ++writes > 1; });
    ImageFailure rows;
    EXPECT_EQ(ProgramHexFile(path.c_str(), TargetProfile.WriteBlock, TargetProfile.AddressUnit,
                             BootCode::WriteProgram, rows),
              PacketResult::NoAttemptsLeft);
    EXPECT_EQ(rows.Space, HexSpace::Program);
    EXPECT_EQ(rows.Address, 0x210u);
    EXPECT_EQ(rows.LoggedRows, 2u);

    // A read-back that brings no data has confirmed nothing.
    AttachedPort empty = AttachMemoryPort(200);
    empty.port->SetResponder([](const Bytes& r) { return Frame(Bytes(r.begin(), r.begin() + 5)); });
    TargetProfile.PortHandle = empty.handle;
    EXPECT_EQ(ProgramFile(path), BootResult::VerifyMismatch);
    EXPECT_EQ(commands(empty.port->Requests()), (Bytes{2, 1, 1}));
    CloseComPort(empty.handle);
    LoadDefaults();
}

} // namespace
