// Chromium talks native messaging to the built host: a test extension's
// service worker calls sendNativeMessage and connectNative, the host answers,
// and downloads it takes over reach the stand-in application.
//
// Paths come from the environment (tests/browser/run sets them):
//   NMHOST_EXE      the Linux host, default build/linux/nmhost
//   NMHOST_STANDIN  the stand-in application, default build/linux/tools/qtm-standin
//   CHROMIUM        the browser, default /usr/bin/chromium

import { after, before, describe, test } from "node:test";
import assert from "node:assert/strict";
import { spawn } from "node:child_process";
import { createHash } from "node:crypto";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";
import { chromium } from "playwright-core";

const here = path.dirname(fileURLToPath(import.meta.url));
const root = path.resolve(here, "../..");
const nmhost = path.resolve(process.env.NMHOST_EXE || path.join(root, "build/linux/nmhost"));
const standin = path.resolve(
  process.env.NMHOST_STANDIN || path.join(root, "build/linux/tools/qtm-standin"),
);
const browserExe = process.env.CHROMIUM || "/usr/bin/chromium";
const extensionDir = path.join(here, "extension");

const HOST = "com.qartorvaneldownloadmanager.host";
// Same program, started without the launcher: it sees the test extension's origin.
const UNLAUNCHED_HOST = `${HOST}.unlaunched`;
const EXTENSION_ID = "cmcmcfljgpojklagfpjjemkchlcfklpl";
const PREFIX = "qartorvaneldownloadmanager-nmhost: ";
const MAX_MESSAGE_BYTES = 1048576;

// Nothing in these tests asks for a page; the flags keep the browser itself
// off the network (no updates, sync, field trials or QUIC probes).
const BROWSER_FLAGS = [
  "--no-sandbox",
  "--disable-gpu",
  "--disable-background-networking",
  "--disable-component-update",
  "--disable-sync",
  "--no-first-run",
  "--disable-quic",
  // Background features still look up update and account servers; no name
  // resolves, so nothing reaches the system's resolver either.
  "--host-resolver-rules=MAP * ~NOTFOUND",
];

// Time limits, so that a stuck browser or host fails the run instead of hanging it.
const LONG = { timeout: 60000 };
const SHORT = { timeout: 30000 };

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

// An extension's id: the first 128 bits of the SHA-256 of its public key,
// written with the letters a to p.
function extensionIdOf(manifest) {
  const digest = createHash("sha256").update(Buffer.from(manifest.key, "base64")).digest("hex");
  return [...digest.slice(0, 32)].map((c) => String.fromCharCode(97 + parseInt(c, 16))).join("");
}

function readText(file) {
  try {
    return fs.readFileSync(file, "utf8");
  } catch (e) {
    if (e.code === "ENOENT") return "";
    throw e;
  }
}

const lines = (file) => readText(file).split("\n").filter(Boolean);

async function until(what, probe, timeoutMs = 10000) {
  const end = Date.now() + timeoutMs;
  for (;;) {
    const value = probe();
    if (value) return value;
    if (Date.now() > end) throw new Error(`timed out waiting for ${what}`);
    await sleep(25);
  }
}

function writeManifest(profile, name, program) {
  const dir = path.join(profile, "NativeMessagingHosts");
  fs.mkdirSync(dir, { recursive: true });
  const manifest = {
    name,
    description: "QAR Torvanel Download Manager",
    path: program,
    type: "stdio",
    allowed_origins: [`chrome-extension://${EXTENSION_ID}/`],
  };
  fs.writeFileSync(path.join(dir, `${name}.json`), JSON.stringify(manifest, null, 2));
}

