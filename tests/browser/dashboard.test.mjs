// The station's dashboard in a real browser, against the real gpsfwstation flashing simulated
// receivers (gpsfwsim on ptys), the flash of every receiver verified by the simulator.
//
//   node tests/browser/dashboard.test.mjs [--update-screenshot]
//
//   GPSFW_BIN          folder of gpsfwstation, gpsfwload, gpsfwsim, gpsfwimg (build/bin)
//   GPSFW_BROWSER_KEEP keep the work folder even when the test passed
//   GPSFW_BROWSER_ONLY run only the runs whose name holds this text
//
// Both stations listen at one address and want a token. First run: eight receivers, one whose
// flash refuses every record, two reached through port names that are markup. The page must
// show eight rows whose progress moves, end with seven completed and one failed whose reason
// opens from its row, list the eight updates, show the names as text, fit a phone's width, and
// say when the station is gone. Second run: sixteen good receivers; the first run's page finds
// the new station by itself; a screenshot at 1920x1080 in the middle of the run
// (build/dashboard.png; docs/dashboard.png with --update-screenshot). Third run: a station
// that waits for each unit's serial; a serial typed into a row's field and ended with Enter,
// as a barcode scanner does, starts that unit's update and is found in the record by serial.
import assert from 'node:assert/strict';
import {spawn} from 'node:child_process';
import {closeSync, copyFileSync, existsSync, mkdirSync, mkdtempSync, openSync, readFileSync, readlinkSync, rmSync, symlinkSync} from 'node:fs';
import {createServer} from 'node:net';
import {tmpdir} from 'node:os';
import {basename, dirname, join, resolve} from 'node:path';
import {fileURLToPath} from 'node:url';
import {chromium} from 'playwright-core';

const root = resolve(dirname(fileURLToPath(import.meta.url)), '../..');
const bin = resolve(process.env.GPSFW_BIN || join(root, 'build/bin'));
const updateScreenshot = process.argv.includes('--update-screenshot');
const work = mkdtempSync(join(tmpdir(), 'gpsfw-browser-'));
const children = new Set();  // running
const started = [];          // all, for their output when the test fails
let browser = null;
const shared = {
  port: 0,
  token: '',
  page: null
};  // what the second run takes over from the first

const say = (text) => console.log(`dashboard test: ${text}`);
const sleep = (ms) => new Promise((done) => setTimeout(done, ms));

// Polls `probe` until it returns something truthy; fails naming `what` after `ms`.
async function until(what, ms, probe) {
  const end = Date.now() + ms;
  for (;;) {
    const value = await probe();
    if (value) return value;
    if (Date.now() > end) throw new Error(`timed out after ${ms / 1000} s waiting for ${what}`);
    await sleep(100);
  }
}

// `nice` > 0 starts the program (and so its children) at a lower priority.
function start(name, program, args, nice = 0) {
  const out = join(work, `${name}.out`);
  const fd = openSync(out, 'w');
  const command = nice > 0 ? ['nice', ['-n', String(nice), join(bin, program), ...args]] :
                             [join(bin, program), args];
  const child = spawn(command[0], command[1], {cwd: work, stdio: ['ignore', fd, fd]});
  closeSync(fd);
  child.name = name;
  child.out = out;
  child.ended = new Promise((done) => child.on('exit', (code, signal) => done({code, signal})));
  child.on('error', (error) => say(`${program} could not start: ${error.message}`));
  children.add(child);
  started.push(child);
  child.ended.then(() => children.delete(child));
  return child;
}

async function stop(child) {
  if (!children.has(child)) return child.ended;
  child.kill('SIGTERM');
  const ended = await Promise.race([child.ended, sleep(5000).then(() => null)]);
  if (ended) return ended;
  child.kill('SIGKILL');
  return child.ended;
}

async function run(program, args) {
  const child = start(`${program}-${Date.now()}`, program, args);
  const {code} = await Promise.race([child.ended, sleep(30000).then(() => ({code: 'timeout'}))]);
  if (code !== 0)
    throw new Error(
        `${program} ${args.join(' ')}: status ${code}\n${readFileSync(child.out, 'utf8')}`);
}

