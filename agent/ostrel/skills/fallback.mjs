import { single, CAPABILITIES } from '../answer.mjs';

export function fallbackSkill() {
  return single("I can't do that yet", CAPABILITIES);
}
