// Runs a helper program (xprop, wmctrl, ...) without a shell, with a time
// limit and an output limit, and reports failure as a value. The kill on
// timeout or overflow is SIGKILL so that a wedged program cannot outlive the
// request that started it.

import { execFile } from 'node:child_process';

export const DEFAULT_TIMEOUT_MS = 2000;
export const DEFAULT_MAX_BYTES = 256 * 1024;

export function runProgram(file, args, { timeoutMs = DEFAULT_TIMEOUT_MS, maxBytes = DEFAULT_MAX_BYTES, env = process.env } = {}) {
  return new Promise((resolve) => {
    let child;
    try {
      child = execFile(file, args, {
        env,
        timeout: timeoutMs,
        killSignal: 'SIGKILL',
        maxBuffer: maxBytes,
        encoding: 'utf8',
        windowsHide: true,
      }, (err, stdout, stderr) => {
        if (!err) return resolve({ ok: true, stdout, stderr });
        if (err.code === 'ENOENT') return resolve({ ok: false, reason: 'missing', program: file });
        if (err.code === 'ERR_CHILD_PROCESS_STDIO_MAXBUFFER') return resolve({ ok: false, reason: 'too-much-output', program: file });
        if (err.killed) return resolve({ ok: false, reason: 'timeout', program: file });
        return resolve({ ok: false, reason: 'failed', program: file, code: err.code, stdout: String(stdout ?? ''), stderr: String(stderr ?? '') });
      });
    } catch (err) {
      resolve({ ok: false, reason: 'failed', program: file, stderr: String(err?.message ?? err) });
      return;
    }
    // execFile already reports spawn errors through the callback; this
    // listener only keeps an EPIPE on stdin from surfacing as an exception.
    child.stdin?.on('error', () => {});
    child.stdin?.end();
  });
}
