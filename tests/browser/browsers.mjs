// The two browsers under test: how each starts with its test extensions and host manifests,
// the host's arguments, and how each refuses. Both run headless with a fresh profile and
// settings that keep them off the network (no updates, telemetry or probes; any remote address
// goes to a dead local port), on top of the network namespace tests/browser/run puts them in.

import {createHash} from 'node:crypto';
import fs from 'node:fs';
import path from 'node:path';

import {writeJson} from './harness.mjs';

const here = path.dirname(new URL(import.meta.url).pathname);
export const HOST = 'com.qartorvaneldownloadmanager.host';
const COMPANION_ORIGIN = 'chrome-extension://pjgmbkdaieonhfclgkbimepajnodlhfc/';
// The host's kFirefoxAddonId: Firefox lets an add-on choose its id, so the test add-on is,
// to Firefox and the host, the companion itself.
const FIREFOX_ADDON_ID = 'browser@qartorvanel.example';
const OTHER_ADDON_ID = 'other@nmhost-tests.invalid';
const DEAD_PORT = 9;  // nothing listens here: where the proxy settings send every remote address

const baseManifest = () => JSON.parse(fs.readFileSync(`${here}/extension/manifest.json`, 'utf8'));

// Writes a host manifest and an extension with the command channel's address in its script.
function install(dir, manifest, driver, host) {
  const fields = {description: 'QAR Torvanel Download Manager', type: 'stdio'};
  writeJson(
      host.file, {name: host.name, ...fields, path: `${here}/${host.program}`, ...host.allow});
  writeJson(`${dir}/manifest.json`, manifest);
  const script = fs.readFileSync(`${here}/extension/worker.js`, 'utf8');
  fs.writeFileSync(`${dir}/worker.js`, `const driver = ${JSON.stringify(driver)};\n${script}`);
}

// Chromium's id of the test extension: the first 128 bits of the SHA-256 of the manifest's
// public key, written with the letters a to p.
const digest = createHash('sha256').update(Buffer.from(baseManifest().key, 'base64')).digest('hex');
const letters = digest.slice(0, 32).replace(/./g, (c) => String.fromCharCode(97 + parseInt(c, 16)));
const CHROMIUM_ORIGIN = `chrome-extension://${letters}/`;

const chromium = {
  key: 'chromium',
  name: 'Chromium',
  product: 'Google Chrome',
  extensions: ['main'],

  // The host serves only the companion's origin, which a test extension cannot have: HOST's
  // manifest points at host/launch, which puts that origin first. HOST.unlaunched reaches the
  // host with Chromium's own arguments.
  prepare({tmp, driver}) {
    const [profile, extension] = [`${tmp}/profile`, `${tmp}/extension-main`];
    for (const [name, program] of [[HOST, 'host/launch'], [`${HOST}.unlaunched`, 'host/direct']]) {
      const file = `${profile}/NativeMessagingHosts/${name}.json`;
      const allow = {allowed_origins: [CHROMIUM_ORIGIN]};
      install(extension, baseManifest(), {...driver, name: 'main'}, {file, name, program, allow});
    }
    // Background features still look up update and account servers: no name resolves, and
    // any remote address goes to the dead proxy. Loopback, where the command channel and the
    // stand-in listen, is never proxied.
    const flags = [
      'headless', 'no-sandbox', 'disable-gpu', 'disable-background-networking',
      'disable-component-update', 'disable-sync', 'no-first-run', 'disable-quic',
      'host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1',
      `proxy-server=127.0.0.1:${DEAD_PORT}`, 'password-store=basic', `user-data-dir=${profile}`,
      `disable-extensions-except=${extension}`, `load-extension=${extension}`
    ];
    return {exe: process.env.CHROMIUM, args: [...flags.map((f) => `--${f}`), 'about:blank']};
  },

  acceptedArgs: () => [COMPANION_ORIGIN, CHROMIUM_ORIGIN],
  refusals: [{
    name: 'a host started with Chromium\'s own arguments refuses the test extension',
    host: `${HOST}.unlaunched`,
    closed: /exited/i,
    refusedArgs: () => [CHROMIUM_ORIGIN],
  }],
};

