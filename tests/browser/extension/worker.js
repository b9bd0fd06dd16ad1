// The test extension's background script (Chromium: a service worker, Firefox: an event page)
// takes commands from the test over loopback HTTP, as Firefox's WebDriver BiDi cannot reach
// extension contexts; the test writes `driver` (the channel's address, this extension's name)
// above this line. Helpers settle with plain values: the test sees the browser's own texts.

const ext = globalThis.browser ?? globalThis.chrome;
let port;  // the last port talk() opened, for close()

const helpers = {
  sendOnce: (host, message) => ext.runtime.sendNativeMessage(host, message),

  // Opens a port and posts the messages back to back; settles once a reply to each came or
  // the port is gone. The port stays open until close().
  talk: (host, messages) => new Promise((resolve) => {
    const replies = [];
    port = ext.runtime.connectNative(host);
    port.onMessage.addListener((m) => replies.push(m) === messages.length && resolve({replies}));
    // Chromium gives the reason in lastError, Firefox on the port.
    port.onDisconnect.addListener((p) => {
      const closed = p.error?.message ?? ext.runtime.lastError?.message ?? 'disconnected';
      resolve({replies, closed});
    });
    messages.forEach((m) => port.postMessage(m));
  }),

  close: () => port.disconnect(),

  // What a companion extension would report about itself and its browser.
  facts: () => ({v: ext.runtime.getManifest().version, userAgent: navigator.userAgent}),

  // Two cookies for `origin`, one with an expiry, one for a path; gives a file's there.
  cookiesFor: async (origin) => {
    await ext.cookies.set({url: origin, name: 'session', value: 's3cr=t', expirationDate: 2e9});
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
    const run = async () => ({id, value: await helpers[fn](...args)});
    const failed = (e) => ({id, thrown: String(e?.stack ?? e)});
    outcome = fn ? JSON.stringify(await run().catch(failed)) : '';
    if (!fn) await new Promise((r) => setTimeout(r, 50));
  }
})();
