// Timers as tasks: started by /ask, followed through /tasks, stopped through
// /cancel; plus the duration parsing and the registry's bookkeeping.

import { describe, it, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { startDaemon } from '../testkit/daemon.mjs';
import { parseDuration, formatDuration } from '../ostrel/skills/timer.mjs';
import { numberWordsToDigits } from '../ostrel/skills/spoken.mjs';
import { TaskRegistry } from '../ostrel/tasks.mjs';

async function waitFor(check, what, timeoutMs = 10000) {
  const deadline = Date.now() + timeoutMs;
  for (;;) {
    const value = await check();
    if (value) return value;
    if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}`);
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
}

describe('timer tasks through the daemon', () => {
  let daemon;
  before(async () => { daemon = await startDaemon(); });
  after(async () => { await daemon?.stop(); });

  const tasks = async () => {
    const r = await daemon.request({ path: '/tasks' });
    assert.equal(r.status, 200);
    return r.json.tasks;
  };
  const cancel = (id) => daemon.request({ method: 'POST', path: `/cancel/${encodeURIComponent(id)}` });

  it('runs, cancels and finishes timers, newest first', async () => {
    const long = await daemon.ask('set a timer for 5 minutes');
    assert.equal(long.keepOpen, true);
    assert.equal(long.lines.length, 1);
    assert.equal(long.lines[0].title, 'Timer for 5 minutes');
    const longId = long.lines[0].taskId;
    assert.match(longId, /^[A-Za-z0-9_-]+$/);

    let listed = await tasks();
    assert.deepEqual(listed.map((t) => [t.id, t.title, t.status]), [[longId, 'Timer · 5 min', 'running']]);
    assert.equal(typeof listed[0].outcome, 'string');

    const stopped = await cancel(longId);
    assert.equal(stopped.status, 200);
    assert.deepEqual(stopped.json, { ok: true });
    listed = await tasks();
    assert.deepEqual(listed.map((t) => [t.id, t.status, t.outcome]), [[longId, 'cancelled', 'Stopped']]);

    const again = await cancel(longId);
    assert.equal(again.status, 409, 'cancelling a finished task');
    assert.equal((await tasks())[0].status, 'cancelled');

    const short = await daemon.ask('timer 1 second');
    const shortId = short.lines[0].taskId;
    assert.equal(short.keepOpen, true);
    listed = await tasks();
    assert.deepEqual(listed.map((t) => t.id), [shortId, longId], 'newest first');
    assert.equal(listed[0].status, 'running');
    assert.equal(listed[0].title, 'Timer · 1 s');

    const finished = await waitFor(async () => (await tasks()).find((t) => t.id === shortId && t.status !== 'running'), 'the 1-second timer');
    assert.equal(finished.status, 'done');
    assert.equal(finished.outcome, 'Timer finished');
    assert.equal((await cancel(shortId)).status, 409);
  });

  it('keeps reminders with their text', async () => {
    const cases = [
      ['remind me in 10 minutes to stretch', 'Reminder in 10 minutes', 'Stretch', 'Stretch · 10 min'],
      ['remind me to call the plumber in two hours', 'Reminder in 2 hours', 'Call the plumber', 'Call the plumber · 2 h'],
      ['remind me in a minute', 'Reminder in 1 minute', 'Reminder', 'Reminder · 1 min'],
    ];
    for (const [sentence, title, subtitle, taskTitle] of cases) {
      const doc = await daemon.ask(sentence);
      assert.equal(doc.keepOpen, true, sentence);
      assert.deepEqual([doc.lines[0].title, doc.lines[0].subtitle], [title, subtitle], sentence);
      const task = (await tasks()).find((t) => t.id === doc.lines[0].taskId);
      assert.equal(task.title, taskTitle, sentence);
      assert.equal(task.status, 'running');
      assert.equal((await cancel(task.id)).status, 200);
    }
  });

  it('refuses timers it cannot keep, with a row saying why', async () => {
    const cases = [
      ['set a timer', /how long/i],
      ['set a timer for 25 hours', /too long/i],
      ['set a timer for 0 seconds', /too short/i],
      ['timer for 0.2 seconds', /too short/i],
      ['set a timer for 99999999999999999999 minutes', /too long/i],
    ];
    for (const [sentence, title] of cases) {
      const doc = await daemon.ask(sentence);
      assert.equal(doc.keepOpen, false, sentence);
      assert.equal(doc.lines[0].taskId, undefined, sentence);
      assert.match(doc.lines[0].title, title, sentence);
    }
  });

  it('limits how many timers run at once', async () => {
    const running = (await tasks()).filter((t) => t.status === 'running').length;
    const ids = [];
    for (let i = running; i < 20; i += 1) ids.push((await daemon.ask(`set a timer for ${i + 1} minutes`)).lines[0].taskId);
    const refused = await daemon.ask('set a timer for 1 minute');
    assert.match(refused.lines[0].title, /too many timers/i);
    assert.equal(refused.lines[0].taskId, undefined);
    for (const id of ids) assert.equal((await cancel(id)).status, 200);
    const accepted = await daemon.ask('set a timer for 1 minute');
    assert.ok(accepted.lines[0].taskId);
    await cancel(accepted.lines[0].taskId);
  });

  it('answers cancels of unknown or odd ids without harm', async () => {
    for (const id of ['nope', '../tasks', '%00', 'a'.repeat(3000)]) {
      const r = await cancel(id);
      assert.equal(r.status, 404, id.slice(0, 20));
      assert.ok(r.json.error);
    }
    assert.ok(Array.isArray(await tasks()));
  });
});

describe('timer durations', () => {
  it('reads durations in several phrasings', () => {
    const cases = [
      ['set a timer for 5 seconds', 5000],
      ['timer 5 min', 300000],
      ['timer 5m', 300000],
      ['set a timer for one hour thirty minutes', 5400000],
      ['timer for 1 hour and 30 minutes', 5400000],
      ['timer for half an hour', 1800000],
      ['timer for an hour', 3600000],
      ['timer for a minute', 60000],
      ['timer 1.5 hours', 5400000],
      ['twenty five second timer', 25000],
      ['set a timer', null],
      ['set a timer for five', null],
    ];
    for (const [sentence, ms] of cases) assert.equal(parseDuration(numberWordsToDigits(sentence)), ms, sentence);
  });

  it('formats durations for titles and rows', () => {
    const cases = [
      [5000, '5 s', '5 seconds'],
      [1000, '1 s', '1 second'],
      [60000, '1 min', '1 minute'],
      [5400000, '1 h 30 min', '1 hour 30 minutes'],
      [3661000, '1 h 1 min 1 s', '1 hour 1 minute 1 second'],
      [1500, '2 s', '2 seconds'],
      [0, '0 s', '0 seconds'],
    ];
    for (const [ms, short, long] of cases) {
      assert.equal(formatDuration(ms, 'short'), short);
      assert.equal(formatDuration(ms, 'long'), long);
    }
  });
});

describe('task registry', () => {
  it('keeps a bounded number of finished tasks, newest first', () => {
    const registry = new TaskRegistry({ maxRunning: 50, keepFinished: 3 });
    const ids = [];
    for (let i = 0; i < 6; i += 1) ids.push(registry.startTimed({ title: `t${i}`, durationMs: 60000, doneOutcome: 'x' }).task.id);
    for (const id of ids) assert.equal(registry.cancel(id), 'cancelled');
    assert.deepEqual(registry.list().map((t) => t.title), ['t5', 't4', 't3']);
    registry.stopAll();
  });

  it('lets finished tasks age out but never running ones', async () => {
    const registry = new TaskRegistry({ finishedTtlMs: 0 });
    const done = registry.startTimed({ title: 'old', durationMs: 60000, doneOutcome: 'x' }).task.id;
    const running = registry.startTimed({ title: 'live', durationMs: 60000, doneOutcome: 'x' }).task.id;
    registry.cancel(done);
    await new Promise((resolve) => setTimeout(resolve, 5));
    assert.deepEqual(registry.list().map((t) => t.id), [running]);
    assert.equal(registry.cancel(done), 'missing');
    registry.stopAll();
  });
});
