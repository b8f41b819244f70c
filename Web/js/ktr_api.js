// Request layer of the configurator pages.
//
// Every call to the configurator's .cgi endpoints goes through Ktr.api, which
// turns each possible outcome into one reply object and records it in the
// activity list that every page shows:
//   - 200 with a body: the body (parsed as JSON where the caller asks);
//   - 200 with an empty body: the configurator could not open the serial
//     port, so the device is not reachable (the endpoints answer this way
//     instead of with an error status);
//   - 200 whose X-Device-Status header is not "ok": the port opened but the
//     device did not answer, or answered garbage or an exception; the body
//     is then built from the values last read, so it is no reading at all
//     (kind 'device', with .deviceStatus and the old .text);
//   - any other status: the server's own text, e.g. the 500 "'x' is not a
//     valid integer value" of a field that is no integer;
//   - no answer at all, or none within kTimeoutMs.
// Each failure carries .message, what went wrong and what to check in the
// reader's words, and where there is one .detail, the technical line (the
// device status header with its failed block, the path and the reply).
// The server does no percent-decoding of parameters, so bodies are sent as
// the exact key=value text (see Ktr.fields.body).
'use strict';

var Ktr = window.Ktr || {};
window.Ktr = Ktr;

Ktr.api = (function () {
  // A device request may wait for the device lock while the bus is searched
  // or another request runs; 20 s leaves room for that and still ends.
  const kTimeoutMs = 20000;
  const kActivityLimit = 60;

  const t = Ktr.t;
  const kNotReachable = t('api.notReachable');

  // What a device status header means, and what to check for it; the header
  // itself ("no-reply SET_10000_10005") goes to the detail line.
  const kDeviceProblems = ['port-error', 'no-reply', 'bad-reply', 'exception'];

  function deviceMessage(status) {
    const kind = String(status).split(' ')[0];
    return kDeviceProblems.includes(kind) ? t('api.device.' + kind) : t('api.device.other');
  }
  const deviceDetail = (status) => t('api.detail', { status: String(status) });

  // The bus address of the device this page shows (X-Device-Address of its
  // replies); 0 until the first reply or the device bar tells it.
  let pageAddress = 0;
  const kSwitched = (shown, now) => t('api.switched', { shown, now });
  // A device request that waits longer than this for its answer is shown as
  // waiting behind the requests of other pages.
  const kWaitingMs = 1500;
  let pending = 0;
  let slowTimer = 0;
  const waitingListeners = [];
  function setWaiting(on) {
    for (const listener of waitingListeners) listener(on);
  }

  const activity = [];
  const listeners = [];

  function clock(date) {
    const pad = (n) => String(n).padStart(2, '0');
    return pad(date.getHours()) + ':' + pad(date.getMinutes()) + ':' + pad(date.getSeconds());
  }

  function record(entry) {
    activity.unshift(entry);
    if (activity.length > kActivityLimit) activity.length = kActivityLimit;
    for (const listener of listeners) listener(entry, activity);
  }

  function shortText(text, limit) {
    const flat = String(text).replace(/\s+/g, ' ').trim();
    return flat.length > limit ? flat.slice(0, limit) + '…' : flat;
  }

  // One HTTP exchange. Resolves (never rejects) with
  //   { ok, kind, status, text, message }
  // kind: 'text' (200 with a body), 'empty', 'http', 'network', 'timeout'.
  async function request(method, path, body) {
    const entry = { time: clock(new Date()), method, path, body: body || '', ok: false, result: '…' };
    const controller = new AbortController();
    const timer = setTimeout(() => controller.abort(), kTimeoutMs);
    if (pending++ === 0) slowTimer = setTimeout(() => setWaiting(true), kWaitingMs);
    const choosing = path.startsWith('/select_device.cgi');
    let reply;
    try {
      const init = { method, cache: 'no-store', signal: controller.signal, headers: {} };
      if (method === 'POST') {
        init.headers['Content-Type'] = 'application/x-www-form-urlencoded';
        init.body = body || '';
        // A write goes only to the device this page shows: the configurator
        // refuses it (409, nothing sent) when another page chose another one.
        if (pageAddress && !choosing) init.headers['X-Expect-Address'] = String(pageAddress);
      }
      const response = await fetch(path, init);
      const text = await response.text();
      const deviceStatus = response.headers.get('X-Device-Status') || '';
      const address = Number(response.headers.get('X-Device-Address') || 0);
      if (address && !choosing && !pageAddress) pageAddress = address;
      if (response.status === 409) {
        // A write refused because another page chose another device.
        reply = { ok: false, kind: 'switched', status: 409, text, address,
          message: t('api.switched409', { address }) };
      } else if (address && !choosing && address !== pageAddress) {
        reply = { ok: false, kind: 'switched', status: response.status, text, deviceStatus, address,
          message: kSwitched(pageAddress, address) };
      } else if (response.status !== 200) {
        const shown = text.trim() || response.statusText || t('api.noText');
        reply = {
          ok: false, kind: 'http', status: response.status, text,
          message: t('api.http', { status: response.status, text: shortText(shown, 200) }),
        };
      } else if (text.length === 0) {
        reply = { ok: false, kind: 'empty', status: 200, text, deviceStatus, message: kNotReachable };
      } else if (deviceStatus && deviceStatus !== 'ok') {
        reply = { ok: false, kind: 'device', status: 200, text, deviceStatus, message: deviceMessage(deviceStatus),
          detail: deviceDetail(deviceStatus) };
      } else {
        reply = { ok: true, kind: 'text', status: 200, text, message: '' };
      }
    } catch (error) {
      reply = controller.signal.aborted
        ? { ok: false, kind: 'timeout', status: 0, text: '',
            message: t('api.timeout', { seconds: kTimeoutMs / 1000 }) }
        : { ok: false, kind: 'network', status: 0, text: '',
            message: t('api.network') };
    } finally {
      clearTimeout(timer);
      if (--pending === 0) {
        clearTimeout(slowTimer);
        setWaiting(false);
      }
    }
    entry.status = reply.status;
    entry.kind = reply.kind;
    entry.ok = reply.ok;
    entry.result = reply.ok ? shortText(reply.text, 120) : reply.message + (reply.detail ? ' ' + reply.detail : '');
    reply.entry = entry;
    record(entry);
    return reply;
  }

  // Parses a 200 reply as JSON and checks its shape with check(data), which
  // returns '' when the data is as expected, else what is wrong.
  function parse(reply, path, check) {
    if (!reply.ok) return reply;
    let data;
    try {
      data = JSON.parse(reply.text);
    } catch (error) {
      data = undefined;
    }
    const problem = data === undefined ? t('api.notJson') : check ? check(data) : '';
    if (problem) {
      const bad = {
        ok: false, kind: 'bad-reply', status: reply.status, text: reply.text,
        message: t('api.badReply'),
        detail: t('api.badReply.detail', { path, problem, text: shortText(reply.text, 120) }),
      };
      bad.entry = reply.entry;
      bad.entry.ok = false;
      bad.entry.result = bad.message + ' ' + bad.detail;
      for (const listener of listeners) listener(bad.entry, activity);
      return bad;
    }
    reply.data = data;
    return reply;
  }

  // GET of a read endpoint; the reply carries .data when ok.
  async function getJson(path, check) {
    return parse(await request('GET', path), path, check);
  }

  // POST of a write endpoint that answers {"answer":"yes"} or {"answer":"no"}.
  // "no" is a failure of kind 'refused' unless options.noIsAnswer is set
  // (login, where "no" is the wrong-password answer).
  async function postAnswer(path, body, options) {
    const reply = parse(await request('POST', path, body), path, (data) =>
      data && (data.answer === 'yes' || data.answer === 'no') ? '' : t('api.shape', { keys: 'answer: yes | no' }));
    if (reply.ok && reply.data.answer === 'no' && !(options && options.noIsAnswer)) {
      reply.ok = false;
      reply.kind = 'refused';
      reply.message = t('api.refused');
      reply.detail = t('api.refused.detail', { path, body });
      reply.entry.ok = false;
      reply.entry.result = reply.message + ' ' + reply.detail;
      for (const listener of listeners) listener(reply.entry, activity);
    }
    return reply;
  }

  // POST of a command whose reply body is empty by design (run_config.cgi):
  // the empty body is its normal answer, so only transport failures and the
  // device status count.
  async function postCommand(path) {
    const reply = await request('POST', path, '');
    if (reply.kind === 'empty' && reply.deviceStatus && reply.deviceStatus !== 'ok') {
      reply.message = deviceMessage(reply.deviceStatus);
      reply.detail = deviceDetail(reply.deviceStatus);
      reply.entry.result = reply.message + ' ' + reply.detail;
      for (const listener of listeners) listener(reply.entry, activity);
    } else if (reply.kind === 'empty') {
      reply.ok = true;
      reply.entry.ok = true;
      reply.entry.result = t('api.commandSent');
      for (const listener of listeners) listener(reply.entry, activity);
    }
    return reply;
  }

  function onActivity(listener) {
    listeners.push(listener);
  }

  // listener(true) while a request has waited longer than kWaitingMs,
  // listener(false) once none is waiting.
  function onWaiting(listener) {
    waitingListeners.push(listener);
  }

  return {
    request, getJson, postAnswer, postCommand, onActivity, onWaiting, activity, clock, deviceMessage,
    busy: () => pending > 0,
    switchedText: kSwitched,
    kNotReachable, kTimeoutMs,
    get pageAddress() { return pageAddress; },
    set pageAddress(address) { pageAddress = address; },
  };
})();
