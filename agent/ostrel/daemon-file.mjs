// The daemon file tells the palette where the agent listens and which token
// to send. It is private to the user (folder 0700, file 0600) and replaced
// atomically so a reader never sees half a file.

import { constants } from 'node:fs';
import { chmod, mkdir, open, rename, unlink } from 'node:fs/promises';
import { createHmac, randomBytes, timingSafeEqual } from 'node:crypto';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';

export function daemonFilePath(home = os.homedir()) {
  return path.join(home, '.ostrel', 'daemon.json');
}

// Far more than a port and a token; anything larger is not ours.
const MAX_FILE = 64 * 1024;

// Only a regular file is read, and only so much of it: a symlink to
// /dev/zero or a FIFO planted at the path must not swamp or stall start-up.
export async function readDaemonFile(file) {
  let handle;
  let text;
  try {
    handle = await open(file, constants.O_RDONLY | constants.O_NOFOLLOW | constants.O_NONBLOCK);
    const info = await handle.stat();
    if (!info.isFile() || info.size > MAX_FILE) return null;
    const buffer = Buffer.alloc(MAX_FILE + 1);
    const { bytesRead } = await handle.read(buffer, 0, buffer.length, 0);
    if (bytesRead > MAX_FILE) return null;
    text = buffer.toString('utf8', 0, bytesRead);
  } catch {
    return null;
  } finally {
    await handle?.close().catch(() => {});
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

export function proofFor(token, challenge) {
  return createHmac('sha256', token).update(challenge).digest('hex');
}

// True when the daemon that wrote the file still answers on its port. After
// an unclean end that port may belong to anyone, another user included, so
// the token is never sent: the listener must answer a fresh challenge with
// a proof only the token can make.
export function probeDaemon({ port, token }, timeoutMs = 1000) {
  const challenge = randomBytes(32).toString('hex');
  const expected = Buffer.from(proofFor(token, challenge));
  return new Promise((resolve) => {
    const req = http.request({
      host: '127.0.0.1',
      port,
      path: '/alive',
      headers: { 'x-ostrel-challenge': challenge, host: `127.0.0.1:${port}` },
      agent: false,
      timeout: timeoutMs,
    }, (res) => {
      let text = '';
      res.setEncoding('utf8');
      res.on('data', (chunk) => {
        text += chunk;
        if (text.length > 4096) req.destroy();
      });
      res.on('end', () => {
        let proof;
        try {
          proof = Buffer.from(String(JSON.parse(text).proof));
        } catch {
          return resolve(false);
        }
        return resolve(res.statusCode === 200 && proof.length === expected.length && timingSafeEqual(proof, expected));
      });
      res.on('error', () => resolve(false));
    });
    req.on('timeout', () => req.destroy());
    req.on('error', () => resolve(false));
    req.end();
  });
}
