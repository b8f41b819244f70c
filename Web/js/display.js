// Display page: the six display settings of /get_display_data.cgi, each
// written back under its own key through /setdata.cgi.
'use strict';

(function () {
  if (!Ktr.page.ready) return;
  const form = new Ktr.SettingsForm(document.getElementById('form'), {
    readPath: '/get_display_data.cgi',
    groups: [{
      title: 'Display',
      icon: 'display',
      note: 'What the device shows and for how long; 0 to 65535 each.',
      fields: [
        { key: 'tmpe', label: 'Time' },
        { key: 'dtpe', label: 'Date' },
        { key: 'cdpe', label: 'Counter' },
        { key: 's1pe', label: 'Sensor 1' },
        { key: 's2pe', label: 'Sensor 2' },
        { key: 'stpe', label: 'Status' },
      ],
    }],
  });
  form.load();
})();
