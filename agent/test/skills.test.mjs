// Skills that read the machine, against throw-away desktop entries, power supplies and X11 helpers.

import { describe, it, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { mkdir, writeFile, readFile, readdir, rm, symlink, access } from 'node:fs/promises';
import path from 'node:path';
import { tempDir, removeDir, childEnv, waitFor, plant, rows, AGENT_ROOT } from '../testkit/daemon.mjs';
import { scanApplications, splitExec } from '../ostrel/desktop.mjs';
import { rank } from '../ostrel/match.mjs';
import { pickWindow } from '../ostrel/skills/switch.mjs';

// The first of a repeated key counts, so Type and Exec here are defaults.
const entry = (keys) => `# test entry\n[Desktop Entry]\n${keys}\nType=Application\nExec=recorder\n`;
const REC_ARGS = ['--name=', 'two words', '$(touch PWNED)', 'a;b|c&&d', 'say "hi"', '100%'];

// Folder/file -> keys. Home comes first, then a, then b.
const TREE = {
  'home/shadow': 'Name=Home Shadow', 'home/gone': 'Name=Gone Here\nHidden=true', 'a/gone': 'Name=Gone App',
  'a/rec': 'Name=Recorder\nName[de]=Aufnahme\nName[de_DE]=Rekorder\nGenericName=Test Tool\nKeywords=capture;tape;\n'
    + 'Exec=recorder --name=%c "two words" "$(touch PWNED)" "a;b|c&&d" "say \\\\"hi\\\\"" 100%% %U',
  'a/kde/sub': 'Name=Nested Tool\nExec=recorder nested', 'a/hidden': 'Name=Invisible\nNoDisplay=true',
  'a/kde-only': 'Name=Kde Only\nOnlyShowIn=KDE;', 'a/here-only': 'Name=Test Desktop Only\nOnlyShowIn=KDE;TestDE;',
  'a/not-here': 'Name=Not Here\nNotShowIn=TestDE;', 'a/missing': 'Name=Missing Program\nTryExec=no-such-program-here',
  'a/present': 'Name=Present Program\nTryExec=recorder', 'a/link': 'Name=A Link\nType=Link',
  'a/multi': 'Name=Multi Group\nType=Application\nExec=recorder\n[Desktop Action new]\nName=Action Name',
  'a/console': 'Name=Console Thing\nTerminal=true\nExec=recorder console', 'b/shadow': 'Name=System Shadow', 'b/kde-sub': 'Name=Flat Nested',
  'b/firefox': 'Name=Firefox\nGenericName=Web Browser\nKeywords=Internet;WWW;\nExec=recorder firefox %u',
  'b/firewall': 'Name=Firewall Config', 'b/writer': 'Name=LibreOffice Writer\nExec=recorder writer', 'b/calc': 'Name=LibreOffice Calc',
};

let root;
let env;
const runs = () => path.join(root, 'runs');
const names = (apps) => apps.map((a) => a.name).sort();

before(async () => {
  root = await tempDir('ostrel-apps-');
  for (const [name, keys] of Object.entries(TREE)) await plant(root, { [name.replace('/', '/applications/') + '.desktop']: entry(keys) });
  // Notes its argv, session and open descriptors; the rename means a reader never sees half a record.
  await plant(root, { runs: {}, bin: { recorder: `#!/bin/sh\nout=${runs()}/$$\nls -l /proc/$$/fd > "$out.fds"\npwd > "$out.cwd"\n`
    + `cat /proc/$$/stat > "$out.stat"\nprintf '%s\\0' "$0" "$@" > "$out.tmp"\nmv "$out.tmp" "$out.args"` } });
  env = childEnv({
    HOME: root, XDG_DATA_HOME: path.join(root, 'home'), XDG_DATA_DIRS: `${root}/a:${root}/b:relative/ignored`,
    XDG_CURRENT_DESKTOP: 'GNOME:TestDE', LANG: 'de_DE.UTF-8', LC_ALL: undefined, LC_MESSAGES: undefined,
    PATH: `${path.join(root, 'bin')}:/usr/bin:/bin`,
  });
});
after(async () => { await removeDir(root); });

const unseen = async () => (await readdir(runs())).filter((f) => f.endsWith('.args'));
async function nextRun() {
  const [done] = await waitFor(async () => { const found = await unseen(); return found.length && found; }, 'the launched program');
  const read = (ext) => readFile(path.join(runs(), done.replace('args', ext)), 'utf8');
  const [argv0, ...args] = (await read('args')).split('\0').slice(0, -1);
  await rm(path.join(runs(), done));
  const stat = Number((await read('stat')).split(') ')[1].split(' ')[3]);
  return { pid: Number(done.split('.')[0]), argv0, args, session: stat, fds: await read('fds'), cwd: (await read('cwd')).trim() };
}

// Quotes, escapes, shell syntax and field codes are checked through the Rekorder entry below.
it('splits Exec lines as the desktop entry format quotes them', () => {
  for (const [raw, argv] of [['prog   "" b', ['prog', '', 'b']], ['"unterminated', null], ['%f', null], ['', null]]) assert.deepEqual(splitExec(raw), argv, raw);
});

it('shows entries by folder order, locale, desktop, TryExec and visibility, and ranks names forgivingly', async () => {
  const { apps } = await scanApplications(env);
  assert.deepEqual(names(apps), ['Console Thing', 'Firefox', 'Firewall Config', 'Home Shadow', 'LibreOffice Calc', 'LibreOffice Writer',
    'Multi Group', 'Nested Tool', 'Present Program', 'Rekorder', 'Test Desktop Only']);
  assert.equal(apps.find((a) => a.name === 'Nested Tool').id, 'kde-sub.desktop');
  assert.deepEqual(apps.find((a) => a.name === 'Rekorder').argv, ['recorder', ...REC_ARGS]);
  const variants = [
    [{ LANG: 'de_AT.UTF-8' }, 'Aufnahme', true], [{ LANG: 'C.UTF-8', LC_MESSAGES: 'de_DE' }, 'Rekorder', true],
    [{ LC_ALL: 'fr_FR.UTF-8' }, 'Recorder', true], [{ XDG_CURRENT_DESKTOP: undefined }, 'Not Here', true],
    [{ XDG_CURRENT_DESKTOP: undefined }, 'Test Desktop Only', false], [{ XDG_CURRENT_DESKTOP: 'KDE' }, 'Kde Only', true],
    [{ XDG_DATA_HOME: undefined }, 'System Shadow', true],
  ];
  for (const [change, name, shown] of variants) {
    assert.equal(names((await scanApplications({ ...env, ...change })).apps).includes(name), shown, `${JSON.stringify(change)}: ${name}`);
  }
  const ranked = [
    ['FireFox', ['Firefox']], ['fierfox', ['Firefox']], ['fire', ['Firefox', 'Firewall Config']], ['writer', ['LibreOffice Writer']],
    ['office calc', ['LibreOffice Calc']], ['www', ['Firefox']], ['recorder', ['Rekorder']], ['shadow', ['Home Shadow']],
    ['nested tol', ['Nested Tool']], ['zzzz', []], ['', []],
  ];
  for (const [query, expected] of ranked) assert.deepEqual(names(rank(query, apps).top), expected, query);
});

// Desktop entries as Debian packages install them (translations left out);
// TryExec is dropped so that they show without the programs installed.
it('finds real applications by everyday names, above their helpers and settings, forgiving typos; true ties are listed', async () => {
  const dir = path.join(root, 'real', 'applications');
  await mkdir(dir, { recursive: true });
  const data = path.join(AGENT_ROOT, 'test', 'data', 'applications');
  for (const file of await readdir(data)) {
    await writeFile(path.join(dir, file), (await readFile(path.join(data, file), 'utf8')).replace(/^TryExec=.*\n/m, ''));
  }
  const real = childEnv({ HOME: root, XDG_DATA_HOME: path.join(root, 'none'), XDG_DATA_DIRS: path.join(root, 'real'), XDG_CURRENT_DESKTOP: 'XFCE', LANG: 'C', PATH: path.join(root, 'none') });
  const { apps } = await scanApplications(real);
  const cases = [
    ['a terminal', 'Xfce Terminal'], ['text editor', 'Mousepad'], ['the browser', 'Firefox ESR'], ['web browser', 'Firefox ESR'],
    ['file manager', 'Thunar File Manager'], ['file manager settings', 'File Manager Settings'], ['terminal preferences', 'Xfce Terminal Settings'],
    ['task manager', 'Task Manager'], ['system monitor', 'System Monitor'], ['pdf viewer', 'Document Viewer'], ['a calculator', 'Qalculate!'],
    ['calculater', 'Qalculate!'], ['image viewer', 'Image Viewer'], ['photo editor', 'GNU Image Manipulation Program'],
    ['video player', 'VLC media player'], ['music player', 'VLC media player'], ['spreadsheet', 'LibreOffice Calc'], ['calc', 'LibreOffice Calc'],
    ['word processor', 'LibreOffice Writer'], ['presentation', 'LibreOffice Impress'], ['libreoffice', 'LibreOffice Start Center'],
    ['archive manager', 'Archive Manager'], ['torrent client', 'Transmission'], ['chat', 'HexChat'], ['audio editor', 'Audacity'],
    ['volume control', 'PulseAudio Volume Control'], ['bulk rename', 'Bulk Rename'], ['firefx', 'Firefox ESR'], ['gimp', 'GNU Image Manipulation Program'],
    ['xterm', 'XTerm'], ['zip', ['Archive Manager', 'Xarchiver']], ['frefx', []],
  ];
  for (const [query, expected] of cases) {
    const { top } = rank(query, apps);
    assert.deepEqual(names(top), typeof expected === 'string' ? [expected] : expected, query);
  }
  const answers = [
    ['open a terminal', "Can't open Xfce Terminal"], ['launch calculater', "Can't open Qalculate!"], ['open text editor', "Can't open Mousepad"],
  ];
  for (const [sentence, title] of answers) assert.equal((await rows(sentence, real))[0][0], title, sentence);

  // Windows, most recently used first: title words, class, and the names of the application they belong to.
  const win = (id, title, resName, resClass) => ({ id, title, resName, resClass });
  const windows = [win('term', 'anna@box: ~/src', 'xterm', 'XTerm'), win('list', '/home/anna/shopping-list.txt - Mousepad', 'mousepad', 'Mousepad'),
    win('web', 'Debian — Mozilla Firefox', 'Navigator', 'firefox-esr'), win('notes', 'notes.txt - Mousepad', 'mousepad', 'Mousepad'),
    win('w38', 'w38', 'xmessage', 'Xmessage'), win('w3', 'w3', 'xmessage', 'Xmessage')];
  const switches = [
    ['terminal', 'term'], ['the browser', 'web'], ['text editor', 'list'], ['shopping list', 'list'], ['shoping lst', 'list'],
    ['notes', 'notes'], ['w3', 'w3'], ['mousepad', 'list'], ['xterm', 'term'], ['calculator', null],
  ];
  for (const [target, id] of switches) assert.equal(pickWindow(target, windows, apps)?.id ?? null, id, target);
  assert.equal(pickWindow('mousepad', [...windows].reverse(), apps).id, 'notes', 'of equal matches, the one used last');
});

it('reads every entry of a tree no folder can break: loops, repeats, FIFOs, folders it cannot look at, long requests', async () => {
  const tree = path.join(root, 'tough');
  const apps = path.join(tree, 'a', 'applications');
  await mkdir(path.join(apps, 'many'), { recursive: true });
  for (let i = 0; i < 5200; i += 1) await writeFile(path.join(apps, 'many', `app${i}.desktop`), entry(`Name=Bulk App ${i}\nExec=recorder ${i}`));
  await symlink('.', path.join(apps, 'loop'));
  await symlink(path.join(apps, 'many', 'app7.desktop'), path.join(apps, 'again.desktop'));
  spawnSync('mkfifo', [path.join(apps, 'fifo.desktop')]);
  await symlink(path.join(apps, 'fifo.desktop'), path.join(apps, 'fifo-link.desktop'));
  await writeFile(path.join(tree, 'file'), 'not a folder');
  await symlink('self', path.join(tree, 'self'));
  // A data folder under a file and one through a symlink loop cannot even be looked at.
  const tough = { ...env, XDG_DATA_HOME: path.join(tree, 'self'), XDG_DATA_DIRS: `${path.join(tree, 'file', 'x')}:${path.join(tree, 'a')}` };
  const scanned = (await scanApplications(tough)).apps;
  assert.deepEqual([scanned.length, new Set(scanned.map((a) => a.name)).size], [5200, 5200]);
  const cases = [
    ['open bulk app 5199', 'Opened Bulk App 5199', '5199'], ['open bulk app 7', 'Opened Bulk App 7', '7'],
    [`open ${'q'.repeat(1995)}`, /^No application called "q+…$/],
  ];
  for (const [sentence, title, ran] of cases) {
    assert.match((await rows(sentence, tough))[0][0], typeof title === 'string' ? new RegExp(`^${title}$`) : title, sentence.slice(0, 30));
    if (ran) assert.deepEqual((await nextRun()).args, [ran], sentence);
  }
  assert.deepEqual((await rows('open bulk', tough)).map(([t]) => t).slice(-2), ['Bulk App 1000', '… and 5194 more'], 'a tie of every entry');
  // The folder that could not be looked at is read once it can be.
  await rm(path.join(tree, 'self'));
  await plant(tree, { 'self/applications': { 'late.desktop': entry('Name=Late Comer\nExec=recorder late') } });
  assert.deepEqual(await rows('open late comer', tough), [['Opened Late Comer', 'late.desktop']]);
  assert.deepEqual((await nextRun()).args, ['late']);
});

describe('opening', () => {
  const title = async (sentence) => (await rows(sentence, env)).map(([t]) => t);
  it('routes each kind of sentence to its skill, sees entries come and go, runs terminal entries in a terminal; shell syntax stays inert', async () => {
    const cases = [
      ['launch the firefx app', ['Opened Firefox'], 'firefox'], ['firefox', ['Opened Firefox'], 'firefox'],
      ['Start Nested Tool please', ['Opened Nested Tool'], 'nested'], ['open fire', ['Firefox', 'Firewall Config']],
      ['open zzzz', ['No application called "zzzz"']], ['fire', ["I can't do that yet"]], ['switch to firefox', ['No X display']],
    ];
    for (const [sentence, titles, ran] of cases) {
      assert.deepEqual(await title(sentence), titles, sentence);
      if (ran) assert.deepEqual(((r) => [r.args, r.cwd])(await nextRun()), [[ran], root], sentence);
    }
    for (const goal of ['open foo; touch PWNED', 'open $(touch PWNED)', 'launch `touch PWNED`', 'start firefox && touch PWNED',
      'firefox | touch PWNED', 'open ../../bin/recorder']) assert.match((await title(goal)).join('|'), /^(No application called "[^|]*"|I can't do that yet)$/, goal);
    await writeFile(path.join(root, 'a', 'applications', 'kde', 'fresh.desktop'), entry(`Name=Fresh Tool\nExec=recorder fresh\nPath=${runs()}`));
    assert.deepEqual(await title('open fresh tool'), ['Opened Fresh Tool'], 'an entry added since the last request');
    assert.deepEqual(((r) => [r.args, r.cwd])(await nextRun()), [['fresh'], runs()], 'not run in its Path folder');
    await rm(path.join(root, 'b', 'applications', 'firewall.desktop'));
    assert.deepEqual(await title('open fire'), ['Opened Firefox'], 'an entry removed since the last request');
    await nextRun();
    // Only folder a changes: b's entries are taken over, and one of them is now hidden.
    await writeFile(path.join(root, 'a', 'applications', 'calc.desktop'), entry('Name=Pocket Calc\nExec=recorder pocket'));
    for (const [sentence, ran] of [['open calc', 'pocket'], ['open writer', 'writer'], ['open firefox', 'firefox']]) {
      assert.deepEqual([...await title(sentence), (await nextRun()).args], [`Opened ${{ pocket: 'Pocket Calc', writer: 'LibreOffice Writer', firefox: 'Firefox' }[ran]}`, [ran]], sentence);
    }
    await rm(path.join(root, 'a', 'applications', 'calc.desktop'));
    assert.deepEqual(await unseen(), [], 'something else ran');
    await symlink(path.join(root, 'bin', 'recorder'), path.join(root, 'bin', 'x-terminal-emulator'));
    assert.deepEqual(await title('open console thing'), ['Opened Console Thing']);
    const run = await nextRun();
    assert.deepEqual([path.basename(run.argv0), ...run.args], ['x-terminal-emulator', '-e', path.join(root, 'bin', 'recorder'), 'console']);
    await rm(path.join(root, 'bin', 'x-terminal-emulator'));
    assert.deepEqual(await rows('open console thing', { ...env, PATH: path.join(root, 'bin') }), [["Can't open Console Thing", 'it runs in a terminal and no terminal emulator is installed']]);
  });

  it('the reply script answers anything with one line and status 0 from any folder, starting the entry in its own session'
    + ' with its argv and passing on no descriptor it was given', async () => {
    const cases = [[['open', 'rekorder'], 'Opened Rekorder'], [['12*89'], '1068', '/'], [[], 'Ask me something'],
      [['set a timer for 5 minutes'], 'Timers need the Ostrel agent running'], [['{"sentence": "x"}\n\u0007'], "I can't do that yet"],
      [['9'.repeat(100000)], 'That request is too long']];
    const stdio = ['ignore', 'pipe', 'inherit', ...new Array(37).fill('ignore'), 'pipe']; // fd 40: a pipe left open across exec
    for (const [args, title, cwd = AGENT_ROOT] of cases) {
      const r = spawnSync(process.execPath, [path.join(AGENT_ROOT, 'ostrel', 'respond.mjs'), ...args], { env, cwd, stdio, encoding: 'utf8' });
      const { lines, keepOpen } = JSON.parse(r.stdout);
      assert.deepEqual([r.status, r.stdout.indexOf('\n'), lines.length, lines[0].title, keepOpen], [0, r.stdout.length - 1, 1, title, false], args[0]?.slice(0, 30));
    }
    const run = await nextRun();
    assert.deepEqual([run.args, run.session], [REC_ARGS, run.pid], 'not its argv, or not a session leader');
    assert.doesNotMatch(run.fds, /socket:|pipe:|anon_inode/);
    await assert.rejects(access(path.join(root, 'PWNED')));
  });
});

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
  for (const [i, [tree, expected]] of cases.entries()) {
    const supply = tree ? await plant(path.join(root, `power${i}`), tree) : path.join(root, 'none');
    assert.deepEqual(await rows('how is my battery', { OSTREL_AGENT_POWER_SUPPLY: supply }), expected, JSON.stringify(tree)?.slice(0, 80));
  }
});

it('gives a clear row for each way X11 or its helpers can fail, leaving no helper running', async () => {
  const dir = path.join(root, 'x11');
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
  for (const [env, title] of cases) {
    for (const sentence of ['what apps are open', 'left half']) {
      const got = await rows(sentence, childEnv(env));
      assert.ok(got.length === 1 && title.test(got[0][0]), `${JSON.stringify(env)}: ${sentence} → ${JSON.stringify(got)}`);
    }
    assert.equal(spawnSync('pgrep', ['-P', String(process.pid)]).status, 1, `${JSON.stringify(env)} left a helper running`);
  }
});
