// Shared frame of every page: the header with its navigation, the login
// gate of the settings pages, notices, the confirmation dialog and the
// list of the page's requests at the bottom, the language switch and the
// "?" links to the help page.
//
// The configurator keeps no login state of its own (its login endpoint only
// checks the password), so the pages remember a successful login for this
// browser tab in sessionStorage; closing the tab or "Log out" forgets it.
'use strict';

var Ktr = window.Ktr || {};
window.Ktr = Ktr;

Ktr.page = (function () {
  const kLoginKey = 'ktr.login';

  const t = Ktr.t;
  // Each page's name (the navigation, its heading and its window title
  // share it) is the text "page.<id>".
  const kPages = [
    { file: 'index.html', id: 'home', icon: 'home' },
    { file: 'time.html', id: 'time', icon: 'clock', login: true },
    { file: 'display.html', id: 'display', icon: 'display', login: true },
    { file: 'counter.html', id: 'counter', icon: 'counter', login: true },
    { file: 'settings.html', id: 'settings', icon: 'gear', login: true },
    { file: 'schedule.html', id: 'schedule', icon: 'calendar', login: true },
    { file: 'bus.html', id: 'bus', icon: 'bus', login: true },
    { file: 'help.html', id: 'help', icon: 'help' },
  ];
  for (const page of kPages) page.label = t('page.' + page.id);

  const svgNs = 'http://www.w3.org/2000/svg';

  function icon(name, className) {
    const svg = document.createElementNS(svgNs, 'svg');
    svg.setAttribute('class', 'icon' + (className ? ' ' + className : ''));
    svg.setAttribute('aria-hidden', 'true');
    const use = document.createElementNS(svgNs, 'use');
    use.setAttribute('href', 'images/icons.svg#' + name);
    svg.appendChild(use);
    return svg;
  }

  // Small element builder: el('p', { class: 'x', text: 'y' }, child, ...).
  function el(tag, props, ...children) {
    const node = document.createElement(tag);
    for (const [key, value] of Object.entries(props || {})) {
      if (value === undefined || value === null || value === false) continue;
      if (key === 'text') node.textContent = value;
      else if (key === 'class') node.className = value;
      else if (key.startsWith('on')) node.addEventListener(key.slice(2), value);
      else node.setAttribute(key, value === true ? '' : value);
    }
    for (const child of children) {
      if (child === null || child === undefined || child === false) continue;
      node.appendChild(typeof child === 'string' ? document.createTextNode(child) : child);
    }
    return node;
  }

  function loggedIn() {
    try {
      return sessionStorage.getItem(kLoginKey) === 'yes';
    } catch (error) {
      return false;
    }
  }

  function setLoggedIn(yes) {
    try {
      if (yes) sessionStorage.setItem(kLoginKey, 'yes');
      else sessionStorage.removeItem(kLoginKey);
    } catch (error) {
      // Storage switched off: the login lasts for this page only.
    }
  }

  // A page file named in ?next= that the login page may open: only our own
  // settings pages, never an address from outside.
  function settingsPage(file) {
    const page = kPages.find((p) => p.file === file && p.login);
    return page ? page.file : '';
  }

  async function logout() {
    if (!(await leaveAllowed())) return;
    leaving = true;
    const reply = await Ktr.api.postAnswer('/logout.cgi', '');
    setLoggedIn(false);
    // Nothing to undo on the configurator's side; a failed request only
    // means it did not hear about it.
    location.assign('index.html' + (reply.ok ? '' : '?logout=local'));
  }

  function buildHeader(current) {
    const header = document.getElementById('top');
    if (!header) return;
    const nav = el('nav', { class: 'nav', 'aria-label': t('frame.pages') });
    for (const page of kPages) {
      const link = el('a', { href: page.file, class: page.id === current ? 'active' : '' },
        icon(page.icon), el('span', { text: page.label }));
      if (page.id === current) link.setAttribute('aria-current', 'page');
      if (page.login && !loggedIn()) link.classList.add('locked');
      nav.appendChild(link);
    }
    const session = loggedIn()
      ? el('button', { type: 'button', class: 'session', id: 'logout', onclick: logout },
          icon('logout'), el('span', { text: t('frame.logout') }))
      : el('a', { href: 'login.html', class: 'session' + (current === 'login' ? ' active' : ''), id: 'login-link' },
          icon('key'), el('span', { text: t('frame.login') }));
    const navBox = el('div', { class: 'nav-box' }, nav);
    header.append(
      el('a', { href: 'index.html', class: 'brand' },
        el('img', { src: 'images/logo.svg', alt: '', width: '32', height: '32' }),
        el('span', {}, el('strong', { text: 'KTR' }), ' ' + t('frame.brand'))),
      navBox,
      languageSwitch(),
      session);
    // On a narrow screen the navigation scrolls sideways: an arrow at each
    // side that has more pages says so.
    const edges = () => {
      navBox.classList.toggle('more-left', nav.scrollLeft > 2);
      navBox.classList.toggle('more-right', nav.scrollLeft + nav.clientWidth < nav.scrollWidth - 2);
    };
    nav.addEventListener('scroll', edges, { passive: true });
    window.addEventListener('resize', edges);
    navBox.edges = edges;
  }

  // The language switch: remembered for the browser, applied by loading the
  // page again (after asking, when it has unsaved changes).
  function languageSwitch() {
    const select = el('select', { id: 'lang', class: 'lang', 'aria-label': t('frame.language') });
    for (const code of Ktr.i18n.languages) {
      select.appendChild(el('option', { value: code, text: Ktr.i18n.names[code] }));
    }
    select.value = Ktr.i18n.lang;
    select.addEventListener('change', async () => {
      const code = select.value;
      if (!(await leaveAllowed())) {
        select.value = Ktr.i18n.lang;
        return;
      }
      Ktr.i18n.choose(code);
      leaving = true;
      location.reload();
    });
    return select;
  }

  function buildActivity() {
    const footer = document.getElementById('activity');
    if (!footer) return;
    const count = el('span', { class: 'count', text: '0' });
    const body = el('tbody');
    const table = el('table', { class: 'activity-table' },
      el('thead', {}, el('tr', {}, el('th', { text: t('frame.activity.time') }),
        el('th', { text: t('frame.activity.request') }), el('th', { text: t('frame.activity.result') }))),
      body);
    footer.append(el('details', {},
      el('summary', {}, t('frame.activity') + ' ', count),
      el('div', { class: 'table-wrap' }, table)));
    Ktr.api.onActivity((entry, all) => {
      count.textContent = String(all.length);
      let row = entry.row;
      if (!row) {
        row = el('tr');
        entry.row = row;
        body.insertBefore(row, body.firstChild);
      }
      row.className = entry.ok ? 'ok' : 'failed';
      row.replaceChildren(
        el('td', { text: entry.time }),
        el('td', {}, el('code', { text: entry.method + ' ' + entry.path + (entry.body ? '  ' + entry.body : '') })),
        el('td', { text: entry.result }));
      while (body.rows.length > all.length) body.deleteRow(body.rows.length - 1);
    });
  }

  // A "?" that opens the help page at the part about a group.
  function helpLink(part, what) {
    return el('a', { href: 'help.html#' + part, class: 'help-link', title: t('frame.help', { what }),
      'aria-label': t('frame.help', { what }) }, '?');
  }

  // One notice in a container: kind 'error', 'ok', 'info' or 'busy'; action
  // is an optional { label, run } button, e.g. "Try again"; detail an
  // optional technical line in small type below the text (the failed block,
  // the reply).
  function notice(container, kind, text, action, detail) {
    if (typeof container === 'string') container = document.getElementById(container);
    if (!container) return;
    container.replaceChildren();
    if (!text) return;
    const names = { error: 'warning', ok: 'check', info: 'info', busy: 'refresh' };
    const box = el('div', { class: 'notice ' + kind, role: kind === 'error' ? 'alert' : 'status' },
      icon(names[kind] || 'info', kind === 'busy' ? 'spin' : ''),
      el('span', { class: 'text' }, text, detail ? el('small', { class: 'detail', text: detail }) : null));
    if (action) {
      box.appendChild(el('button', { type: 'button', class: 'link', onclick: action.run, text: action.label }));
    }
    container.appendChild(box);
  }

  // A confirmation in the page's own dialog; resolves true on confirm.
  function confirm(title, text, confirmLabel, danger) {
    return new Promise((resolve) => {
      const dialog = el('dialog', { class: 'confirm', 'aria-labelledby': 'confirm-title' });
      const finish = (answer) => {
        dialog.close();
        dialog.remove();
        resolve(answer);
      };
      dialog.append(
        el('h2', { id: 'confirm-title', text: title }),
        el('p', { text }),
        el('div', { class: 'buttons' },
          el('button', { type: 'button', class: 'secondary', id: 'confirm-cancel', text: t('common.cancel'),
            onclick: () => finish(false) }),
          el('button', { type: 'button', class: danger ? 'danger' : 'primary', id: 'confirm-ok',
            text: confirmLabel, onclick: () => finish(true) })));
      dialog.addEventListener('cancel', (event) => {
        event.preventDefault();
        finish(false);
      });
      document.body.appendChild(dialog);
      dialog.showModal();
      dialog.querySelector('#confirm-cancel').focus();
    });
  }

  // Unsaved changes: each form registers a test; leaving the page while one
  // says yes asks first, for the page's own links and buttons in a dialog and
  // for everything else (reload, typed address, closing) through the
  // browser's beforeunload prompt.
  const unsavedTests = [];
  let leaving = false;
  const hasUnsaved = () => unsavedTests.some((test) => test());

  function guardUnsaved(test) {
    unsavedTests.push(test);
  }

  async function leaveAllowed() {
    if (!hasUnsaved()) return true;
    return confirm(t('frame.unsaved.title'), t('frame.unsaved.text'), t('frame.unsaved.leave'), true);
  }

  window.addEventListener('beforeunload', (event) => {
    if (!leaving && hasUnsaved()) event.preventDefault();
  });

  document.addEventListener('click', async (event) => {
    const link = event.target.closest && event.target.closest('a[href]');
    if (!link || event.defaultPrevented || event.button !== 0 || event.ctrlKey || event.metaKey ||
        event.shiftKey || link.target === '_blank' || !hasUnsaved()) return;
    const url = new URL(link.href, location.href);
    if (url.pathname === location.pathname && url.hash) return;  // same page, another part
    event.preventDefault();
    if (!(await leaveAllowed())) return;
    leaving = true;
    location.assign(url.href);
  });

  function start() {
    const body = document.body;
    const current = body.dataset.page || '';
    if (body.dataset.login === 'required' && !loggedIn()) {
      location.replace('login.html?next=' + encodeURIComponent(current + '.html'));
      return false;
    }
    document.title = t('page.' + (current || 'home')) + ' · KTR ' + t('frame.brand');
    buildHeader(current);
    buildActivity();
    body.classList.add('ready');
    // On a narrow screen the navigation scrolls sideways: bring the current
    // page's item into view.
    const active = document.querySelector('#top .nav a.active');
    if (active) active.scrollIntoView({ block: 'nearest', inline: 'center' });
    const navBox = document.querySelector('#top .nav-box');
    if (navBox) navBox.edges();
    return true;
  }

  const ready = start();

  return {
    ready, icon, el, notice, confirm, helpLink, loggedIn, setLoggedIn, settingsPage, guardUnsaved, leaveAllowed, pages: kPages,
  };
})();
