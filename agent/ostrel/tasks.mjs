// Long-running work the palette can watch and stop. A task is "running"
// until it finishes or is cancelled; finished tasks linger for a while so the
// palette can show how they ended, then age out so the list stays short.

import { randomBytes } from 'node:crypto';

export const MAX_RUNNING = 20;
export const KEEP_FINISHED = 20;
export const FINISHED_TTL_MS = 60 * 1000;

export class TaskRegistry {
  // onDone(task) hears of each task that finished by itself (not cancelled).
  constructor({ maxRunning = MAX_RUNNING, keepFinished = KEEP_FINISHED, finishedTtlMs = FINISHED_TTL_MS, onDone = null } = {}) {
    this.onDone = onDone;
    this.maxRunning = maxRunning;
    this.keepFinished = keepFinished;
    this.finishedTtlMs = finishedTtlMs;
    this.tasks = new Map();
    this.sequence = 0;
  }

  runningCount() {
    let n = 0;
    for (const task of this.tasks.values()) if (task.status === 'running') n += 1;
    return n;
  }

  newId() {
    for (;;) {
      const id = randomBytes(4).toString('hex');
      if (!this.tasks.has(id)) return id;
    }
  }

  // Starts a task that completes by itself after durationMs. progress()
  // describes a running task (e.g. time left) each time the list is read.
  startTimed({ title, durationMs, doneOutcome, progress }) {
    if (this.runningCount() >= this.maxRunning) {
      return { ok: false, error: `At most ${this.maxRunning} tasks can run at once` };
    }
    const id = this.newId();
    const task = {
      id,
      title,
      status: 'running',
      outcome: '',
      sequence: ++this.sequence,
      createdAt: Date.now(),
      endsAt: Date.now() + durationMs,
      finishedAt: null,
      progress,
      timer: null,
    };
    task.timer = setTimeout(() => {
      this.finish(task, 'done', doneOutcome);
      this.onDone?.(this.view(task));
    }, durationMs);
    this.tasks.set(id, task);
    return { ok: true, task: this.view(task) };
  }

  finish(task, status, outcome) {
    if (task.status !== 'running') return;
    clearTimeout(task.timer);
    task.timer = null;
    task.status = status;
    task.outcome = outcome;
    task.finishedAt = Date.now();
    this.prune();
  }

  cancel(id) {
    const task = this.tasks.get(id);
    if (!task) return 'missing';
    if (task.status !== 'running') return 'finished';
    this.finish(task, 'cancelled', 'Stopped');
    return 'cancelled';
  }

  // Running tasks, newest first, with their time left.
  running() {
    return this.newestFirst()
      .filter((t) => t.status === 'running')
      .map((t) => ({ ...this.view(t), leftMs: t.endsAt - Date.now() }));
  }

  newestFirst() {
    return [...this.tasks.values()].sort((a, b) => b.sequence - a.sequence);
  }

  prune() {
    const now = Date.now();
    const finished = this.newestFirst().filter((t) => t.status !== 'running');
    finished.forEach((task, index) => {
      if (index >= this.keepFinished || now - task.finishedAt > this.finishedTtlMs) this.tasks.delete(task.id);
    });
  }

  view(task) {
    const outcome = task.status === 'running' && task.progress ? task.progress(task.endsAt - Date.now()) : task.outcome;
    return { id: task.id, title: task.title, status: task.status, outcome };
  }

  // Newest first: the palette shows the most recent task at the top.
  list() {
    this.prune();
    return this.newestFirst().map((task) => this.view(task));
  }

  stopAll() {
    for (const task of this.tasks.values()) clearTimeout(task.timer);
  }
}
