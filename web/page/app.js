// The page of lustbus web: session, header, tabs, the live stream and the Bus,
// Parameters and Trace parts; the trend and the parameter sets have modules of their own.
//
// Stable hooks for the browser tests (ids unless marked otherwise):
//   header      #link #bus-head #bus-state #station (select) #identity #writes-off #user #user-name #role #logout
//   login       #login-form #login-user #login-password #login-error
//   tabs        #tabs button[data-tab=parameters|trend|bus|sets|trace-tab]; sections #parameters
//               #trend #bus #sets #trace-tab; #stream-state ('live' while the stream is open)
//   parameters  #filter #param-table, rows tr[data-name=NAME] with td.value (data-ts: the
//               value's time), td.age, td.result (data-outcome=done|refused|unknown);
//               td.value[data-editable=true] opens input.edit on a click (Enter sends,
//               Escape leaves); #edit-message (class error when refused in the page);
//               #edit-note (why no edits); no catalogue: #address-form #address-input #address-add
//   trend       #trend-name #trend-add #trend-chosen .chip[data-series=NAME] #trend-pause
//               #trend-left #trend-right #trend-record #trend-download #trend-message
//               #trend-plot (uPlot inside, its canvas is #trend-canvas)
//               #trend-rates tr[data-series=NAME] td.rate td.count
//   bus         #bus-link #bus-link-state #bus-reopens #station-table tr[data-station=N][data-status]
//               #scan-form #scan-from #scan-to #scan-start #scan-progress #scan-found
//   sets        #backup-link #restore-file #restore-preview tr[data-name=NAME][data-action]
//               td.outcome[data-outcome] #restore-identity #restore-confirm #restore-progress
//               #restore-summary #compare-a #compare-with #compare-b #compare-start
//               #compare-table tr[data-name][data-same] #sets-message
//   trace       #trace (pre) #trace-follow
//
// window.lustbusPage, for the tests and the benchmark:
//   received        {NAME: samples received for that trend series since the page loaded}
//   events          {values: n, samples: n, bus: n, trace: n, scan: n, restore: n}
//   latencies       null, or an array: while it is an array, Date.now() - T of every sample
//                   that arrives is pushed to it (ms; at most 1e6 entries)
//   recordLatency() starts it afresh; latencyPercentile(p) gives the p-th percentile of it
//   ready           true once the session is known and the live stream is open
import { $, el, state, api, say, canWrite, whyNoWrites, relogin } from './core.js';
import { checkValue, showValue, addressInfo } from './check.js';
import { initTrend, trendNames, addSamples, fillChoices, clearTrend, received } from './trend.js';
import { initSets, onRestore, stationChanged } from './sets.js';

const ADDRESSES = 'lustbus.addresses';  // the address texts added without a catalogue
const MAX_TABLE = 256;                  // names one stream may read round by round
const MAX_TRACE = 500;
const MAX_LATENCIES = 1e6;

const page = window.lustbusPage = {
  received, events: { values: 0, samples: 0, bus: 0, trace: 0, scan: 0, restore: 0 },
  latencies: null, ready: false,
  recordLatency() { page.latencies = []; },
  latencyPercentile(p) {
    const a = (page.latencies || []).slice().sort((x, y) => x - y);
    return a.length ? a[Math.min(a.length - 1, Math.floor(a.length * p / 100))] : null;
  },
};

let stream = null;
let reopenTimer = 0;
let scanId = null;
let traceLines = [];

// ---- session and header ----

async function start() {
  const { status, body } = await api('api/session');
  if (status !== 200) {
    document.body.prepend(el('p', { className: 'error banner' }, body.error || `the server answered ${status}`));
    return;
  }
  state.session = body;
  const s = body;
  $('#link').textContent = s.link || '';
  $('#writes-off').hidden = !!s.writes;
  $('#writes-off').title = s.writes ? '' : 'writes are off: start lustbus web with --writes';
  $('#user').hidden = !s.user && s.loginRequired;
  $('#user-name').textContent = s.user || 'anonymous';
  $('#role').textContent = s.role || '';
  $('#role').hidden = !s.role;
  $('#logout').hidden = !s.user;
  if (s.loginRequired && !s.user) {
    $('#login-form').hidden = false;
    $('#login-user').focus();
    return;
  }
  $('#login-form').hidden = true;
  $('#main').hidden = false;
  $('#bus-head').hidden = false;
  const stations = s.stations && s.stations.length ? s.stations : [1];
  state.station = stations[0];
  setStations(stations);
  await loadParameters();
  initSets();
  loadTrace();
  openStream();
}

