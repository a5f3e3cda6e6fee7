// The web page (build-web/site) in Debian's Chromium, its port a fake Web Serial
// (fake_serial.js) relayed to gpsfwsim on a pty (relay.mjs), every flash verified by the
// simulator.
//
//   node tests/web/web.test.mjs
//
//   GPSFW_BIN       folder of gpsfwload, gpsfwsim, gpsfwimg, gpsfwstation (build/bin)
//   GPSFW_WEB_SITE  the page's folder (build-web/site)
//   GPSFW_WEB_KEEP  keep the work folder even when the test passed
//   GPSFW_WEB_COMPARE  "FAULTS;FAULTS...": instead of the cases below, compare the page's log
//                   with gpsfwload's under each set of gpsfwsim fault options
//
// A browser without Web Serial is told which browsers have it; an image the check refuses
// is refused in the page; a whole update's downloaded log equals gpsfwload's log of the same
// image and receiver; a receiver restart in mid-programming and an unplug of three seconds
// both end verified. The page weighs at most 1 MB and asks for nothing but its own files. The
// station's server (gpsfwstation serve --web) serves a page that runs.
import assert from 'node:assert/strict';
import {spawn} from 'node:child_process';
import {closeSync, copyFileSync, existsSync, mkdtempSync, openSync, readdirSync, readFileSync, rmSync, statSync, writeFileSync} from 'node:fs';
import {tmpdir} from 'node:os';
import {dirname, join, resolve} from 'node:path';
import {createRequire} from 'node:module';
import {fileURLToPath} from 'node:url';

import {startRelay} from './relay.mjs';

const here = dirname(fileURLToPath(import.meta.url));
const root = resolve(here, '../..');
// The dashboard's browser test installs playwright-core (tests/browser/package.json).
const {chromium} = createRequire(join(root, 'tests/browser/package.json'))('playwright-core');
const bin = resolve(process.env.GPSFW_BIN || join(root, 'build/bin'));
const site = resolve(process.env.GPSFW_WEB_SITE || join(root, 'build-web/site'));
const work = mkdtempSync(join(tmpdir(), 'gpsfw-web-'));
const children = new Set();
const say = (text) => console.log(`web test: ${text}`);
const sleep = (ms) => new Promise((done) => setTimeout(done, ms));
const kMaxSiteBytes = 1024 * 1024;
const kUpdateMs = 120000;

async function until(what, ms, probe) {
  const end = Date.now() + ms;
  for (;;) {
    const value = await probe();
    if (value) return value;
    if (Date.now() > end) throw new Error(`timed out after ${ms / 1000} s waiting for ${what}`);
    await sleep(100);
  }
}

function start(name, program, args) {
  const out = join(work, `${name}.out`);
  const fd = openSync(out, 'w');
  const child = spawn(join(bin, program), args, {cwd: work, stdio: ['ignore', fd, fd]});
  closeSync(fd);
  child.out = out;
  child.ended = new Promise((done) => child.on('exit', (code) => done(code)));
  children.add(child);
  child.ended.then(() => children.delete(child));
  return child;
}

async function run(program, args) {
  const child = start(`${program}-${Date.now()}`, program, args);
  const code = await Promise.race([child.ended, sleep(kUpdateMs).then(() => 'timeout')]);
  assert.equal(code, 0, `${program} ${args.join(' ')}\n${readFileSync(child.out, 'utf8')}`);
}

async function makeImages() {
  const parts = join(work, 'parts');
  await run('gpsfwimg', [
    'sample', '--pfld-size', '4096', '--fw-size', '49152', '--sfld-size', '2048', '--out-dir', parts
  ]);
  await run('gpsfwimg', [
    'build', '--pfld', join(parts, 'PFLD.bin'), '--fw', join(parts, 'FW.bin'), '--sfld',
    join(parts, 'SFLD.srec'), '-o', join(work, 'fw.bin')
  ]);
  // Three bytes of the FW section changed: its checksum fails.
  const bad = readFileSync(join(work, 'fw.bin'));
  bad.fill(0x5a, 0x4100, 0x4103);
  writeFileSync(join(work, 'bad.bin'), bad);
}

// A receiver at LINK that exits once the host lets go: 0 when its flash verified.
async function startReceiver(name, faults = []) {
  const link = join(work, name);
  const sim = start(name, 'gpsfwsim', [
    '--link', link, '--once', '--expect', join(work, 'fw.bin'), '--time-limit', '150',
    '--power-on-baud', '4800', ...faults
  ]);
  await until(`gpsfwsim at ${link}`, 10000, () => existsSync(link));
  sim.link = link;
  return sim;
}

async function verified(sim) {
  const code = await Promise.race([sim.ended, sleep(15000).then(() => 'timeout')]);
  assert.equal(code, 0, `the receiver's flash: ${readFileSync(sim.out, 'utf8')}`);
}

