// Login and logout: the exact login body, the wrong-password answer, the
// gate of the settings pages and the way back after a logout.
'use strict';

const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { KtrStack } = require('../support/ktr_stack');

describe('login and logout', () => {
  let stack;
  before(async () => {
    stack = await new KtrStack().start();
  });
  after(async () => {
    await stack.stop();
  });

  const path = (page) => new URL(page.url()).pathname + new URL(page.url()).search;

  it('every settings page sends a visitor without login to the login page', async () => {
    const page = await stack.newPage();
    for (const file of ['time.html', 'display.html', 'counter.html', 'settings.html', 'schedule.html', 'bus.html']) {
      await page.goto('/' + file);
      await page.waitForURL(/login\.html/);
      assert.equal(path(page), '/login.html?next=' + file);
    }
    // Nothing of the device was asked for on the way.
    assert.deepEqual(page.bodies, []);
    await page.close();
  });

  it('a wrong password says so and opens nothing', async () => {
    const page = await stack.newPage();
    await page.goto('/login.html?next=display.html');
    await page.fill('#password', 'wrong');
    await page.click('#login');
    await page.locator('#notice .notice.error', { hasText: 'Wrong password.' }).waitFor();
    assert.deepEqual(page.bodies, [{ method: 'POST', path: '/login.cgi', body: 'login_pssw:wrong' }]);
    assert.equal(path(page), '/login.html?next=display.html');
    assert.equal(await page.evaluate(() => sessionStorage.getItem('ktr.login')), null);
    await page.close();
  });

  it('an empty password is not sent', async () => {
    const page = await stack.newPage();
    await page.goto('/login.html');
    await page.click('#login');
    assert.equal(await page.textContent('#password-error'), 'Enter the password.');
    assert.deepEqual(page.bodies, []);
    await page.close();
  });

  it('the right password opens the page that asked, logout closes the settings again', async () => {
    const page = await stack.newPage();
    await page.goto('/display.html');
    await page.waitForURL(/login\.html\?next=display\.html/);
    await page.fill('#password', 'pelko');
    await page.click('#login');
    await page.waitForURL(/\/display\.html$/);
    // The body is the login text exactly, no form encoding of ":".
    assert.deepEqual(page.bodies[0], { method: 'POST', path: '/login.cgi', body: 'login_pssw:pelko' });
    await page.locator('#f-tmpe').waitFor();

    await page.click('#logout');
    await page.waitForURL(/\/index\.html$/);
    assert.ok(page.bodies.some((b) => b.method === 'POST' && b.path === '/logout.cgi'));
    await page.goto('/time.html');
    await page.waitForURL(/login\.html\?next=time\.html/);
    await page.close();
  });

  it('opens only its own settings pages after a login', async () => {
    const page = await stack.newPage();
    await page.goto('/login.html?next=' + encodeURIComponent('http://example.invalid/'));
    await page.fill('#password', 'pelko');
    await page.click('#login');
    await page.waitForURL(/\/time\.html$/);
    await page.close();
  });
});
