// A small D-Bus client spoken directly over the bus socket: enough to call
// a method and wait for its reply, and to answer calls (which a test's
// stand-in notification server needs). Little-endian messages, EXTERNAL
// authentication, the basic types plus arrays, structs, dict entries and
// variants.

import { existsSync } from 'node:fs';
import net from 'node:net';
import { join } from 'node:path';

const ALIGN = { y: 1, b: 4, n: 2, q: 2, i: 4, u: 4, x: 8, t: 8, d: 8, s: 4, o: 4, g: 1, v: 1, a: 4, '(': 8, '{': 8 };
const MAX_MESSAGE = 1 << 20;
const FIELD = { path: 1, interface: 2, member: 3, errorName: 4, replySerial: 5, destination: 6, sender: 7, signature: 8 };
const FIELD_TYPE = { 1: 'o', 2: 's', 3: 's', 4: 's', 5: 'u', 6: 's', 7: 's', 8: 'g' };
export const METHOD_CALL = 1;
export const METHOD_RETURN = 2;
export const ERROR = 3;

// The complete types of a signature: "sa{sv}i" -> ["s", "a{sv}", "i"].
export function splitSignature(sig) {
  const out = [];
  let i = 0;
  const one = () => {
    const start = i;
    const c = sig[i++];
    if (c === 'a') one();
    else if (c === '(' || c === '{') {
      while (sig[i] !== (c === '(' ? ')' : '}')) {
        if (i >= sig.length) throw new Error(`bad signature ${sig}`);
        one();
      }
      i += 1;
    } else if (!(c in ALIGN)) throw new Error(`bad signature ${sig}`);
    return sig.slice(start, i);
  };
  while (i < sig.length) out.push(one());
  return out;
}

class Writer {
  // Each buffer starts a message (or its body, which starts 8-aligned), so
  // alignment counts from its start.
  constructor() {
    this.buf = Buffer.alloc(256);
    this.pos = 0;
  }

  room(n) {
    if (this.pos + n <= this.buf.length) return;
    const bigger = Buffer.alloc(Math.max(this.buf.length * 2, this.pos + n));
    this.buf.copy(bigger, 0, 0, this.pos);
    this.buf = bigger;
  }

  align(n) {
    const pad = (n - (this.pos % n)) % n;
    this.room(pad);
    this.buf.fill(0, this.pos, this.pos + pad);
    this.pos += pad;
  }

  put(method, size, value) {
    this.align(size);
    this.room(size);
    this.buf[method](value, this.pos);
    this.pos += size;
  }

  bytes(b) {
    this.room(b.length);
    b.copy(this.buf, this.pos);
    this.pos += b.length;
  }

  write(type, value) {
    switch (type[0]) {
      case 'y': return this.put('writeUInt8', 1, value);
      case 'b': return this.put('writeUInt32LE', 4, value ? 1 : 0);
      case 'n': return this.put('writeInt16LE', 2, value);
      case 'q': return this.put('writeUInt16LE', 2, value);
      case 'i': return this.put('writeInt32LE', 4, value);
      case 'u': return this.put('writeUInt32LE', 4, value);
      case 'x': return this.put('writeBigInt64LE', 8, BigInt(value));
      case 't': return this.put('writeBigUInt64LE', 8, BigInt(value));
      case 'd': return this.put('writeDoubleLE', 8, value);
      case 's':
      case 'o': {
        const b = Buffer.from(String(value), 'utf8');
        this.put('writeUInt32LE', 4, b.length);
        this.bytes(b);
        return this.put('writeUInt8', 1, 0);
      }
      case 'g': {
        const b = Buffer.from(value, 'latin1');
        this.put('writeUInt8', 1, b.length);
        this.bytes(b);
        return this.put('writeUInt8', 1, 0);
      }
      case 'v': {
        const [sig, inner] = value;
        this.write('g', sig);
        return this.write(sig, inner);
      }
      case 'a': {
        const element = type.slice(1);
        this.put('writeUInt32LE', 4, 0);
        const lengthAt = this.pos - 4;
        this.align(ALIGN[element[0]]);
        const start = this.pos;
        const items = element[0] === '{' ? Object.entries(value ?? {}) : (value ?? []);
        for (const item of items) this.write(element, item);
        this.buf.writeUInt32LE(this.pos - start, lengthAt);
        return undefined;
      }
      case '(':
      case '{': {
        this.align(8);
        const parts = splitSignature(type.slice(1, -1));
        parts.forEach((part, k) => this.write(part, value[k]));
        return undefined;
      }
      default:
        throw new Error(`cannot write type ${type}`);
    }
  }