async function login(e) {
  e.preventDefault();
  const { status, body } = await api('api/login', { user: $('#login-user').value, password: $('#login-password').value });
  if (status !== 200) {
    $('#login-password').select();
    return say('#login-error', body.error || `login failed (${status})`, 'error');
  }
  $('#login-password').value = '';
  say('#login-error', '');
  start();
}

async function logout() {
  await api('api/logout', {});
  location.reload();
}

function setStations(list) {
  const sel = $('#station');
  const have = new Set([...sel.options].map((o) => Number(o.value)));
  for (const n of list) if (!have.has(n)) sel.append(el('option', { value: n, textContent: n }));
  const sorted = [...sel.options].sort((a, b) => a.value - b.value);
  sel.replaceChildren(...sorted);
  sel.value = state.station;
}

function describeIdentity(id) {
  return id ? Object.entries(id).map(([k, v]) => `${k}=${v}`).join(' ') : '';
}

// ---- tabs ----

function showTab(name) {
  for (const b of $('#tabs').querySelectorAll('button')) b.classList.toggle('on', b.dataset.tab === name);
  for (const s of document.querySelectorAll('section.tab')) s.hidden = s.id !== name;
  if (name === 'trace-tab') scrollTrace();
  // The table's values are read only while the table is on screen: the trend gets the turns.
  reopenStream();
}

const currentTab = () => $('#tabs button.on').dataset.tab;

// ---- live stream ----

function tableNames() {
  if (currentTab() !== 'parameters') return [];
  return visibleRows().slice(0, MAX_TABLE).map((tr) => tr.dataset.name);
}

function reopenStream() {
  clearTimeout(reopenTimer);
  reopenTimer = setTimeout(openStream, 250);
}

function openStream() {
  const q = new URLSearchParams({ station: state.station });
  const table = tableNames(), trend = trendNames();
  if (table.length) q.set('table', table.join(','));
  if (trend.length) q.set('trend', trend.join(','));
  const url = `api/live?${q}`;
  // The same names again: keep the stream, and the trend without a gap.
  if (stream && stream.url.endsWith(url) && stream.readyState !== EventSource.CLOSED) return;
  if (stream) stream.close();
  const es = stream = new EventSource(url);
  es.onopen = () => { say('#stream-state', 'live', 'ok'); page.ready = true; };
  es.onerror = () => {
    if (es !== stream) return;
    if (es.readyState === EventSource.CLOSED) {
      say('#stream-state', 'live data stopped: the server refused the stream', 'error');
      explainRefusal(url, es);
    } else {
      say('#stream-state', 'live data lost: reconnecting…', 'error');
    }
  };
  const on = (type, handler) => es.addEventListener(type, (m) => {
    page.events[type]++;
    let data;
    try { data = JSON.parse(m.data); } catch { return; }
    handler(data);
  });
  on('values', onValues);
  on('samples', (d) => { if (d.station === state.station) addSamples(d.samples || [], page.latencies ? noteLatency : null); });
  on('bus', onBus);
  on('trace', (d) => addTrace(d.lines || []));
  on('scan', onScan);
  on('restore', onRestore);
}

function noteLatency(ms) {
  if (page.latencies && page.latencies.length < MAX_LATENCIES) page.latencies.push(ms);
}

// EventSource does not say why a stream was refused: ask once more to show the server's
// text. A full server (503) or one that is gone may take the stream later: try again.
async function explainRefusal(url, es) {
  const abort = new AbortController();
  let status = 0;
  try {
    const res = await fetch(url, { signal: abort.signal });
    status = res.status;
    if (res.ok) abort.abort();
    else if (status === 401) relogin();
    else say('#stream-state', `live data stopped: ${(await res.json().catch(() => ({}))).error || status}`, 'error');
  } catch { /* the server is gone: the text before stays */ }
  if ((status === 503 || status === 0 || status === 200) && es === stream) setTimeout(() => { if (es === stream) openStream(); }, 5000);
}

// ---- bus ----

function onBus(b) {
  $('#bus-state').textContent = b.state;
  $('#bus-state').className = `badge ${b.state}`;
  $('#bus-link').textContent = b.link;
  $('#bus-link-state').textContent = b.state;
  $('#bus-reopens').textContent = b.reopens ?? 0;
  const stations = b.stations || [];
  const mine = stations.find((s) => s.station === state.station);
  $('#identity').textContent = !mine ? '' : mine.identity ? `${describeIdentity(mine.identity)} · ${mine.status}` : mine.status;
  $('#identity').className = mine && mine.status !== 'online' ? 'alert' : '';
  $('#station-table tbody').replaceChildren(...stations.map((s) => el('tr',
    { data: { station: s.station, status: s.status }, className: s.status.replace(/ /g, '-') },
    el('td', {}, String(s.station)), el('td', { className: 'status' }, s.status),
    el('td', {}, describeIdentity(s.identity)), el('td', { className: 'num' }, String(s.requests)),
    el('td', {}, Object.entries(s.errors || {}).map(([k, n]) => `${k}: ${n}`).join(', ') || '0'),
    el('td', { className: 'num' }, String(s.retries)),
    el('td', { className: 'num' }, s.latencyMs == null ? '' : `${Number(s.latencyMs).toFixed(1)} ms`),
    el('td', { className: 'num' }, s.busUsePercent == null ? '' : `${Number(s.busUsePercent).toFixed(1)} %`))));
}

