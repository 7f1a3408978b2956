// Finding and opening the user's files by a word of their name: "find my
// resume", "where is budget.ods", "open the tax return", "show notes.txt in
// the file manager". Matches come from the recently used files and from an
// index of the home folder and the user directories; a recently used file
// goes first unless another matches clearly better.

import { statSync, lstatSync, openSync, readSync, closeSync } from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { answer, row, single } from '../answer.mjs';
import { applications } from '../desktop.mjs';
import { rank } from '../match.mjs';
import { FileIndex, FILE_SCORE, wordsOf, scoreName, typoScore } from '../file-index.mjs';
import { userDirs, openWithDesktop } from './places.mjs';

const MAX_ROWS = 8;
const MAX_RECENT_BYTES = 4 * 1024 * 1024;
const MAX_RECENT = 1000;
const RECENT_BONUS = 15;
const MAX_WORDS = 6;
// How long a request waits for the index to be listed; after that it
// answers from what is listed so far.
const FIRST_WAIT_MS = 1500;

const LEAD = String.raw`^(?:please\s+)?`;
const TAIL = String.raw`(?:\s+please)?[\s.!?]*$`;
const WHAT = String.raw`(?:me\s+)?(?:the\s+|my\s+|a\s+)?(?:(?:files?|documents?|folders?)\s+)?(?:(?:called|named)\s+)?(.+?)(?:\s+(?:files?|documents?|folders?))?`;
const FIND = new RegExp(`${LEAD}(?:find|locate|search\\s+for|look\\s+for|where\\s+is|where's|where\\s+are)\\s+${WHAT}${TAIL}`, 'i');
const REVEAL = [
  new RegExp(`${LEAD}(?:show|reveal|open)\\s+${WHAT}\\s+in\\s+(?:the\\s+|a\\s+)?(?:file\\s+manager|files|its\\s+folder|folder)${TAIL}`, 'i'),
  new RegExp(`${LEAD}(?:open|show)\\s+(?:me\\s+)?the\\s+folder\\s+(?:of|with|containing|holding)\\s+${WHAT}${TAIL}`, 'i'),
];
// "open the file X", "open X file": a file even when an application matches.
const EXPLICIT = /^(?:the\s+)?(?:file|document)\s+(?:called\s+|named\s+)?(.+)$|^(.+?)\s+(?:file|document)$/i;

export function findTarget(sentence) {
  return FIND.exec(sentence)?.[1] ?? null;
}

export function revealTarget(sentence) {
  for (const re of REVEAL) {
    const m = re.exec(sentence);
    if (m) return m[1];
  }
  return null;
}

function dataHome(env) {
  return path.isAbsolute(env.XDG_DATA_HOME ?? '') ? env.XDG_DATA_HOME : path.join(env.HOME || '/', '.local', 'share');
}

const ENTITIES = { amp: '&', lt: '<', gt: '>', quot: '"', apos: "'" };
const unentity = (text) => text.replace(/&(amp|lt|gt|quot|apos);/g, (whole, name) => ENTITIES[name]);