  done() {
    return this.buf.subarray(0, this.pos);
  }
}

class Reader {
  constructor(buf, pos = 0) {
    this.buf = buf;
    this.pos = pos;
  }

  align(n) {
    this.pos += (n - (this.pos % n)) % n;
  }

  get(method, size) {
    this.align(size);
    if (this.pos + size > this.buf.length) throw new Error('truncated D-Bus message');
    const v = this.buf[method](this.pos);
    this.pos += size;
    return v;
  }

  read(type) {
    switch (type[0]) {
      case 'y': return this.get('readUInt8', 1);
      case 'b': return this.get('readUInt32LE', 4) !== 0;
      case 'n': return this.get('readInt16LE', 2);
      case 'q': return this.get('readUInt16LE', 2);
      case 'i': return this.get('readInt32LE', 4);
      case 'u': return this.get('readUInt32LE', 4);
      case 'x': return Number(this.get('readBigInt64LE', 8));
      case 't': return Number(this.get('readBigUInt64LE', 8));
      case 'd': return this.get('readDoubleLE', 8);
      case 's':
      case 'o':
      case 'g': {
        const n = type[0] === 'g' ? this.get('readUInt8', 1) : this.get('readUInt32LE', 4);
        if (this.pos + n + 1 > this.buf.length) throw new Error('truncated D-Bus message');
        const text = this.buf.toString(type[0] === 'g' ? 'latin1' : 'utf8', this.pos, this.pos + n);
        this.pos += n + 1;
        return text;
      }
      case 'v': {
        const sig = this.read('g');
        return [sig, this.read(sig)];
      }
      case 'a': {
        const element = type.slice(1);
        const n = this.get('readUInt32LE', 4);
        this.align(ALIGN[element[0]]);
        const end = this.pos + n;
        if (end > this.buf.length) throw new Error('truncated D-Bus message');
        const items = [];
        while (this.pos < end) items.push(this.read(element));
        return element[0] === '{' ? Object.fromEntries(items) : items;
      }
      case '(':
      case '{': {
        this.align(8);
        return splitSignature(type.slice(1, -1)).map((part) => this.read(part));
      }
      default:
        throw new Error(`cannot read type ${type}`);
    }
  }
}

// One message: { type, flags, serial, path, interface, member, destination,
// sender, errorName, replySerial, signature, body: [values] }.
export function encodeMessage(m) {
  const body = new Writer();
  const types = splitSignature(m.signature ?? '');
  types.forEach((t, k) => body.write(t, m.body[k]));
  const fields = [];
  for (const [name, code] of Object.entries(FIELD)) {
    if (m[name] !== undefined && m[name] !== '') fields.push([code, [FIELD_TYPE[code], m[name]]]);
  }
  const head = new Writer();
  head.write('y', 'l'.charCodeAt(0));
  head.write('y', m.type);
  head.write('y', m.flags ?? 0);
  head.write('y', 1);
  head.write('u', body.pos);
  head.write('u', m.serial);
  head.write('a(yv)', fields);
  head.align(8);
  return Buffer.concat([head.done(), body.done()]);
}

// The length of the first whole message in buf, or 0 when more is needed.
function messageLength(buf) {
  if (buf.length < 16) return 0;
  if (buf[0] !== 0x6c) throw new Error('only little-endian D-Bus messages are read');
  const bodyLength = buf.readUInt32LE(4);
  const fieldsLength = buf.readUInt32LE(12);
  const total = 16 + fieldsLength + ((8 - (fieldsLength % 8)) % 8) + bodyLength;
  if (total > MAX_MESSAGE) throw new Error('D-Bus message too large');
  return buf.length >= total ? total : 0;
}

export function decodeMessage(buf) {
  const r = new Reader(buf, 12);
  const m = { type: buf[1], flags: buf[2], serial: buf.readUInt32LE(8) };
  for (const [code, [, value]] of r.read('a(yv)')) {
    const name = Object.keys(FIELD).find((k) => FIELD[k] === code);
    if (name) m[name] = value;
  }
  r.align(8);
  m.body = splitSignature(m.signature ?? '').map((t) => r.read(t));
  return m;
}

// "unix:path=/run/user/1000/bus" or "unix:abstract=/tmp/dbus-x,guid=...":
// the first unix address of the list, as a socket path (abstract ones start
// with a NUL).
export function socketPath(address) {
  for (const one of String(address ?? '').split(';')) {
    const m = /^unix:(.*)$/.exec(one.trim());
    if (!m) continue;
    const keys = Object.fromEntries(m[1].split(',').map((kv) => kv.split('=')).map(([k, ...v]) => [k, decodeURIComponent(v.join('='))]));
    if (keys.path) return keys.path;
    if (keys.abstract) return `\u0000${keys.abstract}`;
  }
  return null;
}

