// Real browsers and the built host agree on the channel; each case runs in every browser, and
// the decisions themselves are the other suites' job.

import assert from 'node:assert/strict';
import fs from 'node:fs';
import {after, before, describe, test} from 'node:test';

import {browsers, HOST, lines, Session, writeJson} from './harness.mjs';

const selected = (process.env.NMHOST_BROWSERS || 'chromium firefox').split(/[\s,]+/);
const MIB = 1048576;
// The version of the build under test, as CMake wrote it beside the host.
const VERSION =
    fs.readFileSync(new URL('version.txt', `file://${process.env.NMHOST_EXE}`), 'utf8').trim();

const endedWell = async (s) => assert.deepEqual(
    (await s.allExited()).at(-1), {code: 0, args: s.browser.accepted(s), stderr: ''});

async function sendOnce(s, message) {
  const got = await s.call('sendOnce', [HOST, message], {starts: 1});
  await endedWell(s);
  return got;
}

// A port on HOST gets `messages`; once a reply to each came, its host must go on running
// until the port closes.
async function talk(s, messages) {
  const {replies, closed} = await s.call('talk', [HOST, messages], {starts: 1});
  assert.equal(closed, undefined);
  assert.equal(s.runs().length, s.launches - 1, 'the host runs while the port is open');
  await s.call('close', []);
  await endedWell(s);
  return replies;
}

for (const browser of browsers.filter((b) => selected.includes(b.key))) {
  describe(`${browser.key} and the host`, () => {
    const s = new Session(browser);
    before(() => s.start(), {timeout: 90000});
    after(() => s.stop(), {timeout: 90000});
    const smoke = (name, run) => test(name, {timeout: 30000}, run);

    smoke('the host starts with the browser\'s arguments; hello gives the summary', async () => {
      const [types, sites, addresses] = ['ZIP ISO', '*.example.com', ['10.0.0.1/*']];
      const settings = {auto_types: types, excluded_sites: sites, capture_min_kb: 64};
      Object.assign(settings, {excluded_addresses: addresses, capture_opened: false});
      writeJson(s.file('downloads.json'), {settings});
      const facts = await s.call('facts', []);
      const {reply} = await sendOnce(s, {hello: true, ...facts});
      const summary = {types, capture: true, excludedSites: sites, excludedAddresses: addresses};
      assert.deepEqual(reply, {ok: true, version: VERSION, ...summary, opened: false, minKb: 64});
      assert.ok(lines(s.file('extension-seen')).includes(`${s.browser.product}\t${facts.v}`));
    });

    for (const [name, from, host, how, refusedArgs] of browser.refusals) {
      smoke(`not the companion: ${name}`, async () => {
        const args = refusedArgs(s);
        const got = await s.call('talk', [host, []], {from, starts: 1});
        assert.deepEqual(got.replies, []);
        assert.match(got.closed, how);
        const runs = await s.allExited();
        const quoted = args.map((a) => JSON.stringify(a)).join(', ');
        const why = 'not the QAR Torvanel Download Manager extension';
        const stderr = `qartorvaneldownloadmanager-nmhost: refusing caller [${quoted}]: ${why}\n`;
        assert.deepEqual(runs.at(-1), {code: 1, args, stderr});
      });
    }

    smoke('over 1 MiB: a message gets too-large, a reply is cut; the port goes on', async () => {
      // The browser sends compact JSON: {"pad":"x...x"} is the padding plus 10 bytes. Each quote
      // in `rules` is escaped once in the message and twice where the error quotes the string:
      // that reply would be about 2 MiB.
      const sized = (bytes) => ({pad: 'x'.repeat(bytes - 10)});
      const rules = [{rules: '"'.repeat(524280)}, {rules: true}];
      const sent = [sized(MIB + 1), sized(MIB), {url: 7}, ...rules];
      const [big, limit, next, cut, last] = await talk(s, sent);
      assert.deepEqual(big, {ok: false, error: `a message of ${MIB + 1} bytes`, why: 'too-large'});
      // Exactly 1 MiB is read and handled: a download without an address.
      assert.deepEqual(limit, {ok: false, error: 'not an http(s) or ftp(s) URL', why: 'refused'});
      assert.match(next.error, /^invalid type: integer `7`, expected a string at line 1 /);
      assert.deepEqual(Object.keys(cut), ['ok', 'error', 'why']);
      assert.deepEqual([cut.why, last.ok], ['refused', true]);
      assert.match(cut.error, /^invalid type: string "(\\")+\\?\u2026$/);
      const size = Buffer.byteLength(JSON.stringify(cut));
      assert.ok(size <= MIB && size > MIB - 64, `${size} bytes: at the cap, not far below`);
    });

    smoke('a download taken over reaches the application with cookies and agent', async () => {
      const origin = 'http://127.0.0.1';
      const cookieJar = await s.call('cookiesFor', [origin]);
      assert.equal(cookieJar.length, 2);
      const facts = await s.call('facts', []);
      const [url, referer] = [`${origin}:8080/files/report.zip?id=7`, `${origin}:8080/files/`];
      const cookies = cookieJar.map((c) => `${c.name}=${c.value}`).join('; ');
      // The cookie objects as the browser gives them, extra keys (httpOnly, sameSite...) too.
      const message = {url, referrer: referer, cookies, cookieJar, size: 123456, ...facts};
      const got = await sendOnce(s, {...message, filename: '/home/u/report.zip'});
      assert.deepEqual(got, {reply: {ok: true}});
      const requests = lines(s.file('requests.jsonl')).map((line) => JSON.parse(line));
      const {token} = JSON.parse(fs.readFileSync(s.file('ipc.json')));
      const jar = cookieJar.map(
          ({name, value, domain, hostOnly, path, secure, expirationDate: e}) =>
              ({name, value, domain, host_only: hostOnly, path, secure, expires: e ?? null}));
      const sent = {url, name: 'report.zip', referer, size: 123456, user_agent: facts.userAgent};
      assert.deepEqual(requests, [{...requests[0], token, ...sent, cookies, cookie_jar: jar}]);
    });
  });
}
