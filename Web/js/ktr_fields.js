// Field values: validation in the page before anything is sent, and the
// request bodies built from them.
//
// The configurator takes a field value as a signed 32-bit integer and
// writes its low 16 bits, and it cuts dates and times at fixed character
// positions without looking at the separators. So the page only lets
// through values that mean what they look like: integers in the register's
// range, HH:MM, HH:MM:SS and YYYY-MM-DD with real hours, minutes and days.
// Each check returns { ok: true, value } with the text to send, or
// { ok: false, error } with the reason shown next to the input.
'use strict';

var Ktr = window.Ktr || {};
window.Ktr = Ktr;

Ktr.fields = (function () {
  const t = Ktr.t;
  const pad2 = (n) => String(n).padStart(2, '0');

  function integer(text, min, max) {
    const s = String(text).trim();
    if (s === '') return { ok: false, error: t('check.empty') };
    if (!/^[-+]?\d+$/.test(s)) return { ok: false, error: t('check.whole') };
    const n = Number(s);
    if (n < min || n > max) return { ok: false, error: t('check.range', { min, max }) };
    return { ok: true, value: String(n) };
  }

  // A register value as the device keeps it: 0 to 65535.
  const word = (text) => integer(text, 0, 65535);

  // Two digits, or one digit that is padded: "7" and "07" are both 7.
  function clockParts(text, pattern, what) {
    const m = pattern.exec(String(text).trim());
    if (!m) return { ok: false, error: t('check.layout', { layout: what }) };
    return { ok: true, parts: m.slice(1).map(Number) };
  }

  // Schedule entry time; allowEmpty: an entry without a time.
  function hhmm(text, allowEmpty) {
    if (allowEmpty && String(text).trim() === '') return { ok: true, value: '' };
    const p = clockParts(text, /^(\d{1,2}):(\d{2})$/, 'HH:MM');
    if (!p.ok) return p;
    const [h, m] = p.parts;
    if (h > 23) return { ok: false, error: t('check.hour') };
    if (m > 59) return { ok: false, error: t('check.minute') };
    return { ok: true, value: pad2(h) + ':' + pad2(m) };
  }

  function hhmmss(text) {
    const p = clockParts(text, /^(\d{1,2}):(\d{2}):(\d{2})$/, 'HH:MM:SS');
    if (!p.ok) return p;
    const [h, m, s] = p.parts;
    if (h > 23) return { ok: false, error: t('check.hour') };
    if (m > 59) return { ok: false, error: t('check.minute') };
    if (s > 59) return { ok: false, error: t('check.second') };
    return { ok: true, value: pad2(h) + ':' + pad2(m) + ':' + pad2(s) };
  }

  // The device keeps the year within the century and reads it back as
  // 20YY, so only the years 2000 to 2099 can be set.
  function isoDate(text) {
    const p = clockParts(text, /^(\d{4})-(\d{1,2})-(\d{1,2})$/, 'YYYY-MM-DD');
    if (!p.ok) return p;
    const [y, mo, d] = p.parts;
    if (y < 2000 || y > 2099) return { ok: false, error: t('check.year') };
    if (mo < 1 || mo > 12) return { ok: false, error: t('check.month') };
    const days = new Date(Date.UTC(y, mo, 0)).getUTCDate();
    if (d < 1 || d > days) return { ok: false, error: t('check.day', { n: days }) };
    return { ok: true, value: y + '-' + pad2(mo) + '-' + pad2(d) };
  }

  // The configurator's own computer time in the two layouts it sets.
  function computerDate(date) {
    return date.getFullYear() + '-' + pad2(date.getMonth() + 1) + '-' + pad2(date.getDate());
  }
  function computerTime(date) {
    return pad2(date.getHours()) + ':' + pad2(date.getMinutes()) + ':' + pad2(date.getSeconds());
  }

  // The index endpoint gives the date day first ("09-12-2026"); the pages
  // show every date as the device's own "YYYY-MM-DD". Anything else is shown
  // as it came.
  function deviceDate(text) {
    const m = /^(\d{2,})-(\d{2,})-(\d{4})$/.exec(String(text));
    return m ? m[3] + '-' + m[2] + '-' + m[1] : String(text);
  }

  // A 16-bit register read back as a signed value: 65534 is -2.
  function signed16(value) {
    return value > 32767 ? value - 65536 : value;
  }

  // The body of a request: key=value pairs joined by "&", byte for byte.
  // Every value has been through a check above, so none holds "&", "=" or
  // anything that would need escaping; a value that does is a fault in the
  // page and is refused here rather than sent cut or mangled.
  function body(pairs) {
    return pairs
      .map(([key, value]) => {
        const v = String(value);
        if (!/^[a-z0-9_]+$/.test(key) || !/^[-+0-9:a-z]*$/.test(v)) {
          throw new Error('refusing to send the field ' + key + '=' + v);
        }
        return key + '=' + v;
      })
      .join('&');
  }

  return { integer, word, hhmm, hhmmss, isoDate, computerDate, computerTime, deviceDate, signed16, body, pad2 };
})();
