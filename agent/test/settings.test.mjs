// Settings requests against recording stand-ins for the desktop's tools (and
// the real pactl and gsettings, against a PulseAudio server with a null sink
// and a throw-away home): the exact argv each request
// runs, the answer it gives, and honest answers for missing, failing and
// hung tools.

import { it, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawn, spawnSync } from 'node:child_process';
import { mkdir, readFile, rm, symlink } from 'node:fs/promises';
import path from 'node:path';
import { tempDir, removeDir, childEnv, waitFor, stopChild, plant, recorder, rows } from '../testkit/daemon.mjs';

let root;
const rec = () => path.join(root, 'calls');
// The calls so far; the tables write them with spaces between arguments.
const calls = async () => (await readFile(rec(), 'utf8').catch(() => '')).split('\n').filter(Boolean);
const argvs = (list) => list.map((call) => call.replaceAll(' ', '|'));

// name -> shell case arms on "$*" (what the tool prints, how it exits).
const TOOLS = {
  wpctl: `'get-volume @DEFAULT_AUDIO_SINK@') echo 'Volume: 0.40 [MUTED]';;`,
  pactl: `'get-sink-volume @DEFAULT_SINK@') echo 'Volume: front-left: 26214 /  40% / -23.87 dB,   front-right: 26214 /  40% / -23.87 dB';;
    'get-sink-mute @DEFAULT_SINK@') echo 'Mute: no';;`,
  amixer: `'-M get Master') printf '%s\\n' "Simple mixer control 'Master',0" '  Front Left: Playback 26 [30%] [-24.00dB] [on]';;`,
  brightnessctl: `'-c backlight -m') echo 'intel_backlight,backlight,400,40%,1000';;`,
  gsettings: '', 'xfconf-query': '', 'plasma-apply-colorscheme': '', 'xdg-screensaver': '', systemctl: '', nmcli: '', rfkill: '',
  'gnome-control-center': '', systemsettings: '', 'xfce4-settings-manager': '', 'xfce4-display-settings': '',
  loginctl: `'lock-session') echo 'Failed to issue method call: No session' >&2; exit 1;;`,
};
const BROKEN = {
  wpctl: `echo 'Could not connect to PipeWire' >&2; exit 1`, hang: 'exec /bin/sleep 60', flood: 'exec /usr/bin/yes',
};

// A folder of stand-ins, each noting its call in the calls file.
async function toolDir(name, tools) {
  const script = (body) => (body.startsWith("'") || body === '' ? `case "$*" in\n    ${body}\nesac` : body);
  return plant(path.join(root, name), Object.fromEntries(Object.entries(tools).map(([tool, body]) => [tool, `${recorder(rec())}${script(body)}\n`])));
}

let all;
before(async () => {
  root = await tempDir('ostrel-settings-');
  all = await toolDir('all', TOOLS);
  const only = (...names) => toolDir(names.join('+'), Object.fromEntries(names.map((n) => [n, TOOLS[n]])));
  await Promise.all([only('pactl'), only('amixer'), only('rfkill'), only('xfce4-settings-manager')]);
  await toolDir('broken', { wpctl: BROKEN.wpctl, pactl: TOOLS.pactl });
  await toolDir('hang', { wpctl: BROKEN.hang, brightnessctl: BROKEN.flood });
  await plant(root, { none: {}, 'backlight/acpi_video0': { brightness: '400\n', max_brightness: '1000\n' } });
});
after(async () => { await removeDir(root); });

const envFor = (dirs, extra = {}) => childEnv({
  HOME: root, PATH: dirs.map((d) => path.join(root, d)).join(':'), XDG_CURRENT_DESKTOP: 'GNOME', XDG_SESSION_ID: 'c7',
  OSTREL_AGENT_BACKLIGHT: path.join(root, 'no-backlight'), ...extra,
});

