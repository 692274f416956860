// The line's page in Debian's Chromium (headless, through playwright-core) against a live
// tervix-line with two stations flashing tervix-sim boards: what it shows must follow the line
// without a reload and agree with the records.

import assert from "node:assert/strict";
import { mkdirSync, mkdtempSync, rmSync } from "node:fs";
import { createRequire } from "node:module";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { after, before, test } from "node:test";

import { Line, Station } from "./line.mjs";

const { chromium } = createRequire(`${process.env.TERVIX_NODE_MODULES}/`)("playwright-core");
const artifacts = process.env.TERVIX_ARTIFACTS;
const timeout = 15000;
// A station or board that hangs fails its test or hook in time, and after() still ends them all.
const hung = { timeout: 120000 };

const line = new Line();
let bench1, bench2, browser, page, profile;
// What the page logged as errors, refused requests aside (the tests make some on purpose): a
// script the page's own Content-Security-Policy blocks would show here.
const errors = [];

async function screenshot(name, width, height) {
    await page.setViewportSize({ width, height });
    await page.screenshot({ path: join(artifacts, `${name}-${width}x${height}.png`) });
}

async function tab(name) {
    await page.click(`nav button[data-tab="${name}"]`);
}

function tileState(station, position) {
    return page.locator(`[data-station="${station}"] [data-position="${position}"]`);
}

before(async () => {
    mkdirSync(artifacts, { recursive: true });
    await line.start();
    // bench-1's second board holds a byte that never takes its value: it fails its verify.
    bench1 = new Station(line, "bench-1", "L1", [[], ["--stuck", "0x200=0x00"]]);
    bench2 = new Station(line, "bench-2", "L2", [[], []]);
    await Promise.all([bench1.start(), bench2.start()]);
    profile = mkdtempSync(join(tmpdir(), "tervix-page-chromium-"));
    const context = await chromium.launchPersistentContext(profile, {
        executablePath: "/usr/bin/chromium",
        headless: true,
        args: [
            "--no-sandbox",
            "--disable-gpu",
            "--disable-quic",
            "--no-first-run",
            "--disable-background-networking",
            "--disable-component-update",
            "--disable-sync",
        ],
        viewport: { width: 1280, height: 800 },
    });
    browser = context;
    page = context.pages()[0] ?? (await context.newPage());
    page.setDefaultTimeout(timeout);
    page.on("pageerror", (error) => errors.push(`threw: ${error.message}`));
    page.on("console", (message) => {
        if (message.type() === "error" && !message.text().startsWith("Failed to load resource"))
            errors.push(message.text());
    });
}, hung);

after(async () => {
    await browser?.close();
    await line.stop();
    if (profile) rmSync(profile, { recursive: true, force: true });
});

test("a token refused asks for another; one given in the address is kept, out of the address", async () => {
    await page.goto(line.url);
    await page.fill('#login input[name="token"]', "tvx_not-a-token");
    await page.click('#login button[type="submit"]');
    await page.locator("#login-error").filter({ hasText: "The token was refused" }).waitFor();
    assert.equal(await page.locator("#main").isHidden(), true);

    await page.goto(`${line.url}/#token=${line.tokens.wall}`);
    await page.locator("#live.on").waitFor();
    assert.equal(await page.evaluate(() => location.hash), "");
    assert.equal(
        await page.evaluate(() => localStorage.getItem("tervix-line.token")),
        line.tokens.wall,
    );
});

