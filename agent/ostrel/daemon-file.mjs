// The daemon file tells the palette where the agent listens and which token
// to send. It is private to the user (folder 0700, file 0600) and replaced
// atomically so a reader never sees half a file.

import { chmod, mkdir, open, readFile, rename, unlink } from 'node:fs/promises';
import { randomBytes } from 'node:crypto';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';

export function daemonFilePath(home = os.homedir()) {
  return path.join(home, '.ostrel', 'daemon.json');
}

export async function readDaemonFile(file) {
  let text;
  try {
    text = await readFile(file, 'utf8');
  } catch {
    return null;
  }
  try {
    const doc = JSON.parse(text);
    if (Number.isInteger(doc?.port) && doc.port > 0 && doc.port < 65536 && typeof doc.token === 'string' && doc.token) {
      return { port: doc.port, token: doc.token };
    }
  } catch {
    // A damaged file is treated like a missing one: nothing can use it.
  }
  return null;
}

export async function writeDaemonFile(file, { port, token }) {
  const dir = path.dirname(file);
  await mkdir(dir, { recursive: true, mode: 0o700 });
  // mkdir leaves an existing folder's mode alone; tighten it anyway.
  await chmod(dir, 0o700);
  const temp = path.join(dir, `.daemon.json.${process.pid}.${randomBytes(4).toString('hex')}.tmp`);
  const handle = await open(temp, 'wx', 0o600);
  try {
    await handle.writeFile(`${JSON.stringify({ port, token })}\n`);
    await handle.chmod(0o600);
    await handle.sync();
  } finally {
    await handle.close();
  }
  try {
    await rename(temp, file);
  } catch (err) {
    await unlink(temp).catch(() => {});
    throw err;
  }
}

// Another daemon may have started since and written its own file; only the
// owner of the token in the file removes it.
export async function removeDaemonFileIfOwned(file, token) {
  const current = await readDaemonFile(file);
  if (current?.token !== token) return false;
  try {
    await unlink(file);
    return true;
  } catch {
    return false;
  }
}

// True when an agent answers, with the file's token, on the file's port.
export function probeDaemon({ port, token }, timeoutMs = 1000) {
  return new Promise((resolve) => {
    const req = http.request({
      host: '127.0.0.1',
      port,
      path: '/tasks',
      method: 'GET',
      headers: { 'x-ostrel-token': token, host: `127.0.0.1:${port}` },
      agent: false,
      timeout: timeoutMs,
    }, (res) => {
      let size = 0;
      const chunks = [];
      res.on('data', (chunk) => {
        size += chunk.length;
        if (size > 1024 * 1024) req.destroy();
        else chunks.push(chunk);
      });
      res.on('end', () => {
        if (res.statusCode !== 200) return resolve(false);
        try {
          resolve(Array.isArray(JSON.parse(Buffer.concat(chunks).toString('utf8')).tasks));
        } catch {
          resolve(false);
        }
      });
      res.on('error', () => resolve(false));
    });
    req.on('timeout', () => req.destroy());
    req.on('error', () => resolve(false));
    req.end();
  });
}
