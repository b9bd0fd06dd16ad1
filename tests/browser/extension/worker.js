// Native messaging helpers that the test calls inside this worker. Each one
// settles with a plain value (never throws), so the test sees the browser's
// own error texts and a stuck host shows up as a time-out, not as a hang.

const TIMEOUT_MS = 15000;

// One message through chrome.runtime.sendNativeMessage: a new host process
// that gets this one message and is closed after its reply.
self.sendOnce = (host, message) =>
  new Promise((resolve) => {
    const timer = setTimeout(() => resolve({ error: "timed out" }), TIMEOUT_MS);
    chrome.runtime.sendNativeMessage(host, message, (reply) => {
      clearTimeout(timer);
      const error = chrome.runtime.lastError;
      resolve(error ? { error: error.message } : { reply });
    });
  });

// Long-lived connectNative ports, by number. Each keeps what it received in
// arrival order and the text of its disconnection once it is gone.
const ports = new Map();
let lastPort = 0;

function wake(state) {
  for (const waiter of state.waiters.splice(0)) waiter();
}

self.openPort = (host) => {
  const id = ++lastPort;
  const state = { port: chrome.runtime.connectNative(host), replies: [], closed: null, waiters: [] };
  state.port.onMessage.addListener((message) => {
    state.replies.push(message);
    wake(state);
  });
  state.port.onDisconnect.addListener(() => {
    state.closed = chrome.runtime.lastError?.message ?? "disconnected";
    wake(state);
  });
  ports.set(id, state);
  return id;
};

// Posts the messages back to back, then waits until `count` replies have
// arrived in all (counting earlier ones), the port is gone, or time is up.
self.exchange = (id, messages, count) => {
  const state = ports.get(id);
  if (!state) return Promise.resolve({ error: `no port ${id}` });
  try {
    for (const message of messages) state.port.postMessage(message);
  } catch (e) {
    return Promise.resolve({ error: String(e), replies: state.replies, closed: state.closed });
  }
  return new Promise((resolve) => {
    const timer = setTimeout(() => done("timed out"), TIMEOUT_MS);
    function done(error) {
      clearTimeout(timer);
      resolve({ error, replies: state.replies.slice(), closed: state.closed });
    }
    function check() {
      if (state.replies.length >= count || state.closed !== null) done(null);
      else state.waiters.push(check);
    }
    check();
  });
};

// Waits for the host to close the port on its own.
self.waitClosed = (id) => self.exchange(id, [], Infinity);

self.closePort = (id) => {
  const state = ports.get(id);
  if (!state) return false;
  ports.delete(id);
  if (state.closed === null) state.port.disconnect();
  return true;
};

// What a companion extension would report about its browser.
self.browserFacts = () => ({
  userAgent: navigator.userAgent,
  brands: (navigator.userAgentData?.brands ?? []).map((b) => b.brand),
});
