// Checks a value typed into the page before it goes to the server, against the
// parameter's type, element count, range and access, with the texts lustbus write
// uses. The server checks again; this spares a request that would be refused.

const INTS = {
  INT8: [8, true], USIGN8: [8, false], INT16: [16, true], USIGN16: [16, false],
  INT32: [32, true], USIGN32: [32, false],
};
// What each fixed-point and float type can hold at all, before the catalogue's range.
const SPANS = {
  FIXPT16: [0, 3276.75], INT32Q16: [-32768, 32767.99],
  FLOAT32: [-3.4028234663852886e38, 3.4028234663852886e38],
};

// Type and number of an address text such as INT16:12: a simple parameter, which is
// what lustbus web takes besides the catalogue's names.
export function addressInfo(text) {
  const m = /^([A-Za-z0-9]+):(\d+)$/.exec(text.trim());
  if (!m) return null;
  const type = m[1].toUpperCase();
  if (!(type in INTS) && !(type in SPANS) && type !== 'STRING') return null;
  return { type, number: Number(m[2]) };
}

function intSpan(type) {
  const [bits, signed] = INTS[type];
  return signed ? [-(2 ** (bits - 1)), 2 ** (bits - 1) - 1] : [0, 2 ** bits - 1];
}

// One element's text as a number, or an error text.
function parseElement(type, text) {
  if (type in INTS) {
    const [bits, signed] = INTS[type];
    if (/^0x[0-9a-f]+$/i.test(text)) {
      let n = parseInt(text, 16);
      if (n >= 2 ** bits) return { error: `${text} has more than ${bits} bits for ${type}` };
      if (signed && n >= 2 ** (bits - 1)) n -= 2 ** bits;
      return { value: n };
    }
    if (!/^[+-]?\d+$/.test(text)) return { error: `'${text}' is not a whole number` };
    const n = Number(text);
    const [lo, hi] = intSpan(type);
    if (n < lo || n > hi) return { error: `${text} does not fit ${type} (${lo} to ${hi})` };
    return { value: n };
  }
  const pattern = type === 'FLOAT32' ? /^[+-]?(\d+\.?\d*|\.\d+)(e[+-]?\d+)?$/i : /^[+-]?(\d+\.?\d*|\.\d+)$/;
  if (!pattern.test(text)) return { error: `'${text}' is not a number` };
  const n = Number(text);
  const [lo, hi] = SPANS[type];
  if (!(n >= lo && n <= hi)) return { error: `${text} does not fit ${type} (${type === 'FLOAT32' ? '±3.4e38' : `${lo} to ${hi}`})` };
  return { value: n };
}

function inRange(p, n) {
  const lo = p.min ?? -Infinity, hi = p.max ?? Infinity;
  if (n >= lo && n <= hi) return null;
  const unit = p.unit ? ` ${p.unit}` : '';
  const range = p.min != null && p.max != null ? `its range ${p.min} to ${p.max}${unit}`
    : p.min != null ? `its range from ${p.min}${unit}` : `its range up to ${p.max}${unit}`;
  return `${n}${unit} lies outside ${range}`;
}

function parseText(p, text) {
  // Latin-1 without control characters: what a STRING parameter holds.
  for (const ch of text) {
    const c = ch.codePointAt(0);
    if (c > 255) return { error: `'${ch}' is not a Latin-1 character` };
    if (c < 32 || (c >= 127 && c < 160)) return { error: 'a text holds no control characters' };
  }
  return { value: text };
}

// p: {name, type, count, min, max, access}. Returns {value} or {error}.
export function checkValue(p, text) {
  const fail = (why) => ({ error: `'${p.name}'${why}; nothing was sent` });
  if (p.access === 'ro') return fail(' is read-only (access "ro")');
  if (p.type === 'STRING') {
    const r = parseText(p, text);
    return r.error ? fail(`: ${r.error}`) : r;
  }
  const trimmed = text.trim();
  const parts = trimmed === '' ? [] : trimmed.split(/\s*,\s*|\s+/);
  const count = p.count || 1;
  if (parts.length !== count) {
    return fail(` takes ${count} value${count > 1 ? 's' : ''}, got ${parts.length}`);
  }
  const values = [];
  for (const part of parts) {
    const r = parseElement(p.type, part);
    if (r.error) return fail(`: ${r.error}`);
    const out = inRange(p, r.value);
    if (out) return fail(`: ${out}`);
    values.push(r.value);
  }
  return { value: count > 1 ? values : values[0] };
}

// How a value reads in the table: arrays as a list, as lustbus read prints them.
export function showValue(v) {
  if (v === null || v === undefined) return '';
  if (Array.isArray(v)) return v.join(', ');
  return String(v);
}
