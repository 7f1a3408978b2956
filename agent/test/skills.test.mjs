// Each skill asked through a running daemon, plus the failure paths of the
// X11 helpers (no display, missing, hung or runaway programs) called directly.

import { describe, it, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { mkdir, writeFile, rm, chmod } from 'node:fs/promises';
import path from 'node:path';
import { startDaemon, makeTempDir, removeDir, childEnv, childProcesses } from '../testkit/daemon.mjs';
import { answerSentence } from '../ostrel/router.mjs';

describe('skills through the daemon', () => {
  let daemon;
  let supply;
  before(async () => {
    supply = await makeTempDir('ostrel-power-');
    daemon = await startDaemon({ env: { OSTREL_AGENT_POWER_SUPPLY: supply, DISPLAY: undefined } });
  });
  after(async () => {
    await daemon?.stop();
    await removeDir(supply);
  });

  it('does arithmetic, typed and dictated, and explains what it cannot compute', async () => {
    const cases = [
      ['12*89', '1068', '12 × 89'],
      ['twelve times eighty nine', '1068', '12 × 89'],
      ['what is two plus two', '4', '2 + 2'],
      ['five divided by four', '1.25', '5 ÷ 4'],
      ['ten to the power of three', '1000', '10 ^ 3'],
      ['seven point five minus two', '5.5', '7.5 − 2'],
      ['0.1+0.2', '0.3', '0.1 + 0.2'],
      ['17 % 5', '2', '17 mod 5'],
      ['12**', "Can't calculate that", /missing a number/i],
      ['(3+', "Can't calculate that", /missing a number/i],
      ['1/0', "Can't calculate that", /divide by zero/i],
      ['10^999', "Can't calculate that", /too large/i],
      [`${'1+'.repeat(400)}1`, "Can't calculate that", /too long/i],
    ];
    for (const [sentence, title, subtitle] of cases) {
      const doc = await daemon.ask(sentence);
      assert.equal(doc.keepOpen, false);
      assert.equal(doc.lines.length, 1, sentence);
      assert.equal(doc.lines[0].title, title, sentence);
      if (subtitle instanceof RegExp) assert.match(doc.lines[0].subtitle, subtitle, sentence);
      else assert.equal(doc.lines[0].subtitle, subtitle, sentence);
    }
  });

  it('falls back with a row naming what it can do', async () => {
    for (const sentence of ['', '   ', 'open firefox', 'what is the weather', 'ø∑´®†¥', 'x'.repeat(5000)]) {
      const doc = await daemon.ask(sentence);
      assert.equal(doc.lines.length, 1, sentence);
      assert.match(doc.lines[0].title, /can't do that yet|too long/i, sentence);
      if (sentence.length < 100) assert.match(doc.lines[0].subtitle, /maths.*apps.*left half.*battery.*timer/);
    }
  });

  async function fakeSupply(entries) {
    await rm(supply, { recursive: true, force: true });
    await mkdir(supply, { recursive: true });
    for (const [name, files] of Object.entries(entries)) {
      await mkdir(path.join(supply, name));
      for (const [file, content] of Object.entries(files)) await writeFile(path.join(supply, name, file), content);
    }
  }

  it('reports every battery in the power-supply tree', async () => {
    const cases = [
      {
        name: 'one discharging battery with an energy estimate',
        tree: {
          AC: { type: 'Mains\n', online: '0\n' },
          BAT0: { type: 'Battery\n', capacity: '87\n', status: 'Discharging\n', energy_now: '30000000\n', energy_full: '50000000\n', power_now: '12000000\n' },
        },
        rows: [['Battery 87%', 'Discharging · 2 h 30 min left']],
      },
      {
        name: 'charging, estimated from charge and current',
        tree: { BAT1: { type: 'Battery\n', capacity: '50\n', status: 'Charging\n', charge_now: '2000000\n', charge_full: '4000000\n', current_now: '1000000\n' } },
        rows: [['Battery 50%', 'Charging · full in 2 h']],
      },
      {
        name: 'two batteries are named',
        tree: {
          BAT0: { type: 'Battery\n', capacity: '100\n', status: 'Full\n' },
          BAT1: { type: 'Battery\n', capacity: '12\n', status: 'Not charging\n' },
        },
        rows: [['BAT0: 100%', 'Full'], ['BAT1: 12%', 'Not charging']],
      },
      {
        name: 'capacity derived from energy when missing',
        tree: { BAT0: { type: 'Battery\n', status: 'Discharging\n', energy_now: '25\n', energy_full: '100\n' } },
        rows: [['Battery 25%', 'Discharging']],
      },
      {
        name: 'unreadable values',
        tree: { BAT0: { type: 'Battery\n', capacity: 'lots\n' } },
        rows: [['Battery level unknown', 'Unknown']],
      },
      {
        name: 'a peripheral battery uses its model name',
        tree: {
          BAT0: { type: 'Battery\n', capacity: '70\n', status: 'Discharging\n' },
          hid_mouse: { type: 'Battery\n', scope: 'Device\n', model_name: 'Trackball\n', capacity: '40\n', status: 'Discharging\n' },
        },
        rows: [['BAT0: 70%', 'Discharging'], ['Trackball: 40%', 'Discharging']],
      },
      {
        name: 'an oversized attribute is read only in part',
        tree: { BAT0: { type: 'Battery\n', capacity: `55\n${'9'.repeat(1024 * 1024)}`, status: `Discharging\n${'z'.repeat(100000)}` } },
        rows: [['Battery 55%', 'Discharging']],
      },
      { name: 'mains only', tree: { AC: { type: 'Mains\n', online: '1\n' } }, rows: [['No battery found', /mains/]] },
      { name: 'empty tree', tree: {}, rows: [['No battery found', /mains/]] },
    ];
    for (const c of cases) {
      await fakeSupply(c.tree);
      const doc = await daemon.ask('how is my battery');
      assert.equal(doc.lines.length, c.rows.length, c.name);
      c.rows.forEach(([title, subtitle], i) => {
        assert.equal(doc.lines[i].title, title, c.name);
        if (subtitle instanceof RegExp) assert.match(doc.lines[i].subtitle, subtitle, c.name);
        else assert.equal(doc.lines[i].subtitle, subtitle, c.name);
      });
    }
    await rm(supply, { recursive: true, force: true });
    const none = await daemon.ask('battery status');
    assert.equal(none.lines[0].title, 'No battery found');
  });

  it('says there is no display for window requests when DISPLAY is unset', async () => {
    const sentences = [
      'what apps are open', 'which apps are running', 'list windows', 'show me the open apps', 'what windows are open',
      'left half', 'move the window to the right half', 'top half', 'bottom half', 'maximize', 'center',
    ];
    for (const sentence of sentences) {
      const doc = await daemon.ask(sentence);
      assert.equal(doc.lines.length, 1, sentence);
      assert.equal(doc.lines[0].title, 'No X display', sentence);
    }
  });
});

describe('window skills when the helpers fail', () => {
  const systemPath = process.env.PATH ?? '/usr/bin:/bin';
  let bin;
  before(async () => {
    bin = await makeTempDir('ostrel-bin-');
    const scripts = {
      'hang/xprop': '#!/bin/sh\nexec sleep 60\n',
      'flood/xprop': '#!/bin/sh\nexec yes "_NET_CLIENT_LIST: window id # 0x1, 0x2, 0x3"\n',
      'crash/xprop': '#!/bin/sh\necho "xprop: segfault" >&2\nexit 139\n',
      'garbage/xprop': '#!/bin/sh\nhead -c 4000 /dev/urandom\n',
    };
    for (const [name, text] of Object.entries(scripts)) {
      await mkdir(path.join(bin, path.dirname(name)), { recursive: true });
      // The scripts run with PATH pointing at their own folder only.
      await writeFile(path.join(bin, name), text.replace('\n', `\nPATH=${systemPath}\n`));
      await chmod(path.join(bin, name), 0o755);
    }
    await mkdir(path.join(bin, 'empty'));
  });
  after(async () => { await removeDir(bin); });

  it('gives a clear row for each way the X11 helpers can fail', async () => {
    const cases = [
      { name: 'program missing', env: { DISPLAY: ':0', PATH: '' }, title: /xprop is not installed/ },
      { name: 'program hangs', env: { DISPLAY: ':0', PATH: 'hang' }, title: /did not answer/ },
      { name: 'endless output', env: { DISPLAY: ':0', PATH: 'flood' }, title: /too much window data/i },
      { name: 'program crashes', env: { DISPLAY: ':0', PATH: 'crash' }, title: /xprop failed/ },
      { name: 'garbage output', env: { DISPLAY: ':0', PATH: 'garbage' }, title: /no window list|no window to move/i },
      { name: 'display unreachable', env: { DISPLAY: ':4091', PATH: systemPath }, title: /can't reach the x display|not installed/i },
    ];
    for (const c of cases) {
      const PATH = c.env.PATH === '' ? path.join(bin, 'empty')
        : c.env.PATH === systemPath ? systemPath : path.join(bin, c.env.PATH);
      const env = childEnv({ ...c.env, PATH });
      for (const sentence of ['what apps are open', 'left half']) {
        const doc = await answerSentence(sentence, { env });
        assert.equal(doc.lines.length, 1, `${c.name}: ${sentence}`);
        assert.match(doc.lines[0].title, c.title, `${c.name}: ${sentence} → ${JSON.stringify(doc)}`);
      }
      assert.deepEqual(await childProcesses(), [], `${c.name} left a helper running`);
    }
  });
});
