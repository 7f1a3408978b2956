// Timers and reminders run as tasks: the answer carries the task's id and
// the palette follows it through /tasks until it finishes or is stopped.

import { answer, row, single, clip } from '../answer.mjs';
import { numberWordsToDigits } from './spoken.mjs';

export const MAX_DURATION_MS = 24 * 60 * 60 * 1000;

const INTENT = /\btimers?\b|\bcount ?downs?\b|\bremind me\b|\breminders?\b|\bhow (?:long|much time)\b.*\b(?:left|remaining|to go)\b|^time (?:left|remaining)\b/i;
const STOP = /\b(?:stop|cancel|end|clear|kill|delete|remove)\b/i;
const ALL = /\ball\b|\b(?:timers|reminders|count ?downs)\b|\bevery\b/i;
const LEFT = /\bhow (?:long|much time)\b|\b(?:left|remaining)\b/i;

const UNITS = [
  { pattern: /^(?:h|hr|hrs|hour|hours)$/, ms: 3600e3, short: 'h', long: 'hour' },
  { pattern: /^(?:m|min|mins|minute|minutes)$/, ms: 60e3, short: 'min', long: 'minute' },
  { pattern: /^(?:s|sec|secs|second|seconds)$/, ms: 1e3, short: 's', long: 'second' },
];

// An amount is a number (glued to its unit or not, a fraction after it
// allowed: "1 and a half hours") or words: "a", "an", "half an", "half a",
// "a quarter of an", "3 quarters of an". A fraction may also follow the
// unit: "an hour and a half", "an hour and a quarter", "an hour and 3
// quarters".
const NUMBER = String.raw`\d+(?:\.\d+)?(?:e[+-]?\d+)?`;
const WORDS = String.raw`an?|half\s+an?|(?:a\s+)?quarter\s+of\s+an?|\d+\s+quarters\s+of\s+an?`;
const FRACTION = String.raw`\s+and\s+(?:a\s+half|a\s+quarter|\d+\s+quarters)`;
const UNIT = String.raw`h|hrs?|hours?|m|mins?|minutes?|s|secs?|seconds?`;
const DURATION = String.raw`(?<![\w.])(?:(${NUMBER})(${FRACTION})?\s*|(${WORDS})\s+)(${UNIT})\b(${FRACTION}\b)?`;
const PHRASE = new RegExp(String.raw`(?:\b(?:in|for|after)\s+)?${DURATION}(?:\s+and\b)?`, 'gi');
// What no duration took: any number in a timer sentence ("0x10 seconds",
// "5 minutes 20"), a number by a unit in a reminder, whose text is free, and
// a fraction left over ("an hour and a third").
const UNREAD = new RegExp(String.raw`\S*\d\S*(?:\s+(?:${UNIT})\b)?|\b(?:half|quarters?|thirds?)\b`, 'i');
const UNREAD_IN_REMINDER = new RegExp(String.raw`\S*\d\S*\s+(?:${UNIT})\b`, 'i');

export function isTimerRequest(sentence) {
  return INTENT.test(sentence);
}

function unitOf(word) {
  return UNITS.find((u) => u.pattern.test(word.toLowerCase()));
}

// "half an", "a quarter of an", "3 quarters of an", "a"; and the fractions
// after "and": "a half", "a quarter", "3 quarters".
function wordAmount(words) {
  const w = words.toLowerCase().replace(/^\s*and\s+/, '');
  if (/^(?:a\s+)?half\b/.test(w)) return 0.5;
  const quarters = /^(\d+)\s+quarters/.exec(w);
  if (quarters) return Number(quarters[1]) / 4;
  return /\bquarter\b/.test(w) ? 0.25 : 1;
}

// The milliseconds the sentence names ("1 hour 30 minutes" adds up), or
// null, and the sentence without them.
export function readDuration(text) {
  let total = null;
  const rest = text.replace(PHRASE, (...[, number, numberPart, words, unitWord, unitPart]) => {
    const fraction = numberPart || unitPart;
    const amount = (number === undefined ? wordAmount(words) : Number(number)) + (fraction ? wordAmount(fraction) : 0);
    total += amount * unitOf(unitWord).ms;
    return ' ';
  });
  return { ms: total === null ? null : Math.round(total), rest };
}

