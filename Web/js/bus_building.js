// Bus page, a building of devices: give a new device (factory address 1)
// its address, write one configuration file to several devices, set the
// clock of every device found from this computer, and the commissioning
// report of what was done to each device, saved as CSV.
//
// The configurator works on one device at a time: each step chooses the
// device it works on (/select_device.cgi, which reads its firmware first)
// and goes back to the device these pages showed when it ends.
'use strict';

(function () {
  if (!Ktr.page.ready) return;
  const { el, notice } = Ktr.page;
  const F = Ktr.configFile;
  const $ = (id) => document.getElementById(id);

  // The steps on one device, by the name the code gives them.
  const kSteps = { 'is it free': 'free', 'choosing it': 'choosing', reading: 'reading', writing: 'writing',
    'reading back': 'readingBack', 'setting the clock': 'clock' };
  // The texts of this part of the page (the tables' "building.*" keys).
  const t = Ktr.t;
  const T = {
    badAddress: (text) => t('building.badAddress', { text }),
    noAddresses: t('building.noAddresses'),
    twice: (a) => t('building.twice', { a }),
    assignTitle: t('building.assignTitle'),
    assignText: (n) => t('building.assignText', { n }),
    assignOk: (n) => t('building.assignOk', { n }),
    inUse: (n, fw) => t('building.inUse', { n, fw }),
    noNew: (why) => t('building.noNew', { why }),
    writing: (n) => t('building.writing', { n }),
    moved: (n, fw) => t('building.moved', { n, fw }),
    stillOld: (n) => t('building.stillOld', { n }),
    applyNow: t('building.applyNow'),
    checkAgain: t('building.checkAgain'),
    nowhere: (n) => t('building.nowhere', { n }),
    pickFile: t('building.pickFile'),
    badFile: (name, why) => t('building.badFile', { name, why }),
    deviceStep: (a, i, n, what, params) =>
      t('building.deviceStep', { a, i: i + 1, n, what: t('building.step.' + kSteps[what], params) }),
    silent: (why) => t('building.silent', { why }),
    otherFirmware: (why) => t('building.otherFirmware', { why }),
    stopped: (name, why) => t('building.stopped', { name, why }),
    summary: (w, v, r) => (r ? t('bus.file.summary', { written: w, verified: v, refused: r })
      : t('building.summary', { written: w, verified: v })),
    noChange: t('building.noChange'),
    manyDone: (ok, n) => t('building.manyDone', { ok, n }),
    findFirst: t('building.findFirst'),
    clockSet: (time) => t('building.clockSet', { time }),
    clockOff: (time) => t('building.clockOff', { time }),
    clocksDone: (ok, n) => t('building.clocksDone', { ok, n }),
    back: (a) => ' ' + t('building.back', { a }),
    reportEmpty: t('building.reportEmpty'),
    // The report file keeps one layout in every language (a file for other
    // programs as much as for people); the page names its columns in words.
    csvHead: ['address', 'firmware', 'version', 'clock', 'configuration file', 'applied', 'verified', 'time'],
    columnNames: ['bus.all.address', 'home.firmware', 'bus.all.version', 'building.report.clock', 'bus.file',
      'building.report.applied', 'building.report.verified', 'building.report.time'].map((key) => t(key)),
    saved: (name) => t('building.saved', { name }),
    notWritten: (why) => t('bus.file.notWritten', { why }),
    notSet: (why) => t('building.notSet', { why }),
    address: (a, text) => t('building.address', { a, text }),
    // "yes", "no", "partly" as the report keeps them, in words.
    value: (v) => (v ? t('building.value.' + v) : ''),
  };

  // --- the report -------------------------------------------------------------

  const kReportKey = 'ktr.report';
  const report = new Map();
  try {
    for (const row of JSON.parse(sessionStorage.getItem(kReportKey) || '[]')) report.set(row.address, row);
  } catch (error) {
    // No storage: the report lasts for this page.
  }

  function stamp() {
    const d = new Date();
    return Ktr.fields.computerDate(d) + ' ' + Ktr.fields.computerTime(d);
  }

  function note(address, fields) {
    const row = report.get(address) ||
      { address, firmware: '', version: '', clock: '', file: '', applied: '', verified: '', time: '' };
    Object.assign(row, fields);
    if (fields.clock !== undefined || fields.applied !== undefined) row.time = stamp();
    report.set(address, row);
    try {
      sessionStorage.setItem(kReportKey, JSON.stringify([...report.values()]));
    } catch (error) {
      // As above.
    }
    showReport();
  }

  const columns = (r) => [String(r.address), r.firmware, r.version, r.clock, r.file, r.applied, r.verified, r.time];
  // As the page shows them: "set 2026-12-09 ...", "yes", "no" and "partly" in words.
  const clockText = (c) => (c === 'not set' ? t('building.clock.notSet')
    : c.startsWith('set ') ? t('building.clock.set', { time: c.slice(4) }) : c);
  const shown = (r) => [String(r.address), r.firmware, r.version, clockText(r.clock || ''), r.file, T.value(r.applied),
    T.value(r.verified), r.time];

  function showReport() {
    const body = $('report').tBodies[0];
    const rows = [...report.values()].sort((a, b) => a.address - b.address);
    body.replaceChildren(...rows.map((r) => el('tr', { 'data-address': String(r.address) },
      ...shown(r).map((text, i) => el('td', { class: i === 0 ? 'num' : '', 'data-label': T.columnNames[i],
        text: text || '—' })))));
    if (rows.length === 0) {
      body.appendChild(el('tr', { class: 'empty' }, el('td', { colspan: String(T.csvHead.length), text: T.reportEmpty })));
    }
    $('save-report').disabled = rows.length === 0;
  }

  function csv() {
    const cell = (text) => (/[",\n;]/.test(text) ? '"' + text.replace(/"/g, '""') + '"' : text);
    const rows = [...report.values()].sort((a, b) => a.address - b.address);
    return [T.csvHead, ...rows.map(columns)].map((r) => r.map((t) => cell(String(t))).join(',')).join('\r\n') + '\r\n';
  }

  function saveReport() {
    const name = 'ktr-commissioning-' + Ktr.fields.computerDate(new Date()) + '.csv';
    const link = el('a', { href: URL.createObjectURL(new Blob([csv()], { type: 'text/csv' })), download: name });
    document.body.appendChild(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(link.href), 10000);
    notice('report-notice', 'ok', T.saved(name));
  }

  // The devices a search found go into the report.
  Ktr.device.onChange((device) => {
    for (const d of device.found.filter((x) => !x.note)) {
      if (!report.has(d.address)) note(d.address, { firmware: d.firmware, version: d.version });
    }
  });

  // --- addresses and devices ------------------------------------------------------

  // "2, 3, 7" -> [2, 3, 7], or { error }.
  function parseAddresses(text) {
    const pieces = String(text).split(/[\s,;]+/).filter((p) => p !== '');
    if (pieces.length === 0) return { error: T.noAddresses };
    const list = [];
    for (const p of pieces) {
      const n = /^\d{1,3}$/.test(p) ? Number(p) : NaN;
      if (!(n >= 1 && n <= 247)) return { error: T.badAddress(p) };
      if (list.includes(n)) return { error: T.twice(n) };
      list.push(n);
    }
    return { list };
  }

  // Makes `address` the device in use, without asking and without leaving
  // the page. Resolves with { ok, firmware, version, why }.
  async function use(address) {
    const reply = await Ktr.api.postAnswer('/select_device.cgi', 'address=' + address, { noIsAnswer: true });
    if (!reply.ok) return { ok: false, why: reply.message };
    if (reply.data.answer !== 'yes') return { ok: false, answered: false, why: reply.data.reason };
    Ktr.api.pageAddress = reply.data.address;
    return { ok: true, firmware: reply.data.firmware, version: reply.data.version };
  }

  // Back to the device these pages showed; its text for the notice.
  async function backTo(address) {
    if (!address || Ktr.api.pageAddress === address) return address ? T.back(address) : '';
    const r = await use(address);
    await Ktr.device.refresh();
    return r.ok ? T.back(address) : '';
  }

  function busy(on) {
    for (const id of ['assign-address', 'write-many', 'clock-all']) $(id).disabled = on;
    Ktr.device.pause(on);
  }

  // --- a new device to its address ---------------------------------------------

  async function assign() {
    const text = $('new-address').value.trim();
    const parsed = parseAddresses(text);
    if (parsed.error || parsed.list.length !== 1 || parsed.list[0] === 1) {
      notice('assign-notice', 'error', parsed.error || T.badAddress(text));
      return;
    }
    const n = parsed.list[0];
    if (!(await Ktr.page.confirm(T.assignTitle, T.assignText(n), T.assignOk(n)))) return;
    busy(true);
    try {
      const original = Ktr.api.pageAddress;
      notice('assign-notice', 'busy', T.deviceStep(n, 0, 1, 'is it free'));
      const target = await use(n);
      if (target.ok) {
        notice('assign-notice', 'error', T.inUse(n, target.firmware + ' ' + target.version) + await backTo(original));
        return;
      }
      const fresh = await use(1);
      if (!fresh.ok) {
        notice('assign-notice', 'error', T.noNew(fresh.why) + await backTo(original));
        return;
      }
      notice('assign-notice', 'busy', T.writing(n));
      // As the Device page writes it; the reply says "yes" either way, so
      // where the device answers afterwards is what counts.
      await Ktr.api.postAnswer('/setdata.cgi', 'diad=' + n);
      await check(n, original);
    } finally {
      busy(false);
      Ktr.device.refresh();
    }
  }

  async function check(n, original) {
    const moved = await use(n);
    if (moved.ok) {
      note(n, { firmware: moved.firmware, version: moved.version });
      notice('assign-notice', 'ok', T.moved(n, moved.firmware + ' ' + moved.version));
      return;
    }
    const old = await use(1);
    if (old.ok) {
      notice('assign-notice', 'error', T.stillOld(n), { label: T.applyNow, run: async () => {
        if (!(await Ktr.page.confirm(T.applyNow, T.stillOld(n), T.applyNow))) return;
        await Ktr.api.postCommand('/run_config.cgi');
        await check(n, original);
        Ktr.device.refresh();
      } });
      return;
    }
    notice('assign-notice', 'error', T.nowhere(n) + await backTo(original));
  }

  // --- one file to several devices -----------------------------------------------

  // Writes what differs to the device in use and reads it back. Resolves
  // with { applied, verified, text }.
  async function applyFile(file, force, progress) {
    const device = await F.read(() => progress('reading'));
    if (!device.ok) return { applied: 'no', verified: 'no', text: T.notWritten(device.message) };
    const firmware = F.firmwareDifference(device.doc, file);
    if (firmware && !force) return { applied: 'no', verified: 'no', text: T.otherFirmware(firmware) };
    const todo = F.differences(device.doc, file).filter((c) => c.path);
    if (todo.length === 0) return { applied: 'yes', verified: 'yes', text: T.noChange };
    let written = 0;
    let refused = 0;
    let stopped = '';
    for (const c of todo) {
      progress('writing', { name: c.name });
      const reply = c.path === '/run_config.cgi'
        ? await Ktr.api.postCommand(c.path) : await Ktr.api.postAnswer(c.path, c.body);
      if (reply.ok) {
        c.written = true;
        ++written;
      } else if (reply.kind === 'refused' || (reply.kind === 'device' && /^exception/.test(reply.deviceStatus))) {
        ++refused;
      } else {
        stopped = T.stopped(c.name, reply.message);
        break;
      }
    }
    let verified = 0;
    if (written > 0) {
      const back = await F.read(() => progress('reading back'));
      if (back.ok) verified = todo.filter((c) => c.written && c.value(back.doc) === c.expected).length;
      else if (!stopped) stopped = t('bus.file.backFailed') + ' ' + back.message;
    }
    const all = verified === todo.length;
    return {
      applied: written === todo.length ? 'yes' : written > 0 ? 'partly' : 'no',
      verified: all ? 'yes' : 'no',
      text: T.summary(written, verified, refused) + (stopped ? '; ' + stopped : ''),
    };
  }

  async function writeMany() {
    const picked = $('many-file').files && $('many-file').files[0];
    const parsed = parseAddresses($('many-addresses').value);
    if (parsed.error) {
      notice('many-notice', 'error', parsed.error);
      return;
    }
    if (!picked) {
      notice('many-notice', 'error', T.pickFile);
      return;
    }
    const checked = F.check(await picked.text());
    if (!checked.ok) {
      notice('many-notice', 'error', T.badFile(picked.name, checked.error));
      return;
    }
    busy(true);
    const results = $('many-results');
    results.replaceChildren();
    const original = Ktr.api.pageAddress;
    let good = 0;
    try {
      const list = parsed.list;
      for (let i = 0; i < list.length; ++i) {
        const a = list[i];
        const step = (what, params) => notice('many-notice', 'busy', T.deviceStep(a, i, list.length, what, params));
        step('choosing it');
        const chosen = await use(a);
        let result;
        if (!chosen.ok) {
          result = { applied: 'no', verified: 'no', text: T.notWritten(T.silent(chosen.why)) };
        } else {
          note(a, { firmware: chosen.firmware, version: chosen.version });
          result = await applyFile(checked.doc, $('many-force').checked, step);
        }
        if (result.verified === 'yes') ++good;
        note(a, { file: picked.name, applied: result.applied, verified: result.verified });
        results.appendChild(el('li', { class: result.verified === 'yes' ? 'ok' : 'failed', 'data-address': String(a),
          text: T.address(a, result.text) }));
      }
      notice('many-notice', good === list.length ? 'ok' : 'error', T.manyDone(good, list.length) +
        (checked.lacks ? ' ' + checked.lacks : '') + await backTo(original));
    } finally {
      busy(false);
    }
  }

  // --- every clock from this computer ------------------------------------------------

  async function clockAll() {
    const found = Ktr.device.state.found.filter((d) => !d.note).map((d) => d.address);
    if (found.length === 0) {
      notice('clock-notice', 'error', T.findFirst);
      return;
    }
    busy(true);
    const original = Ktr.api.pageAddress;
    const results = $('clock-results');
    results.replaceChildren();
    let good = 0;
    try {
      for (let i = 0; i < found.length; ++i) {
        const a = found[i];
        notice('clock-notice', 'busy', T.deviceStep(a, i, found.length, 'setting the clock'));
        const chosen = await use(a);
        let text;
        let ok = false;
        if (!chosen.ok) {
          text = T.notSet(T.silent(chosen.why));
        } else {
          // Date, then time, each from the computer's clock as it is sent.
          const date = await Ktr.api.postAnswer('/setdata.cgi', 'dt=' + Ktr.fields.computerDate(new Date()));
          const time = date.ok ? await Ktr.api.postAnswer('/setdata.cgi', 'tm=' + Ktr.fields.computerTime(new Date())) : date;
          const back = time.ok ? await Ktr.api.getJson('/get_time_data.cgi', (d) =>
            d && typeof d.date === 'string' && typeof d.time === 'string' ? '' : t('api.shape', { keys: 'date, time' })) : time;
          if (!back.ok) {
            text = T.notSet(back.message);
          } else {
            const read = back.data.date + ' ' + back.data.time;
            const drift = Math.abs(Date.parse(read.replace(' ', 'T')) - Date.now());
            ok = drift <= 2000;
            text = ok ? T.clockSet(read) : T.clockOff(read);
          }
        }
        if (ok) ++good;
        note(a, { clock: ok ? 'set ' + stamp() : 'not set' });
        results.appendChild(el('li', { class: ok ? 'ok' : 'failed', 'data-address': String(a),
          text: T.address(a, text) }));
      }
      notice('clock-notice', good === found.length ? 'ok' : 'error', T.clocksDone(good, found.length) + await backTo(original));
    } finally {
      busy(false);
    }
  }

  $('assign-address').addEventListener('click', assign);
  $('new-address').addEventListener('keydown', (event) => {
    if (event.key === 'Enter') assign();
  });
  $('write-many').addEventListener('click', writeMany);
  $('clock-all').addEventListener('click', clockAll);
  $('save-report').addEventListener('click', saveReport);
  showReport();
})();
