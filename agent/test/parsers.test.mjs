// Pure logic: the calculator, dictated arithmetic, timer sentences and the task registry.

import { test } from 'node:test';
import assert from 'node:assert/strict';
import { calculate, arithmeticSkill } from '../ostrel/skills/arithmetic.mjs';
import { spokenToExpression } from '../ostrel/skills/spoken.mjs';
import { timerSkill } from '../ostrel/skills/timer.mjs';
import { TaskRegistry } from '../ostrel/tasks.mjs';
import { decodeCompoundText } from '../ostrel/x11.mjs';
import { convertSkill } from '../ostrel/skills/convert.mjs';
import { clockSkill } from '../ostrel/skills/clock.mjs';

test('calculates with the usual precedence, shows what it read, reads back what it prints and says what is wrong', () => {
  const cases = [
    ['2+3*4', '14', '2 + 3 × 4'], ['(2+3)*4', '20', '(2 + 3) × 4'], ['10-4-3', '3', '10 − 4 − 3'],
    ['2^3^2', '512', '2 ^ 3 ^ 2'], ['2**10', '1024', '2 ^ 10'], ['-2^2', '-4', '−2 ^ 2'], ['2^-1', '0.5', '2 ^ −1'],
    ['-7 % 3', '-1', '−7 mod 3'], ['3 x 4 ÷ 2', '6', '3 × 4 ÷ 2'], ['.5 + 1.', '1.5', '.5 + 1.'], ['2/3', '0.666666666667', '2 ÷ 3'],
    ['0 * -1', '0', '0 × −1'], ['2^64', '1.84467440737e+19', '2 ^ 64'], ['1/10^9', '1e-9', '1 ÷ 10 ^ 9'], ['0x10', '16', '0x10'],
  ];
  for (const [input, result, shown] of cases) {
    const r = calculate(input);
    assert.deepEqual([r.ok, r.result, r.shown], [true, result, shown], `${input}: ${r.error}`);
    assert.equal(calculate(result).result, result, `${input} printed ${result}`);
  }
  const wrong = [
    ['12**', /missing a number at the end/i], ['(3', /missing “\)”/i], ['3)', /unmatched/i], ['*3', /unexpected “\*”/i],
    ['3 4', /missing an operator before 4/i], ['1/0', /divide by zero/i], ['5 % 0', /remainder by zero/i],
    ['10^400', /too large/i], ['1e400', /too large/i], ['(-8)^(1/3)', /not a real number/i], ['2 & 3', /unexpected “&”/i],
    ['   ', /nothing to calculate/i], [null, /nothing to calculate/i],
    [`${'('.repeat(120)}1${')'.repeat(120)}`, /too deeply nested/i], ['1+'.repeat(200), /too long/i],
  ];
  for (const [input, message] of wrong) assert.match(calculate(input).error, message, String(input));
  assert.deepEqual(arithmeticSkill('1/0').lines, [{ title: "Can't calculate that", subtitle: "Can't divide by zero: 1 ÷ 0" }]);
  assert.equal(arithmeticSkill('hello'), null);
});

test('turns dictated arithmetic into an expression and leaves other sentences alone', () => {
  const cases = [
    ['twelve times eighty nine', '12 * 89'], ["what's 2 + 2?", '2 + 2'], ['seven point five minus two', '7.5 - 2'],
    ['one million two hundred thousand and five', '1200005'], ['a hundred and twenty-three', '123'], ['5 million plus 1', '5000000 + 1'],
    ['calculate 1,000 * 3', '1000 * 3'], ['what is zero', '0'], ['twelve eighty nine', '12 89'], ['what is 0x10', '0x10'],
    ['point', null], ['seven point', null], ['what is', null], ['process.exit(1)', null],
  ];
  for (const [spoken, expression] of cases) assert.equal(spokenToExpression(spoken), expression, spoken);
});

