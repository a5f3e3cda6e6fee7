// The page: picks the image, checks it, takes the port, runs the update and shows it. All of
// the protocol is the loader's own core (the module GpsfwLoader); this script only hands it
// files and the port, and reads its event stream (--events) and its progress log.
'use strict';

(() => {
  const $ = (id) => document.getElementById(id);
  const kWorkDir = '/work';
  const kProgram = '/gpsfwload';  // the loader looks for an sfld.hex beside itself
  const kLogPath = '/work/grelm.txt';
  const kPortName = 'web-serial';
  const kLiveLogMs = 500;
  // The USB-serial chips receivers are wired through: FTDI, Silicon Labs CP210x, WCH CH340,
  // Prolific PL2303.
  const kPortFilters = [
    {usbVendorId: 0x0403}, {usbVendorId: 0x10c4}, {usbVendorId: 0x1a86}, {usbVendorId: 0x067b}
  ];
  const kPhaseNames = {
    preparing: 'Preparing the image',
    waking: 'Waking the receiver',
    polling: 'Waiting for the boot loader',
    sfld_upload: 'Uploading the SFLD',
    waiting_for_sfld: 'Waiting for the SFLD',
    flash_queries: 'Asking the flash',
    erasing: 'Erasing the flash',
    programming: 'Programming the flash',
    port_lost: 'Port lost: waiting for it to come back',
    done: 'Done'
  };

  const state =
      {image: null, sfld: null, imageOk: false, port: null, line: null, running: false, checks: 0};
  const compiled = WebAssembly.compileStreaming(fetch('gpsfwload.wasm'));

  // One run of the loader on a fresh instance: `args` after the program's name, `files` as
  // {path: bytes}. Resolves to {code, log, out, err}.
  async function runLoader(args, files, onOut, onErr, line) {
    const module = await compiled;
    const out = [];
    const err = [];
    let ended = null;
    const exited = new Promise((done) => (ended = done));
    const core = await GpsfwLoader({
      thisProgram: kProgram,
      line,
      print: (text) => {
        out.push(text);
        onOut(text);
      },
      printErr: (text) => {
        err.push(text);
        onErr(text);
      },
      quit: (status, thrown) => {
        ended(status);
        throw thrown;
      },
      instantiateWasm: (imports, receive) => {
        WebAssembly.instantiate(module, imports).then((instance) => receive(instance, module));
        return {};
      }
    });
    if (line) state.core = core;
    core.FS.mkdir(kWorkDir);
    core.FS.chdir(kWorkDir);
    for (const [path, bytes] of Object.entries(files)) core.FS.writeFile(path, bytes);
    const argv = [kProgram, ...args].map((text) => {
      const size = core.lengthBytesUTF8(text) + 1;
      const at = core._malloc(size);
      core.stringToUTF8(text, at, size);
      return at;
    });
    const table = core._malloc(4 * (argv.length + 1));
    argv.forEach((at, i) => core.HEAPU32[(table >> 2) + i] = at);
    core.HEAPU32[(table >> 2) + argv.length] = 0;
    // A cancelled run ends inside the core, as the loader ends on an interrupt (exit).
    const returned = core.ccall(
        'gpsfw_web_run', 'number', ['number', 'number'], [argv.length, table], {async: true});
    const code = await Promise.race([returned, exited]);
    return {code, log: readLog(core), out, err};
  }

  function readLog(core) {
    try {
      return core.FS.readFile(kLogPath);
    } catch (ignored) {
      return null;
    }
  }

  function showLiveLog() {
    if (!state.core) return;
    const log = readLog(state.core);
    if (log) $('log').textContent = new TextDecoder().decode(log);
  }

  function say(text, kind = 'note') {
    const item = document.createElement('li');
    item.className = kind;
    item.textContent = text;
    $('messages').append(item);
  }

  // Only the file's own name reaches the loader, so that the log names it as a command line
  // run in the file's folder would.
  function plainName(name, fallback) {
    const base = String(name).replace(/^.*[\\/]/, '').replace(/[\0-\x1f]/g, '_');
    return base && base !== '.' && base !== '..' ? base : fallback;
  }

  function files() {
    const list = {};
    list[`${kWorkDir}/${plainName(state.image.name, 'image.bin')}`] = state.image.bytes;
    if (state.sfld) list['/sfld.hex'] = state.sfld.bytes;
    return list;
  }

  async function readFile(file) {
    return {name: file.name, bytes: new Uint8Array(await file.arrayBuffer())};
  }

  async function checkImage(file) {
    const ticket = ++state.checks;  // only the last image picked is shown
    state.imageOk = false;
    refresh();
    $('image-name').textContent = file.name;
    $('check-verdict').textContent = '';
    $('check').textContent = 'Checking...';
    state.image = await readFile(file);
    let result;
    try {
      result = await runLoader(
          ['-i', plainName(state.image.name, 'image.bin'), '--check'], files(), () => {}, () => {});
    } catch (error) {
      // The usual cause: a server that does not send gpsfwload.wasm as application/wasm.
      result = {code: -1, out: [`The page's program could not run: ${error}`], err: []};
    }
    if (ticket !== state.checks) return;
    const report = [...result.out, ...result.err].join('\n');
    state.imageOk = result.code === 0;
    $('check').textContent = report;
    $('check-verdict').textContent =
        state.imageOk ? 'The image can be loaded.' : `The image is refused (code ${result.code}).`;
    $('check-verdict').className = state.imageOk ? 'ok' : 'bad';
    refresh();
  }

  async function pickSfld(file) {
    state.sfld = file ? await readFile(file) : null;
    if (state.image) await checkImage(new File([state.image.bytes], state.image.name));
  }

  async function connect() {
    const any = $('any-port').checked;
    try {
      state.port = await navigator.serial.requestPort(any ? {} : {filters: kPortFilters});
    } catch (error) {
      say(`No port was chosen (${error.message}).`);
      return;
    }
    const info = state.port.getInfo();
    const hex = (n) => n.toString(16).padStart(4, '0');
    $('port-name').textContent = info.usbVendorId !== undefined ?
        `USB ${hex(info.usbVendorId)}:${hex(info.usbProductId)}` :
        'a serial port';
    refresh();
  }

  function refresh() {
    const serial = 'serial' in navigator;
    $('connect').disabled = !serial || state.running;
    $('update').disabled = !serial || state.running || !state.imageOk || !state.port;
    $('cancel').disabled = !state.running;
    $('image').disabled = state.running;
    $('sfld').disabled = state.running;
  }

  const progress = {};

  function resetProgress() {
    Object.assign(progress, {total: 0, sent: 0, since: 0, t: 0, retries: 0, wakes: 0});
    $('bar').value = 0;
    for (const id of ['phase', 'percent', 'rate', 'left', 'retries', 'wakes']) $(id).textContent = '-';
    $('messages').replaceChildren();
    $('log').textContent = '';
    $('download').hidden = true;
  }

  function showProgress() {
    const share = progress.total > 0 ? progress.sent / progress.total : 0;
    $('bar').value = share;
    $('percent').textContent = `${Math.floor(share * 100)} %`;
    const seconds = progress.t - progress.since;
    if (progress.since > 0 && seconds > 0 && progress.sent > 0) {
      const rate = progress.sent / seconds;
      $('rate').textContent = `${(rate / 1024).toFixed(1)} KiB/s`;
      $('left').textContent = `${Math.ceil((progress.total - progress.sent) / rate)} s`;
    }
    $('retries').textContent = String(progress.retries);
    $('wakes').textContent = String(progress.wakes);
  }

  // One line of the event stream (front/event_stream.cpp).
  function onEvent(text) {
    let event;
    try {
      event = JSON.parse(text);
    } catch (ignored) {
      return;
    }
    progress.t = event.t;
    switch (event.type) {
      case 'start': progress.total = event.bytes; break;
      case 'phase':
        $('phase').textContent = kPhaseNames[event.phase] || event.phase;
        // A flash stage that starts again (after a restart, an unplug) programs from the start.
        if (event.phase === 'erasing') Object.assign(progress, {sent: 0, since: 0});
        if (event.phase === 'programming' && progress.since === 0) progress.since = event.t;
        break;
      case 'wake': progress.wakes = event.count; break;
      case 'retry': progress.retries += 1; break;
      case 'record':
        if (event.stage === 'flash' && event.kind === 'data' && event.verdict === 'accepted') {
          progress.sent += event.bytes;
        }
        break;
      case 'port_lost': say('The adapter went away: plug it in again; the update goes on.', 'bad'); break;
      case 'port_back': say('The adapter is back.'); break;
      case 'warning': say(event.message, 'bad'); break;
      case 'done':
        if (event.message) say(event.message, 'bad');
        break;
    }
    showProgress();
  }

  function showLog(log) {
    if (!log) return;
    const text = new TextDecoder().decode(log);
    $('log').textContent = text;
    const link = $('download');
    if (link.href) URL.revokeObjectURL(link.href);
    link.href = URL.createObjectURL(new Blob([log], {type: 'text/plain'}));
    link.hidden = false;
  }

  async function update() {
    state.running = true;
    refresh();
    resetProgress();
    const line = new SerialLine(navigator.serial, state.port);
    state.line = line;
    const args = ['-i', plainName(state.image.name, 'image.bin'), '-p', kPortName, '--events', '-'];
    const giveUp = $('give-up').value.trim();
    if (giveUp !== '') args.push('--give-up-after', giveUp);
    // The log as the loader writes it, line by line, while the run goes on.
    const watch = setInterval(() => showLiveLog(), kLiveLogMs);
    let result;
    try {
      result = await runLoader(args, files(), onEvent, (text) => say(text, 'bad'), line);
    } catch (error) {
      result = {code: -1, log: readLog(state.core), out: []};
      say(`The loader stopped: ${error}`, 'bad');
    } finally {
      clearInterval(watch);
      await line.release();
      state.port = line.port;
      state.line = null;
      state.core = null;
      state.running = false;
      refresh();
    }
    showLog(result.log);
    // The loader names the port it could not open; the browser knows why.
    if (line.lastError) say(`The browser could not open the port: ${line.lastError}`, 'bad');
    const changes = line.speedChanges;
    if (changes.length > 0) {
      const total = changes.reduce((sum, c) => sum + c.ms, 0);
      say(`Speed changes: ${changes.length}, ${(total / changes.length).toFixed(0)} ms each on average.`);
    }
    const verdict = result.code === 0 ? 'The update is complete.' :
        line.cancelled ? 'The update was cancelled.' : `The update failed (code ${result.code}).`;
    say(verdict, result.code === 0 ? 'ok verdict' : 'bad verdict');
    window.gpsfwLastRun = {code: result.code, speedChanges: changes, events: result.out};
  }

  function onDrop(event) {
    event.preventDefault();
    document.body.classList.remove('dragging');
    const file = event.dataTransfer.files[0];
    if (file && !state.running) checkImage(file);
  }

  function start() {
    if (!('serial' in navigator)) {
      $('no-serial').hidden = false;
    }
    $('image').addEventListener('change', () => $('image').files[0] && checkImage($('image').files[0]));
    $('sfld').addEventListener('change', () => pickSfld($('sfld').files[0]));
    $('connect').addEventListener('click', connect);
    $('update').addEventListener('click', update);
    $('cancel').addEventListener('click', () => state.line && state.line.cancel());
    document.addEventListener('dragover', (event) => {
      event.preventDefault();
      document.body.classList.add('dragging');
    });
    document.addEventListener('dragleave', () => document.body.classList.remove('dragging'));
    document.addEventListener('drop', onDrop);
    refresh();
  }

  if (typeof document !== 'undefined') {
    document.readyState === 'loading' ? document.addEventListener('DOMContentLoaded', start) : start();
  }
})();
