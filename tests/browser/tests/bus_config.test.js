// Bus page, many devices: "Find all devices", and configuration files that
// the page and ktr-cli share (two simulated devices, at 2 and 4; the pages
// talk to 2).
'use strict';

const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { execFileSync } = require('child_process');
const fs = require('fs');
const path = require('path');
const { KtrStack } = require('../support/ktr_stack');

const cli = (...args) => execFileSync(process.env.KTR_CLI, args, { encoding: 'utf8' });
const posts = (page) => page.bodies.filter((b) => b.method === 'POST').map((b) => b.path + ' ' + b.body);

async function openBus(stack) {
  const page = await stack.loggedInPage();
  await page.goto('/bus.html');
  await page.locator('#config-notice .notice:not(.busy)').waitFor();
  page.bodies.length = 0;
  return page;
}

async function loadFile(page, name, text) {
  await page.setInputFiles('#load-config', { name, mimeType: 'application/json', buffer: Buffer.from(text) });
  // Every outcome names the file.
  await page.locator('#file-notice .notice:not(.busy)', { hasText: name }).waitFor();
}

describe('bus page: all devices and configuration files', () => {
  let stack;
  before(async () => {
    stack = new KtrStack();
    await stack.startSim(['--address', '4', '--address', '2']);
    await stack.startServe();
    await stack.startBrowser();
  });
  after(async () => {
    await stack.stop();
  });

  it('"Find all devices" lists every device with progress', async () => {
    const page = await openBus(stack);
    await page.click('#find-all');
    await page.locator('#find-notice .notice.busy').waitFor();
    await page.locator('#find-notice .notice.ok', { hasText: '2 KTR devices on addresses 1-126' }).waitFor({ timeout: 60000 });
    const rows = await page.locator('#found tbody tr').evaluateAll((trs) => trs.map((tr) => [...tr.cells].map((c) => c.textContent)));
    const fw = 'KTR Clock fw 0.35.4';
    assert.deepEqual(rows, [['2', fw, '0.35.4', 'these pages'], ['4', fw, '0.35.4', '']]);
    assert.equal(await page.evaluate(() => document.getElementById('find-progress').value), 126);
    assert.deepEqual(posts(page), ['/find_all.cgi start=1']);
    assert.deepEqual(page.problems, []);
    await page.close();
  });

  it('saves the file that ktr-cli backup writes, and ktr-cli restore reads it', async () => {
    const page = await openBus(stack);
    const download = page.waitForEvent('download');
    await page.click('#save-config');
    const file = await download;
    assert.equal(file.suggestedFilename(), 'ktr-address-2.json');
    const saved = path.join(stack.dir, 'saved.json');
    await file.saveAs(saved);
    await page.locator('#file-notice .notice.ok').waitFor();
    assert.deepEqual(posts(page), []);  // reading only

    const fromPage = JSON.parse(fs.readFileSync(saved, 'utf8'));
    const fromCli = JSON.parse(cli('backup', '--port', stack.link, '--address', '2'));
    assert.match(fromPage.taken, /^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$/);
    fromPage.taken = fromCli.taken;
    assert.deepEqual(fromPage, fromCli);
    assert.equal(cli('restore', '--port', stack.link, '--address', '2', saved, '--dry-run'),
      'address 2: firmware KTR Clock fw 0.35.4 version 0.35.4\naddress 2: 0 differences (dry run: nothing written)\n');
    await page.close();
  });

  it('loads a ktr-cli backup of another device: preview, write, read back', async () => {
    // Device 4 set otherwise than device 2 in a display value and a plan entry.
    cli('write', '--port', stack.link, '--address', '4', '10000', '13');
    cli('write', '--port', stack.link, '--address', '4', '14104', '1', String(9 * 256 + 15), '6');
    const backup = cli('backup', '--port', stack.link, '--address', '4');
    const page = await openBus(stack);
    await loadFile(page, 'four.json', backup);

    // Each difference by its plain name, with the name ktr-cli restore prints
    // in small type (schedule rows numbered from 1, as on the schedule page).
    const rows = await page.locator('#preview-rows tr').evaluateAll((trs) => trs.map((tr) =>
      [tr.querySelector('.name').textContent, tr.querySelector('code').textContent,
        ...[...tr.cells].slice(1, 3).map((c) => c.textContent)]));
    const before = (await stack.endpoint('/get_sched_data.cgi&mon')).json.plan[1];
    assert.deepEqual(rows, [
      ['Time display', 'display.tmpe', '10', '13'],
      ['Monday: plan row 2', 'schedule.mon plan row 2',
        'status ' + before.status + ', time ' + before.time + ', length ' + before.len, 'status 1, time 09:15, length 6'],
    ]);  // its own address (diad 4) is no difference
    assert.equal(await page.textContent('#write-config'), 'Write 2 changes');
    assert.deepEqual(posts(page), []);

    await page.click('#write-config');
    await page.locator('#file-notice .notice.ok', { hasText: '2 written, 2 verified, 0 refused' }).waitFor();
    assert.deepEqual(posts(page), ['/setdata.cgi tmpe=13',
      '/set_sched_data.cgi day=mon&idx=1&tp_status=1&tp_time=09:15&tp_len=6']);
    const results = await page.locator('#preview-rows td.result').allTextContents();
    assert.deepEqual(results, ['written, verified', 'written, verified']);
    assert.equal((await stack.endpoint('/get_display_data.cgi')).json.tmpe, 13);
    assert.deepEqual((await stack.endpoint('/get_sched_data.cgi&mon')).json.plan[1], { status: 1, time: '09:15', len: 6 });
    await page.close();
  });

  it('a hand-edited or foreign file writes nothing; other firmware needs a yes', async () => {
    const good = cli('backup', '--port', stack.link, '--address', '2');
    const page = await openBus(stack);
    await loadFile(page, 'bad.json', good.replace('"lm_m": 30', '"lm_m": 70000'));
    // What went wrong in words; the key and the reason in the detail line.
    assert.equal(await page.evaluate(() => document.querySelector('#file-notice .text').firstChild.textContent),
      'bad.json is not a configuration file that can be written. Nothing will be written.');
    assert.equal(await page.textContent('#file-notice .detail'), 'counter.lm_m: 70000 is out of range (0 to 65535)');
    await loadFile(page, 'other.json', '{"format": "something-else"}');
    assert.match(await page.textContent('#file-notice .detail'), /format: "something-else" is not "ktr-configuration"/);
    assert.equal(await page.isHidden('#preview'), true);
    assert.equal(await page.isDisabled('#write-config'), true);

    await loadFile(page, 'old.json', good.replace('"firmware_version": "0.35.4"', '"firmware_version": "0.35.3"')
      .replace(/"tmpe": \d+/, '"tmpe": 99'));
    assert.match(await page.textContent('#firmware-notice'), /the file is of "KTR Clock fw 0.35.4" 0.35.3/);
    assert.equal(await page.isDisabled('#write-config'), true);
    await page.check('#config-force');
    assert.equal(await page.isDisabled('#write-config'), false);
    assert.deepEqual(posts(page), []);
    await page.close();
  });
});
