// Unit conversion: "5 miles in km", "100 f to c", "how many ounces in a
// pound", "2 gb in mb". Length, mass, volume (US customary measures),
// temperature, speed, area, data sizes (kB, MB... are powers of 1000, KiB,
// MiB... of 1024) and durations, by name or symbol.

import { single } from '../answer.mjs';
import { numberWordsToDigits } from './spoken.mjs';

// [dimension, symbol shown, size in the dimension's base unit, names: words
// apart, or phrases apart by "|"]
const UNITS = [
  ['length', 'mm', 1e-3, 'millimeter millimeters millimetre millimetres'],
  ['length', 'cm', 1e-2, 'centimeter centimeters centimetre centimetres'],
  ['length', 'm', 1, 'meter meters metre metres'],
  ['length', 'km', 1e3, 'kilometer kilometers kilometre kilometres kms'],
  ['length', 'in', 0.0254, 'inch inches'],
  ['length', 'ft', 0.3048, 'foot feet'],
  ['length', 'yd', 0.9144, 'yard yards yds'],
  ['length', 'mi', 1609.344, 'mile miles'],
  ['length', 'nmi', 1852, 'nautical mile|nautical miles'],
  ['mass', 'mg', 1e-6, 'milligram milligrams'],
  ['mass', 'g', 1e-3, 'gram grams gramme grammes'],
  ['mass', 'kg', 1, 'kilogram kilograms kilo kilos kgs'],
  ['mass', 't', 1e3, 'tonne|tonnes|metric ton|metric tons'],
  ['mass', 'oz', 0.028349523125, 'ounce ounces'],
  ['mass', 'lb', 0.45359237, 'pound pounds lbs'],
  ['mass', 'st', 6.35029318, 'stone stones'],
  ['volume', 'ml', 1e-3, 'milliliter milliliters millilitre millilitres'],
  ['volume', 'cl', 1e-2, 'centiliter centiliters centilitre centilitres'],
  ['volume', 'l', 1, 'liter liters litre litres'],
  ['volume', 'm³', 1e3, 'm3|cubic meter|cubic meters|cubic metre|cubic metres'],
  ['volume', 'tsp', 0.00492892159375, 'teaspoon teaspoons'],
  ['volume', 'tbsp', 0.01478676478125, 'tablespoon tablespoons'],
  ['volume', 'fl oz', 0.0295735295625, 'floz|fluid ounce|fluid ounces'],
  ['volume', 'cup', 0.2365882365, 'cups'],
  ['volume', 'pt', 0.473176473, 'pint pints'],
  ['volume', 'qt', 0.946352946, 'quart quarts'],
  ['volume', 'gal', 3.785411784, 'gallon gallons'],
  ['temperature', '°C', 'C', 'c|celsius|centigrade|degrees celsius|degree celsius|degrees c'],
  ['temperature', '°F', 'F', 'f|fahrenheit|degrees fahrenheit|degree fahrenheit|degrees f'],
  ['temperature', 'K', 'K', 'k|kelvin|kelvins'],
  ['speed', 'm/s', 1, 'meters per second|metres per second'],
  ['speed', 'km/h', 1 / 3.6, 'kph|kmh|kilometers per hour|kilometres per hour'],
  ['speed', 'mph', 0.44704, 'mph|miles per hour'],
  ['speed', 'kn', 1852 / 3600, 'knot knots'],
  ['area', 'cm²', 1e-4, 'cm2|square centimeter|square centimeters|square centimetre|square centimetres'],
  ['area', 'm²', 1, 'm2|sq m|square meter|square meters|square metre|square metres'],
  ['area', 'km²', 1e6, 'km2|sq km|square kilometer|square kilometers|square kilometre|square kilometres'],
  ['area', 'ha', 1e4, 'hectare hectares'],
  ['area', 'acre', 4046.8564224, 'acres'],
  ['area', 'ft²', 0.09290304, 'ft2|sq ft|square foot|square feet'],
  ['area', 'mi²', 2589988.110336, 'mi2|sq mi|square mile|square miles'],
  ['data', 'bit', 1 / 8, 'bits'],
  ['data', 'B', 1, 'b|byte|bytes'],
  ['data', 'kB', 1e3, 'kb|kilobyte|kilobytes'],
  ['data', 'MB', 1e6, 'mb|megabyte|megabytes'],
  ['data', 'GB', 1e9, 'gb|gigabyte|gigabytes'],
  ['data', 'TB', 1e12, 'tb|terabyte|terabytes'],
  ['data', 'KiB', 1024, 'kib|kibibyte|kibibytes'],
  ['data', 'MiB', 1024 ** 2, 'mib|mebibyte|mebibytes'],
  ['data', 'GiB', 1024 ** 3, 'gib|gibibyte|gibibytes'],
  ['data', 'TiB', 1024 ** 4, 'tib|tebibyte|tebibytes'],
  ['duration', 's', 1, 'sec|secs|second|seconds'],
  ['duration', 'min', 60, 'mins|minute|minutes'],
  ['duration', 'h', 3600, 'hr|hrs|hour|hours'],
  ['duration', 'days', 86400, 'day|d'],
  ['duration', 'weeks', 604800, 'week|wk|wks'],
  ['duration', 'years', 31556952, 'year|yr|yrs'],
];

const BY_NAME = new Map();
for (const [dimension, symbol, size, names] of UNITS) {
  const unit = { dimension, symbol, size };
  for (const name of [symbol, ...names.split(names.includes('|') ? '|' : ' ')]) {
    if (!BY_NAME.has(name.toLowerCase())) BY_NAME.set(name.toLowerCase(), unit);
  }
}
// Longest names first: "fl oz" before "oz", "sq ft" before "ft".
const UNIT = [...BY_NAME.keys()].sort((a, b) => b.length - a.length).map((n) => n.replace(/[.*+?^${}()|[\]\\/]/g, '\\$&')).join('|');
const NUMBER = String.raw`-?(?:\d+(?:\.\d*)?|\.\d+)(?:e[+-]?\d+)?`;
const CONVERT = new RegExp(String.raw`^(?:(?:convert|what(?:'s|’s| is)|how much is)\s+)?(${NUMBER})\s*(${UNIT})\s+(?:in|to|into|as|in to)\s+(${UNIT})$`);
const HOW_MANY = new RegExp(String.raw`^how (?:many|much)\s+(${UNIT})\s+(?:are\s+)?(?:there\s+)?in\s+(?:(a|an|one|${NUMBER})\s+)?(${UNIT})$`);

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
  const value = /^(?:a|an|one)$/.test(amount) ? 1 : Number(amount);
  const r = convert(value, fromName, toName);
  if (!r) return null;
  const shown = `${formatAmount(value)} ${r.from.symbol} in ${r.to.symbol}`;
  if (!r.ok) return single(r.error, shown);
  return single(`${formatAmount(r.value)} ${r.to.symbol}`, shown);
}
