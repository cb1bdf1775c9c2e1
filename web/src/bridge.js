// The channel to the host. In Qt the host exposes an object "bridge" over
// QWebChannel whose post slot takes one JSON object; in a plain browser there
// is no channel and messages go to the console, so the page can be developed
// on its own.

import { message } from './protocol.js';

export function createBridge(win, { log = (msg) => win.console.log('[bridge]', JSON.stringify(msg)) } = {}) {
  const queue = [];
  let send = null;
  let channelReady = false;
  let documentReady = false;
  let readyPosted = false;

  function drain() {
    if (!send) return;
    while (queue.length) send(queue.shift());
  }

  function maybeReady() {
    if (readyPosted || !channelReady || !documentReady) return;
    readyPosted = true;
    // "ready" goes first: the host sends nothing before it, and anything the
    // page queued while loading is only meaningful after it.
    queue.unshift(message.ready());
    drain();
  }

  function connect() {
    const transport = win.qt?.webChannelTransport;
    if (typeof win.QWebChannel !== 'function' || !transport) {
      send = log;
      channelReady = true;
      maybeReady();
      return;
    }
    // eslint-disable-next-line no-new
    new win.QWebChannel(transport, (channel) => {
      const host = channel.objects.bridge;
      send = (msg) => host.post(msg);
      channelReady = true;
      maybeReady();
    });
  }

  return {
    post(message) {
      queue.push(message);
      if (readyPosted) drain();
    },
    connect,
    documentLoaded() {
      documentReady = true;
      maybeReady();
    },
  };
}
