// The daemon's HTTP surface: who may talk to it, what it refuses, and that
// it keeps answering after every refusal.

import { describe, it, before, after } from 'node:test';
import assert from 'node:assert/strict';
import net from 'node:net';
import { startDaemon, request } from '../testkit/daemon.mjs';

// Writes raw bytes, then (with pump) body bytes as fast as the server takes
// them, until it closes its side, 64 MiB have gone or 5 s have passed.
function raw(port, text, { pump = false } = {}) {
  return new Promise((resolve) => {
    const socket = net.connect({ host: '127.0.0.1', port });
    const chunk = Buffer.alloc(1024 * 1024, 'x');
    const r = { reply: '', written: 0, ended: false };
    const done = () => { clearTimeout(timer); socket.destroy(); resolve(r); };
    const timer = setTimeout(done, 5000);
    const more = () => {
      while (pump && !socket.destroyed && r.written < 64 * 1024 * 1024) {
        r.written += chunk.length;
        if (!socket.write(chunk)) return;
      }
      if (pump) done();
    };
    socket.setEncoding('utf8');
    socket.on('data', (d) => { r.reply += d; });
    socket.on('end', () => { r.ended = true; done(); });
    socket.on('close', done);
    socket.on('error', done);
    socket.on('drain', more);
    socket.on('connect', () => { socket.write(text); more(); });
  });
}

