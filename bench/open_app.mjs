#!/usr/bin/env node
// Cost of "open X" in the agent's own code path (the router, as the daemon
// calls it) with 500 generated desktop entries: the cold request that reads
// them, a re-read after a folder changed, warm requests (with and without
// starting the program) and the heap the cached list takes.
//
//   node bench/open_app.mjs [requests]

import { mkdtemp, mkdir, writeFile, rm, utimes } from 'node:fs/promises';
import os from 'node:os';
import path from 'node:path';
import { answerSentence } from '../agent/ostrel/router.mjs';
import { applications } from '../agent/ostrel/desktop.mjs';
import { rank } from '../agent/ostrel/match.mjs';
import { gc, stats, timeMs } from './timing.mjs';

const ENTRIES = 500;
const REQUESTS = Math.max(10, Math.min(100000, Number(process.argv[2]) || 2000));
const TARGET_WARM_MS = 1;

const WORDS = ['Quartz', 'Nebula', 'Pixel', 'Harbor', 'Sonic', 'Atlas', 'Ember', 'Delta', 'Lumen', 'Cobalt',
  'Orbit', 'Vertex', 'Zephyr', 'Kite', 'Maple', 'Onyx', 'Prism', 'Sable', 'Tundra', 'Willow'];
const KINDS = ['Editor', 'Viewer', 'Player', 'Manager', 'Browser', 'Terminal', 'Monitor', 'Studio', 'Settings', 'Mail'];

function entryText(i) {
  const name = `${WORDS[i % WORDS.length]} ${KINDS[Math.floor(i / WORDS.length) % KINDS.length]} ${i}`;
  const locales = ['de', 'fr', 'es', 'it', 'ja', 'pt_BR'].map((l) => `Name[${l}]=${name} (${l})\nGenericName[${l}]=Tool ${l}\n`).join('');
  return `[Desktop Entry]\nType=Application\nName=${name}\n${locales}GenericName=${KINDS[i % KINDS.length]} tool\n`
    + `Comment=Generated entry number ${i}\nKeywords=bench;generated;${WORDS[(i * 7) % WORDS.length]};\n`
    + `Exec=/bin/true --entry ${i} %U\nIcon=bench-${i}\nCategories=Utility;\nTerminal=false\n`;
}

const root = await mkdtemp(path.join(os.tmpdir(), 'ostrel-bench-apps-'));
try {
  // 100 in the user's folder, 400 in a system folder spread over subfolders.
  for (let i = 0; i < ENTRIES; i += 1) {
    const dir = i < 100 ? path.join(root, 'home', 'applications') : path.join(root, 'sys', 'applications', `group${i % 8}`);
    await mkdir(dir, { recursive: true });
    await writeFile(path.join(dir, `bench-${i}.desktop`), entryText(i));
  }
  const env = {
    ...process.env,
    HOME: root,
    XDG_DATA_HOME: path.join(root, 'home'),
    XDG_DATA_DIRS: path.join(root, 'sys'),
    PATH: '/usr/bin:/bin',
  };
  delete env.DISPLAY;
  const sentence = 'open nebula viewer 421';

  const cold = await timeMs(() => answerSentence(sentence, { env }));
  if (cold.result.lines[0].title !== 'Opened Nebula Viewer 421') throw new Error(`unexpected answer ${JSON.stringify(cold.result)}`);
  const appCount = (await applications(env)).apps.length;
  // The cache's share of the heap: with the list, then with it replaced by
  // an empty one (the code the first request compiled stays in both).
  gc();
  const heapWith = process.memoryUsage().heapUsed;
  await mkdir(path.join(root, 'empty'));
  await applications({ ...env, XDG_DATA_HOME: path.join(root, 'empty'), XDG_DATA_DIRS: path.join(root, 'empty') });
  gc();
  const heapWithout = process.memoryUsage().heapUsed;
  await answerSentence(sentence, { env });

  const rescans = [];
  for (let i = 0; i < 20; i += 1) {
    const now = new Date(Date.now() + i * 1000);
    await utimes(path.join(root, 'sys', 'applications', 'group3'), now, now);
    rescans.push((await timeMs(() => answerSentence(sentence, { env }))).ms);
  }

  const warmOpen = [];
  const warmResolve = [];
  const warmMiss = [];
  for (let i = 0; i < REQUESTS; i += 1) {
    warmOpen.push((await timeMs(() => answerSentence(sentence, { env }))).ms);
    warmResolve.push((await timeMs(async () => rank('nebula viewr 421', (await applications(env)).apps))).ms);
    if (i % 10 === 0) warmMiss.push((await timeMs(() => answerSentence('open zqxw jjjj', { env }))).ms);
  }

  const p50 = [...warmResolve].sort((a, b) => a - b)[Math.floor(warmResolve.length / 2)];
  console.log(`open_app: ${appCount} applications from ${ENTRIES} desktop entries, ${REQUESTS} warm requests`);
  console.log(`  cold (first request, reads every entry): ${cold.ms.toFixed(1)} ms`);
  console.log(`  re-read after a folder changed:          ${stats(rescans).text}`);
  console.log(`  warm, find the application (typo):       ${stats(warmResolve).text}`);
  console.log(`  warm, "open X" incl. starting it:        ${stats(warmOpen).text}`);
  console.log(`  warm, "open X" matching nothing:         ${stats(warmMiss).text}`);
  console.log(`  heap of the cached list:                 ${((heapWith - heapWithout) / 1024).toFixed(0)} KiB`);
  console.log(`  target: warm lookup <= ${TARGET_WARM_MS} ms: ${p50 <= TARGET_WARM_MS ? 'met' : 'MISSED'}`);
} finally {
  await rm(root, { recursive: true, force: true });
}