async function openPage(browser, relay, initScript) {
  const context = await browser.newContext({acceptDownloads: true});
  await context.addInitScript(initScript);
  const page = await context.newPage();
  page.asked = [];
  page.on('request', (request) => page.asked.push(request.url()));
  page.on('pageerror', (error) => say(`page error: ${error.message}`));
  await page.goto(relay.url);
  return page;
}

// Picks the image in `work` and waits for the page's verdict on it.
async function checkInPage(page, name) {
  await page.setInputFiles('#image', join(work, name));
  return until(`the check of ${name}`, 30000, async () => {
    const shown = await page.textContent('#image-name');
    return shown === name && page.textContent('#check-verdict');
  });
}

// Picks the image, connects, runs the update; resolves once the page says how it ended.
async function updateThroughPage(page, during = async () => {}) {
  assert.match(await checkInPage(page, 'fw.bin'), /can be loaded/);
  await page.click('#connect');
  await page.click('#update');
  await during();
  await page.waitForSelector('#messages li.verdict', {timeout: kUpdateMs});
  return page.evaluate(() => window.gpsfwLastRun);
}

async function downloadLog(page) {
  const [download] = await Promise.all([page.waitForEvent('download'), page.click('#download')]);
  assert.equal(download.suggestedFilename(), 'grelm.txt');
  const path = join(work, `page-${Date.now()}.txt`);
  await download.saveAs(path);
  return readFileSync(path, 'utf8');
}

async function checkWeightAndRequests(page, relay) {
  const files = readdirSync(site).sort();
  assert.deepEqual(files, ['gpsfwload.js', 'gpsfwload.wasm', 'index.html', 'style.css']);
  const bytes = files.reduce((sum, f) => sum + statSync(join(site, f)).size, 0);
  say(`the page weighs ${bytes} bytes`);
  assert.ok(bytes <= kMaxSiteBytes, `the page weighs ${bytes} bytes`);
  const origin = new URL(relay.url);
  for (const url of page.asked) {
    const asked = new URL(url);
    if (asked.protocol === 'blob:') continue;
    assert.equal(asked.host, origin.host, `a request elsewhere: ${url}`);
  }
  // A phone's width: nothing wider than the screen (the log and the report scroll inside).
  await page.setViewportSize({width: 360, height: 740});
  const overflow = await page.evaluate(() => document.documentElement.scrollWidth - innerWidth);
  assert.ok(overflow <= 0, `the page is ${overflow} px wider than a phone's screen`);
  // The relay's own address (/line) is the test's fake port's, not the page's.
  const own = new Set(['/', '/gpsfwload.js', '/gpsfwload.wasm', '/style.css', '/line']);
  assert.deepEqual(relay.requests.filter((path) => !own.has(path)), []);
}

async function noSerialCase(browser, relay) {
  const page = await openPage(browser, relay, 'delete Navigator.prototype.serial;');
  await page.waitForSelector('#no-serial', {state: 'visible'});
  assert.match(await page.textContent('#no-serial'), /Chrome.*Edge.*Opera/s);
  assert.equal(await page.isDisabled('#connect'), true);
  await page.context().close();
  say('a browser without Web Serial is told which browsers have it');
}

async function refusedImageCase(page) {
  assert.match(await checkInPage(page, 'bad.bin'), /refused/);
  assert.match(await page.textContent('#check'), /FW CRC: .* FAILED\./);
  assert.match(await page.textContent('#check'), /checksum is wrong/);
  assert.equal(await page.isDisabled('#update'), true);
  say('an image the check refuses is refused in the page');
}

// One update through the page and one through gpsfwload, each against a receiver of its own
// with the same `faults`: both verified, and their logs equal. The page's run, and the times.
async function compareWithLoader(page, relay, name, faults) {
  const sim = await startReceiver(`${name}-page`, faults);
  relay.attach(sim.link);
  const result = await updateThroughPage(page);
  await relay.detach();
  assert.equal(result.code, 0);
  await verified(sim);
  const pageLog = await downloadLog(page);
  const reference = await startReceiver(`${name}-cli`, faults);
  await run('gpsfwload', [
    '-i', 'fw.bin', '-p', reference.link, '-l', `${name}-cli.txt`, '--events', `${name}.jsonl`
  ]);
  await verified(reference);
  assert.equal(pageLog, readFileSync(join(work, `${name}-cli.txt`), 'utf8'), name);
  const took = (lines) => lines.map((line) => JSON.parse(line)).find((e) => e.type === 'done');
  const cli = took(readFileSync(join(work, `${name}.jsonl`), 'utf8').trim().split('\n'));
  say(`${name}: the update took ${took(result.events).duration.toFixed(1)} s in the page, ` +
      `${cli.duration.toFixed(1)} s with gpsfwload; their logs are equal`);
  return result;
}

async function wholeUpdateCase(page, relay) {
  const result = await compareWithLoader(page, relay, 'whole', []);
  const costs = result.speedChanges.map((c) => `${c.from}->${c.to}: ${c.ms.toFixed(1)} ms`);
  say(`speed changes ${costs.join(', ')}`);
  assert.ok(result.speedChanges.length >= 2, 'the update changes speed at least twice');
}

