// The lock on a shared file held by one process at a time, whatever happens to the file's name.

#include "line/SharedFile.h"

#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

// A journal moved away while a process waited for its lock (a rotation, say): the waiter must end
// up holding the file now at the path, or a third process would lock that one beside it.
TEST(FileLock, AFileReplacedWhileWaitingIsLetGoAndTheNewOneLocked) {
    TempFolder folder;
    const std::string path = folder.Create("journal", "");
    auto first = std::make_unique<FileLock>(path, false);
    ASSERT_TRUE(first->Ok());
    std::atomic<bool> waiterHolds = false;
    std::atomic<bool> release = false;
    std::thread waiter([&] {
        const FileLock lock(path, false);
        EXPECT_TRUE(lock.Ok());
        waiterHolds = true;
        while (!release) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100)); // the waiter waits on the old one
    std::filesystem::rename(path, path + ".1");
    folder.Create("journal", "");
    first.reset();
    while (!waiterHolds) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::atomic<bool> thirdHolds = false;
    std::thread third([&] {
        const FileLock lock(path, false);
        thirdHolds = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(thirdHolds) << "two processes held the lock on the journal at once";
    release = true;
    waiter.join();
    third.join();
    EXPECT_TRUE(thirdHolds);
}
