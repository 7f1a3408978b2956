// The daemon: its file and lifetime, and an HTTP surface that answers on after every refusal.

import { describe, it, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import http from 'node:http';
import net from 'node:net';
import { chmod, mkdir, readFile, readdir, stat, symlink, writeFile } from 'node:fs/promises';
import path from 'node:path';
import { connect, METHOD_RETURN } from '../ostrel/dbus.mjs';
import { privateBusConfig, tempDir, removeDir, daemonFileIn, spawnDaemon, startDaemon, stopChild, stopAll, exited, request, waitFor } from '../testkit/daemon.mjs';

// fn(home, start) with home/.ostrel made; every daemon started is killed afterwards.
async function withHome(fn) {
  const home = await tempDir();
  await mkdir(path.join(home, '.ostrel'));
  try {
    await fn(home, () => spawnDaemon(home));
  } finally {
    await stopAll();
    await removeDir(home);
  }
}

const readDoc = async (home) => JSON.parse(await readFile(daemonFileIn(home), 'utf8'));
const answers = async (doc) => (await request(doc.port, { token: doc.token, path: '/tasks' })).status === 200;
const listening = (server) => new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server.address().port)));

describe('daemon start-up and shutdown', { timeout: 120000 }, () => {
  it('writes a private file, tightening the folder, and removes it on a stop signal', async () => {
    // With its standard error gone, logging must neither throw nor spin.
    for (const [signal, stderrGone] of [['SIGTERM', false], ['SIGINT', false], ['SIGHUP', true]]) {
      await withHome(async (home, start) => {
        await chmod(path.join(home, '.ostrel'), 0o755);
        const daemon = start();
        assert.equal((await daemon.ready).started, true, daemon.stderr());
        const doc = await readDoc(home);
        assert.match(doc.token, /^[0-9a-f]{64}$/);
        const mode = async (p) => (await stat(p)).mode & 0o777;
        assert.deepEqual([await mode(path.dirname(daemonFileIn(home))), await mode(daemonFileIn(home))], [0o700, 0o600]);
        assert.deepEqual(await readdir(path.join(home, '.ostrel')), ['daemon.json'], 'temporary files left behind');
        if (stderrGone) daemon.child.stderr.destroy();
        for (let i = 0; i < 3; i += 1) assert.ok(await answers(doc));
        assert.equal((await stopChild(daemon.child, signal)).code, 0, `${signal}: ${daemon.stderr()}`);
        await assert.rejects(stat(daemonFileIn(home)), `${signal} left the file`);
      });
    }
  });

  it('never doubles a live daemon, and leaves alone a file naming another one', async () => {
    await withHome(async (home, start) => {
      const daemons = [start(), start(), start(), start()];
      await Promise.all(daemons.map((d) => d.ready));
      await waitFor(() => daemons.filter((d) => d.child.exitCode === null).length === 1, 'a single survivor');
      const before = await readFile(daemonFileIn(home), 'utf8');
      assert.ok(await answers(JSON.parse(before)));
      const refused = start();
      assert.deepEqual(await refused.ready, { started: false, code: 1, signal: null });
      assert.match(refused.stderr(), /already running/);
      assert.equal(await readFile(daemonFileIn(home), 'utf8'), before, 'the refused daemon touched the file');
      assert.ok(await answers(JSON.parse(before)), 'the first daemon was hurt');
      const other = { port: 1, token: 'f'.repeat(64) };
      await writeFile(daemonFileIn(home), JSON.stringify(other));
      assert.equal((await exited(daemons.find((d) => d.child.exitCode === null).child)).code, 0);
      assert.deepEqual(await readDoc(home), other);
    });
  });

  it('replaces a stale file, whatever it points at, never handing the token to whoever holds its port', async () => {
    const hung = http.createServer(() => {});
    let heard = '';
    const foreign = http.createServer((req, res) => { heard += JSON.stringify(req.headers); res.end('<html>hello</html>'); });
    const token = 'a'.repeat(64);
    const cases = [
      ['nothing listening', JSON.stringify({ port: 1, token })], ['not JSON', '{"port": 12'],
      ['a server that never answers', JSON.stringify({ port: await listening(hung), token })],
      ['a server that is not an agent', JSON.stringify({ port: await listening(foreign), token })],
      ['wrong types', JSON.stringify({ port: '80', token: 5 })], ['a symlink to /dev/zero', (file) => symlink('/dev/zero', file)],
      ['a FIFO', (file) => execFileSync('mkfifo', [file])], ['a huge sparse file', (file) => execFileSync('truncate', ['-s', '512M', file])],
    ];
    try {
      for (const [name, content] of cases) {
        await withHome(async (home, start) => {
          await (typeof content === 'function' ? content(daemonFileIn(home)) : writeFile(daemonFileIn(home), content));
          const daemon = start();
          assert.equal((await daemon.ready).started, true, `${name}: ${daemon.stderr()}`);
          const peak = /VmHWM:\s*(\d+) kB/.exec(await readFile(`/proc/${daemon.child.pid}/status`, 'utf8'))[1];
          assert.ok(peak < 200 * 1024, `${name}: ${peak} kB resident`);
          assert.ok(await answers(await readDoc(home)), name);
        });
      }
    } finally {
      [hung, foreign].forEach((s) => s.close().closeAllConnections());
    }
    assert.ok(heard && !heard.includes(token), 'the token went to whoever held the port');
  });
});

