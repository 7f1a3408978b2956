// Forgiving ranked matching of what the user typed against names: the
// application and window skills share it so that "firefx", "fire",
// "Firefox" and "web browser" find the same thing in both.
//
// Every word of the request is looked up on its own in the candidates'
// fields (names, program and class ids, generic names, keywords, everyday
// category words, comments); a candidate's score adds up its best match for
// each word, plus a bonus when the whole request is one of its names.

// A copy that does not keep the text it was cut from alive: names are cut
// out of whole desktop files, which the list must not hold on to. Slicing
// a concatenation makes V8 copy the characters into a string of its own.
// A string built up piece by piece is a chain of pieces until flattened:
// the copy is flat.
export function own(text) {
  return ` ${text}`.slice(1);
}

export function normalize(text) {
  return String(text ?? '').toLowerCase().normalize('NFC').replace(/\s+/g, ' ').trim();
}

// Optimal-string-alignment distance (edits, with a swap of neighbours as
// one edit), giving up as soon as it must exceed max: most candidates are
// nowhere near, and this runs for many words on every request. The three
// rows are reused between calls.
let rows = [new Int32Array(64), new Int32Array(64), new Int32Array(64)];
export function editDistance(a, b, max = Infinity) {
  if (Math.abs(a.length - b.length) > max) return max + 1;
  if (a === b) return 0;
  const n = b.length;
  if (rows[0].length <= n) rows = [0, 1, 2].map(() => new Int32Array(n * 2 + 2));
  let [prev2, prev, cur] = rows;
  for (let j = 0; j <= n; j += 1) prev[j] = j;
  for (let i = 1; i <= a.length; i += 1) {
    cur[0] = i;
    let rowMin = i;
    const ca = a.charCodeAt(i - 1);
    for (let j = 1; j <= n; j += 1) {
      const cb = b.charCodeAt(j - 1);
      let d = prev[j - 1] + (ca === cb ? 0 : 1);
      if (prev[j] + 1 < d) d = prev[j] + 1;
      if (cur[j - 1] + 1 < d) d = cur[j - 1] + 1;
      if (i > 1 && j > 1 && ca === b.charCodeAt(j - 2) && a.charCodeAt(i - 2) === cb && prev2[j - 2] + 1 < d) d = prev2[j - 2] + 1;
      cur[j] = d;
      if (d < rowMin) rowMin = d;
    }
    if (rowMin > max) return max + 1;
    [prev2, prev, cur] = [prev, cur, prev2];
  }
  return prev[n];
}

// Edits allowed for a word of this length: short words are too easy to
// mistake for each other.
function typoBudget(length) {
  if (length >= 7) return 2;
  if (length >= 4) return 1;
  return 0;
}

