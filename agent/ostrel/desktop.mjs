// The installed applications, read from the desktop entries in the XDG data
// directories. The list is kept between requests and read again only when
// one of the application folders (or a folder inside them) has changed, so
// a warm request costs a few stat calls.

import { readdir, stat, access, constants } from 'node:fs/promises';
import { statSync, openSync, readSync, closeSync } from 'node:fs';
import path from 'node:path';
import { prepare, own } from './match.mjs';

const MAX_FILE_BYTES = 64 * 1024;
const MAX_DEPTH = 4;
const MAX_FILES = 5000;
const READ_CONCURRENCY = 16;

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
  return raw.replace(/\\\\/g, '\u0001').replace(/\\;/g, '\u0000').split(';')
    .map((s) => unescape(s.replace(/\u0001/g, '\\\\')).replace(/\u0000/g, ';').trim())
    .filter(Boolean);
}

// The keys of the [Desktop Entry] group, localised ones as "Name[de]".
export function parseGroup(text) {
  const keys = new Map();
  let inEntry = false;
  for (const line of text.split(/\r?\n/)) {
    if (line.startsWith('[')) {
      if (inEntry) break;
      inEntry = line.trimEnd() === '[Desktop Entry]';
      continue;
    }
    if (!inEntry || line.startsWith('#')) continue;
    const m = /^([A-Za-z0-9-]+(?:\[[^\]]+\])?)\s*=\s*(.*)$/.exec(line);
    if (m && !keys.has(m[1])) keys.set(m[1], m[2]);
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

export async function findProgram(program, env) {
  // A relative path would depend on the agent's working folder.
  const candidates = program.includes('/')
    ? [program].filter((file) => path.isAbsolute(file))
    : (env.PATH ?? '').split(':').filter((dir) => path.isAbsolute(dir)).map((dir) => path.join(dir, program));
  for (const file of candidates) {
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
export async function parseEntry(text, { id, file, env, suffixes, desktops }) {
  const keys = parseGroup(text);
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
  if (tryExec && !(await findProgram(tryExec, env))) return { skip: 'program missing' };
  const generic = unescape(localised(keys, 'GenericName', suffixes) ?? '').trim();
  const keywords = splitList(localised(keys, 'Keywords', suffixes) ?? '');
  const plainName = unescape(keys.get('Name') ?? '').trim();
  const workDir = unescape(keys.get('Path') ?? '').trim();
  const idBase = id.replace(/\.desktop$/, '');
  return {
    entry: {
      id: own(id),
      file: own(file),
      name: own(name),
      generic: own(generic),
      argv: argv.map(own),
      terminal: flag('Terminal'),
      workDir: path.isAbsolute(workDir) ? own(workDir) : '',
      fields: prepare({
        names: [name, plainName],
        ids: [idBase, idBase.split('.').pop(), path.basename(argv[0])],
        keywords: [...keywords, ...splitList(keys.get('Keywords') ?? ''), generic, unescape(keys.get('GenericName') ?? '')],
      }),
    },
  };
}

// Desktop files below one applications folder with their ids ("kde/foo.desktop"
// is "kde-foo.desktop"), plus every folder seen (and a missing root) with
// its stamp, for the change check.
async function listDir(root, dirs, files) {
  async function walk(dir, prefix, depth) {
    // Stamped before listing: a change made while the scan runs leaves a
    // stale stamp, so the next request reads the folder again.
    dirs.push({ dir, sig: dirSignature(dir) });
    let entries;
    try {
      entries = await readdir(dir, { withFileTypes: true });
    } catch {
      return;
    }
    for (const e of entries.sort((a, b) => (a.name < b.name ? -1 : 1))) {
      if (files.length >= MAX_FILES) return;
      const full = path.join(dir, e.name);
      let isDir = e.isDirectory();
      let isFile = e.isFile();
      if (e.isSymbolicLink()) {
        const s = await stat(full).catch(() => null);
        isDir = Boolean(s?.isDirectory());
        isFile = Boolean(s?.isFile());
      }
      if (isDir && depth < MAX_DEPTH) await walk(full, `${prefix}${e.name}-`, depth + 1);
      else if (isFile && e.name.endsWith('.desktop')) files.push({ id: prefix + e.name, file: full });
    }
  }
  await walk(root, '', 0);
}

// Read synchronously: a few hundred small files cost a few milliseconds
// this way, several times more through the thread pool's round trips.
const readBuffer = Buffer.alloc(MAX_FILE_BYTES + 1);
function readSmall(file) {
  const fd = openSync(file, 'r');
  try {
    const bytesRead = readSync(fd, readBuffer, 0, readBuffer.length, 0);
    return bytesRead > MAX_FILE_BYTES ? null : readBuffer.toString('utf8', 0, bytesRead);
  } finally {
    closeSync(fd);
  }
}

// Every shown application. An id found in an earlier folder hides the same
// id in later ones, whether or not the earlier entry is itself shown.
export async function scanApplications(env) {
  const suffixes = localeSuffixes(env);
  const desktops = (env.XDG_CURRENT_DESKTOP ?? '').split(':').filter(Boolean);
  const roots = applicationDirs(env);
  const dirs = [];
  const seen = new Set();
  const pending = [];
  for (const root of roots) {
    const files = [];
    await listDir(root, dirs, files);
    for (const f of files) {
      if (seen.has(f.id)) continue;
      seen.add(f.id);
      pending.push(f);
    }
  }
  const entries = new Array(pending.length);
  let next = 0;
  async function worker() {
    while (next < pending.length) {
      const index = next++;
      const { id, file } = pending[index];
      try {
        const text = readSmall(file);
        if (text !== null) entries[index] = (await parseEntry(text, { id, file, env, suffixes, desktops })).entry;
      } catch {
        // Unreadable or vanished: not shown.
      }
    }
  }
  await Promise.all(Array.from({ length: READ_CONCURRENCY }, worker));
  return { apps: entries.filter(Boolean), roots, dirs };
}

function dirSignature(dir) {
  const s = statSync(dir, { throwIfNoEntry: false });
  return s ? `${s.ino}:${s.mtimeMs}` : '-';
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
    if (cache.dirs.every(({ dir, sig }) => dirSignature(dir) === sig)) return cache.result;
  }
  const current = { key, dirs: [] };
  current.pending = scanApplications(env).then((result) => {
    current.dirs = result.dirs;
    current.result = result;
    return result;
  }).finally(() => {
    delete current.pending;
  });
  cache = current;
  return current.pending;
}
