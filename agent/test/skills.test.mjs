// The skills that read the machine: the battery from a fake
// power-supply tree, and the window skills when X11 or its helpers fail.

import { describe, it, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { chmod, mkdir, readdir, readFile, rm, writeFile } from 'node:fs/promises';
import path from 'node:path';
import { tempDir, removeDir, childEnv } from '../testkit/daemon.mjs';
import { answerSentence } from '../ostrel/router.mjs';

const rows = (doc) => doc.lines.map((l) => [l.title, l.subtitle]);

// Live children of this process, to catch a helper outliving its request.
async function children() {
  const found = [];
  for (const entry of (await readdir('/proc')).filter((e) => /^\d+$/.test(e))) {
    const stat = await readFile(`/proc/${entry}/stat`, 'utf8').catch(() => '');
    const fields = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
    if (Number(fields[1]) === process.pid && fields[0] !== 'Z') found.push(entry);
  }
  return found;
}

describe('skills', () => {
  let dir;
  before(async () => { dir = await tempDir(); });
  after(() => removeDir(dir));

  it('reports every battery in the power-supply tree', async () => {
    const supply = path.join(dir, 'power');
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
      await rm(supply, { recursive: true, force: true });
      for (const [name, files] of Object.entries(tree ?? {})) {
        await mkdir(path.join(supply, name), { recursive: true });
        for (const [file, text] of Object.entries(files)) await writeFile(path.join(supply, name, file), `${text}\n`);
      }
      const doc = await answerSentence('how is my battery', { env: { OSTREL_AGENT_POWER_SUPPLY: supply } });
      assert.deepEqual(rows(doc), expected, JSON.stringify(tree)?.slice(0, 80));
    }
  });

  it('gives a clear row for each way X11 or its helpers can fail, leaving no helper running', async () => {
    const systemPath = process.env.PATH;
    const scripts = {
      hang: 'exec sleep 60',
      flood: 'exec yes "_NET_CLIENT_LIST: window id # 0x1, 0x2, 0x3"',
      crash: 'echo "xprop: segfault" >&2; exit 139',
      garbage: 'head -c 4000 /dev/urandom',
    };
    for (const [name, body] of Object.entries(scripts)) {
      await mkdir(path.join(dir, name));
      await writeFile(path.join(dir, name, 'xprop'), `#!/bin/sh\nPATH=${systemPath}\n${body}\n`);
      await chmod(path.join(dir, name, 'xprop'), 0o755);
    }
    const cases = [
      [{ DISPLAY: undefined }, /^No X display$/],
      [{ DISPLAY: ':0', PATH: dir }, /^xprop is not installed$/],
      [{ DISPLAY: ':0', PATH: path.join(dir, 'hang') }, /did not answer/],
      [{ DISPLAY: ':0', PATH: path.join(dir, 'flood') }, /too much window data/i],
      [{ DISPLAY: ':0', PATH: path.join(dir, 'crash') }, /^xprop failed$/],
      [{ DISPLAY: ':0', PATH: path.join(dir, 'garbage') }, /^No window (list|to move)$/],
      [{ DISPLAY: ':4091' }, /can't reach the x display/i],
    ];
    for (const [env, title] of cases) {
      for (const sentence of ['what apps are open', 'left half']) {
        const doc = await answerSentence(sentence, { env: childEnv(env) });
        assert.equal(doc.lines.length, 1, `${env.PATH}: ${sentence}`);
        assert.match(doc.lines[0].title, title, `${JSON.stringify(env)}: ${sentence} → ${JSON.stringify(doc)}`);
      }
      assert.deepEqual(await children(), [], `${JSON.stringify(env)} left a helper running`);
    }
  });
});