async function freePort() {
  const server = createServer();
  await new Promise((done) => server.listen(0, '127.0.0.1', done));
  const {port} = server.address();
  await new Promise((done) => server.close(done));
  return port;
}

async function makeImage() {
  const parts = join(work, 'parts');
  await run('gpsfwimg', [
    'sample', '--pfld-size', '4096', '--fw-size', '49152', '--sfld-size', '2048', '--out-dir', parts
  ]);
  const image = join(work, 'fw.bin');
  await run('gpsfwimg', [
    'build', '--pfld', join(parts, 'PFLD.bin'), '--fw', join(parts, 'FW.bin'), '--sfld',
    join(parts, 'SFLD.srec'), '-o', image
  ]);
  return image;
}

// N receivers published at DIR/gpsK; `faults` are gpsfwsim options that end with --unit all.
async function startReceivers(dir, count, image, faults) {
  mkdirSync(dir, {recursive: true});
  // The receivers' application listens at 4800, the rate of the loader's first wake-up: a
  // wake-up the simulator misses costs ~17 s (see startStation).
  const sim = start(`sim-${count}`, 'gpsfwsim', [
    '--count', String(count), '--link', join(dir, 'gps%d'), '--expect', image, '--report',
    join(dir, 'sim.json'), '--time-limit', '150', '--power-on-baud', '4800', ...faults
  ]);
  await until(`gpsfwsim to publish ${dir}/gps0..${count - 1}`, 10000, () => {
    if (!children.has(sim))
      throw new Error(`gpsfwsim ended early:\n${readFileSync(sim.out, 'utf8')}`);
    return [...Array(count).keys()].every((k) => existsSync(join(dir, `gps${k}`)));
  });
  sim.dir = dir;
  return sim;
}

// The simulator's verdict on each receiver's flash, from the report it writes as it exits.
async function verdicts(sim) {
  await stop(sim);
  const report = JSON.parse(readFileSync(join(sim.dir, 'sim.json'), 'utf8'));
  return report.units.map(
      (u) => ({completed: u.completed, verified: u.verification?.verified === true}));
}

async function startStation(dir, image, unitTimeout, ports) {
  // The simulator tells the rate of the host's bytes from the pty's settings when it reads
  // them: a loader that sets its next rate before the simulator got to its wake-up has that
  // wake-up heard at the wrong rate. With sixteen loaders starting at once on two cores, the
  // station and its loaders run at a lower priority than the receivers, as a real receiver
  // never waits for the host's CPU.
  const station = start(
      `station-${basename(dir)}`, 'gpsfwstation',
      [
        '-i', image, '--plain', '--log-dir', join(dir, 'logs'), '--db', join(dir, 'rec.db'),
        '--report', join(dir, 'summary.json'), '--operator', 'line operator', '--unit-timeout',
        String(unitTimeout), '--http', `127.0.0.1:${shared.port}`, '--http-token', shared.token,
        ...ports
      ],
      10);
  station.url = `http://127.0.0.1:${shared.port}/`;
  station.query = `?token=${encodeURIComponent(shared.token)}`;
  station.summary = join(dir, 'summary.json');
  await until(`the station to answer on ${station.url}`, 10000, async () => {
    if (!children.has(station))
      throw new Error(`gpsfwstation ended early:\n${readFileSync(station.out, 'utf8')}`);
    try {
      return (await fetch(station.url + station.query)).ok;
    } catch {
      return false;
    }
  });
  return station;
}

async function openPage(url, viewport) {
  const page = await browser.newPage({viewport});
  page.dialogs = [];
  page.problems = [];
  page.on('dialog', (dialog) => {
    page.dialogs.push(dialog.message());
    dialog.dismiss().catch(() => {});
  });
  page.on('pageerror', (error) => page.problems.push(`page error: ${error.message}`));
  page.on('response', (response) => {
    if (response.status() >= 400)
      page.problems.push(`${response.url()}: HTTP ${response.status()}`);
  });
  page.on('console', (message) => {
    if (/Content.Security.Policy|Refused to/i.test(message.text()))
      page.problems.push(message.text());
  });
  await page.goto(url);
  return page;
}

