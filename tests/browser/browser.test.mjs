// Real browsers talk native messaging to the built host: a test extension
// calls sendNativeMessage and connectNative, the host answers, and downloads
// it takes over reach the stand-in application. Each case below runs in every
// browser; the browsers themselves are described in browsers.mjs.
//
// From the environment (tests/browser/run sets them):
//   NMHOST_EXE       the Linux host, default build/linux/nmhost
//   NMHOST_STANDIN   the stand-in application, default build/linux/tools/qtm-standin
//   NMHOST_BROWSERS  which browsers, default "chromium firefox"
//   CHROMIUM, FIREFOX  the browsers' programs
//   NMHOST_BROWSER_KEEP=1  keep the run's temporary folder

import { after, before, describe, test } from "node:test";
import assert from "node:assert/strict";
import { spawn } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";
import { HOST, browsers } from "./browsers.mjs";
import { Commands, hostRuns, lines, readText, sleep, until } from "./harness.mjs";

const here = path.dirname(fileURLToPath(import.meta.url));
const root = path.resolve(here, "../..");
const nmhost = path.resolve(process.env.NMHOST_EXE || path.join(root, "build/linux/nmhost"));
const standin = path.resolve(
  process.env.NMHOST_STANDIN || path.join(root, "build/linux/tools/qtm-standin"),
);
const selected = (process.env.NMHOST_BROWSERS || "chromium firefox")
  .split(/[\s,]+/)
  .filter(Boolean);

const PREFIX = "qartorvaneldownloadmanager-nmhost: ";
const MAX_MESSAGE_BYTES = 1048576;

// Time limits, so that a stuck browser or host fails the run instead of hanging it.
const LONG = { timeout: 90000 };
const SHORT = { timeout: 30000 };

// A run of one browser: its temporary folder, the stand-in, the browser, and
// what the cases use to drive the extensions and look at the host's side.
class Session {
  launches = 0; // hosts started so far; each leaves one line in `runs`

  constructor(browser) {
    this.browser = browser;
    this.tmp = fs.mkdtempSync(path.join(os.tmpdir(), `nmhost-${browser.key}-`));
    this.data = path.join(this.tmp, "data");
    this.logs = path.join(this.tmp, "logs");
    for (const dir of [this.data, this.logs, path.join(this.tmp, "home")]) fs.mkdirSync(dir);
    this.commands = new Commands();
  }

  async start() {
    const standinLog = fs.openSync(path.join(this.logs, "standin.stderr"), "a");
    this.standin = spawn(standin, [this.data], { stdio: ["ignore", "ignore", standinLog] });
    fs.closeSync(standinLog);
    await until("the stand-in's ipc.json", () => fs.existsSync(this.file("ipc.json")));

    const home = path.join(this.tmp, "home");
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
      NMHOST_BROWSER_LOGS: this.logs,
    };
    const driver = { url: await this.commands.listen() };
    this.process = this.browser.start({ tmp: this.tmp, env, driver, logs: this.logs });
    for (const name of this.browser.extensions) await this.commands.ready(name, 60000);
  }

  async stop() {
    const problems = [];
    const attempt = async (what) => {
      try {
        await what();
      } catch (e) {
        problems.push(e);
      }
    };
    await attempt(() => this.process?.stop());
    await attempt(() => this.allExited());
    this.commands.close();
    if (this.standin && this.standin.exitCode === null) {
      fs.writeFileSync(this.file("standin.stop"), "");
      const ended = new Promise((r) => this.standin.once("exit", r));
      const late = setTimeout(() => this.standin.kill(), 3000);
      await ended;
      clearTimeout(late);
    }
    if (!process.env.NMHOST_BROWSER_KEEP) fs.rmSync(this.tmp, { recursive: true, force: true });
    if (problems.length) throw problems[0];
  }

  file = (name) => path.join(this.data, name);
  call = (fn, ...args) => this.commands.call("main", fn, ...args);
  callAs = (name, fn, ...args) => this.commands.call(name, fn, ...args);
  runs = () => hostRuns(this.logs);

  sendOnce(message, host = HOST) {
    ++this.launches;
    return this.call("sendOnce", host, message);
  }

  // `starts`: whether the browser is to start a host for this port.
  openPort(host = HOST, from = "main", starts = true) {
    if (starts) ++this.launches;
    return this.callAs(from, "openPort", host);
  }

  // Waits until every host started so far has ended; gives their runs.
  allExited() {
    return until("the hosts to end", () => {
      const runs = this.runs();
      return runs.length >= this.launches && runs;
    });
  }

  useSettings(settings) {
    if (settings === undefined) fs.rmSync(this.file("downloads.json"), { force: true });
    else fs.writeFileSync(this.file("downloads.json"), JSON.stringify({ settings }));
  }
}

