// Bus page: the device list (/get_ktr_list.cgi, refreshed by a settings
// read through /get_set_data.cgi first), the configuration status
// (/get_config_status.cgi), "Apply configuration" (/run_config.cgi) and
// "Factory defaults" (/set_default.cgi) behind a confirmation.
'use strict';

(function () {
  if (!Ktr.page.ready) return;
  const { el, notice } = Ktr.page;
  const $ = (id) => document.getElementById(id);

  const isList = (d) =>
    Array.isArray(d) && d.every((e) => e && Number.isInteger(e.value) && typeof e.desc === 'string')
      ? '' : 'not a list of value and desc pairs';
  const isSettings = (d) => (d && Number.isInteger(d.diad) ? '' : 'no "diad"');
  const isStatus = (d) => (d && Number.isInteger(d.value) ? '' : 'no "value"');

  function showDevices(list) {
    const body = $('devices').tBodies[0];
    body.replaceChildren();
    if (!list) return;
    if (list.length === 0) {
      body.appendChild(el('tr', { class: 'empty' }, el('td', { colspan: '3', text: 'No devices listed.' })));
      return;
    }
    list.forEach((entry, i) => {
      body.appendChild(el('tr', {},
        el('td', { text: String(i + 1) }),
        el('td', { class: 'num', text: String(entry.value) }),
        el('td', { text: entry.desc || '(no type)' })));
    });
  }

  // The list endpoint reports what the last settings read took from the
  // device, so the settings are read first.
  async function readDevices() {
    $('read-devices').disabled = true;
    notice('devices-notice', 'busy', 'Reading the list from the device…');
    const settings = await Ktr.api.getJson('/get_set_data.cgi', isSettings);
    let reply = settings;
    if (settings.ok) reply = await Ktr.api.getJson('/get_ktr_list.cgi', isList);
    $('read-devices').disabled = false;
    if (!reply.ok) {
      showDevices(null);
      notice('devices-notice', 'error', reply.message, { label: 'Try again', run: readDevices });
      return;
    }
    showDevices(reply.data);
    notice('devices-notice', 'info', 'Read at ' + Ktr.api.clock(new Date()) + '.');
  }

  async function readStatus(after) {
    const reply = await Ktr.api.getJson('/get_config_status.cgi', isStatus);
    if (!reply.ok) {
      $('config-status').textContent = '—';
      notice('config-notice', 'error', (after ? after + ' ' : '') + reply.message,
        { label: 'Try again', run: () => readStatus() });
      return false;
    }
    $('config-status').textContent = String(reply.data.value) + ' (' + statusMeaning(reply.data.value) + ')';
    notice('config-notice', after ? 'ok' : 'info',
      (after ? after + ' ' : '') + 'Status read at ' + Ktr.api.clock(new Date()) + '.');
    return true;
  }

  // Register 10080 as the device reports it.
  const kStatusMeaning = {
    0: 'factory settings: no configuration applied since',
    1: 'configuration applied and running',
  };
  function statusMeaning(value) {
    return kStatusMeaning[value] || 'a value this configurator does not know';
  }

  async function runConfig() {
    const yes = await Ktr.page.confirm('Apply configuration',
      'The device at address ' + (Ktr.api.pageAddress || '?') + ' takes its settings into use and reports ' +
      'status 1 (configuration applied). Only factory defaults return it to status 0 (factory settings). ' +
      'A device may also take a new bus address only now.', 'Apply configuration');
    if (!yes) {
      notice('config-notice', 'info', 'Nothing was sent.');
      return;
    }
    $('run-config').disabled = true;
    notice('config-notice', 'busy', 'Sending the command…');
    const reply = await Ktr.api.postCommand('/run_config.cgi');
    if (!reply.ok) {
      notice('config-notice', 'error', reply.message);
    } else {
      // The command's answer is always empty; the status read that follows
      // tells whether the device could be reached.
      await readStatus('Apply configuration sent.');
    }
    $('run-config').disabled = false;
  }

  async function factoryDefaults() {
    const web = await Ktr.api.getJson('/get_web_data.cgi', (d) =>
      d && typeof d.firmware === 'string' ? '' : 'no "firmware" text');
    const which = web.ok && web.data.firmware ? ' (' + web.data.firmware + ')' : '';
    const yes = await Ktr.page.confirm('Factory defaults',
      'Every setting of the device' + which + ' returns to its factory value, the device address included. ' +
      'This resets the display, counter, sensor, brightness and synchronisation settings and all seven ' +
      'weekly schedules, and the device answers on address 1 afterwards. This cannot be undone.',
      'Restore factory defaults', true);
    if (!yes) {
      notice('defaults-notice', 'info', 'Nothing was sent.');
      return;
    }
    $('factory-defaults').disabled = true;
    notice('defaults-notice', 'busy', 'Sending the command…');
    const reply = await Ktr.api.postAnswer('/set_default.cgi', '');
    $('factory-defaults').disabled = false;
    if (!reply.ok) {
      notice('defaults-notice', 'error', reply.message);
      return;
    }
    notice('defaults-notice', 'ok', 'The device was told to restore its factory settings. It now answers on ' +
      'address 1: if it had another address, choose address 1 in the device bar above (after giving it its ' +
      'address again, if another device already answers on 1), then set up the schedules again.');
    await readStatus();
    await readDevices();
  }

  $('read-devices').addEventListener('click', readDevices);
  $('read-status').addEventListener('click', () => readStatus());
  $('run-config').addEventListener('click', runConfig);
  $('factory-defaults').addEventListener('click', factoryDefaults);

  readDevices().then(() => readStatus());
})();
