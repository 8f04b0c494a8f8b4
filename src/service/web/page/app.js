'use strict';
// The marks 'script', 'parsed', 'stream-open', 'state-came' and 'live' say where a cold load's time goes
// (bench/webbench.py).
performance.mark('script');
// The web page of the time switch: one more client of its API. Everything the
// switch says is shown as text (textContent), never as HTML.

const DAYS = ['Sun', 'Mon', 'Tue', 'Wed', 'Thu', 'Fri', 'Sat'];
// The main window's button colour of each output.
const COLOURS = ['#80ffff', '#ffc080', '#0000c0', '#80ff80', '#8080ff', '#ff8080', '#c0c0c0', '#ffff00'];
const MODES = ['AUTO', 'ON', 'OFF'];

const state = { outputs: [], inputs: null, port: null, mqtt: null, next: '', calendar: null };
let csrf = '';
// A change waits for the page's token against forgery, which comes with the event stream.
let sessionCame = null;
const sessionKnown = new Promise((resolve) => { sessionCame = resolve; });
let events = null;

const $ = (id) => document.getElementById(id);

function el(tag, attrs, ...children) {
  const e = document.createElement(tag);
  for (const [k, v] of Object.entries(attrs || {})) {
    if (v === undefined || v === null || v === false) continue;
    if (k === 'text') e.textContent = v;
    else if (k === 'class') e.className = v;
    else if (k.startsWith('on')) e.addEventListener(k.slice(2), v);
    else if (k in e && typeof v !== 'string') e[k] = v;
    else e.setAttribute(k, v === true ? '' : v);
  }
  for (const c of children) if (c !== null && c !== undefined) e.append(c);
  return e;
}

function textOn(colour) {
  // Black or white, whichever reads better on the colour.
  const n = parseInt(colour.slice(1), 16);
  const lin = (c) => { c /= 255; return c <= 0.03928 ? c / 12.92 : Math.pow((c + 0.055) / 1.055, 2.4); };
  const L = 0.2126 * lin(n >> 16) + 0.7152 * lin((n >> 8) & 255) + 0.0722 * lin(n & 255);
  return (L + 0.05) / 0.05 >= 1.05 / (L + 0.05) ? '#000000' : '#ffffff';
}

function clock(seconds) {
  if (seconds === null || seconds === undefined) return '';
  const s = ((seconds % 86400) + 86400) % 86400;
  const p = (n) => String(n).padStart(2, '0');
  return p(Math.floor(s / 3600)) + ':' + p(Math.floor(s / 60) % 60) + ':' + p(s % 60);
}

function say(text) {
  const m = $('message');
  m.textContent = text || '';
  m.hidden = !text;
}

async function request(method, path, body) {
  if (method !== 'GET' && !csrf) await sessionKnown;
  const headers = { 'X-Kestra-CSRF': csrf };
  if (body !== undefined) headers['Content-Type'] = 'application/json';
  const r = await fetch(path, { method, headers, body: body === undefined ? undefined : JSON.stringify(body),
                                credentials: 'same-origin' });
  if (r.status === 401) { location.href = '/login'; throw new Error('logged out'); }
  const type = r.headers.get('Content-Type') || '';
  const data = type.includes('json') ? await r.json() : await r.text();
  return { status: r.status, data };
}

// One edit as a window hands it over; a refusal shows the window's message.
// Edits go out one after the other, in the order they were made.
let queue = Promise.resolve();
// An .ics import goes to a path of its own, the only one that takes a whole file.
function command(body, path = '/api/command') {
  const run = queue.then(() => send(body, path));
  queue = run.catch(() => false);
  return run;
}

async function send(body, path) {
  try {
    const { data } = await request('POST', path, body);
    if (data && data.ok === false) {
      const e = data.error || {};
      say(e.text || e.description || 'The switch refused the change.');
      return false;
    }
    say('');
    return true;
  } catch (err) {
    say('The switch cannot be reached: ' + err.message);
    return false;
  }
}

// ---- Now -----------------------------------------------------------------

function hoursText(h) {
  if (!h) return '';
  if (h.counting) return 'hours: counting…';
  if (h.today === undefined) return h.problem ? 'hours: ' + h.problem : '';
  const f = (x) => x.toFixed(1);
  return `hours: today ${f(h.today)}, week ${f(h.week)}, month ${f(h.month)}, total ${f(h.total)}`;
}

