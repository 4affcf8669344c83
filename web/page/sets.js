// Parameter sets: backup download, restore with a preview of the differences first,
// and comparison of two sets or of a set with the live drive.
import { $, el, state, api, say, canWrite, whyNoWrites } from './core.js';
import { showValue } from './check.js';

const MAX_SET_BYTES = 1024 * 1024;     // the server takes no larger upload
const KEPT = 'lustbus.restore';        // the running restore, to catch up after a reload
let preview = null;                    // {station, set, token} of the last preview

async function readSet(input) {
  const file = input.files[0];
  if (!file) throw new Error('choose a parameter set file first');
  if (file.size > MAX_SET_BYTES) throw new Error(`${file.name} is larger than the 1 MiB a set may have`);
  try {
    return JSON.parse(await file.text());
  } catch (e) {
    throw new Error(`${file.name} is not JSON: ${e.message}`);
  }
}

const cell = (v) => el('td', { className: 'v' }, showValue(v));

function showIdentity(id) {
  const box = $('#restore-identity');
  if (!id) return box.replaceChildren();
  const text = (o) => (o ? Object.entries(o).map(([k, v]) => `${k}=${v}`).join(', ') : 'unknown');
  box.replaceChildren(el('p', { className: id.same ? '' : 'warn' },
    id.same ? `the set comes from this drive (${text(id.drive)})`
      : `the set comes from a drive with ${text(id.set)}; station ${state.station} holds ${text(id.drive)}`));
}

async function doPreview() {
  $('#restore-confirm').disabled = true;
  $('#compare-table').hidden = true;
  let set;
  try {
    set = await readSet($('#restore-file'));
  } catch (e) {
    return say('#sets-message', e.message, 'error');
  }
  const station = state.station;
  say('#sets-message', 'reading the drive for the preview…');
  const { status, body } = await api('api/restore/preview', { station, set });
  if (status !== 200) return say('#sets-message', body.error || `preview failed (${status})`, 'error');
  preview = { station, set, token: body.token };
  const rows = body.rows || [];
  $('#restore-preview tbody').replaceChildren(...rows.map((r) => el('tr',
    { data: { name: r.name, action: r.action }, className: r.action },
    el('td', {}, r.name), cell(r.saved), cell(r.live), el('td', { className: 'action' }, r.action),
    el('td', { className: 'v' }, r.why || ''), el('td', { className: 'outcome v' }))));
  $('#restore-preview').hidden = false;
  showIdentity(body.identity);
  const writes = rows.filter((r) => r.action === 'write').length;
  const why = whyNoWrites();
  $('#restore-confirm').disabled = !writes || !!why;
  $('#restore-note').textContent = why || (writes ? '' : 'the drive holds the set already');
  say('#sets-message', `${writes} of ${rows.length} parameters would be written`, writes ? '' : 'ok');
  say('#restore-summary', '');
}

async function doRestore() {
  if (!preview || !canWrite()) return;
  $('#restore-confirm').disabled = true;
  const { status, body } = await api('api/restore', preview);
  if (status !== 202 && status !== 200) return say('#sets-message', body.error || `restore failed (${status})`, 'error');
  localStorage.setItem(KEPT, JSON.stringify({ id: body.id, station: preview.station }));
  say('#sets-message', `restoring to station ${preview.station}…`);
  showProgress({ id: body.id, done: 0, total: 1, finished: false });
  for (const ev of early.get(body.id) || []) showProgress(ev);
  early.delete(body.id);
}

function summaryText(s) {
  if (!s || typeof s !== 'object') return '';
  return Object.entries(s).map(([k, v]) => `${v} ${k}`).join(', ');
}

function showItem(item) {
  let tr = $(`#restore-preview tr[data-name="${CSS.escape(item.name)}"]`);
  if (!tr) {
    tr = el('tr', { data: { name: item.name } }, el('td', {}, item.name), el('td'), el('td'), el('td'), el('td'),
      el('td', { className: 'outcome' }));
    $('#restore-preview tbody').append(tr);
    $('#restore-preview').hidden = false;
  }
  const out = tr.querySelector('.outcome');
  out.dataset.outcome = item.outcome;
  out.className = `outcome v ${item.outcome}`;
  out.textContent = item.error ? `${item.outcome}: ${item.error}` : `${item.outcome}${item.value !== undefined ? ` (${showValue(item.value)})` : ''}`;
}

// One state of a restore: from a restore event or from api/restore/N after a reload.
function showProgress(ev) {
  const bar = $('#restore-progress');
  bar.hidden = false;
  bar.max = Math.max(1, ev.total || 0);
  bar.value = ev.done || 0;
  for (const item of ev.items || (ev.item ? [ev.item] : [])) showItem(item);
  if (ev.finished) {
    localStorage.removeItem(KEPT);
    say('#restore-summary', `restore finished: ${summaryText(ev.summary)}`, 'ok');
    say('#sets-message', '');
  } else {
    say('#restore-summary', `restoring: ${ev.done || 0} of ${ev.total || '?'}`);
  }
}

// A short restore may send all its events before the answer to its request arrives:
// the events of ids the page does not know yet wait here, bounded.
const early = new Map();

export function onRestore(ev) {
  const kept = JSON.parse(localStorage.getItem(KEPT) || 'null');
  if (kept && kept.id === ev.id) return showProgress(ev);
  if (!early.has(ev.id)) early.set(ev.id, []);
  const list = early.get(ev.id);
  if (list.length < 10000) list.push(ev);
  while (early.size > 4) early.delete(early.keys().next().value);
}

async function catchUp() {
  const kept = JSON.parse(localStorage.getItem(KEPT) || 'null');
  if (!kept) return;
  const { status, body } = await api(`api/restore/${encodeURIComponent(kept.id)}`);
  if (status === 200) showProgress(body);
  else localStorage.removeItem(KEPT);
}

async function doCompare() {
  let request;
  try {
    const a = await readSet($('#compare-a'));
    request = $('#compare-with').value === 'live' ? { a, station: state.station } : { a, b: await readSet($('#compare-b')) };
  } catch (e) {
    return say('#sets-message', e.message, 'error');
  }
  say('#sets-message', 'comparing…');
  const { status, body } = await api('api/compare', request);
  if (status !== 200) return say('#sets-message', body.error || `compare failed (${status})`, 'error');
  $('#compare-table tbody').replaceChildren(...(body.rows || []).map((r) => el('tr',
    { data: { name: r.name, same: String(r.same) }, className: r.same ? 'same' : 'differs' },
    el('td', {}, r.name), cell(r.a), cell(r.b), el('td', {}, r.same ? 'same' : 'different'))));
  $('#compare-table').hidden = false;
  $('#restore-preview').hidden = true;
  say('#sets-message', `${body.different} of ${(body.rows || []).length} parameters differ`, body.different ? '' : 'ok');
}

export function stationChanged() {
  $('#backup-link').href = `api/backup?station=${state.station}`;
  $('#backup-link').download = `station${state.station}.json`;
}

export function initSets() {
  $('#restore-file').onchange = doPreview;
  $('#restore-confirm').onclick = doRestore;
  $('#compare-start').onclick = doCompare;
  $('#compare-with').onchange = () => { $('#compare-b').hidden = $('#compare-with').value === 'live'; };
  stationChanged();
  catchUp();
}
