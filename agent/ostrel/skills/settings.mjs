// Common settings through the desktop's own tools: sound, screen
// brightness, dark or light appearance, locking and ending the session,
// radios and the settings application's pages. Every tool is looked up on
// PATH first and run without a shell, with a time limit; a missing or
// failing tool is named in the answer.

import { readdir, readFile, writeFile, access, constants } from 'node:fs/promises';
import path from 'node:path';
import { single } from '../answer.mjs';
import { findProgram } from '../desktop.mjs';
import { runProgram } from '../run.mjs';
import { SETTLE_MS, startDetached } from './launch.mjs';
import { numberWordsToDigits } from './spoken.mjs';

export const TOOL_TIMEOUT_MS = 3000;
const STEP = 10;
const MAX_LEVEL = 100;
export const DEFAULT_BACKLIGHT = '/sys/class/backlight';

const NUMBER = String.raw`(\d{1,3})\s*(?:%|percent|per\s+cent)?`;
const PATTERNS = [
  // Sound.
  [/^(?:turn|put)\s+(?:the\s+)?(?:volume|sound|it)\s+(up|down)$|^(?:the\s+)?(?:volume|sound)\s+(up|down)$/, (m) => ({ kind: 'volume', op: m[1] ?? m[2] })],
  [/^(?:increase|raise)\s+(?:the\s+)?volume$|^louder$/, () => ({ kind: 'volume', op: 'up' })],
  [/^(?:decrease|lower|reduce)\s+(?:the\s+)?volume$|^(?:quieter|softer)$/, () => ({ kind: 'volume', op: 'down' })],
  [new RegExp(`^(?:(?:set|change|put|turn)\\s+(?:the\\s+)?)?(?:volume|sound)\\s+(?:to\\s+|at\\s+)?${NUMBER}$`), (m) => ({ kind: 'volume', op: 'set', value: Number(m[1]) })],
  [/^(?:mute|silence)(?:\s+(?:the\s+)?(?:sound|audio|volume|speakers?|computer))?$/, () => ({ kind: 'volume', op: 'mute' })],
  [/^un\s*mute(?:\s+(?:the\s+)?(?:sound|audio|volume|speakers?|computer))?$|^turn\s+(?:the\s+)?sound\s+(?:back\s+)?on$/, () => ({ kind: 'volume', op: 'unmute' })],
  [/^(?:what(?:'s|\s+is)\s+(?:the\s+)?(?:volume|sound\s+level)(?:\s+level)?|how\s+loud\s+is\s+it|volume(?:\s+level)?)$/, () => ({ kind: 'volume', op: 'get' })],
  // Brightness.
  [/^(?:turn|put)\s+(?:the\s+)?(?:brightness|screen)\s+(up|down)$|^(?:the\s+)?brightness\s+(up|down)$/, (m) => ({ kind: 'brightness', op: m[1] ?? m[2] })],
  [/^(?:(?:make\s+)?(?:the\s+)?screen\s+)?brighter$|^(?:increase|raise)\s+(?:the\s+)?brightness$/, () => ({ kind: 'brightness', op: 'up' })],
  [/^(?:(?:make\s+)?(?:the\s+)?screen\s+)?dimmer$|^dim\s+(?:the\s+)?screen$|^(?:decrease|lower|reduce)\s+(?:the\s+)?brightness$/, () => ({ kind: 'brightness', op: 'down' })],
  [new RegExp(`^(?:(?:set|change|put|turn)\\s+(?:the\\s+)?)?(?:screen\\s+)?brightness\\s+(?:to\\s+|at\\s+)?${NUMBER}$`), (m) => ({ kind: 'brightness', op: 'set', value: Number(m[1]) })],
  [/^(?:what(?:'s|\s+is)\s+(?:the\s+)?(?:screen\s+)?brightness|(?:screen\s+)?brightness)$/, () => ({ kind: 'brightness', op: 'get' })],
  // Appearance.
  [/^(?:(?:turn\s+on|enable|switch\s+to|use|go|set|change\s+to)\s+)?(?:the\s+)?(dark|light)\s+(?:mode|theme|appearance)(?:\s+on)?$/, (m) => ({ kind: 'scheme', dark: m[1] === 'dark' })],
  [/^(?:(?:turn\s+off|disable)\s+(?:the\s+)?(dark|light)\s+(?:mode|theme)|(dark|light)\s+(?:mode|theme)\s+off)$/, (m) => ({ kind: 'scheme', dark: (m[1] ?? m[2]) === 'light' })],
  // Session.
  [/^lock(?:\s+(?:the\s+|my\s+)?(?:screen|computer|session|desktop|pc|machine|it))?$/, () => ({ kind: 'lock' })],
  [/^(?:suspend|sleep|go\s+to\s+sleep)(?:\s+(?:the\s+|my\s+)?(?:computer|machine|pc|system|laptop))?(\s+now)?$/, (m) => ({ kind: 'suspend', now: Boolean(m[1]) })],
  [/^(?:log\s*out|log\s+me\s+out|log\s+off|sign\s*out)(\s+now)?$/, (m) => ({ kind: 'logout', now: Boolean(m[1]) })],
  // Radios.
  [/^(?:turn|switch)\s+(?:the\s+)?(wi\s*fi|wireless|bluetooth)\s+(on|off)$|^(wi\s*fi|wireless|bluetooth)\s+(on|off)$/, (m) => radio(m[1] ?? m[3], m[2] ?? m[4])],
  [/^(?:turn|switch)\s+(on|off)\s+(?:the\s+)?(wi\s*fi|wireless|bluetooth)$/, (m) => radio(m[2], m[1])],
  [/^(enable|disable)\s+(?:the\s+)?(wi\s*fi|wireless|bluetooth)$/, (m) => radio(m[2], m[1] === 'enable' ? 'on' : 'off')],
];

function radio(name, state) {
  return { kind: 'radio', radio: name === 'bluetooth' ? 'bluetooth' : 'wifi', on: state === 'on' };
}

// The settings application's pages by spoken name.
const PAGES = {
  sound: 'sound', audio: 'sound', volume: 'sound', display: 'display', displays: 'display', screen: 'display', monitor: 'display',
  network: 'network', internet: 'network', wifi: 'wifi', 'wi fi': 'wifi', wireless: 'wifi', bluetooth: 'bluetooth',
  keyboard: 'keyboard', mouse: 'mouse', touchpad: 'mouse', power: 'power', battery: 'power', appearance: 'appearance', theme: 'appearance',
};
const PAGE_LABEL = {
  sound: 'Sound', display: 'Display', network: 'Network', wifi: 'Wi-Fi', bluetooth: 'Bluetooth', keyboard: 'Keyboard',
  mouse: 'Mouse', power: 'Power', appearance: 'Appearance',
};
// Per page: the GNOME panel, the KDE module, the Xfce dialog.
const PAGE_TOOLS = {
  sound: ['sound', 'kcm_pulseaudio', 'pavucontrol'], display: ['display', 'kcm_kscreen', 'xfce4-display-settings'],
  network: ['network', 'kcm_networkmanagement', 'nm-connection-editor'], wifi: ['wifi', 'kcm_networkmanagement', 'nm-connection-editor'],
  bluetooth: ['bluetooth', 'kcm_bluetooth', 'blueman-manager'], keyboard: ['keyboard', 'kcm_keyboard', 'xfce4-keyboard-settings'],
  mouse: ['mouse', 'kcm_mouse', 'xfce4-mouse-settings'], power: ['power', 'kcm_powerdevilprofilesconfig', 'xfce4-power-manager-settings'],
  appearance: ['appearance', 'kcm_lookandfeel', 'xfce4-appearance-settings'],
};
const PAGE_WORDS = Object.keys(PAGES).join('|');
const SETTINGS = new RegExp(`^(?:(?:open|show|launch|start|go\\s+to)\\s+)?(?:the\\s+|my\\s+)?(?:(${PAGE_WORDS})\\s+)?`
  + `(?:settings|preferences|control\\s+(?:center|centre|panel)|system\\s+settings)(?:\\s+(?:for|of)\\s+(?:the\\s+)?(${PAGE_WORDS}))?$`);

function plain(sentence) {
  return numberWordsToDigits(sentence).toLowerCase()
    .replace(/([a-z])-(?=[a-z])/g, '$1 ')
    .replace(/\s*'\s*/g, "'")
    .replace(/^please\s+/, '')
    .replace(/(?:\s+please)?[\s.!?]*$/, '')
    .replace(/\s+/g, ' ')
    .trim();
}

// What the sentence asks of the settings, or null.
export function settingsRequest(sentence) {
  if (sentence.length > 200) return null;
  const text = plain(sentence);
  const page = SETTINGS.exec(text);
  if (page) return { kind: 'page', page: PAGES[page[1] ?? page[2]] ?? null };
  for (const [re, make] of PATTERNS) {
    const m = re.exec(text);
    if (m) return make(m);
  }
  return null;
}

// The first of the programs found on PATH, as { name, file }.
async function firstTool(names, env) {
  for (const name of names) {
    const file = await findProgram(name, env);
    if (file) return { name, file };
  }
  return null;
}

const run = (tool, args, env) => runProgram(tool.file, args, { env, timeoutMs: TOOL_TIMEOUT_MS, maxBytes: 64 * 1024 });

// Why a run failed, in a few words.
function why(tool, r) {
  if (r.reason === 'timeout') return `${tool.name} did not answer within ${TOOL_TIMEOUT_MS / 1000} s and was stopped`;
  if (r.reason === 'too-much-output') return `${tool.name} printed too much`;
  if (r.reason === 'missing') return `${tool.name} is not installed`;
  const line = `${r.stderr ?? ''}\n${r.stdout ?? ''}`.split('\n').map((l) => l.trim()).find(Boolean);
  return `${tool.name}: ${line ?? `exit status ${r.code}`}`;
}

const clampLevel = (n) => Math.max(0, Math.min(MAX_LEVEL, Math.round(n)));
const percentOf = (text) => {
  const m = /(\d{1,3})%/.exec(text);
  return m ? Number(m[1]) : null;
};

// Each sound tool: how to read { percent, muted } and how to change it.
const SOUND = [
  {
    name: 'wpctl',
    async read(tool, env) {
      const r = await run(tool, ['get-volume', '@DEFAULT_AUDIO_SINK@'], env);
      const m = r.ok && /Volume:\s*(\d+(?:\.\d+)?)/.exec(r.stdout);
      return m ? { percent: Math.round(Number(m[1]) * 100), muted: /\[MUTED\]/.test(r.stdout) } : { failed: r };
    },
    set: (p) => ['set-volume', '@DEFAULT_AUDIO_SINK@', `${p}%`],
    mute: (on) => ['set-mute', '@DEFAULT_AUDIO_SINK@', on ? '1' : '0'],
  },
  {
    name: 'pactl',
    async read(tool, env) {
      // One after the other: two short calls, and a server that is down answers the first quickly.
      const v = await run(tool, ['get-sink-volume', '@DEFAULT_SINK@'], env);
      const m = v.ok ? await run(tool, ['get-sink-mute', '@DEFAULT_SINK@'], env) : v;
      const percent = v.ok ? percentOf(v.stdout) : null;
      if (percent === null || !m.ok) return { failed: v.ok ? m : v };
      return { percent, muted: /Mute:\s*yes/.test(m.stdout) };
    },
    set: (p) => ['set-sink-volume', '@DEFAULT_SINK@', `${p}%`],
    mute: (on) => ['set-sink-mute', '@DEFAULT_SINK@', on ? '1' : '0'],
  },
  {
    name: 'amixer',
    async read(tool, env) {
      const r = await run(tool, ['-M', 'get', 'Master'], env);
      const percent = r.ok ? percentOf(r.stdout) : null;
      return percent === null ? { failed: r } : { percent, muted: /\[off\]/.test(r.stdout) };
    },
    set: (p) => ['-q', '-M', 'set', 'Master', `${p}%`],
    mute: (on) => ['-q', 'set', 'Master', on ? 'mute' : 'unmute'],
  },
];

async function soundSkill({ op, value }, env) {
  const problems = [];
  for (const kind of SOUND) {
    const file = await findProgram(kind.name, env);
    if (!file) continue;
    const tool = { name: kind.name, file };
    const now = await kind.read(tool, env);
    if (now.failed) {
      problems.push(why(tool, now.failed));
      continue;
    }
    if (op === 'get') return single(`Volume ${now.percent} %`, now.muted ? 'muted' : kind.name);
    if (op === 'mute' || op === 'unmute') {
      const r = await run(tool, kind.mute(op === 'mute'), env);
      if (!r.ok) return single("Can't change the sound", why(tool, r));
      return single(op === 'mute' ? 'Sound muted' : 'Sound on', `volume ${now.percent} %`);
    }
    const target = clampLevel(op === 'set' ? value : now.percent + (op === 'up' ? STEP : -STEP));
    const r = await run(tool, kind.set(target), env);
    if (!r.ok) return single("Can't change the volume", why(tool, r));
    return single(`Volume ${target} %`, now.muted ? 'still muted: say "unmute" to hear it' : kind.name);
  }
  return single('No sound server found', problems[0] ?? 'none of wpctl (PipeWire), pactl (PulseAudio) or amixer (ALSA) is installed');
}

// The first backlight in sysfs: { name, dir, now, max }.
async function sysfsBacklight(env) {
  const root = env.OSTREL_AGENT_BACKLIGHT || DEFAULT_BACKLIGHT;
  const names = (await readdir(root).catch(() => [])).sort();
  for (const name of names.slice(0, 16)) {
    const dir = path.join(root, name);
    const read = async (attr) => {
      const text = (await readFile(path.join(dir, attr), 'utf8').catch(() => '')).slice(0, 32).trim();
      return /^\d+$/.test(text) ? Number(text) : null;
    };
    const [now, max] = await Promise.all([read('brightness'), read('max_brightness')]);
    if (now !== null && max) return { name, dir, now, max };
  }
  return null;
}

async function brightnessSkill({ op, value }, env) {
  const target = (percent) => Math.max(1, clampLevel(op === 'set' ? value : percent + (op === 'up' ? STEP : -STEP)));
  const ctl = await firstTool(['brightnessctl'], env);
  if (ctl) {
    const r = await run(ctl, ['-c', 'backlight', '-m'], env);
    // device,class,current,percent%,max
    const percent = r.ok ? percentOf(r.stdout.split('\n')[0]) : null;
    if (percent !== null) {
      if (op === 'get') return single(`Brightness ${percent} %`, 'brightnessctl');
      const level = target(percent);
      const set = await run(ctl, ['-c', 'backlight', '-q', 'set', `${level}%`], env);
      if (!set.ok) return single("Brightness can't be changed here", why(ctl, set));
      return single(`Brightness ${level} %`, 'brightnessctl');
    }
  }
  const light = await sysfsBacklight(env);
  if (!light) return single(`Brightness can't be ${op === 'get' ? 'read' : 'changed'} here`, 'this screen has no backlight the system can set');
  const percent = Math.round((light.now / light.max) * 100);
  if (op === 'get') return single(`Brightness ${percent} %`, light.name);
  const level = target(percent);
  const raw = Math.max(1, Math.round((level / 100) * light.max));
  const file = path.join(light.dir, 'brightness');
  if (await access(file, constants.W_OK).then(() => true, () => false)) {
    try {
      await writeFile(file, `${raw}\n`);
      return single(`Brightness ${level} %`, light.name);
    } catch (err) {
      return single("Brightness can't be changed here", `${file}: ${err.code ?? err.message}`);
    }
  }
  // logind sets the backlight of the session's own seat for an ordinary user.
  const busctl = await firstTool(['busctl'], env);
  if (!busctl) return single("Brightness can't be changed here", `${light.name} is not writable and busctl is not installed`);
  const r = await run(busctl, ['call', 'org.freedesktop.login1', '/org/freedesktop/login1/session/auto',
    'org.freedesktop.login1.Session', 'SetBrightness', 'ssu', 'backlight', light.name, String(raw)], env);
  if (!r.ok) return single("Brightness can't be changed here", why(busctl, r));
  return single(`Brightness ${level} %`, light.name);
}

function desktops(env) {
  return (env.XDG_CURRENT_DESKTOP ?? '').toUpperCase().split(':').filter(Boolean);
}

async function schemeSkill({ dark }, env) {
  const mode = dark ? 'Dark mode' : 'Light mode';
  const de = desktops(env);
  const scheme = dark ? 'prefer-dark' : 'prefer-light';
  const ways = [
    de.includes('KDE') && ['plasma-apply-colorscheme', [dark ? 'BreezeDark' : 'BreezeLight']],
    de.includes('XFCE') && ['xfconf-query', ['-c', 'xsettings', '-p', '/Net/ThemeName', '-s', dark ? 'Adwaita-dark' : 'Adwaita']],
    ['gsettings', ['set', 'org.gnome.desktop.interface', 'color-scheme', scheme]],
  ].filter(Boolean);
  for (const [name, args] of ways) {
    const tool = await firstTool([name], env);
    if (!tool) continue;
    const r = await run(tool, args, env);
    if (!r.ok) return single(`Can't switch to ${mode.toLowerCase()}`, why(tool, r));
    // Without a settings service to reach, gsettings keeps the value in
    // its own memory and still exits 0: what a second one reads is what
    // the desktop sees.
    if (name === 'gsettings') {
      const back = await run(tool, ['get', 'org.gnome.desktop.interface', 'color-scheme'], env);
      if (!back.ok) return single(`Can't switch to ${mode.toLowerCase()}`, why(tool, back));
      if (back.stdout.trim() !== `'${scheme}'`) return single(`Can't switch to ${mode.toLowerCase()}`, 'the desktop settings were not saved (no dconf session?)');
    }
    return single(`${mode} on`, `${name} ${args.at(-1)}`);
  }
  return single(`${mode} can't be set here`, `none of ${ways.map(([name]) => name).join(', ')} is installed`);
}

async function firstThatWorks(ways, env) {
  const problems = [];
  for (const [name, args] of ways) {
    const tool = await firstTool([name], env);
    if (!tool) continue;
    const r = await run(tool, args, env);
    if (r.ok) return { ok: true, name };
    problems.push(why(tool, r));
  }
  return { ok: false, why: problems[0] ?? `none of ${ways.map(([name]) => name).join(', ')} is installed` };
}

async function lockSkill(env) {
  const done = await firstThatWorks([['loginctl', ['lock-session']], ['xdg-screensaver', ['lock']]], env);
  return done.ok ? single('Locking the screen', done.name) : single("Can't lock the screen here", done.why);
}

// Suspending and logging out end what the user is doing, so the first
// request only asks; the same words with "now" do it.
async function sessionEndSkill({ kind, now }, env) {
  const [verb, again] = kind === 'suspend' ? ['Suspend', 'suspend now'] : ['Log out', 'log out now'];
  if (!now) return single(`${verb} now?`, `type "${again}" and press Return to confirm`);
  const session = /^[A-Za-z0-9_-]{1,64}$/.test(env.XDG_SESSION_ID ?? '') ? env.XDG_SESSION_ID : 'self';
  const ways = kind === 'suspend'
    ? [['systemctl', ['suspend']], ['loginctl', ['suspend']]]
    : [['loginctl', ['terminate-session', session]]];
  const done = await firstThatWorks(ways, env);
  if (!done.ok) return single(`Can't ${verb.toLowerCase()} here`, done.why);
  return single(kind === 'suspend' ? 'Suspending' : 'Logging out', done.name);
}

async function radioSkill({ radio: which, on }, env) {
  const label = which === 'wifi' ? 'Wi-Fi' : 'Bluetooth';
  const ways = [
    which === 'wifi' && ['nmcli', ['radio', 'wifi', on ? 'on' : 'off']],
    ['rfkill', [on ? 'unblock' : 'block', which === 'wifi' ? 'wlan' : 'bluetooth']],
  ].filter(Boolean);
  const done = await firstThatWorks(ways, env);
  if (!done.ok) return single(`${label} can't be switched here`, done.why);
  return single(`${label} ${on ? 'on' : 'off'}`, done.name);
}

// The settings application, at the page when one is named.
async function pageSkill({ page }, env) {
  const label = page ? `${PAGE_LABEL[page]} settings` : 'Settings';
  const [gnomePanel, kdeModule, xfceDialog] = page ? PAGE_TOOLS[page] : [];
  const gnome = ['gnome-control-center', gnomePanel ? [gnomePanel] : []];
  const kde = ['systemsettings', kdeModule ? [kdeModule] : []];
  const xfce = [['xfce4-settings-manager', []]];
  if (xfceDialog) xfce.unshift([xfceDialog, []]);
  const de = desktops(env);
  let ways = [gnome, kde, ...xfce];
  if (de.includes('KDE')) ways = [kde, gnome, ...xfce];
  else if (de.includes('XFCE')) ways = [...xfce, gnome, kde];
  for (const [name, args] of ways) {
    const tool = await firstTool([name], env);
    if (!tool) continue;
    const failed = await startDetached([tool.file, ...args], { env, cwd: env.HOME || '/', settleMs: SETTLE_MS });
    if (failed) return single(`Can't open ${label}`, String(failed.message));
    return single(`Opened ${label}`, [name, ...args].join(' '));
  }
  return single(`Can't open ${label}`, 'no settings application (gnome-control-center, systemsettings, xfce4-settings-manager) is installed');
}

export function settingsSkill(request, env) {
  switch (request.kind) {
    case 'volume': return soundSkill(request, env);
    case 'brightness': return brightnessSkill(request, env);
    case 'scheme': return schemeSkill(request, env);
    case 'lock': return lockSkill(env);
    case 'suspend':
    case 'logout': return sessionEndSkill(request, env);
    case 'radio': return radioSkill(request, env);
    default: return pageSkill(request, env);
  }
}
