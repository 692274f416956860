// What the line's page computes from the server's answers.

import assert from "node:assert/strict";
import { test } from "node:test";

import {
    ago,
    clockOffsetMs,
    hourSeries,
    historyRows,
    isGone,
    oneOffRuns,
    percent,
    recordQuery,
    recordsCsv,
    tileText,
    tokenFromHash,
    yieldTotals,
} from "../../../server/web/line.js";

const at = (iso) => Date.parse(iso);

test("a station is gone after a minute of silence, by the server's clock", () => {
    // This browser's clock is 10 minutes behind the server's.
    const localNow = at("2026-12-08T10:00:00Z");
    const answer = [{ name: "bench-1", last_seen: "2026-12-08T10:09:30Z", seconds_since_seen: 30 }];
    const offset = clockOffsetMs(answer, localNow);
    assert.equal(offset, 600000);
    assert.equal(isGone(answer[0], offset, localNow), false);
    assert.equal(isGone(answer[0], offset, localNow + 30000), false);
    assert.equal(isGone(answer[0], offset, localNow + 30001), true);
    // A report that came later as an event counts from its own time.
    assert.equal(isGone({ last_seen: "2026-12-08T10:10:20Z" }, offset, localNow + 60000), false);
    // No station answered yet: the clocks are taken as equal; a station without a time is gone.
    assert.equal(clockOffsetMs([], localNow), 0);
    assert.equal(isGone({ last_seen: null }, 0, localNow), true);
    assert.deepEqual(
        [ago(59000), ago(119999), ago(120000), ago(7199999), ago(7200000), ago(-5)],
        ["59 s", "119 s", "2 min", "119 min", "2 h", "0 s"],
    );
});

test("a tile says its state in words, not by colour alone", () => {
    const cases = [
        [{ state: "flashing", stage: "writing", percent: 40 }, "40 %", "FLASHING \u00b7 writing"],
        [{ state: "flashing", percent: 0 }, "0 %", "FLASHING"],
        [{ state: "flashing", stage: "erasing" }, "FLASHING", "erasing"],
        [{ state: "pass", serial: "1001" }, "PASS", "1001"],
        [{ state: "fail", reason: "verify mismatch" }, "FAIL", "verify mismatch"],
        [{ state: "waiting" }, "WAITING", ""],
        [{ state: "resting" }, "WAITING", ""],
    ];
    for (const [position, word, detail] of cases) {
        const text = tileText(position);
        assert.equal(text.word, word, JSON.stringify(position));
        assert.equal(text.detail, detail, JSON.stringify(position));
    }
});

test("one-off runs are the records of stations without a state, grouped, newest first", () => {
    const records = [
        { id: "a", station: "bench-1", time: "2026-12-08T10:00:00Z", exit_status: 0 },
        { id: "b", station: "laptop", time: "2026-12-08T10:01:00Z", exit_status: 0 },
        { id: "c", station: "desk", time: "2026-12-08T10:03:00Z", exit_status: 4 },
        { id: "d", station: "laptop", time: "2026-12-08T10:02:00Z", exit_status: 1 },
        { id: "e", station: "laptop", time: "2026-12-08T09:59:00Z", exit_status: 0 },
    ];
    const groups = oneOffRuns(records, new Set(["bench-1"]).keys(), 2);
    assert.deepEqual(
        groups.map((g) => [g.station, g.runs.map((r) => r.id)]),
        [
            ["desk", ["c"]],
            ["laptop", ["d", "b"]],
        ],
    );
    assert.deepEqual(oneOffRuns(records, ["bench-1", "laptop", "desk"]), []);
});

test("yield: figures summed, percentages rounded, and a dash when no board counts", () => {
    const groups = [
        {
            station: "bench-1",
            passed: 3,
            failed: 1,
            boards: 3,
            first_pass: 2,
            first_pass_yield: 2 / 3,
        },
        { station: "bench-2", passed: 1, failed: 0, boards: 1, first_pass: 1, first_pass_yield: 1 },
    ];
    assert.deepEqual(yieldTotals(groups), {
        passed: 4,
        failed: 1,
        boards: 4,
        first_pass: 3,
        first_pass_yield: 0.75,
    });
    assert.equal(yieldTotals([]).first_pass_yield, null);
    assert.deepEqual(
        [percent(2 / 3), percent(1), percent(0), percent(0.9995), percent(null)],
        ["66.7 %", "100.0 %", "0.0 %", "100.0 %", "\u2013"],
    );
});

