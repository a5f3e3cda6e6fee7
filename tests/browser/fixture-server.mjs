// A stand-in for the station's HTTP side, to work on the dashboard page without receivers:
// serves the page's three files as the station does (the token placeholder filled in) and a
// made-up run of eight receivers over /api/state, /api/history and /events.
//
//   node tests/browser/fixture-server.mjs [--port N] [--token T]
//
// One receiver is refused by its flash, two have port names that are markup, so the page's
// escaping and its failed-row details can be looked at by hand.
import {readFileSync} from 'node:fs';
import {createServer} from 'node:http';
import {dirname, join} from 'node:path';
import {fileURLToPath} from 'node:url';

const pageDir = join(dirname(fileURLToPath(import.meta.url)), '../../tools/gpsfwstation/http/page');
const args = process.argv.slice(2);
const option = (name, fallback) => {
  const at = args.indexOf(name);
  return at >= 0 && at + 1 < args.length ? args[at + 1] : fallback;
};
const port = Number(option('--port', '8088'));
const token = option('--token', '');

const started = Date.now();
const ports = [
  '/dev/gps0', '/dev/gps1', '/dev/gps2', '/dev/gps3', '/dev/gps4',
  '/tmp/x/<img src=x onerror=alert(1)>', '/tmp/x/<script>alert(1)</script>', '/dev/gps7'
];
const history = [];
let version = 0;

// Each receiver: 2 s waking, 3 s SFLD upload, 1 s erasing, 8 s programming, staggered.
function unitAt(i, now) {
  const t = (now - started) / 1000 - i * 0.7;
  const failing = i === 7;
  const unit = {
    id: `u${i}`,
    port: ports[i],
    names: [`/dev/serial/by-id/usb-fixture-${i}`],
    serial: `A10K${i}`,
    connection: 1,
    phase: 'waking',
    percent: -1,
    rate: -1,
    seconds_left: -1,
    retries: 0,
    wakes: 1,
    seconds: Math.max(0, t),
    result: 'running',
    result_text: 'running',
    reason: '',
    code: null,
    log: [],
  };
  if (t < 0)
    unit.phase = 'preparing';
  else if (t < 2)
    unit.phase = 'waking';
  else if (t < 5)
    Object.assign(
        unit, {phase: 'sfld_upload', percent: ((t - 2) / 3) * 100, rate: 1900, seconds_left: 5 - t});
  else if (t < 6)
    unit.phase = 'erasing';
  else if (failing && t < 9)
    Object.assign(unit, {
      phase: 'programming',
      percent: ((t - 6) / 8) * 30,
      rate: 11200,
      seconds_left: 14 - t,
      retries: Math.floor(t - 6)
    });
  else if (failing) {
    Object.assign(unit, {
      phase: 'programming',
      percent: -1,
      result: 'failed',
      result_text: 'failed',
      seconds: 9,
      code: 4,
      reason: 'the receiver refused record 0 (0x81) three times </pre><b>bold?</b>',
      log: [
        '12:00:01 waking the receiver', '12:00:03 SFLD SFLD 1.10',
        '12:00:07 record 0 refused: 0x81', '12:00:08 record 0 refused: 0x81',
        '<script>alert("log")</script>', '12:00:09 giving up: the flash refused the data'.repeat(2)
      ]
    });
  } else if (t < 14)
    Object.assign(
        unit,
        {phase: 'programming', percent: ((t - 6) / 8) * 100, rate: 11400.5, seconds_left: 14 - t});
  else
    Object.assign(unit, {
      phase: 'done',
      result: 'completed',
      result_text: 'completed',
      seconds: 14,
      code: 0,
      log: ['done']
    });
  return unit;
}

