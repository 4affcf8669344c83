// The trend: up to 8 parameters sampled as fast as the bus allows, drawn live with
// uPlot, one y axis per unit. Buffers are bounded so that hours of sampling keep the
// page's memory flat: the last MAX_SAMPLES per series, the last WINDOW_MS on screen.
import { $, el, state, say, download } from './core.js';
import { addressInfo } from './check.js';

export const MAX_SERIES = 8;
const MAX_SAMPLES = 30000;      // per series: minutes of history at the bus's rate
const WINDOW_MS = 60000;        // what the plot shows while it follows
const RATE_MS = 5000;           // the achieved rate is averaged over this span
const MAX_RECORDED = 2000000;   // samples in one recording, about 50 MB of CSV
const COLOURS = ['#1f6fd1', '#d1421f', '#2a9d3a', '#9b40c9', '#d18f1f', '#17a2b8', '#c92a7d', '#555'];

const series = [];              // {name, unit, t: [], v: [], received}
let plot = null;
let follow = true;              // false while paused or zoomed
let dirty = false;
let held = false;               // paused: the plot holds the whole buffer
let recording = null;           // {rows: [[t, name, v]...], names: Set} while recording
let recorded = null;            // the last finished recording
let onChange = () => {};
export const received = {};     // samples received per series, for tests and the benchmark

export function trendNames() { return series.map((s) => s.name); }

function unitOf(name) {
  const p = state.params.find((q) => q.name === name.replace(/\[\d+\]$/, ''));
  return p && p.unit ? p.unit : '';
}

export function fillChoices(params) {
  const list = $('#trend-names');
  list.replaceChildren(...params.filter((p) => p.type !== 'STRING' && (p.count || 1) === 1)
    .map((p) => el('option', { value: p.name })));
}

// Why a name cannot be trended, or '': the trend takes a simple numeric parameter, one
// element of an array (gains[3]) or an address text.
function unfit(name) {
  const [, base, index] = /^(.+?)(\[\d+\])?$/.exec(name);
  const p = state.params.find((q) => q.name === base);
  const a = p ? null : addressInfo(name);
  if (!p && !a) return `'${name}' is neither a parameter of the catalogue nor an address such as INT16:12`;
  if ((p || a).type === 'STRING') return `${name} is a text: the trend takes numbers`;
  if (p && (p.count || 1) > 1 && !index) return `${name} is an array: trend one element of it, such as ${name}[0]`;
  if (p && (p.count || 1) === 1 && index) return `${base} is not an array`;
  return '';
}

function addSeries(name) {
  name = name.trim();
  if (!name) return;
  const why = unfit(name);
  if (why) return say('#trend-message', why, 'error');
  if (series.some((s) => s.name === name)) return say('#trend-message', `${name} is in the trend already`);
  if (series.length >= MAX_SERIES) return say('#trend-message', `the trend takes at most ${MAX_SERIES} parameters`, 'error');
  series.push({ name, unit: unitOf(name), t: [], v: [] });
  say('#trend-message', '');
  rebuild();
  onChange();
}

function removeSeries(name) {
  const i = series.findIndex((s) => s.name === name);
  if (i < 0) return;
  series.splice(i, 1);
  rebuild();
  onChange();
}

// Lower bound: the first index whose time is >= t.
function firstAtOrAfter(ts, t) {
  let lo = 0, hi = ts.length;
  while (lo < hi) {
    const mid = (lo + hi) >> 1;
    if (ts[mid] < t) lo = mid + 1; else hi = mid;
  }
  return lo;
}

// uPlot wants one x array for all series: merge the series' times from `from` on;
// a series without a sample at a time holds null there (lines span the gaps).
function aligned(from) {
  const idx = series.map((s) => firstAtOrAfter(s.t, from));
  const xs = [], ys = series.map(() => []);
  for (;;) {
    let t = Infinity;
    series.forEach((s, k) => { if (idx[k] < s.t.length && s.t[idx[k]] < t) t = s.t[idx[k]]; });
    if (t === Infinity) break;
    xs.push(t);
    series.forEach((s, k) => {
      if (idx[k] < s.t.length && s.t[idx[k]] === t) ys[k].push(s.v[idx[k]++]);
      else ys[k].push(null);
    });
  }
  return [xs, ...ys];
}

// The legend shows a series' last value at or before the cursor, not a gap.
const number = (v) => String(Number.isInteger(v) ? v : +v.toPrecision(7));