// The session bus of env: DBUS_SESSION_BUS_ADDRESS, else the socket "bus"
// in XDG_RUNTIME_DIR when there is one; null without either.
export function sessionBusAddress(env) {
  if (env.DBUS_SESSION_BUS_ADDRESS) return env.DBUS_SESSION_BUS_ADDRESS;
  const socket = env.XDG_RUNTIME_DIR && join(env.XDG_RUNTIME_DIR, 'bus');
  return socket && existsSync(socket) ? `unix:path=${socket}` : null;
}

// A connection to the bus at address; rejects when there is none, it
// refuses us, or timeoutMs passes first.
export function connect(address, { timeoutMs = 2000 } = {}) {
  return new Promise((resolve, reject) => {
    const path = socketPath(address);
    if (!path) {
      reject(new Error('no D-Bus session bus address'));
      return;
    }
    const socket = net.connect({ path });
    let authenticated = false;
    let pending = Buffer.alloc(0);
    let serial = 0;
    const waiting = new Map();
    const listeners = [];
    const timer = setTimeout(() => fail(new Error('the D-Bus session bus did not answer')), timeoutMs);
    const fail = (err) => {
      clearTimeout(timer);
      socket.destroy();
      for (const { reject: no } of waiting.values()) no(err);
      waiting.clear();
      reject(err);
    };
    const bus = {
      send(message) {
        serial += 1;
        socket.write(encodeMessage({ ...message, serial }));
        return serial;
      },
      // With timeoutMs, a reply that has not come by then is given up on:
      // the call rejects (with late set, and lateMessage if given) and a
      // reply after that is not taken for one.
      call(message, { timeoutMs = 0, lateMessage = null } = {}) {
        if (socket.destroyed) return Promise.reject(new Error('the D-Bus connection closed'));
        return new Promise((ok, no) => {
          const id = bus.send({ type: METHOD_CALL, ...message });
          const timer = timeoutMs > 0 ? setTimeout(() => {
            waiting.delete(id);
            no(Object.assign(new Error(lateMessage ?? `no reply within ${timeoutMs / 1000} seconds`), { late: true }));
          }, timeoutMs) : null;
          const settle = (fn) => (value) => {
            clearTimeout(timer);
            fn(value);
          };
          waiting.set(id, { resolve: settle(ok), reject: settle(no) });
        });
      },
      get closed() {
        return socket.destroyed;
      },
      onMessage(fn) {
        listeners.push(fn);
      },
      close() {
        clearTimeout(timer);
        socket.end();
        socket.destroy();
      },
    };
    socket.on('error', fail);
    socket.on('close', () => fail(new Error('the D-Bus connection closed')));
    socket.on('connect', () => {
      const uid = String(process.getuid?.() ?? 0);
      socket.write(`\u0000AUTH EXTERNAL ${Buffer.from(uid).toString('hex')}\r\n`);
    });
    socket.on('data', (data) => {
      pending = Buffer.concat([pending, data]);
      try {
        if (!authenticated) {
          const end = pending.indexOf('\r\n');
          if (end < 0) return;
          const line = pending.subarray(0, end).toString('latin1');
          pending = pending.subarray(end + 2);
          if (!line.startsWith('OK ')) throw new Error(`the D-Bus session bus refused us: ${line.slice(0, 80)}`);
          socket.write('BEGIN\r\n');
          authenticated = true;
          bus.call({ path: '/org/freedesktop/DBus', interface: 'org.freedesktop.DBus', member: 'Hello', destination: 'org.freedesktop.DBus' })
            .then(([name]) => {
              bus.name = name;
              clearTimeout(timer);
              resolve(bus);
            }, fail);
        }
        for (let n = messageLength(pending); n > 0; n = messageLength(pending)) {
          const message = decodeMessage(pending.subarray(0, n));
          pending = pending.subarray(n);
          const reply = waiting.get(message.replySerial);
          if ((message.type === METHOD_RETURN || message.type === ERROR) && reply) {
            waiting.delete(message.replySerial);
            if (message.type === ERROR) reply.reject(new Error(`${message.errorName}: ${message.body[0] ?? ''}`));
            else reply.resolve(message.body);
          } else {
            for (const fn of listeners) fn(message);
          }
        }
      } catch (err) {
        fail(err);
      }
    });
  });
}
