// Display page: the six display settings of /get_display_data.cgi, each
// written back under its own key through /setdata.cgi.
'use strict';

(function () {
  if (!Ktr.page.ready) return;
  const t = Ktr.t;
  // How long the device shows each item; the device gives no unit for these
  // numbers, so none is shown.
  const item = (key) => ({ key, label: t('display.' + key) });
  const form = new Ktr.SettingsForm(document.getElementById('form'), {
    readPath: '/get_display_data.cgi',
    groups: [{
      title: t('display.group'),
      icon: 'display',
      help: 'display',
      note: t('display.note'),
      fields: ['tmpe', 'dtpe', 'cdpe', 's1pe', 's2pe', 'stpe'].map(item),
    }],
  });
  form.load();
})();
