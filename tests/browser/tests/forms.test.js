// The settings forms (display, counter, device settings, and the refused
// write of an older firmware): every input shows the endpoint's value,
// every change is one /setdata.cgi request with the exact key=value body,
// is read back through the endpoint, and bad values are never sent.
'use strict';

const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { KtrStack } = require('../support/ktr_stack');

async function openForm(stack, file) {
  const page = await stack.loggedInPage();
  await page.goto('/' + file);
  await page.locator('#form-status .notice.info', { hasText: 'Read from the device' }).waitFor();
  return page;
}

const writes = (page) => page.bodies.filter((b) => b.method === 'POST');

async function saved(page) {
  const box = page.locator('#form-status .notice.ok, #form-status .notice.error');
  await box.waitFor();
  return { ok: (await box.getAttribute('class')).includes('ok'), text: await box.innerText() };
}

const kForms = [
  { file: 'display.html', read: '/get_display_data.cgi', change: [['cdpe', '7']] },
  { file: 'counter.html', read: '/get_counter_data.cgi', change: [['lm_m', '45'], ['crpt', '0']] },
  { file: 'settings.html', read: '/get_set_data.cgi', change: [['blvl', '3'], ['s1un', '2'], ['stmo', '65535']] },
];

describe('settings forms', () => {
  let stack;
  before(async () => {
    stack = await new KtrStack().start();
  });
  after(async () => {
    await stack.stop();
  });

  for (const form of kForms) {
    it(form.file + ' shows every value of ' + form.read, async () => {
      const page = await openForm(stack, form.file);
      const data = (await stack.endpoint(form.read)).json;
      const shown = await page.locator('form.settings [name]').evaluateAll((inputs) =>
        Object.fromEntries(inputs.map((i) => [i.name, i.value])));
      const expected = Object.fromEntries(Object.entries(data).map(([k, v]) => [k, String(v)]));
      assert.deepEqual(shown, expected);
      assert.deepEqual(page.problems, []);
      await page.close();
    });

    it(form.file + ' sends each change on its own and reads it back', async () => {
      const page = await openForm(stack, form.file);
      for (const [key, value] of form.change) {
        const input = page.locator('#f-' + key);
        if ((await input.evaluate((e) => e.tagName)) === 'SELECT') await input.selectOption(value);
        else await input.fill(value);
      }
      await page.click('#save');
      const result = await saved(page);
      assert.ok(result.ok, result.text);
      // One request per change, in form order, each with the one field.
      const formOrder = await page.locator('form.settings [name]').evaluateAll((i) => i.map((e) => e.name));
      const sentOrder = form.change.slice().sort((a, b) => formOrder.indexOf(a[0]) - formOrder.indexOf(b[0]));
      assert.deepEqual(writes(page), sentOrder.map(([k, v]) => ({ method: 'POST', path: '/setdata.cgi', body: k + '=' + v })));
      const after = (await stack.endpoint(form.read)).json;
      for (const [key, value] of form.change) {
        assert.equal(String(after[key]), value, key);
        assert.equal(await page.inputValue('#f-' + key), value);
        assert.match(await page.getAttribute('.field[data-key="' + key + '"]', 'class'), /\bsaved\b/);
      }
      await page.close();
    });
  }

  const kBadValues = [
    ['tmpe', '70000', 'Allowed: 0 to 65535.'],
    ['tmpe', '-1', 'Allowed: 0 to 65535.'],
    ['dtpe', '12a', 'Whole numbers only.'],
    ['dtpe', '0x10', 'Whole numbers only.'],
    ['s1pe', '', 'Enter a number.'],
    ['stpe', '1&tmpe=2', 'Whole numbers only.'],
  ];
  for (const [key, value, error] of kBadValues) {
    it('refuses ' + JSON.stringify(value) + ' for ' + key + ' without sending anything', async () => {
      const page = await openForm(stack, 'display.html');
      await page.fill('#f-' + key, value);
      await page.click('#save');
      await page.locator('#form-status .notice.error', { hasText: 'nothing was sent' }).waitFor();
      assert.equal(await page.textContent('#f-' + key + '-error'), error);
      assert.deepEqual(writes(page), []);
      await page.close();
    });
  }

  it('takes a device address of 1 to 247 only, and asks before it changes it', async () => {
    const page = await openForm(stack, 'settings.html');
    for (const bad of ['0', '248', '65535']) {
      await page.fill('#f-diad', bad);
      await page.click('#save');
      await page.locator('#form-status .notice.error', { hasText: 'nothing was sent' }).waitFor();
      assert.equal(await page.textContent('#f-diad-error'), 'Allowed: 1 to 247.');
    }
    await page.fill('#f-diad', '9');
    await page.click('#save');
    await page.locator('dialog.confirm[open]', { hasText: 'gets the address 9' }).waitFor();
    await page.click('#confirm-cancel');
    await page.locator('#form-status .notice.info', { hasText: 'Nothing was sent.' }).waitFor();
    assert.deepEqual(writes(page), []);
    await page.close();
  });

  it('shows a code outside the known list as its own entry', async () => {
    assert.equal((await stack.post('/setdata.cgi', 's2un=9')).text, '{"answer":"yes"}');
    try {
      const page = await openForm(stack, 'settings.html');
      assert.equal(await page.inputValue('#f-s2un'), '9');
      assert.equal(await page.locator('#f-s2un option:checked').innerText(), 'code 9');
      await page.close();
    } finally {
      await stack.post('/setdata.cgi', 's2un=2');
    }
  });

  it('a value the device reports otherwise offers Retry and "Use device value"', async () => {
    const page = await openForm(stack, 'display.html');
    // Another client writes 10 between the page's write and its read back:
    // the read back is held until that write is done.
    const otherWrite = async (route) => {
      if (writes(page).length > 0) await stack.post('/setdata.cgi', 'tmpe=10');
      await route.continue();
    };
    const mismatch = async (value) => {
      await page.route('**/get_display_data.cgi', otherWrite);
      await page.fill('#f-tmpe', value);
      await page.click('#save');
      const result = await saved(page);
      await page.unroute('**/get_display_data.cgi', otherWrite);
      assert.equal(result.text, 'The device did not take: Time display.');
      assert.equal(await page.inputValue('#f-tmpe'), value);  // what was sent stays
      assert.equal(await page.textContent('#f-tmpe-error'), 'Sent ' + value + ', the device reports 10.');
    };
    await mismatch('11');
    await page.click('#f-tmpe-state button.retry');
    await page.locator('#form-status .notice.ok', { hasText: 'Saved and read back: Time display.' }).waitFor();
    assert.equal((await stack.endpoint('/get_display_data.cgi')).json.tmpe, 11);

    await mismatch('12');
    await page.click('#f-tmpe-state button.use-device');
    assert.equal(await page.inputValue('#f-tmpe'), '10');
    assert.ok(await page.isDisabled('#save'));
    await page.close();
  });

  it('asks before a link leaves unsaved changes behind', async () => {
    const page = await openForm(stack, 'counter.html');
    await page.fill('#f-crpt', '3');
    await page.click('#top .nav a[href="index.html"]');
    await page.click('#confirm-cancel');
    assert.match(page.url(), /counter\.html$/);
    assert.equal(await page.inputValue('#f-crpt'), '3');
    await page.click('#top .nav a[href="index.html"]');
    await page.click('#confirm-ok');
    await page.waitForURL(/index\.html$/);
    assert.deepEqual(writes(page), []);
    await page.close();
  });

  it('undo puts the values as read back and sends nothing', async () => {
    const page = await openForm(stack, 'counter.html');
    const before = await page.inputValue('#f-lm_h');
    await page.fill('#f-lm_h', '23');
    await page.click('#undo');
    assert.equal(await page.inputValue('#f-lm_h'), before);
    assert.ok(await page.isDisabled('#save'));
    assert.deepEqual(writes(page), []);
    await page.close();
  });
});

