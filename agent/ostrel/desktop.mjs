// The installed applications, read from the desktop entries in the XDG data
// directories. The list is kept between requests and read again only when
// one of the application folders (or a folder inside them) has changed, so
// a warm request costs a few stat calls.

import { readdir, stat, access, constants } from 'node:fs/promises';
import { statSync, fstatSync, openSync, readSync, closeSync, accessSync, constants as fsConstants } from 'node:fs';
import path from 'node:path';
import { prepare, own, newIndex, addToIndex, finishIndex, useIndexes } from './match.mjs';

const MAX_FILE_BYTES = 64 * 1024;
const MAX_DEPTH = 8;
// A scan gives the event loop a turn this often, so that a cold scan of a
// huge tree never holds up other requests for long.
const SLICE_MS = 8;

export function applicationDirs(env) {
  const absolute = (list) => list.filter((dir) => path.isAbsolute(dir));
  const home = absolute([env.XDG_DATA_HOME ?? ''])[0] ?? (env.HOME ? path.join(env.HOME, '.local', 'share') : null);
  const dataDirs = absolute((env.XDG_DATA_DIRS || '/usr/local/share:/usr/share').split(':'));
  return [...new Set([home, ...dataDirs].filter(Boolean).map((dir) => path.join(dir, 'applications')))];
}

// Suffixes to try for localised keys, most specific first: for
// de_DE.UTF-8@euro that is de_DE@euro, de_DE, de@euro, de.
export function localeSuffixes(env) {
  const value = [env.LC_ALL, env.LC_MESSAGES, env.LANG].find((v) => v) ?? '';
  const m = /^([a-zA-Z]+)(?:_([a-zA-Z0-9]+))?(?:\.[^@]*)?(?:@(.+))?$/.exec(value);
  if (!m || m[1] === 'C' || m[1] === 'POSIX') return [];
  const [, lang, country, modifier] = m;
  const out = [];
  if (country && modifier) out.push(`${lang}_${country}@${modifier}`);
  if (country) out.push(`${lang}_${country}`);
  if (modifier) out.push(`${lang}@${modifier}`);
  out.push(lang);
  return out;
}

// Escapes of string values: \s \n \t \r \\ (and \; inside lists).
function unescape(value, { list = false } = {}) {
  if (!value.includes('\\')) return value;
  return value.replace(/\\(.)/g, (whole, c) => {
    switch (c) {
      case 's': return ' ';
      case 'n': return '\n';
      case 't': return '\t';
      case 'r': return '\r';
      case '\\': return '\\';
      case ';': return list ? '\u0000' : whole;
      default: return whole;
    }
  });
}

function splitList(raw) {
  if (!raw) return [];
  if (!raw.includes('\\')) {
    const out = [];
    for (const item of raw.split(';')) {
      const trimmed = item.trim();
      if (trimmed) out.push(trimmed);
    }
    return out;
  }
  return raw.replace(/\\\\/g, '\u0001').replace(/\\;/g, '\u0000').split(';')
    .map((s) => unescape(s.replace(/\u0001/g, '\\\\')).replace(/\u0000/g, ';').trim())
    .filter(Boolean);
}

// The keys of the [Desktop Entry] group that entries are read for,
// localised ones as "Name[de]" and only in the given locale suffixes: the
// other localisations are most of a packaged file and are skipped before
// anything is cut out of them.
const WANTED = new Set(['Type', 'Hidden', 'NoDisplay', 'OnlyShowIn', 'NotShowIn', 'Name', 'Exec', 'TryExec', 'GenericName',
  'Keywords', 'Path', 'Categories', 'MimeType', 'StartupWMClass', 'Comment', 'Terminal']);