describe('agent HTTP surface', { timeout: 120000 }, () => {
  let daemon;
  before(async () => { daemon = await startDaemon(); });
  after(() => daemon?.stop());
  const stillAnswers = async () => assert.equal((await daemon.ask('2+2')).lines[0].title, '4');
  const post = (body, headers = {}) => daemon.request({ method: 'POST', path: '/ask', body, headers });

  it('answers only the right token and a loopback Host naming its port', async () => {
    const { port, token } = daemon;
    const cases = [
      { token: undefined, status: 401 },
      { token: token.replace(/./, (c) => (c === 'a' ? 'b' : 'a')), status: 401 },
      { token, host: `evil.example:${port}`, status: 403 },
      { token, host: '127.0.0.1', status: 403 },
      { token, host: false, status: 403 },
      { token, host: `127.0.0.1:${port}`, status: 200 },
      { token, host: `LOCALHOST:${port}`, path: '/tasks?x=1', status: 200 },
    ];
    for (const c of cases) {
      const r = await request(port, { token: c.token, host: c.host, path: c.path ?? '/tasks' });
      assert.equal(r.status, c.status, JSON.stringify(c));
      assert.ok(c.status === 200 ? Array.isArray(r.json.tasks) : r.json.error, JSON.stringify(c));
    }
    const refused = await request(port, { token: 'nope', method: 'POST', path: '/ask', json: { sentence: 'set a timer for 5 minutes' } });
    assert.equal(refused.status, 401);
    assert.deepEqual((await daemon.request({ path: '/tasks' })).json.tasks, [], 'a refused request started a task');
  });

  it('refuses before reading the body: no 100 Continue, and the connection closes', async () => {
    const { port, token } = daemon;
    const cases = [
      [`Host: 127.0.0.1:${port}\r\nexpect: 100-continue\r\n`, 401],
      [`Host: evil.example\r\nx-ostrel-token: ${token}\r\n`, 403],
      [`Host: 127.0.0.1:${port}\r\nx-ostrel-token: ${token}\r\nexpect: 100-continue\r\n`, 413],
    ];
    for (const [headers, status] of cases) {
      const r = await raw(port, `POST /ask HTTP/1.1\r\n${headers}content-length: 1000000000\r\n\r\n`, { pump: true });
      assert.match(r.reply, new RegExp(`^HTTP/1\\.1 ${status} `), headers);
      assert.ok(r.ended && r.written < 64 * 1024 * 1024, `${status}: the server read ${r.written} bytes of the body`);
    }
    // An authorised client waiting for 100 Continue gets it.
    const body = '{"sentence": "2+2"}';
    const continued = await raw(port, `POST /ask HTTP/1.1\r\nHost: 127.0.0.1:${port}\r\nx-ostrel-token: ${token}\r\n`
      + `expect: 100-continue\r\nconnection: close\r\ncontent-length: ${body.length}\r\n\r\n${body}`);
    assert.match(continued.reply, /^HTTP\/1\.1 100 Continue\r\n\r\nHTTP\/1\.1 200 /);
    // A client that sends its whole oversized body anyway still sees the 413.
    for (let i = 0; i < 5; i += 1) assert.equal((await post(Buffer.alloc(10 * 1024 * 1024, 'x'))).status, 413);
  });

  it('listens on 127.0.0.1 only', async () => {
    // All of 127/8 reaches the loopback device, so only a socket bound to
    // 127.0.0.1 itself refuses 127.0.0.2.
    const result = (host) => new Promise((resolve) => {
      const socket = net.connect({ host, port: daemon.port });
      socket.once('connect', () => { socket.destroy(); resolve('connected'); });
      socket.once('error', (err) => resolve(err.code));
    });
    assert.equal(await result('127.0.0.1'), 'connected');
    assert.equal(await result('127.0.0.2'), 'ECONNREFUSED');
  });

  it('refuses chunked bodies over 64 KiB and takes one that fits', async () => {
    const chunk = `4000\r\n${'y'.repeat(0x4000)}\r\n`;
    const chunked = await raw(daemon.port, `POST /ask HTTP/1.1\r\nHost: 127.0.0.1:${daemon.port}\r\nx-ostrel-token: ${daemon.token}\r\n`
      + `transfer-encoding: chunked\r\n\r\n${chunk.repeat(6)}`);
    assert.match(chunked.reply, /^HTTP\/1\.1 413 /);
    const fits = await post(JSON.stringify({ sentence: `2+2${' '.repeat(64 * 1024 - 20)}` }));
    assert.equal(fits.status, 200);
    await stillAnswers();
  });

  it('answers bad requests with a JSON row saying what was wrong', async () => {
    const cases = [
      ['POST', '/ask', '{"sentence": "2+2"', 400, /malformed json/i],
      ['POST', '/ask', '[]', 400, /json object/i],
      ['POST', '/ask', '{"goal": "2+2"}', 400, /missing "sentence"/i],
      ['POST', '/ask', '{"sentence": 42}', 400, /must be a string/i],
      ['POST', '/ask', Buffer.from('{"sentence": "2+2\xff"}', 'latin1'), 400, /utf-8/i],
      ['GET', '/nope', undefined, 404, /not found/i],
      ['GET', '/ask', undefined, 405, /not allowed/i],
      ['POST', '/tasks', undefined, 405, /not allowed/i],
      ['GET', '/cancel/abc', undefined, 405, /not allowed/i],
      ['POST', '/cancel/%E0%A4%A', undefined, 400, /bad task id/i],
    ];
    for (const [method, path, body, status, message] of cases) {
      const r = await daemon.request({ method, path, body });
      assert.equal(r.status, status, `${method} ${path} ${body}`);
      assert.match(r.json.lines[0].title, message, `${method} ${path} ${body}`);
    }
    await stillAnswers();
  });

  it('survives garbage, huge headers and clients that stall or quit', async () => {
    assert.match((await raw(daemon.port, '\u0000 not http\r\n\r\n')).reply, /^HTTP\/1\.1 400 /);
    assert.match((await raw(daemon.port, `GET /tasks HTTP/1.1\r\nx-big: ${'a'.repeat(40 * 1024)}\r\n\r\n`)).reply, /^HTTP\/1\.1 431 /);
    const twoHosts = `GET /tasks HTTP/1.1\r\nHost: 127.0.0.1:${daemon.port}\r\nHost: evil.example\r\nx-ostrel-token: ${daemon.token}\r\n\r\n`;
    assert.match((await raw(daemon.port, twoHosts)).reply, /^HTTP\/1\.1 400 /);
    const stalled = net.connect({ host: '127.0.0.1', port: daemon.port });
    stalled.on('error', () => {});
    stalled.write(`POST /ask HTTP/1.1\r\nHost: 127.0.0.1:${daemon.port}\r\nx-ostrel-token: ${daemon.token}\r\ncontent-length: 100\r\n\r\n{"sen`);
    await stillAnswers();
    stalled.destroy();
    await stillAnswers();
    assert.doesNotMatch(daemon.stderr(), /error handling/);
  });

  it('logs requests but never the token', async () => {
    const log = daemon.stderr();
    assert.match(log, /POST \/ask 200 [\d.]+ms/);
    assert.ok(!log.includes(daemon.token), 'token written to the log');
  });
});