test('reads timer and reminder sentences, refusing what it cannot keep', () => {
  const cases = [
    ['timer 5m', 'Timer for 5 minutes'], ['set a timer for one hour thirty minutes', 'Timer for 1 hour 30 minutes'],
    ['timer for 1 hour and 1 minute', 'Timer for 1 hour 1 minute'], ['timer for half an hour', 'Timer for 30 minutes'],
    ['set a timer for an hour and a half', 'Timer for 1 hour 30 minutes'], ['timer for one and a half hours', 'Timer for 1 hour 30 minutes'],
    ['timer for a quarter of an hour', 'Timer for 15 minutes'], ['timer for 1e3 seconds', 'Timer for 16 minutes 40 seconds'],
    ['timer for 0x10 seconds', 'Didn’t understand “0x10 seconds”'], ['set a timer for five', 'Didn’t understand “5”'],
    ['remind me as soon as possible in 5 minutes', 'Reminder in 5 minutes', 'As soon as possible'],
    ['remind me in 10 minutes to \u202estretch\u2066', 'Reminder in 10 minutes', 'Stretch'],
    ['remind me to call the plumber in two hours', 'Reminder in 2 hours', 'Call the plumber'],
    ['remind me in a minute', 'Reminder in 1 minute', 'Reminder'], ['set a timer', 'How long?'],
    ['set a timer for 25 hours', 'That timer is too long'], ['timer for 0.2 seconds', 'That timer is too short'],
    ['timer for three quarters of an hour', 'Timer for 45 minutes', '45 min left'], ['Timer for an hour and a quarter', 'Timer for 1 hour 15 minutes'],
    ['timer for half a minute', 'Timer for 30 seconds'], ['timer for 2 and 3 quarters hours', 'Timer for 2 hours 45 minutes'],
    ['timer for an hour and a third', 'Didn’t understand “third”'],
    ['Remind me in five minutes to buy 🍕 for Anna', 'Reminder in 5 minutes', 'Buy 🍕 for Anna'],
    ["remind me in a minute to call O'Neil about the Café!", 'Reminder in 1 minute', "Call O'Neil about the Café"],
    [`remind me in 1 minute to A${'a'.repeat(57)}🍕🍕`, 'Reminder in 1 minute', `A${'a'.repeat(57)}…`],
  ];
  const tasks = new TaskRegistry();
  let running = 0;
  try {
    for (const [sentence, title, subtitle] of cases) {
      const { lines: [line], keepOpen } = timerSkill(sentence, tasks);
      const started = /^(Timer|Reminder) /.test(title);
      running += started;
      assert.deepEqual([line.title, keepOpen, line.taskId !== undefined], [title, started, started], sentence);
      if (subtitle) assert.equal(line.subtitle, subtitle, sentence);
    }
    const control = [
      ['how long is left', running, /^\d+ (?:min|h|s)\b.* left$/], ['stop the timer', 1, /^Stopped A/], ['how much time is left', running - 1, / left$/],
      ['cancel all timers', 4, /^Stopped |more stopped$/], ['stop the timer', 1, /^No timer is running$/], ['how long is left', 1, /^No timer is running$/],
    ];
    for (const [sentence, count, title] of control) {
      const { lines } = timerSkill(sentence, tasks);
      assert.ok(lines.length === count && lines.every((l) => title.test(l.title)), `${sentence}: ${JSON.stringify(lines)}`);
    }
  } finally {
    tasks.stopAll();
  }
});

test('the task registry keeps a bounded number of finished tasks and lets them age out, never running ones', () => {
  const registry = new TaskRegistry({ maxRunning: 50, keepFinished: 2 });
  const start = (title) => registry.startTimed({ title, durationMs: 60000, doneOutcome: 'x' }).task.id;
  const ids = ['a', 'b', 'c'].map(start);
  const running = start('live');
  ids.forEach((id) => registry.cancel(id));
  assert.deepEqual(registry.list().map((t) => t.title), ['live', 'c', 'b']);
  registry.finishedTtlMs = -1;
  assert.deepEqual(registry.list().map((t) => t.id), [running]);
  registry.stopAll();
});