function renderOutput(o) {
  const m = o.output;
  let li = $('out-' + m);
  if (!li) {
    const colour = COLOURS[m - 1];
    const modes = el('div', { class: 'modes', role: 'radiogroup', 'aria-labelledby': `loc-${m}` });
    for (const mode of MODES) {
      modes.append(el('button', {
        type: 'button', class: 'mode', id: `mode-${m}-${mode}`, text: mode, 'aria-pressed': 'false',
        'aria-label': `Output ${m} mode ${mode}`,
        onclick: () => command({ command: 'mode', output: m, mode }),
      }));
    }
    li = el('li', { id: 'out-' + m, class: 'output' },
      el('div', { class: 'head' },
        el('span', { class: 'state', id: `state-${m}` }),
        el('h3', { id: `loc-${m}`, class: 'loc' })),
      el('p', { class: 'cause', id: `cause-${m}` }),
      el('p', { class: 'next', id: `next-${m}` }),
      modes,
      el('p', { class: 'hours', id: `hours-${m}` }));
    $('outputs').append(li);
    // Through the style object: the page's policy allows no style attributes.
    const st = $(`state-${m}`);
    st.style.background = colour;
    st.style.color = textOn(colour);
  }
  $(`loc-${m}`).textContent = `${m} ${o.location || ''}`;
  const st = $(`state-${m}`);
  st.textContent = o.state;
  st.classList.toggle('on', o.state === 'ON');
  st.setAttribute('aria-label', `Output ${m} is ${o.state}`);
  $(`cause-${m}`).textContent = o.cause ? 'cause: ' + o.cause : '';
  $(`next-${m}`).textContent = o.next ? o.next.text : '';
  if (o.next && o.next.toolTip) $(`next-${m}`).title = o.next.toolTip;
  for (const mode of MODES) $(`mode-${m}-${mode}`).setAttribute('aria-pressed', String(o.mode === mode));
  $(`hours-${m}`).textContent = hoursText(o.hours);
}

function renderInputs() {
  if (!state.inputs) return;
  renderLevels();
  renderMappings();
}

function renderLevels() {
  const inp = state.inputs;
  if (!inp) return;
  const ul = $('levels');
  for (const l of inp.levels) {
    let li = $(`input-${l.input}`);
    if (!li) {
      li = el('li', { id: `input-${l.input}` }, el('span', { class: 'lvl' }), el('span'));
      ul.append(li);
    }
    li.firstChild.textContent = l.on === null ? '?' : (l.on ? 'ON' : 'OFF');
    li.lastChild.textContent = ` ${l.input} ${l.location || ''}`;
  }
}

function renderFacts() {
  if (state.port) {
    $('port-text').textContent = state.port.text || state.port.line || '';
    $('port-text').classList.toggle('problem', !!state.port.problem);
  }
  if (state.mqtt) $('mqtt-text').textContent = state.mqtt.text || state.mqtt.state || '';
  $('next-all').textContent = state.next || '';
}

// ---- Programs ------------------------------------------------------------

function focused(id) { return document.activeElement && document.activeElement.id === id; }

function setValue(input, value) {
  // Never overwrite what the person is typing.
  if (document.activeElement !== input && input.value !== value) input.value = value;
}

function renderProgram() {
  const m = Number($('program-output').value || 1);
  const o = state.outputs[m - 1];
  const box = $('program');
  if (!o) return;
  if (box.dataset.output !== String(m)) {
    box.dataset.output = String(m);
    box.textContent = '';
    buildProgram(box, o);
  }
  fillProgram(o);
}

function buildProgram(box, o) {
  const m = o.output;
  box.append(el('div', { class: 'field' },
    el('label', { for: 'p-location', text: 'Location' }),
    el('input', { id: 'p-location', maxlength: '255', autocomplete: 'off',
      onchange: (e) => command({ command: 'location', n: m, text: e.target.value }) })));
  const days = el('fieldset', { class: 'days' }, el('legend', { text: 'Days' }));
  DAYS.forEach((d, i) => days.append(el('label', {},
    el('input', { type: 'checkbox', id: `p-day-${i}`,
      onchange: (e) => command({ command: 'day', output: m, day: i, ticked: e.target.checked }) }), ' ' + d)));
  box.append(days);
  if (o.finishDays) {
    const fin = el('fieldset', { class: 'days' }, el('legend', { text: 'Finish days' }));
    DAYS.forEach((d, i) => fin.append(el('label', {},
      el('input', { type: 'checkbox', id: `p-fin-${i}`,
        onchange: (e) => command({ command: 'finishDay', output: 7, day: i, ticked: e.target.checked }) }), ' ' + d)));
    box.append(fin);
  }
  const mode = el('fieldset', { class: 'mode-set' }, el('legend', { text: 'Mode' }));
  for (const md of MODES) {
    mode.append(el('label', {}, el('input', { type: 'radio', name: 'p-mode', id: `p-mode-${md}`, value: md,
      onchange: () => command({ command: 'select', output: m, mode: md }) }), ' ' + md));
  }
  box.append(mode);
  const times = el('fieldset', { class: 'times' }, el('legend', { text: 'Switchings' }));
  for (let k = 0; k < o.times.length / 2; ++k) {
    const letter = String.fromCharCode(97 + k);
    const row = el('div', { class: 'time-row' });
    for (const which of [0, 1]) {
      const index = 2 * k + which;
      const label = which === 0 ? `Start ${letter}` : (m === 7 ? `Finish ${letter}` : `Run ${letter}`);
      row.append(el('label', { for: `p-time-${index}`, text: label }),
        el('input', { id: `p-time-${index}`, class: 'time', autocomplete: 'off', maxlength: '64', inputmode: 'numeric',
          list: presetList(m, index),
          onchange: (e) => command({ command: 'time', output: m, index, text: e.target.value }) }));
    }
    row.append(el('span', { class: 'end', id: `p-end-${k}` }));
    times.append(row);
  }
  box.append(times);
  if (o.pulse) {
    const p = el('fieldset', { class: 'pulse' }, el('legend', { text: 'Pulse' }));
    for (const list of ['on', 'off']) {
      p.append(el('label', { for: `p-pulse-${list}`, text: list === 'on' ? `ON (${o.pulse.unit})` : `OFF (${o.pulse.unit})` }),
        el('select', { id: `p-pulse-${list}`,
          onchange: (e) => command({ command: 'pulseSelect', output: m, list, entry: e.target.value }) }));
    }
    p.append(el('button', { type: 'button', id: 'p-pulse-start', text: 'Start pulse',
      onclick: () => command({ command: 'pulseStart', output: m }) }),
    el('button', { type: 'button', id: 'p-pulse-stop', text: 'Stop pulse',
      onclick: () => command({ command: 'pulseStop', output: m }) }),
    el('p', { id: 'p-pulse-text', role: 'status' }));
    box.append(p);
  }
  box.append(el('p', { id: 'p-unsaved', role: 'status' }),
    el('button', { type: 'button', id: 'p-ok', text: 'OK', onclick: () => command({ command: 'ok', output: m }) }));
}

