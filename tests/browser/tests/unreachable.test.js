// A stopped simulator: the configurator cannot open the port and answers
// with empty bodies. Every page says that the device is not reachable and
// shows no values; after the device is back, "Try again" reads it again.
'use strict';

const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { KtrStack } = require('../support/ktr_stack');
const { eventually } = require('../support/wait');

const kNotReachable = /^Device not reachable: the configurator could not open the serial port\./;

// Each page: where its notice and its values are.
const kPages = [
  { file: 'time.html', notice: '#form-status', values: 'form.settings [name]' },
  { file: 'display.html', notice: '#form-status', values: 'form.settings [name]' },
  { file: 'counter.html', notice: '#form-status', values: 'form.settings [name]' },
  { file: 'settings.html', notice: '#form-status', values: 'form.settings [name]' },
  { file: 'schedule.html#mon', notice: '#day-notice', values: '#day-panel input[type="text"]' },
  { file: 'bus.html', notice: '#devices-notice', values: '#devices tbody td' },
];

describe('device not reachable', () => {
  let stack;
  before(async () => {
    stack = await new KtrStack().start();
  });
  after(async () => {
    await stack.stop();
  });

  it('the home page stops showing a reading as soon as a refresh fails', async () => {
    const page = await stack.newPage();
    await page.goto('/');
    await page.locator('#sensor1-value[data-text]').waitFor();
    await stack.stopSim();
    const notice = page.locator('#notice .notice.error');
    await notice.waitFor({ timeout: 20000 });
    assert.match(await notice.innerText(), kNotReachable);
    assert.equal(await page.textContent('#clock-time'), '—');
    assert.equal(await page.textContent('#sensor1-value'), '—');
    assert.equal(await page.textContent('#sensor2-value'), '—');
    assert.match(await page.textContent('#updated'), /^Last good reading at \d{2}:\d{2}:\d{2}\.$/);

    await stack.startSim();
    await page.click('#notice button');
    await page.locator('#sensor1-value[data-text]').waitFor();
    await eventually(async () => assert.equal(await page.locator('#notice .notice').count(), 0));
    await page.close();
  });

  for (const p of kPages) {
    it(p.file + ' says so and shows no values', async () => {
      await stack.stopSim();
      try {
        const page = await stack.loggedInPage();
        await page.goto('/' + p.file);
        const notice = page.locator(p.notice + ' .notice.error');
        await notice.waitFor();
        assert.match(await notice.innerText(), kNotReachable);
        const values = await page.locator(p.values).evaluateAll((els) =>
          els.map((e) => ('value' in e && e.tagName !== 'TD' ? e.value : e.textContent)));
        assert.ok(values.every((v) => v === ''), 'values on show: ' + JSON.stringify(values));
        assert.deepEqual(page.bodies.filter((b) => b.method === 'POST'), []);
        await page.close();
      } finally {
        await stack.startSim();
      }
    });
  }

  it('a form saved while the device is gone says so and keeps nothing stale', async () => {
    const page = await stack.loggedInPage();
    await page.goto('/display.html');
    await page.locator('#form-status .notice.info').waitFor();
    await stack.stopSim();
    try {
      await page.fill('#f-tmpe', '4');
      await page.click('#save');
      const notice = page.locator('#form-status .notice.error');
      await notice.waitFor();
      assert.match(await notice.innerText(), /^Not saved: Time\. Device not reachable/);
      assert.equal(await page.inputValue('#f-dtpe'), '');
      assert.ok(await page.isDisabled('#f-dtpe'));
    } finally {
      await stack.startSim();
    }
    await page.click('#form-status button');
    await page.locator('#form-status .notice.info', { hasText: 'Read from the device' }).waitFor();
    assert.notEqual(await page.inputValue('#f-dtpe'), '');
    await page.close();
  });
});
