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

export function normalize(text) {
  return String(text ?? '').toLowerCase().normalize('NFC').replace(/\s+/g, ' ').trim();
}

// Optimal-string-alignment distance (edits, with a swap of neighbours as
// one edit), giving up as soon as it must exceed max: most candidates are
// nowhere near, and this runs for every one of them on every request.
export function editDistance(a, b, max = Infinity) {
  if (Math.abs(a.length - b.length) > max) return max + 1;
  if (a === b) return 0;
  let prev2 = null;
  let prev = Array.from({ length: b.length + 1 }, (_, j) => j);
  for (let i = 1; i <= a.length; i += 1) {
    const cur = [i];
    let rowMin = i;
    for (let j = 1; j <= b.length; j += 1) {
      const cost = a[i - 1] === b[j - 1] ? 0 : 1;
      let d = Math.min(prev[j] + 1, cur[j - 1] + 1, prev[j - 1] + cost);
      if (prev2 && i > 1 && j > 1 && a[i - 1] === b[j - 2] && a[i - 2] === b[j - 1]) d = Math.min(d, prev2[j - 2] + 1);
      cur.push(d);
      if (d < rowMin) rowMin = d;
    }
    if (rowMin > max) return max + 1;
    prev2 = prev;
    prev = cur;
  }
  return prev[b.length];
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
  const norm = (list) => [...new Set(list.map(normalize).filter(Boolean))];
  const n = norm(names);
  return { names: n, words: n.map(wordsOf), ids: norm(ids), keywords: norm(keywords) };
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
  for (const keyword of fields.keywords) {
    if (keyword === query) return SCORE.keyword;
    if (query.length >= 3 && (keyword.startsWith(query) || wordsOf(keyword).some((w) => w.startsWith(query)))) best = SCORE.keywordPrefix;
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
