'use strict';
// Shows the station's state as it streams in. Every text is set with textContent: port
// names and log lines come from outside.
const token = new URLSearchParams(location.search).get('token');
const query = token ? '?token=' + encodeURIComponent(token) : '';
const events = new EventSource('events' + query);
events.addEventListener('state', (e) => {
  const state = JSON.parse(e.data);
  const t = state.totals || {};
  document.getElementById('totals').textContent =
    `completed ${t.completed} failed ${t.failed} running ${t.running}`;
  const body = document.querySelector('#units tbody');
  body.replaceChildren(...(state.units || []).map((u) => {
    const row = document.createElement('tr');
    for (const text of [u.port, u.phase, u.percent, u.resultText, u.reason]) {
      const cell = document.createElement('td');
      cell.textContent = String(text);
      row.appendChild(cell);
    }
    return row;
  }));
});
