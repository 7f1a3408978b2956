// The daemon file's lifecycle: written privately and atomically, removed on
// shutdown only by its owner, guarding against a second live daemon and
// replacing files left by dead or foreign ones.

import { describe, it } from 'node:test';
import assert from 'node:assert/strict';
import http from 'node:http';
import net from 'node:net';
import { mkdir, readFile, readdir, stat, writeFile, chmod } from 'node:fs/promises';
import path from 'node:path';
import { makeTempDir, removeDir, spawnDaemon, stopChild, request } from '../testkit/daemon.mjs';

const fileIn = (home) => path.join(home, '.ostrel', 'daemon.json');

async function withHome(fn) {
  const home = await makeTempDir();
  const children = [];
  const start = (env) => {
    const spawned = spawnDaemon({ home, env });
    children.push(spawned.child);
    return spawned;
  };
  try {
    await fn(home, start);
  } finally {
    for (const child of children) await stopChild(child, 'SIGKILL');
    await removeDir(home);
  }
}

async function readDoc(home) {
  return JSON.parse(await readFile(fileIn(home), 'utf8'));
}

async function exists(file) {
  return stat(file).then(() => true, () => false);
}

describe('daemon file', () => {
  it('is private, complete and removed on SIGTERM or SIGINT', async () => {
    for (const signal of ['SIGTERM', 'SIGINT']) {
      await withHome(async (home, start) => {
        const daemon = start();
        assert.equal((await daemon.ready).started, true, daemon.stderr());
        const doc = await readDoc(home);
        assert.deepEqual(Object.keys(doc).sort(), ['port', 'token']);
        assert.ok(Number.isInteger(doc.port) && doc.port > 0);
        assert.match(doc.token, /^[0-9a-f]{32,}$/);
        assert.equal((await stat(path.join(home, '.ostrel'))).mode & 0o777, 0o700);
        assert.equal((await stat(fileIn(home))).mode & 0o777, 0o600);
        assert.deepEqual(await readdir(path.join(home, '.ostrel')), ['daemon.json'], 'temporary files left behind');

        const r = await request(doc.port, { token: doc.token, path: '/tasks' });
        assert.equal(r.status, 200);

        const { code } = await stopChild(daemon.child, signal);
        assert.equal(code, 0, `${signal}: ${daemon.stderr()}`);
        assert.equal(await exists(fileIn(home)), false, `${signal} left the file`);
      });
    }
  });

  it('tightens an existing folder and gives each start a fresh token', async () => {
    await withHome(async (home, start) => {
      await mkdir(path.join(home, '.ostrel'), { mode: 0o755 });
      await chmod(path.join(home, '.ostrel'), 0o755);
      const first = start();
      await first.ready;
      const firstDoc = await readDoc(home);
      assert.equal((await stat(path.join(home, '.ostrel'))).mode & 0o777, 0o700);
      await stopChild(first.child);
      const second = start();
      await second.ready;
      const secondDoc = await readDoc(home);
      assert.notEqual(secondDoc.token, firstDoc.token);
    });
  });

  it('leaves a file written by another daemon in place when stopping', async () => {
    await withHome(async (home, start) => {
      const daemon = start();
      await daemon.ready;
      const other = { port: 1, token: 'f'.repeat(64) };
      await writeFile(fileIn(home), JSON.stringify(other), { mode: 0o600 });
      const { code } = await stopChild(daemon.child);
      assert.equal(code, 0);
      assert.deepEqual(await readDoc(home), other);
    });
  });

  it('refuses to start while another daemon answers for the file', async () => {
    await withHome(async (home, start) => {
      const first = start();
      assert.equal((await first.ready).started, true);
      const before = await readFile(fileIn(home), 'utf8');

      const second = start();
      const state = await second.ready;
      assert.equal(state.started, false);
      assert.notEqual(state.code, 0);
      assert.match(second.stderr(), /already running/);
      assert.equal(await readFile(fileIn(home), 'utf8'), before, 'the refused daemon touched the file');

      const doc = JSON.parse(before);
      assert.equal((await request(doc.port, { token: doc.token, path: '/tasks' })).status, 200, 'first daemon hurt');
    });
  });

  it('replaces a stale file: nothing listening, a hung or foreign server, or garbage', async () => {
    // Servers standing in for what a stale file can point at.
    const held = new Set();
    const hung = net.createServer((socket) => {
      held.add(socket);
      socket.on('error', () => {});
    });
    const foreign = http.createServer((req, res) => { res.writeHead(200); res.end('<html>hello</html>'); });
    const refusing = http.createServer((req, res) => { res.writeHead(401); res.end('{"tasks": []}'); });
    const servers = [hung, foreign, refusing];
    await Promise.all(servers.map((s) => new Promise((resolve) => s.listen(0, '127.0.0.1', resolve))));
    const closedPort = await new Promise((resolve) => {
      const s = net.createServer().listen(0, '127.0.0.1', () => { const { port } = s.address(); s.close(() => resolve(port)); });
    });
    const cases = [
      ['nothing listening', JSON.stringify({ port: closedPort, token: 'a'.repeat(64) })],
      ['server that never answers', JSON.stringify({ port: hung.address().port, token: 'a'.repeat(64) })],
      ['server that is not an agent', JSON.stringify({ port: foreign.address().port, token: 'a'.repeat(64) })],
      ['agent with another token', JSON.stringify({ port: refusing.address().port, token: 'a'.repeat(64) })],
      ['not JSON', '{"port": 12'],
      ['wrong types', JSON.stringify({ port: '80', token: 5 })],
      ['empty', ''],
    ];
    try {
      for (const [name, content] of cases) {
        await withHome(async (home, start) => {
          await mkdir(path.join(home, '.ostrel'), { mode: 0o700 });
          await writeFile(fileIn(home), content, { mode: 0o600 });
          const daemon = start();
          const state = await daemon.ready;
          assert.equal(state.started, true, `${name}: ${daemon.stderr()}`);
          const doc = await readDoc(home);
          assert.equal((await stat(fileIn(home))).mode & 0o777, 0o600, name);
          assert.equal((await request(doc.port, { token: doc.token, path: '/tasks' })).status, 200, name);
        });
      }
    } finally {
      for (const socket of held) socket.destroy();
      for (const s of servers) {
        s.closeAllConnections?.();
        await new Promise((resolve) => s.close(resolve));
      }
    }
  });
});
