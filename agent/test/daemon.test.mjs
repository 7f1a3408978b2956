// Start-up and shutdown: the daemon file is private and atomic, only its
// owner removes it, a live daemon is never doubled and a stale file is
// replaced whatever it points at.

import { describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawn } from 'node:child_process';
import http from 'node:http';
import net from 'node:net';
import { chmod, mkdir, readFile, readdir, stat, symlink, writeFile } from 'node:fs/promises';
import path from 'node:path';
import { tempDir, removeDir, daemonFileIn, spawnDaemon, stopChild, exited, request, waitFor } from '../testkit/daemon.mjs';

// fn(home, start) with home/.ostrel made; every daemon started is killed afterwards.
async function withHome(fn) {
  const home = await tempDir();
  const children = [];
  await mkdir(path.join(home, '.ostrel'));
  try {
    await fn(home, () => { const spawned = spawnDaemon(home); children.push(spawned.child); return spawned; });
  } finally {
    for (const child of children) await stopChild(child, 'SIGKILL');
    await removeDir(home);
  }
}

const readDoc = async (home) => JSON.parse(await readFile(daemonFileIn(home), 'utf8'));
const answers = async (doc) => (await request(doc.port, { token: doc.token, path: '/tasks' })).status === 200;
const listening = (server) => new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server.address().port)));

describe('daemon start-up and shutdown', { timeout: 120000 }, () => {
  it('writes a private file, tightening the folder, and removes it on a stop signal', async () => {
    // The last row also loses its standard error first: logging must
    // neither throw nor spin, and the daemon must keep answering.
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

  it('never hands the token to whoever holds the port of a stale file', async () => {
    // As root the impostor runs as another user, as it would in the wild.
    const asOther = process.getuid() === 0 ? ['setpriv', '--reuid=65534', '--regid=65534', '--clear-groups'] : [];
    const impostor = `require('http').createServer((q, s) => { console.log(JSON.stringify(q.headers)); s.end('{"tasks":[]}'); })
      .listen(0, '127.0.0.1', function () { console.log(this.address().port); })`;
    const [command, ...args] = [...asOther, process.execPath, '-e', impostor];
    const other = spawn(command, args, { cwd: '/', stdio: ['ignore', 'pipe', 'inherit'] });
    let heard = '';
    other.stdout.on('data', (d) => { heard += d; });
    try {
      const port = Number(await waitFor(() => /^\d+\n/.exec(heard)?.[0], 'the impostor'));
      await withHome(async (home, start) => {
        await writeFile(daemonFileIn(home), JSON.stringify({ port, token: 'c'.repeat(64) }));
        const daemon = start();
        assert.equal((await daemon.ready).started, true, daemon.stderr());
        assert.ok(!heard.includes('c'.repeat(64)), 'the token went to the impostor');
      });
    } finally {
      other.kill();
    }
  });

  it('replaces a stale file, whatever it points at', async () => {
    const held = [];
    const hung = net.createServer((socket) => held.push(socket.on('error', () => {})));
    const foreign = http.createServer((req, res) => res.end('<html>hello</html>'));
    const closed = net.createServer();
    const ports = { hung: await listening(hung), foreign: await listening(foreign), closed: await listening(closed) };
    closed.close();
    const token = 'a'.repeat(64);
    const cases = [
      ['nothing listening', JSON.stringify({ port: ports.closed, token })],
      ['a server that never answers', JSON.stringify({ port: ports.hung, token })],
      ['a server that is not an agent', JSON.stringify({ port: ports.foreign, token })],
      ['not JSON', '{"port": 12'],
      ['wrong types', JSON.stringify({ port: '80', token: 5 })],
      ['a symlink to /dev/zero', (file) => symlink('/dev/zero', file)],
      ['a FIFO', (file) => execFileSync('mkfifo', [file])],
      ['a huge sparse file', (file) => execFileSync('truncate', ['-s', '512M', file])],
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
      held.forEach((socket) => socket.destroy());
      foreign.closeAllConnections();
      [hung, foreign].forEach((s) => s.close());
    }
  });
});
