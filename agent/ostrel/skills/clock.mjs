// The time and the date: "what time is it", "what's the date", "what time
// is it in Tokyo" (places are the zones of the system's time-zone data,
// $TZDIR or /usr/share/zoneinfo) and "how many days until 25 December".

import { readdirSync } from 'node:fs';
import path from 'node:path';
import { single } from '../answer.mjs';

const TIME = /^(?:(?:what(?:'s|’s| is) the time|what time is it|(?:the )?(?:current )?time|tell me the time)(?: now| right now)?(?: (?:in|at) (.+?))?|(?:what(?:'s|’s| is) the )?time (?:in|at) (.+?))(?: (?:now|right now|please))?$/;
const DATE = /^(?:what(?:'s|’s| is) (?:the |today's |today’s )?date(?: today)?|what day is (?:it|today)(?: today)?|today's date|today’s date|(?:the )?date|what(?:'s|’s| is) today)$/;
const UNTIL = /^(?:how many days (?:until|till|to|before)|days (?:until|till|to)|how long (?:until|till))\s+(.+)$/;
const MONTHS = ['january', 'february', 'march', 'april', 'may', 'june', 'july', 'august', 'september', 'october', 'november', 'december'];
const HOLIDAYS = { christmas: [12, 25], 'christmas day': [12, 25], 'christmas eve': [12, 24], 'new year': [1, 1], "new year's day": [1, 1], 'new years day': [1, 1], 'new years': [1, 1], "new year's eve": [12, 31], 'halloween': [10, 31] };
const MAX_ZONE_FILES = 5000;

let zones = null;
let zonesDir = null;
// City or zone name (lower case, spaces for underscores) -> zone id, from
// the folder of the system's time-zone data.
function zoneIndex(env) {
  const dir = env.TZDIR || '/usr/share/zoneinfo';
  if (zones && zonesDir === dir) return zones;
  zones = new Map();
  zonesDir = dir;
  let count = 0;
  const walk = (sub, depth) => {
    let entries;
    try {
      entries = readdirSync(path.join(dir, sub), { withFileTypes: true });
    } catch {
      return;
    }
    for (const e of entries) {
      if (count++ > MAX_ZONE_FILES) return;
      if (!/^[A-Z][A-Za-z0-9_+-]*$/.test(e.name) || ['SystemV', 'Etc'].includes(e.name)) continue;
      const id = sub ? `${sub}/${e.name}` : e.name;
      if (e.isDirectory()) {
        if (depth < 2) walk(id, depth + 1);
        continue;
      }
      const key = (s) => s.toLowerCase().replace(/_/g, ' ');
      zones.set(key(id), id);
      if (!zones.has(key(e.name))) zones.set(key(e.name), id);
    }
  };
  walk('', 0);
  zones.set('utc', 'UTC');
  return zones;
}

function formatter(options, timeZone) {
  return new Intl.DateTimeFormat('en-GB', { ...options, ...(timeZone && { timeZone }) });
}

const TIME_OF_DAY = { hour: '2-digit', minute: '2-digit', hourCycle: 'h23' };
const DAY = { weekday: 'long', day: 'numeric', month: 'long', year: 'numeric' };

// The calendar date (year, month, day) of now in a zone.
function dateIn(now, timeZone) {
  const parts = Object.fromEntries(formatter({ year: 'numeric', month: 'numeric', day: 'numeric' }, timeZone).formatToParts(now).map((p) => [p.type, Number(p.value)]));
  return [parts.year, parts.month, parts.day];
}

// [month, day] of "25 december", "december 25th", "dec 25", "christmas".
function parseDay(text) {
  const t = text.replace(/^the\s+/, '').replace(/[?.!]+$/, '').trim();
  if (HOLIDAYS[t]) return HOLIDAYS[t];
  const month = (word) => MONTHS.findIndex((m) => word.length >= 3 && m.startsWith(word)) + 1;
  let m = /^(\d{1,2})(?:st|nd|rd|th)?(?:\s+of)?\s+([a-z]+)$/.exec(t);
  if (m && month(m[2])) return [month(m[2]), Number(m[1])];
  m = /^([a-z]+)\s+(?:the\s+)?(\d{1,2})(?:st|nd|rd|th)?$/.exec(t);
  if (m && month(m[1])) return [month(m[1]), Number(m[2])];
  return null;
}

function place(name) {
  return name.replace(/\b[a-z]/g, (c) => c.toUpperCase());
}

// null when the sentence asks for neither the time nor the date.
export function clockSkill(sentence, { env = process.env, now = new Date() } = {}) {
  const text = String(sentence).toLowerCase().replace(/[?.!]+$/, '').replace(/\s+/g, ' ').trim();
  const local = env.TZ || undefined;
  let m = TIME.exec(text);
  if (m) {
    const where = m[1] ?? m[2];
    if (!where) return single(formatter(TIME_OF_DAY, local).format(now), formatter(DAY, local).format(now));
    const zone = zoneIndex(env).get(where.replace(/^the\s+/, '').slice(0, 60));
    if (!zone) return single(`I don't know the time in ${place(where.slice(0, 40))}`, 'name a city of the time-zone data, such as Tokyo or New York');
    try {
      return single(formatter(TIME_OF_DAY, zone).format(now), `in ${place(where)} (${zone}), ${formatter(DAY, zone).format(now)}`);
    } catch {
      return single(`I don't know the time in ${place(where.slice(0, 40))}`, `${zone} is not a zone this system can show`);
    }
  }
  if (DATE.test(text)) return single(formatter(DAY, local).format(now), formatter(TIME_OF_DAY, local).format(now));
  m = UNTIL.exec(text);
  if (m) {
    const day = parseDay(m[1]);
    if (!day) return single(`Which day is "${m[1].slice(0, 40)}"?`, 'try: how many days until 25 December');
    const [year, month, date] = dateIn(now, local);
    const [targetMonth, targetDay] = day;
    const today = Date.UTC(year, month - 1, date);
    let target = Date.UTC(year, targetMonth - 1, targetDay);
    if (new Date(target).getUTCDate() !== targetDay) return single(`There is no ${targetDay} ${place(MONTHS[targetMonth - 1])}`, 'try: how many days until 25 December');
    if (target < today) target = Date.UTC(year + 1, targetMonth - 1, targetDay);
    const days = Math.round((target - today) / 86400e3);
    const when = formatter(DAY, 'UTC').format(new Date(target));
    return single(days === 0 ? 'Today' : `${days} day${days === 1 ? '' : 's'}`, `until ${when}`);
  }
  return null;
}