it('runs each request with the first tool present, with the exact argv, and answers what it did', async () => {
  const MISSING_SOUND = 'none of wpctl (PipeWire), pactl (PulseAudio) or amixer (ALSA) is installed';
  // [PATH folders, extra environment, sentence, rows, calls]
  const cases = [
    [['all'], {}, 'volume up', [['Volume 50 %', 'still muted: say "unmute" to hear it']],
      ['wpctl get-volume @DEFAULT_AUDIO_SINK@', 'wpctl set-volume @DEFAULT_AUDIO_SINK@ 50%']],
    [['all'], {}, "what's the volume?", [['Volume 40 %', 'muted']], ['wpctl get-volume @DEFAULT_AUDIO_SINK@']],
    [['all'], {}, 'unmute', [['Sound on', 'volume 40 %']], ['wpctl get-volume @DEFAULT_AUDIO_SINK@', 'wpctl set-mute @DEFAULT_AUDIO_SINK@ 0']],
    [['pactl'], {}, 'Set the volume to ninety five percent please', [['Volume 95 %', 'pactl']],
      ['pactl get-sink-volume @DEFAULT_SINK@', 'pactl get-sink-mute @DEFAULT_SINK@', 'pactl set-sink-volume @DEFAULT_SINK@ 95%']],
    [['pactl'], {}, 'mute the sound', [['Sound muted', 'volume 40 %']],
      ['pactl get-sink-volume @DEFAULT_SINK@', 'pactl get-sink-mute @DEFAULT_SINK@', 'pactl set-sink-mute @DEFAULT_SINK@ 1']],
    [['amixer'], {}, 'turn it down', [['Volume 20 %', 'amixer']], ['amixer -M get Master', 'amixer -q -M set Master 20%']],
    [['broken'], {}, 'volume 250%', [['Volume 100 %', 'pactl']],
      ['wpctl get-volume @DEFAULT_AUDIO_SINK@', 'pactl get-sink-volume @DEFAULT_SINK@', 'pactl get-sink-mute @DEFAULT_SINK@', 'pactl set-sink-volume @DEFAULT_SINK@ 100%']],
    [['none'], {}, 'volume up', [['No sound server found', MISSING_SOUND]], []],
    [['all'], {}, 'brightness to 5%', [['Brightness 5 %', 'brightnessctl']], ['brightnessctl -c backlight -m', 'brightnessctl -c backlight -q set 5%']],
    [['none'], { OSTREL_AGENT_BACKLIGHT: path.join(root, 'backlight') }, 'dim the screen', [['Brightness 30 %', 'acpi_video0']], []],
    [['none'], {}, 'brightness up', [["Brightness can't be changed here", 'this screen has no backlight the system can set']], []],
    [['none'], {}, "what's the brightness", [["Brightness can't be read here", 'this screen has no backlight the system can set']], []],
    [['all'], { XDG_CURRENT_DESKTOP: 'XFCE' }, 'switch to dark mode', [['Dark mode on', 'xfconf-query Adwaita-dark']],
      ['xfconf-query -c xsettings -p /Net/ThemeName -s Adwaita-dark']],
    [['all'], { XDG_CURRENT_DESKTOP: 'KDE' }, 'turn off dark mode', [['Light mode on', 'plasma-apply-colorscheme BreezeLight']],
      ['plasma-apply-colorscheme BreezeLight']],
    [['none'], {}, 'light mode', [["Light mode can't be set here", 'none of gsettings is installed']], []],
    [['all'], {}, 'lock the screen', [['Locking the screen', 'xdg-screensaver']], ['loginctl lock-session', 'xdg-screensaver lock']],
    [['none'], {}, 'lock', [["Can't lock the screen here", 'none of loginctl, xdg-screensaver is installed']], []],
    [['all'], {}, 'suspend', [['Suspend now?', 'type "suspend now" and press Return to confirm']], []],
    [['all'], {}, 'suspend the computer now', [['Suspending', 'systemctl']], ['systemctl suspend']],
    [['all'], {}, 'log out', [['Log out now?', 'type "log out now" and press Return to confirm']], []],
    [['all'], {}, 'log out now', [['Logging out', 'loginctl']], ['loginctl terminate-session c7']],
    [['all'], { XDG_SESSION_ID: '$(touch x) c7' }, 'sign out now', [['Logging out', 'loginctl']], ['loginctl terminate-session self']],
    [['all'], {}, 'turn off the wi-fi', [['Wi-Fi off', 'nmcli']], ['nmcli radio wifi off']],
    [['rfkill'], {}, 'enable wifi', [['Wi-Fi on', 'rfkill']], ['rfkill unblock wlan']],
    [['all'], {}, 'bluetooth off', [['Bluetooth off', 'rfkill']], ['rfkill block bluetooth']],
    [['none'], {}, 'turn bluetooth on', [["Bluetooth can't be switched here", 'none of rfkill is installed']], []],
  ];
  for (const [dirs, extra, sentence, expected, expectedCalls] of cases) {
    await rm(rec(), { force: true });
    assert.deepEqual(await rows(sentence, envFor(dirs, extra)), expected, sentence);
    if (expectedCalls) assert.deepEqual(await calls(), argvs(expectedCalls), `${sentence}: calls`);
  }
  assert.equal(await readFile(path.join(root, 'backlight', 'acpi_video0', 'brightness'), 'utf8'), '300\n');
});