const LOCALISED = new Set(['Name', 'GenericName', 'Keywords', 'Comment']);
const OPEN_BRACKET = 0x5b;
const HASH = 0x23;
const CR = 0x0d;
export function parseGroup(text, suffixes = []) {
  const keys = new Map();
  let inEntry = false;
  for (let pos = 0, next = 0; pos < text.length; pos = next) {
    let end = text.indexOf('\n', pos);
    if (end < 0) end = text.length;
    next = end + 1;
    if (end > pos && text.charCodeAt(end - 1) === CR) end -= 1;
    const first = text.charCodeAt(pos);
    if (first === OPEN_BRACKET) {
      if (inEntry) break;
      inEntry = text.slice(pos, end).trimEnd() === '[Desktop Entry]';
      continue;
    }
    if (!inEntry || first === HASH) continue;
    const eq = text.indexOf('=', pos);
    if (eq <= pos || eq >= end) continue;
    const open = text.indexOf('[', pos);
    let key;
    if (open > pos && open < eq) {
      if (suffixes.length === 0) continue;
      key = text.slice(pos, eq).trimEnd();
      if (!key.endsWith(']') || !LOCALISED.has(key.slice(0, open - pos)) || !suffixes.includes(key.slice(open - pos + 1, -1))) continue;
    } else {
      key = text.slice(pos, eq).trimEnd();
      if (!WANTED.has(key)) continue;
    }
    if (!keys.has(key)) keys.set(key, text.slice(eq + 1, end).trimStart());
  }
  return keys;
}

// Splits an Exec value into arguments: first the string escapes, then the
// command-line quoting (double quotes, with \" \` \$ \\ inside them), then
// field codes, which are dropped (%% is a percent sign). Null when the
// quoting is broken.
export function splitExec(raw) {
  const text = unescape(raw);
  const args = [];
  let cur = '';
  let inArg = false;
  let quoted = false;
  for (let i = 0; i < text.length; i += 1) {
    const c = text[i];
    if (quoted) {
      if (c === '"') quoted = false;
      else if (c === '\\' && i + 1 < text.length && '"`$\\'.includes(text[i + 1])) cur += text[++i];
      else cur += c;
    } else if (c === '"') {
      quoted = true;
      inArg = true;
    } else if (c === ' ' || c === '\t' || c === '\n') {
      if (inArg) args.push(cur);
      cur = '';
      inArg = false;
    } else {
      if (c === '\\' && i + 1 < text.length) cur += text[++i];
      else cur += c;
      inArg = true;
    }
  }
  if (quoted) return null;
  if (inArg) args.push(cur);
  const out = [];
  for (const arg of args) {
    if (/^%[a-zA-Z]$/.test(arg)) continue;
    out.push(arg.replace(/%(.)/g, (whole, c) => (c === '%' ? '%' : '')));
  }
  return out.length ? out : null;
}

function localised(keys, key, suffixes) {
  for (const s of suffixes) {
    if (keys.has(`${key}[${s}]`)) return keys.get(`${key}[${s}]`);
  }
  return keys.get(key);
}

// Everyday words for what an application is, from its Categories and
// MimeType as the freedesktop desktop menu standard names them: "browser"
// finds the application that is one whatever it is called.
const CONCEPTS = [
  [(c) => c.has('WebBrowser'), ['browser', 'web browser', 'internet browser', 'internet']],
  [(c) => c.has('TerminalEmulator'), ['terminal', 'terminal emulator', 'console', 'shell', 'command line']],
  [(c) => c.has('TextEditor'), ['text editor', 'editor', 'notepad']],
  [(c) => c.has('FileManager'), ['file manager', 'file browser', 'files', 'explorer']],
  [(c, mime) => c.has('Viewer') && (c.has('RasterGraphics') || c.has('Photography') || mime[0]?.startsWith('image/')),
    ['image viewer', 'photo viewer', 'picture viewer']],
  [(c) => (c.has('RasterGraphics') || c.has('Photography')) && !c.has('Viewer'), ['photo editor', 'image editor', 'picture editor']],
  [(c) => c.has('Player'), ['media player', 'player']],
  [(c) => c.has('Player') && (c.has('Video') || c.has('AudioVideo')), ['video player', 'movie player']],
  [(c) => c.has('Player') && (c.has('Audio') || c.has('Music') || c.has('AudioVideo')), ['music player', 'audio player']],
  [(c) => c.has('Spreadsheet'), ['spreadsheet']],
  [(c) => c.has('WordProcessor'), ['word processor']],
  [(c) => c.has('Presentation'), ['presentation', 'slides']],
  [(c) => c.has('Calculator'), ['calculator']],
  [(c) => c.has('Archiving'), ['archive manager', 'archiver', 'zip']],
  [(c, mime) => c.has('P2P') || mime.includes('application/x-bittorrent'), ['torrent client', 'torrent', 'bittorrent']],
  [(c) => c.has('Chat') || c.has('IRCClient') || c.has('InstantMessaging'), ['chat', 'messenger']],
  [(c) => c.has('AudioVideoEditing') && c.has('Audio'), ['audio editor', 'sound editor', 'music editor']],
  [(c) => c.has('Monitor') && c.has('System'), ['system monitor', 'task manager', 'process viewer', 'activity monitor']],
  [(c, mime) => mime.includes('application/pdf'), ['pdf viewer', 'pdf reader']],
  [(c) => c.has('Office') && c.has('Viewer'), ['document viewer']],
  [(c) => c.has('Email'), ['email', 'mail client']],
];