async function startScan(e) {
  e.preventDefault();
  const from = Number($('#scan-from').value), to = Number($('#scan-to').value);
  $('#scan-start').disabled = true;
  const { status, body } = await api('api/scan', { from, to });
  if (status !== 202 && status !== 200) {
    $('#scan-start').disabled = false;
    return say('#scan-found', body.error || `scan failed (${status})`, 'error');
  }
  scanId = body.id;
  $('#scan-progress').value = 0;
  say('#scan-found', 'scanning…');
}

function onScan(s) {
  if (s.id !== scanId) return;
  $('#scan-progress').max = Math.max(1, s.total);
  $('#scan-progress').value = s.done;
  const found = s.found || [];
  say('#scan-found', `${s.finished ? 'found' : 'found so far'}: ${found.length ? found.join(', ') : 'no station'}`);
  if (s.finished) {
    $('#scan-start').disabled = false;
    setStations(found);
  }
}

// ---- parameters ----

async function loadParameters() {
  const { status, body } = await api('api/parameters');
  const catalogue = status === 200 ? body.parameters || [] : [];
  $('#catalogue-name').textContent = body.catalogue ? `catalogue ${body.catalogue}` : 'no catalogue: add addresses';
  $('#address-form').hidden = catalogue.length > 0;
  state.params = catalogue.length ? catalogue : addressParams();
  $('#edit-note').textContent = whyNoWrites();
  renderTable();
  fillChoices(state.params);
}

function savedAddresses() {
  try {
    const texts = JSON.parse(localStorage.getItem(ADDRESSES) || '[]');
    return Array.isArray(texts) ? texts.filter((t) => typeof t === 'string' && addressInfo(t)) : [];
  } catch {
    return [];
  }
}

function addressParams() {
  return savedAddresses().map((name) => {
    const a = addressInfo(name);
    return { name, number: a.number, type: a.type, count: 1, unit: '', min: null, max: null, access: '', address: true };
  });
}

function keepAddresses(texts) {
  localStorage.setItem(ADDRESSES, JSON.stringify(texts));
  state.params = addressParams();
  renderTable();
  fillChoices(state.params);
  reopenStream();
}

function addAddress(e) {
  e.preventDefault();
  const text = $('#address-input').value.trim();
  if (!addressInfo(text)) return say('#edit-message', `'${text}' is not an address of a simple parameter, such as INT16:12`, 'error');
  $('#address-input').value = '';
  say('#edit-message', '');
  const texts = savedAddresses();
  if (!texts.includes(text)) keepAddresses([...texts, text]);
}

const removeAddress = (name) => keepAddresses(savedAddresses().filter((t) => t !== name));

function rangeText(p) {
  if (p.min == null && p.max == null) return '';
  return `${p.min ?? ''} … ${p.max ?? ''}`;
}

function renderTable() {
  const why = whyNoWrites();
  $('#param-table tbody').replaceChildren(...state.params.map((p) => {
    const editable = !why && p.access !== 'ro';
    const value = el('td', {
      className: 'value', data: { editable: String(editable) },
      title: p.access === 'ro' ? 'read-only (access "ro")' : why || 'click to edit',
    });
    const name = el('td', { title: p.description || '' }, p.name);
    if (p.address) name.append(el('button', { type: 'button', className: 'remove', textContent: '×', title: 'remove', onclick: () => removeAddress(p.name) }));
    const words = [p.name, p.number, p.type, p.unit, p.access, p.description].join(' ').toLowerCase();
    return el('tr', { data: { name: p.name, words } }, name, el('td', { className: 'num' }, String(p.number ?? '')),
      el('td', {}, p.count > 1 ? `${p.type}[${p.count}]` : p.type), el('td', {}, p.unit || ''),
      el('td', {}, rangeText(p)), el('td', {}, p.access || ''), value,
      el('td', { className: 'age num' }), el('td', { className: 'result' }));
  }));
  applyFilter();
}

function visibleRows() {
  return [...$('#param-table tbody').rows].filter((tr) => !tr.hidden);
}

function applyFilter() {
  const words = $('#filter').value.toLowerCase().split(/\s+/).filter(Boolean);
  for (const tr of $('#param-table tbody').rows) {
    tr.hidden = !words.every((w) => tr.dataset.words.includes(w));
  }
}

