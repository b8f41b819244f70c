// Login page: sends "login_pssw:" followed by the password to /login.cgi,
// which answers {"answer":"yes"} or {"answer":"no"}, and on "yes" opens the
// settings page that asked for the login (or the time page).
//
// The password goes out as it was typed, without any escaping: the
// configurator searches the raw body for the login text and does no
// percent-decoding. Its parameter text ends after 199 characters, so a
// longer password could never match and is refused here.
'use strict';

(function () {
  if (!Ktr.page.ready) return;
  const { notice } = Ktr.page;
  const t = Ktr.t;

  const kPrefix = 'login_pssw:';
  const kMaxPassword = 199 - kPrefix.length;

  const form = document.getElementById('login-form');
  const input = document.getElementById('password');
  const error = document.getElementById('password-error');
  const button = document.getElementById('login');

  const next = Ktr.page.settingsPage(new URLSearchParams(location.search).get('next') || '') || 'time.html';

  if (Ktr.page.loggedIn()) {
    notice('notice', 'info', t('login.already'), { label: t('login.open'), run: () => location.assign(next) });
  }

  function problem(password) {
    if (password === '') return t('login.empty');
    if (password.length > kMaxPassword) return t('login.long', { n: kMaxPassword });
    if (/[\u0000-\u001f\u007f]/.test(password)) return t('login.control');
    return '';
  }

  form.addEventListener('submit', async (event) => {
    event.preventDefault();
    const password = input.value;
    const bad = problem(password);
    error.textContent = bad;
    input.setAttribute('aria-invalid', bad ? 'true' : 'false');
    if (bad) {
      input.focus();
      return;
    }
    button.disabled = true;
    notice('notice', 'busy', t('login.checking'));
    const reply = await Ktr.api.postAnswer('/login.cgi', kPrefix + password, { noIsAnswer: true });
    button.disabled = false;
    if (!reply.ok) {
      notice('notice', 'error', reply.message, null, reply.detail);
      return;
    }
    if (reply.data.answer !== 'yes') {
      notice('notice', 'error', t('login.wrong'));
      input.select();
      input.focus();
      return;
    }
    Ktr.page.setLoggedIn(true);
    notice('notice', 'ok', t('login.done'));
    location.assign(next);
  });

  input.focus();
})();
