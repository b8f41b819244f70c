// Bus page: the device list (/get_ktr_list.cgi, refreshed by a settings
// read through /get_set_data.cgi first), the configuration status
// (/get_config_status.cgi), "Apply configuration" (/run_config.cgi) and
// "Factory defaults" (/set_default.cgi), each behind a confirmation.
'use strict';

(function () {
  if (!Ktr.page.ready) return;
  const { el, notice } = Ktr.page;
  const t = Ktr.t;
  const $ = (id) => document.getElementById(id);

  // The type texts of the device list as the configurator gives them
  // ("desc"), each with its name in the reader's language.
  const kTypes = { 'Unknown device': 'bus.type.unknown', 'KTR Clock': 'bus.type.clock', Sensor: 'bus.type.sensor',
    'Sync. dev. + temp. sensor': 'bus.type.syncTemp', 'Sync. dev.': 'bus.type.sync' };
  const typeText = (desc) => (kTypes[desc] ? t(kTypes[desc]) : desc || t('bus.type.none'));

  // What the configuration status means: 0 factory settings, no
  // configuration applied since; 1 configuration applied; any other value
  // is only a code.
  const statusText = (v) => (v === 0 || v === 1 ? t('bus.status.' + v) : t('bus.status.other'));

  const isList = (d) =>
    Array.isArray(d) && d.every((e) => e && Number.isInteger(e.value) && typeof e.desc === 'string')
      ? '' : t('api.shape', { keys: '[{ value, desc }]' });
  const isSettings = (d) => (d && Number.isInteger(d.diad) ? '' : t('api.shape', { keys: 'diad' }));
  const isStatus = (d) => (d && Number.isInteger(d.value) ? '' : t('api.shape', { keys: 'value' }));

  function showDevices(list) {
    const body = $('devices').tBodies[0];
    body.replaceChildren();
    if (!list) return;
    if (list.length === 0) {
      body.appendChild(el('tr', { class: 'empty' }, el('td', { colspan: '3', text: t('bus.list.empty') })));
      return;
    }
    list.forEach((entry, i) => {
      body.appendChild(el('tr', {},
        el('td', { text: String(i + 1) }),
        el('td', { class: 'num', text: String(entry.value) }),
        el('td', { text: typeText(entry.desc) })));
    });
  }

  // The list endpoint reports what the last settings read took from the
  // device, so the settings are read first.
  async function readDevices() {
    $('read-devices').disabled = true;
    notice('devices-notice', 'busy', t('bus.list.reading'));
    const settings = await Ktr.api.getJson('/get_set_data.cgi', isSettings);
    let reply = settings;
    if (settings.ok) reply = await Ktr.api.getJson('/get_ktr_list.cgi', isList);
    $('read-devices').disabled = false;
    if (!reply.ok) {
      showDevices(null);
      notice('devices-notice', 'error', reply.message, { label: t('common.tryAgain'), run: readDevices }, reply.detail);
      return;
    }
    showDevices(reply.data);
    notice('devices-notice', 'info', t('bus.readAt', { time: Ktr.api.clock(new Date()) }));
  }

  async function readStatus(after) {
    const reply = await Ktr.api.getJson('/get_config_status.cgi', isStatus);
    if (!reply.ok) {
      $('config-status').textContent = '—';
      notice('config-notice', 'error', (after ? after + ' ' : '') + reply.message,
        { label: t('common.tryAgain'), run: () => readStatus() }, reply.detail);
      return false;
    }
    $('config-status').textContent = String(reply.data.value) + ' (' + statusText(reply.data.value) + ')';
    notice('config-notice', after ? 'ok' : 'info',
      (after ? after + ' ' : '') + t('bus.status.readAt', { time: Ktr.api.clock(new Date()) }));
    return true;
  }

  async function runConfig() {
    const address = Ktr.api.pageAddress || '?';
    const yes = await Ktr.page.confirm(t('bus.apply'), t('bus.apply.confirm', { address }), t('bus.apply'), false);
    if (!yes) {
      notice('config-notice', 'info', t('bus.nothingSent'));
      return;
    }
    $('run-config').disabled = true;
    notice('config-notice', 'busy', t('bus.sending'));
    const reply = await Ktr.api.postCommand('/run_config.cgi');
    if (!reply.ok) {
      notice('config-notice', 'error', reply.message, null, reply.detail);
    } else {
      // The command's answer is always empty; the status read that follows
      // tells whether the device could be reached.
      await readStatus(t('bus.apply.sent'));
    }
    $('run-config').disabled = false;
  }

  async function factoryDefaults() {
    const web = await Ktr.api.getJson('/get_web_data.cgi', (d) =>
      d && typeof d.firmware === 'string' ? '' : t('api.shape', { keys: 'firmware' }));
    const which = web.ok && web.data.firmware ? ' (' + web.data.firmware + ')' : '';
    const yes = await Ktr.page.confirm(t('bus.defaults'), t('bus.defaults.confirm', { which }),
      t('bus.defaults.ok'), true);
    if (!yes) {
      notice('defaults-notice', 'info', t('bus.nothingSent'));
      return;
    }
    $('factory-defaults').disabled = true;
    notice('defaults-notice', 'busy', t('bus.sending'));
    const reply = await Ktr.api.postAnswer('/set_default.cgi', '');
    $('factory-defaults').disabled = false;
    if (!reply.ok) {
      notice('defaults-notice', 'error', reply.message, null, reply.detail);
      return;
    }
    notice('defaults-notice', 'ok', t('bus.defaults.done'));
    await readStatus();
    await readDevices();
  }

  $('read-devices').addEventListener('click', readDevices);
  $('read-status').addEventListener('click', () => readStatus());
  $('run-config').addEventListener('click', runConfig);
  $('factory-defaults').addEventListener('click', factoryDefaults);

  readDevices().then(() => readStatus());
})();
