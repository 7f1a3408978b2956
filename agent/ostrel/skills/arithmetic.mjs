// A small calculator: tokenizer, recursive-descent parser and evaluator.
// It never hands text to eval/Function: the palette forwards whatever the
// user typed or dictated, so the only thing this code can do with input is
// arithmetic on numbers it parsed itself.
//
// Grammar, lowest precedence first:
//   expr    := term (('+' | '-') term)*
//   term    := unary (('*' | '/' | '%') unary)*
//   unary   := ('-' | '+' | '√' | '∛') unary | power
//   power   := primary ('^' unary)?        right-associative: 2^3^2 = 2^9
//   primary := number | '(' expr ')'
// Unary minus binds looser than '^', so -2^2 is -(2^2) as on paper.

import { single } from '../answer.mjs';
import { spokenToExpression } from './spoken.mjs';

export const MAX_EXPRESSION = 300;
const MAX_DEPTH = 100;
const SIGNIFICANT = 12;

const SYMBOL_OPS = new Map([
  ['+', '+'], ['-', '-'], ['−', '-'], ['–', '-'],
  ['*', '*'], ['×', '*'], ['x', '*'], ['X', '*'], ['·', '*'],
  ['/', '/'], ['÷', '/'], ['^', '^'], ['%', '%'], ['(', '('], [')', ')'], ['√', '√'], ['∛', '∛'],
]);

const SHOWN = { '+': '+', '-': '−', '*': '×', '/': '÷', '^': '^', '%': 'mod' };

function fail(error) {
  return { ok: false, error };
}

export function tokenize(text) {
  const tokens = [];
  // Exponents are read because results are printed with them; hexadecimal
  // because "0x10" would otherwise read as 0 × 10.
  const number = /0x[0-9a-f]+|(?:\d+(?:\.\d*)?|\.\d+)(?:e[+-]?\d+)?/iy;
  let i = 0;
  while (i < text.length) {
    const c = text[i];
    if (/\s/.test(c)) { i += 1; continue; }
    number.lastIndex = i;
    const m = number.exec(text);
    if (m) {
      const value = Number(m[0]);
      if (!Number.isFinite(value)) return fail('That number is too large');
      tokens.push({ kind: 'num', value, text: m[0] });
      i = number.lastIndex;
      continue;
    }
    if (c === '*' && text[i + 1] === '*') {
      tokens.push({ kind: 'op', op: '^' });
      i += 2;
      continue;
    }
    const op = SYMBOL_OPS.get(c);
    if (op) {
      tokens.push({ kind: 'op', op, text: c });
      i += 1;
      continue;
    }
    const shown = String.fromCodePoint(text.codePointAt(i));
    return fail(`Unexpected “${shown}”`);
  }
  return { ok: true, tokens };
}

function describe(token) {
  if (!token) return 'the end';
  if (token.kind === 'num') return token.text;
  return `“${token.text ?? token.op}”`;
}

export function parse(text) {
  if (typeof text !== 'string') return fail('Nothing to calculate');
  if (text.length > MAX_EXPRESSION) return fail('Too long to calculate');
  const lexed = tokenize(text);
  if (!lexed.ok) return lexed;
  const { tokens } = lexed;
  if (tokens.length === 0) return fail('Nothing to calculate');

  let pos = 0;
  let depth = 0;
  const peek = () => tokens[pos];
  const isOp = (op) => tokens[pos]?.kind === 'op' && tokens[pos].op === op;

  // Errors travel as thrown markers inside the parser only; parse() turns
  // them back into values before returning.
  class Stop { constructor(error) { this.error = error; } }
  const stop = (error) => { throw new Stop(error); };

  function expr() {
    let left = term();
    while (isOp('+') || isOp('-')) {
      const op = tokens[pos++].op;
      left = { type: 'bin', op, left, right: term() };
    }
    return left;
  }

  function term() {
    let left = unary();
    while (isOp('*') || isOp('/') || isOp('%')) {
      const op = tokens[pos++].op;
      left = { type: 'bin', op, left, right: unary() };
    }
    return left;
  }

  function unary() {
    if (++depth > MAX_DEPTH) stop('Too deeply nested');
    let node;
    if (isOp('-') || isOp('+')) {
      const op = tokens[pos++].op;
      const operand = unary();
      node = op === '-' ? { type: 'neg', operand } : operand;
    } else if (isOp('√') || isOp('∛')) {
      const op = tokens[pos++].op;
      node = { type: 'root', op, operand: unary() };
    } else {
      node = power();
    }
    depth -= 1;
    return node;
  }

  function power() {
    const base = primary();
    if (isOp('^')) {
      pos += 1;
      return { type: 'bin', op: '^', left: base, right: unary() };
    }
    return base;
  }

  function primary() {
    const token = peek();
    if (!token) stop(pos === 0 ? 'Nothing to calculate' : 'Missing a number at the end');
    if (token.kind === 'num') {
      pos += 1;
      return { type: 'num', value: token.value, text: token.text };
    }
    if (token.op === '(') {
      pos += 1;
      const inner = expr();
      if (!isOp(')')) stop(peek() ? `Expected “)” before ${describe(peek())}` : 'Missing “)”');
      pos += 1;
      return { type: 'group', inner };
    }
    return stop(`Unexpected ${describe(token)}`);
  }

  try {
    const ast = expr();
    if (pos < tokens.length) {
      const token = tokens[pos];
      if (token.kind === 'op' && token.op === ')') return fail('Unmatched “)”');
      return fail(`Missing an operator before ${describe(token)}`);
    }
    return { ok: true, ast };
  } catch (err) {
    if (err instanceof Stop) return fail(err.error);
    throw err;
  }
}