// Preferences of the Firefox profile (user.js): unsigned add-ons placed in the profile load
// enabled (ESR honours this), the test add-on's event page waits for commands and must not be
// unloaded, nothing updates, reports or probes, and every remote address goes to the dead
// port (loopback stays direct).
const FIREFOX_PREFS = [
  ['xpinstall.signatures.required', false],
  ['extensions.autoDisableScopes', 0],
  ['extensions.background.idle.timeout', 3600000],
  ['extensions.update.enabled', false],
  ['extensions.getAddons.cache.enabled', false],
  ['browser.shell.checkDefaultBrowser', false],
  ['browser.startup.homepage_override.mstone', 'ignore'],
  ['browser.safebrowsing.update.enabled', false],
  ['datareporting.policy.dataSubmissionEnabled', false],
  ['datareporting.healthreport.uploadEnabled', false],
  ['toolkit.telemetry.enabled', false],
  ['app.update.disabledForTesting', true],
  ['network.captive-portal-service.enabled', false],
  ['network.connectivity-service.enabled', false],
  ['network.trr.mode', 5 /* no DoH */],
  ['network.proxy.type', 1],
  ['network.proxy.share_proxy_settings', true],
  ['network.proxy.socks_remote_dns', true],
  ['network.proxy.allow_hijacking_localhost', false],
  ['network.proxy.http', '127.0.0.1'],
  ['network.proxy.http_port', DEAD_PORT],
  ['network.proxy.ssl', '127.0.0.1'],
  ['network.proxy.ssl_port', DEAD_PORT]
];

// Firefox on Linux looks for host manifests only under $HOME/.mozilla/native-messaging-hosts.
const firefoxManifest = (tmp, name) => `${tmp}/home/.mozilla/native-messaging-hosts/${name}.json`;

const firefox = {
  key: 'firefox',
  name: 'Firefox',
  product: 'Mozilla Firefox',
  extensions: ['main', 'other'],

  // Both manifests start the host as it is, with Firefox's arguments: HOST allows the
  // companion's add-on id, HOST.other only the other add-on.
  prepare({tmp, driver}) {
    const profile = `${tmp}/profile`;
    fs.mkdirSync(`${profile}/extensions`, {recursive: true});
    const prefs = FIREFOX_PREFS.map(([k, v]) => `user_pref("${k}", ${JSON.stringify(v)});\n`);
    fs.writeFileSync(`${profile}/user.js`, prefs.join(''));
    for (const [name, id, host] of [
             ['main', FIREFOX_ADDON_ID, HOST], ['other', OTHER_ADDON_ID, `${HOST}.other`]]) {
      const {key, ...manifest} = baseManifest();
      Object.assign(manifest, {background: {scripts: ['worker.js']}});
      manifest.browser_specific_settings = {gecko: {id}};
      const allow = {allowed_extensions: [id]};
      const hostFile =
          {file: firefoxManifest(tmp, host), name: host, program: 'host/direct', allow};
      install(`${tmp}/extension-${name}`, manifest, {...driver, name}, hostFile);
      // A file named by the add-on id that holds the folder's path installs the folder as it is.
      fs.writeFileSync(`${profile}/extensions/${id}`, `${tmp}/extension-${name}`);
    }
    const args = ['--headless', '--no-remote', '--profile', profile, 'about:blank'];
    return {exe: process.env.FIREFOX, args};
  },

  acceptedArgs: ({tmp}) => [firefoxManifest(tmp, HOST), FIREFOX_ADDON_ID],
  refusals: [
    {
      name: 'an add-on allowed by a manifest of its own is refused by the host',
      from: 'other',
      host: `${HOST}.other`,
      closed: /^disconnected$/,  // Firefox gives no error for a host that ends without answering
      refusedArgs: ({tmp}) => [firefoxManifest(tmp, `${HOST}.other`), OTHER_ADDON_ID],
    },
    {
      // Firefox says the same for a missing manifest; HOST's manifest is there (the main
      // add-on uses it), so the add-on id is the reason.
      name: 'an add-on that no manifest allows gets Firefox\'s own error, and no host starts',
      from: 'other',
      host: HOST,
      closed: new RegExp(`^No such native application ${HOST}$`),
    },
  ],
};

export const browsers = [chromium, firefox];
