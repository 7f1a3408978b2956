// Dictation hands us words ("twelve times eighty nine"), typing hands us
// symbols ("12*89"). This module turns the spoken forms into the symbolic
// one so that a single parser serves both.

const UNITS = {
  zero: 0, one: 1, two: 2, three: 3, four: 4, five: 5, six: 6, seven: 7, eight: 8, nine: 9,
};
const TEENS = {
  ten: 10, eleven: 11, twelve: 12, thirteen: 13, fourteen: 14, fifteen: 15,
  sixteen: 16, seventeen: 17, eighteen: 18, nineteen: 19,
};
const TENS = {
  twenty: 20, thirty: 30, forty: 40, fourty: 40, fifty: 50, sixty: 60, seventy: 70, eighty: 80, ninety: 90,
};
const SCALES = { thousand: 1e3, million: 1e6, billion: 1e9 };

const isSmallNumberWord = (w) => w in UNITS || w in TEENS || w in TENS;
const isNumberWord = (w) => isSmallNumberWord(w) || w in SCALES || w === 'hundred' || w === 'point';

// Builds one number from consecutive words. accept() refuses a word that
// cannot continue the current number ("twelve eighty"), which ends it; the
// refused word then starts the next number.
class SpokenNumber {
  constructor() {
    this.total = 0;
    this.group = 0;
    this.last = null;
    this.lastScale = Infinity;
    this.decimals = null;
  }

  get empty() { return this.last === null; }

  accept(word) {
    if (this.decimals !== null) {
      if (!(word in UNITS)) return false;
      this.decimals += String(UNITS[word]);
      this.last = 'decimal';
      return true;
    }
    const { last } = this;
    if (word === 'point') {
      this.pointFirst = last === null;
      this.decimals = '';
      this.last = 'point';
      return true;
    }
    if (word in UNITS) {
      if (UNITS[word] === 0) {
        if (last !== null) return false;
        this.last = 'zero';
        return true;
      }
      if (![null, 'tens', 'hundred', 'scale'].includes(last)) return false;
      this.group += UNITS[word];
      this.last = 'unit';
      return true;
    }
    if (word in TEENS || word in TENS) {
      if (![null, 'hundred', 'scale'].includes(last)) return false;
      this.group += TEENS[word] ?? TENS[word];
      this.last = word in TEENS ? 'teen' : 'tens';
      return true;
    }
    if (word === 'hundred') {
      if (!['unit', 'teen', 'one'].includes(last) || this.group >= 100) return false;
      this.group *= 100;
      this.last = 'hundred';
      return true;
    }
    if (word in SCALES) {
      const scale = SCALES[word];
      if (!['unit', 'teen', 'tens', 'hundred', 'one'].includes(last) || scale >= this.lastScale) return false;
      this.total += this.group * scale;
      this.group = 0;
      this.lastScale = scale;
      this.last = 'scale';
      return true;
    }
    return false;
  }

  // "a hundred", "a million"
  acceptOne() {
    if (this.last !== null) return false;
    this.group = 1;
    this.last = 'one';
    return true;
  }

  text() {
    const whole = String(this.total + this.group);
    if (this.decimals === null) return whole;
    if (this.decimals) return `${whole}.${this.decimals}`;
    // "point" with no digit after it is no number: the word stays, so the
    // sentence is not understood rather than read as another number.
    return this.pointFirst ? 'point' : `${whole} point`;
  }
}

