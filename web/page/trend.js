// The trend: up to 8 parameters sampled as fast as the bus allows, drawn live with
// uPlot, one y axis per unit. Buffers are bounded so that hours of sampling keep the
// page's memory flat: the last MAX_SAMPLES per series, the last WINDOW_MS on screen.
import { $, el, state, say, download } from './core.js';
import { addressInfo } from './check.js';

const MAX_SERIES = 8;
const MAX_SAMPLES = 30000;      // per series: minutes of history at the bus's rate
const WINDOW_MS = 60000;        // what the plot shows while it follows
const RATE_MS = 5000;           // the achieved rate is averaged over this span
const BUCKETS = 1000;           // per series on screen while following: about one per pixel
const DRAW_MS = 100;            // at most ten frames a second: samples matter more than frames
const MAX_RECORDED = 1000000;   // samples in one recording: about 20 MB here, 30 MB of CSV
const COLOURS = ['#1f6fd1', '#d1421f', '#2a9d3a', '#9b40c9', '#d18f1f', '#17a2b8', '#c92a7d', '#555'];

const series = [];              // {name, unit, t: [times], v: [values]}
let plot = null;
let follow = true;              // false while paused or zoomed
let dirty = false;
let held = false;               // paused: the plot holds the whole buffer
let drawn = 0;                  // when the plot was last drawn
let recording = null;           // {t: [], column: [], v: [], names: []} while recording
let recorded = null;            // the last finished recording
let onChange = () => {};
export const received = {};     // samples received per series, for tests and the benchmark

export function trendNames() { return series.map((s) => s.name); }

// Another station: its samples do not continue the lines of the one before.
export function clearTrend() {
  for (const s of series) { s.t = []; s.v = []; }
  rebuild();
}

function unitOf(name) {
  const p = state.params.find((q) => q.name === name);
  return p && p.unit ? p.unit : '';
}

export function fillChoices(params) {
  const list = $('#trend-names');
  list.replaceChildren(...params.filter((p) => p.type !== 'STRING' && (p.count || 1) === 1)
    .map((p) => el('option', { value: p.name })));
}

