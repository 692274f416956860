// The browser test's line: a tervix-line server over a SQLite file in a temporary folder, its
// tokens, and stations (tervix-flash station) that flash tervix-sim boards and report to it.

import { execFileSync, spawn } from "node:child_process";
import { copyFileSync, mkdirSync, mkdtempSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { fileURLToPath } from "node:url";

const bin = process.env.TERVIX_BIN_DIR;
const blink = fileURLToPath(new URL("../../../examples/blink.hex", import.meta.url));
const started = new Set();

// A program run in the background, ended with the test; resolves the first match of pattern in
// what it writes on stream.
function background(program, args, stream, pattern, env = {}, cwd = undefined) {
    const child = spawn(join(bin, program), args, {
        cwd,
        env: { ...process.env, ...env },
        stdio: ["ignore", "pipe", "pipe"],
    });
    started.add(child);
    child.on("exit", () => started.delete(child));
    let text = "";
    const found = new Promise((resolve, reject) => {
        child[stream].on("data", (chunk) => {
            text += chunk;
            const match = text.match(pattern);
            if (match) resolve(match);
        });
        child.on("exit", (code) =>
            reject(new Error(`${program} ended (${code}) before it said ${pattern}: ${text}`)),
        );
    });
    return { child, found };
}

async function stop(child) {
    if (child.exitCode !== null || child.signalCode !== null) return;
    const ended = new Promise((resolve) => child.on("exit", resolve));
    child.kill("SIGTERM");
    await ended;
}

export class Line {
    async start() {
        this.folder = mkdtempSync(join(tmpdir(), "tervix-page-"));
        this.db = `sqlite:${join(this.folder, "line.db")}`;
        this.command("pool", "add", "widget", "--start", "1000");
        this.tokens = {};
        for (const [name, role] of [
            ["bench-1", "station"],
            ["bench-2", "station"],
            ["bench-9", "station"],
            ["wall", "viewer"],
        ]) {
            this.tokens[name] = this.command("token", "add", name, "--role", role).trim();
        }
        const server = background(
            "tervix-line",
            ["serve", "--db", this.db, "--listen", "127.0.0.1:0"],
            "stderr",
            /listening on (http:\/\/127\.0\.0\.1:\d+)/,
        );
        this.server = server.child;
        this.url = (await server.found)[1];
    }

    command(...args) {
        return execFileSync(join(bin, "tervix-line"), [...args, "--db", this.db], {
            encoding: "utf8",
        });
    }

    async call(method, path, token, body) {
        const response = await fetch(`${this.url}/api/v1/${path}`, {
            method,
            headers: { Authorization: `Bearer ${token}`, "Content-Type": "application/json" },
            body: body === undefined ? undefined : JSON.stringify(body),
        });
        const answer = await response.json();
        if (!response.ok) throw new Error(`${method} ${path}: ${response.status} ${answer.error}`);
        return answer;
    }

    async stop() {
        await Promise.all([...started].map(stop));
        rmSync(this.folder, { recursive: true, force: true });
    }
}

// A station of the line: tervix-flash station on a project of its own that takes its numbers
// from the server's pool, its positions COM3, COM4, ... of a ports folder of its own. The boards
// are tervix-sim processes linked there only once the station waits, so that each is a board put
// on; each position flashes one board (--until).
export class Station {
    constructor(line, name, lot, boards) {
        this.line = line;
        this.name = name;
        this.lot = lot;
        this.folder = join(line.folder, name);
        this.ports = join(this.folder, "ports");
        this.boards = boards.map((options, i) => ({ port: `COM${i + 3}`, options }));
    }

    async start() {
        mkdirSync(this.ports, { recursive: true });
        copyFileSync(blink, join(this.folder, "blink.hex"));
        const project = join(this.folder, "widget.toml");
        writeFileSync(
            project,
            [
                'name = "widget-rev-c"',
                "[firmware]",
                'file = "blink.hex"',
                "[serial]",
                'at = "eeprom:0x10"',
                'format = "u32le"',
                "[records]",
                'file = "boards.jsonl"',
                `tags = { lot = "${this.lot}" }`,
                "[station]",
                `name = "${this.name}"`,
                `ports = [${this.boards.map((b) => `"${b.port}"`).join(", ")}]`,
                "[line]",
                `url = "${this.line.url}"`,
                'pool = "widget"',
                "",
            ].join("\n"),
        );
        execFileSync(join(bin, "tervix-flash"), ["project", "lock", project]);
        // Resolved once every position waits: a board there at a position's first look would be
        // taken for one left on, and never flashed.
        const waiting = this.boards.map((b, i) => `(?=[^]*${i + 1} ${b.port}: waiting for)`);
        const station = background(
            "tervix-flash",
            ["station", project, "--plain", "--until", String(this.boards.length)],
            "stdout",
            new RegExp(waiting.join("")),
            { TERVIX_PORTS: this.ports, TERVIX_LINE_TOKEN: this.line.tokens[this.name] },
            // Its boards' logs and its spool stay in its folder, not where the test runs.
            this.folder,
        );
        this.ended = new Promise((resolve) => station.child.on("exit", resolve));
        await station.found;
    }

    // Puts a board on every position; resolves the station's exit status once their jobs ended.
    // The boards answer at the pace of a real line, so that their stages are seen.
    async flash() {
        await Promise.all(
            this.boards.map(
                (b) =>
                    background(
                        "tervix-sim",
                        ["--link", join(this.ports, b.port), "--pace", ...b.options],
                        "stdout",
                        /\n/,
                    ).found,
            ),
        );
        return this.ended;
    }
}

process.on("exit", () => {
    for (const child of started) child.kill("SIGKILL");
});
