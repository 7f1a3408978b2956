// What the agent's benchmarks share: timing one call, percentiles of many,
// and a garbage collection on demand for heap figures.

import v8 from 'node:v8';
import vm from 'node:vm';

v8.setFlagsFromString('--expose-gc');
export const gc = vm.runInNewContext('gc');

// { p50, p99, text } of samples in milliseconds.
export function stats(samples, digits = 3) {
  const sorted = [...samples].sort((a, b) => a - b);
  const at = (q) => sorted[Math.min(sorted.length - 1, Math.floor(q * sorted.length))];
  return { p50: at(0.5), p99: at(0.99), text: `p50 ${at(0.5).toFixed(digits)} ms, p99 ${at(0.99).toFixed(digits)} ms` };
}

// Wall time, and the process's own CPU time: on a shared machine the first
// counts the waits for a core, the second only the work.
export async function timeMs(fn) {
  const start = process.hrtime.bigint();
  const cpu = process.cpuUsage();
  const result = await fn();
  const used = process.cpuUsage(cpu);
  return { ms: Number(process.hrtime.bigint() - start) / 1e6, cpuMs: (used.user + used.system) / 1000, result };
}
