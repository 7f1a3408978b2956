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

// "NAME = value", "NAME: window id # 0x1, 0x2" or "NAME:  not found";
// with types, each property's type ("COMPOUND_TEXT" of "NAME(COMPOUND_TEXT)")
// is kept there too.
export function parseXprop(stdout, types = null) {
  const props = new Map();
  for (const line of stdout.split('\n')) {
    const m = /^([A-Za-z0-9_]+)(?:\(([^)]*)\))?(?:\s=\s?|:\s+)(.*)$/.exec(line);
    if (!m) continue;
    const [, name, type = '', value] = m;
    types?.set(name, type);
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

// COMPOUND_TEXT (ISO 2022 as X11 uses it): ASCII on the left half, a
// 96-character set on the right half (Latin-1 until an escape names
// another), multi-byte Chinese, Japanese and Korean sets, and UTF-8 between
// ESC % G and ESC % @. Each run of bytes in one state is decoded on its own.
const SINGLE_SETS = {
  A: 'latin1', B: 'iso-8859-2', C: 'iso-8859-3', D: 'iso-8859-4', F: 'iso-8859-7', G: 'iso-8859-6', H: 'iso-8859-8', L: 'iso-8859-5', M: 'iso-8859-9',
};
const MULTI_SETS = { A: 'gbk', B: 'euc-jp', C: 'euc-kr' };
export function decodeCompoundText(bytes) {
  let out = '';
  let run = [];
  let runEncoding = 'latin1';
  let gr = 'latin1';
  let gl = null; // a multi-byte set on the left half, or ASCII
  let utf8 = false;
  const flush = () => {
    if (run.length) out += runEncoding === 'latin1' ? Buffer.from(run).toString('latin1') : new TextDecoder(runEncoding).decode(Buffer.from(run));
    run = [];
  };
  const put = (encoding, ...b) => {
    if (encoding !== runEncoding) {
      flush();
      runEncoding = encoding;
    }
    run.push(...b);
  };
  for (let i = 0; i < bytes.length; i += 1) {
    const b = bytes[i];
    if (b === 0x1b) {
      const rest = bytes.subarray(i + 1, i + 4).toString('latin1');
      let m;
      if (rest.startsWith('%G')) { utf8 = true; i += 2; continue; }
      if (rest.startsWith('%@')) { utf8 = false; i += 2; continue; }
      if ((m = /^-(.)/.exec(rest))) { gr = SINGLE_SETS[m[1]] ?? null; i += 2; continue; }
      if ((m = /^\((.)/.exec(rest))) { gl = null; i += 2; continue; }
      if ((m = /^\$\)(.)/.exec(rest))) { gr = MULTI_SETS[m[1]] ? `multi:${MULTI_SETS[m[1]]}` : null; i += 3; continue; }
      if ((m = /^\$\((.)/.exec(rest))) { gl = MULTI_SETS[m[1]] ?? 'unknown'; i += 3; continue; }
      if ((m = /^\$(.)/.exec(rest)) && 'ABC'.includes(m[1])) { gl = MULTI_SETS[m[1]]; i += 2; continue; }
      continue; // an escape this decoder does not know: dropped
    }
    if (utf8) { put('utf-8', b); continue; }
    if (b === 0x9b) { // a direction change: CSI 1 ] , CSI 2 ] or CSI ]
      while (i + 1 < bytes.length && bytes[i + 1] !== 0x5d) i += 1;
      i += 1;
      continue;
    }
    if (b < 0x80) {
      if (gl && b >= 0x21 && b < 0x7f && i + 1 < bytes.length) {
        if (gl === 'unknown') put('latin1', 0x3f);
        else put(gl, b | 0x80, bytes[i + 1] | 0x80);
        i += 1;
      } else {
        put(runEncoding === 'utf-8' ? 'latin1' : runEncoding, b);
      }
    } else if (b >= 0xa0 && gr?.startsWith('multi:') && i + 1 < bytes.length) {
      put(gr.slice(6), b, bytes[i + 1]);
      i += 1;
    } else if (b >= 0xa0 && gr && !gr.startsWith('multi:')) {
      put(gr, b);
    } else {
      put('latin1', 0x3f); // a byte no set in force gives meaning to
    }
  }
  flush();
  return out;
}

export async function readRoot(names, env) {
  const r = await runProgram('xprop', ['-root', '-notype', ...names], { env });
  if (!r.ok) return programProblem(r, env, 'x11-utils');
  return { ok: true, props: parseXprop(r.stdout) };
}

export async function readWindow(id, env) {
  if (!WINDOW_ID.test(id)) return { ok: false };
  const r = await runProgram('xprop', [
    '-id', id, '-len', PROPERTY_BYTES,
    '-f', '_NET_WM_NAME', '8x', '-f', 'WM_NAME', '8x', '-f', 'WM_CLASS', '8x',
    '_NET_WM_NAME', 'WM_NAME', 'WM_CLASS', '_NET_WM_WINDOW_TYPE', '_NET_WM_STATE', '_NET_FRAME_EXTENTS',
  ], { env });
  // A window can close between listing and reading; callers skip it.
  if (!r.ok) return r.reason === 'failed' ? { ok: false } : programProblem(r, env, 'x11-utils');
  const types = new Map();
  const props = parseXprop(r.stdout, types);
  const legacyName = bytesOf(props.get('WM_NAME'));
  const title = decodeText(bytesOf(props.get('_NET_WM_NAME')), { utf8: true })
    || (types.get('WM_NAME') === 'COMPOUND_TEXT' ? decodeCompoundText(legacyName) : decodeText(legacyName));
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
