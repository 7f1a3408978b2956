#!/usr/bin/env node
// One-shot reply: answers a single sentence on standard output as one JSON
// answer document and exits 0, for when no daemon is running.

import { answerSentence } from './router.mjs';
import { single, CAPABILITIES } from './answer.mjs';

async function main() {
  const args = process.argv.slice(2);
  if (args.length === 0) {
    return single('Ask me something', CAPABILITIES);
  }
  return answerSentence(args.join(' '), { tasks: null });
}

let doc;
try {
  doc = await main();
} catch (err) {
  doc = single('Something went wrong', String(err?.message ?? err));
}
// Exits once the answer is out: work a skill started in the background
// (listing the files for the file index) is of no use to a process that
// answers once.
process.stdout.write(`${JSON.stringify(doc)}\n`, () => process.exit(0));
