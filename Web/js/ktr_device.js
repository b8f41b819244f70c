// The device bar of every page: which device the pages work on (its bus
// address and firmware), a choice of the devices found on the bus or any
// other address, and what the page notices about the device meanwhile: that
// it stopped answering, that another page chose another device, that a
// request waits behind the requests of other pages.
//
// The configurator works on one device at a time for all pages; choosing
// one is /select_device.cgi, which reads the device's firmware first and
// changes nothing when the address does not answer. /find_all.cgi without
// parameters tells, without asking the device, which device is in use and
// what the last search of the bus found.
'use strict';

var Ktr = window.Ktr || {};
window.Ktr = Ktr;

Ktr.device = (function () {
  // The texts of the bar (the tables' "device.*" keys).
  const t = Ktr.t;
  const kText = {
    inUse: (a) => t('device.inUse', { a }),
    unknownFirmware: t('device.unknownFirmware'),
    choose: t('device.choose'),
    other: t('device.other'),
    otherLabel: t('device.otherLabel'),
    use: t('device.use'),
    outOfRange: t('device.outOfRange'),
    confirmTitle: t('device.confirmTitle'),
    confirmText: (a) => t('device.confirmText', { a }),
    confirmOk: (a) => t('device.confirmOk', { a }),
    checking: (a) => t('device.checking', { a }),
    refused: (a, why) => t('device.refused', { a, why }),
    silent: (a, message) => t('device.silent', { a }) + ' ' + message,
    waiting: t('device.waiting'),
    reload: t('device.reload'),
    found: (d) => t('device.found', { a: d.address }) + (d.firmware ? ' · ' + d.firmware : ''),
  };
  // The pages that read the device every few seconds themselves notice a
  // silent device; the others get a short read of the configuration status
  // this often.
  const kCheckMs = 3000;

  const state = { address: 0, firmware: '', version: '', found: [] };
  const listeners = [];
  let paused = false;
  let timer = 0;
  let bar = null;

  const el = (...args) => Ktr.page.el(...args);
  const notice = (...args) => Ktr.page.notice(...args);

  // The firmware text with the version read beside it, unless the text
  // already carries it (a KTR device's does: "KTR Clock fw 0.35.4").
  function firmwareLabel(device) {
    if (!device.firmware) return '';
    return device.version && !device.firmware.includes(device.version)
      ? device.firmware + ' ' + device.version : device.firmware;
  }

  function changed() {
    if (!bar) return;
    const now = bar.querySelector('#device-now');
    now.replaceChildren(el('strong', { text: kText.inUse(state.address || '?') }),
      ' · ' + (state.firmware ? firmwareLabel(state) : kText.unknownFirmware));
    const select = bar.querySelector('#device-choice');
    const addresses = new Set(state.found.filter((d) => !d.note).map((d) => d.address));
    if (state.address) addresses.add(state.address);
    select.replaceChildren(...[...addresses].sort((a, b) => a - b).map((a) => {
      const known = state.found.find((d) => d.address === a) ||
        (a === state.address ? { address: a, firmware: state.firmware } : { address: a });
      return el('option', { value: String(a), text: kText.found(known), selected: a === state.address });
    }), el('option', { value: 'other', text: kText.other }));
    bar.querySelector('#device-other').hidden = true;
    for (const listener of listeners) listener(state);
  }

  function take(device, found) {
    if (!Ktr.api.pageAddress) Ktr.api.pageAddress = device.address;
    // The bar names the device this page shows; a switch made elsewhere is
    // the notice's to tell.
    if (device.address === Ktr.api.pageAddress) {
      state.address = device.address;
      state.firmware = device.firmware;
      state.version = device.version;
    }
    if (found) state.found = found;
    changed();
  }

  // The device in use and the last search's devices, from the configurator
  // (no device request).
  async function refresh() {
    const reply = await Ktr.api.getJson('/find_all.cgi', (d) =>
      d && d.device && Number.isInteger(d.device.address) && Array.isArray(d.found) ? '' : t('api.shape', { keys: 'device.address, found' }));
    if (reply.ok) take(reply.data.device, reply.data.found);
    return reply;
  }

  // Makes `address` the device of every page, after asking. Resolves with
  // the reply of /select_device.cgi, or null when nothing was sent.
  async function choose(address, options) {
    const n = Number(address);
    if (!Number.isInteger(n) || n < 1 || n > 247) {
      notice('device-notice', 'error', kText.outOfRange);
      return null;
    }
    if (!(options && options.noConfirm)) {
      const yes = await Ktr.page.confirm(kText.confirmTitle, kText.confirmText(n), kText.confirmOk(n));
      if (!yes) {
        changed();
        return null;
      }
    }
    notice('device-notice', 'busy', kText.checking(n));
    const reply = await Ktr.api.postAnswer('/select_device.cgi', 'address=' + n, { noIsAnswer: true });
    if (!reply.ok) {
      notice('device-notice', 'error', reply.message, null, reply.detail);
      return reply;
    }
    if (reply.data.answer !== 'yes') {
      notice('device-notice', 'error', kText.refused(state.address, reply.data.reason));
      changed();
      return reply;
    }
    notice('device-notice', '', '');
    Ktr.api.pageAddress = reply.data.address;
    take(reply.data);
    if (!(options && options.stay)) {
      // The page's values belong to the device it showed: read them again.
      location.reload();
    }
    return reply;
  }

  async function check() {
    timer = 0;
    if (!paused && !document.hidden && !Ktr.api.busy()) {
      // First what the configurator knows without the device: the device in
      // use, and whether a search of the bus runs (which tells about the bus
      // by itself: no device check then, so as not to slow it down).
      const state = await refresh();
      if (state.ok && Ktr.api.pageAddress && state.data.device.address !== Ktr.api.pageAddress) {
        show({ kind: 'switched', message: Ktr.api.switchedText(Ktr.api.pageAddress, state.data.device.address) });
      } else if (state.ok && state.data.state !== 'running') {
        show(await Ktr.api.getJson('/get_config_status.cgi', (d) =>
          d && Number.isInteger(d.value) ? '' : t('api.shape', { keys: 'value' })));
      }
    }
    timer = setTimeout(check, kCheckMs);
  }

  // What a device reply says about the device, in the bar; the page's own
  // parts hear of a problem too (a form then shows its values as old).
  const problemListeners = [];
  function show(reply) {
    if (reply.kind === 'switched') {
      notice('device-notice', 'error', reply.message, { label: kText.reload, run: () => location.reload() }, reply.detail);
    } else if (!reply.ok && reply.kind !== 'http' && reply.kind !== 'bad-reply') {
      notice('device-notice', 'error', kText.silent(Ktr.api.pageAddress || state.address, reply.message));
    } else if (reply.ok) {
      notice('device-notice', '', '');
      return;
    } else {
      return;
    }
    for (const listener of problemListeners) listener(reply);
  }

  function build() {
    const header = document.getElementById('top');
    if (!header || !Ktr.page.ready) return;
    const select = el('select', { id: 'device-choice', 'aria-label': kText.choose });
    const other = el('input', { id: 'device-other', type: 'number', min: '1', max: '247', inputmode: 'numeric',
      'aria-label': kText.otherLabel, placeholder: '1-247', hidden: true });
    const use = el('button', { type: 'button', class: 'secondary', id: 'device-use', text: kText.use });
    bar = el('div', { class: 'device-bar', id: 'device-bar' },
      el('span', { id: 'device-now' }),
      el('label', {}, kText.choose + ' ', select), other, use,
      el('div', { id: 'device-notice', 'aria-live': 'polite' }),
      el('div', { id: 'device-wait' }));
    header.after(bar);
    select.addEventListener('change', () => {
      other.hidden = select.value !== 'other';
      if (!other.hidden) other.focus();
    });
    const go = async () => {
      const value = select.value === 'other' ? other.value.trim() : select.value;
      if (select.value !== 'other' && Number(value) === state.address) return;
      if (!(await Ktr.page.leaveAllowed())) return;
      choose(value === '' ? NaN : Number(value));
    };
    use.addEventListener('click', go);
    other.addEventListener('keydown', (event) => {
      if (event.key === 'Enter') go();
    });
    Ktr.api.onWaiting((on) => notice('device-wait', on ? 'busy' : '', on ? kText.waiting : ''));
    changed();
    refresh();
    if (document.body.dataset.page !== 'home' && document.body.dataset.page !== 'login') {
      timer = setTimeout(check, kCheckMs);
    }
  }

  build();

  return {
    state, refresh, choose, show, kText, firmwareLabel,
    onChange: (listener) => listeners.push(listener),
    onProblem: (listener) => problemListeners.push(listener),
    // The Bus page pauses the checks while it searches the bus.
    pause: (on) => { paused = on; },
  };
})();
