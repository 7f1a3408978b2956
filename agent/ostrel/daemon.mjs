#!/usr/bin/env node
// The Ostrel agent: a loopback HTTP daemon the palette asks questions.
// Started in the foreground; logs go to standard error.

import { randomBytes } from 'node:crypto';
import { watch } from 'node:fs';
import path from 'node:path';
import { createAgentServer } from './server.mjs';
import { daemonFilePath, readDaemonFile, writeDaemonFile, removeDaemonFileIfOwned, probeDaemon } from './daemon-file.mjs';
import { TaskRegistry } from './tasks.mjs';
import { answerSentence } from './router.mjs';
import { notify } from './notify.mjs';

// Logging must never throw: with standard error on a pipe whose reader has
// gone, each write fails, and a failure reported through the log would fail
// again, for ever. Once standard error is gone the daemon goes on silently.
let stderrGone = false;
process.stderr.on('error', () => { stderrGone = true; });
const log = (line) => {
  if (stderrGone) return;
  try {
    process.stderr.write(`ostrel-agent: ${line}\n`);
  } catch {
    stderrGone = true;
  }
};

// A daemon whose file now names another daemon can no longer be reached:
// two started at the same instant both found no file and both wrote one.
// The one whose file was replaced stops, so exactly one stays.
function watchDaemonFile(file, token, stop) {
  const check = async () => {
    const current = await readDaemonFile(file);
    if (current && current.token !== token) stop('the daemon file names another agent;');
  };
  try {
    watch(path.dirname(file), { persistent: false }, check).on('error', () => {});
  } catch {
    // Without inotify the periodic check below still catches it.
  }
  setInterval(check, 2000).unref();
}

async function main() {
  const file = daemonFilePath();
  const existing = await readDaemonFile(file);
  if (existing && await probeDaemon(existing)) {
    log(`another agent is already running on 127.0.0.1:${existing.port} (see ${file}); not starting`);
    process.exit(1);
  }

  const token = randomBytes(32).toString('hex');
  // A timer that ends says so on the desktop, whether or not the palette is shown.
  const tasks = new TaskRegistry({
    onDone: (task) => notify(task.outcome, task.title).then((r) => { if (!r.ok) log(`no notification for task ${task.id}: ${r.error}`); }),
  });
  const server = createAgentServer({
    token,
    tasks,
    ask: (sentence) => answerSentence(sentence, { tasks }),
    log,
  });

  await new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(0, '127.0.0.1', () => {
      server.off('error', reject);
      resolve();
    });
  });
  const { port } = server.address();

  // Handlers go in before the file is written so that a signal arriving
  // right after the write still removes it.
  let stopping = false;
  const stop = async (reason) => {
    if (stopping) return;
    stopping = true;
    log(`${reason} stopping`);
    tasks.stopAll();
    server.close();
    server.closeAllConnections?.();
    await removeDaemonFileIfOwned(file, token).catch(() => {});
    process.exit(0);
  };
  // SIGHUP too: its default would end the daemon and leave the file behind.
  for (const signal of ['SIGTERM', 'SIGINT', 'SIGHUP']) process.on(signal, () => stop(`${signal} received,`));

  await writeDaemonFile(file, { port, token });
  watchDaemonFile(file, token, stop);
  log(`listening on 127.0.0.1:${port}, daemon file ${file}`);
}

// The request handler has its own safety net; this one keeps a stray error
// elsewhere (a timer callback, a socket event) from taking the agent down
// under the palette.
process.on('uncaughtException', (err) => log(`unexpected error: ${err?.stack ?? err}`));
process.on('unhandledRejection', (err) => log(`unexpected rejection: ${err?.stack ?? err}`));

main().catch((err) => {
  log(`cannot start: ${err?.message ?? err}`);
  process.exit(1);
});
