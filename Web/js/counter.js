// Counter page: the seven counter settings of /get_counter_data.cgi, each
// written back under its own key through /setdata.cgi.
'use strict';

(function () {
  if (!Ktr.page.ready) return;
  const form = new Ktr.SettingsForm(document.getElementById('form'), {
    readPath: '/get_counter_data.cgi',
    groups: [
      {
        title: 'Counter',
        icon: 'counter',
        fields: [
          { key: 'cdir', label: 'Direction' },
          { key: 'rlpe', label: 'Relay period' },
          { key: 'crpt', label: 'Repeat' },
        ],
      },
      {
        title: 'Limit',
        icon: 'clock',
        note: 'The counter limit in days, hours, minutes and seconds.',
        fields: [
          { key: 'lm_d', label: 'Days', unit: 'd' },
          { key: 'lm_h', label: 'Hours', unit: 'h', range: [0, 23] },
          { key: 'lm_m', label: 'Minutes', unit: 'min', range: [0, 59] },
          { key: 'lm_s', label: 'Seconds', unit: 's', range: [0, 59] },
        ],
      },
    ],
  });
  form.load();
})();
