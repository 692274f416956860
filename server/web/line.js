// What the line's page computes from the server's answers, apart from the page itself so that
// Node's test runner can check it.

export const GoneAfterMs = 60000;
const HourMs = 3600000;

// The server's clock minus this browser's, from a GET /stations answer: a station's last_seen
// plus its seconds_since_seen is the server's time of the answer. Stations' reports that come
// later as events carry only last_seen, which this offset turns into this browser's time, so
// that a browser whose clock is wrong still tells the gone stations right.
export function clockOffsetMs(stations, localNowMs) {
    for (const station of stations) {
        const seen = Date.parse(station.last_seen);
        if (!Number.isNaN(seen) && typeof station.seconds_since_seen === "number") {
            return seen + station.seconds_since_seen * 1000 - localNowMs;
        }
    }
    return 0;
}

// When this browser's clock last heard from the station.
export function seenLocalMs(station, offsetMs) {
    const seen = Date.parse(station.last_seen);
    return Number.isNaN(seen) ? -Infinity : seen - offsetMs;
}

export function isGone(station, offsetMs, localNowMs) {
    return localNowMs - seenLocalMs(station, offsetMs) > GoneAfterMs;
}

// "45 s", "3 min", "2 h": how long ago, for a gone station.
export function ago(ms) {
    const seconds = Math.max(0, Math.floor(ms / 1000));
    if (seconds < 120) return `${seconds} s`;
    if (seconds < 7200) return `${Math.floor(seconds / 60)} min`;
    return `${Math.floor(seconds / 3600)} h`;
}

// A tile's caption for a position's state: a word and a sign besides the colour.
export function tileText(position) {
    switch (position.state) {
        case "flashing": {
            // The percentage is the big figure then, and the word goes with the stage.
            const stage = position.stage ?? "";
            if (typeof position.percent !== "number")
                return { sign: "\u27f3", word: "FLASHING", detail: stage };
            return {
                sign: "\u27f3",
                word: `${position.percent} %`,
                detail: stage ? `FLASHING \u00b7 ${stage}` : "FLASHING",
            };
        }
        case "pass":
            return { sign: "\u2714", word: "PASS", detail: position.serial ?? "" };
        case "fail":
            return { sign: "\u2716", word: "FAIL", detail: position.reason ?? "" };
        default:
            return { sign: "\u2026", word: "WAITING", detail: "" };
    }
}

export function shortHash(hash) {
    return typeof hash === "string" ? hash.slice(0, 8) : "";
}

// Records of stations that report no state (a `tervix-flash flash --line` run, say), grouped
// by station, newest first, at most perStation each; stations in the order of their newest run.
export function oneOffRuns(records, stationNames, perStation = 5) {
    const known = new Set(stationNames);
    const groups = new Map();
    const sorted = [...records].sort((a, b) => Date.parse(b.time) - Date.parse(a.time));
    for (const record of sorted) {
        const name = record.station ?? "";
        if (known.has(name)) continue;
        if (!groups.has(name)) groups.set(name, []);
        const runs = groups.get(name);
        if (runs.length < perStation) runs.push(record);
    }
    return [...groups].map(([station, runs]) => ({ station, runs }));
}

export function passed(record) {
    return record.exit_status === 0;
}

// "92.3 %" for a first-pass yield of 0.923; a dash when no board counts.
export function percent(fraction) {
    if (typeof fraction !== "number" || !Number.isFinite(fraction)) return "\u2013";
    return `${(Math.round(fraction * 1000) / 10).toFixed(1)} %`;
}

// The figures of a yield answer summed: passed and failed records, and the first-pass yield of
// the boards of all the groups.
export function yieldTotals(groups) {
    const totals = { passed: 0, failed: 0, boards: 0, first_pass: 0 };
    for (const group of groups) {
        for (const key of Object.keys(totals)) totals[key] += group[key] ?? 0;
    }
    totals.first_pass_yield = totals.boards > 0 ? totals.first_pass / totals.boards : null;
    return totals;
}