function fillProgram(o) {
  setValue($('p-location'), o.location || '');
  o.days.forEach((t, i) => { $(`p-day-${i}`).checked = t; });
  if (o.finishDays) o.finishDays.forEach((t, i) => { $(`p-fin-${i}`).checked = t; });
  for (const md of MODES) $(`p-mode-${md}`).checked = o.mode === md;
  for (const t of o.times) setValue($(`p-time-${t.index}`), t.text);
  for (let k = 0; k < o.times.length / 2; ++k) {
    const start = o.times[2 * k].seconds;
    const run = o.times[2 * k + 1].seconds;
    let end = '';
    if (start !== null && run !== null) end = o.output === 7 ? clock(run) : clock(start + run);
    $(`p-end-${k}`).textContent = end ? `ends ${end}` : '';
  }
  if (o.pulse) {
    for (const list of ['on', 'off']) {
      const s = $(`p-pulse-${list}`);
      const entries = o.pulse[list + 'Entries'];
      if (s.options.length !== entries.length) {
        s.textContent = '';
        for (const e of entries) s.append(el('option', { value: e, text: e }));
      }
      if (document.activeElement !== s) s.value = o.pulse[list + 'Selection'];
    }
    $('p-pulse-text').textContent = o.pulse.pulsing ? (o.pulse.text || 'pulsing') + (o.pulse.phase ? ', now ' + o.pulse.phase : '')
                                                    : 'not pulsing';
  }
  $('p-unsaved').textContent = o.unsaved ? 'Changes not stored yet: OK stores them.' : 'Stored.';
}

// The lists the windows' time boxes offer: the start times or the run times.
let presets = null;

function presetList(m, index) {
  const start = presets ? presets.startBoxes[m - 1].includes(index) : index % 2 === 0;
  return start ? 'start-times' : 'run-times';
}

async function loadPresets() {
  try {
    const { status, data } = await request('GET', '/api/web/presets');
    if (status !== 200) return;
    presets = data;
    for (const [id, list] of [['start-times', data.startTimes], ['run-times', data.runTimes]]) {
      $(id).textContent = '';
      for (const t of list) $(id).append(el('option', { value: t }));
    }
    const m = Number($('program').dataset.output);
    for (const box of document.querySelectorAll('#program input.time'))
      box.setAttribute('list', presetList(m, Number(box.id.slice(7))));
  } catch (e) { /* the boxes stay free text fields */ }
}

// ---- Inputs --------------------------------------------------------------

function renderMappings() {
  const inp = state.inputs;
  const box = $('mappings');
  if (!box.firstChild) {
    for (const map of inp.mappings) {
      const n = map.input;
      const table = el('table', { class: 'mapping' }, el('caption', { id: `map-cap-${n}` }));
      const head = el('tr', {}, el('th', { scope: 'col', text: 'Switches' }));
      for (let m = 1; m <= 8; ++m) head.append(el('th', { scope: 'col', text: String(m) }));
      table.append(el('thead', {}, head));
      const body = el('tbody');
      for (const on of [true, false]) {
        const tr = el('tr', {}, el('th', { scope: 'row', text: on ? 'ON' : 'OFF' }));
        for (let m = 1; m <= 8; ++m) {
          tr.append(el('td', {}, el('input', { type: 'checkbox', id: `map-${n}-${on ? 'on' : 'off'}-${m}`,
            'aria-label': `Input ${n} switches output ${m} ${on ? 'ON' : 'OFF'}`,
            onclick: (e) => {
              e.preventDefault();
              const now = inp.mappings[n - 1][on ? 'on' : 'off'][m - 1];
              command({ command: 'mapping', input: n, on, output: m, value: now === 1 ? 0 : 1 });
            } })));
        }
        body.append(tr);
      }
      table.append(body);
      box.append(table);
    }
  }
  for (const map of inp.mappings) {
    const n = map.input;
    const loc = inp.levels[n - 1].location;
    $(`map-cap-${n}`).textContent = `Input ${n} ${loc || ''}`;
    for (const on of ['on', 'off']) {
      map[on].forEach((v, i) => {
        const c = $(`map-${n}-${on}-${i + 1}`);
        c.checked = v === 1;
        c.indeterminate = v === 2;
      });
    }
  }
  setValue($('hold-time'), inp.hold.text);
  $('dir4').textContent = inp.sounds.input4Directory ? 'from ' + inp.sounds.input4Directory : '';
  for (const n of [4, 5]) {
    const s = $('sound' + n);
    if (document.activeElement !== s) {
      const name = inp.sounds['input' + n];
      if (![...s.options].some((o) => o.value === name)) s.append(el('option', { value: name, text: name || '(none)' }));
      s.value = name;
    }
  }
}

