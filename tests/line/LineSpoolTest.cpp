// A station's spool on the disk: what waits is what was appended and not marked sent, a line
// its writer never finished is passed over and written over, the file starts again empty once
// nothing waits, and processes appending at once lose nothing. The server's address as given.

#include "line/LineSpool.h"
#include "line/LineHttp.h"

#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

SpoolEntry Record(const std::string& id) {
    return {id, "http://127.0.0.1:8470", SpoolKind::Record, 0, {{"id", "bench-3-" + id}}};
}

std::vector<std::string> Waiting(const LineSpool& spool) {
    SpoolContent content;
    std::string why;
    EXPECT_TRUE(spool.Read(content, why)) << why;
    std::vector<std::string> ids;
    for (const SpoolEntry& entry : content.Waiting) {
        ids.push_back(entry.Id);
    }
    return ids;
}

} // namespace

TEST(LineSpoolTest, HoldsWhatWasNotMarkedSentAndEmptiesOnceNothingWaits) {
    TempFolder folder;
    const LineSpool spool(folder.File("line-spool.jsonl"));
    EXPECT_TRUE(Waiting(spool).empty()); // not there yet
    std::string why;
    SpoolEntry used{"b", "http://127.0.0.1:8470", SpoolKind::Used, 17, {{"serial", "1000"}}};
    ASSERT_TRUE(spool.Append({Record("a"), used}, why)) << why;
    ASSERT_TRUE(spool.Append({Record("c")}, why)) << why;
    ASSERT_TRUE(spool.MarkSent({"a"}, why)) << why;
    EXPECT_EQ(Waiting(spool), (std::vector<std::string>{"b", "c"}));
    SpoolContent content;
    ASSERT_TRUE(spool.Read(content, why));
    EXPECT_EQ(content.Waiting[0].Kind, SpoolKind::Used);
    EXPECT_EQ(content.Waiting[0].Reservation, 17);
    EXPECT_EQ(content.Waiting[0].Record["serial"], "1000");
    ASSERT_TRUE(spool.MarkSent({"b", "c"}, why)) << why;
    EXPECT_EQ(folder.Read("line-spool.jsonl"), "");
}

TEST(LineSpoolTest, AnUnfinishedLastLineIsPassedOverAndADamagedOneKept) {
    TempFolder folder;
    const LineSpool spool(folder.File("line-spool.jsonl"));
    std::string why;
    ASSERT_TRUE(spool.Append({Record("a")}, why)) << why;
    // A writer killed in the middle of its line.
    folder.Write("line-spool.jsonl", folder.Read("line-spool.jsonl") + R"({"entry":"x","ur)");
    EXPECT_EQ(Waiting(spool), std::vector<std::string>{"a"});
    ASSERT_TRUE(spool.Append({Record("b")}, why)) << why;
    EXPECT_EQ(Waiting(spool), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(folder.Read("line-spool.jsonl")
                  .find(R"("ur)"
                        "\n"),
              std::string::npos);

    // A whole line that is no entry stays for a person to see, and keeps the file from emptying.
    folder.Write("line-spool.jsonl", folder.Read("line-spool.jsonl") + "{\"entry\":1}\n");
    SpoolContent content;
    ASSERT_TRUE(spool.Read(content, why));
    EXPECT_EQ(content.Damaged, 1u);
    ASSERT_TRUE(spool.MarkSent({"a", "b"}, why)) << why;
    EXPECT_TRUE(Waiting(spool).empty());
    EXPECT_NE(folder.Read("line-spool.jsonl"), "");
}

TEST(LineSpoolTest, WritersAtOnceLoseNothing) {
    TempFolder folder;
    const std::string path = folder.File("line-spool.jsonl");
    constexpr int Writers = 6;
    constexpr int Each = 40;
    std::vector<std::thread> writers;
    for (int w = 0; w < Writers; ++w) {
        writers.emplace_back([&path, w] {
            const LineSpool spool(path);
            std::string why;
            for (int i = 0; i < Each; ++i) {
                const std::string id = std::to_string(w) + "-" + std::to_string(i);
                EXPECT_TRUE(spool.Append({Record(id)}, why)) << why;
                // Every other one sent at once, as a board whose server answers.
                if (i % 2 == 0) {
                    EXPECT_TRUE(spool.MarkSent({id}, why)) << why;
                }
            }
        });
    }
    for (std::thread& writer : writers) {
        writer.join();
    }
    const std::vector<std::string> left = Waiting(LineSpool(path));
    EXPECT_EQ(left.size(), static_cast<std::size_t>(Writers * Each / 2));
    EXPECT_EQ(std::set<std::string>(left.begin(), left.end()).size(), left.size());
}

TEST(LineAddressTest, TakesHttpAndHttpsWithAPortAndAPrefix) {
    struct Case {
        std::string url;
        bool ok;
        bool tls;
        std::string host;
        int port;
        std::string prefix;
    };
    for (const Case& c : std::vector<Case>{
             {"http://127.0.0.1:8470", true, false, "127.0.0.1", 8470, ""},
             {"https://line.example", true, true, "line.example", 443, ""},
             {"http://line.example/tervix/", true, false, "line.example", 80, "/tervix"},
             {"http://[::1]:8470", true, false, "::1", 8470, ""},
             {"line.example:8470", false, false, "", 0, ""},
             {"http://line.example:0", false, false, "", 0, ""},
             {"http://line.example:84x", false, false, "", 0, ""},
             {"http://ann@line.example", false, false, "", 0, ""},
             {"http://", false, false, "", 0, ""},
         }) {
        std::string why;
        const std::optional<LineAddress> address = ParseLineAddress(c.url, why);
        ASSERT_EQ(address.has_value(), c.ok) << c.url << ": " << why;
        if (address) {
            EXPECT_EQ(address->Tls, c.tls) << c.url;
            EXPECT_EQ(address->Host, c.host) << c.url;
            EXPECT_EQ(address->Port, c.port) << c.url;
            EXPECT_EQ(address->Prefix, c.prefix) << c.url;
        } else {
            EXPECT_NE(why.find(c.url), std::string::npos) << why;
        }
    }
}
