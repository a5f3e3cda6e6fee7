// The one serial port the user granted, as the loader's web serial driver
// (platform/web/web_serial_driver.cpp) uses it: a receive buffer that a read loop fills, writes
// queued in order, the speed set by closing and opening the port again, and a port that went
// away found again when it comes back.
'use strict';

// Line errors the browser reports while reading, as the loader's kCe* flags.
const kLineErrorFlags = {
  BufferOverrunError: 0x0002,
  ParityError: 0x0004,
  FramingError: 0x0008,
  BreakError: 0x0010
};
// A write or a close that a vanished adapter never completes is not waited for longer.
const kSettleMs = 2000;

// Once timers nest, as every resumed wait of the loader does (it resumes inside a timer's or a
// promise's callback), a browser waits at least 4 ms for any setTimeout: the loader's 1 ms
// gaps would take four times as long, and an update a fifth longer. Waits this short yield
// through a message channel instead, looking at the time between turns.
const kShortWaitMs = 5;
const turns = new MessageChannel();
let turnWaiters = [];
turns.port1.onmessage = () => {
  const due = turnWaiters;
  turnWaiters = [];
  for (const done of due) done();
};
const nextTurn = () => new Promise((done) => {
  turnWaiters.push(done);
  turns.port2.postMessage(0);
});

// Waits `ms`, or less once `stop()` is true.
async function pagePause(ms, stop = () => false) {
  if (ms >= kShortWaitMs) {
    await new Promise((done) => setTimeout(done, ms));
    return;
  }
  const end = performance.now() + ms;
  while (!stop() && performance.now() < end) await nextTurn();
}

const settle = (promise, ms) =>
    Promise.race([promise.catch(() => {}), new Promise((done) => setTimeout(done, ms))]);

class SerialLine {
  constructor(serial, port) {
    this.serial = serial;
    this.port = port;
    this.info = port.getInfo ? port.getInfo() : {};
    this.baud = 0;
    this.isOpen = false;
    this.lost = false;
    this.cancelled = false;
    this.chunks = [];
    this.buffered = 0;
    this.errors = 0;
    this.waiter = null;
    this.reader = null;
    this.reading = Promise.resolve();
    this.writer = null;
    this.writing = Promise.resolve();
    this.speedChanges = [];  // {from, to, ms}: what each change of speed cost
    this.lastError = '';     // why the last open failed
    this.onDisconnect = (event) => {
      if (event.target === this.port) this.markLost();
    };
    this.onConnect = () => this.wake();
    serial.addEventListener('disconnect', this.onDisconnect);
    serial.addEventListener('connect', this.onConnect);
  }

  granted() {
    return Boolean(this.port);
  }

  // Opens the port at `baud`, closing it first when it runs at another speed. 1 when open.
  async open(baud) {
    if (this.isOpen && baud === this.baud) return 1;
    const from = this.isOpen ? this.baud : 0;
    const started = performance.now();
    await this.close();
    try {
      await this.port.open(
          {baudRate: baud, dataBits: 8, stopBits: 1, parity: 'none', flowControl: 'none',
           bufferSize: 16384});
    } catch (error) {
      this.lastError = `${error.name}: ${error.message}`;
      return 0;
    }
    this.baud = baud;
    this.lastError = '';
    this.isOpen = true;
    this.lost = false;
    this.writer = this.port.writable.getWriter();
    this.writing = Promise.resolve();
    this.reading = this.readLoop();
    if (from !== 0) this.speedChanges.push({from, to: baud, ms: performance.now() - started});
    return 1;
  }

  async close() {
    if (!this.isOpen) return;
    this.isOpen = false;
    await settle(this.writing, kSettleMs);
    if (this.writer) {
      // Closing the stream, unlike letting it go, waits until its bytes have left the adapter:
      // the receiver hears the last bytes at the speed they were sent at.
      await settle(this.writer.close(), kSettleMs);
      try {
        this.writer.releaseLock();
      } catch (ignored) {
      }
      this.writer = null;
    }
    if (this.reader) await settle(this.reader.cancel(), kSettleMs);
    await settle(this.reading, kSettleMs);
    await settle(this.port.close(), kSettleMs);
    this.purge();
  }

