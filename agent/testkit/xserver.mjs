// A private X server (Xvfb) with a window manager (openbox) for tests of the
// window skills, plus small helpers to open and inspect windows on it.

import { spawn, execFile } from 'node:child_process';
import { access, constants } from 'node:fs/promises';
import path from 'node:path';
import { makeTempDir, removeDir, stopChild, childEnv } from './daemon.mjs';

export const X_PROGRAMS = ['Xvfb', 'openbox', 'xprop', 'xwininfo', 'wmctrl', 'xdotool', 'xmessage'];

async function onPath(program) {
  for (const dir of (process.env.PATH ?? '').split(':').filter(Boolean)) {
    try {
      await access(path.join(dir, program), constants.X_OK);
      return true;
    } catch {
      // Not in this folder.
    }
  }
  return false;
}

// Null when everything is there, else a reason to skip.
export async function missingXPrograms() {
  const missing = [];
  for (const program of X_PROGRAMS) if (!(await onPath(program))) missing.push(program);
  return missing.length ? `not installed: ${missing.join(', ')}` : null;
}

export function run(program, args, env) {
  return new Promise((resolve, reject) => {
    execFile(program, args, { env, timeout: 10000, killSignal: 'SIGKILL' }, (err, stdout, stderr) => {
      if (err) reject(new Error(`${program} ${args.join(' ')}: ${stderr || err.message}`));
      else resolve(stdout);
    });
  });
}

export async function waitFor(check, what, timeoutMs = 10000) {
  const deadline = Date.now() + timeoutMs;
  let last;
  for (;;) {
    try {
      const value = await check();
      if (value) return value;
    } catch (err) {
      last = err;
    }
    if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}${last ? `: ${last.message}` : ''}`);
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
}

function readDisplayNumber(xvfb) {
  return new Promise((resolve, reject) => {
    let text = '';
    const timer = setTimeout(() => reject(new Error('Xvfb did not report a display')), 15000);
    xvfb.stdio[3].setEncoding('utf8');
    xvfb.stdio[3].on('data', (d) => {
      text += d;
      if (text.includes('\n')) {
        clearTimeout(timer);
        resolve(Number(text.trim()));
      }
    });
    xvfb.once('exit', (code) => {
      clearTimeout(timer);
      reject(new Error(`Xvfb exited with ${code}`));
    });
  });
}

export async function startX() {
  const home = await makeTempDir('ostrel-x-');
  const children = [];
  const x = { children, home };
  try {
    const xvfb = spawn('Xvfb', ['-displayfd', '3', '-screen', '0', '1920x1080x24', '-nolisten', 'tcp'], {
      stdio: ['ignore', 'ignore', 'ignore', 'pipe'],
    });
    children.push(xvfb);
    x.display = `:${await readDisplayNumber(xvfb)}`;
    x.env = childEnv({ DISPLAY: x.display, HOME: home, XDG_CONFIG_HOME: path.join(home, '.config'), XDG_CACHE_HOME: path.join(home, '.cache') });
    const openbox = spawn('openbox', [], { env: x.env, stdio: 'ignore' });
    children.push(openbox);
    await waitFor(async () => {
      const out = await run('xprop', ['-root', '_NET_SUPPORTING_WM_CHECK', '_NET_WORKAREA'], x.env);
      return /window id # 0x/.test(out) && /_NET_WORKAREA\(CARDINAL\) = /.test(out);
    }, 'openbox');
  } catch (err) {
    await stopX(x);
    throw err;
  }
  return x;
}

export async function stopX(x) {
  for (const child of [...x.children].reverse()) await stopChild(child);
  await removeDir(x.home);
}

// Opens an xmessage window and resolves with its id once the window
// manager lists it.
export async function openWindow(x, { name, title }) {
  const child = spawn('xmessage', ['-name', name, '-title', title, `${title} window`], { env: x.env, stdio: 'ignore' });
  x.children.push(child);
  const id = await waitFor(async () => {
    const out = await run('xdotool', ['search', '--classname', `^${name}$`], x.env);
    const first = out.split('\n').find((l) => /^\d+$/.test(l.trim()));
    if (!first) return null;
    const hex = `0x${Number(first).toString(16)}`;
    const list = await run('xprop', ['-root', '_NET_CLIENT_LIST'], x.env);
    return list.split(/[\s,]+/).includes(hex) ? hex : null;
  }, `window ${name}`);
  return { id, child };
}

export async function frameGeometry(x, id) {
  const info = await run('xwininfo', ['-id', id], x.env);
  const field = (label) => Number(new RegExp(`${label}:\\s*(-?\\d+)`).exec(info)[1]);
  const extents = await run('xprop', ['-id', id, '-notype', '_NET_FRAME_EXTENTS'], x.env);
  const [left, right, top, bottom] = (/=\s*(.*)$/m.exec(extents)?.[1] ?? '0, 0, 0, 0').split(',').map(Number);
  return {
    x: field('Absolute upper-left X') - left,
    y: field('Absolute upper-left Y') - top,
    width: field('Width') + left + right,
    height: field('Height') + top + bottom,
  };
}

export async function workArea(x) {
  const out = await run('xprop', ['-root', '-notype', '_NET_WORKAREA'], x.env);
  const [ax, ay, aw, ah] = /=\s*(.*)$/m.exec(out)[1].split(',').map(Number);
  return { x: ax, y: ay, width: aw, height: ah };
}
