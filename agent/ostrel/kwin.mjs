// Windows of a KDE Plasma Wayland session, through KWin's scripting D-Bus
// interface: KWin keeps its window list to itself, but it runs a script it
// is given. The agent writes a small script that reports the windows (or
// activates one of them) by calling back on the agent's own bus connection,
// loads it under a name of its own, runs it, and unloads it again whatever
// happened. Everything KWin sends back is read as untrusted input.

import { randomUUID } from 'node:crypto';
import { mkdtemp, rm, writeFile } from 'node:fs/promises';
import os from 'node:os';
import path from 'node:path';
import { connect, sessionBusAddress, METHOD_CALL, METHOD_RETURN, ERROR } from './dbus.mjs';

const KWIN = 'org.kde.KWin';
const SCRIPTING = 'org.kde.kwin.Scripting';
const REPORT_PATH = '/org/ostrel/KWinReport';
const REPORT_INTERFACE = 'org.ostrel.KWinReport';
export const DEADLINE_MS = 2000;
const UNLOAD_MS = 1000;
const MAX_REPORTED = 500;
const WINDOW_ID = /^[\w{}.-]{1,64}$/;

// The script KWin runs. One text for both uses: with a target it activates
// that window and reports whether it was there, without one it reports the
// windows users switch between (no panels, desktops or pop-ups). KWin 5
// names them clients, KWin 6 windows. Texts are cut so that the most windows
// reported still fit in one D-Bus message, whatever characters they hold.
// A window's internalId is a UUID, whose text is its braced form.
export function kwinScript(service, token, target) {
  const ask = JSON.stringify({ service, token, target }).replace(/\u2028/g, '\\u2028').replace(/\u2029/g, '\\u2029');
  return `var ostrel = ${ask};
(function () {
  var all = workspace.windowList ? workspace.windowList() : workspace.clientList();
  var out = [], found = false;
  for (var i = 0; i < all.length; ++i) {
    var w = all[i];
    if (!w.normalWindow && !w.dialog) continue;
    var id = String(w.internalId);
    if (ostrel.target === null) {
      if (out.length < ${MAX_REPORTED}) out.push({ id: id, title: String(w.caption).slice(0, 120), appClass: String(w.resourceClass).slice(0, 80), appName: String(w.resourceName).slice(0, 80) });
    } else if (id === ostrel.target && !found) {
      found = true;
      if (w.minimized) w.minimized = false;
      if ('activeWindow' in workspace) workspace.activeWindow = w; else workspace.activeClient = w;
    }
  }
  var report = ostrel.target === null ? { windows: out } : { found: found };
  callDBus(ostrel.service, '${REPORT_PATH}', '${REPORT_INTERFACE}', 'Report', ostrel.token, JSON.stringify(report));
})();
`;
}

// The windows of a report, or null when it is not one.
export function kwinWindows(text) {
  let report;
  try {
    report = JSON.parse(text);
  } catch {
    return null;
  }
  if (!Array.isArray(report?.windows)) return null;
  const str = (v) => (typeof v === 'string' ? v : '');
  return report.windows
    .filter((w) => w && typeof w === 'object' && typeof w.id === 'string' && WINDOW_ID.test(w.id))
    .map((w) => ({ id: w.id, title: str(w.title), appClass: str(w.appClass), appName: str(w.appName) }));
}

function late(ms, message) {
  let timer;
  const promise = new Promise((resolve, reject) => { timer = setTimeout(() => reject(Object.assign(new Error(message), { late: true })), ms); });
  return { promise, cancel: () => clearTimeout(timer) };
}

const callKWin = (bus, path, iface, member, signature = '', body = [], options = {}) =>
  bus.call({ destination: KWIN, path, interface: iface, member, signature, body }, options);

