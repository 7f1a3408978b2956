// Sends a sentence to the first skill that claims it. Shared by the daemon
// and the one-shot reply script so both answer alike.

import { single } from './answer.mjs';
import { arithmeticSkill } from './skills/arithmetic.mjs';
import { isAppsRequest, appsSkill } from './skills/apps.mjs';
import { placementFor, placementSkill } from './skills/placement.mjs';
import { isBatteryRequest, batterySkill } from './skills/battery.mjs';
import { isTimerRequest, timerSkill } from './skills/timer.mjs';
import { fallbackSkill } from './skills/fallback.mjs';
import { launchTarget, launchSkill, bareLaunch } from './skills/launch.mjs';
import { switchTarget, switchSkill } from './skills/switch.mjs';
import { settingsRequest, settingsSkill } from './skills/settings.mjs';
import { placeTarget, placeSkill } from './skills/places.mjs';
import { findTarget, findSkill, revealTarget, revealSkill, openFileSkill } from './skills/files.mjs';
import { clockSkill } from './skills/clock.mjs';
import { convertSkill } from './skills/convert.mjs';

export const MAX_SENTENCE = 2000;

// tasks is null where no daemon keeps tasks alive (the reply script).
export async function answerSentence(sentence, { tasks = null, env = process.env } = {}) {
  if (typeof sentence !== 'string') return single('I need a sentence', 'send text such as: what apps are open');
  if (sentence.length > MAX_SENTENCE) return single('That request is too long', `keep it under ${MAX_SENTENCE} characters`);
  const text = sentence.trim();
  if (text === '') return fallbackSkill();
  try {
    if (isTimerRequest(text)) return timerSkill(text, tasks);
    // Settings, folders and files before "open X" takes them for applications.
    const setting = settingsRequest(text);
    if (setting) return await settingsSkill(setting, env);
    const folder = placeTarget(text);
    if (folder) return await placeSkill(folder, env);
    const reveal = revealTarget(text);
    if (reveal) return await revealSkill(reveal, env);
    const wanted = findTarget(text);
    if (wanted) return await findSkill(wanted, env);
    // "open the battery monitor" names an application, not the battery;
    // "show battery" and "show windows" stay with their skills.
    const app = launchTarget(text);
    if (app) return (await openFileSkill(app, env)) ?? (await launchSkill(app, env));
    if (isBatteryRequest(text)) return await batterySkill(env);
    const place = placementFor(text);
    if (place) return await placementSkill(place, env);
    if (isAppsRequest(text)) return await appsSkill(env);
    const window = switchTarget(text);
    if (window) return await switchSkill(window, env);
    return clockSkill(text, { env }) ?? convertSkill(text) ?? arithmeticSkill(text) ?? (await bareLaunch(text, env)) ?? fallbackSkill();
  } catch (err) {
    // Skills report problems as rows; reaching here is a bug, but the user
    // still gets a row rather than a dead palette.
    return single('Something went wrong', String(err?.message ?? err));
  }
}
