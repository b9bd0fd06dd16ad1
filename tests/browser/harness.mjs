// What the browser tests stand on: the loopback channel that carries commands
// to the test extensions, the two browsers started headless with a fresh
// profile, and the record of every host the browsers started.

import { spawn } from "node:child_process";
import fs from "node:fs";
import http from "node:http";
import path from "node:path";
import { fileURLToPath } from "node:url";

const here = path.dirname(fileURLToPath(import.meta.url));

export const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

export function readText(file) {
  try {
    return fs.readFileSync(file, "utf8");
  } catch (e) {
    if (e.code === "ENOENT") return "";
    throw e;
  }
}

export const lines = (file) => readText(file).split("\n").filter(Boolean);

export async function until(what, probe, timeoutMs = 10000) {
  const end = Date.now() + timeoutMs;
  for (;;) {
    const value = probe();
    if (value) return value;
    if (Date.now() > end) throw new Error(`timed out waiting for ${what}`);
    await sleep(25);
  }
}

// Every host run so far, in the order they ended, as host/direct wrote them.
export function hostRuns(logs) {
  return lines(path.join(logs, "runs")).map((line) => {
    const [head, ...args] = line.split("\t");
    const [pid, code] = head.split(" ").map(Number);
    return { code, args, stderr: readText(path.join(logs, `${pid}.stderr`)) };
  });
}

// The test's end of the command channel. Each extension polls
// POST /next?from=<name> and gets the next command for it, or {} when none
// came within a few seconds; it posts the outcome to /done. Plain POSTs with
// a text body need no CORS preflight in either browser.
export class Commands {
  #queues = new Map(); // name -> { commands, poll }
  #pending = new Map(); // id -> { resolve, reject }
  #polled = new Set();
  #lastId = 0;
  #server = http.createServer((req, res) => this.#serve(req, res));

  async listen() {
    await new Promise((r) => this.#server.listen(0, "127.0.0.1", r));
    return `http://127.0.0.1:${this.#server.address().port}`;
  }

  close() {
    for (const queue of this.#queues.values()) clearTimeout(queue.poll?.timer);
    this.#server.closeAllConnections();
    this.#server.close();
  }

  // Resolves once the extension `name` has asked for its first command.
  ready(name, timeoutMs) {
    return until(`the ${name} extension to start`, () => this.#polled.has(name), timeoutMs);
  }

  // Runs helpers[fn](...args) in the extension `name`; its value, or a throw.
  call(name, fn, ...args) {
    const command = { id: ++this.#lastId, fn, args };
    return new Promise((resolve, reject) => {
      this.#pending.set(command.id, { resolve, reject });
      const queue = this.#queue(name);
      queue.commands.push(command);
      this.#hand(queue);
    });
  }

  #queue(name) {
    if (!this.#queues.has(name)) this.#queues.set(name, { commands: [], poll: null });
    return this.#queues.get(name);
  }

  #hand(queue) {
    if (!queue.poll || !queue.commands.length) return;
    const { res, timer } = queue.poll;
    clearTimeout(timer);
    queue.poll = null;
    res.end(JSON.stringify(queue.commands.shift()));
  }

  #serve(req, res) {
    const url = new URL(req.url, "http://127.0.0.1");
    const name = url.searchParams.get("from") ?? "";
    let body = "";
    req.setEncoding("utf8");
    req.on("data", (chunk) => (body += chunk));
    req.on("end", () => {
      res.setHeader("access-control-allow-origin", "*");
      res.setHeader("content-type", "application/json");
      if (url.pathname === "/next") {
        this.#polled.add(name);
        const queue = this.#queue(name);
        const idle = () => {
          if (queue.poll?.res === res) queue.poll = null;
          res.end("{}");
        };
        queue.poll = { res, timer: setTimeout(idle, 5000) };
        this.#hand(queue);
      } else if (url.pathname === "/done") {
        const outcome = JSON.parse(body);
        const waiter = this.#pending.get(outcome.id);
        this.#pending.delete(outcome.id);
        if ("thrown" in outcome) {
          waiter?.reject(new Error(`in the ${name} extension: ${outcome.thrown}`));
        } else {
          waiter?.resolve(outcome.value);
        }
        res.end("{}");
      } else {
        res.statusCode = 404;
        res.end("{}");
      }
    });
  }
}

// Copies the extension into `dir` with its manifest and the channel's
// address, which the worker reads from driver.json.
export function writeExtension(dir, manifest, driver) {
  fs.mkdirSync(dir, { recursive: true });
  fs.copyFileSync(path.join(here, "extension/worker.js"), path.join(dir, "worker.js"));
  fs.writeFileSync(path.join(dir, "manifest.json"), JSON.stringify(manifest, null, 2));
  fs.writeFileSync(path.join(dir, "driver.json"), JSON.stringify(driver));
}

export function writeHostManifest(file, fields) {
  fs.mkdirSync(path.dirname(file), { recursive: true });
  const manifest = { description: "QAR Torvanel Download Manager", type: "stdio", ...fields };
  fs.writeFileSync(file, JSON.stringify(manifest, null, 2));
}

// A browser process in a process group of its own: the browser, its helper
// processes and the hosts it starts. stop() ends the browser and waits until
// the whole group is gone, so that nothing outlives the run.
export class BrowserProcess {
  constructor(exe, args, env, logFile) {
    const log = fs.openSync(logFile, "a");
    this.child = spawn(exe, args, { env, stdio: ["ignore", log, log], detached: true });
    fs.closeSync(log);
    this.exited = new Promise((r) => this.child.once("exit", (code, signal) => r({ code, signal })));
    // Should the test process die first, the browser goes with it.
    this.killOnExit = () => this.#signalGroup("SIGKILL");
    process.once("exit", this.killOnExit);
  }

  #signalGroup(signal) {
    try {
      process.kill(-this.child.pid, signal);
      return true;
    } catch {
      return false; // no process left in the group
    }
  }

  async stop() {
    process.off("exit", this.killOnExit);
    if (this.child.exitCode === null && this.child.signalCode === null) this.child.kill("SIGTERM");
    const gone = () => !this.#signalGroup(0);
    try {
      await until("the browser and its hosts to end", gone, 15000);
    } catch (e) {
      this.#signalGroup("SIGKILL");
      await until("the browser's processes to be killed", gone, 5000);
      throw e;
    }
    await this.exited;
  }
}
