// Home page: the device clock and both sensor readings from
// /get_index_data.cgi, read again every few seconds, and the firmware text
// from /get_web_data.cgi.
//
// A failed read never leaves the previous reading on show as if it were
// current: the values are replaced by dashes and the notice says when the
// last good reading was taken.
'use strict';

(function () {
  if (!Ktr.page.ready) return;
  const { el, icon, notice } = Ktr.page;
  const t = Ktr.t;

  const kRefreshMs = 3000;
  const $ = (id) => document.getElementById(id);

  // The sensor texts come ready-made from the configurator: "21.5 °C",
  // "45 %RH", " 8.600 g/m3", or "---" for a sensor that is switched off.
  const kUnits = [
    { unit: '°C', kind: 'home.temperature', icon: 'thermometer' },
    { unit: '°F', kind: 'home.temperature', icon: 'thermometer' },
    { unit: '%RH', kind: 'home.relative', icon: 'droplet' },
    { unit: 'g/m3', kind: 'home.absolute', icon: 'cloud' },
  ];

  function showSensor(n, text) {
    const value = $('sensor' + n + '-value');
    const kind = $('sensor' + n + '-kind');
    const use = document.querySelector('#sensor' + n + ' .caption use');
    const trimmed = String(text).trim();
    value.title = trimmed;
    value.dataset.text = trimmed;
    const m = /^(-?\d+(?:\.\d+)?)\s*(\S.*)$/.exec(trimmed);
    const known = m && kUnits.find((u) => u.unit === m[2]);
    if (trimmed === '---') {
      value.replaceChildren(el('span', { class: 'off', text: t('home.off') }));
      kind.textContent = t('home.notShown');
      use.setAttribute('href', 'images/icons.svg#sensor-off');
    } else if (m) {
      value.replaceChildren(m[1], ' ', el('span', { class: 'unit', text: m[2] }));
      kind.textContent = known ? t(known.kind) : '';
      use.setAttribute('href', 'images/icons.svg#' + (known ? known.icon : 'thermometer'));
    } else {
      value.replaceChildren(trimmed || '—');
      kind.textContent = '';
    }
  }

  function clearReadings() {
    $('clock-time').textContent = '—';
    $('clock-date').textContent = '—';
    for (const n of [1, 2]) {
      const value = $('sensor' + n + '-value');
      value.replaceChildren('—');
      value.removeAttribute('title');
      delete value.dataset.text;
      $('sensor' + n + '-kind').textContent = '';
    }
  }

  const isIndex = (d) =>
    d && ['time', 'date', 'sensor1unit', 'sensor2unit'].every((k) => typeof d[k] === 'string')
      ? '' : t('api.shape', { keys: 'time, date, sensor1unit, sensor2unit' });

  let lastGood = '';
  let firmwareKnown = false;
  let failing = false;
  let timer = 0;

  async function loadFirmware() {
    const reply = await Ktr.api.getJson('/get_web_data.cgi', (d) =>
      d && typeof d.firmware === 'string' ? '' : t('api.shape', { keys: 'firmware' }));
    if (!reply.ok) {
      $('firmware').textContent = '—';
      return;
    }
    firmwareKnown = true;
    $('firmware').textContent = reply.data.firmware || t('home.firmwareUnknown');
  }

  async function refresh() {
    timer = 0;
    const reply = await Ktr.api.getJson('/get_index_data.cgi', isIndex);
    const readings = $('readings');
    if (reply.ok) {
      const d = reply.data;
      $('clock-time').textContent = d.time;
      $('clock-date').textContent = Ktr.fields.deviceDate(d.date);
      showSensor(1, d.sensor1unit);
      showSensor(2, d.sensor2unit);
      readings.classList.remove('stale');
      lastGood = Ktr.api.clock(new Date());
      $('updated').textContent = t('home.readAt', { time: lastGood });
      $('pulse').classList.remove('off');
      if (failing) notice('notice', '', '');
      failing = false;
      if (!firmwareKnown) loadFirmware();
    } else {
      clearReadings();
      readings.classList.add('stale');
      $('pulse').classList.add('off');
      $('updated').textContent = lastGood ? t('home.lastGood', { time: lastGood }) : t('home.noReading');
      notice('notice', 'error', reply.message, { label: t('common.tryNow'), run: now }, reply.detail);
      failing = true;
    }
    schedule();
  }

  function schedule() {
    if (!document.hidden && !timer) timer = setTimeout(refresh, kRefreshMs);
  }

  function now() {
    if (timer) clearTimeout(timer);
    refresh();
  }

  // No reads while the tab is hidden; read at once when it shows again.
  document.addEventListener('visibilitychange', () => {
    if (document.hidden) {
      if (timer) clearTimeout(timer);
      timer = 0;
    } else {
      now();
    }
  });

  function buildTiles() {
    const tiles = $('tiles');
    const open = Ktr.page.loggedIn();
    $('settings-note').textContent = open ? t('home.choose') : t('home.loginFirst');
    for (const page of Ktr.page.pages.filter((p) => p.login || p.id === 'help')) {
      tiles.appendChild(el('a', { class: 'tile', href: page.file }, icon(page.icon), page.label));
    }
  }

  if (new URLSearchParams(location.search).get('logout') === 'local') {
    notice('notice', 'info', t('home.loggedOutLocal'));
  }
  buildTiles();
  // Home names the device the pages work on.
  Ktr.device.onChange((device) => {
    $('address').textContent = device.address ? String(device.address) : '—';
    if (device.firmware) $('firmware').textContent = Ktr.device.firmwareLabel(device);
  });
  loadFirmware();
  refresh();
})();
