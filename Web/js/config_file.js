// Configuration files on the Bus page: the same files as `ktr-cli backup`
// and `ktr-cli restore` (docs/config-file.md). Each section of a file is
// the reply of one read endpoint; a file is checked whole before anything is
// written, and only what differs is written, through the write endpoints.
'use strict';

var Ktr = window.Ktr || {};
window.Ktr = Ktr;

Ktr.configFile = (function () {
  const t = Ktr.t;
  const kFormat = 'ktr-configuration';
  // Version 2 added "time" (time zone and daylight saving); files of
  // version 1 still load, without them.
  const kVersion = 2;
  const kVersionWithoutTime = 1;
  const kTime = ['tz', 'dst'];
  const kDays = ['sun', 'mon', 'tue', 'wed', 'thu', 'fri', 'sat'];
  const kDisplay = ['tmpe', 'dtpe', 'cdpe', 's1pe', 's2pe', 'stpe'];
  const kCounter = ['cdir', 'lm_d', 'lm_h', 'lm_m', 'lm_s', 'rlpe', 'crpt'];
  const kSettings = ['bmod', 'blvl', 'bloc', 'bgra', 'diad', 's1ad', 's1un', 's1mo', 's1rf', 's2ad', 's2un', 's2mo',
    's2rf', 'sype', 'stmo', 'poll'];
  const kPlan = ['status', 'time', 'len'];
  const kCfg = ['len_bb', 'len_eb', 'len_ws'];
  const kTop = ['format', 'format_version', 'firmware', 'firmware_version', 'address', 'taken', 'display', 'counter',
    'time', 'settings', 'schedule', 'config_status'];
  const kLongSettings = 0x2304;  // firmware 0.35.4: s1rf and s2rf exist

  // --- checking a file -----------------------------------------------------

  class FileError extends Error {}
  const fail = (path, reason) => { throw new FileError(path + ': ' + reason); };
  const join = (path, key) => (path ? path + '.' + key : key);
  const shown = (v) => {
    const json = JSON.stringify(v);
    return json === undefined ? String(v) : json.length > 40 ? json.slice(0, 37) + '...' : json;
  };
  const isObject = (v) => v !== null && typeof v === 'object' && !Array.isArray(v);

  function object(v, path) {
    if (!isObject(v)) fail(path, t('file.check.object', { value: shown(v) }));
    return v;
  }
  function member(obj, path, key) {
    if (!Object.prototype.hasOwnProperty.call(obj, key)) fail(join(path, key), t('file.check.missing'));
    return obj[key];
  }
  function onlyKeys(obj, path, keys) {
    for (const key of Object.keys(obj)) {
      if (!keys.includes(key)) fail(join(path, key), t('file.check.unknown'));
    }
  }
  function whole(v, path, low, high) {
    if (typeof v !== 'number' || !Number.isInteger(v)) fail(path, t('file.check.whole', { value: shown(v) }));
    if (v < low || v > high) fail(path, t('file.check.range', { value: shown(v), low, high }));
    return v;
  }
  const word = (v, path) => whole(v, path, 0, 65535);
  function text(v, path) {
    if (typeof v !== 'string') fail(path, t('file.check.text', { value: shown(v) }));
    return v;
  }

  // "HH:MM" as the schedule reply gives it -> the register word (hour in
  // the high byte, minute in the low byte); null when it is no such text.
  function timeWord(t) {
    const m = /^(\d{1,3}):(\d{1,3})$/.exec(t);
    if (!m) return null;
    const [h, min] = [Number(m[1]), Number(m[2])];
    return h > 255 || min > 255 ? null : h * 256 + min;
  }
  function versionNumber(t) {
    const m = /^(\d{1,3})\.(\d{1,3})\.(\d{1,3})$/.exec(t);
    if (!m || m.slice(1).some((p) => Number(p) > 255)) return null;
    return Number(m[1]) * 65536 + Number(m[2]) * 256 + Number(m[3]);
  }

  function keyed(root, section, keys) {
    const obj = object(member(root, '', section), section);
    for (const key of keys) word(member(obj, section, key), join(section, key));
    onlyKeys(obj, section, keys);
  }

  function entries(day, path, key, keys, count, check) {
    const list = member(day, path, key);
    const at = join(path, key);
    if (!Array.isArray(list)) fail(at, t('file.check.array', { value: shown(list) }));
    if (list.length !== count) fail(at, t('file.check.count', { n: list.length, count }));
    list.forEach((entry, i) => {
      const p = at + '[' + i + ']';
      object(entry, p);
      for (const k of keys) check(member(entry, p, k), join(p, k), k);
      onlyKeys(entry, p, keys);
    });
  }

  // Parses and checks a whole file: { ok: true, doc } or { ok: false, error }.
  function check(fileText) {
    let doc;
    try {
      doc = JSON.parse(fileText);
    } catch (error) {
      return { ok: false, error: t('file.check.json', { error: error.message }) };
    }
    try {
      if (!isObject(doc)) throw new FileError(t('file.check.notObject'));
      if (!('format' in doc)) fail('format', t('file.check.noFormat'));
      if (doc.format !== kFormat) fail('format', t('file.check.format', { value: shown(doc.format), format: kFormat }));
      const version = member(doc, '', 'format_version');
      if (version !== kVersion && version !== kVersionWithoutTime) {
        fail('format_version', t('file.check.version', { value: shown(doc.format_version), old: kVersionWithoutTime,
          version: kVersion }));
      }
      text(member(doc, '', 'firmware'), 'firmware');
      const v = member(doc, '', 'firmware_version');
      if (typeof v !== 'string' || versionNumber(v) === null) {
        fail('firmware_version', t('file.check.firmwareVersion', { value: shown(v) }));
      }
      whole(member(doc, '', 'address'), 'address', 1, 247);
      text(member(doc, '', 'taken'), 'taken');
      keyed(doc, 'display', kDisplay);
      keyed(doc, 'counter', kCounter);
      if (version === kVersion) keyed(doc, 'time', kTime);
      else if ('time' in doc) fail('time', t('file.check.unknown'));
      keyed(doc, 'settings', kSettings);
      const schedule = object(member(doc, '', 'schedule'), 'schedule');
      for (const name of kDays) {
        const path = 'schedule.' + name;
        const day = object(member(schedule, 'schedule', name), path);
        word(member(day, path, 'ena'), path + '.ena');
        entries(day, path, 'plan', kPlan, 20, (value, p, key) => {
          if (key !== 'time') return word(value, p);
          if (typeof value !== 'string' || timeWord(value) === null) {
            fail(p, t('file.check.time', { value: shown(value) }));
          }
          return value;
        });
        entries(day, path, 'cfg', kCfg, 5, (value, p) => word(value, p));
        onlyKeys(day, path, ['ena', 'plan', 'cfg']);
      }
      onlyKeys(schedule, 'schedule', kDays);
      const status = object(member(doc, '', 'config_status'), 'config_status');
      word(member(status, 'config_status', 'value'), 'config_status.value');
      onlyKeys(status, 'config_status', ['value']);
      onlyKeys(doc, '', kTop);
    } catch (error) {
      if (error instanceof FileError) return { ok: false, error: error.message };
      throw error;
    }
    // What an older file lacks, for the notices.
    const lacks = doc.format_version === kVersionWithoutTime
      ? t('file.lacksTime') : '';
    return { ok: true, doc, lacks };
  }

  // --- reading the device --------------------------------------------------

  const numbers = (keys) => (d) => (isObject(d) && keys.every((k) => Number.isInteger(d[k])) ? ''
    : t('api.shape', { keys: keys.join(', ') }));
  const isDay = (d) => (isObject(d) && Number.isInteger(d.ena) && Array.isArray(d.plan) && d.plan.length === 20 &&
    Array.isArray(d.cfg) && d.cfg.length === 5 ? '' : t('api.shape', { keys: 'ena, plan[20], cfg[5]' }));
  const isFindAll = (d) => (isObject(d) && isObject(d.device) && Number.isInteger(d.device.address) ? ''
    : t('api.shape', { keys: 'device.address' }));

  // Reads every section from the endpoints into a document of the file's
  // layout: { ok: true, doc } or the failed reply (with .message).
  async function read(onStep) {
    const steps = [
      ['/find_all.cgi', isFindAll], ['/get_display_data.cgi', numbers(kDisplay)],
      ['/get_counter_data.cgi', numbers(kCounter)], ['/get_time_data.cgi', numbers(kTime)],
      ['/get_set_data.cgi', numbers(kSettings)],
      ...kDays.map((day) => ['/get_sched_data.cgi&' + day, isDay]),
      ['/get_config_status.cgi', numbers(['value'])],
    ];
    const data = [];
    for (let i = 0; i < steps.length; ++i) {
      if (onStep) onStep(i, steps.length);
      const reply = await Ktr.api.getJson(steps[i][0], steps[i][1]);
      if (!reply.ok) return reply;
      data.push(reply.data);
    }
    const [found, display, counter, time, settings] = data;
    const schedule = {};
    kDays.forEach((day, i) => { schedule[day] = data[5 + i]; });
    const pick = (obj, keys) => Object.fromEntries(keys.map((k) => [k, obj[k]]));
    const doc = {
      format: kFormat,
      format_version: kVersion,
      firmware: found.device.firmware,
      firmware_version: found.device.version,
      address: found.device.address,
      taken: new Date().toISOString().replace(/\.\d+Z$/, 'Z'),
      display: pick(display, kDisplay),
      counter: pick(counter, kCounter),
      time: pick(time, kTime),
      settings: pick(settings, kSettings),
      schedule: Object.fromEntries(kDays.map((day) => [day, {
        ena: schedule[day].ena,
        plan: schedule[day].plan.map((e) => pick(e, kPlan)),
        cfg: schedule[day].cfg.map((e) => pick(e, kCfg)),
      }])),
      config_status: { value: data[data.length - 1].value },
    };
    return { ok: true, doc };
  }

  function fileText(doc) {
    return JSON.stringify(doc, null, 2) + '\n';
  }

  // --- what differs, and the request that writes it -------------------------

  const pad2 = (n) => String(n).padStart(2, '0');
  const planText = (e) => t('file.planText', { status: e.status, time: e.time, len: e.len });
  const cfgText = (e) => t('file.cfgText', { ws: e.len_ws, bb: e.len_bb, eb: e.len_eb });

  // Every difference in the order of writing (as ktr-cli restore): display,
  // counter, settings, each day's enable word, plan and length entries, the
  // configuration status last. Each: { name, section, key, day, row, from,
  // to, path, body, note, value(doc) }; path is null for a difference the
  // page cannot write. name is the one ktr-cli restore prints, with the
  // schedule rows numbered from 1 ("schedule.mon plan row 13").
  function differences(device, file) {
    const changes = [];
    const keepsPoll = device.address === 1 && device.settings.diad === 1 && file.settings.diad === 1;
    const longSettings = versionNumber(device.firmware_version) >= kLongSettings;
    const single = (section, key, skip) => {
      if (skip || device[section][key] === file[section][key]) return;
      changes.push({ name: section + '.' + key, section, key,
        from: String(device[section][key]), to: String(file[section][key]),
        path: '/setdata.cgi', body: key + '=' + file[section][key], value: (d) => String(d[section][key]) });
    };
    kDisplay.forEach((k) => single('display', k));
    kCounter.forEach((k) => single('counter', k));
    // As the Time page writes them: the time zone under "t_zone".
    if (file.time) {
      single('time', 'tz');
      single('time', 'dst');
      for (const c of changes) if (c.name === 'time.tz') c.body = 't_zone=' + file.time.tz;
    }
    kSettings.forEach((k) => single('settings', k,
      k === 'diad' || (k === 'poll' && !keepsPoll) || ((k === 's1rf' || k === 's2rf') && !longSettings)));

    for (const day of kDays) {
      const had = device.schedule[day];
      const want = file.schedule[day];
      const base = 'schedule.' + day;
      if (had.ena !== want.ena) {
        changes.push({ name: base + '.ena', section: 'schedule', key: 'ena', day,
          from: String(had.ena), to: String(want.ena), path: '/set_sched_data.cgi',
          body: 'day=' + day + '&ena=' + want.ena, value: (d) => String(d.schedule[day].ena) });
      }
      want.plan.forEach((e, i) => {
        const h = had.plan[i];
        if (h.status === e.status && timeWord(h.time) === timeWord(e.time) && h.len === e.len) return;
        const w = timeWord(e.time);
        const change = { name: base + ' plan row ' + (i + 1), section: 'schedule', key: 'plan', day, row: i + 1,
          from: planText(h), to: planText(e), path: null, body: '',
          value: (d) => { const x = d.schedule[day].plan[i]; return x.status + ' ' + timeWord(x.time) + ' ' + x.len; },
          expected: e.status + ' ' + w + ' ' + e.len };
        if (e.status === 0 && (w !== 0 || e.len !== 1)) {
          change.note = t('file.note.unused');
        } else if ((w >> 8) > 99 || (w & 255) > 99) {
          change.note = t('file.note.digits');
        } else {
          change.path = '/set_sched_data.cgi';
          change.body = 'day=' + day + '&idx=' + i + '&tp_status=' + e.status + '&tp_time=' + pad2(w >> 8) + ':' +
            pad2(w & 255) + '&tp_len=' + e.len;
        }
        changes.push(change);
      });
      want.cfg.forEach((e, j) => {
        const h = had.cfg[j];
        if (kCfg.every((k) => h[k] === e[k])) return;
        changes.push({ name: base + ' length row ' + (j + 1), section: 'schedule', key: 'cfg', day, row: j + 1,
          from: cfgText(h), to: cfgText(e), path: '/set_sched_data.cgi',
          body: 'day=' + day + '&idx=' + j + '&s_len_ws=' + e.len_ws + '&s_len_bb=' + e.len_bb + '&s_len_eb=' + e.len_eb,
          value: (d) => cfgText(d.schedule[day].cfg[j]), expected: cfgText(e) });
      });
    }
    if (device.config_status.value !== file.config_status.value) {
      const change = { name: 'config_status.value', section: 'config_status', key: 'value',
        from: String(device.config_status.value),
        to: String(file.config_status.value), path: null, body: '', value: (d) => String(d.config_status.value) };
      if (file.config_status.value === 0) {
        change.note = t('file.note.status0');
      } else {
        change.path = '/run_config.cgi';
        change.to += ' (' + t('bus.apply') + ')';
        change.expected = String(file.config_status.value);
      }
      changes.push(change);
    }
    for (const c of changes) {
      if (c.expected === undefined) c.expected = c.to;
    }
    return changes;
  }

  // The firmware of the file and of the device: '' when the same.
  function firmwareDifference(device, file) {
    if (device.firmware === file.firmware && device.firmware_version === file.firmware_version) return '';
    return t('file.firmware', { device: device.firmware, deviceVersion: device.firmware_version, file: file.firmware,
      fileVersion: file.firmware_version });
  }

  return { check, read, fileText, differences, firmwareDifference, timeWord, kDays };
})();
