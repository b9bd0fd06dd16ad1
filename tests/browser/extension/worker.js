// The test extension's background script, the same in Chromium (a service
// worker) and Firefox (an event page). It takes commands from the test over
// loopback HTTP: neither browser lets a driver evaluate code inside an
// extension in the same way (Firefox's WebDriver BiDi cannot reach extension
// contexts at all), while a fetch works alike in both.
//
// Each helper settles with a plain value (never throws), so the test sees the
// browser's own error texts and a stuck host shows up as a time-out.

const ext = globalThis.browser ?? globalThis.chrome;
const TIMEOUT_MS = 15000;
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

function withTimeout(promise) {
  let timer;
  const late = new Promise((resolve) => {
    timer = setTimeout(() => resolve({ error: "timed out" }), TIMEOUT_MS);
  });
  return Promise.race([promise, late]).finally(() => clearTimeout(timer));
}

const helpers = {};

// One message through sendNativeMessage: a new host process that gets this
// one message and is closed after its reply.
helpers.sendOnce = (host, message) =>
  withTimeout(
    ext.runtime.sendNativeMessage(host, message).then(
      (reply) => ({ reply }),
      (e) => ({ error: e.message }),
    ),
  );

// Long-lived connectNative ports, by number. Each keeps what it received in
// arrival order and the text of its disconnection once it is gone.
const ports = new Map();
let lastPort = 0;

function wake(state) {
  for (const waiter of state.waiters.splice(0)) waiter();
}

helpers.openPort = (host) => {
  const id = ++lastPort;
  const state = { port: ext.runtime.connectNative(host), replies: [], closed: null, waiters: [] };
  state.port.onMessage.addListener((message) => {
    state.replies.push(message);
    wake(state);
  });
  state.port.onDisconnect.addListener((port) => {
    // Chromium gives the reason in lastError, Firefox on the port.
    state.closed = port.error?.message ?? ext.runtime.lastError?.message ?? "disconnected";
    wake(state);
  });
  ports.set(id, state);
  return id;
};

// Posts the messages back to back, then waits until `count` replies have
// arrived in all (counting earlier ones; null: until the port is gone), the
// port is gone, or time is up.
helpers.exchange = (id, messages, count) => {
  const state = ports.get(id);
  if (!state) return { error: `no port ${id}` };
  const wanted = count ?? Infinity;
  try {
    for (const message of messages) state.port.postMessage(message);
  } catch (e) {
    return { error: String(e), replies: state.replies, closed: state.closed };
  }
  return new Promise((resolve) => {
    const timer = setTimeout(() => done("timed out"), TIMEOUT_MS);
    function done(error) {
      clearTimeout(timer);
      resolve({ error, replies: state.replies.slice(), closed: state.closed });
    }
    function check() {
      if (state.replies.length >= wanted || state.closed !== null) done(null);
      else state.waiters.push(check);
    }
    check();
  });
};

helpers.closePort = (id) => {
  const state = ports.get(id);
  if (!state) return false;
  ports.delete(id);
  if (state.closed === null) state.port.disconnect();
  return true;
};

// What a companion extension would report about itself and its browser.
helpers.facts = () => ({
  v: ext.runtime.getManifest().version,
  userAgent: navigator.userAgent,
  brands: (navigator.userAgentData?.brands ?? []).map((b) => b.brand),
});

// Two cookies for `origin`, one with an expiry and one for a path; gives the
// browser's cookie objects for a file under that path.
helpers.cookiesFor = async (origin) => {
  const inAnHour = Math.floor(Date.now() / 1000) + 3600;
  await ext.cookies.set({ url: origin, name: "session", value: "s3cr=t", expirationDate: inAnHour });
  await ext.cookies.set({ url: origin, name: "theme", value: "dark", path: "/files" });
  return ext.cookies.getAll({ url: `${origin}/files/report.zip` });
};

// Takes one command at a time from the test: {id, fn, args} in, {id, value}
// or {id, thrown} back. An idle poll is answered with {} after a few seconds.
async function serve() {
  const { url, name } = await (await fetch(ext.runtime.getURL("driver.json"))).json();
  const post = (what, body) => fetch(`${url}/${what}?from=${name}`, { method: "POST", body });
  for (;;) {
    // An extension call each round keeps Chromium from stopping the worker as idle.
    await ext.runtime.getPlatformInfo();
    let command;
    try {
      command = await (await post("next", "")).json();
    } catch {
      await sleep(200); // the test is not listening (yet, or any more)
      continue;
    }
    if (!command.fn) continue;
    let outcome;
    try {
      outcome = { value: await helpers[command.fn](...command.args) };
    } catch (e) {
      outcome = { thrown: String(e?.stack ?? e) };
    }
    await post("done", JSON.stringify({ id: command.id, ...outcome })).catch(() => {});
  }
}

serve();
