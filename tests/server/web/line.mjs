// The browser test's line: a tervix-line server over a SQLite file in a temporary folder, its
// tokens, and stations that flash tervix-sim boards with tervix-flash and tell the server what
// they do through the API a station uses (its state, reservations, records).

import { execFile, execFileSync, spawn } from "node:child_process";
import { mkdirSync, mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { fileURLToPath } from "node:url";
import { promisify } from "node:util";

const bin = process.env.TERVIX_BIN_DIR;
const blink = fileURLToPath(new URL("../../../examples/blink.hex", import.meta.url));
const started = new Set();
const run = promisify(execFile);

// A program run in the background, ended with the test; resolves the first match of pattern in
// what it writes on stream.
function background(program, args, stream, pattern, env = {}) {
    const child = spawn(join(bin, program), args, {
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

// A station of the line: one tervix-sim board per position, linked as COM3, COM4, ... in a
// ports folder of its own.
export class Station {
    constructor(line, name, positions) {
        this.line = line;
        this.name = name;
        this.token = line.tokens[name];
        this.ports = join(line.folder, name);
        this.positions = positions.map((options, i) => ({
            position: i + 1,
            port: `COM${i + 3}`,
            options,
            state: { state: "waiting" },
        }));
        this.runs = 0;
    }

    async start() {
        mkdirSync(this.ports);
        await Promise.all(
            this.positions.map(
                (p) =>
                    background(
                        "tervix-sim",
                        ["--link", join(this.ports, p.port), ...p.options],
                        "stdout",
                        /\n/,
                    ).found,
            ),
        );
        await this.report();
    }

    // One report at a time, each with the states as they are when it leaves: two positions'
    // reports in flight together could otherwise arrive in the other order, the older last.
    report() {
        this.reported = (this.reported ?? Promise.resolve()).then(() =>
            this.line.call("PUT", `stations/${this.name}`, this.token, {
                project: "widget-rev-c",
                firmware: "blink.hex",
                firmware_hash: "4e1714cc67b1d66c06f4428b6733fe7ca5f16d4e3a5fed780dfc85b6d823503a",
                positions: this.positions.map((p) => ({
                    position: p.position,
                    port: p.port,
                    ...p.state,
                })),
            }),
        );
        return this.reported;
    }

    async set(position, state) {
        this.positions[position - 1].state = state;
        await this.report();
    }

    // One board at the position, as a station runs it: a number reserved, the board flashed, the
    // number used with its record (or released when the board failed before it), the state
    // reported at each step. Returns the record.
    async flash(position, lot) {
        const p = this.positions[position - 1];
        await this.set(position, { state: "flashing", stage: "erasing", percent: 10 });
        const reservation = await this.line.call("POST", "pools/widget/reservations", this.token, {
            port: p.port,
        });
        await this.set(position, { state: "flashing", stage: "writing", percent: 40 });
        const args = ["flash", blink, "--port", p.port, "--json", "--tag", `lot=${lot}`];
        const env = { ...process.env, TERVIX_PORTS: this.ports };
        // A failed board exits non-zero with its record on standard output all the same.
        const out = await run(join(bin, "tervix-flash"), args, { env }).then(
            (done) => done.stdout,
            (failed) => failed.stdout,
        );
        const record = {
            ...JSON.parse(out),
            id: `${this.name}-${++this.runs}`,
            station: this.name,
            position,
            project: "widget-rev-c",
        };
        if (record.exit_status === 0) {
            record.serial = reservation.serial;
            await this.line.call("POST", `reservations/${reservation.id}/renew`, this.token, {
                written: true,
            });
            await this.line.call("POST", `reservations/${reservation.id}/used`, this.token, {
                record,
            });
            await this.set(position, {
                state: "pass",
                serial: record.serial,
                seconds: record.seconds,
            });
        } else {
            await this.line.call("POST", `reservations/${reservation.id}/released`, this.token, {});
            await this.line.call("POST", "records", this.token, record);
            await this.set(position, { state: "fail", reason: record.result });
        }
        return record;
    }
}

process.on("exit", () => {
    for (const child of started) child.kill("SIGKILL");
});
