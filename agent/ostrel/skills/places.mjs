// The user's folders by name: "open downloads", "show my documents folder",
// "go home". Where they are comes from the XDG user directories file; each
// one is opened with the desktop's opener.

import { readFileSync, statSync } from 'node:fs';
import path from 'node:path';
import { single } from '../answer.mjs';
import { findProgram } from '../desktop.mjs';
import { SETTLE_MS, startDetached } from './launch.mjs';

// The folder names xdg-user-dirs gives a new account.
const DEFAULTS = {
  DESKTOP: 'Desktop', DOWNLOAD: 'Downloads', TEMPLATES: 'Templates', PUBLICSHARE: 'Public',
  DOCUMENTS: 'Documents', MUSIC: 'Music', PICTURES: 'Pictures', VIDEOS: 'Videos',
};

// Spoken names -> the key in user-dirs.dirs (HOME for the home folder).
const SPOKEN = {
  download: 'DOWNLOAD', downloads: 'DOWNLOAD', document: 'DOCUMENTS', documents: 'DOCUMENTS', docs: 'DOCUMENTS',
  picture: 'PICTURES', pictures: 'PICTURES', photos: 'PICTURES', images: 'PICTURES', music: 'MUSIC', songs: 'MUSIC',
  video: 'VIDEOS', videos: 'VIDEOS', movies: 'VIDEOS', desktop: 'DESKTOP', templates: 'TEMPLATES',
  public: 'PUBLICSHARE', home: 'HOME',
};
const LABEL = {
  DOWNLOAD: 'Downloads', DOCUMENTS: 'Documents', PICTURES: 'Pictures', MUSIC: 'Music', VIDEOS: 'Videos',
  DESKTOP: 'Desktop', TEMPLATES: 'Templates', PUBLICSHARE: 'Public', HOME: 'Home',
};
const INTENT = new RegExp(`^(?:please\\s+)?(?:open|show(?:\\s+me)?|go\\s+to|browse|take\\s+me\\s+to)\\s+(?:up\\s+)?(?:the\\s+|my\\s+)?`
  + `(${Object.keys(SPOKEN).join('|')})(?:\\s+(?:folder|directory|dir))?(?:\\s+please)?[\\s.!]*$`, 'i');
const MAX_DIRS_FILE = 64 * 1024;

export function placeTarget(sentence) {
  if (/^(?:please\s+)?go\s+home[\s.!]*$/i.test(sentence)) return 'HOME';
  const m = INTENT.exec(sentence);
  return m ? SPOKEN[m[1].toLowerCase()] : null;
}

function configHome(env) {
  return path.isAbsolute(env.XDG_CONFIG_HOME ?? '') ? env.XDG_CONFIG_HOME : path.join(env.HOME ?? '/', '.config');
}

// KEY -> absolute folder, from user-dirs.dirs where it says so (a value is
// "$HOME/rest" or an absolute path, in double quotes), else the default.
export function userDirs(env) {
  const home = env.HOME || '/';
  const dirs = Object.fromEntries(Object.entries(DEFAULTS).map(([key, name]) => [key, path.join(home, name)]));
  let text = '';
  try {
    const file = path.join(configHome(env), 'user-dirs.dirs');
    if (statSync(file).size <= MAX_DIRS_FILE) text = readFileSync(file, 'utf8');
  } catch {
    // No file: the defaults.
  }
  for (const line of text.split('\n')) {
    const m = /^\s*XDG_([A-Z]+)_DIR\s*=\s*"((?:[^"\\]|\\.)*)"\s*$/.exec(line);
    if (!m || !(m[1] in DEFAULTS)) continue;
    const value = m[2].replace(/\\(.)/g, '$1');
    if (value === '$HOME' || value.startsWith('$HOME/')) dirs[m[1]] = path.join(home, value.slice(5));
    else if (path.isAbsolute(value)) dirs[m[1]] = path.normalize(value);
  }
  dirs.HOME = home;
  return dirs;
}

// The desktop's opener for a file or folder: xdg-open, else gio open.
export async function openWithDesktop(target, env) {
  const xdgOpen = await findProgram('xdg-open', env);
  const gio = xdgOpen ? null : await findProgram('gio', env);
  if (!xdgOpen && !gio) return { ok: false, why: 'neither xdg-open nor gio is installed' };
  // "--" keeps a name that starts with a dash from reading as an option.
  const argv = xdgOpen ? [xdgOpen, target] : [gio, 'open', '--', target];
  const failed = await startDetached(argv, { env, cwd: env.HOME || '/', settleMs: SETTLE_MS });
  return failed ? { ok: false, why: String(failed.message) } : { ok: true };
}

export async function placeSkill(key, env) {
  const dir = userDirs(env)[key];
  const label = LABEL[key];
  const s = statSync(dir, { throwIfNoEntry: false });
  if (!s?.isDirectory()) return single(`There is no ${label} folder`, `${dir} does not exist`);
  const opened = await openWithDesktop(dir, env);
  if (!opened.ok) return single(`Can't open ${label}`, opened.why);
  return single(`Opened ${label}`, dir);
}
