// The one-shot reply script, run the way the palette runs it.

import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFile } from 'node:child_process';
import { AGENT_ROOT, RESPOND, childEnv, makeTempDir, removeDir } from '../testkit/daemon.mjs';

function respond(args, { cwd = AGENT_ROOT, env = {} } = {}) {
  return new Promise((resolve) => {
    execFile(process.execPath, [RESPOND, ...args], { cwd, env: childEnv(env), timeout: 20000 }, (err, stdout, stderr) => {
      resolve({ code: err ? err.code : 0, stdout, stderr });
    });
  });
}

// Exactly one JSON document followed by one newline, nothing else.
function parseOnly(stdout) {
  assert.ok(stdout.endsWith('\n'), 'output must end with a newline');
  assert.equal(stdout.indexOf('\n'), stdout.length - 1, 'output must be a single line');
  const doc = JSON.parse(stdout);
  assert.ok(Array.isArray(doc.lines) && doc.lines.length > 0);
  assert.equal(typeof doc.keepOpen, 'boolean');
  for (const line of doc.lines) {
    assert.equal(typeof line.title, 'string');
    assert.equal(typeof line.subtitle, 'string');
  }
  return doc;
}

test('answers one sentence with one document and exit status 0', async () => {
  const home = await makeTempDir();
  try {
    const cases = [
      { args: ['12*89'], title: '1068', subtitle: '12 × 89' },
      { args: ['twelve times eighty nine'], title: '1068' },
      { args: ['12**'], title: /can't calculate/i },
      { args: ['set a timer for 5 minutes'], title: /need the ostrel agent/i, noTask: true },
      { args: [], title: /ask me something/i, subtitle: /maths/ },
      { args: [''], title: /can't do that yet/i },
      { args: ['open', 'the', 'pod', 'bay', 'doors'], title: /can't do that yet/i },
      { args: ['what apps are open'], title: 'No X display' },
      { args: ['battery'], title: 'No battery found', env: { OSTREL_AGENT_POWER_SUPPLY: home } },
      { args: ['{"sentence": "x"}\n\u0007'], title: /can't do that yet/i },
      { args: ['9'.repeat(100000)], title: /too long/i },
    ];
    for (const c of cases) {
      const r = await respond(c.args, { env: c.env });
      const name = JSON.stringify(c.args).slice(0, 40);
      assert.equal(r.code, 0, `${name}: ${r.stderr}`);
      const doc = parseOnly(r.stdout);
      const [line] = doc.lines;
      if (c.title instanceof RegExp) assert.match(line.title, c.title, name);
      else assert.equal(line.title, c.title, name);
      if (c.subtitle instanceof RegExp) assert.match(line.subtitle, c.subtitle, name);
      else if (c.subtitle) assert.equal(line.subtitle, c.subtitle, name);
      if (c.noTask) {
        assert.equal(doc.keepOpen, false);
        assert.equal(line.taskId, undefined);
      }
    }
  } finally {
    await removeDir(home);
  }
});

test('works from any working directory', async () => {
  for (const cwd of [AGENT_ROOT, '/']) {
    const doc = parseOnly((await respond(['2+2'], { cwd })).stdout);
    assert.equal(doc.lines[0].title, '4');
  }
});
