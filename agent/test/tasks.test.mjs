// Timers as tasks: started by /ask, followed through /tasks, stopped
// through /cancel; and the registry's bookkeeping.

import { describe, it, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { startDaemon, waitFor } from '../testkit/daemon.mjs';
import { TaskRegistry } from '../ostrel/tasks.mjs';

describe('timer tasks through the daemon', () => {
  let daemon;
  before(async () => { daemon = await startDaemon(); });
  after(() => daemon?.stop());
  const tasks = async () => (await daemon.request({ path: '/tasks' })).json.tasks;
  const cancel = (id) => daemon.request({ method: 'POST', path: `/cancel/${encodeURIComponent(id)}` });

  it('runs, cancels and finishes timers, newest first', async () => {
    const longId = (await daemon.ask('set a timer for 1 hour and 30 minutes')).lines[0].taskId;
    assert.deepEqual((await tasks()).map((t) => [t.id, t.title, t.status]), [[longId, 'Timer · 1 h 30 min', 'running']]);
    assert.deepEqual((await cancel(longId)).json, { ok: true });
    assert.deepEqual((await tasks()).map((t) => [t.status, t.outcome]), [['cancelled', 'Stopped']]);
    assert.equal((await cancel(longId)).status, 409, 'cancelling a finished task');

    const shortId = (await daemon.ask('timer 1 second')).lines[0].taskId;
    assert.deepEqual((await tasks()).map((t) => t.id), [shortId, longId], 'newest first');
    const finished = await waitFor(async () => (await tasks()).find((t) => t.id === shortId && t.status !== 'running'), 'the timer');
    assert.deepEqual([finished.status, finished.outcome], ['done', 'Timer finished']);
    assert.equal((await cancel(shortId)).status, 409);
    assert.equal((await cancel('../tasks')).status, 404);
  });

  it('limits how many timers run at once', async () => {
    const ids = [];
    for (let i = 0; i < 20; i += 1) ids.push((await daemon.ask(`set a timer for ${i + 1} minutes`)).lines[0].taskId);
    const refused = await daemon.ask('set a timer for 1 minute');
    assert.match(refused.lines[0].title, /too many timers/i);
    assert.equal(refused.lines[0].taskId, undefined);
    assert.equal((await cancel(ids[0])).status, 200);
    assert.ok((await daemon.ask('set a timer for 1 minute')).lines[0].taskId, 'a freed place is not reused');
  });
});

describe('task registry', () => {
  it('keeps a bounded number of finished tasks and lets them age out, never running ones', () => {
    const registry = new TaskRegistry({ maxRunning: 50, keepFinished: 2 });
    const start = (title) => registry.startTimed({ title, durationMs: 60000, doneOutcome: 'x' }).task.id;
    const ids = ['a', 'b', 'c'].map(start);
    const running = start('live');
    ids.forEach((id) => registry.cancel(id));
    assert.deepEqual(registry.list().map((t) => t.title), ['live', 'c', 'b']);
    registry.finishedTtlMs = -1;
    assert.deepEqual(registry.list().map((t) => t.id), [running]);
    registry.stopAll();
  });
});