describe('settings form with firmware 0.35.3', () => {
  let stack;
  before(async () => {
    stack = new KtrStack();
    await stack.startSim(['--firmware', 'old']);
    await stack.startServe();
    await stack.startBrowser();
  });
  after(async () => {
    await stack.stop();
  });

  it('says that the device refused a value, and keeps it as not saved', async () => {
    // This firmware has no register 10077: the configurator still answers
    // yes, and its X-Device-Status tells of the device's exception.
    const page = await openForm(stack, 'settings.html');
    assert.equal(await page.inputValue('#f-s1rf'), '1');
    await page.fill('#f-s1rf', '4');
    await page.click('#save');
    const result = await saved(page);
    assert.ok(!result.ok);
    assert.match(result.text, /^Not saved: Refresh\. The device refused the request: .*\. Check the device address\.\nDetail: exception SET_10077\n/);
    assert.equal(await page.inputValue('#f-s1rf'), '4');
    assert.equal(await page.textContent('#f-s1rf-state'), 'Not saved');
    assert.deepEqual(writes(page), [{ method: 'POST', path: '/setdata.cgi', body: 's1rf=4' }]);
    await page.close();
  });
});

describe('settings form without a bus search', () => {
  let stack;
  before(async () => {
    // The device is silent while serve starts, so its firmware stays unknown.
    stack = new KtrStack();
    await stack.startSim(['--fault', 'silent']);
    await stack.startServe(['--address', '1']);
    await stack.stopSim();
    await stack.startSim();
    await stack.startBrowser();
  });
  after(async () => {
    await stack.stop();
  });

  it('says why Refresh cannot be checked instead of reporting it as not taken', async () => {
    // The firmware is unknown, so the configurator reads the settings block
    // without the refresh registers and reports 1 whatever the device holds.
    const page = await openForm(stack, 'settings.html');
    assert.match(await page.textContent('#f-s1rf-hint'), /firmware version is unknown because the device did not answer when it was chosen/);
    await page.fill('#f-s1rf', '5');
    await page.click('#save');
    const result = await saved(page);
    assert.ok(result.ok, result.text);
    assert.match(result.text, /^Sent, but not reported back by the device: Refresh \(not readable: the firmware version is unknown/);
    assert.deepEqual(writes(page), [{ method: 'POST', path: '/setdata.cgi', body: 's1rf=5' }]);
    await page.close();
  });
});
