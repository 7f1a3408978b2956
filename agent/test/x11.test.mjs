// Window skills against a real X server and window manager, which they move
// windows on: OSTREL_AGENT_X11=1 tests/xvfb-session.sh node --test agent/test/x11.test.mjs

import { describe, it, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFile, spawn } from 'node:child_process';
import { waitFor } from '../testkit/daemon.mjs';
import { answerSentence } from '../ostrel/router.mjs';

const run = (program, args) => new Promise((resolve, reject) => {
  execFile(program, args, { timeout: 10000 }, (err, stdout, stderr) => (err ? reject(new Error(`${program}: ${stderr || err.message}`)) : resolve(stdout)));
});
const ask = async (sentence) => (await answerSentence(sentence, { env: process.env })).lines.map((l) => [l.title, l.subtitle]);
const numbers = (text) => /=\s*(.*)$/m.exec(text)[1].split(',').map(Number);
const root = async (prop) => Number(/(?:= |window id # )(0x[0-9a-f]+|\d+)/.exec(await run('xprop', ['-root', prop]))?.[1]);
const activate = (id) => run('xdotool', ['windowactivate', '--sync', id]);
const maximized = async (id) => /MAXIMIZED_VERT.*MAXIMIZED_HORZ|MAXIMIZED_HORZ.*MAXIMIZED_VERT/.test(await run('xprop', ['-id', id, '_NET_WM_STATE']));

async function frame(id) {
  const info = await run('xwininfo', ['-id', id]);
  const field = (label) => Number(new RegExp(`${label}:\\s*(-?\\d+)`).exec(info)[1]);
  const [left, right, top, bottom] = numbers(await run('xprop', ['-id', id, '-notype', '_NET_FRAME_EXTENTS']));
  return [field('Absolute upper-left X') - left, field('Absolute upper-left Y') - top, field('Width') + left + right, field('Height') + top + bottom];
}

describe('window skills on a real X server', { skip: process.env.OSTREL_AGENT_X11 !== '1' && 'moves windows; runs under tests/xvfb-session.sh (ctest -R agent_x11)' }, () => {
  const clients = [];
  const windows = {};
  after(() => clients.forEach((child) => child.kill()));

  async function open(name, title) {
    clients.push(spawn('xmessage', ['-name', name, '-title', title, title], { stdio: 'ignore' }));
    return waitFor(async () => {
      const found = (await run('xdotool', ['search', '--classname', `^${name}$`]).catch(() => '')).trim().split('\n')[0];
      const hex = found && `0x${Number(found).toString(16)}`;
      return hex && (await run('xprop', ['-root', '_NET_CLIENT_LIST'])).split(/[\s,]+/).includes(hex) && hex;
    }, `window ${name}`);
  }

  it('lists windows and moves the one beneath the palette panel, never the panel', async () => {
    assert.deepEqual([...await ask('what apps are open'), ...await ask('left half')],
      [['No windows are open', 'nothing but the desktop'], ['No window to move', 'open a window first']]);
    const [notes, editor, panel] = [windows.notes, windows.editor] = [await open('notes', 'Shopping list'), await open('editor', 'Editor'), await open('ostrel', 'Ostrel panel')];
    await run('xdotool', ['set_window', '--name', 'Café "menu"\nsecond line\u202e', editor]);
    assert.deepEqual((await ask('which apps are running')).sort(), [['Café "menu" second line', 'Xmessage'], ['Shopping list', 'Xmessage']]);

    const [ax, ay, aw, ah] = numbers(await run('xprop', ['-root', '-notype', '_NET_WORKAREA']));
    const [half, halfH] = [Math.floor(aw / 2), Math.floor(ah / 2)];
    const panelBefore = await frame(panel);
    // A maximized window has thinner decorations; the half must still be exact once it is restored.
    const steps = [
      [[notes, panel], 'move the window to the left half', ['Moved Shopping list', 'to the left half'], notes, [ax, ay, half, ah]],
      [[editor], 'top half', ['Moved Café "menu" second line', 'to the top half'], editor, [ax, ay, aw, halfH]],
      [[], 'bottom half', ['Moved Café "menu" second line', 'to the bottom half'], editor, [ax, ay + halfH, aw, ah - halfH]],
      [[notes], 'maximise', ['Maximized Shopping list', 'to fill the screen'], notes, null],
      [[], 'right half', ['Moved Shopping list', 'to the right half'], notes, [ax + half, ay, aw - half, ah]],
    ];
    for (const [active, sentence, answer, id, want] of steps) {
      for (const other of active) await activate(other);
      assert.deepEqual(await ask(sentence), [answer], sentence);
      await waitFor(async () => (want ? JSON.stringify(await frame(id)) === JSON.stringify(want) : maximized(id)), sentence);
    }
    assert.deepEqual([await frame(panel), await maximized(notes)], [panelBefore, false]);
    assert.deepEqual(await ask('center the window'), [['Moved Shopping list', 'to the center']]);
    await waitFor(async () => {
      const [x, y, w, h] = await frame(notes);
      return Math.abs(x + w / 2 - (ax + aw / 2)) <= 1 && Math.abs(y + h / 2 - (ay + ah / 2)) <= 1 && w < aw;
    }, 'a centered window');
  });

  it('switches to the window named by title or class, on its desktop, never the panel', async () => {
    const { notes, editor } = windows;
    const panel = await open('ostrel', 'Shopping');
    await run('xdotool', ['set_window', '--class', 'Ostrel', panel]);
    await run('xdotool', ['set_window', '--name', 'Editor', editor]);
    const isActive = (id) => async () => (await root('_NET_ACTIVE_WINDOW')) === Number(id);
    // The panel's title matches "shopping" better than the list does.
    const cases = [
      ['switch to shopping', notes, 'Switched to Shopping list'], ['go to Editor', editor, 'Switched to Editor'],
      ['show shoping lst', notes, 'Switched to Shopping list'], ['focus the editor window', editor, 'Switched to Editor'],
      ['switch to notes', notes, 'Switched to Shopping list'], ['switch to ostrel', null, 'No window matches "ostrel"'],
      ['go to the moon', null, 'No window matches "moon"'],
    ];
    for (const [sentence, target, title] of cases) {
      await activate(panel);
      assert.equal((await ask(sentence))[0][0], title, sentence);
      if (target) await waitFor(isActive(target), `${title} active after "${sentence}"`);
    }
    for (const args of [['-n', '2'], ['-i', '-r', editor, '-t', '1'], ['-s', '0']]) await run('wmctrl', args);
    await waitFor(async () => (await root('_NET_CURRENT_DESKTOP')) === 0, 'desktop 0');
    assert.equal((await ask('switch to editor'))[0][0], 'Switched to Editor');
    await waitFor(async () => (await root('_NET_CURRENT_DESKTOP')) === 1 && (await isActive(editor)()), 'the editor on desktop 1');
  });
});
