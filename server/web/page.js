// The line's page: the viewer's token, the sections, and the event stream that keeps them live.

import { Boards } from "./boards.js";
import { ApiError, api, coalesced, el } from "./dom.js";
import { clockOffsetMs, startOfDay, tokenFromHash } from "./line.js";
import { drawNow } from "./now.js";
import { HourChart, drawYield } from "./yield.js";

const TokenKey = "tervix-line.token";
const TabKey = "tervix-line.tab";
const DayMs = 24 * 3600 * 1000;

class Page {
    constructor(token) {
        this.token = token;
        this.stations = new Map();
        this.today = [];
        this.offsetMs = 0;
        this.boards = new Boards(document.querySelector("#boards"), token);
        this.chart = new HourChart(document.querySelector("#chart"));
        // A busy line sends many events a second; the figures drawn from queries follow at
        // most once a second.
        this.refreshRecords = coalesced(() => this.loadRecords().catch(failed), 1000);
        this.refreshPools = coalesced(() => this.loadPools().catch(failed), 1000);
        this.refreshBoards = coalesced(() => this.boards.load(), 1000);
    }

    start() {
        this.connect();
        // Stations turn gone without any event, and a quiet line's day and chart move on.
        setInterval(() => this.drawNow(), 5000);
        setInterval(() => this.refreshRecords(), 60000);
    }

    // The stream first, then everything read: what changes in between comes as events.
    connect() {
        const live = document.querySelector("#live");
        const source = new EventSource(`/api/v1/events?token=${encodeURIComponent(this.token)}`);
        source.addEventListener("open", () => {
            live.textContent = "\u25cf live";
            live.className = "live on";
            this.loadAll();
        });
        source.addEventListener("error", () => {
            live.textContent = "\u25cb reconnecting\u2026";
            live.className = "live off";
            // A refused stream is closed for good by the browser: a token no longer valid asks
            // for another, anything else is tried again a little later.
            if (source.readyState === EventSource.CLOSED) {
                api(this.token, "stations").then(
                    () => setTimeout(() => this.connect(), 5000),
                    (error) => {
                        failed(error);
                        if (error.status !== 401) setTimeout(() => this.connect(), 5000);
                    },
                );
            }
        });
        source.addEventListener("station", (event) => {
            const station = JSON.parse(event.data);
            this.stations.set(station.name, station);
            this.drawNow();
        });
        source.addEventListener("record", (event) => {
            this.today.push(JSON.parse(event.data));
            this.drawNow();
            this.refreshRecords();
            this.refreshBoards();
        });
        source.addEventListener("reservation", () => this.refreshPools());
    }

    async loadAll() {
        try {
            const stations = await api(this.token, "stations");
            this.offsetMs = clockOffsetMs(stations, Date.now());
            this.stations = new Map(stations.map((station) => [station.name, station]));
            await Promise.all([this.loadRecords(), this.loadPools(), this.boards.load()]);
        } catch (error) {
            failed(error);
        }
    }

    // Today's records (the one-off runs) and the yield that they make.
    async loadRecords() {
        const since = encodeURIComponent(startOfDay(Date.now()));
        const daySince = encodeURIComponent(new Date(Date.now() - DayMs).toISOString());
        const [records, byStation, byLot, byHour] = await Promise.all([
            api(this.token, `records?since=${since}&limit=1000`),
            api(this.token, `yield?by=station&since=${since}`),
            api(this.token, `yield?by=lot&since=${since}`),
            api(this.token, `yield?by=hour&since=${daySince}`),
        ]);
        this.today = records;
        // The filter offers the stations that report a state and those that only sent records.
        this.boards.setStations(
            [
                ...new Set([...this.stations.keys(), ...byStation.map((group) => group.station)]),
            ].sort(),
        );
        this.drawNow();
        drawYield(document.querySelector("#yield-figures"), byStation, byLot);
        this.chart.draw(byHour, Date.now());
    }

    async loadPools() {
        const pools = await api(this.token, "pools");
        const cell = (value) => el("td", { text: value ?? "\u2013" });
        document
            .querySelector("#pools tbody")
            .replaceChildren(
                ...pools.map((pool) =>
                    el(
                        "tr",
                        { "data-pool": pool.name },
                        el("th", { scope: "row", text: pool.name }),
                        cell(pool.kind),
                        el("td", { class: "next", text: pool.next ?? "none left" }),
                        cell(pool.used),
                        cell(pool.released),
                        cell(pool.spoiled),
                        cell(pool.open),
                        cell(pool.left),
                    ),
                ),
            );
    }

    drawNow() {
        drawNow(
            document.querySelector("#stations"),
            this.stations,
            this.today,
            this.offsetMs,
            Date.now(),
        );
    }
}

function failed(error) {
    if (error instanceof ApiError && error.status === 401) {
        localStorage.removeItem(TokenKey);
        askToken(`The token was refused: ${error.message}`);
        return;
    }
    document.querySelector("#live").textContent = `\u26a0 ${error.message}`;
}

function askToken(why) {
    document.querySelector("#main").hidden = true;
    const form = document.querySelector("#login");
    form.hidden = false;
    document.querySelector("#login-error").textContent = why ?? "";
    form.addEventListener(
        "submit",
        (event) => {
            event.preventDefault();
            const token = form.elements.token.value.trim();
            if (!token) return;
            localStorage.setItem(TokenKey, token);
            location.reload();
        },
        { once: true },
    );
}

function showTab(name) {
    for (const button of document.querySelectorAll("nav button")) {
        const chosen = button.dataset.tab === name;
        button.setAttribute("aria-selected", String(chosen));
        document.getElementById(button.dataset.tab).hidden = !chosen;
    }
    localStorage.setItem(TabKey, name);
}

function main() {
    // A wall screen opens /#token=...: kept, and taken out of the address at once. Given to an
    // open page, the address changes without a load: the page starts again with it.
    const takeToken = () => {
        const given = tokenFromHash(location.hash);
        if (given) {
            localStorage.setItem(TokenKey, given);
            history.replaceState(null, "", location.pathname + location.search);
        }
        return given;
    };
    takeToken();
    window.addEventListener("hashchange", () => takeToken() && location.reload());
    for (const button of document.querySelectorAll("nav button")) {
        button.addEventListener("click", () => showTab(button.dataset.tab));
    }
    document.querySelector("#forget").addEventListener("click", () => {
        localStorage.removeItem(TokenKey);
        location.reload();
    });
    const tab = localStorage.getItem(TabKey);
    showTab(
        document.querySelector(`nav button[data-tab="${CSS.escape(tab ?? "")}"]`) ? tab : "now",
    );
    const token = localStorage.getItem(TokenKey);
    if (!token) {
        askToken();
        return;
    }
    new Page(token).start();
}

main();
