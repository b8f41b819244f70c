// Weekly schedule page: one tab per day, read from
// /get_sched_data.cgi&sun ... &sat, written row by row through
// /set_sched_data.cgi:
//   the day switch:   day=mon&ena=1
//   a plan row:       day=mon&idx=2&tp_status=1&tp_time=07:30&tp_len=5
//   a length row:     day=mon&idx=4&s_len_ws=30&s_len_bb=10&s_len_eb=20
// Every request carries all values of its row. After each save the day is
// read again and every sent row is compared with what the device reports.
'use strict';

(function () {
  if (!Ktr.page.ready) return;
  const { el, icon, notice } = Ktr.page;
  const F = Ktr.fields;
  const $ = (id) => document.getElementById(id);

  const kDays = [
    ['sun', 'Sun', 'Sunday'], ['mon', 'Mon', 'Monday'], ['tue', 'Tue', 'Tuesday'], ['wed', 'Wed', 'Wednesday'],
    ['thu', 'Thu', 'Thursday'], ['fri', 'Fri', 'Friday'], ['sat', 'Sat', 'Saturday'],
  ];
  const kPlanEntries = 20;
  const kLengthEntries = 5;
  // The device stores an entry without a time as minute 60 of hour 0, which
  // reads back as "00:60"; the page shows it as an empty time.
  const kNoTime = '00:60';

  // Row kinds: the inputs of a row, their checks and how they are sent.
  const kPlan = {
    table: 'plan',
    columns: [
      { name: 'status', key: 'tp_status', check: F.word, label: 'status' },
      { name: 'time', key: 'tp_time', check: (t) => F.hhmm(t, true), label: 'time', placeholder: '--:--' },
      { name: 'len', key: 'tp_len', check: F.word, label: 'length' },
    ],
    fromReply: (e) => ({ status: String(e.status), time: e.time === kNoTime ? '' : e.time, len: String(e.len) }),
    // What the device keeps of a sent plan row: status 0 is stored with
    // time 00:00 and length 1, whatever was sent.
    expected: (v) => (v.status === '0' ? { status: '0', time: '00:00', len: '1' } : v),
  };
  const kLength = {
    table: 'lengths',
    columns: [
      { name: 'ws', key: 's_len_ws', check: F.word, label: 'ws' },
      { name: 'bb', key: 's_len_bb', check: F.word, label: 'bb' },
      { name: 'eb', key: 's_len_eb', check: F.word, label: 'eb' },
    ],
    fromReply: (e) => ({ ws: String(e.len_ws), bb: String(e.len_bb), eb: String(e.len_eb) }),
    expected: (v) => v,
  };

  function checkDay(d) {
    const isWord = (v) => Number.isInteger(v) && v >= 0;
    if (!d || !isWord(d.ena)) return '"ena" missing';
    if (!Array.isArray(d.plan) || d.plan.length !== kPlanEntries) return '"plan" is not 20 entries';
    if (!d.plan.every((e) => e && isWord(e.status) && typeof e.time === 'string' && isWord(e.len))) {
      return 'a plan entry without status, time and len';
    }
    if (!Array.isArray(d.cfg) || d.cfg.length !== kLengthEntries) return '"cfg" is not 5 entries';
    if (!d.cfg.every((e) => e && isWord(e.len_bb) && isWord(e.len_eb) && isWord(e.len_ws))) {
      return 'a length entry without len_bb, len_eb and len_ws';
    }
    return '';
  }

  // State of the shown day.
  let day = '';
  let rows = [];
  let busy = false;
  let ena = null;  // the enable word as read

  function buildRow(kind, idx) {
    const tr = el('tr', { 'data-idx': String(idx) });
    const row = { kind, idx, tr, inputs: {}, loaded: null };
    tr.appendChild(el('td', { class: 'idx', text: String(idx + 1) }));
    for (const col of kind.columns) {
      const input = el('input', {
        type: 'text', name: col.name, autocomplete: 'off', inputmode: col.name === 'time' ? 'text' : 'numeric',
        placeholder: col.placeholder, 'aria-label': 'Entry ' + (idx + 1) + ' ' + col.label,
      });
      input.addEventListener('input', () => touch(row));
      row.inputs[col.name] = input;
      tr.appendChild(el('td', {}, input));
    }
    row.save = el('button', { type: 'button', class: 'secondary small save-row', disabled: true,
      'aria-label': 'Save entry ' + (idx + 1), onclick: () => saveRows([row]) }, icon('save'), ' Save');
    row.error = el('td', { class: 'row-error', colspan: String(kind.columns.length + 2) });
    tr.appendChild(el('td', {}, el('span', { class: 'row-actions' }, row.save,
      el('span', { class: 'mark', 'aria-hidden': 'true' }, icon('check')))));
    row.errorRow = el('tr', { class: 'error-row', hidden: true }, row.error);
    $(kind.table).tBodies[0].append(tr, row.errorRow);
    return row;
  }

  const values = (row) => Object.fromEntries(Object.entries(row.inputs).map(([n, i]) => [n, i.value.trim()]));
  const isDirty = (row) => row.loaded !== null && Object.entries(values(row)).some(([n, v]) => v !== row.loaded[n]);

  function showRowError(row, text) {
    row.error.textContent = text;
    row.errorRow.hidden = !text;
  }

  function touch(row) {
    row.tr.classList.remove('saved', 'mismatch');
    const dirty = isDirty(row);
    row.tr.classList.toggle('dirty', dirty);
    let problem = '';
    for (const col of row.kind.columns) {
      const input = row.inputs[col.name];
      const result = dirty ? col.check(input.value) : { ok: true };
      input.setAttribute('aria-invalid', result.ok ? 'false' : 'true');
      if (!result.ok && !problem) problem = 'Entry ' + (row.idx + 1) + ', ' + col.label + ': ' + result.error;
    }
    row.tr.classList.toggle('invalid', Boolean(problem));
    showRowError(row, problem);
    row.save.disabled = busy || !dirty;
    if (row.kind === kPlan) row.tr.classList.toggle('unused', values(row).status === '0');
    updateButtons();
  }

  function updateButtons() {
    const dirty = rows.some(isDirty);
    $('save-all').disabled = busy || !dirty;
    $('undo-all').disabled = busy || !dirty;
    for (const tab of $('days').children) {
      const mark = tab.querySelector('.dot');
      if (mark) mark.hidden = !(tab.dataset.day === day && dirty);
    }
  }

  function setBusy(yes) {
    busy = yes;
    const stale = $('day-panel').classList.contains('stale');
    for (const row of rows) {
      for (const input of Object.values(row.inputs)) input.disabled = yes || stale;
      row.save.disabled = yes || stale || !isDirty(row);
    }
    $('ena').disabled = yes || stale;
    $('reload-day').disabled = yes;
    updateButtons();
  }

  function fill(data) {
    $('day-panel').classList.remove('stale');
    ena = data.ena;
    $('ena').checked = data.ena !== 0;
    $('ena-label').textContent = data.ena === 0 || data.ena === 1 ? 'Day enabled' : 'Day enabled (code ' + data.ena + ')';
    for (const row of rows) {
      const entry = row.kind === kPlan ? data.plan[row.idx] : data.cfg[row.idx];
      row.loaded = row.kind.fromReply(entry);
      for (const [name, input] of Object.entries(row.inputs)) input.value = row.loaded[name];
      row.tr.classList.remove('dirty', 'invalid', 'saved', 'mismatch');
      showRowError(row, '');
      if (row.kind === kPlan) row.tr.classList.toggle('unused', row.loaded.status === '0');
    }
  }

  // A failed read shows no old entries: the tables are emptied and locked.
  function clear() {
    $('day-panel').classList.add('stale');
    ena = null;
    $('ena').checked = false;
    $('ena-label').textContent = 'Day enabled';
    for (const row of rows) {
      row.loaded = null;
      for (const input of Object.values(row.inputs)) input.value = '';
      row.tr.classList.remove('dirty', 'invalid', 'saved', 'mismatch', 'unused');
      showRowError(row, '');
    }
  }

  const dayName = (id) => kDays.find((d) => d[0] === id)[2];
  const readDay = () => Ktr.api.getJson('/get_sched_data.cgi&' + day, checkDay);

  async function load() {
    setBusy(true);
    notice('day-notice', 'busy', 'Reading ' + dayName(day) + ' from the device…');
    const reply = await readDay();
    if (reply.ok) {
      fill(reply.data);
      notice('day-notice', 'info', dayName(day) + ' read from the device at ' + Ktr.api.clock(new Date()) + '.');
    } else {
      clear();
      notice('day-notice', 'error', reply.message, { label: 'Try again', run: load });
    }
    setBusy(false);
  }

  // Reads the day back after writes and compares. sent: [{ row, values }].
  async function readBack(sent, failure) {
    notice('day-notice', 'busy', 'Reading ' + dayName(day) + ' back from the device…');
    const pending = rows.filter((r) => isDirty(r) && !sent.some((s) => s.row === r)).map((r) => [r, values(r)]);
    const reply = await readDay();
    if (!reply.ok) {
      clear();
      setBusy(false);
      notice('day-notice', 'error', (failure ? failure + ' ' : 'Sent, but the read back failed: ') + reply.message,
        { label: 'Read again', run: load });
      return false;
    }
    fill(reply.data);
    for (const [row, v] of pending) {
      for (const [name, input] of Object.entries(row.inputs)) input.value = v[name];
      touch(row);
    }
    const refused = [];
    for (const { row, values: v } of sent) {
      const want = row.kind.expected(v);
      const same = Object.entries(want).every(([n, x]) => row.loaded[n] === x);
      row.tr.classList.add(same ? 'saved' : 'mismatch');
      if (!same) {
        const shown = (o) => row.kind.columns.map((c) => c.label + ' ' + (o[c.name] || '(empty)')).join(', ');
        showRowError(row, 'Sent ' + shown(want) + '; the device reports ' + shown(row.loaded) + '.');
        refused.push(row.idx + 1);
      }
    }
    setBusy(false);
    if (failure) notice('day-notice', 'error', failure);
    else if (refused.length) notice('day-notice', 'error', 'The device did not take entry ' + refused.join(', ') + '.');
    return !failure && !refused.length;
  }

  async function saveRows(list) {
    const dirty = list.filter(isDirty);
    if (!dirty.length) return;
    const items = [];
    for (const row of dirty) {
      const pairs = [['day', day], ['idx', String(row.idx)]];
      const v = {};
      for (const col of row.kind.columns) {
        const result = col.check(row.inputs[col.name].value);
        if (!result.ok) {
          touch(row);
          row.inputs[col.name].focus();
          notice('day-notice', 'error', 'Please correct entry ' + (row.idx + 1) + '; nothing was sent.');
          return;
        }
        v[col.name] = result.value;
        pairs.push([col.key, result.value]);
      }
      items.push({ row, values: v, body: F.body(pairs) });
    }
    setBusy(true);
    const sent = [];
    let failure = '';
    for (const item of items) {
      notice('day-notice', 'busy', 'Saving entry ' + (item.row.idx + 1) + '…');
      const reply = await Ktr.api.postAnswer('/set_sched_data.cgi', item.body);
      if (!reply.ok) {
        failure = 'Entry ' + (item.row.idx + 1) + ' not saved: ' + reply.message;
        break;
      }
      sent.push(item);
    }
    if (await readBack(sent, failure)) {
      const names = sent.map((s) => (s.row.kind === kPlan ? 'plan entry ' : 'length entry ') + (s.row.idx + 1));
      notice('day-notice', 'ok', 'Saved and read back: ' + names.join(', ') + '.');
    }
  }

  async function saveEnable() {
    const want = $('ena').checked ? '1' : '0';
    setBusy(true);
    notice('day-notice', 'busy', (want === '1' ? 'Enabling ' : 'Disabling ') + dayName(day) + '…');
    const reply = await Ktr.api.postAnswer('/set_sched_data.cgi', F.body([['day', day], ['ena', want]]));
    const ok = await readBack([], reply.ok ? '' : 'The day switch was not saved: ' + reply.message);
    if (!ok) return;
    if (String(ena) === want) {
      notice('day-notice', 'ok', dayName(day) + (want === '1' ? ' enabled' : ' disabled') + ' and read back.');
    } else {
      notice('day-notice', 'error', 'The device did not take the day switch: it reports ' + ena + '.');
    }
  }

  async function choose(id, force) {
    if (id === day && !force) return;
    if (!force && rows.some(isDirty)) {
      const discard = await Ktr.page.confirm('Unsaved changes',
        'The changed rows of ' + dayName(day) + ' have not been saved. Discard them?', 'Discard', true);
      if (!discard) return;
    }
    day = id;
    for (const tab of $('days').children) {
      const selected = tab.dataset.day === id;
      tab.setAttribute('aria-selected', selected ? 'true' : 'false');
      tab.tabIndex = selected ? 0 : -1;
    }
    $('day-panel').setAttribute('aria-label', dayName(id));
    history.replaceState(null, '', '#' + id);
    load();
  }

  // Tabs, arrow keys between them.
  for (const [id, short, long] of kDays) {
    const tab = el('button', { type: 'button', role: 'tab', id: 'tab-' + id, 'data-day': id, title: long,
      'aria-controls': 'day-panel', onclick: () => choose(id) }, short, el('span', { class: 'dot', hidden: true }));
    $('days').appendChild(tab);
  }
  $('days').addEventListener('keydown', (event) => {
    const step = event.key === 'ArrowRight' ? 1 : event.key === 'ArrowLeft' ? -1 : 0;
    if (!step) return;
    const at = kDays.findIndex((d) => d[0] === day);
    const next = kDays[(at + step + kDays.length) % kDays.length][0];
    $('tab-' + next).focus();
    choose(next);
  });

  for (let i = 0; i < kPlanEntries; ++i) rows.push(buildRow(kPlan, i));
  for (let j = 0; j < kLengthEntries; ++j) rows.push(buildRow(kLength, j));
  $('ena').addEventListener('change', saveEnable);
  $('reload-day').addEventListener('click', async () => {
    if (rows.some(isDirty) && !(await Ktr.page.confirm('Unsaved changes',
      'Reading the day again discards the changed rows. Go on?', 'Read again', true))) return;
    load();
  });
  $('save-all').addEventListener('click', () => saveRows(rows));
  $('undo-all').addEventListener('click', () => {
    for (const row of rows.filter(isDirty)) {
      for (const [name, input] of Object.entries(row.inputs)) input.value = row.loaded[name];
      touch(row);
    }
  });
  window.addEventListener('beforeunload', (event) => {
    if (rows.some(isDirty)) event.preventDefault();
  });

  const fromHash = location.hash.slice(1);
  const start = kDays.some((d) => d[0] === fromHash) ? fromHash : kDays[new Date().getDay()][0];
  choose(start, true);
})();
