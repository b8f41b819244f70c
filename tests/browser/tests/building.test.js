// A building of three devices from the pages: the device bar's choice, a
// page in another tab that notices the switch, a new device given its
// address, one file written to two devices, every clock set, the report.
// Devices at 2 and 3 and a new one at 1 that takes its address at once.
'use strict';

const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { execFileSync } = require('child_process');
const fs = require('fs');
const path = require('path');
const { KtrStack } = require('../support/ktr_stack');

const cli = (...args) => execFileSync(process.env.KTR_CLI, args, { encoding: 'utf8' });
const fw = 'KTR Clock fw 0.35.4';

describe('a building of devices', () => {
  let stack;
  before(async () => {
    stack = new KtrStack();
    await stack.startSim(['--address', '2', '--address', '3', '--address', '1', '--readdress', 'now']);
    await stack.startServe(['--address', '2']);
    await stack.startBrowser();
  });
  after(async () => {
    await stack.stop();
  });

  it('walks from the device chooser to the commissioning report', async () => {
    // Home names the device that `serve --address 2` read at start.
    const home = await stack.loggedInPage();
    await home.goto('/index.html');
    await home.locator('#device-now', { hasText: 'Device at address 2 · ' + fw }).waitFor();
    // The firmware text carries its version: not given twice.
    assert.equal(await home.textContent('#device-now'), 'Device at address 2 · ' + fw);
    assert.equal(await home.textContent('#firmware'), fw);
    await home.locator('#address', { hasText: '2' }).waitFor();
    const display = await stack.loggedInPage();
    await display.goto('/display.html');
    await display.locator('#device-now', { hasText: 'address 2' }).waitFor();

    const bus = await stack.loggedInPage();
    await bus.goto('/bus.html');
    await bus.locator('#config-notice .notice:not(.busy)').waitFor();

    // An address outside 1-247 is refused and nothing is sent.
    await bus.selectOption('#device-choice', 'other');
    await bus.fill('#device-other', '300');
    await bus.click('#device-use');
    await bus.locator('#device-notice .notice.error', { hasText: 'from 1 to 247' }).waitFor();
    assert.equal(bus.bodies.filter((b) => b.path === '/select_device.cgi').length, 0);

    // The chooser asks first, then the pages work on address 3.
    await bus.fill('#device-other', '3');
    await bus.click('#device-use');
    const reloaded = bus.waitForEvent('load');  // before the click: the reload may be quick
    await bus.click('#confirm-ok');
    await reloaded;
    await bus.locator('#device-now', { hasText: 'Device at address 3' }).waitFor();
    // The tab still on address 2 says so instead of showing 3's values as 2's.
    await display.locator('#device-notice .notice.error', { hasText: 'switched the configurator to address 3' })
      .waitFor({ timeout: 15000 });
    // A save from that tab is refused: nothing reaches address 3.
    const before = (await stack.endpoint('/get_display_data.cgi')).json.tmpe;
    const save = await display.evaluate(() => Ktr.api.postAnswer('/setdata.cgi', 'tmpe=' + 21)
      .then((r) => ({ kind: r.kind, status: r.status, message: r.message })));
    assert.deepEqual([save.kind, save.status], ['switched', 409]);
    assert.match(save.message, /address 3 .*nothing was sent/);
    assert.equal((await stack.endpoint('/get_display_data.cgi')).json.tmpe, before);

    // The new device on address 1 gets address 7; 7 is free, 2 is not.
    await bus.fill('#new-address', '2');
    await bus.click('#assign-address');
    await bus.click('#confirm-ok');
    await bus.locator('#assign-notice .notice.error', { hasText: 'Address 2 already answers' }).waitFor();
    await bus.fill('#new-address', '7');
    await bus.click('#assign-address');
    await bus.click('#confirm-ok');
    await bus.locator('#assign-notice .notice.ok', { hasText: 'Address 7 answers' }).waitFor({ timeout: 30000 });

    await bus.click('#find-all');
    await bus.locator('#find-notice .notice.ok', { hasText: '3 KTR devices' }).waitFor({ timeout: 60000 })
      .catch(async (e) => {
        // Say what the page and the search came to instead.
        throw new Error(e.message + '\nnotice: ' + await bus.textContent('#find-notice') +
          '\nsearch: ' + (await stack.endpoint('/find_all.cgi')).text);
      });
    assert.equal(await bus.locator('#device-choice option').count(), 4);  // 2, 3, 7 and another address

    // Address 2's configuration with another display time, into 3 and 7.
    const file = path.join(stack.dir, 'two.json');
    cli('backup', '--port', stack.link, '--address', '2', '-o', file);
    const doc = JSON.parse(fs.readFileSync(file, 'utf8'));
    doc.display.tmpe = 17;
    await bus.setInputFiles('#many-file', { name: 'two.json', mimeType: 'application/json',
      buffer: Buffer.from(JSON.stringify(doc)) });
    await bus.fill('#many-addresses', '3, 7, 9');
    await bus.click('#write-many');
    await bus.locator('#many-notice .notice.error', { hasText: '2 of 3 devices hold the file now.' })
      .waitFor({ timeout: 60000 });
    const many = await bus.locator('#many-results li').allTextContents();
    assert.match(many[0], /^Address 3: \d+ written, \d+ verified$/);
    assert.match(many[1], /^Address 7: \d+ written, \d+ verified$/);
    assert.match(many[2], /^Address 9: not written: does not answer/);
    assert.equal((await stack.endpoint('/get_display_data.cgi')).json.tmpe, 17);  // back on 3

    await bus.click('#clock-all');
    await bus.locator('#clock-notice .notice.ok', { hasText: '3 of 3 clocks set' }).waitFor({ timeout: 60000 });

    const download = bus.waitForEvent('download');
    await bus.click('#save-report');
    const csv = fs.readFileSync(await (await download).path(), 'utf8').trim().split('\r\n').map((l) => l.split(','));
    assert.deepEqual(csv[0], ['address', 'firmware', 'version', 'clock', 'configuration file', 'applied', 'verified', 'time']);
    const rows = Object.fromEntries(csv.slice(1).map((r) => [r[0], r]));
    assert.deepEqual(Object.keys(rows).sort(), ['2', '3', '7', '9']);
    for (const a of ['3', '7']) assert.deepEqual(rows[a].slice(1, 7).map((c, i) => (i === 2 ? c.slice(0, 3) : c)),
      [fw, '0.35.4', 'set', 'two.json', 'yes', 'yes']);
    assert.deepEqual(rows['9'].slice(4, 7), ['two.json', 'no', 'no']);
    assert.equal(rows['2'][4], '');
    for (const page of [home, bus]) assert.deepEqual(page.problems, []);
  });
});
