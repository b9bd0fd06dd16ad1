// The test extension's background script (Chromium: a service worker, Firefox:
// an event page) takes commands from the test over loopback HTTP, as Firefox's
// WebDriver BiDi cannot reach extension contexts. Helpers settle with plain
// values: the test sees the browser's own error texts, a stuck host as a time-out.

const ext = globalThis.browser ?? globalThis.chrome;
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
const ports = new Map();
let lastPort = 0;

const helpers = {
  // One message through sendNativeMessage: a host of its own for one reply.
  sendOnce: (host, message) =>
    Promise.race([
      ext.runtime.sendNativeMessage(host, message).then((reply) => ({ reply }), (e) => ({ error: e.message })),
      sleep(15000).then(() => ({ error: "timed out" })),
    ]),

  // Opens a connectNative port, posts the messages back to back and waits for
  // `count` replies (null: until the port is gone); closes it unless `keep`.
  talk: (host, messages, count, keep) =>
    new Promise((resolve) => {
      const port = ext.runtime.connectNative(host);
      const [replies, id] = [[], ++lastPort];
      let closed = null;
      const done = (error) => {
        if (!timer) return;
        clearTimeout(timer);
        timer = null;
        if (closed === null) keep ? ports.set(id, port) : port.disconnect();
        resolve({ id, error, replies: replies.slice(), closed });
      };
      let timer = setTimeout(() => done("timed out"), 15000);
      port.onMessage.addListener((m) => replies.push(m) === count && done(null));
      port.onDisconnect.addListener((p) => {
        // Chromium gives the reason in lastError, Firefox on the port.
        closed = p.error?.message ?? ext.runtime.lastError?.message ?? "disconnected";
        done(null);
      });
      for (const m of messages) port.postMessage(m);
    }),

  close: (id) => (ports.get(id)?.disconnect(), ports.delete(id)),

  // What a companion extension would report about itself and its browser.
  facts: () => ({ v: ext.runtime.getManifest().version, userAgent: navigator.userAgent }),

  // Two cookies for `origin`, one with an expiry and one for a path; gives the
  // browser's cookie objects for a file under that path.
  cookiesFor: async (origin) => {
    const inAnHour = Math.floor(Date.now() / 1000) + 3600;
    await ext.cookies.set({ url: origin, name: "session", value: "s3cr=t", expirationDate: inAnHour });
    await ext.cookies.set({ url: origin, name: "theme", value: "dark", path: "/files" });
    return ext.cookies.getAll({ url: `${origin}/files/report.zip` });
  },
};

// One command at a time: {id, fn, args} in, {id, value} or {id, thrown} back
// with the next poll, which is answered with {} when no command came.
(async () => {
  const { url, name } = await (await fetch(ext.runtime.getURL("driver.json"))).json();
  for (let outcome = ""; ; ) {
    // An extension call each round keeps Chromium from stopping the worker as idle.
    await ext.runtime.getPlatformInfo();
    const asked = fetch(`${url}/next?from=${name}`, { method: "POST", body: outcome });
    const command = await asked.then((r) => r.json()).catch(() => sleep(200).then(() => ({})));
    outcome = "";
    if (!command.fn) continue;
    const done = await Promise.resolve()
      .then(() => helpers[command.fn](...command.args))
      .then((value) => ({ value }), (e) => ({ thrown: String(e?.stack ?? e) }));
    outcome = JSON.stringify({ id: command.id, ...done });
  }
})();
