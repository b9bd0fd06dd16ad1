// The test extension's background script (Chromium: a service worker, Firefox: an event
// page) takes commands from the test over loopback HTTP, as Firefox's WebDriver BiDi cannot
// reach extension contexts. Helpers settle with plain values, so the test sees the browser's
// own error texts. The test writes `driver` (the channel's address, this extension's name)
// above this line.

const ext = globalThis.browser ?? globalThis.chrome;
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
let kept;  // the port talk() left open for close()

const helpers = {
  sendOnce: (host, message) => ext.runtime.sendNativeMessage(host, message)
                                   .then((reply) => ({reply}), (e) => ({error: e.message})),

  // Opens a port, posts the messages back to back and settles once `count` replies came
  // (null: once the port is gone); then closes the port, or keeps it for close().
  talk: (host, messages, count, keep) => new Promise((resolve) => {
    const [port, replies] = [ext.runtime.connectNative(host), []];
    const done = (closed) => {
      if (!closed) keep ? (kept = port) : port.disconnect();
      resolve({replies, closed});
    };
    port.onMessage.addListener((m) => replies.push(m) === count && done());
    // Chromium gives the reason in lastError, Firefox on the port.
    port.onDisconnect.addListener(
        (p) => done(p.error?.message ?? ext.runtime.lastError?.message ?? 'disconnected'));
    messages.forEach((m) => port.postMessage(m));
  }),

  close: () => kept.disconnect(),

  // What a companion extension would report about itself and its browser.
  facts: () => ({v: ext.runtime.getManifest().version, userAgent: navigator.userAgent}),

  // Two cookies for `origin`, one with an expiry and one for a path; gives the browser's
  // cookie objects for a file under that path.
  cookiesFor: async (origin) => {
    const inAnHour = Math.floor(Date.now() / 1000) + 3600;
    await ext.cookies.set(
        {url: origin, name: 'session', value: 's3cr=t', expirationDate: inAnHour});
    await ext.cookies.set({url: origin, name: 'theme', value: 'dark', path: '/files'});
    return ext.cookies.getAll({url: `${origin}/files/report.zip`});
  },
};

// One command at a time: {id, fn, args} in, {id, value} or {id, thrown} back with the next poll.
(async () => {
  for (let outcome = '';;) {
    // An extension call each round keeps Chromium from stopping the worker as idle.
    await ext.runtime.getPlatformInfo();
    const asked = fetch(`${driver.url}/next?from=${driver.name}`, {method: 'POST', body: outcome});
    const {id, fn, args} = await asked.then((r) => r.json()).catch(() => ({}));
    outcome = '';
    if (!fn) {
      await sleep(50);
      continue;
    }
    const done = await Promise.resolve()
                     .then(() => helpers[fn](...args))
                     .then((value) => ({value}), (e) => ({thrown: String(e?.stack ?? e)}));
    outcome = JSON.stringify({id, ...done});
  }
})();