// Waits for the header's totals to reach `want` ({completed, failed, running}). The station
// may end once every port is done, but not before the page has been told the last results.
async function untilTotals(page, station, want, ms) {
  const shown = async () => ({
    completed: await page.textContent('#completed'),
    failed: await page.textContent('#failed'),
    running: await page.textContent('#running'),
  });
  const wanted = Object.fromEntries(Object.entries(want).map(([k, v]) => [k, String(v)]));
  const end = Date.now() + ms;
  let endedAt = null;
  for (;;) {
    const now = await shown();
    if (Object.keys(wanted).every((k) => now[k] === wanted[k])) return;
    if (endedAt === null && !children.has(station)) endedAt = Date.now();
    if (endedAt !== null && Date.now() - endedAt > 3000) {
      const totals = JSON.parse(readFileSync(station.summary, 'utf8')).totals;
      const ended = {
        completed: String(totals.completed),
        failed: String(totals.failed),
        running: '0'
      };
      if (Object.keys(wanted).some((k) => ended[k] !== wanted[k])) {
        throw new Error(
            `the run ended with ${JSON.stringify(ended)}, not ${JSON.stringify(wanted)}`);
      }
      throw new Error(
          `gpsfwstation ended without sending its final state: the page shows ` +
          `${JSON.stringify(now)}, the run ended with ${JSON.stringify(ended)}`);
    }
    if (Date.now() > end)
      throw new Error(
          `timed out waiting for the totals ${JSON.stringify(wanted)}: ${JSON.stringify(now)}`);
    await sleep(100);
  }
}

// Each row's id, port, result and percent as the page shows them.
const rowsOf = (page) => page.$$eval(
    '#units .unit[data-id]',
    (rows) =>
        rows.map((row) => ({
                   id: row.dataset.id,
                   port: row.querySelector('.name').textContent,
                   result: row.dataset.result,
                   phase: row.querySelector('.phase').textContent,
                   percent: Number(row.querySelector('.bar').getAttribute('aria-valuenow') ?? -1),
                 })));

