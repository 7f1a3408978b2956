// An index of the user's file names for "find X": every folder under the
// roots (home and the user directories) is listed once, and listed again
// when inotify says it changed. Hidden entries, caches and build trees are
// left out, symbolic links are not followed, and the number of names kept
// is bounded. Each folder keeps its names as two strings, as written and in
// lower case, one name a line, so a search is a few indexOf calls per folder.

import { watch, statSync } from 'node:fs';
import { readdir } from 'node:fs/promises';
import path from 'node:path';
import { editDistance } from './match.mjs';

export const MAX_NAMES = 300000;
const MAX_DEPTH = 20;
const LIST_CONCURRENCY = 8;
// Folder names whose contents are generated, not the user's.
const SKIP_DIRS = new Set(['node_modules', '__pycache__', 'CMakeFiles', 'site-packages', 'bower_components', 'lost+found']);
// A folder holding one of these is a cache, build tree or virtual environment.
const TREE_MARKERS = ['CACHEDIR.TAG', 'CMakeCache.txt', 'pyvenv.cfg'];

export const FILE_SCORE = { exact: 100, prefix: 90, words: 80, substring: 70, typo1: 50, typo2: 40 };
const SEPARATORS = /[\s\-_.,()[\]{}+]+/;

// The words of a query or name, lower case.
export function wordsOf(text) {
  return String(text).toLowerCase().normalize('NFC').split(SEPARATORS).filter(Boolean);
}

// How well a lower-case file name matches the query words (all of which
// must occur in it); 0 when it does not.
export function scoreName(lower, words) {
  for (const w of words) if (!lower.includes(w)) return 0;
  const dot = lower.lastIndexOf('.');
  const stem = dot > 0 ? lower.slice(0, dot) : lower;
  const nameWords = stem.split(SEPARATORS).filter(Boolean);
  const query = words.join(' ');
  if (nameWords.join(' ') === query || lower === query) return FILE_SCORE.exact;
  const starts = words.every((w) => nameWords.some((n) => n.startsWith(w)));
  if (starts && nameWords.join(' ').startsWith(query)) return FILE_SCORE.prefix;
  return starts ? FILE_SCORE.words : FILE_SCORE.substring;
}

// A one-word query one or two edits from a word of the name.
export function typoScore(lower, word, budget = word.length >= 7 ? 2 : 1) {
  let best = budget + 1;
  for (const n of lower.split(SEPARATORS)) {
    if (n) best = Math.min(best, editDistance(word, n, budget));
    if (best === 1) break;
  }
  if (best > budget) return 0;
  return best === 1 ? FILE_SCORE.typo1 : FILE_SCORE.typo2;
}

export class FileIndex {
  // roots: absolute folders; none inside another.
  constructor(roots, { maxNames = MAX_NAMES } = {}) {
    this.roots = roots;
    this.maxNames = maxNames;
    this.folders = new Map(); // folder -> { names, lower, count, depth, subdirs, watcher }
    this.count = 0;
    this.truncated = false;
    this.dirty = new Set();
    this.unwatched = new Map(); // folder -> modification stamp, for when inotify is out of watches
    this.closed = false;
    this.building = true;
    this.ready = this.#walk(roots.map((dir) => ({ dir, depth: 0 }))).finally(() => { this.building = false; });
  }

  close() {
    this.closed = true;
    for (const rec of this.folders.values()) rec.watcher?.close();
    this.folders.clear();
    this.dirty.clear();
    this.unwatched.clear();
  }