// The chart's columns: the start of every hour of the 24 that end with the current one (Unix
// seconds), with the passed and failed records of each; hours without records are zeros.
export function hourSeries(groups, nowMs) {
    const last = Math.floor(nowMs / HourMs) * HourMs;
    const hours = [];
    const passedByHour = [];
    const failedByHour = [];
    const index = new Map();
    for (let hour = last - 23 * HourMs; hour <= last; hour += HourMs) {
        index.set(hour, hours.length);
        hours.push(hour / 1000);
        passedByHour.push(0);
        failedByHour.push(0);
    }
    for (const group of groups) {
        const at = index.get(Date.parse(group.hour));
        if (at === undefined) continue;
        passedByHour[at] += group.passed;
        failedByHour[at] += group.failed;
    }
    return [hours, passedByHour, failedByHour];
}

// The start of the browser's day, as the server's times are written.
export function startOfDay(localNow) {
    const day = new Date(localNow);
    day.setHours(0, 0, 0, 0);
    return day.toISOString();
}

// A GET /records query from the Boards filter; empty fields are left out, and times entered as
// the browser's local time (datetime-local) go as UTC.
export function recordQuery(filter) {
    const query = new URLSearchParams();
    for (const key of ["station", "lot", "result"]) {
        const value = (filter[key] ?? "").trim();
        if (value) query.set(key, value);
    }
    for (const key of ["since", "until"]) {
        const value = filter[key];
        if (!value) continue;
        const ms = new Date(value).getTime();
        if (Number.isNaN(ms)) throw new Error(`${key}: not a time: ${value}`);
        query.set(key, new Date(ms).toISOString());
    }
    query.set("limit", String(filter.limit ?? 500));
    return query.toString();
}

export const CsvColumns = [
    "time",
    "station",
    "position",
    "port",
    "serial",
    "lot",
    "exit_status",
    "result",
    "file",
    "sha256",
    "seconds",
    "id",
];

function csvCell(value) {
    if (value === null || value === undefined) return "";
    let text = typeof value === "object" ? JSON.stringify(value) : String(value);
    // A spreadsheet would run a cell that starts so as a formula.
    if (/^[=+@\t\r]/.test(text) || (/^-/.test(text) && Number.isNaN(Number(text)))) {
        text = `'${text}`;
    }
    return /[",\r\n]/.test(text) ? `"${text.replaceAll('"', '""')}"` : text;
}

// The records as CSV (RFC 4180, CRLF line ends), one line each after the header.
export function recordsCsv(records) {
    const lines = [CsvColumns.join(",")];
    for (const record of records) {
        const row = { ...record, lot: record.tags?.lot };
        lines.push(CsvColumns.map((column) => csvCell(row[column])).join(","));
    }
    return `${lines.join("\r\n")}\r\n`;
}

// Where a record stands among its number's events of the same second: a record's time has whole
// seconds only, and the station sends it after it wrote the number and before it ends it.
const HistoryRank = { reserved: 0, written: 1, record: 2, used: 3, released: 3, spoiled: 3 };

// A board's history as one list, oldest first: its records and the events of its number.
export function historyRows(history) {
    const rows = [];
    for (const record of history.records ?? []) {
        rows.push({
            time: record.time,
            what: passed(record) ? "\u2714 PASS" : "\u2716 FAIL",
            station: record.station ?? "",
            port: record.port ?? "",
            detail: record.result ?? "",
            pass: passed(record),
            rank: HistoryRank.record,
        });
    }
    for (const event of history.events ?? []) {
        rows.push({
            time: event.time,
            what: event.event,
            station: event.station ?? "",
            port: event.port ?? "",
            detail: `pool ${event.pool}, reservation ${event.reservation}`,
            pass: null,
            rank: HistoryRank[event.event] ?? HistoryRank.record,
        });
    }
    const second = (row) => Math.floor(Date.parse(row.time) / 1000);
    return rows.sort(
        (a, b) =>
            second(a) - second(b) || a.rank - b.rank || Date.parse(a.time) - Date.parse(b.time),
    );
}

// The token given in the address (#token=...), or null.
export function tokenFromHash(hash) {
    const params = new URLSearchParams(hash.replace(/^#/, ""));
    const token = params.get("token");
    return token ? token.trim() : null;
}
