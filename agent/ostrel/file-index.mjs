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

const SEPARATOR_CHARS = ' \t-_.,()[]{}+';
// Tokens worth a typo: words of three letters or more, not numbers.
const TOKENS = /[^\n\s\-_.,()[\]{}+]{3,}/g;
const MAX_VOCABULARY = 200000;
const MAX_TYPO_WORDS = 8;

// 0 when w is not in the name, 1 when it is, 2 when a word starts with it.
function place(lower, w) {
  let at = lower.indexOf(w);
  if (at === -1) return 0;
  for (; at !== -1; at = lower.indexOf(w, at + 1)) {
    if (at === 0 || SEPARATOR_CHARS.includes(lower[at - 1])) return 2;
  }
  return 1;
}

// How well a lower-case file name matches the query words (all of which
// must occur in it); 0 when it does not. Cheap for the common case: most
// names are scored without being split.
export function scoreName(lower, words) {
  let starts = true;
  for (const w of words) {
    const p = place(lower, w);
    if (p === 0) return 0;
    if (p === 1) starts = false;
  }
  if (!starts) return FILE_SCORE.substring;
  if (!lower.startsWith(words[0])) return FILE_SCORE.words;
  if (words.length === 1) {
    const rest = lower.slice(words[0].length);
    return rest === '' || (rest[0] === '.' && !rest.includes('.', 1)) ? FILE_SCORE.exact : FILE_SCORE.prefix;
  }
  const query = words.join(' ');
  const dot = lower.lastIndexOf('.');
  const stem = (dot > 0 ? lower.slice(0, dot) : lower).split(SEPARATORS).filter(Boolean).join(' ');
  if (stem === query || lower.split(SEPARATORS).filter(Boolean).join(' ') === query) return FILE_SCORE.exact;
  return stem.startsWith(query) ? FILE_SCORE.prefix : FILE_SCORE.words;
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
  // roots: absolute folders; none inside another. Without watch, changes
  // are found by the folders' modification times alone.
  constructor(roots, { maxNames = MAX_NAMES, watch: useWatch = true } = {}) {
    this.roots = roots;
    this.maxNames = maxNames;
    this.useWatch = useWatch;
    this.folders = new Map(); // folder -> { names, lower, count, depth, subdirs, watcher }
    this.count = 0;
    // Words of the names with how many folders use each, for typos.
    this.vocabulary = new Map();
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
    this.vocabulary.clear();
    this.dirty.clear();
    this.unwatched.clear();
  }

  #watch(dir) {
    try {
      if (!this.useWatch) throw new Error('not watching');
      const watcher = watch(dir, { persistent: false }, () => this.dirty.add(dir));
      watcher.on('error', () => {
        watcher.close();
        const rec = this.folders.get(dir);
        if (rec?.watcher === watcher) rec.watcher = null;
        this.dirty.add(dir);
      });
      return watcher;
    } catch {
      const s = statSync(dir, { throwIfNoEntry: false });
      this.unwatched.set(dir, s ? s.mtimeMs : -1);
      return null;
    }
  }

  #words(lower, add) {
    for (const word of new Set(lower.match(TOKENS))) {
      if (/^\d+$/.test(word)) continue;
      const n = (this.vocabulary.get(word) ?? 0) + (add ? 1 : -1);
      if (n <= 0) this.vocabulary.delete(word);
      else if (n > 1 || this.vocabulary.size < MAX_VOCABULARY) this.vocabulary.set(word, n);
    }
  }

  #drop(dir) {
    const rec = this.folders.get(dir);
    if (!rec) return;
    for (const sub of rec.subdirs) this.#drop(path.join(dir, sub));
    rec.watcher?.close();
    this.#words(rec.lower, false);
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
      this.unwatched.delete(dir);
      return [];
    }
    if (this.closed) {
      watcher?.close();
      return [];
    }
    if (old) {
      this.count -= old.count;
      this.#words(old.lower, false);
    }
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
    this.#words(rec.lower, true);
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
    let hits = this.#scan([longest], limit, (lower) => scoreName(lower, words));
    if (hits.length === 0 && words.length === 1 && longest.length >= 4) hits = this.#typos(longest, limit);
    return hits.map(({ dir, rec, start, end, score }) => ({ dir, name: rec.names.slice(start, end), score }));
  }

  // The best limit names holding any of the needles, best first: higher
  // score, then shorter name, then folder. Only those are kept, and only the shown ones
  // are cut out of their folder's string.
  #scan(needles, limit, scoreOf) {
    const top = [];
    const worse = (score, length, dir, hit) => score < hit.score
      || (score === hit.score && (length > hit.end - hit.start || (length === hit.end - hit.start && dir >= hit.dir)));
    for (const [dir, rec] of this.folders) {
      const { lower } = rec;
      const seen = needles.length > 1 ? new Set() : null;
      for (const needle of needles) {
        for (let pos = lower.indexOf(needle); pos !== -1;) {
          const start = lower.lastIndexOf('\n', pos) + 1;
          const end = lower.indexOf('\n', pos);
          pos = lower.indexOf(needle, end);
          if (seen?.has(start)) continue;
          seen?.add(start);
          const score = scoreOf(lower.slice(start, end), needle);
          if (!score || (top.length === limit && worse(score, end - start, dir, top[limit - 1]))) continue;
          let at = top.length;
          while (at > 0 && !worse(score, end - start, dir, top[at - 1])) at -= 1;
          top.splice(at, 0, { dir, rec, start, end, score });
          if (top.length > limit) top.pop();
        }
      }
    }
    return top;
  }

  // Names with a word one or two edits from the query: the nearest words
  // of the vocabulary, then the names in which a word starts with one.
  #typos(word, limit) {
    const budget = word.length >= 7 ? 2 : 1;
    const near = new Map();
    for (const token of this.vocabulary.keys()) {
      if (Math.abs(token.length - word.length) > budget) continue;
      const d = editDistance(word, token, budget);
      if (d <= budget) near.set(token, d === 1 ? FILE_SCORE.typo1 : FILE_SCORE.typo2);
    }
    const needles = [...near.keys()].sort((a, b) => near.get(b) - near.get(a)).slice(0, MAX_TYPO_WORDS);
    if (needles.length === 0) return [];
    return this.#scan(needles, limit, (lower, needle) => (place(lower, needle) === 2 ? near.get(needle) : 0));
  }
}
