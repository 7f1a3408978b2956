// Battery state from the kernel's power-supply class in sysfs. The root is
// configurable so that tests (and unusual systems) can point it at another
// tree.

import { open, readdir } from 'node:fs/promises';
import path from 'node:path';
import { answer, row, single } from '../answer.mjs';

export const DEFAULT_POWER_SUPPLY = '/sys/class/power_supply';
const MAX_SUPPLIES = 32;
const MAX_FILE_BYTES = 256;

const INTENT = /\bbatter(?:y|ies)\b|\bpower level\b|\bhow much charge\b/;

export function isBatteryRequest(sentence) {
  return INTENT.test(sentence.toLowerCase());
}

// sysfs attributes are a line each; reading at most a few bytes keeps a
// strange file (or a fake tree) from costing memory.
async function readAttribute(dir, name) {
  let handle;
  try {
    handle = await open(path.join(dir, name), 'r');
    const buffer = Buffer.alloc(MAX_FILE_BYTES);
    const { bytesRead } = await handle.read(buffer, 0, MAX_FILE_BYTES, 0);
    const text = buffer.toString('utf8', 0, bytesRead).split('\n')[0].trim();
    return text === '' ? null : text;
  } catch {
    return null;
  } finally {
    await handle?.close().catch(() => {});
  }
}

async function readNumber(dir, name) {
  const text = await readAttribute(dir, name);
  if (text === null || !/^-?\d+$/.test(text)) return null;
  return Number(text);
}

export function formatHours(hours) {
  const minutes = Math.round(hours * 60);
  const h = Math.floor(minutes / 60);
  const m = minutes % 60;
  if (h === 0) return `${m} min`;
  return m === 0 ? `${h} h` : `${h} h ${m} min`;
}

// Hours to empty (discharging) or to full (charging), from energy (µWh/µW)
// or charge (µAh/µA) readings; null when the kernel does not say.
function estimateHours(status, r) {
  const pairs = [[r.energyNow, r.energyFull, r.powerNow], [r.chargeNow, r.chargeFull, r.currentNow]];
  for (const [now, full, rate] of pairs) {
    if (now === null || !rate || rate === 0) continue;
    const flow = Math.abs(rate);
    if (status === 'Discharging') return now / flow;
    if (status === 'Charging' && full !== null && full > now) return (full - now) / flow;
  }
  return null;
}

async function readBattery(dir, name) {
  const read = (attr) => readNumber(dir, attr);
  const [capacity, status, modelName, scope, energyNow, energyFull, powerNow, chargeNow, chargeFull, currentNow] = await Promise.all([
    read('capacity'), readAttribute(dir, 'status'), readAttribute(dir, 'model_name'), readAttribute(dir, 'scope'),
    read('energy_now'), read('energy_full'), read('power_now'),
    read('charge_now'), read('charge_full'), read('current_now'),
  ]);
  let percent = capacity;
  if (percent === null && energyNow !== null && energyFull) percent = Math.round((energyNow / energyFull) * 100);
  if (percent === null && chargeNow !== null && chargeFull) percent = Math.round((chargeNow / chargeFull) * 100);
  if (percent !== null) percent = Math.max(0, Math.min(100, percent));
  const hours = estimateHours(status, { energyNow, energyFull, powerNow, chargeNow, chargeFull, currentNow });
  const label = scope === 'Device' && modelName ? modelName : name;
  return { name, label, percent, status: status ?? 'Unknown', hours };
}

function describe(battery, many) {
  const level = battery.percent === null ? 'level unknown' : `${battery.percent}%`;
  const title = many ? `${battery.label}: ${level}` : `Battery ${level}`;
  let subtitle = battery.status;
  if (battery.hours !== null && battery.hours > 0 && battery.hours < 100) {
    subtitle += battery.status === 'Charging' ? ` · full in ${formatHours(battery.hours)}` : ` · ${formatHours(battery.hours)} left`;
  }
  return row(title, subtitle);
}

export async function batterySkill(env) {
  const root = env.OSTREL_AGENT_POWER_SUPPLY || DEFAULT_POWER_SUPPLY;
  let entries;
  try {
    entries = (await readdir(root)).sort().slice(0, MAX_SUPPLIES);
  } catch {
    return single('No battery found', 'this machine reports no power supplies');
  }
  const batteries = [];
  for (const name of entries) {
    const dir = path.join(root, name);
    if ((await readAttribute(dir, 'type')) !== 'Battery') continue;
    batteries.push(await readBattery(dir, name));
  }
  if (batteries.length === 0) return single('No battery found', 'this machine runs on mains power');
  return answer(batteries.map((b) => describe(b, batteries.length > 1)));
}
