#!/usr/bin/env node
// Latency of the agent's /ask for arithmetic over loopback: starts a daemon
// with a throw-away HOME, sends sequential requests on one keep-alive
// connection, prints p50/p99 and the daemon's resident memory, then stops it.
//
//   node bench/agent_ask.mjs [requests]

import { spawn } from 'node:child_process';
import { mkdtemp, readFile, rm } from 'node:fs/promises';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const ROOT = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');
const DAEMON = path.join(ROOT, 'agent', 'ostrel', 'daemon.mjs');
const REQUESTS = Math.max(1, Math.min(100000, Number(process.argv[2]) || 1000));
const WARMUP = 50;
const TARGET_P50_MS = 2;

function startDaemon(home) {
  const env = { ...process.env, HOME: home };
  delete env.DISPLAY;
  const child = spawn(process.execPath, [DAEMON], { env, stdio: ['ignore', 'ignore', 'pipe'] });
  let log = '';
  const ready = new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`daemon did not start:\n${log}`)), 15000);
    child.stderr.setEncoding('utf8');
    child.stderr.on('data', (text) => {
      // Keep only the start of the log; the per-request lines are drained.
      if (log.length < 4096) log += text;
      if (/listening on 127\.0\.0\.1:\d+/.test(log)) {
        clearTimeout(timer);
        resolve();
      }
    });
    child.once('exit', (code) => {
      clearTimeout(timer);
      reject(new Error(`daemon exited with ${code}:\n${log}`));
    });
  });
  return { child, ready };
}

function ask(agent, port, token, sentence) {
  const body = JSON.stringify({ sentence });
  return new Promise((resolve, reject) => {
    const req = http.request({
      host: '127.0.0.1',
      port,
      method: 'POST',
      path: '/ask',
      agent,
      timeout: 20000,
      headers: {
        host: `127.0.0.1:${port}`,
        'x-ostrel-token': token,
        'content-type': 'application/json',
        'content-length': Buffer.byteLength(body),
      },
    }, (res) => {
      const chunks = [];
      res.on('data', (c) => chunks.push(c));
      res.on('end', () => {
        if (res.statusCode !== 200) return reject(new Error(`status ${res.statusCode}`));
        resolve(JSON.parse(Buffer.concat(chunks).toString('utf8')));
      });
      res.on('error', reject);
    });
    req.on('timeout', () => req.destroy(new Error('request timed out')));
    req.on('error', reject);
    req.end(body);
  });
}

function percentile(sorted, p) {
  return sorted[Math.min(sorted.length - 1, Math.ceil((p / 100) * sorted.length) - 1)];
}

async function rssKiB(pid) {
  const status = await readFile(`/proc/${pid}/status`, 'utf8');
  return Number(/^VmRSS:\s+(\d+)\s+kB/m.exec(status)?.[1]);
}

async function main() {
  const home = await mkdtemp(path.join(os.tmpdir(), 'ostrel-bench-'));
  const { child, ready } = startDaemon(home);
  const agent = new http.Agent({ keepAlive: true, maxSockets: 1 });
  try {
    await ready;
    const { port, token } = JSON.parse(await readFile(path.join(home, '.ostrel', 'daemon.json'), 'utf8'));
    for (let i = 0; i < WARMUP; i += 1) await ask(agent, port, token, `${i} + 1`);

    const samples = new Array(REQUESTS);
    for (let i = 0; i < REQUESTS; i += 1) {
      const a = (i % 97) + 3;
      const b = (i % 89) + 7;
      const expected = String(a * b + 1);
      const started = process.hrtime.bigint();
      const doc = await ask(agent, port, token, `${a}*${b}+1`);
      samples[i] = Number(process.hrtime.bigint() - started) / 1e6;
      if (doc.lines?.[0]?.title !== expected) throw new Error(`wrong answer for ${a}*${b}+1: ${JSON.stringify(doc)}`);
    }
    const rss = await rssKiB(child.pid);
    const sorted = [...samples].sort((x, y) => x - y);
    const p50 = percentile(sorted, 50);
    const p99 = percentile(sorted, 99);
    console.log(`agent /ask arithmetic, ${REQUESTS} sequential requests (keep-alive, after ${WARMUP} warm-up), node ${process.version}`);
    console.log(`p50 ${p50.toFixed(3)} ms   p99 ${p99.toFixed(3)} ms   max ${sorted[sorted.length - 1].toFixed(3)} ms`);
    console.log(`daemon RSS ${(rss / 1024).toFixed(1)} MiB (${rss} kB)`);
    console.log(`p50 target ≤ ${TARGET_P50_MS} ms: ${p50 <= TARGET_P50_MS ? 'met' : 'MISSED'}`);
  } finally {
    agent.destroy();
    if (child.exitCode === null && child.signalCode === null) {
      const exited = new Promise((resolve) => child.once('exit', resolve));
      child.kill('SIGTERM');
      const timer = setTimeout(() => child.kill('SIGKILL'), 5000);
      await exited;
      clearTimeout(timer);
    }
    await rm(home, { recursive: true, force: true });
  }
}

main().catch((err) => {
  console.error(`benchmark failed: ${err.message}`);
  process.exitCode = 1;
});
