// Switching windows by name: "switch to the shopping list", "go to
// firefox", "show editor". The window whose title or class matches best is
// activated through the window manager, on its own desktop. The palette's
// own panel is never a candidate.

import { waylandSwitch } from '../wayland.mjs';
import { single } from '../answer.mjs';
import { runProgram } from '../run.mjs';
import { prepare, rank } from '../match.mjs';
import {
  displayProblem, programProblem, readRoot, parseIds, readWindows, isPanel, isDesktopOrDock,
} from '../x11.mjs';

const MAX_WINDOWS = 64;
const INTENT = /^(?:please\s+)?(?:switch\s+to|go\s+to|show|focus)\s+(?:me\s+)?(?:the\s+|my\s+)?(.+?)(?:\s+window)?(?:\s+please)?[\s.!]*$/i;

export function switchTarget(sentence) {
  return INTENT.exec(sentence)?.[1] ?? null;
}

export async function switchSkill(target, env) {
  const wayland = await waylandSwitch(target, env);
  if (wayland) return wayland;
  const noDisplay = displayProblem(env);
  if (noDisplay) return noDisplay.answer;
  const root = await readRoot(['_NET_CLIENT_LIST_STACKING', '_NET_CLIENT_LIST'], env);
  if (!root.ok) return root.answer;
  // Topmost first, so that among equal matches the one used last wins.
  const ids = parseIds(root.props.get('_NET_CLIENT_LIST_STACKING') ?? root.props.get('_NET_CLIENT_LIST')).reverse();
  if (ids.length === 0) return single('No windows are open', `nothing to switch to for "${target}"`);
  const results = await readWindows(ids.slice(0, MAX_WINDOWS), env);
  const failure = results.find((r) => !r.ok && r.answer);
  if (failure) return failure.answer;
  const windows = results
    .filter((r) => r.ok && !isPanel(r.window) && !isDesktopOrDock(r.window))
    .map(({ window }) => ({ window, fields: prepare({ names: [window.title], ids: [window.resClass, window.resName] }) }));
  const { top } = rank(target, windows);
  if (top.length === 0) return single(`No window matches "${target}"`, `${windows.length} other window${windows.length === 1 ? '' : 's'} open`);
  const win = top[0].window;
  // wmctrl -a changes to the window's desktop, then sends _NET_ACTIVE_WINDOW.
  const r = await runProgram('wmctrl', ['-i', '-a', win.id], { env });
  if (!r.ok) return programProblem(r, env, 'wmctrl').answer;
  return single(`Switched to ${win.title || win.resClass || win.id}`, win.resClass || win.resName);
}
