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

// Replaces runs of number words with digits, leaving every other word as it
// is: "set a timer for five minutes" -> "set a timer for 5 minutes".
export function numberWordsToDigits(text) {
  const parts = String(text).toLowerCase()
    .replace(/([a-z])-(?=[a-z])/g, '$1 ')
    .match(/0x[0-9a-f]+|\d+(?:\.\d+)?(?:e[+-]?\d+)?|[a-z]+|\S/g) ?? [];
  const out = [];
  let current = new SpokenNumber();
  const flush = () => {
    if (!current.empty) out.push(current.text());
    current = new SpokenNumber();
  };
  for (let i = 0; i < parts.length; i += 1) {
    const word = parts[i];
    const next = parts[i + 1];
    if (word === 'a' && next && (next === 'hundred' || next in SCALES) && current.empty) {
      current.acceptOne();
      continue;
    }
    if (word === 'and' && !current.empty && ['hundred', 'scale'].includes(current.last)
        && next && isSmallNumberWord(next)) {
      continue;
    }
    if (/^\d/.test(word) && next in SCALES && current.empty) {
      out.push(String(Number(word) * SCALES[next]));
      i += 1;
      continue;
    }
    if (isNumberWord(word)) {
      if (current.accept(word)) continue;
      flush();
      if (current.accept(word)) continue;
    }
    flush();
    out.push(word);
  }
  flush();
  return out.join(' ');
}

const LEADING = /^(?:(?:hey|ok|okay)\s+)?(?:(?:what|how much)(?:\s+is|'s|'s|s)|calculate|compute|evaluate|work out|solve)\b\s*/;
const TRAILING = /(?:\s*(?:=|\?|\bequals?\b|\bplease\b))+\s*$/;

const PHRASES = [
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
const MATHS_ONLY = /^[\d.\s+\-−–*×x·/÷^%()]*$/;
const LITERAL = /0x[0-9a-f]+|\d+(?:\.\d+)?e[+-]?\d+/g;

export function spokenToExpression(sentence) {
  let text = String(sentence).toLowerCase().trim();
  text = text.replace(LEADING, '').replace(TRAILING, '');
  text = text.replace(/(\d),(?=\d{3}(?!\d))/g, '$1');
  for (const [pattern, symbol] of PHRASES) text = text.replace(pattern, symbol);
  if (/[a-z]/.test(text.replace(/\bx\b/g, ''))) text = numberWordsToDigits(text);
  text = text.replace(/\s+/g, ' ').trim();
  if (!/\d/.test(text) || !MATHS_ONLY.test(text.replace(LITERAL, '0'))) return null;
  return text;
}
