// The tables of texts of the pages (Web/lang/*.js) against each other and
// against the pages that use them, without a browser:
//   - every language has the same keys, with the same {placeholders} and,
//     for plural texts, the forms its plural rules need;
//   - every key that the HTML files and page scripts name is in the tables;
//   - the HTML files hold no text of their own outside the tables.
'use strict';

const { describe, it } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const vm = require('vm');

const web = process.env.WEB_ROOT || path.join(__dirname, '..', '..', '..', 'Web');
const kLanguages = ['en', 'sk'];

function load(lang) {
  const sandbox = { window: {} };
  vm.runInNewContext(fs.readFileSync(path.join(web, 'lang', lang + '.js'), 'utf8'), sandbox);
  return sandbox.window.KtrTexts[lang];
}
const tables = Object.fromEntries(kLanguages.map((lang) => [lang, load(lang)]));
const forms = (value) => (typeof value === 'object' ? Object.values(value) : [value]);
const placeholders = (value) => [...new Set(forms(value).join(' ').match(/\{\w+\}/g) || [])].sort();
const files = (dir, ext) => fs.readdirSync(path.join(web, dir)).filter((f) => f.endsWith(ext))
  .map((f) => [f, fs.readFileSync(path.join(web, dir, f), 'utf8')]);

describe('texts of the pages', () => {
  it('every language has every key, with the same placeholders and its plural forms', () => {
    const all = new Set(kLanguages.flatMap((lang) => Object.keys(tables[lang])));
    for (const lang of kLanguages) {
      const rules = new Intl.PluralRules(lang).resolvedOptions().pluralCategories.filter((c) => c !== 'many');
      const missing = [...all].filter((key) => !(key in tables[lang]));
      assert.deepEqual(missing, [], lang + ' lacks these keys');
      for (const key of all) {
        const value = tables[lang][key];
        assert.ok(typeof value === 'string' ? value.trim() !== '' : value && typeof value.other === 'string',
          lang + ' ' + key + ': no text');
        assert.deepEqual(placeholders(value), placeholders(tables.en[key]), lang + ' ' + key + ': placeholders');
        if (typeof value === 'object') {
          assert.deepEqual(rules.filter((c) => !(c in value)), [], lang + ' ' + key + ': plural forms');
        }
      }
    }
  });

  it('every key that a page names is in the tables', () => {
    const named = new Set();
    for (const [, html] of files('.', '.html')) {
      for (const m of html.matchAll(/data-t="([^"]+)"/g)) named.add(m[1]);
      for (const m of html.matchAll(/data-t-attr="([^"]+)"/g)) {
        for (const pair of m[1].split(';')) named.add(pair.split(':')[1]);
      }
    }
    for (const [, js] of files('js', '.js')) {
      for (const m of js.matchAll(/\bt\('([\w.-]+)'[,)]/g)) named.add(m[1]);
    }
    assert.ok(named.size > 100, 'found only ' + named.size + ' keys');
    assert.deepEqual([...named].filter((key) => !(key in tables.en)), []);
  });

  it('the HTML files hold no text of their own', () => {
    for (const [file, html] of files('.', '.html')) {
      const body = html.replace(/<(script|style|code|title)\b[\s\S]*?<\/\1>/g, '').replace(/<!--[\s\S]*?-->/g, '');
      const texts = [...body.matchAll(/>([^<]*)</g)].map((m) => m[1].trim()).filter((t) => /\p{L}/u.test(t));
      assert.deepEqual(texts, [], file);
      const attributes = [...body.matchAll(/\s(?:aria-label|title|placeholder|alt)="([^"]*\p{L}[^"]*)"/gu)].map((m) => m[1]);
      assert.deepEqual(attributes, [], file + ': attributes');
    }
  });
});