async function loadSounds() {
  try {
    const { data } = await request('GET', '/api/web/sounds');
    for (const n of [4, 5]) {
      const s = $('sound' + n);
      s.textContent = '';
      for (const f of data['input' + n] || []) s.append(el('option', { value: f, text: f }));
    }
    if (state.inputs) renderMappings();
  } catch (e) { /* shown by the next command */ }
}

// ---- Sun, holidays and presence ------------------------------------------

const ANCHOR_KINDS = [['clock', 'clock'], ['run', 'run time'], ['sunrise', 'sunrise'], ['sunset', 'sunset']];

// "2026-12-07T08:05:12+01:00": the switch's own clock time.
function clockOf(iso) { return iso ? iso.slice(11, 19) : ''; }

function renderCalendar() {
  const c = state.calendar;
  if (!c) return;
  $('cal-problem').textContent = c.problem || '';
  $('cal-problem').hidden = !c.problem;
  setValue($('cal-lat'), c.place.set ? String(c.place.latitude) : '');
  setValue($('cal-lon'), c.place.set ? String(c.place.longitude) : '');
  setValue($('cal-name'), c.place.name || '');
  if (document.activeElement !== $('cal-twilight')) $('cal-twilight').value = c.twilight;
  const t = c.today;
  const sun = (name, at, why) => (at ? `${name} ${clockOf(at)}` : why);
  // The date's sunset is the one its clock shows, even the evening before's after midnight.
  const early = t.sunset && clockOf(t.sunset) < '12:00:00' ? ' (after midnight: the evening before\'s)' : '';
  $('cal-today').textContent = `Today (${t.date}), ${c.twilight} twilight: ` +
    `${sun('sunrise', t.sunrise, t.noSunrise)}, ${sun('sunset', t.sunset, t.noSunset)}${early}`;
  renderAnchors();
  renderHolidays();
}

function anchorId(field, k, edge) { return `cal-${field}-${k}-${edge}`; }

function renderAnchors() {
  const c = state.calendar;
  if (!c) return;
  const m = Number($('cal-output').value || 1);
  const oc = c.outputs[m - 1];
  const box = $('cal-anchors');
  if (box.dataset.output !== String(m)) {
    box.dataset.output = String(m);
    box.textContent = '';
    buildAnchors(box, m, oc);
  }
  oc.switchings.forEach((sw, k) => {
    for (const edge of ['start', 'end']) {
      const a = sw[edge];
      const kind = $(anchorId('kind', k, edge));
      // Output 7's finish shows its default as the clock, as the window does.
      const value = [...kind.options].some((o) => o.value === a.kind) ? a.kind : 'clock';
      if (document.activeElement !== kind) kind.value = value;
      setValue($(anchorId('offset', k, edge)), a.offsetText || '');
      setValue($(anchorId('nb', k, edge)), a.notBefore || '');
      setValue($(anchorId('na', k, edge)), a.notAfter || '');
    }
  });
  setValue($('cal-presence'), String(oc.presence));
}

function buildAnchors(box, m, oc) {
  oc.switchings.forEach((sw, k) => {
    const letter = sw.switching;
    const set = el('fieldset', {}, el('legend', { text: `Switching ${letter}` }));
    for (const edge of ['start', 'end']) {
      const id = (field) => anchorId(field, k, edge);
      const side = edge === 'start' ? 'start' : (m === 7 ? 'finish' : 'end');
      // One edge is one edit: what its four fields say, judged together.
      const send = () => command({ command: 'calendarAnchor', output: m, switching: k, edge,
        kind: $(id('kind')).value, offset: $(id('offset')).value,
        notBefore: $(id('nb')).value, notAfter: $(id('na')).value });
      const kind = el('select', { id: id('kind'), onchange: send });
      for (const [value, text] of ANCHOR_KINDS) {
        if (value === 'run' && (edge === 'start' || m === 7)) continue;
        kind.append(el('option', { value, text }));
      }
      const entry = (field, label, hint) => [
        el('label', { for: id(field), text: label }),
        el('input', { id: id(field), autocomplete: 'off', maxlength: '16', placeholder: hint,
          'aria-label': `Switching ${letter}, ${side} ${label}`, onchange: send })];
      set.append(el('div', { class: 'anchor-row' },
        el('label', { for: id('kind'), text: `${side[0].toUpperCase()}${side.slice(1)} at` }), kind,
        ...entry('offset', 'offset', '-0:15'), ...entry('nb', 'not before', '17:00:00'),
        ...entry('na', 'not after', 'hh:mm:ss')));
      kind.setAttribute('aria-label', `Switching ${letter}, ${side} at`);
    }
    box.append(set);
  });
}

