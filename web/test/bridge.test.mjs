import { describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { createBridge } from '../src/bridge.js';

function qtWindow() {
  const sent = [];
  let connect = null;
  const win = {
    qt: { webChannelTransport: {} },
    QWebChannel: function QWebChannel(transport, cb) { connect = () => cb({ objects: { bridge: { post: (m) => sent.push(m) } } }); },
    console: { log: () => assert.fail('no console fallback in Qt') },
  };
  return { win, sent, up: () => connect() };
}

describe('bridge', () => {
  it('queues messages until both the channel and the document are ready, "ready" first', () => {
    const { win, sent, up } = qtWindow();
    const bridge = createBridge(win);
    bridge.connect();
    bridge.post({ type: 'outline', items: [] });
    bridge.documentLoaded();
    assert.deepEqual(sent, []);
    up();
    bridge.post({ type: 'rendered' });
    assert.deepEqual(sent.map((m) => m.type), ['ready', 'outline', 'rendered']);
  });

  it('posts "ready" once, whatever the order and repetitions', () => {
    const { win, sent, up } = qtWindow();
    const bridge = createBridge(win);
    bridge.connect();
    up();
    bridge.documentLoaded();
    bridge.documentLoaded();
    assert.deepEqual(sent.map((m) => m.type), ['ready']);
  });

  it('writes messages to the console in a plain browser', () => {
    const logged = [];
    const bridge = createBridge({ console: { log: (...a) => logged.push(a.join(' ')) } });
    bridge.connect();
    bridge.documentLoaded();
    bridge.post({ type: 'link', href: 'x', written: 'x' });
    assert.deepEqual(logged, ['[bridge] {"type":"ready"}', '[bridge] {"type":"link","href":"x","written":"x"}']);
  });
});
