// Window skills on a Wayland session: against a real headless sway, which
// they focus windows on (OSTREL_AGENT_WAYLAND=1 tests/wayland/sway-session.sh
// WLKEYS node --test agent/test/wayland.test.mjs), and against trees and
// sessions that give them nothing to work with.

import { describe, it, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFile, spawn } from 'node:child_process';
import { waitFor } from '../testkit/daemon.mjs';
import { answerSentence } from '../ostrel/router.mjs';
import { swayViews } from '../ostrel/wayland.mjs';

const ask = async (sentence, env) => (await answerSentence(sentence, { env })).lines.map((l) => [l.title, l.subtitle]);

it('reads views out of any tree, never the palette, never throwing', () => {
  const view = (id, extra) => ({ type: 'con', id, name: `w${id}`, nodes: [], ...extra });
  const tree = { type: 'root', nodes: [{ type: 'output', nodes: [{ type: 'workspace', nodes: [
    view(1, { app_id: 'foot', pid: 10 }),
    { type: 'con', id: 2, nodes: [view(3, { window_properties: { class: 'XTerm', instance: 'xterm' } })] },
    view(4, { app_id: 'ostrel' }), view(5, { window_properties: { class: 'Ostrel', instance: 'ostrel' } }),
    view(6, {}), view('7', { app_id: 'bad-id' }),
  ], floating_nodes: [{ type: 'floating_con', id: 8, name: null, app_id: 'pavucontrol', nodes: [] }] }] }] };
  assert.deepEqual(swayViews(tree).map((v) => [v.conId, v.title, v.appId]),
    [[1, 'w1', 'foot'], [3, 'w3', 'XTerm'], [8, '', 'pavucontrol']]);
  let deep = view(99, { app_id: 'deep' });
  for (let i = 0; i < 1000; ++i) deep = { type: 'con', id: i, nodes: [deep] };
  for (const odd of [null, 'tree', [], { nodes: 'x' }, { nodes: [null, 3, { floating_nodes: {} }] }, deep]) {
    assert.deepEqual(swayViews(odd), [], JSON.stringify(odd)?.slice(0, 40));
  }
});

it('says so where a Wayland desktop keeps its windows to itself', async () => {
  const env = { PATH: process.env.PATH, WAYLAND_DISPLAY: 'wayland-0' };
  for (const sentence of ['what apps are open', 'switch to firefox']) {
    assert.deepEqual(await ask(sentence, env), [["Can't see this desktop's windows", 'this Wayland desktop does not let applications list its windows']]);
  }
  const broken = { ...env, SWAYSOCK: '/nonexistent/sway.sock' };
  assert.equal((await ask('what apps are open', broken))[0][0], "Can't reach sway");
});

describe('window skills on a real sway', { skip: process.env.OSTREL_AGENT_WAYLAND !== '1' && 'focuses windows; runs under tests/wayland/sway-session.sh (ctest -R agent_wayland)' }, () => {
  const clients = [];
  after(() => clients.forEach((child) => child.kill()));
  // Through sway alone: the skills see no X display.
  const env = { PATH: process.env.PATH, WAYLAND_DISPLAY: process.env.WAYLAND_DISPLAY, SWAYSOCK: process.env.SWAYSOCK };
  const sway = (args) => new Promise((resolve, reject) => {
    execFile('swaymsg', args, { timeout: 10000 }, (err, stdout) => (err ? reject(err) : resolve(stdout)));
  });
  const focusedName = async () => swayViews(JSON.parse(await sway(['-t', 'get_tree', '-r']))).find((v) => v.focused)?.title;

  it('lists the windows and switches between them through sway', async () => {
    for (const title of ['shopping list', 'build log']) {
      clients.push(spawn('xmessage', ['-name', title.replace(' ', ''), '-title', title, title], { stdio: 'ignore' }));
    }
    await waitFor(async () => (await ask('what apps are open', env)).length === 2, 'two windows');
    assert.deepEqual((await ask('what apps are open', env)).sort(), [['build log', 'Xmessage'], ['shopping list', 'Xmessage']]);
    // Each in turn, so that one of them moves the focus whichever had it.
    for (const title of ['shopping list', 'build log', 'shopping list']) {
      assert.deepEqual(await ask(`switch to ${title}`, env), [[`Switched to ${title}`, 'Xmessage']]);
      assert.equal(await focusedName(), title);
    }
    assert.deepEqual(await ask('switch to the weather', env), [['No window matches "weather"', '2 other windows open']]);
  });
});
