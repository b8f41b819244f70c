// Texts of the pages in the reader's language.
//
// Each language has one table of texts in lang/<code>.js (KtrTexts.<code>),
// loaded before this file. The language is the one chosen with the switch
// in the header (kept in localStorage), else the first of the browser's
// languages that has a table, else English.
//
// Ktr.t(key, params) gives the text of a key with {name} replaced by
// params.name. A table value may be an object of plural forms ("one",
// "few", "many", "other", as Intl.PluralRules names them), chosen by
// params.n. A key missing from the table is shown as ⟦key⟧ and recorded in
// Ktr.i18n.missing, so that it cannot go unnoticed.
//
// Static texts of the HTML files are marked data-t="key" (the element's
// text) and data-t-attr="attribute:key;attribute:key" (attributes); the
// <title> takes data-t as well. They are filled in when this file runs,
// that is before the page's own scripts.
'use strict';

var Ktr = window.Ktr || {};
window.Ktr = Ktr;

Ktr.i18n = (function () {
  const kStoreKey = 'ktr.lang';
  const tables = window.KtrTexts || {};
  const languages = ['en', 'sk'].filter((code) => tables[code]);

  function stored() {
    try {
      return localStorage.getItem(kStoreKey) || '';
    } catch (error) {
      return '';
    }
  }

  function choose() {
    const chosen = stored();
    if (languages.includes(chosen)) return chosen;
    for (const tag of navigator.languages || [navigator.language || '']) {
      const code = String(tag).toLowerCase().split('-')[0];
      if (languages.includes(code)) return code;
    }
    return 'en';
  }

  const lang = choose();
  const table = tables[lang] || {};
  const plural = new Intl.PluralRules(lang);
  const missing = [];

  function t(key, params) {
    let text = table[key];
    if (text === undefined) {
      if (!missing.includes(key)) missing.push(key);
      return '⟦' + key + '⟧';
    }
    if (typeof text === 'object') {
      const n = params && typeof params.n === 'number' ? params.n : 0;
      text = text[plural.select(n)] || text.other;
    }
    if (!params) return text;
    return text.replace(/\{(\w+)\}/g, (whole, name) => (name in params ? String(params[name]) : whole));
  }

  // Whether a key has a text in this language (for optional texts such as
  // the help of a field).
  const has = (key) => Object.prototype.hasOwnProperty.call(table, key);

  function translate(root) {
    for (const node of root.querySelectorAll('[data-t]')) node.textContent = t(node.dataset.t);
    for (const node of root.querySelectorAll('[data-t-attr]')) {
      for (const pair of node.dataset.tAttr.split(';')) {
        const [name, key] = pair.split(':');
        if (name && key) node.setAttribute(name.trim(), t(key.trim()));
      }
    }
  }

  // The switch in the header: remembered for every page of this browser.
  function choosePersistent(code) {
    try {
      localStorage.setItem(kStoreKey, code);
    } catch (error) {
      // Storage switched off: the choice lasts for this page only.
    }
  }

  // Each language's name in its own language, for the switch.
  const names = { en: 'English', sk: 'Slovenčina' };

  document.documentElement.lang = lang;
  translate(document);

  return { lang, languages, names, t, has, translate, choose: choosePersistent, missing };
})();

Ktr.t = Ktr.i18n.t;