// The period the form changes in place: its index and what it held when Edit was chosen; null for a new one.
let editing = null;

function renderHolidays() {
  const body = $('cal-holidays').tBodies[0];
  body.textContent = '';
  for (const h of state.calendar.holidays) {
    body.append(el('tr', {}, el('td', { text: h.name }), el('td', { text: h.from }), el('td', { text: h.to }),
      el('td', { text: h.everyYear ? 'yes' : 'no' }), el('td', { text: h.outputs.join(' ') }),
      el('td', { text: h.action }),
      el('td', {}, el('button', { type: 'button', text: 'Edit', 'aria-label': `Edit holiday ${h.name} from ${h.from}`,
        onclick: () => editHoliday(h) }), ' ',
        el('button', { type: 'button', text: 'Remove', 'aria-label': `Remove holiday ${h.name} from ${h.from}`,
          onclick: () => command({ command: 'calendarRemoveHoliday', index: h.index }) }))));
  }
  if (!state.calendar.holidays.length) body.append(el('tr', {}, el('td', { colspan: '7', text: 'None.' })));
}

function editHoliday(h) {
  editing = { index: h.index, was: JSON.stringify(h) };
  $('hol-name').value = h.name;
  $('hol-from').value = h.from;
  $('hol-to').value = h.to;
  $('hol-every').checked = h.everyYear;
  $('hol-outputs').value = h.outputs.join(' ');
  $('hol-action').value = h.action;
  $('hol-legend').textContent = `Change holiday period ${h.name} from ${h.from}`;
  $('hol-add').textContent = 'Save';
  $('hol-cancel').hidden = false;
  $('hol-name').focus();
}

function endHolidayEdit() {
  editing = null;
  $('cal-holiday-form').reset();
  $('hol-legend').textContent = 'New holiday period';
  $('hol-add').textContent = 'Add';
  $('hol-cancel').hidden = true;
}

function calendarEvents() {
  $('cal-place-form').addEventListener('submit', (e) => {
    e.preventDefault();
    command({ command: 'calendarPlace', latitude: $('cal-lat').value, longitude: $('cal-lon').value,
      name: $('cal-name').value });
  });
  $('cal-twilight').addEventListener('change', (e) => command({ command: 'calendarTwilight', twilight: e.target.value }));
  $('cal-output').addEventListener('change', renderAnchors);
  $('cal-presence').addEventListener('change', (e) => {
    const m = Number($('cal-output').value || 1);
    const v = e.target.value;
    command({ command: 'calendarPresence', output: m, minutes: v === '' || isNaN(Number(v)) ? v : Number(v) });
  });
  $('cal-holiday-form').addEventListener('submit', async (e) => {
    e.preventDefault();
    const edit = { command: 'calendarHoliday', name: $('hol-name').value, from: $('hol-from').value,
      to: $('hol-to').value, everyYear: $('hol-every').checked, outputs: $('hol-outputs').value,
      action: $('hol-action').value };
    if (editing) {
      // Periods are named by their place in the list: one that another client changed or
      // removed meanwhile is not overwritten.
      const now = state.calendar.holidays.find((h) => h.index === editing.index);
      if (!now || JSON.stringify(now) !== editing.was) {
        endHolidayEdit();
        say('This holiday period was changed or removed meanwhile: choose Edit again.');
        return;
      }
      edit.index = editing.index;
    }
    if (await command(edit)) endHolidayEdit();
  });
  $('hol-cancel').addEventListener('click', endHolidayEdit);
  $('hol-ics').addEventListener('change', async (e) => {
    const file = e.target.files[0];
    if (!file) return;
    const ics = await file.text();
    await command({ command: 'calendarImport', ics, outputs: $('cal-output').value || '1', action: 'OFF' },
      '/api/command/calendarImport');
    e.target.value = '';
  });
}

// ---- Week ----------------------------------------------------------------

const SVG = 'http://www.w3.org/2000/svg';
const WEEK = 7 * 24 * 3600;
// As the week view draws them: ON red, a missed switching's day hatched orange,
// a frozen output hatched grey, an input 3 hold cross-hatched red (ON) or green (OFF).
const ON_COLOUR = '#ff0000';
const MISSED_COLOUR = '#e67800';
const NO_MODE_NOTE = 'no mode chosen: select AUTO in its window';
function svg(tag, attrs, text) {
  const e = document.createElementNS(SVG, tag);
  for (const [k, v] of Object.entries(attrs)) e.setAttribute(k, v);
  if (text !== undefined) e.textContent = text;
  return e;
}

// A tile of lines repeated over a bar: '/' or '\' or both.
function hatch(id, colour, lines, background) {
  const p = svg('pattern', { id, width: 6, height: 6, patternUnits: 'userSpaceOnUse' });
  if (background) p.append(svg('rect', { width: 6, height: 6, fill: background }));
  const d = { '/': 'M-1,1 l2,-2 M0,6 l6,-6 M5,7 l2,-2', '\\': 'M-1,5 l2,2 M0,0 l6,6 M5,-1 l2,2' };
  for (const l of lines) p.append(svg('path', { d: d[l], stroke: colour, 'stroke-width': 1 }));
  return p;
}