function valueAt(u, raw, si, i) {
  if (raw != null) return number(raw);
  if (i == null) return '--';
  const ys = u.data[si];
  for (let j = i; j >= 0; j--) if (ys[j] != null) return number(ys[j]);
  return '--';
}

// The cursor's time to the millisecond: samples come faster than a second apart.
function timeAt(u, t) {
  if (t == null) return '--';
  const d = new Date(t);
  return `${d.toLocaleTimeString('en-GB')}.${String(d.getMilliseconds()).padStart(3, '0')}`;
}

function plotOptions(width) {
  const units = [...new Set(series.map((s) => s.unit))];
  const axes = [{ scale: 'x' }];
  units.forEach((unit, i) => axes.push({
    scale: unit || 'value', label: unit || 'value', side: i % 2 ? 1 : 3,
    grid: { show: i === 0 }, size: 60,
  }));
  return {
    width, height: 430, ms: 1,
    scales: { x: { time: true } },
    cursor: { drag: { x: true, y: false } },
    series: [{ value: timeAt }, ...series.map((s, i) => ({
      label: s.unit ? `${s.name} (${s.unit})` : s.name, scale: s.unit || 'value',
      stroke: COLOURS[i % COLOURS.length], width: 1.5, spanGaps: true,
      points: { show: false }, value: valueAt,
    }))],
    axes,
    // A zoom by drag stops following, so that the next sample does not undo it; uPlot
    // sets the zoomed scale after this hook, then the plot takes in the whole buffer.
    hooks: { setSelect: [() => { if (follow) { follow = false; setTimeout(() => pause(true)); } }] },
  };
}

function plotWidth() {
  return Math.max(400, $('#trend-plot').clientWidth || 900);
}

// A new set of series or units needs a new plot: uPlot's axes are fixed at creation.
function rebuild() {
  if (plot) { plot.destroy(); plot = null; }
  pause(false);
  $('#trend-chosen').replaceChildren(...series.map((s, i) => el('span',
    { className: 'chip', data: { series: s.name } },
    el('i', { style: `background:${COLOURS[i % COLOURS.length]}` }), s.name,
    el('button', { type: 'button', title: `remove ${s.name}`, textContent: '×', onclick: () => removeSeries(s.name) }))));
  $('#trend-rates tbody').replaceChildren(...series.map((s) => el('tr', { data: { series: s.name } },
    el('td', {}, s.name), el('td', { className: 'rate' }), el('td', { className: 'count' }))));
  if (!series.length || !window.uPlot) return;
  plot = new window.uPlot(plotOptions(plotWidth()), aligned(latest() - WINDOW_MS), $('#trend-plot'));
  plot.root.id = 'trend-uplot';
  plot.root.querySelector('canvas').id = 'trend-canvas';
  dirty = true;
}

function latest() {
  let t = 0;
  for (const s of series) if (s.t.length) t = Math.max(t, s.t[s.t.length - 1]);
  return t || Date.now();
}

// samples: [[NAME, T, VALUE], ...] from the stream's samples event.
export function addSamples(samples, hook) {
  const now = Date.now();
  for (const [name, t, v] of samples) {
    received[name] = (received[name] || 0) + 1;
    if (hook) hook(now - t);
    const s = series.find((x) => x.name === name);
    if (!s || typeof v !== 'number') continue;
    if (s.t.length && t < s.t[s.t.length - 1]) {
      const i = firstAtOrAfter(s.t, t);   // a late sample: keep the times in order
      s.t.splice(i, 0, t);
      s.v.splice(i, 0, v);
    } else {
      s.t.push(t);
      s.v.push(v);
    }
    if (s.t.length > MAX_SAMPLES + 1000) { s.t.splice(0, 1000); s.v.splice(0, 1000); }
    if (recording) record(t, name, v);
  }
  dirty = true;
}

function record(t, name, v) {
  recording.rows.push([t, name, v]);
  recording.names.add(name);
  if (recording.rows.length >= MAX_RECORDED) {
    toggleRecording();
    say('#trend-message', `the recording stopped at ${MAX_RECORDED} samples: download it`, 'error');
  }
}

