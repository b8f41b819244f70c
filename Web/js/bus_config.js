// Bus page, the parts for many devices: "Find all devices" (/find_all.cgi,
// which searches in the background and is asked for its state), and
// "Save configuration to a file" / "Load a file": a preview of what differs,
// then the writes through the pages' own endpoints with a result per row and
// the device read back.
'use strict';

(function () {
  if (!Ktr.page.ready) return;
  const { el, notice } = Ktr.page;
  const F = Ktr.configFile;
  const t = Ktr.t;
  const $ = (id) => document.getElementById(id);
  const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

  // --- Find all devices ------------------------------------------------------

  const isState = (d) => (d && typeof d.state === 'string' && Array.isArray(d.found) ? '' : t('api.shape', { keys: 'state, found' }));

  function showFound(state) {
    const body = $('found').tBodies[0];
    body.replaceChildren();
    for (const e of state.found) {
      const here = e.address === state.device.address ? t('bus.all.here') : '';
      body.appendChild(el('tr', { 'data-address': String(e.address) },
        el('td', { class: 'num', text: String(e.address) }),
        el('td', { text: e.note ? '—' : e.firmware }),
        el('td', { text: e.note ? '—' : e.version }),
        el('td', { text: e.note || here })));
    }
    if (state.state === 'done' && state.found.length === 0) {
      body.appendChild(el('tr', { class: 'empty' }, el('td', { colspan: '4', text: t('bus.all.none') })));
    }
  }

  async function findAll() {
    $('find-all').disabled = true;
    // The search itself tells whether the bus answers: no checks meanwhile.
    Ktr.device.pause(true);
    const start = await Ktr.api.postAnswer('/find_all.cgi', 'start=1');
    if (!start.ok) {
      // "no": a search runs already (another tab); follow it.
      if (start.kind !== 'refused') {
        notice('find-notice', 'error', start.message, { label: t('common.tryAgain'), run: findAll }, start.detail);
        $('find-all').disabled = false;
        return;
      }
    }
    for (;;) {
      const reply = await Ktr.api.getJson('/find_all.cgi', isState);
      if (!reply.ok) {
        notice('find-notice', 'error', reply.message, { label: t('common.tryAgain'), run: findAll }, reply.detail);
        break;
      }
      const s = reply.data;
      $('find-progress').value = s.state === 'done' ? s.total : s.position;
      $('find-progress').max = s.total;
      showFound(s);
      if (s.state !== 'running') {
        const n = s.found.filter((e) => !e.note).length;
        notice('find-notice', n ? 'ok' : 'error', t('bus.all.found', { n, total: s.total,
          seconds: (s.elapsed_ms / 1000).toFixed(1) }) + (n ? '' : ' ' + t('bus.all.noneCheck')));
        break;
      }
      notice('find-notice', 'busy', s.phase === 'check'
        ? t('bus.all.checking', { n: s.candidates.length })
        : s.position === 0 ? t('bus.all.starting')
          : t('bus.all.probing', { position: s.position, total: s.total, n: s.candidates.length }));
      await sleep(300);
    }
    Ktr.device.pause(false);
    Ktr.device.refresh();
    $('find-all').disabled = false;
  }

  // --- Save -------------------------------------------------------------------

  async function readDevice(what) {
    return F.read((i, n) => notice('file-notice', 'busy', t('bus.file.step', { what, i: i + 1, n })));
  }

  async function save() {
    $('save-config').disabled = true;
    const reply = await readDevice(t('bus.file.reading'));
    $('save-config').disabled = false;
    if (!reply.ok) {
      notice('file-notice', 'error', reply.message + ' ' + t('bus.file.notSaved'), { label: t('common.tryAgain'), run: save },
        reply.detail);
      return;
    }
    const blob = new Blob([F.fileText(reply.doc)], { type: 'application/json' });
    const link = el('a', { href: URL.createObjectURL(blob), download: 'ktr-address-' + reply.doc.address + '.json' });
    document.body.appendChild(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(link.href), 10000);
    notice('file-notice', 'ok', t('bus.file.saved', { address: reply.doc.address, file: link.download }));
  }

  // --- Load, preview, write -----------------------------------------------------

  // The time a file was taken ("2026-12-09T17:21:27Z") as the pages write
  // dates and times: the device's "YYYY-MM-DD" and HH:MM:SS, in UTC.
  const takenText = (taken) => {
    const m = /^(\d{4}-\d\d-\d\d)T(\d\d:\d\d:\d\d)Z$/.exec(taken);
    return m ? m[1] + ' ' + m[2] + ' UTC' : taken;
  };

  let plan = null;  // { file, device, changes } while a preview is shown

  function clearPreview() {
    plan = null;
    $('preview').hidden = true;
    $('preview-rows').replaceChildren();
    notice('firmware-notice', '', '');
  }

  // A difference by its plain name, with the name ktr-cli restore prints in
  // small type below it.
  const kSensorFields = { ad: 'settings.sensorAddress', un: 'settings.unit', mo: 'settings.mode',
    rf: 'settings.refresh' };
  function plainName(c) {
    if (c.section === 'display' || c.section === 'counter' || c.section === 'time') return t(c.section + '.' + c.key);
    if (c.section === 'settings') {
      const sensor = /^s([12])(ad|un|mo|rf)$/.exec(c.key);
      return sensor ? t('settings.sensor', { n: Number(sensor[1]) }) + ': ' + t(kSensorFields[sensor[2]])
        : t('settings.' + c.key);
    }
    if (c.section === 'schedule') {
      const name = t('day.' + c.day);
      const day = name.charAt(0).toUpperCase() + name.slice(1);
      if (c.key === 'ena') return day + ': ' + t('schedule.enabled');
      return day + ': ' + t(c.key === 'plan' ? 'schedule.planRow' : 'schedule.lengthRow', { row: c.row });
    }
    return t('bus.config.status');
  }

  // A value in words where the device gives its meaning (sensor unit and
  // mode, configuration status), else as it is.
  function valueText(c, text) {
    const code = /^\d+/.exec(text);
    const sensor = c.section === 'settings' && /^s[12](un|mo)$/.exec(c.key);
    if (sensor && code && Ktr.i18n.has('settings.' + (sensor[1] === 'un' ? 'unit.' : 'mode.') + code[0])) {
      return text + ' (' + t('settings.' + (sensor[1] === 'un' ? 'unit.' : 'mode.') + code[0]) + ')';
    }
    if (c.section === 'time' && c.key === 'dst' && code && (code[0] === '0' || code[0] === '1')) {
      return text + ' (' + t('time.dst.' + code[0]) + ')';
    }
    if (c.section === 'config_status' && code && (code[0] === '0' || code[0] === '1')) {
      return text + ' (' + t('bus.status.' + code[0]) + ')';
    }
    return text;
  }

  function row(change) {
    return el('tr', { 'data-name': change.name, class: change.path ? '' : 'unused' },
      el('td', {}, el('span', { class: 'name', text: plainName(change) }), ' ',
        el('code', { class: 'key', text: change.name, translate: 'no' })),
      el('td', { class: 'from', text: valueText(change, change.from) }),
      el('td', { class: 'to', text: valueText(change, change.to) }),
      el('td', { class: 'result', text: change.path ? '' : t('bus.file.notWritten', { why: change.note }) }));
  }

  function setResult(change, text, kind) {
    const tr = $('preview-rows').querySelector('tr[data-name="' + change.name + '"]');
    if (!tr) return;
    tr.querySelector('td.result').textContent = text;
    tr.className = kind || '';
  }

  function updateWriteButton() {
    const writable = plan ? plan.changes.filter((c) => c.path).length : 0;
    const blocked = plan && plan.firmware && !$('config-force').checked;
    $('write-config').disabled = !plan || writable === 0 || blocked;
    $('write-config').textContent = t('bus.file.write', { n: writable });
  }

  async function load(event) {
    clearPreview();
    const input = event.target;
    const picked = input.files && input.files[0];
    input.value = '';
    if (!picked) return;
    const checked = F.check(await picked.text());
    if (!checked.ok) {
      notice('file-notice', 'error', t('bus.file.bad', { file: picked.name }), null, checked.error);
      return;
    }
    const device = await readDevice(t('bus.file.comparing'));
    if (!device.ok) {
      notice('file-notice', 'error', device.message + ' ' + t('bus.file.nothingWritten'), null, device.detail);
      return;
    }
    plan = { file: checked.doc, device: device.doc, changes: F.differences(device.doc, checked.doc),
      firmware: F.firmwareDifference(device.doc, checked.doc), name: picked.name };
    $('preview-rows').replaceChildren(...plan.changes.map(row));
    $('preview').hidden = false;
    $('config-force-row').hidden = !plan.firmware;
    $('config-force').checked = false;
    if (plan.firmware) notice('firmware-notice', 'error', plan.firmware + ' ' + t('bus.file.alike'));
    $('write-progress').value = 0;
    $('write-progress').max = Math.max(1, plan.changes.filter((c) => c.path).length);
    // A file without differences needs no table, progress or write button.
    $('preview').hidden = plan.changes.length === 0;
    notice('file-notice', plan.changes.length === 0 ? 'ok' : 'info', (plan.changes.length === 0
      ? t('bus.file.same', { file: picked.name })
      : t('bus.file.differences', { file: picked.name, address: checked.doc.address,
        taken: takenText(checked.doc.taken), n: plan.changes.length })) + (checked.lacks ? ' ' + checked.lacks : ''));
    updateWriteButton();
  }

  async function write() {
    if (!plan) return;
    const current = plan;
    const todo = current.changes.filter((c) => c.path);
    $('write-config').disabled = true;
    $('load-config').disabled = true;
    let written = 0;
    let refused = 0;
    let stopped = '';
    let stoppedDetail = '';
    for (let i = 0; i < todo.length; ++i) {
      const c = todo[i];
      notice('file-notice', 'busy', t('bus.file.writing', { i: i + 1, n: todo.length, name: plainName(c) }));
      const reply = c.path === '/run_config.cgi'
        ? await Ktr.api.postCommand(c.path) : await Ktr.api.postAnswer(c.path, c.body);
      $('write-progress').value = i + 1;
      if (reply.ok) {
        c.written = true;
        ++written;
        setResult(c, t('bus.file.written'), 'dirty');
        continue;
      }
      const exception = reply.kind === 'device' && /^exception/.test(reply.deviceStatus);
      if (reply.kind === 'refused' || exception) {
        ++refused;
        setResult(c, t('bus.file.refused', { why: reply.message }), 'mismatch');
        continue;
      }
      // The device (or the configurator) stopped answering: nothing more is
      // sent, nothing is retried.
      stopped = plainName(c) + ': ' + reply.message;
      stoppedDetail = reply.detail;
      setResult(c, t('bus.file.failed', { why: reply.message }), 'mismatch');
      for (const rest of todo.slice(i + 1)) setResult(rest, t('bus.file.notWrittenShort'), 'unused');
      break;
    }
    let verified = 0;
    if (!stopped && written > 0) {
      const back = await readDevice(t('bus.file.readingBack'));
      if (!back.ok) {
        stopped = t('bus.file.backFailed') + ' ' + back.message;
        stoppedDetail = back.detail;
      } else {
        for (const c of todo.filter((x) => x.written)) {
          const now = c.value(back.doc);
          if (now === c.expected) {
            ++verified;
            setResult(c, t('bus.file.verified'), 'saved');
          } else {
            setResult(c, t('bus.file.holds', { value: valueText(c, now) }), 'mismatch');
          }
        }
      }
    }
    const summary = t('bus.file.summary', { written, verified, refused });
    if (stopped) {
      notice('file-notice', 'error', t('bus.file.stopped', { what: stopped, summary }), null, stoppedDetail);
    } else {
      notice('file-notice', verified === todo.length ? 'ok' : 'error', current.name + ': ' + summary + '.');
    }
    $('load-config').disabled = false;
    plan = null;
    updateWriteButton();
  }

  $('find-all').addEventListener('click', findAll);
  $('save-config').addEventListener('click', save);
  $('load-config').addEventListener('change', load);
  $('config-force').addEventListener('change', updateWriteButton);
  $('write-config').addEventListener('click', write);
  updateWriteButton();
})();
