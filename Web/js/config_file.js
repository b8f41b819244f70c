// Configuration files on the Bus page: the same files as `ktr-cli backup`
// and `ktr-cli restore` (docs/config-file.md). Each section of a file is
// the reply of one read endpoint; a file is checked whole before anything is
// written, and only what differs is written, through the write endpoints.
'use strict';

var Ktr = window.Ktr || {};
window.Ktr = Ktr;

Ktr.configFile = (function () {
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
    const t = JSON.stringify(v);
    return t === undefined ? String(v) : t.length > 40 ? t.slice(0, 37) + '...' : t;
  };
  const isObject = (v) => v !== null && typeof v === 'object' && !Array.isArray(v);

  function object(v, path) {
    if (!isObject(v)) fail(path, shown(v) + ' is not an object');
    return v;
  }
  function member(obj, path, key) {
    if (!Object.prototype.hasOwnProperty.call(obj, key)) fail(join(path, key), 'missing');
    return obj[key];
  }
  function onlyKeys(obj, path, keys) {
    for (const key of Object.keys(obj)) {
      if (!keys.includes(key)) fail(join(path, key), 'unknown key');
    }
  }
  function whole(v, path, low, high) {
    if (typeof v !== 'number' || !Number.isInteger(v)) fail(path, shown(v) + ' is not a whole number');
    if (v < low || v > high) fail(path, shown(v) + ' is out of range (' + low + ' to ' + high + ')');
    return v;
  }
  const word = (v, path) => whole(v, path, 0, 65535);
  function text(v, path) {
    if (typeof v !== 'string') fail(path, shown(v) + ' is not a text');
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
    if (!Array.isArray(list)) fail(at, shown(list) + ' is not an array');
    if (list.length !== count) fail(at, 'has ' + list.length + ' entries instead of ' + count);
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
      return { ok: false, error: 'not a JSON document (' + error.message + ')' };
    }
    try {
      if (!isObject(doc)) throw new FileError('not a configuration file: the document is no JSON object');
      if (!('format' in doc)) fail('format', 'missing (not a configuration file)');
      if (doc.format !== kFormat) fail('format', shown(doc.format) + ' is not "' + kFormat + '" (a file of another kind)');
      const version = member(doc, '', 'format_version');
      if (version !== kVersion && version !== kVersionWithoutTime) {
        fail('format_version', shown(doc.format_version) + ' is not supported (this page reads versions ' +
          kVersionWithoutTime + ' and ' + kVersion + ')');
      }
      text(member(doc, '', 'firmware'), 'firmware');
      const v = member(doc, '', 'firmware_version');
      if (typeof v !== 'string' || versionNumber(v) === null) {
        fail('firmware_version', shown(v) + ' is not a version MAJOR.MINOR.PATCH (0 to 255 each)');
      }
      whole(member(doc, '', 'address'), 'address', 1, 247);
      text(member(doc, '', 'taken'), 'taken');
      keyed(doc, 'display', kDisplay);
      keyed(doc, 'counter', kCounter);
      if (version === kVersion) keyed(doc, 'time', kTime);
      else if ('time' in doc) fail('time', 'unknown key');
      keyed(doc, 'settings', kSettings);
      const schedule = object(member(doc, '', 'schedule'), 'schedule');
      for (const name of kDays) {
        const path = 'schedule.' + name;
        const day = object(member(schedule, 'schedule', name), path);
        word(member(day, path, 'ena'), path + '.ena');
        entries(day, path, 'plan', kPlan, 20, (value, p, key) => {
          if (key !== 'time') return word(value, p);
          if (typeof value !== 'string' || timeWord(value) === null) {
            fail(p, shown(value) + ' is not a time HH:MM (hour and minute 0 to 255 each)');
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
      ? 'The file (format version 1) has no time zone and daylight saving: the devices keep theirs.' : '';
    return { ok: true, doc, lacks };
  }

  // --- reading the device --------------------------------------------------

  const numbers = (keys) => (d) => (isObject(d) && keys.every((k) => Number.isInteger(d[k])) ? ''
    : 'not the keys ' + keys.join(', '));
  const isDay = (d) => (isObject(d) && Number.isInteger(d.ena) && Array.isArray(d.plan) && d.plan.length === 20 &&
    Array.isArray(d.cfg) && d.cfg.length === 5 ? '' : 'not a day of the schedule');
  const isFindAll = (d) => (isObject(d) && isObject(d.device) && Number.isInteger(d.device.address) ? ''
    : 'no "device"');

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
  const planText = (e) => 'status ' + e.status + ' time ' + e.time + ' len ' + e.len;
  const cfgText = (e) => 'len_bb ' + e.len_bb + ' len_eb ' + e.len_eb + ' len_ws ' + e.len_ws;

  // Every difference in the order of writing (as ktr-cli restore): display,
  // counter, settings, each day's enable word, plan and length entries, the
  // configuration status last. Each: { name, from, to, path, body, note,
  // value(doc) }; path is null for a difference the page cannot write.
  function differences(device, file) {
    const changes = [];
    const keepsPoll = device.address === 1 && device.settings.diad === 1 && file.settings.diad === 1;
    const longSettings = versionNumber(device.firmware_version) >= kLongSettings;
    const single = (section, key, skip) => {
      if (skip || device[section][key] === file[section][key]) return;
      changes.push({ name: section + '.' + key, from: String(device[section][key]), to: String(file[section][key]),
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
        changes.push({ name: base + '.ena', from: String(had.ena), to: String(want.ena), path: '/set_sched_data.cgi',
          body: 'day=' + day + '&ena=' + want.ena, value: (d) => String(d.schedule[day].ena) });
      }
      want.plan.forEach((e, i) => {
        const h = had.plan[i];
        if (h.status === e.status && timeWord(h.time) === timeWord(e.time) && h.len === e.len) return;
        const w = timeWord(e.time);
        const change = { name: base + '.plan[' + i + ']', from: planText(h), to: planText(e), path: null, body: '',
          value: (d) => { const x = d.schedule[day].plan[i]; return x.status + ' ' + timeWord(x.time) + ' ' + x.len; },
          expected: e.status + ' ' + w + ' ' + e.len };
        if (e.status === 0 && (w !== 0 || e.len !== 1)) {
          change.note = 'the schedule endpoint stores an entry of status 0 with time 00:00 and length 1 (ktr-cli restore writes it)';
        } else if ((w >> 8) > 99 || (w & 255) > 99) {
          change.note = 'the schedule endpoint takes two digits for the hour and the minute (ktr-cli restore writes it)';
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
        changes.push({ name: base + '.cfg[' + j + ']', from: cfgText(h), to: cfgText(e), path: '/set_sched_data.cgi',
          body: 'day=' + day + '&idx=' + j + '&s_len_ws=' + e.len_ws + '&s_len_bb=' + e.len_bb + '&s_len_eb=' + e.len_eb,
          value: (d) => cfgText(d.schedule[day].cfg[j]), expected: cfgText(e) });
      });
    }
    if (device.config_status.value !== file.config_status.value) {
      const change = { name: 'config_status.value', from: String(device.config_status.value),
        to: String(file.config_status.value), path: null, body: '', value: (d) => String(d.config_status.value) };
      if (file.config_status.value === 0) {
        change.note = 'only factory defaults return a device to status 0';
      } else {
        change.path = '/run_config.cgi';
        change.to += ' (run configuration)';
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
    return 'The device has firmware "' + device.firmware + '" ' + device.firmware_version + ', the file is of "' +
      file.firmware + '" ' + file.firmware_version + '.';
  }

  return { check, read, fileText, differences, firmwareDifference, timeWord, kDays };
})();
