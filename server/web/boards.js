// Boards: the last records as the filter picks them, their CSV, and a board's whole history by
// its serial number.

import { api, el, localTime } from "./dom.js";
import { historyRows, passed, recordQuery, recordsCsv } from "./line.js";

function count(n, what) {
    return `${n} ${what}${n === 1 ? "" : "s"}`;
}

function resultCell(ok) {
    return el("td", {
        class: ok ? "result pass" : "result fail",
        text: ok ? "\u2714 PASS" : "\u2716 FAIL",
    });
}

function recordRow(record) {
    return el(
        "tr",
        { "data-id": record.id },
        el("td", {}, el("time", { datetime: record.time, text: localTime(record.time) })),
        el("td", { text: record.station ?? "" }),
        el("td", { text: record.position ?? "" }),
        el("td", { text: record.port ?? "" }),
        el("td", { class: "serial", text: record.serial ?? "" }),
        el("td", { text: record.tags?.lot ?? "" }),
        resultCell(passed(record)),
        el("td", { class: "detail", text: record.result ?? "" }),
    );
}

export class Boards {
    constructor(root, token) {
        this.token = token;
        this.form = root.querySelector("#filter");
        this.table = root.querySelector("#records tbody");
        this.count = root.querySelector("#records-count");
        this.history = root.querySelector("#history");
        this.records = [];
        this.form.addEventListener("submit", (event) => {
            event.preventDefault();
            this.load();
        });
        root.querySelector("#csv").addEventListener("click", () => this.download());
        root.querySelector("#search").addEventListener("submit", (event) => {
            event.preventDefault();
            this.find(root.querySelector("#serial").value.trim());
        });
    }

    setStations(names) {
        const select = this.form.elements.station;
        const chosen = select.value;
        select.replaceChildren(
            el("option", { value: "", text: "any" }),
            ...names.map((name) => el("option", { value: name, text: name })),
        );
        select.value = names.includes(chosen) ? chosen : "";
    }

    async load() {
        const fields = Object.fromEntries(new FormData(this.form));
        try {
            this.records = await api(this.token, `records?${recordQuery(fields)}`);
            this.table.replaceChildren(...this.records.map(recordRow));
            this.count.textContent = count(this.records.length, "record");
        } catch (error) {
            this.count.textContent = `The records could not be read: ${error.message}`;
        }
    }

    download() {
        const blob = new Blob([recordsCsv(this.records)], { type: "text/csv" });
        const link = el("a", {
            href: URL.createObjectURL(blob),
            download: `boards-${new Date().toISOString().slice(0, 19).replaceAll(":", "")}Z.csv`,
        });
        document.body.append(link);
        link.click();
        link.remove();
        URL.revokeObjectURL(link.href);
    }

    async find(serial) {
        if (!serial) return;
        let history;
        try {
            history = await api(this.token, `serials/${encodeURIComponent(serial)}`);
        } catch (error) {
            const text =
                error.status === 404
                    ? `No board has the serial number ${serial}.`
                    : `The history could not be read: ${error.message}`;
            this.history.replaceChildren(el("p", { class: "empty", text }));
            return;
        }
        const rows = historyRows(history).map((row) =>
            el(
                "tr",
                {},
                el("td", {}, el("time", { datetime: row.time, text: localTime(row.time) })),
                row.pass === null
                    ? el("td", { class: "event", text: row.what })
                    : resultCell(row.pass),
                el("td", { text: row.station }),
                el("td", { text: row.port }),
                el("td", { class: "detail", text: row.detail }),
            ),
        );
        this.history.replaceChildren(
            el(
                "table",
                { class: "history", "data-serial": history.serial },
                el("caption", {
                    text: `Board ${history.serial}: ${count(history.records.length, "record")}, ${count(history.events.length, "event")}`,
                }),
                el(
                    "thead",
                    {},
                    el(
                        "tr",
                        {},
                        ["Time", "What", "Station", "Port", "Detail"].map((text) =>
                            el("th", { text }),
                        ),
                    ),
                ),
                el("tbody", {}, rows),
            ),
        );
    }
}
