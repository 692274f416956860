// A counter file and its journal shared by threads that each lock it on their own, as parallel
// processes do; reservations left by processes that have gone; a journal torn or damaged, its
// checkpoint lost or stale, and writes that fail half way.

#include "line/SerialBook.h"
#include "line/SharedFile.h"

#include "tests/support/CaseName.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <thread>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const SerialOwner Here{"host", 1, "COM3"};

std::string Reserved(SerialBook& book, const SerialOwner& owner = Here) {
    std::string value;
    std::string why;
    EXPECT_TRUE(book.Reserve(owner, value, why)) << why;
    return value;
}

// Every file of the folder and its content.
std::map<std::string, std::string> Files(const TempFolder& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder.Path())) {
        const std::string name = entry.path().filename().string();
        files[name] = folder.Read(name);
    }
    return files;
}

pid_t GoneProcess() {
    const pid_t gone = fork();
    if (gone == 0) {
        _exit(0);
    }
    waitpid(gone, nullptr, 0);
    return gone;
}

} // namespace

// Files beside the counter deleted over and over meanwhile, as a cleaning script might: a lock
// file an earlier version left, and the checkpoint, which every reservation that finds it gone
// rebuilds from the journal. The lock is on the journal itself.
TEST(SerialBook, ParallelReservationsTakeEveryNumberOnceThoughFilesBesideItAreDeleted) {
    TempFolder folder;
    const std::string counter = folder.File("counter");
    std::string why;
    ASSERT_TRUE(SerialBook({counter, "", 3}).Init(500, Here, why)) << why;
    constexpr int Threads = 4;
    constexpr int Each = 20;
    std::atomic<bool> done = false;
    std::thread deleter([&] {
        while (!done) {
            std::filesystem::remove(counter + ".lock");
            std::filesystem::remove(CheckpointPathOf(counter));
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    std::vector<std::vector<std::string>> taken(Threads);
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < Each; ++i) {
                SerialBook book({counter, "", 3});
                taken[t].push_back(Reserved(book, {"host", 1, "COM" + std::to_string(t)}));
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    done = true;
    deleter.join();
    std::set<std::string> all;
    for (const auto& values : taken) {
        all.insert(values.begin(), values.end());
    }
    std::set<std::string> expected;
    for (int i = 0; i < Threads * Each; ++i) {
        expected.insert(std::to_string(500 + 3 * i));
    }
    EXPECT_EQ(all, expected);
    EXPECT_EQ(folder.Read("counter"), std::to_string(500 + 3 * Threads * Each) + "\n");
    SerialBook book({counter, "", 3});
    ASSERT_TRUE(book.LoadLocked(why)) << why;
    EXPECT_EQ(book.State().Lines, 1u + Threads * Each);
}

TEST(SerialBook, AReservationOfAProcessThatHasGoneIsSpoiledNotGivenAgain) {
    TempFolder folder;
    const std::string counter = folder.Create("counter", "7\n");
    const pid_t gone = GoneProcess();
    ASSERT_GT(gone, 0);
    SerialBook first({counter, "", 1});
    EXPECT_EQ(Reserved(first, {"host", gone, "COM3"}), "7");
    // Another computer's process of the same id cannot be judged from here: still running there.
    SerialBook elsewhere({counter, "", 1});
    EXPECT_EQ(Reserved(elsewhere, {"elsewhere", gone, "COM5"}), "8");

    SerialBook later({counter, "", 1});
    EXPECT_EQ(Reserved(later, {"host", OwnProcessId(), "COM4"}), "9");
    std::string why;
    ASSERT_TRUE(later.End("9", JournalEvent::Released, {"host", OwnProcessId(), "COM4"},
                          "2026-12-07T16:00:00Z", why));
    const JournalState& state = later.State();
    EXPECT_EQ(state.Reserved.count("7"), 0u) << "spoiled";
    ASSERT_EQ(state.Reserved.count("8"), 1u) << "another computer's reservation was spoiled";
    EXPECT_EQ(state.Reserved.at("8").Host, "elsewhere");
    EXPECT_EQ(later.Next(), "9");
    std::map<std::string, std::string> latest;
    ASSERT_TRUE(later.Survey(
        [&latest](const JournalLine& line) { latest[line.Serial] = line.Event; }, why));
    EXPECT_EQ(latest, (std::map<std::string, std::string>{
                          {"7", "spoiled"}, {"8", "reserved"}, {"9", "released"}}));
}

// Only a list's journal tells which of its values are on boards: without it the list would
// start again from its first value.
TEST(SerialBook, AListNeedsItsOwnJournal) {
    TempFolder folder;
    const std::string list = folder.Create("list", "A1\nA2\n");
    SerialBook bare({"", list, 1});
    std::string value;
    std::string why;
    EXPECT_FALSE(bare.Reserve(Here, value, why));
    EXPECT_NE(why.find("list has no journal"), std::string::npos) << why;
    ASSERT_TRUE(bare.Init(std::nullopt, Here, why)) << why;
    EXPECT_FALSE(bare.Init(std::nullopt, Here, why));
    EXPECT_NE(why.find("list.journal exists already"), std::string::npos) << why;

    SerialBook book({"", list, 1});
    EXPECT_EQ(Reserved(book), "A1");
    ASSERT_TRUE(book.End("A1", JournalEvent::Used, Here, "2026-12-07T16:00:00Z", why)) << why;
    EXPECT_EQ(Reserved(book), "A2");
    EXPECT_FALSE(book.Reserve(Here, value, why));
    EXPECT_NE(why.find("is left: 1 used, 1 reserved, 0 spoiled, 0 kept of 2"), std::string::npos)
        << why;

    const std::string counter = folder.Create("counter", "7\n");
    folder.Write("counter.journal", folder.Read("list.journal"));
    SerialBook wrong({counter, "", 1});
    EXPECT_FALSE(wrong.Reserve(Here, value, why));
    EXPECT_NE(why.find("counter.journal is the journal of a list"), std::string::npos) << why;

    // A journal from before the kind was recorded is read as it is.
    const std::string old = folder.Create("old", "B1\nB2\n");
    const std::string journal = folder.Read("list.journal");
    folder.Write("old.journal", journal.substr(journal.find('\n') + 1));
    SerialBook earlier({"", old, 1});
    ASSERT_TRUE(earlier.LoadLocked(why)) << why;
    EXPECT_EQ(earlier.State().Kind, "");
    EXPECT_EQ(Reserved(earlier), "B1");
}

namespace {

// A counter after one reservation, 7, and its checkpoint, with text added to its journal as a
// crash or a fault left it.
struct Tail {
    std::string name;
    std::string text;
    std::string refused; // the line a reservation names in its refusal; none: the line is torn
};

class JournalTail : public testing::TestWithParam<Tail> {
protected:
    void SetUp() override {
        SerialBook first({counter_, "", 1});
        EXPECT_EQ(Reserved(first), "7");
        whole_ = folder_.Read("counter.journal");
        ASSERT_TRUE(folder_.Write("counter.journal", whole_ + GetParam().text));
    }

    TempFolder folder_;
    const std::string counter_ = folder_.Create("counter", "7\n");
    std::string whole_; // the journal before the text
};

class TornLastLine : public JournalTail {};
class DamagedJournal : public JournalTail {};

} // namespace

// The writer of the last line stopped in the middle of it and never heard that it was written:
// its number was never relied on, so the line is left out and the next change written over it.
TEST_P(TornLastLine, IsLeftOutAndWrittenOver) {
    SerialBook next({counter_, "", 1});
    std::string why;
    ASSERT_TRUE(next.LoadLocked(why)) << why;
    EXPECT_NE(next.Warning().find("counter.journal line 2 was never finished"), std::string::npos)
        << next.Warning();
    EXPECT_EQ(next.Next(), "8");
    EXPECT_EQ(Reserved(next), "8");
    const std::string after = folder_.Read("counter.journal");
    ASSERT_EQ(after.substr(0, whole_.size()), whole_);
    EXPECT_EQ(after.find('\n', whole_.size()), after.size() - 1) << after;

    SerialBook again({counter_, "", 1});
    ASSERT_TRUE(again.LoadLocked(why)) << why;
    EXPECT_EQ(again.Warning(), "");
    EXPECT_EQ(again.State().Lines, 2u);
    EXPECT_EQ(again.Next(), "9");
}

INSTANTIATE_TEST_SUITE_P(
    Journal, TornLastLine,
    testing::Values(Tail{"CutInAString", R"({"time":"2026-12-07T16:00:00Z","event":"res)", ""},
                    // Only the line end was lost: still never relied on.
                    Tail{"LineEndLost",
                         R"({"time":"2026-12-07T16:00:00Z","event":"reserved","serial":"40",)"
                         R"("port":"COM9","host":"host","pid":1,"record_time":null})",
                         ""}),
    CaseName());

TEST_P(DamagedJournal, StopsReservationsNamingTheLine) {
    const auto before = Files(folder_);
    SerialBook book({counter_, "", 1});
    std::string value;
    std::string why;
    EXPECT_FALSE(book.Reserve(Here, value, why));
    EXPECT_NE(why.find("counter.journal " + GetParam().refused + " "), std::string::npos) << why;
    EXPECT_EQ(Files(folder_), before);
}

INSTANTIATE_TEST_SUITE_P(
    Journal, DamagedJournal,
    testing::Values(Tail{"NotJson", "{\"event\":\"reserved\"\n", "line 2"},
                    Tail{"InTheMiddle",
                         "\n{\"time\":\"t\"}\n{\"time\":\"t\",\"event\":\"used\",\"serial\":"
                         "\"7\",\"port\":\"\",\"host\":\"h\",\"pid\":1}\n",
                         "line 3"},
                    Tail{"BeforeATornLine", "garbage\n{\"time\":", "line 2"}),
    CaseName());

// A history of reservations, releases and uses; the checkpoint then lost, damaged, left behind or
// taken from another journal. What a reservation sees must be what the whole journal says.
TEST(SerialBook, TheCheckpointIsRebuiltFromTheJournalWhenItDoesNotFit) {
    TempFolder other;
    const std::string otherCounter = other.Create("counter", "500\n");
    SerialBook otherBook({otherCounter, "", 1});
    EXPECT_EQ(Reserved(otherBook), "500");

    TempFolder folder;
    const std::string counter = folder.Create("counter", "100\n");
    std::string early;
    std::string why;
    for (int board = 0; board < 12; ++board) {
        SerialBook book({counter, "", 1});
        const std::string value = Reserved(book);
        ASSERT_TRUE(book.End(value, board % 3 == 0 ? JournalEvent::Released : JournalEvent::Used,
                             Here, "2026-12-07T16:00:00Z", why))
            << why;
        if (board == 1) {
            early = folder.Read("counter.checkpoint");
        }
    }
    SerialBook open({counter, "", 1});
    EXPECT_EQ(Reserved(open), "108");
    // Its size follows the numbers still open, not the history.
    EXPECT_LT(folder.Read("counter.checkpoint").size(), early.size() + 200);
    SerialBook failed({counter, "", 1});
    EXPECT_EQ(Reserved(failed), "109");
    ASSERT_TRUE(failed.End("109", JournalEvent::Released, Here, "2026-12-07T16:00:00Z", why));

    SerialBook whole({counter, "", 1});
    ASSERT_TRUE(whole.Survey(nullptr, why)) << why;
    const JournalState& expected = whole.State();
    ASSERT_EQ(expected.Released, (std::set<std::string>{"109"}));
    ASSERT_EQ(expected.Reserved.size(), 1u);
    const std::string journal = folder.Read("counter.journal");
    for (const auto& [name, checkpoint] : std::vector<std::pair<std::string, std::string>>{
             {"Fits", folder.Read("counter.checkpoint")},
             {"Missing", ""},
             {"Damaged", "{\"journal_bytes\":"},
             {"Behind", early},
             {"FromAnotherJournal", other.Read("counter.checkpoint")}}) {
        std::filesystem::remove(CheckpointPathOf(counter));
        if (!checkpoint.empty()) {
            folder.Write("counter.checkpoint", checkpoint);
        }
        SerialBook book({counter, "", 1});
        ASSERT_TRUE(book.LoadLocked(why)) << name << ": " << why;
        const JournalState& state = book.State();
        EXPECT_EQ(state.Lines, expected.Lines) << name;
        EXPECT_EQ(state.Highest, expected.Highest) << name;
        EXPECT_EQ(state.Released, expected.Released) << name;
        EXPECT_EQ(state.Reserved.size(), expected.Reserved.size()) << name;
        EXPECT_EQ(state.Reserved.begin()->first, expected.Reserved.begin()->first) << name;
        EXPECT_EQ(book.Next(), "109") << name;
        EXPECT_EQ(folder.Read("counter.journal"), journal) << name;
    }
    // The next change leaves a checkpoint that fits the journal again.
    SerialBook book({counter, "", 1});
    EXPECT_EQ(Reserved(book), "109");
    const auto checkpoint = ParseCheckpoint(folder.Read("counter.checkpoint"));
    ASSERT_TRUE(checkpoint);
    EXPECT_EQ(checkpoint->Bytes, folder.Read("counter.journal").size());
}

namespace {

struct FailedWrite {
    std::string name;
    // Run in a child whose files may not grow past limit bytes (a full disk, in effect); says
    // whether the write succeeded.
    std::function<bool(const std::string& counter)> write;
    rlim_t limit;
};

class WriteThatFails : public testing::TestWithParam<FailedWrite> {};

} // namespace

TEST_P(WriteThatFails, LeavesTheOldContentAndNoNewFile) {
    TempFolder folder;
    const std::string counter = folder.Create("counter", "7\n");
    SerialBook first({counter, "", 1});
    EXPECT_EQ(Reserved(first), "7");
    const auto before = Files(folder);

    const pid_t child = fork();
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN); // the write fails instead of ending the process
        const rlimit limit{GetParam().limit, GetParam().limit};
        setrlimit(RLIMIT_FSIZE, &limit);
        _exit(GetParam().write(counter) ? 0 : 1);
    }
    ASSERT_GT(child, 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1) << "the write did not fail";
    EXPECT_EQ(Files(folder), before);
}

INSTANTIATE_TEST_SUITE_P(SharedFile, WriteThatFails,
                         testing::Values(FailedWrite{"JournalLine",
                                                     [](const std::string& counter) {
                                                         SerialBook book({counter, "", 1});
                                                         std::string value;
                                                         std::string why;
                                                         return book.Reserve(Here, value, why);
                                                     },
                                                     // The journal's one line and some of the next.
                                                     200},
                                         FailedWrite{"Counter",
                                                     [](const std::string& counter) {
                                                         return ReplaceFileDurably(counter,
                                                                                   "123456789\n");
                                                     },
                                                     4}),
                         CaseName());