// The bookmarks of recently-used.xbel that are local files, newest first.
function parseRecent(text) {
  const items = [];
  for (const m of text.matchAll(/<bookmark\s([^>]*)>/g)) {
    const attrs = Object.fromEntries([...m[1].matchAll(/([a-z]+)="([^"]*)"/g)].map(([, k, v]) => [k, unentity(v)]));
    if (!attrs.href?.startsWith('file://')) continue;
    let file;
    try {
      file = fileURLToPath(attrs.href);
    } catch {
      continue;
    }
    const time = Math.max(...['modified', 'visited', 'added'].map((k) => Date.parse(attrs[k] ?? '') || 0));
    const name = path.basename(file);
    if (name && !name.includes('\n')) items.push({ dir: path.dirname(file), name, lower: name.toLowerCase(), time });
  }
  items.sort((a, b) => b.time - a.time);
  return items.slice(0, MAX_RECENT);
}

let recentCache = null;
function recentFiles(env) {
  const file = path.join(dataHome(env), 'recently-used.xbel');
  let s;
  try {
    s = statSync(file, { throwIfNoEntry: false });
  } catch {
    return []; // a folder on the way that cannot be looked at, a link loop
  }
  if (!s?.isFile() || s.size > MAX_RECENT_BYTES) return [];
  const sig = `${file}:${s.ino}:${s.mtimeMs}:${s.size}`;
  if (recentCache?.sig === sig) return recentCache.items;
  const buffer = Buffer.alloc(s.size);
  let items = [];
  try {
    const fd = openSync(file, 'r');
    try {
      items = parseRecent(buffer.toString('utf8', 0, readSync(fd, buffer, 0, s.size, 0)));
    } finally {
      closeSync(fd);
    }
  } catch {
    // Unreadable: no recent files.
  }
  recentCache = { sig, items };
  return items;
}

// The folders to index: home and any user directory outside it.
export function indexRoots(env) {
  if (!path.isAbsolute(env.HOME ?? '') || env.HOME === '/') return [];
  const dirs = [...new Set([env.HOME, ...Object.values(userDirs(env))].map((d) => path.resolve(d)))]
    .filter((d) => d !== '/')
    .sort((a, b) => a.length - b.length);
  return dirs.filter((d, i) => !dirs.slice(0, i).some((outer) => d.startsWith(`${outer}/`)));
}

let current = null;
// The daemon's one index, made again when the folders it covers change.
export function fileIndex(env) {
  const roots = indexRoots(env);
  const key = roots.join('\u0000');
  if (current?.key !== key) {
    current?.index.close();
    current = { key, index: new FileIndex(roots) };
  }
  return current.index;
}

// The index brought up to date, waiting at most FIRST_WAIT_MS: for the
// first listing, or for a large folder tree that has just appeared.
async function settled(index) {
  let timer;
  const cap = new Promise((resolve) => { timer = setTimeout(resolve, FIRST_WAIT_MS); });
  await Promise.race([index.ready.then(() => index.refresh()), cap]);
  clearTimeout(timer);
}

// Matches for the query: recent files first, then the index; files that
// are gone are left out. [{ dir, name, score, recent, isDir }]
export async function findFiles(query, env, limit = MAX_ROWS) {
  // Single letters match nearly every name; of many words the longest few
  // decide.
  const words = [...new Set(wordsOf(query))].filter((w) => w.length >= 2).sort((a, b) => b.length - a.length).slice(0, MAX_WORDS);
  if (words.length === 0) return { hits: [], index: null };
  const index = fileIndex(env);
  await settled(index);
  const recent = recentFiles(env);
  let fromRecent = recent.map((r) => ({ ...r, score: scoreName(r.lower, words), recent: true })).filter((r) => r.score);
  let fromIndex = index.search(words, limit * 4);
  if (fromRecent.length === 0 && fromIndex.length === 0 && words.length === 1 && words[0].length >= 4) {
    fromRecent = recent.map((r) => ({ ...r, score: typoScore(r.lower, words[0]), recent: true })).filter((r) => r.score);
  }
  const seen = new Set(fromRecent.map((r) => path.join(r.dir, r.name)));
  fromIndex = fromIndex.filter((h) => !seen.has(path.join(h.dir, h.name)));
  // A recently used file goes before others that match about as well.
  const rankOf = (h) => h.score + (h.recent ? RECENT_BONUS : 0);
  const ranked = [...fromRecent, ...fromIndex].sort((a, b) => rankOf(b) - rankOf(a) || (b.time ?? 0) - (a.time ?? 0));
  const hits = [];
  for (const hit of ranked) {
    if (hits.length >= limit) break;
    const s = lstatSync(path.join(hit.dir, hit.name), { throwIfNoEntry: false });
    if (s) hits.push({ ...hit, isDir: s.isDirectory() });
  }
  return { hits, index };
}

function folderLabel(dir, env) {
  const home = env.HOME;
  if (home && home !== '/' && (dir === home || dir.startsWith(`${home}/`))) return `~${dir.slice(home.length)}`;
  return dir;
}

function notFound(query, index) {
  let why = `no name like it among ${index?.count} files in your home folder`;
  if (!index) why = 'type a word of its name, of two letters or more';
  else if (index.building) why = 'still looking through your files; ask again in a moment';
  return single(`No file called "${query}"`, why);
}

export async function findSkill(query, env) {
  const { hits, index } = await findFiles(query, env);
  if (hits.length === 0) return notFound(query, index);
  return answer(hits.map((h) => row(h.isDir ? `${h.name}/` : h.name,
    `${h.recent ? 'recent · ' : ''}in ${folderLabel(h.dir, env)}`)));
}

export async function revealSkill(query, env) {
  const { hits, index } = await findFiles(query, env, 1);
  if (hits.length === 0) return notFound(query, index);
  const [hit] = hits;
  const opened = await openWithDesktop(hit.dir, env);
  if (!opened.ok) return single(`Can't show ${hit.name}`, opened.why);
  return single(`Showing the folder of ${hit.name}`, folderLabel(hit.dir, env));
}

async function openHit(hit, env) {
  const full = path.join(hit.dir, hit.name);
  const opened = await openWithDesktop(full, env);
  if (!opened.ok) return single(`Can't open ${hit.name}`, opened.why);
  return single(`Opened ${hit.name}`, `in ${folderLabel(hit.dir, env)}`);
}

// "open X": a file when X names one and no application matches it as well
// (an application's name or word start wins over a file, a file's name or
// word start over an application's typo or keyword); null leaves it to the
// applications.
export async function openFileSkill(target, env) {
  const explicit = EXPLICIT.exec(target);
  if (explicit) {
    const query = explicit[1] ?? explicit[2];
    const { hits, index } = await findFiles(query, env, 1);
    return hits.length ? openHit(hits[0], env) : notFound(query, index);
  }
  const { apps } = await applications(env);
  // An application named by the words wins; one found only by what it is
  // ("open browser") gives way to a file of exactly that name.
  const { score, sure } = rank(target, apps);
  if (sure) return null;
  const { hits } = await findFiles(target, env, 1);
  if (hits.length === 0) return null;
  if (score > 0 && hits[0].score < FILE_SCORE.exact) return null;
  return openHit(hits[0], env);
}