export function conceptsOf(categories, mime) {
  const set = new Set(categories);
  return CONCEPTS.filter(([applies]) => applies(set, mime)).flatMap(([, words]) => words);
}

// The program an Exec line runs: "env VAR=x prog" runs prog.
export function programOf(argv) {
  let i = 0;
  if (path.basename(argv[0]) === 'env') {
    i = 1;
    while (i < argv.length - 1 && (argv[i].includes('=') || argv[i].startsWith('-'))) i += 1;
  }
  return path.basename(argv[i] ?? argv[0]);
}

const SETTINGS_NAME = /\b(?:settings|preferences|configuration)\b/i;

function programPaths(program, env) {
  // A relative path would depend on the agent's working folder.
  return program.includes('/')
    ? [program].filter((file) => path.isAbsolute(file))
    : (env.PATH ?? '').split(':').filter((dir) => path.isAbsolute(dir)).map((dir) => path.join(dir, program));
}

// findProgram without waiting, remembered for one scan: TryExec programs
// repeat (a suite's entries all name the same one).
function installedChecker(env) {
  const known = new Map();
  return (program) => {
    if (!known.has(program)) {
      known.set(program, programPaths(program, env).some((file) => {
        try {
          accessSync(file, constants.X_OK);
          return statSync(file).isFile();
        } catch {
          return false;
        }
      }));
    }
    return known.get(program);
  };
}

export async function findProgram(program, env) {
  for (const file of programPaths(program, env)) {
    try {
      await access(file, constants.X_OK);
      if ((await stat(file)).isFile()) return file;
    } catch {
      // Not here.
    }
  }
  return null;
}

// One entry from its text, or null with the reason it is not shown.
// installed(program) says whether a TryExec program is there.
export function parseEntry(text, { id, file, suffixes, desktops, installed }) {
  const keys = parseGroup(text, suffixes);
  const flag = (key) => keys.get(key)?.trim() === 'true';
  if (keys.get('Type')?.trim() !== 'Application') return { skip: 'not an application' };
  if (flag('Hidden')) return { skip: 'hidden' };
  if (flag('NoDisplay')) return { skip: 'not displayed' };
  const only = splitList(keys.get('OnlyShowIn') ?? '');
  if (only.length && !only.some((d) => desktops.includes(d))) return { skip: 'other desktops only' };
  if (splitList(keys.get('NotShowIn') ?? '').some((d) => desktops.includes(d))) return { skip: 'not on this desktop' };
  const name = unescape(localised(keys, 'Name', suffixes) ?? '').trim();
  if (!name) return { skip: 'no name' };
  const argv = keys.has('Exec') ? splitExec(keys.get('Exec')) : null;
  if (!argv) return { skip: 'no command' };
  const tryExec = unescape(keys.get('TryExec') ?? '').trim();
  if (tryExec && !installed(tryExec)) return { skip: 'program missing' };
  const generic = unescape(localised(keys, 'GenericName', suffixes) ?? '').trim();
  const keywords = splitList(localised(keys, 'Keywords', suffixes) ?? '');
  const plainName = unescape(keys.get('Name') ?? '').trim();
  const workDir = unescape(keys.get('Path') ?? '').trim();
  const categories = splitList(keys.get('Categories') ?? '');
  const mime = splitList(keys.get('MimeType') ?? '');
  const idBase = id.replace(/\.desktop$/, '');
  const program = programOf(argv);
  const wmClass = unescape(keys.get('StartupWMClass') ?? '').trim();
  const settings = categories.includes('Settings') || SETTINGS_NAME.test(name);
  const command = argv.join('\u0000');
  const fields = prepare({
    names: [name, plainName],
    ids: [idBase, idBase.split('.').pop(), program, wmClass],
    generic: [generic, unescape(keys.get('GenericName') ?? '')],
    keywords: [...keywords, ...splitList(keys.get('Keywords') ?? '')],
    concepts: conceptsOf(categories, mime),
    comments: [unescape(localised(keys, 'Comment', suffixes) ?? '')],
    command,
    settings,
  });
  return {
    entry: {
      id: own(id),
      file: own(file),
      name: own(name),
      generic: own(generic),
      argv: argv.map(own),
      terminal: flag('Terminal'),
      workDir: path.isAbsolute(workDir) ? own(workDir) : '',
      program: own(program),
      wmClass: own(wmClass.toLowerCase()),
      settings,
      fields,
    },
  };
}

