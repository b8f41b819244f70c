// Every page in each language at phone width (390 px): every text comes
// from the language's table (no missing key, no English left in Slovak),
// nothing is wider than the screen or cut in a table, every table has its
// headers, number fields bring up the numeric keypad, the navigation shows
// that it scrolls, and each "?" opens a part of the help page that exists.
// The language follows the browser's, and the header's switch is kept.
'use strict';

const { describe, it, after } = require('node:test');
const assert = require('node:assert/strict');
const { KtrStack } = require('../support/ktr_stack');

const kFiles = ['index.html', 'login.html', 'time.html', 'display.html', 'counter.html', 'settings.html',
  'schedule.html', 'bus.html', 'help.html'];
const kViewport = { width: 390, height: 844 };
// Words that Slovak texts never hold; the device's own texts (firmware,
// keys in small type, log lines) are skipped.
const kEnglish = /\b(the|and|of|is|from|with|device|save|read|not|this|press|changes|value|settings|row)\b/i;

// What a page shows, gathered in the page.
function inspect() {
  const visible = (e) => e.offsetParent !== null || getComputedStyle(e).position === 'fixed';
  const texts = [];
  const walker = document.createTreeWalker(document.body, NodeFilter.SHOW_TEXT);
  for (let node = walker.nextNode(); node; node = walker.nextNode()) {
    const parent = node.parentElement;
    if (!parent || parent.closest('code, script, [translate="no"], #activity, td.from, td.to') || !visible(parent)) continue;
    if (/\p{L}/u.test(node.textContent)) texts.push(node.textContent.trim());
  }
  const tables = [...document.querySelectorAll('table')].filter(visible).map((table) => {
    const wrap = table.closest('.table-wrap');
    const firstRow = table.tBodies[0] && [...table.tBodies[0].rows].find((r) => r.cells.length > 1);
    return {
      id: table.id || table.className,
      headers: table.tHead ? table.tHead.rows[0].cells.length : 0,
      columns: firstRow ? [...firstRow.cells].reduce((n, c) => n + c.colSpan, 0) : 0,
      cut: wrap ? wrap.scrollWidth - wrap.clientWidth : 0,
    };
  });
  // A list of addresses ("2, 3, 7") needs its comma: it is no number field.
  const inputs = [...document.querySelectorAll('main input[type="text"]:not([data-kind="list"])')]
    .map((i) => ({ name: i.name || i.id, mode: i.inputMode }));
  const nav = document.querySelector('#top .nav');
  const box = document.querySelector('#top .nav-box');
  return {
    lang: document.documentElement.lang,
    missing: Ktr.i18n.missing.slice(),
    marked: texts.filter((t) => t.includes('⟦')),
    texts,
    overflow: document.documentElement.scrollWidth - window.innerWidth,
    tables,
    inputs,
    navScrolls: nav.scrollWidth > nav.clientWidth,
    navHint: box.classList.contains('more-left') || box.classList.contains('more-right'),
    help: [...document.querySelectorAll('a.help-link')].map((a) => new URL(a.href).hash.slice(1)),
  };
}

async function walk(stack, lang) {
  const helpParts = new Set();
  for (const file of kFiles) {
    const page = file === 'login.html' ? await stack.newPage({ viewport: kViewport })
      : await stack.loggedInPage({ viewport: kViewport });
    await page.goto('/' + file);
    await page.waitForLoadState('networkidle');
    if (file === 'bus.html') {
      // The preview of a file with a difference, its Result column included.
      const text = await page.evaluate(async () => {
        const read = await Ktr.configFile.read();
        read.doc.display.tmpe += 1;
        read.doc.schedule.mon.plan[12].len += 1;
        return Ktr.configFile.fileText(read.doc);
      });
      await page.setInputFiles('#load-config', { name: 'other.json', mimeType: 'application/json', buffer: Buffer.from(text) });
      await page.locator('#preview-rows tr').first().waitFor();
    }
    const seen = await page.evaluate(inspect);
    const where = lang + ' ' + file;
    assert.equal(seen.lang, lang, where);
    assert.deepEqual(seen.missing, [], where + ': keys missing from the table');
    assert.deepEqual(seen.marked, [], where);
    assert.ok(seen.overflow <= 0, where + ' is ' + seen.overflow + ' px too wide');
    for (const table of seen.tables) {
      assert.ok(table.headers > 0 && table.headers >= table.columns, where + ' ' + JSON.stringify(table));
      assert.ok(table.cut <= 0, where + ': a column is cut ' + JSON.stringify(table));
    }
    for (const input of seen.inputs) {
      if (file === 'login.html') continue;
      assert.ok(['numeric', 'decimal'].includes(input.mode), where + ' ' + JSON.stringify(input));
    }
    if (seen.navScrolls) assert.ok(seen.navHint, where + ': the navigation scrolls without showing it');
    if (lang !== 'en') {
      assert.deepEqual(seen.texts.filter((t) => kEnglish.test(t)), [], where + ': English left');
    }
    for (const part of seen.help) helpParts.add(part);
    assert.deepEqual(page.problems, [], where);
    await page.close();
  }
  // Every "?" opens a part of the help page that exists.
  const help = await stack.newPage();
  await help.goto('/help.html');
  const absent = await help.evaluate((parts) => parts.filter((id) => !document.getElementById(id)), [...helpParts]);
  assert.ok(helpParts.size >= 10, [...helpParts].join(' '));
  assert.deepEqual(absent, []);
  await help.close();
}

describe('languages', () => {
  let stack;
  after(async () => {
    if (stack) await stack.stop();
  });

  it('English: every page at 390 px from its table, nothing cut', async () => {
    stack = await new KtrStack().start('en-GB');
    await walk(stack, 'en');
  });

  it('Slovak from the browser\'s language: every page at 390 px, no English left; the switch is kept', async () => {
    await stack.context.close();
    await stack.startBrowser('sk-SK');
    await walk(stack, 'sk');

    const page = await stack.newPage();
    await page.goto('/index.html');
    assert.equal(await page.textContent('h1'), ' Prehľad');
    await Promise.all([page.waitForNavigation(), page.selectOption('#lang', 'en')]);
    assert.equal(await page.getAttribute('html', 'lang'), 'en');
    await page.goto('/help.html');
    assert.equal((await page.textContent('h1')).trim(), 'Help');
    await page.close();
  });
});
