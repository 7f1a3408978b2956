// Opening applications by name: "open firefox", "launch the terminal", or
// just "firefox". The program comes from the application's desktop entry
// and is started directly, detached from the agent; what the user typed is
// only ever compared with names, never run or passed on.

import { spawn } from 'node:child_process';
import { readdirSync, readFileSync, closeSync } from 'node:fs';
import { answer, row, single } from '../answer.mjs';
import { applications, findProgram } from '../desktop.mjs';
import { rank, closest, normalize } from '../match.mjs';

const MAX_TIES = 6;
const INTENT = /^(?:please\s+)?(?:open|launch|start)\s+(?:up\s+)?(?:the\s+|my\s+)?(.+?)(?:\s+(?:app|application|program))?(?:\s+please)?[\s.!]*$/i;

// Terminal emulators tried for Terminal=true entries, with the option that
// makes each one run a command.
const TERMINALS = [
  ['x-terminal-emulator', ['-e']], ['xterm', ['-e']], ['urxvt', ['-e']], ['alacritty', ['-e']],
  ['kitty', []], ['foot', []], ['konsole', ['-e']], ['xfce4-terminal', ['-x']], ['gnome-terminal', ['--']],
];

export function launchTarget(sentence) {
  return INTENT.exec(sentence)?.[1] ?? null;
}

async function terminalCommand(argv, env) {
  for (const [program, option] of TERMINALS) {
    const file = await findProgram(program, env);
    if (file) return [file, ...option, ...argv];
  }
  return null;
}

// Node opens every descriptor close-on-exec, so one without that flag was
// inherited from whoever started the agent and is not the agent's to use;
// left open it would leak into every application opened from here.
let inheritedClosed = false;
function closeInheritedDescriptors() {
  if (inheritedClosed) return;
  inheritedClosed = true;
  let fds;
  try {
    fds = readdirSync('/proc/self/fd').map(Number).filter((fd) => fd > 2);
  } catch {
    return;
  }
  for (const fd of fds) {
    try {
      const flags = /^flags:\s*([0-7]+)/m.exec(readFileSync(`/proc/self/fdinfo/${fd}`, 'utf8'))?.[1];
      if (flags !== undefined && (Number.parseInt(flags, 8) & 0o2000000) === 0) closeSync(fd);
    } catch {
      // Already gone (the descriptor of the listing itself).
    }
  }
}

// How long a program started with settleMs is watched: one that finds
// nothing to open says so within a few tens of milliseconds.
export const SETTLE_MS = 400;

// Starts the program in its own session with nothing of the agent's but
// the environment: no shell, standard streams on /dev/null, no other
// descriptors. With settleMs, a program that fails at once (an opener
// with no application for the file) is reported: its exit status is
// awaited that long.
export function startDetached([file, ...args], { env, cwd, settleMs = 0 }) {
  closeInheritedDescriptors();
  return new Promise((resolve) => {
    let child;
    try {
      child = spawn(file, args, { env, cwd, detached: true, stdio: 'ignore', windowsHide: true });
    } catch (err) {
      resolve(err);
      return;
    }
    child.once('error', resolve);
    child.once('spawn', () => {
      child.unref();
      if (!settleMs) return resolve(null);
      const timer = setTimeout(() => resolve(null), settleMs);
      child.once('exit', (code, signal) => {
        clearTimeout(timer);
        resolve(code === 0 ? null : new Error(`${file.split('/').pop()} failed (${signal ?? `exit status ${code}`})`));
      });
      return undefined;
    });
  });
}

async function launch(app, env) {
  const program = await findProgram(app.argv[0], env);
  if (!program) return single(`Can't open ${app.name}`, `${app.argv[0]} is not installed`);
  let argv = [program, ...app.argv.slice(1)];
  if (app.terminal) {
    argv = await terminalCommand(argv, env);
    if (!argv) return single(`Can't open ${app.name}`, 'it runs in a terminal and no terminal emulator is installed');
  }
  const cwd = app.workDir || env.HOME || '/';
  const failed = await startDetached(argv, { env, cwd });
  if (failed) return single(`Can't open ${app.name}`, failed.code === 'ENOENT' ? `${app.workDir || argv[0]} is missing` : String(failed.message));
  return single(`Opened ${app.name}`, app.generic || app.id);
}

function describeRoots(roots) {
  return roots.join(', ');
}

// "open X": the best match is started; a tie lists the candidates, nothing
// matching names the nearest application.
export async function launchSkill(target, env) {
  const { apps, roots } = await applications(env);
  if (apps.length === 0) return single('No applications found', `no desktop entries in ${describeRoots(roots)}`);
  const { top, tied } = rank(target, apps);
  if (tied === 1) return launch(top[0], env);
  if (tied > 1) {
    const shown = top.slice(0, MAX_TIES).map((app) => row(app.name, `more than one matches: ${app.generic || app.id}`));
    if (tied > MAX_TIES) shown.push(row(`… and ${tied - MAX_TIES} more`, 'type more of the name'));
    return answer(shown);
  }
  const near = closest(target, apps);
  return single(`No application called "${target}"`, near ? `the closest is ${near.name}` : 'nothing has a name like it');
}

// A bare sentence that names one application well enough (every word the
// whole or the start of a word of its name or program, or one typo in a
// long word; not a keyword or a category, and nothing short unless it is
// the whole name: those are too easy to hit by accident) opens it; anything
// else is left to the other skills.
export async function bareLaunch(sentence, env) {
  if (sentence.length > 80) return null;
  const { apps } = await applications(env);
  const { top, tied, sure } = rank(sentence, apps);
  if (tied !== 1 || !sure) return null;
  const text = normalize(sentence);
  if (text.length < 4 && !top[0].fields.name.includes(text) && !top[0].fields.id.includes(text)) return null;
  return launch(top[0], env);
}