// Writes raw bytes, then (with pump) body bytes as fast as the server takes
// them. how: 'ended' by the server, an error code, 'timeout' or 'pumped' (64 MiB).
function raw(port, text, { pump = false, host = '127.0.0.1' } = {}) {
  return new Promise((resolve) => {
    const r = { reply: '', written: 0 };
    const done = (how) => { clearTimeout(timer); socket.destroy(); resolve({ ...r, how: how.code ?? how }); };
    const timer = setTimeout(done, 5000, 'timeout');
    const more = () => {
      for (; pump && !socket.destroyed && r.written < 64 * 1024 * 1024; r.written += 1 << 20) if (!socket.write(Buffer.alloc(1 << 20))) return;
      if (pump) done('pumped');
    };
    const socket = net.connect({ host, port }, () => { socket.write(text); more(); }).setEncoding('utf8').on('drain', more);
    socket.on('data', (d) => { r.reply += d; }).on('end', () => done('ended')).on('close', () => done('closed')).on('error', done);
  });
}

describe('agent HTTP surface', { timeout: 120000 }, () => {
  let daemon;
  before(async () => { daemon = await startDaemon(); });
  after(() => daemon?.stop());
  const stillAnswers = async () => assert.equal((await daemon.ask('2+2')).lines[0].title, '4');
  const cancel = async (id) => (await daemon.request({ method: 'POST', path: `/cancel/${encodeURIComponent(id)}` })).status;
  const head = (lines) => `POST /ask HTTP/1.1\r\n${lines.map((l) => `${l}\r\n`).join('')}\r\n`;

  it('answers only the right token and a loopback Host naming its port, on 127.0.0.1 alone; bad requests get a JSON row', async () => {
    const { port, token } = daemon;
    const cases = [
      { token: 'nope', method: 'POST', path: '/ask', json: { sentence: 'set a timer for 5 minutes' }, status: 401 },
      { token: undefined, status: 401 }, { token: token.replace(/./, (c) => (c === 'a' ? 'b' : 'a')), status: 401 },
      { token, host: `evil.example:${port}`, status: 403 }, { token, host: '127.0.0.1', status: 403 }, { token, host: false, status: 403 },
      { token, host: `127.0.0.1:${port}`, status: 200 }, { token, host: `LOCALHOST:${port}`, path: '/tasks?x=1', status: 200 },
    ];
    const bad = [
      ['POST', '/ask', '{"sentence": "2+2"', 400, /malformed json/i], ['POST', '/ask', '[]', 400, /json object/i],
      ['POST', '/ask', '{"goal": "2+2"}', 400, /missing "sentence"/i], ['POST', '/ask', '{"sentence": 42}', 400, /must be a string/i],
      ['POST', '/ask', Buffer.from('{"sentence": "2+2\xff"}', 'latin1'), 400, /utf-8/i],
      ['GET', '/nope', undefined, 404, /not found/i], ['GET', '/ask', undefined, 405, /not allowed/i],
      ['POST', '/tasks', undefined, 405, /not allowed/i], ['GET', '/cancel/abc', undefined, 405, /not allowed/i],
      ['POST', '/cancel/%E0%A4%A', undefined, 400, /bad task id/i],
    ].map(([method, path, body, status, message]) => ({ token, method, path, body, status, message }));
    for (const c of [...cases, ...bad]) {
      const r = await request(port, { path: '/tasks', ...c });
      assert.equal(r.status, c.status, JSON.stringify(c));
      assert.ok(c.status === 200 ? r.json.tasks.length === 0 : r.json.error && (c.message ?? /./).test(r.json.lines[0].title), r.text);
    }
    // All of 127/8 is loopback; only a socket bound to 127.0.0.1 itself refuses 127.0.0.2.
    assert.equal((await raw(port, '', { host: '127.0.0.2' })).how, 'ECONNREFUSED');
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
      assert.equal(r.how, 'ended', `${status}: the server read ${r.written} bytes of the body`);
    }
    const auth = [`Host: 127.0.0.1:${port}`, `x-ostrel-token: ${token}`];
    const body = '{"sentence": "2+2"}';
    const continued = await raw(port, head([...auth, 'expect: 100-continue', 'connection: close', `content-length: ${body.length}`]) + body);
    assert.match(continued.reply, /^HTTP\/1\.1 100 Continue\r\n\r\nHTTP\/1\.1 200 /);
    const chunked = await raw(port, head([...auth, 'transfer-encoding: chunked']) + `4000\r\n${'y'.repeat(0x4000)}\r\n`.repeat(6));
    assert.match(chunked.reply, /^HTTP\/1\.1 413 /);
    const ask = (options) => daemon.request({ method: 'POST', path: '/ask', ...options });
    for (let i = 0; i < 5; i += 1) assert.equal((await ask({ body: Buffer.alloc(10 * 1024 * 1024, 'x') })).status, 413);
    assert.equal((await ask({ json: { sentence: `2+2${' '.repeat(64 * 1024 - 20)}` } })).status, 200);
  });

  it('survives garbage, huge headers and clients that stall or quit, and never logs the token', async () => {
    const { port, token } = daemon;
    const twoHosts = `GET /tasks HTTP/1.1\r\nHost: 127.0.0.1:${port}\r\nHost: evil.example\r\nx-ostrel-token: ${token}\r\n\r\n`;
    for (const [text, status] of [['\u0000 not http\r\n\r\n', 400], [`GET / HTTP/1.1\r\nx-big: ${'a'.repeat(40960)}\r\n\r\n`, 431], [twoHosts, 400]]) {
      assert.match((await raw(port, text)).reply, new RegExp(`^HTTP/1\\.1 ${status} `), text.slice(0, 20));
    }
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
    assert.ok((await daemon.ask('set a timer for 1 minute')).lines[0].taskId, 'a freed place is not reused');
  });
});