const rulesSummary = [
  {
    name: "the user's options",
    settings: () => ({
      auto_types: "ZIP ISO",
      excluded_sites: "*.example.com",
      excluded_addresses: ["127.0.0.1/private/*"],
      capture_opened: false,
      capture_min_kb: 64,
    }),
    want: {
      ok: true,
      version: "0.5.1",
      types: "ZIP ISO",
      capture: true,
      excludedSites: "*.example.com",
      excludedAddresses: ["127.0.0.1/private/*"],
      opened: false,
      minKb: 64,
    },
  },
  {
    name: "capture off for this browser",
    settings: (s) => ({
      auto_types: "ZIP",
      excluded_sites: "",
      browsers: [[s.browser.product, false]],
    }),
    want: {
      ok: true,
      version: "0.5.1",
      types: "ZIP",
      capture: false,
      excludedSites: "",
      excludedAddresses: [],
      opened: true,
      minKb: 0,
      captureOff: "browser",
    },
  },
];

const leftToTheBrowser = [
  {
    name: "a type not in the list",
    settings: undefined,
    file: "notes.html",
    size: 5000,
    variant: "FileType",
    word: "file-type",
    text: "its type isn't in Options > File types",
  },
  {
    name: "smaller than the minimum",
    settings: { capture_min_kb: 4 },
    file: "tiny.zip",
    size: 4095,
    variant: "Small",
    word: "small",
    text: "it is smaller than Options > File types > Don't take files smaller than",
  },
];

