// Forgiving ranked matching of what the user typed against names: the
// application and window skills share it so that "firefx", "fire" and
// "Firefox" find the same thing in both.

// Better matches score higher; a candidate's score is its best field's.
export const SCORE = {
  exact: 100,
  exactId: 95,
  prefix: 90,
  wordStart: 80,
  substring: 70,
  keyword: 60,
  keywordPrefix: 55,
  typo1: 50,
  typo2: 40,
};

// A copy that does not keep the text it was cut from alive: names are cut
// out of whole desktop files, which the list must not hold on to.
export function own(text) {
  return text.length < 13 ? text : JSON.parse(JSON.stringify(text));
}

export function normalize(text) {
  return String(text ?? '').toLowerCase().normalize('NFC').replace(/\s+/g, ' ').trim();
}

// Optimal-string-alignment distance (edits, with a swap of neighbours as
// one edit), giving up as soon as it must exceed max: most candidates are
// nowhere near, and this runs for every one of them on every request. The
// three rows are reused between calls.
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

// Edits allowed for a query of this length: short words are too easy to
// mistake for each other.
function typoBudget(length) {
  if (length >= 7) return 2;
  if (length >= 4) return 1;
  return 0;
}

function wordsOf(text) {
  return text.split(/[\s\-_.:/()]+/).filter(Boolean);
}

// Prepared fields of one candidate, normalized once when the list is built:
// names (shown names), ids (program, class or file names) and keywords
// (keywords, generic names).
export function prepare({ names = [], ids = [], keywords = [] }) {
  const norm = (list) => [...new Set(list.map(normalize).filter(Boolean))].map(own);
  const n = norm(names);
  const k = norm(keywords);
  return { names: n, words: n.map(wordsOf), ids: norm(ids), keywords: k, keywordWords: k.map(wordsOf) };
}

export function score(query, fields) {
  let best = 0;
  const budget = typoBudget(query.length);
  for (let k = 0; k < fields.names.length; k += 1) {
    const name = fields.names[k];
    if (name === query) return SCORE.exact;
    if (name.startsWith(query)) best = Math.max(best, SCORE.prefix);
    else if (best < SCORE.wordStart && (` ${name}`.includes(` ${query}`) || fields.words[k].some((w) => w.startsWith(query)))) best = SCORE.wordStart;
    else if (best < SCORE.substring && name.includes(query)) best = SCORE.substring;
  }
  for (const id of fields.ids) {
    if (id === query) best = Math.max(best, SCORE.exactId);
    else if (best < SCORE.prefix && query.length >= 3 && id.startsWith(query)) best = Math.max(best, SCORE.wordStart);
  }
  if (best >= SCORE.keyword) return best;
  for (let k = 0; k < fields.keywords.length; k += 1) {
    const keyword = fields.keywords[k];
    if (keyword === query) return SCORE.keyword;
    if (query.length >= 3 && (keyword.startsWith(query) || fields.keywordWords[k].some((w) => w.startsWith(query)))) best = SCORE.keywordPrefix;
  }
  if (best > 0 || budget === 0) return best;
  let distance = budget + 1;
  for (let k = 0; k < fields.names.length && distance > 1; k += 1) {
    distance = Math.min(distance, editDistance(query, fields.names[k], budget));
    for (const word of fields.words[k]) distance = Math.min(distance, editDistance(query, word, budget));
  }
  for (const id of fields.ids) distance = Math.min(distance, editDistance(query, id, budget));
  if (distance > budget) return 0;
  return distance === 1 ? SCORE.typo1 : SCORE.typo2;
}

// Candidates with the best score, best first; [] when nothing matches.
// items: [{ fields, ... }].
export function rank(query, items) {
  const q = normalize(query);
  if (!q) return { top: [], score: 0 };
  let top = [];
  let bestScore = 0;
  for (const item of items) {
    const s = score(q, item.fields);
    if (s === 0 || s < bestScore) continue;
    if (s > bestScore) {
      bestScore = s;
      top = [];
    }
    top.push(item);
  }
  return { top, score: bestScore };
}

// The nearest name by whole-name edit distance, for "did you mean".
export function closest(query, items) {
  const q = normalize(query);
  let best = null;
  let bestDistance = Infinity;
  for (const item of items) {
    for (const name of item.fields.names) {
      const d = editDistance(q, name, bestDistance === Infinity ? Infinity : bestDistance - 1);
      if (d < bestDistance) {
        bestDistance = d;
        best = item;
      }
    }
  }
  return best;
}