describe('timer notifications', { timeout: 120000 }, () => {
  // A private session bus; with serve, a stand-in notification server on it that notes each Notify call.
  async function privateBus(serve) {
    const [address, pid] = execFileSync('dbus-daemon', [`--config-file=${privateBusConfig}`, '--fork', '--print-address=1', '--print-pid=1'], { encoding: 'utf8' }).split('\n');
    const heard = [];
    const server = serve ? await connect(address) : null;
    if (server) {
      server.onMessage((m) => {
        if (m.member !== 'Notify') return;
        heard.push(m.body.slice(0, 5));
        server.send({ type: METHOD_RETURN, replySerial: m.serial, destination: m.sender, signature: 'u', body: [heard.length] });
      });
      const [reply] = await server.call({ destination: 'org.freedesktop.DBus', path: '/org/freedesktop/DBus', interface: 'org.freedesktop.DBus',
        member: 'RequestName', signature: 'su', body: ['org.freedesktop.Notifications', 4] });
      assert.equal(reply, 1, 'the stand-in server does not own the name');
    }
    return { address, heard, stop: () => { server?.close(); process.kill(Number(pid)); } };
  }

  it('announces the end of a timer on the desktop; without a notification server or a bus the timer still ends', async () => {
    const served = await privateBus(true);
    const empty = await privateBus(false);
    const cases = [
      [served.address, [['Ostrel', 0, '', 'Timer finished', 'Timer · 1 s'], ['Ostrel', 0, '', 'Buy 🍕 for Anna', 'Buy 🍕 for Anna · 1 s']]],
      [empty.address, /no notification for task .*ServiceUnknown/], ['unix:path=/nonexistent/bus', /no notification for task .*ENOENT/],
    ];
    try {
      for (const [address, expected] of cases) {
        const daemon = await startDaemon({ DBUS_SESSION_BUS_ADDRESS: address });
        try {
          for (const sentence of ['set a timer for 1 second', 'remind me in one second to buy 🍕 for Anna']) assert.ok((await daemon.ask(sentence)).lines[0].taskId);
          const tasks = async () => (await daemon.request({ path: '/tasks' })).json.tasks;
          await waitFor(async () => (await tasks()).every((t) => t.status === 'done'), 'the timers to end');
          if (Array.isArray(expected)) {
            await waitFor(() => served.heard.length === 2, 'two notifications');
            assert.deepEqual(served.heard.sort(), expected.sort());
          } else {
            await waitFor(() => expected.test(daemon.stderr()), `a log line ${expected}`);
            assert.equal((await daemon.ask('2+2')).lines[0].title, '4');
          }
        } finally {
          await daemon.stop();
        }
      }
    } finally {
      served.stop();
      empty.stop();
    }
  });
});
