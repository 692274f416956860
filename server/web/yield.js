// Yield: today's passed, failed and first-pass yield per station and per lot, and the boards
// of every hour of the last 24 as a bar chart (uPlot, loaded by the page as the global uPlot).

import { el } from "./dom.js";
import { hourSeries, percent, yieldTotals } from "./line.js";

function yieldTable(caption, key, groups, none) {
    const rows = groups.map((group) =>
        el(
            "tr",
            { "data-key": group[key] ?? "" },
            el("th", { scope: "row", text: group[key] ?? none }),
            el("td", { class: "passed", text: `\u2714 ${group.passed}` }),
            el("td", { class: "failed", text: `\u2716 ${group.failed}` }),
            el("td", { class: "fpy", text: percent(group.first_pass_yield) }),
        ),
    );
    if (rows.length === 0) {
        rows.push(
            el("tr", {}, el("td", { colspan: "4", class: "empty", text: "No boards today." })),
        );
    }
    return el(
        "table",
        { class: "yield" },
        el("caption", { text: caption }),
        el(
            "thead",
            {},
            el(
                "tr",
                {},
                el("th", { text: key === "lot" ? "Lot" : "Station" }),
                el("th", { text: "Passed" }),
                el("th", { text: "Failed" }),
                el("th", { text: "First-pass yield" }),
            ),
        ),
        el("tbody", {}, rows),
    );
}

export function drawYield(container, byStation, byLot) {
    const totals = yieldTotals(byStation);
    container.replaceChildren(
        el(
            "div",
            { class: "totals" },
            el(
                "div",
                { class: "figure passed" },
                el("span", {
                    class: "value",
                    "data-total": "passed",
                    text: `\u2714 ${totals.passed}`,
                }),
                el("span", { class: "label", text: "passed today" }),
            ),
            el(
                "div",
                { class: "figure failed" },
                el("span", {
                    class: "value",
                    "data-total": "failed",
                    text: `\u2716 ${totals.failed}`,
                }),
                el("span", { class: "label", text: "failed today" }),
            ),
        ),
        el(
            "div",
            { class: "yield-tables" },
            yieldTable("Per station", "station", byStation, ""),
            yieldTable("Per lot", "lot", byLot, "(no lot)"),
        ),
    );
}

const ChartHeight = 230;

// The chart, made once and given new data after; it follows its box's width.
export class HourChart {
    constructor(container) {
        this.container = container;
        this.plot = null;
    }

    draw(groups, nowMs) {
        const data = hourSeries(groups, nowMs);
        if (this.plot) {
            this.plot.setData(data);
            return;
        }
        const bars = (align) => globalThis.uPlot.paths.bars({ size: [0.4, 40], align });
        this.plot = new globalThis.uPlot(
            {
                width: this.width(),
                height: ChartHeight,
                // Half an hour each side, so that the first and last hours' bars are whole.
                scales: {
                    x: { time: true, range: (u, min, max) => [min - 1800, max + 1800] },
                    y: { range: (u, min, max) => [0, Math.max(4, max)] },
                },
                axes: [
                    { stroke: "#ccc", grid: { stroke: "#333" }, font: "14px sans-serif" },
                    {
                        stroke: "#ccc",
                        grid: { stroke: "#333" },
                        font: "14px sans-serif",
                        label: "boards",
                        labelFont: "14px sans-serif",
                    },
                ],
                series: [
                    { label: "Hour" },
                    {
                        label: "\u2714 Passed",
                        fill: "#2e9d4a",
                        stroke: "#2e9d4a",
                        paths: bars(-1),
                        points: { show: false },
                    },
                    {
                        label: "\u2716 Failed",
                        fill: "#d64541",
                        stroke: "#d64541",
                        paths: bars(1),
                        points: { show: false },
                    },
                ],
            },
            data,
            this.container,
        );
        new ResizeObserver(() =>
            this.plot.setSize({ width: this.width(), height: ChartHeight }),
        ).observe(this.container);
    }

    width() {
        return Math.max(300, this.container.clientWidth);
    }
}