  #watch(dir) {
    try {
      const watcher = watch(dir, { persistent: false }, () => this.dirty.add(dir));
      watcher.on('error', () => {
        this.dirty.add(dir);
        watcher.close();
      });
      return watcher;
    } catch {
      const s = statSync(dir, { throwIfNoEntry: false });
      this.unwatched.set(dir, s ? s.mtimeMs : -1);
      return null;
    }
  }

  #drop(dir) {
    const rec = this.folders.get(dir);
    if (!rec) return;
    for (const sub of rec.subdirs) this.#drop(path.join(dir, sub));
    rec.watcher?.close();
    this.count -= rec.count;
    this.folders.delete(dir);
    this.unwatched.delete(dir);
    this.dirty.delete(dir);
  }

  // Lists one folder into the index; returns the subfolders to walk.
  async #list(dir, depth) {
    if (this.closed) return [];
    const old = this.folders.get(dir);
    // Watched before listing, so a change during the listing is not missed.
    const watcher = old?.watcher ?? this.#watch(dir);
    let entries;
    try {
      entries = await readdir(dir, { withFileTypes: true });
    } catch {
      watcher?.close();
      if (old) this.#drop(dir);
      return [];
    }
    if (this.closed) {
      watcher?.close();
      return [];
    }
    if (old) this.count -= old.count;
    const marked = entries.some((e) => TREE_MARKERS.includes(e.name));
    const names = [];
    const subdirs = new Set();
    for (const e of marked ? [] : entries) {
      if (e.name.startsWith('.') || e.name.includes('\n')) continue;
      const isDir = e.isDirectory();
      if (isDir && SKIP_DIRS.has(e.name)) continue;
      if (this.count + names.length >= this.maxNames) {
        this.truncated = true;
        break;
      }
      names.push(e.name);
      if (isDir && depth < MAX_DEPTH) subdirs.add(e.name);
    }
    // Lower case only where it keeps the length, so one offset serves both.
    const lower = names.map((n) => {
      const l = n.toLowerCase();
      return l.length === n.length ? l : n;
    });
    const rec = {
      names: `\n${names.join('\n')}\n`, lower: `\n${lower.join('\n')}\n`, count: names.length, depth, subdirs, watcher,
    };
    this.folders.set(dir, rec);
    this.count += names.length;
    for (const sub of old?.subdirs ?? []) if (!subdirs.has(sub)) this.#drop(path.join(dir, sub));
    const walk = [];
    for (const sub of subdirs) {
      const full = path.join(dir, sub);
      if (!this.folders.has(full)) walk.push({ dir: full, depth: depth + 1 });
    }
    return walk;
  }

  async #walk(queue) {
    const worker = async () => {
      while (queue.length && !this.closed) {
        const { dir, depth } = queue.pop();
        queue.push(...(await this.#list(dir, depth)));
      }
    };
    // Workers stop when the queue is momentarily empty while others still
    // list; the loop restarts them until nothing is left.
    while (queue.length && !this.closed) await Promise.all(Array.from({ length: LIST_CONCURRENCY }, worker));
  }

  // Lists again the folders that changed since the last call.
  async refresh() {
    if (this.refreshing) return this.refreshing;
    for (const [dir, stamp] of this.unwatched) {
      const s = statSync(dir, { throwIfNoEntry: false });
      if ((s ? s.mtimeMs : -1) !== stamp) {
        this.unwatched.set(dir, s ? s.mtimeMs : -1);
        this.dirty.add(dir);
      }
    }
    if (this.dirty.size === 0) return undefined;
    const changed = [...this.dirty].filter((dir) => this.folders.has(dir));
    this.dirty.clear();
    this.refreshing = this.#walk(changed.map((dir) => ({ dir, depth: this.folders.get(dir).depth })))
      .finally(() => { this.refreshing = null; });
    return this.refreshing;
  }

  // [{ dir, name, score }] for the query words, best first, at most limit.
  search(words, limit = 20) {
    if (words.length === 0) return [];
    const longest = words.reduce((a, b) => (b.length > a.length ? b : a));
    const hits = [];
    for (const [dir, rec] of this.folders) {
      for (let pos = rec.lower.indexOf(longest); pos !== -1;) {
        const start = rec.lower.lastIndexOf('\n', pos) + 1;
        const end = rec.lower.indexOf('\n', pos);
        const score = scoreName(rec.lower.slice(start, end), words);
        if (score) hits.push({ dir, name: rec.names.slice(start, end), score });
        pos = rec.lower.indexOf(longest, end);
      }
    }
    if (hits.length === 0 && words.length === 1 && longest.length >= 4) this.#typos(longest, hits);
    hits.sort((a, b) => b.score - a.score || a.name.length - b.name.length || (a.dir < b.dir ? -1 : 1));
    return hits.slice(0, limit);
  }

  #typos(word, hits) {
    const budget = word.length >= 7 ? 2 : 1;
    for (const [dir, rec] of this.folders) {
      let start = 1;
      while (start < rec.lower.length) {
        const end = rec.lower.indexOf('\n', start);
        const lower = rec.lower.slice(start, end);
        const score = typoScore(lower, word, budget);
        if (score) hits.push({ dir, name: rec.names.slice(start, end), score });
        start = end + 1;
      }
    }
  }
}
