// Reading X11 window state through xprop. Text properties are requested as
// raw bytes (format 8x) because xprop's quoted output does not escape quotes
// and passes newlines through, which makes titles ambiguous to parse.

import { runProgram } from './run.mjs';
import { single } from './answer.mjs';

const PROPERTY_BYTES = '4096';
const WINDOW_ID = /^0x[0-9a-f]{1,8}$/i;

export const PANEL_NAME = 'ostrel';

// A problem is an answer document ready to show; skills return it as is.
function problem(title, subtitle) {
  return { ok: false, answer: single(title, subtitle) };
}

export function displayProblem(env) {
  if (!env.DISPLAY) return problem('No X display', 'DISPLAY is not set; windows need an X11 session');
  return null;
}

export function programProblem(result, env, pkg) {
  switch (result.reason) {
    case 'missing': return problem(`${result.program} is not installed`, `install the ${pkg} package`);
    case 'timeout': return problem('The X server did not answer', `${result.program} timed out on ${env.DISPLAY}`);
    case 'too-much-output': return problem('Too much window data', `${result.program} printed more than expected`);
    default:
      if (/unable to open display|cannot open display|can't open display/i.test(result.stderr ?? '')) {
        return problem("Can't reach the X display", `DISPLAY=${env.DISPLAY} is not answering`);
      }
      return problem(`${result.program} failed`, firstLine(result.stderr) || `exit status ${result.code}`);
  }
}

function firstLine(text) {
  return String(text ?? '').split('\n').find((l) => l.trim()) ?? '';
}

// "NAME = value", "NAME: window id # 0x1, 0x2" or "NAME:  not found."
export function parseXprop(stdout) {
  const props = new Map();
  for (const line of stdout.split('\n')) {
    const m = /^([A-Za-z0-9_]+)(?:\([^)]*\))?(?:\s=\s?|:\s+)(.*)$/.exec(line);
    if (!m) continue;
    const [, name, value] = m;
    props.set(name, /^not found\.$|^no such atom/.test(value.trim()) ? null : value.replace(/^window id # /, ''));
  }
  return props;
}

export function parseIds(value) {
  return (value ?? '').match(/0x[0-9a-f]+/gi) ?? [];
}

export function parseNumbers(value) {
  if (value == null) return [];
  return value.split(',').map((s) => Number(s.trim())).filter((n) => Number.isFinite(n));
}

export function parseAtoms(value) {
  return (value ?? '').split(',').map((s) => s.trim()).filter(Boolean);
}

export function bytesOf(value) {
  return Buffer.from(parseIds(value).map((h) => Number.parseInt(h, 16) & 0xff));
}

// _NET_WM_NAME is UTF-8 by definition; WM_NAME and WM_CLASS are often
// Latin-1 (STRING), so their bytes are read as Latin-1 unless they are valid
// UTF-8.
const strictUtf8 = new TextDecoder('utf-8', { fatal: true });
export function decodeText(bytes, { utf8 = false } = {}) {
  if (utf8) return bytes.toString('utf8');
  try {
    return strictUtf8.decode(bytes);
  } catch {
    return bytes.toString('latin1');
  }
}

export async function readRoot(names, env) {
  const r = await runProgram('xprop', ['-root', '-notype', ...names], { env });
  if (!r.ok) return programProblem(r, env, 'x11-utils');
  return { ok: true, props: parseXprop(r.stdout) };
}

export async function readWindow(id, env) {
  if (!WINDOW_ID.test(id)) return { ok: false };
  const r = await runProgram('xprop', [
    '-id', id, '-notype', '-len', PROPERTY_BYTES,
    '-f', '_NET_WM_NAME', '8x', '-f', 'WM_NAME', '8x', '-f', 'WM_CLASS', '8x',
    '_NET_WM_NAME', 'WM_NAME', 'WM_CLASS', '_NET_WM_WINDOW_TYPE', '_NET_WM_STATE', '_NET_FRAME_EXTENTS',
  ], { env });
  // A window can close between listing and reading; callers skip it.
  if (!r.ok) return r.reason === 'failed' ? { ok: false } : programProblem(r, env, 'x11-utils');
  const props = parseXprop(r.stdout);
  const title = decodeText(bytesOf(props.get('_NET_WM_NAME')), { utf8: true }) || decodeText(bytesOf(props.get('WM_NAME')));
  const [resName = '', resClass = ''] = decodeText(bytesOf(props.get('WM_CLASS'))).split('\0');
  const frame = parseNumbers(props.get('_NET_FRAME_EXTENTS'));
  return {
    ok: true,
    window: {
      id,
      title,
      resName,
      resClass,
      types: parseAtoms(props.get('_NET_WM_WINDOW_TYPE')),
      states: parseAtoms(props.get('_NET_WM_STATE')),
      frame: frame.length === 4 ? frame : [0, 0, 0, 0],
    },
  };
}

export function isPanel(win) {
  return win.resName.toLowerCase() === PANEL_NAME || win.resClass.toLowerCase() === PANEL_NAME;
}

export function isDesktopOrDock(win) {
  return win.types.includes('_NET_WM_WINDOW_TYPE_DOCK') || win.types.includes('_NET_WM_WINDOW_TYPE_DESKTOP');
}

// Reads many windows a few at a time: one xprop each, never dozens at once.
export async function readWindows(ids, env, concurrency = 8) {
  const results = new Array(ids.length);
  let next = 0;
  async function worker() {
    while (next < ids.length) {
      const index = next++;
      results[index] = await readWindow(ids[index], env);
    }
  }
  await Promise.all(Array.from({ length: Math.min(concurrency, ids.length) }, worker));
  return results;
}
