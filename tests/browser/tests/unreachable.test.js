// A stopped simulator: the configurator cannot open the port and answers
// with empty bodies. Every page says that the device is not reachable and
// shows no values; after the device is back, "Try again" reads it again.
// A silent simulator: the pages say that the device does not answer, keep
// what was typed, and recover by themselves.
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

  // The port opens but nothing answers (A/B swapped, wrong baud rate): the
  // replies carry the last values read, and only their X-Device-Status says
  // that no reading took place.
  it('a silent device: the home page says the device does not answer, and recovers by itself', async () => {
    const page = await stack.newPage();
    await page.goto('/');
    await page.locator('#sensor1-value[data-text]').waitFor();
    await stack.stopSim();
    await stack.startSim(['--fault', 'silent']);
    const notice = page.locator('#notice .notice.error');
    await notice.waitFor({ timeout: 30000 });
    // What to check in words; the failed block only in the detail line.
    assert.equal(await notice.locator('.text').innerText(),
      'The device does not answer: the port opened but no reply came. Check the A/B wires, ' +
      'the baud rate and parity, and the device address.\nDetail: no-reply SET_10060_10078');
    assert.equal(await page.textContent('#clock-time'), '—');
    assert.equal(await page.textContent('#sensor1-value'), '—');
    assert.match(await page.getAttribute('#pulse', 'class'), /\boff\b/);

    await stack.stopSim();
    await stack.startSim();
    await page.locator('#sensor1-value[data-text]').waitFor({ timeout: 30000 });
    await eventually(async () => assert.equal(await page.locator('#notice .notice').count(), 0));
    await page.close();
  });

  it('a save the device does not answer keeps what was typed, and Retry saves it once the device is back', async () => {
    const page = await stack.loggedInPage();
    await page.goto('/display.html');
    await page.locator('#form-status .notice.info').waitFor();
    const date = await page.inputValue('#f-dtpe');
    await stack.stopSim();
    await stack.startSim(['--fault', 'silent']);
    try {
      await page.fill('#f-tmpe', '4');
      await page.click('#save');
      const notice = page.locator('#form-status .notice.error');
      await notice.waitFor({ timeout: 30000 });
      assert.match(await notice.innerText(), /^Not saved: Time display\. The device does not answer: the port opened but no reply/);
      assert.match(await notice.innerText(), /The values shown were last read at \d{2}:\d{2}:\d{2}\./);
      assert.equal(await page.inputValue('#f-tmpe'), '4');
      assert.equal(await page.textContent('#f-tmpe-state'), 'Not saved');
      assert.equal(await page.inputValue('#f-dtpe'), date);  // on show, greyed out and locked
      assert.ok(await page.isDisabled('#f-dtpe'));
    } finally {
      await stack.stopSim();
      await stack.startSim();
    }
    // The form reads again by itself and unlocks, still holding the 4.
    const back = page.locator('#form-status .notice.info', { hasText: 'Not saved yet: Time display.' });
    await back.waitFor({ timeout: 30000 });
    assert.ok(!(await page.isDisabled('#f-dtpe')));
    assert.equal(await page.inputValue('#f-tmpe'), '4');
    await back.locator('button', { hasText: 'Retry save' }).click();
    await page.locator('#form-status .notice.ok', { hasText: 'Saved and read back: Time display.' }).waitFor();
    assert.equal((await stack.endpoint('/get_display_data.cgi')).json.tmpe, 4);
    await page.close();
  });
});