// Read synchronously: a few hundred small files cost a few milliseconds
// this way, several times more through the thread pool's round trips. A
// file that is not a regular file (or one already read under another name)
// yields null; opening without blocking keeps a FIFO from stalling the scan.
const readBuffer = Buffer.alloc(MAX_FILE_BYTES + 1);
function readSmall(file, seenFiles) {
  const fd = openSync(file, fsConstants.O_RDONLY | fsConstants.O_NONBLOCK);
  try {
    const s = fstatSync(fd);
    if (!s.isFile() || seenFiles.has(`${s.dev}:${s.ino}`)) return null;
    seenFiles.add(`${s.dev}:${s.ino}`);
    const bytesRead = readSync(fd, readBuffer, 0, readBuffer.length, 0);
    return bytesRead > MAX_FILE_BYTES ? null : readBuffer.toString('utf8', 0, bytesRead);
  } finally {
    closeSync(fd);
  }
}

const turn = () => new Promise((resolve) => setImmediate(resolve));

// The desktop files of one folder, read and indexed: ids (of every file,
// shown or not, for the ids it hides in later folders), the entries shown,
// and their index. Kept while the folder's stamp stays the same.
async function readFolder(dir, names, prefix, scan) {
  const folder = { ids: [], entries: [], index: newIndex() };
  for (const name of names) {
    if (performance.now() - scan.sliceStart > SLICE_MS) {
      await turn();
      scan.sliceStart = performance.now();
    }
    const id = prefix + name;
    // dir is a joined path already and name has no slash.
    const file = `${dir}/${name}`;
    let entry = null;
    try {
      const text = readSmall(file, scan.seenFiles);
      if (text !== null) entry = parseEntry(text, { id, file, ...scan.settings }).entry ?? null;
    } catch {
      // Unreadable or vanished: not shown.
    }
    if (entry) {
      addToIndex(folder.index, entry.fields);
      entry.fields.words = null;
      entry.fields.kinds = null;
      folder.entries.push(entry);
      folder.ids.push(entry.id);
    } else {
      folder.ids.push(id);
    }
  }
  await finishIndex(folder.index, { sliceMs: SLICE_MS, pause: turn });
  scan.sliceStart = performance.now();
  return folder;
}

// Every folder below one applications folder, each with its stamp and
// listing, for the change check and the next scan, and its desktop files
// read ("kde/foo.desktop" is "kde-foo.desktop"). A folder reached twice (a
// symlink loop, a link to a folder already read) is read once, and so is
// a file; a folder that cannot be read is skipped, and read again once it
// changes. A folder whose stamp is the one of the last scan is neither
// listed nor read again.
async function scanRoot(root, scan) {
  async function walk(dir, prefix, depth) {
    // Stamped before listing: a change made while the scan runs leaves a
    // stale stamp, so the next request reads the folder again.
    const { sig, stats: self } = stampOf(dir);
    const record = { dir, sig, children: null, folder: null };
    scan.dirs.push(record);
    if (!self?.isDirectory() || scan.seenDirs.has(`${self.dev}:${self.ino}`)) return;
    scan.seenDirs.add(`${self.dev}:${self.ino}`);
    const old = scan.before.get(dir);
    if (old?.sig === sig && old.children) {
      record.children = old.children;
      record.folder = old.folder;
    } else {
      let entries;
      try {
        entries = await readdir(dir, { withFileTypes: true });
      } catch {
        return;
      }
      record.children = { files: [], dirs: [] };
      for (const e of entries.sort((a, b) => (a.name < b.name ? -1 : 1))) {
        let isDir = e.isDirectory();
        const isDesktop = e.name.endsWith('.desktop') && (e.isFile() || e.isSymbolicLink());
        if (e.isSymbolicLink() && !isDesktop) isDir = Boolean((await stat(path.join(dir, e.name)).catch(() => null))?.isDirectory());
        if (isDir) record.children.dirs.push(e.name);
        else if (isDesktop) record.children.files.push(e.name);
      }
      record.folder = await readFolder(dir, record.children.files, prefix, scan);
    }
    if (depth >= MAX_DEPTH) return;
    for (const name of record.children.dirs) await walk(path.join(dir, name), `${prefix}${name}-`, depth + 1);
  }
  await walk(root, '', 0);
}

