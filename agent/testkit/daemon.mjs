// Helpers for the agent's tests: throw-away trees, answers as rows, and real agent daemons, each with its own HOME.

import { spawn } from 'node:child_process';
import { mkdir, mkdtemp, rm, writeFile } from 'node:fs/promises';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { readDaemonFile } from '../ostrel/daemon-file.mjs';
import { answerSentence } from '../ostrel/router.mjs';

// The configuration of a private session bus that activates nothing the
// machine has installed: only the fakes a test starts answer on it.
export const privateBusConfig = fileURLToPath(new URL('../../tests/testkit/session-bus.conf', import.meta.url));

export const AGENT_ROOT = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');
export const tempDir = (prefix = 'ostrel-test-') => mkdtemp(path.join(os.tmpdir(), prefix));
export const removeDir = (dir) => rm(dir, { recursive: true, force: true });
export const daemonFileIn = (home) => path.join(home, '.ostrel', 'daemon.json');

// tree: name -> text (a file, executable when it starts with "#!") or -> tree
// (a folder); names may hold slashes. Returns dir.
export async function plant(dir, tree) {
  await mkdir(dir, { recursive: true });
  for (const [name, value] of Object.entries(tree)) {
    const at = path.join(dir, name);
    if (typeof value !== 'string') await plant(at, value);
    else {
      await mkdir(path.dirname(at), { recursive: true });
      await writeFile(at, value, { mode: value.startsWith('#!') ? 0o755 : 0o644 });
    }
  }
  return dir;
}

// A shell script that appends its name and arguments, "|" before each, as one line to the file rec.
export const recorder = (rec) => `#!/bin/sh\n{ printf '%s' "\${0##*/}"; for a; do printf '|%s' "$a"; done; echo; } >> "${rec}"\n`;

// The rows the reply to a sentence shows, as [title, subtitle].
export const rows = async (sentence, env) => (await answerSentence(sentence, { env })).lines.map((l) => [l.title, l.subtitle]);

// process.env without what would reach a real desktop; undefined removes a variable.
export function childEnv(overrides = {}) {
  const env = { ...process.env, DISPLAY: undefined, OSTREL_AGENT_POWER_SUPPLY: undefined, ...overrides };
  return Object.fromEntries(Object.entries(env).filter(([, value]) => value !== undefined));
}

const live = new Set();
process.on('exit', () => live.forEach((child) => child.kill('SIGKILL')));

export function exited(child) {
  if (child.exitCode !== null || child.signalCode !== null) return Promise.resolve({ code: child.exitCode, signal: child.signalCode });
  return new Promise((resolve) => child.once('exit', (code, signal) => resolve({ code, signal })));
}

export async function stopChild(child, signal = 'SIGTERM') {
  if (child.exitCode === null && child.signalCode === null) child.kill(signal);
  const timer = setTimeout(() => child.kill('SIGKILL'), 5000);
  return exited(child).finally(() => clearTimeout(timer));
}
export const stopAll = () => Promise.all([...live].map((child) => stopChild(child, 'SIGKILL')));

// ready: { started: true } once the daemon listens, or the exit status if it quits first.
export function spawnDaemon(home, env = {}) {
  const daemon = path.join(AGENT_ROOT, 'ostrel', 'daemon.mjs');
  const child = spawn(process.execPath, [daemon], { env: childEnv({ ...env, HOME: home }), stdio: ['ignore', 'ignore', 'pipe'] });
  live.add(child);
  let log = '';
  child.stderr.setEncoding('utf8');
  const ready = new Promise((resolve) => {
    setTimeout(() => resolve({ started: false, code: 'still starting after 15 s' }), 15000).unref();
    child.stderr.on('data', (text) => {
      log = (log + text).slice(-256 * 1024);
      if (/listening on 127\.0\.0\.1:\d+/.test(log)) resolve({ started: true });
    });
    child.once('exit', (code, signal) => resolve({ started: false, code, signal }));
  });
  return { child, ready, stderr: () => log };
}

export async function startDaemon(env = {}) {
  const home = await tempDir();
  const spawned = spawnDaemon(home, env);
  if (!(await spawned.ready).started) throw new Error(`daemon did not start:\n${spawned.stderr()}`);
  const { port, token } = await readDaemonFile(daemonFileIn(home));
  const call = (options) => request(port, { token, ...options });
  const ask = async (sentence) => (await call({ method: 'POST', path: '/ask', json: { sentence } })).json;
  const stop = async () => { await stopChild(spawned.child); await removeDir(home); };
  return { home, port, token, ...spawned, request: call, ask, stop };
}

// host false sends no Host header, token undefined no token.
export function request(port, { method = 'GET', path: urlPath = '/', token, host, body, json } = {}) {
  return new Promise((resolve, reject) => {
    const all = { ...(token !== undefined && { 'x-ostrel-token': token }), ...(host !== false && { host: host ?? `127.0.0.1:${port}` }) };
    const options = { host: '127.0.0.1', port, method, path: urlPath, headers: all, setHost: false, agent: false, timeout: 10000 };
    const req = http.request(options, (res) => res.toArray().then((chunks) => {
      const text = Buffer.concat(chunks).toString('utf8');
      req.destroy(); // the server may still be refusing the rest of a large body
      resolve({ status: res.statusCode, text, json: /^[[{]/.test(text) ? JSON.parse(text) : undefined });
    }).catch(reject));
    req.on('timeout', () => req.destroy(new Error('request timed out')));
    req.on('error', reject);
    req.end(json === undefined ? body : JSON.stringify(json));
  });
}

export async function waitFor(check, what, timeoutMs = 10000) {
  for (const deadline = Date.now() + timeoutMs; ; await new Promise((resolve) => setTimeout(resolve, 25))) {
    const value = await check();
    if (value) return value;
    if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}`);
  }
}
