#!/usr/bin/env node
// Screenshots of the pages for the README: Home, Time and the weekly
// schedule (Monday), taken from a real ktr-cli serve with ktr-sim, as
// docs/page-home.png, docs/page-time.png and docs/page-schedule.png; the
// schedule's "Copy this day to" dialog (docs/page-copy-day.png); and Home
// while the device is silent (ktr-sim --fault silent, docs/page-home-silent.png).
//
//   KTR_SIM=... KTR_CLI=... WEB_ROOT=... node tests/browser/tools/screenshots.js DOCS_DIR
// (scripts/page-screenshots sets all of this up.)
'use strict';

const path = require('path');
const { KtrStack } = require('../support/ktr_stack');

async function main() {
  const out = process.argv[2];
  if (!out) throw new Error('usage: screenshots.js DOCS_DIR');
  const stack = new KtrStack();
  try {
    await stack.start();
    const shots = [
      { file: 'page-home.png', url: '/index.html', ready: '#clock-time:not(:text("—"))' },
      { file: 'page-time.png', url: '/time.html', ready: '#f-date:not([value=""])' },
      { file: 'page-schedule.png', url: '/schedule.html#mon', ready: '#day-panel:not(.stale) #plan tr[data-idx="0"] input[name="time"]' },
    ];
    for (const shot of shots) {
      const page = await stack.loggedInPage({ viewport: { width: 1200, height: 860 } });
      await page.goto(shot.url);
      await page.waitForFunction(() => !document.querySelector('.notice.busy'));
      await page.waitForTimeout(300);
      await page.screenshot({ path: path.join(out, shot.file), fullPage: false });
      await page.close();
      console.log('wrote ' + path.join(out, shot.file));
    }

    const copy = await stack.loggedInPage({ viewport: { width: 1200, height: 860 } });
    await copy.goto('/schedule.html#mon');
    await copy.locator('#day-notice .notice.info').waitFor();
    await copy.click('#copy-day');
    await copy.click('#copy-weekdays');
    await copy.screenshot({ path: path.join(out, 'page-copy-day.png') });
    await copy.close();
    console.log('wrote ' + path.join(out, 'page-copy-day.png'));

    const home = await stack.newPage({ viewport: { width: 1200, height: 860 } });
    await home.goto('/index.html');
    await home.locator('#sensor1-value[data-text]').waitFor();
    await stack.stopSim();
    await stack.startSim(['--fault', 'silent']);
    await home.locator('#notice .notice.error').waitFor({ timeout: 30000 });
    await home.screenshot({ path: path.join(out, 'page-home-silent.png') });
    await home.close();
    console.log('wrote ' + path.join(out, 'page-home-silent.png'));
  } finally {
    await stack.stop();
  }
}

main().catch((error) => {
  console.error(error.stack || String(error));
  process.exit(1);
});