// The week is asked for when the switch says its picture changed, not at every
// switching: a pulsing output would have it fetched every second. One request at
// a time; what changes meanwhile is fetched once, after it.
let weekAsked = false;
let weekAgain = false;
async function loadWeek() {
  if (weekAsked) { weekAgain = true; return; }
  weekAsked = true;
  try {
    do {
      weekAgain = false;
      const { status, data } = await request('GET', '/api/web/week');
      if (status === 200) drawWeek(data);
    } while (weekAgain);
  } catch (e) { /* the next change tries again */ }
  weekAsked = false;
}

// The last picture, and the second of the week it was drawn at by this page's clock:
// the now line moves on without asking the switch again.
let week = null;
function weekSecondNow() {
  return Math.floor(week.second + (Date.now() - week.at) / 1000) % WEEK;
}

function moveNow() {
  if (!week) return;
  const second = weekSecondNow();
  if (Math.floor(second / 86400) !== week.today) { drawWeek(week.data); return; }
  const line = $('week-now');
  const x = 40 + second * (700 / WEEK);
  line.setAttribute('x1', x);
  line.setAttribute('x2', x);
}

function drawWeek(w) {
  if (week && week.data === w) w = Object.assign({}, w, { weekSecond: weekSecondNow() });
  week = { data: w, second: w.weekSecond, at: Date.now(), today: Math.floor(w.weekSecond / 86400) };
  const left = 40, top = 34, row = 26, width = 700;
  const scale = width / WEEK;
  const s = svg('svg', { viewBox: `0 0 ${left + width + 4} ${top + 8 * row + 4}`, role: 'img',
                         'aria-labelledby': 'week-title', class: 'week-svg' });
  s.append(svg('title', { id: 'week-title' }, 'The week of the eight outputs: ON periods as red bars'));
  const defs = svg('defs', {});
  defs.append(hatch('week-frozen', '#808080', '/'), hatch('week-missed', MISSED_COLOUR, '\\'),
              hatch('week-hold-on', ON_COLOUR, '/\\'), hatch('week-hold-off', '#008000', '/\\'));
  s.append(defs);
  const today = Math.floor(w.weekSecond / 86400);
  for (let d = 0; d < 7; ++d) {
    const x = left + d * 86400 * scale;
    if (d === today) s.append(svg('rect', { x, y: top - 4, width: 86400 * scale, height: 8 * row + 4, class: 'today' }));
    s.append(svg('line', { x1: x, y1: top - 14, x2: x, y2: top + 8 * row, class: 'day' }));
    s.append(svg('text', { x: x + 3, y: 12, class: d === today ? 'caption today-caption' : 'caption' },
                 DAYS[d] + (d === today ? ' (today)' : '')));
    for (const h of [6, 12, 18]) {
      const hx = x + h * 3600 * scale;
      s.append(svg('line', { x1: hx, y1: top - 6, x2: hx, y2: top + 8 * row, class: 'hour' }));
      s.append(svg('text', { x: hx, y: top - 8, class: 'hour-label' }, String(h)));
    }
  }
  for (const o of w.outputs) s.append(weekRow(o, defs, top + (o.output - 1) * row, row, left, scale));
  const nx = left + w.weekSecond * scale;
  s.append(svg('line', { x1: nx, y1: top - 4, x2: nx, y2: top + 8 * row, class: 'now', id: 'week-now' }));
  const box = $('week-picture');
  box.textContent = '';
  box.append(s);
  const ul = $('week-next');
  ul.textContent = '';
  for (const o of w.outputs) ul.append(el('li', { id: `week-next-${o.output}` }));
  for (const o of state.outputs) weekNext(o);
}

// An output's next switching comes with its own event: the week's list follows it.
function weekNext(o) {
  const li = $(`week-next-${o.output}`);
  if (li) li.textContent = `${o.output} ${o.location || ''}: ${o.next ? o.next.text : ''}`;
}

