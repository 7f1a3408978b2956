// Opening applications from a throw-away tree of desktop entries: what is
// shown, how names rank, and what actually runs when one is opened.

import { describe, it, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { mkdir, writeFile, readFile, readdir, rm, chmod, symlink, access } from 'node:fs/promises';
import path from 'node:path';
import { tempDir, removeDir, childEnv, AGENT_ROOT } from '../testkit/daemon.mjs';
const RESPOND = path.join(AGENT_ROOT, 'ostrel', 'respond.mjs');
import { scanApplications, splitExec } from '../ostrel/desktop.mjs';
import { rank } from '../ostrel/match.mjs';
import { answerSentence } from '../ostrel/router.mjs';

// The first of a repeated key counts, so Type and Exec here are defaults.
const entry = (keys) => `# test entry\n[Desktop Entry]\n${keys}\nType=Application\nExec=recorder\n`;

// Folder (home, a, b) -> file -> keys. Home comes first, then a, then b.
const TREE = {
  home: { shadow: 'Name=Home Shadow', gone: 'Name=Gone Here\nHidden=true' },
  a: {
    gone: 'Name=Gone App',
    rec: 'Name=Recorder\nName[de]=Aufnahme\nName[de_DE]=Rekorder\nGenericName=Test Tool\nKeywords=capture;tape;\n'
      + 'Exec=recorder --name=%c "two words" "$(touch PWNED)" "a;b|c&&d" "say \\\\"hi\\\\"" 100%% %U',
    'kde/sub': 'Name=Nested Tool\nExec=recorder nested', hidden: 'Name=Invisible\nNoDisplay=true',
    'kde-only': 'Name=Kde Only\nOnlyShowIn=KDE;', 'here-only': 'Name=Test Desktop Only\nOnlyShowIn=KDE;TestDE;',
    'not-here': 'Name=Not Here\nNotShowIn=TestDE;', missing: 'Name=Missing Program\nTryExec=no-such-program-here',
    present: 'Name=Present Program\nTryExec=recorder', link: 'Name=A Link\nType=Link',
    multi: 'Name=Multi Group\nType=Application\nExec=recorder\n[Desktop Action new]\nName=Action Name',
    console: 'Name=Console Thing\nTerminal=true\nExec=recorder console',
  },
  b: {
    shadow: 'Name=System Shadow', 'kde-sub': 'Name=Flat Nested',
    firefox: 'Name=Firefox\nGenericName=Web Browser\nKeywords=Internet;WWW;\nExec=recorder firefox %u',
    firewall: 'Name=Firewall Config', writer: 'Name=LibreOffice Writer\nExec=recorder writer', calc: 'Name=LibreOffice Calc',
  },
};

const SHOWN = ['Console Thing', 'Firefox', 'Firewall Config', 'Home Shadow', 'LibreOffice Calc', 'LibreOffice Writer',
  'Multi Group', 'Nested Tool', 'Present Program', 'Rekorder', 'Test Desktop Only'];

let root;
let env;
const runs = () => path.join(root, 'runs');

// The recorder notes its argv, its session and its open descriptors, then
// renames the record into place so a reader never sees half of it.
const RECORDER = (dir) => `#!/bin/sh
out=${dir}/$$
ls -l /proc/$$/fd > "$out.fds"
cat /proc/$$/stat > "$out.stat"
printf '%s\\0' "$0" "$@" > "$out.tmp"
mv "$out.tmp" "$out.args"
`;

before(async () => {
  root = await tempDir('ostrel-apps-');
  for (const [folder, files] of Object.entries(TREE)) {
    for (const [name, keys] of Object.entries(files)) {
      const file = path.join(root, folder, 'applications', `${name}.desktop`);
      await mkdir(path.dirname(file), { recursive: true });
      await writeFile(file, entry(keys));
    }
  }
  await mkdir(path.join(root, 'bin'));
  await mkdir(runs());
  await writeFile(path.join(root, 'bin', 'recorder'), RECORDER(runs()));
  await chmod(path.join(root, 'bin', 'recorder'), 0o755);
  env = childEnv({
    HOME: root, XDG_DATA_HOME: path.join(root, 'home'), XDG_DATA_DIRS: `${root}/a:${root}/b:relative/ignored`,
    XDG_CURRENT_DESKTOP: 'GNOME:TestDE', LANG: 'de_DE.UTF-8', LC_ALL: undefined, LC_MESSAGES: undefined,
    PATH: `${path.join(root, 'bin')}:/usr/bin:/bin`,
  });
});
after(async () => { await removeDir(root); });

const names = (apps) => apps.map((a) => a.name).sort();

it('splits Exec lines as the desktop entry format quotes them', () => {
  const cases = [
    ['prog %U', ['prog']], ['prog --x=%f 100%% %i %c %k', ['prog', '--x=', '100%']],
    ['"/opt/my app/run" "say \\\\"hi\\\\"" plain', ['/opt/my app/run', 'say "hi"', 'plain']],
    ['prog "$(rm -rf ~)" ; | `x`', ['prog', '$(rm -rf ~)', ';', '|', '`x`']],
    ['prog   "" b', ['prog', '', 'b']], ['"unterminated', null], ['%f', null], ['', null],
  ];
  for (const [raw, argv] of cases) assert.deepEqual(splitExec(raw), argv, raw);
});

it('shows entries by folder order, locale, desktop, TryExec and visibility', async () => {
  const { apps } = await scanApplications(env);
  assert.deepEqual(names(apps), SHOWN);
  assert.deepEqual(apps.find((a) => a.name === 'Nested Tool').id, 'kde-sub.desktop');
  const rec = apps.find((a) => a.name === 'Rekorder');
  assert.deepEqual(rec.argv, ['recorder', '--name=', 'two words', '$(touch PWNED)', 'a;b|c&&d', 'say "hi"', '100%']);

  const variants = [
    [{ LANG: 'de_AT.UTF-8' }, 'Aufnahme', true], [{ LANG: 'C.UTF-8', LC_MESSAGES: 'de_DE' }, 'Rekorder', true],
    [{ LC_ALL: 'fr_FR.UTF-8' }, 'Recorder', true], [{ XDG_CURRENT_DESKTOP: undefined }, 'Not Here', true],
    [{ XDG_CURRENT_DESKTOP: undefined }, 'Test Desktop Only', false], [{ XDG_CURRENT_DESKTOP: 'KDE' }, 'Kde Only', true],
    [{ XDG_DATA_HOME: undefined }, 'System Shadow', true],
  ];
  for (const [change, name, shown] of variants) {
    const list = names((await scanApplications({ ...env, ...change })).apps);
    assert.equal(list.includes(name), shown, `${JSON.stringify(change)}: ${name}`);
  }
});

it('ranks names forgivingly and reports ties', async () => {
  const { apps } = await scanApplications(env);
  const cases = [
    ['firefox', ['Firefox']], ['FireFox', ['Firefox']], ['firefx', ['Firefox']], ['fierfox', ['Firefox']],
    ['frefx', []], ['fire', ['Firefox', 'Firewall Config']], ['writer', ['LibreOffice Writer']],
    ['office calc', ['LibreOffice Calc']], ['web browser', ['Firefox']], ['www', ['Firefox']], ['recorder', ['Rekorder']],
    ['shadow', ['Home Shadow']], ['nested tol', ['Nested Tool']], ['zzzz', []], ['', []],
  ];
  for (const [query, expected] of cases) assert.deepEqual(names(rank(query, apps).top), expected, query);
});

async function nextRun(seen) {
  for (let i = 0; i < 200; i += 1) {
    const done = (await readdir(runs())).filter((f) => f.endsWith('.args') && !seen.has(f));
    if (done.length) {
      seen.add(done[0]);
      const pid = done[0].replace('.args', '');
      const read = (ext) => readFile(path.join(runs(), `${pid}.${ext}`), 'utf8');
      const [argv0, ...args] = (await read('args')).split('\0').slice(0, -1);
      const session = Number((await read('stat')).split(') ')[1].split(' ')[3]);
      return { pid: Number(pid), argv0: path.basename(argv0), args, session, fds: await read('fds') };
    }
    await new Promise((resolve) => setTimeout(resolve, 25));
  }
  throw new Error('the launched program did not run');
}

describe('opening', () => {
  const seen = new Set();
  const title = async (sentence) => (await answerSentence(sentence, { env })).lines.map((l) => l.title);

  it('routes each kind of sentence to its skill', async () => {
    const cases = [
      ['launch the firefx app', ['Opened Firefox'], 'firefox'], ['firefox', ['Opened Firefox'], 'firefox'],
      ['Start Nested Tool please', ['Opened Nested Tool'], 'nested'], ['open fire', ['Firefox', 'Firewall Config']],
      ['open zzzz', ['No application called "zzzz"']], ['fire', ["I can't do that yet"]],
      ['switch to firefox', ['No X display']],
      // Shell syntax in the goal stays inert.
      ...['open foo; touch PWNED', 'open $(touch PWNED)', 'launch `touch PWNED`', 'start firefox && touch PWNED',
        'firefox | touch PWNED', 'open ../../bin/recorder'].map((goal) => [goal, [/^(No application|I can't)/]]),
    ];
    for (const [sentence, titles, ran] of cases) {
      const got = await title(sentence);
      titles.forEach((t, i) => (t instanceof RegExp ? assert.match(got[i], t, sentence) : assert.equal(got[i], t, sentence)));
      assert.equal(got.length, titles.length, sentence);
      if (ran) assert.deepEqual((await nextRun(seen)).args, [ran], sentence);
    }
    await assert.rejects(access(path.join(root, 'PWNED')));
    assert.deepEqual((await readdir(runs())).filter((f) => f.endsWith('.args') && !seen.has(f)), [], 'something else ran');
  });

  it('runs terminal entries in a terminal, or says there is none', async () => {
    await symlink(path.join(root, 'bin', 'recorder'), path.join(root, 'bin', 'x-terminal-emulator'));
    assert.deepEqual(await title('open console thing'), ['Opened Console Thing']);
    const run = await nextRun(seen);
    assert.equal(run.argv0, 'x-terminal-emulator');
    assert.deepEqual(run.args, ['-e', path.join(root, 'bin', 'recorder'), 'console']);
    await rm(path.join(root, 'bin', 'x-terminal-emulator'));
    const doc = await answerSentence('open console thing', { env: { ...env, PATH: path.join(root, 'bin') } });
    assert.match(doc.lines[0].subtitle, /no terminal emulator/);
  });

  it('sees entries added and removed since the last request', async () => {
    assert.deepEqual(await title('open fresh tool'), ['No application called "fresh tool"']);
    await writeFile(path.join(root, 'a', 'applications', 'kde', 'fresh.desktop'), entry('Name=Fresh Tool\nExec=recorder fresh'));
    assert.deepEqual(await title('open fresh tool'), ['Opened Fresh Tool']);
    assert.deepEqual((await nextRun(seen)).args, ['fresh']);
    await rm(path.join(root, 'b', 'applications', 'firewall.desktop'));
    assert.deepEqual(await title('open fire'), ['Opened Firefox']);
    await nextRun(seen);
  });

  it('starts the entry in its own session with its argv, passing on no descriptor it was given', async () => {
    // The reply script, as the palette runs it, with fd 40 an extra pipe it
    // inherits without close-on-exec (Node itself marks a few low ones
    // close-on-exec at start-up).
    const stdio = ['ignore', 'pipe', 'ignore', ...new Array(37).fill('ignore'), 'pipe'];
    const child = spawn(process.execPath, [RESPOND, 'open', 'rekorder'], { env, stdio });
    let stdout = '';
    child.stdout.on('data', (d) => { stdout += d; });
    await new Promise((resolve) => child.once('close', resolve));
    assert.deepEqual(JSON.parse(stdout).lines, [{ title: 'Opened Rekorder', subtitle: 'Test Tool' }]);
    const run = await nextRun(seen);
    assert.deepEqual(run.args, ['--name=', 'two words', '$(touch PWNED)', 'a;b|c&&d', 'say "hi"', '100%']);
    assert.equal(run.session, run.pid, 'not a session leader');
    assert.doesNotMatch(run.fds, /socket:|pipe:|anon_inode/);
    await assert.rejects(access(path.join(root, 'PWNED')));
  });
});