// GPSFW_WEB_COMPARE="FAULTS;FAULTS...": gpsfwsim's fault options, one set per comparison,
// each run through the page and through gpsfwload (instead of the usual cases).
async function compareCases(page, relay, sets) {
  let k = 0;
  for (const set of sets) {
    await compareWithLoader(page, relay, `compare${k++}`, set.trim().split(/\s+/).filter(Boolean));
  }
}

async function restartCase(page, relay) {
  const sim = await startReceiver('gps-restart', ['--reset', 'flash:10']);
  relay.attach(sim.link);
  const result = await updateThroughPage(page);
  await relay.detach();
  assert.equal(result.code, 0);
  await verified(sim);
  say('a receiver restart in mid-programming ends verified');
}

async function unplugCase(page, relay) {
  const sim = await startReceiver('gps-unplug');
  relay.attach(sim.link);
  const result = await updateThroughPage(page, async () => {
    await until('programming', kUpdateMs,
                async () => /Programming/.test(await page.textContent('#phase')));
    await page.evaluate(() => window.fakeSerial.unplug());
    await sleep(3000);
    await page.evaluate(() => window.fakeSerial.plug());
  });
  await relay.detach();
  assert.equal(result.code, 0);
  assert.match(await page.textContent('#log'), /Serial port lost, waiting for it\.\.\.\r\nSerial port back\./);
  await verified(sim);
  say('an unplug of three seconds ends verified');
}

// Cancel ends the run as an interrupt ends gpsfwload: the port closed, the log's last lines.
async function cancelCase(page, relay) {
  const sim = await startReceiver('gps-cancel');
  relay.attach(sim.link);
  const result = await updateThroughPage(page, async () => {
    await until('programming', kUpdateMs,
                async () => /Programming/.test(await page.textContent('#phase')));
    await page.focus('#cancel');
    await page.keyboard.press('Enter');
  });
  await relay.detach();
  assert.equal(result.code, 130);
  assert.match(await page.textContent('#messages li.verdict'), /cancelled/);
  assert.match(await downloadLog(page), /\r\nInterrupted by signal 2\r\nRetCode: -7\r\n$/);
  // No update completed, so the simulator waits on for one.
  sim.kill('SIGKILL');
  say('Cancel, pressed from the keyboard, ends the run with the log of an interrupt');
}

// The page as the station serves it (gpsfwstation serve --web): its headers let it run, the
// module compiles and checks an image, and nothing is refused by its policy.
async function stationCase(browser) {
  const station = start('station', 'gpsfwstation', ['serve', '--web', site, '--http', '127.0.0.1:0']);
  const url = await until('the station\'s web page', 20000, () => {
    const said = readFileSync(station.out, 'utf8').match(/web page at (http:\/\/127\.0\.0\.1:\d+\/web\/)/);
    return said && said[1];
  });
  const context = await browser.newContext();
  const page = await context.newPage();
  const refused = [];
  page.on('console', (message) => {
    if (/Content.Security.Policy|Refused/i.test(message.text())) refused.push(message.text());
  });
  await page.goto(url.replace(/\/$/, ''));
  assert.equal(page.url(), url);
  assert.match(await checkInPage(page, 'fw.bin'), /can be loaded/);
  assert.deepEqual(refused, []);
  await context.close();
  station.kill('SIGTERM');
  assert.equal(await station.ended, 0);
  say('the page served by the station runs and checks an image');
}

async function main() {
  await makeImages();
  const relay = await startRelay(site);
  const browser = await chromium.launch({
    executablePath: '/usr/bin/chromium',
    args: [
      '--no-sandbox', '--disable-background-networking', '--disable-component-update',
      '--disable-sync', '--no-first-run'
    ]
  });
  let passed = false;
  try {
    await noSerialCase(browser, relay);
    await stationCase(browser);
    const page = await openPage(browser, relay, {path: join(here, 'fake_serial.js')});
    if (process.env.GPSFW_WEB_COMPARE) {
      await compareCases(page, relay, process.env.GPSFW_WEB_COMPARE.split(';'));
    } else {
      await refusedImageCase(page);
      await wholeUpdateCase(page, relay);
      await restartCase(page, relay);
      await unplugCase(page, relay);
      await cancelCase(page, relay);
      await checkWeightAndRequests(page, relay);
    }
    passed = true;
  } finally {
    await browser.close();
    await relay.close();
    for (const child of children) child.kill('SIGKILL');
    if (passed && !process.env.GPSFW_WEB_KEEP) {
      rmSync(work, {recursive: true, force: true});
    } else {
      say(`work folder kept: ${work}`);
    }
  }
  say('passed');
}

main().catch((error) => {
  console.error(`web test: FAILED: ${error.stack || error}`);
  process.exit(1);
});
