// What the browser tests stand on: the browser in a process group of its own,
// and a Session per browser (below).

import { spawn } from "node:child_process";
import fs from "node:fs";
import http from "node:http";
import os from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";

const here = path.dirname(fileURLToPath(import.meta.url));
const built = (env, file) => path.resolve(process.env[env] || path.join(here, "../../build/linux", file));
const [nmhost, standin] = [built("NMHOST_EXE", "nmhost"), built("NMHOST_STANDIN", "tools/qtm-standin")];

export const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
const readText = (file) => fs.readFileSync(file, "utf8");
export const lines = (file) => (fs.existsSync(file) ? readText(file).split("\n").filter(Boolean) : []);

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

// A run of one browser: its temporary folder, the stand-in, the browser, the
// command channel to its extensions and the record of every host it started.
// Each extension polls POST /next?from=<name>, with the outcome of its last
// command as the body, and gets its next command, or {} when none came within
// a few seconds. Plain POSTs with a text body need no CORS preflight.
export class Session {
  launches = 0; // hosts started so far; host/direct leaves one line in `runs` each
  #queues = new Map(); // extension -> { commands, poll, polled }
  #pending = new Map(); // command id -> [resolve, reject, extension]
  #lastId = 0;
  #server = http.createServer((req, res) => {
    const queue = this.#queue(new URL(req.url, "http://127.0.0.1").searchParams.get("from"));
    let body = "";
    req.on("data", (chunk) => (body += chunk));
    req.on("end", () => {
      const { id, value, thrown } = JSON.parse(body || "{}");
      const [resolve, reject, name] = this.#pending.get(id) ?? [];
      this.#pending.delete(id);
      if (thrown) reject(new Error(`in the ${name} extension: ${thrown}`));
      else resolve?.(value);
      res.setHeader("access-control-allow-origin", "*");
      Object.assign(queue, { poll: res, polled: true });
      res.timer = setTimeout(() => (queue.poll === res && (queue.poll = null), res.end("{}")), 5000);
      this.#hand(queue);
    });
  });

  constructor(browser) {
    this.browser = browser;
    this.tmp = fs.mkdtempSync(path.join(os.tmpdir(), `nmhost-${browser.key}-`));
    [this.data, this.logs, this.home] = ["data", "logs", "home"].map((d) => path.join(this.tmp, d));
    for (const dir of [this.data, this.logs, this.home]) fs.mkdirSync(dir);
  }

  async start() {
    const log = fs.openSync(path.join(this.logs, "standin.stderr"), "a");
    this.standin = spawn(standin, [this.data], { stdio: ["ignore", "ignore", log] });
    fs.closeSync(log);
    await until("the stand-in's ipc.json", () => fs.existsSync(this.file("ipc.json")));
    const { home, logs, data } = this;
    // The browser hands its environment to the hosts it starts.
    const env = { ...process.env, HOME: home, TMPDIR: this.tmp, QTM_DATA_DIR: data, NMHOST_EXE: nmhost };
    Object.assign(env, { NMHOST_BROWSER_LOGS: logs, MOZ_CRASHREPORTER_DISABLE: "1" });
    for (const [xdg, dir] of [["CONFIG", ".config"], ["CACHE", ".cache"], ["DATA", ".local/share"]]) {
      env[`XDG_${xdg}_HOME`] = path.join(home, dir);
    }
    await new Promise((r) => this.#server.listen(0, "127.0.0.1", r));
    const driver = { url: `http://127.0.0.1:${this.#server.address().port}` };
    const { exe, args } = this.browser.prepare({ tmp: this.tmp, driver });
    this.stopBrowser = startGroup(exe, args, env, path.join(logs, `${this.browser.key}.log`));
    await until("the extensions", () => this.browser.extensions.every((n) => this.#queue(n).polled), 60000);
  }

  async stop() {
    const problems = [];
    for (const step of [this.stopBrowser, this.allExited]) await step?.().catch((e) => problems.push(e));
    for (const queue of this.#queues.values()) clearTimeout(queue.poll?.timer);
    this.#server.closeAllConnections();
    this.#server.close();
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

  // Runs helpers[fn](...args) in the extension `from`, which starts `starts`
  // hosts doing so; gives its value, or throws what it threw.
  call(fn, args, { from = "main", starts = 0 } = {}) {
    this.launches += starts;
    const id = ++this.#lastId;
    return new Promise((resolve, reject) => {
      this.#pending.set(id, [resolve, reject, from]);
      this.#queue(from).commands.push({ id, fn, args });
      this.#hand(this.#queue(from));
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