it('opens the settings application of the desktop at the named page', async () => {
  const cases = [
    [['all'], 'GNOME', 'open sound settings', 'Opened Sound settings', 'gnome-control-center sound'],
    [['all'], 'KDE', 'bluetooth settings', 'Opened Bluetooth settings', 'systemsettings kcm_bluetooth'],
    [['all'], 'XFCE', 'show the display settings', 'Opened Display settings', 'xfce4-display-settings'],
    [['xfce4-settings-manager'], 'GNOME', 'open the settings for the keyboard', 'Opened Keyboard settings', 'xfce4-settings-manager'],
    [['all'], 'GNOME', 'settings', 'Opened Settings', 'gnome-control-center'],
  ];
  for (const [dirs, desktop, sentence, title, call] of cases) {
    await rm(rec(), { force: true });
    assert.deepEqual((await rows(sentence, envFor(dirs, { XDG_CURRENT_DESKTOP: desktop }))).map(([t]) => t), [title], sentence);
    assert.deepEqual(await waitFor(async () => (await calls()).length && calls(), sentence), argvs([call]), sentence);
  }
  assert.deepEqual(await rows('open network settings', envFor(['none'])),
    [["Can't open Network settings", 'no settings application (gnome-control-center, systemsettings, xfce4-settings-manager) is installed']]);
});

it('ends a hung tool and reads no more than a bounded answer from a flooding one', async () => {
  const env = envFor(['hang']);
  assert.deepEqual(await rows('volume up', env), [['No sound server found', 'wpctl did not answer within 3 s and was stopped']]);
  assert.deepEqual(await rows('brightness up', env), [["Brightness can't be changed here", 'this screen has no backlight the system can set']]);
  assert.equal(spawnSync('pgrep', ['-P', String(process.pid)]).status, 1, 'a tool is still running');
});

it('switches the colour scheme with the real gsettings, and says so when the setting does not stick', async () => {
  const home = path.join(root, 'gnome-home');
  const env = childEnv({ HOME: home, XDG_CONFIG_HOME: path.join(home, '.config'), XDG_CURRENT_DESKTOP: 'GNOME', GSETTINGS_BACKEND: 'keyfile' });
  const read = () => spawnSync('gsettings', ['get', 'org.gnome.desktop.interface', 'color-scheme'], { env, encoding: 'utf8' }).stdout.trim();
  for (const [sentence, title, value] of [['dark mode', 'Dark mode on', "'prefer-dark'"], ['enable light mode', 'Light mode on', "'prefer-light'"]]) {
    assert.deepEqual((await rows(sentence, env)).map(([t]) => t), [title]);
    assert.equal(read(), value, sentence);
  }
  assert.deepEqual(await rows('dark mode', { ...env, GSETTINGS_BACKEND: 'memory' }),
    [["Can't switch to dark mode", 'the desktop settings were not saved (no dconf session?)']]);
});

it('changes the volume of a real PulseAudio server through pactl', async () => {
  const dir = path.join(root, 'pulse');
  await mkdir(path.join(dir, 'run'), { recursive: true, mode: 0o700 });
  await mkdir(path.join(dir, 'bin'));
  await symlink(spawnSync('sh', ['-c', 'command -v pactl'], { encoding: 'utf8' }).stdout.trim(), path.join(dir, 'bin', 'pactl'));
  const socket = path.join(dir, 'native');
  const server = spawn('pulseaudio', ['-n', '--daemonize=no', '--exit-idle-time=-1', '--disable-shm=yes', '--use-pid-file=no',
    '-L', 'module-null-sink', '-L', `module-native-protocol-unix socket=${socket} auth-anonymous=1`],
  { env: childEnv({ HOME: dir, XDG_RUNTIME_DIR: path.join(dir, 'run'), XDG_CONFIG_HOME: path.join(dir, 'config') }), stdio: 'ignore' });
  try {
    const env = childEnv({ HOME: dir, PULSE_SERVER: `unix:${socket}`, PATH: path.join(dir, 'bin') });
    const pactl = (...args) => spawnSync('pactl', args, { env: { ...env, PATH: process.env.PATH }, encoding: 'utf8' });
    await waitFor(() => server.exitCode === null && pactl('info').status === 0, 'the PulseAudio server');
    const cases = [
      ['set the volume to 30%', [['Volume 30 %', 'pactl']], /\b30%/, /Mute: no/], ['volume up', [['Volume 40 %', 'pactl']], /\b40%/, /Mute: no/],
      ['mute', [['Sound muted', 'volume 40 %']], /\b40%/, /Mute: yes/], ["what's the volume", [['Volume 40 %', 'muted']], /\b40%/, /Mute: yes/],
      ['unmute', [['Sound on', 'volume 40 %']], /\b40%/, /Mute: no/],
    ];
    for (const [sentence, expected, volume, mute] of cases) {
      assert.deepEqual(await rows(sentence, env), expected, sentence);
      assert.match(pactl('get-sink-volume', '@DEFAULT_SINK@').stdout, volume, sentence);
      assert.match(pactl('get-sink-mute', '@DEFAULT_SINK@').stdout, mute, sentence);
    }
  } finally {
    await stopChild(server);
  }
});