// Hyphens, underscores, dots and path separators part words as spaces do:
// "shopping-list.txt" is "shopping list txt".
const SEPARATORS = /[\s\-_.:/\\()!?,;'"’“”«»[\]{}|+*&]+/;
const splitWords = (normalized) => normalized.split(SEPARATORS).filter(Boolean);
export function wordsOf(text) {
  return splitWords(normalize(text));
}

// Words that are no part of a name: "open a terminal", "the browser please".
const FILLER = new Set(['a', 'an', 'the', 'my', 'please', 'app', 'apps', 'application', 'program', 'some', 'me']);
const COMMON = new Set(['and', 'for', 'with', 'your', 'you', 'from', 'of', 'to', 'in', 'on', 'or']);
const FILLER_OR_SHORT = (word) => word.length < 3 || FILLER.has(word) || COMMON.has(word);
const SETTINGS_WORDS = new Set(['settings', 'setting', 'preferences', 'preference', 'prefs', 'configure', 'configuration', 'config', 'options']);

// Requests are cut to this many words of this length: a 2,000-character
// sentence costs what a short one does.
const MAX_WORDS = 8;
const MAX_WORD = 40;

const KINDS = ['name', 'id', 'generic', 'keyword', 'concept', 'comment'];
// Points for one word of the request by the kind of field it matched and
// how: the whole word, the start of a word, inside a word, or one or two
// typos away.
const POINTS = {
  name: { exact: 10, prefix: 8, inner: 4, typo1: 6, typo2: 4 },
  id: { exact: 9, prefix: 6, inner: 0, typo1: 5, typo2: 3 },
  generic: { exact: 7, prefix: 5, inner: 0, typo1: 5, typo2: 3 },
  keyword: { exact: 7, prefix: 5, inner: 0, typo1: 4, typo2: 0 },
  concept: { exact: 7, prefix: 5, inner: 0, typo1: 5, typo2: 3 },
  comment: { exact: 3, prefix: 0, inner: 0, typo1: 0, typo2: 0 },
};
// The same, by how the word matched, in the order of KINDS.
const POINTS_BY_MATCH = Object.fromEntries(['exact', 'prefix', 'inner', 'typo1', 'typo2'].map((m) => [m, KINDS.map((kind) => POINTS[kind][m])]));
// Bonus when the whole request is one field (or the start of a name).
const PHRASE = { nameExact: 30, idExact: 25, namePrefix: 20, generic: 12, concept: 12, keyword: 6 };
const MISSED_WORD = 5;
const MAX_RANKED = 20;
const HELPER_FACTOR = 0.5;

const seenWords = new Set();
const NONE = Object.freeze([]);
function normalizedList(list, extra = NONE) {
  if (list.length === 0 && extra.length === 0) return NONE;
  const out = [];
  for (const value of list) {
    const v = normalize(value);
    if (v && !out.includes(v)) out.push(v);
  }
  for (const v of extra) if (!out.includes(v)) out.push(v);
  // A pushed-to array keeps room for more; the copy is only as long as it is.
  return out.length ? out.slice() : NONE;
}

// Prepared fields of one candidate, normalized once when the list is built.
// names: shown names (window titles too); ids: program, file or class
// names, kept whole; generic, keywords, concepts (everyday words for what
// the application is), comments. A settings dialog ranks below the
// applications unless settings are asked for; an entry whose parent (the
// command it adds options to) matches too ranks below that parent.
export function prepare({ names = [], ids = [], generic = [], keywords = [], concepts = [], comments = [], command = '', settings = false, cover = true }) {
  // normalize() makes new strings, so nothing here holds on to a file's text.
  // Comments are only looked at word by word, so only their words are kept.
  const fields = {
    name: normalizedList(names), id: normalizedList(ids), generic: normalizedList(generic),
    keyword: normalizedList(keywords), concept: normalizedList(concepts, settings ? SETTINGS_WORDS : NONE),
  };
  const comment = normalizedList(comments);
  // Each distinct word once per kind: words[i] found in a field of kinds[i].
  const words = [];
  const kinds = [];
  for (let k = 0; k < KINDS.length; k += 1) {
    const kind = KINDS[k];
    seenWords.clear();
    for (const value of fields[kind] ?? comment) {
      for (const word of kind === 'id' ? [value] : splitWords(value)) {
        if (seenWords.has(word) || (kind === 'comment' && FILLER_OR_SHORT(word))) continue;
        seenWords.add(word);
        words.push(word);
        kinds.push(k);
      }
    }
  }
  // cover: prefer, among equals, the name the request covers most (not for
  // windows, where equal matches go to the one used last).
  let nameWords = 0;
  for (let i = 0; cover && i < words.length && kinds[i] === 0; i += 1) nameWords += 1;
  fields.words = words;
  fields.kinds = kinds;
  fields.nameWords = nameWords;
  fields.command = command;
  // The list sets the command this one adds options to, once it knows them all.
  fields.parent = '';
  fields.settings = settings;
  return fields;
}

// Word -> postings (entry * KINDS.length + kind), with the words sorted
// (for the words a request word starts), by their first and by their
// second letter (for typos), and by the three-letter runs in them (for
// words a request word is inside of). A list is ranked through one or more
// such indexes: the application list has one per folder, so that a folder
// that changed is indexed again alone; each comes with the position in the
// list of its entries (-1 for an entry not in it). Lists are replaced,
// never changed.
const indexes = new WeakMap();

// Besides the words, each whole field value (phrases: entry * 8 + its kind
// of phrase) and the names sorted, for the bonus of a request that is a
// whole field or the start of a name.
const PHRASE_KINDS = ['name', 'id', 'generic', 'concept', 'keyword'];
export function newIndex() {
  return {
    postings: new Map(), phrases: new Map(), count: 0,
    words: null, names: null, byFirst: new Map(), bySecond: new Map(), byRun: new Map(),
  };
}

// Most words and phrases belong to one entry: their posting is kept as a
// number, not as a list of one, which a long list has tens of thousands of.
function addPosting(map, key, posting) {
  const list = map.get(key);
  if (list === undefined) map.set(key, posting);
  else if (typeof list === 'number') map.set(key, [list, posting]);
  else list.push(posting);
}
const postingsOf = (list) => (list === undefined ? NONE : typeof list === 'number' ? [list] : list);

// Adds one candidate's words; returns its number in the index. The words
// are not needed once indexed.
export function addToIndex(index, fields) {
  const { postings } = index;
  const base = index.count * KINDS.length;
  index.count += 1;
  const { words, kinds } = fields;
  for (let w = 0; w < words.length; w += 1) {
    addPosting(postings, words[w], base + kinds[w]);
  }
  const entry = index.count - 1;
  for (let k = 0; k < PHRASE_KINDS.length; k += 1) {
    for (const value of fields[PHRASE_KINDS[k]]) {
      addPosting(index.phrases, value, entry * 8 + k);
    }
  }
  return entry;
}

function addBuckets(index, from, to) {
  const put = (map, key, word) => {
    const list = map.get(key);
    if (list) list.push(word);
    else map.set(key, [word]);
  };
  for (let i = from; i < to; i += 1) {
    const word = index.words[i];
    // Numbers are only ever matched whole or by their start.
    if (/^\d+$/.test(word)) continue;
    put(index.byFirst, word[0], word);
    if (word.length > 1) put(index.bySecond, word[1], word);
    const runs = new Set();
    for (let k = 0; k + 3 <= word.length; k += 1) runs.add(word.slice(k, k + 3));
    for (const run of runs) put(index.byRun, run, word);
  }
}

function sortWords(index) {
  index.words = [...index.postings.keys()].sort();
  const names = [];
  for (const [value, list] of index.phrases) if (postingsOf(list).some((p) => p % 8 === 0)) names.push(value);
  index.names = names.sort();
}

// The first place in sorted where text is or would be.
function lowerBound(sorted, text) {
  let lo = 0;
  let hi = sorted.length;
  while (lo < hi) {
    const mid = (lo + hi) >> 1;
    if (sorted[mid] < text) lo = mid + 1;
    else hi = mid;
  }
  return lo;
}

// Makes the lookup tables once every candidate is in, in slices of sliceMs
// with pause() awaited between them, so that a long list never holds up
// other requests for long.
export async function finishIndex(index, { sliceMs, pause }) {
  sortWords(index);
  const count = index.words.length;
  for (let from = 0; from < count;) {
    const sliceStart = performance.now();
    let to = from;
    while (to < count && performance.now() - sliceStart < sliceMs) {
      addBuckets(index, to, Math.min(count, to + 100));
      to = Math.min(count, to + 100);
    }
    from = to;
    if (from < count) await pause();
  }
  return index;
}

// parts: [{ index, positions }], positions an Int32Array from the index's
// entry numbers to places in items.
export function useIndexes(items, parts) {
  indexes.set(items, parts);
}

// A list not indexed beforehand is indexed in one go when first ranked.
function indexesOf(items) {
  if (indexes.has(items)) return indexes.get(items);
  const index = newIndex();
  for (const item of items) addToIndex(index, item.fields);
  sortWords(index);
  addBuckets(index, 0, index.words.length);
  const parts = [{ index, positions: null }];
  indexes.set(items, parts);
  return parts;
}

// The words of the index that a request word may match at all: those it
// starts, those it is inside of, and those a typo away could be.
function candidatesFor(index, qw, numeric) {
  const { words } = index;
  const out = new Set();
  for (let i = lowerBound(words, qw); i < words.length && words[i].startsWith(qw); i += 1) out.add(words[i]);
  if (numeric || qw.length < 3) return out;
  for (const word of index.byRun.get(qw.slice(0, 3)) ?? []) out.add(word);
  for (const list of [index.byFirst.get(qw[0]), index.bySecond.get(qw[1]), index.byFirst.get(qw[1])]) {
    for (const word of list ?? []) if (Math.abs(word.length - qw.length) <= 2) out.add(word);
  }
  return out;
}

// The request as words to look up, and as the phrase compared with whole fields.
export function queryOf(text) {
  const all = wordsOf(String(text ?? '').slice(0, MAX_WORDS * (MAX_WORD + 1))).map((w) => w.slice(0, MAX_WORD));
  const kept = all.filter((w) => !FILLER.has(w));
  const words = [...new Set(kept.length ? kept : all)].slice(0, MAX_WORDS);
  return { words, phrase: words.join(' '), raw: normalize(text).slice(0, 200), settings: words.some((w) => SETTINGS_WORDS.has(w)) };
}

function how(query, word, numeric) {
  if (word === query) return 'exact';
  if (query.length >= 2 && word.startsWith(query)) return 'prefix';
  // A number is never mistyped for another: "app 7" is not "app 8", nor
  // "app 17".
  if (numeric) return null;
  if (query.length >= 3 && word.includes(query)) return 'inner';
  // A three-letter word may have lost one letter ("tol" for "tool").
  const budget = query.length === 3 && word.length === 4 ? 1 : typoBudget(query.length);
  if (budget === 0 || Math.abs(query.length - word.length) > budget) return null;
  // A typo leaves the first or the second letter in place, or swaps the two;
  // the far costlier distance is worked out only for such words.
  const [q0, q1] = [query.charCodeAt(0), query.charCodeAt(1)];
  const [w0, w1] = [word.charCodeAt(0), word.charCodeAt(1)];
  if (q0 !== w0 && q1 !== w1 && !(q0 === w1 && q1 === w0)) return null;
  const d = editDistance(query, word, budget);
  if (d > budget) return null;
  return d === 1 ? 'typo1' : 'typo2';
}

// Bonus of each item the whole request is a field of, or the start of a
// name of: the best of its phrases.
const PHRASE_POINTS = [PHRASE.nameExact, PHRASE.idExact, PHRASE.generic, PHRASE.concept, PHRASE.keyword];
function phraseBonuses(query, parts, count) {
  const { phrase, raw } = query;
  const bonus = new Uint8Array(count);
  const give = (positions, entry, points) => {
    const itemIndex = positions ? positions[entry] : entry;
    if (itemIndex >= 0 && points > bonus[itemIndex]) bonus[itemIndex] = points;
  };
  for (const { index, positions } of parts) {
    const { names } = index;
    for (let i = lowerBound(names, phrase); i < names.length && names[i].startsWith(phrase); i += 1) {
      for (const p of postingsOf(index.phrases.get(names[i]))) if (p % 8 === 0) give(positions, Math.floor(p / 8), PHRASE.namePrefix);
    }
    for (const text of phrase === raw ? [phrase] : [phrase, raw]) {
      for (const p of postingsOf(index.phrases.get(text))) {
        const k = p % 8;
        // The raw request counts only as a whole name or id.
        if (text === phrase || k <= 1) give(positions, Math.floor(p / 8), PHRASE_POINTS[k]);
      }
    }
  }
  return bonus;
}

// Per item: the words of its name, and whether it is a settings dialog,
// gathered once per list so that scoring a request that matches every
// entry runs over two flat arrays.
const traitLists = new WeakMap();
function traitsOf(items) {
  if (traitLists.has(items)) return traitLists.get(items);
  const nameWords = new Uint8Array(items.length);
  const settings = new Uint8Array(items.length);
  for (let i = 0; i < items.length; i += 1) {
    nameWords[i] = Math.min(255, items[i].fields.nameWords);
    settings[i] = items[i].fields.settings ? 1 : 0;
  }
  const traits = { nameWords, settings };
  traitLists.set(items, traits);
  return traits;
}

// The candidates sharing the best score: top holds the first MAX_RANKED of
// them, in the order of items, tied how many there are, score that score;
// sure says whether the first one matched every word by name or id well
// enough to be opened from a bare sentence.
// The last answer is kept: "open X" asks the same of the same list twice
// (is X a file, is it an application).
let last = { query: null, items: null, result: null };
export function rank(query, items) {
  if (typeof query === 'string' && last.query === query && last.items === items) return last.result;
  const result = rankAnew(query, items);
  if (typeof query === 'string') last = { query, items, result };
  return result;
}

function rankAnew(query, items) {
  const q = typeof query === 'string' ? queryOf(query) : query;
  const none = { top: [], tied: 0, score: 0, sure: false };
  if (q.words.length === 0 || items.length === 0) return none;
  const parts = indexesOf(items);
  const n = q.words.length;
  // Per item and word of the request: best points, kinds of field matched
  // whole or by their start (bits), and whether the match was sure.
  const points = new Float32Array(items.length * n);
  const kindBits = new Uint8Array(items.length * n);
  const sure = new Uint8Array(items.length * n);
  const touched = [];
  q.words.forEach((qw, wi) => {
    const numeric = /\d/.test(qw);
    for (const { index, positions } of parts) {
      for (const word of candidatesFor(index, qw, numeric)) {
        const kindOfMatch = how(qw, word, numeric);
        if (!kindOfMatch) continue;
        const pointsByKind = POINTS_BY_MATCH[kindOfMatch];
        const whole = kindOfMatch === 'exact' || kindOfMatch === 'prefix';
        // Sure: the whole or the start of a name or id word, or one typo in
        // a long word; bare sentences need that before they open anything.
        const sureMatch = whole || (kindOfMatch === 'typo1' && qw.length >= 5);
        for (const posting of postingsOf(index.postings.get(word))) {
          const entry = Math.floor(posting / KINDS.length);
          const itemIndex = positions ? positions[entry] : entry;
          if (itemIndex < 0) continue;
          const k = posting % KINDS.length;
          const got = pointsByKind[k];
          if (got === 0) continue;
          const cell = itemIndex * n + wi;
          if (points[cell] === 0) touched.push(itemIndex);
          if (whole) kindBits[cell] |= 1 << k;
          if (got > points[cell]) points[cell] = got;
          if (sureMatch && k <= 1) sure[cell] = 1;
        }
      }
    }
  });
  const needed = n - Math.floor(n / 3);
  const bonus = phraseBonuses(q, parts, items.length);
  const traits = traitsOf(items);
  // Scores of the candidates that matched enough words, NaN elsewhere.
  const scores = new Float64Array(items.length).fill(Number.NaN);
  const allSure = new Uint8Array(items.length);
  const passed = [];
  const done = new Uint8Array(items.length);
  for (const itemIndex of touched) {
    if (done[itemIndex]) continue;
    done[itemIndex] = 1;
    const base = itemIndex * n;
    let matched = 0;
    let total = 0;
    let exactNameWords = 0;
    let everySure = 1;
    for (let wi = 0; wi < n; wi += 1) {
      const got = points[base + wi];
      if (got > 0) matched += 1;
      if (!sure[base + wi]) everySure = 0;
      total += got;
      // A word found in several kinds of field is stronger evidence.
      let extra = -1;
      for (let bits = kindBits[base + wi]; bits; bits &= bits - 1) extra += 1;
      total += Math.min(2, Math.max(0, extra));
      if (kindBits[base + wi] & 1 && got === POINTS.name.exact) exactNameWords += 1;
    }
    if (matched < needed) continue;
    total += bonus[itemIndex] - (n - matched) * MISSED_WORD;
    // Among names matched word for word, the one the request covers most.
    const nameWords = traits.nameWords[itemIndex];
    if (nameWords) total += (2 * Math.min(exactNameWords, nameWords)) / nameWords;
    if (traits.settings[itemIndex] && !q.settings) total *= HELPER_FACTOR;
    scores[itemIndex] = total;
    allSure[itemIndex] = matched === n && everySure;
    passed.push(itemIndex);
  }
  if (passed.length === 0) return none;
  // A helper whose application matched too ranks below it.
  for (const [helper, owners] of helpersOf(items)) {
    if (Number.isNaN(scores[helper]) || !owners.some((o) => !Number.isNaN(scores[o]))) continue;
    const f = items[helper].fields;
    if (!(f.settings && q.settings)) scores[helper] *= HELPER_FACTOR;
  }
  // Only the leaders are put in order, by a partial pass: a word every
  // entry has must not cost a sort of the whole list.
  let best = -Infinity;
  const leaders = [];
  const ahead = (a, b) => scores[a] > scores[b] || (scores[a] === scores[b] && a < b);
  for (const i of passed) {
    if (scores[i] > best) best = scores[i];
    if (leaders.length === MAX_RANKED && !ahead(i, leaders[MAX_RANKED - 1])) continue;
    let at = Math.min(leaders.length, MAX_RANKED - 1);
    leaders[at] = i;
    while (at > 0 && ahead(i, leaders[at - 1])) {
      leaders[at] = leaders[at - 1];
      leaders[at - 1] = i;
      at -= 1;
    }
  }
  // The leaders start with the best, first in the order of items.
  const top = leaders.filter((i) => scores[i] === best);
  let tied = 0;
  for (const i of passed) if (scores[i] === best) tied += 1;
  return {
    top: top.map((i) => items[i]),
    tied,
    score: best,
    sure: allSure[top[0]] === 1,
  };
}

// Entries that run another entry's command with options added, each with
// the entries whose command that is; found once per list.
const helperLists = new WeakMap();
function helpersOf(items) {
  if (helperLists.has(items)) return helperLists.get(items);
  const parents = new Map();
  for (const item of items) if (item.fields.parent) parents.set(item.fields.parent, []);
  const helpers = [];
  if (parents.size) {
    items.forEach((item, i) => {
      parents.get(item.fields.command)?.push(i);
    });
    items.forEach((item, i) => {
      if (item.fields.parent) helpers.push([i, parents.get(item.fields.parent)]);
    });
  }
  helperLists.set(items, helpers);
  return helpers;
}

// The nearest name by whole-name edit distance, for "did you mean";
// nothing further off than a third of the request's length counts, and a
// request longer than any name has none (null then).
export function closest(query, items) {
  const q = normalize(query);
  if (q.length > 32) return null;
  let best = null;
  let bestDistance = Math.floor(q.length / 3) + 1;
  for (const item of items) {
    for (const name of item.fields.name) {
      const d = editDistance(q, name, bestDistance - 1);
      if (d < bestDistance) {
        bestDistance = d;
        best = item;
      }
    }
  }
  return best;
}
