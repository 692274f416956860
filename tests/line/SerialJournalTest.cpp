// Which number comes next after what the journal says, and the journal's own lines.

#include "line/SerialJournal.h"

#include "tests/support/CaseName.h"

#include <gtest/gtest.h>

namespace {

JournalLine Line(const char* event, const std::string& serial) {
    return {"2026-12-07T16:00:00Z", event, serial, "COM3", "line-3", 77, ""};
}

struct CounterCase {
    std::string name;
    std::uint64_t counter;
    std::uint64_t step;
    std::vector<JournalLine> lines;
    std::optional<std::uint64_t> next;
};

class NextCounter : public testing::TestWithParam<CounterCase> {};

} // namespace

TEST_P(NextCounter, GivesNoNumberTwice) {
    const CounterCase& c = GetParam();
    EXPECT_EQ(NextCounterValue(c.counter, c.step, c.lines), c.next);
}

INSTANTIATE_TEST_SUITE_P(
    Journal, NextCounter,
    testing::Values(
        CounterCase{"EmptyJournalTakesTheCounter", 1000, 1, {}, 1000},
        CounterCase{"ReleasedNumberGoesFirst",
                    1003,
                    1,
                    {Line("reserved", "1001"), Line("reserved", "1002"), Line("released", "1002"),
                     Line("released", "1001")},
                    1001},
        CounterCase{"ReleasedThenTakenAgainIsGone",
                    1002,
                    1,
                    {Line("reserved", "1001"), Line("released", "1001"), Line("reserved", "1001")},
                    1002},
        // A power cut between the journal and the counter: the counter still says 1003.
        CounterCase{"CounterBehindTheJournal",
                    1003,
                    10,
                    {Line("reserved", "1003"), Line("used", "1003"), Line("reserved", "1013")},
                    1023},
        CounterCase{"SpoiledAndUsedAreNeverGiven",
                    1000,
                    1,
                    {Line("reserved", "1000"), Line("spoiled", "1000"), Line("reserved", "1001"),
                     Line("used", "1001")},
                    1002},
        CounterCase{"RunsOutOfSixtyFourBits",
                    UINT64_MAX - 1,
                    2,
                    {Line("reserved", std::to_string(UINT64_MAX - 1))},
                    std::nullopt}),
    CaseName());

TEST(NextList, TakesTheFirstFreeValueInTheListsOrder) {
    const std::vector<std::string> list = {"A1", "A2", "A3"};
    EXPECT_EQ(NextListValue(list, {}), "A1");
    EXPECT_EQ(NextListValue(list, {Line("reserved", "A1"), Line("used", "A1")}), "A2");
    EXPECT_EQ(NextListValue(
                  list, {Line("reserved", "A1"), Line("reserved", "A2"), Line("released", "A1")}),
              "A1");
    EXPECT_EQ(NextListValue(list, {Line("reserved", "A1"), Line("spoiled", "A1"),
                                   Line("used", "A2"), Line("reserved", "A3")}),
              std::nullopt);
}

TEST(JournalLines, ReadBackAsWrittenAndDamageIsNamed) {
    JournalLine used = Line("used", "1001");
    used.RecordTime = "2026-12-07T16:00:01Z";
    const std::string text =
        JournalLineText(Line("reserved", "1001")) + "\n" + JournalLineText(used) + "\n";
    std::string why;
    const auto lines = ParseJournal(text, why);
    ASSERT_TRUE(lines) << why;
    ASSERT_EQ(lines->size(), 2u);
    EXPECT_EQ((*lines)[1].Event, "used");
    EXPECT_EQ((*lines)[1].Pid, 77);
    EXPECT_EQ((*lines)[1].RecordTime, used.RecordTime);
    EXPECT_EQ((*lines)[0].RecordTime, "");

    for (const std::string& damaged : {text + "{\"time\":\"x\"}\n", text + "not json\n",
                                       text + JournalLineText(Line("lost", "1002")) + "\n"}) {
        EXPECT_FALSE(ParseJournal(damaged, why));
        EXPECT_NE(why.find("line 3"), std::string::npos) << why;
    }
}
