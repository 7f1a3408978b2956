// Answer documents are what the palette renders: a few rows, each one line
// of title and one of subtitle. Keeping the builders in one place keeps every
// skill's output the same shape and keeps rows short enough for a launcher.

const TITLE_MAX = 80;
const SUBTITLE_MAX = 120;

// Window titles and reminder texts come from outside; a newline or a control
// character would break the one-line rows, a bidirectional override would
// make a title read backwards, and a megabyte title would bury the panel.
const graphemes = new Intl.Segmenter('en', { granularity: 'grapheme' });

export function clip(text, max) {
  const flat = String(text ?? '')
    .replace(/[\u061c\u200e\u200f\u202a-\u202e\u2066-\u2069]/g, '')
    .replace(/[\u0000-\u001f\u007f-\u009f\u2028\u2029]+/g, ' ')
    .replace(/\s+/g, ' ')
    .trim();
  if (flat.length <= max) return flat;
  // Cut between graphemes: never inside a surrogate pair, an emoji
  // sequence or a letter with its accents.
  let out = '';
  for (const { segment } of graphemes.segment(flat)) {
    if (out.length + segment.length > max - 1) break;
    out += segment;
  }
  return `${out.trimEnd()}…`;
}

export function row(title, subtitle = '', taskId) {
  const line = { title: clip(title, TITLE_MAX), subtitle: clip(subtitle, SUBTITLE_MAX) };
  if (taskId !== undefined) line.taskId = String(taskId);
  return line;
}

export function answer(lines, keepOpen = false) {
  return { lines, keepOpen };
}

export function single(title, subtitle = '') {
  return answer([row(title, subtitle)]);
}

// One example of each kind of request, within one subtitle; the idle row
// already suggests the window, app-list and battery requests.
export const CAPABILITIES = 'try: 12*89, 5 miles in km, what time is it, open firefox, switch to mail, find my resume, volume up, wifi off, timers';
