// The daemon's HTTP surface: who may talk to it, what it refuses, and that
// it keeps answering after every refusal.

import { describe, it, before, after } from 'node:test';
import assert from 'node:assert/strict';
import net from 'node:net';
import { startDaemon, request } from '../testkit/daemon.mjs';

function assertAnswerDocument(doc) {
  assert.ok(Array.isArray(doc?.lines) && doc.lines.length > 0, `no rows in ${JSON.stringify(doc)}`);
  for (const line of doc.lines) {
    assert.equal(typeof line.title, 'string');
    assert.equal(typeof line.subtitle, 'string');
  }
  assert.equal(typeof doc.keepOpen, 'boolean');
}

// Tries a TCP connection; resolves with the error code, or 'connected'.
function connectResult(host, port) {
  return new Promise((resolve) => {
    const socket = net.connect({ host, port });
    socket.setTimeout(3000);
    socket.once('connect', () => { socket.destroy(); resolve('connected'); });
    socket.once('timeout', () => { socket.destroy(); resolve('timeout'); });
    socket.once('error', (err) => resolve(err.code));
  });
}

// Writes raw bytes and collects whatever comes back until the server closes
// the connection or the time runs out.
function rawExchange(port, chunks, { waitMs = 3000 } = {}) {
  return new Promise((resolve) => {
    const socket = net.connect({ host: '127.0.0.1', port });
    let reply = '';
    socket.setEncoding('utf8');
    socket.on('data', (d) => { reply += d; });
    const done = () => { clearTimeout(timer); socket.destroy(); resolve(reply); };
    const timer = setTimeout(done, waitMs);
    socket.on('close', done);
    socket.on('error', done);
    socket.on('connect', () => { for (const c of chunks) socket.write(c); });
  });
}