function weekRow(o, defs, y, row, left, scale) {
  const m = o.output;
  const g = svg('g', { id: `week-row-${m}` });
  const colour = COLOURS[m - 1];
  g.append(svg('rect', { x: 0, y, width: left - 4, height: row, fill: colour, class: 'row-cell' }),
           svg('text', { x: 4, y: y + row * 0.65, fill: textOn(colour), class: 'row-label' }, String(m)));
  const top = y + 4, height = row - 8;
  const rect = (a, b, attrs) => g.append(svg('rect', Object.assign({ x: left + a * scale, y: top,
    width: Math.max(1, (b - a) * scale), height }, attrs)));
  // Seconds from-to of the week, both included; a span across the week's end comes round.
  const span = ([from, to], attrs) => {
    if (from <= to) rect(from, to + 1, attrs);
    else { rect(from, WEEK, attrs); rect(0, to + 1, attrs); }
  };
  const notes = [];
  if (o.pulse) {
    if (o.pulse.phases) {
      for (const p of o.pulse.phases) span(p, { fill: ON_COLOUR, class: 'pulse' });
    } else {
      // Too fine to draw phase by phase: stripes with the pulse's ON share.
      const red = Math.min(7, Math.max(1, Math.round(o.pulse.share * 8)));
      const tile = svg('pattern', { id: `week-pulse-${m}`, width: 8, height: 1, patternUnits: 'userSpaceOnUse' });
      tile.append(svg('rect', { width: 8, height: 1, fill: '#ffffff' }), svg('rect', { width: red, height: 1, fill: ON_COLOUR }));
      defs.append(tile);
      rect(0, WEEK, { fill: `url(#week-pulse-${m})`, class: 'pulse-band' });
    }
    notes.push(o.pulse.text);
  } else if (o.frozen) {
    rect(0, WEEK, { fill: 'url(#week-frozen)', class: 'frozen-band' });
    notes.push(`frozen at its last state${o.frozenStatus ? ` (${o.frozenStatus})` : ''}`);
  } else {
    // Hatched under the periods the day still has, with a line along the foot that they do not cover.
    for (const d of o.missed || []) rect(d.day * 86400, (d.day + 1) * 86400, { fill: 'url(#week-missed)', class: 'missed' });
    for (const p of o.on) span(p, { fill: ON_COLOUR, class: 'bar' });
    for (const d of o.missed || []) {
      g.append(svg('rect', { x: left + d.day * 86400 * scale, y: top + height - 2, width: 86400 * scale, height: 2,
                             fill: MISSED_COLOUR }));
      notes.push(...d.notes);
    }
    if (o.mode === '' || o.mode === 'none') notes.push(NO_MODE_NOTE);
  }
  if (o.hold && o.hold.span) {
    span(o.hold.span, { fill: `url(#week-hold-${o.hold.on ? 'on' : 'off'})`, class: 'hold' });
    notes.push(`held ${o.hold.on ? 'ON' : 'OFF'} by input 3 until ${o.hold.untilText} (as it stands now)`);
  }
  // A line of text readable over any band: on a white halo.
  const shown = o.pulse ? o.pulse.text : (o.frozen ? notes[0] : (notes.includes(NO_MODE_NOTE) ? NO_MODE_NOTE : ''));
  if (shown) g.append(svg('text', { x: left + 4, y: y + row * 0.65, class: 'note' }, shown));
  g.append(svg('title', {}, [`${m} ${o.location || ''}: ${o.text}`, ...notes].join('\n')));
  return g;
}

// ---- History -------------------------------------------------------------

function historyQuery() {
  const day = $('history-day').value;
  return `from=${encodeURIComponent(day)}&days=${encodeURIComponent($('history-span').value)}`;
}

async function loadHistory() {
  const q = historyQuery();
  $('history-csv').href = '/api/web/history.csv?' + q;
  try {
    const { status, data } = await request('GET', '/api/web/history?' + q);
    const body = $('history-table').tBodies[0];
    body.textContent = '';
    if (status !== 200) { $('history-count').textContent = (data.error && data.error.text) || 'The history cannot be read.'; return; }
    for (const r of data.rows) {
      body.append(el('tr', {}, el('td', { text: r.time }), el('td', { text: r.line }), el('td', { text: r.state }),
                      el('td', { text: r.cause })));
    }
    $('history-count').textContent = data.problem ? data.problem : data.text;
  } catch (e) { /* logged out or unreachable */ }
}

// ---- Live state ----------------------------------------------------------

// `streamed`: the stream's state, not the one the page came with; `same`: the stream's first state is the one
// the page came with, already drawn.
function applyState(s, streamed = true, same = false) {
  if (!same) drawState(s);
  const rest = () => {
    renderCalendar();
    if (state.inputs) renderMappings();
    renderProgram();
  };
  if (streamed && !performance.getEntriesByName('streaming').length) performance.mark('streaming');
  const back = document.body.dataset.live === 'no';
  if (streamed) document.body.dataset.live = 'yes';
  if (!performance.getEntriesByName('live').length) {
    document.body.hidden = false;
    performance.mark('live');
    // The sections below the outputs, and what is not live, once the first frame has shown the outputs.
    requestAnimationFrame(() => setTimeout(() => {
      showLater();
      rest();
      // A date box's value costs its first drawing: it is filled here, not before the outputs.
      const today = new Date();
      $('history-day').value = new Date(today.getTime() - today.getTimezoneOffset() * 60000).toISOString().slice(0, 10);
      loadPresets();
      loadSounds();
      loadHistory();
      loadWeek();
    }));
  } else {
    if (!same) rest();
    // Back after a break: what changed meanwhile was not told.
    if (back) loadWeek();
  }
}

function drawState(s) {
  state.outputs = s.outputs;
  state.inputs = s.inputs;
  state.port = s.port;
  state.mqtt = s.mqtt;
  state.next = s.next;
  $('title').textContent = s.title || 'Time switch';
  document.title = s.title || 'Time switch';
  for (const o of s.outputs) {
    nameOutput(o);
    renderOutput(o);
  }
  state.calendar = s.calendar || null;
  renderLevels();
  renderFacts();
}

// The output's entry in the lists that choose one.
function nameOutput(o) {
  for (const sel of [$('program-output'), $('cal-output')]) {
    let opt = sel.querySelector(`option[value="${o.output}"]`);
    if (!opt) { opt = el('option', { value: String(o.output) }); sel.append(opt); }
    opt.textContent = `${o.output} ${o.location || ''}`;
  }
}

