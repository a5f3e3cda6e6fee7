// The station's live dashboard: one row per receiver, the totals of the shift and the last
// updates. The station's state arrives as server-sent events, and a fresh copy is fetched
// whenever the stream (re)opens, so a restarted station shows up by itself. Its one write is
// a unit's serial number, scanned into a row's serial field.
//
// Port names, reasons and log lines come from the outside world (a symlink can be called
// anything), so every text goes in through textContent; no markup is ever built from data.
'use strict';

(() => {
  const token = new URLSearchParams(location.search).get('token');
  const query = token ? '?token=' + encodeURIComponent(token) : '';

  const $ = (id) => document.getElementById(id);

  function el(tag, className, text) {
    const node = document.createElement(tag);
    if (className) node.className = className;
    if (text !== undefined) node.textContent = text;
    return node;
  }

  // ---- Formatting --------------------------------------------------------------------------

  const dash = '–';
  const isNum = (v) => typeof v === 'number' && Number.isFinite(v);

  function duration(seconds) {
    if (!isNum(seconds) || seconds < 0) return dash;
    const s = Math.floor(seconds);
    const h = Math.floor(s / 3600);
    const m = Math.floor((s % 3600) / 60);
    const ss = String(s % 60).padStart(2, '0');
    if (h > 0) return `${h}:${String(m).padStart(2, '0')}:${ss}`;
    return `${m}:${ss}`;
  }

  function bytes(n) {
    if (!isNum(n) || n < 0) return dash;
    if (n < 1024) return `${n} B`;
    if (n < 1024 * 1024) return `${(n / 1024).toFixed(1)} KiB`;
    return `${(n / 1024 / 1024).toFixed(2)} MiB`;
  }

  function rate(bytesPerSecond) {
    if (!isNum(bytesPerSecond) || bytesPerSecond < 0) return dash;
    if (bytesPerSecond < 1000) return `${Math.round(bytesPerSecond)} B/s`;
    return `${(bytesPerSecond / 1000).toFixed(1)} kB/s`;
  }

  const percentText = (v) => (isNum(v) ? `${v.toFixed(v === 100 || v === 0 ? 0 : 1)} %` : dash);

  function clock(iso) {
    if (typeof iso !== 'string' || iso === '') return dash;
    const t = new Date(iso);
    if (Number.isNaN(t.getTime())) return iso;
    const today = new Date();
    const time = t.toLocaleTimeString(
        [], {hour: '2-digit', minute: '2-digit', second: '2-digit', hour12: false});
    if (t.toDateString() === today.toDateString()) return time;
    return `${t.toLocaleDateString()} ${time}`;
  }

  const text = (v) => (v === null || v === undefined || v === '' ? dash : String(v));
  const phaseText = (p) => (p ? String(p).replace(/_/g, ' ').replace(/\bsfld\b/g, 'SFLD') : dash);

  // The colour a result stands for; anything unknown is shown as not finished.
  function resultClass(result) {
    switch (result) {
      case 'completed':
        return 'ok';
      case 'failed':
      case 'timed_out':
        return 'bad';
      case 'stopped':
        return 'off';
      default:
        return 'busy';
    }
  }

  // ---- Header ------------------------------------------------------------------------------

  let elapsedBase = null;  // {seconds, at}: the station's elapsed time and when it arrived
  let shaExpanded = false;

  function renderImage(image) {
    const dd = $('image');
    dd.replaceChildren();
    if (!image) {
      dd.textContent = 'none: history only';
      return;
    }
    dd.append(el('span', 'strong', text(image.name)), ' ', el('span', 'muted', bytes(image.size)));
    dd.append(' ', el('span', 'label', 'CRC-32'), ' ', el('code', null, text(image.crc32)));
    const sha = typeof image.sha256 === 'string' ? image.sha256 : '';
    if (sha) {
      // The short form fits the header; the full one is on hover and a click (or a tap) away.
      const button = el('button', 'sha', shaExpanded ? sha : `${sha.slice(0, 12)}…`);
      button.type = 'button';
      button.title = sha;
      button.setAttribute('aria-label', `SHA-256 ${sha}`);
      button.setAttribute('aria-expanded', String(shaExpanded));
      button.addEventListener('click', () => {
        shaExpanded = !shaExpanded;
        button.textContent = shaExpanded ? sha : `${sha.slice(0, 12)}…`;
        button.setAttribute('aria-expanded', String(shaExpanded));
      });
      dd.append(' ', el('span', 'label', 'SHA-256'), ' ', button);
    }
  }

  function renderHeader(state) {
    const st = state.station || {};
    // The station's name, with its host when the name is not the host's own.
    const named = typeof st.name === 'string' && st.name !== '' && st.name !== st.host;
    $('host').textContent = named ? `${st.name} (${text(st.host)})` : text(st.host);
    $('mode').textContent = st.mode === 'serve' ? 'history' : text(st.mode);
    $('operator').textContent = text(st.operator);
    elapsedBase = isNum(st.elapsed) ? {seconds: st.elapsed, at: performance.now()} : null;
    tickElapsed();
    if (st.started) $('elapsed').title = `since ${clock(st.started)}`;
    renderImage(state.image);

    const totals = state.totals || {};
    $('completed').textContent = text(totals.completed);
    $('failed').textContent = text(totals.failed);
    $('running').textContent = text(totals.running);
    $('yield').textContent = percentText(totals.yield);

    const notes = [];
    if (st.stopping) notes.push('Stopping: no new update starts; the running ones finish.');
    if (st.record_unkept > 0) {
      notes.push(`${st.record_unkept} record row(s) are in the station's memory alone: the ` +
                 'database and the spool both fail (a full disk?). They are lost if it stops.');
    }
    if (st.hooks_failing > 0) {
      notes.push(
          `The hook for the factory's systems failed for ${st.hooks_failing} row(s): ` +
          'they are handed to it again at the next start.');
    }
    if (st.image_changed) {
      notes.push(
          'The image file changed on disk since the station started: it still flashes its own copy.');
    }
    const notice = $('notice');
    notice.textContent = notes.join(' ');
    notice.hidden = notes.length === 0;
    document.title =
        `${text(totals.completed)} ✓ ${text(totals.failed)} ✗ · gpsfwstation ${st.host || ''}`;
  }

  function tickElapsed() {
    if (!elapsedBase) {
      $('elapsed').textContent = dash;
      return;
    }
    const live = link === 'live' ? (performance.now() - elapsedBase.at) / 1000 : 0;
    $('elapsed').textContent = duration(elapsedBase.seconds + live);
  }

  // ---- Receivers ---------------------------------------------------------------------------

  // Rows are kept by unit id and updated in place, so a row that has the keyboard focus or is
  // opened stays so while the state keeps arriving.
  const rows = new Map();
  const opened = new Set();

  function makeRow(id) {
    const row = el('div', 'unit');
    row.dataset.id = id;
    const cells = {
      port: el('span', 'port'),
      phase: el('span', 'phase'),
      progress: el('span', 'progress'),
      rate: el('span', 'rate'),
      left: el('span', 'left'),
      retries: el('span', 'retries'),
      result: el('span', 'result'),
    };
    cells.portName = el('span', 'name');
    cells.portText = el('bdi');
    cells.portName.append(cells.portText);
    cells.serial = el('span', 'serial muted');
    cells.port.append(cells.portName, cells.serial, makeSerialField(id, cells));
    const bar = el('span', 'bar');
    bar.setAttribute('role', 'progressbar');
    bar.setAttribute('aria-valuemin', '0');
    bar.setAttribute('aria-valuemax', '100');
    cells.fill = el('span', 'fill');
    bar.append(cells.fill);
    cells.bar = bar;
    cells.percent = el('span', 'percent');
    cells.progress.append(bar, cells.percent);
    for (const [label, cell] of [
             ['Phase', cells.phase],
             ['Rate', cells.rate],
             ['Left', cells.left],
             ['Retries', cells.retries],
    ]) {
      cell.dataset.label = label;
    }
    row.append(
        cells.port, cells.phase, cells.progress, cells.rate, cells.left, cells.retries,
        cells.result);

    const details = el('div', 'details');
    details.id = `details-${rows.size}-${Math.random().toString(36).slice(2, 8)}`;
    details.hidden = true;
    cells.reason = el('p', 'why');
    cells.log = el('pre', 'log');
    details.append(cells.reason, cells.log);

    const toggle = () => {
      if (!row.classList.contains('openable')) return;
      if (opened.has(id))
        opened.delete(id);
      else
        opened.add(id);
      showDetails(row, cells, details);
    };
    row.addEventListener('click', toggle);
    row.addEventListener('keydown', (event) => {
      if (event.key === 'Enter' || event.key === ' ') {
        event.preventDefault();
        toggle();
      }
    });
    return {row, cells, details};
  }

  function showDetails(row, cells, details) {
    const open = row.classList.contains('openable') && opened.has(row.dataset.id);
    details.hidden = !open;
    if (row.classList.contains('openable')) row.setAttribute('aria-expanded', String(open));
  }

  function updateRow(entry, unit) {
    const {row, cells, details} = entry;
    const result = typeof unit.result === 'string' ? unit.result : 'running';
    row.dataset.result = result;
    row.className = `unit ${resultClass(result)}`;

    cells.portText.textContent = text(unit.port);
    const names = Array.isArray(unit.names) ? unit.names.map(String) : [];
    cells.port.title = [unit.port, ...names].filter(Boolean).join('\n');
    cells.serial.textContent = unit.serial ? String(unit.serial) : '';
    showSerial(cells, unit, result);
    cells.phase.textContent = phaseText(unit.phase);

    // A finished update shows a full bar; outside a transfer (percent -1) the bar is empty.
    let percent = isNum(unit.percent) && unit.percent >= 0 ? Math.min(unit.percent, 100) : null;
    if (result === 'completed') percent = 100;
    cells.fill.style.width = `${percent === null ? 0 : percent}%`;
    if (percent === null)
      cells.bar.removeAttribute('aria-valuenow');
    else
      cells.bar.setAttribute('aria-valuenow', String(percent));
    cells.percent.textContent = percent === null ? dash : `${Math.floor(percent)} %`;

    const running = result === 'running';
    cells.rate.textContent = running && percent !== null ? rate(unit.rate) : dash;
    cells.left.textContent = running ? duration(unit.seconds_left) : duration(unit.seconds);
    cells.left.dataset.label = running ? 'Left' : 'Took';
    cells.retries.textContent = text(unit.retries);
    cells.result.textContent = text(unit.result_text || unit.result);
    // The hook's outcome beside the result: said when it failed, a tooltip otherwise.
    const hook = typeof unit.hook_status === 'string' ? unit.hook_status : '';
    const hookFailed = hook !== '' && hook !== 'ok' && hook !== 'pending';
    if (hookFailed) cells.result.textContent += ` · hook: ${hook}`;
    if (hook)
      cells.result.title = `hook: ${hook}`;
    else
      cells.result.removeAttribute('title');

    // An ended update that did not complete opens, like a button, onto its reason and log.
    const log = Array.isArray(unit.log) ? unit.log.map(String) : [];
    const openable = !running && result !== 'completed';
    row.classList.toggle('openable', openable);
    if (openable) {
      row.tabIndex = 0;
      row.setAttribute('role', 'button');
      row.setAttribute('aria-controls', details.id);
      row.title = 'Show the reason and the last lines of the log';
    } else {
      row.removeAttribute('tabindex');
      row.removeAttribute('role');
      row.removeAttribute('aria-controls');
      row.removeAttribute('aria-expanded');
      row.removeAttribute('title');
    }
    const code = isNum(unit.code) ? ` (exit status ${unit.code})` : '';
    cells.reason.textContent =
        `${unit.reason ? String(unit.reason) : text(unit.result_text)}${code}`;
    cells.log.textContent = log.length ? log.join('\n') : 'No log lines.';
    showDetails(row, cells, details);
  }

  // ---- Serials ----------------------------------------------------------------------------

  // The serial scanned for each port's next unit, from the latest state.
  let nextSerials = {};

  // A keyboard-wedge scanner types the label's serial into the field and ends it with Enter,
  // which sends it. The field takes the keys it gets: a row's own keys (Enter opens it) do
  // not see them.
  function makeSerialField(id, cells) {
    const box = el('span', 'unit-serial');
    const input = el('input');
    input.type = 'text';
    input.maxLength = 64;
    input.autocomplete = 'off';
    input.spellcheck = false;
    input.placeholder = 'serial';
    cells.serialInput = input;
    cells.serialNote = el('span', 'serial-note');
    cells.serialNote.setAttribute('role', 'status');
    box.append(input, cells.serialNote);
    for (const type of ['click', 'keydown']) {
      input.addEventListener(type, (event) => event.stopPropagation());
    }
    input.addEventListener('keydown', (event) => {
      if (event.key !== 'Enter') return;
      event.preventDefault();
      postSerial(id, input.value.trim(), cells);
    });
    return box;
  }

  // The serial in use (or the one waiting for the port's next unit); never over what is
  // being typed.
  function showSerial(cells, unit, result) {
    const input = cells.serialInput;
    input.setAttribute('aria-label', `Serial number of the unit on ${text(unit.port)}`);
    const next = result === 'running' ? '' : nextSerials[unit.port];
    const inUse = unit.unit_serial ? String(unit.unit_serial) : (next ? String(next) : '');
    if (document.activeElement !== input) input.value = inUse;
    input.classList.toggle('wanted', unit.phase === 'waiting_for_serial');
  }

  async function postSerial(id, serial, cells) {
    const note = cells.serialNote;
    note.className = 'serial-note';
    note.textContent = 'sending…';
    const headers = {'Content-Type': 'application/json', 'X-Gpsfw-Request': '1'};
    if (token) headers.Authorization = `Bearer ${token}`;
    try {
      const response = await fetch(`/api/ports/${encodeURIComponent(id)}/serial`, {
        method: 'POST',
        cache: 'no-store',
        headers,
        body: JSON.stringify({serial}),
      });
      const answer = await response.json().catch(() => ({}));
      if (!response.ok) throw new Error(answer.error || `HTTP ${response.status}`);
      note.classList.add('ok');
      note.textContent = `✓ ${String(answer.serial)}`;
      cells.serialInput.blur();
    } catch (error) {
      note.classList.add('bad');
      note.textContent = `✗ ${error.message}`;
    }
  }

  function renderUnits(units) {
    const list = $('units');
    const seen = new Set();
    let before = list.firstElementChild.nextElementSibling;  // after the column heads
    for (const unit of units) {
      const id = String(unit.id ?? unit.port);
      seen.add(id);
      let entry = rows.get(id);
      if (!entry) {
        entry = makeRow(id);
        rows.set(id, entry);
      }
      updateRow(entry, unit);
      // Keep the station's order without moving rows that are in place already (a move would
      // take the keyboard focus away).
      if (entry.row !== before) list.insertBefore(entry.row, before);
      if (entry.details !== entry.row.nextSibling)
        list.insertBefore(entry.details, entry.row.nextSibling);
      before = entry.details.nextSibling;
    }
    for (const [id, entry] of rows) {
      if (seen.has(id)) continue;
      entry.row.remove();
      entry.details.remove();
      rows.delete(id);
      opened.delete(id);
    }
    $('no-units').hidden = units.length > 0;
  }

  // A station that only serves its record has no receivers to show.
  function showReceivers(state) {
    $('receivers').hidden = state.station?.mode === 'serve' && !(state.units || []).length;
  }

  // ---- History -----------------------------------------------------------------------------

  function cell(tr, label, value, className) {
    const td = el('td', className, value);
    td.dataset.label = label;
    tr.append(td);
    return td;
  }

  function renderHistory(history) {
    const rowsData = Array.isArray(history.rows) ? history.rows : [];
    const body = $('history').tBodies[0];
    body.replaceChildren(...rowsData.map((r) => {
      const tr = el('tr', resultClass(r.result));
      tr.dataset.result = String(r.result);
      const end = cell(tr, 'End', clock(r.end), 'time');
      end.title = `${text(r.start)} → ${text(r.end)}`;
      cell(tr, 'Port', text(r.port), 'port');
      cell(tr, 'Result', text(r.result).replace(/_/g, ' '), 'result');
      cell(tr, 'Seconds', isNum(r.seconds) ? r.seconds.toFixed(1) : dash, 'num');
      cell(tr, 'Retries', text(r.retries), 'num');
      cell(tr, 'Boot loader', text(r.boot_loader));
      cell(tr, 'SFLD', text(r.sfld));
      const image = cell(tr, 'Image', text(r.image));
      if (r.sha256) image.title = String(r.sha256);
      cell(tr, 'Operator', text(r.operator));
      const station = cell(tr, 'Station', text(r.station), 'station');
      if (r.host && r.host !== r.station) station.title = `on ${r.host}`;
      const code = isNum(r.code) && r.code !== 0 ? ` (${r.code})` : '';
      cell(tr, 'Reason', r.reason ? `${r.reason}${code}` : code.trim() || '', 'reason');
      cell(tr, 'Serial', text(r.unit_serial), 'port');
      return tr;
    }));
    $('history').hidden = rowsData.length === 0;

    const perPort = Array.isArray(history.per_port) ? history.per_port : [];
    $('per-port').tBodies[0].replaceChildren(...perPort.map((p) => {
      const tr = el('tr');
      cell(tr, 'Port', text(p.port), 'port');
      cell(tr, 'Completed', text(p.completed), 'num');
      cell(tr, 'Failed', text(p.failed), 'num');
      cell(tr, 'Yield', percentText(p.yield), 'num');
      return tr;
    }));
    $('per-port').hidden = perPort.length === 0;
    $('no-history').hidden = rowsData.length > 0;
    $('history-source').textContent = history.source === 'record' ? '(from the record)' :
        history.source                                            ? `(${history.source})` :
                                                                    '';
  }

  // Every station of the record: alive or gone (and when it was last heard), its yield since
  // its latest start and its last update.
  function renderStations(doc) {
    const list = Array.isArray(doc.stations) ? doc.stations : [];
    $('stations').tBodies[0].replaceChildren(...list.map((s) => {
      const tr = el('tr', s.alive ? 'ok' : 'gone');
      tr.dataset.station = String(s.name);
      tr.dataset.alive = s.alive ? 'yes' : 'no';
      cell(tr, 'Station', text(s.name), 'port');
      cell(tr, 'Host', text(s.host));
      const heard = isNum(s.heard_seconds_ago) ? `, heard ${duration(s.heard_seconds_ago)} ago` :
                                                 '';
      const state = cell(tr, 'State', (s.alive ? 'alive' : 'gone') + heard, 'result');
      state.title = `started ${text(s.started)}, last heartbeat ${text(s.heartbeat)}`;
      cell(tr, 'Operator', text(s.operator));
      const image = cell(tr, 'Image', text(s.image));
      if (s.sha256) image.title = String(s.sha256);
      cell(tr, 'Completed', text(s.completed), 'num');
      cell(tr, 'Failed', text(s.failed), 'num');
      cell(tr, 'Yield', percentText(s.yield), 'num');
      const last = s.last_update;
      const lastText = last && typeof last === 'object' ?
          `${text(last.result).replace(/_/g, ' ')} ${clock(last.end || last.start)}` :
          dash;
      cell(tr, 'Last update', lastText, 'time');
      return tr;
    }));
    $('stations-section').hidden = list.length === 0;
  }

  // ---- Connection --------------------------------------------------------------------------

  let link = 'connecting';
  let source = null;
  let retryDelay = 1000;
  let retryTimer = null;
  let stateSeq = 0;  // counts states shown, so a slow fetch never overwrites a newer event
  let historySeq = 0;
  let stationsSeq = 0;

  function setLink(next, message) {
    link = next;
    const node = $('link');
    node.textContent = message;
    node.dataset.link = next;
    document.body.dataset.link = next;
  }

  function showState(state) {
    if (!state || typeof state !== 'object') return;
    stateSeq++;
    renderHeader(state);
    nextSerials = state.next_serials && typeof state.next_serials === 'object' ?
        state.next_serials :
        {};
    renderUnits(Array.isArray(state.units) ? state.units : []);
    showReceivers(state);
  }

  function showHistory(history) {
    if (!history || typeof history !== 'object') return;
    historySeq++;
    renderHistory(history);
  }

  function showStations(doc) {
    if (!doc || typeof doc !== 'object') return;
    stationsSeq++;
    renderStations(doc);
  }

  async function fetchJson(path) {
    const response =
        await fetch(path + query, {cache: 'no-store', headers: {Accept: 'application/json'}});
    if (response.status === 401 || response.status === 403) throw new Error('unauthorised');
    if (!response.ok) throw new Error(`${path}: HTTP ${response.status}`);
    return response.json();
  }

  // A full copy of both, for the first look and after every reconnection (the station may have
  // been restarted, or updates may have ended while the stream was down).
  async function refresh() {
    const s = stateSeq;
    const h = historySeq;
    const t = stationsSeq;
    try {
      const [state, history, stations] = await Promise.all(
          [fetchJson('api/state'), fetchJson('api/history'), fetchJson('api/stations')]);
      if (s === stateSeq) showState(state);
      if (h === historySeq) showHistory(history);
      if (t === stationsSeq) showStations(stations);
    } catch (error) {
      if (error.message === 'unauthorised') {
        setLink('denied', 'not authorised: open the link with its token');
      }
    }
  }

  function parse(event) {
    try {
      return JSON.parse(event.data);
    } catch {
      return null;
    }
  }

  function connect() {
    retryTimer = null;
    source = new EventSource('events' + query);
    source.addEventListener('open', () => {
      retryDelay = 1000;
      setLink('live', 'live');
      refresh();
    });
    source.addEventListener('state', (event) => showState(parse(event)));
    source.addEventListener('history', (event) => showHistory(parse(event)));
    source.addEventListener('stations', (event) => showStations(parse(event)));
    source.addEventListener('error', () => {
      if (link !== 'denied') setLink('lost', 'reconnecting…');
      // The browser retries by itself while the stream is CONNECTING; once it gave up (the
      // station answered with an error while restarting) the page starts over, less and less
      // often.
      if (source.readyState === EventSource.CLOSED && retryTimer === null) {
        source.close();
        retryTimer = setTimeout(() => {
          refresh();
          connect();
        }, retryDelay);
        retryDelay = Math.min(retryDelay * 2, 15000);
      }
    });
  }

  setLink('connecting', 'connecting…');
  refresh();
  connect();
  setInterval(tickElapsed, 1000);
})();