const rowOf = (name) => $(`#param-table tr[data-name="${CSS.escape(name)}"]`);

function onValues(d) {
  if (d.station !== state.station) return;
  for (const v of d.values || []) {
    const tr = rowOf(v.name);
    if (!tr) continue;
    const td = tr.querySelector('td.value');
    if (td.querySelector('input')) continue;  // being edited: keep what the user types
    td.dataset.ts = v.ts;
    td.classList.toggle('error', !v.ok);
    td.textContent = v.ok ? showValue(v.value) : v.error;
  }
  showAges();
}

function showAges() {
  const now = Date.now();
  for (const tr of visibleRows()) {
    const ts = Number(tr.querySelector('td.value').dataset.ts);
    tr.querySelector('td.age').textContent = ts ? `${Math.max(0, (now - ts) / 1000).toFixed(1)} s` : '';
  }
}

// ---- edit in place ----

function startEdit(td) {
  if (td.querySelector('input')) return;
  if (td.dataset.editable !== 'true') return say('#edit-message', `${td.closest('tr').dataset.name}: ${td.title}`, 'error');
  const input = el('input', { className: 'edit', value: td.classList.contains('error') ? '' : td.textContent });
  td.replaceChildren(input);
  input.focus();
  input.select();
  input.onkeydown = (e) => {
    if (e.key === 'Enter') sendEdit(td, input.value);
    if (e.key === 'Escape') { td.textContent = input.defaultValue; say('#edit-message', ''); }
  };
}

// What became of a write, in words: the outcome, the value read back, the value before,
// and the value sent when the drive's own steps made another of it (FIXPT16 0.07: 0.05).
function writeResult(p, sent, status, body) {
  const outcome = body.outcome || (status === 200 ? 'unknown' : 'refused');
  if (outcome !== 'done') return { outcome, text: `${outcome}: ${body.error || `status ${status}`}` };
  const notes = [];
  if (body.old != null) notes.push(`was ${showValue(body.old)}`);
  if (body.value != null && showValue(body.value) !== showValue(sent)) notes.push(`sent ${showValue(sent)}`);
  const back = body.value != null ? `read back ${showValue(body.value)}${p.unit ? ` ${p.unit}` : ''}` : 'not read back';
  return { outcome, text: `done: ${back}${notes.length ? ` (${notes.join(', ')})` : ''}` };
}

async function sendEdit(td, text) {
  const tr = td.closest('tr');
  const p = state.params.find((q) => q.name === tr.dataset.name);
  const checked = checkValue(p, text);
  if (checked.error) return say('#edit-message', checked.error, 'error');
  if (!canWrite()) return say('#edit-message', whyNoWrites(), 'error');
  td.replaceChildren(text);
  say('#edit-message', `writing ${p.name}…`);
  const { status, body } = await api('api/write', { station: state.station, name: p.name, value: checked.value });
  const { outcome, text: said } = writeResult(p, checked.value, status, body);
  const result = tr.querySelector('td.result');
  result.dataset.outcome = outcome;
  result.className = `result ${outcome}`;
  result.textContent = said;
  if (body.value != null) { td.textContent = showValue(body.value); td.dataset.ts = Date.now(); }
  say('#edit-message', `${p.name}: ${said}`, outcome === 'done' ? 'ok' : 'error');
}

// ---- trace ----

async function loadTrace() {
  const { status, body } = await api('api/trace');
  if (status === 200) { traceLines = []; addTrace(body.lines || []); }
}

function addTrace(lines) {
  traceLines.push(...lines);
  if (traceLines.length > MAX_TRACE) traceLines.splice(0, traceLines.length - MAX_TRACE);
  if (!$('#trace-tab').hidden) scrollTrace();
}

function scrollTrace() {
  const pre = $('#trace');
  pre.textContent = traceLines.join('\n');
  if ($('#trace-follow').checked) pre.scrollTop = pre.scrollHeight;
}

// ---- wiring ----

function wire() {
  $('#login-form').onsubmit = login;
  $('#logout').onclick = logout;
  $('#tabs').onclick = (e) => { if (e.target.dataset.tab) showTab(e.target.dataset.tab); };
  $('#station').onchange = () => {
    state.station = Number($('#station').value);
    stationChanged();
    clearTrend();
    renderTable();
    reopenStream();
  };
  $('#filter').oninput = () => { applyFilter(); reopenStream(); };
  $('#address-form').onsubmit = addAddress;
  $('#param-table').onclick = (e) => { const td = e.target.closest('td.value'); if (td) startEdit(td); };
  $('#scan-form').onsubmit = startScan;
  initTrend(reopenStream);
  setInterval(showAges, 1000);
}

wire();
start();