function state() {
  const now = Date.now();
  const units = ports.map((_, i) => unitAt(i, now));
  for (const u of units) {
    if (u.result !== 'running' && !history.some((h) => h.id === u.id)) {
      history.unshift({
        id: u.id,
        port: u.port,
        host: 'line3',
        operator: 'anna',
        result: u.result,
        code: u.code,
        reason: u.reason,
        start: new Date(now - u.seconds * 1000).toISOString(),
        end: new Date(now).toISOString(),
        seconds: u.seconds,
        image: 'fw.bin',
        sha256: 'ab'.repeat(32),
        boot_loader: 'BL 2.04',
        sfld: 'SFLD 1.10',
        retries: u.retries,
        wakes: 1,
        bytes: 16384
      });
    }
  }
  const completed = units.filter((u) => u.result === 'completed').length;
  const failed = units.filter((u) => u.result !== 'running' && u.result !== 'completed').length;
  return {
    version: ++version,
    station: {
      host: 'line3',
      operator: 'anna',
      mode: 'ports',
      started: new Date(started).toISOString(),
      elapsed: (now - started) / 1000,
      stopping: false,
      image_changed: false
    },
    image: {
      name: 'fw.bin',
      path: '/srv/fw.bin',
      size: 21816,
      crc32: '1a2b3c4d',
      sha256: '64'.repeat(32)
    },
    totals: {
      completed,
      failed,
      running: units.length - completed - failed,
      yield: completed + failed ? (100 * completed) / (completed + failed) : null
    },
    units,
  };
}

function historyJson() {
  const perPort = ports
                      .map((p) => {
                        const rows = history.filter((h) => h.port === p);
                        const completed = rows.filter((h) => h.result === 'completed').length;
                        return {
                          port: p,
                          completed,
                          failed: rows.length - completed,
                          yield: rows.length ? (100 * completed) / rows.length : null
                        };
                      })
                      .filter((p) => p.completed + p.failed > 0);
  return {source: 'this run', rows: history.slice(0, 50), per_port: perPort};
}

const types = {
  '/': 'text/html; charset=utf-8',
  '/app.js': 'text/javascript; charset=utf-8',
  '/app.css': 'text/css; charset=utf-8'
};

createServer((req, res) => {
  const url = new URL(req.url, 'http://fixture');
  const given =
      url.searchParams.get('token') ?? (req.headers.authorization || '').replace(/^Bearer /, '');
  if (token && given !== token) {
    res.writeHead(401, {'Content-Type': 'text/plain'}).end('token needed\n');
    return;
  }
  if (types[url.pathname]) {
    const file = url.pathname === '/' ? 'index.html' : url.pathname.slice(1);
    let body = readFileSync(join(pageDir, file), 'utf8');
    if (file === 'index.html')
      body = body.replaceAll('__TOKEN_QUERY__', token ? `?token=${encodeURIComponent(token)}` : '');
    res.writeHead(200, {'Content-Type': types[url.pathname], 'Cache-Control': 'no-store'})
        .end(body);
  } else if (url.pathname === '/api/state') {
    res.writeHead(200, {'Content-Type': 'application/json'}).end(JSON.stringify(state()));
  } else if (url.pathname === '/api/history') {
    res.writeHead(200, {'Content-Type': 'application/json'}).end(JSON.stringify(historyJson()));
  } else if (url.pathname === '/events') {
    res.writeHead(200, {'Content-Type': 'text/event-stream', 'Cache-Control': 'no-store'});
    let ended = history.length;
    const timer = setInterval(() => {
      res.write(`event: state\ndata: ${JSON.stringify(state())}\n\n`);
      if (history.length !== ended) {
        ended = history.length;
        res.write(`event: history\ndata: ${JSON.stringify(historyJson())}\n\n`);
      }
    }, 250);
    req.on('close', () => clearInterval(timer));
  } else {
    res.writeHead(404, {'Content-Type': 'text/plain'}).end('not found\n');
  }
})
    .listen(
        port, '127.0.0.1',
        () => console.log(`fixture on http://127.0.0.1:${port}/${token ? `?token=${token}` : ''}`));
