// "What apps are open": one row per managed window, read from the window
// manager's client list. The palette's own panel is left out; listing the
// thing the user is looking at would be noise.

import { waylandWindows } from '../wayland.mjs';
import { answer, row, single } from '../answer.mjs';
import { displayProblem, readRoot, parseIds, readWindows, isPanel, isDesktopOrDock } from '../x11.mjs';

const MAX_WINDOWS = 64;

const INTENT = /\b(?:list|show)\s+(?:(?:me|all|the|my|open|running)\s+)*(?:apps|applications|windows|programs)\b|\b(?:apps|applications|windows|programs)\b.*\b(?:open|running|opened)\b|\bwhat(?:'s| is) (?:open|running)\b/;

export function isAppsRequest(sentence) {
  return INTENT.test(sentence.toLowerCase());
}

export async function appsSkill(env) {
  const wayland = await waylandWindows(env);
  if (wayland) return wayland.ok ? listed(wayland.windows, wayland.windows.length) : wayland.answer;
  const noDisplay = displayProblem(env);
  if (noDisplay) return noDisplay.answer;
  const root = await readRoot(['_NET_CLIENT_LIST'], env);
  if (!root.ok) return root.answer;
  if (!root.props.has('_NET_CLIENT_LIST') || root.props.get('_NET_CLIENT_LIST') === null) {
    return single('No window list', 'the window manager does not publish _NET_CLIENT_LIST');
  }
  const ids = parseIds(root.props.get('_NET_CLIENT_LIST'));
  const results = await readWindows(ids.slice(0, MAX_WINDOWS), env);
  const failure = results.find((r) => !r.ok && r.answer);
  if (failure) return failure.answer;
  const windows = results
    .filter((r) => r.ok)
    .map((r) => r.window)
    .filter((w) => !isPanel(w) && !isDesktopOrDock(w));
  return listed(windows, ids.length);
}

// A row per window, the first MAX_WINDOWS of total.
function listed(windows, total) {
  if (windows.length === 0) return single('No windows are open', 'nothing but the desktop');
  const lines = windows.slice(0, MAX_WINDOWS).map((w) => row(w.title || '(untitled)', w.resClass || w.resName));
  if (total > MAX_WINDOWS) lines.push(row(`… and ${total - MAX_WINDOWS} more`, 'only the first windows are listed'));
  return answer(lines);
}