  async readLoop() {
    while (this.isOpen && this.port.readable) {
      const reader = this.port.readable.getReader();
      this.reader = reader;
      let done = false;
      try {
        for (;;) {
          const chunk = await reader.read();
          if (chunk.done) {
            done = true;
            break;
          }
          if (chunk.value.length === 0) continue;
          this.chunks.push(chunk.value);
          this.buffered += chunk.value.length;
          this.wake();
        }
      } catch (error) {
        // A line error leaves the port readable through a new stream; anything else ends it.
        this.errors |= kLineErrorFlags[error.name] || 0;
      } finally {
        reader.releaseLock();
        this.reader = null;
      }
      if (done) break;
    }
    if (this.isOpen) this.markLost();
  }

  markLost() {
    if (this.lost) return;
    this.lost = true;
    this.wake();
  }

  wake() {
    if (this.waiter) this.waiter();
  }

  // Takes up to `size` received bytes.
  take(size) {
    const count = Math.min(size, this.buffered);
    const out = new Uint8Array(count);
    let filled = 0;
    while (filled < count) {
      const chunk = this.chunks[0];
      const part = Math.min(chunk.length, count - filled);
      out.set(chunk.subarray(0, part), filled);
      filled += part;
      if (part === chunk.length) {
        this.chunks.shift();
      } else {
        this.chunks[0] = chunk.subarray(part);
      }
    }
    this.buffered -= count;
    return out;
  }

  // 1 once a byte is waiting, 0 when `ms` passed first, the port was lost or the run cancelled.
  awaitBytes(ms) {
    if (this.buffered > 0) return Promise.resolve(1);
    if (this.lost || this.cancelled) return Promise.resolve(0);
    if (ms < kShortWaitMs) {
      return pagePause(ms, () => this.buffered > 0 || this.lost || this.cancelled)
          .then(() => (this.buffered > 0 ? 1 : 0));
    }
    return new Promise((done) => {
      const timer = setTimeout(() => {
        this.waiter = null;
        done(this.buffered > 0 ? 1 : 0);
      }, ms);
      this.waiter = () => {
        clearTimeout(timer);
        this.waiter = null;
        done(this.buffered > 0 ? 1 : 0);
      };
    });
  }

  write(bytes) {
    if (!this.isOpen || this.lost || !this.writer) return 0;
    const writer = this.writer;
    this.writing = this.writing.then(() => writer.write(bytes)).catch(() => this.markLost());
    return 1;
  }

  async drain() {
    await settle(this.writing, kSettleMs);
  }

  purge() {
    this.chunks = [];
    this.buffered = 0;
  }

  takeErrors() {
    const flags = this.errors;
    this.errors = 0;
    return flags;
  }

  // The port granted before, back after an unplug: the same object, or one the browser made
  // for the same adapter. Opened at the speed it last had. 1 when open again.
  async reopen() {
    if (this.isOpen && !this.lost) return 1;
    const ports = await this.serial.getPorts();
    const same = (info) => info.usbVendorId === this.info.usbVendorId &&
        info.usbProductId === this.info.usbProductId;
    const back = ports.find((p) => p === this.port) ||
        ports.find((p) => p.getInfo && same(p.getInfo()));
    if (!back) return 0;
    if (this.isOpen) await this.close();
    await settle(this.port.close(), kSettleMs);
    this.port = back;
    return this.open(this.baud || 4800);
  }

  cancel() {
    this.cancelled = true;
    this.wake();
  }

  // The port is the page's again once a run ends: closed, events released.
  async release() {
    this.serial.removeEventListener('disconnect', this.onDisconnect);
    this.serial.removeEventListener('connect', this.onConnect);
    await this.close();
  }
}
