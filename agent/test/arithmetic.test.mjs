// The calculator parser and the spoken-number translation, called directly.

import { test } from 'node:test';
import assert from 'node:assert/strict';
import { calculate, parse, formatNumber, arithmeticSkill, MAX_EXPRESSION } from '../ostrel/skills/arithmetic.mjs';
import { spokenToExpression, numberWordsToDigits } from '../ostrel/skills/spoken.mjs';

test('evaluates with the usual precedence and associativity', () => {
  const cases = [
    ['12*89', '1068', '12 × 89'],
    ['2+3*4', '14', '2 + 3 × 4'],
    ['(2+3)*4', '20', '(2 + 3) × 4'],
    ['10-4-3', '3', '10 − 4 − 3'],
    ['100/10/5', '2', '100 ÷ 10 ÷ 5'],
    ['2^3^2', '512', '2 ^ 3 ^ 2'],
    ['2**10', '1024', '2 ^ 10'],
    ['-2^2', '-4', '−2 ^ 2'],
    ['(-2)^2', '4', '(−2) ^ 2'],
    ['2^-1', '0.5', '2 ^ −1'],
    ['--3', '3', '−−3'],
    ['+5', '5', '5'],
    ['7 % 3', '1', '7 mod 3'],
    ['-7 % 3', '-1', '−7 mod 3'],
    ['2 * 3 % 4', '2', '2 × 3 mod 4'],
    ['12 × 89', '1068', '12 × 89'],
    ['8 ÷ 2', '4', '8 ÷ 2'],
    ['9 − 2', '7', '9 − 2'],
    ['3 x 4', '12', '3 × 4'],
    ['.5 + 1.', '1.5', '.5 + 1.'],
    ['0.1 + 0.2', '0.3', '0.1 + 0.2'],
    ['1/3', '0.333333333333', '1 ÷ 3'],
    ['2/3', '0.666666666667', '2 ÷ 3'],
    ['1 - 0.9', '0.1', '1 − 0.9'],
    ['0 * -1', '0', '0 × −1'],
    ['9007199254740991 + 0', '9007199254740991', '9007199254740991 + 0'],
    ['2^64', '1.84467440737e+19', '2 ^ 64'],
    ['10^21', '1e+21', '10 ^ 21'],
    ['1/10^9', '1e-9', '1 ÷ 10 ^ 9'],
    ['  ( ( 1 ) )  ', '1', '((1))'],
  ];
  for (const [input, result, shown] of cases) {
    const r = calculate(input);
    assert.equal(r.ok, true, `${input}: ${r.error}`);
    assert.equal(r.result, result, input);
    assert.equal(r.shown, shown, input);
  }
});

test('reports malformed or impossible expressions as errors, not exceptions', () => {
  const cases = [
    ['12**', /missing a number/i],
    ['(3+', /missing a number/i],
    ['(3', /missing “\)”/i],
    ['3)', /unmatched/i],
    ['()', /unexpected “\)”/i],
    ['*3', /unexpected “\*”/i],
    ['3 4', /missing an operator before 4/i],
    ['2(3)', /missing an operator/i],
    ['1.2.3', /missing an operator/i],
    ['1/0', /divide by zero/i],
    ['5 % 0', /remainder by zero/i],
    ['0^-1', /too large/i],
    ['10^400', /too large/i],
    ['1e308*10', /unexpected/i],
    [`${'9'.repeat(310)}`, /too long|too large/i],
    ['(-8)^(1/3)', /not a real number/i],
    ['2 & 3', /unexpected “&”/i],
    ['', /nothing to calculate/i],
    ['   ', /nothing to calculate/i],
    [`${'('.repeat(120)}1${')'.repeat(120)}`, /too deeply nested/i],
    [`${'-'.repeat(250)}1`, /too deeply nested/i],
    ['1+'.repeat(200), /too long/i],
  ];
  for (const [input, message] of cases) {
    const r = calculate(input);
    assert.equal(r.ok, false, `${input} should fail`);
    assert.match(r.error, message, input);
  }
  assert.ok('1+'.repeat(200).length > MAX_EXPRESSION);
});

test('parse refuses anything that is not a string', () => {
  for (const input of [undefined, null, 12, {}, ['1+1']]) {
    assert.equal(parse(input).ok, false);
  }
});

test('formats results without float noise', () => {
  const cases = [
    [0.1 + 0.2, '0.3'],
    [-0, '0'],
    [1e21, '1e+21'],
    [123456789.123456, '123456789.123'],
    [-1 / 3, '-0.333333333333'],
    [2 ** 53 + 2, '9.00719925474e+15'],
    [1e-7, '1e-7'],
    [42, '42'],
  ];
  for (const [value, text] of cases) assert.equal(formatNumber(value), text, String(value));
});

test('translates dictated arithmetic', () => {
  const cases = [
    ['twelve times eighty nine', '12 * 89'],
    ['what is two plus two', '2 + 2'],
    ["what's 2 + 2?", '2 + 2'],
    ['five divided by four', '5 / 4'],
    ['ten to the power of three', '10 ^ 3'],
    ['seven point five minus two', '7.5 - 2'],
    ['three point one four', '3.14'],
    ['point five times four', '0.5 * 4'],
    ['one million two hundred thousand and five', '1200005'],
    ['a hundred and twenty-three', '123'],
    ['nineteen hundred', '1900'],
    ['two thousand twenty four', '2024'],
    ['5 million plus 1', '5000000 + 1'],
    ['negative three times two', '- 3 * 2'],
    ['nine squared', '9 ^ 2'],
    ['seventeen mod five', '17 % 5'],
    ['calculate 1,000 * 3', '1000 * 3'],
    ['what is zero', '0'],
    ['twelve eighty nine', '12 89'],
  ];
  for (const [spoken, expression] of cases) assert.equal(spokenToExpression(spoken), expression, spoken);
});

test('leaves sentences that are not arithmetic alone', () => {
  for (const sentence of ['hello', 'what is the weather', 'open firefox', 'what is', '', 'process.exit(1)',
    'constructor', '__proto__', 'x', 'set a timer for 5 minutes', 'require("fs")', '2 apples']) {
    assert.equal(spokenToExpression(sentence), null, sentence);
    assert.equal(arithmeticSkill(sentence), null, sentence);
  }
});

test('number words become digits inside other sentences', () => {
  const cases = [
    ['set a timer for five minutes', 'set a timer for 5 minutes'],
    ['timer for one hour thirty minutes', 'timer for 1 hour 30 minutes'],
    ['remind me in twenty-five seconds to stretch', 'remind me in 25 seconds to stretch'],
    ['a minute', 'a minute'],
  ];
  for (const [text, expected] of cases) assert.equal(numberWordsToDigits(text), expected, text);
});

test('the skill answers with the result as title and the expression as subtitle', () => {
  assert.deepEqual(arithmeticSkill('12*89'), { lines: [{ title: '1068', subtitle: '12 × 89' }], keepOpen: false });
  const broken = arithmeticSkill('1/0');
  assert.equal(broken.lines.length, 1);
  assert.match(broken.lines[0].title, /can't calculate/i);
  assert.match(broken.lines[0].subtitle, /divide by zero: 1 ÷ 0/);
});