async function failingRun(image) {
  const dir = join(work, 'run1');
  const sim = await startReceivers(
      dir, 8, image, ['--unit', '7', '--reject', 'flash:0:0x81:always', '--unit', 'all']);
  // Port names are whatever a symlink is called: two of them are markup (the second one's '/'
  // makes a folder '<script>alert(1)<' holding the link 'script>').
  const imgName = join(dir, '<img src=x onerror=alert(1)>');
  const scriptName = join(dir, '<script>alert(1)</script>');
  symlinkSync(readlinkSync(join(dir, 'gps5')), imgName);
  mkdirSync(dirname(scriptName));
  symlinkSync(readlinkSync(join(dir, 'gps6')), scriptName);
  // The refusing receiver's loader tries forever: the station's time limit ends it. A good
  // receiver whose first wake-up was lost needs about 32 s, hence 40.
  // The factory's system is away: every unit's hook fails.
  const station = await startStation(dir, image, 40, [
    '--ports', join(dir, 'gps[0-47]'), imgName, scriptName, '--on-update-end',
    'echo the MES is away; exit 3'
  ]);
  const page = await openPage(station.url + station.query, {width: 1280, height: 900});

  await until('eight rows', 15000, async () => (await rowsOf(page)).length === 8);
  say('eight rows');

  // Two looks at the receivers that are programming (some seconds each): one of them must
  // have gone further.
  const first = await until('a receiver programming', 30000, async () => {
    const moving = (await rowsOf(page))
                       .filter(
                           (r) => r.phase === 'programming' && r.result === 'running' &&
                               r.percent >= 0 && r.percent < 80);
    return moving.length ? moving : null;
  });
  await until('the progress to move', 5000, async () => {
    const now = await rowsOf(page);
    return first.some((before) => {
      const after = now.find((r) => r.id === before.id);
      return after && after.phase === before.phase && after.percent > before.percent;
    });
  });
  say('progress moves');

  await untilTotals(page, station, {completed: 7, failed: 1, running: 0}, 70000);
  const rows = await rowsOf(page);
  assert.equal(rows.filter((r) => r.result === 'completed').length, 7, 'seven completed rows');
  const failed = rows.filter((r) => r.result === 'failed' || r.result === 'timed_out');
  assert.equal(failed.length, 1, 'one failed row');
  assert.equal(failed[0].port, join(dir, 'gps7'), 'the refusing receiver is the failed one');
  say(`7 completed, 1 ${failed[0].result}`);

  // The failing hooks: counted above the table, and said beside a unit's result.
  await until(
      'the failing hooks to be counted', 10000,
      async () => /hook for the factory's systems failed/.test(await page.textContent('#notice')));
  await until(
      'a unit to show its failed hook', 10000,
      async () =>
          (await page.$$eval('#units .unit .result', (cells) => cells.map((c) => c.textContent)))
              .some((text) => text.includes('hook: exit 3')));
  say('the failing hooks are shown');

  // The failed row opens onto its reason and log, by a click and from the keyboard.
  const row = page.locator(`#units .unit[data-id="${failed[0].id}"]`);
  const details = page.locator(`#${await row.getAttribute('aria-controls')}`);
  assert.equal(await row.getAttribute('role'), 'button');
  await row.click();
  await details.waitFor({state: 'visible', timeout: 2000});
  // What the station itself says about that update: its summary's reason and the loader's log.
  const summary = JSON.parse(readFileSync(join(dir, 'summary.json'), 'utf8'));
  const entry = summary.ports.find((u) => u.port === failed[0].port);
  assert.ok(entry?.reason, `the station's summary gives ${failed[0].port} a reason`);
  assert.ok(
      (await details.locator('.why').textContent()).includes(entry.reason), 'the reason is shown');
  const lastLine =
      readFileSync(resolve(work, entry.log), 'utf8').trim().split(/\r?\n/).at(-1).trim();
  assert.ok(
      (await details.locator('.log').textContent()).includes(lastLine),
      `the log's last line "${lastLine}" is shown`);
  await row.press('Enter');
  await details.waitFor({state: 'hidden', timeout: 2000});
  await row.press(' ');
  await details.waitFor({state: 'visible', timeout: 2000});
  say('the failed row shows its reason and log');

  // The record's rows, newest first: the eight ended updates, one of them failed.
  const historyResults = () =>
      page.$$eval('#history tbody tr', (rows) => rows.map((r) => r.dataset.result).sort());
  const wantHistory = JSON.stringify([...Array(7).fill('completed'), failed[0].result]);
  await until(
      'the eight ended updates in the history', 10000,
      async () => JSON.stringify(await historyResults()) === wantHistory)
      .catch(async (error) => {
        throw new Error(
            `${error.message}: the page lists ${JSON.stringify(await historyResults())}`);
      });
  assert.equal(await page.locator('#per-port tbody tr').count(), 8, 'a yield row per port');
  say('history lists the eight updates');

  // The record's stations: this one, alive, its name in every history row.
  await until(
      'this station in the list of stations', 10000,
      async () => (await page.locator('#stations tbody tr[data-alive="yes"]').count()) === 1);
  assert.equal(
      await page.locator('#history td.station').count(), 8, 'a station cell in each history row');
  say('the stations list this one, alive');

  // Markup in a port name is text: shown as it is, no element made of it, no dialog.
  for (const name of [imgName, scriptName]) {
    await page.locator('#units .name', {hasText: name}).first().waitFor({
      state: 'visible',
      timeout: 2000
    });
    assert.equal(
        await page.locator('#history td.port', {hasText: name}).count(), 1,
        `${name} in the history`);
  }
  assert.equal(await page.locator('main script, main img, header script, header img').count(), 0);
  assert.deepEqual(page.dialogs, [], 'no dialog opened');
  say('port names that are markup show as text');

  // A phone: the opened row, the history and the totals all fit its width.
  await page.setViewportSize({width: 390, height: 844});
  await page.waitForTimeout(300);
  const width = await page.evaluate(() => [document.documentElement.scrollWidth, innerWidth]);
  await page.screenshot({path: join(root, 'build', 'dashboard-phone.png'), fullPage: true});
  assert.ok(width[0] <= width[1], `no sideways scrolling at 390 px (page ${width[0]} px wide)`);
  say('fits a phone');
  assert.deepEqual(page.problems, []);

  const {code} = await Promise.race([station.ended, sleep(15000).then(() => stop(station))]);
  assert.equal(code, 1, 'the station reports the failed update in its status');
  // The station is gone: the page says so, and keeps trying (the next run finds it again).
  await until(
      'the page to show the station is gone', 5000,
      async () => (await page.textContent('#link')) === 'reconnecting…');
  say('the page shows it lost the station');
  shared.page = page;
  const flash = await verdicts(sim);
  assert.deepEqual(
      flash.map((u) => u.verified), [true, true, true, true, true, true, true, false],
      'receivers 0-6 verified their flash, 7 did not complete');
  say('flash verified on the seven receivers');
}

async function screenshotRun(image) {
  const dir = join(work, 'run2');
  const sim = await startReceivers(dir, 16, image, []);
  // A station started again at the same address: the first run's page, left open, picks it up
  // by itself.
  const station = await startStation(dir, image, 60, ['--ports', join(dir, 'gps*')]);
  let page = shared.page;
  shared.page = null;
  if (page) {
    page.problems = [];
    await page.setViewportSize({width: 1920, height: 1080});
    await until(
        'the page to find the restarted station', 20000,
        async () =>
            (await page.textContent('#link')) === 'live' && (await rowsOf(page)).length === 16);
    say('the page found the restarted station');
  } else {
    page = await openPage(station.url + station.query, {width: 1920, height: 1080});
  }
  await until('sixteen receivers, most of them programming', 40000, async () => {
    const rows = await rowsOf(page);
    return rows.length === 16 && rows.filter((r) => r.percent >= 30 && r.percent <= 85).length >= 8;
  });
  const shot = join(root, 'build', 'dashboard.png');
  await page.evaluate(() => window.scrollTo(0, 0));
  await page.screenshot({path: shot});
  if (updateScreenshot) {
    mkdirSync(join(root, 'docs'), {recursive: true});
    copyFileSync(shot, join(root, 'docs', 'dashboard.png'));
    say('docs/dashboard.png updated');
  }
  say(`screenshot ${shot}`);
  await untilTotals(page, station, {completed: 16, failed: 0, running: 0}, 70000);
  assert.deepEqual(page.problems, []);
  await page.close();
  const {code} = await Promise.race([station.ended, sleep(15000).then(() => stop(station))]);
  assert.equal(code, 0, 'the station reports every update completed');
  assert.ok(
      (await verdicts(sim)).every((u) => u.verified), 'all sixteen receivers verified their flash');
  say('flash verified on the sixteen receivers');
}

// What `gpsfwstation history ARGS --json` lists.
async function historyJson(args) {
  const child = start(`history-${Date.now()}`, 'gpsfwstation', ['history', ...args, '--json']);
  const {code} = await Promise.race([child.ended, sleep(30000).then(() => ({code: 'timeout'}))]);
  assert.equal(code, 0, readFileSync(child.out, 'utf8'));
  return JSON.parse(readFileSync(child.out, 'utf8'));
}

async function scannedSerialRun(image) {
  const dir = join(work, 'run3');
  const sim = await startReceivers(dir, 1, image, []);
  const station = await startStation(dir, image, 60, ['--require-serial', join(dir, 'gps0')]);
  const page = await openPage(station.url + station.query, {width: 1280, height: 800});
  const field = page.locator('.unit .unit-serial input');
  await until(
      'the port to wait for its serial', 15000,
      async () => (await page.textContent('.unit .phase')) === 'waiting for serial');
  await field.click();
  // A keyboard-wedge scanner: keys, then Enter.
  await page.keyboard.type('SN-7001/A', {delay: 15});
  await page.keyboard.press('Enter');
  await until(
      'the serial to be taken', 10000,
      async () => (await page.textContent('.unit .serial-note')) === '✓ SN-7001/A');
  say('a scanned serial was taken');
  await untilTotals(page, station, {completed: 1, failed: 0, running: 0}, 60000);
  assert.equal(await field.inputValue(), 'SN-7001/A', 'the field shows the serial in use');
  assert.deepEqual(page.problems, []);
  await page.close();
  const {code} = await Promise.race([station.ended, sleep(15000).then(() => stop(station))]);
  assert.equal(code, 0, 'the station reports the update completed');
  const db = join(dir, 'rec.db');
  const rows = await historyJson(['--db', db, '--serial', 'SN-7001/A']);
  assert.equal(rows.length, 1, 'history --serial finds the unit');
  assert.equal(rows[0].unit_serial, 'SN-7001/A');
  assert.equal(rows[0].result, 'completed');
  assert.deepEqual(await historyJson(['--db', db, '--serial', 'SN-7001']), [], 'exact match only');
  assert.ok((await verdicts(sim)).every((u) => u.verified), 'the receiver verified its flash');
  say('the record has the unit by its serial');
}

// Stopped from outside (the runner's time limit, Ctrl-C): no simulator or station is left behind.
for (const signal of ['SIGTERM', 'SIGINT']) {
  process.on(signal, () => {
    for (const child of children) child.kill('SIGKILL');
    console.error(`dashboard test: stopped by ${signal}; work folder kept: ${work}`);
    process.exit(1);
  });
}

// Each run is checked whole even when the other failed; the output of the programs of a failed
// run is shown, and the work folder kept.
const failures = [];
try {
  mkdirSync(join(root, 'build'), {recursive: true});
  browser = await chromium.launch(
      {executablePath: process.env.GPSFW_CHROMIUM || '/usr/bin/chromium', args: ['--no-sandbox']});
  const image = await makeImage();
  // Both runs' stations listen at one address, with a token that needs encoding: the page must
  // pass it on to its script, its style sheet, the event stream and the JSON, or it shows
  // nothing.
  shared.port = await freePort();
  shared.token = 'line 3&4/ok? night shift';
  for (const [name, scenario] of [
           ['eight receivers, one refusing', failingRun], ['sixteen receivers', screenshotRun],
           ['a scanned serial', scannedSerialRun]]) {
    if (process.env.GPSFW_BROWSER_ONLY && !name.includes(process.env.GPSFW_BROWSER_ONLY)) continue;
    const first = started.length;
    try {
      await scenario(image);
    } catch (error) {
      failures.push(name);
      console.error(`dashboard test: FAILED (${name}): ${error.stack || error}`);
      for (const child of started.slice(first)) {
        console.error(`--- ${child.name} (${child.out}), last lines:`);
        console.error(readFileSync(child.out, 'utf8').split('\n').slice(-25).join('\n'));
      }
      await Promise.all([...children].map(stop));
    }
  }
} catch (error) {
  failures.push('setup');
  console.error(`dashboard test: FAILED: ${error.stack || error}`);
} finally {
  await Promise.all([...children].map(stop));
  if (browser) await browser.close();
  if (failures.length || process.env.GPSFW_BROWSER_KEEP)
    say(`work folder kept: ${work}`);
  else
    rmSync(work, {recursive: true, force: true});
}
say(failures.length ? `FAILED: ${failures.join(', ')}` : 'PASS');
process.exit(failures.length ? 1 : 0);
