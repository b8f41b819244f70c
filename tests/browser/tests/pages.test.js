// Every page as files: served with its type, no failed loads or script
// errors, and no sideways scrolling from a phone to a laptop.
'use strict';

const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { KtrStack } = require('../support/ktr_stack');

const kFiles = ['index.html', 'login.html', 'time.html', 'display.html', 'counter.html', 'settings.html',
  'schedule.html', 'bus.html'];
const kWidths = [360, 768, 1280];

describe('pages', () => {
  let stack;
  before(async () => {
    stack = await new KtrStack().start();
  });
  after(async () => {
    await stack.stop();
  });

  const kTypes = [
    ['/', 'text/html; charset=utf-8'],
    ['/favicon.ico', 'image/x-icon; charset=utf-8'],
    ['/css/ktr.css', 'text/css; charset=utf-8'],
    ['/js/ktr_api.js', 'text/javascript; charset=utf-8'],
    ['/images/icons.svg', 'image/svg+xml; charset=utf-8'],
    ['/images/logo.svg', 'image/svg+xml; charset=utf-8'],
  ];
  for (const [path, type] of kTypes) {
    it('serves ' + path + ' as ' + type, async () => {
      const response = await fetch(stack.base + path);
      assert.equal(response.status, 200);
      assert.equal(response.headers.get('content-type'), type);
    });
  }

  it('the favicon is an icon file with 16, 32 and 48 pixel images', async () => {
    const bytes = Buffer.from(await (await fetch(stack.base + '/favicon.ico')).arrayBuffer());
    assert.deepEqual([bytes.readUInt16LE(0), bytes.readUInt16LE(2)], [0, 1]);
    const sizes = [];
    for (let i = 0; i < bytes.readUInt16LE(4); ++i) sizes.push(bytes[6 + 16 * i]);
    assert.deepEqual(sizes, [16, 32, 48]);
  });

  for (const width of kWidths) {
    it('every page loads cleanly and fits ' + width + ' pixels', async () => {
      for (const file of kFiles) {
        const page = await stack.loggedInPage({ viewport: { width, height: 800 } });
        await page.goto('/' + file);
        await page.waitForLoadState('networkidle');
        const overflow = await page.evaluate(() => document.documentElement.scrollWidth - window.innerWidth);
        assert.ok(overflow <= 0, file + ' is ' + overflow + ' px too wide at ' + width);
        assert.deepEqual(page.problems, [], file);
        // Every icon reference points at a symbol that exists.
        const missing = await page.evaluate(async () => {
          const sprite = new DOMParser().parseFromString(await (await fetch('images/icons.svg')).text(), 'image/svg+xml');
          return [...document.querySelectorAll('use')].map((u) => u.getAttribute('href').split('#')[1])
            .filter((id) => !sprite.getElementById(id));
        });
        assert.deepEqual(missing, [], file);
        await page.close();
      }
    });
  }
  it('at phone width the current page shows in the navigation, and the schedule fits with "Save all" in view', async () => {
    const viewport = { width: 390, height: 844 };
    for (const file of kFiles.filter((f) => f !== 'login.html')) {
      const page = await stack.loggedInPage({ viewport });
      await page.goto('/' + file);
      const box = await page.locator('#top .nav a.active').boundingBox();
      assert.ok(box && box.x >= 0 && box.x + box.width <= viewport.width, file + ': ' + JSON.stringify(box));
      await page.close();
    }
    const page = await stack.loggedInPage({ viewport });
    await page.goto('/schedule.html#mon');
    await page.locator('#day-notice .notice.info').waitFor();
    // Each entry on one line, without sideways scrolling.
    const wraps = await page.locator('.schedule-day .table-wrap').evaluateAll((w) => w.map((e) => e.scrollWidth - e.clientWidth));
    assert.deepEqual(wraps, [0, 0]);
    await page.fill('#plan tr[data-idx="0"] input[name="len"]', '9');
    const save = await page.locator('#save-all').boundingBox();
    assert.ok(save.y >= 0 && save.y + save.height <= viewport.height, JSON.stringify(save));
    await page.close();
  });
});