function checked(value) {
  if (Number.isNaN(value)) return fail('The result is not a real number');
  if (!Number.isFinite(value)) return fail('The result is too large');
  return { ok: true, value };
}

export function evaluate(node) {
  switch (node.type) {
    case 'num': return checked(node.value);
    case 'group': return evaluate(node.inner);
    case 'neg': {
      const r = evaluate(node.operand);
      return r.ok ? checked(-r.value) : r;
    }
    case 'root': {
      const r = evaluate(node.operand);
      if (!r.ok) return r;
      return node.op === '√' ? checked(Math.sqrt(r.value)) : checked(Math.cbrt(r.value));
    }
    case 'bin': {
      const l = evaluate(node.left);
      if (!l.ok) return l;
      const r = evaluate(node.right);
      if (!r.ok) return r;
      const a = l.value;
      const b = r.value;
      switch (node.op) {
        case '+': return checked(a + b);
        case '-': return checked(a - b);
        case '*': return checked(a * b);
        case '/': return b === 0 ? fail("Can't divide by zero") : checked(a / b);
        case '%': return b === 0 ? fail("Can't take a remainder by zero") : checked(a % b);
        case '^': return checked(a ** b);
        default: return fail('Unknown operator');
      }
    }
    default: return fail('Unknown expression');
  }
}

export function render(node) {
  switch (node.type) {
    case 'num': return node.text;
    case 'group': return `(${render(node.inner)})`;
    case 'neg': return `−${render(node.operand)}`;
    case 'root': return `${node.op}${render(node.operand)}`;
    case 'bin': return `${render(node.left)} ${SHOWN[node.op]} ${render(node.right)}`;
    default: return '?';
  }
}

// Twelve significant digits hide binary rounding noise (0.1 + 0.2) while
// keeping more precision than anyone reads off a launcher row. Integers past
// 2^53 are not exact in a double, so they are shown in exponent form rather
// than as a long run of digits that look exact but are not.
export function formatNumber(value) {
  if (Object.is(value, -0)) return '0';
  if (Number.isInteger(value) && Math.abs(value) <= Number.MAX_SAFE_INTEGER) return String(value);
  if (Number.isInteger(value) && Math.abs(value) < 1e21) {
    const [mantissa, exponent] = value.toExponential(SIGNIFICANT - 1).split('e');
    return `${mantissa.replace(/\.?0+$/, '')}e${exponent}`;
  }
  const rounded = Number(value.toPrecision(SIGNIFICANT));
  return Object.is(rounded, -0) ? '0' : String(rounded);
}

export function calculate(text) {
  const parsed = parse(text);
  if (!parsed.ok) return parsed;
  const shown = render(parsed.ast);
  const result = evaluate(parsed.ast);
  if (!result.ok) return { ...result, shown };
  return { ok: true, value: result.value, result: formatNumber(result.value), shown };
}

// Returns null when the sentence is not arithmetic, so the router can try
// the next skill or fall back.
export function arithmeticSkill(sentence) {
  const expression = spokenToExpression(sentence);
  if (expression === null) return null;
  const r = calculate(expression);
  if (r.ok) return single(r.result, r.shown);
  return single("Can't calculate that", r.shown ? `${r.error}: ${r.shown}` : r.error);
}
