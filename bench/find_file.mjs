#!/usr/bin/env node
// Finding a file by name in a home of generated files (100,000 by default):
// the index's build time and heap, warm "find X" requests through the
// router as the daemon calls it, and what a settings request costs beyond
// its tool's own time (with a stand-in wpctl).
//
//   node bench/find_file.mjs [files] [requests]

import { mkdtemp, mkdir, writeFile, rm } from 'node:fs/promises';
import { closeSync, openSync } from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { answerSentence } from '../agent/ostrel/router.mjs';
import { fileIndex } from '../agent/ostrel/skills/files.mjs';
import { FileIndex } from '../agent/ostrel/file-index.mjs';
import { runProgram } from '../agent/ostrel/run.mjs';
import { gc, stats, timeMs } from './timing.mjs';

const FILES = Math.max(1000, Math.min(1000000, Number(process.argv[2]) || 100000));
const REQUESTS = Math.max(10, Math.min(10000, Number(process.argv[3]) || 200));
const PER_FOLDER = 50;
const TARGET_WARM_MS = 20;
const TARGET_SETTINGS_MS = 50;

const WORDS = ['report', 'invoice', 'photo', 'notes', 'draft', 'budget', 'letter', 'scan', 'holiday', 'project',
  'meeting', 'summary', 'receipt', 'contract', 'slides', 'backup', 'recipe', 'thesis', 'chapter', 'track'];
const EXTS = ['.pdf', '.odt', '.jpg', '.png', '.txt', '.ods', '.mp3', '.md', '.docx', '.zip'];
const TOPS = ['Documents', 'Pictures', 'Music', 'Downloads', 'Videos', 'Desktop', 'projects', 'archive'];

function nameOf(n) {
  const f = Math.floor(n / PER_FOLDER);
  return `${WORDS[n % WORDS.length]} ${WORDS[(n * 3 + f) % WORDS.length]} ${n}${EXTS[n % EXTS.length]}`;
}

const root = await mkdtemp(path.join(os.tmpdir(), 'ostrel-bench-files-'));
try {
  const home = path.join(root, 'home');
  // Folders three deep under the usual top folders, PER_FOLDER files each,
  // plus hidden and cache trees the index must not pay for.
  const started = Date.now();
  for (let f = 0; f * PER_FOLDER < FILES; f += 1) {
    const dir = path.join(home, TOPS[f % TOPS.length], `${WORDS[(f * 7) % WORDS.length]}-${f % 97}`, `set ${f}`);
    await mkdir(dir, { recursive: true });
    for (let i = 0; i < PER_FOLDER && f * PER_FOLDER + i < FILES; i += 1) {
      closeSync(openSync(path.join(dir, nameOf(f * PER_FOLDER + i)), 'w'));
    }
  }
  for (const skipped of ['.cache/thumbnails', 'projects/app/node_modules/lib', '.local/share/Trash/files']) {
    await mkdir(path.join(home, skipped), { recursive: true });
    for (let i = 0; i < 2000; i += 1) closeSync(openSync(path.join(home, skipped, `report ${i}.js`), 'w'));
  }
  const unique = `quarterly-forecast-${FILES - 7}.ods`;
  await writeFile(path.join(home, 'Documents', unique), '');
  console.log(`generated ${FILES} files in ${Date.now() - started} ms (${root})`);

  const bin = path.join(root, 'bin');
  await mkdir(bin);
  await writeFile(path.join(bin, 'wpctl'), "#!/bin/sh\ncase \"$1\" in get-volume) echo 'Volume: 0.40';; esac\n", { mode: 0o755 });
  const env = { ...process.env, HOME: home, PATH: `${bin}:/usr/bin:/bin`, XDG_DATA_HOME: path.join(root, 'data'), XDG_DATA_DIRS: path.join(root, 'data') };
  delete env.DISPLAY;
  delete env.XDG_CONFIG_HOME;

  // The index on its own: build time and the heap it holds.
  gc();
  const heapBefore = process.memoryUsage().heapUsed;
  const build = await timeMs(async () => {
    const index = new FileIndex([home]);
    await index.ready;
    return index;
  });
  gc();
  const heapIndex = process.memoryUsage().heapUsed - heapBefore;
  const built = build.result;
  console.log(`index build: ${build.ms.toFixed(0)} ms for ${built.count} names in ${built.folders.size} folders (one inotify watch each), `
    + `heap ${(heapIndex / 1048576).toFixed(1)} MiB${built.truncated ? ', truncated' : ''}`);
  built.close();

  // The daemon's own index, built by the first request.
  const cold = await timeMs(() => answerSentence(`find ${unique}`, { env }));
  await fileIndex(env).ready;
  console.log(`first request: ${cold.ms.toFixed(0)} ms (answers from a partial index after 1.5 s)`);

  const queries = [
    [`find ${unique}`, unique],
    ['find quarterly forecast', unique],
    [`where is ${nameOf(4211).replace(/\.\w+$/, '')}`, nameOf(4211)],
    ['find report', null],
    ['find zebra crossing', 'No file called "zebra crossing"'],
    ['find forcast', null],
    ['open the file zzqx', 'No file called "zzqx"'],
  ];
  let worst = 0;
  for (const [sentence, title] of queries) {
    const samples = [];
    let last;
    for (let i = 0; i < REQUESTS; i += 1) {
      const t = await timeMs(() => answerSentence(sentence, { env }));
      samples.push(t.ms);
      last = t.result;
    }
    if (title && last.lines[0].title !== title) throw new Error(`${sentence}: unexpected ${JSON.stringify(last.lines[0])}`);
    const s = stats(samples, 2);
    worst = Math.max(worst, s.p50);
    console.log(`warm "${sentence}": ${s.text} (${last.lines.length} rows, first ${JSON.stringify(last.lines[0].title)})`);
  }

  // A settings request against the tool's own time for the same two calls.
  const wpctl = path.join(bin, 'wpctl');
  const tool = [];
  const ask = [];
  for (let i = 0; i < Math.min(REQUESTS, 100); i += 1) {
    tool.push((await timeMs(async () => {
      await runProgram(wpctl, ['get-volume', '@DEFAULT_AUDIO_SINK@'], { env });
      await runProgram(wpctl, ['set-volume', '@DEFAULT_AUDIO_SINK@', '50%'], { env });
    })).ms);
    ask.push((await timeMs(() => answerSentence('volume up', { env }))).ms);
  }
  const toolStats = stats(tool, 2);
  const askStats = stats(ask, 2);
  const overhead = askStats.p50 - toolStats.p50;
  console.log(`"volume up": ${askStats.text}; the tool's two runs alone ${toolStats.text}; beyond the tool ${overhead.toFixed(2)} ms (p50)`);

  console.log(`targets: warm find ≤ ${TARGET_WARM_MS} ms (worst p50 ${worst.toFixed(2)} ms: ${worst <= TARGET_WARM_MS ? 'met' : 'MISSED'}), `
    + `settings ≤ ${TARGET_SETTINGS_MS} ms beyond the tool (${overhead <= TARGET_SETTINGS_MS ? 'met' : 'MISSED'})`);
} finally {
  await rm(root, { recursive: true, force: true });
}
