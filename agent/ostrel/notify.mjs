// Desktop notifications (org.freedesktop.Notifications on the session
// bus). Without a bus, or with no notification server on it, nothing is
// shown and the reason comes back as a value; nothing throws.

import { connect, sessionBusAddress } from './dbus.mjs';
import { clip } from './answer.mjs';

const TIMEOUT_MS = 2000;

export async function notify(summary, body, env = process.env) {
  let bus = null;
  try {
    bus = await connect(sessionBusAddress(env), { timeoutMs: TIMEOUT_MS });
    await bus.call({
      destination: 'org.freedesktop.Notifications',
      path: '/org/freedesktop/Notifications',
      interface: 'org.freedesktop.Notifications',
      member: 'Notify',
      signature: 'susssasa{sv}i',
      body: ['Ostrel', 0, '', clip(summary, 120), clip(body, 400), [], {}, -1],
    }, { timeoutMs: TIMEOUT_MS, lateMessage: 'the notification server did not answer' });
    return { ok: true };
  } catch (err) {
    return { ok: false, error: String(err?.message ?? err) };
  } finally {
    bus?.close();
  }
}
