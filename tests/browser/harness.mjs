// The Session of one browser: its temporary folder, the stand-in, the browser in a process
// group of its own, the command channel to its extensions and the record of every host it
// started. tests/browser/run sets the environment (see README.md).

import {spawn} from 'node:child_process';
import {once} from 'node:events';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';

export const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
const read = (file) => fs.readFileSync(file, 'utf8');
export const lines = (file) => fs.existsSync(file) ? read(file).split('\n').filter(Boolean) : [];

export async function until(what, probe, ms = 10000) {
  for (const end = Date.now() + ms;; await sleep(25)) {
    const value = probe();
    if (value) return value;
    if (Date.now() > end) throw new Error(`timed out waiting for ${what}`);
  }
}

export function writeJson(file, value) {
  fs.mkdirSync(path.dirname(file), {recursive: true});
  fs.writeFileSync(file, JSON.stringify(value));
}

// Each extension polls POST /next?from=<name> with the outcome of its last command as the
// body and gets its next command, or {}. Plain POSTs with a text body need no CORS preflight.
export class Session {
  launches = 0;           // hosts started so far; host/direct leaves one line in `runs` each
  #commands = new Map();  // extension -> commands it has not fetched yet
  #pending = new Map();   // command id -> [resolve, reject]
  #lastId = 0;
  #server = http.createServer((req, res) => {
    let body = '';
    req.on('data', (chunk) => (body += chunk));
    req.on('end', () => {
      const {id, value, thrown} = JSON.parse(body || '{}');
      const [resolve, reject] = this.#pending.get(id) ?? [];
      this.#pending.delete(id);
      thrown ? reject(new Error(`in the extension: ${thrown}`)) : resolve?.(value);
      const from = new URL(req.url, 'http://127.0.0.1').searchParams.get('from');
      if (!this.#commands.has(from)) this.#commands.set(from, []);
      res.setHeader('access-control-allow-origin', '*');
      res.end(JSON.stringify(this.#commands.get(from).shift() ?? {}));
    });
  });

  constructor(browser) {
    this.browser = browser;
    this.tmp = fs.mkdtempSync(path.join(os.tmpdir(), `nmhost-${browser.key}-`));
    [this.data, this.logs, this.home] = ['data', 'logs', 'home'].map((d) => path.join(this.tmp, d));
    [this.data, this.logs, this.home].forEach((dir) => fs.mkdirSync(dir));
  }

  #spawn(exe, args, log, options) {
    const fd = fs.openSync(path.join(this.logs, log), 'a');
    try {
      return spawn(exe, args, {stdio: ['ignore', fd, fd], ...options});
    } finally {
      fs.closeSync(fd);
    }
  }

  async start() {
    this.standin = this.#spawn(process.env.NMHOST_STANDIN, [this.data], 'standin.log');
    await until('the stand-in\'s ipc.json', () => fs.existsSync(this.file('ipc.json')));
    // The browser hands its environment to the hosts it starts.
    const {home, logs, data} = this;
    const env = {...process.env, HOME: home, TMPDIR: this.tmp, QTM_DATA_DIR: data};
    Object.assign(env, {NMHOST_BROWSER_LOGS: logs, MOZ_CRASHREPORTER_DISABLE: '1'});
    for (const [xdg, dir] of [
             ['CONFIG', '.config'], ['CACHE', '.cache'], ['DATA', '.local/share']]) {
      env[`XDG_${xdg}_HOME`] = path.join(home, dir);
    }
    await new Promise((r) => this.#server.listen(0, '127.0.0.1', r));
    const driver = {url: `http://127.0.0.1:${this.#server.address().port}`};
    const {exe, args} = this.browser.prepare({tmp: this.tmp, driver});
    const browser = this.#spawn(exe, args, `${this.browser.key}.log`, {env, detached: true});
    // The browser, its helpers and the hosts it starts share its process group.
    const group = (signal) => {
      try {
        return process.kill(-browser.pid, signal);
      } catch {
        return false;  // no process left in the group
      }
    };
    const killOnExit = () => group('SIGKILL');  // should the test die first
    process.once('exit', killOnExit);
    this.stopBrowser = async () => {
      process.off('exit', killOnExit);
      browser.kill('SIGTERM');
      try {
        await until('the browser and its hosts to end', () => !group(0), 15000);
      } finally {
        group('SIGKILL');
      }
    };
    const ready = () => this.browser.extensions.every((n) => this.#commands.has(n));
    await until('the extensions', ready, 60000);
  }

  async stop() {
    const problems = [];
    for (const step of [this.stopBrowser, this.allExited]) {
      await step?.().catch((e) => problems.push(e));
    }
    this.#server.closeAllConnections();
    this.#server.close();
    if (this.standin?.exitCode === null) await (this.standin.kill(), once(this.standin, 'exit'));
    if (!process.env.NMHOST_BROWSER_KEEP) fs.rmSync(this.tmp, {recursive: true, force: true});
    if (problems.length) throw problems[0];
  }

  file = (name) => path.join(this.data, name);

  // Runs helpers[fn](...args) in the extension `from`, which starts `starts` hosts doing so;
  // gives its value, or throws what it threw.
  call(fn, args, {from = 'main', starts = 0} = {}) {
    this.launches += starts;
    this.#commands.get(from).push({id: ++this.#lastId, fn, args});
    return new Promise((...settle) => this.#pending.set(this.#lastId, settle));
  }

  // Every host run so far, in the order they ended, as host/direct wrote them.
  runs = () => lines(path.join(this.logs, 'runs')).map((line) => {
    const [head, ...args] = line.split('\t');
    return {
      code: Number(head.split(' ')[1]),
      args,
      stderr: read(`${this.logs}/${head.split(' ')[0]}.stderr`)
    };
  });

  // Waits until every host started so far has ended; gives their runs.
  allExited = () =>
      until('the hosts to end', () => this.runs().length >= this.launches && this.runs());
}
