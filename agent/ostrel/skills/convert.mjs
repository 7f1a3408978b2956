// Unit conversion: "5 miles in km", "100 f to c", "how many ounces in a
// pound", "2 gb in mb". Length, mass, volume (US customary measures),
// temperature, speed, area, data sizes (kB, MB... are powers of 1000, KiB,
// MiB... of 1024) and durations, by name or symbol.

import { readFileSync } from 'node:fs';
import { single } from '../answer.mjs';
import { numberWordsToDigits } from './spoken.mjs';

// units.json: dimension -> [symbol shown, size in the dimension's base unit
// (for temperatures its scale), names: words apart, or phrases apart by "|"].
const UNITS = JSON.parse(readFileSync(new URL('units.json', import.meta.url), 'utf8'));

const BY_NAME = new Map();
for (const [dimension, symbol, size, names] of Object.entries(UNITS).flatMap(([d, rows]) => rows.map((r) => [d, ...r]))) {
  const unit = { dimension, symbol, size };
  for (const name of [symbol, ...names.split(names.includes('|') ? '|' : ' ')]) {
    if (!BY_NAME.has(name.toLowerCase())) BY_NAME.set(name.toLowerCase(), unit);
  }
}
// Longest names first: "fl oz" before "oz", "sq ft" before "ft".
const UNIT = [...BY_NAME.keys()].sort((a, b) => b.length - a.length).map((n) => n.replace(/[.*+?^${}()|[\]\\/]/g, '\\$&')).join('|');
const NUMBER = String.raw`-?(?:\d+(?:\.\d*)?|\.\d+)(?:e[+-]?\d+)?`;
const CONVERT = new RegExp(String.raw`^(?:(?:convert|what(?:'s|’s| is)|how much is)\s+)?(${NUMBER})\s*(${UNIT})\s+(?:in|to|into|as|in to)\s+(${UNIT})$`);
const HOW_MANY = new RegExp(String.raw`^how (?:many|much)\s+(${UNIT})\s+(?:are\s+)?(?:there\s+)?in\s+(?:(a|an|${NUMBER})\s+)?(${UNIT})$`);

function toBase(unit, value) {
  if (unit.dimension !== 'temperature') return value * unit.size;
  if (unit.size === 'C') return value + 273.15;
  if (unit.size === 'F') return (value - 32) * (5 / 9) + 273.15;
  return value;
}

function fromBase(unit, value) {
  if (unit.dimension !== 'temperature') return value / unit.size;
  if (unit.size === 'C') return value - 273.15;
  if (unit.size === 'F') return (value - 273.15) * (9 / 5) + 32;
  return value;
}

// Nine significant digits: exact for every everyday conversion shown, with
// the binary noise of the factors gone (0.1 in in cm is 0.254, not
// 0.25400000000000006).
export function formatAmount(value) {
  const rounded = Number(value.toPrecision(9));
  return Object.is(rounded, -0) ? '0' : String(rounded);
}

export function convert(amount, fromName, toName) {
  const from = BY_NAME.get(fromName.toLowerCase());
  const to = BY_NAME.get(toName.toLowerCase());
  if (!from || !to) return null;
  if (from.dimension !== to.dimension) return { ok: false, error: `Can't convert ${from.dimension} to ${to.dimension}`, from, to };
  const kelvin = from.dimension === 'temperature' ? toBase(from, amount) : 0;
  if (kelvin < 0) return { ok: false, error: 'That is below absolute zero', from, to };
  const value = fromBase(to, toBase(from, amount));
  if (!Number.isFinite(value)) return { ok: false, error: 'The result is too large', from, to };
  return { ok: true, value, from, to };
}

// null when the sentence asks for no conversion.
export function convertSkill(sentence) {
  const text = numberWordsToDigits(String(sentence).toLowerCase().trim().replace(/[?.!]+$/, '').replace(/\s+/g, ' '));
  let amount;
  let fromName;
  let toName;
  let m = CONVERT.exec(text);
  if (m) [, amount, fromName, toName] = m;
  else if ((m = HOW_MANY.exec(text))) [, toName, amount = '1', fromName] = m;
  else return null;
  const value = /^an?$/.test(amount) ? 1 : Number(amount);
  const r = convert(value, fromName, toName);
  if (!r) return null;
  const shown = `${formatAmount(value)} ${r.from.symbol} in ${r.to.symbol}`;
  if (!r.ok) return single(r.error, shown);
  return single(`${formatAmount(r.value)} ${r.to.symbol}`, shown);
}
