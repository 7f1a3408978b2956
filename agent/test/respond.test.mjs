// The one-shot reply script, run the way the palette runs it: exactly one
// JSON document on one line and exit status 0, whatever it was asked.

import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFile } from 'node:child_process';
import path from 'node:path';
import { AGENT_ROOT, childEnv } from '../testkit/daemon.mjs';

const respond = (args, cwd) => new Promise((resolve) => {
  execFile(process.execPath, [path.join(AGENT_ROOT, 'ostrel', 'respond.mjs'), ...args], { cwd, env: childEnv(), timeout: 20000 },
    (err, stdout, stderr) => resolve({ code: err ? err.code : 0, stdout, stderr }));
});

test('answers one sentence with one document from any folder', async () => {
  const cases = [
    [['12*89'], '1068', '/'],
    [['set a timer for 5 minutes'], 'Timers need the Ostrel agent running'],
    [[], 'Ask me something'],
    [['{"sentence": "x"}\n\u0007'], "I can't do that yet"],
    [['9'.repeat(100000)], 'That request is too long'],
  ];
  for (const [args, title, cwd = AGENT_ROOT] of cases) {
    const r = await respond(args, cwd);
    assert.equal(r.code, 0, r.stderr);
    assert.equal(r.stdout.indexOf('\n'), r.stdout.length - 1, 'not a single line');
    const doc = JSON.parse(r.stdout);
    assert.deepEqual([doc.lines.length, doc.lines[0].title, doc.keepOpen], [1, title, false], args.join(' ').slice(0, 30));
  }
});
