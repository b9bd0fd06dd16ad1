// The browsers under test (how each starts, the host's arguments, how each refuses) and the
// Session of one; tests/browser/run sets the environment (see README.md).

import {spawn} from 'node:child_process';
import {once} from 'node:events';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';

const here = new URL('.', import.meta.url).pathname;
export const HOST = 'com.qartorvaneldownloadmanager.host';
export const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
const read = (file) => fs.readFileSync(file, 'utf8');
export const lines = (file) => fs.existsSync(file) ? read(file).split('\n').filter(Boolean) : [];

async function until(what, probe, ms = 10000) {
  for (const end = Date.now() + ms; Date.now() < end; await sleep(25))
    if (probe()) return probe();
  throw new Error(`timed out waiting for ${what}`);
}

export function writeJson(file, value) {
  fs.mkdirSync(file.slice(0, file.lastIndexOf('/')), {recursive: true});
  fs.writeFileSync(file, JSON.stringify(value));
}

const hostManifest = (file, name, program, allow) => writeJson(
    file, {name, description: name, type: 'stdio', path: `${here}host/${program}`, ...allow});

// The extension's script starts with `driver`: the command channel's address and its name.
function writeExtension(dir, manifest, driver) {
  writeJson(`${dir}/manifest.json`, manifest);
  const script = read(`${here}extension/worker.js`);
  fs.writeFileSync(`${dir}/worker.js`, `const driver = ${JSON.stringify(driver)};\n${script}`);
}

// Both browsers run headless with a fresh profile and settings that keep them off the network
// on top of the network namespace tests/browser/run puts them in: no updates, telemetry or
// probes, and any remote address goes to a dead proxy. Loopback, where the command channel and
// the stand-in listen, is never proxied.
const baseManifest = () => JSON.parse(read(`${here}extension/manifest.json`));
const COMPANION_ORIGIN = 'chrome-extension://pjgmbkdaieonhfclgkbimepajnodlhfc/';
// Chromium's id of the test extension, fixed by the key in its manifest.
const CHROMIUM_ORIGIN = 'chrome-extension://cmcmcfljgpojklagfpjjemkchlcfklpl/';
// The host's kFirefoxAddonId: Firefox lets an add-on choose its id, so the test add-on is, to
// Firefox and the host, the companion itself.
const FIREFOX_ADDON_ID = 'browser@qartorvanel.example';
const OTHER_ADDON_ID = 'other@nmhost-tests.invalid';

// Each browser's refusals are rows of [name, extension, host, how the port closes, the
// refused host's arguments].
const chromium = {
  key: 'chromium',
  product: 'Google Chrome',
  // The host serves only the companion's origin, which a test extension cannot have: HOST's
  // manifest points at host/launch, which puts that origin first. HOST.unlaunched reaches the
  // host with Chromium's own arguments.
  prepare(tmp, driver) {
    const [profile, dir] = [`${tmp}/profile`, `${tmp}/extension-main`];
    for (const [name, program] of [[HOST, 'launch'], [`${HOST}.unlaunched`, 'direct']]) {
      const file = `${profile}/NativeMessagingHosts/${name}.json`;
      hostManifest(file, name, program, {allowed_origins: [CHROMIUM_ORIGIN]});
    }
    writeExtension(dir, baseManifest(), {...driver, name: 'main'});
    const flags = [
      'headless', 'no-sandbox', 'disable-gpu', 'disable-background-networking',
      'disable-component-update', 'disable-sync', 'no-first-run', 'disable-quic',
      // Background features still look up update and account servers: no name resolves.
      'host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1', 'proxy-server=127.0.0.1:9',
      'password-store=basic', `user-data-dir=${profile}`, `disable-extensions-except=${dir}`,
      `load-extension=${dir}`
    ];
    return [process.env.CHROMIUM, [...flags.map((f) => `--${f}`), 'about:blank']];
  },
  accepted: () => [COMPANION_ORIGIN, CHROMIUM_ORIGIN],
  refusals: [[
    'a host started with Chromium\'s own arguments refuses the test extension', 'main',
    `${HOST}.unlaunched`, /exited/i, () => [CHROMIUM_ORIGIN]
  ]],
};

// Firefox's user.js: unsigned add-ons in the profile load enabled (ESR honours this), the event
// page waiting for commands is never unloaded; trr.mode 5: no DNS over HTTPS.
const FIREFOX_PREFS = `xpinstall.signatures.required=false extensions.autoDisableScopes=0
  extensions.background.idle.timeout=3600000 extensions.update.enabled=false
  extensions.getAddons.cache.enabled=false browser.shell.checkDefaultBrowser=false
  browser.startup.homepage_override.mstone="ignore" browser.safebrowsing.update.enabled=false
  datareporting.policy.dataSubmissionEnabled=false datareporting.healthreport.uploadEnabled=false
  toolkit.telemetry.enabled=false app.update.disabledForTesting=true network.trr.mode=5
  network.captive-portal-service.enabled=false network.connectivity-service.enabled=false
  network.proxy.type=1 network.proxy.share_proxy_settings=true network.proxy.socks_remote_dns=true
  network.proxy.allow_hijacking_localhost=false network.proxy.http="127.0.0.1"
  network.proxy.http_port=9 network.proxy.ssl="127.0.0.1" network.proxy.ssl_port=9`;

// Firefox on Linux looks for host manifests only under $HOME/.mozilla/native-messaging-hosts.
const firefoxManifest = (tmp, name) => `${tmp}/home/.mozilla/native-messaging-hosts/${name}.json`;