test('decodes COMPOUND_TEXT titles: UTF-8 runs, other right halves and multi-byte sets', () => {
  const esc = (text) => Buffer.from(text.replace(/ESC/g, '\x1b'), 'latin1');
  const cases = [
    [Buffer.concat([esc('vi ESC%G'), Buffer.from('— notes 🍕'), esc('ESC%@ caf\xe9')]), 'vi — notes 🍕 café'],
    [esc('ESC-L\xbf\xe0\xd8\xd2\xd5\xe2 ESC-A\xe9'), 'Привет é'], [esc('ESC$)B\xa4\xa2 x'), 'あ x'],
    [esc('ESC$(B$"ESC(B x'), 'あ x'], [esc('plain \xe9'), 'plain é'],
  ];
  for (const [bytes, text] of cases) assert.equal(decodeCompoundText(bytes), text, text);
});

test('answers percentages, roots, conversions that read back, and the time and date anywhere', () => {
  const title = (doc) => doc?.lines[0].title ?? null;
  const maths = [
    ['what is 15% of 80', '12'], ['what is 20 percent of 250', '50'], ['fifteen percent of eighty', '12'], ['80 plus 15%', '92'],
    ['80 - 15%', '68'], ['7 % 3', '1'], ['square root of 144', '12'], ['the cube root of 27', '3'], ['sqrt(2) ^ 2', '2'],
    ['square root of -4', "Can't calculate that"], ['two to the power of ten', '1024'],
  ];
  for (const [sentence, result] of maths) assert.equal(title(arithmeticSkill(sentence)), result, sentence);
  const conversions = [
    ['5 miles in km', '8.04672 km'], ['100 f to c', '37.7777778 °C'], ['how many ounces in a pound', '16 oz'], ['2 gb in mb', '2000 MB'],
    ['convert 3 feet to cm', '91.44 cm'], ['30 mph in km/h', '48.28032 km/h'], ['10 square feet in m2', '0.9290304 m²'], ['1 hour in minutes', '60 min'],
    ['2 GiB in MB', '2147.48365 MB'], ['how many cups in a gallon', '16 cup'], ['2 fl oz in ml', '59.1470591 ml'], ['five kilograms in pounds', '11.0231131 lb'],
    ['3 hectares in acres', '7.41316144 acre'], ['-300 c in k', 'That is below absolute zero'], ['5 kg in miles', "Can't convert mass to length"],
    ['what is 2 plus 2', null],
  ];
  for (const [sentence, result] of conversions) {
    const doc = convertSkill(sentence);
    assert.equal(title(doc), result, sentence);
    const [from, to] = doc?.lines[0].subtitle.split(' in ') ?? [];
    if (/^\d/.test(result ?? '')) assert.equal(title(convertSkill(`${result} in ${from.replace(/^[\d.]+ /, '')}`)), from, `${sentence}: back from ${result} in ${to}`);
  }
  const now = new Date('2026-12-24T23:30:00Z');
  const env = { TZ: 'Europe/Berlin' };
  const clock = [
    ['what time is it', '00:30', 'Friday, 25 December 2026'], ["what's the date?", 'Friday, 25 December 2026'],
    ['What time is it in Tokyo?', '08:30', 'in Tokyo (Asia/Tokyo), Friday, 25 December 2026'], ['time in new york', '18:30'],
    ['what time is it in atlantis', "I don't know the time in Atlantis"], ['how many days until 25 December', 'Today'],
    ['how many days until the 1st of january', '7 days', 'until Friday, 1 January 2027'], ['days until christmas eve', '364 days'],
    ['how many days until 31 february', 'There is no 31 February'], ['how many days until someday', 'Which day is "someday"?'], ['what is 2 plus 2', null],
  ];
  for (const [sentence, result, subtitle] of clock) {
    const doc = clockSkill(sentence, { env, now });
    assert.equal(title(doc), result, sentence);
    if (subtitle) assert.equal(doc.lines[0].subtitle, subtitle, sentence);
  }
});
