// The far end of the test's Web Serial port: serves the page's folder on loopback and, at
// /line, relays a WebSocket's bytes to a simulated receiver's pty through pty_line.py, which
// sets each open's speed on the pty. Page and relay share one origin, so the page's own
// Content-Security-Policy (connect-src 'self') lets the fake port reach it.
import {spawn} from 'node:child_process';
import {createHash} from 'node:crypto';
import {readFile} from 'node:fs/promises';
import {createServer} from 'node:http';
import {dirname, extname, join, normalize, resolve} from 'node:path';
import {fileURLToPath} from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
const kTypes = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.wasm': 'application/wasm'
};
const kWebSocketGuid = '258EAFA5-E914-47DA-95CA-C5AB0DC85B11';

// One unmasked server frame: opcode 1 text, 2 binary.
function frame(opcode, payload) {
  const length = payload.length;
  const head = length < 126 ? Buffer.from([0x80 | opcode, length]) :
      length < 65536 ? Buffer.from([0x80 | opcode, 126, length >> 8, length & 0xff]) :
                       Buffer.concat([Buffer.from([0x80 | opcode, 127]), bigLength(length)]);
  return Buffer.concat([head, payload]);
}

function bigLength(length) {
  const bytes = Buffer.alloc(8);
  bytes.writeBigUInt64BE(BigInt(length));
  return bytes;
}

// Takes the client's complete frames off `buffer`; returns what is left.
function parseFrames(buffer, onFrame) {
  for (;;) {
    if (buffer.length < 2) return buffer;
    const opcode = buffer[0] & 0x0f;
    let length = buffer[1] & 0x7f;
    let at = 2;
    if (length === 126) {
      if (buffer.length < 4) return buffer;
      length = buffer.readUInt16BE(2);
      at = 4;
    } else if (length === 127) {
      if (buffer.length < 10) return buffer;
      length = Number(buffer.readBigUInt64BE(2));
      at = 10;
    }
    if (buffer.length < at + 4 + length) return buffer;
    const mask = buffer.subarray(at, at + 4);
    const payload = Buffer.from(buffer.subarray(at + 4, at + 4 + length));
    for (let i = 0; i < payload.length; ++i) payload[i] ^= mask[i % 4];
    onFrame(opcode, payload);
    buffer = buffer.subarray(at + 4 + length);
  }
}

// The pty's host end, shared by every connection of the page (a reopen is a new connection).
class PtyLine {
  constructor(link) {
    this.child = spawn('python3', [join(here, 'pty_line.py'), link],
                       {stdio: ['pipe', 'pipe', 'inherit', 'pipe', 'pipe']});
    this.acks = [];
    this.answers = '';
    this.sink = null;
    this.child.stdout.on('data', (bytes) => this.sink && this.sink(bytes));
    this.child.stdio[4].on('data', (text) => {
      this.answers += text;
      while (this.answers.includes('\n')) {
        const [answer, rest] = this.answers.split(/\n(.*)/s);
        this.answers = rest || '';
        this.acks.shift()?.(answer === 'ok');
      }
    });
    this.ended = new Promise((done) => this.child.on('exit', done));
  }

  command(text) {
    return new Promise((done) => {
      this.acks.push(done);
      this.child.stdio[3].write(`${text}\n`);
    });
  }

  write(bytes) {
    this.child.stdin.write(bytes);
  }

  async stop() {
    this.child.stdio[3].end();
    this.child.stdin.end();
    await Promise.race([this.ended, new Promise((done) => setTimeout(done, 3000))]);
    this.child.kill('SIGKILL');
  }
}

// Messages from the page: text {"open": BAUD} or {"close": true}, answered with text
// {"opened": ok} or {"closed": true}; binary frames are the port's bytes both ways.
function serveLine(socket, line) {
  let pending = Buffer.alloc(0);
  const send = (opcode, payload) => socket.writable && socket.write(frame(opcode, payload));
  line.sink = (bytes) => send(2, bytes);
  socket.on('data', (bytes) => {
    pending = parseFrames(Buffer.concat([pending, bytes]), async (opcode, payload) => {
      if (opcode === 2) return line.write(payload);
      if (opcode === 8) return socket.end(frame(8, Buffer.alloc(0)));
      if (opcode !== 1) return;
      const message = JSON.parse(payload.toString());
      if (message.open) {
        const ok = await line.command(`open ${message.open}`);
        send(1, Buffer.from(JSON.stringify({opened: ok})));
      } else if (message.close) {
        await line.command('close');
        send(1, Buffer.from(JSON.stringify({closed: true})));
      }
    });
  });
  socket.on('error', () => {});
}

// Serves `site` at http://127.0.0.1:PORT/ and relays /line to the pty at `link` once
// attach(link) is called. `requests` lists every path asked for.
export async function startRelay(site) {
  const requests = [];
  const relay = {requests, line: null, url: ''};
  const server = createServer(async (request, response) => {
    requests.push(request.url);
    const path = normalize(decodeURIComponent(new URL(request.url, 'http://x').pathname));
    const file = resolve(site, `.${path === '/' ? '/index.html' : path}`);
    try {
      if (!file.startsWith(resolve(site))) throw new Error('outside');
      const body = await readFile(file);
      response.writeHead(200, {'Content-Type': kTypes[extname(file)] || 'application/octet-stream'});
      response.end(body);
    } catch (ignored) {
      response.writeHead(404).end();
    }
  });
  server.on('upgrade', (request, socket) => {
    requests.push(request.url);
    if (!request.url.startsWith('/line') || !relay.line) return socket.destroy();
    const accept = createHash('sha1')
                       .update(request.headers['sec-websocket-key'] + kWebSocketGuid)
                       .digest('base64');
    socket.write('HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n' +
                 `Connection: Upgrade\r\nSec-WebSocket-Accept: ${accept}\r\n\r\n`);
    socket.setNoDelay(true);
    serveLine(socket, relay.line);
  });
  await new Promise((done) => server.listen(0, '127.0.0.1', done));
  relay.url = `http://127.0.0.1:${server.address().port}/`;
  relay.attach = (link) => (relay.line = new PtyLine(link));
  relay.detach = async () => {
    const line = relay.line;
    relay.line = null;
    if (line) await line.stop();
  };
  relay.close = async () => {
    await relay.detach();
    server.closeAllConnections();
    await new Promise((done) => server.close(done));
  };
  return relay;
}
