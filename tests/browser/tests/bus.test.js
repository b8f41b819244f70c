// Bus page: the device list, the configuration status, "Apply
// configuration" and "Factory defaults" with its confirmation.
'use strict';

const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { KtrStack } = require('../support/ktr_stack');

async function openBus(stack) {
  const page = await stack.loggedInPage();
  await page.goto('/bus.html');
  await page.locator('#devices-notice .notice.info').waitFor();
  await page.locator('#config-notice .notice:not(.busy)').waitFor();
  return page;
}

const posts = (page) => page.bodies.filter((b) => b.method === 'POST').map((b) => b.path + ' ' + b.body);

describe('bus page', () => {
  let stack;
  before(async () => {
    stack = await new KtrStack().start();
  });
  after(async () => {
    await stack.stop();
  });

  it('lists the devices that the settings read took from the device', async () => {
    const page = await openBus(stack);
    // The list endpoint reports what the last settings read found.
    const reads = page.bodies.map((b) => b.path).filter((p) => p !== '/find_all.cgi');  // the device bar's
    assert.deepEqual(reads.slice(0, 2), ['/get_set_data.cgi', '/get_ktr_list.cgi']);
    const list = (await stack.endpoint('/get_ktr_list.cgi')).json;
    const rows = await page.locator('#devices tbody tr').evaluateAll((trs) =>
      trs.map((tr) => [...tr.cells].map((c) => c.textContent)));
    // The simulator lists a sensor, a sync device and a sync device with
    // temperature sensor; the page names each type in words.
    assert.deepEqual(list.map((e) => e.desc), ['Sensor', 'Sync. dev.', 'Sync. dev. + temp. sensor']);
    const types = ['Sensor', 'Sync. device', 'Sync. device with temperature sensor'];
    assert.deepEqual(rows, list.map((e, i) => [String(i + 1), String(e.value), types[i]]));
    assert.match(await page.textContent('#config-status'),
      new RegExp('^' + (await stack.endpoint('/get_config_status.cgi')).json.value + ' \\('));
    assert.deepEqual(page.problems, []);
    await page.close();
  });

  it('"Apply configuration" asks first, sends the command and says what the status read after it means', async () => {
    const page = await openBus(stack);
    await page.click('#run-config');
    await page.locator('dialog.confirm[open]', { hasText: 'Only factory defaults return it to status 0' }).waitFor();
    await page.click('#confirm-cancel');
    await page.locator('#config-notice .notice.info', { hasText: 'Nothing was sent.' }).waitFor();
    assert.deepEqual(posts(page), []);
    await page.click('#run-config');
    await page.click('#confirm-ok');
    await page.locator('#config-notice .notice.ok', { hasText: 'Apply configuration sent.' }).waitFor();
    assert.deepEqual(posts(page), ['/run_config.cgi ']);
    assert.equal((await stack.endpoint('/get_config_status.cgi')).json.value, 1);
    assert.equal(await page.textContent('#config-status'), '1 (configuration applied and running)');
    await page.close();
  });

  it('"Factory defaults" sends nothing when cancelled, and restores the settings when confirmed', async () => {
    const original = (await stack.endpoint('/get_display_data.cgi')).json.tmpe;
    assert.equal((await stack.post('/setdata.cgi', 'tmpe=' + (original + 5))).text, '{"answer":"yes"}');
    const page = await openBus(stack);

    await page.click('#factory-defaults');
    await page.locator('dialog.confirm[open]').waitFor();
    await page.click('#confirm-cancel');
    await page.locator('#defaults-notice .notice.info', { hasText: 'Nothing was sent.' }).waitFor();
    assert.deepEqual(posts(page), []);

    await page.click('#factory-defaults');
    await page.click('#confirm-ok');
    await page.locator('#defaults-notice .notice.ok').waitFor();
    assert.deepEqual(posts(page), ['/set_default.cgi ']);
    assert.equal((await stack.endpoint('/get_display_data.cgi')).json.tmpe, original);
    await page.close();
  });
});