test("the chart has the 24 hours that end with this one, empty hours as zeros", () => {
    const now = at("2026-12-08T10:25:00Z");
    const [hours, passed, failed] = hourSeries(
        [
            { hour: "2026-12-07T10:00:00Z", passed: 9, failed: 9 }, // 24 hours back: outside
            { hour: "2026-12-07T11:00:00Z", passed: 2, failed: 1 },
            { hour: "2026-12-08T10:00:00Z", passed: 5, failed: 0 },
        ],
        now,
    );
    assert.equal(hours.length, 24);
    assert.equal(hours[0], at("2026-12-07T11:00:00Z") / 1000);
    assert.equal(hours[23], at("2026-12-08T10:00:00Z") / 1000);
    assert.deepEqual([passed[0], failed[0], passed[23], failed[23]], [2, 1, 5, 0]);
    assert.equal(
        passed.reduce((a, b) => a + b),
        7,
    );
    assert.equal(
        failed.slice(1).reduce((a, b) => a + b),
        0,
    );
});

test("the Boards filter: empty fields left out, local times sent as UTC, a bad time refused", () => {
    assert.equal(recordQuery({ station: "", lot: " ", result: "" }), "limit=500");
    const query = new URLSearchParams(
        recordQuery({
            station: "bench-1",
            lot: " L 1 ",
            result: "fail",
            since: "2026-12-08T08:30",
        }),
    );
    assert.equal(query.get("station"), "bench-1");
    assert.equal(query.get("lot"), "L 1");
    assert.equal(query.get("result"), "fail");
    assert.equal(query.get("since"), new Date(2026, 11, 8, 8, 30).toISOString());
    assert.equal(query.has("until"), false);
    assert.throws(() => recordQuery({ until: "yesterday" }), /until: not a time/);
});

test("CSV: one line per record, quoted where needed, no cell a spreadsheet would run", () => {
    const csv = recordsCsv([
        {
            id: "r1",
            time: "2026-12-08T10:00:00Z",
            station: "bench-1",
            position: 2,
            port: "COM4",
            serial: "1001",
            tags: { lot: "L1" },
            exit_status: 0,
            result: "504 blocks erased, 8 rows written",
            seconds: 1.5,
        },
        {
            id: "r2",
            time: "2026-12-08T10:01:00Z",
            station: "bench-1",
            serial: null,
            tags: { lot: "=cmd|' /C calc'!A0" },
            exit_status: 4,
            result: 'said "no"\nthen stopped',
        },
        {
            id: "r3",
            time: "2026-12-08T10:02:00Z",
            serial: "-42",
            tags: {},
            exit_status: 1,
            result: "-x",
            file: "+a",
            sha256: "@b",
        },
    ]);
    const lines = csv.split("\r\n");
    assert.equal(lines.length, 5);
    assert.equal(
        lines[0],
        "time,station,position,port,serial,lot,exit_status,result,file,sha256,seconds,id",
    );
    assert.equal(
        lines[1],
        '2026-12-08T10:00:00Z,bench-1,2,COM4,1001,L1,0,"504 blocks erased, 8 rows written",,,1.5,r1',
    );
    // A line break within a cell stays in its quotes; only CRLF ends a record.
    assert.equal(
        lines[2],
        `2026-12-08T10:01:00Z,bench-1,,,,'=cmd|' /C calc'!A0,4,"said ""no""\nthen stopped",,,,r2`,
    );
    assert.equal(lines[3], "2026-12-08T10:02:00Z,,,,-42,,1,'-x,'+a,'@b,,r3");
    assert.equal(lines[4], "");
    assert.equal(recordsCsv([]), `${lines[0]}\r\n`);
});

test("a board's history: records among their number's events, oldest first", () => {
    const rows = historyRows({
        serial: "1001",
        records: [
            {
                time: "2026-12-08T10:00:05Z",
                exit_status: 0,
                station: "bench-1",
                port: "COM3",
                result: "ok",
            },
            {
                time: "2026-12-08T09:00:00Z",
                exit_status: 4,
                station: "bench-2",
                port: "COM4",
                result: "verify mismatch",
            },
        ],
        events: [
            { time: "2026-12-08T10:00:05.900Z", event: "used", pool: "widget", reservation: 7 },
            { time: "2026-12-08T10:00:05.300Z", event: "written", pool: "widget", reservation: 7 },
            {
                time: "2026-12-08T10:00:01.000Z",
                event: "reserved",
                pool: "widget",
                reservation: 7,
                station: "bench-1",
                port: "COM3",
            },
        ],
    });
    assert.deepEqual(
        rows.map((r) => r.what),
        ["\u2716 FAIL", "reserved", "written", "\u2714 PASS", "used"],
    );
    assert.deepEqual(
        rows.map((r) => r.pass),
        [false, null, null, true, null],
    );
    assert.equal(rows[1].detail, "pool widget, reservation 7");
});

test("the token given in the address", () => {
    assert.equal(tokenFromHash("#token=tvx_abc"), "tvx_abc");
    assert.equal(tokenFromHash("#tab=now&token=tvx_abc"), "tvx_abc");
    assert.equal(tokenFromHash("#token="), null);
    assert.equal(tokenFromHash(""), null);
});
