// A counter file and its journal shared by threads that each lock it on their own, as parallel
// processes do, and a reservation left by a process that has gone.

#include "line/SerialBook.h"
#include "line/SharedFile.h"

#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

TEST(SerialBook, ParallelReservationsTakeEveryNumberOnce) {
    TempFolder folder;
    const std::string counter = folder.Create("counter", "500\n");
    constexpr int Threads = 4;
    constexpr int Each = 10;
    std::vector<std::vector<std::string>> taken(Threads);
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < Each; ++i) {
                SerialBook book({counter, "", 3});
                std::string value;
                std::string why;
                ASSERT_TRUE(book.Reserve({"host", 1, "COM" + std::to_string(t)}, value, why))
                    << why;
                taken[t].push_back(value);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
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
}

TEST(SerialBook, AReservationOfAProcessThatHasGoneIsSpoiledNotGivenAgain) {
    TempFolder folder;
    const std::string counter = folder.Create("counter", "7\n");
    const pid_t gone = fork();
    if (gone == 0) {
        _exit(0);
    }
    ASSERT_GT(gone, 0);
    waitpid(gone, nullptr, 0);
    std::string value;
    std::string why;
    SerialBook first({counter, "", 1});
    ASSERT_TRUE(first.Reserve({"host", gone, "COM3"}, value, why)) << why;
    EXPECT_EQ(value, "7");

    SerialBook later({counter, "", 1});
    ASSERT_TRUE(later.Reserve({"host", OwnProcessId(), "COM4"}, value, why)) << why;
    EXPECT_EQ(value, "8");
    ASSERT_TRUE(later.End("8", JournalEvent::Released, {"host", OwnProcessId(), "COM4"},
                          "2026-12-07T16:00:00Z", why));
    const auto latest = LatestLines(later.Lines());
    EXPECT_EQ(latest.at("7").Event, JournalEvent::Spoiled);
    EXPECT_EQ(latest.at("8").Event, JournalEvent::Released);
    // Another computer's reservation cannot be judged from here and stays reserved.
    EXPECT_TRUE(later.DeadReservations("elsewhere").empty());
    EXPECT_EQ(later.Next(), "8");
}

TEST(SerialBook, ADamagedJournalStopsReservations) {
    TempFolder folder;
    const std::string counter = folder.Create("counter", "7\n");
    folder.Create("counter.journal", "{\"event\":\"reserved\"\n");
    SerialBook book({counter, "", 1});
    std::string value;
    std::string why;
    EXPECT_FALSE(book.Reserve({"host", 1, "COM3"}, value, why));
    EXPECT_NE(why.find("line 1"), std::string::npos) << why;
    EXPECT_EQ(folder.Read("counter"), "7\n");
}
