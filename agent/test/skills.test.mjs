// The skills that read the machine: the battery from a fake power-supply
// tree, and the window skills when X11 or its helpers fail.

import { it } from 'node:test';
import assert from 'node:assert/strict';
import { chmod, mkdir, readdir, readFile, writeFile } from 'node:fs/promises';
import path from 'node:path';
import { tempDir, removeDir, childEnv } from '../testkit/daemon.mjs';
import { answerSentence } from '../ostrel/router.mjs';

const rows = async (sentence, env) => (await answerSentence(sentence, { env })).lines.map((l) => [l.title, l.subtitle]);

// Writes dir/name/file = text for each entry of tree (name -> file -> text).
async function plant(dir, tree) {
  for (const [name, files] of Object.entries(tree)) {
    await mkdir(path.join(dir, name), { recursive: true });
    for (const [file, text] of Object.entries(files)) await writeFile(path.join(dir, name, file), `${text}\n`, { mode: 0o755 });
  }
  return dir;
}

it('reports every battery in the power-supply tree', async () => {
  const cases = [
    [{ AC: { type: 'Mains' }, BAT0: { type: 'Battery', capacity: '87', status: 'Discharging', energy_now: '30000000', energy_full: '50000000', power_now: '12000000' } },
      [['Battery 87%', 'Discharging · 2 h 30 min left']]],
    [{ BAT1: { type: 'Battery', capacity: '50', status: 'Charging', charge_now: '2000000', charge_full: '4000000', current_now: '1000000' } },
      [['Battery 50%', 'Charging · full in 2 h']]],
    [{ BAT0: { type: 'Battery', status: 'Discharging', energy_now: '25', energy_full: '100' }, mouse: { type: 'Battery', scope: 'Device', model_name: 'Trackball', capacity: 'lots' } },
      [['BAT0: 25%', 'Discharging'], ['Trackball: level unknown', 'Unknown']]],
    [{ BAT0: { type: 'Battery', capacity: `55\n${'9'.repeat(1024 * 1024)}`, status: 'Full' } }, [['Battery 55%', 'Full']]],
    [{ AC: { type: 'Mains' } }, [['No battery found', 'this machine runs on mains power']]],
    [null, [['No battery found', 'this machine reports no power supplies']]],
  ];
  for (const [tree, expected] of cases) {
    const dir = await tempDir();
    const supply = tree ? await plant(dir, tree) : path.join(dir, 'none');
    assert.deepEqual(await rows('how is my battery', { OSTREL_AGENT_POWER_SUPPLY: supply }), expected, JSON.stringify(tree)?.slice(0, 80));
    await removeDir(dir);
  }
});

it('gives a clear row for each way X11 or its helpers can fail, leaving no helper running', async () => {
  const dir = await tempDir();
  const xprop = (body) => ({ xprop: `#!/bin/sh\nPATH=${process.env.PATH}\n${body}\n` });
  await plant(dir, {
    hang: xprop('exec sleep 60'), flood: xprop('exec yes "_NET_CLIENT_LIST: window id # 0x1, 0x2, 0x3"'),
    crash: xprop('echo "xprop: segfault" >&2; exit 139'), garbage: xprop('head -c 4000 /dev/urandom'),
  });
  const cases = [
    [{ DISPLAY: undefined }, /^No X display$/], [{ DISPLAY: ':0', PATH: dir }, /^xprop is not installed$/],
    [{ DISPLAY: ':0', PATH: path.join(dir, 'hang') }, /did not answer/], [{ DISPLAY: ':0', PATH: path.join(dir, 'flood') }, /too much window data/i],
    [{ DISPLAY: ':0', PATH: path.join(dir, 'crash') }, /^xprop failed$/], [{ DISPLAY: ':0', PATH: path.join(dir, 'garbage') }, /^No window (list|to move)$/],
    [{ DISPLAY: ':4091' }, /can't reach the x display/i],
  ];
  // Live children of this process: a helper must not outlive its request.
  const children = async () => (await Promise.all((await readdir('/proc')).filter((e) => /^\d+$/.test(e)).map(async (pid) => {
    const stat = await readFile(`/proc/${pid}/stat`, 'utf8').catch(() => '');
    const fields = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
    return Number(fields[1]) === process.pid && fields[0] !== 'Z' ? [pid] : [];
  }))).flat();
  for (const [env, title] of cases) {
    for (const sentence of ['what apps are open', 'left half']) {
      const got = await rows(sentence, childEnv(env));
      assert.ok(got.length === 1 && title.test(got[0][0]), `${JSON.stringify(env)}: ${sentence} → ${JSON.stringify(got)}`);
    }
    assert.deepEqual(await children(), [], `${JSON.stringify(env)} left a helper running`);
  }
  await removeDir(dir);
});