const firefox = {
  key: 'firefox',
  product: 'Mozilla Firefox',
  // Both manifests start the host as it is, with Firefox's arguments: HOST allows the
  // companion's add-on id, HOST.other only the other add-on.
  prepare(tmp, driver) {
    const profile = `${tmp}/profile`;
    fs.mkdirSync(`${profile}/extensions`, {recursive: true});
    const prefs = FIREFOX_PREFS.split(/\s+/).map((p) => `user_pref("${p.replace('=', '", ')});\n`);
    fs.writeFileSync(`${profile}/user.js`, prefs.join(''));
    const addons = [['main', FIREFOX_ADDON_ID, HOST], ['other', OTHER_ADDON_ID, `${HOST}.other`]];
    for (const [name, id, host] of addons) {
      hostManifest(firefoxManifest(tmp, host), host, 'direct', {allowed_extensions: [id]});
      const manifest = {...baseManifest(), key: undefined, background: {scripts: ['worker.js']}};
      manifest.browser_specific_settings = {gecko: {id}};
      writeExtension(`${tmp}/extension-${name}`, manifest, {...driver, name});
      // A file named by the add-on id that holds the folder's path installs the folder as it is.
      fs.writeFileSync(`${profile}/extensions/${id}`, `${tmp}/extension-${name}`);
    }
    const args = ['--headless', '--no-remote', '--profile', profile, 'about:blank'];
    return [process.env.FIREFOX, args];
  },
  accepted: ({tmp}) => [firefoxManifest(tmp, HOST), FIREFOX_ADDON_ID],
  refusals: [
    // Firefox gives no error for a host that ends without answering.
    [
      'an add-on allowed by a manifest of its own is refused by the host', 'other', `${HOST}.other`,
      /^disconnected$/, ({tmp}) => [firefoxManifest(tmp, `${HOST}.other`), OTHER_ADDON_ID]
    ],
  ],
};

export const browsers = [chromium, firefox];

// A browser's run: its folder, the stand-in, the browser, the record of the hosts it started,
// and the command channel: each extension polls POST /next?from=<name> with the outcome of its
// last command and gets its next command, or {}. Text POSTs need no CORS preflight.
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
      thrown ? reject(new Error(`in the extension: ${thrown}`)) : resolve?.(value);
      const from = new URL(req.url, 'http://127.0.0.1').searchParams.get('from');
      if (!this.#commands.has(from)) this.#commands.set(from, []);
      res.setHeader('access-control-allow-origin', '*');
      res.end(JSON.stringify(this.#commands.get(from).shift() ?? {}));
    });
  });

  constructor(browser) {
    this.browser = browser;
    this.tmp = fs.mkdtempSync(`${os.tmpdir()}/nmhost-${browser.key}-`);
    for (const dir of ['data', 'logs', 'home']) fs.mkdirSync((this[dir] = `${this.tmp}/${dir}`));
  }

  async start() {
    const log = fs.openSync(`${this.logs}/output`, 'a');  // the stand-in's and the browser's
    const stdio = ['ignore', log, log];
    this.standin = spawn(process.env.NMHOST_STANDIN, [this.data], {stdio});
    await until('the stand-in\'s ipc.json', () => fs.existsSync(this.file('ipc.json')));
    // The browser hands its environment to the hosts it starts; XDG folders default to HOME's.
    const env = {...process.env, HOME: this.home, TMPDIR: this.tmp, QTM_DATA_DIR: this.data};
    for (const k of Object.keys(env)) k.startsWith('XDG_') && delete env[k];
    Object.assign(env, {NMHOST_BROWSER_LOGS: this.logs, MOZ_CRASHREPORTER_DISABLE: '1'});
    await new Promise((r) => this.#server.listen(0, '127.0.0.1', r));
    const driver = {url: `http://127.0.0.1:${this.#server.address().port}`};
    const [exe, args] = this.browser.prepare(this.tmp, driver);
    const browser = spawn(exe, args, {env, stdio, detached: true});
    fs.closeSync(log);
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
      await until('the browser and its hosts to end', () => !group(0), 15000).finally(killOnExit);
    };
    const names = ['main', ...this.browser.refusals.map((row) => row[1])];
    await until('the extensions', () => names.every((n) => this.#commands.has(n)), 60000);
  }

  async stop() {
    try {
      await this.stopBrowser?.();
      await this.allExited();
    } finally {
      this.#server.close();
      this.#server.closeAllConnections();
      if (this.standin?.exitCode === null) await (this.standin.kill(), once(this.standin, 'exit'));
      if (!process.env.NMHOST_BROWSER_KEEP) fs.rmSync(this.tmp, {recursive: true, force: true});
    }
  }

  file = (name) => `${this.data}/${name}`;

  // Runs helpers[fn](...args) in the extension `from`, which starts `starts` hosts doing so;
  // gives its value, or throws what it threw.
  call(fn, args, {from = 'main', starts = 0} = {}) {
    this.launches += starts;
    this.#commands.get(from).push({id: ++this.#lastId, fn, args});
    return new Promise((...settle) => this.#pending.set(this.#lastId, settle));
  }

  // Every host run so far, in the order they ended, as host/direct wrote them.
  runs = () => lines(`${this.logs}/runs`).map((line) => {
    const [[pid, code], ...args] = line.split('\t').map((f, i) => i ? f : f.split(' '));
    return {code: Number(code), args, stderr: read(`${this.logs}/${pid}.stderr`)};
  });

  // Waits until every host started so far has ended; gives their runs.
  allExited = () => until('the hosts', () => this.runs().length >= this.launches && this.runs());
}
