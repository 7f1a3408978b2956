// The agent's HTTP surface on loopback. Any local program (or a web page,
// through DNS rebinding) can reach a loopback port, so every request must
// name the loopback host and carry the token from the daemon file before any
// work is done.

import http from 'node:http';
import { createHash, timingSafeEqual } from 'node:crypto';
import { answer, row } from './answer.mjs';
import { proofFor } from './daemon-file.mjs';

export const MAX_BODY = 64 * 1024;
// A refused client gets this long to read the answer before its socket,
// whose unread body would otherwise reset the connection, is destroyed.
const CLOSE_GRACE_MS = 5000;
// A client that is slow to send its request loses the connection; the
// palette sends small requests at once, so these are generous.
const HEADERS_TIMEOUT_MS = 5000;
const REQUEST_TIMEOUT_MS = 15000;
const KEEP_ALIVE_MS = 5000;

function digest(value) {
  return createHash('sha256').update(String(value)).digest();
}

// Hashing both sides first gives equal-length inputs, so neither the
// comparison time nor an early length check tells anything about the token.
export function tokenMatches(given, expected) {
  if (typeof given !== 'string') return false;
  return timingSafeEqual(digest(given), digest(expected));
}

export function hostAllowed(host, port) {
  if (typeof host !== 'string') return false;
  const h = host.toLowerCase();
  return h === `127.0.0.1:${port}` || h === `localhost:${port}`;
}

// Error replies are also answer documents, so a client that shows whatever
// /ask returns still shows something readable.
function errorBody(message, detail = '') {
  return { error: message, ...answer([row(message, detail)]) };
}

function send(res, status, body, headers = {}) {
  if (res.headersSent) {
    res.destroy();
    return;
  }
  const text = JSON.stringify(body);
  res.writeHead(status, {
    'content-type': 'application/json; charset=utf-8',
    'content-length': Buffer.byteLength(text),
    'cache-control': 'no-store',
    ...headers,
  });
  res.end(text);
}

class TooLarge extends Error {}
class Aborted extends Error {}

function readBody(req) {
  return new Promise((resolve, reject) => {
    const chunks = [];
    let size = 0;
    const onData = (chunk) => {
      size += chunk.length;
      if (size > MAX_BODY) {
        req.off('data', onData);
        chunks.length = 0;
        reject(new TooLarge());
        return;
      }
      chunks.push(chunk);
    };
    req.on('data', onData);
    req.on('end', () => resolve(Buffer.concat(chunks)));
    req.on('error', reject);
    req.on('close', () => {
      if (!req.complete) reject(new Aborted());
    });
  });
}

const tooLarge = [413, 'Request too large', `bodies are limited to ${MAX_BODY / 1024} KiB`];

// Decides from the request head alone, so that nothing of a refused body is
// read. Null when the request may go on.
function refusal(req, port, token) {
  const hosts = req.rawHeaders.filter((name, i) => i % 2 === 0 && name.toLowerCase() === 'host').length;
  // With two Host headers, which one a proxy or browser checked is anyone's guess.
  if (hosts > 1) return [400, 'Duplicate Host header'];
  if (!hostAllowed(req.headers.host, port)) return [403, 'Forbidden host'];
  // The liveness check proves the token without it being sent.
  if (splitPath(req.url) === '/alive') return null;
  if (!tokenMatches(req.headers['x-ostrel-token'], token)) return [401, 'Missing or wrong token'];
  if (Number(req.headers['content-length']) > MAX_BODY) return tooLarge;
  return null;
}

// Answers and closes the connection without reading on. Node would destroy
// the socket as soon as the answer is written; with body bytes still unread
// the kernel then resets the connection, and the reset can overtake the
// answer. So reading stops, the answer leaves with a FIN, and the socket is
// destroyed once the client has had time to read it.
function refuse(req, res, [status, message, detail = '']) {
  const { socket } = req;
  req.read(0); // marks the body as consumed, so Node does not drain it
  req.pause();
  socket.pause();
  socket.destroySoon = () => {
    socket.end();
    const timer = setTimeout(() => socket.destroy(), CLOSE_GRACE_MS);
    timer.unref();
    socket.once('close', () => clearTimeout(timer));
  };
  send(res, status, errorBody(message, detail), { connection: 'close' });
}

const utf8 = new TextDecoder('utf-8', { fatal: true });

function parseAsk(buffer) {
  let text;
  try {
    text = utf8.decode(buffer);
  } catch {
    return { ok: false, message: 'The body is not valid UTF-8', detail: 'send {"sentence": "..."} as UTF-8' };
  }
  let body;
  try {
    body = JSON.parse(text);
  } catch (err) {
    return { ok: false, message: 'Malformed JSON', detail: String(err.message).slice(0, 100) };
  }
  if (body === null || typeof body !== 'object' || Array.isArray(body)) {
    return { ok: false, message: 'Expected a JSON object', detail: 'send {"sentence": "..."}' };
  }
  if (typeof body.sentence !== 'string') {
    return {
      ok: false,
      message: body.sentence === undefined ? 'Missing "sentence"' : '"sentence" must be a string',
      detail: 'send {"sentence": "..."}',
    };
  }
  return { ok: true, sentence: body.sentence };
}