function draw() {
  requestAnimationFrame(draw);
  if (!dirty || !plot || document.hidden || $('#trend').hidden) return;
  dirty = false;
  const end = latest();
  for (const tr of $('#trend-rates tbody').children) {
    const s = series.find((x) => x.name === tr.dataset.series);
    if (!s) continue;
    const n = s.t.length - firstAtOrAfter(s.t, end - RATE_MS);
    tr.querySelector('.rate').textContent = `${(n * 1000 / RATE_MS).toFixed(1)}/s`;
    tr.querySelector('.count').textContent = received[s.name] || 0;
  }
  if (!follow) return;
  plot.setData(aligned(end - WINDOW_MS), false);
  setX(end - WINDOW_MS, end);
}

const setX = (min, max) => plot.setScale('x', { min, max });

// Paused, the plot holds everything buffered so that one can zoom and pan through it.
function pause(on) {
  follow = !on;
  $('#trend-pause').textContent = on ? 'resume' : 'pause';
  if (on && plot && !held) {
    const { min, max } = plot.scales.x;
    plot.setData(aligned(-Infinity), false);
    setX(min, max);
  }
  held = on;
  dirty = true;
}

function pan(fraction) {
  if (!plot) return;
  pause(true);
  const { min, max } = plot.scales.x;
  const d = (max - min) * fraction;
  setX(min + d, max + d);
}

function zoomAt(e) {
  if (!plot) return;
  e.preventDefault();
  pause(true);
  const { min, max } = plot.scales.x;
  const at = plot.posToVal(e.clientX - plot.over.getBoundingClientRect().left, 'x');
  const f = e.deltaY < 0 ? 0.8 : 1.25;
  setX(at - (at - min) * f, at + (max - at) * f);
}

// Shift and drag moves the time axis; a plain drag zooms (uPlot's own).
function panByDrag(e) {
  if (!plot || !e.shiftKey || e.button !== 0) return;
  e.preventDefault();
  e.stopPropagation();
  pause(true);
  const x0 = e.clientX, { min, max } = plot.scales.x;
  const perPx = (max - min) / plot.bbox.width * devicePixelRatio;
  const move = (m) => setX(min - (m.clientX - x0) * perPx, max - (m.clientX - x0) * perPx);
  const up = () => { removeEventListener('mousemove', move); removeEventListener('mouseup', up); };
  addEventListener('mousemove', move);
  addEventListener('mouseup', up);
}

function toggleRecording() {
  if (recording) {
    recorded = recording;
    recording = null;
    $('#trend-record').textContent = 'record';
    $('#trend-record').classList.remove('on');
    $('#trend-download').disabled = !recorded.rows.length;
    say('#trend-message', `recorded ${recorded.rows.length} samples`);
  } else {
    recording = { rows: [], names: new Set(series.map((s) => s.name)) };
    $('#trend-record').textContent = 'stop recording';
    $('#trend-record').classList.add('on');
    say('#trend-message', 'recording…');
  }
}

// CSV: the time (ISO 8601 UTC), then one column per series; a row per sample time.
export function recordingCsv(rec) {
  const names = [...rec.names];
  const col = new Map(names.map((n, i) => [n, i]));
  const rows = rec.rows.slice().sort((a, b) => a[0] - b[0]);
  const lines = [['time', ...names].join(',')];
  for (let i = 0; i < rows.length;) {
    const t = rows[i][0], cells = new Array(names.length).fill('');
    for (; i < rows.length && rows[i][0] === t; i++) cells[col.get(rows[i][1])] = rows[i][2];
    lines.push(`${new Date(t).toISOString()},${cells.join(',')}`);
  }
  return lines.join('\n') + '\n';
}

export function initTrend(changed) {
  onChange = changed;
  $('#trend-add').onclick = () => { addSeries($('#trend-name').value); $('#trend-name').value = ''; };
  $('#trend-name').onkeydown = (e) => { if (e.key === 'Enter') $('#trend-add').click(); };
  $('#trend-pause').onclick = () => pause(follow);
  $('#trend-left').onclick = () => pan(-0.25);
  $('#trend-right').onclick = () => pan(0.25);
  $('#trend-record').onclick = toggleRecording;
  $('#trend-download').onclick = () => {
    if (recorded) download(`trend-${new Date().toISOString().replace(/[:.]/g, '-')}.csv`, recordingCsv(recorded), 'text/csv');
  };
  $('#trend-plot').addEventListener('wheel', zoomAt, { passive: false });
  $('#trend-plot').addEventListener('mousedown', panByDrag, true);
  new ResizeObserver(() => { if (plot) plot.setSize({ width: plotWidth(), height: 430 }); }).observe($('#trend-plot'));
  requestAnimationFrame(draw);
}
