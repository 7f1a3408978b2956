// Starts real agent daemons for tests: each with its own throw-away HOME,
// as a child process, and talks to them over loopback HTTP.

import { spawn } from 'node:child_process';
import { mkdtemp, readdir, readFile, rm } from 'node:fs/promises';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { readDaemonFile } from '../ostrel/daemon-file.mjs';

export const AGENT_ROOT = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');
export const DAEMON = path.join(AGENT_ROOT, 'ostrel', 'daemon.mjs');
export const RESPOND = path.join(AGENT_ROOT, 'ostrel', 'respond.mjs');

export function makeTempDir(prefix = 'ostrel-test-') {
  return mkdtemp(path.join(os.tmpdir(), prefix));
}

export function removeDir(dir) {
  return rm(dir, { recursive: true, force: true });
}

// process.env with overrides; an override of undefined removes the variable.
export function childEnv(overrides = {}) {
  const env = { ...process.env };
  delete env.DISPLAY;
  delete env.OSTREL_AGENT_POWER_SUPPLY;
  for (const [key, value] of Object.entries(overrides)) {
    if (value === undefined) delete env[key];
    else env[key] = value;
  }
  return env;
}

const live = new Set();
process.on('exit', () => {
  for (const child of live) child.kill('SIGKILL');
});

export function exited(child) {
  if (child.exitCode !== null || child.signalCode !== null) {
    return Promise.resolve({ code: child.exitCode, signal: child.signalCode });
  }
  return new Promise((resolve) => child.once('exit', (code, signal) => resolve({ code, signal })));
}

// Spawns the daemon and resolves once it says it is listening. Resolves
// with { exited } instead when the daemon quits before that (for tests that
// expect it to refuse to start).
export function spawnDaemon({ home, env = {} }) {
  const child = spawn(process.execPath, [DAEMON], {
    env: childEnv({ HOME: home, ...env }),
    stdio: ['ignore', 'ignore', 'pipe'],
  });
  live.add(child);
  child.once('exit', () => live.delete(child));
  let stderr = '';
  child.stderr.setEncoding('utf8');
  child.stderr.on('data', (text) => {
    stderr = (stderr + text).slice(-256 * 1024);
  });
  const ready = new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`daemon did not start:\n${stderr}`)), 15000);
    const onData = () => {
      if (/listening on 127\.0\.0\.1:\d+/.test(stderr)) {
        clearTimeout(timer);
        child.stderr.off('data', onData);
        resolve({ started: true });
      }
    };
    child.stderr.on('data', onData);
    child.once('exit', (code, signal) => {
      clearTimeout(timer);
      resolve({ started: false, code, signal });
    });
  });
  return { child, ready, stderr: () => stderr };
}

export async function startDaemon({ env = {} } = {}) {
  const home = await makeTempDir();
  const file = path.join(home, '.ostrel', 'daemon.json');
  const spawned = spawnDaemon({ home, env });
  const state = await spawned.ready;
  if (!state.started) throw new Error(`daemon exited (${state.code}):\n${spawned.stderr()}`);
  const { port, token } = await readDaemonFile(file);
  const daemon = {
    home,
    file,
    port,
    token,
    child: spawned.child,
    stderr: spawned.stderr,
    request: (options) => request(port, { token, ...options }),
    ask: async (sentence) => {
      const r = await request(port, { token, method: 'POST', path: '/ask', json: { sentence } });
      if (r.status !== 200) throw new Error(`/ask answered ${r.status}: ${r.text}`);
      return r.json;
    },
    stop: async () => {
      await stopChild(spawned.child);
      await removeDir(home);
    },
  };
  return daemon;
}

export async function stopChild(child, signal = 'SIGTERM') {
  if (child.exitCode !== null || child.signalCode !== null) return exited(child);
  child.kill(signal);
  const timer = setTimeout(() => child.kill('SIGKILL'), 5000);
  const result = await exited(child);
  clearTimeout(timer);
  return result;
}

// One HTTP request with full control over headers. host: false sends no
// Host header at all; token: undefined sends no token header.
export function request(port, {
  method = 'GET', path: urlPath = '/', token, host, headers = {}, body, json, address = '127.0.0.1', timeoutMs = 10000,
} = {}) {
  return new Promise((resolve, reject) => {
    const allHeaders = { ...headers };
    if (token !== undefined) allHeaders['x-ostrel-token'] = token;
    let payload = body;
    if (json !== undefined) {
      payload = JSON.stringify(json);
      allHeaders['content-type'] = 'application/json';
    }
    if (host !== false) allHeaders.host = host ?? `127.0.0.1:${port}`;
    const req = http.request({
      host: address,
      port,
      method,
      path: urlPath,
      headers: allHeaders,
      setHost: false,
      agent: false,
      timeout: timeoutMs,
    }, (res) => {
      const chunks = [];
      res.on('data', (c) => chunks.push(c));
      res.on('end', () => {
        const text = Buffer.concat(chunks).toString('utf8');
        let parsed;
        try { parsed = JSON.parse(text); } catch { parsed = undefined; }
        resolve({ status: res.statusCode, headers: res.headers, text, json: parsed });
      });
      res.on('error', reject);
    });
    req.on('timeout', () => req.destroy(new Error('request timed out')));
    req.on('error', reject);
    req.end(payload);
  });
}

// Lists the live child processes of a pid (from /proc), to check that no
// helper program outlives the code that started it.
export async function childProcesses(pid = process.pid) {
  const found = [];
  for (const entry of await readdir('/proc')) {
    if (!/^\d+$/.test(entry)) continue;
    try {
      const stat = await readFile(`/proc/${entry}/stat`, 'utf8');
      const fields = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
      if (Number(fields[1]) === pid && fields[0] !== 'Z') found.push(Number(entry));
    } catch {
      // The process ended while being read.
    }
  }
  return found;
}