function splitPath(url) {
  const q = url.indexOf('?');
  return q === -1 ? url : url.slice(0, q);
}

function printable(text) {
  return String(text).replace(/[^\x20-\x7e]/g, '?').slice(0, 200);
}

export function createAgentServer({ token, tasks, ask, log = (line) => process.stderr.write(`${line}\n`) }) {
  const server = http.createServer({
    requestTimeout: REQUEST_TIMEOUT_MS,
    headersTimeout: HEADERS_TIMEOUT_MS,
    connectionsCheckingInterval: 1000,
    maxHeaderSize: 16 * 1024,
    // A missing Host gets the same JSON 403 as a wrong one rather than
    // Node's bare 400.
    requireHostHeader: false,
  });

  server.keepAliveTimeout = KEEP_ALIVE_MS;

  async function handle(req, res) {
    const pathname = splitPath(req.url);
    if (pathname === '/alive') {
      const challenge = req.headers['x-ostrel-challenge'];
      if (typeof challenge !== 'string' || !/^[0-9a-f]{32,128}$/.test(challenge)) return send(res, 400, errorBody('Bad challenge'));
      return send(res, 200, { proof: proofFor(token, challenge) });
    }
    if (pathname === '/ask') {
      if (req.method !== 'POST') return send(res, 405, errorBody('Method not allowed', 'use POST'), { allow: 'POST' });
      let buffer;
      try {
        buffer = await readBody(req);
      } catch (err) {
        if (err instanceof TooLarge) return refuse(req, res, tooLarge);
        // The client went away mid-body; there is no one to answer.
        if (err instanceof Aborted || req.destroyed) return undefined;
        throw err;
      }
      const parsed = parseAsk(buffer);
      if (!parsed.ok) return send(res, 400, errorBody(parsed.message, parsed.detail));
      return send(res, 200, await ask(parsed.sentence));
    }
    if (pathname === '/tasks') {
      if (req.method !== 'GET') return send(res, 405, errorBody('Method not allowed', 'use GET'), { allow: 'GET' });
      return send(res, 200, { tasks: tasks.list() });
    }
    if (pathname.startsWith('/cancel/')) {
      if (req.method !== 'POST') return send(res, 405, errorBody('Method not allowed', 'use POST'), { allow: 'POST' });
      let id;
      try {
        id = decodeURIComponent(pathname.slice('/cancel/'.length));
      } catch {
        return send(res, 400, errorBody('Bad task id'));
      }
      const outcome = tasks.cancel(id);
      if (outcome === 'missing') return send(res, 404, errorBody('No such task'));
      if (outcome === 'finished') return send(res, 409, errorBody('Task already finished'));
      return send(res, 200, { ok: true });
    }
    return send(res, 404, errorBody('Not found'));
  }

  // A client that asks for "100 Continue" gets it only once the request head
  // is accepted; Node would send it at once.
  const dispatch = (wantsContinue) => (req, res) => {
    const started = process.hrtime.bigint();
    res.on('finish', () => {
      const ms = Number(process.hrtime.bigint() - started) / 1e6;
      log(`${printable(req.method)} ${printable(splitPath(req.url))} ${res.statusCode} ${ms.toFixed(1)}ms`);
    });
    const refused = refusal(req, server.address().port, token);
    if (refused) return refuse(req, res, refused);
    if (wantsContinue) res.writeContinue();
    return Promise.resolve()
      .then(() => handle(req, res))
      .catch((err) => {
        log(`error handling ${printable(req.method)} ${printable(splitPath(req.url))}: ${printable(err?.stack ?? err)}`);
        send(res, 500, errorBody('Internal error', 'the agent hit a bug; it is still running'));
      });
  };
  server.on('request', dispatch(false));
  server.on('checkContinue', dispatch(true));

  server.on('clientError', (err, socket) => {
    if (err.code === 'ECONNRESET' || !socket.writable || socket.destroyed) return socket.destroy();
    const status = err.code === 'ERR_HTTP_REQUEST_TIMEOUT' ? '408 Request Timeout'
      : err.code === 'HPE_HEADER_OVERFLOW' ? '431 Request Header Fields Too Large' : '400 Bad Request';
    const body = JSON.stringify({ error: status.slice(4) });
    // Written and destroyed at once, as Node's own handler does: the
    // connection is unusable after a protocol error.
    socket.write(`HTTP/1.1 ${status}\r\ncontent-type: application/json\r\ncontent-length: ${body.length}\r\nconnection: close\r\n\r\n${body}`);
    socket.destroy();
  });

  return server;
}
