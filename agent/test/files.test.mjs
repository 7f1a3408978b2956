// Folders and files over a throw-away home: the user directories, the
// recently used files, the index (what it skips, what it sees change) and
// opening through a recording stand-in for the desktop's opener.

import { it, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { writeFile, readFile, rm, rename, symlink } from 'node:fs/promises';
import path from 'node:path';
import { tempDir, removeDir, childEnv, waitFor, plant, recorder, rows as answer } from '../testkit/daemon.mjs';
import { userDirs } from '../ostrel/skills/places.mjs';
import { FileIndex } from '../ostrel/file-index.mjs';

let root;
let home;
let env;
const rec = () => path.join(root, 'calls');
const rows = (sentence, e = env) => answer(sentence, e);
// The one call a detached start makes, once it has made it.
async function nextCall() {
  const [call] = await waitFor(async () => /\n/.test(await readFile(rec(), 'utf8').catch(() => '')) && (await readFile(rec(), 'utf8')).split('\n'), 'the opener');
  await rm(rec());
  return call.split('|');
}
const bookmark = (href, modified) => `<bookmark href="${href}" added="2024-01-01T10:00:00Z" modified="${modified}" visited="${modified}"><info/></bookmark>`;

before(async () => {
  root = await tempDir('ostrel-files-');
  home = path.join(root, 'home');
  await plant(home, {
    '.config/user-dirs.dirs': '# written by xdg-user-dirs-update\nXDG_DOWNLOAD_DIR="$HOME/Dl"\n'
      + `XDG_MUSIC_DIR="${root}/music"\nXDG_VIDEOS_DIR="relative/ignored"\nXDG_PICTURES_DIR="$HOME/My \\"Pics\\""\nXDG_BOGUS_DIR="/etc"\n`,
    'Documents/Resume_2024.pdf': '', 'Documents/work/budget.ods': '', 'Documents/work/Budget planning notes.txt': '',
    'Documents/notes.txt': '', 'Dl/.keep': '', 'My "Pics"/cat.png': '',
    '.hidden/resume-secret.txt': '', '.resume.txt': '', '.cache/resume.cache': '', 'proj/node_modules/resume/index.js': '',
    'proj/build/CMakeCache.txt': '', 'proj/build/resume.o': '', 'proj/tmp/CACHEDIR.TAG': '', 'proj/tmp/resume.tmp': '',
    '.local/share/applications/notes.desktop': '[Desktop Entry]\nType=Application\nName=Notes\nExec=notes-app\n',
    '.local/share/recently-used.xbel': `<?xml version="1.0"?>\n<xbel version="1.0">\n${[
      bookmark(`file://${home}/Documents/work/budget.ods`, '2024-05-01T10:00:00Z'),
      bookmark(`file://${home}/Documents/work/Budget%20planning%20notes.txt`, '2024-04-01T10:00:00Z'),
      bookmark(`file://${home}/gone/budget-old.ods`, '2024-06-01T10:00:00Z'),
      bookmark('https://example.com/budget.html', '2024-06-01T10:00:00Z'),
    ].join('\n')}\n</xbel>\n`,
  });
  await plant(root, {
    'music/song resume.mp3': '', 'bin/xdg-open': recorder(rec()), 'bin/notes-app': recorder(rec()), 'gio-only/gio': recorder(rec()),
    'no-handler/xdg-open': '#!/bin/sh\nexit 3\n',
  });
  await symlink('/', path.join(home, 'loop'));
  env = childEnv({
    HOME: home, PATH: `${path.join(root, 'bin')}:/usr/bin:/bin`, XDG_DATA_HOME: undefined, XDG_CONFIG_HOME: undefined,
    XDG_DATA_DIRS: path.join(root, 'no-system-apps'),
  });
});
after(async () => { await removeDir(root); });

it('reads the user directories as xdg-user-dirs writes them, with its defaults', () => {
  const dirs = userDirs(env);
  const expected = {
    DOWNLOAD: path.join(home, 'Dl'), MUSIC: path.join(root, 'music'), VIDEOS: path.join(home, 'Videos'), PICTURES: path.join(home, 'My "Pics"'),
    DOCUMENTS: path.join(home, 'Documents'), DESKTOP: path.join(home, 'Desktop'), HOME: home,
  };
  for (const [key, dir] of Object.entries(expected)) assert.equal(dirs[key], dir, key);
  assert.equal(dirs.BOGUS, undefined);
  assert.equal(userDirs({ HOME: '/nowhere' }).DOWNLOAD, '/nowhere/Downloads');
});

it('finds files by words of their names, recent ones first, skipping hidden folders, caches and build trees', async () => {
  const cases = [
    ['find my resume', [['Resume_2024.pdf', 'in ~/Documents'], ['song resume.mp3', `in ${root}/music`]]],
    ['where is budget', [['budget.ods', 'recent · in ~/Documents/work'], ['Budget planning notes.txt', 'recent · in ~/Documents/work']]],
    ['search for planning notes', [['Budget planning notes.txt', 'recent · in ~/Documents/work']]],
    ['find resme', [['Resume_2024.pdf', 'in ~/Documents'], ['song resume.mp3', `in ${root}/music`]]],
    ['find the work folder', [['work/', 'in ~/Documents']]],
    ['locate cat.png', [['cat.png', 'in ~/My "Pics"']]],
    ['find passwd', [['No file called "passwd"', 'no name like it among 14 files in your home folder']]],
    ['find secret', [['No file called "secret"', 'no name like it among 14 files in your home folder']]],
    ['find a', [['No file called "a"', 'type a word of its name, of two letters or more']]],
  ];
  for (const [sentence, expected] of cases) assert.deepEqual(await rows(sentence), expected, sentence);
});

it('sees files and folders come and go while it runs', async () => {
  const found = (sentence, title) => waitFor(async () => (await rows(sentence)).some(([t]) => t === title), `${sentence} → ${title}`);
  await writeFile(path.join(home, 'Dl', 'invoice-march.pdf'), '');
  await found('find invoice', 'invoice-march.pdf');
  await plant(home, { 'Documents/trip/itinerary.txt': '' });
  await found('find itinerary', 'itinerary.txt');
  await writeFile(path.join(home, 'Documents', 'trip', 'tickets.pdf'), '');
  await found('find tickets', 'tickets.pdf');
  await rename(path.join(home, 'Documents', 'trip'), path.join(home, 'Documents', 'journey'));
  await waitFor(async () => (await rows('find tickets'))[0][1] === 'in ~/Documents/journey', 'the renamed folder');
  await rm(path.join(home, 'Dl', 'invoice-march.pdf'));
  await found('find invoice', 'No file called "invoice"');
  await rm(path.join(home, 'Documents', 'journey'), { recursive: true });
  await found('find itinerary', 'No file called "itinerary"');
});

it('opens folders and files with the desktop opener, an application when it matches better', async () => {
  const cases = [
    ['open my downloads folder', [['Opened Downloads', path.join(home, 'Dl')]], ['xdg-open', path.join(home, 'Dl')]],
    ['go home', [['Opened Home', home]], ['xdg-open', home]],
    ['open my resume', [['Opened Resume_2024.pdf', 'in ~/Documents']], ['xdg-open', path.join(home, 'Documents', 'Resume_2024.pdf')]],
    ['open budget planning', [['Opened Budget planning notes.txt', 'in ~/Documents/work']], ['xdg-open', path.join(home, 'Documents', 'work', 'Budget planning notes.txt')]],
    ['show budget.ods in the file manager', [['Showing the folder of budget.ods', '~/Documents/work']], ['xdg-open', path.join(home, 'Documents', 'work')]],
    ['open notes', [['Opened Notes', 'notes.desktop']], ['notes-app']],
    ['open the notes file', [['Opened notes.txt', 'in ~/Documents']], ['xdg-open', path.join(home, 'Documents', 'notes.txt')]],
    ['open videos', [['There is no Videos folder', `${path.join(home, 'Videos')} does not exist`]]],
    ['open the file zzzz', [['No file called "zzzz"', 'no name like it among 14 files in your home folder']]],
  ];
  for (const [sentence, expected, call] of cases) {
    assert.deepEqual(await rows(sentence), expected, sentence);
    if (call) assert.deepEqual(await nextCall(), call, sentence);
  }
  assert.deepEqual(await rows('open pictures', { ...env, PATH: path.join(root, 'gio-only') }), [['Opened Pictures', path.join(home, 'My "Pics"')]]);
  assert.deepEqual(await nextCall(), ['gio', 'open', '--', path.join(home, 'My "Pics"')]);
  assert.deepEqual(await rows('open music', { ...env, PATH: path.join(root, 'none') }), [["Can't open Music", 'neither xdg-open nor gio is installed']]);
  assert.deepEqual(await rows('open my resume', { ...env, PATH: path.join(root, 'no-handler') }), [["Can't open Resume_2024.pdf", 'xdg-open failed (exit status 3)']]);
});

it('keeps no more names than its bound, and sees changes by modification times where it cannot watch', async () => {
  const small = new FileIndex([home], { maxNames: 4 });
  await small.ready;
  assert.deepEqual([small.count, small.truncated], [4, true]);
  small.close();
  const index = new FileIndex([home], { watch: false });
  await index.ready;
  const names = async () => { await index.refresh(); return index.search(['quarterly']).map((h) => h.name); };
  await plant(home, { 'Documents/q/quarterly.ods': '' });
  assert.deepEqual(await names(), ['quarterly.ods']);
  await rm(path.join(home, 'Documents', 'q'), { recursive: true });
  assert.deepEqual(await names(), []);
  index.close();
});
