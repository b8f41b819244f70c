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
  const $ = (id) => document.getElementById(id);
  const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

  // --- Find all devices ------------------------------------------------------

  const isState = (d) => (d && typeof d.state === 'string' && Array.isArray(d.found) ? '' : 'no "state"');

  function showFound(state) {
    const body = $('found').tBodies[0];
    body.replaceChildren();
    for (const e of state.found) {
      const here = e.address === state.device.address ? 'these pages' : '';
      body.appendChild(el('tr', { 'data-address': String(e.address) },
        el('td', { class: 'num', text: String(e.address) }),
        el('td', { text: e.note ? '—' : e.firmware }),
        el('td', { text: e.note ? '—' : e.version }),
        el('td', { text: e.note || here })));
    }
    if (state.state === 'done' && state.found.length === 0) {
      body.appendChild(el('tr', { class: 'empty' }, el('td', { colspan: '4', text: 'No device answers.' })));
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
        notice('find-notice', 'error', start.message, { label: 'Try again', run: findAll });
        $('find-all').disabled = false;
        return;
      }
    }
    for (;;) {
      const reply = await Ktr.api.getJson('/find_all.cgi', isState);
      if (!reply.ok) {
        notice('find-notice', 'error', reply.message, { label: 'Try again', run: findAll });
        break;
      }
      const s = reply.data;
      $('find-progress').value = s.state === 'done' ? s.total : s.position;
      $('find-progress').max = s.total;
      showFound(s);
      if (s.state !== 'running') {
        const n = s.found.filter((e) => !e.note).length;
        notice('find-notice', 'ok', n + ' KTR device' + (n === 1 ? '' : 's') + ' on addresses 1-' + s.total +
          ' (' + (s.elapsed_ms / 1000).toFixed(1) + ' s).');
        break;
      }
      notice('find-notice', 'busy', s.phase === 'check'
        ? 'Checking the ' + s.candidates.length + ' addresses that answered…'
        : s.position === 0 ? 'Starting the search: waiting for the requests of the pages to end…'
          : 'Probing address ' + s.position + ' of ' + s.total + ', ' + s.candidates.length + ' answered so far…');
      await sleep(300);
    }
    Ktr.device.pause(false);
    Ktr.device.refresh();
    $('find-all').disabled = false;
  }

  // --- Save -------------------------------------------------------------------

  async function readDevice(what) {
    return F.read((i, n) => notice('file-notice', 'busy', what + ' (' + (i + 1) + ' of ' + n + ')…'));
  }

  async function save() {
    $('save-config').disabled = true;
    const reply = await readDevice('Reading the configuration');
    $('save-config').disabled = false;
    if (!reply.ok) {
      notice('file-notice', 'error', reply.message + ' Nothing was saved.', { label: 'Try again', run: save });
      return;
    }
    const blob = new Blob([F.fileText(reply.doc)], { type: 'application/json' });
    const link = el('a', { href: URL.createObjectURL(blob), download: 'ktr-address-' + reply.doc.address + '.json' });
    document.body.appendChild(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(link.href), 10000);
    notice('file-notice', 'ok', 'Configuration of address ' + reply.doc.address + ' saved as ' + link.download + '.');
  }

  // --- Load, preview, write -----------------------------------------------------

  let plan = null;  // { file, device, changes } while a preview is shown

  function clearPreview() {
    plan = null;
    $('preview').hidden = true;
    $('preview-rows').replaceChildren();
    notice('firmware-notice', '', '');
  }

  function row(change) {
    return el('tr', { 'data-name': change.name, class: change.path ? '' : 'unused' },
      el('td', {}, el('code', { text: change.name })),
      el('td', { text: change.from }),
      el('td', { text: change.to }),
      el('td', { class: 'result', text: change.path ? '' : 'not written: ' + change.note }));
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
    $('write-config').textContent = 'Write ' + writable + ' change' + (writable === 1 ? '' : 's');
  }

  async function load(event) {
    clearPreview();
    const input = event.target;
    const picked = input.files && input.files[0];
    input.value = '';
    if (!picked) return;
    const checked = F.check(await picked.text());
    if (!checked.ok) {
      notice('file-notice', 'error', picked.name + ': ' + checked.error + '. Nothing will be written.');
      return;
    }
    const device = await readDevice('Reading the device to compare');
    if (!device.ok) {
      notice('file-notice', 'error', device.message + ' Nothing was written.');
      return;
    }
    plan = { file: checked.doc, device: device.doc, changes: F.differences(device.doc, checked.doc),
      firmware: F.firmwareDifference(device.doc, checked.doc), name: picked.name };
    $('preview-rows').replaceChildren(...plan.changes.map(row));
    $('preview').hidden = false;
    $('config-force-row').hidden = !plan.firmware;
    $('config-force').checked = false;
    if (plan.firmware) notice('firmware-notice', 'error', plan.firmware + ' Write only if the devices are alike.');
    $('write-progress').value = 0;
    $('write-progress').max = Math.max(1, plan.changes.filter((c) => c.path).length);
    notice('file-notice', 'info', plan.changes.length === 0
      ? picked.name + ': the device already holds every value of the file.'
      : picked.name + ' (address ' + checked.doc.address + ', taken ' + checked.doc.taken + '): ' +
        plan.changes.length + ' difference' + (plan.changes.length === 1 ? '' : 's') + ' with the device.' +
        (checked.lacks ? ' ' + checked.lacks : ''));
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
    for (let i = 0; i < todo.length; ++i) {
      const c = todo[i];
      notice('file-notice', 'busy', 'Writing ' + (i + 1) + ' of ' + todo.length + ': ' + c.name + '…');
      const reply = c.path === '/run_config.cgi'
        ? await Ktr.api.postCommand(c.path) : await Ktr.api.postAnswer(c.path, c.body);
      $('write-progress').value = i + 1;
      if (reply.ok) {
        c.written = true;
        ++written;
        setResult(c, 'written', 'dirty');
        continue;
      }
      const exception = reply.kind === 'device' && /^exception/.test(reply.deviceStatus);
      if (reply.kind === 'refused' || exception) {
        ++refused;
        setResult(c, 'refused: ' + reply.message, 'mismatch');
        continue;
      }
      // The device (or the configurator) stopped answering: nothing more is
      // sent, nothing is retried.
      stopped = c.name + ': ' + reply.message;
      setResult(c, 'failed: ' + reply.message, 'mismatch');
      for (const rest of todo.slice(i + 1)) setResult(rest, 'not written', 'unused');
      break;
    }
    let verified = 0;
    if (!stopped && written > 0) {
      const back = await readDevice('Reading the device back');
      if (!back.ok) {
        stopped = 'the read-back failed: ' + back.message;
      } else {
        for (const c of todo.filter((x) => x.written)) {
          const now = c.value(back.doc);
          if (now === c.expected) {
            ++verified;
            setResult(c, 'written, verified', 'saved');
          } else {
            setResult(c, 'written, but the device holds ' + now, 'mismatch');
          }
        }
      }
    }
    const summary = written + ' written, ' + verified + ' verified, ' + refused + ' refused';
    if (stopped) {
      notice('file-notice', 'error', 'Stopped at ' + stopped + ' (' + summary + '; the rest was not written).');
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
