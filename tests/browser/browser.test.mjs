// Real browsers and the built host agree on the channel: a test extension calls
// sendNativeMessage and connectNative, the host answers, and a download it takes over reaches
// the stand-in application. Each case runs in every browser; the decisions themselves are the
// other suites' job.

import assert from 'node:assert/strict';
import fs from 'node:fs';
import {after, before, describe, test} from 'node:test';

import {browsers, HOST} from './browsers.mjs';
import {lines, Session, sleep, writeJson} from './harness.mjs';

const selected = (process.env.NMHOST_BROWSERS || 'chromium firefox').split(/[\s,]+/);
const MIB = 1048576;

// A port on HOST that gets `messages` and stays open until `count` replies came.
async function talk(s, messages, count = messages.length, keep = false) {
  const got = await s.call('talk', [HOST, messages, count, keep], {starts: 1});
  assert.equal(got.closed, undefined);
  return got.replies;
}

const endedWell = (s, run) =>
    assert.deepEqual(run, {code: 0, args: s.browser.acceptedArgs(s), stderr: ''});

// The cases, in order, each run with one Session per browser; `rows` gives a case one test per
// row of the browser's own.
const cases = [
  {
    name: 'the host starts with the browser\'s arguments; hello gives the rules summary',
    run: async (s) => {
      const [types, sites, addresses] = ['ZIP ISO', '*.example.com', ['10.0.0.1/*']];
      const settings = {auto_types: types, excluded_sites: sites, capture_min_kb: 64};
      writeJson(
          s.file('downloads.json'),
          {settings: {...settings, excluded_addresses: addresses, capture_opened: false}});
      const facts = await s.call('facts', []);
      const got = await s.call('sendOnce', [HOST, {hello: true, ...facts}], {starts: 1});
      const summary = {types, capture: true, excludedSites: sites, excludedAddresses: addresses};
      assert.deepEqual(
          got.reply, {ok: true, version: '0.5.1', ...summary, opened: false, minKb: 64});
      // extension-seen gets a line for the browser.
      assert.ok(lines(s.file('extension-seen')).includes(`${s.browser.product}\t${facts.v}`));
      endedWell(s, (await s.allExited()).at(-1));
    },
  },
  {
    name: 'callers that are not the companion',
    rows: (browser) => browser.refusals,
    run: async (s, r) => {
      const [args, before] = [r.refusedArgs?.(s), s.runs().length];
      const got = await s.call('talk', [r.host, [], null], {from: r.from, starts: args ? 1 : 0});
      assert.deepEqual(got.replies, []);
      assert.match(got.closed, r.closed);
      const runs = await s.allExited();
      if (!args) return sleep(200).then(() => assert.equal(s.runs().length, before, 'no host'));
      const quoted = args.map((a) => JSON.stringify(a)).join(', ');
      const why = 'not the QAR Torvanel Download Manager extension';
      const stderr = `qartorvaneldownloadmanager-nmhost: refusing caller [${quoted}]: ${why}\n`;
      assert.deepEqual(runs.at(-1), {code: 1, args, stderr});
    },
  },
  {
    name: 'a message just over 1 MiB is answered too-large and the port goes on',
    run: async (s) => {
      // The browser sends compact JSON: {"pad":"x...x"} is the padding plus 10 bytes.
      const sized = (bytes) => ({pad: 'x'.repeat(bytes - 10)});
      const [big, limit, next] = await talk(s, [sized(MIB + 1), sized(MIB), {url: 7}]);
      assert.deepEqual(big, {ok: false, error: `a message of ${MIB + 1} bytes`, why: 'too-large'});
      // Exactly 1 MiB is read and handled: a download without an address.
      assert.deepEqual(limit, {ok: false, error: 'not an http(s) or ftp(s) URL', why: 'refused'});
      assert.match(
          next.error, /^invalid type: integer `7`, expected a string at line 1 column \d+$/);
    },
  },
  {
    name: 'a reply that would pass 1 MiB has its error cut and the port goes on',
    run: async (s) => {
      // Each quote is escaped once in the message and twice where the error quotes the
      // string: the whole reply would be about 2 MiB.
      const [cut, next] = await talk(s, [{rules: '"'.repeat(524280)}, {rules: true}]);
      assert.deepEqual(
          [Object.keys(cut), cut.why, next.ok], [['ok', 'error', 'why'], 'refused', true]);
      assert.match(cut.error, /^invalid type: string "(\\")+\\?\u2026$/);
      const size = Buffer.byteLength(JSON.stringify(cut));
      assert.ok(size <= MIB && size > MIB - 64, `${size} bytes: at the cap, not far below`);
    },
  },
  {
    name: 'a port carries 100 messages in order; its host ends with exit code 0 once it closes',
    run: async (s) => {
      await s.allExited();
      // Odd messages are refused with their own number in the error, even ones get the summary.
      const messages =
          Array.from({length: 100}, (_, i) => i % 2 ? {url: i} : {hello: true, v: '1'});
      const replies = await talk(s, messages, 100, true);
      assert.equal(replies.length, 100);
      replies.forEach((reply, i) => {
        if (i % 2)
          assert.match(reply.error, new RegExp(`^invalid type: integer \`${i}\`, `));
        else
          assert.equal(reply.version, '0.5.1', `reply ${i}`);
      });
      await sleep(200);
      assert.equal(s.runs().length, s.launches - 1, 'the host runs while the port is open');
      await s.call('close', []);
      endedWell(s, (await s.allExited()).at(-1));
    },
  },
  {
    name: 'a download taken over reaches the application with the browser\'s cookies and agent',
    run: async (s) => {
      const origin = 'http://127.0.0.1';
      const cookieJar = await s.call('cookiesFor', [origin]);
      assert.equal(cookieJar.length, 2);
      const facts = await s.call('facts', []);
      const [url, referer] = [`${origin}:8080/files/report.zip?id=7`, `${origin}:8080/files/`];
      const cookies = cookieJar.map((c) => `${c.name}=${c.value}`).join('; ');
      // The cookie objects as the browser gives them, extra keys (httpOnly, sameSite...) too.
      const message = {url, referrer: referer, cookies, cookieJar, size: 123456};
      const before = lines(s.file('requests.jsonl')).length;
      const got = await s.call(
          'sendOnce', [HOST, {...message, filename: '/home/u/report.zip', ...facts}], {starts: 1});
      assert.deepEqual(got, {reply: {ok: true}});
      const requests = lines(s.file('requests.jsonl'));
      assert.equal(requests.length, before + 1);
      const request = JSON.parse(requests.at(-1));
      const {token} = JSON.parse(fs.readFileSync(s.file('ipc.json')));
      const jar = cookieJar.map(({name, value, domain, hostOnly, path, secure, expirationDate}) => {
        return {
          name,
          value,
          domain,
          host_only: hostOnly,
          path,
          secure,
          expires: expirationDate ?? null
        };
      });
      const sent = {url, name: 'report.zip', referer, size: 123456, user_agent: facts.userAgent};
      assert.deepEqual(request, {...request, token, ...sent, cookies, cookie_jar: jar});
    },
  },
  {
    name: 'every accepted host ended with exit code 0 and wrote no error',
    run: async (s) => {
      const accepted = s.browser.acceptedArgs(s).join();
      const runs = (await s.allExited()).filter((r) => r.args.join() === accepted);
      assert.equal(runs.length, 5);
      runs.forEach((run) => endedWell(s, run));
    },
  },
];

for (const browser of browsers.filter((b) => selected.includes(b.key))) {
  describe(`${browser.name} and the host`, () => {
    let s;
    before(() => (s = new Session(browser)).start(), {timeout: 90000});
    after(() => s?.stop(), {timeout: 90000});
    for (const c of cases) {
      const add = (name, row) => test(name, {timeout: 30000}, () => c.run(s, row));
      if (c.rows)
        describe(c.name, () => c.rows(browser).forEach((r) => add(r.name, r)));
      else
        add(c.name);
    }
  });
}