// An entry running another's command with options added ("mousepad
// --preferences" beside "mousepad %U") is that application's helper,
// marked once the whole list is known.
function markHelpers(apps) {
  const key = (argv) => argv.join('\u0000');
  const mayBeHelper = ({ argv }) => argv.length > 1 && argv.at(-1).startsWith('-');
  const commands = apps.some(mayBeHelper) ? new Set(apps.map((app) => app.fields.command)) : null;
  for (const app of apps) {
    const { argv } = app;
    let parent = '';
    if (commands && mayBeHelper(app)) {
      for (let end = argv.length - 1; end >= 1 && argv[end].startsWith('-'); end -= 1) {
        if (commands.has(key(argv.slice(0, end)))) {
          parent = key(argv.slice(0, end));
          break;
        }
      }
    }
    app.fields.parent = parent;
  }
  return apps;
}

// Every shown application. An id found in an earlier folder hides the same
// id in later ones, whether or not the earlier entry is itself shown.
// previous: the result of the last scan with the same settings, whose
// folders are taken over where they did not change.
export async function scanApplications(env, previous = null) {
  const roots = applicationDirs(env);
  const scan = {
    settings: { suffixes: localeSuffixes(env), desktops: (env.XDG_CURRENT_DESKTOP ?? '').split(':').filter(Boolean), installed: installedChecker(env) },
    dirs: [],
    before: new Map((previous?.dirs ?? []).map((d) => [d.dir, d])),
    seenDirs: new Set(),
    seenFiles: new Set(),
    sliceStart: performance.now(),
  };
  for (const root of roots) await scanRoot(root, scan);
  const apps = [];
  const parts = [];
  const seen = new Set();
  for (const { folder } of scan.dirs) {
    if (!folder) continue;
    const positions = new Int32Array(folder.entries.length);
    folder.entries.forEach((entry, i) => {
      positions[i] = seen.has(entry.id) ? -1 : apps.push(entry) - 1;
    });
    for (const id of folder.ids) seen.add(id);
    parts.push({ index: folder.index, positions });
  }
  useIndexes(apps, parts);
  return { apps: markHelpers(apps), roots, dirs: scan.dirs };
}

// A folder that cannot even be looked at has a stamp too, so that it is
// tried again once it can.
// A folder's stamp (sig) and its stats (null when it cannot be read).
function stampOf(dir) {
  try {
    const s = statSync(dir, { throwIfNoEntry: false });
    return { sig: s ? `${s.ino}:${s.mtimeMs}:${s.mode}` : '-', stats: s ?? null };
  } catch (err) {
    return { sig: `!${err.code}`, stats: null };
  }
}

const ENV_KEYS = ['HOME', 'XDG_DATA_HOME', 'XDG_DATA_DIRS', 'XDG_CURRENT_DESKTOP', 'LC_ALL', 'LC_MESSAGES', 'LANG', 'PATH'];
let cache = null;

// The cached list, read again when the environment differs or a folder
// (including a missing root that has since appeared) has changed since it
// was listed. Requests during a scan share it.
export async function applications(env) {
  const key = ENV_KEYS.map((k) => env[k] ?? '').join('\u0000');
  if (cache?.key === key) {
    if (cache.pending) return cache.pending;
    if (cache.dirs.every(({ dir, sig }) => stampOf(dir).sig === sig)) return cache.result;
  }
  const current = { key, dirs: [] };
  const previous = cache?.key === key ? cache.result : null;
  // A scan that failed is not kept: the next request scans again.
  current.pending = scanApplications(env, previous).then((result) => {
    current.dirs = result.dirs;
    current.result = result;
    return result;
  }, (err) => {
    if (cache === current) cache = null;
    throw err;
  }).finally(() => {
    delete current.pending;
  });
  cache = current;
  return current.pending;
}
