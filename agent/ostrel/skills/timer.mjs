// Timers and reminders run as tasks: the answer carries the task's id and
// the palette follows it through /tasks until it finishes or is stopped.

import { answer, row, single, clip } from '../answer.mjs';
import { numberWordsToDigits } from './spoken.mjs';

export const MAX_DURATION_MS = 24 * 60 * 60 * 1000;

const INTENT = /\btimer\b|\bcount ?down\b|\bremind me\b/;

const UNITS = [
  { pattern: /^(?:h|hr|hrs|hour|hours)$/, ms: 3600e3, short: 'h', long: 'hour' },
  { pattern: /^(?:m|min|mins|minute|minutes)$/, ms: 60e3, short: 'min', long: 'minute' },
  { pattern: /^(?:s|sec|secs|second|seconds)$/, ms: 1e3, short: 's', long: 'second' },
];

const AMOUNT = String.raw`(\d+(?:\.\d+)?|an?|half an?)`;
const UNIT = String.raw`(h|hrs?|hours?|m|mins?|minutes?|s|secs?|seconds?)`;
const DURATION = new RegExp(String.raw`\b${AMOUNT}\s*${UNIT}\b`, 'g');
const DURATION_PHRASE = new RegExp(String.raw`(?:\b(?:in|for|after)\s+)?${AMOUNT}\s*${UNIT}\b(?:\s+and\b)?`, 'g');

export function isTimerRequest(sentence) {
  return INTENT.test(sentence.toLowerCase());
}

function unitOf(word) {
  return UNITS.find((u) => u.pattern.test(word));
}

// Milliseconds named in the sentence ("1 hour 30 minutes" adds up), or null.
export function parseDuration(text) {
  let total = 0;
  let found = false;
  for (const [, amount, unitWord] of text.matchAll(DURATION)) {
    const unit = unitOf(unitWord);
    const n = amount.startsWith('half') ? 0.5 : /^an?$/.test(amount) ? 1 : Number(amount);
    total += n * unit.ms;
    found = true;
  }
  return found ? Math.round(total) : null;
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

function reminderText(text) {
  const rest = text
    .replace(/^.*?\bremind me\b/, '')
    .replace(DURATION_PHRASE, ' ')
    .replace(/\s+/g, ' ')
    .trim()
    .replace(/^(?:to|about|that|of)\s+/, '')
    .replace(/[\s.!?,]+$/, '');
  const clipped = clip(rest, 60);
  return clipped ? clipped[0].toUpperCase() + clipped.slice(1) : 'Reminder';
}

export function timerSkill(sentence, tasks) {
  if (!tasks) {
    return single('Timers need the Ostrel agent running', 'start it with: node agent/ostrel/daemon.mjs');
  }
  const text = numberWordsToDigits(sentence);
  const durationMs = parseDuration(text);
  if (durationMs === null) return single('How long?', 'try: set a timer for 5 minutes');
  if (durationMs < 1000) return single('That timer is too short', 'timers run for at least 1 second');
  if (durationMs > MAX_DURATION_MS) return single('That timer is too long', 'timers run for at most 24 hours');

  const reminder = /\bremind me\b/.test(text) ? reminderText(text) : null;
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
    : row(`Timer for ${long}`, 'running', started.task.id);
  return answer([line], true);
}
