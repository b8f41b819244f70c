// Device settings page: the sixteen settings of /get_set_data.cgi, each
// written back under its own key through /setdata.cgi.
'use strict';

(function () {
  if (!Ktr.page.ready) return;

  const t = Ktr.t;

  // Unit and mode codes of a sensor, as the device gives their meaning; a
  // code outside these lists is shown as "code N" by the form.
  const units = [0, 1, 2, 3].map((code) => [code, t('settings.unit.' + code)]);
  const modes = [0, 1, 2].map((code) => [code, t('settings.mode.' + code)]);

  // Without a bus search the configurator does not know the firmware and
  // reads the settings block without the two refresh registers, so both
  // read 1 whatever the device holds: a save cannot be checked then.
  let firmwareUnknown = false;
  const kUnknownWhy = t('settings.refresh.unknown');
  const refresh = (n) => ({
    key: 's' + n + 'rf', label: t('settings.refresh'), hint: t('settings.refresh.hint'),
    same: (sent, reported) => (firmwareUnknown ? null : sent === reported),
  });

  const sensor = (n) => ({
    title: t('settings.sensor', { n }),
    icon: 'thermometer',
    help: 'sensors',
    fields: [
      { key: 's' + n + 'ad', label: t('settings.sensorAddress') },
      { key: 's' + n + 'un', label: t('settings.unit'), kind: 'select', options: units },
      { key: 's' + n + 'mo', label: t('settings.mode'), kind: 'select', options: modes },
      refresh(n),
    ],
  });

  // A new device address changes where the device answers: ask first.
  async function confirmSend(items) {
    const diad = items.find((item) => item.entry.field.key === 'diad');
    if (!diad) return true;
    const now = Ktr.api.pageAddress || '?';
    return Ktr.page.confirm(t('settings.diad.confirmTitle'), t('settings.diad.confirm', { now, n: diad.value }),
      t('settings.diad.confirmOk', { n: diad.value }));
  }

  const form = new Ktr.SettingsForm(document.getElementById('form'), {
    readPath: '/get_set_data.cgi',
    confirmSend,
    groups: [
      {
        title: t('settings.bus'),
        icon: 'bus',
        help: 'device-bus',
        fields: [
          { key: 'diad', label: t('settings.diad'), range: [1, 247], hint: t('settings.diad.hint') },
          { key: 'poll', label: t('settings.poll'), hint: t('settings.poll.hint'),
            same: (sent, reported, reply) => (reply.diad === 1 ? sent === reported : null) },
        ],
      },
      sensor(1),
      sensor(2),
      {
        title: t('settings.brightness'),
        icon: 'display',
        help: 'brightness',
        fields: [
          { key: 'bmod', label: t('settings.bmod'), code: true },
          { key: 'blvl', label: t('settings.blvl') },
          { key: 'bloc', label: t('settings.bloc'), code: true },
          { key: 'bgra', label: t('settings.bgra'), code: true },
        ],
      },
      {
        title: t('settings.sync'),
        icon: 'clock',
        help: 'sync',
        fields: [
          { key: 'sype', label: t('settings.sype'), code: true },
          { key: 'stmo', label: t('settings.stmo'), code: true },
        ],
      },
    ],
  });
  async function readFirmware() {
    const reply = await Ktr.api.getJson('/get_web_data.cgi', (d) =>
      d && typeof d.firmware === 'string' ? '' : t('api.shape', { keys: 'firmware' }));
    firmwareUnknown = reply.ok && reply.data.firmware === '';
    for (const n of [1, 2]) {
      const entry = form.entryFor('s' + n + 'rf');
      entry.field.unreported = firmwareUnknown ? kUnknownWhy : '';
      const hint = document.getElementById('f-s' + n + 'rf-hint');
      if (firmwareUnknown) hint.textContent = t('settings.refresh.shownAs1', { why: kUnknownWhy });
    }
  }

  readFirmware().then(() => form.load());
})();
