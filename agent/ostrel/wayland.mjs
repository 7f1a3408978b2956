// Windows of Wayland applications, where the compositor lets a client see
// them. Sway answers through its IPC (swaymsg), KWin through scripts it runs
// for us (kwin.mjs); other Wayland desktops keep their window lists to
// themselves, so there only XWayland's windows can be read, and the answer
// says so. Returns null on an X11 session, where the X11 skills answer alone.

import { single } from './answer.mjs';
import { runProgram } from './run.mjs';
import { isPanel } from './x11.mjs';
import { runKWinScript, kwinWindows } from './kwin.mjs';

const MAX_WINDOWS = 64;
const TREE_BYTES = 4 * 1024 * 1024;

export function isWaylandSession(env) {
  return Boolean(env.WAYLAND_DISPLAY) || /^wayland$/i.test(env.XDG_SESSION_TYPE ?? '');
}

// The views of a sway tree, in tree order: tiled and floating windows of
// every workspace, scratchpad included. Anything not shaped like a view is
// skipped, whatever the tree holds.
export function swayViews(tree) {
  const views = [];
  const walk = (node, depth) => {
    if (!node || typeof node !== 'object' || depth > 64 || views.length >= MAX_WINDOWS) return;
    const children = [...(Array.isArray(node.nodes) ? node.nodes : []), ...(Array.isArray(node.floating_nodes) ? node.floating_nodes : [])];
    const appId = typeof node.app_id === 'string' ? node.app_id : '';
    const props = node.window_properties && typeof node.window_properties === 'object' ? node.window_properties : {};
    const xClass = typeof props.class === 'string' ? props.class : '';
    const xInstance = typeof props.instance === 'string' ? props.instance : '';
    const isView = (node.type === 'con' || node.type === 'floating_con') && children.length === 0 &&
      Number.isSafeInteger(node.id) && (appId || xClass || Number.isSafeInteger(node.pid));
    if (isView) {
      if (!isPanel({ resClass: appId || xClass, resName: xInstance })) views.push({ conId: node.id, title: typeof node.name === 'string' ? node.name : '', appId: appId || xClass, instance: xInstance, focused: node.focused === true });
      return;
    }
    for (const child of children) walk(child, depth + 1);
  };
  walk(tree, 0);
  return views;
}

async function sway(args, env) {
  const r = await runProgram('swaymsg', args, { env, maxBytes: TREE_BYTES });
  if (r.ok) return r;
  if (r.reason === 'missing') return { ok: false, answer: single('swaymsg is not installed', 'install the sway package') };
  if (r.reason === 'timeout') return { ok: false, answer: single('Sway did not answer', 'swaymsg timed out') };
  if (r.reason === 'too-much-output') return { ok: false, answer: single('Too much window data', 'sway\'s window tree is larger than expected') };
  const said = String(r.stderr || r.stdout || '').split('\n').find((l) => l.trim()) ?? `exit status ${r.code}`;
  return { ok: false, answer: single("Can't reach sway", said) };
}

async function swayWindows(env) {
  const r = await sway(['-t', 'get_tree', '-r'], env);
  if (!r.ok) return r;
  let tree;
  try {
    tree = JSON.parse(r.stdout);
  } catch {
    return { ok: false, answer: single("Can't read sway's windows", 'swaymsg printed no valid window tree') };
  }
  return { ok: true, views: swayViews(tree) };
}

// The windows of a Wayland session, as { ok: true, windows: [{ id, title,
// resClass, resName }], focus(window) }, where focus answers null once the
// window has the focus; { ok: false, answer } when they cannot be read; or
// null where X answers: X11 sessions, and XWayland on desktops that keep
// their windows to themselves.
export async function waylandWindows(env) {
  if (!isWaylandSession(env)) return null;
  if (env.SWAYSOCK) {
    const found = await swayWindows(env);
    if (!found.ok) return found;
    const windows = found.views.map((v) => ({ id: v.conId, title: v.title, resClass: v.appId, resName: v.instance }));
    return { ok: true, windows, focus: (window) => swayFocus(window, env) };
  }
  const kde = /(^|:)KDE(:|$)/i.test(env.XDG_CURRENT_DESKTOP ?? '');
  const r = await runKWinScript(env);
  if (!r.ok && r.kind === 'absent' && !kde) return env.DISPLAY ? null : { ok: false, answer: noWindowList() };
  if (!r.ok) return { ok: false, answer: kwinProblem(r) };
  const reported = kwinWindows(r.text);
  if (!reported) return { ok: false, answer: single("Can't read KWin's windows", 'its window script sent no valid window list') };
  const windows = reported.map((w) => ({ id: w.id, title: w.title, resClass: w.appClass, resName: w.appName })).filter((w) => !isPanel(w));
  return { ok: true, windows, focus: (window) => kwinFocus(window, env) };
}

async function swayFocus(window, env) {
  const focused = await sway([`[con_id=${window.id}] focus`], env);
  return focused.ok ? null : focused.answer;
}

async function kwinFocus(window, env) {
  const r = await runKWinScript(env, window.id);
  if (!r.ok) return kwinProblem(r);
  let found;
  try {
    found = JSON.parse(r.text)?.found;
  } catch {
    // Answered below, as any other reply that is not a report.
  }
  if (found === false) return single(`Can't switch to ${window.title || window.resClass}`, 'the window has just closed');
  return found === true ? null : single("Can't read KWin's answer", 'its window script sent no valid report');
}

function kwinProblem(r) {
  const title = { absent: "Can't reach KWin", late: 'KWin did not answer' }[r.kind] ?? 'KWin refused the window script';
  return single(title, r.error);
}

function noWindowList() {
  return single("Can't see this desktop's windows", 'this Wayland desktop does not let applications list its windows');
}
