// The daemon's HTTP surface: who may talk to it, what it refuses, that it
// keeps answering after every refusal, and the timer tasks it keeps.

import { describe, it, before, after } from 'node:test';
import assert from 'node:assert/strict';
import net from 'node:net';
import { startDaemon, request, waitFor } from '../testkit/daemon.mjs';

// Writes raw bytes, then (with pump) body bytes as fast as the server takes
// them, until it closes its side, 64 MiB have gone or 5 s have passed.
function raw(port, text, { pump = false, host = '127.0.0.1' } = {}) {
  return new Promise((resolve) => {
    const socket = net.connect({ host, port });
    const chunk = Buffer.alloc(1024 * 1024, 'x');
    const r = { reply: '', written: 0, ended: false };
    const done = (err) => { clearTimeout(timer); socket.destroy(); resolve({ ...r, error: err?.code }); };
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
    socket.on('close', () => done()).on('error', done).on('drain', more);
    socket.on('connect', () => { socket.write(text); more(); });
  });
}

describe('agent HTTP surface', { timeout: 120000 }, () => {
  let daemon;
  before(async () => { daemon = await startDaemon(); });
  after(() => daemon?.stop());
  const stillAnswers = async () => assert.equal((await daemon.ask('2+2')).lines[0].title, '4');
  const tasks = async () => (await daemon.request({ path: '/tasks' })).json.tasks;
  const cancel = async (id) => (await daemon.request({ method: 'POST', path: `/cancel/${encodeURIComponent(id)}` })).status;
  const head = (lines) => `POST /ask HTTP/1.1\r\n${lines.map((l) => `${l}\r\n`).join('')}\r\n`;

  it('answers only the right token and a loopback Host naming its port, on 127.0.0.1 alone', async () => {
    const { port, token } = daemon;
    const cases = [
      { token: undefined, status: 401 }, { token: token.replace(/./, (c) => (c === 'a' ? 'b' : 'a')), status: 401 },
      { token, host: `evil.example:${port}`, status: 403 }, { token, host: '127.0.0.1', status: 403 }, { token, host: false, status: 403 },
      { token, host: `127.0.0.1:${port}`, status: 200 }, { token, host: `LOCALHOST:${port}`, path: '/tasks?x=1', status: 200 },
    ];
    for (const c of cases) {
      const r = await request(port, { token: c.token, host: c.host, path: c.path ?? '/tasks' });
      assert.equal(r.status, c.status, JSON.stringify(c));
      assert.ok(c.status === 200 ? Array.isArray(r.json.tasks) : r.json.error, JSON.stringify(c));
    }
    const refused = await request(port, { token: 'nope', method: 'POST', path: '/ask', json: { sentence: 'set a timer for 5 minutes' } });
    assert.equal(refused.status, 401);
    assert.deepEqual(await tasks(), [], 'a refused request started a task');
    // All of 127/8 reaches the loopback device; only a socket bound to 127.0.0.1 itself refuses 127.0.0.2.
    assert.equal((await raw(port, '', { host: '127.0.0.2' })).error, 'ECONNREFUSED');
  });

  it('refuses oversized bodies before reading them: no 100 Continue, and the connection closes', async () => {
    const { port, token } = daemon;
    const cases = [
      [[`Host: 127.0.0.1:${port}`, 'expect: 100-continue'], 401],
      [['Host: evil.example', `x-ostrel-token: ${token}`], 403],
      [[`Host: 127.0.0.1:${port}`, `x-ostrel-token: ${token}`, 'expect: 100-continue'], 413],
    ];
    for (const [headers, status] of cases) {
      const r = await raw(port, head([...headers, 'content-length: 1000000000']), { pump: true });
      assert.match(r.reply, new RegExp(`^HTTP/1\\.1 ${status} `), headers.join());
      assert.ok(r.ended && r.written < 64 * 1024 * 1024, `${status}: the server read ${r.written} bytes of the body`);
    }
    const auth = [`Host: 127.0.0.1:${port}`, `x-ostrel-token: ${token}`];
    const body = '{"sentence": "2+2"}';
    const continued = await raw(port, head([...auth, 'expect: 100-continue', 'connection: close', `content-length: ${body.length}`]) + body);
    assert.match(continued.reply, /^HTTP\/1\.1 100 Continue\r\n\r\nHTTP\/1\.1 200 /);
    const chunked = await raw(port, head([...auth, 'transfer-encoding: chunked']) + `4000\r\n${'y'.repeat(0x4000)}\r\n`.repeat(6));
    assert.match(chunked.reply, /^HTTP\/1\.1 413 /);
    // A client that sends its whole oversized body anyway still sees the 413.
    for (let i = 0; i < 5; i += 1) {
      assert.equal((await daemon.request({ method: 'POST', path: '/ask', body: Buffer.alloc(10 * 1024 * 1024, 'x') })).status, 413);
    }
    const fits = await daemon.request({ method: 'POST', path: '/ask', json: { sentence: `2+2${' '.repeat(64 * 1024 - 20)}` } });
    assert.equal(fits.status, 200);
  });

  it('answers bad requests with a JSON row saying what was wrong', async () => {
    const cases = [
      ['POST', '/ask', '{"sentence": "2+2"', 400, /malformed json/i], ['POST', '/ask', '[]', 400, /json object/i],
      ['POST', '/ask', '{"goal": "2+2"}', 400, /missing "sentence"/i], ['POST', '/ask', '{"sentence": 42}', 400, /must be a string/i],
      ['POST', '/ask', Buffer.from('{"sentence": "2+2\xff"}', 'latin1'), 400, /utf-8/i],
      ['GET', '/nope', undefined, 404, /not found/i], ['GET', '/ask', undefined, 405, /not allowed/i],
      ['POST', '/tasks', undefined, 405, /not allowed/i], ['GET', '/cancel/abc', undefined, 405, /not allowed/i],
      ['POST', '/cancel/%E0%A4%A', undefined, 400, /bad task id/i],
    ];
    for (const [method, path, body, status, message] of cases) {
      const r = await daemon.request({ method, path, body });
      assert.deepEqual([r.status, message.test(r.json.lines[0].title)], [status, true], `${method} ${path} ${body}: ${r.text}`);
    }
  });

  it('survives garbage, huge headers and clients that stall or quit, and never logs the token', async () => {
    const { port, token } = daemon;
    assert.match((await raw(port, '\u0000 not http\r\n\r\n')).reply, /^HTTP\/1\.1 400 /);
    assert.match((await raw(port, `GET /tasks HTTP/1.1\r\nx-big: ${'a'.repeat(40 * 1024)}\r\n\r\n`)).reply, /^HTTP\/1\.1 431 /);
    const twoHosts = `GET /tasks HTTP/1.1\r\nHost: 127.0.0.1:${port}\r\nHost: evil.example\r\nx-ostrel-token: ${token}\r\n\r\n`;
    assert.match((await raw(port, twoHosts)).reply, /^HTTP\/1\.1 400 /);
    const stalled = net.connect({ host: '127.0.0.1', port }).on('error', () => {});
    stalled.write(head([`Host: 127.0.0.1:${port}`, `x-ostrel-token: ${token}`, 'content-length: 100']) + '{"sen');
    await stillAnswers();
    stalled.destroy();
    await stillAnswers();
    assert.doesNotMatch(daemon.stderr(), /error handling/);
    assert.match(daemon.stderr(), /POST \/ask 200 [\d.]+ms/);
    assert.ok(!daemon.stderr().includes(token), 'token written to the log');
  });

  it('cancels a task once, and limits how many timers run at once', async () => {
    const ids = [];
    for (let i = 0; i < 20; i += 1) ids.push((await daemon.ask(`set a timer for ${i + 1} minutes`)).lines[0].taskId);
    assert.deepEqual((await daemon.ask('set a timer for 1 minute')).lines.map((l) => [l.title, l.taskId]), [['Too many timers running', undefined]]);
    assert.deepEqual([await cancel(ids[0]), await cancel(ids[0]), await cancel('../tasks')], [200, 409, 404]);
    assert.deepEqual((await tasks()).find((t) => t.id === ids[0]), { id: ids[0], title: 'Timer · 1 min', status: 'cancelled', outcome: 'Stopped' });
    const shortId = (await daemon.ask('timer 1 second')).lines[0].taskId;
    const finished = await waitFor(async () => (await tasks()).find((t) => t.id === shortId && t.status !== 'running'), 'the timer');
    assert.deepEqual([finished.status, finished.outcome, await cancel(shortId)], ['done', 'Timer finished', 409]);
  });
});
