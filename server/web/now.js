// Now: a card per station with a tile per position, kept live from the event stream, and the
// one-off runs of stations that report no state.

import { el, localTime } from "./dom.js";
import { ago, isGone, oneOffRuns, passed, seenLocalMs, shortHash, tileText } from "./line.js";

function tile(position) {
    const text = tileText(position);
    const state = ["waiting", "flashing", "pass", "fail"].includes(position.state)
        ? position.state
        : "waiting";
    const children = [
        el("span", { class: "where", text: `${position.position} \u00b7 ${position.port}` }),
        el(
            "span",
            { class: "state" },
            el("span", { class: "sign", "aria-hidden": "true", text: text.sign }),
            ` ${text.word}`,
        ),
        el("span", { class: "detail", text: text.detail }),
    ];
    if (state === "flashing" && typeof position.percent === "number") {
        children.push(
            el("progress", {
                max: "100",
                value: String(position.percent),
                "aria-label": "progress",
            }),
        );
    }
    return el(
        "div",
        { class: `tile ${state}`, "data-position": String(position.position) },
        children,
    );
}

function card(station, offsetMs, nowMs) {
    const gone = isGone(station, offsetMs, nowMs);
    const positions = [...(station.positions ?? [])].sort((a, b) => a.position - b.position);
    return el(
        "article",
        { class: gone ? "card station gone" : "card station", "data-station": station.name },
        el(
            "header",
            {},
            el("h3", { text: station.name }),
            gone
                ? el("span", {
                      class: "gone-note",
                      text: `\u26a0 GONE: not heard from for ${ago(nowMs - seenLocalMs(station, offsetMs))}`,
                  })
                : null,
        ),
        el(
            "p",
            { class: "firmware" },
            el("span", { class: "project", text: station.project }),
            ` \u00b7 ${station.firmware} `,
            el("code", { text: shortHash(station.firmware_hash) }),
        ),
        el("div", { class: "tiles" }, positions.map(tile)),
    );
}

function oneOffCard({ station, runs }) {
    return el(
        "article",
        { class: "card oneoff", "data-oneoff": station },
        el(
            "header",
            {},
            el("h3", { text: station || "(no station)" }),
            el("span", { class: "kind", text: "one-off runs" }),
        ),
        el(
            "ul",
            { class: "runs" },
            runs.map((record) =>
                el(
                    "li",
                    { class: passed(record) ? "pass" : "fail" },
                    el("span", {
                        class: "result",
                        text: passed(record) ? "\u2714 PASS" : "\u2716 FAIL",
                    }),
                    el("span", { class: "serial", text: record.serial ?? "" }),
                    el("span", { class: "port", text: record.port ?? "" }),
                    el("time", { datetime: record.time, text: localTime(record.time) }),
                    passed(record)
                        ? null
                        : el("span", { class: "detail", text: record.result ?? "" }),
                ),
            ),
        ),
    );
}

// Draws the cards of stations (by name) and the one-off runs among today's records.
export function drawNow(container, stations, records, offsetMs, nowMs) {
    const sorted = [...stations.values()].sort((a, b) => a.name.localeCompare(b.name));
    const cards = sorted.map((station) => card(station, offsetMs, nowMs));
    const oneOff = oneOffRuns(records, stations.keys()).map(oneOffCard);
    if (cards.length === 0 && oneOff.length === 0) {
        cards.push(el("p", { class: "empty", text: "No station has reported yet." }));
    }
    container.replaceChildren(...cards, ...oneOff);
}
