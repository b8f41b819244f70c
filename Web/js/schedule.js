// Weekly schedule page: one tab per day, read from
// /get_sched_data.cgi&sun ... &sat, written row by row through
// /set_sched_data.cgi:
//   the day switch:   day=mon&ena=1
//   a plan row:       day=mon&idx=2&tp_status=1&tp_time=07:30&tp_len=5
//   a length row:     day=mon&idx=4&s_len_ws=30&s_len_bb=10&s_len_eb=20
// Every request carries all values of its row. After each save the day is
// read again and every sent row is compared with what the device reports.
// A row that was not saved or not confirmed keeps what was typed; while the
// device does not answer, the day is read again every few seconds.
// "Copy this day to" writes the rows of other days that differ from the
// shown day and reads each of those days back.
'use strict';

(function () {
  if (!Ktr.page.ready) return;
  const { el, icon, notice } = Ktr.page;
  const F = Ktr.fields;
  const t = Ktr.t;
  const $ = (id) => document.getElementById(id);

  // [id, short name, name]; rows are numbered from 1 wherever a person
  // reads them (the request's "idx" is the row number - 1).
  const kDays = ['sun', 'mon', 'tue', 'wed', 'thu', 'fri', 'sat'].map((id) => [id, t('day.' + id + '.short'), t('day.' + id)]);
  const kPlanEntries = 20;
  const kLengthEntries = 5;
  // The device stores an entry without a time as minute 60 of hour 0, which
  // reads back as "00:60"; the page shows it as an empty time.
  const kNoTime = '00:60';
  // While the device does not answer, the day is read again this often.
  const kRecoverMs = 3000;

  // Row kinds: the inputs of a row, their checks and how they are sent.
  const kPlan = {
    table: 'plan',
    columns: [
      { name: 'status', key: 'tp_status', check: F.word, label: t('schedule.status.lower') },
      { name: 'time', key: 'tp_time', check: (text) => F.hhmm(text, true), label: t('schedule.time.lower'),
        placeholder: '--:--' },
      { name: 'len', key: 'tp_len', check: F.word, label: t('schedule.length.lower') },
    ],
    fromReply: (e) => ({ status: String(e.status), time: e.time === kNoTime ? '' : e.time, len: String(e.len) }),
    // What the device keeps of a sent plan row: status 0 is stored with
    // time 00:00 and length 1, whatever was sent.
    expected: (v) => (v.status === '0' ? { status: '0', time: '00:00', len: '1' } : v),
  };
  const kLength = {
    table: 'lengths',
    columns: [
      { name: 'ws', key: 's_len_ws', check: F.word, label: t('schedule.ws') },
      { name: 'bb', key: 's_len_bb', check: F.word, label: t('schedule.bb') },
      { name: 'eb', key: 's_len_eb', check: F.word, label: t('schedule.eb') },
    ],
    fromReply: (e) => ({ ws: String(e.len_ws), bb: String(e.len_bb), eb: String(e.len_eb) }),
    expected: (v) => v,
  };

  function checkDay(d) {
    const isWord = (v) => Number.isInteger(v) && v >= 0;
    if (!d || !isWord(d.ena)) return t('api.shape', { keys: 'ena' });
    if (!Array.isArray(d.plan) || d.plan.length !== kPlanEntries) return t('api.shape', { keys: 'plan[20]' });
    if (!d.plan.every((e) => e && isWord(e.status) && typeof e.time === 'string' && isWord(e.len))) {
      return t('api.shape', { keys: 'plan[].status, time, len' });
    }
    if (!Array.isArray(d.cfg) || d.cfg.length !== kLengthEntries) return t('api.shape', { keys: 'cfg[5]' });
    if (!d.cfg.every((e) => e && isWord(e.len_bb) && isWord(e.len_eb) && isWord(e.len_ws))) {
      return t('api.shape', { keys: 'cfg[].len_bb, len_eb, len_ws' });
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
        type: 'text', name: col.name, autocomplete: 'off', inputmode: 'numeric',
        placeholder: col.placeholder, 'aria-label': t('schedule.cell', { row: idx + 1, column: col.label }),
      });
      input.addEventListener('input', () => touch(row));
      // Enter saves the row, as it submits the settings forms.
      input.addEventListener('keydown', (event) => {
        if (event.key !== 'Enter' || event.isComposing) return;
        event.preventDefault();
        if (!busy && isDirty(row)) saveRows([row]);
      });
      row.inputs[col.name] = input;
      tr.appendChild(el('td', {}, input));
    }
    row.save = el('button', { type: 'button', class: 'secondary small save-row', disabled: true,
      'aria-label': t('schedule.saveRow', { row: idx + 1 }), onclick: () => saveRows([row]) }, icon('save'),
    ' ' + t('schedule.save'));
    row.error = el('td', { class: 'row-error', colspan: String(kind.columns.length + 2) });
    tr.appendChild(el('td', {}, el('span', { class: 'row-actions' }, row.save,
      el('span', { class: 'mark', 'aria-hidden': 'true' }, icon('check')))));
    row.errorRow = el('tr', { class: 'error-row', hidden: true }, row.error);
    $(kind.table).tBodies[0].append(tr, row.errorRow);
    return row;
  }

  const values = (row) => Object.fromEntries(Object.entries(row.inputs).map(([n, i]) => [n, i.value.trim()]));
  const isDirty = (row) => row.loaded !== null && Object.entries(values(row)).some(([n, v]) => v !== row.loaded[n]);

  // actions: buttons after the text, [{ label, run }].
  function showRowError(row, text, actions) {
    row.error.replaceChildren(text);
    for (const action of actions || []) {
      row.error.append(' ', el('button', { type: 'button', class: 'link', text: action.label, onclick: action.run }));
    }
    row.errorRow.hidden = !text;
  }

  // Plan entries in use whose times are out of order or the same.
  function orderProblems(list) {
    const used = list.filter((e) => e.status !== '0' && e.time !== '');
    const problems = [];
    for (let i = 1; i < used.length; ++i) {
      const [a, b] = [used[i - 1], used[i]];
      if (b.time === a.time) {
        problems.push(t('schedule.order.same', { a: a.idx + 1, b: b.idx + 1, time: a.time }));
      } else if (b.time < a.time) {
        problems.push(t('schedule.order.earlier', { b: b.idx + 1, btime: b.time, a: a.idx + 1, atime: a.time }));
      }
    }
    return problems;
  }

  function showOrder() {
    const list = rows.filter((r) => r.kind === kPlan && r.loaded !== null).map((r) => {
      const v = values(r);
      const time = F.hhmm(v.time, true);
      return { idx: r.idx, status: v.status, time: time.ok ? time.value : '' };
    });
    const problems = orderProblems(list);
    $('order-warning').textContent = problems.length ? t('schedule.order', { problems: problems.join(' ') }) : '';
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
      if (!result.ok && !problem) problem = t('schedule.cellError', { row: row.idx + 1, column: col.label, error: result.error });
    }
    row.tr.classList.toggle('invalid', Boolean(problem));
    showRowError(row, problem);
    row.save.disabled = busy || !dirty;
    if (row.kind === kPlan) row.tr.classList.toggle('unused', values(row).status === '0');
    if (row.kind === kPlan) showOrder();
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
    $('copy-day').disabled = yes || stale;
    updateButtons();
  }

  function fill(data) {
    $('day-panel').classList.remove('stale');
    ena = data.ena;
    $('ena').checked = data.ena !== 0;
    $('ena-label').textContent = data.ena === 0 || data.ena === 1 ? t('schedule.enabled')
      : t('schedule.enabledCode', { code: data.ena });
    for (const row of rows) {
      const entry = row.kind === kPlan ? data.plan[row.idx] : data.cfg[row.idx];
      row.loaded = row.kind.fromReply(entry);
      for (const [name, input] of Object.entries(row.inputs)) input.value = row.loaded[name];
      row.tr.classList.remove('dirty', 'invalid', 'saved', 'mismatch');
      showRowError(row, '');
      if (row.kind === kPlan) row.tr.classList.toggle('unused', row.loaded.status === '0');
    }
    showOrder();
    lastRead = Ktr.api.clock(new Date());
    stopRecovery();
  }

  // A failed read before anything was read shows no entries: the tables are
  // emptied and locked.
  function clear() {
    $('day-panel').classList.add('stale');
    ena = null;
    $('ena').checked = false;
    $('ena-label').textContent = t('schedule.enabled');
    for (const row of rows) {
      row.loaded = null;
      for (const input of Object.values(row.inputs)) input.value = '';
      row.tr.classList.remove('dirty', 'invalid', 'saved', 'mismatch', 'unused');
      showRowError(row, '');
    }
    showOrder();
  }

  // A failed read after a good one: the entries last read stay on show,
  // greyed out and locked, the changed rows keep what was typed, marked
  // "Not saved", and the day is read again until the device answers.
  function readFailed(text, action, detail) {
    if (rows.every((r) => r.loaded === null)) {
      clear();
    } else {
      $('day-panel').classList.add('stale');
      for (const row of rows.filter(isDirty)) {
        if (!row.error.textContent) showRowError(row, t('schedule.rowNotSaved', { row: row.idx + 1 }));
      }
    }
    setBusy(false);
    notice('day-notice', 'error', text + (lastRead ? ' ' + t('schedule.lastRead', { time: lastRead }) : ''),
      action, detail);
    startRecovery();
  }

  let lastRead = '';
  let recoverTimer = 0;
  function startRecovery() {
    if (!recoverTimer) recoverTimer = setTimeout(recover, kRecoverMs);
  }
  function stopRecovery() {
    if (recoverTimer) clearTimeout(recoverTimer);
    recoverTimer = 0;
  }
  async function recover() {
    recoverTimer = 0;
    if (busy || !$('day-panel').classList.contains('stale')) return;
    if (document.hidden) {
      startRecovery();
      return;
    }
    const shown = day;
    const reply = await readDay();
    if (busy || shown !== day) return;
    if (!reply.ok) {
      startRecovery();
      return;
    }
    const pending = fillKeeping(reply.data, []);
    setBusy(false);
    readNotice(pending);
  }

  // Fills the day and puts back the rows typed and not saved. Returns them.
  function fillKeeping(data, keep) {
    const kept = rows.filter((r) => isDirty(r) || keep.includes(r)).map((r) => [r, values(r)]);
    fill(data);
    for (const [row, v] of kept) {
      for (const [name, input] of Object.entries(row.inputs)) input.value = v[name];
      touch(row);
      if (isDirty(row) && !row.error.textContent) showRowError(row, t('schedule.rowNotSaved', { row: row.idx + 1 }));
    }
    return kept.map(([row]) => row).filter(isDirty);
  }

  function readNotice(pending) {
    const read = t('schedule.read', { day: dayName(day), time: lastRead });
    if (!pending.length) notice('day-notice', 'info', read);
    else {
      notice('day-notice', 'info', read + ' ' + t('schedule.pending', { rows: pending.map((r) => r.idx + 1).join(', ') }),
        { label: t('common.retrySave'), run: () => saveRows(rows) });
    }
  }

  const dayName = (id) => kDays.find((d) => d[0] === id)[2];
  const rowName = (kind, idx) => t(kind === kPlan ? 'schedule.planRow' : 'schedule.lengthRow', { row: idx + 1 });
  const readDay = () => Ktr.api.getJson('/get_sched_data.cgi&' + day, checkDay);

  async function load() {
    setBusy(true);
    notice('day-notice', 'busy', t('schedule.reading', { day: dayName(day) }));
    const reply = await readDay();
    if (reply.ok) {
      const pending = fillKeeping(reply.data, []);
      setBusy(false);
      readNotice(pending);
    } else {
      readFailed(reply.message, { label: t('common.tryAgain'), run: load }, reply.detail);
    }
  }

  // Reads the day back after writes and compares. sent: [{ row, values }].
  async function readBack(sent, failure, failureDetail) {
    notice('day-notice', 'busy', t('schedule.readingBack', { day: dayName(day) }));
    const pending = rows.filter((r) => isDirty(r) && !sent.some((s) => s.row === r)).map((r) => [r, values(r)]);
    const reply = await readDay();
    const retry = { label: t('common.retrySave'), run: () => saveRows(rows) };
    if (!reply.ok) {
      // Nothing is confirmed: every changed row keeps what was typed.
      readFailed(failure || t('schedule.readBackFailed') + ' ' + reply.message, retry,
        failure ? failureDetail : reply.detail);
      return false;
    }
    fill(reply.data);
    for (const [row, v] of pending) {
      for (const [name, input] of Object.entries(row.inputs)) input.value = v[name];
      touch(row);
      if (isDirty(row)) showRowError(row, t('schedule.rowNotSaved', { row: row.idx + 1 }));
    }
    const refused = [];
    for (const { row, values: v } of sent) {
      const want = row.kind.expected(v);
      const same = Object.entries(want).every(([n, x]) => row.loaded[n] === x);
      if (!same) {
        // The row keeps what was sent, so that Retry needs no retyping.
        const device = Object.assign({}, row.loaded);
        for (const [name, input] of Object.entries(row.inputs)) input.value = v[name];
        touch(row);
        const shown = (o) => row.kind.columns.map((c) => c.label + ' ' + (o[c.name] || t('schedule.empty'))).join(', ');
        showRowError(row, t('schedule.mismatch', { sent: shown(want), reported: shown(device) }), [
          { label: t('common.retry'), run: () => saveRows([row]) },
          { label: t('common.useDevice'), run: () => {
            for (const [name, input] of Object.entries(row.inputs)) input.value = device[name];
            touch(row);
          } },
        ]);
        refused.push(row.idx + 1);
      }
      row.tr.classList.add(same ? 'saved' : 'mismatch');
    }
    setBusy(false);
    if (failure) notice('day-notice', 'error', failure, retry, failureDetail);
    else if (refused.length) notice('day-notice', 'error', t('schedule.refused', { rows: refused.join(', ') }));
    return !failure && !refused.length;
  }

  async function saveRows(list) {
    const dirty = list.filter(isDirty);
    if (!dirty.length) return;
    const items = [];
    for (const row of dirty) {
      const entries = row.kind === kPlan ? kPlanEntries : kLengthEntries;
      if (!(Number.isInteger(row.idx) && row.idx >= 0 && row.idx < entries)) {
        notice('day-notice', 'error', t('schedule.outside', { row: row.idx + 1, n: entries }));
        return;
      }
      const pairs = [['day', day], ['idx', String(row.idx)]];
      const v = {};
      for (const col of row.kind.columns) {
        const result = col.check(row.inputs[col.name].value);
        if (!result.ok) {
          touch(row);
          row.inputs[col.name].focus();
          notice('day-notice', 'error', t('schedule.correct', { row: row.idx + 1 }));
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
    let failureDetail = '';
    for (const item of items) {
      notice('day-notice', 'busy', t('schedule.saving', { row: item.row.idx + 1 }));
      const reply = await Ktr.api.postAnswer('/set_sched_data.cgi', item.body);
      if (!reply.ok) {
        failure = t('schedule.rowFailed', { row: item.row.idx + 1 }) + ' ' + reply.message;
        failureDetail = reply.detail;
        break;
      }
      sent.push(item);
    }
    if (await readBack(sent, failure, failureDetail)) {
      const names = sent.map((s) => rowName(s.row.kind, s.row.idx));
      notice('day-notice', 'ok', t('schedule.saved', { rows: names.join(', ') }));
    }
  }

  async function saveEnable() {
    const want = $('ena').checked ? '1' : '0';
    setBusy(true);
    notice('day-notice', 'busy', t(want === '1' ? 'schedule.enabling' : 'schedule.disabling', { day: dayName(day) }));
    const reply = await Ktr.api.postAnswer('/set_sched_data.cgi', F.body([['day', day], ['ena', want]]));
    const ok = await readBack([], reply.ok ? '' : t('schedule.switchFailed') + ' ' + reply.message, reply.detail);
    if (!ok) return;
    if (String(ena) === want) {
      notice('day-notice', 'ok', t(want === '1' ? 'schedule.enabledDone' : 'schedule.disabledDone', { day: dayName(day) }));
    } else {
      notice('day-notice', 'error', t('schedule.switchRefused', { code: ena }));
    }
  }

  // Copy this day to others -------------------------------------------------

  // The rows of a day reply as the page compares them: [{ kind, idx, v }].
  function rowsOf(data) {
    return rows.map((r) => ({
      kind: r.kind, idx: r.idx, v: r.kind.fromReply(r.kind === kPlan ? data.plan[r.idx] : data.cfg[r.idx]),
    }));
  }
  const sameValues = (a, b) => Object.keys(a).every((n) => a[n] === b[n]);

  function rowBody(target, kind, idx, v) {
    const pairs = [['day', target], ['idx', String(idx)]];
    for (const col of kind.columns) pairs.push([col.key, v[col.name]]);
    return F.body(pairs);
  }

  // The dialog: one checkbox per other day, and "Monday to Friday".
  // Resolves with the chosen day ids, or null.
  function chooseDays() {
    return new Promise((resolve) => {
      const boxes = kDays.map(([id, , long]) => {
        const input = el('input', { type: 'checkbox', id: 'copy-' + id, value: id, disabled: id === day });
        return [id, input, el('label', { for: 'copy-' + id }, input, long)];
      });
      const ok = el('button', { type: 'button', class: 'primary', id: 'copy-ok', text: t('schedule.copy.ok'), disabled: true });
      const update = () => {
        ok.disabled = !boxes.some(([, input]) => input.checked);
      };
      for (const [, input] of boxes) input.addEventListener('change', update);
      const weekdays = el('button', { type: 'button', class: 'secondary small', id: 'copy-weekdays',
        text: t('schedule.copy.weekdays'), onclick: () => {
          for (const [id, input] of boxes) input.checked = !input.disabled && !['sun', 'sat'].includes(id);
          update();
        } });
      const dialog = el('dialog', { class: 'confirm', id: 'copy-dialog', 'aria-labelledby': 'copy-title' });
      const finish = (answer) => {
        dialog.close();
        dialog.remove();
        resolve(answer);
      };
      ok.addEventListener('click', () => finish(boxes.filter(([, i]) => i.checked).map(([id]) => id)));
      dialog.append(
        el('h2', { id: 'copy-title', text: t('schedule.copy.title', { day: dayName(day) }) }),
        el('p', { text: t('schedule.copy.text', { day: dayName(day) }) }),
        el('fieldset', { class: 'days' }, el('legend', { class: 'sr-only', text: t('schedule.copy.days') }),
          ...boxes.map(([, , label]) => label)),
        weekdays,
        el('div', { class: 'buttons' },
          el('button', { type: 'button', class: 'secondary', id: 'copy-cancel', text: t('common.cancel'),
            onclick: () => finish(null) }),
          ok));
      dialog.addEventListener('cancel', (event) => {
        event.preventDefault();
        finish(null);
      });
      document.body.appendChild(dialog);
      dialog.showModal();
      weekdays.focus();
    });
  }

  // Copies to one day: reads it, writes what differs, reads it back.
  // Returns { ok, text }.
  async function copyTo(target, source, sourceEna) {
    const name = dayName(target);
    const path = '/get_sched_data.cgi&' + target;
    notice('day-notice', 'busy', t('schedule.copy.reading', { day: name }));
    const before = await Ktr.api.getJson(path, checkDay);
    if (!before.ok) return { ok: false, text: t('schedule.copy.notRead', { day: name }) + ' ' + before.message, detail: before.detail };
    const theirs = rowsOf(before.data);
    const writes = [];
    if (before.data.ena !== sourceEna) writes.push(F.body([['day', target], ['ena', String(sourceEna)]]));
    source.forEach((row, i) => {
      if (!sameValues(row.v, theirs[i].v)) writes.push(rowBody(target, row.kind, row.idx, row.v));
    });
    for (let i = 0; i < writes.length; ++i) {
      notice('day-notice', 'busy', t('schedule.copy.writing', { day: name, i: i + 1, n: writes.length }));
      const reply = await Ktr.api.postAnswer('/set_sched_data.cgi', writes[i]);
      if (!reply.ok) {
        return { ok: false, text: t('schedule.copy.stopped', { day: name, i, n: writes.length }) + ' ' + reply.message,
          detail: reply.detail };
      }
    }
    const after = await Ktr.api.getJson(path, checkDay);
    if (!after.ok) {
      return { ok: false, text: t('schedule.copy.backFailed', { day: name, n: writes.length }) + ' ' + after.message,
        detail: after.detail };
    }
    const now = rowsOf(after.data);
    const wrong = source.filter((row, i) => !sameValues(row.v, now[i].v))
      .map((row) => rowName(row.kind, row.idx));
    if (after.data.ena !== sourceEna) wrong.unshift(t('schedule.daySwitch'));
    if (wrong.length) return { ok: false, text: t('schedule.copy.refused', { day: name, rows: wrong.join(', ') }) };
    return { ok: true, text: writes.length ? t('schedule.copy.written', { day: name, n: writes.length })
      : t('schedule.copy.same', { day: name }) };
  }

  async function copyDay() {
    if (rows.some(isDirty)) {
      notice('day-notice', 'error', t('schedule.copy.dirty', { day: dayName(day) }));
      return;
    }
    const targets = await chooseDays();
    if (!targets || !targets.length) return;
    const source = rows.map((r) => ({ kind: r.kind, idx: r.idx, v: r.loaded }));
    const sourceEna = ena;
    setBusy(true);
    const results = [];
    for (const target of targets) results.push(await copyTo(target, source, sourceEna));
    setBusy(false);
    const ok = results.every((r) => r.ok);
    const detail = results.map((r) => r.detail).filter(Boolean).join(' ');
    notice('day-notice', ok ? 'ok' : 'error', t('schedule.copy.done', { day: dayName(day) }) + ' ' +
      results.map((r) => r.text).join(' '), null, detail);
    if ($('week').open) showWeek();
  }

  // Week overview: the times of the entries in use, one column per day.
  async function showWeek() {
    const box = $('week-table');
    box.replaceChildren(el('p', { class: 'note', text: t('schedule.week.reading') }));
    const days = [];
    for (const [id] of kDays) days.push(await Ktr.api.getJson('/get_sched_data.cgi&' + id, checkDay));
    const columns = days.map((reply) => (reply.ok
      ? reply.data.plan.filter((e) => e.status !== 0).map((e) => (e.time === kNoTime ? t('schedule.noTime') : e.time))
      : null));
    const height = Math.max(1, ...columns.map((c) => (c ? c.length : 1)));
    const head = el('tr', {}, ...kDays.map(([, short, long], i) => el('th', { scope: 'col', title: long },
      short + (days[i].ok && days[i].data.ena === 0 ? ' ' + t('schedule.week.off') : ''))));
    const body = el('tbody');
    for (let r = 0; r < height; ++r) {
      body.appendChild(el('tr', {}, ...columns.map((c, i) => {
        if (c === null) return el('td', { class: 'off', text: r === 0 ? t('schedule.week.notRead') : '' });
        const text = c[r] || (r === 0 && !c.length ? '—' : '');
        return el('td', { class: days[i].data.ena === 0 ? 'off' : '', text });
      })));
    }
    box.replaceChildren(el('div', { class: 'table-wrap' }, el('table', { class: 'week', id: 'week-grid' },
      el('thead', {}, head), body)));
    const failed = days.find((d) => !d.ok);
    if (failed) box.appendChild(el('p', { class: 'error', text: failed.message }));
  }

  async function choose(id, force) {
    if (id === day && !force) return;
    if (!force && rows.some(isDirty)) {
      const discard = await Ktr.page.confirm(t('frame.unsaved.title'), t('schedule.discard', { day: dayName(day) }),
        t('schedule.discard.ok'), true);
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
    if (rows.some(isDirty) && !(await Ktr.page.confirm(t('frame.unsaved.title'), t('schedule.reloadDiscard'),
      t('form.reload'), true))) return;
    load();
  });
  $('save-all').addEventListener('click', () => saveRows(rows));
  $('undo-all').addEventListener('click', () => {
    for (const row of rows.filter(isDirty)) {
      for (const [name, input] of Object.entries(row.inputs)) input.value = row.loaded[name];
      touch(row);
    }
  });
  Ktr.page.guardUnsaved(() => rows.some(isDirty));
  $('copy-day').addEventListener('click', copyDay);
  $('week').addEventListener('toggle', () => {
    if ($('week').open) showWeek();
  });

  const fromHash = location.hash.slice(1);
  const start = kDays.some((d) => d[0] === fromHash) ? fromHash : kDays[new Date().getDay()][0];
  choose(start, true);
})();