// The script runs in the page's head: the event stream opens while the rest is
// read, and what it brings waits until the page is there to show it.
let parsed = document.readyState !== 'loading';
let firstState = '';
const waiting = [];
function whenParsed(f) {
  if (parsed) f(); else waiting.push(f);
}

function connect() {
  if (events) events.close();
  events = new EventSource('/api/events');
  events.onopen = () => { if (!performance.getEntriesByName('stream-open').length) performance.mark('stream-open'); };
  const on = (name, f) => events.addEventListener(name, (e) => {
    if (name === 'state' && !performance.getEntriesByName('state-came').length) performance.mark('state-came');
    whenParsed(() => {
      try { f(JSON.parse(e.data), e.data); } catch (err) { say('The switch sent something this page does not know: ' + err.message); }
    });
  });
  on('state', (s, text) => {
    // Written as the switch wrote it into the page.
    applyState(s, true, text.replace(/</g, '\\u003c') === firstState);
    firstState = '';
    $('link').textContent = 'Live';
  });
  on('output', (o) => {
    state.outputs[o.output - 1] = o;
    renderOutput(o);
    nameOutput(o);
    if (Number($('program-output').value) === o.output) renderProgram();
    weekNext(o);
  });
  on('week', loadWeek);
  on('inputs', (i) => { state.inputs = i; renderInputs(); });
  on('port', (p) => { state.port = p; renderFacts(); });
  on('mqtt', (m) => { state.mqtt = m; renderFacts(); });
  on('calendar', (c) => { state.calendar = c; renderCalendar(); });
  on('locations', () => {});
  // The page's session comes with the state: its token against forgery, and what to warn of.
  on('session', (data) => {
    csrf = data.csrf;
    sessionCame();
    const w = $('warning');
    w.textContent = data.warning || '';
    w.hidden = !data.warning;
    $('password-state').textContent = data.passwordSet ? 'A password is set.' :
      'No password is set: only "kestra3 ctl web" on this machine opens the page.';
  });
  on('ending', () => { $('link').textContent = 'The switch is ending.'; document.body.dataset.live = 'no'; });
  events.onerror = () => {
    if (events.readyState === EventSource.CLOSED) setTimeout(reconnect, 2000);
    whenParsed(() => {
      document.body.hidden = false;
      document.body.dataset.live = 'no';
      $('link').textContent = 'Not connected: the states shown may be old. Trying again…';
    });
  };
}

// A stream refused (not merely broken, which the browser mends itself): logged out, the login page
// follows; else the switch is asked again.
async function reconnect() {
  try {
    const { status, data } = await request('GET', '/api/web/session');
    if (status === 200) { csrf = data.csrf; sessionCame(); }
  } catch (e) {
    if (e.message === 'logged out') return;
  }
  connect();
}

// The event stream first: the page is live as soon as its first state is drawn.
connect();

function init() {
  performance.mark('parsed');
  $('program-output').addEventListener('change', renderProgram);
  $('hold-time').addEventListener('change', (e) => command({ command: 'holdTime', text: e.target.value }));
  for (const n of [4, 5]) $('sound' + n).addEventListener('change', (e) => command({ command: 'pickSound', input: n, name: e.target.value }));
  $('inputs-ok').addEventListener('click', () => command({ command: 'inputsOk' }));
  $('history-show').addEventListener('click', loadHistory);
  calendarEvents();
  $('logout').addEventListener('submit', async (e) => {
    e.preventDefault();
    try { await request('POST', '/logout'); } catch (err) { /* gone either way */ }
    location.href = '/login?why=out';
  });
  $('password-form').addEventListener('submit', async (e) => {
    e.preventDefault();
    const a = $('new-password').value, b = $('new-password2').value;
    if (a !== b) { say('The two passwords differ.'); return; }
    const { data } = await request('POST', '/api/web/password', { password: a });
    if (data.ok) {
      // A new session for this browser: its token against forgery is new too.
      const session = await request('GET', '/api/web/session');
      csrf = session.data.csrf;
      say('');
      $('password-state').textContent = 'The password is set. Other browsers are logged out.';
      e.target.reset();
    }
    else say((data.error && data.error.text) || 'The password was not set.');
  });
  parsed = true;
  // The state the page came with first; the stream's, newer, may be waiting already.
  firstState = $('first-state').textContent;
  if (firstState) {
    try { applyState(JSON.parse(firstState), false); } catch (err) { firstState = ''; }
  }
  for (const f of waiting.splice(0)) f();
  // Without a state soon, the page is shown all the same.
  setTimeout(() => { document.body.hidden = false; showLater(); }, 1500);
  // The week's now line moves a pixel in about 15 minutes.
  setInterval(moveNow, 60000);
}

// The sections below the outputs, hidden until the first state is drawn.
function showLater() {
  if (!$('later').hidden) return;
  $('later').hidden = false;
  const target = location.hash && document.getElementById(location.hash.slice(1));
  if (target) target.scrollIntoView();
}

if (parsed) init(); else document.addEventListener('DOMContentLoaded', init);
