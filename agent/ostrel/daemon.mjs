#!/usr/bin/env node
// The Ostrel agent: a loopback HTTP daemon the palette asks questions.
// Started in the foreground; logs go to standard error.

import { randomBytes } from 'node:crypto';
import { createAgentServer } from './server.mjs';
import { daemonFilePath, readDaemonFile, writeDaemonFile, removeDaemonFileIfOwned, probeDaemon } from './daemon-file.mjs';
import { TaskRegistry } from './tasks.mjs';
import { answerSentence } from './router.mjs';

const log = (line) => process.stderr.write(`ostrel-agent: ${line}\n`);

async function main() {
  const file = daemonFilePath();
  const existing = await readDaemonFile(file);
  if (existing && await probeDaemon(existing)) {
    log(`another agent is already running on 127.0.0.1:${existing.port} (see ${file}); not starting`);
    process.exit(1);
  }

  const token = randomBytes(32).toString('hex');
  const tasks = new TaskRegistry();
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
  const stop = async (signal) => {
    if (stopping) return;
    stopping = true;
    log(`${signal} received, stopping`);
    tasks.stopAll();
    server.close();
    server.closeAllConnections?.();
    await removeDaemonFileIfOwned(file, token).catch(() => {});
    process.exit(0);
  };
  process.on('SIGTERM', () => stop('SIGTERM'));
  process.on('SIGINT', () => stop('SIGINT'));

  await writeDaemonFile(file, { port, token });
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