function plural(n, word) {
  return `${n} ${word}${n === 1 ? '' : 's'}`;
}

// Splits whole seconds into hours, minutes and seconds for both styles:
// "1 h 30 min" for task titles, "1 hour 30 minutes" for the answer row.
export function formatDuration(ms, style = 'short') {
  let seconds = Math.max(0, Math.ceil(ms / 1000));
  const parts = [];
  for (const unit of UNITS) {
    const size = unit.ms / 1000;
    const n = Math.floor(seconds / size);
    seconds -= n * size;
    if (n > 0) parts.push(style === 'short' ? `${n} ${unit.short}` : plural(n, unit.long));
  }
  if (parts.length === 0) return style === 'short' ? '0 s' : '0 seconds';
  return parts.join(' ');
}

// The reminder in the user's own words: letter case, punctuation and emoji
// kept, only the first letter raised.
function reminderText(rest) {
  const text = rest
    .replace(/^.*?\bremind me\b/i, '')
    .replace(/\s+/g, ' ')
    .trim()
    .replace(/^(?:to|about|that|of)\s+/i, '')
    .replace(/[\s.!?,]+$/, '');
  const clipped = clip(text, 60);
  return clipped ? clipped.charAt(0).toUpperCase() + clipped.slice(1) : 'Reminder';
}

// "stop the timer" stops the newest running one, "cancel all timers" every
// one; "how long is left" lists them with their time left.
function timerControl(text, tasks) {
  const timers = tasks.running();
  if (STOP.test(text)) {
    if (timers.length === 0) return single('No timer is running', 'nothing to stop');
    const stopped = ALL.test(text) ? timers : timers.slice(0, 1);
    for (const t of stopped) tasks.cancel(t.id);
    const lines = stopped.map((t) => row(`Stopped ${t.title}`, `with ${formatDuration(t.leftMs, 'short')} left`));
    return answer(lines.length > 3 ? [...lines.slice(0, 3), row(`… and ${lines.length - 3} more stopped`)] : lines);
  }
  if (timers.length === 0) return single('No timer is running', 'try: set a timer for 5 minutes');
  return answer(timers.map((t) => row(`${formatDuration(t.leftMs, 'short')} left`, t.title, t.id)), true);
}

export function timerSkill(sentence, tasks) {
  if (!tasks) {
    return single('Timers need the Ostrel agent running', 'start it with: node agent/ostrel/daemon.mjs');
  }
  const text = numberWordsToDigits(sentence);
  const { ms: durationMs, rest } = readDuration(text);
  const reminding = /\bremind me\b/i.test(text);
  if (durationMs === null && !reminding && (STOP.test(text) || LEFT.test(text))) return timerControl(text, tasks);
  const unread = (reminding ? UNREAD_IN_REMINDER : UNREAD).exec(rest);
  if (unread) return single(`Didn’t understand “${clip(unread[0], 40)}”`, 'try: set a timer for 5 minutes');
  if (durationMs === null) return single('How long?', 'try: set a timer for 5 minutes');
  if (durationMs < 1000) return single('That timer is too short', 'timers run for at least 1 second');
  if (durationMs > MAX_DURATION_MS) return single('That timer is too long', 'timers run for at most 24 hours');

  const reminder = reminding ? reminderText(rest) : null;
  const short = formatDuration(durationMs, 'short');
  const long = formatDuration(durationMs, 'long');
  const started = tasks.startTimed({
    title: reminder ? `${reminder} · ${short}` : `Timer · ${short}`,
    durationMs,
    doneOutcome: reminder ?? 'Timer finished',
    progress: (leftMs) => `${formatDuration(leftMs, 'short')} left`,
  });
  if (!started.ok) return single('Too many timers running', started.error);
  const line = reminder
    ? row(`Reminder in ${long}`, reminder, started.task.id)
    : row(`Timer for ${long}`, started.task.outcome, started.task.id);
  return answer([line], true);
}