test("cards and tiles follow the stations without a reload", hung, async () => {
    await page.locator('[data-station="bench-1"] .tile').nth(1).waitFor();
    await page.locator('[data-station="bench-2"] .tile').nth(1).waitFor();
    assert.match(await tileState("bench-1", 1).innerText(), /WAITING/);
    assert.match(
        await page.locator('[data-station="bench-2"] .firmware').innerText(),
        /widget-rev-c · blink\.hex 4e1714cc/,
    );

    // Every state a tile shows is noted, so that a quick board cannot slip past unseen.
    await page.evaluate(() => {
        window.seen = [];
        new MutationObserver(() => {
            for (const tile of document.querySelectorAll("[data-station] .tile")) {
                const where = `${tile.closest("[data-station]").dataset.station}/${tile.dataset.position}`;
                window.seen.push(
                    `${where}: ${tile.querySelector(".state").textContent.trim()} ${tile.querySelector(".detail").textContent}`,
                );
            }
        }).observe(document.querySelector("#stations"), { childList: true, subtree: true });
    });
    // The boards go on only now, so that no state the tiles take is missed. A failed board is
    // the board's verdict, not the station's: both end well.
    assert.deepEqual(await Promise.all([bench1.flash(), bench2.flash()]), [0, 0]);
    const records = await line.call("GET", "records", line.tokens.wall);
    const board = (station, position) =>
        records.find((r) => r.station === station && r.position === position);
    const passed = [
        ["bench-1", 1],
        ["bench-1", 2],
        ["bench-2", 1],
        ["bench-2", 2],
    ].map(([station, position]) => board(station, position)?.exit_status === 0);
    assert.deepEqual(passed, [true, false, true, true], JSON.stringify(records));

    await tileState("bench-1", 1).filter({ hasText: "PASS" }).waitFor();
    assert.match(
        await tileState("bench-1", 1).innerText(),
        new RegExp(board("bench-1", 1).serial),
    );
    await tileState("bench-1", 2).filter({ hasText: "FAIL" }).waitFor();
    assert.match(await tileState("bench-1", 2).innerText(), /verify mismatch/);
    await tileState("bench-2", 2).filter({ hasText: "PASS" }).waitFor();
    const seen = await page.evaluate(() => window.seen);
    assert.ok(
        seen.some((state) => /^bench-2\/1: ⟳ \d+ % FLASHING · [a-z]+$/.test(state)),
        seen.join("\n"),
    );

    // A board flashed by a program that reports no station state is a one-off run.
    await line.call("POST", "records", line.tokens["bench-9"], {
        id: "bench-9-1",
        time: new Date().toISOString(),
        exit_status: 0,
        port: "COM7",
        serial: "77",
        result: "8 rows written and verified",
    });
    await page.locator('[data-oneoff="bench-9"]').filter({ hasText: "PASS" }).waitFor();
    await screenshot("now", 1280, 800);
    await screenshot("now", 768, 1024);
});

test("the yield shown is what the records make", async () => {
    await tab("yield");
    const records = await line.call("GET", "records", line.tokens.wall);
    for (const station of ["bench-1", "bench-2"]) {
        const own = records.filter((r) => r.station === station);
        const passed = own.filter((r) => r.exit_status === 0).length;
        const row = page.locator(`table.yield tr[data-key="${station}"]`);
        await row
            .locator(".passed")
            .filter({ hasText: `✔ ${passed}` })
            .waitFor();
        assert.equal(await row.locator(".failed").innerText(), `✖ ${own.length - passed}`);
        // Every board here is flashed once: the first-pass yield is the share that passed.
        assert.equal(
            await row.locator(".fpy").innerText(),
            `${((100 * passed) / own.length).toFixed(1)} %`,
        );
    }
    assert.equal(
        await page.locator('[data-total="passed"]').innerText(),
        `✔ ${records.filter((r) => r.exit_status === 0).length}`,
    );
    await page.locator("#chart canvas").waitFor();
    await screenshot("yield", 1280, 800);
    await screenshot("yield", 768, 1024);
});

test("a serial number finds the board's whole history", async () => {
    await tab("boards");
    const serial = (await tileState("bench-2", 1).locator(".detail").innerText()).trim();
    await page.fill("#serial", serial);
    await page.click('#search button[type="submit"]');
    const history = page.locator(`table.history[data-serial="${serial}"]`);
    await history.waitFor();
    const text = await history.innerText();
    for (const step of ["reserved", "written", "used", "✔ PASS", "bench-2"])
        assert.match(text, new RegExp(step));
    await page.selectOption('#filter select[name="result"]', "fail");
    await page.click('#filter button[type="submit"]');
    await page
        .locator("#records-count")
        .filter({ hasText: /^1 record$/ })
        .waitFor();
    const download = page.waitForEvent("download");
    await page.click("#csv");
    const csv = await (await download).createReadStream();
    let body = "";
    for await (const chunk of csv) body += chunk;
    const lines = body.trimEnd().split("\r\n");
    assert.equal(lines.length, 2);
    assert.match(lines[1], /^[^,]+,bench-1,2,COM4,[^,]*,L1,4,/);
    await screenshot("boards", 768, 1024);
});

test("the numbers show each pool, and a viewer's token cannot change anything", async () => {
    await tab("numbers");
    const row = page.locator('#pools tr[data-pool="widget"]');
    await row.waitFor();
    const pool = await line.call("GET", "pools/widget", line.tokens.wall);
    assert.equal(await row.locator(".next").innerText(), pool.next);
    const status = await page.evaluate(async () => {
        const response = await fetch("/api/v1/pools/widget/reservations", {
            method: "POST",
            headers: {
                Authorization: `Bearer ${localStorage.getItem("tervix-line.token")}`,
                "Content-Type": "application/json",
            },
            body: JSON.stringify({ port: "COM3" }),
        });
        return response.status;
    });
    assert.equal(status, 403);
});

test("a station not heard from for a minute is shown as gone", async () => {
    await tab("now");
    await page.clock.install();
    await page.clock.fastForward("01:05");
    await page.locator('[data-station="bench-1"].gone').filter({ hasText: "GONE" }).waitFor();
    assert.deepEqual(errors, []);
});
