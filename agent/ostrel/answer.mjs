// Answer documents are what the palette renders: a few rows, each one line
// of title and one of subtitle. Keeping the builders in one place keeps every
// skill's output the same shape and keeps rows short enough for a launcher.

const TITLE_MAX = 80;
const SUBTITLE_MAX = 120;

// Window titles and reminder texts come from outside; a newline or a control
// character would break the one-line rows, a bidirectional override would
// make a title read backwards, and a megabyte title would bury the panel.
export function clip(text, max) {
  const flat = String(text ?? '')
    .replace(/[\u061c\u200e\u200f\u202a-\u202e\u2066-\u2069]/g, '')
    .replace(/[\u0000-\u001f\u007f-\u009f\u2028\u2029]+/g, ' ')
    .replace(/\s+/g, ' ')
    .trim();
  if (flat.length <= max) return flat;
  return flat.slice(0, max - 1).trimEnd() + '…';
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
export const CAPABILITIES = 'try: 12*89, open firefox, switch to mail, find my resume, open downloads, volume up, dark mode, wifi off, lock, timers';