// Runs one script in KWin and returns what it reported, { ok: true, text },
// or { ok: false, kind, error } with kind "absent" (no bus, or no KWin on
// it), "late" (no report within the deadline) or "refused".
export async function runKWinScript(env, target = null) {
  const address = sessionBusAddress(env);
  if (!address) return { ok: false, kind: 'absent', error: 'no D-Bus session bus' };
  const deadline = late(DEADLINE_MS, `no reply within ${DEADLINE_MS / 1000} seconds`);
  const within = (promise) => Promise.race([promise, deadline.promise]);
  const name = `ostrel-${randomUUID()}`;
  const connecting = connect(address, { timeoutMs: DEADLINE_MS });
  let bus = null;
  let owner = null;
  let dir = null;
  let loading = false;
  try {
    bus = await within(connecting);
    const asked = bus.call({ destination: 'org.freedesktop.DBus', path: '/org/freedesktop/DBus', interface: 'org.freedesktop.DBus', member: 'GetNameOwner', signature: 's', body: [KWIN] });
    [owner] = await within(asked.catch(() => Promise.reject(new Error('KWin is not on the session bus'))));
    const token = randomUUID();
    const reported = new Promise((resolve) => {
      bus.onMessage((m) => {
        if (m.type !== METHOD_CALL) return;
        const ours = m.sender === owner && m.path === REPORT_PATH && m.member === 'Report' && m.body[0] === token && typeof m.body[1] === 'string';
        if (!(m.flags & 1)) {
          bus.send(ours ? { type: METHOD_RETURN, replySerial: m.serial, destination: m.sender }
            : { type: ERROR, replySerial: m.serial, destination: m.sender, errorName: 'org.freedesktop.DBus.Error.UnknownMethod', signature: 's', body: ['not expected'] });
        }
        if (ours) resolve(m.body[1]);
      });
    });
    dir = await mkdtemp(path.join(os.tmpdir(), 'ostrel-kwin-'));
    const file = path.join(dir, 'script.js');
    await writeFile(file, kwinScript(bus.name, token, target), { mode: 0o600 });
    loading = true;
    const [id] = await within(callKWin(bus, '/Scripting', SCRIPTING, 'loadScript', 'ss', [file, name]));
    if (!Number.isInteger(id) || id < 0) return { ok: false, kind: 'refused', error: `loadScript answered ${String(id).slice(0, 20)}` };
    // KWin 6 registers a loaded script as /Scripting/ScriptN, KWin 5.27 and
    // older as /N.
    await within(callKWin(bus, `/Scripting/Script${id}`, 'org.kde.kwin.Script', 'run')
      .catch((err) => (/UnknownObject|UnknownMethod/.test(err.message) ? callKWin(bus, `/${id}`, 'org.kde.kwin.Script', 'run') : Promise.reject(err))));
    return { ok: true, text: await within(reported) };
  } catch (err) {
    // Until KWin is found on the bus, any failure means it is not there.
    const kind = !owner ? 'absent' : err.late ? 'late' : 'refused';
    return { ok: false, kind, error: String(err?.message ?? err).split('\n')[0] };
  } finally {
    deadline.cancel();
    // Also after a late reply to loadScript, which KWin may yet have loaded.
    if (loading) await unload(bus, address, name);
    // A connection made after the deadline is closed as soon as it is made.
    if (bus) bus.close();
    else connecting.then((late_) => late_.close(), () => {});
    if (dir) await rm(dir, { recursive: true, force: true });
  }
}

async function unload(bus, address, name) {
  const ends = Date.now() + UNLOAD_MS;
  // A connection that broke (say, on an oversized message) is replaced.
  const opening = bus.closed ? connect(address, { timeoutMs: UNLOAD_MS }) : null;
  try {
    const via = opening ? await opening : bus;
    await callKWin(via, '/Scripting', SCRIPTING, 'unloadScript', 's', [name], { timeoutMs: Math.max(1, ends - Date.now()) });
  } catch {
    // KWin is gone or wedged; nothing more can be done from here.
  } finally {
    opening?.then((own) => own.close(), () => {});
  }
}
