// Time page: the device clock, each of the four settings with its exact
// body, "Set from this computer's clock", and values that are refused in
// the page.
'use strict';

const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { KtrStack } = require('../support/ktr_stack');

const seconds = (t) => t.split(':').reduce((s, p) => s * 60 + Number(p), 0);
// Seconds from a to b on a 24-hour clock.
const ahead = (a, b) => (((seconds(b) - seconds(a)) % 86400) + 86400) % 86400;
const pad = (n) => String(n).padStart(2, '0');
const isoDate = (d) => d.getFullYear() + '-' + pad(d.getMonth() + 1) + '-' + pad(d.getDate());
const hms = (d) => pad(d.getHours()) + ':' + pad(d.getMinutes()) + ':' + pad(d.getSeconds());

async function openTime(stack) {
  const page = await stack.loggedInPage();
  await page.goto('/time.html');
  await page.locator('#form-status .notice.info', { hasText: 'Read from the device' }).waitFor();
  return page;
}

async function save(page) {
  await page.click('#save');
  const box = page.locator('#form-status .notice.ok, #form-status .notice.error');
  await box.waitFor();
  return { ok: (await box.getAttribute('class')).includes('ok'), text: await box.innerText() };
}

const writes = (page) => page.bodies.filter((b) => b.method === 'POST').map((b) => b.body);

describe('time page', () => {
  let stack;
  before(async () => {
    stack = await new KtrStack().start();
  });
  after(async () => {
    await stack.stop();
  });

  it('shows the date, time, time zone and daylight saving of the device', async () => {
    const page = await openTime(stack);
    const data = (await stack.endpoint('/get_time_data.cgi')).json;
    assert.equal(await page.inputValue('#f-date'), data.date);
    assert.ok(ahead(await page.inputValue('#f-time'), data.time) <= 10);
    assert.equal(await page.inputValue('#f-tz'), String(data.tz));
    assert.equal(await page.inputValue('#f-dst'), String(data.dst));
    await page.locator('#live-time:not(:text("—"))').waitFor();
    assert.match(await page.textContent('#live-time'), /^\d{2}:\d{2}:\d{2}$/);
    assert.equal(await page.textContent('#live-tz'), '+' + data.tz);
    assert.deepEqual(page.problems, []);
    await page.close();
  });

  it('sets the date as YYYY-MM-DD', async () => {
    const page = await openTime(stack);
    await page.fill('#f-date', '2031-05-17');
    const result = await save(page);
    assert.ok(result.ok, result.text);
    assert.deepEqual(writes(page), ['dt=2031-05-17']);
    assert.equal((await stack.endpoint('/get_time_data.cgi')).json.date, '2031-05-17');
    await page.close();
  });

  it('sets the time with its colons as they are, never percent-encoded', async () => {
    const page = await openTime(stack);
    await page.fill('#f-time', '7:30:15');
    const result = await save(page);
    assert.ok(result.ok, result.text);
    assert.deepEqual(writes(page), ['tm=07:30:15']);
    const time = (await stack.endpoint('/get_time_data.cgi')).json.time;
    assert.ok(ahead('07:30:15', time) <= 30, 'device time ' + time);
    await page.close();
  });

  it('sets a negative time zone under t_zone and shows it signed', async () => {
    const page = await openTime(stack);
    await page.fill('#f-tz', '-2');
    await page.selectOption('#f-dst', '0');
    const result = await save(page);
    assert.ok(result.ok, result.text);
    assert.deepEqual(writes(page), ['t_zone=-2', 'dst=0']);
    const data = (await stack.endpoint('/get_time_data.cgi')).json;
    assert.equal(data.tz, 65534);
    assert.equal(data.dst, 0);
    assert.equal(await page.inputValue('#f-tz'), '-2');
    await page.locator('#live-tz', { hasText: '-2' }).waitFor();
    await page.close();
  });

  it("sets date and time from this computer's clock", async () => {
    const page = await openTime(stack);
    const before = new Date();
    await page.click('#set-computer-clock');
    const box = page.locator('#form-status .notice.ok, #form-status .notice.error');
    await box.waitFor();
    assert.ok((await box.getAttribute('class')).includes('ok'), await box.innerText());
    const sent = writes(page);
    assert.match(sent[0], /^dt=\d{4}-\d{2}-\d{2}$/);
    assert.match(sent[1], /^tm=\d{2}:\d{2}:\d{2}$/);
    const data = (await stack.endpoint('/get_time_data.cgi')).json;
    const now = new Date();
    if (isoDate(before) === isoDate(now)) {
      assert.equal(sent[0], 'dt=' + isoDate(now));
      assert.equal(data.date, isoDate(now));
    }
    assert.ok(ahead(data.time, hms(now)) <= 5 || ahead(hms(now), data.time) <= 5, data.time + ' vs ' + hms(now));
    await page.close();
  });

  const kBad = [
    ['date', '2024-02-30', 'That month has 29 days.'],
    ['date', '24-02-29', 'Use the layout YYYY-MM-DD.'],
    ['date', '2124-01-01', 'The device keeps years 2000 to 2099.'],
    ['date', '2024-13-01', 'The month runs from 01 to 12.'],
    ['time', '25:00:00', 'The hour runs from 00 to 23.'],
    ['time', '12:60:00', 'The minute runs from 00 to 59.'],
    ['time', '07:30', 'Use the layout HH:MM:SS.'],
    ['tz', '15', 'Allowed: -12 to 14.'],
    ['tz', '-13', 'Allowed: -12 to 14.'],
    ['tz', '+1h', 'Whole numbers only.'],
  ];
  for (const [field, value, error] of kBad) {
    it('refuses ' + field + ' ' + value + ' in the page', async () => {
      const page = await openTime(stack);
      await page.fill('#f-' + field, value);
      await page.click('#save');
      await page.locator('#form-status .notice.error', { hasText: 'nothing was sent' }).waitFor();
      assert.equal(await page.textContent('#f-' + field + '-error'), error);
      assert.deepEqual(writes(page), []);
      await page.close();
    });
  }
});
