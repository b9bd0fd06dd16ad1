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
  const reply = await s.call('sendOnce', [HOST, message], {starts: 1});
  await endedWell(s);
  return reply;
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
      writeJson(s.file('downloads.json'), {settings: {capture_min_kb: 64}});
      const facts = await s.call('facts', []);
      const reply = await sendOnce(s, {hello: true, ...facts});
      assert.deepEqual([reply.ok, reply.version, reply.minKb], [true, VERSION, 64]);
      assert.ok(lines(s.file('extension-seen')).includes(`${s.browser.product}\t${facts.v}`));
    });

    for (const [name, from, host, how, refusedArgs] of browser.refusals) {
      smoke(`not the companion: ${name}`, async () => {
        const got = await s.call('talk', [host, []], {from, starts: 1});
        assert.deepEqual(got.replies, []);
        assert.match(got.closed, how);
        const {stderr, ...run} = (await s.allExited()).at(-1);
        assert.deepEqual(run, {code: 1, args: refusedArgs(s)});
        assert.match(stderr, /^[^\n]+: not the QAR Torvanel Download Manager extension\n$/);
      });
    }

    smoke('over 1 MiB: a message gets too-large, a reply is cut; the port goes on', async () => {
      // The browser sends compact JSON: {"pad":"x...x"} is the padding plus 10 bytes. Each quote
      // in `rules` is escaped once in the message and twice where the error quotes the string:
      // that reply would be about 2 MiB.
      const sized = (bytes) => ({pad: 'x'.repeat(bytes - 10)});
      const rules = [{rules: '"'.repeat(524280)}, {rules: true}];
      const [big, limit, cut, last] = await talk(s, [sized(MIB + 1), sized(MIB), ...rules]);
      assert.deepEqual(big, {ok: false, error: `a message of ${MIB + 1} bytes`, why: 'too-large'});
      // Exactly 1 MiB is read and handled: a download without an address.
      assert.deepEqual(limit, {ok: false, error: 'not an http(s) or ftp(s) URL', why: 'refused'});
      assert.deepEqual([cut.ok, cut.why, last.ok], [false, 'refused', true]);
      const size = Buffer.byteLength(JSON.stringify(cut));
      assert.ok(size <= MIB && size > MIB - 64, `${size} bytes: at the cap, not far below`);
    });

    smoke('a download taken over reaches the application with cookies and agent', async () => {
      const origin = 'http://127.0.0.1';
      const cookieJar = await s.call('cookiesFor', [origin]);
      assert.equal(cookieJar.length, 2);
      const facts = await s.call('facts', []);
      const url = `${origin}:8080/files/report.zip?id=7`;
      const cookies = cookieJar.map((c) => `${c.name}=${c.value}`).join('; ');
      // The cookie objects as the browser gives them, extra keys (httpOnly, sameSite...) too.
      assert.deepEqual(await sendOnce(s, {url, cookies, cookieJar, ...facts}), {ok: true});
      const requests = lines(s.file('requests.jsonl')).map((line) => JSON.parse(line));
      const jar = cookieJar.map(
          ({name, value, domain, hostOnly, path, secure, expirationDate: e}) =>
              ({name, value, domain, host_only: hostOnly, path, secure, expires: e ?? null}));
      const sent = {url, cookies, cookie_jar: jar, user_agent: facts.userAgent};
      assert.deepEqual(requests, [{...requests[0], ...sent}]);
    });
  });
}