// Replaces runs of number words with digits, leaving every other character
// as it was typed (letter case, punctuation, emoji): "Remind me in five
// minutes to call O'Neil" -> "Remind me in 5 minutes to call O'Neil".
export function numberWordsToDigits(text) {
  const source = String(text);
  const tokens = [...source.matchAll(/0x[0-9a-f]+|\d+(?:\.\d+)?(?:e[+-]?\d+)?|[a-z]+|-/gi)]
    .map((m) => ({ word: m[0].toLowerCase(), start: m.index, end: m.index + m[0].length }));
  const replaced = [];
  let current = new SpokenNumber();
  let first = null;
  let last = null;
  const flush = () => {
    if (!current.empty) replaced.push({ start: first.start, end: last.end, text: current.text() });
    current = new SpokenNumber();
    first = null;
  };
  const take = (token) => {
    first ??= token;
    last = token;
  };
  for (let i = 0; i < tokens.length; i += 1) {
    const token = tokens[i];
    const { word } = token;
    const next = tokens[i + 1]?.word;
    // Only what lies next to each other, space between, makes one number.
    const gap = i > 0 && last && /\S/.test(source.slice(last.end, token.start));
    if (gap) flush();
    if (word === '-') {
      // "twenty-three": a hyphen between two number words joins them.
      if (!current.empty && next && isNumberWord(next) && tokens[i + 1].start === token.end && token.start === last.end) {
        last = token;
        continue;
      }
      flush();
      continue;
    }
    if (word === 'a' && next && (next === 'hundred' || next in SCALES) && current.empty) {
      current.acceptOne();
      take(token);
      continue;
    }
    if (word === 'and' && !current.empty && ['hundred', 'scale'].includes(current.last)
        && next && isSmallNumberWord(next)) {
      last = token;
      continue;
    }
    if (/^\d/.test(word) && next in SCALES && current.empty) {
      replaced.push({ start: token.start, end: tokens[i + 1].end, text: String(Number(word) * SCALES[next]) });
      i += 1;
      continue;
    }
    if (isNumberWord(word)) {
      if (current.accept(word)) { take(token); continue; }
      flush();
      if (current.accept(word)) { take(token); continue; }
    }
    flush();
  }
  flush();
  let out = '';
  let at = 0;
  for (const r of replaced) {
    out += source.slice(at, r.start) + r.text;
    at = r.end;
  }
  return out + source.slice(at);
}

const LEADING = /^(?:(?:hey|ok|okay)\s+)?(?:(?:what|how much)(?:\s+is|'s|'s|s)|calculate|compute|evaluate|work out|solve)\b\s*/;
const TRAILING = /(?:\s*(?:=|\?|\bequals?\b|\bplease\b))+\s*$/;

const PHRASES = [
  [/\b(?:the\s+)?square root of\b|\bsqrt\b/g, ' √ '],
  [/\b(?:the\s+)?cube root of\b/g, ' ∛ '],
  [/\braised to the power of\b|\bto the power of\b|\bto the power\b|\braised to\b/g, ' ^ '],
  [/\bmultiplied by\b|\btimes\b/g, ' * '],
  [/\bdivided by\b|\bover\b/g, ' / '],
  [/\bplus\b/g, ' + '],
  [/\bminus\b|\bnegative\b/g, ' - '],
  [/\bmodulo\b|\bmod\b/g, ' % '],
  [/\bsquared\b/g, ' ^ 2 '],
  [/\bcubed\b/g, ' ^ 3 '],
  [/\bopen (?:paren|parenthesis|bracket)\b/g, ' ( '],
  [/\bclose (?:paren|parenthesis|bracket)\b/g, ' ) '],
];

// Only numbers, operator symbols and the letter x (as in 3 x 4) may be left
// once words are translated; anything else means the sentence was not maths.
const MATHS_ONLY = /^[\d.\s+\-−–*×x·/÷^%()√∛]*$/;

// Percentages become plain arithmetic: "15% of 80" is 15 / 100 × 80, "80
// plus 15%" adds 15% of 80, a lone "15%" is 0.15. A % between two numbers
// stays the remainder ("7 % 3").
function percentages(text) {
  return text
    .replace(/\b(?:percent|per cent)\b/g, '%')
    .replace(/(\d+(?:\.\d+)?)\s*%\s*of\b/g, '($1 / 100) *')
    .replace(/^(.+?)\s*([+-])\s*(\d+(?:\.\d+)?)\s*%$/, '($1) * (1 $2 $3 / 100)')
    .replace(/(\d+(?:\.\d+)?)\s*%$/, '($1 / 100)');
}
const LITERAL = /0x[0-9a-f]+|\d+(?:\.\d+)?e[+-]?\d+/g;

export function spokenToExpression(sentence) {
  let text = String(sentence).toLowerCase().trim();
  text = text.replace(LEADING, '').replace(TRAILING, '');
  text = text.replace(/(\d),(?=\d{3}(?!\d))/g, '$1');
  for (const [pattern, symbol] of PHRASES) text = text.replace(pattern, symbol);
  if (/[a-z]/.test(text.replace(/\bx\b/g, ''))) text = numberWordsToDigits(text);
  text = percentages(text.replace(/\s+/g, ' ').trim());
  if (!/\d/.test(text) || !MATHS_ONLY.test(text.replace(LITERAL, '0'))) return null;
  return text;
}
