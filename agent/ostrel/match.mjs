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
export function own(text) {
  return text.length < 13 ? text : ` ${text}`.slice(1);
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
// Bonus when the whole request is one field (or the start of a name).
const PHRASE = { nameExact: 30, idExact: 25, namePrefix: 20, generic: 12, concept: 12, keyword: 6 };
const MISSED_WORD = 5;
const MAX_RANKED = 20;
const HELPER_FACTOR = 0.5;

// Prepared fields of one candidate, normalized once when the list is built.
// names: shown names (window titles too); ids: program, file or class
// names, kept whole; generic, keywords, concepts (everyday words for what
// the application is), comments. A settings dialog ranks below the
// applications unless settings are asked for; an entry whose parent (the
// command it adds options to) matches too ranks below that parent.
export function prepare({ names = [], ids = [], generic = [], keywords = [], concepts = [], comments = [], command = '', parent = '', settings = false, cover = true }) {
  // normalize() makes new strings, so nothing here holds on to a file's text.
  const norm = (list) => [...new Set(list.map(normalize).filter(Boolean))];
  const fields = {
    name: norm(names), id: norm(ids), generic: norm(generic), keyword: norm(keywords),
    concept: norm(settings ? [...concepts, ...SETTINGS_WORDS] : concepts), comment: norm(comments),
  };
  // Each distinct word once per kind: words[i] found in a field of kinds[i].
  const words = [];
  const kinds = [];
  for (let k = 0; k < KINDS.length; k += 1) {
    const kind = KINDS[k];
    const seen = new Set();
    for (const value of fields[kind]) {
      for (const word of kind === 'id' ? [value] : splitWords(value)) {
        if (seen.has(word) || (kind === 'comment' && FILLER_OR_SHORT(word))) continue;
        seen.add(word);
        words.push(word);
        kinds.push(k);
      }
    }
  }
  // cover: prefer, among equals, the name the request covers most (not for
  // windows, where equal matches go to the one used last).
  let nameWords = 0;
  for (let i = 0; cover && i < words.length && kinds[i] === 0; i += 1) nameWords += 1;
  return { ...fields, words, kinds, nameWords, command, parent, settings };
}

// Word -> postings, built once per list (lists are replaced, never
// changed). indexList builds it in slices of sliceMs, awaiting pause()
// between them, so that a long list never holds up other requests for long;
// a list not indexed beforehand is indexed in one go when first ranked.
const indexes = new WeakMap();

function addPostings(postings, items, from, to) {
  for (let i = from; i < to; i += 1) {
    const { words, kinds } = items[i].fields;
    for (let w = 0; w < words.length; w += 1) {
      const list = postings.get(words[w]);
      if (list) list.push(i * KINDS.length + kinds[w]);
      else postings.set(words[w], [i * KINDS.length + kinds[w]]);
    }
  }
}

// Besides the postings: the words sorted (for the words a request word
// starts), by their first and by their second letter (for typos), and by
// the three-letter runs in them (for words a request word is inside of).
function newIndex(postings) {
  return { postings, words: [...postings.keys()].sort(), byFirst: new Map(), bySecond: new Map(), byRun: new Map() };
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

async function inSlices(count, work, { sliceMs, pause }) {
  for (let from = 0; from < count;) {
    const sliceStart = performance.now();
    let to = from;
    while (to < count && performance.now() - sliceStart < sliceMs) {
      work(to, Math.min(count, to + 100));
      to = Math.min(count, to + 100);
    }
    from = to;
    if (from < count) await pause();
  }
}

export async function indexList(items, slicing) {
  const postings = new Map();
  await inSlices(items.length, (from, to) => addPostings(postings, items, from, to), slicing);
  const index = newIndex(postings);
  await inSlices(index.words.length, (from, to) => addBuckets(index, from, to), slicing);
  indexes.set(items, index);
  return index;
}

function indexOf(items) {
  if (indexes.has(items)) return indexes.get(items);
  const postings = new Map();
  addPostings(postings, items, 0, items.length);
  const index = newIndex(postings);
  addBuckets(index, 0, index.words.length);
  indexes.set(items, index);
  return index;
}

// The words of the index that a request word may match at all: those it
// starts, those it is inside of, and those a typo away could be.
function candidatesFor(index, qw, numeric) {
  const { words } = index;
  const out = new Set();
  let lo = 0;
  let hi = words.length;
  while (lo < hi) {
    const mid = (lo + hi) >> 1;
    if (words[mid] < qw) lo = mid + 1;
    else hi = mid;
  }
  for (let i = lo; i < words.length && words[i].startsWith(qw); i += 1) out.add(words[i]);
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

function phraseBonus(query, f) {
  const { phrase, raw } = query;
  let bonus = 0;
  for (const name of f.name) {
    if (name === phrase || name === raw) return PHRASE.nameExact;
    if (name.startsWith(phrase)) bonus = PHRASE.namePrefix;
  }
  if (f.id.includes(phrase) || f.id.includes(raw)) bonus = Math.max(bonus, PHRASE.idExact);
  if (f.generic.includes(phrase)) bonus = Math.max(bonus, PHRASE.generic);
  if (f.concept.includes(phrase)) bonus = Math.max(bonus, PHRASE.concept);
  if (f.keyword.includes(phrase)) bonus = Math.max(bonus, PHRASE.keyword);
  return bonus;
}

// The best candidates (up to MAX_RANKED) ranked best first, each with its
// score; equal scores keep the order of items. top holds all those sharing
// the best score, in the order of items; sure says whether
// the best one matched every word by name or id well enough to be opened
// from a bare sentence.
export function rank(query, items) {
  const q = typeof query === 'string' ? queryOf(query) : query;
  const none = { top: [], score: 0, ranked: [], sure: false };
  if (q.words.length === 0 || items.length === 0) return none;
  const index = indexOf(items);
  const { postings } = index;
  const n = q.words.length;
  // Per item and word of the request: best points, kinds of field matched
  // whole or by their start (bits), and whether the match was sure.
  const points = new Float32Array(items.length * n);
  const kindBits = new Uint8Array(items.length * n);
  const sure = new Uint8Array(items.length * n);
  const touched = [];
  q.words.forEach((qw, wi) => {
    const numeric = /\d/.test(qw);
    for (const word of candidatesFor(index, qw, numeric)) {
      const kindOfMatch = how(qw, word, numeric);
      if (!kindOfMatch) continue;
      const whole = kindOfMatch === 'exact' || kindOfMatch === 'prefix';
      // Sure: the whole or the start of a name or id word, or one typo in
      // a long word; bare sentences need that before they open anything.
      const sureMatch = whole || (kindOfMatch === 'typo1' && qw.length >= 5);
      for (const posting of postings.get(word)) {
        const itemIndex = Math.floor(posting / KINDS.length);
        const k = posting % KINDS.length;
        const got = POINTS[KINDS[k]][kindOfMatch];
        if (got === 0) continue;
        const cell = itemIndex * n + wi;
        if (points[cell] === 0) touched.push(itemIndex);
        if (whole) kindBits[cell] |= 1 << k;
        if (got > points[cell]) points[cell] = got;
        if (sureMatch && k <= 1) sure[cell] = 1;
      }
    }
  });
  const needed = n - Math.floor(n / 3);
  const ranked = [];
  const done = new Uint8Array(items.length);
  for (const itemIndex of touched) {
    if (done[itemIndex]) continue;
    done[itemIndex] = 1;
    const base = itemIndex * n;
    let matched = 0;
    let total = 0;
    let exactNameWords = 0;
    let allSure = true;
    for (let wi = 0; wi < n; wi += 1) {
      const got = points[base + wi];
      if (got > 0) matched += 1;
      if (!sure[base + wi]) allSure = false;
      total += got;
      // A word found in several kinds of field is stronger evidence.
      let extra = -1;
      for (let bits = kindBits[base + wi]; bits; bits &= bits - 1) extra += 1;
      total += Math.min(2, Math.max(0, extra));
      if (kindBits[base + wi] & 1 && got === POINTS.name.exact) exactNameWords += 1;
    }
    if (matched < needed) continue;
    const item = items[itemIndex];
    const f = item.fields;
    total += phraseBonus(q, f) - (n - matched) * MISSED_WORD;
    // Among names matched word for word, the one the request covers most.
    if (f.nameWords) total += (2 * Math.min(exactNameWords, f.nameWords)) / f.nameWords;
    if (f.settings && !q.settings) total *= HELPER_FACTOR;
    ranked.push({ item, score: total, index: itemIndex, sure: matched === n && allSure });
  }
  if (ranked.length === 0) return none;
  const helpers = ranked.filter((r) => r.item.fields.parent);
  if (helpers.length) {
    const matchedCommands = new Set(ranked.map((r) => r.item.fields.command).filter(Boolean));
    for (const r of helpers) {
      const f = r.item.fields;
      if (matchedCommands.has(f.parent) && !(f.settings && q.settings)) r.score *= HELPER_FACTOR;
    }
  }
  const best = ranked.reduce((m, r) => Math.max(m, r.score), -Infinity);
  const top = ranked.filter((r) => r.score === best);
  // Only the leaders are put in order: a word every entry has must not
  // cost a sort of the whole list.
  const floor = ranked.length <= MAX_RANKED ? -Infinity : kthScore(ranked, MAX_RANKED);
  const leaders = ranked.filter((r) => r.score >= floor);
  leaders.sort((a, b) => b.score - a.score || a.index - b.index);
  return { top: top.map((r) => r.item), score: best, ranked: leaders.slice(0, MAX_RANKED), sure: top[0].sure };
}

// The k-th best score, by a partial pass.
function kthScore(ranked, k) {
  const best = [];
  for (const { score } of ranked) {
    if (best.length < k) best.push(score);
    else if (score > best[k - 1]) best[k - 1] = score;
    else continue;
    best.sort((a, b) => b - a);
  }
  return best[best.length - 1];
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