// The cases, in order, each run with a Session in every browser (or only in
// those `only` names; `rows` gives a case one test per row of the browser's
// own). Adding a case for both browsers is one entry here.
const cases = [
  ...rulesSummary.map((c) => ({
    name: `the host starts with the browser's arguments, hello gives the rules summary: ${c.name}`,
    run: async (s) => {
      s.useSettings(c.settings(s));
      const facts = await s.call("facts");
      const { error, reply } = await s.sendOnce({ hello: true, ...facts });
      assert.equal(error, undefined);
      assert.deepEqual(reply, c.want);
      const seen = lines(s.file("extension-seen"));
      assert.ok(seen.includes(`${s.browser.product}\t${facts.v}`), seen.join("\n"));
      const run = (await s.allExited()).at(-1);
      assert.deepEqual(run, { code: 0, args: s.browser.acceptedArgs(s), stderr: "" });
    },
  })),

  {
    name: "callers that are not the companion",
    rows: (browser) => browser.refusals,
    run: async (s, r) => {
      const before = s.runs().length;
      const refusedArgs = r.refusedArgs?.(s);
      const port = await s.openPort(r.host, r.from, Boolean(refusedArgs));
      const { error, replies, closed } = await s.callAs(r.from, "exchange", port, [], null);
      await s.callAs(r.from, "closePort", port);
      assert.equal(error, null);
      assert.deepEqual(replies, []);
      if (typeof r.closed === "string") assert.equal(closed, r.closed);
      else assert.match(closed, r.closed);
      const runs = await s.allExited();
      if (!refusedArgs) {
        await sleep(200);
        assert.equal(s.runs().length, before, "no host is started");
        return;
      }
      assert.deepEqual(runs.at(-1), {
        code: 1,
        args: refusedArgs,
        stderr:
          `${PREFIX}refusing caller [${refusedArgs.map((a) => JSON.stringify(a)).join(", ")}]: ` +
          "not the QAR Torvanel Download Manager extension\n",
      });
    },
  },

  {
    name: "a message just over 1 MiB is answered too-large and the port goes on",
    run: async (s) => {
      // The browser sends compact JSON: {"pad":"x...x"} is the padding plus 10 bytes.
      const sized = (bytes) => ({ pad: "x".repeat(bytes - 10) });
      assert.equal(JSON.stringify(sized(MAX_MESSAGE_BYTES)).length, MAX_MESSAGE_BYTES);
      const port = await s.openPort();
      const messages = [sized(MAX_MESSAGE_BYTES + 1), sized(MAX_MESSAGE_BYTES), { url: 7 }];
      const { error, replies, closed } = await s.call("exchange", port, messages, messages.length);
      await s.call("closePort", port);
      assert.equal(error, null);
      assert.equal(closed, null);
      assert.deepEqual(replies[0], {
        ok: false,
        error: `a message of ${MAX_MESSAGE_BYTES + 1} bytes`,
        why: "too-large",
      });
      // Exactly 1 MiB is read and handled: a download without an address.
      assert.deepEqual(replies[1], { ok: false, error: "not an http(s) or ftp(s) URL", why: "refused" });
      assert.equal(replies[2].ok, false);
      assert.match(replies[2].error, /^invalid type: integer `7`, expected a string at line 1 column \d+$/);
    },
  },

  {
    name: "a reply that would pass 1 MiB has its error cut and the port goes on",
    run: async (s) => {
      // Each quote is escaped once in the message and twice where the error
      // quotes the string: the whole reply would be about 2 MiB.
      const message = { rules: '"'.repeat(524280) };
      assert.equal(JSON.stringify(message).length, 1048572);
      const port = await s.openPort();
      const { error, replies, closed } = await s.call("exchange", port, [message, { rules: true }], 2);
      await s.call("closePort", port);
      assert.equal(error, null);
      assert.equal(closed, null);
      assert.deepEqual(Object.keys(replies[0]), ["ok", "error", "why"]);
      assert.equal(replies[0].why, "refused");
      assert.ok(replies[0].error.startsWith('invalid type: string "\\"\\"'), replies[0].error.slice(0, 40));
      assert.ok(replies[0].error.endsWith("\u2026"));
      assert.ok(Buffer.byteLength(JSON.stringify(replies[0])) <= MAX_MESSAGE_BYTES);
      assert.equal(replies[1].ok, true);
    },
  },

  {
    name: "a long-lived port carries 100 messages, answered in order",
    run: async (s) => {
      // Odd messages are refused with their own number in the error text,
      // even ones get the rules summary.
      const messages = Array.from({ length: 100 }, (_, i) =>
        i % 2 ? { url: i } : { hello: true, v: `1.${i}` },
      );
      const port = await s.openPort();
      const { error, replies, closed } = await s.call("exchange", port, messages, messages.length);
      await s.call("closePort", port);
      assert.equal(error, null);
      assert.equal(closed, null);
      assert.equal(replies.length, 100);
      replies.forEach((reply, i) => {
        if (i % 2) {
          assert.equal(reply.why, "refused", `reply ${i}`);
          assert.match(reply.error, new RegExp(`^invalid type: integer \`${i}\`, expected a string `));
        } else {
          assert.equal(reply.version, "0.5.1", `reply ${i}`);
        }
      });
    },
  },

  {
    name: "the host ends with exit code 0 when the port is closed",
    run: async (s) => {
      await s.allExited();
      const port = await s.openPort();
      const { error, replies } = await s.call("exchange", port, [{ rules: true }], 1);
      assert.equal(error, null);
      assert.equal(replies[0].ok, true);
      await sleep(200);
      assert.equal(s.runs().length, s.launches - 1, "the host runs while the port is open");
      await s.call("closePort", port);
      const runs = await s.allExited();
      assert.deepEqual(runs.at(-1), { code: 0, args: s.browser.acceptedArgs(s), stderr: "" });
    },
  },

  {
    name: "a download taken over reaches the application with the browser's cookies and user agent",
    run: async (s) => {
      s.useSettings(undefined);
      const origin = "http://127.0.0.1";
      const cookieJar = await s.call("cookiesFor", origin);
      assert.equal(cookieJar.length, 2);
      const facts = await s.call("facts");
      const message = {
        url: `${origin}:8080/files/report.zip?id=7`,
        filename: "/home/user/Downloads/report.zip",
        size: 123456,
        referrer: `${origin}:8080/files/`,
        cookies: cookieJar.map((c) => `${c.name}=${c.value}`).join("; "),
        // As the browser gives them, extra keys (httpOnly, sameSite, storeId...) included.
        cookieJar,
        ...facts,
      };
      const requestsBefore = lines(s.file("requests.jsonl")).length;
      const { error, reply } = await s.sendOnce(message);
      assert.equal(error, undefined);
      assert.deepEqual(reply, { ok: true });

      const requests = lines(s.file("requests.jsonl"));
      assert.equal(requests.length, requestsBefore + 1);
      const request = JSON.parse(requests.at(-1));
      const endpoint = JSON.parse(readText(s.file("ipc.json")));
      assert.equal(request.token, endpoint.token);
      assert.equal(request.url, message.url);
      assert.equal(request.name, "report.zip");
      assert.equal(request.referer, message.referrer);
      assert.equal(request.size, 123456);
      assert.equal(request.user_agent, facts.userAgent);
      assert.equal(request.cookies, message.cookies);
      assert.deepEqual(
        request.cookie_jar,
        cookieJar.map((c) => ({
          name: c.name,
          value: c.value,
          domain: c.domain,
          host_only: c.hostOnly,
          path: c.path,
          secure: c.secure,
          expires: c.expirationDate ?? null,
        })),
      );
    },
  },

  ...leftToTheBrowser.map((c) => ({
    name: `downloads left to the browser, ${c.name}: the reply gives the reason and the log says why`,
    only: ["chromium"],
    run: async (s) => {
      s.useSettings(c.settings);
      const facts = await s.call("facts");
      const requestsBefore = lines(s.file("requests.jsonl")).length;
      const { error, reply } = await s.sendOnce({
        url: `http://127.0.0.1:8080/files/${c.file}`,
        filename: c.file,
        size: c.size,
        ...facts,
      });
      assert.equal(error, undefined);
      assert.deepEqual(reply, {
        ok: false,
        error: `left to the browser by Options (${c.variant})`,
        why: "options",
        declined: c.word,
      });
      assert.equal(lines(s.file("requests.jsonl")).length, requestsBefore, "the application is not asked");
      const logged = lines(path.join(s.data, "logs", "qtm.log")).at(-1) ?? "";
      const want = `browser integration: ${s.browser.product} keeps ${c.file} from 127.0.0.1: ${c.text}`;
      assert.ok(logged.endsWith(want), logged);
    },
  })),

  {
    name: "every accepted host ended with exit code 0 and wrote no error",
    run: async (s) => {
      const accepted = (await s.allExited()).filter(
        (r) => JSON.stringify(r.args) === JSON.stringify(s.browser.acceptedArgs(s)),
      );
      assert.ok(accepted.length > 0);
      assert.deepEqual(
        accepted.filter((r) => r.code !== 0 || r.stderr !== ""),
        [],
      );
    },
  },
];

for (const browser of browsers.filter((b) => selected.includes(b.key))) {
  describe(`${browser.name} and the host`, () => {
    let s;
    before(async () => {
      s = new Session(browser);
      await s.start();
    }, LONG);
    after(() => s?.stop(), LONG);

    for (const c of cases.filter((c) => !c.only || c.only.includes(browser.key))) {
      if (c.rows) {
        describe(c.name, () => {
          for (const row of c.rows(browser)) test(row.name, SHORT, () => c.run(s, row));
        });
      } else {
        test(c.name, SHORT, () => c.run(s));
      }
    }
  });
}