describe("Chromium and the host", () => {
  let tmp, profile, data, logs, context, worker, standinProc, standinLog;
  // Host processes started so far, each of which writes one line to `exits`.
  let launches = 0;

  const exitsFile = () => path.join(logs, "exits");
  const requestsFile = () => path.join(data, "requests.jsonl");
  const settingsFile = () => path.join(data, "downloads.json");

  const call = (fn, ...args) => worker.evaluate(([name, a]) => self[name](...a), [fn, args]);

  async function sendOnce(message, host = HOST) {
    ++launches;
    return call("sendOnce", host, message);
  }

  async function openPort(host = HOST) {
    ++launches;
    return call("openPort", host);
  }

  // Waits until every host started so far has ended; gives the exit lines.
  const allExited = () => until("the hosts to end", () => {
    const seen = lines(exitsFile());
    return seen.length >= launches && seen;
  });

  function useSettings(settings) {
    if (settings === undefined) fs.rmSync(settingsFile(), { force: true });
    else fs.writeFileSync(settingsFile(), JSON.stringify({ settings }));
  }

  before(async () => {
    for (const exe of [nmhost, standin, browserExe]) {
      fs.accessSync(exe, fs.constants.X_OK);
    }
    const extension = JSON.parse(fs.readFileSync(path.join(extensionDir, "manifest.json"), "utf8"));
    assert.equal(extensionIdOf(extension), EXTENSION_ID, "the extension's key gives its id");

    tmp = fs.mkdtempSync(path.join(os.tmpdir(), "nmhost-browser-"));
    profile = path.join(tmp, "profile");
    data = path.join(tmp, "data");
    logs = path.join(tmp, "logs");
    for (const dir of [profile, data, logs]) fs.mkdirSync(dir);
    writeManifest(profile, HOST, path.join(here, "host/launch"));
    writeManifest(profile, UNLAUNCHED_HOST, path.join(here, "host/unlaunched"));

    standinLog = path.join(logs, "standin.stderr");
    standinProc = spawn(standin, [data], {
      stdio: ["ignore", "ignore", fs.openSync(standinLog, "a")],
    });
    await until("the stand-in's ipc.json", () => fs.existsSync(path.join(data, "ipc.json")));

    context = await chromium.launchPersistentContext(profile, {
      executablePath: browserExe,
      headless: true,
      args: [
        ...BROWSER_FLAGS,
        `--disable-extensions-except=${extensionDir}`,
        `--load-extension=${extensionDir}`,
      ],
      ignoreDefaultArgs: ["--disable-extensions"],
      // Chromium hands its environment to the hosts it starts.
      env: {
        ...process.env,
        QTM_DATA_DIR: data,
        NMHOST_EXE: nmhost,
        NMHOST_BROWSER_LOGS: logs,
      },
    });
    const ours = (w) => new URL(w.url()).host === EXTENSION_ID;
    worker =
      context.serviceWorkers().find(ours) ??
      (await context.waitForEvent("serviceworker", { predicate: ours, timeout: 20000 }));
  }, LONG);

  after(async () => {
    await context?.close();
    if (standinProc && standinProc.exitCode === null) {
      fs.writeFileSync(path.join(data, "standin.stop"), "");
      const ended = new Promise((r) => standinProc.once("exit", r));
      const late = setTimeout(() => standinProc.kill(), 3000);
      await ended;
      clearTimeout(late);
    }
    if (tmp && !process.env.NMHOST_BROWSER_KEEP) fs.rmSync(tmp, { recursive: true, force: true });
  }, LONG);

  test("an unlaunched host refuses the test extension, and the browser sees the port close", SHORT, async () => {
    const port = await openPort(UNLAUNCHED_HOST);
    const { error, replies, closed } = await call("waitClosed", port);
    assert.equal(error, null);
    assert.deepEqual(replies, []);
    assert.match(closed, /exited/i);
    const exits = await allExited();
    assert.equal(exits.at(-1), "unlaunched 1");
    const stderr = readText(path.join(logs, "unlaunched.stderr"));
    assert.equal(
      stderr,
      `${PREFIX}refusing caller ["chrome-extension://${EXTENSION_ID}/"]: ` +
        "not the QAR Torvanel Download Manager extension\n",
    );
  });

  test("a message just over 1 MiB is answered too-large and the port goes on", SHORT, async () => {
    // The browser sends compact JSON: {"pad":"x...x"} is the padding plus 10 bytes.
    const sized = (bytes) => ({ pad: "x".repeat(bytes - 10) });
    assert.equal(JSON.stringify(sized(MAX_MESSAGE_BYTES)).length, MAX_MESSAGE_BYTES);
    const port = await openPort();
    const messages = [sized(MAX_MESSAGE_BYTES + 1), sized(MAX_MESSAGE_BYTES), { url: 7 }];
    const { error, replies, closed } = await call("exchange", port, messages, messages.length);
    await call("closePort", port);
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
  });

  test("a long-lived port carries 100 messages, answered in order", SHORT, async () => {
    // Odd messages are refused with their own number in the error text, even
    // ones get the rules summary.
    const messages = Array.from({ length: 100 }, (_, i) =>
      i % 2 ? { url: i } : { hello: true, v: `1.${i}` },
    );
    const port = await openPort();
    const { error, replies, closed } = await call("exchange", port, messages, messages.length);
    await call("closePort", port);
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
  });

  test("the host ends with exit code 0 when the port is closed", SHORT, async () => {
    await allExited();
    const port = await openPort();
    const { error, replies } = await call("exchange", port, [{ rules: true }], 1);
    assert.equal(error, null);
    assert.equal(replies[0].ok, true);
    await sleep(200);
    assert.equal(lines(exitsFile()).length, launches - 1, "the host runs while the port is open");
    await call("closePort", port);
    const exits = await allExited();
    assert.equal(exits.at(-1), "launched 0");
  });

  describe("rules summary", () => {
    const cases = [
      {
        name: "the user's options",
        settings: {
          auto_types: "ZIP ISO",
          excluded_sites: "*.example.com",
          excluded_addresses: ["127.0.0.1/private/*"],
          capture_opened: false,
          capture_min_kb: 64,
        },
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
        // Headless Chromium's user agent carries "Chrome/".
        name: "capture off for this browser",
        settings: { auto_types: "ZIP", excluded_sites: "", browsers: [["Google Chrome", false]] },
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
    for (const c of cases) {
      test(`hello is answered with the rules summary: ${c.name}`, SHORT, async () => {
        useSettings(c.settings);
        const facts = await call("browserFacts");
        const { error, reply } = await sendOnce({ hello: true, v: "2.0", ...facts });
        assert.equal(error, undefined);
        assert.deepEqual(reply, c.want);
        assert.match(readText(path.join(data, "extension-seen")), /^Google Chrome\t2\.0\n/m);
      });
    }
  });

  test("a download taken over reaches the application with its cookies and user agent", SHORT, async () => {
    useSettings(undefined);
    const origin = "http://127.0.0.1";
    const cookieJar = await worker.evaluate(async (url) => {
      const inAnHour = Math.floor(Date.now() / 1000) + 3600;
      await chrome.cookies.set({ url, name: "session", value: "s3cr=t", expirationDate: inAnHour });
      await chrome.cookies.set({ url, name: "theme", value: "dark", path: "/files" });
      return chrome.cookies.getAll({ url: `${url}/files/report.zip` });
    }, origin);
    assert.equal(cookieJar.length, 2);
    const facts = await call("browserFacts");
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
    const before = lines(requestsFile()).length;
    const { error, reply } = await sendOnce(message);
    assert.equal(error, undefined);
    assert.deepEqual(reply, { ok: true });

    const requests = lines(requestsFile());
    assert.equal(requests.length, before + 1);
    const request = JSON.parse(requests.at(-1));
    const endpoint = JSON.parse(readText(path.join(data, "ipc.json")));
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
  });

  describe("downloads left to the browser", () => {
    const cases = [
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
    for (const c of cases) {
      test(`${c.name}: the reply gives the reason and the log says why`, SHORT, async () => {
        useSettings(c.settings);
        const facts = await call("browserFacts");
        const requestsBefore = lines(requestsFile()).length;
        const { error, reply } = await sendOnce({
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
        assert.equal(lines(requestsFile()).length, requestsBefore, "the application is not asked");
        const logged = lines(path.join(data, "logs", "qtm.log")).at(-1) ?? "";
        assert.ok(
          logged.endsWith(`browser integration: Google Chrome keeps ${c.file} from 127.0.0.1: ${c.text}`),
          logged,
        );
      });
    }
  });

  test("every launched host ended with exit code 0 and wrote no error", SHORT, async () => {
    const exits = await allExited();
    assert.deepEqual(
      exits.filter((l) => l.startsWith("launched ")),
      exits.filter((l) => l === "launched 0"),
    );
    assert.equal(readText(path.join(logs, "launched.stderr")), "");
  });
});
