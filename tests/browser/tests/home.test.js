// Home page against ktr-cli serve and ktr-sim: clock, sensor texts,
// firmware, the periodic refresh and how failures are shown.
'use strict';

const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { KtrStack } = require('../support/ktr_stack');
const { eventually } = require('../support/wait');

const seconds = (t) => t.split(':').reduce((s, p) => s * 60 + Number(p), 0);

describe('home page', () => {
  let stack;
  before(async () => {
    stack = await new KtrStack().start();
  });
  after(async () => {
    await stack.stop();
  });

  async function shownSensors(page) {
    await page.waitForFunction(() => document.querySelector('#sensor2-value').dataset.text);
    return page.evaluate(() => [1, 2].map((n) => ({
      text: document.querySelector('#sensor' + n + '-value').dataset.text,
      shown: document.querySelector('#sensor' + n + '-value').textContent,
      kind: document.querySelector('#sensor' + n + '-kind').textContent,
    })));
  }

  it('shows the device clock, both sensor texts and the firmware text', async () => {
    const page = await stack.newPage();
    await page.goto('/');
    const sensors = await shownSensors(page);
    const index = (await stack.endpoint('/get_index_data.cgi')).json;
    assert.equal(sensors[0].text, index.sensor1unit.trim());
    assert.equal(sensors[1].text, index.sensor2unit.trim());
    // The simulator's factory readings: 21.5 C on sensor 1, 52.0 %RH on sensor 2.
    assert.equal(sensors[0].shown, '21.5 °C');
    assert.equal(sensors[0].kind, 'Temperature');
    assert.equal(sensors[1].shown, '52 %RH');
    assert.equal(sensors[1].kind, 'Relative humidity');

    // The reply's day-first date, shown as the device's own YYYY-MM-DD.
    const [day, month, year] = index.date.split('-');
    assert.equal(await page.textContent('#clock-date'), year + '-' + month + '-' + day);
    const shownTime = await page.textContent('#clock-time');
    assert.match(shownTime, /^\d{2}:\d{2}:\d{2}$/);
    const diff = Math.abs(seconds(index.time) - seconds(shownTime));
    assert.ok(diff <= 10 || diff >= 86390, 'page clock ' + shownTime + ' vs device ' + index.time);

    const firmware = (await stack.endpoint('/get_web_data.cgi')).json.firmware;
    await eventually(async () => assert.equal(await page.textContent('#firmware'), firmware));
    assert.equal(firmware, 'KTR Clock fw 0.35.4');
    assert.deepEqual(page.problems, []);
    await page.close();
  });

  it('reads the index data again every few seconds', async () => {
    const page = await stack.newPage();
    await page.goto('/');
    await eventually(() => {
      const reads = page.bodies.filter((b) => b.path === '/get_index_data.cgi');
      assert.ok(reads.length >= 3, 'index reads so far: ' + reads.length);
    }, 20000);
    assert.ok(page.bodies.every((b) => b.method === 'GET'));
    await page.close();
  });

  it('shows the units that the sensor settings select, and a sensor that is off', async () => {
    // Sensor 1 as absolute humidity (8.600 g/m3 on the simulator), sensor 2 off.
    for (const body of ['s1un=3', 's2mo=0']) {
      assert.equal((await stack.post('/setdata.cgi', body)).text, '{"answer":"yes"}');
    }
    try {
      const page = await stack.newPage();
      await page.goto('/');
      const sensors = await shownSensors(page);
      assert.equal(sensors[0].shown, '8.600 g/m3');
      assert.equal(sensors[0].kind, 'Absolute humidity');
      assert.equal(sensors[1].text, '---');
      assert.equal(sensors[1].shown, 'Off');
      await page.close();
    } finally {
      for (const body of ['s1un=0', 's2mo=1']) await stack.post('/setdata.cgi', body);
    }
  });

  it('shows the server text of a 500 in the notice and the request list', async () => {
    const page = await stack.newPage();
    await page.goto('/');
    const message = await page.evaluate(async () => (await Ktr.api.postAnswer('/setdata.cgi', 'tmpe=x')).message);
    assert.equal(message, "The configurator answered 500: 'x' is not a valid integer value");
    await page.click('#activity summary');
    const row = page.locator('#activity tr.failed', { hasText: 'tmpe=x' });
    await row.waitFor();
    assert.match(await row.innerText(), /POST \/setdata\.cgi\s+tmpe=x/);
    assert.match(await row.innerText(), /'x' is not a valid integer value/);
    await page.close();
  });
});
