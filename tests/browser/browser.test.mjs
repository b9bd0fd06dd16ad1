// Real browsers and the built host agree on the channel: a test extension calls
// sendNativeMessage and connectNative, the host answers, and a download it takes
// over reaches the stand-in application. Each case runs in every browser; the
// decisions themselves are the other suites' job. tests/browser/run sets the
// environment (see README.md).

import { after, before, describe, test } from "node:test";
import assert from "node:assert/strict";
import fs from "node:fs";
import { HOST, browsers } from "./browsers.mjs";
import { Session, lines, sleep, writeJson } from "./harness.mjs";

const selected = (process.env.NMHOST_BROWSERS || "chromium firefox").split(/[\s,]+/);
const MIB = 1048576;

// A port on HOST that gets `messages` and stays open until `count` replies came.
async function talk(s, messages, count = messages.length, keep = false) {
  const got = await s.call("talk", [HOST, messages, count, keep], { starts: 1 });
  assert.deepEqual([got.error, got.closed], [null, null]);
  return keep ? got : got.replies;
}

const endedWell = (s, run) => assert.deepEqual(run, { code: 0, args: s.browser.acceptedArgs(s), stderr: "" });

// The cases, in order, each run with one Session per browser; `rows` gives a
// case one test per row of the browser's own.
const cases = [
  {
    name: "the host starts with the browser's arguments; hello gives the rules summary, extension-seen a line",
    run: async (s) => {
      const settings = { auto_types: "ZIP ISO", excluded_sites: "*.example.com", capture_min_kb: 64 };
      Object.assign(settings, { excluded_addresses: ["10.0.0.1/*"], capture_opened: false });
      writeJson(s.file("downloads.json"), { settings });
      const facts = await s.call("facts", []);
      const { error, reply } = await s.call("sendOnce", [HOST, { hello: true, ...facts }], { starts: 1 });
      assert.equal(error, undefined);
      const summary = { types: "ZIP ISO", capture: true, excludedSites: "*.example.com" };
      Object.assign(summary, { excludedAddresses: ["10.0.0.1/*"], opened: false, minKb: 64 });
      assert.deepEqual(reply, { ok: true, version: "0.5.1", ...summary });
      assert.ok(lines(s.file("extension-seen")).includes(`${s.browser.product}\t${facts.v}`));
      endedWell(s, (await s.allExited()).at(-1));
    },
  },
  {
    name: "callers that are not the companion",
    rows: (browser) => browser.refusals,
    run: async (s, r) => {
      const args = r.refusedArgs?.(s);
      const before = s.runs().length;
      const got = await s.call("talk", [r.host, [], null], { from: r.from, starts: args ? 1 : 0 });
      assert.deepEqual([got.error, got.replies], [null, []]);
      assert.match(got.closed, r.closed);
      const runs = await s.allExited();
      if (!args) return sleep(200).then(() => assert.equal(s.runs().length, before, "no host is started"));
      const quoted = args.map((a) => JSON.stringify(a)).join(", ");
      const why = "not the QAR Torvanel Download Manager extension";
      const stderr = `qartorvaneldownloadmanager-nmhost: refusing caller [${quoted}]: ${why}\n`;
      assert.deepEqual(runs.at(-1), { code: 1, args, stderr });
    },
  },
  {
    name: "a message just over 1 MiB is answered too-large and the port goes on",
    run: async (s) => {
      // The browser sends compact JSON: {"pad":"x...x"} is the padding plus 10 bytes.
      const sized = (bytes) => ({ pad: "x".repeat(bytes - 10) });
      const replies = await talk(s, [sized(MIB + 1), sized(MIB), { url: 7 }]);
      assert.deepEqual(replies[0], { ok: false, error: `a message of ${MIB + 1} bytes`, why: "too-large" });
      // Exactly 1 MiB is read and handled: a download without an address.
      assert.deepEqual(replies[1], { ok: false, error: "not an http(s) or ftp(s) URL", why: "refused" });
      assert.match(replies[2].error, /^invalid type: integer `7`, expected a string at line 1 column \d+$/);
    },
  },
  {
    name: "a reply that would pass 1 MiB has its error cut and the port goes on",
    run: async (s) => {
      // Each quote is escaped once in the message and twice where the error
      // quotes the string: the whole reply would be about 2 MiB.
      const [cut, next] = await talk(s, [{ rules: '"'.repeat(524280) }, { rules: true }]);
      assert.deepEqual(Object.keys(cut), ["ok", "error", "why"]);
      assert.deepEqual([cut.why, next.ok], ["refused", true]);
      assert.match(cut.error, /^invalid type: string "(\\")+\\?\u2026$/);
      assert.ok(Buffer.byteLength(JSON.stringify(cut)) <= MIB);
      assert.ok(Buffer.byteLength(JSON.stringify(cut)) > MIB - 64, "cut near the cap, not far below");
    },
  },
  {
    name: "a long-lived port carries 100 messages in order; its host ends with exit code 0 once it closes",
    run: async (s) => {
      await s.allExited();
      // Odd messages are refused with their own number in the error, even ones get the summary.
      const messages = Array.from({ length: 100 }, (_, i) => (i % 2 ? { url: i } : { hello: true, v: "1.0" }));
      const { id, replies } = await talk(s, messages, 100, true);
      assert.equal(replies.length, 100);
      replies.forEach((reply, i) => {
        if (i % 2) assert.match(reply.error, new RegExp(`^invalid type: integer \`${i}\`, expected a string `));
        else assert.equal(reply.version, "0.5.1", `reply ${i}`);
      });
      await sleep(200);
      assert.equal(s.runs().length, s.launches - 1, "the host runs while the port is open");
      await s.call("close", [id]);
      endedWell(s, (await s.allExited()).at(-1));
    },
  },
  {
    name: "a download taken over reaches the application with the browser's cookies and user agent",
    run: async (s) => {
      const origin = "http://127.0.0.1";
      const cookieJar = await s.call("cookiesFor", [origin]);
      assert.equal(cookieJar.length, 2);
      const facts = await s.call("facts", []);
      const [url, referrer] = [`${origin}:8080/files/report.zip?id=7`, `${origin}:8080/files/`];
      const cookies = cookieJar.map((c) => `${c.name}=${c.value}`).join("; ");
      // The cookie objects as the browser gives them, extra keys (httpOnly, sameSite...) included.
      const message = { url, referrer, cookies, cookieJar, size: 123456, filename: "/home/u/report.zip" };
      const before = lines(s.file("requests.jsonl")).length;
      const got = await s.call("sendOnce", [HOST, { ...message, ...facts }], { starts: 1 });
      assert.deepEqual(got, { reply: { ok: true } });
      const requests = lines(s.file("requests.jsonl"));
      assert.equal(requests.length, before + 1);
      const request = JSON.parse(requests.at(-1));
      assert.deepEqual(request, {
        ...request,
        token: JSON.parse(fs.readFileSync(s.file("ipc.json"))).token,
        ...{ url, name: "report.zip", referer: referrer, size: 123456, user_agent: facts.userAgent, cookies },
        cookie_jar: cookieJar.map(({ name, value, domain, hostOnly, path, secure, expirationDate }) => {
          return { name, value, domain, host_only: hostOnly, path, secure, expires: expirationDate ?? null };
        }),
      });
    },
  },
  {
    name: "every accepted host ended with exit code 0 and wrote no error",
    run: async (s) => {
      const accepted = (await s.allExited()).filter((r) => r.args.join() === s.browser.acceptedArgs(s).join());
      assert.equal(accepted.length, 5);
      accepted.forEach((run) => endedWell(s, run));
    },
  },
];

for (const browser of browsers.filter((b) => selected.includes(b.key))) {
  describe(`${browser.name} and the host`, () => {
    let s;
    before(() => (s = new Session(browser)).start(), { timeout: 90000 });
    after(() => s?.stop(), { timeout: 90000 });
    for (const c of cases) {
      const add = (name, row) => test(name, { timeout: 30000 }, () => c.run(s, row));
      if (c.rows) describe(c.name, () => c.rows(browser).forEach((r) => add(r.name, r)));
      else add(c.name);
    }
  });
}
