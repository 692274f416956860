// Which number comes next after what the journal says, and the journal's own lines.

#include "line/SerialJournal.h"

#include "tests/support/CaseName.h"

#include <gtest/gtest.h>

namespace {

JournalLine Line(const char* event, const std::string& serial) {
    return {"2026-12-07T16:00:00Z", event, serial, "COM3", "line-3", 77, "", ""};
}

JournalState StateOf(const std::vector<JournalLine>& lines, bool everyValue = false) {
    JournalState state;
    state.EveryValue = everyValue;
    std::string why;
    for (const JournalLine& line : lines) {
        EXPECT_TRUE(state.Take(line, why)) << why;
    }
    return state;
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
    EXPECT_EQ(NextCounterValue(c.counter, c.step, StateOf(c.lines)), c.next);
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
        // A board kept 1000 after the number had been released: it is on that board now.
        CounterCase{"KeptAfterReleasedIsNeverGiven",
                    1002,
                    1,
                    {Line("reserved", "1000"), Line("released", "1000"), Line("kept", "1000")},
                    1002},
        CounterCase{"RunsOutOfSixtyFourBits",
                    UINT64_MAX - 1,
                    2,
                    {Line("reserved", std::to_string(UINT64_MAX - 1))},
                    std::nullopt}),
    CaseName());

TEST(NextList, TakesTheFirstFreeValueInTheListsOrder) {
    const std::vector<std::string> list = {"A1", "A2", "A3"};
    EXPECT_EQ(NextListValue(list, StateOf({}, true)), "A1");
    EXPECT_EQ(NextListValue(list, StateOf({Line("reserved", "A1"), Line("used", "A1")}, true)),
              "A2");
    EXPECT_EQ(NextListValue(list, StateOf({Line("reserved", "A1"), Line("reserved", "A2"),
                                           Line("released", "A1")},
                                          true)),
              "A1");
    EXPECT_EQ(NextListValue(list, StateOf({Line("reserved", "A1"), Line("spoiled", "A1"),
                                           Line("kept", "A2"), Line("reserved", "A3")},
                                          true)),
              std::nullopt);
}

namespace {

JournalState Read(const std::string& text, bool& read, std::string& why) {
    JournalState state;
    std::size_t taken = 0;
    read = TakeJournalText(text, state, taken, why);
    return state;
}

} // namespace

TEST(JournalLines, ReadBackAsWrittenAndDamageIsNamed) {
    JournalLine init{"2026-12-07T15:00:00Z", "init", "", "", "line-3", 70, "", "list"};
    JournalLine used = Line("used", "1001");
    used.RecordTime = "2026-12-07T16:00:01Z";
    const std::string text = JournalLineText(init) + "\n" +
                             JournalLineText(Line("reserved", "1001")) + "\n" +
                             JournalLineText(used) + "\n";
    std::vector<JournalLine> seen;
    JournalState state;
    std::size_t taken = 0;
    std::string why;
    ASSERT_TRUE(TakeJournalText(text + "{\"time\":", state, taken, why,
                                [&seen](const JournalLine& line) { seen.push_back(line); }))
        << why;
    EXPECT_EQ(taken, text.size()) << "a line not finished is left to the caller";
    EXPECT_EQ(state.Kind, "list");
    EXPECT_EQ(state.Lines, 3u);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].Kind, "list");
    EXPECT_EQ(seen[2].Event, "used");
    EXPECT_EQ(seen[2].Pid, 77);
    EXPECT_EQ(seen[2].RecordTime, used.RecordTime);
    EXPECT_EQ(seen[1].RecordTime, "");

    bool read = false;
    for (const std::string& damaged :
         {text + "{\"time\":\"x\"}\n", text + "not json\n",
          text + JournalLineText(Line("lost", "1002")) + "\n", text + JournalLineText(init) + "\n",
          text +
              "{\"time\":\"t\",\"event\":\"init\",\"kind\":\"box\",\"host\":\"h\",\"pid\":1}\n"}) {
        Read(damaged, read, why);
        EXPECT_FALSE(read) << damaged;
        EXPECT_NE(why.find("line 4"), std::string::npos) << why;
    }
    // Blank lines count, so that a line's number is the one an editor shows.
    Read("\n\n" + JournalLineText(init) + "\n", read, why);
    EXPECT_FALSE(read);
    EXPECT_NE(why.find("line 3"), std::string::npos) << why;
}

// Lines as this program writes them are read without a JSON parser; any other spelling of the
// same line must read the same through the parser.
TEST(JournalLines, EverySpellingOfALineReadsTheSame) {
    JournalLine port = Line("reserved", "1001");
    port.Port = "\\\\.\\COM12";
    port.RecordTime = "2026-12-07T16:00:01Z";
    const std::string shaped =
        R"({"time":"2026-12-07T16:00:00Z","event":"used","serial":"1001","port":"COM3",)"
        R"("host":"line-3","pid":-77,"record_time":"2026-12-07T16:00:01Z"})";
    const std::vector<std::pair<std::string, JournalLine>> cases = {
        {shaped,
         {"2026-12-07T16:00:00Z", "used", "1001", "COM3", "line-3", -77, "2026-12-07T16:00:01Z",
          ""}},
        {R"({ "pid": -77, "serial": "1001", "event": "used", "port": "COM3", "host": "line-3",)"
         R"( "time": "2026-12-07T16:00:00Z", "record_time": "2026-12-07T16:00:01Z" } )",
         {"2026-12-07T16:00:00Z", "used", "1001", "COM3", "line-3", -77, "2026-12-07T16:00:01Z",
          ""}},
        {JournalLineText(port), port},
        {JournalLineText(Line("reserved", "1002")), Line("reserved", "1002")},
        {R"({"time":"t","event":"kept","serial":"\u0031\u0030","port":"COM3","host":"h","pid":0})",
         {"t", "kept", "10", "COM3", "h", 0, "", ""}},
        {R"({"time":"t","event":"kept","serial":"Ä1","port":"COM3","host":"h","pid":5,)"
         R"("record_time":null})",
         {"t", "kept", "Ä1", "COM3", "h", 5, "", ""}},
    };
    for (const auto& [text, expected] : cases) {
        JournalLine line{"old", "old", "old", "old", "old", 1, "old", "old"};
        std::string why;
        ASSERT_TRUE(ParseJournalLine(text, line, why)) << text << ": " << why;
        EXPECT_EQ(line.Time, expected.Time) << text;
        EXPECT_EQ(line.Event, expected.Event) << text;
        EXPECT_EQ(line.Serial, expected.Serial) << text;
        EXPECT_EQ(line.Port, expected.Port) << text;
        EXPECT_EQ(line.Host, expected.Host) << text;
        EXPECT_EQ(line.Pid, expected.Pid) << text;
        EXPECT_EQ(line.RecordTime, expected.RecordTime) << text;
        EXPECT_EQ(line.Kind, "") << text;
    }
    for (const std::string& bad :
         {shaped.substr(0, shaped.size() - 1), shaped + "x",
          std::string(R"({"time":"t","event":"used","serial":"1","port":"","host":"h","pid":07,)"
                      R"("record_time":null})"),
          std::string(
              R"({"time":"t","event":"used","serial":"1","port":"	","host":"h","pid":7,)"
              R"("record_time":null})")}) {
        JournalLine line;
        std::string why;
        EXPECT_FALSE(ParseJournalLine(bad, line, why)) << bad;
    }
}