// Why a name cannot be trended, or '': the trend takes simple numeric parameters, by
// their catalogue name or an address text.
function unfit(name) {
  const p = state.params.find((q) => q.name === name) || addressInfo(name);
  if (!p) return `'${name}' is neither a parameter of the catalogue nor an address such as INT16:12`;
  if (p.type === 'STRING') return `${name} is a text: the trend takes numbers`;
  if ((p.count || 1) > 1) return `${name} is an array: the trend takes simple parameters`;
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

// A series' samples from `from` on; with a bucket width, only the lowest and the highest
// of each bucket, so that a fast series costs the plot a few thousand points, peaks kept.
function pick(s, from, bucket) {
  const i0 = firstAtOrAfter(s.t, from);
  if (!bucket) return { t: s.t.slice(i0), v: s.v.slice(i0) };
  const t = [], v = [];
  let key = -1, lo = -1, hi = -1;
  const flush = () => {
    if (lo < 0) return;
    for (const i of lo === hi ? [lo] : lo < hi ? [lo, hi] : [hi, lo]) { t.push(s.t[i]); v.push(s.v[i]); }
  };
  for (let i = i0; i < s.t.length; i++) {
    const k = Math.floor((s.t[i] - from) / bucket);
    if (k !== key) { flush(); key = k; lo = hi = i; continue; }
    if (s.v[i] < s.v[lo]) lo = i;
    if (s.v[i] > s.v[hi]) hi = i;
  }
  flush();
  return { t, v };
}

// uPlot wants one x array for all series: merge the series' times from `from` on;
// a series without a sample at a time holds null there (lines span the gaps).
function aligned(from, bucket = 0) {
  const parts = series.map((s) => pick(s, from, bucket));
  const idx = parts.map(() => 0);
  const xs = [], ys = parts.map(() => []);
  for (;;) {
    let t = Infinity;
    parts.forEach((p, k) => { if (idx[k] < p.t.length && p.t[idx[k]] < t) t = p.t[idx[k]]; });
    if (t === Infinity) break;
    xs.push(t);
    parts.forEach((p, k) => {
      if (idx[k] < p.t.length && p.t[idx[k]] === t) ys[k].push(p.v[idx[k]++]);
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

// A time of day, 24-hour, with milliseconds when asked.
function clock(t, ms) {
  const d = new Date(t);
  const hms = d.toLocaleTimeString('en-GB');
  return ms ? `${hms}.${String(d.getMilliseconds()).padStart(3, '0')}` : hms;
}

// The cursor's time to the millisecond: samples come faster than a second apart.
const timeAt = (u, t) => (t == null ? '--' : clock(t, true));

// The time axis: one row of 24-hour times, milliseconds only on ticks closer than a
// second, the date only on ticks a day or more apart (zoomed far out), and room between
// ticks for the widest of these.
const DAY_MS = 86400000;
const timeAxis = {
  scale: 'x', space: 110, size: 34,
  values: (u, ticks, axis, space, incr) => ticks.map((t) => (incr >= DAY_MS
    ? new Date(t).toLocaleDateString('en-CA') : clock(t, incr < 1000))),
};

function plotOptions(width) {
  const units = [...new Set(series.map((s) => s.unit))];
  const axes = [timeAxis];
  units.forEach((unit, i) => axes.push({
    scale: unit || 'value', label: unit || 'value', side: i % 2 ? 1 : 3,
    grid: { show: i === 0 }, size: 56, values: (u, ticks) => ticks.map(compact),
  }));
  return {
    width, height: plotHeight(), ms: 1,
    // without a right-hand axis, room for half the last time label
    padding: [null, units.length > 1 ? null : 44, null, null],
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

// Axis numbers short enough for eight axes: 4.3G, 12.5k, 0.25.
const compact = new Intl.NumberFormat('en', { notation: 'compact', maximumFractionDigits: 2 }).format;

// The plot and its legend fill the window below the plot's top.
function plotHeight() {
  return Math.max(220, innerHeight - $('#trend-plot').getBoundingClientRect().top - 70 - 24 * Math.ceil(series.length / 4));
}

function plotWidth() {
  return Math.max(280, $('#trend-plot').clientWidth || 900);
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
  plot = new window.uPlot(plotOptions(plotWidth()), aligned(latest() - WINDOW_MS, WINDOW_MS / BUCKETS), $('#trend-plot'));
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
  let column = recording.names.indexOf(name);
  if (column < 0) column = recording.names.push(name) - 1;
  recording.t.push(t);
  recording.column.push(column);
  recording.v.push(v);
  if (recording.t.length >= MAX_RECORDED) {
    toggleRecording();
    say('#trend-message', `the recording stopped at ${MAX_RECORDED} samples: download it`, 'error');
  }
}

function draw(now) {
  requestAnimationFrame(draw);
  if (!dirty || !plot || document.hidden || $('#trend').hidden || now - drawn < DRAW_MS) return;
  dirty = false;
  drawn = now;
  const end = latest();
  for (const tr of $('#trend-rates tbody').children) {
    const s = series.find((x) => x.name === tr.dataset.series);
    if (!s) continue;
    // Over the last RATE_MS, or over what the buffer holds of a series just added.
    const i0 = firstAtOrAfter(s.t, end - RATE_MS), n = s.t.length - i0;
    const span = i0 > 0 ? RATE_MS : end - s.t[0];
    tr.querySelector('.rate').textContent = n > 1 && span > 0 ? `${(n * 1000 / span).toFixed(1)}/s` : '';
    tr.querySelector('.count').textContent = received[s.name] || 0;
  }
  if (!follow) return;
  plot.setData(aligned(end - WINDOW_MS, WINDOW_MS / BUCKETS), false);
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
    $('#trend-download').disabled = !recorded.t.length;
    say('#trend-message', `recorded ${recorded.t.length} samples`);
  } else {
    recording = { t: [], column: [], v: [], names: series.map((s) => s.name) };
    $('#trend-record').textContent = 'stop recording';
    $('#trend-record').classList.add('on');
    say('#trend-message', 'recording…');
  }
}

// CSV: the time (ISO 8601 UTC), then one column per series; a row per sample time.
export function recordingCsv(rec) {
  const order = [...rec.t.keys()];
  if (rec.t.some((t, i) => i && t < rec.t[i - 1])) order.sort((a, b) => rec.t[a] - rec.t[b]);
  const lines = [['time', ...rec.names].join(',')];
  for (let k = 0; k < order.length;) {
    const t = rec.t[order[k]], cells = new Array(rec.names.length).fill('');
    for (; k < order.length && rec.t[order[k]] === t; k++) cells[rec.column[order[k]]] = rec.v[order[k]];
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
  const fit = () => { if (plot) plot.setSize({ width: plotWidth(), height: plotHeight() }); };
  new ResizeObserver(fit).observe($('#trend-plot'));
  addEventListener('resize', fit);
  requestAnimationFrame(draw);
}
