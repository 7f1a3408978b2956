// Window placement: snaps the window the user was working in to a half of
// the work area, maximizes it or centers it. When the palette is summoned it
// takes focus, so the active window is often the panel itself; the target is
// then the topmost ordinary window beneath it.

import { single } from '../answer.mjs';
import { runProgram } from '../run.mjs';
import {
  displayProblem, programProblem, readRoot, readWindow, parseIds, parseNumbers,
  isPanel, isDesktopOrDock,
} from '../x11.mjs';

const MAX_CANDIDATES = 16;
const RESTORE_POLLS = 20;
const RESTORE_POLL_MS = 25;

const PLACES = [
  { name: 'left', pattern: /\bleft half\b|\bleft side\b/, where: 'to the left half' },
  { name: 'right', pattern: /\bright half\b|\bright side\b/, where: 'to the right half' },
  { name: 'top', pattern: /\b(?:top|upper) half\b/, where: 'to the top half' },
  { name: 'bottom', pattern: /\b(?:bottom|lower) half\b/, where: 'to the bottom half' },
  { name: 'maximize', pattern: /\bmaximi[sz]e\b/, where: 'to fill the screen' },
  { name: 'center', pattern: /\bcent(?:er|re)\b/, where: 'to the center' },
];

export function placementFor(sentence) {
  const text = sentence.toLowerCase();
  return PLACES.find((p) => p.pattern.test(text)) ?? null;
}

// Frame rectangle for a place within the work area [x, y, w, h].
export function targetFrame(place, [x, y, w, h], frameSize) {
  const halfW = Math.floor(w / 2);
  const halfH = Math.floor(h / 2);
  switch (place) {
    case 'left': return [x, y, halfW, h];
    case 'right': return [x + halfW, y, w - halfW, h];
    case 'top': return [x, y, w, halfH];
    case 'bottom': return [x, y + halfH, w, h - halfH];
    case 'center': {
      const fw = Math.min(frameSize[0], w);
      const fh = Math.min(frameSize[1], h);
      return [x + Math.floor((w - fw) / 2), y + Math.floor((h - fh) / 2), fw, fh];
    }
    default: return [x, y, w, h];
  }
}

async function findTarget(props, env) {
  const active = parseIds(props.get('_NET_ACTIVE_WINDOW'))[0];
  const stacking = parseIds(props.get('_NET_CLIENT_LIST_STACKING')).reverse();
  const ids = [...new Set([active, ...stacking].filter((id) => id && !/^0x0+$/i.test(id)))];
  for (const id of ids.slice(0, MAX_CANDIDATES)) {
    const r = await readWindow(id, env);
    if (r.answer) return r;
    if (r.ok && !isPanel(r.window) && !isDesktopOrDock(r.window)) return r;
  }
  return { ok: true, window: null };
}

function workArea(props) {
  const desktop = parseNumbers(props.get('_NET_CURRENT_DESKTOP'))[0] ?? 0;
  const areas = parseNumbers(props.get('_NET_WORKAREA'));
  const area = areas.slice(desktop * 4, desktop * 4 + 4);
  if (area.length === 4 && area[2] > 0 && area[3] > 0) return area;
  const size = parseNumbers(props.get('_NET_DESKTOP_GEOMETRY'));
  if (size.length === 2 && size[0] > 0 && size[1] > 0) return [0, 0, size[0], size[1]];
  return null;
}

async function clientSize(id, env) {
  const r = await runProgram('xwininfo', ['-id', id], { env });
  if (!r.ok) return null;
  const width = Number(/^\s*Width:\s*(\d+)/m.exec(r.stdout)?.[1]);
  const height = Number(/^\s*Height:\s*(\d+)/m.exec(r.stdout)?.[1]);
  return width > 0 && height > 0 ? [width, height] : null;
}

function isMaximized(win) {
  return win.states.some((s) => s.startsWith('_NET_WM_STATE_MAXIMIZED'));
}

// A maximized window usually has thinner decorations than a restored one;
// the sizes must be computed with the restored frame, which the window
// manager publishes shortly after the restore request.
async function settledAfterRestore(win, env) {
  for (let attempt = 0; attempt < RESTORE_POLLS; attempt += 1) {
    await new Promise((resolve) => setTimeout(resolve, RESTORE_POLL_MS));
    const r = await readWindow(win.id, env);
    if (!r.ok) break;
    if (!isMaximized(r.window)) return r.window;
  }
  return win;
}

async function wmctrl(args, env) {
  const r = await runProgram('wmctrl', args, { env });
  return r.ok ? null : programProblem(r, env, 'wmctrl').answer;
}

export async function placementSkill(place, env) {
  const noDisplay = displayProblem(env);
  if (noDisplay) return noDisplay.answer;
  const root = await readRoot([
    '_NET_ACTIVE_WINDOW', '_NET_CLIENT_LIST_STACKING', '_NET_CURRENT_DESKTOP', '_NET_WORKAREA', '_NET_DESKTOP_GEOMETRY',
  ], env);
  if (!root.ok) return root.answer;
  const found = await findTarget(root.props, env);
  if (!found.ok) return found.answer;
  const win = found.window;
  if (!win) return single('No window to move', 'open a window first');
  const area = workArea(root.props);
  if (!area) return single("Can't read the screen size", 'the window manager does not publish _NET_WORKAREA');
  const name = win.title || win.resClass || 'the window';

  if (place.name === 'maximize') {
    const failed = await wmctrl(['-i', '-r', win.id, '-b', 'add,maximized_vert,maximized_horz'], env);
    return failed ?? single(`Maximized ${name}`, place.where);
  }

  let current = win;
  if (isMaximized(win)) {
    const failed = await wmctrl(['-i', '-r', win.id, '-b', 'remove,maximized_vert,maximized_horz'], env);
    if (failed) return failed;
    current = await settledAfterRestore(win, env);
  }
  const [left, right, top, bottom] = current.frame;
  let frameSize = [Math.floor(area[2] * 2 / 3), Math.floor(area[3] * 2 / 3)];
  if (place.name === 'center' && !isMaximized(win)) {
    const size = await clientSize(win.id, env);
    if (size) frameSize = [size[0] + left + right, size[1] + top + bottom];
  }
  const [x, y, w, h] = targetFrame(place.name, area, frameSize);
  // The move request places the frame but sizes the client, so the
  // decorations are taken off the size to make the frame fill the target.
  const clientW = Math.max(1, w - left - right);
  const clientH = Math.max(1, h - top - bottom);
  const failed = await wmctrl(['-i', '-r', win.id, '-e', `0,${x},${y},${clientW},${clientH}`], env);
  return failed ?? single(`Moved ${name}`, place.where);
}
