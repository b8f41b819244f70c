// Counter page: the seven counter settings of /get_counter_data.cgi, each
// written back under its own key through /setdata.cgi.
'use strict';

(function () {
  if (!Ktr.page.ready) return;
  const t = Ktr.t;
  const form = new Ktr.SettingsForm(document.getElementById('form'), {
    readPath: '/get_counter_data.cgi',
    groups: [
      {
        title: t('counter.group'),
        icon: 'counter',
        help: 'counter',
        fields: [
          { key: 'cdir', label: t('counter.cdir'), code: true },
          { key: 'rlpe', label: t('counter.rlpe') },
          { key: 'crpt', label: t('counter.crpt'), code: true },
        ],
      },
      {
        title: t('counter.limit'),
        icon: 'clock',
        help: 'counter',
        note: t('counter.limit.note'),
        fields: [
          { key: 'lm_d', label: t('counter.lm_d'), unit: t('unit.d') },
          { key: 'lm_h', label: t('counter.lm_h'), unit: t('unit.h'), range: [0, 23] },
          { key: 'lm_m', label: t('counter.lm_m'), unit: t('unit.min'), range: [0, 59] },
          { key: 'lm_s', label: t('counter.lm_s'), unit: t('unit.s'), range: [0, 59] },
        ],
      },
    ],
  });
  form.load();
})();
