// Window skills on a Wayland session: against a real headless sway, which
// they focus windows on (OSTREL_AGENT_WAYLAND=1 tests/wayland/sway-session.sh
// WLKEYS node --test agent/test/wayland.test.mjs), against a stand-in KWin on
// a private session bus that runs the scripts it is given, and against trees
// and sessions that give them nothing to work with.

import { describe, it, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFile, spawn, spawnSync } from 'node:child_process';
import { randomUUID } from 'node:crypto';
import { readFileSync } from 'node:fs';
import vm from 'node:vm';
import { privateBusConfig, waitFor } from '../testkit/daemon.mjs';
import { answerSentence } from '../ostrel/router.mjs';
import { swayViews } from '../ostrel/wayland.mjs';
import { connect, ERROR, METHOD_CALL, METHOD_RETURN } from '../ostrel/dbus.mjs';

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

describe('window skills through KWin', { skip: spawnSync('dbus-daemon', ['--version']).error && 'dbus-daemon is missing (scripts/install-deps.sh --test)' }, () => {
  const daemon = spawn('dbus-daemon', [`--config-file=${privateBusConfig}`, '--nofork', '--nopidfile', '--print-address=1'], { stdio: ['ignore', 'pipe', 'ignore'] });
  after(() => { kwin?.close(); daemon.kill(); });
  let kwin;
  let address = '';
  const kwinState = { mode: 'ok', clients: [], loaded: new Map(), activated: null };
  const bus = (member, signature = '', body = []) => kwin.call({ destination: 'org.freedesktop.DBus', path: '/org/freedesktop/DBus', interface: 'org.freedesktop.DBus', member, signature, body });
  // Runs what it is given against canned clients, with KWin 5.27's workspace (clientList, activeClient) and its
  // scripts at /N in 'legacy' mode, KWin 6's /Scripting/ScriptN otherwise; or fails in the ways a KWin can.
  const serve = (m) => {
    const { mode, loaded } = kwinState;
    const reply = (signature = '', body = []) => kwin.send({ type: METHOD_RETURN, replySerial: m.serial, destination: m.sender, signature, body });
    if (m.member === 'loadScript') {
      loaded.set(m.body[1], readFileSync(m.body[0], 'utf8'));
      if (mode !== 'hang') reply('i', [mode === 'refuse' ? -1 : loaded.size + 40]);
    } else if (m.member === 'unloadScript') reply('b', [loaded.delete(m.body[0])]);
    else if (m.member === 'run' && m.path === (mode === 'legacy' ? '/41' : '/Scripting/Script41')) {
      reply();
      if (mode === 'silent') return;
      const callDBus = (destination, path, iface, member, ...args) => kwin.send({ type: METHOD_CALL, destination, path, interface: iface, member,
        signature: 'ss', body: [args[0], { garbage: '{"windows": [', flood: 'x'.repeat(1.5 * 2 ** 20) }[mode] ?? args[1]] });
      const workspace = { clientList: () => kwinState.clients, set activeClient(c) { kwinState.activated = c.caption; } };
      vm.runInNewContext([...loaded.values()][0], { workspace, callDBus });
    } else if (m.type === METHOD_CALL) kwin.send({ type: ERROR, replySerial: m.serial, destination: m.sender, errorName: 'org.freedesktop.DBus.Error.UnknownObject' });
  };
  const client = (caption, resourceClass, extra) => ({ internalId: `{${randomUUID()}}`, caption, resourceClass, resourceName: resourceClass.split('.').pop(), normalWindow: true, dialog: false, ...extra });
  const desk = [client('Notes — "draft" ✍️\nline 2', 'org.kde.kate', { minimized: true }), client('Konsole', 'org.kde.konsole'), client('Save file', 'org.kde.kate', { normalWindow: false, dialog: true }),
    client('Panel', 'org.kde.plasmashell', { normalWindow: false, dock: true }), client('Ostrel', 'ostrel')];
  const many = Array.from({ length: 500 }, (_, i) => client(`tab ${i}`, 'firefox'));
  const kde = { XDG_CURRENT_DESKTOP: 'KDE' };
  const listed = [['Notes — "draft" ✍️ line 2', 'org.kde.kate'], ['Konsole', 'org.kde.konsole'], ['Save file', 'org.kde.kate']];
  const late = [['KWin did not answer', 'no reply within 2 seconds']];
  const cases = [ // mode, clients, environment, sentence, rows, activated window
    ['ok', desk, kde, 'what apps are open', listed, null], ['ok', desk, {}, 'switch to konsole', [['Switched to Konsole', 'org.kde.konsole']], 'Konsole'],
    ['legacy', desk, kde, 'switch to the draft', [['Switched to Notes — "draft" ✍️ line 2', 'org.kde.kate']], desk[0].caption],
    ['ok', many, kde, 'what apps are open', [...many.slice(0, 64).map((c) => [c.caption, 'firefox']), ['… and 436 more', 'only the first windows are listed']], null],
    ['refuse', desk, kde, 'what apps are open', [['KWin refused the window script', 'loadScript answered -1']], null],
    ['hang', desk, kde, 'what apps are open', late, null], ['silent', desk, kde, 'switch to konsole', late, null], ['flood', desk, kde, 'what apps are open', late, null],
    ['garbage', desk, kde, 'what apps are open', [["Can't read KWin's windows", 'its window script sent no valid window list']], null],
    ['absent', desk, kde, 'what apps are open', [["Can't reach KWin", 'KWin is not on the session bus']], null],
    ['absent', desk, {}, 'switch to konsole', [["Can't see this desktop's windows", 'this Wayland desktop does not let applications list its windows']], null],
  ];

  it('lists and activates windows by running scripts in KWin, answering for any KWin within the deadline and leaving nothing loaded', { timeout: 60000 }, async () => {
    daemon.stdout.setEncoding('utf8').on('data', (text) => { address += text; });
    await waitFor(() => address.includes('\n'), 'the bus address');
    kwin = await connect(address.trim());
    kwin.onMessage(serve);
    for (const [mode, clients, extra, sentence, rows, activated] of cases) {
      Object.assign(kwinState, { mode, clients, activated: null });
      await bus(mode === 'absent' ? 'ReleaseName' : 'RequestName', mode === 'absent' ? 's' : 'su', mode === 'absent' ? ['org.kde.KWin'] : ['org.kde.KWin', 4]);
      const started = Date.now();
      const env = { PATH: process.env.PATH, WAYLAND_DISPLAY: 'wayland-0', DBUS_SESSION_BUS_ADDRESS: address.trim(), ...extra };
      assert.deepEqual(await ask(sentence, env), rows, `${mode}: ${sentence}`);
      assert.ok(Date.now() - started < 4000, `${mode}: answered late`);
      assert.equal(kwinState.activated, activated, mode);
      assert.deepEqual([...kwinState.loaded.keys()], [], `${mode}: a script stays loaded`);
      await waitFor(async () => (await bus('ListNames'))[0].filter((name) => name.startsWith(':')).length === 1, `${mode}: the agent to leave the bus`);
    }
  });
});
