// What the browser tests stand on: the loopback channel that carries commands
// to the test extensions, the browser in a process group of its own, and a
// Session per browser: its temporary folder, the stand-in, and the record of
// every host the browser started.

import { spawn } from "node:child_process";
import fs from "node:fs";
import http from "node:http";
import os from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";

const here = path.dirname(fileURLToPath(import.meta.url));
const built = (env, file) => path.resolve(process.env[env] || path.join(here, "../../build/linux", file));
const nmhost = built("NMHOST_EXE", "nmhost");
const standin = built("NMHOST_STANDIN", "tools/qtm-standin");

export const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
export const readText = (file) => (fs.existsSync(file) ? fs.readFileSync(file, "utf8") : "");
export const lines = (file) => readText(file).split("\n").filter(Boolean);

export async function until(what, probe, timeoutMs = 10000) {
  for (const end = Date.now() + timeoutMs; ; await sleep(25)) {
    const value = probe();
    if (value) return value;
    if (Date.now() > end) throw new Error(`timed out waiting for ${what}`);
  }
}

export function writeJson(file, value) {
  fs.mkdirSync(path.dirname(file), { recursive: true });
  fs.writeFileSync(file, JSON.stringify(value, null, 2));
}

// The test's end of the command channel. Each extension polls
// POST /next?from=<name> and gets its next command, or {} when none came
// within a few seconds; it posts the outcome to /done. Plain POSTs with a
// text body need no CORS preflight in either browser.
class Commands {
  #queues = new Map(); // name -> { commands, poll }
  #pending = new Map(); // id -> [resolve, reject, name]
  #lastId = 0;
  #server = http.createServer((req, res) => {
    const url = new URL(req.url, "http://127.0.0.1");
    const queue = this.#queue(url.searchParams.get("from") ?? "");
    let body = "";
    req.on("data", (chunk) => (body += chunk));
    req.on("end", () => {
      res.setHeader("access-control-allow-origin", "*");
      if (url.pathname === "/next") {
        queue.polled = true;
        const idle = () => (queue.poll === res && (queue.poll = null), res.end("{}"));
        queue.poll = res;
        res.timer = setTimeout(idle, 5000);
        this.#hand(queue);
      } else {
        const { id, value, thrown } = JSON.parse(body || "{}");
        const [resolve, reject, name] = this.#pending.get(id) ?? [() => {}, () => {}];
        this.#pending.delete(id);
        if (thrown) reject(new Error(`in the ${name} extension: ${thrown}`));
        else resolve(value);
        res.end("{}");
      }
    });
  });

  async listen() {
    await new Promise((r) => this.#server.listen(0, "127.0.0.1", r));
    return `http://127.0.0.1:${this.#server.address().port}`;
  }

  close() {
    for (const queue of this.#queues.values()) clearTimeout(queue.poll?.timer);
    this.#server.closeAllConnections();
    this.#server.close();
  }

  ready = (name, timeoutMs) => until(`the ${name} extension`, () => this.#queue(name).polled, timeoutMs);

  // Runs helpers[fn](...args) in the extension `name`; its value, or a throw.
  call(name, fn, ...args) {
    const id = ++this.#lastId;
    return new Promise((resolve, reject) => {
      this.#pending.set(id, [resolve, reject, name]);
      this.#queue(name).commands.push({ id, fn, args });
      this.#hand(this.#queue(name));
    });
  }

  #queue(name) {
    if (!this.#queues.has(name)) this.#queues.set(name, { commands: [], poll: null });
    return this.#queues.get(name);
  }

  #hand(queue) {
    if (!queue.poll || !queue.commands.length) return;
    clearTimeout(queue.poll.timer);
    queue.poll.end(JSON.stringify(queue.commands.shift()));
    queue.poll = null;
  }
}

// Copies the extension into `dir` with its manifest and the channel's
// address, which the worker reads from driver.json.
export function writeExtension(dir, manifest, driver) {
  writeJson(path.join(dir, "manifest.json"), manifest);
  writeJson(path.join(dir, "driver.json"), driver);
  fs.copyFileSync(path.join(here, "extension/worker.js"), path.join(dir, "worker.js"));
}

// The browser, its helper processes and the hosts it starts, in a process
// group of their own; stop() waits until the whole group is gone.
function startGroup(exe, args, env, logFile) {
  const log = fs.openSync(logFile, "a");
  const child = spawn(exe, args, { env, stdio: ["ignore", log, log], detached: true });
  fs.closeSync(log);
  const exited = new Promise((r) => child.once("exit", r));
  const signal = (sig) => {
    try {
      return process.kill(-child.pid, sig);
    } catch {
      return false; // no process left in the group
    }
  };
  // Should the test process die first, the browser goes with it.
  const killOnExit = () => signal("SIGKILL");
  process.once("exit", killOnExit);
  return async () => {
    process.off("exit", killOnExit);
    if (child.exitCode === null && child.signalCode === null) child.kill("SIGTERM");
    try {
      await until("the browser and its hosts to end", () => !signal(0), 15000);
    } catch (e) {
      signal("SIGKILL");
      await until("the browser's processes to be killed", () => !signal(0), 5000);
      throw e;
    }
    await exited;
  };
}

export class Session {
  launches = 0; // hosts started so far; host/direct leaves one line in `runs` each

  constructor(browser) {
    this.browser = browser;
    this.tmp = fs.mkdtempSync(path.join(os.tmpdir(), `nmhost-${browser.key}-`));
    [this.data, this.logs, this.home] = ["data", "logs", "home"].map((d) => path.join(this.tmp, d));
    for (const dir of [this.data, this.logs, this.home]) fs.mkdirSync(dir);
    this.commands = new Commands();
  }

  async start() {
    const log = fs.openSync(path.join(this.logs, "standin.stderr"), "a");
    this.standin = spawn(standin, [this.data], { stdio: ["ignore", "ignore", log] });
    fs.closeSync(log);
    await until("the stand-in's ipc.json", () => fs.existsSync(this.file("ipc.json")));
    const { home, logs } = this;
    // The browser hands its environment to the hosts it starts.
    const env = {
      ...process.env,
      HOME: home,
      TMPDIR: this.tmp,
      XDG_CONFIG_HOME: path.join(home, ".config"),
      XDG_CACHE_HOME: path.join(home, ".cache"),
      XDG_DATA_HOME: path.join(home, ".local/share"),
      QTM_DATA_DIR: this.data,
      NMHOST_EXE: nmhost,
      NMHOST_BROWSER_LOGS: logs,
      MOZ_CRASHREPORTER_DISABLE: "1",
    };
    const { exe, args } = this.browser.prepare({ tmp: this.tmp, driver: { url: await this.commands.listen() } });
    this.stopBrowser = startGroup(exe, args, env, path.join(logs, `${this.browser.key}.log`));
    for (const name of this.browser.extensions) await this.commands.ready(name, 60000);
  }

  async stop() {
    const problems = [];
    for (const step of [this.stopBrowser, this.allExited]) {
      if (step) await step().catch((e) => problems.push(e));
    }
    this.commands.close();
    if (this.standin?.exitCode === null) {
      fs.writeFileSync(this.file("standin.stop"), "");
      const late = setTimeout(() => this.standin.kill(), 3000);
      await new Promise((r) => this.standin.once("exit", r));
      clearTimeout(late);
    }
    if (!process.env.NMHOST_BROWSER_KEEP) fs.rmSync(this.tmp, { recursive: true, force: true });
    if (problems.length) throw problems[0];
  }

  file = (name) => path.join(this.data, name);

  // Runs a helper in the extension `from`; `starts`: hosts it starts.
  call = (fn, args, { from = "main", starts = 0 } = {}) => {
    this.launches += starts;
    return this.commands.call(from, fn, ...args);
  };

  // Every host run so far, in the order they ended, as host/direct wrote them.
  runs = () =>
    lines(path.join(this.logs, "runs")).map((line) => {
      const [head, ...args] = line.split("\t");
      const [pid, code] = head.split(" ").map(Number);
      return { code, args, stderr: readText(path.join(this.logs, `${pid}.stderr`)) };
    });

  // Waits until every host started so far has ended; gives their runs.
  allExited = () => until("the hosts to end", () => this.runs().length >= this.launches && this.runs());
}
