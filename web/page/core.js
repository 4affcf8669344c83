// What every part of the page shares: the session, the request helper and a few DOM helpers.

export const state = {
  session: null,    // the answer of api/session (csrf, role, writes, stations...)
  station: 1,       // the station the page shows
  params: [],       // the catalogue's parameters, or the address texts the user added
};

export const $ = (sel, root = document) => root.querySelector(sel);

// An element with properties and children: el('td', {className: 'value'}, 'text').
export function el(tag, props = {}, ...children) {
  const e = document.createElement(tag);
  for (const [k, v] of Object.entries(props)) {
    if (k === 'data') Object.assign(e.dataset, v);
    else e[k] = v;
  }
  for (const c of children) if (c !== null && c !== undefined) e.append(c);
  return e;
}

// Reloads the page, which asks for a login when the server wants one; at most once in
// 10 s, so that a server that keeps refusing cannot make the page spin.
export function relogin() {
  if (Date.now() - (sessionStorage.getItem('lustbus.relogin') || 0) < 10000) return;
  sessionStorage.setItem('lustbus.relogin', Date.now());
  location.reload();
}

async function send(path, body) {
  const init = { credentials: 'same-origin', headers: {} };
  if (body !== undefined) {
    init.method = 'POST';
    init.headers['Content-Type'] = 'application/json';
    init.headers['X-CSRF-Token'] = state.session ? state.session.csrf : '';
    init.body = JSON.stringify(body);
  }
  let res;
  try {
    res = await fetch(path, init);
  } catch (e) {
    return { status: 0, body: { error: `the server does not answer (${e.message})` } };
  }
  const text = await res.text();
  let parsed;
  try {
    parsed = text ? JSON.parse(text) : {};
  } catch {
    parsed = { error: text.slice(0, 200) || res.statusText };
  }
  return { status: res.status, body: parsed };
}

// A JSON request; POSTs carry the session's anti-CSRF token. Resolves to
// {status, body}; a body that is not JSON becomes {error: its text}.
export async function api(path, body) {
  const first = await send(path, body);
  // A session that ended (the server restarted, the user logged out elsewhere): log in again.
  if (first.status === 401 && path !== 'api/login') relogin();
  // A restarted server without users gives a new session: the same request once more with
  // its token (the refusal did nothing).
  if (first.status !== 403 || !/anti-CSRF/.test(first.body.error || '') || !state.session) return first;
  const old = state.session.csrf;
  const fresh = await send('api/session');
  if (fresh.status !== 200 || fresh.body.csrf === old || fresh.body.user !== state.session.user) return first;
  state.session = { ...state.session, csrf: fresh.body.csrf };
  return send(path, body);
}

// Shows a message in a status line; kind is '', 'error' or 'ok'.
export function say(target, text, kind = '') {
  const node = typeof target === 'string' ? $(target) : target;
  node.textContent = text;
  node.className = kind;
}

export function canWrite() {
  const s = state.session;
  return !!s && s.writes && s.role === 'operator';
}

// Why the page does not offer writes, or '' when it does.
export function whyNoWrites() {
  const s = state.session;
  if (!s) return 'not connected';
  if (!s.writes) return 'writes are off: start lustbus web with --writes';
  if (s.role !== 'operator') return `user ${s.user || '(anonymous)'} may not write (${s.role || 'not logged in'})`;
  return '';
}

export function download(name, text, type) {
  const url = URL.createObjectURL(new Blob([text], { type }));
  const a = el('a', { href: url, download: name });
  document.body.append(a);
  a.click();
  a.remove();
  setTimeout(() => URL.revokeObjectURL(url), 1000);
}