describe('agent HTTP surface', () => {
  let daemon;
  before(async () => { daemon = await startDaemon(); });
  after(async () => { await daemon?.stop(); });

  async function assertStillAnswers() {
    const doc = await daemon.ask('2+2');
    assert.equal(doc.lines[0].title, '4');
  }

  it('answers only requests carrying the right token', async () => {
    const wrongLength = daemon.token.slice(0, 10);
    const sameLength = daemon.token.replace(/./, (c) => (c === 'a' ? 'b' : 'a'));
    const cases = [
      { name: 'missing', token: undefined, status: 401 },
      { name: 'empty', token: '', status: 401 },
      { name: 'wrong length', token: wrongLength, status: 401 },
      { name: 'same length, one character off', token: sameLength, status: 401 },
      { name: 'right token with padding', token: `${daemon.token} `, status: 200 },
      { name: 'right', token: daemon.token, status: 200 },
    ];
    for (const c of cases) {
      const r = await request(daemon.port, { token: c.token, path: '/tasks' });
      // Node trims header whitespace, so padding does not make a new token.
      assert.equal(r.status, c.status, c.name);
      if (c.status === 401) assert.match(r.json.error, /token/i, c.name);
      else assert.ok(Array.isArray(r.json.tasks), c.name);
    }
    const refused = await request(daemon.port, { token: 'nope', method: 'POST', path: '/ask', json: { sentence: 'set a timer for 5 minutes' } });
    assert.equal(refused.status, 401);
    const tasks = await daemon.request({ path: '/tasks' });
    assert.deepEqual(tasks.json.tasks, [], 'an unauthorised request started a task');
  });

  it('accepts only loopback Host headers naming its port', async () => {
    const { port } = daemon;
    const cases = [
      { host: 'evil.example', status: 403 },
      { host: `evil.example:${port}`, status: 403 },
      { host: '127.0.0.1', status: 403 },
      { host: 'localhost', status: 403 },
      { host: `127.0.0.1:${port + 1}`, status: 403 },
      { host: `127.0.0.1.evil.example:${port}`, status: 403 },
      { host: `[::1]:${port}`, status: 403 },
      { host: false, status: 403 },
      { host: `127.0.0.1:${port}`, status: 200 },
      { host: `localhost:${port}`, status: 200 },
      { host: `LOCALHOST:${port}`, status: 200 },
    ];
    for (const c of cases) {
      const r = await daemon.request({ path: '/tasks', host: c.host });
      assert.equal(r.status, c.status, `Host: ${c.host}`);
      if (c.status === 403) assert.match(r.json.error, /host/i);
    }
    await assertStillAnswers();
  });

  it('listens on 127.0.0.1 only', async () => {
    assert.equal(await connectResult('127.0.0.1', daemon.port), 'connected');
    // Linux routes all of 127/8 to the loopback device, so a socket bound to
    // every address would accept this; one bound to 127.0.0.1 refuses it.
    assert.equal(await connectResult('127.0.0.2', daemon.port), 'ECONNREFUSED');
    assert.notEqual(await connectResult('::1', daemon.port), 'connected');
  });

  it('refuses bodies over 64 KiB without waiting for all of them', async () => {
    const big = JSON.stringify({ sentence: 'x'.repeat(70 * 1024) });
    const declared = await daemon.request({ method: 'POST', path: '/ask', body: big, headers: { 'content-type': 'application/json' } });
    assert.equal(declared.status, 413);
    assert.match(declared.json.error, /too large/i);

    // Chunked, so the size is only known while reading; the client keeps
    // sending, the server answers 413 and closes.
    const head = [
      'POST /ask HTTP/1.1',
      `Host: 127.0.0.1:${daemon.port}`,
      `x-ostrel-token: ${daemon.token}`,
      'content-type: application/json',
      'transfer-encoding: chunked',
      '', '',
    ].join('\r\n');
    const chunk = `${(16 * 1024).toString(16)}\r\n${'y'.repeat(16 * 1024)}\r\n`;
    const reply = await rawExchange(daemon.port, [head, ...Array(6).fill(chunk)]);
    assert.match(reply, /^HTTP\/1\.1 413 /);

    const exact = JSON.stringify({ sentence: `2+2${' '.repeat(64 * 1024 - 20)}` });
    assert.ok(Buffer.byteLength(exact) <= 64 * 1024);
    const fits = await daemon.request({ method: 'POST', path: '/ask', body: exact, headers: { 'content-type': 'application/json' } });
    assert.equal(fits.status, 200);
    await assertStillAnswers();
  });

  it('answers bad /ask bodies with 400 and a row saying what was wrong', async () => {
    const cases = [
      { body: '{"sentence": "2+2"', message: /malformed json/i },
      { body: 'not json at all', message: /malformed json/i },
      { body: '', message: /malformed json/i },
      { body: '\u0000\u00ff', message: /malformed json/i },
      { body: '[]', message: /json object/i },
      { body: '"2+2"', message: /json object/i },
      { body: 'null', message: /json object/i },
      { body: '42', message: /json object/i },
      { body: '{}', message: /missing "sentence"/i },
      { body: '{"goal": "2+2"}', message: /missing "sentence"/i },
      { body: '{"sentence": 42}', message: /must be a string/i },
      { body: '{"sentence": null}', message: /must be a string/i },
      { body: '{"sentence": ["2+2"]}', message: /must be a string/i },
      { body: '{"sentence": {"toString": "x"}}', message: /must be a string/i },
    ];
    for (const c of cases) {
      const r = await daemon.request({ method: 'POST', path: '/ask', body: c.body, headers: { 'content-type': 'application/json' } });
      assert.equal(r.status, 400, c.body);
      assertAnswerDocument(r.json);
      assert.match(r.json.lines[0].title, c.message, c.body);
      await assertStillAnswers();
    }
  });

  it('answers unknown paths with 404 and wrong methods with 405, in JSON', async () => {
    const cases = [
      { method: 'GET', path: '/', status: 404 },
      { method: 'GET', path: '/nope', status: 404 },
      { method: 'GET', path: '/ask/extra', status: 404 },
      { method: 'GET', path: '/ask', status: 405 },
      { method: 'PUT', path: '/ask', status: 405 },
      { method: 'POST', path: '/tasks', status: 405 },
      { method: 'DELETE', path: '/tasks', status: 405 },
      { method: 'GET', path: '/cancel/abc', status: 405 },
      { method: 'POST', path: '/cancel/does-not-exist', status: 404 },
      { method: 'POST', path: '/cancel/%E0%A4%A', status: 400 },
      { method: 'GET', path: '/tasks?x=1', status: 200 },
    ];
    for (const c of cases) {
      const r = await daemon.request({ method: c.method, path: c.path });
      assert.equal(r.status, c.status, `${c.method} ${c.path}`);
      assert.match(r.headers['content-type'], /application\/json/);
      assert.ok(r.json, `${c.method} ${c.path} body is not JSON`);
    }
    await assertStillAnswers();
  });

  it('survives garbage on the wire and half-sent requests', async () => {
    const garbage = await rawExchange(daemon.port, ['\u0000\u0001 this is not http\r\n\r\n']);
    assert.match(garbage, /^HTTP\/1\.1 400 /);
    const hugeHeader = await rawExchange(daemon.port, [
      `GET /tasks HTTP/1.1\r\nHost: 127.0.0.1:${daemon.port}\r\nx-big: ${'a'.repeat(40 * 1024)}\r\n\r\n`,
    ]);
    assert.match(hugeHeader, /^HTTP\/1\.1 431 /);

    // A client that never finishes its headers holds one socket, not the
    // daemon: other requests go through meanwhile.
    const hung = net.connect({ host: '127.0.0.1', port: daemon.port });
    hung.on('error', () => {});
    await new Promise((resolve) => hung.once('connect', resolve));
    hung.write(`POST /ask HTTP/1.1\r\nHost: 127.0.0.1:${daemon.port}\r\n`);
    await assertStillAnswers();
    hung.destroy();

    // A client that gives up halfway through its body.
    const quitter = net.connect({ host: '127.0.0.1', port: daemon.port });
    quitter.on('error', () => {});
    await new Promise((resolve) => quitter.once('connect', resolve));
    quitter.write([
      'POST /ask HTTP/1.1', `Host: 127.0.0.1:${daemon.port}`, `x-ostrel-token: ${daemon.token}`,
      'content-length: 1000', '', '{"sentence": "2+',
    ].join('\r\n'));
    await new Promise((resolve) => setTimeout(resolve, 50));
    quitter.destroy();
    await assertStillAnswers();
    assert.doesNotMatch(daemon.stderr(), /error handling/);
  });

  it('keeps the token out of its log', async () => {
    await daemon.ask('what is 1 plus 1');
    const log = daemon.stderr();
    assert.match(log, /POST \/ask 200 [\d.]+ms/);
    assert.match(log, /GET \/tasks 401 /);
    assert.ok(!log.includes(daemon.token), 'token written to the log');
  });
});
