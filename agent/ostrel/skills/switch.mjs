// Switching windows by name: "switch to the shopping list", "go to
// firefox", "show editor". The window whose title or class matches best is
// activated through the window manager, on its own desktop. The palette's
// own panel is never a candidate.

import { waylandWindows } from '../wayland.mjs';
import { single } from '../answer.mjs';
import { runProgram } from '../run.mjs';
import { prepare, rank } from '../match.mjs';
import { applications } from '../desktop.mjs';
import {
  displayProblem, programProblem, readRoot, parseIds, readWindows, isPanel, isDesktopOrDock,
} from '../x11.mjs';

const INTENT = /^(?:please\s+)?(?:switch\s+to|go\s+to|show|focus)\s+(?:me\s+)?(?:the\s+|my\s+)?(.+?)(?:\s+window)?(?:\s+please)?[\s.!]*$/i;

export function switchTarget(sentence) {
  return INTENT.exec(sentence)?.[1] ?? null;
}

// The desktop entry a window belongs to: the one whose StartupWMClass is
// the window's class, else the one whose program or file name is.
function appIndex(apps) {
  const byKey = new Map();
  const add = (key, app) => { if (key && !byKey.has(key)) byKey.set(key, app); };
  for (const app of apps) if (app.wmClass) add(`class:${app.wmClass}`, app);
  for (const app of apps) {
    add(`name:${app.program.toLowerCase()}`, app);
    add(`name:${app.id.replace(/\.desktop$/, '').split('.').pop().toLowerCase()}`, app);
  }
  return (win) => {
    const keys = [win.resClass, win.resName].map((k) => k.toLowerCase()).filter(Boolean);
    for (const prefix of ['class:', 'name:']) {
      for (const k of keys) if (byKey.has(prefix + k)) return byKey.get(prefix + k);
    }
    return null;
  };
}

// The window the target names: by title words, class, and its
// application's names, generic names, keywords and category words. windows
// come most recently used first, and of equal matches that one wins.
export function pickWindow(target, windows, apps = []) {
  const appOf = appIndex(apps);
  const items = windows.map((window) => {
    const app = appOf(window);
    const f = app?.fields;
    return {
      window,
      fields: prepare({
        names: [window.title, ...(f?.name ?? [])],
        ids: [window.resClass, window.resName],
        generic: f?.generic ?? [],
        keywords: f?.keyword ?? [],
        concepts: f?.concept ?? [],
        cover: false,
      }),
    };
  });
  return rank(target, items).top[0]?.window ?? null;
}

export async function switchSkill(target, env) {
  const found = (await waylandWindows(env)) ?? (await x11Windows(env));
  if (!found.ok) return found.answer;
  const { windows } = found;
  if (found.none ?? windows.length === 0) return single('No windows are open', `nothing to switch to for "${target}"`);
  const { apps } = await applications(env).catch(() => ({ apps: [] }));
  const win = pickWindow(target, windows, apps);
  if (!win) return single(`No window matches "${target}"`, `${windows.length} other window${windows.length === 1 ? '' : 's'} open`);
  const problem = await found.focus(win);
  return problem ?? single(`Switched to ${win.title || win.resClass || win.id}`, win.resClass || win.resName);
}

// The windows the window manager manages, topmost first, as waylandWindows
// gives them; focus activates one through wmctrl.
async function x11Windows(env) {
  const noDisplay = displayProblem(env);
  if (noDisplay) return noDisplay;
  const root = await readRoot(['_NET_CLIENT_LIST_STACKING', '_NET_CLIENT_LIST'], env);
  if (!root.ok) return root;
  // Topmost first, so that among equal matches the one used last wins.
  const ids = parseIds(root.props.get('_NET_CLIENT_LIST_STACKING') ?? root.props.get('_NET_CLIENT_LIST')).reverse();
  const results = await readWindows(ids, env);
  const failure = results.find((r) => !r.ok && r.answer);
  if (failure) return failure;
  const windows = results.filter((r) => r.ok && !isPanel(r.window) && !isDesktopOrDock(r.window)).map((r) => r.window);
  // Only a window manager listing nothing at all has no windows open; the
  // palette's panel and docks left alone count as windows that do not match.
  return { ok: true, windows, none: ids.length === 0, focus: activate };
  async function activate(win) {
    // wmctrl -a changes to the window's desktop, then sends _NET_ACTIVE_WINDOW.
    const r = await runProgram('wmctrl', ['-i', '-a', win.id], { env });
    return r.ok ? null : programProblem(r, env, 'wmctrl').answer;
  }
}
