// Device settings page: the sixteen settings of /get_set_data.cgi, each
// written back under its own key through /setdata.cgi.
'use strict';

(function () {
  if (!Ktr.page.ready) return;

  // Unit and mode codes of a sensor; a code outside these lists is shown
  // as "code N" by the form.
  const units = [[0, '°C (degrees Celsius)'], [1, '°F (degrees Fahrenheit)'], [2, '%RH (relative humidity)'],
    [3, 'g/m3 (absolute humidity)']];
  const modes = [[0, '0: reading not shown'], [1, '1: reading shown'], [2, '2: reading shown']];

  // Without a bus search the configurator does not know the firmware and
  // reads the settings block without the two refresh registers, so both
  // read 1 whatever the device holds: a save cannot be checked then.
  let firmwareUnknown = false;
  const kUnknownWhy = 'not readable: the firmware version is unknown because the device did not answer ' +
    'when it was chosen; choose it again in the device bar above to read it';
  const refresh = (n) => ({
    key: 's' + n + 'rf', label: 'Refresh', hint: 'Firmware before 0.35.4 keeps no value here and reads 1.',
    same: (sent, reported) => (firmwareUnknown ? null : sent === reported),
  });

  const sensor = (n) => ({
    title: 'Sensor ' + n,
    icon: 'thermometer',
    fields: [
      { key: 's' + n + 'ad', label: 'Address' },
      { key: 's' + n + 'un', label: 'Unit', kind: 'select', options: units },
      { key: 's' + n + 'mo', label: 'Mode', kind: 'select', options: modes },
      refresh(n),
    ],
  });

  // A new device address changes where the device answers: ask first.
  async function confirmSend(items) {
    const diad = items.find((item) => item.entry.field.key === 'diad');
    if (!diad) return true;
    const now = Ktr.api.pageAddress || '?';
    return Ktr.page.confirm('Change the device address',
      'The device at address ' + now + ' gets the address ' + diad.value + '. Depending on the device it answers ' +
      'there at once, or only after "Apply configuration" (Bus page) or when it is powered again. The pages go on ' +
      'working on address ' + now + ': choose address ' + diad.value + ' in the device bar once the device answers ' +
      'there. Another device already on address ' + diad.value + ' would answer together with it.',
      'Change to address ' + diad.value);
  }

  const form = new Ktr.SettingsForm(document.getElementById('form'), {
    readPath: '/get_set_data.cgi',
    confirmSend,
    groups: [
      {
        title: 'Bus',
        icon: 'bus',
        fields: [
          { key: 'diad', label: 'Device address', range: [1, 247],
            hint: 'A bus address, 1 to 247. The pages go on working on the address in the device bar; choose ' +
              'the new address there once the device answers on it.' },
          { key: 'poll', label: 'Poll', hint: 'Reported only while the device address is 1; otherwise it reads 0.',
            same: (sent, reported, reply) => (reply.diad === 1 ? sent === reported : null) },
        ],
      },
      sensor(1),
      sensor(2),
      {
        title: 'Brightness',
        icon: 'display',
        fields: [
          { key: 'bmod', label: 'Mode' },
          { key: 'blvl', label: 'Level' },
          { key: 'bloc', label: 'Lock' },
          { key: 'bgra', label: 'Gradient' },
        ],
      },
      {
        title: 'Synchronisation',
        icon: 'clock',
        fields: [
          { key: 'sype', label: 'Type' },
          { key: 'stmo', label: 'Time mode' },
        ],
      },
    ],
  });
  async function readFirmware() {
    const reply = await Ktr.api.getJson('/get_web_data.cgi', (d) =>
      d && typeof d.firmware === 'string' ? '' : 'no "firmware" text');
    firmwareUnknown = reply.ok && reply.data.firmware === '';
    for (const n of [1, 2]) {
      const entry = form.entryFor('s' + n + 'rf');
      entry.field.unreported = firmwareUnknown ? kUnknownWhy : '';
      const hint = document.getElementById('f-s' + n + 'rf-hint');
      hint.textContent = firmwareUnknown ? 'Shown as 1: ' + kUnknownWhy + '.' : entry.field.hint;
    }
  }

  readFirmware().then(() => form.load());
})();
