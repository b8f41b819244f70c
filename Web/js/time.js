// Time page: the device clock from /get_time_data.cgi, shown live, and the
// form that sets the date ("dt"), the time ("tm"), the time zone ("t_zone",
// reported as "tz") and daylight saving ("dst") through /setdata.cgi, plus
// "Set from this computer's clock".
'use strict';

(function () {
  if (!Ktr.page.ready) return;
  const { el, icon, notice } = Ktr.page;
  const F = Ktr.fields;
  const t = Ktr.t;
  const $ = (id) => document.getElementById(id);

  const kLiveMs = 5000;
  // The device clock runs on between the write and the read back; a time
  // read back within this many seconds of the one sent counts as taken.
  const kTimeSlackS = 30;

  const seconds = (t) => {
    const m = /^(\d+):(\d+):(\d+)$/.exec(t);
    return m ? Number(m[1]) * 3600 + Number(m[2]) * 60 + Number(m[3]) : NaN;
  };
  function sameTime(sent, reported) {
    const diff = seconds(reported) - seconds(sent);
    const wrapped = ((diff % 86400) + 86400) % 86400;  // past midnight too
    return wrapped <= kTimeSlackS;
  }

  const signedText = (v) => {
    const s = F.signed16(v);
    return (s > 0 ? '+' : '') + s;
  };
  const dstText = (v) => (v === 0 ? t('time.dst.0') : v === 1 ? t('time.dst.1') : t('form.otherCode', { code: v }));

  const isTime = (d) =>
    d && typeof d.date === 'string' && typeof d.time === 'string' && Number.isInteger(d.tz) && Number.isInteger(d.dst)
      ? '' : t('api.shape', { keys: 'date, time, tz, dst' });

  // Live clock --------------------------------------------------------------
  let liveTimer = 0;
  async function live() {
    liveTimer = 0;
    $('live-computer').textContent = F.computerDate(new Date()) + ' ' + F.computerTime(new Date());
    const reply = await Ktr.api.getJson('/get_time_data.cgi', isTime);
    const box = $('live');
    if (reply.ok) {
      const d = reply.data;
      $('live-time').textContent = d.time;
      $('live-date').textContent = d.date;
      $('live-tz').textContent = signedText(d.tz);
      $('live-dst').textContent = dstText(d.dst);
      box.classList.remove('stale');
      notice('live-notice', '', '');
    } else {
      for (const id of ['live-time', 'live-date', 'live-tz', 'live-dst']) $(id).textContent = '—';
      box.classList.add('stale');
      notice('live-notice', 'error', reply.message, { label: t('common.tryNow'), run: liveNow }, reply.detail);
    }
    if (!document.hidden) liveTimer = setTimeout(live, kLiveMs);
  }
  function liveNow() {
    if (liveTimer) clearTimeout(liveTimer);
    live();
  }
  document.addEventListener('visibilitychange', () => {
    if (document.hidden && liveTimer) {
      clearTimeout(liveTimer);
      liveTimer = 0;
    } else if (!document.hidden) {
      liveNow();
    }
  });

  // Form ----------------------------------------------------------------------
  let computerButton;
  const form = new Ktr.SettingsForm($('form'), {
    readPath: '/get_time_data.cgi',
    groups: [{
      title: t('time.group'),
      icon: 'clock',
      help: 'time',
      fields: [
        { key: 'date', write: 'dt', label: t('time.date'), kind: 'date', hint: t('time.date.hint') },
        { key: 'time', write: 'tm', label: t('time.time'), kind: 'time', hint: t('time.time.hint'), same: sameTime },
        { key: 'tz', write: 't_zone', label: t('time.tz'), kind: 'signed', unit: t('unit.h'), range: [-12, 14],
          hint: t('time.tz.hint') },
        { key: 'dst', label: t('time.dst'), kind: 'select', options: [[0, t('time.dst.0')], [1, t('time.dst.1')]] },
      ],
    }],
    extraButtons: () => {
      computerButton = el('button', { type: 'button', class: 'secondary extra', id: 'set-computer-clock',
        onclick: setFromComputer }, icon('computer'), ' ' + t('time.fromComputer'));
      return [computerButton];
    },
    afterFill: () => liveNow(),
  });

  // The date and the time are two requests; each takes the computer's clock
  // right before it is sent. Should midnight pass between them, the date is
  // sent once more so that date and time belong together.
  async function setFromComputer() {
    const date = form.entryFor('dt');
    const time = form.entryFor('tm');
    let sentDate = '';
    await form.send([
      { entry: date, value: () => (sentDate = F.computerDate(new Date())) },
      { entry: time, value: () => F.computerTime(new Date()) },
      { entry: date, value: () => F.computerDate(new Date()), when: () => F.computerDate(new Date()) !== sentDate },
    ]);
  }

  form.load().then((ok) => {
    if (!ok) liveNow();
  });
})();
